// The backend base: hand-over of received bytes, the three messages, the
// worker's life cycle with its abandon rule, back-pressure at the cap, and the
// send queue between the owner's Write and the worker.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "backend/uBackend.h"
#include "owner_window.h"

using kltest::TOwnerWindow;

namespace {

// A backend whose worker runs a script given by the test.
class TProbeBackend : public TBackend {
public:
    using TBackend::TBackend;
    std::function<void(TProbeBackend&)> Work;

    bool Open(std::u16string& error) override {
        error.clear();
        return StartWorker(&TProbeBackend::Proc);
    }
    bool Close() override {
        if (!StopWorker()) return false;
        DropQueue();
        return true;
    }

    // This many posts are refused, as the system does when the owner's queue is full.
    std::atomic<int> RefusePosts{0};
    bool PostToOwner(UINT msg, LPARAM lParam) override {
        if (RefusePosts == 0) return TBackend::PostToOwner(msg, lParam);
        --RefusePosts;
        return false;
    }

    // The test plays the worker directly where no thread is needed.
    using TBackend::CountWritten;
    using TBackend::Deliver;
    using TBackend::PostConnected;
    using TBackend::PostEnded;
    using TBackend::QueueEvent;
    using TBackend::QueueReply;
    using TBackend::StopEvent;
    using TBackend::Stopping;
    using TBackend::TakeOut;

private:
    static DWORD WINAPI Proc(LPVOID p) {
        auto* self = static_cast<TProbeBackend*>(p);
        if (self->Work) self->Work(*self);
        return 0;
    }
};

bool DeliverText(TProbeBackend& b, const std::string& s) {
    return b.Deliver(reinterpret_cast<const uint8_t*>(s.data()), int32_t(s.size()));
}

std::string Str(const TByteBuf& b) {
    return std::string(reinterpret_cast<const char*>(b.Data()), size_t(b.Count()));
}

ULONGLONG Now() { return GetTickCount64(); }

// Byte k of a long test stream: position-dependent, so loss or reordering shows.
uint8_t Pattern(int64_t k) { return uint8_t((k * 7 + (k >> 12)) & 0xFF); }

}  // namespace

TEST(BackendBase, DeliveriesCoalesceIntoOneNotification) {
    TOwnerWindow owner;
    const uint32_t number = 0xFFFFFFF0u;  // the full 32 bits must survive in wParam
    TProbeBackend b(owner.Handle(), number);

    EXPECT_TRUE(DeliverText(b, "ab"));
    EXPECT_TRUE(DeliverText(b, "cd"));
    EXPECT_TRUE(DeliverText(b, "ef"));
    owner.PumpFor(200);
    ASSERT_EQ(owner.Count(WM_KL_RECEIVED), 1) << "three deliveries before a drain: one WM_APP+1";
    const auto* e = owner.Last(WM_KL_RECEIVED);
    EXPECT_EQ(e->WParam, WPARAM(number));
    EXPECT_EQ(e->LParam, 0);
    EXPECT_EQ(b.PendingCount(), 6);

    TByteBuf dst;
    dst.Append("X", 1);
    b.TakeReceived(dst);
    EXPECT_EQ(Str(dst), "Xabcdef") << "drain appends everything in arrival order";
    EXPECT_EQ(b.PendingCount(), 0);

    const int32_t capacity = dst.Capacity();
    b.TakeReceived(dst);
    EXPECT_EQ(Str(dst), "Xabcdef") << "nothing pending: destination unchanged";
    EXPECT_EQ(dst.Capacity(), capacity);

    EXPECT_TRUE(b.Deliver(reinterpret_cast<const uint8_t*>("z"), 0));
    EXPECT_TRUE(b.Deliver(reinterpret_cast<const uint8_t*>("z"), -1));
    owner.PumpFor(50);
    EXPECT_EQ(owner.Count(WM_KL_RECEIVED), 1) << "empty deliveries post nothing";

    EXPECT_TRUE(DeliverText(b, "g"));
    ASSERT_TRUE(owner.PumpUntil([&] { return owner.Count(WM_KL_RECEIVED) == 2; }, 2000))
        << "the first delivery after a drain posts again";
    b.TakeReceived(dst);
    EXPECT_EQ(Str(dst), "Xabcdefg");

    // A drain in slices: what a slice leaves is announced again by itself,
    // with no further delivery from the worker.
    EXPECT_TRUE(DeliverText(b, "hijkl"));
    ASSERT_TRUE(owner.PumpUntil([&] { return owner.Count(WM_KL_RECEIVED) == 3; }, 2000));
    b.TakeReceived(dst, 3);
    EXPECT_EQ(Str(dst), "Xabcdefghij");
    ASSERT_TRUE(owner.PumpUntil([&] { return owner.Count(WM_KL_RECEIVED) == 4; }, 2000))
        << "the rest is announced";
    b.TakeReceived(dst, 3);
    EXPECT_EQ(Str(dst), "Xabcdefghijkl");
    owner.PumpFor(100);
    EXPECT_EQ(owner.Count(WM_KL_RECEIVED), 4) << "nothing left: no further notice";
    EXPECT_TRUE(b.Close()) << "never opened";
}

