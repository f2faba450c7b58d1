// The properties dialog. One set of state, because at most one dialog exists;
// the controls come from constant tables of the dialogs' kit (top part per
// kind, lower part shared), so the layout reads as data. The dialog runs the
// kit's modal loop inside the caller's call with the owner disabled.
//
// Saving is checked by reading back: the store's session and connection
// writes report nothing, so after writing, the whole record (and for a
// connection its host, port and mode) is read again and compared. Only an
// exact match counts as saved; anything else tells the user and keeps the
// dialog open with the input as typed. The host is saved as the profile
// functions will read it (no blanks or quotes around it), so a host the user
// typed in quotes is saved, not reported as a failed write.
//
// The stored commands sit in a column of their own beside the rest (the
// dialog stays low enough for a 144-DPI laptop screen): a list of the ten
// and the fields of the selected one. The fields edit a copy of the ten;
// nothing is checked until OK, which then shows the first command that
// cannot be saved or sent (a bad repeat interval, a line its send mode
// refuses) with the fault selected.
#include "dialogs/uPropDlg.h"

#include <algorithm>
#include <array>
#include <span>

#include "base/uText.h"
#include "base/uWin.h"
#include "dialogs/uConnDlgKit.h"
#include "dialogs/uMsgBox.h"
#include "dialogs/uTheme.h"
#include "i18n/uI18n.h"
#include "settings/uLineChoices.h"
#include "settings/uSettings.h"
#include "terminal/uSendText.h"

