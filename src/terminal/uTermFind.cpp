// Find in the text lines and the raw bytes of a TTermModel; see uTermFind.h.
#include "terminal/uTermFind.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>

namespace {

// ------------------------------------------------------------- case folding

// Upper-case letters of [from, to] that pair with the next unit, or with
// the one `delta` above.
void FoldPairs(char16_t* t, int from, int to) {
    for (int c = from; c < to; c += 2) t[c] = char16_t(c + 1);
}
void FoldShift(char16_t* t, int from, int to, int delta) {
    for (int c = from; c <= to; ++c) t[c] = char16_t(c + delta);
}

struct TFoldTable {
    char16_t t[65536];
    TFoldTable() {
        for (int c = 0; c < 65536; ++c) t[c] = char16_t(c);
        FoldShift(t, 'A', 'Z', 32);
        FoldShift(t, 0xC0, 0xDE, 32);
        t[0xD7] = 0xD7;  // the multiplication sign has no case
        // Latin Extended-A: mostly upper-case on even units, except where a
        // run starts on an odd one.
        FoldPairs(t, 0x0100, 0x012F);
        FoldPairs(t, 0x0132, 0x0137);
        FoldPairs(t, 0x0139, 0x0148);
        FoldPairs(t, 0x014A, 0x0177);
        t[0x0178] = 0x00FF;
        FoldPairs(t, 0x0179, 0x017E);
        // Latin Extended-B: the regular runs and the digraph triples.
        FoldPairs(t, 0x01CD, 0x01DC);
        FoldPairs(t, 0x01DE, 0x01EF);
        FoldPairs(t, 0x01F8, 0x021F);
        FoldPairs(t, 0x0222, 0x0233);
        FoldPairs(t, 0x0246, 0x024F);
        for (int c : {0x01C4, 0x01C7, 0x01CA, 0x01F1}) t[c] = t[c + 1] = char16_t(c + 2);
        t[0x01F4] = 0x01F5;
        // Greek: the accented capitals sit apart from the plain ones, and
        // final sigma compares as sigma.
        FoldShift(t, 0x0391, 0x03A1, 32);
        FoldShift(t, 0x03A3, 0x03AB, 32);
        t[0x0386] = 0x03AC;
        FoldShift(t, 0x0388, 0x038A, 37);
        t[0x038C] = 0x03CC;
        FoldShift(t, 0x038E, 0x038F, 63);
        t[0x03C2] = 0x03C3;
        FoldPairs(t, 0x03D8, 0x03EF);
        // Cyrillic
        FoldShift(t, 0x0400, 0x040F, 80);
        FoldShift(t, 0x0410, 0x042F, 32);
        FoldPairs(t, 0x0460, 0x0481);
        FoldPairs(t, 0x048A, 0x04BF);
        t[0x04C0] = 0x04CF;
        FoldPairs(t, 0x04C1, 0x04CE);
        FoldPairs(t, 0x04D0, 0x052F);
        // Armenian, Georgian, Latin Extended Additional, number forms,
        // circled letters, full-width Latin
        FoldShift(t, 0x0531, 0x0556, 48);
        FoldShift(t, 0x10A0, 0x10C5, 0x2D00 - 0x10A0);
        FoldPairs(t, 0x1E00, 0x1E95);
        FoldPairs(t, 0x1EA0, 0x1EFF);
        t[0x1E9E] = 0x00DF;
        FoldShift(t, 0x2160, 0x216F, 16);
        FoldShift(t, 0x24B6, 0x24CF, 26);
        FoldShift(t, 0xFF21, 0xFF3A, 32);
    }
};

const char16_t* TextFold() {
    static const TFoldTable table;
    return table.t;
}

// Byte folds for a hex-view query typed as text: ASCII letters, and with
// Windows-1252 its Latin letters too.
struct TByteFolds {
    uint8_t ascii[256];
    uint8_t cp1252[256];
    TByteFolds() {
        for (int b = 0; b < 256; ++b) ascii[b] = uint8_t(b >= 'A' && b <= 'Z' ? b + 32 : b);
        std::memcpy(cp1252, ascii, 256);
        for (int b = 0xC0; b <= 0xDE; ++b)
            if (b != 0xD7) cp1252[b] = uint8_t(b + 32);
        cp1252[0x8A] = 0x9A;  // Š
        cp1252[0x8C] = 0x9C;  // Œ
        cp1252[0x8E] = 0x9E;  // Ž
        cp1252[0x9F] = 0xFF;  // Ÿ
    }
};

const TByteFolds& ByteFolds() {
    static const TByteFolds folds;
    return folds;
}

}  // namespace

