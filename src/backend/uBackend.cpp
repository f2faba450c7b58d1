#include "backend/uBackend.h"

TBackend::TBackend(HWND owner, uint32_t connectionNumber)
    : owner_(owner), connectionNumber_(connectionNumber) {
    InitializeCriticalSection(&lock_);
    stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    drainedEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

TBackend::~TBackend() {
    if (stopEvent_) CloseHandle(stopEvent_);
    if (drainedEvent_) CloseHandle(drainedEvent_);
    DeleteCriticalSection(&lock_);
}

bool TBackend::IsRemoteEcho() { return false; }

bool TBackend::StartWorker(LPTHREAD_START_ROUTINE procedure) {
    stopping_.store(false, std::memory_order_release);
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
        bool stored = false, wasPosted = false;
        EnterCriticalSection(&lock_);
        // A block larger than the cap itself still goes through once the
        // owner has taken everything, so nothing can wait forever. A failed
        // allocation is treated like a full buffer: wait, never drop.
        if (pending_.Count() == 0 || pending_.Count() + int64_t(count) <= kPendingCap) {
            stored = pending_.Append(data, count);
            wasPosted = notifyPosted_;
            if (stored) notifyPosted_ = true;
        }
        LeaveCriticalSection(&lock_);
        if (stored) {
            if (!wasPosted) PostMessageW(owner_, WM_KL_RECEIVED, WPARAM(connectionNumber_), 0);
            return true;
        }
        HANDLE events[2] = {drainedEvent_, stopEvent_};
        WaitForMultipleObjects(2, events, FALSE, INFINITE);
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
    LeaveCriticalSection(&lock_);
    SetEvent(drainedEvent_);
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