namespace {

struct TListDef {
    int Id;
    std::span<const TChoice> Items;
};

constexpr int kClientWidth = 832;
constexpr int kSerialClientHeight = 410;
constexpr int kConnClientHeight = 372;
constexpr int kSerialLowerTop = 164;
constexpr int kConnLowerTop = 124;
constexpr int kDrop = 3;  // labels sit a little lower than the field beside them
constexpr int kBaseDpi = 96;

constexpr int32_t kNoNumber = -1;
constexpr int32_t kMinPort = 1;
constexpr int32_t kMaxPort = 65535;
constexpr int32_t kDefaultPort = 23;

constexpr TControlDef kSerialTop[] = {
    {kAutoId, TCtl::GroupBox, 8, 8, 584, 148, [] { return Tr("serial.group", u"Serial port"); }},
    {kAutoId, TCtl::Label, 22, 30 + kDrop, 110, 16, [] { return Tr("serial.baud", u"Baud rate"); }},
    {kIdBaud, TCtl::DropDown, 140, 28, 100, 220},
    {kAutoId, TCtl::Label, 310, 30 + kDrop, 90, 16, [] { return Tr("serial.data", u"Data bits"); }},
    {kIdDataBits, TCtl::DropList, 410, 28, 70, 150},
    {kAutoId, TCtl::Label, 22, 60 + kDrop, 110, 16, [] { return Tr("serial.stop", u"Stop bits"); }},
    {kIdStopBits, TCtl::DropList, 140, 58, 100, 150},
    {kAutoId, TCtl::Label, 310, 60 + kDrop, 90, 16, [] { return Tr("serial.parity", u"Parity"); }},
    {kIdParity, TCtl::DropList, 410, 58, 110, 180},
    {kAutoId, TCtl::Label, 22, 90 + kDrop, 110, 16,
     [] { return Tr("serial.flow", u"Flow control"); }},
    {kIdFlow, TCtl::DropList, 140, 88, 120, 180},
    {kIdDtr, TCtl::CheckBox, 22, 120, 270, 20,
     [] { return Tr("serial.dtr_open", u"Enable DTR on open"); }},
    {kIdRts, TCtl::CheckBox, 310, 120, 270, 20,
     [] { return Tr("serial.rts_open", u"Enable RTS on open"); }},
};

constexpr TControlDef kConnTop[] = {
    {kAutoId, TCtl::GroupBox, 8, 8, 584, 108, [] { return Tr("connection.group", u"Connection"); }},
    {kAutoId, TCtl::Label, 22, 30 + kDrop, 60, 16, [] { return Tr("label.host", u"Host"); }},
    {kIdHost, TCtl::Edit, 96, 28, 480, 22},
    {kAutoId, TCtl::Label, 22, 60 + kDrop, 60, 16, [] { return Tr("label.port", u"Port"); }},
    {kIdPort, TCtl::NumberEdit, 96, 58, 80, 22},
    {kAutoId, TCtl::Label, 22, 88 + kDrop, 60, 16, [] { return Tr("label.mode", u"Mode"); }},
    {kIdMode, TCtl::DropList, 96, 86, 480, 120},
};

// Y counts from the top of the lower part.
constexpr TControlDef kLower[] = {
    {kAutoId, TCtl::GroupBox, 8, 0, 584, 104, [] { return Tr("open.group", u"On opening"); }},
    {kIdConnectOnOpen, TCtl::CheckBox, 22, 20, 550, 20,
     [] { return Tr("open.connect", u"Connect automatically (Enter, F3)"); }},
    {kIdConnectInQuickView, TCtl::CheckBox, 42, 44, 530, 20,
     [] { return Tr("open.quickview", u"Also connect in Quick View (Ctrl+Q)"); }},
    {kIdAutoReconnect, TCtl::CheckBox, 22, 72, 550, 20,
     [] { return Tr("open.reconnect", u"Reconnect automatically after connection loss"); }},
    {kAutoId, TCtl::GroupBox, 8, 112, 584, 80, [] { return Tr("history.group", u"History"); }},
    {kIdHistoryOn, TCtl::CheckBox, 22, 132, 550, 20,
     [] { return Tr("history.keep", u"Keep history when the terminal closes"); }},
    {kAutoId, TCtl::Label, 42, 160 + kDrop, 130, 16,
     [] { return Tr("history.lines", u"Depth (lines)"); }},
    {kIdHistoryLines, TCtl::NumberEdit, 182, 158, 80, 22},
};

// Right of the rest, from the top of the dialog.
constexpr TControlDef kCommands[] = {
    {kAutoId, TCtl::GroupBox, 600, 8, 224, 312,
     [] { return Tr("commands.group", u"Commands (Alt+1 ... Alt+0)"); }},
    {kIdCommandList, TCtl::ListBox, 612, 28, 200, 152},
    {kAutoId, TCtl::Label, 612, 186 + kDrop, 200, 16, [] { return Tr("commands.text", u"Text"); }},
    {kIdCommandText, TCtl::Edit, 612, 204, 200, 22},
    {kAutoId, TCtl::Label, 612, 234 + kDrop, 64, 16,
     [] { return Tr("commands.mode", u"Send as"); }},
    {kIdCommandMode, TCtl::DropList, 680, 232, 132, 120},
    {kAutoId, TCtl::Label, 612, 262 + kDrop, 112, 16,
     [] { return Tr("commands.repeat", u"Repeat every (ms)"); }},
    {kIdCommandRepeat, TCtl::NumberEdit, 730, 260, 82, 22},
    {kAutoId, TCtl::Label, 612, 290, 200, 16,
     [] { return Tr("commands.repeat_hint", u"0: send once, or 100 to 3600000"); }},
};

// Y counts from the top of the lower part, X from the dialog's right edge.
constexpr TControlDef kButtons[] = {
    {kIdOk, TCtl::DefaultButton, -208, 206, 80, 26, [] { return Tr("action.ok", u"OK"); }},
    {kIdCancel, TCtl::Button, -118, 206, 110, 26, [] { return Tr("action.cancel", u"Cancel"); }},
};

constexpr TListDef kLists[] = {
    {kIdDataBits, kDataBitsChoices}, {kIdStopBits, kStopBitsChoices},
    {kIdParity, kParityChoices},     {kIdFlow, kFlowChoices},
    {kIdMode, kModeChoices},         {kIdCommandMode, kSendModeChoices},
};

struct TPropState : TDialogState {
    bool IsConnection = false;
    std::u16string Name;
    std::u16string Section;
    bool Saved = false;
    // The ten commands as edited; the repeat as typed, checked at OK.
    std::array<TStoredCommand, kCommandCount> Commands{};
    std::array<std::u16string, kCommandCount> RepeatTexts{};
    int Current = -1;      // the command in the fields
    bool Showing = false;  // the fields are being filled, not typed into
};

TPropState g_prop;
bool g_open = false;  // from the first step of opening to the last of closing

HWND Item(int id) { return GetDlgItem(g_prop.Dialog, id); }
std::u16string TextOf(int id) { return FieldText(Item(id)); }
int32_t NumberOf(int id) { return ParseFieldInt(TextOf(id), kNoNumber); }
void SetText(int id, const std::u16string& text) { SetFieldText(Item(id), text); }
bool Checked(int id) { return IsDlgButtonChecked(g_prop.Dialog, id) == BST_CHECKED; }
void SetChecked(int id, bool on) { CheckDlgButton(g_prop.Dialog, id, on ? BST_CHECKED : 0); }
int Selection(int id) { return ComboSelection(Item(id)); }
void Select(int id, int index) { SendMessageW(Item(id), CB_SETCURSEL, WPARAM(index), 0); }

// ---- building ----------------------------------------------------------

void BuildControls() {
    TPropState& p = g_prop;
    using TDefs = std::span<const TControlDef>;
    CreateControls(p, p.Dialog, p.IsConnection ? TDefs(kConnTop) : TDefs(kSerialTop));
    const int lowerTop = p.IsConnection ? kConnLowerTop : kSerialLowerTop;
    CreateControls(p, p.Dialog, kLower, lowerTop);
    CreateControls(p, p.Dialog, kCommands);
    for (TControlDef button : kButtons) {
        button.X += kClientWidth;
        CreateControls(p, p.Dialog, std::span(&button, 1), lowerTop);
    }
    if (HWND baud = Item(kIdBaud))
        for (int32_t rate : kBaudRates)
            SendMessageW(baud, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(IntToText(rate))));
    for (const auto& list : kLists)
        if (HWND combo = Item(list.Id)) AddComboItems(combo, list.Items);
    if (HWND host = Item(kIdHost)) SendMessageW(host, EM_LIMITTEXT, kMaxHostLength, 0);
    SendMessageW(Item(kIdCommandText), EM_LIMITTEXT, kMaxCommandLength, 0);
    SendMessageW(Item(kIdCommandRepeat), EM_LIMITTEXT, 7, 0);
}

