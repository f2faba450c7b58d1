// Session control of a terminal window: loading a port or connection into the
// window, connecting and disconnecting, the backend's three messages, the
// backend's line settings, counters and lamps, sending the edit line, the send
// history, the model's options, reloading the settings, and the process-wide
// store of kept sessions.
//
// Design notes
// - Every backend message carries the connection number the backend was made
//   with; the window increments its number before each connect, so anything
//   a replaced or released backend still had in flight is ignored.
// - A kept session belongs to the store; a window only borrows it while it
//   shows it. An unkept one belongs to the window that made it.
// - Release stamps are strictly increasing, so "released longest ago" stays
//   exact when several windows let go within one clock tick.
#include "termwnd/uSession.h"

#include <algorithm>

#include "backend/uSerialBackend.h"
#include "backend/uTcpBackend.h"
#include "base/uBarrier.h"
#include "base/uText.h"
#include "i18n/uI18n.h"
#include "settings/uSettings.h"
#include "terminal/uSendText.h"
#include "termwnd/uTermWnd.h"

namespace {

constexpr int32_t kUnkeptHistory = 200;

constexpr int64_t kFileTimePerMs = 10000;
constexpr int64_t kMsPerDay = 86400000;
constexpr int64_t kDays1601To1899 = 109205;  // 1601-01-01 to 1899-12-30

TDateTime SystemLocalNow() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    FILETIME ft;
    if (!SystemTimeToFileTime(&st, &ft)) return LocalNow();
    const int64_t ms =
        int64_t((uint64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) / kFileTimePerMs);
    return TDateTime(ms / kMsPerDay - kDays1601To1899) + TDateTime(ms % kMsPerDay) / kMsPerDay;
}

uint64_t ReleaseStamp() {
    static uint64_t last = 0;
    last = std::max<uint64_t>(GetTickCount64(), last + 1);
    return last;
}

std::u16string ErrorReason(DWORD code) {
    return TrFmt("status.error", u"Error {0}: {1}",
                 {IntToText(int64_t(code)), SystemMessage(code)});
}

}  // namespace

TTermBudgetPool& KeptSessionPool() {
    static TTermBudgetPool pool(kKeptLineBudget);
    return pool;
}

std::vector<std::unique_ptr<TSessionData>>& SessionStore() {
    // The pool first, so that it outlives the models that count in it.
    KeptSessionPool();
    static std::vector<std::unique_ptr<TSessionData>> store;
    return store;
}

std::string_view LineEnding(int32_t txNewline) {
    static constexpr std::string_view kEndings[] = {"", "\r", "\n", "\r\n"};
    return kEndings[std::clamp(txNewline, 0, 3)];
}

std::u16string ParametersText(const TSessionSettings& s) {
    static constexpr char16_t kParity[] = u"NOEMS";
    static constexpr const char16_t* kStop[] = {u"1", u"1.5", u"2"};
    std::u16string r = IntToText(s.Baud) + u" " + IntToText(s.DataBits);
    r.push_back(kParity[std::clamp(s.Parity, 0, 4)]);
    r += kStop[std::clamp(s.StopBits, 0, 2)];
    return r;
}

void UseSystemClock(TTermModel& model) {
    model.Clock = SystemLocalNow;
    wchar_t sep[4] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, sep, 4) > 1)
        model.TimeSeparator = char16_t(sep[0]);
}

TSessionData::TSessionData(std::u16string key, int32_t historyLines)
    : Key(std::move(key)), Model(std::make_unique<TTermModel>(historyLines)) {
    UseSystemClock(*Model);
}

// --- Opening a session ---

