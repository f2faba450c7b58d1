// Find in a terminal's output: the matching rules of the find bar, for the
// text view (lines) and the hex view (raw bytes), over a TTermModel's public
// interface. The window owns the bar, the highlighting and the current match;
// everything it asks of the history is here.
//
// Design notes
// - Matches are named by absolute numbers that outlive the lines and bytes
//   they point into: a text match by its line's running number
//   (TTermModel::FirstLineNumber() + index), a byte match by its stream offset
//   (RawBase() + index) with the raw store's epoch. When the history moves on,
//   a current match whose line or bytes left reads as gone (IsTextMatchLive,
//   IsHexMatchLive) and the window drops it; it never slides onto other text.
// - Text matches lie within one line's text (never in its timestamp, never
//   across a line break) and are taken greedily from the left without
//   overlapping, the way an editor steps through them: "aa" occurs twice in
//   "aaaa", at columns 0 and 2. Next, Previous, the visible matches and the
//   count all use that one enumeration, so "3 of 17" and the stepping agree.
// - Byte matches are every offset where the bytes occur, overlaps included:
//   bytes have no lines to restart an enumeration at, and a greedy one would
//   shift with every 2 MiB the raw store drops. Five 00 bytes hold four
//   matches of "00 00"; Next steps one offset on.
// - Ignoring case folds each UTF-16 unit through one table (ASCII, Latin-1,
//   Latin Extended-A and -B pairs, Latin Extended Additional, Greek, Cyrillic,
//   Armenian, Georgian, full-width Latin). Folding never changes a line's
//   length, so a column in the folded line is the column in the line. In the
//   hex view a query typed as text ignores case for ASCII letters, and in
//   Windows-1252 for its Latin letters too; a hex-digit query is exact.
// - Speed. A search tests a block of 64 positions at once for the needle's
//   first and last unit (vectorised, case variants included) and compares only
//   the positions that pass; a needle that nearly matches everywhere hands
//   over to KMP, so every search is linear in what it reads. The first match
//   from the end of 100,000 lines of 100 characters, found or not, takes
//   10 to 20 ms, 8 MiB of raw bytes 2 to 15 ms (bench_find). Counting every
//   match of a deep history can take longer, so the counters work in slices:
//   each Step reads a bounded amount and keeps what it counted, and the
//   window steps again from a timer until Done.
//
// The window's round: on a new query (or Match case) it compiles a TTextQuery
// (or ParseHexQuery + THexSearch, showing ErrorPos of a refused hex query),
// makes a new counter and takes FindPrevText/FindPrevHex from the end as the
// current match. After each Feed it drops the current match unless it is
// still live and steps the counter; for each paint it asks for the matches
// of the visible rows (columns are those of the line's text or of HexLine:
// the window adds the width of a shown timestamp); the label is IndexOf
// "of" Total, with the total marked unfinished until Done.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "terminal/uSendText.h"
#include "terminal/uTermModel.h"

// One UTF-16 unit folded for comparisons that ignore case (lower case).
char16_t FoldCase(char16_t c);

// A needle compiled for searching: folded once, with its KMP table. T is
// char16_t (text) or uint8_t (bytes).
template <class T>
class TSearcher {
public:
    TSearcher() = default;
    // `foldTable` maps a unit to what it compares as; null for an exact search.
    TSearcher(std::basic_string_view<T> needle, const T* foldTable);
    int32_t Length() const { return int32_t(pat_.size()); }
    // The first occurrence starting at or after `from` in hay[0..n), or -1.
    int64_t Find(const T* hay, int64_t n, int64_t from) const {
        int64_t hit = -1;
        ForEach(hay, n, from, false, [&](int64_t at) {
            hit = at;
            return false;
        });
        return hit;
    }
    // Calls f(start) for the occurrences in hay[0..n) starting at or after
    // `from`, left to right, until f returns false: every one with `overlap`,
    // otherwise each search resuming after the previous occurrence.
    template <class F>
    void ForEach(const T* hay, int64_t n, int64_t from, bool overlap, F&& f) const {
        if (fold_)
            Scan<true>(hay, n, from, overlap, f);
        else
            Scan<false>(hay, n, from, overlap, f);
    }

private:
    static constexpr int64_t kBlock = 64;
    static constexpr int32_t kVariants = 4;