// The client area gets exactly the scaled size; the frame is measured on the
// created window. Centred on the owner, kept on the owner's monitor.
bool CreateDialogWindow(const std::u16string& title) {
    TPropState& p = g_prop;
    const int w = Scale(p, kClientWidth);
    const int h = Scale(p, p.IsConnection ? kConnClientHeight : kSerialClientHeight);
    RECT around = {};
    if (!p.Owner || !GetWindowRect(p.Owner, &around))
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &around, 0);
    const std::u16string caption = TrFmt("properties.title", u"Properties - {0}", {title});
    // Not WS_CLIPCHILDREN: group boxes are transparent, and their inside is
    // painted only by the dialog's own background.
    p.Dialog = CreateWindowExW(
        WS_EX_DLGMODALFRAME, kPropDlgClass, W(caption),
        WS_POPUP | WS_BORDER | WS_SYSMENU | WS_DLGFRAME, (around.left + around.right - w) / 2,
        (around.top + around.bottom - h) / 2, w, h, p.Owner, nullptr, ThisModule(), nullptr);
    if (!p.Dialog) return false;
    PinModule();  // the window must not outlive the code behind it
    PlaceDialog(p.Dialog, around, w, h);
    return true;
}

// ---- stored commands -------------------------------------------------------

// "1  text" .. "10  text": the number is the Alt key (10 is Alt+0).
std::u16string CommandItem(int i) {
    return IntToText(i + 1) + u"  " + g_prop.Commands[size_t(i)].Text;
}

