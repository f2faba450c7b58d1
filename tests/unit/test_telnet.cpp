#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backend/uTelnet.h"

using namespace telnet;

namespace {

using Bytes = std::vector<uint8_t>;

std::string Hex(const Bytes& b) {
    std::string s;
    char buf[4];
    for (uint8_t c : b) {
        std::snprintf(buf, sizeof buf, "%02X ", c);
        s += buf;
    }
    return s;
}

Bytes Vec(const TByteBuf& b) { return Bytes(b.Data(), b.Data() + b.Count()); }

struct TOut {
    Bytes Data;
    Bytes Replies;
};

// Feeds the pieces as separate reads; returns everything that came out.
TOut Feed(TTelnetFilter& f, const std::vector<Bytes>& pieces) {
    TOut out;
    for (const Bytes& piece : pieces) {
        TByteBuf data, replies;
        f.Process(piece.data(), int32_t(piece.size()), data, replies);
        const Bytes d = Vec(data), r = Vec(replies);
        out.Data.insert(out.Data.end(), d.begin(), d.end());
        out.Replies.insert(out.Replies.end(), r.begin(), r.end());
    }
    return out;
}

TOut Feed(TTelnetFilter& f, const Bytes& whole) { return Feed(f, std::vector<Bytes>{whole}); }

Bytes Cmd(uint8_t command, uint8_t option) { return {kIac, command, option}; }

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

const Bytes kNawsReply = {kIac, kWill, kOptNaws, kIac, kSb,  kOptNaws,
                          0x00, 0x78,  0x00,     0x28, kIac, kSe};
const Bytes kTtypeIs = {kIac, kSb, kOptTerminalType, kTerminalTypeIs, 'X', 'T', 'E', 'R', 'M',
                        kIac, kSe};
const Bytes kTtypeSend = {kIac, kSb, kOptTerminalType, kTerminalTypeSend, kIac, kSe};

}  // namespace

TEST(Telnet, DataStateRows) {
    struct TCase {
        const char* what;
        Bytes in, data;
    } cases[] = {
        {"plain bytes pass", {'a', 'b', 0x7F, 0x80, 0xFE}, {'a', 'b', 0x7F, 0x80, 0xFE}},
        {"IAC IAC is one 0xFF", {'a', kIac, kIac, 'b'}, {'a', 0xFF, 'b'}},
        {"four IACs are two 0xFF", {kIac, kIac, kIac, kIac}, {0xFF, 0xFF}},
        {"CR NUL is CR", {'a', 13, 0, 'b'}, {'a', 13, 'b'}},
        {"CR LF stays", {13, 10}, {13, 10}},
        {"lone NUL passes", {'a', 0, 'b', 0}, {'a', 0, 'b', 0}},
        {"only the first NUL after CR goes", {13, 0, 0}, {13, 0}},
        {"CR CR NUL keeps both CRs", {13, 13, 0, 'x'}, {13, 13, 'x'}},
        {"escaped 0xFF clears the CR flag", {13, kIac, kIac, 0}, {13, 0xFF, 0}},
        {"a command between CR and NUL keeps the flag", {13, kIac, 241, 0, 'z'}, {13, 'z'}},
        {"negotiation between CR and NUL keeps the flag", Cat({{13}, Cmd(kWill, 99), {0}}), {13}},
        {"NUL at the start with no CR before", {0, 'q'}, {0, 'q'}},
    };
    for (const auto& c : cases) {
        for (bool negotiate : {false, true}) {
            TTelnetFilter f(negotiate);
            EXPECT_EQ(Feed(f, c.in).Data, c.data) << c.what << " (negotiate " << negotiate << ")";
        }
    }
}

TEST(Telnet, EveryOtherCommandAfterIacIsSwallowed) {
    for (int cmd = 0; cmd < 256; ++cmd) {
        if (cmd == kIac || (cmd >= kWill && cmd <= kDont) || cmd == kSb) continue;
        TTelnetFilter f(true);
        const TOut out = Feed(f, Bytes{'a', kIac, uint8_t(cmd), 'b'});
        EXPECT_EQ(out.Data, (Bytes{'a', 'b'})) << "command " << cmd;
        EXPECT_TRUE(out.Replies.empty()) << "command " << cmd;
    }
}

TEST(Telnet, SubnegotiationsAreRemovedFromData) {
    TTelnetFilter f(true);
    // An unknown subnegotiation with an escaped 0xFF and bytes that look like
    // commands inside it; nothing of it may reach the data or draw a reply.
    const Bytes in =
        Cat({{'a'}, {kIac, kSb, 42, 1, 2, kIac, kIac, kWill, 1, 13, 0, kIac, kSe}, {'b'}});
    const TOut out = Feed(f, in);
    EXPECT_EQ(out.Data, (Bytes{'a', 'b'}));
    EXPECT_TRUE(out.Replies.empty()) << Hex(out.Replies);
}

