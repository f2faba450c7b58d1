// libFuzzer target for TTermModel. The input is a small program: four header
// bytes choose the settings (and, half the time, a raw store of a few KiB so
// that its drop and wrap happen with short inputs; half the time a line-store
// budget of a few small blocks, and a pool shared with a second model, so that
// lines leave over the budget all the time), then each operation byte either
// feeds a chunk of the bytes that follow it (to the model or to its neighbour
// in the pool) or calls Rebuild, SetHistoryLines, a settings change, Reset,
// leaving or joining the pool, or the hex and timestamp accessors. After every
// call the model's invariants are checked and it is compared with the
// byte-at-a-time reference decoder of the unit tests, which knows nothing of
// budgets: the model's lines must be the newest of the reference's, numbered
// alike. Any difference aborts.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "../unit/termmodel_reference.h"
#include "terminal/uTermModel.h"

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_termmodel: %s\n", what);
        std::abort();
    }
}

void CheckInvariants(const TTermModel& m) {
    const int32_t count = m.LineCount();
    Check(count >= 1 && count <= m.HistoryLines() + 1, "1 <= count <= capacity");
    Check(m.LineStoreBytes() <= m.LineBudget(), "line store within its budget");
    Check(m.RawCount() >= 0 && m.RawCount() <= kTermRawLimit, "raw <= 8 MiB");
    for (int32_t i = 0; i < count; ++i) {
        const std::u16string_view text = m.LineTextView(i), attrs = m.LineAttrsView(i);
        Check(text.size() == attrs.size(), "attrs length = text length");
        Check(text.size() <= size_t(kTermMaxLineUnits), "line length <= 4096");
        Check(int32_t(text.size()) <= m.MaxLineLength(), "MaxLineLength covers every line");
        for (char16_t a : attrs)
            Check((a & 0xF000) == 0 && (a & 0x1F) <= 16 && ((a >> 5) & 0x1F) <= 16,
                  "attribute word");
        const std::u16string stamp = m.TimestampPrefix(i);
        Check(stamp.empty() == (m.LineTime(i) == 0) && (stamp.empty() || stamp.size() == 15),
              "timestamp");
    }
    Check(m.LineText(-1).empty() && m.LineText(count).empty(), "out-of-range line");
    const int32_t w = m.HexBytesPerLine();
    Check(m.HexLineCount() == (m.RawCount() + w - 1) / w, "hex line count");
}

// Lines that left over the budget are the reference's oldest: the model holds
// the newest `count` of the reference's lines, and both number them alike.
size_t Skipped(const TTermModel& m, const ref::Model& r) {
    Check(size_t(m.LineCount()) <= r.lines.size(), "reference: line count");
    Check(m.LineBudget() < kTermLineBudget || size_t(m.LineCount()) == r.lines.size(),
          "reference: line count at the real budget");
    const size_t skip = r.lines.size() - size_t(m.LineCount());
    Check(m.FirstLineNumber() == r.first + int64_t(skip), "reference: first line number");
    return skip;
}

void CheckSame(const TTermModel& m, const ref::Model& r) {
    Check(m.RawCount() <= int32_t(r.rawLimit) && m.RawBase() % int64_t(r.rawDrop) == 0,
          "raw cap and drop steps");
    const size_t skip = Skipped(m, r);
    for (int32_t i = 0; i < m.LineCount(); ++i) {
        const ref::Line& l = r.lines[skip + size_t(i)];
        Check(m.LineTextView(i) == l.text, "reference: text");
        Check(m.LineAttrsView(i) == l.attrs, "reference: attrs");
        Check(m.LineTime(i) == l.time, "reference: time");
    }
    Check(m.MaxLineLength() == r.maxLen, "reference: MaxLineLength");
    Check(m.RawBase() == r.rawBase && size_t(m.RawCount()) == r.raw.size(), "reference: raw size");
    Check(m.RawBytes() == std::string(r.raw.begin(), r.raw.end()), "reference: raw bytes");
    Check(size_t(m.ChunkCount()) == r.chunks.size(), "reference: chunks");
}

// The counts and the last two lines only.
void CheckRecent(const TTermModel& m, const ref::Model& r) {
    const int32_t count = m.LineCount();
    Check(count >= 1 && count <= m.HistoryLines() + 1, "count");
    const size_t skip = Skipped(m, r);
    Check(m.RawCount() <= int32_t(r.rawLimit) && size_t(m.RawCount()) == r.raw.size() &&
              m.RawBase() == r.rawBase,
          "raw");
    for (int32_t i = std::max(0, count - 2); i < count; ++i) {
        const ref::Line& l = r.lines[skip + size_t(i)];
        Check(
            m.LineTextView(i) == l.text && m.LineAttrsView(i) == l.attrs && m.LineTime(i) == l.time,
            "reference: recent line");
        Check(m.LineTextView(i).size() <= size_t(kTermMaxLineUnits), "line length <= 4096");
    }
    Check(m.MaxLineLength() == r.maxLen, "reference: MaxLineLength");
}

// The pool's total is exactly what its members hold, and within its limit
// unless a member had to join with more than fitted.
void CheckPool(const TTermBudgetPool& pool, const TTermModel& a, const TTermModel& b,
               bool limitHolds) {
    size_t sum = 0;
    for (const TTermModel* m : {&a, &b})
        if (m->BudgetPool() == &pool) sum += m->LineStoreBytes();
    Check(pool.Total() == sum, "pool total = members' bytes");
    Check(!limitHolds || pool.Total() <= pool.Limit(), "pool within its limit");
}

