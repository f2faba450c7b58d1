#include "backend/uTcpBackend.h"

#include <ws2tcpip.h>

#include <cstring>
#include <mutex>

#include "base/uWin.h"
#include "i18n/uI18n.h"

static_assert(sizeof(sockaddr_in) == 16, "sockaddr_in must be the 16-byte IPv4 address");

bool StartNetworking() {
    // Started once and never cleaned up: other code in the host process may
    // use Winsock too, and a later WSACleanup would pull it from under them.
    static std::mutex lock;
    static bool started = false;
    static WSADATA data;
    std::lock_guard<std::mutex> guard(lock);
    if (!started) started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    return started;
}

TTcpBackend::TTcpBackend(HWND owner, uint32_t connectionNumber, const TConnInfo& connection)
    : TBackend(owner, connectionNumber),
      connection_(connection),
      telnet_(connection.Mode == kModeTelnet) {
    InitializeCriticalSection(&sendLock_);
    brokenEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

TTcpBackend::~TTcpBackend() {
    // Close normally took the socket; a worker that ended without Close
    // leaves it here, and it has no user any more.
    const SOCKET s = socket_.exchange(INVALID_SOCKET);
    if (s != INVALID_SOCKET) closesocket(s);
    if (brokenEvent_) CloseHandle(brokenEvent_);
    DeleteCriticalSection(&sendLock_);
}

bool TTcpBackend::Open(std::u16string& error) {
    error.clear();
    // The settings file keeps the port unchecked; cut to 16 bits, 65559
    // would quietly reach port 23 of the host instead.
    if (connection_.Port < kMinPort || connection_.Port > kMaxPort) {
        error = Tr("error.port", u"Port must be between 1 and 65535.");
        return false;
    }
    if (!StartNetworking()) {
        error = Tr("error.winsock", u"Could not initialize networking");
        return false;
    }
    if (!brokenEvent_ || !StartWorker(&TTcpBackend::WorkerProc)) {
        error = Tr("error.thread", u"Could not start connection");
        return false;
    }
    return true;
}

bool TTcpBackend::Close() {
    // Every wait of the worker includes the stop event.
    if (!StopWorker()) return false;
    const SOCKET left = socket_.exchange(INVALID_SOCKET);
    if (left != INVALID_SOCKET) closesocket(left);
    return true;
}

bool TTcpBackend::Write(const uint8_t* data, int32_t length) {
    if (length <= 0) return true;
    if (!data) return false;
    if (connection_.Mode == kModeRaw) return SendAll(data, length);
    TByteBuf escaped;
    if (!EscapeIac(data, length, escaped)) return false;
    return SendAll(escaped.Data(), escaped.Count());
}

bool TTcpBackend::IsRemoteEcho() { return connection_.Mode == kModeTelnet && telnet_.RemoteEcho(); }

bool TTcpBackend::SendAll(const uint8_t* data, int32_t length) {
    const SOCKET s = socket_.load();
    if (s == INVALID_SOCKET) return false;
    int failure = 0;
    EnterCriticalSection(&sendLock_);
    while (length > 0) {
        const int sent = send(s, reinterpret_cast<const char*>(data), length, 0);
        if (sent <= 0) {
            failure = sent < 0 ? WSAGetLastError() : 0;
            if (failure == 0) failure = WSAECONNABORTED;
            break;
        }
        data += sent;
        length -= sent;
    }
    LeaveCriticalSection(&sendLock_);
    if (failure == 0) return true;
    // Before the connection is established nothing reached the wire; the
    // connect goes on and reports for itself.
    if (connected_.load()) {
        int none = 0;
        sendError_.compare_exchange_strong(none, failure);
        SetEvent(brokenEvent_);
    }
    return false;
}

DWORD WINAPI TTcpBackend::WorkerProc(LPVOID self) {
    static_cast<TTcpBackend*>(self)->Run();
    return 0;
}

void TTcpBackend::Run() {
    sockaddr_in address;
    if (!Resolve(address)) return;
    if (Stopping()) return;

    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        PostEnded(WSAGetLastError());
        return;
    }
    socket_.store(s);
    // Signalled by the network: first for the connect, then for each
    // overlapped read.
    THandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event.Valid()) {
        if (!Stopping()) PostEnded(GetLastError());
        return;
    }
    if (!Connect(s, address, event.Get())) {
        if (!Stopping()) PostEnded(kConnectFailed);
        return;  // the socket stays stored; Close closes it
    }
    if (Stopping()) return;

    const DWORD sendTimeout = kSendTimeoutMs;
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendTimeout),
               sizeof sendTimeout);
    connected_.store(true);
    PostConnected();
    Receive(s, event.Get());
}

// Fills `address`; on failure posts WM_APP+2 (also while stopping, so the
// owner always learns why) and returns false.
bool TTcpBackend::Resolve(sockaddr_in& address) {
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(connection_.Port));
    const std::string host = WideToAnsi(connection_.Host);
    // An empty name would make gethostbyname answer with this machine's own
    // addresses; nobody means that by leaving the host blank.
    if (host.empty()) {
        PostEnded(WSAHOST_NOT_FOUND);
        return false;
    }
    const unsigned long ip = inet_addr(host.c_str());
    if (ip != INADDR_NONE) {
        address.sin_addr.s_addr = ip;
        return true;
    }
    const hostent* h = gethostbyname(host.c_str());
    if (!h || !h->h_addr_list || !h->h_addr_list[0] || h->h_length < 4) {
        // lParam 0 means an orderly close to the owner, so a look-up that
        // failed without a code must still carry one.
        const int code = WSAGetLastError();
        PostEnded(code ? DWORD(code) : DWORD(WSAHOST_NOT_FOUND));
        return false;
    }
    std::memcpy(&address.sin_addr, h->h_addr_list[0], 4);
    return true;
}

