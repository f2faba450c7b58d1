// Log files: the line prefix, the text line, the file names and the folder
// rules, and the model's line sink the text log is built on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/uText.h"
#include "settings/uSettingsRules.h"
#include "terminal/uLogFormat.h"
#include "terminal/uTermModel.h"

namespace {

// 2026-12-07 14:03:22.517
constexpr TDateTime kSample = 46363 + (14 * 3600 + 3 * 60 + 22.517) / 86400;

std::string Stamp(TDateTime t) {
    std::string s;
    AppendLogStamp(s, t);
    return s;
}

struct TSeen {
    std::vector<std::u16string> Lines;
    std::vector<TDateTime> Times;
    static void Sink(void* self, std::u16string_view text, TDateTime time) {
        static_cast<TSeen*>(self)->Lines.emplace_back(text);
        static_cast<TSeen*>(self)->Times.push_back(time);
    }
};

}  // namespace

TEST(LogFormat, StampsAndLinesAreFixedWidthUtf8WithCrLf) {
    EXPECT_EQ(Stamp(kSample), "2026-12-07 14:03:22.517 ");
    EXPECT_EQ(Stamp(kSample).size(), kLogStampLength);
    // Rounding to the millisecond carries into the next day and year.
    EXPECT_EQ(Stamp(45657 + 86399.9996 / 86400), "2025-01-01 00:00:00.000 ");
    EXPECT_EQ(Stamp(45351 + 0.5), "2024-02-29 12:00:00.000 ");
    EXPECT_EQ(Stamp(0), "1899-12-30 00:00:00.000 ");
    EXPECT_EQ(Stamp(-3.5), "1899-12-30 00:00:00.000 ") << "never a malformed prefix";

    // A stream of lines: the prefix follows each line's time.
    std::string out;
    TLogLines lines;
    lines.Append(out, u"A\u00e9\u20ac\U0001F600", kSample);
    lines.Append(out, u"", kSample);
    lines.Append(out, std::u16string(u"x\xD800y\xDC00", 4), kSample + 0.001 / 86400);
    EXPECT_EQ(out,
              "2026-12-07 14:03:22.517 A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\r\n"
              "2026-12-07 14:03:22.517 \r\n"
              "2026-12-07 14:03:22.518 x\xEF\xBF\xBDy\xEF\xBF\xBD\r\n");
}

TEST(LogFormat, FileNamesAreSafeDatedAndNumbered) {
    EXPECT_EQ(LogFileStem(u"COM3", kSample), u"COM3_2026-12-07_14-03-22");
    EXPECT_EQ(SafeFileName(u"a<b>c:d\"e/f\\g|h?i*j\tk"), u"a_b_c_d_e_f_g_h_i_j_k");
    EXPECT_EQ(SafeFileName(u"router. ."), u"router___");
    EXPECT_EQ(SafeFileName(u""), u"log");
    EXPECT_EQ(SafeFileName(u"\u041a\u0438\u0457\u0432 lab"), u"\u041a\u0438\u0457\u0432 lab");
    // A device name before the first dot would open the device, not a file.
    EXPECT_EQ(LogFileStem(u"nul.box", kSample), u"nul_.box_2026-12-07_14-03-22");
    EXPECT_EQ(LogFileStem(u"Com9 .x", kSample), u"Com9 _.x_2026-12-07_14-03-22");
    EXPECT_EQ(LogFileStem(u"com10.x", kSample), u"com10.x_2026-12-07_14-03-22");
    // Long names are cut, never inside a surrogate pair.
    std::u16string longName(kLogNameMax - 1, u'n');
    longName += u"\U0001F600";
    EXPECT_EQ(SafeFileName(longName), std::u16string(kLogNameMax - 1, u'n'));

    EXPECT_EQ(LogFileName(u"s", 1, false), u"s.log");
    EXPECT_EQ(LogFileName(u"s", 2, false), u"s_2.log");
    EXPECT_EQ(LogFileName(u"s", 13, true), u"s_13.bin");
}

