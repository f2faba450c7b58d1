#include "termwnd/uLogFile.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <utility>

#include "base/uBarrier.h"
#include "base/uWin.h"
#include "i18n/uI18n.h"
#include "terminal/uLogFormat.h"

// State the window's thread and the writer thread share. Lock guards the
// queue, the flags, the failure and the path; nothing else is locked while
// it is held. The rest below Written belongs to the writer thread alone.
struct TLogWriter::TShared {
    TLogTarget Target;
    THandle Wake;  // auto-reset: bytes passed kLogWakeBytes, or stop
    std::mutex Lock;
    // Blocks in arrival order. A list of blocks rather than one string: a
    // string that grows while the disk is behind is copied whole at every
    // doubling, tens of milliseconds of the file manager's thread at a time.
    std::vector<std::string> Queue;
    size_t Queued = 0;
    size_t PeakQueued = 0;
    bool Stopping = false;  // no more Writes; the thread ends once the queue is out
    TLogFailure Failure;
    std::u16string Path;
    std::atomic<int64_t> Written{0};

    // The open part, and text lines being formatted.
    THandle File;
    int32_t Number = 0;
    int64_t PartBytes = 0;
    TLogLines Lines;
    std::string Formatted;
    std::u16string Text;

    void Fail(TLogFailure::TKind kind, DWORD code, const std::u16string& path) {
        std::lock_guard<std::mutex> g(Lock);
        if (Failure.Kind != TLogFailure::None) return;
        Failure = {kind, code, path};
        Stopping = true;
    }
    bool MakeFolder(const std::u16string& folder);
    bool OpenPart(int32_t first);
    bool ClosePart();
    bool Put(const char* p, size_t n);
    bool WriteBatch(const std::string& batch);
    bool WriteRecords(const std::string& records);
    void Run();
};

