// The TCP backend against peers that this program runs itself on 127.0.0.1:
// raw echo, a negotiating telnet server, peers that close or reset, a port
// nothing listens on and a listener whose accept queue is full.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "backend/uTcpBackend.h"
#include "loopback_peer.h"
#include "owner_window.h"
#include "send_fill.h"

using kltest::TOwnerWindow;
using namespace kltest::loopback;

namespace {

ULONGLONG Now() { return GetTickCount64(); }

uint8_t Pattern(int64_t k) { return uint8_t((k * 7 + (k >> 12)) & 0xFF); }

std::string Hex(const std::string& s) {
    std::string out;
    char buf[4];
    for (unsigned char c : s) {
        std::snprintf(buf, sizeof buf, "%02X ", c);
        out += buf;
    }
    return out;
}

const std::string kIacS(1, '\xFF');

TConnInfo Conn(uint16_t port, int32_t mode, const std::u16string& host = u"127.0.0.1") {
    TConnInfo c;
    c.Name = u"test";
    c.Host = host;
    c.Port = port;
    c.Mode = mode;
    return c;
}

// Closes the backend when a test leaves early, so no worker outlives its object.
struct TCloseOnExit {
    TBackend& b;
    ~TCloseOnExit() { b.Close(); }
};

bool WriteText(TTcpBackend& b, const std::string& s) {
    return b.Write(reinterpret_cast<const uint8_t*>(s.data()), int32_t(s.size()));
}

bool HasText(const TOwnerWindow& o, const std::string& s) {
    return o.Received().find(s) != std::string::npos;
}

const std::string kGreeting =
    "\xFF\xFB\x01"              // WILL ECHO
    "\xFF\xFD\x1F"              // DO NAWS
    "\xFF\xFD\x18"              // DO TERMINAL-TYPE
    "\xFF\xFA\x18\x01\xFF\xF0"  // SB TERMINAL-TYPE SEND
    "login: ";
const std::string kGreetingReplies =
    std::string("\xFF\xFD\x01", 3) +                          // DO ECHO
    std::string("\xFF\xFB\x1F", 3) +                          // WILL NAWS
    std::string("\xFF\xFA\x1F\x00\x78\x00\x28\xFF\xF0", 9) +  // 120x40
    std::string("\xFF\xFB\x18", 3) +                          // WILL TERMINAL-TYPE
    std::string("\xFF\xFA\x18\x00XTERM\xFF\xF0", 11);
const std::string kTyped = "user\xFF\r";

// Close runs on the file manager's UI thread at every Disconnect, reconnect
// and window close, so it must not wait on the peer in any state.
void ExpectPromptCloses(const char* peer, std::vector<double>& ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("[ info ] Close, %s: p50 %.0f ms, max %.0f ms over %zu\n", peer, ms[ms.size() / 2],
                ms.back(), ms.size());
    EXPECT_LT(ms.back(), 250.0) << peer << ": aimed at < 50 ms, margin for a loaded machine";
}

}  // namespace

TEST(Tcp, RawEchoAndTheMessageSequence) {
    TOwnerWindow owner;
    TPeer peer([](SOCKET c) {
        char buf[4096];
        for (int k; (k = recv(c, buf, sizeof buf, 0)) > 0;)
            SendText(c, std::string(buf, size_t(k)));
    });
    TTcpBackend b(owner.Handle(), 0x80000001u, Conn(peer.Port(), kModeRaw));
    TCloseOnExit closer{b};
    owner.DrainFrom(&b);
    EXPECT_FALSE(WriteText(b, "early")) << "no socket before Open";
    EXPECT_TRUE(b.Write(nullptr, 0)) << "an empty write always succeeds";

    std::u16string error = u"stale";
    ASSERT_TRUE(b.Open(error));
    EXPECT_TRUE(error.empty());
    ASSERT_TRUE(owner.WaitFor(WM_KL_CONNECTED, 5000));
    const auto* e = owner.Last(WM_KL_CONNECTED);
    EXPECT_EQ(e->WParam, WPARAM(0x80000001u));
    EXPECT_EQ(e->LParam, 0);

    const std::string line = "hello \xFF world\r\n";
    ASSERT_TRUE(WriteText(b, line));
    ASSERT_TRUE(owner.PumpUntil([&] { return owner.Received().size() >= line.size(); }, 5000));
    EXPECT_EQ(owner.Received(), line) << "raw mode sends 0xFF once and delivers bytes unchanged";
    EXPECT_FALSE(b.IsRemoteEcho());
    EXPECT_EQ(owner.Events().front().Msg, WM_KL_CONNECTED) << "connected comes before data";

    EXPECT_TRUE(b.Close());
    EXPECT_FALSE(WriteText(b, "late")) << "no socket after Close";
    owner.PumpFor(100);
    EXPECT_EQ(owner.Count(WM_KL_ENDED), 0) << "a Close by the owner is not reported back";
    peer.Join();
}

