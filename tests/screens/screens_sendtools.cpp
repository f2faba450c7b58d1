// Pictures of the send side for `make screens`: the send row in hex mode,
// and the output's context menu with its Send submenu open over the window
// (stored commands with their Alt keys, Send break). The screens script runs
// this at 96 and at 144 DPI.
#include <windows.h>

#include <string>

#include "gui.h"
#include "term_fixture.h"

using namespace kltest;

namespace {

// Menu tracking runs its own loop; the picture is taken from a timer inside
// it once the Send item is highlighted and its submenu has opened.
HMENU gMenu = nullptr;
int gSendItem = -1;
int gTicks = 0;
bool gSaved = false;
HWND gWindow = nullptr;

RECT Union(RECT a, const RECT& b) {
    UnionRect(&a, &a, &b);
    return a;
}

BOOL CALLBACK AddMenuWindow(HWND w, LPARAM out) {
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    if (IsWindowVisible(w) && std::wstring(cls) == L"#32768") {
        RECT r;
        GetWindowRect(w, &r);
        auto* all = reinterpret_cast<RECT*>(out);
        *all = Union(*all, r);
    }
    return TRUE;
}

void CALLBACK MenuTick(HWND, UINT, UINT_PTR, DWORD) {
    HWND menuWnd = FindWindowW(L"#32768", nullptr);
    if (++gTicks > 60 || !menuWnd) {
        EndMenu();
        return;
    }
    const bool onSend = GetMenuState(gMenu, UINT(gSendItem), MF_BYPOSITION) & MF_HILITE;
    if (!onSend) {
        PostMessageW(menuWnd, WM_KEYDOWN, VK_DOWN, 0);
        return;
    }
    if (gTicks < 50 && !gSaved) {
        // Open the submenu, then give it a few ticks to paint.
        PostMessageW(menuWnd, WM_KEYDOWN, VK_RIGHT, 0);
        gTicks = 50;
        return;
    }
    if (gTicks >= 53 && !gSaved) {
        RECT all;
        GetWindowRect(gWindow, &all);
        EnumWindows(AddMenuWindow, LPARAM(&all));
        gSaved = SaveScreenImage(all, "termwnd_send_menu");
        EndMenu();
    }
}

}  // namespace

int main() {
    TTermFixture f(Scaled(720), Scaled(420));
    TSessionSettings s = DefaultSessionSettings();
    s.SendMode = 2;  // hex
    s.Commands[0] = {u"reboot", 0, 0};
    s.Commands[1] = {u"1b 5b 41", 2, 0};
    s.Commands[2] = {u"status\\r", 1, 1000};
    s.Commands[4] = {u"log 20", 0, 0};
    f.Show(1, u"Lab bench", s);
    f.Feed("> status\r\nuptime 3d 04:12, load 0.12, temp 41.5 C\r\n> ");
    SetWindowTextW(f.Control(kIdEdit), L"02 10 00 7f a5");
    f.Term().SetStatus(u"TCP Lab bench (10.0.0.7:23) - connected");
    SaveWindowImage(f.Lister(), "termwnd_send_hex");

    gWindow = f.Lister();
    gMenu = f.Term().BuildContextMenu();
    for (int i = 0, n = GetMenuItemCount(gMenu); i < n; ++i)
        if (GetSubMenu(gMenu, i)) gSendItem = i;
    RECT out;
    GetWindowRect(f.Output(), &out);
    const UINT_PTR timer = SetTimer(nullptr, 0, 100, MenuTick);
    TrackPopupMenu(gMenu, TPM_RETURNCMD, out.left + Scaled(40), out.top + Scaled(30), 0, f.Output(),
                   nullptr);
    KillTimer(nullptr, timer);
    DestroyMenu(gMenu);
    return ScreensRequested() && !gSaved ? 1 : 0;
}
