// TBackend: one live connection of one terminal window, with one worker thread.
//
// The worker never hands memory across threads in a message. It appends what
// it receives to `pending` under the lock and posts WM_APP+1 only when no such
// message is outstanding; the owner drains everything with TakeReceived on its
// own thread. Every message carries the owner's connection number in wParam so
// that messages of an earlier connection can be told apart after a reconnect.
//
// Sending never waits on the line. The owner's thread is the file manager's
// UI thread: Write only appends the block to the send queue and wakes the
// worker, which writes it out as fast as the line takes it. A peer that reads
// slowly (a 9600-baud bridge, a device holding hardware flow control) is no
// fault: its bytes wait in the queue as long as the connection lives. Only
// the queue's size is bounded: while more than kSendQueueCap bytes wait, a
// Write is refused and the owner says so. WrittenCount counts the caller's
// bytes as they really leave, which is what the Tx counter shows; telnet
// replies and the doubling of 0xFF are not the caller's bytes and are not
// counted. Close drops whatever still waits.
//
// Telnet replies, made by the worker, go through the same queue, behind the
// blocks queued before them: a reply never lands inside a written block.
//
// Back-pressure on receiving: the owner's thread can stall for seconds.
// Rather than letting a fast peer grow `pending` without bound, Deliver waits
// once kPendingCap bytes are waiting, until the owner drains or the backend
// is told to stop; for TCP the kernel's flow control then pushes back on the
// peer, and a serial port's driver queue fills (with flow control on, the
// device is told to pause).
//
// A message the system refuses to queue (the owner thread's queue is full) is
// posted again every kFullRetryMs until it goes through or the backend stops:
// a lost WM_APP+1 would leave the last burst unseen until more bytes came, a
// lost WM_APP+2 would leave the window showing a dead connection as live.
// WM_APP+2 goes out at most once per backend, whoever notices the end first.
//
// Locks: `lock_` guards the received bytes, `sendLock_` the send queue (and
// whatever else the owner hands the worker for the line). Neither is taken
// while the other, or the localisation lock, is held.
//
// Every worker runs behind the exception barrier (base/uBarrier.h): an
// exception (say, a failed allocation) ends the connection with WM_APP+2 and
// FaultCode instead of ending the file manager's process. A worker keeps no
// overlapped operation running past the frame that owns its buffer, so
// unwinding out of it is safe.
//
// Lifetime: Close stops the worker (3000 ms); when it reports false the worker
// may still be running and still uses the object, so the owner must abandon it
// rather than destroy it.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>

#include "terminal/uBytes.h"

constexpr UINT WM_KL_RECEIVED = WM_APP + 1;   // bytes wait in pending
constexpr UINT WM_KL_ENDED = WM_APP + 2;      // lParam: 0 orderly close, else error code
constexpr UINT WM_KL_CONNECTED = WM_APP + 3;  // the line is up (TCP connected, serial port open)

constexpr DWORD kStopTimeoutMs = 3000;
constexpr int32_t kReadBlock = 4096;
// Waiting bytes at which the worker pauses; TByteBuf's growth may take the
// allocation to about twice this.
constexpr int32_t kPendingCap = 8 * 1024 * 1024;
// A worker waiting at the cap, or holding a message the system refused, tries
// again this often.
constexpr DWORD kFullRetryMs = 100;
// A Write is refused while more than this many of the caller's bytes wait.
constexpr int32_t kSendQueueCap = 1024 * 1024;
// Telnet replies waiting beyond this make the worker stop reading until they
// are out: a server that keeps asking while never reading cannot grow the
// queue without bound.
constexpr int32_t kReplyCap = 64 * 1024;

// The bytes queued for the worker, in order: the owner's blocks and telnet
// replies, each run of one kind one span. Not locked itself.
class TSendQueue {
public:
    // False (nothing queued) when the bytes cannot be stored.
    bool Push(const uint8_t* data, int32_t count, bool reply);
    // Appends up to `max` bytes from the front to `out`, never across a
    // change of kind; `reply` tells the kind. 0 when empty, -1 when `out`
    // cannot take them (nothing taken then).
    int32_t Take(TByteBuf& out, int32_t max, bool& reply);
    int64_t Replies() const { return replies_; }
    bool Empty() const { return spans_.empty(); }
    void Clear();

private:
    struct TSpan {
        int32_t Length;
        bool Reply;
    };
    TByteBuf bytes_;
    int32_t head_ = 0;  // bytes before it were taken
    std::deque<TSpan> spans_;
    int64_t replies_ = 0;
};

class TBackend {
public:
    TBackend(HWND owner, uint32_t connectionNumber);
    virtual ~TBackend();
    TBackend(const TBackend&) = delete;
    TBackend& operator=(const TBackend&) = delete;