    static int OneOf(T c, const std::array<T, kVariants>& set) {
        return int(c == set[0]) | int(c == set[1]) | int(c == set[2]) | int(c == set[3]);
    }
    template <bool kFold>
    T Fold(T c) const {
        if constexpr (kFold) return fold_[c];
        return c;
    }
    // A block of positions is first tested for the needle's first and last
    // unit together (any of the few units that fold to each), in a loop
    // without branches that the compiler vectorises, and only the positions
    // that pass are compared whole. Those comparisons are counted, and when a needle that nearly
    // matches everywhere ("aaxaa" in "aaaa...") has cost the text's length in
    // them, KMP carries on from there, so a whole pass stays linear.
    template <bool kFold, class F>
    void Scan(const T* hay, int64_t n, int64_t from, bool overlap, F& f) const {
        const int64_t m = Length();
        if (m == 0 || from < 0 || n - from < m) return;
        const T head = pat_[0], last = pat_[size_t(m - 1)];
        const int64_t stop = n - m + 1;  // the first start too late for a whole needle
        const int64_t budget = n - from + m;
        int64_t work = 0, pos = from;  // pos: the first start still to report
        uint8_t hit[kBlock];
        while (pos < stop) {
            // A short last block is tested as the whole block that ends with
            // it (positions before pos are skipped below); only a text
            // shorter than a block is tested position by position.
            const int64_t s0 = stop - pos >= kBlock ? pos : stop >= kBlock ? stop - kBlock : pos;
            const int64_t width = stop - s0 < kBlock ? stop - s0 : kBlock;
            if (width == kBlock && filter_) {
                const T* a = hay + s0;
                const T* b = a + (m - 1);
                for (int k = 0; k < kBlock; ++k)
                    hit[k] = uint8_t(OneOf(a[k], heads_) & OneOf(b[k], lasts_));
            } else {
                for (int64_t k = 0; k < width; ++k) hit[k] = 1;
            }
            for (int64_t w = 0; w < width; w += 8) {
                uint64_t word = 0;
                const int64_t wl = width - w < 8 ? width - w : 8;
                std::memcpy(&word, hit + w, size_t(wl));
                if (word == 0) continue;
                for (int64_t k = w; k < w + wl; ++k) {
                    const int64_t at = s0 + k;
                    if (!hit[k] || at < pos || Fold<kFold>(hay[at]) != head ||
                        Fold<kFold>(hay[at + m - 1]) != last)
                        continue;
                    int64_t j = 1;
                    while (j < m - 1 && Fold<kFold>(hay[at + j]) == pat_[size_t(j)]) ++j;
                    work += j + 1;
                    const bool match = j >= m - 1;
                    if (match) {
                        if (!f(at)) return;
                        pos = overlap ? at + 1 : at + m;
                    }
                    if (work > budget) return Kmp<kFold>(hay, n, match ? pos : at + 1, overlap, f);
                }
            }
            if (s0 + width > pos) pos = s0 + width;
        }
    }
    // KMP from `from`: after a match the state is the needle's border when
    // occurrences may overlap, nothing otherwise.
    template <bool kFold, class F>
    void Kmp(const T* hay, int64_t n, int64_t from, bool overlap, F& f) const {
        const int32_t m = Length();
        int32_t k = 0;
        for (int64_t i = from; i < n; ++i) {
            const T c = Fold<kFold>(hay[i]);
            while (k > 0 && pat_[size_t(k)] != c) k = border_[size_t(k - 1)];
            if (pat_[size_t(k)] == c && ++k == m) {
                if (!f(i - m + 1)) return;
                k = overlap ? border_[size_t(m - 1)] : 0;
            }
        }
    }

    std::basic_string<T> pat_;     // folded
    std::vector<int32_t> border_;  // KMP: longest proper border of each prefix
    const T* fold_ = nullptr;
    // The units that fold to the needle's first and last unit, repeated to
    // fill the four; no block test when a fold table has more of them.
    std::array<T, kVariants> heads_{}, lasts_{};
    bool filter_ = false;
};

// ---------------------------------------------------------------- text view

// A match in the text view: line number (absolute), column and length in
// UTF-16 units of the line's text.
struct TTextMatch {
    int64_t Line = -1;
    int32_t Column = 0;
    int32_t Length = 0;
    bool operator==(const TTextMatch&) const = default;
};

// A place between units of the history: line number (absolute) and column.
struct TTextPos {
    int64_t Line = 0;
    int32_t Column = 0;
};