char16_t FoldCase(char16_t c) { return TextFold()[c]; }

// ----------------------------------------------------------------- searcher

template <class T>
TSearcher<T>::TSearcher(std::basic_string_view<T> needle, const T* foldTable) : fold_(foldTable) {
    pat_.reserve(needle.size());
    for (T c : needle) pat_.push_back(fold_ ? fold_[c] : c);
    const int32_t m = Length();
    border_.assign(size_t(m), 0);
    for (int32_t i = 1, k = 0; i < m; ++i) {
        while (k > 0 && pat_[size_t(i)] != pat_[size_t(k)]) k = border_[size_t(k - 1)];
        if (pat_[size_t(i)] == pat_[size_t(k)]) ++k;
        border_[size_t(i)] = k;
    }
    if (m == 0) return;
    // The units that fold to the first and the last, for the block test.
    auto variants = [&](T folded, std::array<T, kVariants>& set) {
        int32_t n = 0;
        if (!fold_) {
            n = 1;
            set[0] = folded;
        } else {
            for (uint32_t u = 0; u <= uint32_t(T(~T(0))); ++u)
                if (fold_[u] == folded && n++ < kVariants) set[size_t(n - 1)] = T(u);
        }
        if (n > kVariants || n == 0) return false;
        for (int32_t i = n; i < kVariants; ++i) set[size_t(i)] = set[0];
        return true;
    };
    filter_ = variants(pat_[0], heads_) && variants(pat_[size_t(m - 1)], lasts_);
}

template class TSearcher<char16_t>;
template class TSearcher<uint8_t>;

// ---------------------------------------------------------------- text view

TTextQuery::TTextQuery(std::u16string_view query, bool matchCase)
    : search_(query, matchCase ? nullptr : TextFold()), matchCase_(matchCase) {}

int32_t TTextQuery::NextIn(std::u16string_view line, int32_t from) const {
    return int32_t(search_.Find(line.data(), int64_t(line.size()), from));
}

int32_t TTextQuery::CountIn(std::u16string_view line) const {
    int32_t n = 0;
    ForEachIn(line, [&](int32_t) { return ++n, true; });
    return n;
}

bool TTextQuery::IsMatchAt(std::u16string_view line, int32_t column) const {
    bool hit = false;
    ForEachIn(line, [&](int32_t c) {
        hit = c == column;
        return c < column;
    });
    return hit;
}

namespace {

// The first match of a line's enumeration at or after `col`, -1 if none.
int32_t FirstFrom(const TTextQuery& q, std::u16string_view line, int32_t col) {
    int32_t hit = -1;
    q.ForEachIn(line, [&](int32_t c) {
        if (c >= col) hit = c;
        return c < col;
    });
    return hit;
}

// The last match of a line's enumeration starting before `col`, -1 if none.
int32_t LastBefore(const TTextQuery& q, std::u16string_view line, int32_t col) {
    int32_t last = -1;
    q.ForEachIn(line, [&](int32_t c) {
        if (c < col) last = c;
        return c < col;
    });
    return last;
}

TTextFound Hit(const TTermModel& m, const TTextQuery& q, int32_t index, int32_t col, bool wrapped) {
    return {true, wrapped, {m.FirstLineNumber() + index, col, q.Length()}};
}

}  // namespace

TTextPos TextStart(const TTermModel& m) { return {m.FirstLineNumber(), 0}; }
TTextPos TextEnd(const TTermModel& m) { return {m.FirstLineNumber() + m.LineCount(), 0}; }

