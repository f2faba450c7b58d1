// The Send file dialog. Several files go as one YMODEM batch or raw one after
// another; XMODEM names no file and sends exactly one, so it is refused for a
// batch with a message rather than silently changed. The delays are checked
// on Send and named when out of range: a clamp the user never sees would send
// at a pace nobody chose.
#include "dialogs/uSendFileDlg.h"

#include <algorithm>
#include <span>

#include "base/uText.h"
#include "base/uWin.h"
#include "dialogs/uConnDlgKit.h"
#include "dialogs/uMsgBox.h"
#include "dialogs/uTheme.h"
#include "i18n/uI18n.h"
#include "settings/uSettings.h"

namespace {

constexpr int kClientWidth = 440;
constexpr int kClientHeight = 300;
constexpr int kDrop = 3;
constexpr int kProtocolYmodem = 3;
constexpr int32_t kNoNumber = -1;

constexpr TControlDef kControls[] = {
    {kAutoId, TCtl::GroupBox, 8, 8, 424, 124, [] { return Tr("sendfile.files", u"Files"); }},
    {kIdSendFileList, TCtl::ListBox, 20, 28, 400, 74},
    {kIdSendFileSize, TCtl::Label, 20, 108, 400, 16},
    {kAutoId, TCtl::GroupBox, 8, 140, 424, 112, [] { return Tr("sendfile.how", u"Transfer"); }},
    {kAutoId, TCtl::Label, 20, 162 + kDrop, 200, 16,
     [] { return Tr("sendfile.protocol", u"Protocol"); }},
    {kIdSendProtocol, TCtl::DropList, 230, 160, 190, 120},
    {kAutoId, TCtl::Label, 20, 192 + kDrop, 200, 16,
     [] { return Tr("sendfile.char_delay", u"Delay per character (ms)"); }},
    {kIdSendCharDelay, TCtl::NumberEdit, 230, 190, 80, 22},
    {kAutoId, TCtl::Label, 20, 222 + kDrop, 200, 16,
     [] { return Tr("sendfile.line_delay", u"Delay after each line (ms)"); }},
    {kIdSendLineDelay, TCtl::NumberEdit, 230, 220, 80, 22},
    {IDOK, TCtl::DefaultButton, 256, 264, 80, 26, [] { return Tr("sendfile.send", u"Send"); }},
    {IDCANCEL, TCtl::Button, 342, 264, 90, 26, [] { return Tr("action.cancel", u"Cancel"); }},
};

constexpr TTextFn kProtocols[] = {
    [] { return Tr("sendfile.raw", u"Raw"); },
    [] { return std::u16string(u"XMODEM"); },
    [] { return std::u16string(u"XMODEM-1K"); },
    [] { return std::u16string(u"YMODEM"); },
};

struct TSendFileState : TDialogState {
    std::u16string Section;
    std::vector<std::u16string> Paths;
    TSendFileSettings Choice;
    bool Accepted = false;
};

TSendFileState g_dlg;
bool g_open = false;

HWND Item(int id) { return GetDlgItem(g_dlg.Dialog, id); }

std::u16string BaseName(const std::u16string& path) {
    const size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

// -1 when the file cannot be read (gone, a folder, no access).
int64_t FileSize(const std::u16string& path) {
    WIN32_FILE_ATTRIBUTE_DATA a = {};
    if (!GetFileAttributesExW(W(path), GetFileExInfoStandard, &a) ||
        (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return -1;
    return int64_t(a.nFileSizeHigh) << 32 | a.nFileSizeLow;
}

std::u16string Bytes(int64_t n) {
    return TrFmt("sendfile.bytes", u"{0} bytes", {GroupedNumber(n)});
}

void FillFiles() {
    HWND list = Item(kIdSendFileList);
    int64_t total = 0;
    for (const std::u16string& path : g_dlg.Paths) {
        const int64_t size = FileSize(path);
        total += std::max<int64_t>(size, 0);
        const std::u16string item =
            BaseName(path) + u"  (" +
            (size < 0 ? Tr("sendfile.unreadable", u"cannot be read") : Bytes(size)) + u")";
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(item)));
    }
    const std::u16string summary =
        g_dlg.Paths.size() == 1 ? Bytes(total)
                                : TrFmt("sendfile.total", u"{0} files, {1} in all",
                                        {IntToText(int64_t(g_dlg.Paths.size())), Bytes(total)});
    SetWindowTextW(Item(kIdSendFileSize), W(summary));
}

void ApplyEnabling() {
    const bool raw = ComboSelection(Item(kIdSendProtocol)) == 0;
    EnableWindow(Item(kIdSendCharDelay), raw);
    EnableWindow(Item(kIdSendLineDelay), raw);
}

void LoadValues() {
    TSendFileSettings s = LoadSendFileSettings(g_dlg.Section);
    // A batch cannot go by XMODEM: the batch protocol is the likely wish.
    if (g_dlg.Paths.size() > 1 && s.Protocol != 0) s.Protocol = kProtocolYmodem;
    SendMessageW(Item(kIdSendProtocol), CB_SETCURSEL, WPARAM(s.Protocol), 0);
    SetFieldText(Item(kIdSendCharDelay), IntToText(s.CharDelayMs));
    SetFieldText(Item(kIdSendLineDelay), IntToText(s.LineDelayMs));
    SendMessageW(Item(kIdSendCharDelay), EM_LIMITTEXT, 9, 0);
    SendMessageW(Item(kIdSendLineDelay), EM_LIMITTEXT, 9, 0);
    ApplyEnabling();
}

bool Reject(int field, const std::u16string& text) {
    ShowWarning(g_dlg.Dialog, text);
    SetFocus(Item(field));
    SendMessageW(Item(field), EM_SETSEL, 0, -1);
    return false;
}

bool ReadDelay(int id, int32_t most, int32_t& value) {
    value = ParseFieldInt(FieldText(Item(id)), kNoNumber);
    if (value >= 0 && value <= most) return true;
    return Reject(id, TrFmt("error.send_delay", u"Enter a delay from {0} to {1} ms.",
                            {u"0", IntToText(most)}));
}

void OnSend() {
    TSendFileSettings s = LoadSendFileSettings(g_dlg.Section);
    s.Protocol = std::clamp(ComboSelection(Item(kIdSendProtocol)), 0, kMaxSendProtocol);
    if (g_dlg.Paths.size() > 1 && s.Protocol != 0 && s.Protocol != kProtocolYmodem) {
        ShowWarning(g_dlg.Dialog, Tr("error.send_batch",
                                     u"XMODEM sends a single file. Choose "
                                     u"YMODEM or Raw to send several."));
        SetFocus(Item(kIdSendProtocol));
        return;
    }
    // The delays of another protocol are kept as they are stored, whatever is typed.
    if (s.Protocol == 0 && (!ReadDelay(kIdSendCharDelay, kMaxSendCharDelayMs, s.CharDelayMs) ||
                            !ReadDelay(kIdSendLineDelay, kMaxSendLineDelayMs, s.LineDelayMs)))
        return;
    SaveSendFileSettings(g_dlg.Section, s);
    g_dlg.Choice = s;
    g_dlg.Accepted = true;
    g_dlg.CloseRequested = true;
}

LRESULT OnMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    LRESULT result = 0;
    if (ThemeMessageHook(g_dlg.Dark, hwnd, msg, wp, lp, result)) return result;
    if (ModalMessage(g_dlg, msg, wp, result)) return result;
    switch (msg) {
        case WM_SETTINGCHANGE:
        case WM_THEMECHANGED:
            g_dlg.Dark = DecideDark(GetWindow(hwnd, GW_OWNER));
            ApplyTheme(hwnd, g_dlg.Dark);
            return DefWindowProcW(hwnd, msg, wp, lp);
        case WM_COMMAND:
            if (LOWORD(wp) == kIdSendProtocol && HIWORD(wp) == CBN_SELCHANGE) ApplyEnabling();
            if (LOWORD(wp) == IDOK && HIWORD(wp) == BN_CLICKED) OnSend();
            return 0;
        default:
            return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

LRESULT CALLBACK SendFileDlgProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    return DialogGuarded(hwnd, [&] { return OnMessage(hwnd, msg, wp, lp); });
}

// Centred on the owner, with a client area of exactly the scaled size.
bool CreateDialogWindow() {
    TSendFileState& d = g_dlg;
    const int w = Scale(d, kClientWidth), h = Scale(d, kClientHeight);
    RECT around = {};
    if (!d.Owner || !GetWindowRect(d.Owner, &around))
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &around, 0);
    d.Dialog = CreateWindowExW(WS_EX_DLGMODALFRAME, kSendFileDlgClass,
                               W(Tr("sendfile.title", u"Send file")),
                               WS_POPUP | WS_BORDER | WS_SYSMENU | WS_DLGFRAME, 0, 0, w, h, d.Owner,
                               nullptr, ThisModule(), nullptr);
    if (!d.Dialog) return false;
    PinModule();
    PlaceDialog(d.Dialog, around, w, h);
    return true;
}

void RunDialog(HWND owner) {
    TSendFileState& d = g_dlg;
    d.Font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    d.Dpi = ScreenDpi();
    d.Dark = DecideDark(owner);
    d.DefaultButton = IDOK;
    d.NextAutoId = kIdSendFirstAuto;
    if (!CreateDialogWindow()) return;
    CreateControls(d, d.Dialog, kControls);
    AddComboItems(Item(kIdSendProtocol), std::span<const TTextFn>(kProtocols));
    FillFiles();
    LoadValues();
    ApplyTheme(d.Dialog, d.Dark);
    RunModal(d, Item(kIdSendProtocol));
}

}  // namespace

bool ShowSendFileDialog(HWND owner, const std::u16string& section,
                        const std::vector<std::u16string>& paths, TSendFileSettings& choice) {
    if (g_open) {
        if (g_dlg.Dialog) SetForegroundWindow(g_dlg.Dialog);
        return false;
    }
    if (paths.empty() || !RegisterDialogClass(kSendFileDlgClass, SendFileDlgProc)) return false;
    g_open = true;
    g_dlg = TSendFileState{};
    g_dlg.Section = section;
    g_dlg.Paths = paths;
    BeginModal(g_dlg, owner);
    GuardedVoid([&] { RunDialog(owner); }, [](TFault fault) { NoteFault(g_dlg, fault); });
    EndModal(g_dlg);
    const bool accepted = g_dlg.Accepted;
    if (accepted) choice = g_dlg.Choice;
    g_dlg = TSendFileState{};
    g_open = false;
    return accepted;
}
