#include <gtest/gtest.h>

#include "settings/uPortRules.h"

TEST(PortRules, PortNumberReadsEveryDigit) {
    EXPECT_EQ(PortNumber(u"COM3"), 3u);
    EXPECT_EQ(PortNumber(u"COM12"), 12u);
    EXPECT_EQ(PortNumber(u"COM"), 0u);
    EXPECT_EQ(PortNumber(u""), 0u);
    EXPECT_EQ(PortNumber(u"C1O2M3"), 123u);       // digits anywhere count
    EXPECT_EQ(PortNumber(u"COM\uFF13"), 0u);      // full-width digits are not digits
    EXPECT_EQ(PortNumber(u"COM4294967297"), 1u);  // wraps instead of overflowing
}

TEST(PortRules, SortIsByNumberAndStable) {
    TPortArray ports = {{u"COM10", u""}, {u"COM2", u""}, {u"COM1", u""}};
    SortPortsByNumber(ports);
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0].Name, u"COM1");
    EXPECT_EQ(ports[1].Name, u"COM2");
    EXPECT_EQ(ports[2].Name, u"COM10");

    // equal numbers (no digits count as 0, duplicates) keep their registry order
    TPortArray same = {{u"COM5", u"first"}, {u"CNCA", u"x"},      {u"COM5", u"second"},
                       {u"CNCB", u"y"},     {u"COM05", u"third"}, {u"COM1", u""}};
    SortPortsByNumber(same);
    const TPortArray expect = {{u"CNCA", u"x"},     {u"CNCB", u"y"},      {u"COM1", u""},
                               {u"COM5", u"first"}, {u"COM5", u"second"}, {u"COM05", u"third"}};
    EXPECT_EQ(same, expect);

    TPortArray empty;
    SortPortsByNumber(empty);
    EXPECT_TRUE(empty.empty());
}

TEST(PortRules, SanitizeReplacesFileNameUnsafeCharacters) {
    EXPECT_EQ(SanitizeFriendlyName(u"Modem A/B"), u"Modem A_B");
    EXPECT_EQ(SanitizeFriendlyName(u"a\\b/c:d*e?f\"g<h>i|j"), u"a_b_c_d_e_f_g_h_i_j");
    EXPECT_EQ(SanitizeFriendlyName(u"USB-to-Serial Comm Port"), u"USB-to-Serial Comm Port");
    EXPECT_EQ(SanitizeFriendlyName(u"\u00C4rger (\u00FC) [x]"), u"\u00C4rger (\u00FC) [x]");
    // line breaks and other control characters cannot stand in a file name either
    EXPECT_EQ(SanitizeFriendlyName(u"A\r\nB\tC"), u"A__B_C");
    EXPECT_EQ(SanitizeFriendlyName(u""), u"");
}
