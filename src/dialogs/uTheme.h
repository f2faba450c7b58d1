// Light or dark look of the plugin's two dialogs. Light changes nothing; dark
// sets the window manager's dark title bar, the "DarkMode_Explorer" visual
// style, answers the control-colour and erase messages, and paints buttons,
// tabs, combo boxes and up-down controls itself through a subclass that is
// found through the window property "Kestrelink.ThemeProc". Terminal windows
// are never themed.
#pragma once

#include <windows.h>

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
// Releases the brushes and system libraries the look holds (library unload).
void ReleaseTheme();
