// The properties dialog. One set of state, because at most one dialog exists;
// the controls come from constant tables (top part per kind, lower part
// shared), so the layout reads as data. The dialog runs its own message loop
// inside the caller's call with the owner disabled.
//
// Saving is checked by reading back: the store's session and connection
// writes report nothing, so after writing, the whole record (and for a
// connection its host, port and mode) is read again and compared. Only an
// exact match counts as saved; anything else tells the user and keeps the
// dialog open with the input as typed.
#include "dialogs/uPropDlg.h"

#include <algorithm>
#include <optional>
#include <span>

#include "base/uText.h"
#include "base/uWin.h"
#include "dialogs/uMsgBox.h"
#include "dialogs/uTheme.h"
#include "i18n/uI18n.h"
#include "settings/uLineChoices.h"
#include "settings/uSettings.h"

namespace {

enum class TKind : uint8_t {
    Group,
    Label,
    Edit,
    NumberEdit,
    DropList,
    DropDown,
    Check,
    Push,
    Default
};

// Coordinates in 96-DPI units; Y of the lower part counts from its top.
struct TCtlSpec {
    TKind Kind;
    int Id;  // 0 for labels and group boxes: they are numbered on creation
    int X, Y, W, H;
    const char* Key = nullptr;
    const char16_t* Default = nullptr;
};

struct TListSpec {
    int Id;
    std::span<const TChoice> Items;
};

constexpr int kClientWidth = 600;
constexpr int kSerialClientHeight = 410;
constexpr int kConnClientHeight = 372;
constexpr int kSerialLowerTop = 164;
constexpr int kConnLowerTop = 124;
constexpr int kLabelDrop = 3;  // labels sit a little lower than the field beside them
constexpr int kBaseDpi = 96;
constexpr int kHostLimit = 255;  // longer than any host name the resolver takes

constexpr int32_t kNoNumber = -1;
constexpr int32_t kNumberCap = 100000000;  // beyond every limit that is tested
constexpr int32_t kMinPort = 1;
constexpr int32_t kMaxPort = 65535;
constexpr int32_t kDefaultPort = 23;

constexpr TCtlSpec kSerialTop[] = {
    {TKind::Group, 0, 8, 8, 584, 148, "serial.group", u"Serial port"},
    {TKind::Label, 0, 22, 30, 110, 16, "serial.baud", u"Baud rate"},
    {TKind::DropDown, kIdBaud, 140, 28, 100, 220},
    {TKind::Label, 0, 310, 30, 90, 16, "serial.data", u"Data bits"},
    {TKind::DropList, kIdDataBits, 410, 28, 70, 150},
    {TKind::Label, 0, 22, 60, 110, 16, "serial.stop", u"Stop bits"},
    {TKind::DropList, kIdStopBits, 140, 58, 100, 150},
    {TKind::Label, 0, 310, 60, 90, 16, "serial.parity", u"Parity"},
    {TKind::DropList, kIdParity, 410, 58, 110, 180},
    {TKind::Label, 0, 22, 90, 110, 16, "serial.flow", u"Flow control"},
    {TKind::DropList, kIdFlow, 140, 88, 120, 180},
    {TKind::Check, kIdDtr, 22, 120, 270, 20, "serial.dtr_open", u"Enable DTR on open"},
    {TKind::Check, kIdRts, 310, 120, 270, 20, "serial.rts_open", u"Enable RTS on open"},
};

constexpr TCtlSpec kConnTop[] = {
    {TKind::Group, 0, 8, 8, 584, 108, "connection.group", u"Connection"},
    {TKind::Label, 0, 22, 30, 60, 16, "label.host", u"Host"},
    {TKind::Edit, kIdHost, 96, 28, 480, 22},
    {TKind::Label, 0, 22, 60, 60, 16, "label.port", u"Port"},
    {TKind::NumberEdit, kIdPort, 96, 58, 80, 22},
    {TKind::Label, 0, 22, 88, 60, 16, "label.mode", u"Mode"},
    {TKind::DropList, kIdMode, 96, 86, 480, 120},
};

constexpr TCtlSpec kLower[] = {
    {TKind::Group, 0, 8, 0, 584, 104, "open.group", u"On opening"},
    {TKind::Check, kIdConnectOnOpen, 22, 20, 550, 20, "open.connect",
     u"Connect automatically (Enter, F3)"},
    {TKind::Check, kIdConnectInQuickView, 42, 44, 530, 20, "open.quickview",
     u"Also connect in Quick View (Ctrl+Q)"},
    {TKind::Check, kIdAutoReconnect, 22, 72, 550, 20, "open.reconnect",
     u"Reconnect automatically after connection loss"},
    {TKind::Group, 0, 8, 112, 584, 80, "history.group", u"History"},
    {TKind::Check, kIdHistoryOn, 22, 132, 550, 20, "history.keep",
     u"Keep history when the terminal closes"},
    {TKind::Label, 0, 42, 160, 130, 16, "history.lines", u"Depth (lines)"},
    {TKind::NumberEdit, kIdHistoryLines, 182, 158, 80, 22},
    {TKind::Default, kIdOk, 380, 206, 80, 26, "action.ok", u"OK"},
    {TKind::Push, kIdCancel, 470, 206, 110, 26, "action.cancel", u"Cancel"},
};

constexpr TChoice kModeItems[] = {
    {"mode.raw", u"Raw (TCP)"},
    {"mode.telnet", u"Telnet with negotiation"},
    {"mode.telnet_filter", u"Telnet without negotiation (IAC filter)"}};

constexpr TListSpec kLists[] = {
    {kIdDataBits, kDataBitsChoices}, {kIdStopBits, kStopBitsChoices}, {kIdParity, kParityChoices},
    {kIdFlow, kFlowChoices},         {kIdMode, kModeItems},
};

struct TPropState {
    HWND Dialog = nullptr;
    HWND Owner = nullptr;
    bool IsConnection = false;
    std::u16string Name;
    std::u16string Section;
    int Dpi = kBaseDpi;
    HFONT Font = nullptr;
    bool Dark = false;
    bool CloseRequested = false;
    bool Saved = false;
    int AutoIds = 0;
};

TPropState g_prop;

int Scaled(int v) { return MulDiv(v, g_prop.Dpi, kBaseDpi); }
HWND Item(int id) { return GetDlgItem(g_prop.Dialog, id); }

std::u16string TextOf(int id) {
    HWND h = Item(id);
    const int n = GetWindowTextLengthW(h);
    std::u16string s(size_t(std::max(n, 0)) + 1, u'\0');
    const int got = GetWindowTextW(h, reinterpret_cast<wchar_t*>(s.data()), n + 1);
    s.resize(size_t(std::max(got, 0)));
    return s;
}

void SetText(int id, const std::u16string& text) { SetWindowTextW(Item(id), W(text)); }
bool Checked(int id) { return IsDlgButtonChecked(g_prop.Dialog, id) == BST_CHECKED; }
void SetChecked(int id, bool on) { CheckDlgButton(g_prop.Dialog, id, on ? BST_CHECKED : 0); }
int Selection(int id) { return int(SendMessageW(Item(id), CB_GETCURSEL, 0, 0)); }
void Select(int id, int index) { SendMessageW(Item(id), CB_SETCURSEL, WPARAM(index), 0); }

// A number typed into a field: blanks and control characters around it are
// ignored; anything but digits inside gives kNoNumber.
int32_t NumberFrom(std::u16string_view text) {
    const std::u16string t = Trim(text);
    if (t.empty()) return kNoNumber;
    int32_t v = 0;
    for (char16_t c : t) {
        if (c < u'0' || c > u'9') return kNoNumber;
        if (v < kNumberCap) v = v * 10 + (c - u'0');
    }
    return v;
}

int ScreenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : kBaseDpi;
    if (screen) ReleaseDC(nullptr, screen);
    return std::max(dpi, kBaseDpi);
}

