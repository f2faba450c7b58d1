// The terminal window object: construction, window classes, the main window
// procedure and its handlers, fonts and colours from the settings, the
// control keyboard subclass, and the path from a toolbar change to the port
// settings and the settings file.
#include "termwnd/uTermWnd.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>

#include "backend/uSerialBackend.h"
#include "base/uBarrier.h"
#include "base/uText.h"
#include "i18n/uI18n.h"
#include "settings/uSettings.h"
#include "terminal/uSendText.h"

static_assert(sizeof(NONCLIENTMETRICSW) == 504, "NONCLIENTMETRICSW with the padded border width");

namespace {

// Set by the creator just around CreateWindowExW: WM_NCCREATE attaches the
// object to its new window through it.
TTermWindow* gUnderConstruction = nullptr;

TTermWindow* AttachedObject(HWND hwnd) {
    return reinterpret_cast<TTermWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

}  // namespace

// --- Free helpers ---

bool ParseBaudText(std::u16string_view text, int32_t& baud) {
    const std::u16string t = Trim(text.substr(0, kBaudTextMax));
    if (t.empty()) return false;
    int64_t value = 0;
    for (char16_t ch : t) {
        if (ch < u'0' || ch > u'9') return false;
        if (value < 100000000) value = value * 10 + (ch - u'0');
    }
    if (value < kMinBaud || value > kMaxBaud) return false;
    baud = int32_t(value);
    return true;
}

// --- Object ---

TTermWindow::TTermWindow(HWND host) : hostWnd_(host), advance_(kAdvanceCount, charWidth_) {
    settings_ = DefaultSessionSettings();
    UseSystemClock(ownModel_);
    model_ = &ownModel_;
    historyPos_ = -1;
}

TTermWindow::~TTermWindow() {
    // Freed while its window still stands (the window normally goes first):
    // detach so no message reaches a dead object, then let the window go.
    if (mainWnd_ && IsWindow(mainWnd_)) {
        SetWindowLongPtrW(mainWnd_, GWLP_USERDATA, 0);
        if (outputWnd_) SetWindowLongPtrW(outputWnd_, GWLP_USERDATA, 0);
        KillTimer(mainWnd_, kTimerLines);
        KillTimer(mainWnd_, kTimerSettings);
        DestroyWindow(mainWnd_);
    }
    ReleaseBackend();
    LetGoSession();
}

bool TTermWindow::RegisterClasses() {
    static bool registered = false;
    if (registered) return true;
    WNDCLASSEXW main = {};
    main.cbSize = sizeof main;
    main.style = CS_HREDRAW | CS_VREDRAW;
    main.lpfnWndProc = MainProc;
    main.hInstance = ThisModule();
    main.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    main.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    main.lpszClassName = kTermWindowClass;
    WNDCLASSEXW output = {};
    output.cbSize = sizeof output;
    output.style = CS_DBLCLKS;
    output.lpfnWndProc = OutputProc;
    output.hInstance = ThisModule();
    output.hCursor = LoadCursorW(nullptr, IDC_IBEAM);
    output.lpszClassName = kTermOutputClass;
    // A class left behind by an earlier load of this library at the same
    // address is the same class.
    for (const WNDCLASSEXW* wc : {&main, &output})
        if (!RegisterClassExW(wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    registered = true;
    return true;
}

bool TTermWindow::CreateMainWindow(HWND parent, DWORD style, const wchar_t* title, int x, int y,
                                   int width, int height) {
    if (!RegisterClasses() || mainWnd_ || destroyed_) return false;
    PinModule();
    gUnderConstruction = this;
    HWND hwnd = CreateWindowExW(0, kTermWindowClass, title, style, x, y, width, height, parent,
                                nullptr, ThisModule(), nullptr);
    gUnderConstruction = nullptr;
    return hwnd != nullptr;
}

void TTermWindow::StartTimers() {
    if (!mainWnd_) return;
    SetTimer(mainWnd_, kTimerLines, kTimerLinesMs, nullptr);
    SetTimer(mainWnd_, kTimerSettings, kTimerSettingsMs, nullptr);
}

void TTermWindow::SetEmbedded(HWND lister) {
    embedded_ = true;
    listerWnd_ = lister;
}

TTermWindow* TTermWindow::FromWindow(HWND hwnd) {
    // Only our own windows of our class carry the object pointer: a handle the
    // host hands back may meanwhile name any window.
    if (!hwnd || !IsWindow(hwnd)) return nullptr;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[64] = {};
    if (pid != GetCurrentProcessId() || !GetClassNameW(hwnd, cls, 64) ||
        lstrcmpW(cls, kTermWindowClass) != 0)
        return nullptr;
    return AttachedObject(hwnd);
}

HWND TTermWindow::Control(int id) const { return mainWnd_ ? GetDlgItem(mainWnd_, id) : nullptr; }

void TTermWindow::SetTarget(int32_t kind, const std::u16string& target,
                            const std::u16string& displayName, const TConnInfo& connection) {
    kind_ = kind;
    target_ = target;
    displayName_ = displayName;
    connection_ = kind == 1 ? connection : TConnInfo{};
    section_ = SessionSection(kind, target);
}

void TTermWindow::SetPortSettings(const TSessionSettings& settings) {
    settings_ = settings;
    ShowSettings();
    ApplyModelOptions();
    ShowNewOutput();
}

// --- Small operations ---

void TTermWindow::SetStatus(const std::u16string& text) {
    if (HWND c = Control(kIdStatus)) SetWindowTextW(c, W(text));
}

void TTermWindow::UpdateConnectCaption() {
    const std::u16string caption =
        backend_ ? Tr("action.disconnect", u"Disconnect") : Tr("action.connect", u"Connect");
    if (HWND c = Control(kIdConnect)) SetWindowTextW(c, W(caption));
}

bool TTermWindow::IsChecked(int id) const {
    HWND c = Control(id);
    return c && SendMessageW(c, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TTermWindow::SetChecked(int id, bool on) {
    if (HWND c = Control(id)) SendMessageW(c, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

int TTermWindow::Selection(int id) const {
    HWND c = Control(id);
    return c ? int(SendMessageW(c, CB_GETCURSEL, 0, 0)) : -1;
}

void TTermWindow::Select(int id, int index) {
    if (HWND c = Control(id)) SendMessageW(c, CB_SETCURSEL, WPARAM(index), 0);
}

void TTermWindow::ShowSettings() {
    const TSessionSettings& s = settings_;
    if (HWND c = Control(kIdBaud)) SetWindowTextW(c, W(IntToText(s.Baud)));
    Select(kIdDataBits, s.DataBits - kMinDataBits);
    Select(kIdStopBits, s.StopBits);
    Select(kIdParity, s.Parity);
    Select(kIdFlow, s.Flow);
    Select(kIdView, s.ViewHex ? 1 : 0);
    Select(kIdEncoding, s.Charset);
    Select(kIdRxNewline, s.RxNewline);
    Select(kIdTxNewline, s.TxNewline);
    Select(kIdSendMode, s.SendMode);
    SetChecked(kIdDtr, s.DTR);
    SetChecked(kIdRts, s.RTS);
    SetChecked(kIdAnsi, s.AnsiColors);
    SetChecked(kIdAutoscroll, s.Autoscroll);
    SetChecked(kIdEcho, s.LocalEcho);
    SetChecked(kIdReconnect, s.AutoReconnect);
    SetChecked(kIdTimestamps, s.Timestamps);
    SetChecked(kIdLog, s.Log);
    ApplyEnablingRule();
}

void TTermWindow::ApplyEnablingRule() {
    const bool serial = kind_ == 0;
    for (int id : {kIdBaud, kIdDataBits, kIdStopBits, kIdParity, kIdFlow})
        if (HWND c = Control(id)) EnableWindow(c, serial);
    if (HWND c = Control(kIdDtr)) EnableWindow(c, serial && settings_.Flow != kFlowDtrDsr);
    if (HWND c = Control(kIdRts)) EnableWindow(c, serial && settings_.Flow != kFlowRtsCts);
    // Hex lines are sent as they stand: no line ending is added to them.
    if (HWND c = Control(kIdTxNewline)) EnableWindow(c, settings_.SendMode != kSendHex);
}

// --- Main window procedure ---

LRESULT CALLBACK TTermWindow::MainProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    TTermWindow* self = AttachedObject(hwnd);
    if (!self && msg == WM_NCCREATE && gUnderConstruction) {
        self = gUnderConstruction;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    if (!self->mainWnd_ && !self->destroyed_) self->mainWnd_ = hwnd;
    // A fault while the window is being created fails the creation.
    return GuardedProc([&] { return self->HandleMessage(hwnd, msg, wp, lp); },
                       [&](TFault kind) { self->OnFault(kind); }, msg == WM_CREATE ? -1 : 0);
}

LRESULT TTermWindow::HandleMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_CREATE:
            OnCreate();
            return 0;
        case WM_DESTROY:
            OnDestroy();
            return 0;
        case WM_SIZE:
            OnSize(wp);
            return 0;
        case WM_SETFOCUS:
            if (HWND edit = Control(kIdEdit)) SetFocus(edit);
            return 0;
        case WM_CLOSE:
            OnClose();
            return 0;
        case WM_GETMINMAXINFO:
            OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lp));
            return 0;
        case WM_COMMAND:
            OnCommand(LOWORD(wp), HIWORD(wp));
            return 0;
        case WM_TIMER:
            OnTimer(wp);
            return 0;
        case WM_CTLCOLORSTATIC:
            return OnCtlColorStatic(hwnd, reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp));
        case WM_KL_APPLY:
            OnApply(wp);
            return 0;
        case WM_KL_RECEIVED:
            OnReceived(wp);
            return 0;
        case WM_KL_ENDED:
            OnEnded(wp, lp);
            return 0;
        case WM_KL_CONNECTED:
            OnConnected(wp);
            return 0;
        case WM_KL_FILESENT:
            OnFileSent(wp, lp);
            return 0;
        case WM_DROPFILES:
            OnDropFiles(wp);
            return 0;
        default:
            return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

void TTermWindow::OnCreate() {
    CreateUiFont();
    HDC dc = GetDC(mainWnd_);
    dpi_ = std::max(96, GetDeviceCaps(dc, LOGPIXELSX));
    ReleaseDC(mainWnd_, dc);
    LoadTerminalFont();
    LoadAppearance();
    lampOnBrush_.Reset(CreateSolidBrush(kLampOnColor));
    lampOffBrush_.Reset(CreateSolidBrush(kLampOffColor));
    CreateControls();
    // Files dropped from the file manager's panel go to the device.
    DragAcceptFiles(mainWnd_, TRUE);
    FillOptionLists();
    if (HWND c = Control(kIdLogFile)) ShowWindow(c, SW_HIDE);  // shown while a log is written
    // Until a session brings its own, the controls show the defaults.
    ShowSettings();
    RECT rc;
    GetClientRect(mainWnd_, &rc);
    Layout(rc.right, rc.bottom);
}

void TTermWindow::OnDestroy() {
    StopRepeat(false);
    KillTimer(mainWnd_, kTimerLines);
    KillTimer(mainWnd_, kTimerSettings);
    if (embedded_ && sessionOpen_) SaveTerminalSettings(section_, settings_);
    destroyed_ = true;
    ReleaseBackend();
    // The file manager may be exiting: the logs still writing get their
    // bounded time to finish now.
    closingLogs_.clear();
    backBitmap_.Reset();
    mainWnd_ = nullptr;
    outputWnd_ = nullptr;
}

void TTermWindow::OnSize(WPARAM kind) {
    if (kind == SIZE_MINIMIZED) return;
    RECT rc;
    GetClientRect(mainWnd_, &rc);
    Layout(rc.right, rc.bottom);
    RefreshScrollBars();
}

void TTermWindow::OnClose() {
    HWND hwnd = mainWnd_;
    if (sessionOpen_) SaveTerminalSettings(section_, settings_);
    if (!embedded_) SaveWindowPlacement();
    DestroyWindow(hwnd);
}

void TTermWindow::SaveWindowPlacement() {
    WINDOWPLACEMENT wp = {};
    wp.length = sizeof wp;
    if (!GetWindowPlacement(mainWnd_, &wp)) return;
    // The normal rectangle is in work-area coordinates, while the window is
    // created again at screen coordinates: stored as they are, it would move
    // by the taskbar's size on every reopen when the taskbar is at the top or
    // left. Stored in screen coordinates, it comes back where it was.
    RECT r = wp.rcNormalPosition;
    MONITORINFO mi = {};
    mi.cbSize = sizeof mi;
    if (GetMonitorInfoW(MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST), &mi))
        OffsetRect(&r, mi.rcWork.left - mi.rcMonitor.left, mi.rcWork.top - mi.rcMonitor.top);
    WriteWindowPlacement(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

void TTermWindow::OnGetMinMaxInfo(MINMAXINFO* info) {
    info->ptMinTrackSize.x = S(480);
    info->ptMinTrackSize.y = S(340);
}

void TTermWindow::PostApply(WPARAM clicked) {
    if (mainWnd_) PostMessageW(mainWnd_, WM_KL_APPLY, clicked, 0);
}

void TTermWindow::OnCommand(int id, int code) {
    switch (id) {
        case kIdConnect:
            if (code == BN_CLICKED) ToggleConnection();
            break;
        case kIdSend:
            // Enter in the edit line posts this with no notification code.
            if (code == BN_CLICKED) Send();
            break;
        case kIdBaud:
            if (code == CBN_SELCHANGE) {
                // The box's edit part still shows the old text at this point.
                const int i = Selection(kIdBaud);
                if (i >= 0 && i < int(std::size(kBaudRates)))
                    SetWindowTextW(Control(kIdBaud), W(IntToText(kBaudRates[i])));
                PostApply(0);
            } else if (code == CBN_KILLFOCUS) {
                PostApply(0);
            }
            break;
        case kIdDataBits:
        case kIdStopBits:
        case kIdParity:
        case kIdFlow:
        case kIdView:
        case kIdEncoding:
        case kIdRxNewline:
        case kIdTxNewline:
        case kIdSendMode:
            if (code == CBN_SELCHANGE) PostApply(0);
            break;
        case kIdDtr:
        case kIdRts:
        case kIdAnsi:
        case kIdAutoscroll:
        case kIdEcho:
        case kIdReconnect:
        case kIdTimestamps:
        case kIdLog:
            if (code == BN_CLICKED) PostApply(WPARAM(id));
            break;
        case kIdClear:
            if (code == BN_CLICKED) {
                ClearOutput();
                if (HWND edit = Control(kIdEdit)) SetFocus(edit);
            }
            break;
        default:
            find_.OnCommand(id, code);
            break;
    }
}

void TTermWindow::ReadControls() {
    TSessionSettings& s = settings_;
    if (HWND baud = Control(kIdBaud)) {
        wchar_t text[kBaudTextMax + 1] = {};
        GetWindowTextW(baud, text, kBaudTextMax + 1);
        if (!ParseBaudText(U(text), s.Baud)) SetWindowTextW(baud, W(IntToText(s.Baud)));
    }
    int i;
    if ((i = Selection(kIdDataBits)) >= 0) s.DataBits = i + kMinDataBits;
    if ((i = Selection(kIdStopBits)) >= 0) s.StopBits = i;
    if ((i = Selection(kIdParity)) >= 0) s.Parity = i;
    if ((i = Selection(kIdFlow)) >= 0) s.Flow = i;
    if ((i = Selection(kIdView)) >= 0) s.ViewHex = i == 1;
    if ((i = Selection(kIdEncoding)) >= 0) s.Charset = i;
    if ((i = Selection(kIdRxNewline)) >= 0) s.RxNewline = i;
    if ((i = Selection(kIdTxNewline)) >= 0) s.TxNewline = i;
    if ((i = Selection(kIdSendMode)) >= 0) s.SendMode = i;
    s.DTR = IsChecked(kIdDtr);
    s.RTS = IsChecked(kIdRts);
    s.AnsiColors = IsChecked(kIdAnsi);
    s.Autoscroll = IsChecked(kIdAutoscroll);
    s.LocalEcho = IsChecked(kIdEcho);
    s.AutoReconnect = IsChecked(kIdReconnect);
    s.Timestamps = IsChecked(kIdTimestamps);
    s.Log = IsChecked(kIdLog);
}

void TTermWindow::OnApply(WPARAM clicked) {
    const bool wasHex = HexView();
    ReadControls();
    ApplyEnablingRule();
    ApplyToSerialPort();
    ApplyModelOptions();
    if (wasHex != HexView()) KeepPlaceAcrossViews(wasHex);
    ShowNewOutput();
    SyncLog();
    // Without a port or connection there is no section to write to.
    if (!section_.empty()) SaveTerminalSettings(section_, settings_);
    if (clicked)
        if (HWND edit = Control(kIdEdit)) SetFocus(edit);
}

void TTermWindow::OnTimer(UINT_PTR id) {
    switch (id) {
        case kTimerLines:
            ShowCounters();
            PollLamps();
            PollLog();
            ShowFileSendProgress();
            break;
        case kTimerRepeat:
            RepeatCommand();
            break;
        case kTimerFind:
            find_.OnTimer();
            break;
        case kTimerSettings:
            LoadTerminalFont();
            LoadAppearance();
            ReconnectIfDue();
            break;
        default:
            break;
    }
}

LRESULT TTermWindow::OnCtlColorStatic(HWND hwnd, HDC dc, HWND control) {
    const int id = GetDlgCtrlID(control);
    if (id < kIdLampCts || id > kIdLampDcd)
        return DefWindowProcW(hwnd, WM_CTLCOLORSTATIC, WPARAM(dc), LPARAM(control));
    // -1 (not yet polled) lights nothing rather than everything.
    const bool lit = modemStatus_ > 0 && (uint32_t(modemStatus_) & kLampBits[id - kIdLampCts]);
    SetBkColor(dc, lit ? kLampOnColor : kLampOffColor);
    SetTextColor(dc, lit ? kLampOnText : kLampOffText);
    return reinterpret_cast<LRESULT>(lit ? lampOnBrush_.Get() : lampOffBrush_.Get());
}

// --- Fonts and colours ---

void TTermWindow::CreateUiFont() {
    NONCLIENTMETRICSW ncm = {};
    ncm.cbSize = sizeof ncm;
    HFONT font = nullptr;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0))
        font = CreateFontIndirectW(&ncm.lfMessageFont);
    uiFont_.Reset(font ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)));
}

void TTermWindow::LoadTerminalFont() {
    std::u16string face;
    int32_t size = 0;
    ReadFontSettings(face, size);
    if (termFont_ && face == fontName_ && size == fontSize_) return;
    LOGFONTW lf = {};
    HDC screen = GetDC(nullptr);
    lf.lfHeight = -MulDiv(size, GetDeviceCaps(screen, LOGPIXELSY), 72);
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = CLEARTYPE_QUALITY;
    lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    CopyToBuffer(lf.lfFaceName, LF_FACESIZE, face);
    HFONT font = CreateFontIndirectW(&lf);
    if (!font) {
        ReleaseDC(nullptr, screen);
        return;
    }
    TEXTMETRICW tm = {};
    HGDIOBJ old = SelectObject(screen, font);
    GetTextMetricsW(screen, &tm);
    SelectObject(screen, old);
    ReleaseDC(nullptr, screen);
    charWidth_ = std::max<int32_t>(1, tm.tmAveCharWidth);
    lineHeight_ = std::max<int32_t>(1, tm.tmHeight);
    termFont_.Reset(font);
    fontName_ = face;
    fontSize_ = size;
    std::fill(advance_.begin(), advance_.end(), charWidth_);
    if (!outputWnd_) return;
    ShowNewOutput();
}

void TTermWindow::LoadAppearance() {
    TColorRef background = 0, text = 0;
    int32_t hex = 0;
    ReadAppearance(background, text, hex);
    if (backgroundBrush_ && background == backgroundColor_ && text == textColor_ &&
        hex == hexBytesPerLine_)
        return;
    if (!backgroundBrush_ || background != backgroundColor_) {
        HBRUSH brush = CreateSolidBrush(background);
        if (!brush) return;
        backgroundBrush_.Reset(brush);
    }
    backgroundColor_ = background;
    textColor_ = text;
    if (hex != hexBytesPerLine_ && HexView() && hexBytesPerLine_ > 0) {
        // Keep roughly the same bytes in view.
        topRow_ = int32_t(int64_t(topRow_) * hexBytesPerLine_ / hex);
        firstCol_ = 0;
        selection_ = false;
    }
    hexBytesPerLine_ = hex;
    model_->SetHexBytesPerLine(hex);
    if (!outputWnd_) return;
    ShowNewOutput();
}

// --- Keyboard handling of the controls ---

LRESULT CALLBACK TTermWindow::ControlKeyProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                             DWORD_PTR) {
    if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, ControlKeyProc, id);
        return DefSubclassProc(hwnd, msg, wp, lp);
    }
    if (msg == WM_KEYDOWN || msg == WM_KEYUP || msg == WM_CHAR || msg == WM_SYSKEYDOWN ||
        msg == WM_SYSCHAR) {
        // The control's parent is the main window; the baud box's inner edit
        // sits one level deeper.
        HWND parent = GetParent(hwnd);
        TTermWindow* self = FromWindow(parent);
        if (!self && parent) self = FromWindow(GetParent(parent));
        // A key whose handling failed is not passed on a second time.
        if (self && Guarded([&] { return self->OnControlKey(int(id), msg, wp, lp); },
                            [&](TFault kind) { self->OnFault(kind); }, true))
            return 0;
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

bool TTermWindow::OnControlKey(int id, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_KEYDOWN:
        case WM_KEYUP:
            if (wp == 'Q' && GetKeyState(VK_CONTROL) < 0 && embedded_) {
                PostMessageW(listerWnd_, msg, wp, lp);
                return true;
            }
            if (msg == WM_KEYDOWN && wp == VK_CANCEL && GetKeyState(VK_CONTROL) < 0) {
                SendBreak();
                return true;
            }
            // The find bar's keys first: Esc closes an open bar before it stops anything.
            if (msg == WM_KEYDOWN && find_.OnKey(id, wp)) return true;
            if (msg == WM_KEYDOWN && wp == VK_ESCAPE && FileSendRunning()) {
                CancelFileSend();
                return true;
            }
            if (msg == WM_KEYDOWN && wp == VK_ESCAPE && repeatIndex_ >= 0) {
                StopRepeat(true);
                return true;
            }
            if (msg != WM_KEYDOWN || id != kIdEdit) return false;
            if (wp == VK_RETURN) {
                PostMessageW(mainWnd_, WM_COMMAND, kIdSend, 0);
                return true;
            }
            if (wp == VK_UP || wp == VK_DOWN) {
                StepHistory(wp == VK_UP ? -1 : 1);
                return true;
            }
            return false;
        case WM_CHAR:
            return (id == kIdEdit && wp == L'\r') || (wp == 17 && embedded_) ||
                   find_.OnChar(id, wp);
        case WM_SYSKEYDOWN:
        case WM_SYSCHAR:
            return (id == kIdEdit || id == kIdSend) && OnCommandKey(msg, wp);
        default:
            return false;
    }
}
