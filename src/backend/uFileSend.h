// TFileSender: the sending side of a file transfer to a device — raw, XMODEM,
// XMODEM-1K or YMODEM — as a pure state machine.
//
// It knows no clock, no line and no file system. The caller (the backend's
// worker) feeds it what the receiver sends (Received), the time as a
// millisecond count, and how many of its bytes still wait to go out (Poll);
// it answers with bytes to send (TakeOutput), the time it next wants a Poll
// (WakeAt) and its Status. File contents come through TSendSource, one block
// at a time, so a file of any size costs one block of memory and the engine
// stays testable with files held in memory.
//
// The protocols as the receivers in the field (U-Boot's loadx/loady,
// lrzsz's rx/rb, microcontroller bootloaders) expect them:
// - The receiver starts: 'C' asks for CRC-16 blocks, NAK for the 8-bit
//   checksum. It has kFirstRequestMs to ask; later replies kReplyMs each.
// - XMODEM: 128-byte SOH blocks numbered from 1, wrapping after 255.
//   XMODEM-1K: 1024-byte STX blocks, except a tail of 128 bytes or fewer,
//   which goes as one SOH block; a receiver that asked for checksums gets
//   128-byte blocks only (the checksum is too weak for 1024 bytes, and such
//   receivers predate STX). The last block is padded with 0x1A.
// - YMODEM: per file, block 0 carries the name (UTF-8, no folder) and the
//   decimal size; after its ACK the receiver asks again with 'C' and the data
//   goes as XMODEM-1K. The end of a file is EOT, answered NAK then ACK by rb
//   (a plain ACK is taken as well); then 'C' asks for the next block 0. The
//   batch ends with an empty block 0.
// - A block (or EOT) goes out at most kMaxErrors times: each NAK, repeated
//   request or missing reply counts. When the errors run out, the outcome is
//   "no answer" if nothing at all came back for that block, else "too many
//   errors".
// - Two CANs in a row from the receiver cancel. Cancel, a file that cannot be
//   read and running out of errors all send the cancel sequence (ten CAN,
//   ten backspaces, as lrzsz does) so a receiver waiting for the next block
//   gives up at once instead of timing out. While a block is still on its
//   way, the CANs are as many as the block is long: a receiver that reads
//   them as the rest of the block still finds two where the next one starts.
// - A reply time-out runs from the moment the line has taken the block (Poll
//   reports nothing queued), not from when it was made: a 1 KiB block takes
//   almost a second at 9600 baud.
// - When a block or an EOT is sent, whatever else came in the same input is
//   dropped: a second 'C' that was already on its way, or the receiver's
//   reply to a duplicate, must not be taken as the answer to the new block.
//
// Raw: the files' bytes unchanged, one after another. Without pacing, up to
// kRawChunk bytes are kept queued; with a character delay one byte goes out at
// a time, once the previous byte has left and the delay has passed; after a
// line end (LF, or a CR not followed by LF) the line delay passes as well.
// What the receiver sends during a raw transfer is not the engine's business
// (the terminal shows it).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class TSendProtocol : int { Raw = 0, Xmodem = 1, Xmodem1k = 2, Ymodem = 3 };

// How a transfer ended; also lParam of WM_KL_FILESENT.
enum TSendOutcome : int {
    kSendRunning = 0,
    kSendDone = 1,
    kSendCancelled = 2,            // by us (Cancel, Esc, Disconnect)
    kSendCancelledByReceiver = 3,  // CAN CAN
    kSendNoAnswer = 4,             // the receiver never asked, or fell silent
    kSendTooManyErrors = 5,        // the receiver kept rejecting a block
    kSendFileError = 6,            // a file could not be opened or read
    kSendLineLost = 7,             // the connection ended under the transfer
};

namespace xmodem {
constexpr uint8_t kSoh = 0x01;
constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEot = 0x04;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;
constexpr uint8_t kCan = 0x18;
constexpr uint8_t kCrcRequest = 'C';
constexpr uint8_t kPad = 0x1A;
constexpr uint8_t kBackspace = 0x08;
}  // namespace xmodem

constexpr uint32_t kFirstRequestMs = 60000;
// lrzsz waits 10 s for a block; a sender must not give up sooner.
constexpr uint32_t kReplyMs = 10000;
constexpr int kMaxErrors = 10;
constexpr int32_t kRawChunk = 16 * 1024;
constexpr uint32_t kMaxCharDelayMs = 1000;
constexpr uint32_t kMaxLineDelayMs = 10000;

struct TSendTiming {
    uint32_t FirstRequestMs = kFirstRequestMs;
    uint32_t ReplyMs = kReplyMs;
    uint32_t CharDelayMs = 0;  // raw only; clamped to kMaxCharDelayMs
    uint32_t LineDelayMs = 0;  // raw only; clamped to kMaxLineDelayMs
};