// Reads are gathered while more bytes wait; a burst that ends exactly on a
// read or batch boundary must still be handed over without waiting for more.
TEST(Tcp, BurstsEndingOnReadBoundariesArriveAtOnce) {
    const std::vector<int> bursts = {
        kReadBlock,       kDeliverBatch, 3 * kReadBlock, 1, kDeliverBatch + kReadBlock,
        5 * kDeliverBatch};
    std::atomic<int> acked{0};
    TPeer peer([&](SOCKET s) {
        int64_t at = 0;
        for (int n : bursts) {
            std::string burst(size_t(n), '\0');
            for (int i = 0; i < n; ++i) burst[size_t(i)] = char(Pattern(at + i));
            at += n;
            if (!SendText(s, burst)) return;
            if (RecvExact(s, 1, 10000).size() != 1) return;  // the owner has it all
            ++acked;
        }
    });
    TOwnerWindow owner;
    TTcpBackend b(owner.Handle(), 81, Conn(peer.Port(), kModeRaw));
    TCloseOnExit closer{b};
    owner.DrainFrom(&b);
    std::u16string error;
    ASSERT_TRUE(b.Open(error));
    size_t expected = 0;
    for (size_t i = 0; i < bursts.size(); ++i) {
        expected += size_t(bursts[i]);
        ASSERT_TRUE(owner.PumpUntil([&] { return owner.Received().size() >= expected; }, 5000))
            << "burst " << i << " of " << bursts[i] << " bytes: got "
            << owner.Received().size() - (expected - size_t(bursts[i])) << " of it";
        ASSERT_TRUE(WriteText(b, "k"));
    }
    EXPECT_TRUE(owner.PumpUntil([&] { return acked == int(bursts.size()); }, 5000));
    bool same = owner.Received().size() == expected;
    for (size_t k = 0; same && k < expected; ++k)
        same = uint8_t(owner.Received()[k]) == Pattern(int64_t(k));
    EXPECT_TRUE(same) << "bytes lost or reordered";
    EXPECT_TRUE(b.Close());
}

