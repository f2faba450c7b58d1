// Telnet filter throughput on what a TCP worker hands it: 4096-byte reads.
// The memcpy of the same bytes is the ceiling the plain-text case aims at.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "backend/uTelnet.h"

namespace {

constexpr size_t kTotal = 1 << 20;
constexpr int32_t kRead = 4096;

// Log-like text lines with CR LF and no telnet framing.
std::vector<uint8_t> PlainText() {
    std::vector<uint8_t> v;
    static const char kLine[] = "2024-05-01 12:00:00 sensor 17: temperature=21.5 humidity=40%\r\n";
    while (v.size() < kTotal) v.insert(v.end(), kLine, kLine + sizeof kLine - 1);
    v.resize(kTotal);
    return v;
}

// Binary data: every byte value, so one in 256 is an escaped 0xFF, and CR NUL pairs.
std::vector<uint8_t> BinaryTelnet() {
    std::vector<uint8_t> raw;
    uint32_t x = 12345;
    while (raw.size() < kTotal) {
        x = x * 1103515245u + 12345u;
        raw.push_back(uint8_t(x >> 16));
    }
    TByteBuf wire;
    EscapeIac(raw.data(), int32_t(raw.size()), wire);
    return std::vector<uint8_t>(wire.Data(), wire.Data() + wire.Count());
}

// Text with a negotiation or a subnegotiation every few hundred bytes.
std::vector<uint8_t> ChattyTelnet() {
    std::vector<uint8_t> v;
    const uint8_t cmds[][6] = {
        {255, 251, 1}, {255, 253, 31}, {255, 250, 24, 1, 255, 240}, {255, 241}};
    const size_t lens[] = {3, 3, 6, 2};
    static const char kLine[] = "user@host:~$ ls -la /var/log\r\n";
    for (int i = 0; v.size() < kTotal; ++i) {
        v.insert(v.end(), kLine, kLine + sizeof kLine - 1);
        if (i % 8 == 0) v.insert(v.end(), cmds[i / 8 % 4], cmds[i / 8 % 4] + lens[i / 8 % 4]);
    }
    return v;
}

void RunFilter(benchmark::State& state, const std::vector<uint8_t>& input, bool negotiate) {
    TTelnetFilter f(negotiate);
    TByteBuf data, replies;
    for (auto _ : state) {
        for (size_t at = 0; at < input.size(); at += kRead) {
            const int32_t n = int32_t(std::min<size_t>(kRead, input.size() - at));
            data.Clear();
            replies.Clear();
            f.Process(input.data() + at, n, data, replies);
            benchmark::DoNotOptimize(data.Data());
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input.size()));
}

void BM_Memcpy4K(benchmark::State& state) {
    const auto input = PlainText();
    std::vector<uint8_t> out(kRead);
    for (auto _ : state) {
        for (size_t at = 0; at < input.size(); at += kRead) {
            std::memcpy(out.data(), input.data() + at, std::min<size_t>(kRead, input.size() - at));
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input.size()));
}

void BM_FilterPlainText(benchmark::State& state) { RunFilter(state, PlainText(), true); }
void BM_FilterBinaryEscaped(benchmark::State& state) { RunFilter(state, BinaryTelnet(), true); }
void BM_FilterChattyNegotiating(benchmark::State& state) { RunFilter(state, ChattyTelnet(), true); }
void BM_FilterChattyFilterOnly(benchmark::State& state) { RunFilter(state, ChattyTelnet(), false); }

void BM_EscapeIacPlainText(benchmark::State& state) {
    const auto input = PlainText();
    TByteBuf out;
    for (auto _ : state) {
        out.Clear();
        EscapeIac(input.data(), int32_t(input.size()), out);
        benchmark::DoNotOptimize(out.Data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input.size()));
}

}  // namespace

BENCHMARK(BM_Memcpy4K);
BENCHMARK(BM_FilterPlainText);
BENCHMARK(BM_FilterBinaryEscaped);
BENCHMARK(BM_FilterChattyNegotiating);
BENCHMARK(BM_FilterChattyFilterOnly);
BENCHMARK(BM_EscapeIacPlainText);

BENCHMARK_MAIN();
