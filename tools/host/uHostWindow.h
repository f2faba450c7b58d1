// The host's windows: the main window with the virtual folder in a list view
// (the plugin's icons, keys as in the file manager), the Quick View pane
// beside the list, and the lister windows of class "TLister" that F3 opens.
//
//   Enter        FsExecuteFileW "open"        Alt+Enter  "properties"
//   F3           FsGetFileW, then ListLoadW in a new "TLister" window
//   Ctrl+Q       Quick View pane on and off (also when the plugin forwards it)
//   Del          FsDeleteFileW after a confirmation
//   F5           re-read the folder, as the plugin's refresh request does
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "uHostApi.h"
#include "uHostPlugin.h"

namespace host {

inline constexpr wchar_t kMainClass[] = L"KestrelinkHost";
inline constexpr wchar_t kPaneClass[] = L"KestrelinkHostQuickView";

// Child IDs of the main window.
constexpr int kIdList = 100;
constexpr int kIdStatusBar = 101;
constexpr int kIdPane = 102;

// Commands of the keys above (accelerators of the list view).
enum : WORD {
    kCmdOpen = 200,
    kCmdProperties,
    kCmdView,
    kCmdQuickView,
    kCmdDelete,
    kCmdRefresh,
};

// One lister: the frame (a "TLister" window, or the Quick View pane), the
// window the plugin put into it, and the descriptor file it was given.
struct TView {
    std::wstring Entry;
    HWND Frame = nullptr;
    HWND Plugin = nullptr;
    std::wstring File;
};

class THostWindow {
public:
    explicit THostWindow(TLoadedPlugin& plugin);
    ~THostWindow();
    THostWindow(const THostWindow&) = delete;
    THostWindow& operator=(const THostWindow&) = delete;

    bool Create(int show);
    HWND Handle() const { return hwnd_; }
    // The accelerators, applied to messages for the list view only: in the
    // plugin's windows Enter and Del belong to the terminal.
    bool TranslateKeys(MSG& msg);

    void ReadFolder();
    const std::vector<TEntry>& Entries() const { return entries_; }
    int RefreshRequests() const { return refreshes_; }

    // The commands behind the keys, for an entry given by name; each reports
    // its outcome in the status bar, and returns it for scripts.
    int Execute(const std::wstring& entry, const std::wstring& verb);
    const TView* OpenLister(const std::wstring& entry, std::wstring& error);
    const TView* OpenQuickView(const std::wstring& entry, std::wstring& error);
    void CloseQuickView();
    bool DeleteEntry(const std::wstring& entry, bool confirm);

    const TView* QuickView() const { return quick_.get(); }
    std::vector<const TView*> Listers() const;
    std::wstring StatusText() const;

private:
    static LRESULT CALLBACK MainProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK PaneProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK ListerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static bool RegisterClasses();

    // main window
    void OnCreate();
    void OnSize();
    void OnCommand(WORD id);
    LRESULT OnNotify(const NMHDR& nm);
    void OnRefreshRequest(WPARAM command);
    void OnClose();
    // Quick View pane and lister frames
    void OnPaneKey(WPARAM key);
    void OnPanePaint(HWND pane);
    void OnListerClose(HWND frame);
    TView* ListerOf(HWND frame);

    std::wstring SelectedEntry() const;
    void SelectEntry(const std::wstring& name);
    void FillIcons();
    void SetStatus(const std::wstring& text);
    int Scaled(int value) const;
    // FsGetFileW to a fresh file, the detect string, ListLoadW into `frame`.
    bool LoadInto(TView& view, std::wstring& error);
    void Unload(TView& view);
    std::wstring ViewFileFor(const std::wstring& entry);

    TLoadedPlugin& plugin_;
    HWND hwnd_ = nullptr, list_ = nullptr, status_ = nullptr, pane_ = nullptr;
    HIMAGELIST icons_ = nullptr;
    HACCEL keys_ = nullptr;
    std::vector<TEntry> entries_;
    std::unique_ptr<TView> quick_;
    std::wstring paneMessage_;
    std::vector<std::unique_ptr<TView>> listers_;
    std::wstring tempDir_;
    int refreshes_ = 0;
    int fileCounter_ = 0;
};

}  // namespace host