void TTermWindow::OpenSession(int32_t kind, const std::u16string& target,
                              const std::u16string& displayName, const TConnInfo& connection,
                              int32_t mode) {
    if (sessionOpen_) SaveTerminalSettings(section_, settings_);
    ReleaseBackend();
    LetGoSession();
    SetTarget(kind, target, displayName, connection);
    settings_ = LoadSessionSettings(section_);
    AcquireSession(settings_.HistoryOn, settings_.HistoryLines);
    if (faultProbe_) faultProbe_(TFaultSite::Open);
    ShowSettings();
    ApplyModelOptions();
    modemStatus_ = -1;
    topRow_ = 0;
    firstCol_ = 0;
    selection_ = false;
    if (!embedded_ && mainWnd_) SetWindowTextW(mainWnd_, W(u"Kestrelink - " + displayName_));
    ShowNewOutput();
    const bool connectNow =
        settings_.ConnectOnOpen && !(mode == 2 && !settings_.ConnectInQuickView);
    userDisconnected_ = !connectNow;
    sessionOpen_ = true;
    if (connectNow) {
        Connect();
    } else {
        SetStatus(TrFmt("status.waiting", u"{0} - disconnected (click Connect)", {displayName_}));
        UpdateConnectCaption();
    }
    countersText_.clear();
    ShowCounters();
    if (!embedded_ && mainWnd_) {
        ShowWindow(mainWnd_, IsIconic(mainWnd_) ? SW_RESTORE : SW_SHOW);
        SetForegroundWindow(mainWnd_);
    }
    if (HWND edit = Control(kIdEdit)) SetFocus(edit);
}

void TTermWindow::AcquireSession(bool historyOn, int32_t historyLines) {
    auto& store = SessionStore();
    TSessionData* found = nullptr;
    if (historyOn) {
        for (auto& s : store)
            if (SameTextI(s->Key, section_)) found = s.get();
    }
    if (!historyOn || (found && found->Owner)) {
        session_ = new TSessionData(section_, historyOn ? historyLines : kUnkeptHistory);
    } else if (found) {
        session_ = found;
        if (session_->Model->HistoryLines() != historyLines)
            session_->Model->SetHistoryLines(historyLines);
    } else {
        // Room for one more: a free place, and a whole session's budget to
        // spare in the shared one.
        TTermBudgetPool& pool = KeptSessionPool();
        while (store.size() >= kKeptSessions || !pool.Fits(kTermLineBudget)) {
            auto oldest = store.end();
            for (auto it = store.begin(); it != store.end(); ++it)
                if (!(*it)->Owner &&
                    (oldest == store.end() || (*it)->LastReleased < (*oldest)->LastReleased))
                    oldest = it;
            if (oldest == store.end()) break;
            store.erase(oldest);
        }
        store.push_back(std::make_unique<TSessionData>(section_, historyLines));
        session_ = store.back().get();
        session_->Kept = true;
        session_->Model->SetBudgetPool(&pool);
    }
    if (session_->Kept) {
        session_->Owner = this;
        session_->LastReleased = ReleaseStamp();
    }
    model_ = session_->Model.get();
    receivedCount_ = session_->ReceivedCount;
    sentCount_ = session_->SentCount;
    sendHistory_ = session_->SendHistory;
    historyPos_ = session_->HistoryPos;
    if (historyPos_ < 0 || historyPos_ > int32_t(sendHistory_.size()))
        historyPos_ = int32_t(sendHistory_.size());
}

void TTermWindow::LetGoSession() {
    StopLog();  // it writes into the model that goes
    if (session_) {
        session_->ReceivedCount = receivedCount_;
        session_->SentCount = sentCount_;
        session_->SendHistory = sendHistory_;
        session_->HistoryPos = historyPos_;
        if (session_->Kept) {
            session_->Owner = nullptr;
            session_->LastReleased = ReleaseStamp();
        } else {
            delete session_;
        }
        session_ = nullptr;
    }
    model_ = &ownModel_;
}

// --- Connecting ---

void TTermWindow::Connect() {
    ReleaseBackend();
    ++connectionNumber_;
    std::unique_ptr<TBackend> backend;
    if (kind_ == 0)
        backend = std::make_unique<TSerialBackend>(mainWnd_, connectionNumber_, target_, settings_);
    else
        backend = std::make_unique<TTcpBackend>(mainWnd_, connectionNumber_, connection_);
    std::u16string error;
    if (!backend->Open(error)) {
        backend.reset();
        SetStatus(displayName_ + u" - " + error);
        UpdateConnectCaption();
        return;
    }
    // Ports and connections alike come up on the worker (a Bluetooth or USB
    // port can take seconds to open); WM_APP+3 or WM_APP+2 tells how it went.
    AttachBackend(std::move(backend), false);
    SetStatus(TrFmt("status.connecting", u"{0} - connecting\u2026", {displayName_}));
}

