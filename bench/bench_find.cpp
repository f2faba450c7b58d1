// Find in a full history: 100,000 lines of 100 characters (a log of words)
// for the text view, and the 8 MiB raw store of the same bytes for the hex
// view. The first match from the end (near the newest output, in the oldest
// line only, and absent, with and without case), the whole count in one go,
// one counting slice, and a needle that almost matches everywhere (where a
// plain Horspool search would turn quadratic). Prints each against the
// window's 50 ms answer budget at the end.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>

#include "terminal/uTermFind.h"

namespace {

constexpr int32_t kLines = 100000;
constexpr int32_t kWidth = 100;

// 100-character lines of words, CR LF; line 0 holds "OLDEST", the last ten
// hold "needle".
std::string LogText() {
    std::mt19937 rng(7);
    static const char* const words[] = {"sensor",  "value", "ok",     "temp=21.5", "rx",
                                        "tx",      "error", "0x3F2A", "status",    "ready",
                                        "timeout", "ack",   "[main]", "id:42"};
    std::string s;
    s.reserve(size_t(kLines) * (kWidth + 2));
    for (int32_t i = 0; i < kLines; ++i) {
        std::string line = i == 0 ? "OLDEST " : i >= kLines - 10 ? "needle " : "";
        while (line.size() < kWidth) line += std::string(words[rng() % 14]) + ' ';
        line.resize(kWidth);
        s += line + "\r\n";
    }
    return s;
}

void FeedAll(TTermModel& m, const std::string& s) {
    for (size_t i = 0; i < s.size(); i += 4096)
        m.Feed(s.data() + i, int32_t(std::min<size_t>(4096, s.size() - i)));
}

TTermModel& LogModel() {
    static TTermModel* m = [] {
        auto* model = new TTermModel(kLines);
        model->Clock = [] { return 45000.0; };
        FeedAll(*model, LogText());
        return model;
    }();
    return *m;
}

// Lines of one letter: the needle "x" + 40 × "a" nearly matches at every column.
TTermModel& RunModel() {
    static TTermModel* m = [] {
        auto* model = new TTermModel(kLines);
        model->Clock = [] { return 45000.0; };
        std::string s;
        for (int32_t i = 0; i < kLines; ++i) s += std::string(kWidth, 'a') + "\r\n";
        FeedAll(*model, s);
        return model;
    }();
    return *m;
}

void BM_TextFirstFromEnd(benchmark::State& state, const char16_t* query, bool matchCase) {
    const TTermModel& m = LogModel();
    const TTextQuery q(query, matchCase);
    bool found = false;
    for (auto _ : state) found = FindPrevText(m, q, TextEnd(m)).Found;
    state.counters["found"] = found;
}

void BM_TextNearMiss(benchmark::State& state) {
    const TTermModel& m = RunModel();
    const TTextQuery q(u"x" + std::u16string(40, u'a'), true);
    for (auto _ : state) benchmark::DoNotOptimize(FindPrevText(m, q, TextEnd(m)).Found);
}

void BM_TextCountAll(benchmark::State& state, const char16_t* query) {
    const TTermModel& m = LogModel();
    int64_t total = 0;
    for (auto _ : state) {
        TTextMatchCounter c(TTextQuery(query, false));
        c.Step(m, INT64_MAX);
        total = c.Total();
    }
    state.counters["matches"] = double(total);
}

void BM_TextCountSlice(benchmark::State& state) {
    const TTermModel& m = LogModel();
    for (auto _ : state) {
        state.PauseTiming();
        TTextMatchCounter c(TTextQuery(u"error", false));
        state.ResumeTiming();
        c.Step(m);
        benchmark::DoNotOptimize(c.Total());
    }
}

THexSearch HexQuery(const char16_t* q, bool matchCase) {
    return THexSearch(ParseHexQuery(q, 0), 0, matchCase);
}

void BM_HexFirstFromEnd(benchmark::State& state, const char16_t* query, bool matchCase) {
    const TTermModel& m = LogModel();
    const THexSearch q = HexQuery(query, matchCase);
    bool found = false;
    for (auto _ : state) found = FindPrevHex(m, q, m.RawBase() + m.RawCount()).Found;
    state.counters["found"] = found;
    state.SetBytesProcessed(int64_t(state.iterations()) * m.RawCount());
}

void BM_HexNearMiss(benchmark::State& state) {
    const TTermModel& m = RunModel();
    const THexSearch q = HexQuery((u"x" + std::u16string(40, u'a')).c_str(), true);
    for (auto _ : state)
        benchmark::DoNotOptimize(FindPrevHex(m, q, m.RawBase() + m.RawCount()).Found);
    state.SetBytesProcessed(int64_t(state.iterations()) * m.RawCount());
}

void BM_HexCountAll(benchmark::State& state, const char16_t* query) {
    const TTermModel& m = LogModel();
    int64_t total = 0;
    for (auto _ : state) {
        THexMatchCounter c(HexQuery(query, true));
        c.Step(m, INT64_MAX);
        total = c.Total();
    }
    state.counters["matches"] = double(total);
    state.SetBytesProcessed(int64_t(state.iterations()) * m.RawCount());
}

void BM_HexCountSlice(benchmark::State& state) {
    const TTermModel& m = LogModel();
    for (auto _ : state) {
        state.PauseTiming();
        THexMatchCounter c(HexQuery(u"0d 0a", true));
        state.ResumeTiming();
        c.Step(m);
        benchmark::DoNotOptimize(c.Total());
    }
}

// Keeps the mean real time of each run for the summary.
class TCollector : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> ms;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration)
                ms[r.benchmark_name()] =
                    r.GetAdjustedRealTime() * 1e3 / benchmark::GetTimeUnitMultiplier(r.time_unit);
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    LogModel();
    RunModel();
    auto reg = [](const char* name, auto&&... args) {
        benchmark::RegisterBenchmark(name, args...)->Unit(benchmark::kMillisecond)->UseRealTime();
    };
    reg("Text/first_from_end/near", BM_TextFirstFromEnd, u"NEEDLE", false);
    reg("Text/first_from_end/oldest_line", BM_TextFirstFromEnd, u"oldest", false);
    reg("Text/first_from_end/none_ignore_case", BM_TextFirstFromEnd, u"absent", false);
    reg("Text/first_from_end/none_match_case", BM_TextFirstFromEnd, u"absent", true);
    reg("Text/first_from_end/near_miss_needle", BM_TextNearMiss);
    reg("Text/count_all/error", BM_TextCountAll, u"error");
    reg("Text/count_slice_1Mi_units", BM_TextCountSlice);
    reg("Hex/first_from_end/none_hex", BM_HexFirstFromEnd, u"DE AD BE EF", true);
    reg("Hex/first_from_end/none_text_ignore_case", BM_HexFirstFromEnd, u"absent", false);
    reg("Hex/first_from_end/near_miss_needle", BM_HexNearMiss);
    reg("Hex/count_all/0d0a", BM_HexCountAll, u"0d 0a");
    reg("Hex/count_slice_4MiB", BM_HexCountSlice);

    TCollector reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const TTermModel& m = LogModel();
    std::printf(
        "\nFind in %d lines of %d characters (%d held; raw store %.1f MiB), against the "
        "50 ms budget:\n",
        kLines, kWidth, m.LineCount(), m.RawCount() / 1048576.0);
    std::printf("  %-44s %10s %12s\n", "case", "ms", "of 50 ms");
    for (const auto& [name, t] : reporter.ms)
        std::printf("  %-44s %10.2f %11.1f%%\n", name.c_str(), t, t / 50.0 * 100.0);
    std::printf(
        "First match from the end: target <= 50 ms; a count slice should stay well "
        "inside it.\n");
    return 0;
}
