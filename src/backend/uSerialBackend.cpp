#include "backend/uSerialBackend.h"

#include <algorithm>
#include <utility>

#include "backend/uSerialDcb.h"
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

}  // namespace

TSerialBackend::TSerialBackend(HWND owner, uint32_t connectionNumber, std::u16string portName,
                               const TSessionSettings& settings)
    : TBackend(owner, connectionNumber),
      portName_(std::move(portName)),
      settings_(settings),
      writePiece_(SerialWritePiece(settings)) {}

bool TSerialBackend::Open(std::u16string& error) {
    error.clear();
    // A backend is opened once; a second Open would orphan the running reader.
    if (port_.Valid() || HasWorker()) {
        error = SerialOpenErrorText(ERROR_ACCESS_DENIED);
        return false;
    }

    claim_.Reset(CreateEventW(nullptr, TRUE, FALSE, W(ClaimName(portName_))));
    if (claim_.Valid() && GetLastError() == ERROR_ALREADY_EXISTS) {
        claim_.Reset();
        error = SerialOpenErrorText(ERROR_ACCESS_DENIED);
        return false;
    }

    const std::u16string path = u"\\\\.\\" + portName_;
    port_.Reset(CreateFileW(W(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr));
    if (!port_.Valid()) {
        error = SerialOpenErrorText(GetLastError());
        ReleasePort();
        return false;
    }

    SetupComm(port_.Get(), kSerialQueueBytes, kSerialQueueBytes);
    if (!ConfigureLine(false)) {
        error = TrFmt("error.serial_parameters", u"Invalid port settings: {0}",
                      {SystemMessage(GetLastError())});
        ReleasePort();
        return false;
    }

    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = kReadIntervalMs;
    SetCommTimeouts(port_.Get(), &timeouts);
    PurgeComm(port_.Get(), kPurgeAll);

    writeEvent_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!writeEvent_.Valid()) {
        error = SystemMessage(GetLastError());
        ReleasePort();
        return false;
    }

    if (!StartWorker(&TSerialBackend::ReaderProc)) {
        error = Tr("error.thread", u"Could not start connection");
        ReleasePort();
        return false;
    }
    return true;
}

bool TSerialBackend::ConfigureLine(bool requireCurrentState) {
    DCB dcb = {};
    dcb.DCBlength = sizeof(DCB);
    if (!GetCommState(port_.Get(), &dcb) && requireCurrentState) return false;
    if (!LineSettingsValid(settings_)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    CopyDcbFields(SerialDcbFields(settings_), dcb);
    if (!SetCommState(port_.Get(), &dcb)) return false;
    writePiece_ = SerialWritePiece(settings_);
    return true;
}

void TSerialBackend::ReleasePort() {
    port_.Reset();
    writeEvent_.Reset();
    claim_.Reset();
}

bool TSerialBackend::Close() {
    // On false the reader may still be blocked on the port: its handles stay.
    if (!StopWorker()) return false;
    ReleasePort();
    return true;
}

DWORD WINAPI TSerialBackend::ReaderProc(LPVOID self) {
    static_cast<TSerialBackend*>(self)->ReadLoop();
    return 0;
}

void TSerialBackend::ReadLoop() {
    THandle readEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!readEvent.Valid()) {
        if (!Stopping()) PostEnded(GetLastError());
        return;
    }
    const HANDLE port = port_.Get();
    const HANDLE waits[2] = {readEvent.Get(), StopEvent()};
    uint8_t buffer[kReadBlock];

    while (!Stopping()) {
        OVERLAPPED ov = {};
        ov.hEvent = readEvent.Get();
        ResetEvent(ov.hEvent);
        DWORD got = 0;
        DWORD code = ERROR_SUCCESS;
        if (!ReadFile(port, buffer, DWORD(kReadBlock), &got, &ov)) {
            code = GetLastError();
            if (code == ERROR_IO_PENDING) {
                if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                    // The buffer is ours again only once the cancelled read is over.
                    CancelIo(port);
                    GetOverlappedResult(port, &ov, &got, TRUE);
                    break;
                }
                code = GetOverlappedResult(port, &ov, &got, FALSE) ? ERROR_SUCCESS : GetLastError();
            }
        }
        // A read that timed out is an empty read, not a lost port. Windows
        // reports it as success; Wine fails it with ERROR_TIMEOUT, which it
        // does to a waiting read whenever a write on the port has to wait.
        if (code != ERROR_SUCCESS && code != ERROR_TIMEOUT) {
            if (!Stopping()) PostEnded(code);
            break;
        }
        if (got > 0) {
            if (!Deliver(buffer, int32_t(got))) break;  // stopping while the owner stalled
        } else if (WaitForSingleObject(StopEvent(), kReadIntervalMs) == WAIT_OBJECT_0) {
            // A driver that completes reads empty (some adapters do once
            // unplugged) would otherwise keep this thread spinning.
            break;
        }
    }
}

bool TSerialBackend::Write(const uint8_t* data, int32_t length) {
    if (length <= 0) return true;
    if (!port_.Valid() || !data) return false;
    while (length > 0) {
        const int32_t piece = std::min(length, writePiece_);
        if (!WritePiece(data, DWORD(piece))) return false;
        data += piece;
        length -= piece;
    }
    return true;
}

bool TSerialBackend::WritePiece(const uint8_t* data, DWORD length) {
    OVERLAPPED ov = {};
    ov.hEvent = writeEvent_.Get();
    ResetEvent(ov.hEvent);
    DWORD put = 0;
    // A count short of the piece is a failed send, not a success.
    if (WriteFile(port_.Get(), data, length, &put, &ov)) return put == length;
    if (GetLastError() != ERROR_IO_PENDING) return false;
    if (WaitForSingleObject(ov.hEvent, kWriteTimeoutMs) == WAIT_OBJECT_0)
        return GetOverlappedResult(port_.Get(), &ov, &put, FALSE) && put == length;
    CancelIo(port_.Get());
    GetOverlappedResult(port_.Get(), &ov, &put, TRUE);
    return false;
}

bool TSerialBackend::ApplySettings(const TSessionSettings& settings) {
    settings_ = settings;
    if (!port_.Valid()) return false;
    return ConfigureLine(true);
}

void TSerialBackend::SetDtr(bool on) {
    if (port_.Valid()) EscapeCommFunction(port_.Get(), on ? SETDTR : CLRDTR);
}

void TSerialBackend::SetRts(bool on) {
    if (port_.Valid()) EscapeCommFunction(port_.Get(), on ? SETRTS : CLRRTS);
}

uint32_t TSerialBackend::ModemStatus() {
    DWORD status = 0;
    if (!port_.Valid() || !GetCommModemStatus(port_.Get(), &status)) return 0;
    return status;
}