void TTermWindow::ToggleConnection() {
    if (backend_) {
        userDisconnected_ = true;
        ReleaseBackend();
        SetStatus(TrFmt("status.disconnected", u"{0} - disconnected", {displayName_}));
        UpdateConnectCaption();
    } else {
        userDisconnected_ = false;
        Connect();
    }
}

void TTermWindow::ReconnectIfDue() {
    if (!backend_ && settings_.AutoReconnect && !userDisconnected_ && sessionOpen_ && mainWnd_)
        Connect();
}

// --- Backend messages ---

void TTermWindow::FeedModel(const void* bytes, int32_t count) {
    const int64_t firstLine = model_->FirstLineNumber(), rawBase = model_->RawBase();
    model_->Feed(bytes, count);
    if (log_) log_->Commit();
    FollowLeavingRows(firstLine, rawBase);
}

void TTermWindow::DrainReceived(bool all) {
    receiveBuffer_.Clear();
    // A slice per message: the backend posts again for the rest, behind the
    // keys and clicks that came in meanwhile.
    backend_->TakeReceived(receiveBuffer_, all ? INT32_MAX : kDrainSliceBytes);
    if (receiveBuffer_.Count() == 0) return;
    if (faultProbe_) faultProbe_(TFaultSite::Drain);
    receivedCount_ += receiveBuffer_.Count();
    if (log_) log_->Received(receiveBuffer_.Data(), receiveBuffer_.Count());
    FeedModel(receiveBuffer_.Data(), receiveBuffer_.Count());
    receiveBuffer_.Clear();
    ShowNewOutput();
    const ULONGLONG now = GetTickCount64();
    if (now - floodPaintTick_ >= kFloodPaintMs) {
        floodPaintTick_ = now;
        if (outputWnd_) UpdateWindow(outputWnd_);
    }
}

void TTermWindow::OnReceived(WPARAM number) {
    if (uint32_t(number) != connectionNumber_ || !backend_) return;
    DrainReceived();
}

void TTermWindow::OnEnded(WPARAM number, LPARAM code) {
    if (uint32_t(number) != connectionNumber_ || !backend_) return;
    // What the backend still holds is shown before it goes; a flood's last
    // megabytes a slice per message, like any other, so the keys that came
    // in meanwhile are answered first.
    if (backend_->PendingCount() > kDrainSliceBytes &&
        PostMessageW(mainWnd_, WM_KL_ENDED, number, code)) {
        DrainReceived();
        return;
    }
    DrainReceived(true);
    // A port that could not be opened says why in the backend's own words,
    // as a failed connect always did.
    const std::u16string own = code ? backend_->EndText(DWORD(code)) : std::u16string();
    const bool neverUp = !connected_;
    ReleaseBackend();
    if (neverUp && !own.empty()) {
        SetStatus(displayName_ + u" - " + own);
    } else {
        const std::u16string reason =
            !own.empty() ? own
            : code       ? ErrorReason(DWORD(code))
                         : Tr("status.server_closed", u"Server closed the connection");
        SetStatus(TrFmt("status.disconnected_reason", u"{0} - disconnected ({1})",
                        {displayName_, reason}));
    }
    UpdateConnectCaption();
}

void TTermWindow::OnConnected(WPARAM number) {
    if (uint32_t(number) != connectionNumber_ || !backend_) return;
    connected_ = true;
    SyncLog();  // each connection its own file
    if (kind_ == 0)
        SetStatus(TrFmt("status.connected_parameters", u"{0} - connected ({1})",
                        {displayName_, ParametersText(settings_)}));
    else
        SetStatus(TrFmt("status.connected", u"{0} - connected", {displayName_}));
}

