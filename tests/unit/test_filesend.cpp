// The file-send engine against scripted receivers: each test plays the
// receiver byte by byte and checks what the sender puts on the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../support/filesend_peer.h"
#include "backend/uFileSend.h"

using namespace xmodem;
using kltest::Bytes;
using kltest::ParseFrames;
using kltest::Pattern;
using kltest::TFrame;

namespace {

struct TRig {
    kltest::TMemorySource Source;
    TSendTiming Timing;
    std::unique_ptr<TFileSender> S;
    uint64_t Now = 1000;

    void Start(TSendProtocol p, std::vector<Bytes> files, std::vector<std::string> names = {}) {
        Source.Files = std::move(files);
        if (names.empty())
            for (size_t i = 0; i < Source.Files.size(); ++i)
                names.push_back("f" + std::to_string(i));
        S = std::make_unique<TFileSender>(p, names, Source, Timing);
        S->Start(Now);
    }
    Bytes Out() {
        Bytes b;
        S->TakeOutput(b);
        return b;
    }
    // The receiver sends `in`; the line takes whatever the sender answers.
    Bytes Answer(const std::string& in) {
        S->Received(reinterpret_cast<const uint8_t*>(in.data()), in.size(), Now);
        S->Poll(Now, 0);
        return Out();
    }
    Bytes Wait(uint64_t ms) {
        Now += ms;
        S->Poll(Now, 0);
        return Out();
    }
};

const std::string kC(1, char(kCrcRequest)), kAckS(1, char(kAck)), kNakS(1, char(kNak)),
    kCanS(1, char(kCan));

struct TReceived {
    std::vector<std::string> Names;
    std::vector<Bytes> Data;
    std::vector<uint8_t> Kinds;  // SOH/STX of each data block, in order
    std::vector<uint8_t> Seqs;
};

// A well-behaved receiver: asks with 'C' (or NAK), acknowledges every block,
// answers EOT as rb does (NAK, then ACK), and collects the files.
TReceived Receive(TRig& r, bool crc, bool ymodem) {
    TReceived got;
    const std::string ask = crc ? kC : kNakS;
    Bytes out = r.Answer(ask);
    bool wantHeader = ymodem;
    if (!ymodem) got.Data.emplace_back();
    for (int guard = 0; guard < 100000 && !r.S->Finished(); ++guard) {
        auto frames = ParseFrames(out, crc);
        EXPECT_EQ(frames.size(), 1u);
        if (frames.size() != 1) break;
        const TFrame& f = frames[0];
        if (f.Kind == TFrame::Eot) {
            EXPECT_EQ(r.Answer(kNakS), Bytes{kEot}) << "EOT again after NAK";
            out = r.Answer(kAckS + (ymodem ? ask : ""));
            wantHeader = ymodem;
            continue;
        }
        EXPECT_EQ(f.Kind, TFrame::Block);
        if (f.Kind != TFrame::Block) break;
        if (wantHeader) {
            EXPECT_EQ(f.Seq, 0);
            wantHeader = false;
            // Block 0: name NUL size NUL; empty name ends the batch.
            const std::string name(reinterpret_cast<const char*>(f.Data.data()));
            if (name.empty()) {
                out = r.Answer(kAckS);
                break;
            }
            got.Names.push_back(
                name + ":" + std::string(reinterpret_cast<const char*>(&f.Data[name.size() + 1])));
            got.Data.emplace_back();
            out = r.Answer(kAckS + ask);
            continue;
        }
        got.Kinds.push_back(out[0]);
        got.Seqs.push_back(f.Seq);
        got.Data.back().insert(got.Data.back().end(), f.Data.begin(), f.Data.end());
        out = r.Answer(kAckS);
    }
    return got;
}

// Strips the 0x1A padding the receiver cannot tell from data.
Bytes Unpadded(Bytes b) {
    while (!b.empty() && b.back() == kPad) b.pop_back();
    return b;
}

TEST(FileSend, XmodemCrcOrChecksumAsAskedPaddedToTheBlockAndDone) {
    const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(XmodemCrc(check, 9), 0x31C3);
    for (bool crc : {true, false}) {
        TRig r;
        const Bytes file = Pattern(300);
        r.Start(TSendProtocol::Xmodem, {file});
        EXPECT_TRUE(r.Out().empty()) << "nothing before the receiver asks";
        const TReceived got = Receive(r, crc, false);
        EXPECT_EQ(r.S->Status().Outcome, kSendDone);
        EXPECT_EQ(r.S->Status().FileDone, 300);
        ASSERT_EQ(got.Data.size(), 1u);
        EXPECT_EQ(got.Data[0].size(), 384u) << "three 128-byte blocks";
        EXPECT_EQ(Unpadded(got.Data[0]), file);
        EXPECT_EQ(got.Kinds, (Bytes{kSoh, kSoh, kSoh}));
        EXPECT_EQ(got.Seqs, (Bytes{1, 2, 3}));
    }
}

TEST(FileSend, BlockNumbersWrapAfter255AndNothingIsLost) {
    TRig r;
    const Bytes file = Pattern(258 * 128 + 5);
    r.Start(TSendProtocol::Xmodem, {file});
    const TReceived got = Receive(r, true, false);
    ASSERT_EQ(got.Seqs.size(), 259u);
    EXPECT_EQ(got.Seqs[254], 255);
    EXPECT_EQ(got.Seqs[255], 0);
    EXPECT_EQ(got.Seqs[256], 1);
    EXPECT_EQ(Unpadded(got.Data[0]), file);
}

TEST(FileSend, Xmodem1kUsesShortBlockOnlyForShortTailAndForChecksumReceivers) {
    struct {
        size_t size;
        bool crc;
        Bytes kinds;
    } cases[] = {
        {1024 + 100, true, {kStx, kSoh}},
        {1024 + 129, true, {kStx, kStx}},
        {100, true, {kSoh}},
        {1024, true, {kStx}},
        {300, false, {kSoh, kSoh, kSoh}},
        {0, true, {}},
    };
    for (const auto& c : cases) {
        TRig r;
        const Bytes file = Pattern(c.size);
        r.Start(TSendProtocol::Xmodem1k, {file});
        const TReceived got = Receive(r, c.crc, false);
        EXPECT_EQ(r.S->Status().Outcome, kSendDone) << c.size;
        EXPECT_EQ(got.Kinds, c.kinds) << c.size << " crc " << c.crc;
        EXPECT_EQ(Unpadded(got.Data[0]), file) << c.size;
    }
}

TEST(FileSend, YmodemBatchCarriesNamesAndSizesAndEndsWithEmptyBlock0) {
    TRig r;
    // The first file's data blocks wrap to number 0: still data, not a header.
    const std::vector<Bytes> files = {Pattern(300 * 1024), Pattern(0), Pattern(77)};
    r.Start(TSendProtocol::Ymodem, files, {"fw.bin", "empty", "\xc3\xa4.txt"});
    const TReceived got = Receive(r, true, true);
    EXPECT_EQ(r.S->Status().Outcome, kSendDone);
    EXPECT_EQ(got.Names, (std::vector<std::string>{"fw.bin:307200", "empty:0", "\xc3\xa4.txt:77"}));
    ASSERT_EQ(got.Data.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(Unpadded(got.Data[i]), files[i]) << i;
    // A name too long for a short block 0 goes in a long one.
    TRig l;
    l.Start(TSendProtocol::Ymodem, {Pattern(5)}, {std::string(200, 'n')});
    const Bytes b0 = l.Answer(kC);
    ASSERT_FALSE(b0.empty());
    EXPECT_EQ(b0[0], kStx);
}

TEST(FileSend, RetriesThenTooManyErrorsOrNoAnswerAndTheReceiverIsTold) {
    TRig r;
    r.Start(TSendProtocol::Xmodem, {Pattern(500)});
    const Bytes first = r.Answer(kC);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(r.Answer(kNakS), first) << "resend " << i;
    auto frames = ParseFrames(r.Answer(kAckS), true);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].Seq, 2) << "nine errors still go on";
    for (int i = 0; i < 9; ++i) r.Answer(kNakS);
    frames = ParseFrames(r.Answer(kNakS), true);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].Kind, TFrame::Cancel);
    EXPECT_EQ(r.S->Status().Outcome, kSendTooManyErrors);
    EXPECT_EQ(r.S->Status().FileDone, 128);

    // Silence after a good start: ten time-outs, then "no answer".
    TRig s;
    s.Timing.ReplyMs = 500;
    s.Start(TSendProtocol::Xmodem1k, {Pattern(5000)});
    const uint8_t c = kCrcRequest;
    s.S->Received(&c, 1, s.Now);
    const Bytes block = s.Out();
    // The reply timer waits while the line still carries the block.
    s.Now += 5000;
    s.S->Poll(s.Now, 100);
    EXPECT_TRUE(s.Out().empty());
    EXPECT_EQ(s.S->WakeAt(), UINT64_MAX);
    EXPECT_TRUE(s.Wait(0).empty()) << "drained: the timer starts now";
    EXPECT_EQ(s.S->WakeAt(), s.Now + 500);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(s.Wait(500), block) << i;
        s.Wait(0);  // the line took it
    }
    frames = ParseFrames(s.Wait(500), true);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].Kind, TFrame::Cancel);
    EXPECT_EQ(s.S->Status().Outcome, kSendNoAnswer);

    // Nobody asks within the first minute: "no answer", nothing sent.
    TRig n;
    n.Start(TSendProtocol::Ymodem, {Pattern(5)});
    EXPECT_TRUE(n.Wait(kFirstRequestMs - 1).empty());
    EXPECT_FALSE(n.S->Finished());
    EXPECT_TRUE(n.Answer("garbage").empty());
    EXPECT_TRUE(n.Wait(1).empty());
    EXPECT_EQ(n.S->Status().Outcome, kSendNoAnswer);
}

