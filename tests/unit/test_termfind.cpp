// Find in the output: text matches in lines (case, line bounds, stepping with
// wrap-around, counting in slices, matches leaving with the history), byte
// matches in the hex view (query forms, row boundaries, highlight columns,
// drops and Clear) and the arrival time of each hex row.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/uText.h"
#include "terminal/uTermFind.h"
#include "termmodel_util.h"

using namespace tm_test;

namespace {

void FeedU(TTermModel& m, std::u16string_view s) { Feed(m, Utf16ToUtf8(s)); }

// Every match by stepping Next from the start until it wraps.
std::vector<TTextMatch> StepAll(const TTermModel& m, const TTextQuery& q) {
    std::vector<TTextMatch> out;
    TTextFound f = FindNextText(m, q, TextStart(m));
    while (f.Found && !f.Wrapped) {
        out.push_back(f.Match);
        f = FindNextText(m, q, {f.Match.Line, f.Match.Column + 1});
    }
    return out;
}

int64_t CountInSlices(TTextMatchCounter& c, const TTermModel& m, int64_t units, int* steps) {
    *steps = 1;
    while (!c.Step(m, units)) ++*steps;
    return c.Total();
}

}  // namespace

TEST(TermFind, TextMatchesStayInLinesAndFoldCase) {
    TTermModel m;
    FeedU(m, u"Error at boot\r\nno ERROR\r\nerr\r\nor\r\n");
    FeedU(m, u"\u00C9T\u00C9 \u0416\u0423\u041A \u03A3\u039F\u03A6\u0399\u0391 \u00E9t\u00E9\r\n");
    FeedU(m, u"aaaa\r\n");
    const TTextQuery ignore(u"error", false), exact(u"ERROR", true);
    EXPECT_EQ(StepAll(m, ignore), (std::vector<TTextMatch>{{0, 0, 5}, {1, 3, 5}}));
    EXPECT_EQ(StepAll(m, exact), (std::vector<TTextMatch>{{1, 3, 5}}));
    EXPECT_EQ(TTextQuery(u"\u00E9t\u00E9", false).CountIn(m.LineTextView(4)), 2);
    EXPECT_EQ(TTextQuery(u"\u0436\u0443\u043A", false).CountIn(m.LineTextView(4)), 1);
    EXPECT_EQ(TTextQuery(u"\u03C3\u03BF\u03C6\u03B9\u03B1", false).CountIn(m.LineTextView(4)), 1);
    EXPECT_EQ(TTextQuery(u"\u00E9t\u00E9", true).CountIn(m.LineTextView(4)), 1);
    EXPECT_EQ(FoldCase(u'\u03C2'), FoldCase(u'\u03A3'));  // final sigma
    EXPECT_EQ(FoldCase(u'\u0178'), u'\u00FF');
    // taken from the left without overlapping
    EXPECT_EQ(StepAll(m, TTextQuery(u"aa", true)), (std::vector<TTextMatch>{{5, 0, 2}, {5, 2, 2}}));
    EXPECT_TRUE(StepAll(m, TTextQuery(u"", false)).empty());
}

TEST(TermFind, NextAndPreviousGoRoundTheEnds) {
    TTermModel m;
    Feed(m, "one x\r\ntwo\r\nx three x\r\nfour");
    const TTextQuery q(u"x", true);
    // opening the bar: the match nearest the newest output
    TTextFound f = FindPrevText(m, q, TextEnd(m));
    EXPECT_TRUE(f.Found && !f.Wrapped);
    EXPECT_EQ(f.Match, (TTextMatch{2, 8, 1}));
    f = FindPrevText(m, q, {2, 8});
    EXPECT_EQ(f.Match, (TTextMatch{2, 0, 1}));
    f = FindPrevText(m, q, {2, 0});
    EXPECT_EQ(f.Match, (TTextMatch{0, 4, 1}));
    f = FindPrevText(m, q, {0, 4});
    EXPECT_TRUE(f.Found && f.Wrapped);
    EXPECT_EQ(f.Match, (TTextMatch{2, 8, 1}));
    f = FindNextText(m, q, {2, 9});
    EXPECT_TRUE(f.Found && f.Wrapped);
    EXPECT_EQ(f.Match, (TTextMatch{0, 4, 1}));
    // a single match finds itself after going round
    f = FindNextText(m, TTextQuery(u"two", true), {1, 1});
    EXPECT_TRUE(f.Found && f.Wrapped);
    EXPECT_EQ(f.Match, (TTextMatch{1, 0, 3}));
    EXPECT_FALSE(FindNextText(m, TTextQuery(u"zzz", false), TextStart(m)).Found);
    EXPECT_FALSE(FindPrevText(m, TTextQuery(u"zzz", false), TextEnd(m)).Found);
    // the visible rows only
    std::vector<TTextMatch> seen;
    TextMatchesInRows(m, q, 1, 2, seen);
    EXPECT_EQ(seen, (std::vector<TTextMatch>{{2, 0, 1}, {2, 8, 1}}));
}

