// Light or dark look of the plugin's two dialogs. Light changes nothing; dark
// sets the window manager's dark title bar, the "DarkMode_Explorer" visual
// style, answers the control-colour and erase messages, and paints buttons,
// tabs, combo boxes and up-down controls itself through a subclass that is
// found through the window property "Kestrelink.ThemeProc". Terminal windows
// are never themed.
//
// The brushes and the optional system functions are made on first use and
// live until ReleaseTheme (library unload); everything runs on the host's
// user-interface thread.
#pragma once

#include <windows.h>

// Colours of the dark look (COLORREF, red in the low byte).
constexpr COLORREF kDarkDialogBack = 0x202020;
constexpr COLORREF kDarkControlBack = 0x303030;
constexpr COLORREF kDarkSelectedTab = 0x505050;
constexpr COLORREF kDarkAccent = 0xD77800;
constexpr COLORREF kDarkText = 0xE6E6E6;
constexpr COLORREF kDarkDisabledText = 0x999999;
constexpr COLORREF kDarkBorder = 0x707070;

// Window properties on every control of a themed dialog.
constexpr wchar_t kThemeProcProp[] = L"Kestrelink.ThemeProc";
constexpr wchar_t kDialogDarkProp[] = L"Kestrelink.DialogDark";

// Dark or light for a dialog owned by `owner` (the host window): high contrast
// is always light; then the "Theme" setting; "auto" follows the owner's title
// bar and, where that cannot be asked, the Windows app colour setting.
bool DecideDark(HWND owner);
// Applies the look to the dialog and every window inside it; call after the
// controls exist and after each new decision.
void ApplyTheme(HWND dialog, bool dark);
// Offered every message by the dialog and page procedures: true when the
// message was answered, with the value to return in `result`.
bool ThemeMessageHook(bool dark, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
// The window procedure subclassed controls get (set by ApplyTheme).
LRESULT CALLBACK ThemeSubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
// Releases the brushes and system libraries the look holds (library unload).
void ReleaseTheme();

// The optional system functions, looked up on first use; a null entry is a
// function this system lacks, and every step that needs it is skipped. Tests
// replace entries to play a window manager that answers (or refuses) them.
struct TThemeApi {
    HRESULT(WINAPI* DwmGetWindowAttribute)(HWND, DWORD, void*, DWORD) = nullptr;
    HRESULT(WINAPI* DwmSetWindowAttribute)(HWND, DWORD, const void*, DWORD) = nullptr;
    HRESULT(WINAPI* SetWindowTheme)(HWND, const wchar_t*, const wchar_t*) = nullptr;
    // The high-contrast question goes through here too, so that it can be played.
    BOOL(WINAPI* SystemParametersInfoW)(UINT, UINT, void*, UINT) = nullptr;
};
TThemeApi& ThemeApi();