// ---- building ----------------------------------------------------------

HWND CreateControl(const TCtlSpec& c, int top) {
    const wchar_t* cls = L"BUTTON";
    DWORD style = WS_CHILD | WS_VISIBLE, ex = 0;
    int id = c.Id, y = top + c.Y;
    switch (c.Kind) {
        case TKind::Group:
            style |= BS_GROUPBOX;
            id = kIdFirstAuto + g_prop.AutoIds++;
            break;
        case TKind::Label:
            cls = L"STATIC";
            y += kLabelDrop;
            id = kIdFirstAuto + g_prop.AutoIds++;
            break;
        case TKind::Edit:
        case TKind::NumberEdit:
            cls = L"EDIT";
            ex = WS_EX_CLIENTEDGE;
            style |= WS_TABSTOP | ES_AUTOHSCROLL | (c.Kind == TKind::NumberEdit ? ES_NUMBER : 0);
            break;
        case TKind::DropList:
        case TKind::DropDown:
            cls = L"COMBOBOX";
            style |= WS_VSCROLL | WS_TABSTOP |
                     (c.Kind == TKind::DropList ? CBS_DROPDOWNLIST : CBS_DROPDOWN);
            break;
        case TKind::Check:
            style |= BS_AUTOCHECKBOX | WS_TABSTOP;
            break;
        case TKind::Push:
        case TKind::Default:
            style |= WS_TABSTOP | (c.Kind == TKind::Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
            break;
    }
    const std::u16string text = c.Key ? Tr(c.Key, c.Default) : std::u16string();
    HWND h =
        CreateWindowExW(ex, cls, W(text), style, Scaled(c.X), Scaled(y), Scaled(c.W), Scaled(c.H),
                        g_prop.Dialog, reinterpret_cast<HMENU>(INT_PTR(id)), ThisModule(), nullptr);
    if (h) SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(g_prop.Font), TRUE);
    return h;
}