void SetCommandItem(int i) {
    HWND list = Item(kIdCommandList);
    SendMessageW(list, LB_DELETESTRING, WPARAM(i), 0);
    SendMessageW(list, LB_INSERTSTRING, WPARAM(i), reinterpret_cast<LPARAM>(W(CommandItem(i))));
    SendMessageW(list, LB_SETCURSEL, WPARAM(g_prop.Current), 0);
}

void ShowCommand(int i) {
    TPropState& p = g_prop;
    if (i < 0 || i >= kCommandCount) return;
    p.Current = i;
    p.Showing = true;
    SendMessageW(Item(kIdCommandList), LB_SETCURSEL, WPARAM(i), 0);
    SetText(kIdCommandText, p.Commands[size_t(i)].Text);
    Select(kIdCommandMode, p.Commands[size_t(i)].Mode);
    SetText(kIdCommandRepeat, p.RepeatTexts[size_t(i)]);
    p.Showing = false;
}

// A field of the shown command changed.
void TakeCommandField(int id) {
    TPropState& p = g_prop;
    if (p.Showing || p.Current < 0) return;
    TStoredCommand& c = p.Commands[size_t(p.Current)];
    if (id == kIdCommandText) {
        c.Text = TextOf(kIdCommandText);
        SetCommandItem(p.Current);
    } else if (id == kIdCommandMode) {
        c.Mode = NormalizeSendMode(Selection(kIdCommandMode));
    } else {
        p.RepeatTexts[size_t(p.Current)] = TextOf(kIdCommandRepeat);
    }
}

void LoadCommands(const TSessionSettings& s) {
    TPropState& p = g_prop;
    p.Commands = s.Commands;
    for (int i = 0; i < kCommandCount; ++i) {
        p.RepeatTexts[size_t(i)] = IntToText(s.Commands[size_t(i)].RepeatMs);
        SendMessageW(Item(kIdCommandList), LB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(W(CommandItem(i))));
    }
    ShowCommand(0);
}

bool Reject(int field, const std::u16string& text);

// The ten as they are saved, or false after showing the first that cannot be.
bool ReadCommands(TSessionSettings& s) {
    TPropState& p = g_prop;
    for (int i = 0; i < kCommandCount; ++i) {
        TStoredCommand c = p.Commands[size_t(i)];
        c.Text = StoredCommandText(c.Text);
        const std::u16string number = IntToText(i + 1);
        const std::u16string typed = Trim(p.RepeatTexts[size_t(i)]);
        c.RepeatMs = typed.empty() ? 0 : ParseFieldInt(typed, kNoNumber);
        if (c.RepeatMs != 0 && (c.RepeatMs < kMinRepeatMs || c.RepeatMs > kMaxRepeatMs)) {
            ShowCommand(i);
            return Reject(kIdCommandRepeat,
                          TrFmt("error.command_repeat",
                                u"Command {0}: repeat every {1} to {2} ms, or 0 to send it once.",
                                {number, IntToText(kMinRepeatMs), IntToText(kMaxRepeatMs)}));
        }
        if (c.Text.empty()) {
            s.Commands[size_t(i)] = TStoredCommand{};  // nothing to keep of it
            continue;
        }
        const TSendBytes bytes = EncodeSendLine(c.Text, c.Mode, s.Charset);
        if (!bytes.Ok) {
            ShowCommand(i);
            Reject(kIdCommandText,
                   TrFmt("error.command_text",
                         u"Command {0} cannot be sent as {1}: see character {2}.",
                         {number, Tr(kSendModeChoices[c.Mode].Key, kSendModeChoices[c.Mode].Text),
                          IntToText(bytes.ErrorPos + 1)}));
            SendMessageW(Item(kIdCommandText), EM_SETSEL, WPARAM(bytes.ErrorPos),
                         LPARAM(bytes.ErrorPos + std::max(bytes.ErrorLen, 1)));
            return false;
        }
        s.Commands[size_t(i)] = c;
    }
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
    LoadCommands(s);
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
    c.Host = CleanHost(TextOf(kIdHost));
    if (auto problem = HostProblem(c.Host); !problem.empty()) return Reject(kIdHost, problem);
    c.Port = NumberOf(kIdPort);
    if (c.Port < kMinPort || c.Port > kMaxPort)
        return Reject(kIdPort, Tr("error.port", u"Port must be between 1 and 65535."));
    const int mode = Selection(kIdMode);
    c.Mode = mode >= kModeRaw && mode <= kModeTelnetFilter ? mode : kModeTelnet;
    return true;
}

