// The dark look: the decision's rules (window manager and high contrast played
// through the theme's function table, the app colour through the registry),
// the subclass and property life cycle, and what the painter draws.
#include <windows.h>

#include <string>

#include "base/uWin.h"
#include "dialog_extra.h"
#include "dialogs/uTheme.h"
#include "gui.h"
#include "settings/uSettings.h"
#include "wintest.h"

using namespace kltest;

// Before any window: without a window manager, Wine makes each closed window wait.

namespace {

constexpr wchar_t kKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr wchar_t kValue[] = L"AppsUseLightTheme";
HRESULT g_attr20 = E_FAIL, g_attr19 = E_FAIL;  // the played window manager's answers
BOOL g_titleDark = FALSE;
HWND g_asked = nullptr;

HRESULT WINAPI FakeDwmGet(HWND hwnd, DWORD attribute, void* value, DWORD) {
    g_asked = hwnd;
    const HRESULT hr = attribute == 20 ? g_attr20 : g_attr19;
    if (SUCCEEDED(hr)) *static_cast<BOOL*>(value) = g_titleDark;
    return hr;
}
BOOL WINAPI FakeHighContrast(UINT, UINT, void* value, UINT) {
    static_cast<HIGHCONTRASTW*>(value)->dwFlags = HCF_HIGHCONTRASTON;
    return TRUE;
}

COLORREF BrushColor(LRESULT brush) {
    LOGBRUSH lb = {};
    GetObjectW(reinterpret_cast<HBRUSH>(brush), sizeof lb, &lb);
    return lb.lbColor;
}

}  // namespace

TEST(Theme, DecisionFollowsContrastThenSettingThenTitleBarThenAppColour) {
    TTempDir dir;
    const std::wstring ini = dir.File(L"kestrelink.ini");
    SetSettingsPath(U(ini.c_str()));
    DWORD saved = 0, size = sizeof saved;  // the user's value, put back at the end
    const bool had =
        !RegGetValueW(HKEY_CURRENT_USER, kKey, kValue, RRF_RT_REG_DWORD, nullptr, &saved, &size);
    auto apps = [](DWORD type, DWORD v) {
        RegSetKeyValueW(HKEY_CURRENT_USER, kKey, kValue, type, &v, sizeof v);
    };
    TThemeApi& api = ThemeApi();
    const TThemeApi real = api;
    EXPECT_NE(real.SetWindowTheme, nullptr) << "found in the system folder";
    THostWindow host;
    HWND owned = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 9, 9, host.Handle(), nullptr,
                                 nullptr, nullptr);
    apps(REG_DWORD, 0);
    WriteFileBytes(ini, "[Plugin]\r\nTheme=light");
    EXPECT_FALSE(DecideDark(owned));
    WriteFileBytes(ini, "[Plugin]\r\nTheme=dark");
    EXPECT_TRUE(DecideDark(owned));
    api.SystemParametersInfoW = FakeHighContrast;
    EXPECT_FALSE(DecideDark(owned)) << "high contrast is always light";
    api = real;
    api.DwmGetWindowAttribute = nullptr;  // nothing to ask: the app colour decides
    WriteFileBytes(ini, "[Plugin]\r\nTheme=auto");
    EXPECT_TRUE(DecideDark(owned));
    apps(REG_BINARY, 0);
    EXPECT_FALSE(DecideDark(owned)) << "only a REG_DWORD 0 means dark";
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, kValue);
    EXPECT_FALSE(DecideDark(owned));
    api.DwmGetWindowAttribute = FakeDwmGet;
    apps(REG_DWORD, 1);
    g_attr20 = S_OK, g_titleDark = TRUE;
    EXPECT_TRUE(DecideDark(owned)) << "a dark host title bar beats light apps";
    EXPECT_EQ(g_asked, host.Handle());
    apps(REG_DWORD, 0);
    g_attr20 = E_FAIL, g_attr19 = S_OK, g_titleDark = FALSE;
    EXPECT_FALSE(DecideDark(owned)) << "the older attribute number answers";
    g_attr19 = E_FAIL;
    EXPECT_TRUE(DecideDark(owned)) << "neither number: the app colour";
    api = real;
    DestroyWindow(owned);
    if (had) apps(REG_DWORD, saved);
    if (!had) RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, kValue);
}