namespace {

bool IsDirectory(const std::u16string& path) {
    const DWORD a = GetFileAttributesW(W(path));
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// The folder above `path`, or empty at a root ("C:\", "\\server\share").
std::u16string ParentFolder(const std::u16string& path) {
    const size_t slash = path.find_last_of(u"\\/");
    if (slash == std::u16string::npos || slash < 3) return {};
    if (path.starts_with(u"\\\\") && path.find(u'\\', path.find(u'\\', 2) + 1) >= slash) return {};
    return path.substr(0, slash);
}

}  // namespace

bool TLogWriter::TShared::MakeFolder(const std::u16string& folder) {
    if (CreateDirectoryW(W(folder), nullptr) || IsDirectory(folder)) return true;
    DWORD error = GetLastError();
    if (error == ERROR_PATH_NOT_FOUND) {
        const std::u16string parent = ParentFolder(folder);
        if (!parent.empty() && parent != folder && MakeFolder(parent)) {
            if (CreateDirectoryW(W(folder), nullptr) || IsDirectory(folder)) return true;
            error = GetLastError();
        }
    }
    Fail(TLogFailure::Folder, error, folder);  // the deepest failure is told
    return false;
}

// Opens the first free name from part `first` on: a name that is taken gets
// the next number, so no earlier log is ever overwritten.
bool TLogWriter::TShared::OpenPart(int32_t first) {
    for (int32_t n = first; n <= kLogMaxNumber; ++n) {
        const std::u16string path = Target.Folder + u"\\" + LogFileName(Target.Stem, n, Target.Raw);
        HANDLE h = CreateFileW(W(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            File.Reset(h);
            Number = n;
            PartBytes = 0;
            std::lock_guard<std::mutex> g(Lock);
            Path = path;
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            Fail(TLogFailure::File, error, path);
            return false;
        }
    }
    Fail(TLogFailure::File, ERROR_FILE_EXISTS,
         Target.Folder + u"\\" + LogFileName(Target.Stem, kLogMaxNumber, Target.Raw));
    return false;
}

bool TLogWriter::TShared::ClosePart() {
    if (!File.Valid()) return true;
    const bool flushed = FlushFileBuffers(File.Get()) != FALSE;
    const DWORD error = GetLastError();
    File.Reset();
    if (!flushed) {
        std::u16string path;
        {
            std::lock_guard<std::mutex> g(Lock);
            path = Path;
        }
        Fail(TLogFailure::Write, error, path);
    }
    return flushed;
}

bool TLogWriter::TShared::Put(const char* p, size_t n) {
    while (n > 0) {
        const DWORD chunk = DWORD(std::min<size_t>(n, 1u << 30));
        DWORD done = 0;
        if (!WriteFile(File.Get(), p, chunk, &done, nullptr) || done != chunk) {
            const DWORD error = done != chunk && GetLastError() == ERROR_SUCCESS
                                    ? DWORD(ERROR_HANDLE_DISK_FULL)
                                    : GetLastError();
            std::u16string path;
            {
                std::lock_guard<std::mutex> g(Lock);
                path = Path;
            }
            Fail(TLogFailure::Write, error, path);
            return false;
        }
        p += done;
        n -= done;
        PartBytes += done;
        Written += done;
    }
    return true;
}

// Writes a batch, opening the next part wherever the current one has passed
// its size: raw parts end exactly at the limit, text parts after the first
// line end at or past it.
bool TLogWriter::TShared::WriteBatch(const std::string& batch) {
    const char* p = batch.data();
    size_t n = batch.size();
    while (n > 0) {
        if (PartBytes >= Target.SplitBytes) {
            if (!ClosePart() || !OpenPart(Number + 1)) return false;
        }
        size_t take = n;
        const int64_t room = Target.SplitBytes - PartBytes;
        if (int64_t(n) > room) {
            take = size_t(room);
            if (!Target.Raw) {
                const void* lf = take > 0 ? std::memchr(p + take - 1, '\n', n - take + 1)
                                          : std::memchr(p, '\n', n);
                take = lf ? size_t(static_cast<const char*>(lf) - p) + 1 : n;
            }
        }
        if (!Put(p, take)) return false;
        p += take;
        n -= take;
    }
    return true;
}

namespace {

struct TRecordHead {
    TDateTime Time;
    uint32_t Units;
};

}  // namespace

void AppendLogRecord(std::string& records, std::u16string_view text, TDateTime time) {
    const TRecordHead head = {time, uint32_t(text.size())};
    const size_t at = records.size();
    records.resize(at + sizeof head + text.size() * sizeof(char16_t));
    std::memcpy(records.data() + at, &head, sizeof head);
    std::memcpy(records.data() + at + sizeof head, text.data(), text.size() * sizeof(char16_t));
}

// Formats a batch of line records into text lines and writes them, in pieces
// of a few MiB so the formatted copy stays small.
bool TLogWriter::TShared::WriteRecords(const std::string& records) {
    const char* p = records.data();
    const char* end = p + records.size();
    while (p + sizeof(TRecordHead) <= end) {
        TRecordHead head;
        std::memcpy(&head, p, sizeof head);
        p += sizeof head;
        const size_t bytes = std::min<size_t>(size_t(end - p), head.Units * sizeof(char16_t));
        Text.resize(bytes / sizeof(char16_t));
        std::memcpy(Text.data(), p, Text.size() * sizeof(char16_t));
        p += bytes;
        Lines.Append(Formatted, Text, head.Time);
        if (Formatted.size() >= kLogWakeBytes || p >= end) {
            if (!WriteBatch(Formatted)) return false;
            Formatted.clear();
        }
    }
    return true;
}

void TLogWriter::TShared::Run() {
    if (!MakeFolder(Target.Folder) || !OpenPart(1)) return;
    std::vector<std::string> batch;
    for (;;) {
        WaitForSingleObject(Wake.Get(), kLogWriteMs);
        bool last;
        {
            std::lock_guard<std::mutex> g(Lock);
            batch.swap(Queue);
            Queued = 0;
            last = Stopping;
        }
        bool ok = true;
        for (const std::string& block : batch)
            if (!(ok = Target.Raw ? WriteBatch(block) : WriteRecords(block))) break;
        batch.clear();
        if (!ok || last) break;
    }
    ClosePart();
}

DWORD WINAPI TLogWriter::ThreadMain(LPVOID p) {
    std::unique_ptr<std::shared_ptr<TShared>> ref(static_cast<std::shared_ptr<TShared>*>(p));
    TShared& s = **ref;
    // An exception leaving a thread ends the file manager; the log ends instead.
    GuardedVoid([&] { s.Run(); },
                [&](TFault kind) {
                    s.File.Reset();
                    s.Fail(TLogFailure::Fault, FaultCode(kind), s.Target.Folder);
                });
    return 0;
}

TLogWriter::TLogWriter(TLogTarget target) : shared_(std::make_shared<TShared>()) {
    shared_->Target = std::move(target);
    shared_->Wake.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!shared_->Wake.Valid()) {
        shared_->Fail(TLogFailure::Fault, GetLastError(), shared_->Target.Folder);
        return;
    }
    // The thread may finish a log after every window of the plugin has gone.
    PinModule();
    auto* ref = new std::shared_ptr<TShared>(shared_);
    thread_ = CreateThread(nullptr, 0, &TLogWriter::ThreadMain, ref, 0, nullptr);
    // Behind the file manager's own thread for the processor: the queue
    // absorbs a writer that falls behind for a while, a key press does not.
    if (thread_) SetThreadPriority(thread_, THREAD_PRIORITY_BELOW_NORMAL);
    if (!thread_) {
        const DWORD error = GetLastError();
        delete ref;
        shared_->Fail(TLogFailure::Fault, error, shared_->Target.Folder);
    }
}

TLogWriter::~TLogWriter() { Stop(); }

bool TLogWriter::Write(const void* data, size_t n) {
    return Enqueue(n, [&](std::vector<std::string>& q) {
        // Small deliveries share a block; a block stays below kLogWakeBytes.
        if (q.empty() || q.back().size() + n > kLogWakeBytes) {
            q.emplace_back();
            q.back().reserve(std::max(n, kLogWakeBytes));
        }
        q.back().append(static_cast<const char*>(data), n);
    });
}

bool TLogWriter::Take(std::string& block) {
    const bool queued =
        Enqueue(block.size(), [&](std::vector<std::string>& q) { q.push_back(std::move(block)); });
    block = std::string();
    return queued;
}

template <class Put>
bool TLogWriter::Enqueue(size_t n, Put&& put) {
    if (n == 0) return !Failed();
    bool wake = false;
    {
        std::lock_guard<std::mutex> g(shared_->Lock);
        if (shared_->Stopping) return false;
        const size_t queued = shared_->Queued;
        if (queued + n > kLogQueueCap) {
            // The thread writes what waits and ends; the window says why.
            shared_->Failure = {TLogFailure::Behind, 0, shared_->Path};
            shared_->Stopping = true;
            SetEvent(shared_->Wake.Get());
            return false;
        }
        wake = queued < kLogWakeBytes && queued + n >= kLogWakeBytes;
        put(shared_->Queue);
        shared_->Queued = queued + n;
        shared_->PeakQueued = std::max(shared_->PeakQueued, shared_->Queued);
    }
    if (wake) SetEvent(shared_->Wake.Get());
    return true;
}

bool TLogWriter::Failed(TLogFailure* failure) const {
    std::lock_guard<std::mutex> g(shared_->Lock);
    if (failure) *failure = shared_->Failure;
    return shared_->Failure.Kind != TLogFailure::None;
}

std::u16string TLogWriter::FilePath() const {
    std::lock_guard<std::mutex> g(shared_->Lock);
    return shared_->Path;
}

int64_t TLogWriter::BytesWritten() const { return shared_->Written.load(); }

size_t TLogWriter::PeakQueued() const {
    std::lock_guard<std::mutex> g(shared_->Lock);
    return shared_->PeakQueued;
}

void TLogWriter::RequestStop() {
    {
        std::lock_guard<std::mutex> g(shared_->Lock);
        shared_->Stopping = true;
    }
    if (thread_) SetEvent(shared_->Wake.Get());
}

bool TLogWriter::Ended() const {
    return !thread_ || WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0;
}

bool TLogWriter::Stop() {
    RequestStop();
    if (!thread_) return true;
    const bool ended = WaitForSingleObject(thread_, kLogStopWaitMs) == WAIT_OBJECT_0;
    CloseHandle(thread_);
    thread_ = nullptr;
    return ended;
}

namespace {
std::atomic<int64_t> g_splitBytes{kLogSplitBytes};
}  // namespace

int64_t LogSplitBytes() { return g_splitBytes.load(); }

void SetLogSplitBytesForTesting(int64_t bytes) {
    g_splitBytes = bytes > 0 ? bytes : kLogSplitBytes;
}

std::u16string LogFailureText(const TLogFailure& f) {
    switch (f.Kind) {
        case TLogFailure::Folder:
            return TrFmt("log.error_folder", u"cannot create the folder {0} ({1})",
                         {f.Path, SystemMessage(f.Code)});
        case TLogFailure::File:
            return TrFmt("log.error_file", u"cannot create {0} ({1})",
                         {f.Path, SystemMessage(f.Code)});
        case TLogFailure::Write:
            return TrFmt("log.error_write", u"cannot write {0} ({1})",
                         {f.Path, SystemMessage(f.Code)});
        case TLogFailure::Behind:
            return Tr("log.error_behind", u"the disk does not keep up with the data");
        case TLogFailure::Fault:
            return SystemMessage(f.Code);
        default:
            return {};
    }
}

// ------------------------------------------------------------- TSessionLog

TSessionLog::TSessionLog(TTermModel& model, const TLogTarget& target)
    : model_(&model), raw_(target.Raw), writer_(target) {
    if (!raw_) model_->SetLineSink(&TSessionLog::Sink, this);
}

TSessionLog::~TSessionLog() { Finish(); }

void TSessionLog::Sink(void* self, std::u16string_view text, TDateTime time) {
    AppendLogRecord(static_cast<TSessionLog*>(self)->staged_, text, time);
}

void TSessionLog::Received(const void* data, int32_t n) {
    if (raw_ && model_ && n > 0) writer_.Write(data, size_t(n));
}

void TSessionLog::Commit() {
    if (!staged_.empty()) writer_.Take(staged_);
}

void TSessionLog::FlushOpenLine() {
    if (raw_ || !model_) return;
    const int32_t last = model_->LineCount() - 1;
    const std::u16string_view text = model_->LineTextView(last);
    if (!text.empty()) AppendLogRecord(staged_, text, model_->LineTime(last));
    Commit();
}

void TSessionLog::Finish(bool wait) {
    if (model_) {
        if (!raw_) {
            model_->SetLineSink(nullptr, nullptr);
            FlushOpenLine();
        }
        model_ = nullptr;
    }
    if (wait)
        writer_.Stop();
    else
        writer_.RequestStop();
}
