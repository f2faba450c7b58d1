// Loopback TCP throughput through TTcpBackend, both ways, all in one run.
//
// Receiving: into an owner window's drain, raw and telnet, against a plain
// blocking recv loop with the same 4096-byte reads on the same kind of
// connection. A peer thread sends the bytes as fast as the connection takes
// them; the time runs from the start of the connect to the end of the stream.
//
// Sending: the owner's thread writes 4096-byte blocks through Write as fast
// as the backend takes them (a refused Write, the queue being full, is tried
// again a moment later), against a plain blocking send loop of the same
// blocks. The time runs from the first block to the peer's last byte.
#include <winsock2.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

#include "backend/uTcpBackend.h"
#include "bench_loopback.h"

namespace {

using klbench::Seconds;

constexpr int64_t kTotal = 64ll << 20;
constexpr int kRepetitions = 5;

// Text without telnet framing, the common case in both modes.
const std::vector<char>& Block() {
    static const std::vector<char> block =
        klbench::RepeatedBlock("2024-05-01 12:00:00 sensor 17: temperature=21.5 humidity=40%\r\n");
    return block;
}

// The owner: a message-only window that drains on WM_APP+1, as the terminal does.
struct TOwner {
    TTcpBackend* backend = nullptr;
    TByteBuf buffer;
    int64_t got = 0;
    bool ended = false;
    bool failed = false;
    bool connected = false;

    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        auto* self = reinterpret_cast<TOwner*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self && msg == WM_KL_CONNECTED) {
            self->connected = true;
            return 0;
        }
        if (self && (msg == WM_KL_RECEIVED || msg == WM_KL_ENDED)) {
            self->buffer.Clear();
            self->backend->TakeReceived(self->buffer);
            self->got += self->buffer.Count();
            if (msg == WM_KL_ENDED) {
                self->ended = true;
                self->failed = lp != 0;
            }
            return 0;
        }
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
};

bool RegisterOwner() {
    static const bool registered = [] {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &TOwner::Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"KestrelinkBenchOwner";
        return RegisterClassExW(&wc) != 0;
    }();
    return registered;
}

double Backend(int32_t mode) {
    klbench::TSender sender(kTotal, Block());
    TOwner owner;
    HWND hwnd = CreateWindowExW(0, L"KestrelinkBenchOwner", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, LONG_PTR(&owner));
    TConnInfo conn;
    conn.Host = u"127.0.0.1";
    conn.Port = sender.Port();
    conn.Mode = mode;
    TTcpBackend backend(hwnd, 1, conn);
    owner.backend = &backend;
    std::u16string error;
    const double t0 = Seconds();
    if (!backend.Open(error)) return 0;
    MSG m;
    while (!owner.ended && GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
    const double t = Seconds() - t0;
    backend.Close();
    DestroyWindow(hwnd);
    return owner.got == kTotal && !owner.failed ? double(kTotal) / t / 1e6 : 0;
}

constexpr int32_t kSendBlock = 4096;

// Accepts one connection and reads `total` bytes; Done() once they are in.
class TReceiver {
public:
    explicit TReceiver(int64_t total) {
        listener_ = klbench::ListenLoopback(port_);
        done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = std::thread([this, total] {
            const SOCKET c = accept(listener_, nullptr, nullptr);
            if (c == INVALID_SOCKET) return;
            std::vector<char> buffer(65536);
            for (int n; got_ < total && (n = recv(c, buffer.data(), int(buffer.size()), 0)) > 0;)
                got_ += n;
            end_ = Seconds();
            SetEvent(done_);
            closesocket(c);
        });
    }
    ~TReceiver() {
        closesocket(listener_);
        thread_.join();
        CloseHandle(done_);
    }
    TReceiver(const TReceiver&) = delete;
    TReceiver& operator=(const TReceiver&) = delete;
    uint16_t Port() const { return port_; }
    HANDLE Done() const { return done_; }
    int64_t Got() const { return got_; }
    double End() const { return end_; }

private:
    SOCKET listener_ = INVALID_SOCKET;
    uint16_t port_ = 0;
    HANDLE done_ = nullptr;
    int64_t got_ = 0;
    double end_ = 0;
    std::thread thread_;
};

double PlainSend(int64_t total) {
    TReceiver receiver(total);
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(receiver.Port());
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return 0;
    const std::vector<char>& block = Block();
    const double t0 = Seconds();
    for (int64_t at = 0; at < total; at += kSendBlock)
        for (int done = 0; done < kSendBlock;) {
            const int n = send(s, block.data() + done, kSendBlock - done, 0);
            if (n <= 0) return 0;
            done += n;
        }
    WaitForSingleObject(receiver.Done(), 60000);
    closesocket(s);
    return receiver.Got() == total ? double(total) / (receiver.End() - t0) / 1e6 : 0;
}

double BackendSend(int32_t mode, int64_t total) {
    TReceiver receiver(total);
    TOwner owner;
    HWND hwnd = CreateWindowExW(0, L"KestrelinkBenchOwner", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, LONG_PTR(&owner));
    TConnInfo conn;
    conn.Host = u"127.0.0.1";
    conn.Port = receiver.Port();
    conn.Mode = mode;
    TTcpBackend backend(hwnd, 1, conn);
    owner.backend = &backend;
    std::u16string error;
    if (!backend.Open(error)) return 0;
    MSG m;
    while (!owner.connected && !owner.ended && GetMessageW(&m, nullptr, 0, 0) > 0)
        DispatchMessageW(&m);
    // The pattern holds no 0xFF, so telnet sends the same bytes as raw.
    const uint8_t* block = reinterpret_cast<const uint8_t*>(Block().data());
    const double t0 = Seconds();
    for (int64_t at = 0; at < total && !owner.ended;) {
        if (backend.Write(block, kSendBlock)) {
            at += kSendBlock;
            continue;
        }
        Sleep(1);
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    }
    const bool all = WaitForSingleObject(receiver.Done(), 60000) == WAIT_OBJECT_0;
    const double t = receiver.End() - t0;
    backend.Close();
    DestroyWindow(hwnd);
    return all && receiver.Got() == total ? double(total) / t / 1e6 : 0;
}

struct TSeries {
    const char* name;
    std::vector<double> runs;
    double Best() const { return *std::max_element(runs.begin(), runs.end()); }
    double Median() const {
        std::vector<double> v = runs;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    }
};

}  // namespace