void CreateControls() {
    const std::span<const TCtlSpec> top = g_prop.IsConnection
                                              ? std::span<const TCtlSpec>(kConnTop)
                                              : std::span<const TCtlSpec>(kSerialTop);
    for (const auto& c : top) CreateControl(c, 0);
    const int lowerTop = g_prop.IsConnection ? kConnLowerTop : kSerialLowerTop;
    for (const auto& c : kLower) CreateControl(c, lowerTop);
    if (HWND baud = Item(kIdBaud))
        for (int32_t rate : kBaudRates)
            SendMessageW(baud, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(IntToText(rate))));
    for (const auto& list : kLists) {
        HWND combo = Item(list.Id);
        if (!combo) continue;
        for (const auto& item : list.Items) {
            const std::u16string text = item.Key ? Tr(item.Key, item.Text) : item.Text;
            SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(text)));
        }
    }
    if (HWND host = Item(kIdHost)) SendMessageW(host, EM_LIMITTEXT, kHostLimit, 0);
}

// The client area gets exactly the scaled size; the frame is measured on the
// created window. Centred on the owner, kept on the owner's monitor.
bool CreateDialogWindow(const std::u16string& title) {
    const int w = Scaled(kClientWidth);
    const int h = Scaled(g_prop.IsConnection ? kConnClientHeight : kSerialClientHeight);
    RECT around = {};
    if (!g_prop.Owner || !GetWindowRect(g_prop.Owner, &around))
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &around, 0);
    const std::u16string caption = TrFmt("properties.title", u"Properties - {0}", {title});
    // Not WS_CLIPCHILDREN: group boxes are transparent, and their inside is
    // painted only by the dialog's own background.
    g_prop.Dialog = CreateWindowExW(
        WS_EX_DLGMODALFRAME, kPropDlgClass, W(caption),
        WS_POPUP | WS_BORDER | WS_SYSMENU | WS_DLGFRAME, (around.left + around.right - w) / 2,
        (around.top + around.bottom - h) / 2, w, h, g_prop.Owner, nullptr, ThisModule(), nullptr);
    if (!g_prop.Dialog) return false;
    RECT outer, client;
    GetWindowRect(g_prop.Dialog, &outer);
    GetClientRect(g_prop.Dialog, &client);
    const int ow = w + (outer.right - outer.left) - (client.right - client.left);
    const int oh = h + (outer.bottom - outer.top) - (client.bottom - client.top);
    int x = (around.left + around.right - ow) / 2, y = (around.top + around.bottom - oh) / 2;
    MONITORINFO mi = {};
    mi.cbSize = sizeof mi;
    if (GetMonitorInfoW(MonitorFromRect(&around, MONITOR_DEFAULTTONEAREST), &mi)) {
        x = std::max<int>(mi.rcWork.left, std::min<int>(x, mi.rcWork.right - ow));
        y = std::max<int>(mi.rcWork.top, std::min<int>(y, mi.rcWork.bottom - oh));
    }
    SetWindowPos(g_prop.Dialog, nullptr, x, y, ow, oh, SWP_NOZORDER | SWP_NOACTIVATE);
    return true;
}

// ---- values ------------------------------------------------------------

void ApplyEnabling() {
    EnableWindow(Item(kIdConnectInQuickView), Checked(kIdConnectOnOpen));
    EnableWindow(Item(kIdHistoryLines), Checked(kIdHistoryOn));
    if (g_prop.IsConnection) return;
    const int flow = Selection(kIdFlow);
    EnableWindow(Item(kIdRts), flow != kFlowRtsCts);
    EnableWindow(Item(kIdDtr), flow != kFlowDtrDsr);
}

