#include "backend/uFileSend.h"

#include <algorithm>
#include <cstddef>
#include <utility>

using namespace xmodem;

namespace {

constexpr size_t kShortBlock = 128;
constexpr size_t kLongBlock = 1024;
// lrzsz's cancel sequence: enough CANs that two arrive together even through
// a noisy line, then backspaces to wipe them from a shell that got them.
constexpr int kCancelCans = 10;
constexpr int kCancelBackspaces = 10;
constexpr size_t kRawReadAhead = 4096;

bool LineEnd(uint8_t b) { return b == '\n' || b == '\r'; }

}  // namespace

uint16_t XmodemCrc(const uint8_t* data, size_t n) {
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= uint16_t(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
    }
    return crc;
}

TFileSender::TFileSender(TSendProtocol protocol, std::vector<std::string> names,
                         TSendSource& source, const TSendTiming& timing)
    : protocol_(protocol), names_(std::move(names)), source_(source), timing_(timing) {
    timing_.CharDelayMs = std::min(timing_.CharDelayMs, kMaxCharDelayMs);
    timing_.LineDelayMs = std::min(timing_.LineDelayMs, kMaxLineDelayMs);
    status_.FileCount = names_.size();
}

void TFileSender::Start(uint64_t now) {
    if (started_) return;
    started_ = true;
    now_ = now;
    if (names_.empty()) {
        Finish(kSendDone, false);
        return;
    }
    if (!OpenFile(0)) {
        Finish(kSendFileError, false);
        return;
    }
    if (protocol_ == TSendProtocol::Raw) {
        state_ = TState::Raw;
        nextAt_ = now;
        return;
    }
    state_ = TState::WaitRequest;
    deadline_ = now + timing_.FirstRequestMs;
}

bool TFileSender::OpenFile(size_t index) {
    int64_t size = 0;
    if (!source_.Open(index, size) || size < 0) return false;
    status_.FileIndex = index;
    status_.FileSize = left_ = size;
    status_.FileDone = 0;
    seq_ = 1;
    raw_.clear();
    rawAt_ = 0;
    rawEnd_ = false;
    emitted_ = 0;
    return true;
}

void TFileSender::Finish(TSendOutcome outcome, bool tellReceiver) {
    if (state_ == TState::Finished) return;
    // A block still on its way swallows what follows it as its own data: the
    // CANs then fill it up first, so that two of them still reach the
    // receiver where it looks for the next block.
    size_t cans = kCancelCans;
    if (awaitDrain_ && frame_.size() > 1) cans = std::max(cans, frame_.size() + 2);
    status_.Outcome = outcome;
    state_ = TState::Finished;
    deadline_ = UINT64_MAX;
    awaitDrain_ = false;
    if (!tellReceiver) return;
    out_.insert(out_.end(), cans, kCan);
    out_.insert(out_.end(), kCancelBackspaces, kBackspace);
}

void TFileSender::Cancel() { Finish(kSendCancelled, started_ && protocol_ != TSendProtocol::Raw); }

void TFileSender::TakeOutput(std::vector<uint8_t>& out) {
    out.insert(out.end(), out_.begin(), out_.end());
    out_.clear();
}

uint64_t TFileSender::WakeAt() const {
    if (state_ == TState::Finished) return UINT64_MAX;
    // A frame still on its way, or raw bytes still queued, wake the caller
    // when they leave; until then no time-out runs.
    if (awaitDrain_) return UINT64_MAX;
    if (state_ == TState::Raw)
        return timing_.CharDelayMs || timing_.LineDelayMs ? nextAt_ : UINT64_MAX;
    return deadline_;
}

// --- Receiving ---

