#include "dialogs/uConnDlgKit.h"

#include <commctrl.h>

#include <algorithm>

#include "base/uText.h"
#include "base/uWin.h"
#include "dialogs/uDialogSeam.h"
#include "dialogs/uMsgBox.h"
#include "settings/uSettings.h"

void (*g_dialogCommandProbe)(HWND dialog, WPARAM wp) = nullptr;

namespace {

struct TKindDef {
    const wchar_t* Class;
    DWORD Style;
    DWORD ExStyle;
};

constexpr DWORD kEditStyle = WS_TABSTOP | ES_AUTOHSCROLL;

// Indexed by TCtl.
constexpr TKindDef kKinds[] = {
    {L"STATIC", 0, 0},
    {L"STATIC", WS_BORDER, 0},
    {L"BUTTON", BS_GROUPBOX, 0},
    {L"EDIT", kEditStyle, WS_EX_CLIENTEDGE},
    {L"EDIT", kEditStyle | ES_NUMBER, WS_EX_CLIENTEDGE},
    {L"COMBOBOX", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0},
    {L"COMBOBOX", CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP, 0},
    {L"COMBOBOX", CBS_DROPDOWN | CBS_SORT | WS_VSCROLL | WS_TABSTOP, 0},
    // Not sorted by the control: the store already sorts by the user's locale.
    {L"LISTBOX", LBS_NOTIFY | LBS_HASSTRINGS | WS_VSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE},
    {L"BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP, 0},
    {L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0},
    {L"BUTTON", BS_DEFPUSHBUTTON | WS_TABSTOP, 0},
    {UPDOWN_CLASSW, UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS, 0},
    {WC_TABCONTROLW, WS_CLIPSIBLINGS | WS_TABSTOP, 0},
};
static_assert(std::size(kKinds) == size_t(TCtl::Tabs) + 1);

constexpr int32_t kSaturation = 100000000;

// The runs now open, innermost first; a fault report finds its dialog here.
TDialogState* g_runs = nullptr;

bool IsProfileBlank(char16_t c) {
    if (c <= 32) return true;
    WORD type = 0;
    const wchar_t w = wchar_t(c);
    return GetStringTypeW(CT_CTYPE1, &w, 1, &type) && (type & C1_SPACE);
}

bool HasControlChar(std::u16string_view s) {
    for (char16_t c : s)
        if (c < 0x20) return true;
    return false;
}

// ---- default button ----------------------------------------------------

bool IsPushButton(HWND hwnd) {
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    if (CompareStringOrdinal(cls, -1, L"Button", -1, TRUE) != CSTR_EQUAL) return false;
    const LONG_PTR type = GetWindowLongPtrW(hwnd, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

HWND Descendant(HWND dialog, int id) {
    if (HWND h = GetDlgItem(dialog, id)) return h;
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (GetWindow(c, GW_CHILD))
            if (HWND h = Descendant(c, id)) return h;
    return nullptr;
}

void SetButtonDefault(HWND button, bool isDefault) {
    const LONG_PTR type = GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK;
    const LONG_PTR wanted = isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
    if (type != wanted) SendMessageW(button, BM_SETSTYLE, WPARAM(wanted), TRUE);
}

BOOL CALLBACK SyncOneButton(HWND hwnd, LPARAM lp) {
    if (IsPushButton(hwnd)) SetButtonDefault(hwnd, hwnd == reinterpret_cast<HWND>(lp));
    return TRUE;
}

// As in a system dialog: a push button with the focus is the default one
// (Enter presses it); elsewhere the dialog's own default is. The keyboard
// navigation of a window that is not a system dialog moves the default away
// but never back, so this puts it back after every key.
void SyncDefaultButton(const TDialogState& d) {
    HWND focus = GetFocus();
    HWND chosen = focus && IsChild(d.Dialog, focus) && IsPushButton(focus)
                      ? focus
                      : (d.DefaultButton ? Descendant(d.Dialog, d.DefaultButton) : nullptr);
    EnumChildWindows(d.Dialog, SyncOneButton, reinterpret_cast<LPARAM>(chosen));
}

// Asked after every message and before every command, not on deactivation:
// a message box disables the dialog first, which takes the focus away before
// the dialog hears of it.
void RememberFocus(TDialogState& d) {
    HWND focus = GetFocus();
    if (focus && IsChild(d.Dialog, focus)) d.LastFocus = focus;
}

void ShowFaultBox(HWND owner) noexcept {
    GuardedVoid(
        [&] {
            ShowError(owner, Tr("error.internal",
                                u"Something went wrong inside Kestrelink, and the dialog was "
                                u"closed. What was saved before stays saved."));
        },
        [](TFault) {});
}

}  // namespace

int Scale(const TDialogState& d, int units) { return MulDiv(units, d.Dpi, 96); }

int ScreenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    return std::max(dpi, 96);
}

void PlaceDialog(HWND dialog, const RECT& around, int w, int h) {
    RECT outer, client;
    GetWindowRect(dialog, &outer);
    GetClientRect(dialog, &client);
    const int ow = w + (outer.right - outer.left) - (client.right - client.left);
    const int oh = h + (outer.bottom - outer.top) - (client.bottom - client.top);
    int x = (around.left + around.right - ow) / 2, y = (around.top + around.bottom - oh) / 2;
    MONITORINFO mi = {};
    mi.cbSize = sizeof mi;
    if (GetMonitorInfoW(MonitorFromRect(&around, MONITOR_DEFAULTTONEAREST), &mi)) {
        x = std::max<int>(mi.rcWork.left, std::min<int>(x, mi.rcWork.right - ow));
        y = std::max<int>(mi.rcWork.top, std::min<int>(y, mi.rcWork.bottom - oh));
    }
    SetWindowPos(dialog, nullptr, x, y, ow, oh, SWP_NOZORDER | SWP_NOACTIVATE);
}

bool RegisterDialogClass(const wchar_t* name, WNDPROC proc) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    if (GetClassInfoExW(ThisModule(), name, &wc)) return true;
    wc.lpfnWndProc = proc;
    wc.hInstance = ThisModule();
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = name;
    return RegisterClassExW(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND Control(const TManager& m, int id) {
    if (HWND h = GetDlgItem(m.Dialog, id)) return h;
    for (HWND page : m.Pages)
        if (HWND h = page ? GetDlgItem(page, id) : nullptr) return h;
    return nullptr;
}

void CreateControls(TDialogState& d, HWND parent, std::span<const TControlDef> defs, int top) {
    for (const auto& c : defs) {
        const TKindDef& kind = kKinds[size_t(c.Kind)];
        const std::u16string text = c.Text ? c.Text() : std::u16string();
        const int id = c.Id == kAutoId ? d.NextAutoId++ : c.Id;
        HWND h = CreateWindowExW(kind.ExStyle, kind.Class, W(text),
                                 WS_CHILD | WS_VISIBLE | kind.Style, Scale(d, c.X),
                                 Scale(d, top + c.Y), Scale(d, c.Width), Scale(d, c.Height), parent,
                                 reinterpret_cast<HMENU>(INT_PTR(id)), ThisModule(), nullptr);
        if (h) SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(d.Font), TRUE);
    }
}

void AddComboItems(HWND combo, std::span<const TTextFn> items) {
    for (TTextFn item : items)
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(item())));
}

