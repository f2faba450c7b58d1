#include <gtest/gtest.h>

#include "base/uText.h"
#include "settings/uSettingsRules.h"

TEST(SettingsRules, SessionReadRulesReplaceOutOfRangeValues) {
    TSessionSettings s;
    s.Baud = 49;
    s.DataBits = 9;
    s.StopBits = 3;
    s.Parity = 5;
    s.Flow = -1;
    s.Charset = 3;
    s.RxNewline = 4;
    s.TxNewline = 7;
    s.HistoryLines = 50;
    ApplySessionReadRules(s);
    EXPECT_EQ(s.Baud, 115200);
    EXPECT_EQ(s.DataBits, 8);
    EXPECT_EQ(s.StopBits, 0);
    EXPECT_EQ(s.Parity, 0);
    EXPECT_EQ(s.Flow, 0);
    EXPECT_EQ(s.Charset, 0);
    EXPECT_EQ(s.RxNewline, 0);
    EXPECT_EQ(s.TxNewline, 3);
    EXPECT_EQ(s.HistoryLines, 100);

    TSessionSettings edge;
    edge.Baud = 12000000;
    edge.DataBits = 5;
    edge.StopBits = 2;
    edge.Parity = 4;
    edge.Flow = 3;
    edge.Charset = 2;
    edge.RxNewline = 3;
    edge.TxNewline = 0;
    edge.HistoryLines = 500000;
    TSessionSettings expect = edge;
    expect.HistoryLines = 100000;
    ApplySessionReadRules(edge);
    EXPECT_EQ(edge, expect);
    EXPECT_EQ(DefaultSessionSettings(), TSessionSettings{});
    EXPECT_EQ(TSessionSettings{}.HistoryLines, 10000);
}

TEST(SettingsRules, ColorsParseAndFormat) {
    TColorRef c = 0;
    EXPECT_TRUE(ParseColor(u"#12ab3F", c));
    EXPECT_EQ(c, 0x3FAB12u);
    EXPECT_TRUE(ParseColor(u"  #000000\t", c));
    EXPECT_EQ(c, 0u);
    for (const char16_t* bad :
         {u"#12ab3", u"12ab3F0", u"#12ab3G", u"", u"#", u"#12ab3F0", u"# 12ab3"}) {
        c = 0xDEAD;
        EXPECT_FALSE(ParseColor(bad, c))
            << std::string(bad, bad + std::char_traits<char16_t>::length(bad));
        EXPECT_EQ(c, 0xDEADu);
    }
    EXPECT_EQ(ColorToHex(0x3FAB12), u"#12AB3F");
    EXPECT_EQ(ColorToHex(0x0C0C0C), u"#0C0C0C");
    for (TColorRef v : {0x000000u, 0xFFFFFFu, 0x123456u, 0xA0B0C0u}) {
        ASSERT_TRUE(ParseColor(ColorToHex(v), c));
        EXPECT_EQ(c, v);
    }
}

TEST(SettingsRules, GeneralSettingsNormalisation) {
    EXPECT_EQ(NormalizeTheme(u" Dark "), u"dark");
    EXPECT_EQ(NormalizeTheme(u"LIGHT"), u"light");
    EXPECT_EQ(NormalizeTheme(u"blue"), u"auto");
    EXPECT_EQ(NormalizeTheme(u""), u"auto");
    EXPECT_EQ(NormalizeLanguage(u"de_AT"), u"de_at");
    EXPECT_EQ(NormalizeLanguage(u"\u00e9"), u"en");  // one non-ASCII letter
    EXPECT_EQ(NormalizeLanguage(u"  UK\r"), u"uk");
    EXPECT_EQ(NormalizeLanguage(u""), u"en");
    EXPECT_TRUE(IsValidLanguageCode(std::u16string(63, u'a')));
    EXPECT_FALSE(IsValidLanguageCode(std::u16string(64, u'a')));
    EXPECT_TRUE(IsValidLanguageCode(u"pt-BR_2"));
    EXPECT_FALSE(IsValidLanguageCode(u"de at"));
    EXPECT_FALSE(IsValidLanguageCode(u"de.at"));
    EXPECT_TRUE(IsExactTheme(u"auto"));
    EXPECT_FALSE(IsExactTheme(u"Auto"));
}