// One script for the three modes: the server greets with negotiation and a
// prompt, checks what comes back byte for byte, then withdraws ECHO.
TEST(Tcp, TelnetNegotiationOnTheWire) {
    struct TCase {
        int32_t mode;
        const char* name;
    } cases[] = {{kModeTelnet, "telnet"}, {kModeTelnetFilter, "filter only"}, {kModeRaw, "raw"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TOwnerWindow owner;
        HANDLE gotPrompt = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE looked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::atomic<u_long> queuedAtPrompt{0};
        std::string replies, typed, afterWont, tail;
        bool orderlyEnd = false;
        const bool negotiate = c.mode == kModeTelnet;
        const std::string expectTyped =
            c.mode == kModeRaw ? kTyped : std::string("user\xFF\xFF\r", 7);
        TPeer peer([&](SOCKET s) {
            SendText(s, kGreeting);
            WaitForSingleObject(gotPrompt, 10000);
            // Replies are sent before the data they came with is delivered,
            // so they must already be queued here once the owner has the prompt.
            u_long queued = 0;
            ioctlsocket(s, FIONREAD, &queued);
            queuedAtPrompt = queued;
            SetEvent(looked);
            if (negotiate) replies = RecvExact(s, kGreetingReplies.size(), 5000);
            typed = RecvExact(s, expectTyped.size(), 5000);
            SendText(s, kIacS + "\xFC\x01");  // WONT ECHO
            if (negotiate) afterWont = RecvExact(s, 3, 5000);
            SendText(s, "bye");
            orderlyEnd = ExpectOrderlyEnd(s, 5000, tail);
        });
        TTcpBackend b(owner.Handle(), 42, Conn(peer.Port(), c.mode));
        TCloseOnExit closer{b};
        owner.DrainFrom(&b);
        std::u16string error;
        ASSERT_TRUE(b.Open(error));
        ASSERT_TRUE(owner.PumpUntil([&] { return HasText(owner, "login: "); }, 5000))
            << Hex(owner.Received());
        SetEvent(gotPrompt);
        WaitForSingleObject(looked, 10000);
        const std::string shown = c.mode == kModeRaw ? kGreeting : "login: ";
        EXPECT_EQ(Hex(owner.Received()), Hex(shown))
            << "raw mode alone passes telnet bytes through";
        EXPECT_EQ(b.IsRemoteEcho(), negotiate) << "after WILL ECHO";

        EXPECT_FALSE(b.Write(nullptr, 3)) << "a block without bytes is refused, not sent";
        ASSERT_TRUE(WriteText(b, kTyped));
        ASSERT_TRUE(owner.PumpUntil([&] { return HasText(owner, "bye"); }, 5000));
        EXPECT_FALSE(b.IsRemoteEcho()) << "after WONT ECHO";
        EXPECT_TRUE(b.Close());
        peer.Join();

        EXPECT_EQ(queuedAtPrompt, negotiate ? kGreetingReplies.size() : 0u);
        if (negotiate) {
            EXPECT_EQ(Hex(replies), Hex(kGreetingReplies));
        }
        EXPECT_EQ(Hex(typed), Hex(expectTyped)) << "typed data, and nothing before it";
        if (negotiate) {
            EXPECT_EQ(Hex(afterWont), Hex(std::string("\xFF\xFE\x01", 3)));
        }
        EXPECT_TRUE(orderlyEnd) << "unexpected bytes at the end: " << Hex(tail);
        CloseHandle(gotPrompt);
        CloseHandle(looked);
    }
}

TEST(Tcp, PeerThatClosesOrResets) {
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "orderly close");
        TOwnerWindow owner;
        // A reset may discard what the backend has not read yet, so the peer
        // ends only once the owner has the bytes.
        HANDLE shown = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        TPeer peer([reset, shown](SOCKET s) {
            SendText(s, "bye");
            WaitForSingleObject(shown, 10000);
            if (reset) {
                linger l = {1, 0};  // close with RST
                setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
            } else {
                shutdown(s, SD_SEND);
            }
        });
        TTcpBackend b(owner.Handle(), 9, Conn(peer.Port(), kModeTelnet));
        TCloseOnExit closer{b};
        owner.DrainFrom(&b);
        std::u16string error;
        ASSERT_TRUE(b.Open(error));
        const bool gotBye = owner.PumpUntil([&] { return owner.Received() == "bye"; }, 5000);
        SetEvent(shown);
        ASSERT_TRUE(gotBye) << "received \"" << owner.Received() << "\"";
        ASSERT_TRUE(owner.WaitFor(WM_KL_ENDED, 5000));
        const auto* e = owner.Last(WM_KL_ENDED);
        EXPECT_EQ(e->WParam, WPARAM(9));
        const LPARAM expected = reset ? LPARAM(WSAECONNRESET) : 0;
        EXPECT_EQ(e->LParam, expected) << "0 only for an orderly close by the peer";
        EXPECT_EQ(owner.Received(), "bye") << "bytes before the end are drained";
        EXPECT_EQ(owner.Count(WM_KL_CONNECTED), 1);
        // After an orderly close the first send may still be taken; the
        // peer's stack answers it with a reset, and from then on sends fail.
        EXPECT_TRUE(owner.PumpUntil([&] { return !WriteText(b, "y"); }, 5000))
            << "sends on a dead connection kept succeeding";
        const ULONGLONG t0 = Now();
        EXPECT_TRUE(b.Close());
        EXPECT_LT(Now() - t0, 2000u);
        peer.Join();
        CloseHandle(shown);
    }
}

