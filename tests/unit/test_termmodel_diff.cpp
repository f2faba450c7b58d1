// TTermModel against the byte-at-a-time reference (termmodel_reference.h):
// identical lines, attributes and times for generated inputs, whatever the
// read boundaries, in every encoding, newline mode and colour setting; and
// after Rebuild, SetHistoryLines and the raw drop.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "base/uText.h"
#include "termmodel_reference.h"
#include "termmodel_util.h"

using namespace tm_test;

namespace {

// Inputs made of the pieces the decoder treats differently.
std::string Generate(std::mt19937& rng, size_t size, bool longLines = false) {
    auto pick = [&](int n) { return int(rng() % uint32_t(n)); };
    auto utf8 = [](uint32_t cp) {
        std::string s;
        AppendUtf8(s, cp);
        return s;
    };
    std::string s;
    while (s.size() < size) {
        // CR before and LF after any piece: last-was-CR meets every path
        if (pick(8) == 0) s += '\r';
        const bool lfAfter = pick(8) == 0;
        switch (pick(longLines ? 12 : 11)) {
            case 0:
            case 1: {  // printable ASCII
                const int n = 1 + pick(40);
                for (int i = 0; i < n; ++i) s += char(0x20 + pick(0x5F));
                break;
            }
            case 2: {  // line endings and the other control bytes
                static const char* const endings[] = {"\r\n",   "\r",   "\n",   "\n\r",
                                                      "\r\r\n", "\b",   "\t",   "\b\b\b",
                                                      "\x00",   "\x7f", "\x07", "\x0c"};
                const char* e = endings[pick(12)];
                s.append(e, e[0] ? std::strlen(e) : 1);
                break;
            }
            case 3: {  // colour sequences
                static const char* const sgr[] = {"",
                                                  "0",
                                                  "1",
                                                  "7",
                                                  "22",
                                                  "27",
                                                  "31",
                                                  "1;32",
                                                  "44",
                                                  "97;100",
                                                  "38;5;196",
                                                  "48;5;240",
                                                  "38;2;255;0;0",
                                                  "48;2;10;200;250",
                                                  "39;49",
                                                  "38;5",
                                                  "38;2;1",
                                                  ";;31;",
                                                  "3:1",
                                                  "?5"};
                s += "\x1b[";
                s += sgr[pick(20)];
                s += pick(8) ? "m" : "J";
                break;
            }
            case 4: {  // other CSI, OSC, charsets, broken and nested sequences
                static const char* const other[] = {"\x1b[2J",
                                                    "\x1b[10;20H",
                                                    "\x1b[?25l",
                                                    "\x1b[1 q",
                                                    "\x1b]0;title\x07",
                                                    "\x1b]2;t\x1b\\",
                                                    "\x1b(B",
                                                    "\x1b)0",
                                                    "\x1b\x1b",
                                                    "\x1b"
                                                    "7",
                                                    "\x1b[3\r",
                                                    "\x1b[1\x1b[31m",
                                                    "\x1b(\x1b[32m",
                                                    "\x1b]0;t\x1b[31m",
                                                    "\x1b",
                                                    "\x1b["};
                s += other[pick(16)];
                break;
            }
            case 5: {  // long OSC around the 512 cap
                s += "\x1b]";
                s += std::string(size_t(505 + pick(15)), 'o');
                s += pick(2) ? "\x07" : "\x1b\\";
                break;
            }
            case 6:
            case 7: {  // valid UTF-8 of every length
                static const uint32_t ranges[][2] = {
                    {0xA0, 0x7FF}, {0x800, 0xFFFF}, {0x10000, 0x10FFFF}};
                const auto& r = ranges[pick(3)];
                s += utf8(r[0] + uint32_t(rng() % (r[1] - r[0] + 1)));
                break;
            }
            case 8: {  // broken UTF-8: lone leads, stray continuations, cut sequences, overlongs
                static const char* const bad[] = {
                    "\x80",         "\xBF",         "\xC0",         "\xC1",
                    "\xF5",         "\xFF",         "\xC3",         "\xE2\x82",
                    "\xF0\x9F\x98", "\xE0\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80"};
                s += bad[pick(12)];
                break;
            }
            case 9:  // any byte
                s += char(pick(256));
                break;
            case 10: {  // a run of high bytes (Latin-1 text, or noise)
                const int n = 1 + pick(12);
                for (int i = 0; i < n; ++i) s += char(0x80 + pick(128));
                break;
            }
            case 11: {  // long lines around the 4096 wrap, ending in a pair or a tab
                s += std::string(size_t(4088 + pick(10)), 'W');
                s += pick(2) ? utf8(0x1F600) : "\t";
                break;
            }
        }
        if (lfAfter) s += '\n';
    }
    return s;
}

struct Pair {
    TTermModel model;
    ref::Model ref;
    double now = 45000.0;