void LoadValues() {
    const TSessionSettings s = LoadSessionSettings(g_prop.Section);
    if (g_prop.IsConnection) {
        TConnInfo c;
        if (!LoadConnection(g_prop.Name, c))
            c = TConnInfo{g_prop.Name, u"", kDefaultPort, kModeTelnet};
        SetText(kIdHost, c.Host);
        SetText(kIdPort, IntToText(c.Port));
        Select(kIdMode, c.Mode);
    } else {
        SetText(kIdBaud, IntToText(s.Baud));
        Select(kIdDataBits, s.DataBits - kMinDataBits);
        Select(kIdStopBits, s.StopBits);
        Select(kIdParity, s.Parity);
        Select(kIdFlow, s.Flow);
        SetChecked(kIdDtr, s.DTR);
        SetChecked(kIdRts, s.RTS);
    }
    SetChecked(kIdConnectOnOpen, s.ConnectOnOpen);
    SetChecked(kIdConnectInQuickView, s.ConnectInQuickView);
    SetChecked(kIdAutoReconnect, s.AutoReconnect);
    SetChecked(kIdHistoryOn, s.HistoryOn);
    SetText(kIdHistoryLines, IntToText(s.HistoryLines));
    ApplyEnabling();
}

// Shows the warning, puts the focus on the field it is about, and gives false.
bool Reject(int field, const std::u16string& text) {
    ShowWarning(g_prop.Dialog, text);
    SetFocus(Item(field));
    return false;
}

bool ReadConnectionForm(TConnInfo& c) {
    c.Name = g_prop.Name;
    c.Host = Trim(TextOf(kIdHost));
    if (c.Host.empty())
        return Reject(kIdHost, Tr("error.host", u"Enter a host name or IPv4 address."));
    c.Port = NumberFrom(TextOf(kIdPort));
    if (c.Port < kMinPort || c.Port > kMaxPort)
        return Reject(kIdPort, Tr("error.port", u"Port must be between 1 and 65535."));
    const int mode = Selection(kIdMode);
    c.Mode = mode >= kModeRaw && mode <= kModeTelnetFilter ? mode : kModeTelnet;
    return true;
}

bool ReadSerialForm(TSessionSettings& s) {
    const int32_t baud = NumberFrom(TextOf(kIdBaud));
    if (baud < kMinBaud || baud > kMaxBaud)
        return Reject(kIdBaud, Tr("error.baud", u"Baud rate must be between 50 and 12000000."));
    s.Baud = baud;
    // No selection keeps what is stored.
    if (const int i = Selection(kIdDataBits); i >= 0) s.DataBits = i + kMinDataBits;
    if (const int i = Selection(kIdStopBits); i >= 0) s.StopBits = i;
    if (const int i = Selection(kIdParity); i >= 0) s.Parity = i;
    if (const int i = Selection(kIdFlow); i >= 0) s.Flow = i;
    s.DTR = Checked(kIdDtr);
    s.RTS = Checked(kIdRts);
    return true;
}

bool ReadForm(TSessionSettings& s, TConnInfo& c) {
    if (g_prop.IsConnection ? !ReadConnectionForm(c) : !ReadSerialForm(s)) return false;
    // A disabled box keeps and saves its tick.
    s.ConnectOnOpen = Checked(kIdConnectOnOpen);
    s.ConnectInQuickView = Checked(kIdConnectInQuickView);
    s.AutoReconnect = Checked(kIdAutoReconnect);
    s.HistoryOn = Checked(kIdHistoryOn);
    if (!s.HistoryOn) return true;  // the stored depth stays, whatever is typed
    const int32_t depth = NumberFrom(TextOf(kIdHistoryLines));
    if (depth < kMinHistoryLines || depth > kMaxHistoryLines)
        return Reject(kIdHistoryLines,
                      TrFmt("error.history", u"History depth must be between {0} and {1} lines.",
                            {IntToText(kMinHistoryLines), IntToText(kMaxHistoryLines)}));
    s.HistoryLines = depth;
    return true;
}

bool SaveChecked(const TSessionSettings& s, const TConnInfo& c) {
    SaveSessionSettings(g_prop.Section, s);
    if (!(LoadSessionSettings(g_prop.Section) == s)) return false;
    if (!g_prop.IsConnection) return true;
    SaveConnection(c);
    TConnInfo back;
    return LoadConnection(c.Name, back) && back == c;
}

void OnOk() {
    TSessionSettings s = LoadSessionSettings(g_prop.Section);
    TConnInfo c;
    if (!ReadForm(s, c)) return;
    if (!SaveChecked(s, c)) {
        ShowWarning(g_prop.Dialog, TrFmt("error.save_settings",
                                         u"Could not save settings. Check write permission: {0}",
                                         {SettingsPath()}));
        return;
    }
    g_prop.Saved = true;
    g_prop.CloseRequested = true;
}

// ---- window procedure ----------------------------------------------------