void TFileSender::Received(const uint8_t* data, size_t n, uint64_t now) {
    now_ = now;
    if (state_ == TState::Raw || state_ == TState::Finished || !started_) return;
    dropInput_ = false;
    for (size_t i = 0; i < n && !dropInput_ && state_ != TState::Finished; ++i) {
        const uint8_t b = data[i];
        heard_ = true;
        if (b == kCan) {
            if (lastWasCan_) {
                Finish(kSendCancelledByReceiver, false);
                return;
            }
            lastWasCan_ = true;
            continue;
        }
        lastWasCan_ = false;
        const bool request = b == kCrcRequest || b == kNak;
        switch (state_) {
            case TState::WaitRequest:
                if (request) Requested(b);
                break;
            case TState::WaitBlockAck:
                if (b == kAck) {
                    if (header_) {
                        // Block 0 taken: the receiver asks for the data next.
                        state_ = TState::WaitDataRequest;
                        errors_ = 0;
                        heard_ = false;
                        deadline_ = now_ + timing_.ReplyMs;
                        awaitDrain_ = false;
                    } else {
                        status_.FileDone += frameData_;
                        SendNextData();
                    }
                } else if (request && Failed()) {
                    Resend();
                }
                break;
            case TState::WaitDataRequest:
                if (request) {
                    crc_ = b == kCrcRequest;
                    SendNextData();
                }
                break;
            case TState::WaitEotAck:
                if (b == kAck)
                    FileAcknowledged();
                else if (b == kNak && Failed())
                    Resend();
                break;
            case TState::WaitBatchEndAck:
                if (b == kAck)
                    Finish(kSendDone, false);
                else if (request && Failed())
                    Resend();
                break;
            case TState::Raw:
            case TState::Finished:
                break;
        }
    }
}

void TFileSender::Requested(uint8_t b) {
    crc_ = b == kCrcRequest;
    if (protocol_ != TSendProtocol::Ymodem) {
        SendNextData();
        return;
    }
    SendBlock0(status_.FileIndex >= names_.size());
}

void TFileSender::FileAcknowledged() {
    status_.FileDone = status_.FileSize;
    if (protocol_ != TSendProtocol::Ymodem) {
        Finish(kSendDone, false);
        return;
    }
    const size_t next = status_.FileIndex + 1;
    if (next < names_.size()) {
        if (!OpenFile(next)) {
            Finish(kSendFileError, true);
            return;
        }
    } else {
        status_.FileIndex = next;  // past the last: the next block 0 ends the batch
    }
    state_ = TState::WaitRequest;
    errors_ = 0;
    heard_ = false;
    awaitDrain_ = false;
    deadline_ = now_ + timing_.ReplyMs;
}

bool TFileSender::Failed() {
    if (++errors_ < kMaxErrors) return true;
    Finish(heard_ ? kSendTooManyErrors : kSendNoAnswer, true);
    return false;
}

void TFileSender::Timeout() {
    switch (state_) {
        case TState::WaitRequest:
            // Nobody asked for the first file: nothing was ever sent, and
            // whatever listens is no receiver that a cancel would concern.
            if (status_.FileIndex == 0 && seq_ == 1 && frame_.empty()) {
                Finish(kSendNoAnswer, false);
                return;
            }
            [[fallthrough]];
        case TState::WaitDataRequest:
            if (Failed()) deadline_ = now_ + timing_.ReplyMs;
            return;
        case TState::WaitBlockAck:
        case TState::WaitEotAck:
        case TState::WaitBatchEndAck:
            if (Failed()) Resend();
            return;
        case TState::Raw:
        case TState::Finished:
            return;
    }
}

// --- Sending ---

