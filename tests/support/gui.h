// Driving windows from tests: find children by ID or class, read and set
// their text, pump this thread's messages with a deadline, and save a window's
// picture for `make screens`.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace kltest {

std::wstring TextOf(HWND hwnd);
std::wstring ClassOf(HWND hwnd);
// Child (at any depth) with this control ID, or nullptr.
HWND FindById(HWND parent, int id);
// First child (at any depth) of this class, or nullptr.
HWND FindByClass(HWND parent, const wchar_t* className);
// A child's rectangle in its parent's client coordinates.
RECT ChildRect(HWND child);

// Pumps this thread's messages until done() holds or timeoutMs pass;
// returns done()'s last answer.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
void PumpFor(DWORD ms);

// A top-level window of the class (any thread, any title), waiting up to
// timeoutMs for it to appear.
HWND WaitForTopLevel(const wchar_t* className, DWORD timeoutMs);

// Reads one key of an INI file as stored (the profile functions, no cache).
std::wstring IniValue(const std::wstring& file, const wchar_t* section, const wchar_t* key);

// With KL_SCREENS_DIR set (make screens), saves the window as it shows on the
// screen into <dir>/<name>_<KL_SCREENS_TAG>.bmp; the screens script turns the
// pictures into PNG. Without it nothing happens. Returns whether it saved.
bool SaveWindowImage(HWND hwnd, const std::string& name);
bool ScreensRequested();

// Wine without a window manager makes every top-level window that is hidden
// or destroyed wait two seconds for a window manager's answer. Called before
// the program's first window, this asks Wine (through its per-program
// setting in the prefix) to leave this program's windows unmanaged, which
// also has Wine draw their frames. Does nothing outside Wine.
bool UseUnmanagedWineWindows();

// Live GDI objects of this process: GetGuiResources where the system counts
// them, else the GDI handle table the system maps into every process (Wine
// keeps the table but does not count). -1 when neither is available.
int GdiObjectCount();
// Windows of this thread: top-level ones and all their descendants.
int ThreadWindowCount();

// Pixels of the colour in the window (frame included) as it is drawn.
int CountPixels(HWND hwnd, COLORREF color);

// A visible top-level window on this thread that plays the host's main window.
struct THostWindow {
    HWND Hwnd = CreateWindowExW(0, L"STATIC", L"Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100,
                                800, 600, nullptr, nullptr, nullptr, nullptr);
    ~THostWindow() {
        if (IsWindow(Hwnd)) DestroyWindow(Hwnd);
    }
    HWND Handle() const { return Hwnd; }
};

}  // namespace kltest
