#include "backend/uBackend.h"

#include <new>

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
    if (thread_ || !stopEvent_ || !drainedEvent_ || !procedure) return false;
    stopping_.store(false);
    ResetEvent(stopEvent_);
    procedure_ = procedure;
    thread_ = CreateThread(nullptr, 0, &TBackend::WorkerMain, this, 0, nullptr);
    return thread_ != nullptr;
}

DWORD WINAPI TBackend::WorkerMain(LPVOID p) {
    auto* self = static_cast<TBackend*>(p);
    // An exception leaving a thread ends the whole process, the file manager
    // with it. The connection ends instead, as it would on a read error.
    DWORD code;
    try {
        return self->procedure_(self);
    } catch (const std::bad_alloc&) {
        code = ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        code = ERROR_INTERNAL_ERROR;
    }
    if (!self->Stopping()) self->PostEnded(code);
    return code;
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
    if (endPosted_.exchange(true)) return;
    PostRetried(WM_KL_ENDED, LPARAM(code));
}

void TBackend::PostConnected() { PostRetried(WM_KL_CONNECTED, 0); }