// --- The backend, the port and the counters ---

void TTermWindow::ApplyModelOptions() {
    TTermModel& m = *model_;
    const bool changed = m.Encoding != settings_.Charset || m.NewlineMode != settings_.RxNewline ||
                         m.AnsiColors != settings_.AnsiColors;
    m.Encoding = settings_.Charset;
    m.NewlineMode = settings_.RxNewline;
    m.AnsiColors = settings_.AnsiColors;
    m.SetHexBytesPerLine(hexBytesPerLine_);
    if (changed) {
        m.Rebuild();
        selection_ = false;
    }
}

void TTermWindow::AttachBackend(std::unique_ptr<TBackend> backend, bool connected) {
    ReleaseBackend();
    backend_ = std::move(backend);
    connected_ = backend_ && connected;
    writtenSeen_ = 0;
    UpdateConnectCaption();
}

void TTermWindow::ReleaseBackend() {
    // A repeating command belongs to this connection: a reconnect does not
    // start it again.
    StopRepeat(false);
    StopLog();
    if (backend_) {
        const bool ended = backend_->Close();
        // What went out before the end still counts.
        CountWritten();
        // Its worker may still run inside the object: abandon it, never free it.
        if (!ended) (void)backend_.release();
    }
    backend_.reset();
    connected_ = false;
}

void TTermWindow::CountWritten() {
    if (!backend_) return;
    const int64_t written = backend_->WrittenCount();
    sentCount_ += written - writtenSeen_;
    writtenSeen_ = written;
}

void TTermWindow::StepHistory(int step) {
    if (sendHistory_.empty()) return;
    const int32_t n = int32_t(sendHistory_.size());
    historyPos_ = std::clamp(historyPos_ + step, 0, n);
    const std::u16string text = historyPos_ < n ? sendHistory_[size_t(historyPos_)].Text : u"";
    // A line comes back in the mode it was sent in: "0d 0a" as hex is not
    // the same line as text.
    if (historyPos_ < n) {
        settings_.SendMode = sendHistory_[size_t(historyPos_)].Mode;
        Select(kIdSendMode, settings_.SendMode);
    }
    if (HWND edit = Control(kIdEdit)) {
        SetWindowTextW(edit, W(text));
        SendMessageW(edit, EM_SETSEL, text.size(), text.size());
    }
}

void TTermWindow::PushHistory(const std::u16string& text, int32_t mode) {
    if (text.empty()) return;
    const TSentLine line{text, mode};
    if (sendHistory_.empty() || sendHistory_.back() != line) {
        if (int32_t(sendHistory_.size()) >= kSendHistoryMax)
            sendHistory_.erase(sendHistory_.begin());
        sendHistory_.push_back(line);
    }
    historyPos_ = int32_t(sendHistory_.size());
}

void TTermWindow::ApplyToSerialPort() {
    auto* serial = dynamic_cast<TSerialBackend*>(backend_.get());
    if (!serial) return;
    // A driver that refuses the new line settings keeps the old ones; the
    // status line then keeps naming the parameters the port really runs with.
    const bool applied = serial->ApplySettings(settings_);
    if (settings_.Flow != kFlowDtrDsr) serial->SetDtr(settings_.DTR);
    if (settings_.Flow != kFlowRtsCts) serial->SetRts(settings_.RTS);
    if (applied)
        SetStatus(TrFmt("status.connected_parameters", u"{0} - connected ({1})",
                        {displayName_, ParametersText(settings_)}));
}

void TTermWindow::ShowCounters() {
    CountWritten();
    const std::u16string text =
        u"Rx: " + IntToText(receivedCount_) + u"   Tx: " + IntToText(sentCount_);
    if (text == countersText_) return;
    if (HWND c = Control(kIdCounters)) SetWindowTextW(c, W(text));
    countersText_ = text;
}