TEST(Telnet, InterruptedSubnegotiationIsDroppedAndDataResumes) {
    TTelnetFilter f(true);
    // IAC then something other than SE or IAC ends the subnegotiation; the
    // byte after the IAC is consumed with it, the rest is data again.
    const Bytes in = {kIac, kSb, kOptTerminalType, kTerminalTypeSend, kIac, 'x', 'y', 'z'};
    const TOut out = Feed(f, in);
    EXPECT_EQ(out.Data, (Bytes{'y', 'z'}));
    EXPECT_TRUE(out.Replies.empty()) << "an interrupted TERMINAL-TYPE SEND must not be answered";
    // A later well-formed request is answered again.
    EXPECT_EQ(Feed(f, kTtypeSend).Replies, kTtypeIs);
}

TEST(Telnet, WillTable) {
    for (int o = 0; o < 256; ++o) {
        const uint8_t opt = uint8_t(o);
        TTelnetFilter f(true);
        const bool accepted = opt == kOptEcho || opt == kOptSuppressGoAhead;
        const Bytes first = Feed(f, Cmd(kWill, opt)).Replies;
        EXPECT_EQ(first, Cmd(accepted ? kDo : kDont, opt)) << "WILL " << o;
        EXPECT_TRUE(Feed(f, Cmd(kWill, opt)).Replies.empty()) << "repeated WILL " << o;
        EXPECT_EQ(f.RemoteEcho(), opt == kOptEcho) << "remote echo after WILL " << o;
    }
}

TEST(Telnet, WontTable) {
    for (int o = 0; o < 256; ++o) {
        const uint8_t opt = uint8_t(o);
        TTelnetFilter f(true);
        EXPECT_TRUE(Feed(f, Cmd(kWont, opt)).Replies.empty()) << "WONT without DO sent " << o;
        Feed(f, Cmd(kWill, opt));
        const bool accepted = opt == kOptEcho || opt == kOptSuppressGoAhead;
        EXPECT_EQ(Feed(f, Cmd(kWont, opt)).Replies, accepted ? Cmd(kDont, opt) : Bytes{})
            << "WONT after WILL " << o;
        EXPECT_FALSE(f.RemoteEcho()) << o;
        EXPECT_TRUE(Feed(f, Cmd(kWont, opt)).Replies.empty()) << "repeated WONT " << o;
        // Accepted options can be offered again; refused ones stay refused silently.
        EXPECT_EQ(Feed(f, Cmd(kWill, opt)).Replies, accepted ? Cmd(kDo, opt) : Bytes{})
            << "WILL again " << o;
    }
}

TEST(Telnet, DoTable) {
    for (int o = 0; o < 256; ++o) {
        const uint8_t opt = uint8_t(o);
        TTelnetFilter f(true);
        Bytes expected;
        if (opt == kOptNaws)
            expected = kNawsReply;
        else if (opt == kOptTerminalType)
            expected = Cmd(kWill, opt);
        else
            expected = Cmd(kWont, opt);
        EXPECT_EQ(Feed(f, Cmd(kDo, opt)).Replies, expected) << "DO " << o;
        EXPECT_TRUE(Feed(f, Cmd(kDo, opt)).Replies.empty()) << "repeated DO " << o;
        EXPECT_FALSE(f.RemoteEcho());
    }
}

TEST(Telnet, DontTable) {
    for (int o = 0; o < 256; ++o) {
        const uint8_t opt = uint8_t(o);
        TTelnetFilter f(true);
        EXPECT_TRUE(Feed(f, Cmd(kDont, opt)).Replies.empty()) << "DONT without WILL sent " << o;
        Feed(f, Cmd(kDo, opt));
        const bool offered = opt == kOptNaws || opt == kOptTerminalType;
        EXPECT_EQ(Feed(f, Cmd(kDont, opt)).Replies, offered ? Cmd(kWont, opt) : Bytes{})
            << "DONT after DO " << o;
        EXPECT_TRUE(Feed(f, Cmd(kDont, opt)).Replies.empty()) << "repeated DONT " << o;
        // A refused option is never answered again; an offered one is re-enabled.
        Bytes again;
        if (opt == kOptNaws)
            again = kNawsReply;
        else if (offered)
            again = Cmd(kWill, opt);
        EXPECT_EQ(Feed(f, Cmd(kDo, opt)).Replies, again) << "DO again " << o;
    }
}