TEST(Theme, DarkPaintsAndLightRestoresWithTheSubclassKeptUntilRelease) {
    // Topmost: other test programs share the screen.
    HWND top = CreateWindowExW(WS_EX_TOPMOST, L"Static", L"", WS_POPUP | WS_VISIBLE, 840, 480, 400,
                               220, nullptr, nullptr, nullptr, nullptr);
    auto make = [&](const wchar_t* cls, DWORD style, DWORD ex, int x, int y, int w, int h) {
        return CreateWindowExW(ex, cls, L"Text", WS_CHILD | WS_VISIBLE | style, x, y, w, h, top,
                               nullptr, nullptr, nullptr);
    };
    HWND group = make(L"Button", BS_GROUPBOX, 0, 10, 10, 200, 80);
    HWND ticked = make(L"Button", BS_AUTOCHECKBOX, 0, 20, 30, 150, 20);
    HWND greyed = make(L"Button", BS_AUTOCHECKBOX | WS_DISABLED, 0, 20, 55, 150, 20);
    HWND edit = make(L"Edit", 0, WS_EX_CLIENTEDGE, 10, 110, 150, 22);
    HWND label = make(L"Static", 0, 0, 180, 110, 80, 16);
    HWND list = make(L"ListBox", WS_VSCROLL, WS_EX_CLIENTEDGE, 10, 140, 150, 60);
    SendMessageW(ticked, BM_SETCHECK, BST_CHECKED, 0);
    for (int i = 0; i < 30; ++i) SendMessageW(list, LB_ADDSTRING, 0, LPARAM(L"item"));

    ApplyTheme(top, true);
    PumpFor(300);
    for (HWND h : {group, ticked, greyed, edit, label, list}) {
        EXPECT_NE(GetPropW(h, kDialogDarkProp), nullptr) << ClassOf(h);
        EXPECT_EQ(GetWindowLongPtrW(h, GWLP_WNDPROC) == LONG_PTR(&ThemeSubclassProc), h != label);
    }
    const int tick = CountPixels(ticked, kDarkText);
    EXPECT_GT(tick, 8) << "tick and text";
    EXPECT_GT(CountPixels(greyed, kDarkDisabledText), 5);
    EXPECT_EQ(CountPixels(greyed, kDarkText), 0);
    EXPECT_GT(CountPixels(edit, kDarkBorder), 100) << "client edge";
    EXPECT_GT(CountPixels(list, GetSysColor(COLOR_BTNFACE)), 40) << "scroll bar drawn";
    RedrawWindow(group, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    PumpFor(100);
    EXPECT_EQ(CountPixels(ticked, kDarkText), tick) << "a group box repainted alone";
    // What a control's own child (the list of a combo box) asks the control.
    HDC dc = GetDC(top);
    LRESULT r = SendMessageW(edit, WM_CTLCOLORLISTBOX, WPARAM(dc), LPARAM(greyed));
    EXPECT_EQ(BrushColor(r), kDarkControlBack);
    EXPECT_EQ(GetTextColor(dc), kDarkDisabledText);

    const HANDLE previous = GetPropW(ticked, kThemeProcProp);
    ApplyTheme(top, false);
    ApplyTheme(top, true);
    ApplyTheme(top, false);
    PumpFor(300);
    for (HWND h : {group, ticked, greyed, edit, label, list})
        EXPECT_EQ(GetPropW(h, kDialogDarkProp), nullptr) << ClassOf(h);
    EXPECT_EQ(GetPropW(ticked, kThemeProcProp), previous) << "subclassed once, kept";
    EXPECT_EQ(SendMessageW(ticked, BM_GETCHECK, 0, 0), BST_CHECKED) << "passed on";
    EXPECT_EQ(CountPixels(edit, kDarkBorder), 0) << "client edge light at once";

    ReleaseTheme();  // library unload
    EXPECT_EQ(GetObjectType(reinterpret_cast<HGDIOBJ>(r)), 0u);
    EXPECT_TRUE(ThemeMessageHook(true, top, WM_CTLCOLORDLG, WPARAM(dc), 0, r));
    EXPECT_EQ(BrushColor(r), kDarkDialogBack) << "made again on next use";
    ReleaseDC(top, dc);
    DestroyWindow(top);
}