void TTermWindow::PollLamps() {
    auto* serial = dynamic_cast<TSerialBackend*>(backend_.get());
    const int32_t status = serial ? int32_t(serial->ModemStatus()) : 0;
    if (status == modemStatus_) return;
    modemStatus_ = status;
    InvalidateLamps();
}

void TTermWindow::InvalidateLamps() {
    for (int id = kIdLampCts; id <= kIdLampDcd; ++id)
        if (HWND c = Control(id)) InvalidateRect(c, nullptr, TRUE);
}

// --- Sending ---

void TTermWindow::Send() {
    HWND edit = Control(kIdEdit);
    if (!edit) return;
    wchar_t buffer[kSendLineMax + 1] = {};
    const int n = GetWindowTextW(edit, buffer, kSendLineMax + 1);
    std::u16string text = U(buffer, size_t(std::clamp(n, 0, kSendLineMax)));
    // The cut must not split a surrogate pair: half a character would go out
    // as a replacement character.
    if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();
    if (!backend_ || !connected_) {
        SetStatus(Tr("status.no_send", u"Not connected - nothing sent"));
        return;
    }
    const int32_t mode = settings_.SendMode;
    if (!SendLineText(text, mode, edit)) return;
    PushHistory(text, mode);
    SetWindowTextW(edit, L"");
}

bool TTermWindow::SendLineText(const std::u16string& text, int32_t mode, HWND edit) {
    const TSendBytes line = EncodeSendLine(text, mode, settings_.Charset);
    if (!line.Ok) {
        // Nothing goes out; the fault is selected so that it can be mended
        // in place, and the status names it counting from 1.
        if (edit)
            SendMessageW(edit, EM_SETSEL, WPARAM(line.ErrorPos),
                         LPARAM(line.ErrorPos + line.ErrorLen));
        if (edit) SetFocus(edit);
        const std::u16string at = IntToText(int64_t(line.ErrorPos) + 1);
        SetStatus(mode == kSendHex
                      ? TrFmt("status.send_bad_hex", u"{0} - invalid hex at character {1}",
                              {displayName_, at})
                      : TrFmt("status.send_bad_escape", u"{0} - invalid escape at character {1}",
                              {displayName_, at}));
        return false;
    }
    // A line typed into a running transfer would land inside its blocks.
    if (RefuseWhileSending()) return false;
    const std::string& encoded = line.Bytes;
    const std::string_view ending =
        SendModeTakesLineEnding(mode) ? LineEnding(settings_.TxNewline) : std::string_view();
    const std::string bytes = encoded + std::string(ending);
    if (bytes.empty()) return false;
    // Queued, not written: the worker takes it to the line at the line's
    // pace and the Tx counter follows as it goes out. A queue that holds more
    // than a slow line can send for a long while refuses more; the text stays
    // in the edit line to be sent later.
    if (!backend_->Write(reinterpret_cast<const uint8_t*>(bytes.data()), int32_t(bytes.size()))) {
        if (backend_->QueuedCount() > kSendQueueCap)
            SetStatus(TrFmt("status.send_queue_full",
                            u"{0} - still sending earlier input; nothing added", {displayName_}));
        else
            SetStatus(TrFmt("status.send_failed", u"{0} - send failed", {displayName_}));
        return false;
    }
    if (settings_.LocalEcho && !backend_->IsRemoteEcho()) {
        const std::string echo = ending.empty() ? encoded : encoded + "\r\n";
        FeedModel(echo.data(), int32_t(echo.size()));
        ShowNewOutput();
    }
    return true;
}

void TTermWindow::SendCommand(int index) {
    if (index < 0 || index >= kCommandCount) return;
    const TStoredCommand& c = settings_.Commands[size_t(index)];
    if (c.Text.empty()) return;
    if (!backend_ || !connected_) {
        SetStatus(Tr("status.no_send", u"Not connected - nothing sent"));
        return;
    }
    // The repeating command's own item (or key) stops it; another repeating
    // command takes its place.
    if (c.RepeatMs > 0 && repeatIndex_ == index) return StopRepeat(true);
    if (!SendLineText(c.Text, c.Mode, nullptr) || c.RepeatMs <= 0) return;
    StopRepeat(false);
    if (!SetTimer(mainWnd_, kTimerRepeat, UINT(c.RepeatMs), nullptr)) return;
    repeatIndex_ = index;
    SetStatus(TrFmt("status.repeating", u"{0} - repeating Cmd {1} every {2} ms (Esc stops)",
                    {displayName_, IntToText(index + 1), IntToText(c.RepeatMs)}));
}