TEST(SettingsRules, FontAndHexWidth) {
    EXPECT_EQ(NormalizeFontName(u"  Lucida Console "), u"Lucida Console");
    EXPECT_EQ(NormalizeFontName(u"   "), u"Consolas");
    EXPECT_EQ(NormalizeFontSize(5), 10);
    EXPECT_EQ(NormalizeFontSize(6), 6);
    EXPECT_EQ(NormalizeFontSize(72), 72);
    EXPECT_EQ(NormalizeFontSize(73), 10);
    EXPECT_TRUE(IsValidFontSettings(std::u16string(31, u'x'), 10));
    EXPECT_FALSE(IsValidFontSettings(std::u16string(32, u'x'), 10));
    // the length limit applies to the text as given, before trimming
    EXPECT_FALSE(IsValidFontSettings(u" " + std::u16string(31, u'x'), 10));
    EXPECT_FALSE(IsValidFontSettings(u"  ", 10));
    EXPECT_FALSE(IsValidFontSettings(u"Consolas", 73));
    EXPECT_EQ(NormalizeHexBytesPerLine(0), 24);
    EXPECT_EQ(NormalizeHexBytesPerLine(1), 1);
    EXPECT_EQ(NormalizeHexBytesPerLine(64), 64);
    EXPECT_EQ(NormalizeHexBytesPerLine(65), 24);
}

TEST(SettingsRules, ConnectionNamesAndSections) {
    for (const char16_t* bad :
         {u"a=b", u"[x]", u"a\\b", u"a/b", u"a:b", u"a*", u"a?", u"a\"b", u"<a", u"a>", u"a|b"})
        EXPECT_TRUE(HasForbiddenNameChar(bad));
    EXPECT_FALSE(HasForbiddenNameChar(u"router 1 (lab)"));
    EXPECT_EQ(PortSection(u"COM3"), u"Port:COM3");
    EXPECT_EQ(ConnSection(u"router"), u"Conn:router");
    EXPECT_EQ(SessionSection(0, u"COM3"), u"Port:COM3");
    EXPECT_EQ(SessionSection(1, u"router"), u"Conn:router");
    EXPECT_EQ(NormalizeConnMode(5), 1);
    EXPECT_EQ(NormalizeConnMode(-1), 1);
    EXPECT_EQ(NormalizeConnMode(2), 2);
}

TEST(SettingsRules, WindowPlacementStaysReachable) {
    TWindowPlacement p{-5000, 50, 800, 600, true};
    auto r = FixWindowPlacement(p, 0, 0, 1920, 1080);
    EXPECT_EQ(r.Left, 100);
    EXPECT_EQ(r.Top, 50);
    EXPECT_EQ(r.Width, 800);
    EXPECT_TRUE(r.Valid);

    r = FixWindowPlacement({10, 10, 1000, 300, true}, 0, 0, 1920, 1080);
    EXPECT_EQ(r.Width, 960);
    EXPECT_EQ(r.Height, 620);
    r = FixWindowPlacement({10, 10, 639, 700, true}, 0, 0, 1920, 1080);
    EXPECT_EQ(r.Width, 960);

    // left may hang 200 px off the left edge, top may not go above the screen
    EXPECT_EQ(FixWindowPlacement({-200, 0, 960, 620}, 0, 0, 1920, 1080).Left, -200);
    EXPECT_EQ(FixWindowPlacement({-201, 0, 960, 620}, 0, 0, 1920, 1080).Left, 100);
    EXPECT_EQ(FixWindowPlacement({1820, 0, 960, 620}, 0, 0, 1920, 1080).Left, 1820);
    EXPECT_EQ(FixWindowPlacement({1821, 0, 960, 620}, 0, 0, 1920, 1080).Left, 100);
    EXPECT_EQ(FixWindowPlacement({0, -1, 960, 620}, 0, 0, 1920, 1080).Top, 100);
    EXPECT_EQ(FixWindowPlacement({0, 980, 960, 620}, 0, 0, 1920, 1080).Top, 980);
    EXPECT_EQ(FixWindowPlacement({0, 981, 960, 620}, 0, 0, 1920, 1080).Top, 100);
    // a second monitor left of the primary one
    EXPECT_EQ(FixWindowPlacement({-1500, 0, 960, 620}, -1920, 0, 3840, 1080).Left, -1500);
    // extreme stored values do not overflow the comparison
    EXPECT_EQ(FixWindowPlacement({INT32_MAX, INT32_MIN, 960, 620}, 0, 0, 1920, 1080).Left, 100);
}

TEST(Text, TrimLowerAndUtf) {
    EXPECT_EQ(Trim(u"\x01 \t a b \r\n\x20"), u"a b");
    EXPECT_EQ(Trim(u"\u00a0x\u00a0"), u"\u00a0x\u00a0");  // only codes up to 32
    EXPECT_EQ(AsciiLower(u"ABC\u00c4xyZ"), u"abc\u00c4xyz");
    EXPECT_EQ(Utf8ToUtf16("a\xE2\x82\xAC\xF0\x9F\x98\x80"), u"a\u20AC\U0001F600");
    EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xC3"
                          "A"),
              u"\uFFFD"
              "A");
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD");  // encoded surrogate
    EXPECT_EQ(Utf8ToUtf16("\xFF\xFE"), u"\uFFFD\uFFFD");
    EXPECT_EQ(Utf16ToUtf8(u"a\u20AC\U0001F600"), "a\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(IntToText(-42), u"-42");
}