TEST(FileSend, CancelBothWaysAndStaleRequestsIgnored) {
    TRig r;
    r.Start(TSendProtocol::Xmodem, {Pattern(1000)});
    // Two requests in one read (the receiver asked again before we started):
    // one block goes out, not two.
    auto frames = ParseFrames(r.Answer(kC + kC), true);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].Seq, 1);
    EXPECT_TRUE(r.Answer(kCanS + "x" + kCanS).empty()) << "a lone CAN is line noise";
    EXPECT_FALSE(r.S->Finished());
    EXPECT_TRUE(r.Answer(kCanS + kCanS).empty()) << "no cancel sequence back";
    EXPECT_EQ(r.S->Status().Outcome, kSendCancelledByReceiver);

    TRig c;
    c.Start(TSendProtocol::Ymodem, {Pattern(10)});
    c.Answer(kC);
    c.S->Cancel();
    frames = ParseFrames(c.Out(), true);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].Kind, TFrame::Cancel);
    EXPECT_EQ(c.S->Status().Outcome, kSendCancelled);
    EXPECT_TRUE(c.Answer(kAckS).empty()) << "nothing after the end";

    // Cancelled while a block is still on the line: CANs enough to fill it.
    TRig b;
    b.Start(TSendProtocol::Xmodem1k, {Pattern(5000)});
    const uint8_t ask = kCrcRequest;
    b.S->Received(&ask, 1, b.Now);
    EXPECT_EQ(b.Out().size(), 1029u);
    b.S->Cancel();
    const Bytes out = b.Out();
    EXPECT_EQ(out.size(), 1031u + 10);
    EXPECT_EQ(std::count(out.begin(), out.end(), kCan), 1031);
}

