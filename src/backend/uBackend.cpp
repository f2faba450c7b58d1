#include "backend/uBackend.h"

#include <algorithm>
#include <new>

#include "base/uBarrier.h"

// --- Send queue ---

bool TSendQueue::Push(const uint8_t* data, int32_t count, bool reply) {
    if (count <= 0) return true;
    // Taken bytes are dropped from the front once they are the larger part,
    // so moving the rest costs less than the bytes that went.
    if (head_ > 0 && head_ >= bytes_.Count() - head_) {
        bytes_.Consume(head_);
        head_ = 0;
    }
    const bool merge = !spans_.empty() && spans_.back().Reply == reply &&
                       spans_.back().Length <= INT32_MAX - count;
    if (!merge) spans_.push_back({0, reply});
    if (!bytes_.Append(data, count)) {
        if (!merge) spans_.pop_back();
        return false;
    }
    spans_.back().Length += count;
    if (reply) replies_ += count;
    return true;
}

int32_t TSendQueue::Take(TByteBuf& out, int32_t max, bool& reply) {
    if (spans_.empty() || max <= 0) return 0;
    TSpan& span = spans_.front();
    const int32_t n = std::min(span.Length, max);
    if (!out.Append(bytes_.Data() + head_, n)) return -1;
    reply = span.Reply;
    head_ += n;
    span.Length -= n;
    if (reply) replies_ -= n;
    if (span.Length == 0) spans_.pop_front();
    if (spans_.empty()) Clear();
    return n;
}

void TSendQueue::Clear() {
    bytes_.Clear();
    head_ = 0;
    spans_.clear();
    replies_ = 0;
}

// --- Backend ---

