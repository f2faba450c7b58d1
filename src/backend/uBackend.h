// TBackend: one live connection of one terminal window, with one worker thread.
//
// The worker never hands memory across threads in a message. It appends what
// it receives to `pending` under the lock and posts WM_APP+1 only when no such
// message is outstanding; the owner drains everything with TakeReceived on its
// own thread. Every message carries the owner's connection number in wParam so
// that messages of an earlier connection can be told apart after a reconnect.
//
// Back-pressure: the owner's thread (the file manager's UI thread) can stall
// for seconds. Rather than letting a fast peer grow `pending` without bound,
// Deliver waits once kPendingCap bytes are waiting, until the owner drains or
// the backend is told to stop; for TCP the kernel's flow control then pushes
// back on the peer, and a serial port's driver queue fills (with flow control
// on, the device is told to pause).
//
// A message the system refuses to queue (the owner thread's queue is full) is
// posted again every kFullRetryMs until it goes through or the backend stops:
// a lost WM_APP+1 would leave the last burst unseen until more bytes came, a
// lost WM_APP+2 would leave the window showing a dead connection as live.
// WM_APP+2 goes out at most once per backend, whoever notices the end first.
//
// Every worker runs behind an exception barrier: an exception (say, a failed
// allocation) ends the connection with WM_APP+2 and a Windows error code
// instead of ending the file manager's process.
//
// Lifetime: Close stops the worker (3000 ms); when it reports false the worker
// may still be running and still uses the object, so the owner must abandon it
// rather than destroy it.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "terminal/uBytes.h"

constexpr UINT WM_KL_RECEIVED = WM_APP + 1;   // bytes wait in pending
constexpr UINT WM_KL_ENDED = WM_APP + 2;      // lParam: 0 orderly close, else error code
constexpr UINT WM_KL_CONNECTED = WM_APP + 3;  // TCP connection established

constexpr DWORD kStopTimeoutMs = 3000;
constexpr int32_t kReadBlock = 4096;
// Waiting bytes at which the worker pauses; TByteBuf's growth may take the
// allocation to about twice this.
constexpr int32_t kPendingCap = 8 * 1024 * 1024;
// A worker waiting at the cap, or holding a message the system refused, tries
// again this often.
constexpr DWORD kFullRetryMs = 100;

class TBackend {
public:
    TBackend(HWND owner, uint32_t connectionNumber);
    virtual ~TBackend();
    TBackend(const TBackend&) = delete;
    TBackend& operator=(const TBackend&) = delete;

    // On false, `error` is a ready-to-show translated message and no worker runs.
    virtual bool Open(std::u16string& error) = 0;
    // False: the worker did not end in time; abandon the object, never free it.
    virtual bool Close() = 0;
    // Synchronous on the caller's thread; true also for length <= 0.
    virtual bool Write(const uint8_t* data, int32_t length) = 0;
    // The owner suppresses local echo while the peer echoes.
    virtual bool IsRemoteEcho();

    // Owner thread: moves every waiting byte to `destination` (appended).
    void TakeReceived(TByteBuf& destination);

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
    void PostConnected();
    // One PostMessageW to the owner with the connection number; false when
    // the system refused it. Tests replace it to play a full queue.
    virtual bool PostToOwner(UINT msg, LPARAM lParam);

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
    HANDLE thread_ = nullptr;
    LPTHREAD_START_ROUTINE procedure_ = nullptr;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> endPosted_{false};
};
