// Logging what a connection receives into files, off the window's thread.
//
// Design notes
// - TLogWriter owns one thread. The window hands it blocks (raw bytes as they
//   are drained, or finished text lines as line records) with Write, which
//   only appends to a queue under a lock and returns; the thread takes the
//   whole queue at least every kLogWriteMs (at once when more than
//   kLogWakeBytes wait) and writes it with WriteFile. Nothing on the window's
//   thread ever waits for a disk, except Stop, which gives the thread a
//   bounded time to finish.
// - Text lines are formatted (prefix, UTF-8, CR LF) on the writer's thread:
//   the window's thread only copies each line's UTF-16 text and time into a
//   record, which costs a small part of what formatting would.
// - What reaches the disk when. WriteFile hands the bytes to the system,
//   which keeps them however the file manager's process ends, so a dying
//   process loses at most what waited in the queue: a fraction of a second.
//   FlushFileBuffers, which waits for the medium itself, runs only when a
//   file is closed (at the end and at each split): a USB stick pulled after
//   logging stopped then holds the whole log, and a running log costs no
//   medium round trip per second. Only a power loss can take the last
//   seconds that the system had not written yet.
// - Bounded queue. A log that cannot keep up (a slow network share, a stick
//   at its worst) must not fill the host's memory: once more than
//   kLogQueueCap bytes wait, the log stops with a failure the window shows.
//   What was queued before is still written; nothing is dropped silently.
//   The cap follows the model's line budget: 64 MiB in a 32-bit host, 256 MiB
//   in a 64-bit one, where a flood of text lines (queued as UTF-16, twice
//   their bytes) must not end the log when the writer's thread gets little of
//   a busy machine for a second or two.
// - Failures (the folder cannot be created, the file cannot be created, a
//   write fails: disk full, drive removed, share gone) end the thread; the
//   file keeps what was written, and the window learns of it by polling
//   Failed on its 250 ms timer. The file is opened without delete sharing,
//   so it cannot be deleted while it is written; others may read it.
// - Parts. A file that passes SplitBytes (256 MiB) is closed and the next one
//   opened with the next number. Raw parts are cut exactly at the limit, so
//   the parts put together are the stream; text parts are cut after the first
//   line end at or past it, so no line is split between files.
// - The thread runs behind the exception barrier, with the library pinned;
//   it shares its state with the object through a reference of its own, so
//   an object that stopped waiting for it can go while it finishes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "terminal/uTermModel.h"

constexpr int64_t kLogSplitBytes = int64_t(256) << 20;
constexpr size_t kLogQueueCap = sizeof(void*) == 4 ? size_t(64) << 20 : size_t(256) << 20;
constexpr DWORD kLogWriteMs = 200;
constexpr size_t kLogWakeBytes = size_t(1) << 20;
constexpr DWORD kLogStopWaitMs = 2000;
// Parts tried for one name before the folder counts as unusable.
constexpr int32_t kLogMaxNumber = 9999;

// The part size logs started from now on use: kLogSplitBytes, unless a test
// made it smaller (0 puts it back).
int64_t LogSplitBytes();
void SetLogSplitBytesForTesting(int64_t bytes);

struct TLogTarget {
    std::u16string Folder;  // absolute; created with its parents when missing
    std::u16string Stem;    // LogFileStem
    bool Raw = false;
    int64_t SplitBytes = kLogSplitBytes;
};

// Why a log ended before it was stopped.
struct TLogFailure {
    enum TKind { None, Folder, File, Write, Behind, Fault } Kind = None;
    DWORD Code = 0;       // the system's error code, where there is one
    std::u16string Path;  // the folder or file concerned
};
// The failure as the status line tells it (translated).
std::u16string LogFailureText(const TLogFailure& failure);

class TLogWriter {
public:
    // Starts the thread, which creates the folder and opens the first part.
    explicit TLogWriter(TLogTarget target);
    // Stop.
    ~TLogWriter();
    TLogWriter(const TLogWriter&) = delete;
    TLogWriter& operator=(const TLogWriter&) = delete;

    // Queues the bytes (raw logs) or line records (text logs, whole records
    // made by AppendLogRecord); false (nothing queued) once the log has failed
    // or stopped, or when the queue would pass kLogQueueCap, which fails the log.
    bool Write(const void* data, size_t n);
    // Write for a whole buffer, without copying it: the block joins the queue
    // as it is and `block` is left empty.
    bool Take(std::string& block);
    // Whether the log failed, and why.
    bool Failed(TLogFailure* failure = nullptr) const;
    // The part being written (its full path); empty before the first is open.
    std::u16string FilePath() const;
    // Bytes the thread has written into all parts.
    int64_t BytesWritten() const;
    // The most bytes that ever waited in the queue (how close a log came to
    // kLogQueueCap).
    size_t PeakQueued() const;
    // Everything queued is written and the file closed; waits up to
    // kLogStopWaitMs for that, then leaves the thread to finish alone.
    // True when the thread had ended.
    bool Stop();
    // Stop without waiting: the thread writes what is queued and closes the
    // file while the caller goes on; Ended tells when it has.
    void RequestStop();
    bool Ended() const;

private:
    struct TShared;
    static DWORD WINAPI ThreadMain(LPVOID p);
    template <class Put>
    bool Enqueue(size_t n, Put&& put);
    std::shared_ptr<TShared> shared_;
    HANDLE thread_ = nullptr;
};

// One text line for a text log's writer: its time, its length in UTF-16
// units, its units.
void AppendLogRecord(std::string& records, std::u16string_view text, TDateTime time);

// The log of one terminal window's connection: a writer, and for text logs
// the model's line sink that formats each finished line into it.
class TSessionLog {
public:
    // Text logs attach to the model's line sink; the model must outlive the
    // log or see Finish first.
    TSessionLog(TTermModel& model, const TLogTarget& target);
    ~TSessionLog();  // Finish
    TSessionLog(const TSessionLog&) = delete;
    TSessionLog& operator=(const TSessionLog&) = delete;

    bool Raw() const { return raw_; }
    TLogWriter& Writer() { return writer_; }
    // Bytes as drained from the connection: a raw log queues them.
    void Received(const void* data, int32_t n);
    // Hands the lines the model finished since the last call to the writer
    // (one queue lock per read, not per line).
    void Commit();
    // A text log writes the model's unfinished line now: the model is about
    // to be cleared, or logging ends.
    void FlushOpenLine();
    // Detaches from the model, writes the unfinished line, stops the writer;
    // with `wait` false the writer finishes the file on its own.
    void Finish(bool wait = true);

private:
    static void Sink(void* self, std::u16string_view text, TDateTime time);
    TTermModel* model_;
    bool raw_;
    std::string staged_;  // line records since the last Commit
    TLogWriter writer_;
};
