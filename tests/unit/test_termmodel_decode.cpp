// TTermModel decoding: line endings, wrap, backspace and tab, the three
// encodings, escape sequences and colour attributes; sequences split across
// reads. Store, raw bytes, Rebuild, hex dump and timestamps are in
// test_termmodel_store.cpp; the fast paths against a byte-at-a-time reference
// in test_termmodel_diff.cpp.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "termmodel_util.h"

using namespace tm_test;

namespace {

const char* kModeName[] = {"Auto", "CR+LF", "LF", "CR"};

std::vector<std::u16string> Decode(std::string_view bytes, int mode = 0, int enc = 0) {
    TTermModel m(100);
    m.NewlineMode = mode;
    m.Encoding = enc;
    Feed(m, bytes);
    return Lines(m);
}

// The attribute of the first character of the last line.
uint16_t AttrOf(std::string_view bytes, bool ansi = true) {
    TTermModel m(100);
    m.AnsiColors = ansi;
    Feed(m, bytes);
    const std::u16string a = m.LineAttrs(m.LineCount() - 1);
    return a.empty() ? 0xFFFF : uint16_t(a[0]);
}

int Fg(uint16_t a) { return a & 0x1F; }

}  // namespace

// ------------------------------------------------------------- line endings

TEST(TermDecode, NewlineModesTable) {
    struct Case {
        const char* input;
        std::vector<const char*> expect[4];  // Auto, CR+LF, LF, CR
    };
    const Case cases[] = {
        {"AB\r\nCD", {{"AB", "CD"}, {"AB", "CD"}, {"AB", "CD"}, {"AB", "CD"}}},
        {"AB\rCD", {{"AB", "CD"}, {"ABCD"}, {"ABCD"}, {"AB", "CD"}}},
        {"AB\nCD", {{"AB", "CD"}, {"ABCD"}, {"AB", "CD"}, {"ABCD"}}},
        // LF CR ends two lines in Auto; CR never returns to the line start
        {"AB\n\rCD", {{"AB", "", "CD"}, {"ABCD"}, {"AB", "CD"}, {"AB", "CD"}}},
        {"AB\r\r\nCD", {{"AB", "", "CD"}, {"AB", "CD"}, {"AB", "CD"}, {"AB", "", "CD"}}},
        {"AB\r\n\r\nCD", {{"AB", "", "CD"}, {"AB", "", "CD"}, {"AB", "", "CD"}, {"AB", "", "CD"}}},
        {"AB\r\n", {{"AB", ""}, {"AB", ""}, {"AB", ""}, {"AB", ""}}},
        // any byte between CR and LF (even an ignored one) breaks the pair
        {"AB\r\x01\nCD", {{"AB", "", "CD"}, {"ABCD"}, {"AB", "CD"}, {"AB", "CD"}}},
        // an escape sequence between them does too (ESC clears last-was-CR)
        {"AB\r\x1b[m\nCD", {{"AB", "", "CD"}, {"ABCD"}, {"AB", "CD"}, {"AB", "CD"}}},
    };
    for (const Case& c : cases) {
        for (int mode = 0; mode < 4; ++mode) {
            std::vector<std::u16string> expect;
            for (const char* l : c.expect[mode]) expect.push_back(A(l));
            EXPECT_EQ(Decode(c.input, mode), expect)
                << kModeName[mode] << " on " << Show(A(c.input)) << " gave "
                << Show(Decode(c.input, mode));
        }
    }
}

