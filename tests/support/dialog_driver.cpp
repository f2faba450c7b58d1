#include "dialog_driver.h"

#include "gui.h"

namespace kltest {

TDialogScript::TDialogScript(std::function<void()> body) : thread_(std::move(body)) {}

TDialogScript::~TDialogScript() {
    if (thread_.joinable()) thread_.join();
}

namespace {

struct TTopFind {
    const wchar_t* cls;
    HWND owner;
    HWND found = nullptr;
};

BOOL CALLBACK FindTop(HWND hwnd, LPARAM lp) {
    auto* f = reinterpret_cast<TTopFind*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(hwnd)) return TRUE;
    if (ClassOf(hwnd) != f->cls) return TRUE;
    if (f->owner && GetWindow(hwnd, GW_OWNER) != f->owner) return TRUE;
    f->found = hwnd;
    return FALSE;
}

}  // namespace

HWND WaitForWindow(const wchar_t* className, DWORD timeoutMs, HWND owner) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        TTopFind f{className, owner};
        EnumWindows(FindTop, reinterpret_cast<LPARAM>(&f));
        if (f.found || GetTickCount64() >= end) return f.found;
        Sleep(10);
    }
}

bool AnswerMessageBox(TMessageBoxSeen& seen, int button, DWORD timeoutMs) {
    seen = TMessageBoxSeen{};
    HWND box = WaitForWindow(L"#32770", timeoutMs);
    if (!box) return false;
    seen.Box = box;
    seen.Owner = GetWindow(box, GW_OWNER);
    seen.Caption = TextOf(box);
    // The message text is the static with ID 0xFFFF in the standard box.
    if (HWND text = GetDlgItem(box, 0xFFFF)) seen.Text = TextOf(text);
    seen.HasYes = GetDlgItem(box, IDYES) != nullptr;
    seen.HasNo = GetDlgItem(box, IDNO) != nullptr;
    // The standard box shows its icon in a static with ID 20 (0x440 in Wine's).
    for (int id : {20, 0x440})
        if (HWND icon = GetDlgItem(box, id); icon && !seen.Icon)
            seen.Icon = reinterpret_cast<HICON>(SendMessageW(icon, STM_GETICON, 0, 0));
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (IsWindow(box) && GetTickCount64() < end) Sleep(5);
    return !IsWindow(box);
}

void SetTextOf(HWND hwnd, const std::wstring& text) {
    SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

void SelectIndex(HWND combo, int index) {
    SendMessageW(combo, CB_SETCURSEL, WPARAM(index), 0);
    SendMessageW(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
}

HWND FocusOf(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus
                                                                              : nullptr;
}

void PressKey(HWND window, UINT vk) {
    HWND target = FocusOf(window);
    if (!target) target = window;
    PostMessageW(target, WM_KEYDOWN, vk, 1);
    PostMessageW(target, WM_KEYUP, vk, LPARAM(0xC0000001));
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!done()) {
        if (GetTickCount64() >= end) return done();
        Sleep(5);
    }
    return true;
}

}  // namespace kltest
