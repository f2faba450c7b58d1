// libFuzzer target for find. Three header bytes choose the view's settings
// (encoding, hex width, a small raw store so that drops happen, match case)
// and the query's length; the query follows (as UTF-8, so it may be text or
// hex digits), then the bytes fed to the model in reads of 1 to 64 bytes,
// each at a new time. After every fourth read (and the last) the find results are held to plain
// brute force: the text matches of every line (left to right, without
// overlapping, case folded through FoldCase), the byte matches at every
// offset (overlaps included), the first and last of each reached by Next and
// Previous from the ends, the counters (stepped in small slices across the
// reads, so lines and bytes leave under them) against the totals and the
// place of a match, the highlight spans against the hex lines, and each hex
// row's time against the arrival of its first byte.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "base/uText.h"
#include "terminal/uTermFind.h"

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_termfind: %s\n", what);
        std::abort();
    }
}

std::vector<TTextMatch> BruteText(const TTermModel& m, std::u16string_view q, bool matchCase) {
    std::vector<TTextMatch> out;
    if (q.empty()) return out;
    auto same = [&](char16_t a, char16_t b) {
        return matchCase ? a == b : FoldCase(a) == FoldCase(b);
    };
    for (int32_t i = 0; i < m.LineCount(); ++i) {
        const std::u16string_view line = m.LineTextView(i);
        for (size_t p = 0; p + q.size() <= line.size();) {
            size_t j = 0;
            while (j < q.size() && same(line[p + j], q[j])) ++j;
            if (j < q.size()) {
                ++p;
                continue;
            }
            out.push_back({m.FirstLineNumber() + i, int32_t(p), int32_t(q.size())});
            p += q.size();
        }
    }
    return out;
}

uint8_t FoldByte(uint8_t b, bool fold, int32_t encoding) {
    if (!fold) return b;
    if (b >= 'A' && b <= 'Z') return uint8_t(b + 32);
    if (encoding != 1) return b;
    if (b >= 0xC0 && b <= 0xDE && b != 0xD7) return uint8_t(b + 32);
    if (b == 0x8A || b == 0x8C || b == 0x8E) return uint8_t(b + 16);
    return b == 0x9F ? 0xFF : b;
}

std::vector<int64_t> BruteHex(const TTermModel& m, const THexQuery& q, bool fold, int32_t enc) {
    std::vector<int64_t> out;
    if (!q.Ok || q.Bytes.empty()) return out;
    const std::string raw = m.RawBytes();
    for (size_t p = 0; p + q.Bytes.size() <= raw.size(); ++p) {
        size_t j = 0;
        while (j < q.Bytes.size() &&
               FoldByte(uint8_t(raw[p + j]), fold, enc) == FoldByte(uint8_t(q.Bytes[j]), fold, enc))
            ++j;
        if (j == q.Bytes.size()) out.push_back(m.RawBase() + int64_t(p));
    }
    return out;
}

void CheckText(const TTermModel& m, const TTextQuery& q, std::u16string_view query, bool matchCase,
               TTextMatchCounter& counter, int32_t slice) {
    const std::vector<TTextMatch> want = BruteText(m, query, matchCase);
    std::vector<TTextMatch> got;
    TextMatchesInRows(m, q, 0, m.LineCount(), got);
    Check(got == want, "text matches = brute force");
    const TTextFound next = FindNextText(m, q, TextStart(m));
    const TTextFound prev = FindPrevText(m, q, TextEnd(m));
    Check(next.Found == !want.empty() && prev.Found == !want.empty(), "text found");
    if (want.empty()) return;
    Check(next.Match == want.front() && !next.Wrapped, "Next from the start");
    Check(prev.Match == want.back() && !prev.Wrapped, "Previous from the end");
    const TTextFound after = FindNextText(m, q, {want.back().Line, want.back().Column + 1});
    Check(after.Wrapped && after.Match == want.front(), "Next after the last wraps");
    if (counter.Step(m, slice)) {
        Check(counter.Total() == int64_t(want.size()), "text count");
        const size_t k = want.size() / 2;
        Check(counter.IndexOf(m, want[k]) == int64_t(k) + 1, "text index");
        Check(IsTextMatchLive(m, q, want[k]), "a match is live");
    }
}

