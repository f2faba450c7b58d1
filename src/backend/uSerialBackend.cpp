#include "backend/uSerialBackend.h"

#include <algorithm>
#include <utility>

#include "backend/uSerialDcb.h"
#include "base/uBarrier.h"
#include "i18n/uI18n.h"

// The i386 build proves the layout the driver interface expects.
static_assert(sizeof(DCB) == 28, "DCB must be 28 bytes");

namespace {

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

void CopyDcbFields(const TDcbFields& f, DCB& dcb) {
    dcb.BaudRate = f.BaudRate;
    dcb.ByteSize = f.ByteSize;
    dcb.Parity = f.Parity;
    dcb.StopBits = f.StopBits;
    dcb.XonChar = f.XonChar;
    dcb.XoffChar = f.XoffChar;
    dcb.XonLim = f.XonLim;
    dcb.XoffLim = f.XoffLim;
    dcb.fBinary = f.fBinary;
    dcb.fParity = f.fParity;
    dcb.fOutxCtsFlow = f.fOutxCtsFlow;
    dcb.fOutxDsrFlow = f.fOutxDsrFlow;
    dcb.fDtrControl = f.fDtrControl;
    dcb.fDsrSensitivity = f.fDsrSensitivity;
    dcb.fTXContinueOnXoff = f.fTXContinueOnXoff;
    dcb.fOutX = f.fOutX;
    dcb.fInX = f.fInX;
    dcb.fErrorChar = f.fErrorChar;
    dcb.fNull = f.fNull;
    dcb.fRtsControl = f.fRtsControl;
    dcb.fAbortOnError = f.fAbortOnError;
    dcb.fDummy2 = 0;
}

// One name per port, whatever letter case the caller used; a backslash
// would name a kernel namespace.
std::u16string ClaimName(const std::u16string& port) {
    std::u16string name = u"Local\\Kestrelink.Port.";
    for (char16_t c : port) {
        if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
        if (c == u'\\') c = u'_';
        name += c;
    }
    return name;
}

// The text shown when CreateFileW fails on a port with `code`.
std::u16string SerialOpenErrorText(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return Tr("error.serial_missing", u"Port not found");
        case ERROR_ACCESS_DENIED:
            return Tr("error.serial_busy", u"Access denied (port in use?)");
        default:
            return SystemMessage(code);
    }
}

