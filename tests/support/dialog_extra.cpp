#include "dialog_extra.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include "dialog_driver.h"
#include "gui.h"

namespace kltest {

namespace {

BOOL CALLBACK CloseBox(HWND hwnd, LPARAM) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == GetCurrentProcessId() && ClassOf(hwnd) == L"#32770")
        PostMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

BOOL CALLBACK CountWindow(HWND, LPARAM lp) {
    ++*reinterpret_cast<int*>(lp);
    return TRUE;
}

BOOL CALLBACK CountWindowTree(HWND hwnd, LPARAM lp) {
    EnumChildWindows(hwnd, CountWindow, lp);  // every descendant, once
    return CountWindow(hwnd, lp);
}

}  // namespace

THostWindow::THostWindow() {
    hwnd_ = CreateWindowExW(0, L"STATIC", L"Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 900,
                            700, nullptr, nullptr, nullptr, nullptr);
}

THostWindow::~THostWindow() {
    if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
}

void DriveModal(const wchar_t* cls, const std::function<void()>& open,
                const std::function<void(HWND)>& script) {
    TDialogScript driver([&] {
        HWND dialog = WaitForWindow(cls, 10000);
        if (!dialog) return ADD_FAILURE() << "the dialog did not open";
        script(dialog);
        for (int round = 0; round < 5 && WaitForWindow(L"#32770", 100); ++round)
            EnumWindows(CloseBox, 0);
        PostMessageW(dialog, WM_CLOSE, 0, 0);
    });
    open();
}

std::wstring ClickForBox(HWND button, int answer) {
    Click(button);
    TMessageBoxSeen seen;
    if (!AnswerMessageBox(seen, answer)) return L"(no message box)";
    EXPECT_EQ(seen.Caption, L"Kestrelink");
    // What the answer lets the dialog do (write, refill) happens on its own
    // thread: a message sent there returns only once that is done.
    SendMessageW(GetAncestor(button, GA_ROOT), WM_NULL, 0, 0);
    return seen.Text;
}

bool NoBoxFollows() { return !WaitForWindow(L"#32770", 300); }

void Press(HWND button) { SendMessageW(button, BM_CLICK, 0, 0); }

void SelectTab(HWND tabs, int index) {
    SendMessageW(tabs, TCM_SETCURSEL, WPARAM(index), 0);
    NMHDR n = {tabs, UINT_PTR(GetDlgCtrlID(tabs)), UINT(TCN_SELCHANGE)};
    SendMessageW(GetParent(tabs), WM_NOTIFY, n.idFrom, reinterpret_cast<LPARAM>(&n));
}

void SelectListItem(HWND list, int index) {
    SendMessageW(list, LB_SETCURSEL, WPARAM(index), 0);
    SendMessageW(GetParent(list), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
}

std::vector<std::wstring> ItemsOf(HWND control) {
    const bool combo = ClassOf(control) == L"ComboBox";
    std::vector<std::wstring> items(
        size_t(SendMessageW(control, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0)));
    for (size_t i = 0; i < items.size(); ++i) {
        items[i].resize(
            size_t(SendMessageW(control, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, i, 0)) + 1);
        items[i].resize(size_t(SendMessageW(control, combo ? CB_GETLBTEXT : LB_GETTEXT, i,
                                            reinterpret_cast<LPARAM>(items[i].data()))));
    }
    return items;
}

int FreeGdiSlots() {
    std::vector<HBRUSH> brushes;
    while (HBRUSH b = CreateSolidBrush(0)) brushes.push_back(b);
    for (HBRUSH b : brushes) DeleteObject(b);
    return int(brushes.size());
}

int ThreadWindowCount(DWORD threadId) {
    int n = 0;
    EnumThreadWindows(threadId, CountWindowTree, reinterpret_cast<LPARAM>(&n));
    return n;
}

}  // namespace kltest