void CheckHex(const TTermModel& m, const THexQuery& hq, const THexSearch& s, bool fold, int32_t enc,
              THexMatchCounter& counter, int32_t slice) {
    const std::vector<int64_t> want = BruteHex(m, hq, fold, enc);
    std::vector<THexMatch> got;
    HexMatchesInRows(m, s, 0, m.HexLineCount(), got);
    Check(got.size() == want.size(), "hex match count = brute force");
    for (size_t i = 0; i < got.size(); ++i)
        Check(got[i].Offset == want[i] && got[i].Length == s.Length(), "hex match = brute force");
    const int64_t end = m.RawBase() + m.RawCount();
    const THexFound next = FindNextHex(m, s, m.RawBase()), prev = FindPrevHex(m, s, end);
    Check(next.Found == !want.empty() && prev.Found == !want.empty(), "hex found");
    if (counter.Step(m, slice)) Check(counter.Total() == int64_t(want.size()), "hex count");
    if (want.empty()) return;
    Check(next.Match.Offset == want.front() && prev.Match.Offset == want.back(), "hex ends");
    const THexFound after = FindNextHex(m, s, want.back() + 1);
    Check(after.Wrapped && after.Match.Offset == want.front(), "hex Next wraps");
    const THexMatch mid = got[got.size() / 2];
    if (counter.Done()) Check(counter.IndexOf(m, mid) == int64_t(got.size() / 2) + 1, "hex index");
    int32_t covered = 0;
    for (const THexSpan& sp : HexMatchSpans(m, mid)) {
        const std::u16string line = m.HexLine(sp.Row);
        Check(sp.CharTo <= int32_t(line.size()) && sp.HexTo < sp.CharFrom, "span inside the line");
        for (int32_t j = 0; j < sp.Bytes; ++j) {
            const uint8_t b = m.RawByte(int32_t(mid.Offset - m.RawBase()) + covered + j);
            const char16_t c = line[size_t(sp.CharFrom + j)];
            Check(c == (b >= 0x20 && b <= 0x7E ? char16_t(b) : u'.'), "span character column");
        }
        std::u16string first;
        AppendHexByte(first, m.RawByte(int32_t(mid.Offset - m.RawBase()) + covered));
        Check(line.substr(size_t(sp.HexFrom), 2) == first, "span hex column");
        covered += sp.Bytes;
    }
    Check(covered == mid.Length, "spans cover the match");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const uint8_t h0 = data[0], h1 = data[1], h2 = data[2];
    const int32_t encoding = h0 % 3;
    const bool matchCase = h0 & 4;
    const size_t qlen = std::min<size_t>(h1 % 16, size - 3);
    const std::u16string query =
        Utf8ToUtf16(std::string(reinterpret_cast<const char*>(data + 3), qlen));
    size_t at = 3 + qlen;

    TTermModel m(100);
    if (h2 & 1) m.SetRawLimitsForTesting(64 * (1 + (h2 >> 1) % 32), 64 * (1 + (h2 >> 6)));
    m.Encoding = encoding;
    m.SetHexBytesPerLine(1 + (h0 >> 3) % 24);
    double now = 45000.0;
    m.Clock = [&] { return now; };

    const TTextQuery tq(query, matchCase);
    const THexQuery hq = ParseHexQuery(query, encoding);
    const THexSearch hs(hq, encoding, matchCase);
    const bool fold = hq.Kind == THexQueryKind::Text && !matchCase;
    TTextMatchCounter textCounter(tq);
    THexMatchCounter hexCounter(hs);
    const int32_t slice = 1 + (h2 >> 3) * 16;

    std::vector<std::pair<int64_t, double>> reads;  // stream offset and time of each read
    int64_t fed = 0;
    while (at < size) {
        const size_t n = std::min<size_t>(1 + data[at] % 64, size - at - 1);
        ++at;
        now += 1.0 / 86400000.0;
        if (n > 0) reads.push_back({fed, now});
        m.Feed(data + at, int32_t(n));
        at += n;
        fed += int64_t(n);
        if (reads.size() % 4 != 0 && at < size) continue;  // brute force is slow: every fourth read
        CheckText(m, tq, query, matchCase, textCounter, slice);
        CheckHex(m, hq, hs, fold, encoding, hexCounter, slice);
        for (int32_t row = 0; row < m.HexLineCount(); ++row) {
            const int64_t offset = m.RawBase() + int64_t(row) * m.HexBytesPerLine();
            auto it = std::upper_bound(reads.begin(), reads.end(), std::make_pair(offset, 1e9));
            Check(m.HexRowTime(row) == std::prev(it)->second, "hex row time = its first read");
        }
    }
    return 0;
}