TEST(BackendBase, WorkerEndReportsCodeAndCloseIsImmediate) {
    TOwnerWindow owner;
    TProbeBackend b(owner.Handle(), 7);
    owner.DrainFrom(&b);
    b.Work = [](TProbeBackend& self) {
        DeliverText(self, "last words");
        self.PostEnded(ERROR_OPERATION_ABORTED);
    };
    std::u16string error = u"stale";
    ASSERT_TRUE(b.Open(error));
    EXPECT_TRUE(error.empty());
    ASSERT_TRUE(owner.WaitFor(WM_KL_ENDED, 5000));
    const auto* e = owner.Last(WM_KL_ENDED);
    EXPECT_EQ(e->WParam, WPARAM(7));
    EXPECT_EQ(e->LParam, LPARAM(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(owner.Received(), "last words") << "bytes delivered before the end are kept";

    // Let the worker return after its last message.
    owner.PumpFor(100);
    const ULONGLONG t0 = Now();
    EXPECT_TRUE(b.Close());
    EXPECT_LT(Now() - t0, 2000u) << "an ended worker needs no waiting";
    EXPECT_TRUE(b.Close()) << "a second Close is harmless";
    EXPECT_EQ(owner.Count(WM_KL_CONNECTED), 0);
}

TEST(BackendBase, CloseWakesAWorkerWaitingOnTheStopEvent) {
    TOwnerWindow owner;
    TProbeBackend b(owner.Handle(), 1);
    std::atomic<bool> sawStopping{false};
    HANDLE waiting = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    b.Work = [&](TProbeBackend& self) {
        SetEvent(waiting);
        WaitForSingleObject(self.StopEvent(), INFINITE);
        sawStopping = self.Stopping();
    };
    std::u16string error;
    ASSERT_TRUE(b.Open(error));
    EXPECT_FALSE(b.Open(error)) << "a running backend does not start a second worker";
    // Close must find the worker in its wait, not before it.
    EXPECT_EQ(WaitForSingleObject(waiting, 10000), WAIT_OBJECT_0) << "the worker never started";
    CloseHandle(waiting);
    const ULONGLONG t0 = Now();
    EXPECT_TRUE(b.Close());
    EXPECT_LT(Now() - t0, 2000u);
    EXPECT_TRUE(sawStopping);
    owner.PumpFor(50);
    EXPECT_TRUE(owner.Events().empty()) << "a stopped worker reports nothing";
}

TEST(BackendBase, WorkerThatIgnoresStopIsAbandonedNotFreed) {
    TOwnerWindow owner;
    auto* b = new TProbeBackend(owner.Handle(), 3);
    owner.DrainFrom(b);
    HANDLE finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    b->Work = [finished](TProbeBackend& self) {
        // Blocked in something the stop event cannot interrupt.
        Sleep(6000);
        // Still using the object after Close gave up on it.
        DeliverText(self, "late");
        self.PostEnded(0);
        SetEvent(finished);
    };
    std::u16string error;
    ASSERT_TRUE(b->Open(error));
    const ULONGLONG t0 = Now();
    EXPECT_FALSE(b->Close()) << "a worker still running after 3000 ms";
    const ULONGLONG waited = Now() - t0;
    EXPECT_GE(waited, 2900u);
    EXPECT_LT(waited, 5500u) << "Close must give up at 3000 ms, not wait for the worker";

    // The owner drops its reference without freeing; the worker goes on safely.
    ASSERT_TRUE(owner.PumpUntil(
        [&] {
            return WaitForSingleObject(finished, 0) == WAIT_OBJECT_0 &&
                   owner.Count(WM_KL_ENDED) == 1;
        },
        10000));
    EXPECT_EQ(owner.Received(), "late");
    // Once it has ended, the same object closes and frees normally.
    EXPECT_TRUE(b->Close());
    delete b;
    CloseHandle(finished);
}

TEST(BackendBase, BackPressureHoldsTheWorkerAtTheCap) {
    for (bool closeWhileFull : {true, false}) {
        SCOPED_TRACE(closeWhileFull ? "Close while the worker waits" : "owner resumes draining");
        TOwnerWindow owner;
        TProbeBackend b(owner.Handle(), 11);
        owner.DrainFrom(&b);
        owner.PauseDrain(true);

        const int64_t total = 3 * int64_t(kPendingCap);
        std::atomic<int64_t> delivered{0};
        std::atomic<bool> refused{false}, done{false};
        b.Work = [&](TProbeBackend& self) {
            uint8_t block[kReadBlock];
            for (int64_t at = 0; at < total; at += kReadBlock) {
                for (int i = 0; i < kReadBlock; ++i) block[i] = Pattern(at + i);
                if (!self.Deliver(block, kReadBlock)) {
                    refused = true;
                    break;
                }
                delivered += kReadBlock;
            }
            done = true;
        };
        int64_t checked = 0;
        bool inOrder = true;
        owner.SetSink([&](const uint8_t* p, int32_t n) {
            for (int32_t i = 0; i < n; ++i) inOrder &= p[i] == Pattern(checked + i);
            checked += n;
        });
        // Stops the worker before the locals it uses go, should a check fail early.
        struct TCloser {
            TProbeBackend& b;
            ~TCloser() { b.Close(); }
        } closer{b};
        std::u16string error;
        ASSERT_TRUE(b.Open(error));

        // The worker fills up to the cap and then stops making progress.
        int32_t maxPending = 0;
        int64_t lastDelivered = -1;
        ULONGLONG stillSince = Now();
        const bool stalled = owner.PumpUntil(
            [&] {
                maxPending = std::max(maxPending, b.PendingCount());
                const int64_t d = delivered;
                if (d != lastDelivered) {
                    lastDelivered = d;
                    stillSince = Now();
                }
                return Now() - stillSince > 500 && d > 0;
            },
            20000);
        ASSERT_TRUE(stalled);
        EXPECT_FALSE(done) << "the worker must wait while the owner does not drain";
        EXPECT_LE(maxPending, kPendingCap);
        EXPECT_GE(b.PendingCount(), kPendingCap - kReadBlock) << "the worker stops only at the cap";
        EXPECT_EQ(owner.Count(WM_KL_RECEIVED), 1) << "one notification, however long the wait";

        if (closeWhileFull) {
            const ULONGLONG t0 = Now();
            EXPECT_TRUE(b.Close());
            EXPECT_LT(Now() - t0, 2000u) << "Close must not wait for the owner to drain";
            EXPECT_TRUE(refused) << "Deliver reports the stop";
            continue;
        }
        owner.PauseDrain(false);
        ASSERT_TRUE(owner.PumpUntil(
            [&] { return done && b.PendingCount() == 0 && checked == total; }, 30000))
            << "drained " << checked << " of " << total;
        EXPECT_TRUE(inOrder) << "bytes lost or reordered across the wait";
        EXPECT_FALSE(refused);
        EXPECT_FALSE(owner.SawTwoOutstanding());
        EXPECT_TRUE(b.Close());
    }
}

TEST(BackendBase, BlockLargerThanTheCapStillPasses) {
    TOwnerWindow owner;
    TProbeBackend b(owner.Handle(), 5);
    std::vector<uint8_t> big(size_t(kPendingCap) + 100, 0x5A);
    EXPECT_TRUE(b.Deliver(big.data(), int32_t(big.size())))
        << "into an empty buffer, an oversized block goes through rather than wait forever";
    EXPECT_EQ(b.PendingCount(), int32_t(big.size()));
    TByteBuf dst;
    b.TakeReceived(dst);
    EXPECT_EQ(dst.Count(), int32_t(big.size()));
}

// A refused post is tried again, not dropped: the last burst before a quiet
// line must not wait unseen for more bytes, and a worker that fails must end
// the connection with a code instead of taking the process down.
TEST(BackendBase, WorkerFaultsStillReachTheOwner) {
    TOwnerWindow owner;
    TProbeBackend b(owner.Handle(), 13);
    owner.DrainFrom(&b);
    HANDLE seen = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    b.RefusePosts = 3;
    b.Work = [seen](TProbeBackend& self) {
        DeliverText(self, "last burst");
        if (WaitForSingleObject(seen, 10000) != WAIT_OBJECT_0) return;
        self.RefusePosts = 2;
        throw std::bad_alloc();
    };
    std::u16string error;
    ASSERT_TRUE(b.Open(error));
    EXPECT_TRUE(owner.PumpUntil([&] { return owner.Received() == "last burst"; }, 5000))
        << "a refused notification was not posted again";
    SetEvent(seen);
    ASSERT_TRUE(owner.WaitFor(WM_KL_ENDED, 5000))
        << "a worker ended by an exception reported nothing";
    EXPECT_EQ(owner.Last(WM_KL_ENDED)->LParam, LPARAM(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(b.RefusePosts, 0);
    EXPECT_TRUE(b.Close());
    owner.PumpFor(100);
    EXPECT_EQ(owner.Count(WM_KL_ENDED), 1);
    CloseHandle(seen);
}

// Blocks wait in the queue until the worker writes them, in pieces that
// ignore block edges; a telnet reply queued meanwhile goes out between blocks
// and is not counted; beyond the cap a Write is refused; Close drops the rest.
TEST(BackendBase, SendQueueKeepsOrderHoldsItsCapAndDropsOnClose) {
    TOwnerWindow owner;
    TProbeBackend b(owner.Handle(), 17);
    auto write = [&](const std::string& s) {
        return b.Write(reinterpret_cast<const uint8_t*>(s.data()), int32_t(s.size()));
    };
    EXPECT_FALSE(write("x")) << "no line, nothing queued";
    HANDLE go = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::string wire;  // replies in [ ]
    std::atomic<int> rounds{0};
    b.Work = [&](TProbeBackend& self) {
        self.PostConnected();
        const HANDLE waits[2] = {self.StopEvent(), go};
        for (; WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1; ++rounds) {
            if (rounds == 0) self.QueueReply(reinterpret_cast<const uint8_t*>("rep"), 3);
            TByteBuf piece;
            for (bool reply = false; rounds > 0 && self.TakeOut(piece, 700, reply) > 0;) {
                wire += reply ? "[" + Str(piece) + "]" : Str(piece);
                if (!reply) self.CountWritten(piece.Count());
                piece.Clear();
            }
        }
    };
    struct TCloser {
        TProbeBackend& b;
        ~TCloser() { b.Close(); }
    } closer{b};
    std::u16string error;
    ASSERT_TRUE(b.Open(error));
    ASSERT_TRUE(owner.WaitFor(WM_KL_CONNECTED, 5000));

    std::string sent = std::string(1000, 'A') + std::string(1000, 'B');
    ASSERT_TRUE(write(sent.substr(0, 1000)) && write(sent.substr(1000)));
    SetEvent(go);  // the reply joins the queue
    ASSERT_TRUE(owner.PumpUntil([&] { return rounds == 1; }, 5000));
    int accepted = 0;
    for (std::string block(100000, 'a'); accepted < 20 && write(block); ++accepted) sent += block;
    EXPECT_EQ(accepted, 11) << "refused only while more than 1 MiB waits";
    EXPECT_EQ(b.QueuedCount(), int32_t(sent.size()));
    EXPECT_EQ(b.WrittenCount(), 0);

    SetEvent(go);  // written out
    ASSERT_TRUE(owner.PumpUntil([&] { return rounds == 2; }, 10000));
    EXPECT_TRUE(wire == sent.substr(0, 2000) + "[rep]" + sent.substr(2000))
        << "the reply is not between the blocks it was queued between";
    EXPECT_EQ(b.WrittenCount(), int64_t(sent.size())) << "replies are not the caller's bytes";
    EXPECT_EQ(b.QueuedCount(), 0);
    EXPECT_TRUE(write("left behind")) << "drained, the queue takes blocks again";
    EXPECT_TRUE(b.Close());
    EXPECT_EQ(b.QueuedCount(), 0) << "Close drops what still waits";
    EXPECT_FALSE(write("x")) << "no worker, nothing queued";
    CloseHandle(go);
}

TEST(BackendBase, SendQueueDropsTheOwnersBytesAndKeepsRepliesInOrder) {
    TSendQueue q;
    const auto push = [&](const char* s, bool reply) {
        return q.Push(reinterpret_cast<const uint8_t*>(s), int32_t(strlen(s)), reply);
    };
    ASSERT_TRUE(push("file", false) && push("R1", true) && push("more", false) && push("R2", true));
    TByteBuf out;
    bool reply = true;
    ASSERT_EQ(q.Take(out, 2, reply), 2);  // part of the first span is on the line already
    EXPECT_FALSE(reply);
    EXPECT_EQ(q.DropOwn(), 6) << "\"le\" and \"more\"";
    out.Clear();
    while (q.Take(out, 100, reply) > 0) EXPECT_TRUE(reply);
    EXPECT_EQ(Str(out), "R1R2");
    EXPECT_EQ(q.Replies(), 0);
    EXPECT_TRUE(q.Empty());
}