TEST(Telnet, RemoteEchoFollowsTheServer) {
    TTelnetFilter f(true);
    EXPECT_FALSE(f.RemoteEcho());
    EXPECT_EQ(Feed(f, Cmd(kWill, kOptEcho)).Replies, Cmd(kDo, kOptEcho));
    EXPECT_TRUE(f.RemoteEcho());
    EXPECT_EQ(Feed(f, Cmd(kWont, kOptEcho)).Replies, Cmd(kDont, kOptEcho));
    EXPECT_FALSE(f.RemoteEcho());
    // Without a DO outstanding, WONT ECHO is silent but still clears the flag.
    EXPECT_TRUE(Feed(f, Cmd(kWont, kOptEcho)).Replies.empty());
    EXPECT_EQ(Feed(f, Cmd(kWill, kOptEcho)).Replies, Cmd(kDo, kOptEcho));
    EXPECT_TRUE(f.RemoteEcho());
}

TEST(Telnet, TerminalTypeExchange) {
    TTelnetFilter f(true);
    EXPECT_EQ(Feed(f, Cmd(kDo, kOptTerminalType)).Replies, Cmd(kWill, kOptTerminalType));
    EXPECT_EQ(Feed(f, kTtypeSend).Replies, kTtypeIs);
    EXPECT_EQ(Feed(f, kTtypeSend).Replies, kTtypeIs) << "every SEND is answered";
    // IS from the server, or a one-byte payload, is not a request.
    EXPECT_TRUE(Feed(f, Bytes{kIac, kSb, kOptTerminalType, 0, 'A', kIac, kSe}).Replies.empty());
    EXPECT_TRUE(Feed(f, Bytes{kIac, kSb, kOptTerminalType, kIac, kSe}).Replies.empty());
    EXPECT_TRUE(Feed(f, Bytes{kIac, kSb, kIac, kSe}).Replies.empty());
}

TEST(Telnet, TypicalServerGreetingInOneRead) {
    TTelnetFilter f(true);
    const Bytes in = Cat({Cmd(kWill, kOptEcho),
                          Cmd(kDo, kOptNaws),
                          Cmd(kDo, kOptTerminalType),
                          kTtypeSend,
                          {'l', 'o', 'g', 'i', 'n', ':', ' '}});
    TByteBuf data, replies;
    replies.Append("X", 1);  // Process appends; it never clears what the caller holds
    f.Process(in.data(), int32_t(in.size()), data, replies);
    const Bytes expected =
        Cat({{'X'}, Cmd(kDo, kOptEcho), kNawsReply, Cmd(kWill, kOptTerminalType), kTtypeIs});
    EXPECT_EQ(Vec(replies), expected) << Hex(Vec(replies));
    EXPECT_EQ(Vec(data), (Bytes{'l', 'o', 'g', 'i', 'n', ':', ' '}));
    // The next call starts with no replies of its own.
    TByteBuf data2, replies2;
    f.Process(reinterpret_cast<const uint8_t*>("ok"), 2, data2, replies2);
    EXPECT_EQ(replies2.Count(), 0);
}

TEST(Telnet, WithoutNegotiationNothingIsAnswered) {
    const Bytes in = Cat({{'a'},
                          Cmd(kWill, kOptEcho),
                          Cmd(kDo, kOptNaws),
                          Cmd(kDo, 77),
                          Cmd(kWill, 99),
                          kTtypeSend,
                          Cmd(kWont, kOptEcho),
                          Cmd(kDont, kOptNaws),
                          {'b', kIac, kIac, 13, 0}});
    TTelnetFilter plain(false), negotiating(true);
    const TOut a = Feed(plain, in), b = Feed(negotiating, in);
    EXPECT_TRUE(a.Replies.empty()) << Hex(a.Replies);
    EXPECT_FALSE(b.Replies.empty());
    EXPECT_EQ(a.Data, b.Data);
    EXPECT_EQ(a.Data, (Bytes{'a', 'b', 0xFF, 13}));
    TTelnetFilter echo(false);
    Feed(echo, Cmd(kWill, kOptEcho));
    EXPECT_FALSE(echo.RemoteEcho());
}