class TTextQuery {
public:
    TTextQuery() = default;
    TTextQuery(std::u16string_view query, bool matchCase);
    bool Empty() const { return search_.Length() == 0; }
    int32_t Length() const { return search_.Length(); }
    bool MatchCase() const { return matchCase_; }
    // Column of the first match in `line` at or after `from`, following the
    // greedy enumeration (a match starting at `from` only counts when the
    // enumeration reaches it: call with from = 0 or the end of a match).
    // -1 when none.
    int32_t NextIn(std::u16string_view line, int32_t from) const;
    // The matches of one line, left to right: f(column) for each, returning
    // whether to go on.
    template <class F>
    void ForEachIn(std::u16string_view line, F&& f) const {
        search_.ForEach(line.data(), int64_t(line.size()), 0, false,
                        [&](int64_t c) { return f(int32_t(c)); });
    }
    int32_t CountIn(std::u16string_view line) const;
    // Whether the text at `column` is a match of the enumeration.
    bool IsMatchAt(std::u16string_view line, int32_t column) const;

private:
    TSearcher<char16_t> search_;
    bool matchCase_ = true;
};

struct TTextFound {
    bool Found = false;
    bool Wrapped = false;  // found only after going round the end (or start)
    TTextMatch Match;
};

// Positions at the start of the history and just past its end.
TTextPos TextStart(const TTermModel& m);
TTextPos TextEnd(const TTermModel& m);
// The first match starting at or after `from`, going round to the start.
// Next after a current match M: from {M.Line, M.Column + 1}. A line number
// below the first kept line reads as the start of the history.
TTextFound FindNextText(const TTermModel& m, const TTextQuery& q, TTextPos from);
// The last match starting before `before`, going round to the end. The
// search that opens the bar, nearest the newest output: before TextEnd(m).
// Previous before a current match M: before {M.Line, M.Column}.
TTextFound FindPrevText(const TTermModel& m, const TTextQuery& q, TTextPos before);
// Whether a match still names the same text: its line is kept and the query
// still matches there (the open line can lose characters to a backspace).
bool IsTextMatchLive(const TTermModel& m, const TTextQuery& q, const TTextMatch& match);
// Every match in lines firstRow .. firstRow + rows - 1 (indexes into the
// model), appended to `out` in order: the visible ones, for highlighting.
void TextMatchesInRows(const TTermModel& m, const TTextQuery& q, int32_t firstRow, int32_t rows,
                       std::vector<TTextMatch>& out);

// The total number of text matches, counted in slices. Step after every Feed
// (and from a timer while not Done): it forgets the lines that left, counts
// the lines not counted yet within its budget, and recounts the open line.
// Reset, Rebuild and a change of history depth renumber the lines, so the
// counter starts again by itself; a new query needs a new counter.
class TTextMatchCounter {
public:
    // Units of line text one Step reads, give or take its last line: a few
    // milliseconds' work (bench_find).
    static constexpr int64_t kSliceUnits = int64_t(1) << 20;

    TTextMatchCounter() = default;
    explicit TTextMatchCounter(TTextQuery q) : query_(std::move(q)) {}
    const TTextQuery& Query() const { return query_; }
    // Returns Done().
    bool Step(const TTermModel& m, int64_t budgetUnits = kSliceUnits);
    // Every kept line was counted at the last Step.
    bool Done() const { return done_; }
    // Matches counted so far (all of them once Done).
    int64_t Total() const { return cum_ - base_ + open_; }
    // 1-based place of a match among all matches ("3 of 17"); 0 when the
    // match is gone, is not a match, or its line is not counted yet.
    int64_t IndexOf(const TTermModel& m, const TTextMatch& match) const;

private:
    struct TLineCount {
        int64_t line;
        int64_t cum;  // matches in all counted lines up to and including this one
    };
    TTextQuery query_;
    std::deque<TLineCount> lines_;  // only lines that hold matches
    int64_t next_ = INT64_MIN;      // first line number not counted yet
    int64_t cum_ = 0;               // matches ever counted in finished lines
    int64_t base_ = 0;              // of those, the ones in lines that left
    int64_t open_ = 0;              // matches in the open line at the last Step
    int64_t openLine_ = -1;
    bool done_ = false;
};

// ---------------------------------------------------------------- hex view

enum class THexQueryKind : int32_t { Empty, HexDigits, Text };