TEST(Tcp, FailedConnectsAndLookUps) {
    TOwnerWindow owner;
    {
        TTcpBackend b(owner.Handle(), 21, Conn(UnusedPort(), kModeRaw));
        TCloseOnExit closer{b};
        std::u16string error;
        ASSERT_TRUE(b.Open(error)) << "Open does not connect";
        ASSERT_TRUE(owner.WaitFor(WM_KL_ENDED, 15000));
        EXPECT_EQ(owner.Last(WM_KL_ENDED)->LParam, LPARAM(10060))
            << "a refused connect is reported as WSAETIMEDOUT";
        EXPECT_EQ(owner.Count(WM_KL_CONNECTED), 0);
        EXPECT_FALSE(WriteText(b, "x")) << "no connection, no send";
        EXPECT_TRUE(b.Close());
    }
    {
        // A name goes through the look-up; "localhost" resolves without any network.
        TPeer peer([](SOCKET s) { SendText(s, "named"); });
        TTcpBackend b(owner.Handle(), 22, Conn(peer.Port(), kModeRaw, u"localhost"));
        TCloseOnExit closer{b};
        owner.DrainFrom(&b);
        std::u16string error;
        ASSERT_TRUE(b.Open(error));
        ASSERT_TRUE(owner.PumpUntil([&] { return owner.Count(WM_KL_ENDED) == 2; }, 5000));
        EXPECT_EQ(owner.Last(WM_KL_CONNECTED)->WParam, WPARAM(22));
        EXPECT_EQ(owner.Last(WM_KL_ENDED)->LParam, 0);
        EXPECT_EQ(owner.Received(), "named");
        EXPECT_TRUE(b.Close());
        owner.DrainFrom(nullptr);
    }
    {
        // A blank host must not reach this machine's own addresses.
        TTcpBackend b(owner.Handle(), 23, Conn(UnusedPort(), kModeRaw, u""));
        TCloseOnExit closer{b};
        std::u16string error;
        ASSERT_TRUE(b.Open(error));
        ASSERT_TRUE(owner.PumpUntil([&] { return owner.Count(WM_KL_ENDED) == 3; }, 5000));
        EXPECT_EQ(owner.Last(WM_KL_ENDED)->LParam, LPARAM(WSAHOST_NOT_FOUND));
        EXPECT_NE(owner.Last(WM_KL_ENDED)->LParam, 0) << "a failed look-up never reads as a close";
        EXPECT_TRUE(b.Close());
    }
    {
        // The settings file does not check the port. One past 16 bits must
        // not be cut down to the port of a listening peer.
        TListener listener;
        for (const int32_t port : {int32_t(listener.Port()) + 65536, 65536, 0, -23}) {
            TConnInfo c = Conn(0, kModeRaw);
            c.Port = port;
            TTcpBackend b(owner.Handle(), 24, c);
            std::u16string error;
            EXPECT_FALSE(b.Open(error)) << "port " << port;
            EXPECT_EQ(error, u"Port must be between 1 and 65535.") << "port " << port;
            EXPECT_TRUE(b.Close());
        }
    }
    EXPECT_EQ(owner.Count(WM_KL_CONNECTED), 1);
}

