// TTermModel storage: the history ring, the line store's byte budget and the
// pool it shares, the raw store with its 8 MiB cap and chunk times, Rebuild,
// SetHistoryLines, Reset, timestamps and the hex dump.
#include <gtest/gtest.h>

#include <climits>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "termmodel_util.h"

using namespace tm_test;

namespace {

// A time of day on day 45000 (2023-03-15).
TDateTime At(int h, int m, int s, int ms) {
    return 45000.0 + (((h * 60 + m) * 60 + s) * 1000 + ms) / 86400000.0;
}

std::string Numbered(int from, int to) {
    std::string s;
    for (int i = from; i <= to; ++i) s += "L" + std::to_string(i) + "\r\n";
    return s;
}

// Line k of a flood, as a port at the wrong baud rate delivers it: 4095 units
// of printable noise that start with k, in colour k % 8, in a read of its own
// at millisecond k.
std::string FloodText(int k) {
    static std::string noise;
    for (uint32_t x = 1; noise.size() < 8192;)
        noise += char(0x21 + ((x = x * 69069 + 1) >> 16) % 94);
    const std::string head = std::to_string(k) + ":";
    return head + noise.substr(size_t(k % 4000), 4095 - head.size());
}

void Flood(TTermModel& m, TFakeClock& clock, int from, int to) {
    for (int k = from; k < to; ++k) {
        clock.now = 45000.0 + k / 86400000.0;
        Feed(m, "\x1b[3" + std::to_string(k % 8) + "m" + FloodText(k) + "\n");
    }
}

// The `n` newest finished lines are flood lines up to `last`, whole.
bool NewestFloodIntact(const TTermModel& m, int last, int n) {
    for (int j = 0, i = m.LineCount() - 2; j < n; ++j, --i)
        if (m.LineText(i) != A(FloodText(last - j)) ||
            m.LineTime(i) != 45000.0 + (last - j) / 86400000.0 ||
            m.LineAttrs(i) != std::u16string(4095, char16_t(0x0200 | (last - j) % 8)))
            return false;
    return n > 0;
}

}  // namespace

// ---------------------------------------------------------------- history ring

TEST(TermStore, RingKeepsDepthPlusTheOpenLine) {
    TTermModel m(100);
    EXPECT_EQ(m.HistoryLines(), 100);
    Feed(m, Numbered(1, 150));
    ASSERT_EQ(m.LineCount(), 101);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(m.LineText(i), A("L" + std::to_string(51 + i))) << i;
    EXPECT_EQ(m.LineText(100), u"") << "the line being written";
    EXPECT_EQ(m.FirstLineNumber(), 50) << "one for each line that left";
    EXPECT_EQ(m.LineText(101), u"");
    EXPECT_EQ(m.LineText(-1), u"");
    EXPECT_EQ(m.LineAttrs(-1), u"");
    EXPECT_EQ(m.LineAttrs(101), u"");
    EXPECT_EQ(m.TimestampPrefix(101), u"");
}

TEST(TermStore, RingSurvivesManyWrapsWithLinesOfEverySize) {
    // long runs through the ring and its arena blocks, lengths 0..4096 and wraps
    for (int depth : {100, 1000}) {
        TTermModel m(depth);
        std::vector<std::string> sent;
        uint32_t seed = 7;
        for (int i = 0; i < 20 * depth; ++i) {
            seed = seed * 1103515245 + 12345;
            const int len =
                (seed >> 16) % 7 == 0 ? int((seed >> 8) % 4097) : int((seed >> 16) % 120);
            std::string line(size_t(len), char('a' + i % 26));
            if (!line.empty()) line[0] = char('A' + i % 26);
            sent.push_back(line);
            Feed(m, line + "\n");
        }
        ASSERT_EQ(m.LineCount(), depth + 1);
        for (int i = 0; i < depth; ++i)
            ASSERT_EQ(m.LineText(i), A(sent[sent.size() - size_t(depth) + size_t(i)])) << i;
        EXPECT_LT(m.LineStoreBytes(), size_t(depth) * 4096 * 4 + (2u << 20))
            << "blocks are released";
    }
}