void TFileSender::SendBlock0(bool batchEnd) {
    std::vector<uint8_t> info;
    if (!batchEnd) {
        std::string name = names_[status_.FileIndex];
        name = name.substr(0, name.find('\0'));
        // An empty name would end the batch.
        if (name.empty()) name = "file";
        const std::string size = std::to_string(status_.FileSize);
        const size_t room = kLongBlock - size.size() - 2;
        if (name.size() > room) {
            size_t cut = room;
            while (cut > 0 && (uint8_t(name[cut]) & 0xC0) == 0x80) --cut;  // whole characters
            name.resize(cut);
        }
        info.assign(name.begin(), name.end());
        info.push_back(0);
        info.insert(info.end(), size.begin(), size.end());
        info.push_back(0);
    }
    const size_t len = info.size() <= kShortBlock ? kShortBlock : kLongBlock;
    info.resize(len, 0);  // block 0 is padded with NULs, not 0x1A
    const uint8_t saved = seq_;
    seq_ = 0;
    frame_.clear();
    frame_.push_back(len == kShortBlock ? kSoh : kStx);
    frame_.push_back(0);
    frame_.push_back(0xFF);
    frame_.insert(frame_.end(), info.begin(), info.end());
    if (crc_) {
        const uint16_t crc = XmodemCrc(info.data(), info.size());
        frame_.push_back(uint8_t(crc >> 8));
        frame_.push_back(uint8_t(crc));
    } else {
        uint8_t sum = 0;
        for (uint8_t c : info) sum = uint8_t(sum + c);
        frame_.push_back(sum);
    }
    seq_ = saved;
    frameData_ = 0;
    header_ = true;
    state_ = batchEnd ? TState::WaitBatchEndAck : TState::WaitBlockAck;
    errors_ = 0;
    heard_ = false;
    out_.insert(out_.end(), frame_.begin(), frame_.end());
    Sent(now_ + timing_.ReplyMs);
}

void TFileSender::SendNextData() {
    if (left_ <= 0) {
        SendEot();
        return;
    }
    const bool long_ =
        (protocol_ == TSendProtocol::Xmodem1k || protocol_ == TSendProtocol::Ymodem) && crc_ &&
        left_ > int64_t(kShortBlock);
    const size_t len = long_ ? kLongBlock : kShortBlock;
    const size_t want = size_t(std::min<int64_t>(int64_t(len), left_));
    std::vector<uint8_t> data(len, kPad);
    size_t got = 0;
    while (got < want) {
        const int32_t r = source_.Read(data.data() + got, int32_t(want - got));
        if (r < 0) {
            Finish(kSendFileError, true);
            return;
        }
        if (r == 0) break;  // the file shrank: it ends here
        got += size_t(std::min<int32_t>(r, int32_t(want - got)));
    }
    left_ = got < want ? 0 : left_ - int64_t(got);
    if (got == 0) {
        SendEot();
        return;
    }
    frame_.clear();
    frame_.push_back(long_ ? kStx : kSoh);
    frame_.push_back(seq_);
    frame_.push_back(uint8_t(0xFF - seq_));
    frame_.insert(frame_.end(), data.begin(), data.end());
    if (crc_) {
        const uint16_t crc = XmodemCrc(data.data(), data.size());
        frame_.push_back(uint8_t(crc >> 8));
        frame_.push_back(uint8_t(crc));
    } else {
        uint8_t sum = 0;
        for (uint8_t c : data) sum = uint8_t(sum + c);
        frame_.push_back(sum);
    }
    ++seq_;  // wraps after 255 to 0
    frameData_ = int64_t(got);
    header_ = false;
    state_ = TState::WaitBlockAck;
    errors_ = 0;
    heard_ = false;
    out_.insert(out_.end(), frame_.begin(), frame_.end());
    Sent(now_ + timing_.ReplyMs);
}

void TFileSender::SendEot() {
    frame_.assign(1, kEot);
    frameData_ = 0;
    header_ = false;
    state_ = TState::WaitEotAck;
    errors_ = 0;
    heard_ = false;
    out_.push_back(kEot);
    Sent(now_ + timing_.ReplyMs);
}

void TFileSender::Resend() {
    out_.insert(out_.end(), frame_.begin(), frame_.end());
    Sent(now_ + timing_.ReplyMs);
}

void TFileSender::Sent(uint64_t deadline) {
    deadline_ = deadline;
    awaitDrain_ = true;
    dropInput_ = true;
}

// --- Time ---

