// What the loopback benchmarks share: a clock, a 64 KiB block of repeated
// text lines, a peer that accepts one connection on 127.0.0.1 and sends a
// number of bytes as fast as the connection takes them, and the plain
// blocking recv loop every result is measured against in the same run.
#pragma once

#include <winsock2.h>

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <thread>
#include <vector>

namespace klbench {

inline double Seconds() {
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(frequency.QuadPart);
}

inline std::vector<char> RepeatedBlock(std::string_view line) {
    std::vector<char> b;
    while (b.size() < 65536) b.insert(b.end(), line.begin(), line.end());
    b.resize(65536);
    return b;
}

// A socket listening on 127.0.0.1 at a port the system chose, and that port.
inline SOCKET ListenLoopback(uint16_t& port) {
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(s, 1);
    int size = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
    port = ntohs(a.sin_port);
    return s;
}

class TSender {
public:
    TSender(int64_t total, const std::vector<char>& block) {
        listener_ = ListenLoopback(port_);
        thread_ = std::thread([this, total, &block] {
            const SOCKET c = accept(listener_, nullptr, nullptr);
            if (c == INVALID_SOCKET) return;
            for (int64_t left = total; left > 0;) {
                const int n = int(std::min<int64_t>(left, int64_t(block.size())));
                const int sent = send(c, block.data(), n, 0);
                if (sent <= 0) break;
                left -= sent;
            }
            closesocket(c);
        });
    }
    ~TSender() {
        closesocket(listener_);  // releases an accept that never got its connection
        thread_.join();
    }
    TSender(const TSender&) = delete;
    TSender& operator=(const TSender&) = delete;
    uint16_t Port() const { return port_; }

private:
    SOCKET listener_ = INVALID_SOCKET;
    uint16_t port_ = 0;
    std::thread thread_;
};

// MB/s (10^6 bytes) of a plain blocking recv loop over the sender's stream,
// from the start of the connect; 0 when the stream came short.
inline double PlainRecv(int64_t total, const std::vector<char>& block, int bufferSize) {
    TSender sender(total, block);
    std::vector<char> buffer(static_cast<size_t>(bufferSize));
    const double t0 = Seconds();
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(sender.Port());
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return 0;
    int64_t got = 0;
    for (int n; (n = recv(s, buffer.data(), bufferSize, 0)) > 0;) got += n;
    const double t = Seconds() - t0;
    closesocket(s);
    return got == total ? double(total) / t / 1e6 : 0;
}

}  // namespace klbench