// A listener that never accepts and whose accept queue is full leaves a
// connect pending (the kernel drops further SYNs), the only real way to keep
// a loopback connect from resolving at once.
TEST(Tcp, ConnectThatStaysPending) {
    TListener full(1);
    std::vector<SOCKET> fillers;
    bool pending = false;
    for (int i = 0; i < 16 && !pending; ++i) {
        SOCKET f = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        u_long on = 1;
        ioctlsocket(f, FIONBIO, &on);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(full.Port());
        connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fd_set w;
        FD_ZERO(&w);
        FD_SET(f, &w);
        timeval tv = {0, 300000};
        pending = select(0, nullptr, &w, nullptr, &tv) == 0;
        fillers.push_back(f);
    }
    if (!pending) {
        for (SOCKET f : fillers) closesocket(f);
        GTEST_SKIP() << "every loopback connect completed at once; no pending connect to test";
    }

    TOwnerWindow owner;
    // Close while the worker waits for the connect.
    std::vector<double> closes;
    for (uint32_t i = 0; i < 20; ++i) {
        TTcpBackend b(owner.Handle(), 31, Conn(full.Port(), kModeTelnet));
        TCloseOnExit closer{b};
        std::u16string error;
        ASSERT_TRUE(b.Open(error));
        owner.PumpFor(i == 0 ? 700 : 30);
        EXPECT_TRUE(owner.Events().empty()) << "the connect should still be pending";
        const ULONGLONG t0 = Now();
        EXPECT_TRUE(b.Close());
        closes.push_back(double(Now() - t0));
        EXPECT_FALSE(WriteText(b, "x"));
    }
    ExpectPromptCloses("connect pending", closes);
    owner.PumpFor(300);
    EXPECT_TRUE(owner.Events().empty()) << "a Close during the connect reports nothing";

    // Left alone, the connect gives up after 50 steps of 200 ms.
    {
        TTcpBackend b(owner.Handle(), 32, Conn(full.Port(), kModeRaw));
        TCloseOnExit closer{b};
        EXPECT_FALSE(WriteText(b, "x")) << "Write before the connection is established";
        std::u16string error;
        const ULONGLONG t0 = Now();
        ASSERT_TRUE(b.Open(error));
        ASSERT_TRUE(owner.WaitFor(WM_KL_ENDED, 30000));
        const ULONGLONG took = Now() - t0;
        EXPECT_EQ(owner.Last(WM_KL_ENDED)->LParam, LPARAM(10060));
        EXPECT_EQ(owner.Last(WM_KL_ENDED)->WParam, WPARAM(32));
        EXPECT_GE(took, 9000u) << "gave up before the tenth second";
        EXPECT_EQ(owner.Count(WM_KL_CONNECTED), 0);
        EXPECT_TRUE(b.Close());
    }
    for (SOCKET f : fillers) closesocket(f);
}

namespace {

// A peer that sends `total` pattern bytes as fast as the connection takes them.
std::function<void(SOCKET)> FastSender(int64_t total, std::atomic<int64_t>& sent) {
    return [total, &sent](SOCKET s) {
        std::vector<char> block(65536);
        for (int64_t at = 0; at < total; at += int64_t(block.size())) {
            const size_t n = size_t(std::min<int64_t>(int64_t(block.size()), total - at));
            for (size_t i = 0; i < n; ++i) block[i] = char(Pattern(at + int64_t(i)));
            if (!SendText(s, std::string(block.data(), n))) return;
            sent = at + int64_t(n);
        }
    };
}

struct TChecker {
    int64_t count = 0;
    bool inOrder = true;
    void operator()(const uint8_t* p, int32_t n) {
        for (int32_t i = 0; i < n; ++i) inOrder &= p[i] == Pattern(count + i);
        count += n;
    }
};

}  // namespace