TEST(TermFind, CountInSlicesAndMatchesLeavingWithTheHistory) {
    TTermModel m(100);
    for (int i = 0; i < 100; ++i)
        Feed(m, "line " + std::to_string(i) + (i % 3 ? "\r\n" : " ab ab\r\n"));
    Feed(m, "ab");  // on the open line
    const TTextQuery q(u"AB", false);
    TTextMatchCounter counter(q);
    int steps = 0;
    EXPECT_EQ(CountInSlices(counter, m, 64, &steps), 2 * 34 + 1);
    EXPECT_GT(steps, 10);
    const std::vector<TTextMatch> all = StepAll(m, q);
    ASSERT_EQ(all.size(), 69u);
    EXPECT_EQ(counter.IndexOf(m, all[0]), 1);
    EXPECT_EQ(counter.IndexOf(m, all[17]), 18);
    EXPECT_EQ(counter.IndexOf(m, all[68]), 69);
    EXPECT_EQ(counter.IndexOf(m, {all[0].Line, all[0].Column + 1, 2}), 0);  // not a match

    // Fifty more lines push the first fifty out: their matches leave, a
    // current match among them is gone, and what stays keeps its number.
    const TTextMatch gone = all[0], kept = all[40];
    for (int i = 0; i < 50; ++i) Feed(m, "\r\nmore");
    EXPECT_FALSE(IsTextMatchLive(m, q, gone));
    EXPECT_EQ(counter.IndexOf(m, gone), 0);
    EXPECT_TRUE(IsTextMatchLive(m, q, kept));
    EXPECT_EQ(
        m.LineTextView(int32_t(kept.Line - m.FirstLineNumber())).substr(size_t(kept.Column), 2),
        u"ab");
    TTextMatchCounter fresh(q);
    fresh.Step(m, INT64_MAX);
    EXPECT_EQ(CountInSlices(counter, m, 100, &steps), fresh.Total());
    EXPECT_EQ(counter.IndexOf(m, kept), fresh.IndexOf(m, kept));
    EXPECT_EQ(counter.IndexOf(m, kept), 40 - 2 * 17 + 1);

    // a backspace takes a match off the open line
    Feed(m, "\r\nxab");
    const TTextMatch open = FindPrevText(m, q, TextEnd(m)).Match;
    EXPECT_TRUE(IsTextMatchLive(m, q, open));
    Feed(m, "\b");
    EXPECT_FALSE(IsTextMatchLive(m, q, open));
    // Rebuild numbers the lines afresh: every old match is gone, and the counter starts again
    m.Rebuild();
    EXPECT_FALSE(IsTextMatchLive(m, q, kept));
    EXPECT_EQ(CountInSlices(counter, m, 1 << 20, &steps), 35);
}

TEST(TermFind, HexQueryForms) {
    THexQuery q = ParseHexQuery(u"0d 0A", 0);
    EXPECT_TRUE(q.Ok && q.Kind == THexQueryKind::HexDigits && q.Bytes == "\r\n");
    q = ParseHexQuery(u"DEADBEEF", 2);
    EXPECT_EQ(q.Bytes, "\xDE\xAD\xBE\xEF");
    q = ParseHexQuery(u"0d 0", 0);
    EXPECT_TRUE(!q.Ok && q.Error == TSendError::OddHexDigits && q.ErrorPos == 3 && q.Bytes.empty());
    EXPECT_TRUE(THexSearch(q, 0, false).Empty());
    q = ParseHexQuery(u"\u00E9 ok", 0);
    EXPECT_TRUE(q.Ok && q.Kind == THexQueryKind::Text && q.Bytes == "\xC3\xA9 ok");
    EXPECT_EQ(ParseHexQuery(u"\u00E9 ok", 1).Bytes, "\xE9 ok");
    EXPECT_EQ(ParseHexQuery(u"\u00E9 ok", 2).Bytes, "? ok");
    EXPECT_EQ(ParseHexQuery(u"  ", 0).Kind, THexQueryKind::Text);
    EXPECT_EQ(ParseHexQuery(u"", 0).Kind, THexQueryKind::Empty);
}