TTextFound FindNextText(const TTermModel& m, const TTextQuery& q, TTextPos from) {
    if (q.Empty()) return {};
    const int64_t first = m.FirstLineNumber();
    const int32_t count = m.LineCount();
    int32_t at = 0, col = 0;
    if (from.Line >= first + count)
        at = count;
    else if (from.Line >= first) {
        at = int32_t(from.Line - first);
        col = std::max(0, from.Column);
    }
    if (at < count) {
        const int32_t c = FirstFrom(q, m.LineTextView(at), col);
        if (c >= 0) return Hit(m, q, at, c, false);
    }
    for (int32_t i = at + 1; i < count; ++i) {
        const int32_t c = q.NextIn(m.LineTextView(i), 0);
        if (c >= 0) return Hit(m, q, i, c, false);
    }
    for (int32_t i = 0; i <= at && i < count; ++i) {
        const int32_t c = q.NextIn(m.LineTextView(i), 0);
        if (c >= 0 && (i < at || c < col)) return Hit(m, q, i, c, true);
    }
    return {};
}

TTextFound FindPrevText(const TTermModel& m, const TTextQuery& q, TTextPos before) {
    if (q.Empty()) return {};
    const int64_t first = m.FirstLineNumber();
    const int32_t count = m.LineCount();
    int32_t at = -1, col = 0;
    if (before.Line >= first + count) {
        at = count - 1;
        col = INT32_MAX;
    } else if (before.Line >= first) {
        at = int32_t(before.Line - first);
        col = std::max(0, before.Column);
    }
    for (int32_t i = at; i >= 0; --i) {
        const int32_t c = LastBefore(q, m.LineTextView(i), i == at ? col : INT32_MAX);
        if (c >= 0) return Hit(m, q, i, c, false);
    }
    for (int32_t i = count - 1; i >= 0 && i >= at; --i) {
        const std::u16string_view line = m.LineTextView(i);
        const int32_t c = LastBefore(q, line, INT32_MAX);
        if (c >= 0 && (i > at || c >= col)) return Hit(m, q, i, c, true);
    }
    return {};
}

bool IsTextMatchLive(const TTermModel& m, const TTextQuery& q, const TTextMatch& match) {
    const int64_t i = match.Line - m.FirstLineNumber();
    if (i < 0 || i >= m.LineCount() || match.Length != q.Length()) return false;
    return q.IsMatchAt(m.LineTextView(int32_t(i)), match.Column);
}

void TextMatchesInRows(const TTermModel& m, const TTextQuery& q, int32_t firstRow, int32_t rows,
                       std::vector<TTextMatch>& out) {
    const int64_t end = std::min<int64_t>(int64_t(firstRow) + std::max(rows, 0), m.LineCount());
    for (int64_t i = std::max(firstRow, 0); i < end; ++i)
        q.ForEachIn(m.LineTextView(int32_t(i)), [&](int32_t c) {
            out.push_back({m.FirstLineNumber() + i, c, q.Length()});
            return true;
        });
}

// ------------------------------------------------------------- text counter

bool TTextMatchCounter::Step(const TTermModel& m, int64_t budgetUnits) {
    const int64_t first = m.FirstLineNumber();
    const int64_t openLine = first + m.LineCount() - 1;
    if (next_ > openLine) {  // not this model's numbering: start again
        lines_.clear();
        cum_ = base_ = 0;
        next_ = first;
    }
    while (!lines_.empty() && lines_.front().line < first) {
        base_ = lines_.front().cum;
        lines_.pop_front();
    }
    if (next_ < first) next_ = first;  // lines left before they were counted
    open_ = 0;
    openLine_ = openLine;
    if (query_.Empty()) {
        next_ = openLine;
        return done_ = true;
    }
    int64_t spent = 0;
    while (next_ < openLine && spent < budgetUnits) {
        const std::u16string_view text = m.LineTextView(int32_t(next_ - first));
        if (const int32_t n = query_.CountIn(text)) {
            cum_ += n;
            lines_.push_back({next_, cum_});
        }
        spent += int64_t(text.size()) + 16;  // an empty line costs too
        ++next_;
    }
    done_ = next_ == openLine;
    if (done_) open_ = query_.CountIn(m.LineTextView(int32_t(openLine - first)));
    return done_;
}

