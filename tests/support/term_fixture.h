// A terminal window embedded in a stand-in lister window, with a settings
// file of its own, for the window tests and the screens program; plus the
// keyboard, clipboard and pixel helpers they share.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "termwnd/uListerGlue.h"
#include "termwnd/uTermWndTesting.h"
#include "wintest.h"

namespace kltest {

class TTermFixture {
public:
    // `ini` is the settings file's content before the window opens.
    explicit TTermFixture(int width = 1000, int height = 640, const std::string& ini = "");
    ~TTermFixture();

    TTermWindow& Term() { return *term_; }
    HWND Main() const { return term_->MainWindow(); }
    HWND Output() const { return term_->OutputWindow(); }
    HWND Control(int id) const { return term_->Control(id); }
    // The top-level window standing in for the file manager's lister window.
    HWND Lister() const { return lister_; }
    const std::wstring& Ini() const { return ini_; }
    // Key-down and key-up messages that reached the lister window.
    std::vector<MSG> ListerKeys;

    // Bytes straight into the model, shown as a received read would be.
    void Feed(std::string_view bytes);
    // The lister (and with it the terminal) resized to this client size.
    void Resize(int width, int height);
    // A port (kind 0) or connection (kind 1) shown with these settings.
    void Show(int kind, const std::u16string& target, const TSessionSettings& s);
    // A drop-down entry chosen, or a button clicked, the way the user does.
    void Choose(int id, int index);
    void Click(int id);
    // Arrival times fixed at 12:34:56.789.
    void UseFixedClock();

private:
    static LRESULT CALLBACK ListerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    TTempDir dir_;
    std::wstring ini_;
    HWND lister_ = nullptr;
    TTermWindow* term_ = nullptr;
};

// Ctrl held or released for this thread's key-state queries.
void SetCtrlDown(bool down);
void SetShiftDown(bool down);
// Posts a key's down and up to a window and pumps (the pump translates the
// key-down into its character, as a message loop does).
void TypeKey(HWND target, WPARAM vk);
std::wstring ClipboardText();

// The view painted off-screen, read pixel by pixel.
class TViewPicture {
public:
    explicit TViewPicture(TTermWindow& term);
    ~TViewPicture();
    COLORREF At(int x, int y) const { return GetPixel(dc_, x, y); }
    int Width() const { return rc_.right; }

private:
    RECT rc_ = {};
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
};

}  // namespace kltest
