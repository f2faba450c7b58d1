// The plugin's only way of telling the user something in a box: a standard
// message box owned by the dialog that asks, captioned "Kestrelink" in every
// language. Success is never reported this way (status labels do that).
#pragma once

#include <windows.h>

#include <string>

// Warning (icon 0x30, OK): an input that fails validation, and every message
// of the properties dialog.
void ShowWarning(HWND owner, const std::u16string& text);
// Error (icon 0x10, OK): a settings write that failed in the connection manager.
void ShowError(HWND owner, const std::u16string& text);
// Question (Yes/No): true only for IDYES; No or closing the box is false.
bool AskYesNo(HWND owner, const std::u16string& text);
// The same question with the warning icon: Yes replaces something saved.
bool AskWarning(HWND owner, const std::u16string& text);