TEST(TermStore, LineStoreIsCompact) {
    // 100000 lines of 80 characters: at most 6 bytes per stored character,
    // text, attributes and line overhead together
    TTermModel m(100000);
    const std::string line = std::string(80, 'x') + "\r\n";
    std::string block;
    for (int i = 0; i < 50; ++i) block += line;
    for (int i = 0; i < 2000; ++i) Feed(m, block);
    ASSERT_EQ(m.LineCount(), 100001);
    const double perChar = double(m.LineStoreBytes()) / (100000.0 * 80.0);
    EXPECT_LE(perChar, 6.0);
    RecordProperty("line_store_bytes_per_char", std::to_string(perChar));
}

TEST(TermStore, MaxLineLengthIsTheWidestSinceTheLastClear) {
    TTermModel m(100);
    Feed(m, std::string(300, 'w') + "\r\n" + Numbered(1, 200));
    EXPECT_EQ(m.MaxLineLength(), 300) << "kept after the widest line left the ring";
    m.Rebuild();
    EXPECT_EQ(m.MaxLineLength(), 300) << "rebuilt from raw, which still holds it";
    m.Reset();
    EXPECT_EQ(m.MaxLineLength(), 0);
    Feed(m, "abc");
    EXPECT_EQ(m.MaxLineLength(), 3) << "the open line counts";
}

TEST(TermStore, CreateAndSetHistoryLinesClamp) {
    EXPECT_EQ(TTermModel(5).HistoryLines(), 100);
    EXPECT_EQ(TTermModel(-1).HistoryLines(), 100);
    EXPECT_EQ(TTermModel(INT32_MAX).HistoryLines(), 1000000);
    TTermModel m(100);
    m.SetHistoryLines(99);
    EXPECT_EQ(m.HistoryLines(), 100);
    m.SetHistoryLines(2000000);
    EXPECT_EQ(m.HistoryLines(), 1000000);
    m.SetHistoryLines(500);
    EXPECT_EQ(m.HistoryLines(), 500);
    m.SetHistoryLines(INT32_MIN);
    EXPECT_EQ(m.HistoryLines(), 100);
}

TEST(TermStore, SetHistoryLinesRebuildsOnlyOnAChange) {
    TTermModel m(100);
    Feed(m, "caf\xC3\xA9");
    m.Encoding = TTermModel::kLatin1;  // changed, Rebuild not called
    m.SetHistoryLines(100);            // same depth: nothing happens
    EXPECT_EQ(m.LineText(0), u"caf\u00E9");
    m.SetHistoryLines(150);  // a change: lines decoded again from raw
    EXPECT_EQ(m.LineText(0), u"caf\u00C3\u00A9");
}

TEST(TermStore, SetHistoryLinesShrinksToTheNewestAndGrowsBackFromRaw) {
    TTermModel m(1000);
    Feed(m, Numbered(1, 500));
    m.SetHistoryLines(100);
    ASSERT_EQ(m.LineCount(), 101);
    EXPECT_EQ(m.LineText(0), u"L401");
    m.SetHistoryLines(1000);
    ASSERT_EQ(m.LineCount(), 501);
    EXPECT_EQ(m.LineText(0), u"L1") << "raw still holds every line";
}

// ---------------------------------------------------------------- byte budget

// The flood into the deepest history, at the real budget: the store fills it
// and stays there, the newest lines are whole, every line that left counts.
TEST(TermStore, FloodOfLongLinesStaysWithinTheBudget) {
    TFakeClock clock;
    TTermModel m(100000);
    m.Clock = clock.Fn();
    EXPECT_EQ(m.LineBudget(), sizeof(void*) == 4 ? size_t(64) << 20 : size_t(256) << 20);
    const int fit = int(kTermLineBudget / (4095 * 4)), lines = fit * 5 / 4;
    Flood(m, clock, 0, lines);
    EXPECT_LE(m.LineStoreBytes(), kTermLineBudget);
    EXPECT_GE(m.LineCount(), fit * 9 / 10) << "the budget is used";
    EXPECT_EQ(m.FirstLineNumber() + m.LineCount(), lines + 1);
    EXPECT_EQ(m.LineText(0), A(FloodText(int(m.FirstLineNumber()))));
    EXPECT_TRUE(NewestFloodIntact(m, lines - 1, 100));
}

