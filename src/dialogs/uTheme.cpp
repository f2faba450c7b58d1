// The dark look: deciding it, applying it to a dialog, the message hook and
// the subclass procedure. The painter for buttons, tabs, combo boxes and
// up-down controls lives in uThemePaint.
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
#include "dialogs/uConnDlgKit.h"
#include "dialogs/uThemePaint.h"
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

bool IsEditOrList(HWND hwnd) {
    const std::wstring cls = ThemeClassName(hwnd);
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
    const std::wstring cls = ThemeClassName(hwnd);
    const bool wanted = std::any_of(std::begin(kSubclassedClasses), std::end(kSubclassedClasses),
                                    [&](const wchar_t* c) { return SameClass(cls.c_str(), c); });
    if (!wanted || GetPropW(hwnd, kThemeProcProp)) return;
    const LONG_PTR previous = GetWindowLongPtrW(hwnd, GWLP_WNDPROC);
    if (!previous || !SetPropW(hwnd, kThemeProcProp, reinterpret_cast<HANDLE>(previous))) return;
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ThemeSubclassProc));
}

void ThemeWindow(HWND hwnd, bool dark) {
    if (dark)
        SetPropW(hwnd, kDialogDarkProp, reinterpret_cast<HANDLE>(1));
    else
        RemovePropW(hwnd, kDialogDarkProp);
    if (auto setTheme = ThemeApi().SetWindowTheme)
        setTheme(hwnd, dark ? kDarkVisualStyle : nullptr, nullptr);
    SubclassOnce(hwnd);
}

// A fault stops the walk and closes the dialog.
BOOL CALLBACK ThemeOneWindow(HWND hwnd, LPARAM lp) {
    return BOOL(DialogGuarded(hwnd, [&]() -> LRESULT {
        ThemeWindow(hwnd, lp != 0);
        return TRUE;
    }));
}

LRESULT ColorAnswer(WPARAM wp, LPARAM lp, COLORREF back, TBrushRole brush) {
    HDC dc = reinterpret_cast<HDC>(wp);
    HWND control = reinterpret_cast<HWND>(lp);
    SetBkColor(dc, back);
    SetBkMode(dc, OPAQUE);
    SetTextColor(dc, control && !IsWindowEnabled(control) ? kDarkDisabledText : kDarkText);
    return reinterpret_cast<LRESULT>(ThemeBrush(brush));
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
                PaintDarkControl(hwnd, reinterpret_cast<HDC>(wp));
            } else {
                PAINTSTRUCT ps;
                HDC dc = BeginPaint(hwnd, &ps);
                PaintDarkControl(hwnd, dc);
                EndPaint(hwnd, &ps);
            }
            return true;
        case WM_PRINTCLIENT:
            PaintDarkControl(hwnd, reinterpret_cast<HDC>(wp));
            return true;
        case WM_ERASEBKGND:
            result = 1;
            return !HasClientEdge(hwnd);
        case WM_NCPAINT: {
            if (!HasClientEdge(hwnd)) return false;
            const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
            if (style & (WS_VSCROLL | WS_HSCROLL)) result = PassOn(hwnd, previous, msg, wp, lp);
            PaintDarkClientEdge(hwnd);
            return true;
        }
        default:
            return false;
    }
}

}  // namespace

HBRUSH ThemeBrush(TBrushRole role) {
    HBRUSH& b = g_theme.brushes[role];
    if (!b) b = CreateSolidBrush(kBrushColors[role]);
    return b;
}

bool SameClass(const wchar_t* a, const wchar_t* b) {
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

std::wstring ThemeClassName(HWND hwnd) {
    wchar_t buf[64] = {};
    GetClassNameW(hwnd, buf, 64);
    return buf;
}

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
            FillRect(reinterpret_cast<HDC>(wp), &r, ThemeBrush(kBrushDialog));
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
    return DialogGuarded(hwnd, [&] {
        const auto previous = reinterpret_cast<WNDPROC>(GetPropW(hwnd, kThemeProcProp));
        const bool dark = GetPropW(hwnd, kDialogDarkProp) != nullptr;
        LRESULT result = 0;
        // The edit and the drop-down list a combo box owns ask the combo box.
        if (msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC &&
            ThemeMessageHook(dark, hwnd, msg, wp, lp, result))
            return result;
        if (dark && DarkControlMessage(hwnd, previous, msg, wp, lp, result)) return result;
        return PassOn(hwnd, previous, msg, wp, lp);
    });
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