int64_t TTextMatchCounter::IndexOf(const TTermModel& m, const TTextMatch& match) const {
    const int64_t first = m.FirstLineNumber();
    const int64_t openLine = first + m.LineCount() - 1;
    if (match.Line < first || match.Line > openLine || match.Length != query_.Length()) return 0;
    // counted: a finished line before next_, or the open line of a finished count
    if (!(match.Line < next_ || (match.Line == openLine && done_ && openLine_ == openLine)))
        return 0;
    int64_t ordinal = -1, k = 0;
    query_.ForEachIn(m.LineTextView(int32_t(match.Line - first)), [&](int32_t c) {
        if (c == match.Column) ordinal = k;
        ++k;
        return c < match.Column;
    });
    if (ordinal < 0) return 0;
    // Matches in counted lines before a line; entries of lines that left
    // since the last Step are skipped by starting from `first`.
    auto before = [&](int64_t line) {
        auto it = std::lower_bound(lines_.begin(), lines_.end(), line,
                                   [](const TLineCount& e, int64_t v) { return e.line < v; });
        return it == lines_.begin() ? base_ : std::prev(it)->cum;
    };
    return before(match.Line) - before(first) + ordinal + 1;
}

// ----------------------------------------------------------------- hex view

THexQuery ParseHexQuery(std::u16string_view query, int32_t encoding) {
    THexQuery q;
    if (query.empty()) return q;
    if (IsHexDigitText(query)) {
        TSendBytes b = ParseHexBytes(query);
        q.Kind = THexQueryKind::HexDigits;
        q.Ok = b.Ok;
        q.Bytes = std::move(b.Bytes);
        q.ErrorPos = b.ErrorPos;
        q.Error = b.Error;
    } else {
        q.Kind = THexQueryKind::Text;
        q.Bytes = EncodeSendText(query, encoding);
    }
    return q;
}

THexSearch::THexSearch(const THexQuery& q, int32_t encoding, bool matchCase) {
    if (!q.Ok) return;
    const uint8_t* fold = nullptr;
    if (q.Kind == THexQueryKind::Text && !matchCase)
        fold = encoding == 1 ? ByteFolds().cp1252 : ByteFolds().ascii;
    const auto* p = reinterpret_cast<const uint8_t*>(q.Bytes.data());
    search_ = TSearcher<uint8_t>(std::basic_string_view<uint8_t>(p, q.Bytes.size()), fold);
}