// Eight sessions in one pool of four budgets, flooded in turns, stay within
// it; each keeps its newest lines and only ever drops its own.
TEST(TermStore, PoolOfFloodedModelsStaysWithinItsLimit) {
    constexpr size_t kBudget = size_t(4) << 20;
    auto pool = std::make_unique<TTermBudgetPool>(4 * kBudget);
    TFakeClock clock;
    std::vector<std::unique_ptr<TTermModel>> models;
    auto sum = [&] {
        size_t total = 0;
        for (const auto& m : models) total += m->BudgetPool() ? m->LineStoreBytes() : 0;
        return total;
    };
    for (int i = 0; i < 8; ++i) {
        models.push_back(std::make_unique<TTermModel>(100000));
        models.back()->Clock = clock.Fn();
        models.back()->SetLineBudgetForTesting(kBudget);
        models.back()->SetBudgetPool(pool.get());
    }
    for (int round = 0; round < 100; ++round) {
        for (auto& m : models) Flood(*m, clock, round * 4, round * 4 + 4);
        ASSERT_LE(pool->Total(), pool->Limit()) << "round " << round;
        ASSERT_EQ(pool->Total(), sum()) << "round " << round;
    }
    for (auto& m : models) EXPECT_TRUE(NewestFloodIntact(*m, 399, 90)) << "a fair share each";

    const int64_t quietFirst = models[1]->FirstLineNumber();
    Flood(*models[0], clock, 400, 800);
    EXPECT_EQ(models[1]->FirstLineNumber(), quietFirst) << "never another's lines";
    EXPECT_TRUE(NewestFloodIntact(*models[0], 799, 90));

    // Leaving gives the bytes back; joining a full pool trims the newcomer.
    TTermModel& big = *models[2];
    big.SetBudgetPool(nullptr);
    models.erase(models.begin() + 3);
    EXPECT_EQ(pool->Members(), 6);
    EXPECT_EQ(pool->Total(), sum());
    Flood(big, clock, 400, 1000);
    Flood(*models[3], clock, 400, 700);  // takes half the room the two left
    big.SetBudgetPool(pool.get());
    EXPECT_LE(pool->Total(), pool->Limit());
    EXPECT_LT(big.LineStoreBytes(), kBudget * 3 / 4);
    EXPECT_TRUE(NewestFloodIntact(big, 999, big.LineCount() - 1));
    pool.reset();  // a pool that ends first lets its members go
    EXPECT_EQ(big.BudgetPool(), nullptr);
}

// The budget binds through Rebuild, SetHistoryLines and Reset as the depth
// does, the line numbers going on; short of memory lines leave the same way.
TEST(TermStore, BudgetThroughRebuildHistoryChangesAndReset) {
    constexpr size_t kBudget = size_t(1) << 20;  // four blocks: about 60 flood lines
    TFakeClock clock;
    TTermModel m(1000);
    m.Clock = clock.Fn();
    m.SetLineBudgetForTesting(kBudget);
    Flood(m, clock, 0, 300);
    const int count = m.LineCount();
    EXPECT_LT(count, 100);
    EXPECT_TRUE(NewestFloodIntact(m, 299, count - 1));
    const int64_t before = m.FirstLineNumber() + count;
    m.Rebuild();
    EXPECT_EQ(m.LineCount(), count) << "the same budget for the same lines";
    EXPECT_TRUE(NewestFloodIntact(m, 299, count - 1));
    EXPECT_EQ(m.FirstLineNumber(), before + 301 - count) << "numbered on from before";
    m.SetHistoryLines(5000);
    EXPECT_EQ(m.LineCount(), count);
    EXPECT_LE(m.LineStoreBytes(), kBudget);
    m.SetHistoryLines(100);  // the depth binds first for short lines
    Feed(m, Numbered(1, 500));
    EXPECT_EQ(m.LineText(0), u"L401");
    m.Reset();
    EXPECT_LE(m.LineStoreBytes(), 2 * (256u << 10) + 101 * 24) << "a tail, a spare, the records";

    m.SetLineBudgetForTesting(SIZE_MAX);
    m.FailBlockAllocationsForTesting(3);
    Flood(m, clock, 0, 200);
    EXPECT_LE(m.LineStoreBytes(), 4 * (256u << 10) + 128 * 24);
    EXPECT_GT(m.LineCount(), 40);
    EXPECT_TRUE(NewestFloodIntact(m, 199, m.LineCount() - 1));
}

// ------------------------------------------------------------- times, clock