void OnCommand(int id, int code) {
    switch (id) {
        case IDCANCEL:
        case kIdCancel:
            g_prop.CloseRequested = true;
            break;
        case kIdFlow:
            if (code == CBN_SELCHANGE) ApplyEnabling();
            break;
        case kIdConnectOnOpen:
        case kIdHistoryOn:
            if (code == BN_CLICKED) ApplyEnabling();
            break;
        case kIdOk:
            if (code == BN_CLICKED) OnOk();
            break;
        default:
            break;
    }
}

void OnThemeChanged(HWND hwnd) {
    g_prop.Dark = DecideDark(GetWindow(hwnd, GW_OWNER));
    ApplyTheme(hwnd, g_prop.Dark);
}

LRESULT CALLBACK PropDlgProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    LRESULT themed = 0;
    if (ThemeMessageHook(g_prop.Dark, hwnd, msg, wp, lp, themed)) return themed;
    switch (msg) {
        case WM_CLOSE:
            g_prop.CloseRequested = true;
            return 0;
        case WM_SETTINGCHANGE:
        case WM_THEMECHANGED:
            OnThemeChanged(hwnd);
            return DefWindowProcW(hwnd, msg, wp, lp);
        case WM_COMMAND:
            OnCommand(LOWORD(wp), HIWORD(wp));
            return 0;
        case DM_GETDEFID:  // Enter in a field presses OK
            return MAKELRESULT(kIdOk, DC_HASDEFID);
        case WM_DESTROY:  // also when the owner goes first: the loop must end
            if (hwnd == g_prop.Dialog) g_prop.CloseRequested = true;
            return 0;
        default:
            return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

bool RegisterDialogClass() {
    static bool registered = false;
    if (registered) return true;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = PropDlgProc;
    wc.hInstance = ThisModule();
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kPropDlgClass;
    // Already there: left by an earlier load of this library at the same address.
    registered = RegisterClassExW(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    return registered;
}

// As in a system dialog: a push button with the focus is the default one
// (Enter presses it); elsewhere OK is. The keyboard navigation of a window
// that is not a system dialog moves the default away but never back.
void SyncDefaultButton() {
    HWND focus = GetFocus();
    HWND cancel = Item(kIdCancel);
    const bool onCancel = focus && focus == cancel;
    auto set = [](HWND button, bool isDefault) {
        const LONG_PTR type = GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK;
        const LONG_PTR wanted = isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        if (button && type != wanted) SendMessageW(button, BM_SETSTYLE, wanted, TRUE);
    };
    set(Item(kIdOk), !onCancel);
    set(cancel, onCancel);
}

// Ends when the dialog asks to close; a WM_QUIT ends it too and its exit code
// is handed back so that the caller can post it again for the host's loop.
std::optional<int> RunModalLoop() {
    MSG msg;
    while (!g_prop.CloseRequested) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) return int(msg.wParam);
        if (got == -1) break;
        if (IsDialogMessageW(g_prop.Dialog, &msg)) {
            if (msg.message == WM_KEYDOWN) SyncDefaultButton();
        } else {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return std::nullopt;
}

}  // namespace

bool ShowPropertiesDialog(HWND owner, int32_t kind, const std::u16string& name,
                          const std::u16string& title) {
    if (g_prop.Dialog) {
        SetForegroundWindow(g_prop.Dialog);
        return false;
    }
    if ((kind != 0 && kind != 1) || name.empty() || !RegisterDialogClass()) return false;
    g_prop = TPropState{};
    g_prop.Owner = owner;
    g_prop.IsConnection = kind == 1;
    g_prop.Name = name;
    g_prop.Section = SessionSection(kind, name);
    g_prop.Font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    g_prop.Dpi = ScreenDpi();
    g_prop.Dark = DecideDark(owner);
    if (!CreateDialogWindow(title)) return false;

    CreateControls();
    LoadValues();
    ApplyTheme(g_prop.Dialog, g_prop.Dark);
    ShowWindow(g_prop.Dialog, SW_SHOW);
    // An owner someone else had disabled stays disabled afterwards.
    const bool ownerWasEnabled = owner && !EnableWindow(owner, FALSE);
    SetFocus(Item(g_prop.IsConnection ? kIdHost : kIdBaud));

    const std::optional<int> quit = RunModalLoop();

    if (ownerWasEnabled) EnableWindow(owner, TRUE);
    if (IsWindow(g_prop.Dialog)) DestroyWindow(g_prop.Dialog);
    g_prop.Dialog = nullptr;
    if (owner && IsWindow(owner)) SetForegroundWindow(owner);
    if (quit) PostQuitMessage(*quit);
    return g_prop.Saved;
}