TEST(Telnet, SplitAtEveryBoundaryMatchesWhole) {
    const Bytes stream = Cat({{'h', 'i', 13, 0, 'x', 13},
                              Cmd(kWill, kOptEcho),
                              {0, 'y', kIac, kIac, 'z'},
                              Cmd(kDo, kOptNaws),
                              kTtypeSend,
                              Cmd(kDo, kOptTerminalType),
                              kTtypeSend,
                              {kIac, kSb, 42, kIac, kIac, 7, kIac, kSe, 13},
                              {0, kIac, 241, 'e', 'n', 'd'},
                              Cmd(kWont, kOptEcho),
                              {kIac, kSb, 9, kIac, 'q', 'r', 13, 10}});
    TTelnetFilter ref(true);
    const TOut whole = Feed(ref, stream);
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        TTelnetFilter f(true);
        const TOut split = Feed(f, {Bytes(stream.begin(), stream.begin() + cut),
                                    Bytes(stream.begin() + cut, stream.end())});
        ASSERT_EQ(split.Data, whole.Data) << "cut at " << cut;
        ASSERT_EQ(split.Replies, whole.Replies) << "cut at " << cut;
        EXPECT_EQ(f.RemoteEcho(), ref.RemoteEcho());
    }
    std::vector<Bytes> single;
    for (uint8_t b : stream) single.push_back({b});
    TTelnetFilter f(true);
    const TOut bytewise = Feed(f, single);
    EXPECT_EQ(bytewise.Data, whole.Data);
    EXPECT_EQ(bytewise.Replies, whole.Replies);
    EXPECT_EQ(whole.Data,
              (Bytes{'h', 'i', 13, 'x', 13, 'y', 0xFF, 'z', 13, 'e', 'n', 'd', 'r', 13, 10}));
}

TEST(Telnet, OverlongSubnegotiationIsReadThroughButIgnored) {
    TTelnetFilter f(true);
    // Exactly at the cap: kept and answered.
    Bytes atCap = {kIac, kSb, kOptTerminalType, kTerminalTypeSend};
    atCap.resize(2 + TTelnetFilter::kSubCap, 'p');
    atCap.insert(atCap.end(), {kIac, kSe, 'a'});
    TOut out = Feed(f, atCap);
    EXPECT_EQ(out.Replies, kTtypeIs);
    EXPECT_EQ(out.Data, Bytes{'a'});

    // One past it: dropped, yet its payload (escaped 0xFF, CR NUL, bytes that
    // look like commands) never leaks into the data, and parsing goes on.
    Bytes overlong = {kIac, kSb, kOptTerminalType, kTerminalTypeSend};
    for (int i = 0; i < 3 * TTelnetFilter::kSubCap; ++i) {
        if (i % 97 == 0)
            overlong.insert(overlong.end(), {kIac, kIac});
        else
            overlong.push_back(uint8_t(i % 7 == 0 ? 13 : 'a' + i % 26));
    }
    overlong.insert(overlong.end(), {kIac, kSe, 'b', 'c'});
    std::vector<Bytes> pieces;
    for (size_t i = 0; i < overlong.size(); i += 1000)
        pieces.emplace_back(overlong.begin() + i,
                            overlong.begin() + std::min(i + 1000, overlong.size()));
    out = Feed(f, pieces);
    EXPECT_TRUE(out.Replies.empty()) << "an overlong subnegotiation must not be acted on";
    EXPECT_EQ(out.Data, (Bytes{'b', 'c'}));

    // The next subnegotiation starts afresh.
    EXPECT_EQ(Feed(f, kTtypeSend).Replies, kTtypeIs);
    // An overlong one interrupted by a stray IAC command is dropped the same way.
    Bytes broken = {kIac, kSb, 5};
    broken.resize(broken.size() + TTelnetFilter::kSubCap + 10, 'x');
    broken.insert(broken.end(), {kIac, 'n', 'd'});
    out = Feed(f, broken);
    EXPECT_EQ(out.Data, Bytes{'d'});
}

TEST(Telnet, EscapeIacDoublesOnlyFF) {
    TByteBuf out;
    const Bytes in = {'a', 0xFF, 13, 0xFF, 0xFF, 10, 0, 0xFE};
    EscapeIac(in.data(), int32_t(in.size()), out);
    EXPECT_EQ(Vec(out), (Bytes{'a', 0xFF, 0xFF, 13, 0xFF, 0xFF, 0xFF, 0xFF, 10, 0, 0xFE}));
    EscapeIac(in.data(), 0, out);
    EscapeIac(in.data(), -4, out);
    EXPECT_EQ(out.Count(), 11) << "non-positive counts append nothing";
    // Escaping and filtering round-trip every byte value.
    Bytes all;
    for (int i = 0; i < 256; ++i) all.push_back(uint8_t(i));
    TByteBuf wire;
    EscapeIac(all.data(), 256, wire);
    EXPECT_EQ(wire.Count(), 257);
    TTelnetFilter f(false);
    EXPECT_EQ(Feed(f, Vec(wire)).Data, all);
}