TEST(TermFind, HexMatchesAcrossRowsWithTheirColumns) {
    TTermModel m;
    m.SetHexBytesPerLine(10);
    Feed(m, "0123456789ABCDEFGHIJ\r\n..hij6789ab");
    const THexSearch hex(ParseHexQuery(u"37 38 39 41 42", 0), 0, false);
    THexFound f = FindNextHex(m, hex, m.RawBase());
    ASSERT_TRUE(f.Found);
    EXPECT_EQ(f.Match.Offset, 7);
    const std::vector<THexSpan> spans = HexMatchSpans(m, f.Match);
    ASSERT_EQ(spans.size(), 2u);
    for (const THexSpan& s : spans) {
        const std::u16string line = m.HexLine(s.Row);
        EXPECT_EQ(line.substr(size_t(s.CharFrom), size_t(s.CharTo - s.CharFrom)),
                  s.Row == 0 ? u"789" : u"AB");
        EXPECT_EQ(line.substr(size_t(s.HexFrom), size_t(s.HexTo - s.HexFrom)),
                  s.Row == 0 ? u"37  38 39" : u"41 42");  // the gap after the eighth byte
    }
    EXPECT_EQ(spans[0].FirstByte, 7);
    EXPECT_EQ(spans[1].Bytes, 2);
    // text form: case folded unless asked; Next and Previous step and wrap
    const THexSearch text(ParseHexQuery(u"Hij", 0), 0, false);
    f = FindPrevHex(m, text, m.RawBase() + m.RawCount());
    EXPECT_TRUE(f.Found && !f.Wrapped);
    EXPECT_EQ(f.Match.Offset, 24);
    EXPECT_EQ(FindPrevHex(m, text, 24).Match.Offset, 17);
    f = FindNextHex(m, text, 25);
    EXPECT_TRUE(f.Wrapped && f.Match.Offset == 17);
    const THexSearch exact(ParseHexQuery(u"HIJ", 0), 0, true);
    EXPECT_EQ(FindNextHex(m, exact, 18).Match.Offset, 17);
    std::vector<THexMatch> seen;
    HexMatchesInRows(m, text, 1, 1, seen);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].Offset, 17);
    // overlapping byte matches all count
    TTermModel zeros;
    zeros.Feed(std::string(5, '\0').data(), 5);
    THexMatchCounter c(THexSearch(ParseHexQuery(u"0000", 0), 0, false));
    EXPECT_TRUE(c.Step(zeros));
    EXPECT_EQ(c.Total(), 4);
}

TEST(TermFind, HexMatchesLeaveWithDroppedBytesAndClear) {
    TTermModel m;
    m.SetRawLimitsForTesting(256 * 1024, 128 * 1024);
    const THexSearch q(ParseHexQuery(u"<mark>", 0), 0, true);
    std::string block(1000, '.');
    block.replace(500, 6, "<mark>");
    std::vector<THexMatch> firsts;
    THexMatchCounter counter(q);
    for (int i = 0; i < 600; ++i) {  // 600 kB through a 256 KiB store
        Feed(m, block);
        if (i % 37 == 0) counter.Step(m, 20000);
        if (i == 0) firsts.push_back(FindNextHex(m, q, 0).Match);
    }
    EXPECT_GT(m.RawBase(), 0);
    EXPECT_FALSE(IsHexMatchLive(m, q, firsts[0]));
    EXPECT_TRUE(HexMatchSpans(m, firsts[0]).empty());
    while (!counter.Step(m, 20000)) {
    }
    THexMatchCounter fresh(q);
    fresh.Step(m, INT64_MAX);
    EXPECT_EQ(counter.Total(), fresh.Total());
    const THexMatch last = FindPrevHex(m, q, m.RawBase() + m.RawCount()).Match;
    EXPECT_EQ(counter.IndexOf(m, last), counter.Total());
    EXPECT_EQ(last.Offset, 599 * 1000 + 500);
    // Clear: offsets start again at 0, so the old match must not name new bytes
    m.Reset();
    Feed(m, block);
    const THexMatch again = FindNextHex(m, q, 0).Match;
    EXPECT_EQ(again.Offset, 500);
    EXPECT_FALSE(IsHexMatchLive(m, q, {500, 6, last.Epoch}));
    EXPECT_TRUE(IsHexMatchLive(m, q, again));
    EXPECT_TRUE(counter.Step(m));
    EXPECT_EQ(counter.Total(), 1);
}

TEST(TermFind, HexRowTimeIsTheArrivalOfItsFirstByte) {
    TTermModel m;
    TFakeClock clock;
    m.Clock = clock.Fn();
    m.SetHexBytesPerLine(8);
    const TDateTime t0 = clock.now;
    Feed(m, "0123456789");  // row 0, and row 1 begun
    clock.now = t0 + 1.0 / 86400;
    Feed(m, "ABCDEFGHIJ");  // row 1 ends, row 2 whole
    EXPECT_EQ(m.HexRowTime(0), t0);
    EXPECT_EQ(m.HexRowTime(1), t0);  // two reads: the first one's time
    EXPECT_EQ(m.HexRowTime(2), clock.now);
    EXPECT_EQ(m.HexRowTime(3), 0);
    EXPECT_EQ(m.HexRowTime(-1), 0);
    // still right once the front is dropped
    m.SetRawLimitsForTesting(16, 8);
    m.Clock = clock.Fn();
    Feed(m, "abcdefghijkl");
    clock.now += 1.0 / 86400;
    Feed(m, "mnopqrst");  // 20 bytes: the first 8 go
    EXPECT_EQ(m.RawBase(), 8);
    EXPECT_EQ(m.HexRowTime(0), clock.now - 1.0 / 86400);
    EXPECT_EQ(m.HexRowTime(1), clock.now);
}