TEST(TermStore, LineTimeIsTheArrivalOfItsFirstCharacter) {
    TFakeClock clock;
    TTermModel m(100);
    m.Clock = clock.Fn();
    clock.now = At(10, 0, 0, 0);
    Feed(m, "ab");
    clock.now = At(10, 0, 1, 0);
    Feed(m, "c\r\n");
    clock.now = At(10, 0, 2, 0);
    Feed(m, "\r\n");  // an empty line: no character, no time
    clock.now = At(10, 0, 3, 0);
    Feed(m, "\r\n\x1b[31m");  // a line break and a sequence give no time either
    clock.now = At(10, 0, 4, 0);
    Feed(m, "d");
    ASSERT_EQ(Lines(m), A({"abc", "", "", "d"}));
    EXPECT_EQ(m.LineTime(0), At(10, 0, 0, 0));
    EXPECT_EQ(m.LineTime(1), 0);
    EXPECT_EQ(m.TimestampPrefix(1), u"");
    EXPECT_EQ(m.LineTime(2), 0);
    EXPECT_EQ(m.LineTime(3), At(10, 0, 4, 0));
    EXPECT_EQ(m.TimestampPrefix(3), u"[10:00:04.000] ");
    const TTermLine l = m.Line(0);
    EXPECT_EQ(l.Text, u"abc");
    EXPECT_EQ(l.Attrs, std::u16string(3, char16_t(kAttrDefault)));
    EXPECT_EQ(l.Time, At(10, 0, 0, 0));

    // a wrapped line's continuation gets the time of the character that wrapped
    clock.now = At(11, 0, 0, 0);
    Feed(m, "\r\n" + std::string(4096, 'x'));
    clock.now = At(11, 0, 0, 500);
    Feed(m, "y");
    EXPECT_EQ(m.LineTime(m.LineCount() - 2), At(11, 0, 0, 0));
    EXPECT_EQ(m.LineTime(m.LineCount() - 1), At(11, 0, 0, 500));
}

TEST(TermStore, TimestampFormat) {
    EXPECT_EQ(FormatTimestamp(At(13, 5, 9, 45), u':'), u"[13:05:09.045] ");
    EXPECT_EQ(FormatTimestamp(At(0, 0, 0, 0), u':'), u"[00:00:00.000] ");
    EXPECT_EQ(FormatTimestamp(At(23, 59, 59, 999), u':'), u"[23:59:59.999] ");
    EXPECT_EQ(FormatTimestamp(At(9, 8, 7, 6), u'.'), u"[09.08.07.006] ") << "locale separator";
    // every millisecond of a second survives the round trip through a double
    for (int ms = 0; ms < 1000; ++ms) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "[17:42:13.%03d] ", ms);
        ASSERT_EQ(FormatTimestamp(At(17, 42, 13, ms), u':'), A(buf)) << ms;
    }
    TFakeClock clock;
    TTermModel m(100);
    m.Clock = clock.Fn();
    m.TimeSeparator = u'-';
    clock.now = At(1, 2, 3, 4);
    Feed(m, "x");
    EXPECT_EQ(m.TimestampPrefix(0), u"[01-02-03.004] ");
    EXPECT_EQ(m.TimestampPrefix(0).size(), 15u);
}

TEST(TermStore, DefaultClockIsLocalTime) {
    const std::time_t before = std::time(nullptr);
    const TDateTime now = LocalNow();
    std::tm tm{};
    localtime_r(&before, &tm);
    // the local broken-down time read as if it were UTC gives the local serial
    const double expect = double(timegm(&tm)) / 86400.0 + 25569.0;
    EXPECT_NEAR(now, expect, 2.0 / 86400.0);
    EXPECT_GT(now, 43831.0) << "after 2020-01-01";
    TTermModel m(100);
    Feed(m, "x");
    EXPECT_NEAR(m.LineTime(0), LocalNow(), 2.0 / 86400.0);
}

TEST(TermStore, FeedOfNothingDoesNothing) {
    int calls = 0;
    TTermModel m(100);
    m.Clock = [&] {
        ++calls;
        return 45000.0;
    };
    m.Feed("abc", 0);
    m.Feed("abc", -1);
    m.Feed(nullptr, 5);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(m.ChunkCount(), 0);
    EXPECT_EQ(m.RawCount(), 0);
    EXPECT_EQ(m.LineCount(), 1);
}

