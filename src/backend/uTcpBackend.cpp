#include "backend/uTcpBackend.h"

#include <ws2tcpip.h>

#include <cstring>
#include <mutex>
#include <new>
#include <utility>

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
      telnet_(connection.Mode == kModeTelnet) {}

TTcpBackend::~TTcpBackend() {
    // Close normally took the socket; a worker that ended without Close
    // leaves it here, and it has no user any more.
    const SOCKET s = socket_.exchange(INVALID_SOCKET);
    if (s != INVALID_SOCKET) closesocket(s);
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
    // Every wait of the worker includes the stop event.
    if (!StopWorker()) return false;
    DropQueue();
    const SOCKET left = socket_.exchange(INVALID_SOCKET);
    if (left != INVALID_SOCKET) closesocket(left);
    return true;
}

bool TTcpBackend::IsRemoteEcho() { return connection_.Mode == kModeTelnet && telnet_.RemoteEcho(); }

bool TTcpBackend::CanBreak() const { return connection_.Mode != kModeRaw; }

bool TTcpBackend::SendBreak() {
    static constexpr uint8_t kBreak[] = {telnet::kIac, telnet::kBrk};
    return CanBreak() && QueueCommand(kBreak, int32_t(sizeof kBreak));
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
    PostConnected();
    Transfer(s, event.Get());
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

namespace {

constexpr int kPending = -2;  // an overlapped operation is under way

// The overlapped receive. Whoever leaves the frame that owns its block (a
// stop, a failure, an exception) cancels it here and waits until the system
// is done with the block.
class TSocketRead {
public:
    TSocketRead(SOCKET s, HANDLE event) : s_(s), event_(event) {}
    ~TSocketRead() { Cancel(); }
    TSocketRead(const TSocketRead&) = delete;
    TSocketRead& operator=(const TSocketRead&) = delete;

    bool Busy() const { return busy_; }
    bool Finished() const { return busy_ && WaitForSingleObject(event_, 0) == WAIT_OBJECT_0; }
    // The count read at once (0: the peer closed), kPending, or -1 with `code`.
    int Start(uint8_t* block, int& code) {
        WSABUF buffer = {ULONG(kReadBlock), reinterpret_cast<char*>(block)};
        DWORD got = 0, flags = 0;
        ov_ = {};
        ov_.hEvent = event_;
        ResetEvent(event_);
        if (WSARecv(s_, &buffer, 1, &got, &flags, &ov_, nullptr) == 0) return int(got);
        code = WSAGetLastError();
        if (code != WSA_IO_PENDING) return -1;
        busy_ = true;
        return kPending;
    }
    int Finish(int& code) {
        busy_ = false;
        DWORD got = 0, flags = 0;
        if (WSAGetOverlappedResult(s_, &ov_, &got, FALSE, &flags)) return int(got);
        code = WSAGetLastError();
        return -1;
    }
    void Cancel() {
        if (!busy_) return;
        CancelIoEx(HANDLE(s_), &ov_);
        DWORD got = 0, flags = 0;
        WSAGetOverlappedResult(s_, &ov_, &got, TRUE, &flags);
        busy_ = false;
    }

private:
    const SOCKET s_;
    const HANDLE event_;
    WSAOVERLAPPED ov_ = {};
    bool busy_ = false;
};

}  // namespace

// The send side: one overlapped send at a time, of what was taken from the
// queue. Cancelled like the receive when the worker leaves.
class TTcpBackend::TSender {
public:
    TSender(TTcpBackend& backend, SOCKET s)
        : b_(backend), s_(s), event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~TSender() { Cancel(); }
    TSender(const TSender&) = delete;
    TSender& operator=(const TSender&) = delete;

    bool Valid() const { return event_.Valid(); }
    HANDLE Event() const { return event_.Get(); }
    bool Busy() const { return busy_; }
    bool Finished() const { return busy_ && WaitForSingleObject(event_.Get(), 0) == WAIT_OBJECT_0; }

    // Sends what the queue holds until a send has to wait or the queue is
    // empty; false with `code` when a send failed.
    bool Pump(int& code) {
        while (!busy_) {
            if (sent_ == wire_.Count() && !Refill()) return true;
            WSABUF buffer = {ULONG(wire_.Count() - sent_),
                             reinterpret_cast<char*>(wire_.Data() + sent_)};
            DWORD n = 0;
            ov_ = {};
            ov_.hEvent = event_.Get();
            ResetEvent(ov_.hEvent);
            if (WSASend(s_, &buffer, 1, &n, 0, &ov_, nullptr) == 0) {
                if (!Sent(n, code)) return false;
                continue;
            }
            code = WSAGetLastError();
            if (code != WSA_IO_PENDING) return false;
            busy_ = true;
        }
        return true;
    }
    // After the event fired; false with `code` when the send failed.
    bool Finish(int& code) {
        busy_ = false;
        DWORD n = 0, flags = 0;
        if (!WSAGetOverlappedResult(s_, &ov_, &n, FALSE, &flags)) {
            code = WSAGetLastError();
            return false;
        }
        return Sent(n, code);
    }
    void Cancel() {
        if (!busy_) return;
        CancelIoEx(HANDLE(s_), &ov_);
        DWORD n = 0, flags = 0;
        WSAGetOverlappedResult(s_, &ov_, &n, TRUE, &flags);
        busy_ = false;
    }

private:
    // The next bytes from the queue; false when it is empty.
    bool Refill() {
        wire_.Clear();
        sent_ = counted_ = 0;
        bool reply = false;
        if (b_.TakeOut(wire_, kSendBatch, reply) == 0) return false;
        escaped_ = !reply && b_.connection_.Mode != kModeRaw;
        reply_ = reply;
        if (escaped_) {
            spare_.Clear();
            if (!EscapeIac(wire_.Data(), wire_.Count(), spare_)) throw std::bad_alloc();
            std::swap(wire_, spare_);
        }
        return true;
    }
    // `n` more bytes of the wire left; the caller's bytes among them are
    // counted once they are whole (a doubled 0xFF counts once, when both
    // halves are out).
    bool Sent(DWORD n, int& code) {
        if (n == 0) {  // a send that takes nothing will never take the rest
            code = WSAECONNABORTED;
            return false;
        }
        sent_ += int32_t(std::min<DWORD>(n, DWORD(wire_.Count() - sent_)));
        if (reply_) return true;
        if (!escaped_) {
            b_.CountWritten(sent_ - counted_);
            counted_ = sent_;
            return true;
        }
        const uint8_t* w = wire_.Data();
        int64_t whole = 0;
        while (counted_ < sent_) {
            const void* iac = std::memchr(w + counted_, telnet::kIac, size_t(sent_ - counted_));
            const int32_t plain =
                iac ? int32_t(static_cast<const uint8_t*>(iac) - (w + counted_)) : sent_ - counted_;
            whole += plain;
            counted_ += plain;
            if (!iac || counted_ + 2 > sent_) break;
            counted_ += 2;
            ++whole;
        }
        b_.CountWritten(whole);
        return true;
    }

    TTcpBackend& b_;
    const SOCKET s_;
    THandle event_;
    WSAOVERLAPPED ov_ = {};
    bool busy_ = false;
    TByteBuf wire_;   // on its way out, from sent_ on
    TByteBuf spare_;  // where the escaping is made
    int32_t sent_ = 0;
    int32_t counted_ = 0;  // wire bytes accounted for
    bool reply_ = false;
    bool escaped_ = false;
};

void TTcpBackend::Transfer(SOCKET s, HANDLE readEvent) {
    // The buffers come first: leaving this frame cancels the operations,
    // which are destroyed first, before the buffers go.
    uint8_t block[kReadBlock];
    TSocketRead read(s, readEvent);
    TSender sender(*this, s);
    if (!sender.Valid()) {
        if (!Stopping()) PostEnded(GetLastError());
        return;
    }
    // Reads of 4096 bytes are gathered while more bytes already wait in the
    // socket, and handed over when the socket runs dry or kDeliverBatch is
    // reached: a fast stream then costs one notification per batch instead
    // of one per read, and a lone keystroke echo still goes out at once.
    // `ready` counts bytes known to wait, so the socket is asked only when
    // that count runs out.
    TByteBuf batch, replies;
    const bool telnet = connection_.Mode != kModeRaw;
    u_long ready = 0;
    int code = 0;
    int got = kPending;
    for (;;) {
        if (Stopping()) return;
        ServiceFileSend();
        if (!sender.Pump(code)) break;
        got = kPending;
        if (!read.Busy() && (!telnet || RepliesQueued() <= kReplyCap)) {
            if (ready > 0) {
                got = recv(s, reinterpret_cast<char*>(block), kReadBlock, 0);
                if (got < 0) code = WSAGetLastError();
            } else {
                got = read.Start(block, code);
            }
        }
        if (got == kPending) {
            HANDLE waits[4] = {StopEvent(), QueueEvent()};
            DWORD count = 2;
            if (read.Busy()) waits[count++] = readEvent;
            if (sender.Busy()) waits[count++] = sender.Event();
            const DWORD woke = WaitForMultipleObjects(count, waits, FALSE, FileSendWait());
            if (woke == WAIT_TIMEOUT) continue;  // the file send's turn
            if (woke == WAIT_FAILED) {
                code = int(GetLastError());
                got = -1;
                break;
            }
            if (sender.Finished() && !sender.Finish(code)) break;
            if (!read.Finished()) continue;
            got = read.Finish(code);
        }
        if (got <= 0) break;  // 0: the peer closed; below: `code` says why

        if (telnet) {
            replies.Clear();
            telnet_.Process(block, got, batch, replies);
            // Replies go out before the data they came with is delivered
            // (Pump sends them at once unless the socket is full).
            if (replies.Count() > 0) {
                QueueReply(replies.Data(), replies.Count());
                if (!sender.Pump(code)) break;
            }
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
    if (Stopping()) return;
    // What arrived before the end is delivered before the end is reported.
    if (batch.Count() > 0 && !Deliver(batch.Data(), batch.Count())) return;
    // lParam 0 means an orderly close: a failure always carries a code.
    PostEnded(got == 0 ? 0 : DWORD(code != 0 ? code : WSAECONNABORTED));
}