namespace {

constexpr int64_t kHexBlock = 64 * 1024;

// Stream offsets of the kept bytes and of the first start too late for a
// whole match.
struct TRawRange {
    int64_t base, end, limit;
};
TRawRange RawRange(const TTermModel& m, int32_t len) {
    const int64_t base = m.RawBase(), end = base + m.RawCount();
    return {base, end, len > 0 ? end - len + 1 : base};
}

// Calls f(offset) for every match starting in [from, to), in order, until f
// returns false; returns false when stopped. The bytes are read in blocks,
// each as one piece of the ring where it allows and copied where the block
// crosses the ring's seam.
template <class F>
bool ForEachHex(const TTermModel& m, const TSearcher<uint8_t>& s, int64_t from, int64_t to, F&& f) {
    const int32_t len = s.Length();
    const TRawRange r = RawRange(m, len);
    from = std::max(from, r.base);
    to = std::min(to, r.limit);
    std::string scratch;
    while (from < to) {
        const int64_t stop = std::min(to, from + kHexBlock);
        const int64_t need = stop - from + len - 1;  // bytes for starts [from, stop)
        auto [p, n] = m.RawPiece(int32_t(from - r.base));
        if (n < need) {
            scratch.resize(size_t(need));
            int64_t got = 0;
            while (got < need) {
                const auto [q, k] = m.RawPiece(int32_t(from - r.base + got));
                const int64_t take = std::min<int64_t>(k, need - got);
                std::memcpy(scratch.data() + got, q, size_t(take));
                got += take;
            }
            p = reinterpret_cast<const uint8_t*>(scratch.data());
        }
        bool more = true;
        s.ForEach(p, need, 0, true, [&](int64_t at) { return more = f(from + at); });
        if (!more) return false;
        from = stop;
    }
    return true;
}

int64_t FirstHex(const TTermModel& m, const TSearcher<uint8_t>& s, int64_t from, int64_t to) {
    int64_t hit = -1;
    ForEachHex(m, s, from, to, [&](int64_t at) {
        hit = at;
        return false;
    });
    return hit;
}

// The last match starting in [from, to): blocks from the end backwards.
int64_t LastHex(const TTermModel& m, const TSearcher<uint8_t>& s, int64_t from, int64_t to) {
    while (to > from) {
        const int64_t start = std::max(from, to - kHexBlock);
        int64_t hit = -1;
        ForEachHex(m, s, start, to, [&](int64_t at) {
            hit = at;
            return true;
        });
        if (hit >= 0) return hit;
        to = start;
    }
    return -1;
}

int64_t CountHex(const TTermModel& m, const TSearcher<uint8_t>& s, int64_t from, int64_t to) {
    int64_t n = 0;
    ForEachHex(m, s, from, to, [&](int64_t) {
        ++n;
        return true;
    });
    return n;
}

THexFound HexHit(const TTermModel& m, const THexSearch& q, int64_t at, bool wrapped) {
    return {true, wrapped, {at, q.Length(), m.RawEpoch()}};
}

}  // namespace

THexFound FindNextHex(const TTermModel& m, const THexSearch& q, int64_t from) {
    if (q.Empty()) return {};
    const TRawRange r = RawRange(m, q.Length());
    const int64_t at = std::clamp(from, r.base, std::max(r.base, r.limit));
    if (const int64_t hit = FirstHex(m, q.Searcher(), at, r.limit); hit >= 0)
        return HexHit(m, q, hit, false);
    if (const int64_t hit = FirstHex(m, q.Searcher(), r.base, at); hit >= 0)
        return HexHit(m, q, hit, true);
    return {};
}

THexFound FindPrevHex(const TTermModel& m, const THexSearch& q, int64_t before) {
    if (q.Empty()) return {};
    const TRawRange r = RawRange(m, q.Length());
    const int64_t at = std::clamp(before, r.base, std::max(r.base, r.limit));
    if (const int64_t hit = LastHex(m, q.Searcher(), r.base, at); hit >= 0)
        return HexHit(m, q, hit, false);
    if (const int64_t hit = LastHex(m, q.Searcher(), at, r.limit); hit >= 0)
        return HexHit(m, q, hit, true);
    return {};
}

bool IsHexMatchLive(const TTermModel& m, const THexSearch& q, const THexMatch& match) {
    if (q.Empty() || match.Epoch != m.RawEpoch() || match.Length != q.Length()) return false;
    const TRawRange r = RawRange(m, q.Length());
    if (match.Offset < r.base || match.Offset >= r.limit) return false;
    return FirstHex(m, q.Searcher(), match.Offset, match.Offset + 1) == match.Offset;
}

void HexMatchesInRows(const TTermModel& m, const THexSearch& q, int32_t firstRow, int32_t rows,
                      std::vector<THexMatch>& out) {
    if (q.Empty() || rows <= 0) return;
    const int64_t w = m.HexBytesPerLine();
    const int64_t first = std::max<int64_t>(firstRow, 0);
    const int64_t last = std::min<int64_t>(int64_t(firstRow) + rows, m.HexLineCount());
    if (first >= last) return;
    const int64_t from = m.RawBase() + first * w - (q.Length() - 1);
    const int64_t to = m.RawBase() + last * w;
    ForEachHex(m, q.Searcher(), from, to, [&](int64_t at) {
        out.push_back({at, q.Length(), m.RawEpoch()});
        return true;
    });
}