void AddComboItems(HWND combo, std::span<const TChoice> items) {
    for (const TChoice& item : items) {
        const std::u16string text = item.Key ? Tr(item.Key, item.Text) : item.Text;
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(text)));
    }
}

void AttachUpDown(HWND upDown, HWND buddy, int low, int high) {
    SendMessageW(upDown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy), 0);
    SendMessageW(upDown, UDM_SETRANGE32, WPARAM(low), LPARAM(high));
}

std::u16string FieldText(HWND control) {
    if (!control) return {};
    const int n = GetWindowTextLengthW(control);
    if (n <= 0) return {};
    std::u16string s(size_t(n) + 1, u'\0');
    const int got = GetWindowTextW(control, reinterpret_cast<wchar_t*>(s.data()), n + 1);
    s.resize(size_t(got > 0 ? got : 0));
    return s;
}

void SetFieldText(HWND control, const std::u16string& text) { SetWindowTextW(control, W(text)); }

int32_t ParseFieldInt(std::u16string_view text, int32_t fallback) {
    const std::u16string t = Trim(text);
    size_t i = 0;
    const bool negative = !t.empty() && t[0] == u'-';
    if (!t.empty() && (t[0] == u'-' || t[0] == u'+')) i = 1;
    if (i >= t.size()) return fallback;
    int32_t v = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < u'0' || t[i] > u'9') return fallback;
        if (v < kSaturation) v = v * 10 + (t[i] - u'0');
    }
    return negative ? -v : v;
}

int ComboSelection(HWND combo) { return int(SendMessageW(combo, CB_GETCURSEL, 0, 0)); }

// ---- names and hosts ---------------------------------------------------

std::u16string ProfileTrim(std::u16string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && IsProfileBlank(text[b])) ++b;
    while (e > b && IsProfileBlank(text[e - 1])) --e;
    return std::u16string(text.substr(b, e - b));
}