// SO_ERROR of the socket, or the failure to read it.
static int SocketError(SOCKET s) {
    int error = 0;
    int size = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
        return WSAGetLastError();
    return error;
}

// Non-blocking connect watched in steps of 200 ms, counted as steps rather
// than clock time: at most 50 of them. Each step ends at once when the connect
// completes or the backend is told to stop.
bool TTcpBackend::Connect(SOCKET s, const sockaddr_in& address, HANDLE event) {
    // Selecting network events makes the socket non-blocking; the selection
    // is undone before the socket goes back to blocking sends.
    if (WSAEventSelect(s, event, FD_CONNECT) != 0) return false;
    bool connected = connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) {
        const HANDLE waits[2] = {event, StopEvent()};
        for (DWORD counted = 0; !Stopping() && counted < kConnectLimitMs;
             counted += kConnectStepMs) {
            const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, kConnectStepMs);
            if (woke == WAIT_TIMEOUT) continue;
            if (woke != WAIT_OBJECT_0) break;  // stopping, or the wait failed
            WSANETWORKEVENTS happened = {};
            if (WSAEnumNetworkEvents(s, event, &happened) != 0) break;
            if (!(happened.lNetworkEvents & FD_CONNECT)) continue;
            connected = happened.iErrorCode[FD_CONNECT_BIT] == 0 && SocketError(s) == 0;
            break;
        }
    }
    WSAEventSelect(s, nullptr, 0);
    u_long blocking = 0;
    ioctlsocket(s, FIONBIO, &blocking);
    return connected;
}

// Bytes already waiting in the socket after a read, or 0.
static u_long Waiting(SOCKET s) {
    u_long n = 0;
    return ioctlsocket(s, FIONREAD, &n) == 0 ? n : 0;
}

int TTcpBackend::ReadBlock(SOCKET s, HANDLE event, uint8_t* block, bool bytesWait, int& code) {
    if (bytesWait) {
        const int got = recv(s, reinterpret_cast<char*>(block), kReadBlock, 0);
        if (got >= 0) return got;
        code = WSAGetLastError();
        return -1;
    }
    WSABUF buffer = {ULONG(kReadBlock), reinterpret_cast<char*>(block)};
    DWORD got = 0, flags = 0;
    OVERLAPPED ov = {};
    ov.hEvent = event;
    ResetEvent(event);
    if (WSARecv(s, &buffer, 1, &got, &flags, &ov, nullptr) == 0) return int(got);
    code = WSAGetLastError();
    if (code != WSA_IO_PENDING) return -1;

    const HANDLE waits[3] = {event, StopEvent(), brokenEvent_};
    const DWORD woke = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
    if (woke == WAIT_OBJECT_0) {
        if (WSAGetOverlappedResult(s, &ov, &got, FALSE, &flags)) return int(got);
        code = WSAGetLastError();
        return -1;
    }
    code = woke == WAIT_FAILED ? int(GetLastError()) : 0;
    // The block is ours again only once the cancelled read is over. A read
    // that completed meanwhile keeps its bytes.
    CancelIoEx(HANDLE(s), &ov);
    const bool done = WSAGetOverlappedResult(s, &ov, &got, TRUE, &flags);
    if (done && got > 0) return int(got);
    return woke == WAIT_FAILED ? -1 : kWoken;
}

void TTcpBackend::Receive(SOCKET s, HANDLE event) {
    uint8_t block[kReadBlock];
    // Reads of 4096 bytes are gathered while more bytes already wait in the
    // socket, and handed over when the socket runs dry or kDeliverBatch is
    // reached: a fast stream then costs one notification per batch instead
    // of one per read, and a lone keystroke echo still goes out at once.
    // `ready` counts bytes known to wait, so the socket is asked only when
    // that count runs out.
    TByteBuf batch, replies;
    const bool telnet = connection_.Mode != kModeRaw;
    u_long ready = 0;
    for (;;) {
        int code = 0;
        const bool broken = sendError_.load() != 0;
        const int got = Stopping() || broken ? kWoken : ReadBlock(s, event, block, ready > 0, code);
        if (got <= 0) {
            if (Stopping()) return;
            // What arrived before the end is delivered before the end is reported.
            if (batch.Count() > 0 && !Deliver(batch.Data(), batch.Count())) return;
            if (got == kWoken) code = sendError_.load();
            // lParam 0 means an orderly close: a failure always carries a code.
            PostEnded(got == 0 ? 0 : DWORD(code != 0 ? code : WSAECONNABORTED));
            return;
        }
        if (telnet) {
            replies.Clear();
            telnet_.Process(block, got, batch, replies);
            // Replies go out before the data they came with is delivered; a
            // reply that fails ends the connection at the next pass.
            if (replies.Count() > 0) SendAll(replies.Data(), replies.Count());
        } else if (!batch.Append(block, got)) {
            // The batch cannot grow: hand over what it holds and this read as they are.
            if (!Deliver(batch.Data(), batch.Count()) || !Deliver(block, got)) return;
            batch.Clear();
        }
        ready = ready > u_long(got) ? ready - u_long(got) : Waiting(s);
        if (batch.Count() > 0 && (batch.Count() >= kDeliverBatch || ready == 0)) {
            if (!Deliver(batch.Data(), batch.Count())) return;
            batch.Clear();
        }
    }
}
