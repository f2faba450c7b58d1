// Loopback TCP peers that a test runs itself on 127.0.0.1: a listener with a
// port chosen by the system, a peer that accepts one connection and runs a
// body on it, a peer that accepts one connection after another, and small
// socket helpers.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "backend/uTcpBackend.h"

namespace kltest::loopback {

// A listening socket on 127.0.0.1 with a port chosen by the system.
class TListener {
public:
    explicit TListener(int backlog = SOMAXCONN) {
        EXPECT_TRUE(StartNetworking());
        s_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(s_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(listen(s_, backlog), 0);
        int size = sizeof a;
        getsockname(s_, reinterpret_cast<sockaddr*>(&a), &size);
        port_ = ntohs(a.sin_port);
    }
    ~TListener() { closesocket(s_); }
    uint16_t Port() const { return port_; }
    SOCKET Accept(DWORD timeoutMs) {
        fd_set r;
        FD_ZERO(&r);
        FD_SET(s_, &r);
        timeval tv = {long(timeoutMs / 1000), long(timeoutMs % 1000 * 1000)};
        if (select(0, &r, nullptr, nullptr, &tv) <= 0) return INVALID_SOCKET;
        return accept(s_, nullptr, nullptr);
    }

private:
    SOCKET s_ = INVALID_SOCKET;
    uint16_t port_ = 0;
};

// A peer: accepts one connection and runs `body` on it on its own thread.
class TPeer {
public:
    explicit TPeer(std::function<void(SOCKET)> body) {
        thread_ = std::thread([this, body = std::move(body)] {
            const SOCKET c = listener_.Accept(10000);
            if (c == INVALID_SOCKET) {
                accepted_ = false;
                return;
            }
            body(c);
            closesocket(c);
        });
    }
    ~TPeer() { Join(); }
    uint16_t Port() const { return listener_.Port(); }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    bool Accepted() const { return accepted_; }

private:
    TListener listener_;
    std::atomic<bool> accepted_{true};
    std::thread thread_;
};

// Reads until `n` bytes came, the peer closed, or the deadline passed.
// What a peer received, shared with the test thread.
struct TInbox {
    std::mutex Lock;
    std::string Bytes;
    void Add(const char* p, int n) {
        std::lock_guard<std::mutex> g(Lock);
        Bytes.append(p, size_t(n));
    }
    std::string Take() {
        std::lock_guard<std::mutex> g(Lock);
        std::string out;
        out.swap(Bytes);
        return out;
    }
    size_t Size() {
        std::lock_guard<std::mutex> g(Lock);
        return Bytes.size();
    }
};

// Collects what arrives until the peer side is closed.
inline void Collect(SOCKET s, TInbox& inbox) {
    char buf[8192];
    for (int k; (k = recv(s, buf, sizeof buf, 0)) > 0;) inbox.Add(buf, k);
}

inline std::string RecvExact(SOCKET s, size_t n, DWORD timeoutMs) {
    std::string got;
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    char buf[65536];
    while (got.size() < n) {
        const ULONGLONG now = GetTickCount64();
        if (now >= end) break;
        fd_set r;
        FD_ZERO(&r);
        FD_SET(s, &r);
        const DWORD left = DWORD(end - now);
        timeval tv = {long(left / 1000), long(left % 1000 * 1000)};
        if (select(0, &r, nullptr, nullptr, &tv) <= 0) break;
        const int k = recv(s, buf, int(std::min(sizeof buf, n - got.size())), 0);
        if (k <= 0) break;
        got.append(buf, size_t(k));
    }
    return got;
}

// True when the peer closed in order (recv 0) within the deadline, with no
// bytes before it; `extra` gets any bytes that came instead.
inline bool ExpectOrderlyEnd(SOCKET s, DWORD timeoutMs, std::string& extra) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    char buf[4096];
    while (GetTickCount64() < end) {
        fd_set r;
        FD_ZERO(&r);
        FD_SET(s, &r);
        timeval tv = {0, 100000};
        if (select(0, &r, nullptr, nullptr, &tv) <= 0) continue;
        const int k = recv(s, buf, sizeof buf, 0);
        if (k == 0) return extra.empty();
        if (k < 0) return false;
        extra.append(buf, size_t(k));
    }
    return false;
}

inline bool SendText(SOCKET s, const std::string& text) {
    size_t at = 0;
    while (at < text.size()) {
        const int k = send(s, text.data() + at, int(text.size() - at), 0);
        if (k <= 0) return false;
        at += size_t(k);
    }
    return true;
}

// A port on 127.0.0.1 where nothing listens (taken from the system, then freed).
inline uint16_t UnusedPort() {
    StartNetworking();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int size = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
    closesocket(s);
    return ntohs(a.sin_port);
}

// Accepts connections one after another on one port and runs `body` (given
// the socket and the connection's index from 0) for each, until Stop.
class TRepeatPeer {
public:
    explicit TRepeatPeer(std::function<void(SOCKET, int)> body) {
        thread_ = std::thread([this, body = std::move(body)] {
            for (int i = 0; !stop_; ++i) {
                SOCKET c = INVALID_SOCKET;
                while (!stop_ && c == INVALID_SOCKET) c = listener_.Accept(100);
                if (c == INVALID_SOCKET) break;
                accepted_ = i + 1;
                body(c, i);
                closesocket(c);
            }
        });
    }
    ~TRepeatPeer() { Stop(); }
    uint16_t Port() const { return listener_.Port(); }
    int Accepted() const { return accepted_; }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    bool Stopping() const { return stop_; }

private:
    TListener listener_;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::thread thread_;
};

}  // namespace kltest::loopback