void TTermWindow::RepeatCommand() {
    // Settings reloaded from elsewhere may have emptied the command or
    // taken its repeat away; a line that is gone ends it too.
    const int index = repeatIndex_;
    if (index < 0 || index >= kCommandCount) return StopRepeat(false);
    const TStoredCommand& c = settings_.Commands[size_t(index)];
    // A slow line that has not taken the last round yet skips this one
    // rather than piling rounds up in the send queue.
    if (backend_ && connected_ && (backend_->QueuedCount() > 0 || FileSendRunning())) return;
    if (!backend_ || !connected_ || c.Text.empty() || c.RepeatMs <= 0 ||
        !SendLineText(c.Text, c.Mode, nullptr))
        StopRepeat(false);
}

void TTermWindow::StopRepeat(bool user) {
    if (repeatIndex_ < 0) return;
    if (mainWnd_) KillTimer(mainWnd_, kTimerRepeat);
    const int index = repeatIndex_;
    repeatIndex_ = -1;
    if (user)
        SetStatus(TrFmt("status.repeat_stopped", u"{0} - stopped repeating Cmd {1}",
                        {displayName_, IntToText(index + 1)}));
}

bool TTermWindow::OnCommandKey(UINT msg, WPARAM key) {
    if (key < '0' || key > '9') return false;
    // The character that follows is swallowed too: unanswered, it would
    // make the system beep for a menu mnemonic that is not there.
    if (msg == WM_SYSKEYDOWN) SendCommand(key == '0' ? 9 : int(key - '1'));
    return true;
}

bool TTermWindow::CanSendBreak() const {
    return backend_ && connected_ && backend_->CanBreak() && !FileSendRunning();
}

void TTermWindow::SendBreak() {
    // A break inside a block would spoil it for the receiver.
    if (RefuseWhileSending()) return;
    // A raw TCP line has no break to give; the key then does nothing at all.
    if (!CanSendBreak()) return;
    if (!backend_->SendBreak())
        SetStatus(TrFmt("status.send_failed", u"{0} - send failed", {displayName_}));
}

// --- A fault inside a handler ---

void TTermWindow::OnFault(TFault kind) {
    // Whatever failed may fail again at once: no drag holds the mouse, a
    // paint that failed is not asked for again in a loop, and the session
    // ends rather than reconnecting into the same fault.
    dragging_ = false;
    if (outputWnd_ && GetCapture() == outputWnd_) ReleaseCapture();
    if (outputWnd_) ValidateRect(outputWnd_, nullptr);
    receiveBuffer_.Clear();
    userDisconnected_ = true;
    ReleaseBackend();
    UpdateConnectCaption();
    SetStatus(TrFmt("status.fault", u"{0} - stopped by an internal error: {1}",
                    {displayName_, SystemMessage(FaultCode(kind))}));
}

// --- Settings changed elsewhere ---

void TTermWindow::ReloadSettings() {
    if (!sessionOpen_) return;
    settings_ = LoadSessionSettings(section_);
    if (kind_ == 1) {
        TConnInfo info;
        if (LoadConnection(target_, info)) {
            connection_ = info;
            displayName_ =
                u"TCP " + info.Name + u" (" + info.Host + u":" + IntToText(info.Port) + u")";
        }
    }
    ShowSettings();
    if (backend_) ApplyToSerialPort();
    if (settings_.HistoryOn && model_->HistoryLines() != settings_.HistoryLines) {
        model_->SetHistoryLines(settings_.HistoryLines);
        selection_ = false;
    }
    ApplyModelOptions();
    ShowNewOutput();
    SyncLog();
}
