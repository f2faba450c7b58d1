// libFuzzer target for TTermModel. The input is a small program: three header
// bytes choose the settings (and, half the time, a raw store of a few KiB so
// that its drop and wrap happen with short inputs), then each operation byte
// either feeds a chunk of the bytes that follow it or calls Rebuild,
// SetHistoryLines, a settings change, Reset or the hex and timestamp accessors. After every call
// the model's invariants are checked and it is compared with the byte-at-a-time reference decoder
// of the unit tests; any difference aborts.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

void CheckSame(const TTermModel& m, const ref::Model& r) {
    Check(m.RawCount() <= int32_t(r.rawLimit) && m.RawBase() % int64_t(r.rawDrop) == 0,
          "raw cap and drop steps");
    Check(size_t(m.LineCount()) == r.lines.size(), "reference: line count");
    for (int32_t i = 0; i < m.LineCount(); ++i) {
        const ref::Line& l = r.lines[size_t(i)];
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
    Check(count >= 1 && count <= m.HistoryLines() + 1 && size_t(count) == r.lines.size(), "count");
    Check(m.RawCount() <= int32_t(r.rawLimit) && size_t(m.RawCount()) == r.raw.size() &&
              m.RawBase() == r.rawBase,
          "raw");
    for (int32_t i = std::max(0, count - 2); i < count; ++i) {
        const ref::Line& l = r.lines[size_t(i)];
        Check(
            m.LineTextView(i) == l.text && m.LineAttrsView(i) == l.attrs && m.LineTime(i) == l.time,
            "reference: recent line");
        Check(m.LineTextView(i).size() <= size_t(kTermMaxLineUnits), "line length <= 4096");
    }
    Check(m.MaxLineLength() == r.maxLen, "reference: MaxLineLength");
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
    const uint8_t h0 = in.Byte(), h1 = in.Byte(), h2 = in.Byte();
    const int depth = 100 + (h1 & 0x7F);
    TTermModel m(depth);
    ref::Model r(depth);
    if (h2 & 1) {
        // a small raw store, so that short inputs drop and wrap it many times
        const int32_t limit = 64 * (1 + (h2 >> 1) % 64),
                      drop = std::max(1, limit >> (1 + (h2 >> 7)));
        m.SetRawLimitsForTesting(limit, drop);
        r.rawLimit = size_t(limit);
        r.rawDrop = size_t(drop);
    }
    double now = 45000.0;
    m.Clock = [&] { return now; };
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
        if (op < 0xC0) {  // feed the next 1..32 bytes; bit 5 keeps the time (a shared chunk)
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
    }
    CheckInvariants(m);
    CheckSame(m, r);
    return 0;
}