// ---------------------------------------------------------- Rebuild and raw

TEST(TermStore, RebuildKeepsFirstArrivalTimes) {
    TFakeClock clock;
    TTermModel m(100);
    m.Clock = clock.Fn();
    clock.now = At(8, 0, 0, 0);
    Feed(m, "caf\xC3");
    Feed(m, "\xA9\r\n");  // same time: shares the chunk
    EXPECT_EQ(m.ChunkCount(), 1);
    clock.now = At(8, 0, 1, 0);
    Feed(m, "two ");
    clock.now = At(8, 0, 2, 0);
    Feed(m, "halves\r\nthird");
    EXPECT_EQ(m.ChunkCount(), 3);
    ASSERT_EQ(Lines(m), (std::vector<std::u16string>{u"caf\u00E9", u"two halves", u"third"}));

    int calls = 0;
    m.Clock = [&] {
        ++calls;
        return 99999.0;
    };
    m.Encoding = TTermModel::kLatin1;
    m.Rebuild();
    EXPECT_EQ(calls, 0) << "Rebuild uses the recorded times";
    ASSERT_EQ(Lines(m), (std::vector<std::u16string>{u"caf\u00C3\u00A9", u"two halves", u"third"}));
    EXPECT_EQ(m.LineTime(0), At(8, 0, 0, 0));
    EXPECT_EQ(m.LineTime(1), At(8, 0, 1, 0));
    EXPECT_EQ(m.LineTime(2), At(8, 0, 2, 0));
}

// A slow device sending one byte per read, each read at a new millisecond,
// must not grow the arrival records without bound. Past the limit the older
// records thin out: rebuilt lines keep a time no later than their arrival and
// in arrival order.
TEST(TermStore, ArrivalRecordsStayBoundedForATrickle) {
    TFakeClock clock;
    TTermModel m(1000);
    m.Clock = clock.Fn();
    const int reads = TTermModel::kMaxChunks + TTermModel::kMaxChunks / 2;
    for (int i = 0; i < reads; ++i) {
        clock.now = At(0, 0, 0, 0) + i / 86400000.0;
        Feed(m, i % 10 == 9 ? "\n" : "x");
        ASSERT_LE(m.ChunkCount(), TTermModel::kMaxChunks);
    }
    std::vector<TDateTime> before;
    for (int i = 0; i < m.LineCount(); ++i) before.push_back(m.LineTime(i));
    m.Rebuild();
    ASSERT_EQ(m.LineCount(), int(before.size()));
    for (int i = 1; i < m.LineCount() - 1; ++i) {
        EXPECT_LE(m.LineTime(i), before[size_t(i)]) << i;
        EXPECT_GE(m.LineTime(i), m.LineTime(i - 1)) << i;
        EXPECT_GT(m.LineTime(i), 0) << i;
    }
}

TEST(TermStore, RebuildStartsFromAClearDecoder) {
    TTermModel m(100);
    Feed(m, "\x1b[31mred");
    EXPECT_EQ(m.LineAttrs(0), std::u16string(3, char16_t(0x0201)));
    m.AnsiColors = false;
    m.Rebuild();
    EXPECT_EQ(m.LineAttrs(0), std::u16string(3, char16_t(kAttrDefault)));
    m.AnsiColors = true;
    m.NewlineMode = TTermModel::kNlLf;
    Feed(m, "\x1b[");
    m.Rebuild();  // the half sequence is in raw: it is still pending afterwards
    Feed(m, "32mg");
    EXPECT_EQ(m.LineText(0), u"redg");
    EXPECT_EQ(m.LineAttrs(0).back(), char16_t(0x0202));
}

