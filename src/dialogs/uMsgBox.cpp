#include "dialogs/uMsgBox.h"

#include "base/uWin.h"

namespace {

// Not translated: the caption names the product in every language.
constexpr wchar_t kCaption[] = L"Kestrelink";

int Show(HWND owner, const std::u16string& text, UINT flags) {
    return MessageBoxW(owner, W(text), kCaption, flags);
}

}  // namespace

void ShowWarning(HWND owner, const std::u16string& text) { Show(owner, text, MB_ICONWARNING); }
void ShowError(HWND owner, const std::u16string& text) { Show(owner, text, MB_ICONERROR); }
bool AskYesNo(HWND owner, const std::u16string& text) {
    return Show(owner, text, MB_ICONQUESTION | MB_YESNO) == IDYES;
}
bool AskWarning(HWND owner, const std::u16string& text) {
    return Show(owner, text, MB_ICONWARNING | MB_YESNO) == IDYES;
}