TEST(Tcp, CoalescingUnderASlowOwner) {
    const int64_t total = 64ll << 20;
    std::atomic<int64_t> sent{0};
    TPeer peer(FastSender(total, sent));
    TOwnerWindow owner;
    TChecker check;
    owner.SetSink([&](const uint8_t* p, int32_t n) { check(p, n); });
    owner.SetDrainDelay(3);  // a busy owner: the worker keeps delivering meanwhile
    TTcpBackend b(owner.Handle(), 51, Conn(peer.Port(), kModeRaw));
    TCloseOnExit closer{b};
    owner.DrainFrom(&b);
    std::u16string error;
    ASSERT_TRUE(b.Open(error));
    int32_t maxPending = 0;
    ASSERT_TRUE(owner.PumpUntil(
        [&] {
            maxPending = std::max(maxPending, b.PendingCount());
            return owner.Count(WM_KL_ENDED) > 0;
        },
        120000))
        << "received " << check.count << " of " << total;
    EXPECT_EQ(owner.Last(WM_KL_ENDED)->LParam, 0);
    EXPECT_EQ(check.count, total);
    EXPECT_TRUE(check.inOrder) << "bytes lost or reordered";
    EXPECT_FALSE(owner.SawTwoOutstanding()) << "a second WM_APP+1 was queued before the drain";
    EXPECT_LT(owner.Count(WM_KL_RECEIVED), int(total / kReadBlock)) << "no coalescing happened";
    EXPECT_LE(maxPending, kPendingCap);
    EXPECT_TRUE(b.Close());
}

TEST(Tcp, BackPressureWhileTheOwnerStalls) {
    for (bool closeWhileStalled : {false, true}) {
        SCOPED_TRACE(closeWhileStalled ? "Close during the stall" : "owner resumes");
        const int64_t total = 64ll << 20;
        std::atomic<int64_t> sent{0};
        TPeer peer(FastSender(total, sent));
        TOwnerWindow owner;
        TChecker check;
        owner.SetSink([&](const uint8_t* p, int32_t n) { check(p, n); });
        TTcpBackend b(owner.Handle(), 61, Conn(peer.Port(), kModeRaw));
        TCloseOnExit closer{b};
        owner.DrainFrom(&b);
        owner.PauseDrain(true);
        std::u16string error;
        ASSERT_TRUE(b.Open(error));

        // Stall until the worker has filled pending up to the cap and the
        // peer's sending has come to a stop.
        int32_t maxPending = 0;
        int64_t lastSent = -1;
        ULONGLONG stillSince = Now();
        ASSERT_TRUE(owner.PumpUntil(
            [&] {
                maxPending = std::max(maxPending, b.PendingCount());
                if (sent != lastSent) {
                    lastSent = sent;
                    stillSince = Now();
                }
                return b.PendingCount() > kPendingCap - kDeliverBatch && Now() - stillSince > 700;
            },
            30000))
            << "pending " << b.PendingCount();
        EXPECT_LE(maxPending, kPendingCap);
        EXPECT_LT(sent, total) << "the peer must be held back by flow control";
        EXPECT_EQ(owner.Count(WM_KL_RECEIVED), 1);

        if (closeWhileStalled) {
            const ULONGLONG t0 = Now();
            EXPECT_TRUE(b.Close()) << "a worker waiting at the cap must still stop";
            EXPECT_LT(Now() - t0, 2000u);
            peer.Join();  // its send fails once the connection is gone
            continue;
        }
        owner.PauseDrain(false);
        ASSERT_TRUE(owner.PumpUntil([&] { return owner.Count(WM_KL_ENDED) > 0; }, 120000))
            << "received " << check.count << " of " << total;
        EXPECT_EQ(check.count, total);
        EXPECT_TRUE(check.inOrder);
        EXPECT_LE(maxPending, kPendingCap);
        EXPECT_TRUE(b.Close());
    }
}

// A peer that stops reading is no fault: the caller's bytes wait in the queue
// (refused beyond its cap) and the caller is never held up. Close while the
// send is blocked is prompt and drops the queue.
TEST(Tcp, PeerThatStopsReadingHoldsTheQueueNotTheCaller) {
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    TPeer peer([release](SOCKET) { WaitForSingleObject(release, 60000); });
    TOwnerWindow owner;
    TTcpBackend b(owner.Handle(), 71, Conn(peer.Port(), kModeRaw));
    TCloseOnExit closer{b};
    std::u16string error;
    ASSERT_TRUE(b.Open(error));
    ASSERT_TRUE(owner.WaitFor(WM_KL_CONNECTED, 5000));
    std::string sent;
    EXPECT_LT(kltest::FillUntilHeld(owner, b, sent, &Pattern), 1000u) << "a Write waited";
    EXPECT_FALSE(WriteText(b, "x")) << "more than 1 MiB waits, yet the queue took more";
    owner.PumpFor(1000);
    EXPECT_EQ(owner.Count(WM_KL_ENDED), 0) << "a peer that reads slowly is no fault";
    EXPECT_LT(b.WrittenCount(), int64_t(sent.size()));
    const ULONGLONG t0 = Now();
    EXPECT_TRUE(b.Close());
    EXPECT_LT(Now() - t0, 1000u) << "Close waited for the blocked send";
    EXPECT_EQ(b.QueuedCount(), 0) << "Close drops what still waits";
    SetEvent(release);
    peer.Join();
    CloseHandle(release);
}