TEST(TermStore, RawDropAt8MiB) {
    TFakeClock clock;
    TTermModel m(100);
    m.Clock = clock.Fn();
    std::string chunk(4096, 'r');  // 64 lines of 63 characters
    for (size_t i = 63; i < chunk.size(); i += 64) chunk[i] = '\n';
    for (int i = 0; i < 2048; ++i) {
        clock.now = 45000.0 + i / 86400.0;
        Feed(m, chunk);
    }
    EXPECT_EQ(m.RawCount(), 8388608) << "exactly 8 MiB is kept whole";
    EXPECT_EQ(m.RawBase(), 0);
    EXPECT_EQ(m.ChunkCount(), 2048);
    clock.now = 45000.0 + 2048 / 86400.0;
    Feed(m, "Z");
    EXPECT_EQ(m.RawBase(), 2097152);
    EXPECT_EQ(m.RawCount(), 8388609 - 2097152);
    EXPECT_EQ(m.HexLine(0).substr(0, 10), u"00200000  ");
    EXPECT_EQ(m.HexLineCount(), (8388609 - 2097152 + 23) / 24);
    EXPECT_EQ(m.HexLine(m.HexLineCount() - 1).substr(0, 8), u"00800000") << "the last byte alone";
    // the chunk that starts exactly at raw base is now the first
    EXPECT_EQ(m.ChunkCount(), 2049 - 512);
    m.Rebuild();
    // the last 100 lines: 36 from read 2046, 64 from read 2047
    EXPECT_EQ(m.LineTime(0), 45000.0 + 2046 / 86400.0);
    EXPECT_EQ(m.LineTime(35), 45000.0 + 2046 / 86400.0);
    EXPECT_EQ(m.LineTime(36), 45000.0 + 2047 / 86400.0);
    EXPECT_EQ(m.LineText(m.LineCount() - 1), u"Z");
    EXPECT_EQ(m.LineTime(m.LineCount() - 1), 45000.0 + 2048 / 86400.0);
}

TEST(TermStore, RawDropInsideAChunkKeepsThatChunksTime) {
    // 3000-byte reads: raw base 2097152 falls inside read 699 (2097000..2099999)
    TFakeClock clock;
    TTermModel m(100000);
    m.Clock = clock.Fn();
    std::string chunk(3000, 'a');
    chunk[2999] = '\n';
    int reads = 0;
    while (m.RawBase() == 0) {
        clock.now = 45000.0 + reads / 86400.0;
        Feed(m, chunk);
        ++reads;
    }
    EXPECT_EQ(reads, 2797) << "8388608 / 3000 rounded up";
    EXPECT_EQ(m.RawBase(), 2097152);
    m.Rebuild();
    EXPECT_EQ(m.LineText(0).size(), size_t(2099999 - 2097152)) << "the tail of read 699";
    EXPECT_EQ(m.LineTime(0), 45000.0 + 699 / 86400.0);
    EXPECT_EQ(m.LineTime(1), 45000.0 + 700 / 86400.0);
    EXPECT_EQ(m.ChunkCount(), reads - 699);
}

TEST(TermStore, RawDropThroughASequence) {
    // byte 2097152 is the middle of a UTF-8 sequence: the rebuilt text starts
    // with U+FFFD for the orphaned continuation byte
    TTermModel m(2000);
    std::string data(2097151, 'a');
    data += "\xE2\x82\xAC";  // the euro sign straddles offset 2097152
    data += std::string(8388608 - data.size(), 'b');
    Feed(m, data);
    EXPECT_EQ(m.RawBase(), 0);
    Feed(m, "\n");
    ASSERT_EQ(m.RawBase(), 2097152);
    m.Rebuild();
    ASSERT_EQ(m.LineCount(), 1537) << "6291456 characters in full lines, then the open one";
    EXPECT_EQ(m.LineText(0).substr(0, 3), u"\uFFFD\uFFFDb");
}

TEST(TermStore, OneHugeReadStillLeavesAtMost8MiB) {
    TTermModel m(100);
    std::string data(20 * 1048576 + 5, 'h');
    for (size_t i = 0; i < data.size(); i += 100) data[i] = '\n';
    Feed(m, data);
    // dropped 2 MiB at a time until no more than 8 MiB is left
    EXPECT_EQ(m.RawBase(), 14 * 1048576);
    EXPECT_EQ(m.RawCount(), 6 * 1048576 + 5);
    EXPECT_EQ(m.ChunkCount(), 1);
    EXPECT_EQ(m.RawBytes().substr(0, 64), data.substr(14 * 1048576, 64));
    Feed(m, std::string(3 * 1048576, 'i'));
    EXPECT_LE(m.RawCount(), 8388608);
    EXPECT_EQ(m.RawBase() + m.RawCount(), int64_t(data.size()) + 3 * 1048576);
    m.Rebuild();
    EXPECT_EQ(m.LineCount(), 101);
}

