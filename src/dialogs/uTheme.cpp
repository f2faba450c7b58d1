// The dark look. Deciding, applying and the message hook come first; the
// painter for buttons, tabs, combo boxes and up-down controls follows.
//
// A themed control keeps its previous window procedure in the property
// "Kestrelink.ThemeProc" and learns whether its dialog is dark from the
// presence of "Kestrelink.DialogDark", so the one subclass procedure serves
// every control of both dialogs without any table of its own. Going back to
// light removes the dark property and keeps the subclass, which then passes
// everything on.
#include "dialogs/uTheme.h"

#include <commctrl.h>

#include <algorithm>
#include <string>

#include "base/uWin.h"
#include "settings/uSettings.h"

namespace {

constexpr DWORD kDwmDarkMode = 20;
constexpr DWORD kDwmDarkModeOld = 19;  // the same attribute on older Windows 10 builds
constexpr wchar_t kDarkVisualStyle[] = L"DarkMode_Explorer";
constexpr wchar_t kPersonalizeKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr wchar_t kAppsUseLightTheme[] = L"AppsUseLightTheme";

constexpr const wchar_t* kSubclassedClasses[] = {
    L"Button", L"SysTabControl32", L"msctls_updown32", L"ComboBox", L"Edit", L"ListBox"};

// Messages after which a control is redrawn, whether dark or light: its
// state may have changed without a paint of its own.
constexpr UINT kRepaintAfter[] = {WM_SETFOCUS,      WM_KILLFOCUS, WM_ENABLE,      WM_SETTEXT,
                                  BM_SETCHECK,      BM_SETSTATE,  WM_KEYDOWN,     WM_KEYUP,
                                  WM_UPDATEUISTATE, CB_SETCURSEL, WM_LBUTTONDOWN, WM_LBUTTONUP,
                                  TCM_SETCURSEL};

enum TBrushRole { kBrushDialog, kBrushControl, kBrushSelectedTab, kBrushAccent, kBrushCount };
constexpr COLORREF kBrushColors[kBrushCount] = {kDarkDialogBack, kDarkControlBack, kDarkSelectedTab,
                                                kDarkAccent};

struct TThemeState {
    bool apiLoaded = false;
    TThemeApi api;
    HMODULE dwmapi = nullptr;
    HMODULE uxtheme = nullptr;
    HBRUSH brushes[kBrushCount] = {};
};

TThemeState g_theme;

template <class F>
void Lookup(HMODULE module, const char* name, F& fn) {
    fn = module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                : nullptr;
}

// Only from the system folder: a copy planted beside the host must not be loaded.
HMODULE LoadSystemLibrary(const wchar_t* name) {
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HBRUSH Brush(TBrushRole role) {
    HBRUSH& b = g_theme.brushes[role];
    if (!b) b = CreateSolidBrush(kBrushColors[role]);
    return b;
}

bool SameClass(const wchar_t* a, const wchar_t* b) {
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

std::wstring ClassName(HWND hwnd) {
    wchar_t buf[64] = {};
    GetClassNameW(hwnd, buf, 64);
    return buf;
}

bool IsEditOrList(HWND hwnd) {
    const std::wstring cls = ClassName(hwnd);
    return SameClass(cls.c_str(), L"Edit") || SameClass(cls.c_str(), L"ListBox");
}

bool HasClientEdge(HWND hwnd) {
    return (GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0;
}

// ---- deciding ---------------------------------------------------------

bool HighContrastOn() {
    auto query = ThemeApi().SystemParametersInfoW;
    HIGHCONTRASTW hc = {};
    hc.cbSize = sizeof hc;
    return query && query(SPI_GETHIGHCONTRAST, sizeof hc, &hc, 0) &&
           (hc.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

// The host's main window tells whether its title bar is dark; false when
// neither attribute number can be read.
bool ReadOwnerTitleBar(HWND owner, bool& dark) {
    auto get = ThemeApi().DwmGetWindowAttribute;
    if (!get || !owner) return false;
    HWND root = GetAncestor(owner, GA_ROOTOWNER);
    if (!root) return false;
    for (DWORD attribute : {kDwmDarkMode, kDwmDarkModeOld}) {
        BOOL value = 0;
        if (SUCCEEDED(get(root, attribute, &value, sizeof value))) {
            dark = value != 0;
            return true;
        }
    }
    return false;
}

bool AppsUseDarkTheme() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kPersonalizeKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, value = 1, size = sizeof value;
    const LONG rc = RegQueryValueExW(key, kAppsUseLightTheme, nullptr, &type,
                                     reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value && value == 0;
}

// ---- applying ---------------------------------------------------------

void SetDarkTitleBar(HWND hwnd, bool dark) {
    auto set = ThemeApi().DwmSetWindowAttribute;
    if (!set) return;
    const BOOL value = dark;
    if (FAILED(set(hwnd, kDwmDarkMode, &value, sizeof value)))
        set(hwnd, kDwmDarkModeOld, &value, sizeof value);
}

void SubclassOnce(HWND hwnd) {
    const std::wstring cls = ClassName(hwnd);
    const bool wanted = std::any_of(std::begin(kSubclassedClasses), std::end(kSubclassedClasses),
                                    [&](const wchar_t* c) { return SameClass(cls.c_str(), c); });
    if (!wanted || GetPropW(hwnd, kThemeProcProp)) return;
    const LONG_PTR previous = GetWindowLongPtrW(hwnd, GWLP_WNDPROC);
    if (!previous || !SetPropW(hwnd, kThemeProcProp, reinterpret_cast<HANDLE>(previous))) return;
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ThemeSubclassProc));
}

BOOL CALLBACK ThemeOneWindow(HWND hwnd, LPARAM lp) {
    const bool dark = lp != 0;
    if (dark)
        SetPropW(hwnd, kDialogDarkProp, reinterpret_cast<HANDLE>(1));
    else
        RemovePropW(hwnd, kDialogDarkProp);
    if (auto setTheme = ThemeApi().SetWindowTheme)
        setTheme(hwnd, dark ? kDarkVisualStyle : nullptr, nullptr);
    SubclassOnce(hwnd);
    return TRUE;
}

LRESULT ColorAnswer(WPARAM wp, LPARAM lp, COLORREF back, TBrushRole brush) {
    HDC dc = reinterpret_cast<HDC>(wp);
    HWND control = reinterpret_cast<HWND>(lp);
    SetBkColor(dc, back);
    SetBkMode(dc, OPAQUE);
    SetTextColor(dc, control && !IsWindowEnabled(control) ? kDarkDisabledText : kDarkText);
    return reinterpret_cast<LRESULT>(Brush(brush));
}

// ---- painting ---------------------------------------------------------

// A pen selected for the lifetime of the object, then deleted.
class TPenScope {
public:
    TPenScope(HDC dc, COLORREF color, int width = 1)
        : dc_(dc), pen_(CreatePen(PS_SOLID, width, color)) {
        old_ = SelectObject(dc_, pen_);
    }
    ~TPenScope() {
        SelectObject(dc_, old_);
        DeleteObject(pen_);
    }
    TPenScope(const TPenScope&) = delete;
    TPenScope& operator=(const TPenScope&) = delete;

private:
    HDC dc_;
    HPEN pen_;
    HGDIOBJ old_;
};

struct TPaint {
    HWND Hwnd;
    HDC Dc;
    RECT R;
    int H;
    std::wstring Text;
    LONG_PTR Style;
    COLORREF TextColor;
    int Scale(int n) const { return MulDiv(n, GetDeviceCaps(Dc, LOGPIXELSX), 96); }
};

void Outline(HDC dc, const RECT& r, COLORREF color) {
    TPenScope pen(dc, color);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, r.left, r.top, r.right, r.bottom);
    SelectObject(dc, oldBrush);
}

void Fill(HDC dc, const RECT& r, TBrushRole role) { FillRect(dc, &r, Brush(role)); }

void Chevron(HDC dc, const RECT& a, bool down, COLORREF color) {
    const int x = (a.left + a.right) / 2 - 3, y = (a.top + a.bottom) / 2 - 2;
    const int d = down ? 1 : -1;
    const POINT pts[3] = {{x, y - d}, {x + 3, y + 2 * d}, {x + 6, y - d}};
    TPenScope pen(dc, color);
    Polyline(dc, pts, 3);
}

void ExcludeWindowRect(HDC dc, HWND painted, HWND other) {
    if (!IsWindowVisible(other)) return;
    RECT r;
    GetWindowRect(other, &r);
    MapWindowPoints(HWND_DESKTOP, painted, reinterpret_cast<POINT*>(&r), 2);
    ExcludeClipRect(dc, r.left, r.top, r.right, r.bottom);
}

// A control paints only its own pixels: not over its child windows (the edit
// of a drop-down combo box), and a group box not over the controls inside its
// frame. Those repaint only when they are invalid themselves, so a group box
// redrawn alone (on a focus or keyboard-cue change) would otherwise wipe them.
void ExcludeCovered(HWND hwnd, HDC dc, bool siblings) {
    for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        ExcludeWindowRect(dc, hwnd, c);
    if (!siblings) return;
    for (HWND s = GetWindow(hwnd, GW_HWNDFIRST); s; s = GetWindow(s, GW_HWNDNEXT))
        if (s != hwnd) ExcludeWindowRect(dc, hwnd, s);
}

void PaintCheckBox(const TPaint& p) {
    const int box = p.Scale(14);
    const RECT b = {1, (p.H - box) / 2, box + 1, (p.H + box) / 2};
    Fill(p.Dc, b, kBrushControl);
    Outline(p.Dc, b, kDarkBorder);
    if (SendMessageW(p.Hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED) {
        const POINT tick[3] = {{b.left + box / 5, b.top + box / 2},
                               {b.left + 2 * box / 5, b.bottom - box / 5},
                               {b.right - box / 6, b.top + box / 5}};
        TPenScope pen(p.Dc, p.TextColor, std::max(1, p.Scale(2)));
        Polyline(p.Dc, tick, 3);
    }
    RECT t = p.R;
    t.left = box + p.Scale(7);
    DrawTextW(p.Dc, p.Text.c_str(), -1, &t, DT_SINGLELINE | DT_VCENTER);
    if (SendMessageW(p.Hwnd, BM_GETSTATE, 0, 0) & BST_FOCUS) {
        // Around the text itself, as the system draws it.
        RECT m = t;
        DrawTextW(p.Dc, p.Text.c_str(), -1, &m, DT_SINGLELINE | DT_CALCRECT);
        const int h = m.bottom - m.top;
        RECT f = {t.left - 1, (p.H - h) / 2 - 1, std::min(m.right + 1, p.R.right),
                  (p.H + h) / 2 + 1};
        DrawFocusRect(p.Dc, &f);
    }
}

void PaintGroupBox(const TPaint& p) {
    SIZE ext = {};
    const std::wstring measured = p.Text.empty() ? L" " : p.Text;
    GetTextExtentPoint32W(p.Dc, measured.c_str(), int(measured.size()), &ext);
    RECT frame = p.R;
    frame.top = ext.cy / 2;
    Outline(p.Dc, frame, kDarkBorder);
    if (p.Text.empty()) return;
    RECT caption = {p.Scale(8), 0, p.Scale(8) + ext.cx + p.Scale(8), ext.cy};
    Fill(p.Dc, caption, kBrushDialog);
    DrawTextW(p.Dc, p.Text.c_str(), -1, &caption, DT_SINGLELINE | DT_CENTER);
}

void PaintPushButton(const TPaint& p) {
    const LRESULT state = SendMessageW(p.Hwnd, BM_GETSTATE, 0, 0);
    Fill(p.Dc, p.R, (state & BST_PUSHED) ? kBrushDialog : kBrushControl);
    const bool accent = GetFocus() == p.Hwnd || (p.Style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    Outline(p.Dc, p.R, accent ? kDarkAccent : kDarkBorder);
    RECT t = p.R;
    DrawTextW(p.Dc, p.Text.c_str(), -1, &t, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
    if (state & BST_FOCUS) {
        RECT f = p.R;
        InflateRect(&f, -3, -3);
        DrawFocusRect(p.Dc, &f);
    }
}

void PaintButton(const TPaint& p) {
    switch (p.Style & BS_TYPEMASK) {
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
            PaintCheckBox(p);
            break;
        case BS_GROUPBOX:
            PaintGroupBox(p);
            break;
        default:
            PaintPushButton(p);
            break;
    }
}

void PaintTabItem(const TPaint& p, int index, bool selected, bool focused) {
    RECT it;
    if (!SendMessageW(p.Hwnd, TCM_GETITEMRECT, WPARAM(index), reinterpret_cast<LPARAM>(&it)))
        return;
    it.left += p.Scale(1);
    it.right -= p.Scale(1);
    Fill(p.Dc, it, selected ? kBrushSelectedTab : kBrushControl);
    Outline(p.Dc, it, kDarkBorder);
    if (selected) {
        const RECT bar = {it.left, it.bottom - std::max(2, p.Scale(3)), it.right, it.bottom};
        Fill(p.Dc, bar, kBrushAccent);
    }
    wchar_t text[1025] = {};
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 1024;
    SendMessageW(p.Hwnd, TCM_GETITEMW, WPARAM(index), reinterpret_cast<LPARAM>(&item));
    DrawTextW(p.Dc, item.pszText ? item.pszText : text, -1, &it,
              DT_SINGLELINE | DT_CENTER | DT_VCENTER);
    if (focused) {
        InflateRect(&it, -3, -3);
        DrawFocusRect(p.Dc, &it);
    }
}

void PaintTabControl(const TPaint& p) {
    const int count = int(SendMessageW(p.Hwnd, TCM_GETITEMCOUNT, 0, 0));
    if (count <= 0) return;
    RECT first;
    if (SendMessageW(p.Hwnd, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&first))) {
        RECT frame = p.R;
        InflateRect(&frame, -1, -1);
        frame.top = first.bottom + p.Scale(2);
        Outline(p.Dc, frame, kDarkBorder);
    }
    const int selected = int(SendMessageW(p.Hwnd, TCM_GETCURSEL, 0, 0));
    const int focus = int(SendMessageW(p.Hwnd, TCM_GETCURFOCUS, 0, 0));
    const bool hasFocus = GetFocus() == p.Hwnd;
    for (int i = 0; i < count; ++i) PaintTabItem(p, i, i == selected, hasFocus && i == focus);
}

// Combo boxes and up-down controls.
void PaintBoxControl(const TPaint& p, bool combo) {
    Fill(p.Dc, p.R, kBrushControl);
    // Focus shows as the accent border, as on push buttons: a drop-down list
    // has no caret that could show it.
    Outline(p.Dc, p.R, combo && GetFocus() == p.Hwnd ? kDarkAccent : kDarkBorder);
    if (!combo) {
        RECT upper = p.R, lower = p.R;
        upper.bottom = p.H / 2;
        lower.top = p.H / 2;
        Chevron(p.Dc, upper, false, p.TextColor);
        Chevron(p.Dc, lower, true, p.TextColor);
        return;
    }
    RECT arrow = p.R;
    arrow.left = std::max<LONG>(0, p.R.right - GetSystemMetrics(SM_CXVSCROLL));
    if ((p.Style & 3) == CBS_DROPDOWNLIST) {
        RECT t = p.R;
        t.left += 4;
        t.right = arrow.left;
        DrawTextW(p.Dc, p.Text.c_str(), -1, &t, DT_SINGLELINE | DT_VCENTER);
    }
    Chevron(p.Dc, arrow, true, p.TextColor);
}

void PaintControl(HWND hwnd, HDC dc) {
    TPaint p{hwnd, dc, {}, 0, {}, GetWindowLongPtrW(hwnd, GWL_STYLE), kDarkText};
    GetClientRect(hwnd, &p.R);
    p.H = p.R.bottom - p.R.top;
    wchar_t text[1024] = {};
    GetWindowTextW(hwnd, text, 1024);
    p.Text = text;
    if (!IsWindowEnabled(hwnd)) p.TextColor = kDarkDisabledText;
    const std::wstring cls = ClassName(hwnd);
    const bool button = SameClass(cls.c_str(), L"Button");

    const int saved = SaveDC(dc);
    ExcludeCovered(hwnd, dc, button && (p.Style & BS_TYPEMASK) == BS_GROUPBOX);
    auto font = reinterpret_cast<HGDIOBJ>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
    SelectObject(dc, font ? font : GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, p.TextColor);
    Fill(dc, p.R, kBrushDialog);
    if (button)
        PaintButton(p);
    else if (SameClass(cls.c_str(), WC_TABCONTROLW))
        PaintTabControl(p);
    else
        PaintBoxControl(p, SameClass(cls.c_str(), L"ComboBox"));
    RestoreDC(dc, saved);
}

// The border of a control with a client edge, over the system's own so that
// the scroll bars it draws in the same pass stay.
void PaintClientEdge(HWND hwnd) {
    HDC dc = GetWindowDC(hwnd);
    if (!dc) return;
    RECT r;
    GetWindowRect(hwnd, &r);
    OffsetRect(&r, -r.left, -r.top);
    Outline(dc, r, kDarkBorder);
    InflateRect(&r, -1, -1);
    Outline(dc, r, kDarkControlBack);
    ReleaseDC(hwnd, dc);
}

LRESULT PassOn(HWND hwnd, WNDPROC previous, UINT msg, WPARAM wp, LPARAM lp) {
    const LRESULT result =
        previous ? CallWindowProcW(previous, hwnd, msg, wp, lp) : DefWindowProcW(hwnd, msg, wp, lp);
    if (std::find(std::begin(kRepaintAfter), std::end(kRepaintAfter), msg) !=
        std::end(kRepaintAfter))
        InvalidateRect(hwnd, nullptr, FALSE);
    if (msg == WM_NCDESTROY) {
        RemovePropW(hwnd, kThemeProcProp);
        RemovePropW(hwnd, kDialogDarkProp);
    }
    return result;
}

// The dark answers of a subclassed control; false passes the message on.
bool DarkControlMessage(HWND hwnd, WNDPROC previous, UINT msg, WPARAM wp, LPARAM lp,
                        LRESULT& result) {
    if (IsEditOrList(hwnd) && msg != WM_NCPAINT) return false;
    result = 0;
    switch (msg) {
        case WM_PAINT:
            if (wp) {
                PaintControl(hwnd, reinterpret_cast<HDC>(wp));
            } else {
                PAINTSTRUCT ps;
                HDC dc = BeginPaint(hwnd, &ps);
                PaintControl(hwnd, dc);
                EndPaint(hwnd, &ps);
            }
            return true;
        case WM_PRINTCLIENT:
            PaintControl(hwnd, reinterpret_cast<HDC>(wp));
            return true;
        case WM_ERASEBKGND:
            result = 1;
            return !HasClientEdge(hwnd);
        case WM_NCPAINT: {
            if (!HasClientEdge(hwnd)) return false;
            const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
            if (style & (WS_VSCROLL | WS_HSCROLL)) result = PassOn(hwnd, previous, msg, wp, lp);
            PaintClientEdge(hwnd);
            return true;
        }
        default:
            return false;
    }
}

}  // namespace

TThemeApi& ThemeApi() {
    TThemeState& t = g_theme;
    if (!t.apiLoaded) {
        t.apiLoaded = true;
        t.dwmapi = LoadSystemLibrary(L"dwmapi.dll");
        t.uxtheme = LoadSystemLibrary(L"uxtheme.dll");
        Lookup(t.dwmapi, "DwmGetWindowAttribute", t.api.DwmGetWindowAttribute);
        Lookup(t.dwmapi, "DwmSetWindowAttribute", t.api.DwmSetWindowAttribute);
        Lookup(t.uxtheme, "SetWindowTheme", t.api.SetWindowTheme);
        t.api.SystemParametersInfoW = &::SystemParametersInfoW;
    }
    return t.api;
}

bool DecideDark(HWND owner) {
    if (HighContrastOn()) return false;
    std::u16string language, theme;
    ReadGeneralSettings(language, theme);
    if (theme == u"light") return false;
    if (theme == u"dark") return true;
    bool dark = false;
    if (ReadOwnerTitleBar(owner, dark)) return dark;
    return AppsUseDarkTheme();
}

void ApplyTheme(HWND dialog, bool dark) {
    if (!IsWindow(dialog)) return;
    SetDarkTitleBar(dialog, dark);
    EnumChildWindows(dialog, ThemeOneWindow, dark ? 1 : 0);
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

bool ThemeMessageHook(bool dark, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    if (!dark) return false;
    switch (msg) {
        case WM_ERASEBKGND: {
            RECT r;
            GetClientRect(hwnd, &r);
            FillRect(reinterpret_cast<HDC>(wp), &r, Brush(kBrushDialog));
            result = 1;
            return true;
        }
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
            result = ColorAnswer(wp, lp, kDarkControlBack, kBrushControl);
            return true;
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
            result = ColorAnswer(wp, lp, kDarkDialogBack, kBrushDialog);
            return true;
        default:
            return false;
    }
}

LRESULT CALLBACK ThemeSubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    const auto previous = reinterpret_cast<WNDPROC>(GetPropW(hwnd, kThemeProcProp));
    const bool dark = GetPropW(hwnd, kDialogDarkProp) != nullptr;
    LRESULT result = 0;
    // The edit and the drop-down list a combo box owns ask the combo box.
    if (msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC &&
        ThemeMessageHook(dark, hwnd, msg, wp, lp, result))
        return result;
    if (dark && DarkControlMessage(hwnd, previous, msg, wp, lp, result)) return result;
    return PassOn(hwnd, previous, msg, wp, lp);
}

void ReleaseTheme() {
    TThemeState& t = g_theme;
    for (HBRUSH& b : t.brushes) {
        if (b) DeleteObject(b);
        b = nullptr;
    }
    if (t.dwmapi) FreeLibrary(t.dwmapi);
    if (t.uxtheme) FreeLibrary(t.uxtheme);
    t = TThemeState{};
}
