// Placeholder until the dark look lands: every dialog is light.
#include "dialogs/uTheme.h"

bool DecideDark(HWND) { return false; }
void ApplyTheme(HWND, bool) {}
bool ThemeMessageHook(bool, HWND, UINT, WPARAM, LPARAM, LRESULT&) { return false; }
void ReleaseTheme() {}
