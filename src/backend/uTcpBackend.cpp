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
}

TTcpBackend::~TTcpBackend() {
    // Close normally took the socket; a worker that ended without Close
    // leaves it here, and it has no user any more.
    const SOCKET s = socket_.exchange(INVALID_SOCKET);
    if (s != INVALID_SOCKET) closesocket(s);
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
    if (!StartWorker(&TTcpBackend::WorkerProc)) {
        error = Tr("error.thread", u"Could not start connection");
        return false;
    }
    return true;
}

bool TTcpBackend::Close() {
    SetStopping();
    // Releases a recv the worker is blocked in; harmless before the connect.
    const SOCKET s = socket_.load();
    if (s != INVALID_SOCKET) shutdown(s, SD_BOTH);
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
    bool ok = true;
    EnterCriticalSection(&sendLock_);
    while (length > 0) {
        const int sent = send(s, reinterpret_cast<const char*>(data), length, 0);
        if (sent <= 0) {
            ok = false;
            break;
        }
        data += sent;
        length -= sent;
    }
    LeaveCriticalSection(&sendLock_);
    return ok;
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
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    if (!Connect(s, address)) {
        if (!Stopping()) PostEnded(kConnectFailed);
        return;  // the socket stays stored; Close closes it
    }
    u_long blocking = 0;
    ioctlsocket(s, FIONBIO, &blocking);
    if (Stopping()) return;

    const DWORD sendTimeout = kSendTimeoutMs;
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendTimeout),
               sizeof sendTimeout);
    PostConnected();
    Receive(s);
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

// Non-blocking connect watched in select steps of 200 ms, counted as steps
// rather than clock time: at most 50 of them.
bool TTcpBackend::Connect(SOCKET s, const sockaddr_in& address) {
    if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return true;
    if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
    for (DWORD counted = 0; !Stopping() && counted < kConnectLimitMs; counted += kConnectStepMs) {
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval step = {0, long(kConnectStepMs * 1000)};
        if (select(0, nullptr, &writable, &failed, &step) > 0) {
            if (!FD_ISSET(s, &writable)) return false;
            // Windows reports a failed connect only in the exception set;
            // SO_ERROR makes sure of it where a stack also marks it writable.
            int error = 0;
            int size = sizeof error;
            getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
            return error == 0;
        }
    }
    return false;
}

// Bytes already waiting in the socket after a read, or 0.
static u_long Waiting(SOCKET s) {
    u_long n = 0;
    return ioctlsocket(s, FIONREAD, &n) == 0 ? n : 0;
}

void TTcpBackend::Receive(SOCKET s) {
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
    while (!Stopping()) {
        const int got = recv(s, reinterpret_cast<char*>(block), kReadBlock, 0);
        if (got <= 0) {
            if (Stopping()) return;
            // What arrived before the end is delivered before the end is reported.
            if (batch.Count() > 0 && !Deliver(batch.Data(), batch.Count())) return;
            PostEnded(got == 0 ? 0 : DWORD(WSAGetLastError()));
            return;
        }
        if (telnet) {
            replies.Clear();
            telnet_.Process(block, got, batch, replies);
            // Replies go out before the data they came with is delivered.
            if (replies.Count() > 0) SendAll(replies.Data(), replies.Count());
        } else {
            batch.Append(block, got);
        }
        ready = ready > u_long(got) ? ready - u_long(got) : Waiting(s);
        if (batch.Count() > 0 && (batch.Count() >= kDeliverBatch || ready == 0)) {
            if (!Deliver(batch.Data(), batch.Count())) return;
            batch.Clear();
        }
    }
}