std::vector<THexSpan> HexMatchSpans(const TTermModel& m, const THexMatch& match) {
    std::vector<THexSpan> spans;
    const int64_t start = match.Offset - m.RawBase();
    if (match.Epoch != m.RawEpoch() || match.Length <= 0 || start < 0 ||
        start + match.Length > m.RawCount())
        return spans;
    const int64_t w = m.HexBytesPerLine();
    for (int64_t row = start / w; row * w < start + match.Length; ++row) {
        const int64_t from = std::max(start, row * w) - row * w;
        const int64_t to = std::min(start + match.Length, (row + 1) * w) - row * w;
        // the layout of TTermModel::HexLine: offset (8 digits or more), two
        // spaces, "XX " per byte with one more space after every eighth, one
        // space, then the characters
        const uint64_t offset = uint64_t(m.RawBase() + row * w);
        int64_t digits = 8;
        while (digits < 16 && (offset >> (4 * digits)) != 0) ++digits;
        const int64_t hex = digits + 2, chars = hex + 3 * w + (w - 1) / 8 + 1;
        THexSpan s;
        s.Row = int32_t(row);
        s.FirstByte = int32_t(from);
        s.Bytes = int32_t(to - from);
        s.HexFrom = int32_t(hex + 3 * from + from / 8);
        s.HexTo = int32_t(hex + 3 * (to - 1) + (to - 1) / 8 + 2);
        s.CharFrom = int32_t(chars + from);
        s.CharTo = int32_t(chars + to);
        spans.push_back(s);
    }
    return spans;
}

// -------------------------------------------------------------- hex counter

void THexMatchCounter::Restart(const TTermModel& m) {
    marks_.clear();
    epoch_ = m.RawEpoch();
    next_ = m.RawBase();
    cum_ = base_ = 0;
    marks_.push_back({next_, 0});
}

bool THexMatchCounter::Step(const TTermModel& m, int64_t budgetBytes) {
    const TRawRange r = RawRange(m, query_.Length());
    if (next_ < 0 || epoch_ != m.RawEpoch() || next_ < r.base || next_ > std::max(r.base, r.end)) {
        Restart(m);
    } else {
        // The front dropped: keep the last mark at or before the new base; it
        // falls exactly on it when the drop is a multiple of the mark spacing
        // (2 MiB drops are), otherwise the count starts again from the base.
        while (marks_.size() > 1 && marks_[1].offset <= r.base) marks_.pop_front();
        if (marks_.front().offset != r.base) Restart(m);
        base_ = marks_.front().cum;
    }
    if (query_.Empty()) return done_ = true;
    int64_t spent = 0;
    while (next_ < r.limit && spent < budgetBytes) {
        int64_t stop = std::min(r.limit, (next_ / kCheckpoint + 1) * kCheckpoint);
        if (stop - next_ > budgetBytes - spent)
            stop = next_ + std::max<int64_t>(budgetBytes - spent, 1);
        cum_ += CountHex(m, query_.Searcher(), next_, stop);
        spent += stop - next_;
        next_ = stop;
        if (next_ % kCheckpoint == 0) marks_.push_back({next_, cum_});
    }
    return done_ = next_ >= r.limit;
}

int64_t THexMatchCounter::IndexOf(const TTermModel& m, const THexMatch& match) const {
    if (next_ < 0 || match.Epoch != epoch_ || match.Offset >= next_ || marks_.empty() ||
        marks_.front().offset < m.RawBase() || !IsHexMatchLive(m, query_, match))
        return 0;
    auto it = std::upper_bound(marks_.begin(), marks_.end(), match.Offset,
                               [](int64_t v, const TMark& k) { return v < k.offset; });
    const TMark& mark = *std::prev(it);
    return mark.cum - base_ + CountHex(m, query_.Searcher(), mark.offset, match.Offset) + 1;
}