    Pair(int depth, int enc, int nl, bool ansi) : model(depth), ref(depth) {
        model.Clock = [this] { return now; };
        Set(enc, nl, ansi);
    }
    void Set(int enc, int nl, bool ansi) {
        model.Encoding = ref.Encoding = enc;
        model.NewlineMode = ref.NewlineMode = nl;
        model.AnsiColors = ref.AnsiColors = ansi;
    }
    void Feed(const std::string& s, size_t from, size_t to, double t) {
        now = t;
        model.Feed(s.data() + from, int32_t(to - from));
        ref.Feed(reinterpret_cast<const uint8_t*>(s.data()) + from, to - from, t);
    }
};

::testing::AssertionResult Same(const Pair& p) {
    const TTermModel& m = p.model;
    const ref::Model& r = p.ref;
    if (size_t(m.LineCount()) != r.lines.size())
        return ::testing::AssertionFailure()
               << "line count " << m.LineCount() << " vs " << r.lines.size();
    if (m.FirstLineNumber() != r.first)
        return ::testing::AssertionFailure()
               << "first line number " << m.FirstLineNumber() << " vs " << r.first;
    for (int32_t i = 0; i < m.LineCount(); ++i) {
        const ref::Line& l = r.lines[size_t(i)];
        if (m.LineTextView(i) != l.text)
            return ::testing::AssertionFailure()
                   << "line " << i << " text \"" << Show(m.LineTextView(i)) << "\" vs \""
                   << Show(l.text) << "\"";
        if (m.LineAttrsView(i) != l.attrs)
            return ::testing::AssertionFailure() << "line " << i << " attrs differ";
        if (m.LineTime(i) != l.time)
            return ::testing::AssertionFailure()
                   << "line " << i << " time " << m.LineTime(i) << " vs " << l.time;
    }
    if (m.MaxLineLength() != r.maxLen)
        return ::testing::AssertionFailure()
               << "MaxLineLength " << m.MaxLineLength() << " vs " << r.maxLen;
    if (m.RawBase() != r.rawBase) return ::testing::AssertionFailure() << "raw base";
    if (m.RawBytes() != std::string(r.raw.begin(), r.raw.end()))
        return ::testing::AssertionFailure() << "raw bytes";
    if (size_t(m.ChunkCount()) != r.chunks.size())
        return ::testing::AssertionFailure() << "chunk count";
    for (int32_t i : {0, 1, m.HexLineCount() - 1, m.HexLineCount()})
        if (m.HexLine(i) != r.HexLine(i)) return ::testing::AssertionFailure() << "hex line " << i;
    return ::testing::AssertionSuccess();
}

struct Config {
    int enc, nl;
    bool ansi;
};

std::vector<Config> AllConfigs() {
    std::vector<Config> out;
    for (int enc = 0; enc < 3; ++enc)
        for (int nl = 0; nl < 4; ++nl)
            for (bool ansi : {true, false}) out.push_back({enc, nl, ansi});
    return out;
}

std::string Describe(const Config& c) {
    return "encoding " + std::to_string(c.enc) + ", newline " + std::to_string(c.nl) +
           ", colours " + (c.ansi ? "on" : "off");
}

}  // namespace

// Every split of an input into two reads, in every configuration; each
// result also rebuilt from raw.
TEST(TermDiff, EverySplitPointInEveryConfiguration) {
    for (uint32_t seed : {1u, 2u, 3u}) {
        std::mt19937 rng(seed);
        const std::string input = Generate(rng, 700);
        for (const Config& c : AllConfigs()) {
            for (size_t cut = 0; cut <= input.size(); ++cut) {
                Pair p(100, c.enc, c.nl, c.ansi);
                p.Feed(input, 0, cut, 45000.25);
                p.Feed(input, cut, input.size(), 45000.75);
                ASSERT_TRUE(Same(p)) << Describe(c) << ", seed " << seed << ", cut at " << cut;
                if (cut % 17 == 0) {
                    p.model.Rebuild();
                    p.ref.Rebuild();
                    ASSERT_TRUE(Same(p)) << "after Rebuild: " << Describe(c) << ", cut at " << cut;
                }
            }
        }
    }
}