TEST(TermStore, ResetForgetsEverything) {
    TTermModel m(100);
    Feed(m, std::string(9 * 1048576, 'x'));
    Feed(m, "\x1b[31mabc\r\ndef\x1b[");
    m.Reset();
    EXPECT_EQ(m.LineCount(), 1);
    EXPECT_EQ(m.LineText(0), u"");
    EXPECT_EQ(m.RawCount(), 0);
    EXPECT_EQ(m.RawBase(), 0);
    EXPECT_EQ(m.ChunkCount(), 0);
    EXPECT_EQ(m.HexLineCount(), 0);
    EXPECT_EQ(m.Attribute(), kAttrDefault);
    Feed(m, "32mx");
    EXPECT_EQ(m.LineText(0), u"32mx") << "the pending escape sequence is gone";
    EXPECT_EQ(m.LineAttrs(0), std::u16string(4, char16_t(kAttrDefault)));
    EXPECT_EQ(m.HexLine(0).substr(0, 8), u"00000000");
}

// ------------------------------------------------------------------ hex dump

TEST(TermStore, HexLineLayout) {
    TTermModel m(100);
    std::string bytes;
    for (int i = 0; i < 24; ++i) bytes += char(i == 1 ? 'A' : i == 2 ? '~' : i == 3 ? 0x7F : i);
    bytes += "Hello";
    Feed(m, bytes);
    EXPECT_EQ(m.HexBytesPerLine(), 24);
    ASSERT_EQ(m.HexLineCount(), 2);
    const std::u16string full =
        u"00000000  00 41 7E 7F 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F  10 11 12 13 14 15 16 17  "
        u".A~" +
        std::u16string(21, u'.');
    EXPECT_EQ(m.HexLine(0), full);
    EXPECT_EQ(m.HexLine(0).size(), 109u) << "8 + 2 + 24 * 3 + 2 + 1 + 24";
    // after the fifth byte: its space, 3 empty columns (9), the group gap,
    // 8 empty columns (24), the gap, 8 more (24), then the space before ASCII
    const std::u16string partial =
        u"00000018  48 65 6C 6C 6F" + std::u16string(1 + 9 + 1 + 24 + 1 + 24 + 1, u' ') + u"Hello";
    EXPECT_EQ(m.HexLine(1), partial) << Show(m.HexLine(1));
    EXPECT_EQ(m.HexLine(1).size(), 109u - 19u) << "the ASCII column holds only the bytes there are";
    EXPECT_EQ(m.HexLine(2), u"");
    EXPECT_EQ(m.HexLine(-1), u"");
    EXPECT_EQ(m.HexLine(INT32_MAX), u"");

    m.SetHexBytesPerLine(1);
    EXPECT_EQ(m.HexLineCount(), 29);
    EXPECT_EQ(m.HexLine(1), u"00000001  41  A");
    m.SetHexBytesPerLine(8);
    EXPECT_EQ(m.HexLine(3),
              u"00000018  48 65 6C 6C 6F" + std::u16string(1 + 9 + 1, u' ') + u"Hello");
    m.SetHexBytesPerLine(0);
    EXPECT_EQ(m.HexBytesPerLine(), 1);
    m.SetHexBytesPerLine(65);
    EXPECT_EQ(m.HexBytesPerLine(), 64);
    EXPECT_EQ(m.HexLine(0).size(), size_t(8 + 2 + 64 * 3 + 7 + 1 + 29)) << "29 bytes on a 64 line";
}

TEST(TermStore, HexHeaderLinesUpWithTheRows) {
    EXPECT_EQ(
        TTermModel::HexHeader(u"Offset", 24),
        u"Offset    00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F  10 11 12 13 14 15 16 17  "
        u"0123456789ABCDEF01234567");
    EXPECT_EQ(TTermModel::HexHeader(u"Verschiebung", 1), u"Verschieb 00  0") << "label cut to 9";
    EXPECT_EQ(TTermModel::HexHeader(u"", 0), TTermModel::HexHeader(u"", 1)) << "width clamped";
    EXPECT_EQ(TTermModel::HexHeader(u"", 99), TTermModel::HexHeader(u"", 64));
    TTermModel m(100);
    Feed(m, std::string(64, 'x'));
    for (int w = 1; w <= 64; ++w) {
        m.SetHexBytesPerLine(w);
        EXPECT_EQ(TTermModel::HexHeader(u"Offset", w).size(), m.HexLine(0).size()) << "width " << w;
    }
}