bool ReadSerialForm(TSessionSettings& s) {
    const int32_t baud = NumberOf(kIdBaud);
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
    if (s.HistoryOn) {  // otherwise the stored depth stays, whatever is typed
        const int32_t depth = NumberOf(kIdHistoryLines);
        if (depth < kMinHistoryLines || depth > kMaxHistoryLines)
            return Reject(
                kIdHistoryLines,
                TrFmt("error.history", u"History depth must be between {0} and {1} lines.",
                      {IntToText(kMinHistoryLines), IntToText(kMaxHistoryLines)}));
        s.HistoryLines = depth;
    }
    return ReadCommands(s);
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
        case kIdCommandList:
            if (code == LBN_SELCHANGE)
                ShowCommand(int(SendMessageW(Item(kIdCommandList), LB_GETCURSEL, 0, 0)));
            break;
        case kIdCommandText:
        case kIdCommandRepeat:
            if (code == EN_CHANGE) TakeCommandField(id);
            break;
        case kIdCommandMode:
            if (code == CBN_SELCHANGE) TakeCommandField(id);
            break;
        default:
            break;
    }
}

void OnThemeChanged(HWND hwnd) {
    g_prop.Dark = DecideDark(GetWindow(hwnd, GW_OWNER));
    ApplyTheme(hwnd, g_prop.Dark);
}

LRESULT OnMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    LRESULT result = 0;
    if (ThemeMessageHook(g_prop.Dark, hwnd, msg, wp, lp, result)) return result;
    if (ModalMessage(g_prop, msg, wp, result)) return result;
    switch (msg) {
        case WM_SETTINGCHANGE:
        case WM_THEMECHANGED:
            OnThemeChanged(hwnd);
            return DefWindowProcW(hwnd, msg, wp, lp);
        case WM_COMMAND:
            OnCommand(LOWORD(wp), HIWORD(wp));
            return 0;
        default:
            return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

LRESULT CALLBACK PropDlgProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    return DialogGuarded(hwnd, [&] { return OnMessage(hwnd, msg, wp, lp); });
}

void RunDialog(HWND owner, const std::u16string& title) {
    TPropState& p = g_prop;
    p.Font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    p.Dpi = ScreenDpi();
    p.Dark = DecideDark(owner);
    p.DefaultButton = kIdOk;
    p.NextAutoId = kIdFirstAuto;
    if (!CreateDialogWindow(title)) return;
    BuildControls();
    LoadValues();
    ApplyTheme(p.Dialog, p.Dark);
    RunModal(p, Item(p.IsConnection ? kIdHost : kIdBaud));
}

}  // namespace

bool ShowPropertiesDialog(HWND owner, int32_t kind, const std::u16string& name,
                          const std::u16string& title) {
    if (g_open) {
        if (g_prop.Dialog) SetForegroundWindow(g_prop.Dialog);
        return false;
    }
    if ((kind != 0 && kind != 1) || name.empty() ||
        !RegisterDialogClass(kPropDlgClass, PropDlgProc))
        return false;
    g_open = true;
    g_prop = TPropState{};
    BeginModal(g_prop, owner);
    GuardedVoid(
        [&] {
            g_prop.IsConnection = kind == 1;
            g_prop.Name = name;
            g_prop.Section = SessionSection(kind, name);
            RunDialog(owner, title);
        },
        [](TFault fault) { NoteFault(g_prop, fault); });
    EndModal(g_prop);
    const bool saved = g_prop.Saved;
    g_prop = TPropState{};  // no text of this opening stays behind
    g_open = false;
    return saved;
}