struct Reader {
    const uint8_t* p;
    size_t n;
    bool Empty() const { return n == 0; }
    uint8_t Byte() {
        if (n == 0) return 0;
        --n;
        return *p++;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size};
    const uint8_t h0 = in.Byte(), h1 = in.Byte(), h2 = in.Byte(), h3 = in.Byte();
    const int depth = 100 + (h1 & 0x7F);
    TTermModel m(depth), neighbour(100);
    ref::Model r(depth);
    std::optional<TTermBudgetPool> pool;  // ends first: its members outlive it
    bool limitHolds = true;
    if (h3 & 1) {
        // Blocks that hold one open line (and a few short ones at most), and a
        // budget of 2 to 9 of them: nearly every line break meets the budget.
        const int32_t blockUnits = 8192 + 4096 * ((h3 >> 4) & 3);
        const size_t budget = (2 + ((h3 >> 1) & 7)) * size_t(blockUnits) * 2 + 4096;
        m.SetLineBudgetForTesting(budget, blockUnits);
        r.Reset();
        neighbour.SetLineBudgetForTesting(budget, blockUnits);
        if (h3 & 0x40) {
            // both fit at once (h3 & 0x80), or only one of them does
            pool.emplace((h3 & 0x80) ? 2 * budget : budget);
            m.SetBudgetPool(&*pool);
            neighbour.SetBudgetPool(&*pool);
        }
    }
    if (h2 & 1) {
        // a small raw store, so that short inputs drop and wrap it many times
        const int32_t limit = 64 * (1 + (h2 >> 1) % 64),
                      drop = std::max(1, limit >> (1 + (h2 >> 7)));
        m.SetRawLimitsForTesting(limit, drop);  // and Reset, which numbers the lines on
        r.Reset();
        r.rawLimit = size_t(limit);
        r.rawDrop = size_t(drop);
    }
    double now = 45000.0;
    m.Clock = neighbour.Clock = [&] { return now; };
    auto set = [&](uint8_t b) {
        // mostly valid values; now and then one out of range
        m.Encoding = r.Encoding = (b & 0x80) ? b % 5 : b % 3;
        m.NewlineMode = r.NewlineMode = (b & 0x80) ? (b >> 2) % 6 : (b >> 2) % 4;
        m.AnsiColors = r.AnsiColors = (b & 0x40) == 0;
    };
    set(h0);
    if (h1 & 0x80) {
        m.SetHexBytesPerLine(h0 % 70);
        r.hexWidth = m.HexBytesPerLine();
    }

    int ops = 0;
    while (!in.Empty()) {
        const uint8_t op = in.Byte();
        if (op >= 0xB0 && op < 0xC0 && pool) {  // the neighbour grows into the pool
            const size_t n = std::min<size_t>(in.n, size_t(op & 0x0F) * 2 + 1);
            neighbour.Feed(in.p, int32_t(n));
            in.p += n;
            in.n -= n;
            CheckInvariants(neighbour);
        } else if (op == 0xFE && pool) {  // leave the pool, or join it again
            m.SetBudgetPool(m.BudgetPool() ? nullptr : &*pool);
            if (pool->Total() > pool->Limit()) {
                Check(m.LineCount() == 1, "joining trims down to the open line");
                limitHolds = false;
            }
        } else if (op < 0xC0) {  // feed the next 1..32 bytes; bit 5 keeps the time (a shared chunk)
            if (!(op & 0x20)) now += 1.0 / 86400000.0;
            const size_t n = std::min<size_t>(in.n, size_t(op & 0x1F) + 1);
            m.Feed(in.p, int32_t(n));
            r.Feed(in.p, n, now);
            in.p += n;
            in.n -= n;
        } else if (op < 0xD0) {
            m.Rebuild();
            r.Rebuild();
        } else if (op < 0xE0) {
            const uint8_t b = in.Byte();
            static const int kEdges[] = {INT_MIN, 99, 1000001, 100};
            const int n = b < 4 ? kEdges[b] : 100 + b * (op & 3);
            m.SetHistoryLines(n);
            r.SetHistoryLines(n);
        } else if (op < 0xF0) {  // change the settings, rebuilding as the owner does (or not)
            set(in.Byte());
            if (op & 1) {
                m.Rebuild();
                r.Rebuild();
            }
        } else if (op < 0xFF) {  // the accessors with any index
            const uint8_t b = in.Byte();
            m.SetHexBytesPerLine(b & 0x3F);
            r.hexWidth = m.HexBytesPerLine();
            const int32_t i = (op & 1) ? int32_t(b) : m.HexLineCount() - 1 - int32_t(b);
            Check(m.HexLine(i) == r.HexLine(i), "reference: hex line");
            const std::u16string head = TTermModel::HexHeader(u"Offset", m.HexBytesPerLine());
            const std::u16string line = m.HexLine(0);
            Check(line.empty() || line.size() == head.size() || m.RawCount() < m.HexBytesPerLine(),
                  "hex header lines up");
            (void)m.TimestampPrefix(int32_t(b) - 1);
        } else {
            m.Reset();
            r.Reset();
        }
        // everything after every few calls; after the others what a call
        // most likely changed
        if (++ops % 8 == 0 || m.LineCount() < 4) {
            CheckInvariants(m);
            CheckSame(m, r);
        } else {
            CheckRecent(m, r);
        }
        if (pool) CheckPool(*pool, m, neighbour, limitHolds);
    }
    CheckInvariants(m);
    CheckSame(m, r);
    return 0;
}
