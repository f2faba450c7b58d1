// The telnet filter reads whatever a server sends. Two checks per input:
//
// 1. The input is read as a recipe for a well-formed stream (data with 0xFF
//    doubled, CR NUL, commands, negotiations, subnegotiations short and
//    overlong); the filter's data output must be exactly the data that went
//    in, whatever way the stream is cut into reads.
// 2. The input itself is fed as a raw stream: no crash, never more data out
//    than bytes in, the same data with and without negotiation, no replies
//    without negotiation, the same result cut anywhere, and replies that are
//    only well-formed commands we are allowed to send.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "backend/uTelnet.h"
#include "fuzz_input.h"

using namespace telnet;

namespace {

using Bytes = std::vector<uint8_t>;

using klfuzz::Check;
using klfuzz::TReader;

struct TResult {
    Bytes Data, Replies;
    bool Echo = false;
};

// Feeds `stream` in pieces whose lengths come from a small generator seeded
// by `seed`; seed 0 feeds it whole.
TResult Run(bool negotiate, const Bytes& stream, uint32_t seed) {
    TTelnetFilter f(negotiate);
    TResult r;
    TByteBuf data, replies;
    size_t at = 0;
    do {
        size_t n = stream.size() - at;
        if (seed) {
            seed = seed * 1103515245u + 12345u;
            n = std::min<size_t>(n, 1 + (seed >> 16) % 64);
        }
        data.Clear();
        replies.Clear();
        f.Process(stream.data() + at, int32_t(n), data, replies);
        r.Data.insert(r.Data.end(), data.Data(), data.Data() + data.Count());
        r.Replies.insert(r.Replies.end(), replies.Data(), replies.Data() + replies.Count());
        at += n;
    } while (at < stream.size());
    r.Echo = f.RemoteEcho();
    return r;
}

// Replies may only be the fixed answers of the policy: DO/DONT/WILL/WONT
// triples, our window size and our terminal type.
void CheckReplies(const Bytes& r, size_t negotiationsIn, size_t subsIn) {
    static const uint8_t kNaws[] = {kIac, kSb, kOptNaws, 0, 120, 0, 40, kIac, kSe};
    static const uint8_t kTtype[] = {
        kIac, kSb, kOptTerminalType, kTerminalTypeIs, 'X', 'T', 'E', 'R', 'M', kIac, kSe};
    size_t triples = 0, subs = 0;
    for (size_t i = 0; i < r.size();) {
        Check(r.size() - i >= 3 && r[i] == kIac);
        const uint8_t cmd = r[i + 1], opt = r[i + 2];
        if (cmd == kSb) {
            const uint8_t* tail = r.data() + i;
            const size_t left = r.size() - i;
            if (opt == kOptNaws && left >= sizeof kNaws &&
                !std::memcmp(tail, kNaws, sizeof kNaws)) {
                i += sizeof kNaws;
            } else {
                Check(left >= sizeof kTtype && !std::memcmp(tail, kTtype, sizeof kTtype));
                i += sizeof kTtype;
                ++subs;
            }
            continue;
        }
        Check(cmd >= kWill && cmd <= kDont);
        if (cmd == kWill) Check(opt == kOptTerminalType || opt == kOptNaws);
        if (cmd == kDo) Check(opt == kOptEcho || opt == kOptSuppressGoAhead);
        ++triples;
        i += 3;
    }
    Check(triples <= negotiationsIn);
    Check(subs <= subsIn);
}

void Emit(Bytes& stream, uint8_t b) {
    stream.push_back(b);
    if (b == kIac) stream.push_back(kIac);
}

void WellFormed(const uint8_t* input, size_t size, uint32_t seed) {
    TReader in(input, size);
    const bool negotiate = in.Byte() & 1;
    Bytes stream, expected;
    bool lastCr = false;
    size_t negotiations = 0, subs = 0;
    while (!in.Empty() && stream.size() < (1u << 20)) {
        const uint8_t op = in.Byte();
        switch (op % 8) {
            case 0:
            case 1:
            case 2: {
                const int n = 1 + in.Byte() % 32;
                for (int i = 0; i < n && !in.Empty(); ++i) {
                    const uint8_t b = in.Byte();
                    if (b == 0 && lastCr) continue;  // not expressible: CR NUL means CR
                    Emit(stream, b);
                    expected.push_back(b);
                    lastCr = b == 13;
                }
                break;
            }
            case 3:
                stream.insert(stream.end(), {13, 0});
                expected.push_back(13);
                lastCr = false;
                break;
            case 4: {
                uint8_t c = in.Byte();
                if (c >= kSb) c = 241;  // NOP; the others start longer commands
                stream.insert(stream.end(), {kIac, c});
                break;
            }
            case 5:
                stream.insert(stream.end(), {kIac, uint8_t(kWill + in.Byte() % 4), in.Byte()});
                ++negotiations;
                break;
            case 6: {
                // Payload lengths reach well past the filter's cap.
                const size_t len = size_t(in.Byte()) * 64 + in.Byte();
                const uint8_t a = in.Byte(), b = in.Byte();
                stream.insert(stream.end(), {kIac, kSb});
                for (size_t i = 0; i < len; ++i) Emit(stream, i % 3 ? a : uint8_t(b + i));
                stream.insert(stream.end(), {kIac, kSe});
                ++subs;
                break;
            }
            case 7:
                stream.insert(stream.end(),
                              {kIac, kSb, kOptTerminalType, kTerminalTypeSend, kIac, kSe});
                ++subs;
                break;
        }
    }
    const TResult whole = Run(negotiate, stream, 0);
    Check(whole.Data == expected);
    const TResult cut = Run(negotiate, stream, seed | 1);
    Check(cut.Data == expected);
    Check(cut.Replies == whole.Replies);
    Check(cut.Echo == whole.Echo);
    if (negotiate)
        CheckReplies(whole.Replies, negotiations, subs);
    else
        Check(whole.Replies.empty() && !whole.Echo);
}

void Arbitrary(const uint8_t* input, size_t size, uint32_t seed) {
    const Bytes stream(input, input + size);
    const TResult plain = Run(false, stream, 0);
    const TResult neg = Run(true, stream, 0);
    const TResult negCut = Run(true, stream, seed | 1);
    Check(plain.Data.size() <= size);
    Check(plain.Replies.empty() && !plain.Echo);
    Check(neg.Data == plain.Data);
    Check(negCut.Data == neg.Data && negCut.Replies == neg.Replies && negCut.Echo == neg.Echo);
    // Every reply answers one command; a command takes at least three bytes.
    CheckReplies(neg.Replies, size / 3, size / 6);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint32_t seed = 2166136261u;
    for (size_t i = 0; i < size; ++i) seed = (seed ^ data[i]) * 16777619u;
    WellFormed(data, size, seed);
    Arbitrary(data, size, seed);
    return 0;
}