TEST(LogFormat, FolderRulesResolveAgainstTheSettingsFile) {
    const std::u16string ini = u"C:\\TC\\plugins\\kestrelink.ini";
    EXPECT_EQ(ResolveLogFolder(ini, u""), u"C:\\TC\\plugins\\logs");
    EXPECT_EQ(ResolveLogFolder(ini, u"  sub/dir/ "), u"C:\\TC\\plugins\\sub\\dir");
    EXPECT_EQ(ResolveLogFolder(ini, u"D:\\Logs\\"), u"D:\\Logs");
    EXPECT_EQ(ResolveLogFolder(ini, u"D:logs"), u"D:\\logs");
    EXPECT_EQ(ResolveLogFolder(ini, u"\\logs"), u"C:\\logs");
    EXPECT_EQ(ResolveLogFolder(u"\\\\srv\\share\\tc\\k.ini", u"\\logs"), u"\\\\srv\\share\\logs");
    EXPECT_EQ(ResolveLogFolder(ini, u"\\\\srv\\share\\logs"), u"\\\\srv\\share\\logs");

    for (const char16_t* ok : {u"", u"logs", u"C:\\x y\\z", u"\\\\srv\\s", u"a.b/c"})
        EXPECT_TRUE(IsValidLogFolder(ok)) << Utf16ToUtf8(ok);
    for (const char16_t* bad : {u"a|b", u"C:\\a:b", u"1:\\x", u"a*", u"a\"b", u"a\tb", u"<x>"})
        EXPECT_FALSE(IsValidLogFolder(bad)) << Utf16ToUtf8(bad);
    EXPECT_FALSE(IsValidLogFolder(std::u16string(kMaxLogFolderLength + 1, u'a')));
}

TEST(LogFormat, ModelHandsEveryFinishedLineToItsSinkOnce) {
    TTermModel m(100);
    TDateTime now = kSample;
    m.Clock = [&] { return now; };
    TSeen seen;
    m.SetLineSink(&TSeen::Sink, &seen);

    // 300 lines in one read, three times the history depth: all reach the
    // sink, with colours removed and the times of their first bytes.
    std::string burst;
    for (int i = 0; i < 300; ++i) burst += "\x1b[31mline " + std::to_string(i) + "\x1b[0m\r\n";
    m.Feed(burst.data(), int32_t(burst.size()));
    ASSERT_EQ(seen.Lines.size(), 300u);
    EXPECT_EQ(seen.Lines[0], u"line 0");
    EXPECT_EQ(seen.Lines[299], u"line 299");
    EXPECT_EQ(seen.Times[299], kSample);

    // Split reads, a backspace, the hard wrap and an empty line; the time of
    // a line is its first byte's, of an empty one the byte that ended it.
    seen = {};
    now = kSample + 1;
    m.Feed("ab", 2);
    now = kSample + 2;
    m.Feed("X\bc\r", 4);
    m.Feed("\n", 1);
    const std::string wide(5000, 'w');
    m.Feed(wide.data(), int32_t(wide.size()));
    now = kSample + 3;
    m.Feed("\r\n", 2);
    ASSERT_EQ(seen.Lines.size(), 3u);
    EXPECT_EQ(seen.Lines[0], u"abc");
    EXPECT_EQ(seen.Times[0], kSample + 1);
    EXPECT_EQ(seen.Lines[1].size(), 4096u) << "the wrap finishes a line";
    EXPECT_EQ(seen.Lines[2].size(), 904u);
    EXPECT_EQ(seen.Times[2], kSample + 2);
    m.Feed("\n", 1);  // Auto mode: CR LF ended one line, this LF ends an empty one
    ASSERT_EQ(seen.Lines.size(), 4u);
    EXPECT_EQ(seen.Lines[3], u"");
    EXPECT_EQ(seen.Times[3], kSample + 3);

    // Decoding again hands nothing out a second time; the sink stays set.
    m.Encoding = TTermModel::kLatin1;
    m.Rebuild();
    m.SetHistoryLines(500);
    EXPECT_EQ(seen.Lines.size(), 4u);
    m.Feed("z\n", 2);
    EXPECT_EQ(seen.Lines.size(), 5u);
    m.SetLineSink(nullptr, nullptr);
    m.Feed("q\n", 2);
    EXPECT_EQ(seen.Lines.size(), 5u);
}