    // On false, `error` is a ready-to-show translated message and no worker runs.
    virtual bool Open(std::u16string& error) = 0;
    // Stops the worker and drops whatever is still queued; prompt whenever the
    // worker is responsive. False: the worker did not end in time; abandon the
    // object, never free it.
    virtual bool Close() = 0;
    // Queues the bytes for the worker and returns at once. True also for
    // length <= 0. False (nothing queued) while more than kSendQueueCap of the
    // caller's bytes wait, while the line is not up (before WM_APP+3, after
    // the worker ended), or when the block cannot be stored.
    virtual bool Write(const uint8_t* data, int32_t length);
    // The owner suppresses local echo while the peer echoes.
    virtual bool IsRemoteEcho();
    // Text for a WM_APP+2 code this backend posted; empty: the owner shows
    // its generic text for the code.
    virtual std::u16string EndText(DWORD code);

    // Owner thread: moves every waiting byte to `destination` (appended).
    void TakeReceived(TByteBuf& destination);

    // The caller's bytes written to the line so far, and those still waiting.
    int64_t WrittenCount() const { return written_.load(); }
    int32_t QueuedCount() const;

    HWND Owner() const { return owner_; }
    uint32_t ConnectionNumber() const { return connectionNumber_; }
    // Bytes waiting for the owner (for tests and diagnostics).
    int32_t PendingCount();

protected:
    // Runs `procedure` (given this backend) on the worker thread, behind the
    // exception barrier.
    bool StartWorker(LPTHREAD_START_ROUTINE procedure);
    bool StopWorker();
    // Worker thread. Returns false when the backend is stopping while it
    // waited for the owner to drain (the bytes are then dropped).
    bool Deliver(const uint8_t* data, int32_t count);
    // Once per backend; later calls post nothing.
    void PostEnded(DWORD code);
    // Worker: the line is up; Write accepts blocks from now on.
    void PostConnected();
    // One PostMessageW to the owner with the connection number; false when
    // the system refused it. Tests replace it to play a full queue.
    virtual bool PostToOwner(UINT msg, LPARAM lParam);

    // Worker side of the send queue. TakeOut appends up to `max` bytes from
    // its front to `out` (see TSendQueue::Take); a failed allocation throws.
    int32_t TakeOut(TByteBuf& out, int32_t max, bool& reply);
    // Telnet replies, queued behind everything queued so far; throws when
    // they cannot be stored (a lost reply would leave the peer waiting).
    void QueueReply(const uint8_t* data, int32_t count);
    int64_t RepliesQueued();
    // The caller's bytes that reached the line.
    void CountWritten(int64_t count) { written_.fetch_add(count); }
    // Auto reset: signalled when the owner queued a block.
    HANDLE QueueEvent() const { return queueEvent_; }
    // Owner, once the worker has ended: the queue goes.
    void DropQueue();
    // Runs f() under the send lock (for what else the owner hands the worker).
    template <class F>
    auto UnderSendLock(F&& f) {
        struct TGuard {
            CRITICAL_SECTION* cs;
            ~TGuard() { LeaveCriticalSection(cs); }
        };
        EnterCriticalSection(&sendLock_);
        TGuard guard{&sendLock_};
        return f();
    }

    // Sequentially consistent: Close sets the flag before it signals the stop
    // event, and a worker that wakes from any wait must see it set.
    bool Stopping() const { return stopping_.load(); }
    void SetStopping() { stopping_.store(true); }
    HANDLE StopEvent() const { return stopEvent_; }
    bool HasWorker() const { return thread_ != nullptr; }

private:
    static DWORD WINAPI WorkerMain(LPVOID self);
    // Posts until the system takes the message or the backend stops.
    bool PostRetried(UINT msg, LPARAM lParam);

    const HWND owner_;
    const uint32_t connectionNumber_;
    CRITICAL_SECTION lock_;
    TByteBuf pending_;
    bool notifyPosted_ = false;
    bool workerWaiting_ = false;     // Deliver found the buffer full and waits for a drain
    HANDLE stopEvent_ = nullptr;     // manual reset: wakes a worker waiting on anything
    HANDLE drainedEvent_ = nullptr;  // auto reset: the owner drained `pending`
    HANDLE queueEvent_ = nullptr;    // auto reset: the owner queued a block
    HANDLE thread_ = nullptr;
    LPTHREAD_START_ROUTINE procedure_ = nullptr;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> endPosted_{false};

    CRITICAL_SECTION sendLock_;
    TSendQueue queue_;
    // The caller's bytes accepted by Write (under the send lock) and written
    // by the worker; their difference is what still waits.
    std::atomic<int64_t> accepted_{0};
    std::atomic<int64_t> written_{0};
    // Between PostConnected and the worker's end.
    std::atomic<bool> lineUp_{false};
};