// The files, as the engine reads them. Called only from the engine's own
// calls (Start, Received, Poll), on the caller's thread.
class TSendSource {
public:
    virtual ~TSendSource() = default;
    // Opens file `index` (closing the one before); false when it cannot be
    // read. `size` is its length, which the engine sends no more than.
    virtual bool Open(size_t index, int64_t& size) = 0;
    // Up to `max` next bytes: the count, 0 at the end, -1 on a read error.
    virtual int32_t Read(uint8_t* to, int32_t max) = 0;
};

struct TSendStatus {
    TSendOutcome Outcome = kSendRunning;
    size_t FileIndex = 0;  // of the file being sent
    size_t FileCount = 0;
    int64_t FileDone = 0;  // bytes of that file the receiver has (raw: that have left)
    int64_t FileSize = 0;
};

// CRC-16/XMODEM (polynomial 0x1021, initial 0).
uint16_t XmodemCrc(const uint8_t* data, size_t n);

class TFileSender {
public:
    // `names`: one per file (UTF-8, no folder; YMODEM sends them).
    TFileSender(TSendProtocol protocol, std::vector<std::string> names, TSendSource& source,
                const TSendTiming& timing);

    // Opens the first file (a failure ends the transfer at once, with nothing
    // sent) and starts waiting for the receiver, or starts sending raw.
    void Start(uint64_t now);
    // What the receiver sent.
    void Received(const uint8_t* data, size_t n, uint64_t now);
    // Time passes; `queued` of the bytes handed out have not left yet.
    void Poll(uint64_t now, int64_t queued);
    // Ends the transfer as cancelled, telling the receiver.
    void Cancel();

    // Moves the bytes to send to the end of `out`.
    void TakeOutput(std::vector<uint8_t>& out);
    bool HasOutput() const { return !out_.empty(); }
    // When Poll next has something to do; UINT64_MAX: only on input or when
    // the line takes bytes.
    uint64_t WakeAt() const;
    const TSendStatus& Status() const { return status_; }
    bool Finished() const { return status_.Outcome != kSendRunning; }
    TSendProtocol Protocol() const { return protocol_; }

private:
    enum class TState {
        Raw,
        WaitRequest,      // for the first request (or, YMODEM, for the next block 0)
        WaitBlockAck,     // a block is out
        WaitDataRequest,  // YMODEM: block 0 acknowledged, waiting for 'C'
        WaitEotAck,
        WaitBatchEndAck,
        Finished,
    };

    void Finish(TSendOutcome outcome, bool tellReceiver);
    // The receiver asked (byte `b` is 'C' or NAK) in a waiting state.
    void Requested(uint8_t b);
    void Timeout();
    // Counts an error for the current block; false when they ran out (the
    // transfer then ended).
    bool Failed();
    bool OpenFile(size_t index);
    void SendBlock0(bool batchEnd);
    // Reads and sends the next data block, or EOT at the end of the file.
    void SendNextData();
    void SendBlock(uint8_t kind, size_t dataLen);
    void SendEot();
    void Resend();
    void Sent(uint64_t deadlineMs);
    void FileAcknowledged();
    void PollRaw(uint64_t now, int64_t queued);
    // Raw: refills the read-ahead; false on a read error (transfer ended).
    bool FillRaw();

    const TSendProtocol protocol_;
    const std::vector<std::string> names_;
    TSendSource& source_;
    TSendTiming timing_;
    TSendStatus status_;
    TState state_ = TState::WaitRequest;
    std::vector<uint8_t> out_;

    bool crc_ = true;
    uint8_t seq_ = 1;
    std::vector<uint8_t> frame_;  // the block (or EOT) that is out, for resending
    int64_t frameData_ = 0;       // file bytes it carries
    bool header_ = false;         // it is a block 0 (data blocks wrap to 0 as well)
    int64_t left_ = 0;            // file bytes not yet read
    int errors_ = 0;
    bool heard_ = false;       // any byte since the current frame first went out
    bool awaitDrain_ = false;  // the reply timer starts once the frame has left
    bool dropInput_ = false;   // the rest of the current input is stale
    bool lastWasCan_ = false;
    uint64_t now_ = 0;
    uint64_t deadline_ = UINT64_MAX;
    bool started_ = false;

    // Raw read-ahead and pacing.
    std::vector<uint8_t> raw_;
    size_t rawAt_ = 0;
    bool rawEnd_ = false;  // the current file has no more bytes
    int64_t emitted_ = 0;  // of the current file
    uint64_t nextAt_ = 0;
};