std::u16string CleanHost(std::u16string_view typed) {
    auto dropped = [](char16_t c) { return c == u'"' || c == u'\'' || IsProfileBlank(c); };
    size_t b = 0, e = typed.size();
    while (b < e && dropped(typed[b])) ++b;
    while (e > b && dropped(typed[e - 1])) --e;
    return std::u16string(typed.substr(b, e - b));
}

std::u16string NameProblem(const std::u16string& name, const std::u16string& current) {
    if (!IsValidConnectionName(name) || HasControlChar(name))
        return Tr("error.name",
                  u"The name is empty, contains invalid characters ([ ] = \\ / : * ? \" < > |), "
                  u"or starts with \"COM\".");
    if (name.size() > kMaxNameLength && !SameTextI(name, current))
        return TrFmt("error.name_length", u"A name can have at most {0} characters.",
                     {IntToText(int64_t(kMaxNameLength))});
    return {};
}

std::u16string HostProblem(const std::u16string& host) {
    if (host.empty() || host.size() > kMaxHostLength || HasControlChar(host))
        return Tr("error.host", u"Enter a host name or IPv4 address.");
    return {};
}

// ---- the modal run -------------------------------------------------------

void BeginModal(TDialogState& d, HWND owner) {
    d.Owner = owner;
    d.Outer = g_runs;
    g_runs = &d;
}

void RunModal(TDialogState& d, HWND firstFocus) {
    ShowWindow(d.Dialog, SW_SHOW);
    // An owner someone else had disabled stays disabled afterwards.
    d.OwnerDisabled = d.Owner && !EnableWindow(d.Owner, FALSE);
    SetFocus(firstFocus);
    MSG msg;
    while (!d.CloseRequested && IsWindow(d.Dialog)) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            d.Quit = int(msg.wParam);
            return;
        }
        if (got == -1) return;
        const bool key = msg.message == WM_KEYDOWN;
        // Before: a click may have moved the focus onto a button that Enter must press.
        if (key) SyncDefaultButton(d);
        if (IsDialogMessageW(d.Dialog, &msg)) {
            if (key && IsWindow(d.Dialog)) SyncDefaultButton(d);
        } else {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        RememberFocus(d);
    }
}

void EndModal(TDialogState& d) noexcept {
    for (TDialogState** p = &g_runs; *p; p = &(*p)->Outer)
        if (*p == &d) {
            *p = d.Outer;
            break;
        }
    const bool ownerAlive = d.Owner && IsWindow(d.Owner);
    if (d.OwnerDisabled && ownerAlive) EnableWindow(d.Owner, TRUE);
    d.OwnerDisabled = false;
    if (d.Dialog && IsWindow(d.Dialog)) DestroyWindow(d.Dialog);
    d.Dialog = nullptr;
    if (d.Fault) ShowFaultBox(ownerAlive ? d.Owner : nullptr);
    if (ownerAlive) SetForegroundWindow(d.Owner);
    if (d.Quit) PostQuitMessage(*d.Quit);
}

bool ModalMessage(TDialogState& d, UINT msg, WPARAM wp, LRESULT& result) {
    result = 0;
    switch (msg) {
        case WM_CLOSE:
            d.CloseRequested = true;
            return true;
        case WM_COMMAND:
            if (g_dialogCommandProbe) g_dialogCommandProbe(d.Dialog, wp);
            RememberFocus(d);
            if (LOWORD(wp) != IDCANCEL) return false;
            d.CloseRequested = true;
            return true;
        case WM_ACTIVATE:
            if (LOWORD(wp) == WA_INACTIVE || !d.LastFocus || !IsChild(d.Dialog, d.LastFocus))
                return false;
            SetFocus(d.LastFocus);
            return true;
        case DM_GETDEFID: {
            // A default on a hidden page or a disabled one is no default.
            HWND button = d.DefaultButton ? Descendant(d.Dialog, d.DefaultButton) : nullptr;
            if (button && IsWindowVisible(button) && IsWindowEnabled(button))
                result = MAKELRESULT(d.DefaultButton, DC_HASDEFID);
            return true;
        }
        default:
            return false;
    }
}

void NoteFault(TDialogState& d, TFault kind) noexcept {
    if (!d.Fault) d.Fault = kind;
    d.CloseRequested = true;
}

void ReportDialogFault(HWND window, TFault kind) noexcept {
    if (!g_runs) return;  // a window outside any dialog run: nothing to close
    HWND root = window ? GetAncestor(window, GA_ROOT) : nullptr;
    for (TDialogState* d = g_runs; d; d = d->Outer)
        if (d->Dialog && (d->Dialog == root || d->Dialog == window)) return NoteFault(*d, kind);
    // Not found: the window is still being created, inside the newest run.
    NoteFault(*g_runs, kind);
}