int main() {
    if (!StartNetworking() || !RegisterOwner()) {
        std::printf("networking did not start\n");
        return 1;
    }
    TSeries plain{"plain recv loop, 4096-byte reads", {}};
    TSeries plainBig{"plain recv loop, 65536-byte reads", {}};
    TSeries raw{"TTcpBackend raw", {}};
    TSeries telnet{"TTcpBackend telnet (negotiating)", {}};
    TSeries filter{"TTcpBackend telnet (filter only)", {}};
    // Interleaved, so a slow phase of the machine hits every series alike.
    for (int i = 0; i < kRepetitions; ++i) {
        plain.runs.push_back(klbench::PlainRecv(kTotal, Block(), kReadBlock));
        raw.runs.push_back(Backend(kModeRaw));
        telnet.runs.push_back(Backend(kModeTelnet));
        filter.runs.push_back(Backend(kModeTelnetFilter));
        plainBig.runs.push_back(klbench::PlainRecv(kTotal, Block(), 65536));
    }
    std::printf("loopback, %lld MiB per run, %d runs each\n", kTotal >> 20, kRepetitions);
    std::printf("%-36s %10s %10s %12s %12s\n", "series", "best MB/s", "median", "ratio best",
                "ratio median");
    for (const TSeries* s : {&plain, &raw, &telnet, &filter, &plainBig}) {
        std::printf("%-36s %10.1f %10.1f %12.3f %12.3f\n", s->name, s->Best(), s->Median(),
                    s->Best() / plain.Best(), s->Median() / plain.Median());
    }
    std::printf("ratios are against the plain 4096-byte recv loop (target for raw: >= 0.8)\n");

    TSeries plainSend{"plain send loop, 4096-byte blocks", {}};
    TSeries rawSend{"TTcpBackend raw Write", {}};
    TSeries telnetSend{"TTcpBackend telnet Write", {}};
    for (int i = 0; i < kRepetitions; ++i) {
        plainSend.runs.push_back(PlainSend(kTotal));
        rawSend.runs.push_back(BackendSend(kModeRaw, kTotal));
        telnetSend.runs.push_back(BackendSend(kModeTelnet, kTotal));
    }
    std::printf("\nsending, %lld MiB per run, %d runs each\n", kTotal >> 20, kRepetitions);
    std::printf("%-36s %10s %10s %12s %12s\n", "series", "best MB/s", "median", "ratio best",
                "ratio median");
    for (const TSeries* s : {&plainSend, &rawSend, &telnetSend}) {
        std::printf("%-36s %10.1f %10.1f %12.3f %12.3f\n", s->name, s->Best(), s->Median(),
                    s->Best() / plainSend.Best(), s->Median() / plainSend.Median());
    }
    std::printf("ratios are against the plain blocking send loop\n");
    return 0;
}
