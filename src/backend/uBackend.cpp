#include "backend/uBackend.h"

TBackend::TBackend(HWND owner, uint32_t connectionNumber)
    : owner_(owner), connectionNumber_(connectionNumber) {
    InitializeCriticalSection(&lock_);
    stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    drainedEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

TBackend::~TBackend() {
    // Only reached once the worker has ended (Close returned true, or it was
    // never started); an ended worker that was not closed leaves its handle.
    if (thread_) CloseHandle(thread_);
    if (stopEvent_) CloseHandle(stopEvent_);
    if (drainedEvent_) CloseHandle(drainedEvent_);
    DeleteCriticalSection(&lock_);
}

bool TBackend::IsRemoteEcho() { return false; }

bool TBackend::StartWorker(LPTHREAD_START_ROUTINE procedure) {
    // One worker per backend; without its events a worker could neither be
    // stopped nor wait at the cap.
    if (thread_ || !stopEvent_ || !drainedEvent_) return false;
    stopping_.store(false);
    ResetEvent(stopEvent_);
    thread_ = CreateThread(nullptr, 0, procedure, this, 0, nullptr);
    return thread_ != nullptr;
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
    for (;;) {
        bool stored = false, post = false;
        EnterCriticalSection(&lock_);
        // A block larger than the cap itself still goes through once the
        // owner has taken everything, so nothing can wait forever. A failed
        // allocation is treated like a full buffer: wait, never drop.
        if (pending_.Count() == 0 || pending_.Count() + int64_t(count) <= kPendingCap)
            stored = pending_.Append(data, count);
        workerWaiting_ = !stored;
        // While bytes wait, one notification must be outstanding, also when
        // an earlier post failed or a drain could not take the bytes;
        // otherwise a worker waiting at the cap would wait for good.
        if (pending_.Count() > 0 && !notifyPosted_) notifyPosted_ = post = true;
        LeaveCriticalSection(&lock_);
        if (post && !PostMessageW(owner_, WM_KL_RECEIVED, WPARAM(connectionNumber_), 0)) {
            EnterCriticalSection(&lock_);
            notifyPosted_ = false;  // the queue was full: the next pass posts again
            LeaveCriticalSection(&lock_);
        }
        if (stored) return true;
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

void TBackend::PostEnded(DWORD code) {
    PostMessageW(owner_, WM_KL_ENDED, WPARAM(connectionNumber_), LPARAM(code));
}

void TBackend::PostConnected() {
    PostMessageW(owner_, WM_KL_CONNECTED, WPARAM(connectionNumber_), 0);
}