// GetCommState, the mapped line fields, SetCommState. On false,
// GetLastError tells why.
bool ConfigureLine(HANDLE port, const TSessionSettings& s, bool requireCurrentState) {
    DCB dcb = {};
    dcb.DCBlength = sizeof(DCB);
    if (!GetCommState(port, &dcb) && requireCurrentState) return false;
    if (!LineSettingsValid(s)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    CopyDcbFields(SerialDcbFields(s), dcb);
    return SetCommState(port, &dcb) != FALSE;
}

// The view's reads wait for a 20 ms gap, so a burst arrives as one delivery.
// A transfer's replies are single bytes that the sender waits for: there the
// gap is the shortest there is, since at 115200 baud 20 ms per reply would
// cost a fifth of the line's time per 1 KiB block. (The "return at once"
// setting of all-ones time-outs never completes a read under Wine.)
void SetReadTimeouts(HANDLE port, bool quick) {
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = quick ? 1 : kReadIntervalMs;
    SetCommTimeouts(port, &timeouts);
}

// One overlapped operation on the port with its own event. Whoever leaves
// the frame that owns the operation's buffer (a stop, a failure, an
// exception) cancels it here and waits until the system is done with the
// buffer.
struct TPortOp {
    HANDLE Port;
    THandle Event;
    OVERLAPPED Ov = {};
    bool Busy = false;

    explicit TPortOp(HANDLE port)
        : Port(port), Event(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~TPortOp() { Cancel(); }
    TPortOp(const TPortOp&) = delete;
    TPortOp& operator=(const TPortOp&) = delete;

    OVERLAPPED* Start() {
        Ov = {};
        Ov.hEvent = Event.Get();
        ResetEvent(Ov.hEvent);
        return &Ov;
    }
    bool Finished() const { return Busy && WaitForSingleObject(Event.Get(), 0) == WAIT_OBJECT_0; }
    // The outcome of a finished operation; on false, GetLastError tells why.
    bool Result(DWORD& count) {
        Busy = false;
        count = 0;
        return GetOverlappedResult(Port, &Ov, &count, FALSE) != FALSE;
    }
    void Cancel() {
        if (!Busy) return;
        CancelIoEx(Port, &Ov);
        DWORD count = 0;
        GetOverlappedResult(Port, &Ov, &count, TRUE);
        Busy = false;
    }
};

}  // namespace

// How an open failed.
enum TOpenFailure : int { kOpenOk = 0, kOpenCreate, kOpenParameters, kOpenOther };

// Shared by a backend and its opener thread, which may outlive the backend.
struct TOpenState {
    static constexpr int kOpenerSide = 1;
    static constexpr int kBackendSide = 2;

    std::u16string Path;
    TSessionSettings Settings;  // as the port is set up with; never changed
    THandle Claim;
    THandle Done;  // manual reset: the opener has finished
    // Written by the opener before Done is signalled.
    HANDLE Port = INVALID_HANDLE_VALUE;
    int Failure = kOpenOk;
    DWORD Code = 0;
    std::atomic<int> LetGo{0};

    ~TOpenState() { CloseLine(); }
    void CloseLine() {
        if (Port != INVALID_HANDLE_VALUE) CloseHandle(Port);
        Port = INVALID_HANDLE_VALUE;
        Claim.Reset();
    }
    // Each side lets go once; the second one closes the port and the claim.
    void LetGoOf(int side) {
        if (LetGo.fetch_or(side) != 0) CloseLine();
    }
};

std::atomic<void (*)()> TSerialBackend::OpenStallHook{nullptr};

namespace {

// CreateFileW and the line setup, on the opener thread.
void OpenLine(TOpenState& s) {
    if (auto stall = TSerialBackend::OpenStallHook.load()) stall();
    THandle port(CreateFileW(W(s.Path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr));
    if (!port.Valid()) {
        s.Code = GetLastError();
        s.Failure = kOpenCreate;
        return;
    }
    SetupComm(port.Get(), kSerialQueueBytes, kSerialQueueBytes);
    if (!ConfigureLine(port.Get(), s.Settings, false)) {
        s.Code = GetLastError();
        s.Failure = kOpenParameters;
        return;
    }
    SetReadTimeouts(port.Get(), false);
    PurgeComm(port.Get(), kPurgeAll);
    s.Port = port.Release();
}

DWORD WINAPI OpenerMain(LPVOID p) {
    // The thread holds its own reference: the backend may be gone long before
    // CreateFileW returns.
    std::unique_ptr<std::shared_ptr<TOpenState>> ref(static_cast<std::shared_ptr<TOpenState>*>(p));
    TOpenState& s = **ref;
    GuardedVoid([&] { OpenLine(s); },
                [&](TFault kind) {
                    s.Failure = kOpenOther;
                    s.Code = FaultCode(kind);
                });
    SetEvent(s.Done.Get());
    s.LetGoOf(TOpenState::kOpenerSide);
    return 0;
}

}  // namespace

TSerialBackend::TSerialBackend(HWND owner, uint32_t connectionNumber, std::u16string portName,
                               const TSessionSettings& settings)
    : TBackend(owner, connectionNumber),
      portName_(std::move(portName)),
      settings_(settings),
      writePiece_(SerialWritePiece(settings)) {}

TSerialBackend::~TSerialBackend() {
    // Normally closed already; a worker that will not stop keeps the port.
    if (StopWorker()) ReleaseOpenState();
}

bool TSerialBackend::Open(std::u16string& error) {
    error.clear();
    // A backend is opened once; a second Open would orphan the running worker.
    if (open_ || HasWorker()) {
        error = SerialOpenErrorText(ERROR_ACCESS_DENIED);
        return false;
    }

    auto state = std::make_shared<TOpenState>();
    state->Path = u"\\\\.\\" + portName_;
    state->Settings = settings_;
    state->Claim.Reset(CreateEventW(nullptr, TRUE, FALSE, W(ClaimName(portName_))));
    if (state->Claim.Valid() && GetLastError() == ERROR_ALREADY_EXISTS) {
        error = SerialOpenErrorText(ERROR_ACCESS_DENIED);
        return false;
    }
    state->Done.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!state->Done.Valid()) {
        error = Tr("error.thread", u"Could not start connection");
        return false;
    }

    // The opener may run on after every window of the plugin has gone.
    PinModule();
    auto* ref = new std::shared_ptr<TOpenState>(state);
    const HANDLE opener = CreateThread(nullptr, 0, &OpenerMain, ref, 0, nullptr);
    if (!opener) {
        delete ref;
        error = Tr("error.thread", u"Could not start connection");
        return false;
    }
    CloseHandle(opener);  // never waited for: it ends by itself
    open_ = std::move(state);

    if (!StartWorker(&TSerialBackend::WorkerProc)) {
        ReleaseOpenState();
        error = Tr("error.thread", u"Could not start connection");
        return false;
    }
    return true;
}

void TSerialBackend::ReleaseOpenState() {
    if (!open_) return;
    open_->LetGoOf(TOpenState::kBackendSide);
    open_.reset();
}

bool TSerialBackend::Close() {
    // On false the worker may still use the port: it stays open.
    if (!StopWorker()) return false;
    DropQueue();
    UnderSendLock([&] {
        ready_.store(false);
        port_ = INVALID_HANDLE_VALUE;
        changes_ = {};
    });
    ReleaseOpenState();
    return true;
}

std::u16string TSerialBackend::EndText(DWORD code) {
    const int failure = failure_.load();
    if (failure == kOpenOk || code != failureCode_.load()) return {};
    switch (failure) {
        case kOpenCreate:
            return SerialOpenErrorText(code);
        case kOpenParameters:
            return TrFmt("error.serial_parameters", u"Invalid port settings: {0}",
                         {SystemMessage(code)});
        default:
            return {};
    }
}

DWORD WINAPI TSerialBackend::WorkerProc(LPVOID self) {
    static_cast<TSerialBackend*>(self)->Run();
    return 0;
}

void TSerialBackend::Run() {
    const HANDLE waits[2] = {StopEvent(), open_->Done.Get()};
    const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (Stopping()) return;  // Close during the open: the opener cleans up
    if (woke != WAIT_OBJECT_0 + 1) {
        PostEnded(GetLastError());
        return;
    }
    if (open_->Failure != kOpenOk) {
        // lParam 0 would read as an orderly close.
        const DWORD code = open_->Code ? open_->Code : DWORD(ERROR_OPEN_FAILED);
        failureCode_.store(code);
        failure_.store(open_->Failure);
        PostEnded(code);
        return;
    }
    TakeOverLine(open_->Port);
    PostConnected();
    IoLoop(open_->Port);
}

void TSerialBackend::TakeOverLine(HANDLE port) {
    for (;;) {
        TLineChanges changes;
        TSessionSettings settings;
        const bool ready = UnderSendLock([&] {
            if (!changes_.Settings && changes_.Dtr < 0 && changes_.Rts < 0) {
                port_ = port;
                ready_.store(true);
                return true;
            }
            changes = changes_;
            settings = pendingSettings_;
            changes_ = {};
            return false;
        });
        if (ready) return;
        // In the order the owner made them: a record sets both lines, a
        // later SetDtr or SetRts overrides its line.
        if (changes.Settings && ConfigureLine(port, settings, true))
            writePiece_.store(SerialWritePiece(settings));
        if (changes.Dtr >= 0) EscapeCommFunction(port, changes.Dtr ? SETDTR : CLRDTR);
        if (changes.Rts >= 0) EscapeCommFunction(port, changes.Rts ? SETRTS : CLRRTS);
    }
}

void TSerialBackend::IoLoop(HANDLE port) {
    // The buffers outlive the operations (declared first, destroyed last).
    uint8_t buffer[kReadBlock];
    TByteBuf piece;  // what the write in flight carries, from its front
    TPortOp read(port), write(port);
    if (!read.Event.Valid() || !write.Event.Valid()) {
        if (!Stopping()) PostEnded(GetLastError());
        return;
    }
    // After an empty read or write the next one waits this long: a driver
    // that completes them empty (some adapters do once unplugged; Wine times
    // a waiting read out whenever a write has to wait) must not keep this
    // thread spinning.
    ULONGLONG readAt = 0, writeAt = 0;
    DWORD failure = ERROR_SUCCESS;
    bool quickReads = false;
    // A break sits between two writes; however the loop ends, the line does
    // not stay in the break state.
    ULONGLONG breakEnds = 0;
    bool inBreak = false;
    struct TBreakGuard {
        HANDLE Port;
        const bool& On;
        ~TBreakGuard() {
            if (On) ClearCommBreak(Port);
        }
    } breakGuard{port, inBreak};

    // A read that timed out is an empty read, not a lost port: Windows
    // reports it as success, Wine fails it with ERROR_TIMEOUT.
    auto received = [&](bool ok, DWORD got) {
        if (!ok && GetLastError() != ERROR_TIMEOUT) {
            failure = GetLastError();
            return true;
        }
        if (ok && got > 0) return Deliver(buffer, int32_t(got));  // false: stopping
        readAt = GetTickCount64() + kReadIntervalMs;
        return true;
    };
    auto wrote = [&](bool ok, DWORD put) {
        if (!ok && GetLastError() != ERROR_TIMEOUT) {
            failure = GetLastError();
            return;
        }
        put = std::min(put, DWORD(piece.Count()));
        CountWritten(put);
        piece.Consume(int32_t(put));
        if (put == 0) writeAt = GetTickCount64() + kReadIntervalMs;
    };

    while (!Stopping() && failure == ERROR_SUCCESS) {
        // An operation that completed at once is followed by the next round
        // without waiting; reads and writes take turns, so a flood of input
        // cannot hold the queue back, nor the other way round.
        bool progressed = false;
        ServiceFileSend();
        ULONGLONG now = GetTickCount64();
        if (inBreak && now >= breakEnds) {
            ClearCommBreak(port);
            inBreak = false;
        }
        if (!inBreak && !write.Busy && breakWanted_.exchange(false) && SetCommBreak(port)) {
            inBreak = true;
            breakEnds = now + kBreakMs;
        }
        if (!read.Busy && now >= readAt) {
            if (quickReads != ProtocolTransferRunning()) {
                quickReads = !quickReads;
                SetReadTimeouts(port, quickReads);
            }
            DWORD got = 0;
            const bool ok = ReadFile(port, buffer, DWORD(kReadBlock), &got, read.Start());
            if (!ok && GetLastError() == ERROR_IO_PENDING) {
                read.Busy = true;
            } else {
                if (!received(ok, got)) return;
                progressed = true;
            }
        }
        if (!write.Busy && now >= writeAt && failure == ERROR_SUCCESS && !inBreak &&
            !breakWanted_.load()) {
            bool reply = false;
            if (piece.Count() == 0 && TakeOut(piece, writePiece_.load(), reply) > 0)
                PieceStarting(piece.Count());
            if (piece.Count() > 0) {
                DWORD put = 0;
                const bool ok =
                    WriteFile(port, piece.Data(), DWORD(piece.Count()), &put, write.Start());
                if (!ok && GetLastError() == ERROR_IO_PENDING) {
                    write.Busy = true;
                } else {
                    wrote(ok, put);
                    progressed = true;
                }
            }
        }
        if (progressed || failure != ERROR_SUCCESS) continue;

        HANDLE waits[4] = {StopEvent(), QueueEvent()};
        DWORD count = 2;
        if (read.Busy) waits[count++] = read.Event.Get();
        if (write.Busy) waits[count++] = write.Event.Get();
        ULONGLONG until = ~0ull;
        if (!read.Busy) until = readAt;
        if (!write.Busy && piece.Count() > 0) until = std::min(until, writeAt);
        if (inBreak) until = std::min(until, breakEnds);
        now = GetTickCount64();
        const DWORD timeout = std::min(
            until == ~0ull ? INFINITE : DWORD(until > now ? until - now : 0), FileSendWait());
        if (WaitForMultipleObjects(count, waits, FALSE, timeout) == WAIT_FAILED) {
            failure = GetLastError();
            break;
        }
        if (read.Finished()) {
            DWORD got = 0;
            const bool ok = read.Result(got);
            if (!received(ok, got)) return;
        }
        if (write.Finished()) {
            DWORD put = 0;
            const bool ok = write.Result(put);
            wrote(ok, put);
        }
    }
    if (failure != ERROR_SUCCESS && !Stopping()) PostEnded(failure);
}

void TSerialBackend::PieceStarting(int32_t) {}

bool TSerialBackend::CanBreak() const { return true; }

bool TSerialBackend::SendBreak() {
    if (!LineUp()) return false;
    breakWanted_.store(true);
    SetEvent(QueueEvent());
    return true;
}

bool TSerialBackend::ApplySettings(const TSessionSettings& settings) {
    settings_ = settings;
    const bool ready = UnderSendLock([&] {
        if (ready_.load()) return true;
        // Applied when the port opens; the record sets both lines again.
        pendingSettings_ = settings;
        changes_.Settings = true;
        changes_.Dtr = changes_.Rts = -1;
        return false;
    });
    if (!ready || !ConfigureLine(port_, settings_, true)) return false;
    writePiece_.store(SerialWritePiece(settings_));
    return true;
}

void TSerialBackend::SetDtr(bool on) {
    const bool ready = UnderSendLock([&] {
        if (!ready_.load()) changes_.Dtr = on ? 1 : 0;
        return ready_.load();
    });
    if (ready) EscapeCommFunction(port_, on ? SETDTR : CLRDTR);
}

void TSerialBackend::SetRts(bool on) {
    const bool ready = UnderSendLock([&] {
        if (!ready_.load()) changes_.Rts = on ? 1 : 0;
        return ready_.load();
    });
    if (ready) EscapeCommFunction(port_, on ? SETRTS : CLRRTS);
}

uint32_t TSerialBackend::ModemStatus() {
    DWORD status = 0;
    if (!ready_.load() || !GetCommModemStatus(port_, &status)) return 0;
    return status;
}