void TFileSender::Poll(uint64_t now, int64_t queued) {
    now_ = now;
    if (state_ == TState::Finished || !started_) return;
    if (state_ == TState::Raw) {
        PollRaw(now, queued);
        return;
    }
    if (awaitDrain_) {
        if (queued > 0) return;
        awaitDrain_ = false;
        deadline_ = now + timing_.ReplyMs;
    }
    if (now >= deadline_) Timeout();
}

bool TFileSender::FillRaw() {
    if (rawAt_ > 0) {
        raw_.erase(raw_.begin(), raw_.begin() + std::ptrdiff_t(rawAt_));
        rawAt_ = 0;
    }
    if (rawEnd_ || raw_.size() >= kRawReadAhead) return true;
    if (left_ <= 0) {
        rawEnd_ = true;
        return true;
    }
    const size_t have = raw_.size();
    const size_t want = size_t(std::min<int64_t>(int64_t(kRawReadAhead - have), left_));
    raw_.resize(have + want);
    const int32_t r = source_.Read(raw_.data() + have, int32_t(want));
    if (r < 0) {
        raw_.resize(have);
        Finish(kSendFileError, false);
        return false;
    }
    const size_t got = std::min(size_t(r), want);
    raw_.resize(have + got);
    left_ -= int64_t(got);
    if (got == 0) rawEnd_ = true;
    return true;
}

void TFileSender::PollRaw(uint64_t now, int64_t queued) {
    const bool paced = timing_.CharDelayMs > 0 || timing_.LineDelayMs > 0;
    awaitDrain_ = false;
    for (;;) {
        if (rawAt_ >= raw_.size() && !FillRaw()) return;
        if (rawAt_ >= raw_.size()) {
            // This file is out: on to the next, or done once the line has
            // taken everything.
            if (status_.FileIndex + 1 < names_.size()) {
                if (!OpenFile(status_.FileIndex + 1)) {
                    Finish(kSendFileError, false);
                    return;
                }
                continue;
            }
            status_.FileDone = emitted_ - std::min(queued, emitted_);
            if (queued == 0) {
                status_.FileDone = emitted_;
                Finish(kSendDone, false);
            } else {
                awaitDrain_ = true;
            }
            return;
        }
        if (paced) {
            if (queued > 0) {
                awaitDrain_ = true;
                break;
            }
            if (now < nextAt_) break;
            // One byte with a character delay; else up to the line end.
            size_t n = 0;
            bool lineEnded = false;
            while (rawAt_ + n < raw_.size() && n < size_t(kRawChunk)) {
                const uint8_t b = raw_[rawAt_ + n++];
                if (LineEnd(b)) {
                    // CR LF is one line end: the pause comes after the LF.
                    if (b == '\r' && rawAt_ + n >= raw_.size() && !FillRaw()) return;
                    lineEnded =
                        !(b == '\r' && rawAt_ + n < raw_.size() && raw_[rawAt_ + n] == '\n');
                }
                if (timing_.CharDelayMs > 0 || lineEnded) break;
            }
            out_.insert(out_.end(), raw_.begin() + std::ptrdiff_t(rawAt_),
                        raw_.begin() + std::ptrdiff_t(rawAt_ + n));
            rawAt_ += n;
            emitted_ += int64_t(n);
            queued += int64_t(n);
            nextAt_ = now + timing_.CharDelayMs + (lineEnded ? timing_.LineDelayMs : 0);
            awaitDrain_ = true;
            break;
        }
        if (queued >= kRawChunk) break;
        const size_t n = std::min(raw_.size() - rawAt_, size_t(kRawChunk - queued));
        out_.insert(out_.end(), raw_.begin() + std::ptrdiff_t(rawAt_),
                    raw_.begin() + std::ptrdiff_t(rawAt_ + n));
        rawAt_ += n;
        emitted_ += int64_t(n);
        queued += int64_t(n);
    }
    status_.FileDone = emitted_ - std::min(queued, emitted_);
}