TEST(FileSend, FileErrorsEndTheTransfer) {
    TRig r;
    r.Source.FailOpen = 0;
    r.Start(TSendProtocol::Xmodem, {Pattern(10)});
    EXPECT_EQ(r.S->Status().Outcome, kSendFileError);
    EXPECT_TRUE(r.Out().empty());

    TRig m;
    m.Source.FailReadAt = 200;
    m.Start(TSendProtocol::Xmodem, {Pattern(1000)});
    m.Answer(kC);
    const auto frames = ParseFrames(m.Answer(kAckS), true);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].Kind, TFrame::Cancel) << "the receiver is told";
    EXPECT_EQ(m.S->Status().Outcome, kSendFileError);
}

TEST(FileSend, RawUnchangedPacedPerCharacterAndPerLine) {
    TRig r;
    const Bytes big = Pattern(40000);
    r.Start(TSendProtocol::Raw, {big, Bytes{'x'}});
    Bytes all;
    r.S->Poll(r.Now, 0);
    Bytes chunk = r.Out();
    EXPECT_EQ(chunk.size(), size_t(kRawChunk)) << "at most a chunk queued";
    all = chunk;
    const uint8_t cans[] = {kCan, kCan};
    r.S->Received(cans, 2, r.Now);
    EXPECT_FALSE(r.S->Finished()) << "input is the view's";
    for (int i = 0; i < 10 && !r.S->Finished(); ++i) {
        r.S->Poll(r.Now, 0);
        chunk = r.Out();
        all.insert(all.end(), chunk.begin(), chunk.end());
    }
    Bytes want = big;
    want.push_back('x');
    EXPECT_EQ(all, want);
    EXPECT_EQ(r.S->Status().Outcome, kSendDone);

    TRig p;
    p.Timing.CharDelayMs = 5;
    p.Timing.LineDelayMs = 100;
    const std::string text = "ab\r\nc\rd";
    p.Start(TSendProtocol::Raw, {Bytes(text.begin(), text.end())});
    std::vector<std::pair<uint64_t, Bytes>> sent;
    for (int i = 0; i < 400 && !p.S->Finished(); ++i) {
        p.S->Poll(p.Now, 0);
        Bytes b = p.Out();
        if (!b.empty()) sent.emplace_back(p.Now, b);
        p.S->Poll(p.Now, int64_t(b.size()));  // still on the line: nothing more
        EXPECT_TRUE(p.Out().empty());
        p.Now += 1;
    }
    ASSERT_EQ(sent.size(), text.size());
    std::vector<uint64_t> gaps;
    for (size_t i = 1; i < sent.size(); ++i) gaps.push_back(sent[i].first - sent[i - 1].first);
    EXPECT_EQ(gaps, (std::vector<uint64_t>{5, 5, 5, 105, 5, 105})) << "CR LF pauses once";
}

}  // namespace
