// More for driving the plugin's dialogs from tests: a stand-in host window,
// a modal call driven from a script thread that always ends, tab and list
// selection across threads, and leak counts that work under Wine (where
// GetGuiResources reports 0).
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace kltest {

// A visible top-level window on this thread standing in for the host's main
// window; DefWindowProc destroys it on WM_CLOSE.
class THostWindow {
public:
    THostWindow();
    ~THostWindow();
    THostWindow(const THostWindow&) = delete;
    THostWindow& operator=(const THostWindow&) = delete;
    HWND Handle() const { return hwnd_; }

private:
    HWND hwnd_ = nullptr;
};

// Runs `open` (a modal call) on this thread while `script` drives the window
// of class `cls` from a second thread. However the script ends, message boxes
// still up are closed and the window gets WM_CLOSE, so the call always returns.
void DriveModal(const wchar_t* cls, const std::function<void()>& open,
                const std::function<void(HWND)>& script);

// Clicks, then answers the message box that must follow (expecting the
// plugin's caption) and waits until the dialog has acted on the answer; the
// box's text, or "(no message box)".
std::wstring ClickForBox(HWND button, int answer = IDOK);
bool NoBoxFollows();
// Clicks and returns once the click was handled (no message box may follow).
void Press(HWND button);
// The user's choice of a tab or list item: the control changes, its parent hears.
void SelectTab(HWND tabs, int index);
void SelectListItem(HWND list, int index);
// The items of a combo box or list box.
std::vector<std::wstring> ItemsOf(HWND control);

// GDI handles this process could still create (filled with brushes until the
// system refuses, then released), and the windows of a thread, children too.
int FreeGdiSlots();
int ThreadWindowCount(DWORD threadId);

}  // namespace kltest