TEST(TermDecode, ACharacterBetweenCrAndLfBreaksThePair) {
    // whatever puts the character: ASCII, UTF-8 of each length, a bad byte
    const std::string middles[] = {"x",    "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                                   "\xFF", "\t"};
    for (const std::string& mid : middles) {
        for (int enc = 0; enc < 3; ++enc) {
            TTermModel whole(100);
            whole.Encoding = enc;
            Feed(whole, "A\r" + mid + "\nB");
            EXPECT_EQ(whole.LineCount(), 3)
                << "Auto: CR ends one line, LF another; " << Show(A(mid));
            TTermModel crlf(100);
            crlf.Encoding = enc;
            crlf.NewlineMode = TTermModel::kNlCrLf;
            Feed(crlf, "A\r" + mid + "\nB");
            EXPECT_EQ(crlf.LineCount(), 1) << "CR+LF: no pair; " << Show(A(mid));
        }
    }
}

TEST(TermDecode, CrLfPairSplitAcrossReads) {
    for (int mode = 0; mode < 4; ++mode) {
        TTermModel m(100);
        m.NewlineMode = mode;
        Feed(m, "AB\r");
        Feed(m, "\nCD");
        EXPECT_EQ(Lines(m), A({"AB", "CD"})) << kModeName[mode];
    }
}

TEST(TermDecode, LoneEndingsThatEndNoLine) {
    EXPECT_EQ(Decode("x\ry", 1), A({"xy"})) << "lone CR in CR+LF mode";
    EXPECT_EQ(Decode("x\ny", 3), A({"xy"})) << "lone LF in CR mode";
    EXPECT_EQ(Decode("x\ry", 2), A({"xy"})) << "CR in LF mode";
    EXPECT_EQ(Decode("x\ny", 7), A({"x", "y"})) << "unknown mode behaves as Auto";
}

// ------------------------------------------------------------- wrap, BS, tab

TEST(TermDecode, HardWrapAt4096) {
    TTermModel m(100);
    Feed(m, std::string(5000, 'a'));
    ASSERT_EQ(m.LineCount(), 2);
    EXPECT_EQ(m.LineText(0).size(), 4096u);
    EXPECT_EQ(m.LineText(1).size(), 904u);
    EXPECT_EQ(m.MaxLineLength(), 4096);

    // exactly 4096 characters stay on one line until a 4097th arrives
    TTermModel e(100);
    Feed(e, std::string(4096, 'b'));
    EXPECT_EQ(e.LineCount(), 1);
    Feed(e, "\r\n");
    EXPECT_EQ(e.LineCount(), 2) << "the line break after a full line adds no empty line";
    EXPECT_EQ(e.LineText(1), u"");

    // tab spaces wrap like any other character
    TTermModel t(100);
    Feed(t, std::string(4092, 'c') + "\t\t");
    ASSERT_EQ(t.LineCount(), 2);
    EXPECT_EQ(t.LineText(0).size(), 4096u) << "first tab pads to 4096";
    EXPECT_EQ(t.LineText(1), u"        ") << "second tab on a full line: 8 spaces on the next";
}

TEST(TermDecode, WrapNeverSplitsASurrogatePair) {
    TTermModel m(100);
    Feed(m, std::string(4095, 'a') + "\xF0\x9F\x98\x80z");
    ASSERT_EQ(m.LineCount(), 2);
    EXPECT_EQ(m.LineText(0).size(), 4095u);
    EXPECT_EQ(m.LineText(1), u"\U0001F600z");

    TTermModel b(100);
    Feed(b, std::string(4094, 'a') + "\xF0\x9F\x98\x80z");
    ASSERT_EQ(b.LineCount(), 2);
    EXPECT_EQ(b.LineText(0).size(), 4096u) << "a pair that fits ends the line exactly";
    EXPECT_EQ(b.LineText(1), u"z");
}

TEST(TermDecode, BackspaceAndTab) {
    EXPECT_EQ(Decode("abc\b\bX"), A({"aX"}));
    EXPECT_EQ(Decode("\b\bX"), A({"X"})) << "backspace on an empty line does nothing";
    EXPECT_EQ(Decode("ab\r\n\bX"), A({"ab", "X"})) << "backspace never joins the previous line";
    EXPECT_EQ(Decode("a\xF0\x9F\x98\x80\bb"), std::vector<std::u16string>{u"ab"})
        << "backspace removes a whole surrogate pair";

    EXPECT_EQ(Decode("abc\tX"), A({"abc     X"})) << "tab at column 3 pads 5 spaces";
    EXPECT_EQ(Decode("\tX"), A({"        X"})) << "tab at column 0 pads 8";
    EXPECT_EQ(Decode("abcdefg\tX"), A({"abcdefg X"})) << "tab at column 7 pads 1";
    EXPECT_EQ(Decode("abcdefgh\tX"), A({"abcdefgh        X"})) << "tab at column 8 pads 8";

    // backspace takes the attribute with the character
    TTermModel m(100);
    Feed(m, "a\x1b[31mb\bc");
    EXPECT_EQ(m.LineText(0), u"ac");
    EXPECT_EQ(Fg(uint16_t(m.LineAttrs(0)[1])), 1);
    EXPECT_EQ(m.LineAttrs(0).size(), 2u);

    // a backspace after the line reached its widest keeps MaxLineLength
    TTermModel w(100);
    Feed(w, "abcdef\b\b\b");
    EXPECT_EQ(w.MaxLineLength(), 6);
}

TEST(TermDecode, IgnoredControlBytes) {
    std::string all;
    for (int b = 0; b < 0x20; ++b)
        if (b != 0x08 && b != 0x09 && b != 0x0A && b != 0x0D && b != 0x1B) all += char(b);
    all += '\x7f';
    EXPECT_EQ(Decode("a" + all + "b"), A({"ab"}));
}

// ----------------------------------------------------------------- encodings

TEST(TermDecode, Utf8) {
    EXPECT_EQ(Decode("\xE2\x82\xAC"), std::vector<std::u16string>{u"\u20AC"});
    EXPECT_EQ(Decode("\xC3"
                     "A"),
              std::vector<std::u16string>{u"\uFFFDA"});
    EXPECT_EQ(Decode("\xF0\x9F\x98\x80"), std::vector<std::u16string>{u"\xD83D\xDE00"});
    EXPECT_EQ(Decode("\xC3\xA9"), std::vector<std::u16string>{u"\u00E9"});
    // every byte that cannot start a sequence gives U+FFFD on its own
    for (int b : {0x80, 0xBF, 0xC0, 0xC1, 0xF5, 0xFF})
        EXPECT_EQ(Decode(std::string(1, char(b)) + "x"), std::vector<std::u16string>{u"\uFFFDx"})
            << std::hex << b;
    // overlong forms and encoded surrogates are put as assembled; above U+10FFFF is "?"
    EXPECT_EQ(Decode("\xE0\x80\xB1"), std::vector<std::u16string>{u"1"});
    EXPECT_EQ(Decode("\xED\xA0\x80").at(0), std::u16string(1, char16_t(0xD800)));
    EXPECT_EQ(Decode("\xF4\x90\x80\x80"), A({"?"}));
    EXPECT_EQ(Decode("\xF4\x8F\xBF\xBF"), std::vector<std::u16string>{u"\U0010FFFF"});
    // a sequence cut by a control byte: U+FFFD, then the control byte acts
    EXPECT_EQ(Decode("\xE2\x82\r\nx"), (std::vector<std::u16string>{u"\uFFFD", u"x"}));
    EXPECT_EQ(Decode("\xE2\x1b[31mx"), std::vector<std::u16string>{u"\uFFFDx"});
}

TEST(TermDecode, Utf8SplitAcrossReads) {
    const std::string seqs[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
    const std::u16string want[] = {u"\u00E9", u"\u20AC", u"\U0001F600"};
    for (int s = 0; s < 3; ++s) {
        for (size_t cut = 1; cut < seqs[s].size(); ++cut) {
            TTermModel m(100);
            Feed(m, "<" + seqs[s].substr(0, cut));
            EXPECT_EQ(m.LineText(0), u"<") << "nothing is put before the sequence ends";
            Feed(m, seqs[s].substr(cut) + ">");
            EXPECT_EQ(m.LineText(0), u"<" + want[s] + u">") << "sequence " << s << " cut " << cut;
        }
    }
}

TEST(TermDecode, Cp1252MatchesIconvAndUndefinedBytesGiveQuestionMark) {
    iconv_t cd = iconv_open("UTF-16LE", "CP1252");
    if (cd == iconv_t(-1)) GTEST_SKIP() << "iconv has no CP1252";
    for (int b = 0x20; b <= 0xFF; ++b) {
        if (b == 0x7F) continue;
        char in = char(b);
        char out[8] = {};
        char* ip = &in;
        char* op = out;
        size_t il = 1, ol = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const bool defined = iconv(cd, &ip, &il, &op, &ol) != size_t(-1);
        const char16_t expect = defined ? char16_t(uint8_t(out[0]) | (uint8_t(out[1]) << 8)) : u'?';
        EXPECT_EQ(Decode(std::string(1, char(b)), 0, TTermModel::kLatin1).at(0),
                  std::u16string(1, expect))
            << "byte 0x" << std::hex << b;
    }
    iconv_close(cd);
    // the euro sign and the five bytes Windows-1252 leaves undefined
    EXPECT_EQ(Decode("\x80", 0, 1), std::vector<std::u16string>{u"\u20AC"});
    for (int b : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
        EXPECT_EQ(Decode(std::string(1, char(b)), 0, 1), A({"?"})) << std::hex << b;
}

TEST(TermDecode, Ascii) {
    EXPECT_EQ(Decode("caf\xE9!", 0, TTermModel::kAscii), A({"caf?!"}));
    EXPECT_EQ(Decode("\xE2\x82\xAC", 0, TTermModel::kAscii), A({"???"}));
    EXPECT_EQ(Decode("\xE9x", 0, 9), std::vector<std::u16string>{u"\uFFFDx"}) << "unknown = UTF-8";
}

// ---------------------------------------------------------- escape sequences

TEST(TermDecode, NonColourSequencesAreRemoved) {
    EXPECT_EQ(Decode("a\x1b[2Jb"), A({"ab"})) << "erase screen";
    EXPECT_EQ(Decode("a\x1b[10;20Hb\x1b[?25lc\x1b[1 qd"), A({"abcd"}))
        << "cursor, modes, intermediates";
    EXPECT_EQ(Decode("a\x1b(Bb\x1b)0c\x1b*Ad\x1b+Be"), A({"abcde"})) << "charset designations";
    EXPECT_EQ(Decode("a\x1b"
                     "7b\x1b"
                     "=c"),
              A({"abc"}))
        << "two-byte sequences drop their byte";
    EXPECT_EQ(Decode("a\x1b\x1b"
                     "b"),
              A({"ab"}))
        << "ESC ESC: the second ESC is dropped";
    EXPECT_EQ(Decode("a\x1b]0;title\x07"
                     "b"),
              A({"ab"}))
        << "OSC ended by BEL";
    EXPECT_EQ(Decode("a\x1b]2;title\x1b\\b"), A({"ab"})) << "OSC ended by ST";
    // a control byte inside CSI ends the sequence and is consumed with it
    EXPECT_EQ(Decode("a\x1b[3\r\nb", 0), A({"a", "b"}));
    EXPECT_EQ(Decode("a\x1b[3\rb", 0), A({"ab"}));
    // ESC in CSI or in a charset designation starts a new sequence
    EXPECT_EQ(AttrOf("\x1b[1\x1b[31mx"), 0x0201);
    EXPECT_EQ(AttrOf("\x1b(\x1b[32mx"), 0x0202);
    // ESC inside OSC consumes the byte after it, whatever it is
    EXPECT_EQ(Decode("\x1b]0;t\x1b[31mx"), A({"31mx"}));
}

TEST(TermDecode, OscLengthCap) {
    // 512 bytes after "ESC ]" are still inside the sequence ...
    EXPECT_EQ(Decode("\x1b]" + std::string(512, 'o') +
                     "\x07"
                     "x"),
              A({"x"}));
    EXPECT_EQ(Decode("\x1b]" + std::string(511, 'o') + "\x1b\\x"), A({"x"}));
    // ... the 513th abandons it and what follows is text
    EXPECT_EQ(Decode("\x1b]" + std::string(513, 'o') + "tail\x07"), A({"tail"}));
    EXPECT_EQ(Decode("\x1b]" + std::string(600, 'o') + "\x07"), A({std::string(87, 'o').c_str()}));
}

TEST(TermDecode, SequencesSplitAcrossReads) {
    const std::string input =
        "a\x1b[38;5;196mb\x1b]0;title\x1b\\c\x1b(Bd\x1b]1;x\x07"
        "e\x1b[0m";
    TTermModel whole(100);
    Feed(whole, input);
    ASSERT_EQ(whole.LineText(0), u"abcde");
    for (size_t cut = 1; cut < input.size(); ++cut) {
        TTermModel m(100);
        Feed(m, input.substr(0, cut));
        Feed(m, input.substr(cut));
        EXPECT_EQ(m.LineText(0), whole.LineText(0)) << "cut at " << cut;
        EXPECT_EQ(m.LineAttrs(0), whole.LineAttrs(0)) << "cut at " << cut;
    }
    EXPECT_EQ(Fg(uint16_t(whole.LineAttrs(0)[1])), 9);
}

// ------------------------------------------------------------------- colours

TEST(TermDecode, ColourParameters) {
    struct Case {
        const char* seq;
        uint16_t attr;
    };
    const Case cases[] = {
        {"\x1b[31m", 0x0201},                 // foreground 1, background default
        {"\x1b[38;5;196m", 0x0209},           // 256-colour red -> bright red
        {"\x1b[38;2;255;255;255m", 0x020F},   // RGB white -> bright white
        {"\x1b[38;2;200;0;0m", 0x0201},       // RGB dark red -> red
        {"\x1b[44m", (4 << 5) | 16},          // background 4
        {"\x1b[48;5;21m", (12 << 5) | 16},    // 256-colour blue -> bright blue
        {"\x1b[48;2;0;0;0m", (0 << 5) | 16},  // RGB black
        {"\x1b[97;100m", (8 << 5) | 15},      // bright forms
        {"\x1b[90;107m", (15 << 5) | 8},
        {"\x1b[1m", 0x0610},                     // bold
        {"\x1b[7m", 0x0A10},                     // inverse
        {"\x1b[1;7;22m", 0x0A10},                // bold off again
        {"\x1b[1;7;27m", 0x0610},                // inverse off again
        {"\x1b[31;42;1;7;0m", 0x0210},           // 0 resets all
        {"\x1b[31;42m\x1b[m", 0x0210},           // no parameter = 0
        {"\x1b[31;42m\x1b[39m", (2 << 5) | 16},  // default foreground
        {"\x1b[31;42m\x1b[49m", 0x0201},         // default background
        {"\x1b[31;;32m", 0x0202},                // empty parameter = 0, then 32
        {"\x1b[32;m", 0x0210},                   // trailing empty parameter resets
        {"\x1b[0031m", 0x0201},                  // leading zeros
        {"\x1b[3:1m", 0x0201},                   // other parameter bytes are skipped
        {"\x1b[?31m", 0x0201},
        {"\x1b[38;5m", 0x0210},                    // too few: 38 and 5 have no effect
        {"\x1b[38;2;255;0m", 0x0210},              // too few for RGB: 38 and 2 do nothing, ...
        {"\x1b[31m\x1b[38;2;255;0m", 0x0210},      // ... 255 nothing, 0 resets
        {"\x1b[38;7;1m", 0x0E10},                  // neither 5 nor 2: 7 and 1 apply
        {"\x1b[38;5;300m", 0x0207},                // above 255 maps to 7
        {"\x1b[38;2;300;0;0m", 0x0209},            // RGB beyond 255 still counts
        {"\x1b[38;5;196;44m", (4 << 5) | 9},       // parameters after a colour apply
        {"\x1b[3100000000000000000001m", 0x0210},  // value stops growing at 10000+
        {"\x1b[38;5;10000000000m", 0x0207},        // 10000.. -> 7
    };
    for (const Case& c : cases)
        EXPECT_EQ(AttrOf(std::string(c.seq) + "x"), c.attr)
            << Show(A(c.seq)) << " gave 0x" << std::hex << AttrOf(std::string(c.seq) + "x");
}

TEST(TermDecode, ColourParameterLimits) {
    auto ones = [](int k) {
        std::string s = "\x1b[";
        for (int i = 0; i < k; ++i) s += "1;";
        return s;
    };
    // at most 16 parameters count
    EXPECT_EQ(AttrOf(ones(16) + "31mx"), 0x0610) << "the 17th is dropped";
    EXPECT_EQ(AttrOf(ones(16) + "31;32;33;34mx"), 0x0610) << "and all after it";
    EXPECT_EQ(AttrOf(ones(15) + "31mx"), 0x0601) << "the 16th counts";
    // 38;5;n must fit in the 16: as parameters 15 and 16 the 5 has no colour after it
    EXPECT_EQ(AttrOf(ones(14) + "38;5;196mx"), 0x0610);
    EXPECT_EQ(AttrOf(ones(13) + "38;5;196mx"), 0x0609);

    // CSI parameters stop at 64 bytes; the rest of the sequence is dropped
    EXPECT_EQ(AttrOf("\x1b[" + std::string(61, '0') + ";31mx"), 0x0201) << "64 bytes fit";
    EXPECT_EQ(AttrOf("\x1b[" + std::string(62, '0') + ";31mx"), 0x0210)
        << "the 1 after 64 bytes lost: 3 does nothing";
    EXPECT_EQ(AttrOf("\x1b[31;" + std::string(200, '1') + "mx"), 0x0201);
}

TEST(TermDecode, AnsiColorsOffRemovesSequencesAndKeepsTheAttribute) {
    EXPECT_EQ(AttrOf("\x1b[31mx", false), 0x0210);
    EXPECT_EQ(AttrOf("\x1b[1;7;38;5;196;48;2;255;0;0mx", false), 0x0210);
    TTermModel m(100);
    m.AnsiColors = false;
    Feed(m, "a\x1b[31mb");
    EXPECT_EQ(m.LineText(0), u"ab");
}

TEST(TermDecode, AttributeCarriesAcrossLinesAndReads) {
    TTermModel m(100);
    Feed(m, "\x1b[1;33ma\r\n");
    Feed(m, "b");
    EXPECT_EQ(m.LineAttrs(1), std::u16string(1, char16_t(0x0603)));
}

TEST(TermDecode, ColourMappingTables) {
    // 0..15 pass through; the 6x6x6 cube by its corners and mid levels; the grey ramp
    for (int n = 0; n < 16; ++n) EXPECT_EQ(Map256Color(n), n);
    // 16..231 is a 6x6x6 cube (r, g, b levels 0..5): a level of 3 or more
    // turns the channel on; a top level of 4 or more makes the colour bright;
    // with every channel off, a top level of 2 or more is dark grey (8).
    const std::pair<int, int> cube[] = {
        {16, 0},    // 0,0,0 black
        {231, 15},  // 5,5,5 bright white
        {196, 9},   // 5,0,0 bright red
        {46, 10},   // 0,5,0 bright green
        {21, 12},   // 0,0,5 bright blue
        {226, 11},  // 5,5,0 bright yellow
        {201, 13},  // 5,0,5 bright magenta
        {51, 14},   // 0,5,5 bright cyan
        {124, 1},   // 3,0,0 red
        {160, 9},   // 4,0,0 bright red
        {136, 1},   // 3,2,0 red: green level 2 stays off
        {145, 7},   // 3,3,3 white
        {188, 15},  // 4,4,4 bright white
        {88, 8},    // 2,0,0 dark grey
        {102, 8},   // 2,2,2 dark grey
        {52, 0},    // 1,0,0 black
        {59, 0},    // 1,1,1 black
    };
    for (auto [n, want] : cube) EXPECT_EQ(Map256Color(n), want) << "256-colour " << n;
    for (int n = 232; n <= 239; ++n) EXPECT_EQ(Map256Color(n), 0) << n;
    for (int n = 240; n <= 247; ++n) EXPECT_EQ(Map256Color(n), 8) << n;
    for (int n : {248, 255, 256, 1000, 99999}) EXPECT_EQ(Map256Color(n), 7) << n;

    struct Rgb {
        int r, g, b, want;
    };
    const Rgb rgb[] = {
        {0, 0, 0, 0},        {255, 255, 255, 15}, {200, 0, 0, 1},     {224, 0, 0, 9},
        {223, 0, 0, 1},      {128, 0, 0, 1},      {127, 0, 0, 0},     {0, 255, 0, 10},
        {0, 0, 224, 12},     {128, 128, 128, 7},  {127, 127, 127, 0}, {255, 0, 255, 13},
        {100, 200, 250, 14}, {223, 223, 223, 7},  {0, 130, 225, 14},  {250, 100, 100, 9},
    };
    for (const Rgb& c : rgb)
        EXPECT_EQ(MapRgbColor(c.r, c.g, c.b), c.want) << c.r << "," << c.g << "," << c.b;
}

// Sending in CP1252 must give back the byte the view decoded from.
TEST(Cp1252, EveryDefinedByteRoundTrips) {
    for (int b = 0; b < 256; ++b) {
        const char16_t c = Cp1252ToUnicode(uint8_t(b));
        if (c == u'?' && b != '?') continue;  // undefined in the code page
        EXPECT_EQ(UnicodeToCp1252(c), b) << b;
    }
    EXPECT_EQ(UnicodeToCp1252(u'\u0100'), '?');
    EXPECT_EQ(UnicodeToCp1252(u'\u0085'), '?');
}
