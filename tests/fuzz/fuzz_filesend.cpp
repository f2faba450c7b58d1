// The file-send engine reads whatever the receiver sends back. The input is a
// script: a protocol, file sizes, then steps that each deliver some bytes
// (often the protocol's own control bytes), let time pass or let the line
// take the output. Checked on every step: every frame is well formed; a data
// block is the one just sent again or the next one, with the file's bytes at
// its place; a block goes out no more than the retry limit allows; progress
// never passes the file's size; and the engine ends within a bounded number
// of time-outs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "../support/filesend_peer.h"
#include "fuzz_input.h"

using namespace xmodem;
using kltest::Bytes;
using kltest::TFrame;

namespace {

using klfuzz::Check;
using klfuzz::TReader;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TReader in(data, size);
    const auto protocol = TSendProtocol(1 + in.Byte() % 3);
    kltest::TMemorySource source;
    const int files = protocol == TSendProtocol::Ymodem ? 1 + in.Byte() % 3 : 1;
    std::vector<std::string> names;
    for (int i = 0; i < files; ++i) {
        source.Files.push_back(kltest::Pattern(size_t(in.Byte()) * 37 + in.Byte() % 8, i + 1));
        names.push_back("f" + std::to_string(i));
    }
    TSendTiming timing;
    timing.FirstRequestMs = 1000;
    timing.ReplyMs = 100;
    TFileSender s(protocol, names, source, timing);
    uint64_t now = 0;
    s.Start(now);

    enum { None, Block, Eot } prev = None;
    uint8_t expectSeq = 1;
    int sameSent = 0;     // times the current frame went out
    int64_t offset = 0;   // file offset of the current block's data
    int64_t lastLen = 0;  // data bytes of the current block
    size_t file = 0;
    Bytes last;
    for (int steps = 0; !s.Finished() && steps < 20000; ++steps) {
        const uint8_t op = in.Empty() ? 2 : in.Byte();
        if (op % 4 < 2) {
            // Mostly the protocol's own bytes, sometimes anything.
            static const uint8_t kBytes[] = {kAck, kNak, kCrcRequest, kCan, kEot, 'x'};
            Bytes reply;
            for (int i = 0, n = 1 + op / 4 % 4; i < n; ++i) {
                const uint8_t b = in.Byte();
                reply.push_back(b < 200 ? kBytes[b % 6] : b);
            }
            s.Received(reply.data(), reply.size(), now);
        } else {
            now += op % 4 == 2 ? 150 : 1;
        }
        s.Poll(now, 0);
        Bytes out;
        s.TakeOutput(out);
        if (out.empty()) continue;
        // The check value follows the receiver's request: try both.
        auto frames = kltest::ParseFrames(out, true);
        for (const TFrame& f : frames)
            if (f.Kind == TFrame::Bad) {
                frames = kltest::ParseFrames(out, false);
                break;
            }
        Check(frames.size() == 1 || (frames.size() == 2 && frames[1].Kind == TFrame::Cancel));
        const TFrame& f = frames[0];
        Check(f.Kind != TFrame::Bad);
        if (out == last) {
            Check(++sameSent <= kMaxErrors);
            continue;
        }
        sameSent = 1;
        last = out;
        if (f.Kind == TFrame::Eot) {
            prev = Eot;
        } else if (f.Kind == TFrame::Block) {
            const bool header = protocol == TSendProtocol::Ymodem && f.Seq == 0 && prev != Block;
            if (header) {
                if (prev == Eot) ++file;
                Check(file <= source.Files.size());
                if (file == source.Files.size()) Check(f.Data[0] == 0);  // the batch's end
                expectSeq = 1;
                offset = lastLen = 0;
            } else {
                Check(f.Seq == expectSeq);
                offset += lastLen;
                const Bytes& content = source.Files[file];
                lastLen =
                    std::min<int64_t>(int64_t(f.Data.size()), int64_t(content.size()) - offset);
                Check(lastLen > 0);
                for (int64_t i = 0; i < lastLen; ++i)
                    Check(f.Data[size_t(i)] == content[size_t(offset + i)]);
                for (size_t i = size_t(lastLen); i < f.Data.size(); ++i) Check(f.Data[i] == kPad);
                expectSeq = uint8_t(f.Seq + 1);
            }
            prev = Block;
        }
        const TSendStatus& st = s.Status();
        Check(st.FileDone >= 0 && st.FileDone <= st.FileSize);
    }
    // Silence ends every transfer: time-outs are counted.
    for (int i = 0; i < 4 * kMaxErrors * (files + 2) && !s.Finished(); ++i) {
        now += 200;
        s.Poll(now, 0);
    }
    Check(s.Finished());
    return 0;
}