// Long lines: every split point around each wrap, a sample elsewhere.
TEST(TermDiff, SplitsAroundTheWrap) {
    std::mt19937 rng(11);
    std::string input = Generate(rng, 300) + std::string(4094, 'x') + "\xF0\x9F\x98\x80" +
                        "\xE2\x82\xAC" + std::string(4090, 'y') + "\t\t\xC3\xA9" +
                        std::string(4100, 'z') + "\b\b" + Generate(rng, 300);
    for (int enc = 0; enc < 3; ++enc) {
        for (size_t cut = 0; cut <= input.size(); ++cut) {
            const size_t in = cut % 4096;
            if (!(in < 400 || in > 4080 || cut % 61 == 0)) continue;
            Pair p(100, enc, 0, true);
            p.Feed(input, 0, cut, 45000.25);
            p.Feed(input, cut, input.size(), 45000.75);
            ASSERT_TRUE(Same(p)) << "encoding " << enc << ", cut at " << cut;
        }
    }
}

// Many reads of random sizes, with repeated times (shared chunks), a ring
// that wraps many times, and settings changed on the way.
TEST(TermDiff, RandomReadsRebuildsAndSettingChanges) {
    for (uint32_t seed = 20; seed < 26; ++seed) {
        std::mt19937 rng(seed);
        const std::string input = Generate(rng, 200000, true);
        Pair p(100 + int(seed % 3) * 50, int(seed % 3), int(seed % 4), seed % 2 == 0);
        size_t pos = 0;
        double t = 45000.0;
        int step = 0;
        while (pos < input.size()) {
            const size_t n =
                std::min(input.size() - pos, size_t(1 + rng() % (rng() % 4 == 0 ? 4096 : 64)));
            if (rng() % 3) t += 1.0 / 86400000.0;
            p.Feed(input, pos, pos + n, t);
            pos += n;
            if (++step % 400 == 0) {
                ASSERT_TRUE(Same(p)) << "seed " << seed << " at " << pos;
                switch (rng() % 4) {
                    case 0:
                        p.Set(int(rng() % 3), int(rng() % 4), rng() % 2 == 0);
                        p.model.Rebuild();
                        p.ref.Rebuild();
                        break;
                    case 1: {
                        const int depth = 100 + int(rng() % 300);
                        p.model.SetHistoryLines(depth);
                        p.ref.SetHistoryLines(depth);
                        break;
                    }
                    case 2:
                        p.model.Rebuild();
                        p.ref.Rebuild();
                        break;
                    default:
                        break;
                }
                ASSERT_TRUE(Same(p)) << "seed " << seed << " after a change at " << pos;
            }
        }
        ASSERT_TRUE(Same(p)) << "seed " << seed;
    }
}

// One byte per read against one read for everything.
TEST(TermDiff, ByteAtATime) {
    std::mt19937 rng(31);
    const std::string input = Generate(rng, 30000, true);
    for (int enc = 0; enc < 3; ++enc) {
        Pair p(300, enc, 0, true);
        for (size_t i = 0; i < input.size(); ++i)
            p.Feed(input, i, i + 1, 45000.0 + double(i / 100) / 86400.0);
        ASSERT_TRUE(Same(p)) << "encoding " << enc;
        p.model.Rebuild();
        p.ref.Rebuild();
        ASSERT_TRUE(Same(p)) << "encoding " << enc << " after Rebuild";
    }
}

// Past 8 MiB: the drop, the chunk list and Rebuild agree with the reference,
// for reads of every size including ones larger than what is kept.
TEST(TermDiff, RawDropAndRebuild) {
    std::mt19937 rng(41);
    std::string pool = Generate(rng, 1 << 20, true);
    Pair p(500, 0, 0, true);
    double t = 45000.0;
    int64_t fed = 0;
    const size_t sizes[] = {4096, 65536, 3 * 1048576 + 7, 1, 777, 9 * 1048576 + 3, 100000};
    for (int round = 0; round < 40; ++round) {
        const size_t n = sizes[size_t(round) % 7];
        std::string data;
        while (data.size() < n) data += pool.substr(rng() % (pool.size() - 5000), 5000);
        data.resize(n);
        t += 1.0 / 86400.0;
        p.Feed(data, 0, n, t);
        fed += int64_t(n);
        ASSERT_LE(p.model.RawCount(), 8388608);
        ASSERT_EQ(p.model.RawBase() + p.model.RawCount(), fed);
        ASSERT_TRUE(Same(p)) << "round " << round;
        if (round % 5 == 4) {
            p.model.Rebuild();
            p.ref.Rebuild();
            ASSERT_TRUE(Same(p)) << "round " << round << " after Rebuild";
        }
    }
    // every hex line once, including the one where the kept bytes wrap round
    p.model.SetHexBytesPerLine(64);
    p.ref.hexWidth = 64;
    for (int32_t i = 0; i < p.model.HexLineCount(); ++i)
        ASSERT_EQ(p.model.HexLine(i), p.ref.HexLine(i)) << "hex line " << i;
}