TBackend::TBackend(HWND owner, uint32_t connectionNumber)
    : owner_(owner), connectionNumber_(connectionNumber) {
    InitializeCriticalSection(&lock_);
    InitializeCriticalSection(&sendLock_);
    stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    drainedEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    queueEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

TBackend::~TBackend() {
    // Only reached once the worker has ended (Close returned true, or it was
    // never started); an ended worker that was not closed leaves its handle.
    if (thread_) CloseHandle(thread_);
    if (stopEvent_) CloseHandle(stopEvent_);
    if (drainedEvent_) CloseHandle(drainedEvent_);
    if (queueEvent_) CloseHandle(queueEvent_);
    DeleteCriticalSection(&sendLock_);
    DeleteCriticalSection(&lock_);
}

bool TBackend::IsRemoteEcho() { return false; }

std::u16string TBackend::EndText(DWORD) { return {}; }

bool TBackend::StartWorker(LPTHREAD_START_ROUTINE procedure) {
    // One worker per backend; without its events a worker could neither be
    // stopped, wait at the cap nor learn of queued blocks.
    if (thread_ || !stopEvent_ || !drainedEvent_ || !queueEvent_ || !procedure) return false;
    stopping_.store(false);
    ResetEvent(stopEvent_);
    procedure_ = procedure;
    // The worker may outlive every window of the plugin; the host must not
    // unload the code it runs.
    PinModule();
    thread_ = CreateThread(nullptr, 0, &TBackend::WorkerMain, this, 0, nullptr);
    return thread_ != nullptr;
}

DWORD WINAPI TBackend::WorkerMain(LPVOID p) {
    auto* self = static_cast<TBackend*>(p);
    // An exception leaving a thread ends the whole process, the file manager
    // with it. The connection ends instead, as it would on a read error.
    const DWORD result = Guarded([&] { return self->procedure_(self); },
                                 [&](TFault kind) {
                                     if (!self->Stopping()) self->PostEnded(FaultCode(kind));
                                 },
                                 DWORD(ERROR_INTERNAL_ERROR));
    self->lineUp_.store(false);
    return result;
}

bool TBackend::StopWorker() {
    SetStopping();
    SetEvent(stopEvent_);
    if (!thread_) return true;
    if (WaitForSingleObject(thread_, kStopTimeoutMs) != WAIT_OBJECT_0) return false;
    CloseHandle(thread_);
    thread_ = nullptr;
    return true;
}

bool TBackend::Deliver(const uint8_t* data, int32_t count) {
    if (count <= 0) return true;
    bool stored = false;
    for (;;) {
        bool post = false;
        EnterCriticalSection(&lock_);
        // A block larger than the cap itself still goes through once the
        // owner has taken everything, so nothing can wait forever. A failed
        // allocation is treated like a full buffer: wait, never drop.
        if (!stored && (pending_.Count() == 0 || pending_.Count() + int64_t(count) <= kPendingCap))
            stored = pending_.Append(data, count);
        workerWaiting_ = !stored;
        // While bytes wait, one notification must be outstanding, also when
        // an earlier post failed or a drain could not take the bytes;
        // otherwise a worker waiting at the cap would wait for good.
        if (pending_.Count() > 0 && !notifyPosted_) notifyPosted_ = post = true;
        LeaveCriticalSection(&lock_);
        bool owed = false;
        if (post && !PostToOwner(WM_KL_RECEIVED, 0)) {
            EnterCriticalSection(&lock_);
            notifyPosted_ = false;
            LeaveCriticalSection(&lock_);
            // These may be the last bytes for a long while: the post is
            // owed now, not at the next delivery.
            owed = true;
        }
        if (stored && !owed) return true;
        HANDLE events[2] = {drainedEvent_, stopEvent_};
        WaitForMultipleObjects(2, events, FALSE, kFullRetryMs);
        if (Stopping()) return false;
    }
}

void TBackend::TakeReceived(TByteBuf& destination) {
    EnterCriticalSection(&lock_);
    // Bytes stay pending if the destination cannot take them; the next
    // delivery then posts again.
    if (pending_.Count() > 0 && destination.Append(pending_.Data(), pending_.Count()))
        pending_.Clear();
    notifyPosted_ = false;
    // Signalling costs a system call; only a worker held at the cap needs it.
    const bool wake = workerWaiting_;
    LeaveCriticalSection(&lock_);
    if (wake) SetEvent(drainedEvent_);
}

int32_t TBackend::PendingCount() {
    EnterCriticalSection(&lock_);
    const int32_t n = pending_.Count();
    LeaveCriticalSection(&lock_);
    return n;
}

bool TBackend::PostToOwner(UINT msg, LPARAM lParam) {
    return PostMessageW(owner_, msg, WPARAM(connectionNumber_), lParam) != FALSE;
}

bool TBackend::PostRetried(UINT msg, LPARAM lParam) {
    while (!PostToOwner(msg, lParam))
        if (WaitForSingleObject(stopEvent_, kFullRetryMs) != WAIT_TIMEOUT) return false;
    return true;
}

void TBackend::PostEnded(DWORD code) {
    // A Write after the owner has seen the end must be refused, not queued
    // for a worker that is leaving.
    lineUp_.store(false);
    if (endPosted_.exchange(true)) return;
    PostRetried(WM_KL_ENDED, LPARAM(code));
}

void TBackend::PostConnected() {
    lineUp_.store(true);
    PostRetried(WM_KL_CONNECTED, 0);
}

// --- Sending ---

bool TBackend::Write(const uint8_t* data, int32_t length) {
    if (length <= 0) return true;
    if (!data || !lineUp_.load()) return false;
    bool queued = false, wake = false;
    try {
        queued = UnderSendLock([&] {
            if (accepted_.load() - written_.load() > kSendQueueCap) return false;
            // A worker only ever waits for the queue once it found it empty;
            // while blocks wait it comes back for more by itself, so a stream
            // of small blocks costs no system call each.
            wake = queue_.Empty();
            if (!queue_.Push(data, length, false)) return false;
            accepted_.fetch_add(length);
            return true;
        });
    } catch (const std::bad_alloc&) {
        // The file manager's thread must not see the failure as anything but
        // a refused send.
        queued = false;
    }
    if (queued && wake) SetEvent(queueEvent_);
    return queued;
}

int32_t TBackend::QueuedCount() const {
    const int64_t waiting = accepted_.load() - written_.load();
    return int32_t(std::clamp<int64_t>(waiting, 0, INT32_MAX));
}

int32_t TBackend::TakeOut(TByteBuf& out, int32_t max, bool& reply) {
    const int32_t n = UnderSendLock([&] { return queue_.Take(out, max, reply); });
    if (n < 0) throw std::bad_alloc();
    return n;
}

void TBackend::QueueReply(const uint8_t* data, int32_t count) {
    if (!UnderSendLock([&] { return queue_.Push(data, count, true); })) throw std::bad_alloc();
}

int64_t TBackend::RepliesQueued() {
    return UnderSendLock([&] { return queue_.Replies(); });
}

void TBackend::DropQueue() {
    UnderSendLock([&] {
        queue_.Clear();
        accepted_.store(written_.load());
    });
}
