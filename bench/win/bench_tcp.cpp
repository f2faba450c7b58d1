// Loopback TCP throughput through TTcpBackend into an owner window's drain,
// raw and telnet, against a plain blocking recv loop with the same 4096-byte
// reads on the same kind of connection, all in one run. A peer thread sends
// the bytes as fast as the connection takes them; the time runs from the
// start of the connect to the end of the stream.
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

    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        auto* self = reinterpret_cast<TOwner*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
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

double Backend(int32_t mode) {
    static const bool registered = [] {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &TOwner::Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"KestrelinkBenchOwner";
        return RegisterClassExW(&wc) != 0;
    }();
    if (!registered) return 0;
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
    if (!StartNetworking()) {
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
    return 0;
}