// A hex-view query as bytes: hex digit pairs when it holds nothing but hex
// digits, spaces and tabs ("0d 0a", "DEADBEEF"; a group with a digit left
// unpaired is an error: Ok false, Error OddHexDigits, ErrorPos the 0-based
// index of that digit), otherwise its text in the view's encoding (0 UTF-8,
// 1 Windows-1252, 2 ASCII with '?' for what ASCII cannot hold).
struct THexQuery {
    bool Ok = true;
    THexQueryKind Kind = THexQueryKind::Empty;
    std::string Bytes;
    int32_t ErrorPos = -1;
    TSendError Error = TSendError::None;
};
THexQuery ParseHexQuery(std::u16string_view query, int32_t encoding);

// A compiled byte search: exact for hex digits, folding letters for text
// unless `matchCase`.
class THexSearch {
public:
    THexSearch() = default;
    THexSearch(const THexQuery& q, int32_t encoding, bool matchCase);
    bool Empty() const { return search_.Length() == 0; }
    int32_t Length() const { return search_.Length(); }
    const TSearcher<uint8_t>& Searcher() const { return search_; }

private:
    TSearcher<uint8_t> search_;
};

// A match in the raw bytes: stream offset (RawBase() + index) of its first
// byte, its length, and the raw store's epoch it was found in.
struct THexMatch {
    int64_t Offset = -1;
    int32_t Length = 0;
    uint64_t Epoch = 0;
    bool operator==(const THexMatch&) const = default;
};

struct THexFound {
    bool Found = false;
    bool Wrapped = false;
    THexMatch Match;
};

// The first match starting at or after stream offset `from` (Next after M:
// M.Offset + 1), going round to the first kept byte; and the last one
// starting before `before` (Previous: M.Offset; from the end:
// RawBase() + RawCount()), going round to the end.
THexFound FindNextHex(const TTermModel& m, const THexSearch& q, int64_t from);
THexFound FindPrevHex(const TTermModel& m, const THexSearch& q, int64_t before);
// The match's bytes are all still kept (same epoch) and still match.
bool IsHexMatchLive(const TTermModel& m, const THexSearch& q, const THexMatch& match);
// Every match that covers a byte of hex rows firstRow .. firstRow + rows - 1,
// appended to `out` in order of offset.
void HexMatchesInRows(const TTermModel& m, const THexSearch& q, int32_t firstRow, int32_t rows,
                      std::vector<THexMatch>& out);

// The part of a byte match on one hex row: its byte columns, and the same
// bytes as UTF-16 index ranges [from, to) of HexLine(Row), in the hex column
// (from the first digit of the first byte to the last digit of the last)
// and in the character column.
struct THexSpan {
    int32_t Row = 0;
    int32_t FirstByte = 0;
    int32_t Bytes = 0;
    int32_t HexFrom = 0, HexTo = 0;
    int32_t CharFrom = 0, CharTo = 0;
};
// The spans of a match, one per row it touches (none when it is gone).
std::vector<THexSpan> HexMatchSpans(const TTermModel& m, const THexMatch& match);

// The total number of byte matches, counted in slices like the text counter:
// it remembers the count at every 64 KiB of stream, so the front's 2 MiB
// drops cost nothing and IndexOf reads at most 64 KiB.
class THexMatchCounter {
public:
    static constexpr int64_t kSliceBytes = int64_t(4) << 20;
    static constexpr int64_t kCheckpoint = int64_t(64) << 10;

    THexMatchCounter() = default;
    explicit THexMatchCounter(THexSearch q) : query_(std::move(q)) {}
    // As with the text counter: Step after every Feed and while not Done (a
    // Reset of the model starts the count again); IndexOf is 1-based, 0 when
    // the match is gone, not a match or not counted yet.
    bool Step(const TTermModel& m, int64_t budgetBytes = kSliceBytes);
    bool Done() const { return done_; }
    int64_t Total() const { return cum_ - base_; }
    int64_t IndexOf(const TTermModel& m, const THexMatch& match) const;

private:
    struct TMark {
        int64_t offset;
        int64_t cum;  // matches starting before offset
    };
    void Restart(const TTermModel& m);
    THexSearch query_;
    std::deque<TMark> marks_;
    uint64_t epoch_ = 0;
    int64_t next_ = -1;  // first start offset not counted yet
    int64_t cum_ = 0;
    int64_t base_ = 0;
    bool done_ = false;
};