namespace {

// The bytes a telnet client sent, split into the caller's data (0xFF
// undoubled) and the payload offsets at which each reply began.
struct TTelnetWire {
    std::string Data;
    std::vector<size_t> RepliesAt;
    explicit TTelnetWire(const std::string& wire) {
        for (size_t i = 0; i < wire.size(); ++i) {
            if (uint8_t(wire[i]) != 0xFF) {
                Data += wire[i];
            } else if (i + 1 < wire.size() && uint8_t(wire[i + 1]) == 0xFF) {
                Data += wire[++i];
            } else {
                RepliesAt.push_back(Data.size());
                if (i + 1 < wire.size() && uint8_t(wire[i + 1]) == 0xFA)  // SB ... IAC SE
                    i = wire.find("\xFF\xF0", i + 2) + 1;
                else
                    i += 2;  // WILL option
            }
        }
    }
};

}  // namespace

// A telnet server that reads slowly and keeps asking for the terminal type
// while the caller's blocks go out: each reply goes between two blocks,
// 0xFF is doubled on the wire only, the Tx count is the caller's bytes, and
// the slow reader gets everything in order.
TEST(Tcp, SlowTelnetPeerGetsEveryBlockWithRepliesOnlyBetweenThem) {
    constexpr int kBlocks = 24, kAsks = 6;
    std::vector<std::string> blocks;
    std::string payload;
    std::set<size_t> edges = {0};
    size_t wireSize = 3 + kAsks * 11;  // WILL TERMINAL-TYPE, then "IS XTERM" per ask
    for (int i = 0; i < kBlocks; ++i) {
        std::string block(size_t(40000 + 1000 * i), '\0');
        for (size_t k = 0; k < block.size(); ++k)
            block[k] = char(Pattern(int64_t(payload.size() + k)));
        payload += block;
        edges.insert(payload.size());
        wireSize += block.size() + size_t(std::count(block.begin(), block.end(), '\xFF'));
        blocks.push_back(std::move(block));
    }
    std::string wire;
    TPeer peer([&](SOCKET c) {
        SendText(c, "\xFF\xFD\x18");  // DO TERMINAL-TYPE
        char buf[16384];
        for (int asked = 0; wire.size() < wireSize;) {
            const int k = recv(c, buf, sizeof buf, 0);
            if (k <= 0) break;
            wire.append(buf, size_t(k));
            if (asked < kAsks && wire.size() > size_t(asked + 1) * 120000) {
                SendText(c, "\xFF\xFA\x18\x01\xFF\xF0");  // SB TERMINAL-TYPE SEND
                ++asked;
            }
            Sleep(20);
        }
    });
    TOwnerWindow owner;
    TTcpBackend b(owner.Handle(), 91, Conn(peer.Port(), kModeTelnet));
    TCloseOnExit closer{b};
    std::u16string error;
    ASSERT_TRUE(b.Open(error));
    ASSERT_TRUE(owner.WaitFor(WM_KL_CONNECTED, 5000));
    // About one block waits at a time, so replies have edges to go between.
    size_t next = 0;
    EXPECT_TRUE(owner.PumpUntil(
        [&] {
            if (next < blocks.size() && b.QueuedCount() < 20000 && WriteText(b, blocks[next]))
                ++next;
            return next == blocks.size() && b.QueuedCount() == 0;
        },
        60000))
        << next << " blocks queued, " << b.QueuedCount() << " bytes wait";
    EXPECT_EQ(b.WrittenCount(), int64_t(payload.size())) << "counts only the caller's bytes";
    peer.Join();
    EXPECT_EQ(wire.size(), wireSize);
    const TTelnetWire parsed(wire);
    EXPECT_TRUE(parsed.Data == payload) << "the caller's bytes arrived altered";
    ASSERT_EQ(parsed.RepliesAt.size(), size_t(1 + kAsks));
    EXPECT_LT(parsed.RepliesAt[1], payload.size()) << "no reply came while blocks went out";
    for (size_t at : parsed.RepliesAt)
        EXPECT_TRUE(edges.count(at)) << "a reply inside a block, at " << at;
    EXPECT_TRUE(b.Close());
}

