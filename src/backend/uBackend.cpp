#include "backend/uBackend.h"

#include <algorithm>
#include <new>
#include <utility>

#include "base/uBarrier.h"
#include "base/uText.h"
#include "base/uWin.h"

namespace {

std::u16string BaseName(const std::u16string& path) {
    const size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

// The files of a transfer, read on the worker.
class TWinFileSource : public TSendSource {
public:
    explicit TWinFileSource(std::vector<std::u16string> paths) : paths_(std::move(paths)) {}
    bool Open(size_t index, int64_t& size) override {
        file_.Reset();
        if (index >= paths_.size()) return false;
        // Others may go on reading and writing it: a build that rewrites the
        // image while it goes out is the user's to judge, not a lock's.
        file_.Reset(CreateFileW(W(paths_[index]), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        LARGE_INTEGER n = {};
        if (!file_.Valid() || !GetFileSizeEx(file_.Get(), &n)) {
            file_.Reset();
            return false;
        }
        size = n.QuadPart;
        return true;
    }
    int32_t Read(uint8_t* to, int32_t max) override {
        DWORD got = 0;
        if (!file_.Valid() || !ReadFile(file_.Get(), to, DWORD(max), &got, nullptr)) return -1;
        return int32_t(got);
    }

private:
    std::vector<std::u16string> paths_;
    THandle file_;
};

}  // namespace

struct TBackend::TTransfer {
    std::vector<std::u16string> Names;  // without folder
    std::unique_ptr<TWinFileSource> Source;
    std::unique_ptr<TFileSender> Engine;
};

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

int64_t TSendQueue::DropOwn() {
    TByteBuf kept;
    std::deque<TSpan> spans;
    int64_t dropped = 0;
    int32_t at = head_;
    for (const TSpan& span : spans_) {
        if (!span.Reply) {
            dropped += span.Length;
        } else {
            // Without room for the copy nothing is dropped: the bytes still
            // go out, as they would have without the cancel.
            if (!kept.Append(bytes_.Data() + at, span.Length)) return 0;
            spans.push_back(span);
        }
        at += span.Length;
    }
    bytes_ = std::move(kept);
    head_ = 0;
    spans_.swap(spans);
    return dropped;
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
    sendEnded_ = CreateEventW(nullptr, TRUE, TRUE, nullptr);
}

TBackend::~TBackend() {
    // Only reached once the worker has ended (Close returned true, or it was
    // never started); an ended worker that was not closed leaves its handle.
    if (thread_) CloseHandle(thread_);
    if (stopEvent_) CloseHandle(stopEvent_);
    if (drainedEvent_) CloseHandle(drainedEvent_);
    if (queueEvent_) CloseHandle(queueEvent_);
    if (sendEnded_) CloseHandle(sendEnded_);
    DeleteCriticalSection(&sendLock_);
    DeleteCriticalSection(&lock_);
}

bool TBackend::IsRemoteEcho() { return false; }

std::u16string TBackend::EndText(DWORD) { return {}; }

bool TBackend::CanBreak() const { return false; }

bool TBackend::SendBreak() { return false; }

bool TBackend::StartWorker(LPTHREAD_START_ROUTINE procedure) {
    // One worker per backend; without its events a worker could neither be
    // stopped, wait at the cap nor learn of queued blocks.
    if (thread_ || !stopEvent_ || !drainedEvent_ || !queueEvent_ || !sendEnded_ || !procedure)
        return false;
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
    // A transfer outlived by its line: the owner still learns how it ended.
    if (self->sendBusy_.load())
        GuardedVoid([&] { self->EndFileSend(self->Stopping() ? kSendCancelled : kSendLineLost); },
                    [&](TFault) {
                        self->sendBusy_.store(false);
                        SetEvent(self->sendEnded_);
                    });
    return result;
}

bool TBackend::StopWorker() {
    CancelFileSendForClose();
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
    if (transfer_ && transfer_->Engine && !transfer_->Engine->Finished() &&
        transfer_->Engine->Protocol() != TSendProtocol::Raw) {
        // The receiver's replies: the view gets the line back afterwards.
        transfer_->Engine->Received(data, size_t(count), GetTickCount64());
        QueueTransferOutput();
        PublishProgress();
        return true;
    }
    if (const uint64_t until = cancelLingerUntil_.load()) {
        // Only a receiver's answers get the cancel again; anything else
        // means the device talks on its own again (or a new receiver asks),
        // and the linger is over.
        const bool answers = std::all_of(data, data + count, [](uint8_t b) {
            return b == xmodem::kAck || b == xmodem::kNak || b == xmodem::kCrcRequest ||
                   b == xmodem::kCan;
        });
        if (answers && GetTickCount64() < until) {
            std::vector<uint8_t> cancel(kCancelSequenceCans, xmodem::kCan);
            cancel.insert(cancel.end(), kCancelSequenceCans, xmodem::kBackspace);
            QueueReply(cancel.data(), int32_t(cancel.size()));
        } else {
            cancelLingerUntil_.store(0);
        }
    }
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

void TBackend::TakeReceived(TByteBuf& destination, int32_t most) {
    EnterCriticalSection(&lock_);
    // Bytes stay pending if the destination cannot take them; the next
    // delivery then posts again.
    const int32_t n = std::min(pending_.Count(), std::max(most, int32_t(1)));
    const bool taken = n > 0 && destination.Append(pending_.Data(), n);
    if (taken) pending_.Consume(n);
    // What a slice left behind is owed its own notification: the worker may
    // have nothing more to deliver.
    const bool more = taken && pending_.Count() > 0;
    notifyPosted_ = more;
    // Signalling costs a system call; only a worker held at the cap needs it.
    const bool wake = workerWaiting_;
    LeaveCriticalSection(&lock_);
    if (more && !PostToOwner(WM_KL_RECEIVED, 0)) {
        EnterCriticalSection(&lock_);
        notifyPosted_ = false;
        LeaveCriticalSection(&lock_);
    }
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
    // Typed text inside a block would corrupt the transfer.
    if (!data || !lineUp_.load() || sendBusy_.load()) return false;
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

bool TBackend::QueueCommand(const uint8_t* data, int32_t count) {
    if (!LineUp()) return false;
    bool queued = false;
    try {
        queued = UnderSendLock([&] { return queue_.Push(data, count, true); });
    } catch (const std::bad_alloc&) {
        queued = false;
    }
    if (queued) SetEvent(queueEvent_);
    return queued;
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

// --- Sending files ---

std::atomic<uint32_t> TBackend::FileSendReplyMsForTests{0};

bool TBackend::StartFileSend(std::vector<TFileToSend> files, TSendProtocol protocol,
                             int charDelayMs, int lineDelayMs) {
    const int p = int(protocol);
    if (files.empty() || p < int(TSendProtocol::Raw) || p > int(TSendProtocol::Ymodem))
        return false;
    if (files.size() > 1 &&
        (protocol == TSendProtocol::Xmodem || protocol == TSendProtocol::Xmodem1k))
        return false;
    if (!lineUp_.load() || sendBusy_.load()) return false;
    cancelLingerUntil_.store(0);
    try {
        auto t = std::make_unique<TTransfer>();
        std::vector<std::u16string> paths;
        std::vector<std::string> names;
        for (const TFileToSend& f : files) {
            paths.push_back(f.Path);
            t->Names.push_back(BaseName(f.Path));
            names.push_back(Utf16ToUtf8(t->Names.back()));
        }
        TSendTiming timing;
        if (const uint32_t reply = FileSendReplyMsForTests.load()) timing.ReplyMs = reply;
        timing.CharDelayMs = uint32_t(std::clamp(charDelayMs, 0, int(kMaxCharDelayMs)));
        timing.LineDelayMs = uint32_t(std::clamp(lineDelayMs, 0, int(kMaxLineDelayMs)));
        t->Source = std::make_unique<TWinFileSource>(std::move(paths));
        t->Engine = std::make_unique<TFileSender>(protocol, std::move(names), *t->Source, timing);
        TFileSendProgress start;
        start.Active = true;
        start.Protocol = protocol;
        start.FileName = t->Names[0];
        start.FileCount = files.size();
        UnderSendLock([&] {
            offered_ = std::move(t);
            progress_ = start;
        });
    } catch (const std::bad_alloc&) {
        return false;
    }
    cancelSend_.store(false);
    ResetEvent(sendEnded_);
    sendBusy_.store(true);
    // A worker that ended meanwhile never picks the transfer up; taken back,
    // it must not leave the backend busy for good.
    if (!lineUp_.load()) {
        const bool tookBack = UnderSendLock([&] {
            const bool had = offered_ != nullptr;
            offered_.reset();
            if (had) progress_.Active = false;
            return had;
        });
        if (tookBack) {
            sendBusy_.store(false);
            SetEvent(sendEnded_);
            return false;
        }
    }
    SetEvent(queueEvent_);
    return true;
}

void TBackend::CancelFileSend() {
    if (!sendBusy_.load()) return;
    cancelSend_.store(true);
    SetEvent(queueEvent_);
}

TFileSendProgress TBackend::FileSendProgress() {
    return UnderSendLock([&] { return progress_; });
}

void TBackend::CancelFileSendForClose() {
    if (!sendBusy_.load() || !thread_ || Stopping()) return;
    CancelFileSend();
    WaitForSingleObject(sendEnded_, kCloseCancelMs);
}

void TBackend::ServiceFileSend() {
    if (!sendBusy_.load()) return;
    const uint64_t now = GetTickCount64();
    if (!transfer_) {
        transfer_ = UnderSendLock([&] { return std::move(offered_); });
        if (!transfer_) return;
        drainUntil_ = 0;
        transfer_->Engine->Start(now);
    }
    TFileSender& engine = *transfer_->Engine;
    if (cancelSend_.load() && !engine.Finished()) {
        engine.Cancel();
        if (engine.Protocol() != TSendProtocol::Raw) {
            // The receiver's reply to the block in flight may still be coming.
            cancelLingerUntil_.store(now + kCancelLingerMs);
        } else {
            // Raw has no cancel sequence: the file's bytes still queued go,
            // or a slow line would carry on with them long after "cancelled".
            const int64_t dropped = UnderSendLock([&] { return queue_.DropOwn(); });
            accepted_.fetch_sub(dropped);
        }
    }
    engine.Poll(now, QueuedCount());
    QueueTransferOutput();
    PublishProgress();
    lastQueued_ = QueuedCount();
    if (!engine.Finished()) return;
    // The last bytes (a cancel sequence above all) leave before the end is
    // reported; a line that will not take them is given kSendDrainMs.
    if (drainUntil_ == 0) drainUntil_ = now + kSendDrainMs;
    if (lastQueued_ == 0 || now >= drainUntil_) EndFileSend(engine.Status().Outcome);
}

bool TBackend::ProtocolTransferRunning() const {
    return transfer_ && !transfer_->Engine->Finished() &&
           transfer_->Engine->Protocol() != TSendProtocol::Raw;
}

DWORD TBackend::FileSendWait() {
    if (!transfer_) return sendBusy_.load() ? 0 : INFINITE;
    // The line took the last bytes since the service ran: the engine's reply
    // timer starts now.
    if (lastQueued_ > 0 && QueuedCount() == 0) return 0;
    const uint64_t now = GetTickCount64();
    uint64_t at = transfer_->Engine->Finished() ? drainUntil_ : transfer_->Engine->WakeAt();
    if (transfer_->Engine->Finished() && lastQueued_ > 0) at = std::min<uint64_t>(at, now + 50);
    if (at == UINT64_MAX) return INFINITE;
    return at <= now ? 0 : DWORD(std::min<uint64_t>(at - now, 60000));
}

void TBackend::QueueTransferOutput() {
    if (!transfer_->Engine->HasOutput()) return;
    std::vector<uint8_t> out;
    transfer_->Engine->TakeOutput(out);
    const bool queued = UnderSendLock([&] {
        if (!queue_.Push(out.data(), int32_t(out.size()), false)) return false;
        accepted_.fetch_add(int64_t(out.size()));
        return true;
    });
    if (!queued) throw std::bad_alloc();
}

void TBackend::PublishProgress() {
    const TSendStatus& st = transfer_->Engine->Status();
    const size_t index = std::min(st.FileIndex, transfer_->Names.size() - 1);
    UnderSendLock([&] {
        progress_.FileIndex = index;
        if (progress_.FileName != transfer_->Names[index])
            progress_.FileName = transfer_->Names[index];
        progress_.BytesDone = st.FileDone;
        progress_.BytesTotal = st.FileSize;
    });
}

void TBackend::EndFileSend(TSendOutcome outcome) {
    if (transfer_) PublishProgress();
    transfer_.reset();  // closes the file
    UnderSendLock([&] {
        offered_.reset();
        progress_.Active = false;
        progress_.Outcome = outcome;
    });
    lastQueued_ = 0;
    drainUntil_ = 0;
    cancelSend_.store(false);
    sendBusy_.store(false);
    SetEvent(sendEnded_);
    PostRetried(WM_KL_FILESENT, LPARAM(outcome));
}
