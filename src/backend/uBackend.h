// TBackend: one live connection of one terminal window, with one worker thread.
//
// The worker never hands memory across threads in a message. It appends what
// it receives to `pending` under the lock and posts WM_APP+1 only when no such
// message is outstanding; the owner drains with TakeReceived on its
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
//
// Sending files (StartFileSend): the transfer runs on the worker, driven by
// the pure engine of uFileSend.h. The worker opens and reads the files
// itself, so a slow disk or a huge file never touches the owner's thread.
// The engine's bytes go through the send queue like the owner's (counted by
// WrittenCount, 0xFF doubled on telnet); while a transfer runs, Write is
// refused so that typed text cannot land inside a block. During an XMODEM or
// YMODEM transfer the received bytes (after the telnet filter) are the
// receiver's replies and go to the engine, not to `pending`; the view gets
// the line back when the transfer ends. A raw send leaves received bytes to
// the view. The end is posted once as WM_KL_FILESENT, wParam the connection
// number, lParam the TSendOutcome. Close cancels a running transfer: the
// receiver's cancel sequence is queued and Close waits up to kCloseCancelMs
// for the line to take it before the worker stops.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "backend/uFileSend.h"
#include "terminal/uBytes.h"

constexpr UINT WM_KL_RECEIVED = WM_APP + 1;   // bytes wait in pending
constexpr UINT WM_KL_ENDED = WM_APP + 2;      // lParam: 0 orderly close, else error code
constexpr UINT WM_KL_CONNECTED = WM_APP + 3;  // the line is up (TCP connected, serial port open)
constexpr UINT WM_KL_FILESENT = WM_APP + 4;   // a file send ended; lParam: TSendOutcome

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
// Close waits this long for a transfer's cancel sequence to leave; the worker
// gives the line this long to take the last bytes of a transfer that ended.
constexpr DWORD kCloseCancelMs = 500;
constexpr DWORD kSendDrainMs = 1000;
// A cancel that overtakes the receiver's reply to the block in flight is
// lost: lrzsz empties its input after it answers a block. For this long
// after we cancelled, each ACK, NAK or 'C' from the receiver is answered
// with the cancel sequence once more.
constexpr DWORD kCancelLingerMs = 5000;
constexpr size_t kCancelSequenceCans = 10;  // and as many backspaces, as lrzsz sends

// One file to send: its full path.
struct TFileToSend {
    std::u16string Path;
};

// A snapshot of the file send, for the status line.
struct TFileSendProgress {
    bool Active = false;                  // from StartFileSend until WM_KL_FILESENT
    TSendOutcome Outcome = kSendRunning;  // of the last transfer once it ended
    TSendProtocol Protocol = TSendProtocol::Raw;
    std::u16string FileName;  // without folder
    size_t FileIndex = 0;     // 0-based, of FileCount
    size_t FileCount = 0;
    int64_t BytesDone = 0;  // of this file: acknowledged by the receiver (raw: left)
    int64_t BytesTotal = 0;
};
// How long a serial break holds the line.
constexpr DWORD kBreakMs = 250;

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
    // Drops the owner's bytes, keeps the replies in order; returns how many went.
    int64_t DropOwn();

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
    // A break: a serial line held in the break state for kBreakMs, a telnet
    // IAC BRK. Returns at once (the worker carries it out, after the block it
    // is writing); false while the line is not up or where the connection
    // has no break (raw TCP; CanBreak tells the window to grey the item).
    virtual bool CanBreak() const;
    virtual bool SendBreak();

    // Owner thread: moves the waiting bytes to `destination` (appended), at
    // most `most` of them. When bytes are left over, a new WM_APP+1 is posted
    // behind whatever the owner's queue holds: a window that takes a slice per
    // message answers its keys between slices while a fast peer floods it.
    void TakeReceived(TByteBuf& destination, int32_t most = INT32_MAX);

    // The caller's bytes written to the line so far, and those still waiting.
    int64_t WrittenCount() const { return written_.load(); }
    int32_t QueuedCount() const;

    // Owner thread. Starts sending `files` on the worker; false (nothing
    // started) while the line is not up, while a transfer runs, for an empty
    // list, or for several files with XMODEM or XMODEM-1K (only YMODEM names
    // its files; raw sends several one after another). The delays pace a raw
    // send: after each byte, and after each line end as well (ms, clamped to
    // 0..1000 and 0..10000). The end comes as WM_KL_FILESENT; a file that
    // cannot be opened or read ends it with kSendFileError.
    bool StartFileSend(std::vector<TFileToSend> files, TSendProtocol protocol, int charDelayMs,
                       int lineDelayMs);
    // Owner thread: cancels a running transfer (the receiver is told); the
    // end still comes as WM_KL_FILESENT, with kSendCancelled.
    void CancelFileSend();
    TFileSendProgress FileSendProgress();
    bool FileSendActive() const { return sendBusy_.load(); }
    // Test seam: when not 0, the reply time-out of transfers started from
    // now on, in ms.
    static std::atomic<uint32_t> FileSendReplyMsForTests;

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
    // Owner thread: protocol bytes of the owner's own (a telnet command),
    // queued like a reply behind what waits and never counted as written;
    // wakes the worker. False while the line is not up or when they cannot
    // be stored.
    bool QueueCommand(const uint8_t* data, int32_t count);
    // Between WM_APP+3 and the worker's end.
    bool LineUp() const { return lineUp_.load(); }
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

    // Worker, once per round of its loop: drives a running file send (picks
    // a new one up, passes time, queues what the engine sends).
    void ServiceFileSend();
    // Worker, right before it waits: how long the file send lets it wait.
    DWORD FileSendWait();
    // Worker: an XMODEM or YMODEM transfer waits on the receiver's replies.
    bool ProtocolTransferRunning() const;

    // Sequentially consistent: Close sets the flag before it signals the stop
    // event, and a worker that wakes from any wait must see it set.
    bool Stopping() const { return stopping_.load(); }
    void SetStopping() { stopping_.store(true); }
    HANDLE StopEvent() const { return stopEvent_; }
    bool HasWorker() const { return thread_ != nullptr; }

private:
    struct TTransfer;

    static DWORD WINAPI WorkerMain(LPVOID self);
    // Worker: queues the engine's bytes as the caller's.
    void QueueTransferOutput();
    void PublishProgress();
    // Worker: the transfer is over; the owner is told.
    void EndFileSend(TSendOutcome outcome);
    // Owner, in StopWorker: a running transfer is cancelled and given
    // kCloseCancelMs to say so on the line.
    void CancelFileSendForClose();
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

    // File send: handed over under the send lock, then the worker's alone.
    std::unique_ptr<TTransfer> offered_;
    std::unique_ptr<TTransfer> transfer_;
    TFileSendProgress progress_;         // under the send lock
    std::atomic<bool> sendBusy_{false};  // from StartFileSend until the end is posted
    std::atomic<bool> cancelSend_{false};
    HANDLE sendEnded_ = nullptr;  // manual reset: no transfer runs
    int64_t lastQueued_ = 0;      // worker: QueuedCount at the last service
    uint64_t drainUntil_ = 0;     // worker: an ended transfer's last bytes
    // Worker: until then, a receiver's reply to a cancelled transfer gets
    // the cancel sequence again.
    // Cleared by the owner when it starts another transfer. A line typed
    // meanwhile does not end it: a receiver that missed the cancel would
    // only wait on.
    std::atomic<uint64_t> cancelLingerUntil_{0};
};
