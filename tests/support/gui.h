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
// The same for a rectangle of the screen (a window with its open menus).
bool SaveScreenImage(const RECT& r, const std::string& name);
bool ScreensRequested();
// n pixels at 96 DPI, at the screen's DPI (pictures sized like the user's).
int Scaled(int n);

// Pixels of the colour in the window (frame included) as it is drawn.
int CountPixels(HWND hwnd, COLORREF color);

}  // namespace kltest
