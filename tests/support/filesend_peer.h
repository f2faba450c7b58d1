// Pure scaffolding for the file-send engine's unit tests and fuzz target:
// files held in memory, and a parser that reads what the sender put on the
// line back into frames, checking each frame's framing and check value.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "backend/uFileSend.h"

namespace kltest {

using Bytes = std::vector<uint8_t>;

// Files in memory. `failOpen` / `failReadAt` play a file that cannot be
// opened or that fails after that many bytes.
class TMemorySource : public TSendSource {
public:
    std::vector<Bytes> Files;
    int FailOpen = -1;
    int64_t FailReadAt = -1;

    bool Open(size_t index, int64_t& size) override {
        if (index >= Files.size() || int(index) == FailOpen) return false;
        file_ = index;
        at_ = 0;
        size = int64_t(Files[index].size());
        return true;
    }
    int32_t Read(uint8_t* to, int32_t max) override {
        const Bytes& f = Files[file_];
        if (FailReadAt >= 0 && at_ >= FailReadAt) return -1;
        int64_t n = std::min<int64_t>(max, int64_t(f.size()) - at_);
        if (FailReadAt >= 0) n = std::min<int64_t>(n, FailReadAt - at_);
        std::copy(f.begin() + at_, f.begin() + at_ + n, to);
        at_ += n;
        return int32_t(n);
    }

private:
    size_t file_ = 0;
    int64_t at_ = 0;
};

struct TFrame {
    enum TKind { Block, Eot, Cancel, Bad } Kind = Bad;
    uint8_t Seq = 0;
    Bytes Data;  // of a block
};

// Splits sender output into frames. `crc`: the check value the receiver
// asked for. A block with a wrong complement or check value reads as Bad.
inline std::vector<TFrame> ParseFrames(const Bytes& out, bool crc) {
    std::vector<TFrame> frames;
    size_t i = 0;
    while (i < out.size()) {
        TFrame f;
        const uint8_t b = out[i];
        if (b == xmodem::kEot) {
            f.Kind = TFrame::Eot;
            ++i;
        } else if (b == xmodem::kCan) {
            size_t n = 0;
            while (i + n < out.size() && out[i + n] == xmodem::kCan) ++n;
            size_t bs = 0;
            while (i + n + bs < out.size() && out[i + n + bs] == xmodem::kBackspace) ++bs;
            f.Kind = n == 10 && bs == 10 ? TFrame::Cancel : TFrame::Bad;
            i += n + bs;
        } else if (b == xmodem::kSoh || b == xmodem::kStx) {
            const size_t len = b == xmodem::kSoh ? 128 : 1024;
            const size_t total = 3 + len + (crc ? 2 : 1);
            if (out.size() - i < total) {
                f.Kind = TFrame::Bad;
                i = out.size();
            } else {
                const uint8_t* p = out.data() + i;
                f.Seq = p[1];
                f.Data.assign(p + 3, p + 3 + len);
                bool ok = uint8_t(p[1] + p[2]) == 0xFF;
                if (crc) {
                    const uint16_t c = XmodemCrc(p + 3, len);
                    ok = ok && p[3 + len] == (c >> 8) && p[4 + len] == (c & 0xFF);
                } else {
                    uint8_t sum = 0;
                    for (size_t k = 0; k < len; ++k) sum = uint8_t(sum + p[3 + k]);
                    ok = ok && p[3 + len] == sum;
                }
                f.Kind = ok ? TFrame::Block : TFrame::Bad;
                i += total;
            }
        } else {
            f.Kind = TFrame::Bad;
            ++i;
        }
        frames.push_back(std::move(f));
    }
    return frames;
}

// A file of `n` bytes that never ends in the pad byte, so padding shows.
inline Bytes Pattern(size_t n, uint32_t seed = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        b[i] = uint8_t(seed >> 16);
        if (b[i] == xmodem::kPad) b[i] = 0;
    }
    return b;
}

}  // namespace kltest