TEST(Tcp, CloseIsPromptWhateverThePeerDoes) {
    TListener neverAccepts;  // the system completes the connects; nobody answers them
    TOwnerWindow owner;
    for (const std::string peer : {"silent peer", "flooding peer", "peer never accepting"}) {
        std::vector<double> closes;
        for (uint32_t i = 0; i < 20; ++i) {
            std::optional<TPeer> live;
            if (peer != "peer never accepting") {
                live.emplace([&](SOCKET c) {
                    for (char b; peer == "silent peer" && recv(c, &b, 1, 0) > 0;) {
                    }
                    while (peer == "flooding peer" && SendText(c, std::string(65536, 'f'))) {
                    }
                });
            }
            const uint16_t port = live ? live->Port() : neverAccepts.Port();
            TTcpBackend b(owner.Handle(), i, Conn(port, i % 2 ? kModeTelnet : kModeRaw));
            TCloseOnExit closer{b};
            owner.DrainFrom(&b);
            std::u16string error;
            ASSERT_TRUE(b.Open(error));
            const int connected = owner.Count(WM_KL_CONNECTED);
            ASSERT_TRUE(
                owner.PumpUntil([&] { return owner.Count(WM_KL_CONNECTED) > connected; }, 5000));
            owner.PumpFor(30);  // into the wait that only a stop can end
            const ULONGLONG t0 = Now();
            EXPECT_TRUE(b.Close());
            closes.push_back(double(Now() - t0));
            owner.DrainFrom(nullptr);
        }
        ExpectPromptCloses(peer.c_str(), closes);
    }
    EXPECT_EQ(owner.Count(WM_KL_ENDED), 0) << "a Close by the owner was reported back";
}

// A telnet break is IAC BRK in the stream, behind what was queued before it;
// it is no byte of the user's (not counted, 0xFF not doubled). Raw TCP has
// no break at all.
TEST(Tcp, BreakIsIacBrkOnTelnetAndAbsentOnRaw) {
    TOwnerWindow owner;
    std::string seen;
    TPeer peer([&](SOCKET c) { seen = RecvExact(c, 8, 5000); });
    TTcpBackend b(owner.Handle(), 7, Conn(peer.Port(), kModeTelnetFilter));
    TCloseOnExit closer{b};
    owner.DrainFrom(&b);
    EXPECT_TRUE(b.CanBreak());
    EXPECT_FALSE(b.SendBreak()) << "no line yet";
    std::u16string error;
    ASSERT_TRUE(b.Open(error));
    ASSERT_TRUE(owner.WaitFor(WM_KL_CONNECTED, 5000));
    ASSERT_TRUE(WriteText(b, "ab\xFF"));
    EXPECT_TRUE(b.SendBreak());
    ASSERT_TRUE(WriteText(b, "cd"));
    peer.Join();
    EXPECT_EQ(Hex(seen), Hex(std::string("ab\xFF\xFF\xFF\xF3") + "cd"));
    EXPECT_TRUE(owner.PumpUntil([&] { return b.WrittenCount() == 5; }, 5000))
        << "counted " << b.WrittenCount() << ", the break is not the user's";

    TTcpBackend raw(owner.Handle(), 8, Conn(peer.Port(), kModeRaw));
    EXPECT_FALSE(raw.CanBreak());
    EXPECT_FALSE(raw.SendBreak());
}
