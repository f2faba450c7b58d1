// The manager is a plain popup built control by control. Its four pages are
// child windows of class "KestrelinkConnPage" that pass commands,
// notifications and colour questions up to the dialog, so every control is
// handled in one place (the routing table below) whichever page holds it.
//
// The modal run is the kit's, shared with the properties dialog: the owner is
// disabled while it runs and enabled again however it ends (Close, Esc, the
// caption's close button, a WM_QUIT, the dialog being destroyed along with its
// owner, or a fault that closed it).
#include "dialogs/uConnDlg.h"

#include <commctrl.h>

#include "base/uWin.h"
#include "dialogs/uAppearancePage.h"
#include "dialogs/uConnDlgKit.h"
#include "dialogs/uConnectionsPage.h"
#include "dialogs/uFontPage.h"
#include "dialogs/uGeneralPage.h"
#include "dialogs/uTheme.h"

namespace {

TManager* g_manager = nullptr;

constexpr int kDialogWidth = 600;  // outer size, 96-DPI units
constexpr int kDialogHeight = 420;
constexpr int kTabPaddingX = 10;
constexpr int kTabPaddingY = 5;
constexpr int kPageX = 12, kPageY = 34, kPageWidth = 568, kPageHeight = 298;

constexpr TControlDef kTabsDef = {kIdConnTabs, TCtl::Tabs, 6, 6, 580, 328};
constexpr TControlDef kCloseDef = {
    kIdConnClose, TCtl::Button, 496, 346, 84, 26, [] { return Tr("action.close", u"Close"); }};

constexpr TTextFn kTabTitles[kPageCount] = {
    [] { return Tr("tab.connections", u"Connections"); },
    [] { return Tr("tab.font", u"Font"); },
    [] { return Tr("tab.appearance", u"Appearance"); },
    [] { return Tr("tab.general", u"General"); },
};

// The field that takes the focus when a page is shown.
constexpr int kFirstField[kPageCount] = {kIdConnName, kIdFontName, kIdBackground, kIdLanguage};

void RequestClose(TManager& m) { m.CloseRequested = true; }

struct TCommandRoute {
    int Id;
    int Code;  // notification code, or kAnyCode
    void (*Handler)(TManager&);
};
constexpr int kAnyCode = -1;

// WM_COMMAND from any control of the manager (Esc is the kit's); everything
// else (IDOK included) is ignored.
constexpr TCommandRoute kRoutes[] = {
    {kIdConnClose, kAnyCode, RequestClose},
    {kIdConnList, LBN_SELCHANGE, LoadChosenConnection},
    {kIdConnNew, kAnyCode, NewConnectionForm},
    {kIdConnSave, kAnyCode, SaveConnectionForm},
    {kIdConnDelete, kAnyCode, DeleteCurrentConnection},
    {kIdFontName, CBN_SELCHANGE, FontChosen},
    {kIdFontName, CBN_EDITCHANGE, UpdateFontPreview},
    {kIdFontSize, EN_CHANGE, UpdateFontPreview},
    {kIdFontSave, kAnyCode, SaveFontPage},
    {kIdBackground, EN_CHANGE, UpdateColorPreview},
    {kIdTextColor, EN_CHANGE, UpdateColorPreview},
    {kIdPickBackground, kAnyCode, PickBackground},
    {kIdPickTextColor, kAnyCode, PickTextColor},
    {kIdAppearanceSave, kAnyCode, SaveAppearancePage},
    {kIdGeneralSave, kAnyCode, SaveGeneralPage},
    {kIdLogBrowse, kAnyCode, BrowseLogFolder},
};

void ShowPage(TManager& m, int n) {
    if (n < 0 || n >= kPageCount) n = kPageGeneral;
    for (HWND page : m.Pages) ShowWindow(page, SW_HIDE);
    SetWindowPos(m.Pages[size_t(n)], HWND_TOP, 0, 0, 0, 0,
                 SWP_SHOWWINDOW | SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE);
    SetFocus(Control(m, kFirstField[n]));
    RedrawWindow(m.Dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void OnCommand(TManager& m, WPARAM wp) {
    const int id = LOWORD(wp), code = HIWORD(wp);
    for (const auto& r : kRoutes)
        if (r.Id == id && (r.Code == kAnyCode || r.Code == code)) r.Handler(m);
}

bool OnNotify(TManager& m, LPARAM lp) {
    const auto* h = reinterpret_cast<const NMHDR*>(lp);
    if (!h || h->idFrom != UINT_PTR(kIdConnTabs) || h->code != UINT(TCN_SELCHANGE)) return false;
    ShowPage(m, int(SendMessageW(h->hwndFrom, TCM_GETCURSEL, 0, 0)));
    return true;
}

void OnThemeChanged(TManager& m, HWND hwnd) {
    m.Dark = DecideDark(GetWindow(hwnd, GW_OWNER));
    ApplyTheme(hwnd, m.Dark);
}

// The owner went and took the dialog with it: the loop must end too.
void OnDestroyed(TManager& m) {
    m.CloseRequested = true;
    m.Dialog = nullptr;
    m.Pages = {};
}

// The colour preview shows the terminal's colours in both looks, so the
// theme never answers for it.
bool IsColorPreviewQuestion(UINT msg, LPARAM lp) {
    return msg == WM_CTLCOLORSTATIC && GetDlgCtrlID(reinterpret_cast<HWND>(lp)) == kIdColorPreview;
}

LRESULT OnDialogMessage(TManager& m, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    LRESULT result = 0;
    if (!IsColorPreviewQuestion(msg, lp) && ThemeMessageHook(m.Dark, hwnd, msg, wp, lp, result))
        return result;
    if (ModalMessage(m, msg, wp, result)) return result;
    switch (msg) {
        case WM_NCDESTROY:
            OnDestroyed(m);
            break;
        case WM_SETTINGCHANGE:
        case WM_THEMECHANGED:
            OnThemeChanged(m, hwnd);
            break;
        case WM_NOTIFY:
            if (OnNotify(m, lp)) return 0;
            break;
        case WM_COMMAND:
            OnCommand(m, wp);
            return 0;
        case WM_CTLCOLORSTATIC:
            if (IsColorPreviewQuestion(msg, lp))
                if (HBRUSH brush = ColorPreviewBrush(m, reinterpret_cast<HDC>(wp)))
                    return reinterpret_cast<LRESULT>(brush);
            break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    return DialogGuarded(hwnd, [&] {
        return g_manager ? OnDialogMessage(*g_manager, hwnd, msg, wp, lp)
                         : DefWindowProcW(hwnd, msg, wp, lp);
    });
}

// Controls never need to know that they sit on a page.
LRESULT OnPageMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_COMMAND:
        case WM_NOTIFY:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
            return SendMessageW(GetParent(hwnd), msg, wp, lp);
    }
    LRESULT result = 0;
    if (g_manager && ThemeMessageHook(g_manager->Dark, hwnd, msg, wp, lp, result)) return result;
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK PageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    return DialogGuarded(hwnd, [&] { return OnPageMessage(hwnd, msg, wp, lp); });
}

struct TClassDef {
    const wchar_t* Name;
    WNDPROC Proc;
};
constexpr TClassDef kClasses[] = {{kConnDlgClass, DialogProc}, {kConnPageClass, PageProc}};

bool RegisterClasses() {
    for (const auto& c : kClasses)
        if (!RegisterDialogClass(c.Name, c.Proc)) return false;
    return true;
}

int LayoutDpi(HWND owner) {
    int dpi = 96;
    if (HDC dc = GetDC(owner)) {
        dpi = GetDeviceCaps(dc, LOGPIXELSX);
        ReleaseDC(owner, dc);
    }
    return dpi < 96 ? 96 : dpi;
}

HWND CreateDialogWindow(const TManager& m, HWND owner) {
    RECT r = {};
    if (!owner || !GetWindowRect(owner, &r)) GetWindowRect(GetDesktopWindow(), &r);
    const int w = Scale(m, kDialogWidth), h = Scale(m, kDialogHeight);
    const int x = r.left + (r.right - r.left - w) / 2, y = r.top + (r.bottom - r.top - h) / 2;
    const auto title = Tr("manage.title", u"Kestrelink - Manage connections");
    return CreateWindowExW(WS_EX_DLGMODALFRAME, kConnDlgClass, W(title),
                           WS_POPUP | WS_BORDER | WS_SYSMENU | WS_DLGFRAME | WS_CLIPCHILDREN, x, y,
                           w, h, owner, nullptr, ThisModule(), nullptr);
}

void CreateTabsAndPages(TManager& m) {
    CreateControls(m, m.Dialog, {&kTabsDef, 1});
    HWND tabs = GetDlgItem(m.Dialog, kIdConnTabs);
    SendMessageW(tabs, TCM_SETPADDING, 0,
                 MAKELPARAM(Scale(m, kTabPaddingX), Scale(m, kTabPaddingY)));
    for (int i = 0; i < kPageCount; ++i) {
        std::u16string title = kTabTitles[i]();
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(W(title));
        SendMessageW(tabs, TCM_INSERTITEMW, WPARAM(i), reinterpret_cast<LPARAM>(&item));
    }
    for (int i = 0; i < kPageCount; ++i)
        m.Pages[size_t(i)] = CreateWindowExW(
            WS_EX_CONTROLPARENT, kConnPageClass, L"", WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
            Scale(m, kPageX), Scale(m, kPageY), Scale(m, kPageWidth), Scale(m, kPageHeight),
            m.Dialog, reinterpret_cast<HMENU>(INT_PTR(kIdFirstPage + i)), ThisModule(), nullptr);
}

// Creation order is Tab order within each window.
void BuildAndLoad(TManager& m) {
    CreateTabsAndPages(m);
    BuildGeneralPage(m);
    BuildConnectionsPage(m);
    CreateControls(m, m.Dialog, {&kCloseDef, 1});
    BuildFontPage(m);
    BuildAppearancePage(m);

    LoadAppearancePage(m);
    LoadFontPage(m);
    NewConnectionForm(m);
    FillConnectionList(m, u"");
}

void RunManager(TManager& m, HWND owner) {
    m.Font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    m.Dpi = LayoutDpi(owner);
    m.Dark = DecideDark(owner);
    m.DefaultButton = kIdConnSave;
    m.Dialog = CreateDialogWindow(m, owner);
    if (!m.Dialog) return;
    PinModule();  // the window must not outlive the code behind it
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&icc);
    BuildAndLoad(m);

    ShowPage(m, kPageConnections);
    ApplyTheme(m.Dialog, m.Dark);
    RunModal(m, Control(m, kIdConnName));
}

}  // namespace

void OpenConnectionManager(HWND owner) {
    if (g_manager) {
        if (g_manager->Dialog) SetForegroundWindow(g_manager->Dialog);
        return;
    }
    if (!RegisterClasses()) return;
    TManager m;
    g_manager = &m;
    BeginModal(m, owner);
    GuardedVoid([&] { RunManager(m, owner); }, [&](TFault kind) { NoteFault(m, kind); });
    EndModal(m);
    m.Pages = {};
    m.PreviewBrush.Reset();
    m.PreviewFont.Reset();
    g_manager = nullptr;
}
