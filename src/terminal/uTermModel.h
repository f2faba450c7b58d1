// TTermModel: the bytes received on one connection as attributed, timestamped
// text lines with a bounded history, plus the hex dump of the same bytes.
// Pure: no Windows types; the clock and the locale's time
// separator are injected by the owner.
//
// Design notes
// - Line store. Lines live in a ring of small records (text pointer, length,
//   time) whose text and attributes sit back to back in a per-model arena of
//   256 KiB blocks: a finished line costs 4 bytes per code unit plus one
//   record, with no per-line allocation. The line being written reserves
//   room for 4096 units of text and 4096 of attributes at the arena's tail
//   and is compacted when it ends. Lines leave in arrival order, so a block is released (kept
//   as the one spare) when the last of its lines has been dropped. The ring's
//   record array grows with the line count up to the capacity, so a deep but
//   idle history costs little.
// - Byte budget. The line store (blocks, the spare, the record array) never
//   holds more than its budget: 64 MiB in a 32-bit process, whose host has
//   2 GiB of address space in all, and 256 MiB in a 64-bit one. Lines of
//   garbage at the wrong baud rate cost 16 KiB each, so without it a deep
//   history would take gigabytes. The budget is checked only where the store
//   grows (a new block, a bigger record array), never per byte: before it
//   grows past the budget, or past the limit of the pool it shares with other
//   models, the oldest lines leave exactly as they do at the line limit until
//   a block is free again. A line count below the depth is then normal. The
//   line being written is never dropped, so a store always keeps one block
//   and its records, whatever the budget. Out of memory, the oldest lines give
//   up their block in the same way instead of the allocation failing.
// - Decoding. One byte-at-a-time state machine (DecodeByte) carries all the
//   rules; DecodeBytes adds fast paths that apply only in the data state with
//   no UTF-8 sequence pending: printable ASCII is checked and written into
//   the line eight bytes at a time, other characters (complete UTF-8
//   sequences, CP1252 and ASCII high bytes) one at a time without the state
//   machine, and a CSI sequence that lies whole in the read is parsed in one
//   step. They produce exactly what the state machine produces: a byte-at-a-
//   time reference (tests/unit/termmodel_reference.h) holds them to it.
// - Raw store. Up to 8 MiB of received bytes with the arrival time of each
//   read, so Rebuild can decode again with the original timestamps. The bytes
//   sit in a ring over a TByteBuf's storage: it grows by appends to 8 MiB and
//   is then written round, so dropping 2 MiB moves the ring's head instead of
//   moving 6 MiB of bytes, and the store never holds more than 8 MiB.
// - Line sink. An owner that must see every line (the log writer) gets each
//   one as it is finished, by a line end or the hard wrap, from NewLine: per
//   line, never per byte, so the fast paths stay as they are. Lines finish
//   there whatever the history depth, so a burst far longer than the history
//   still reaches the sink whole. Rebuild (and SetHistoryLines) decode lines
//   that were handed out already and do not call it.
//
// Deliberate choices where the plain rules would go wrong:
// - A code point above U+FFFF never has its surrogate pair split by the hard
//   wrap: with 4095 units in the line it starts a new line first.
// - Backspace removes a whole surrogate pair, not just its low half.
// - Raw is brought back to at most 8 MiB in every Feed, however large n is
//   (dropping 2 MiB at most once per call would let one read of over
//   10 MiB leave more than 8 MiB held).
// - The history depth given at creation is clamped to 100..1000000 like
//   SetHistoryLines, so capacity = depth + 1 cannot overflow.
// - Encoding values other than 1 and 2 decode as UTF-8; NewlineMode values
//   other than 1 to 3 behave as Auto.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "terminal/uBytes.h"

// Local date-time: days since 1899-12-30 as a double (the OLE/Delphi form).
using TDateTime = double;
using TClock = std::function<TDateTime()>;

// The local time now, to the millisecond, from the C++ and C libraries only.
TDateTime LocalNow();
// "[hh:nn:ss.zzz] " for a time, with `sep` in place of ':'.
std::u16string FormatTimestamp(TDateTime t, char16_t sep);

// One line of the history as callers see it; TTermModel::Line assembles it.
struct TTermLine {
    std::u16string Text;   // at most 4096 code units
    std::u16string Attrs;  // one attribute word per code unit of Text
    TDateTime Time = 0;    // arrival of the first character; 0 = none yet
};

// Attribute word: bits 0-4 foreground (0-15 palette, 16 default), bits 5-9
// background (likewise), bit 10 bold, bit 11 inverse.
constexpr uint16_t kAttrDefault = 0x0210;
constexpr uint16_t kAttrBold = 0x0400;
constexpr uint16_t kAttrInverse = 0x0800;
constexpr int32_t kColorDefault = 16;

constexpr int32_t kTermMaxLineUnits = 4096;
constexpr int32_t kTermRawLimit = 8388608;  // 8 MiB kept at most
constexpr int32_t kTermRawDrop = 2097152;   // dropped 2 MiB at a time
constexpr int32_t kTermMinHistory = 100;
constexpr int32_t kTermMaxHistory = 1000000;

// The line store's byte budget of one model, by the width of a pointer.
constexpr size_t kTermLineBudget32 = size_t(64) << 20;
constexpr size_t kTermLineBudget64 = size_t(256) << 20;
constexpr size_t kTermLineBudget = sizeof(void*) == 4 ? kTermLineBudget32 : kTermLineBudget64;

class TTermModel;

// Line-store bytes shared by several models (the kept sessions): each member
// counts what its line store holds, and a member that would grow the total
// past the limit drops its own oldest lines instead; it never takes lines
// from another. A model that cannot drop anything more (only its open line
// is left) keeps its one block, so the total can pass the limit by that
// much. Members join and leave with TTermModel::SetBudgetPool; a pool that
// ends before its members lets them go first.
class TTermBudgetPool {
public:
    explicit TTermBudgetPool(size_t limit) : limit_(limit) {}
    ~TTermBudgetPool();
    TTermBudgetPool(const TTermBudgetPool&) = delete;
    TTermBudgetPool& operator=(const TTermBudgetPool&) = delete;

    size_t Limit() const { return limit_; }
    size_t Total() const { return total_; }
    int32_t Members() const { return int32_t(members_.size()); }
    // Whether `extra` more bytes stay within the limit.
    bool Fits(size_t extra) const { return total_ <= limit_ && extra <= limit_ - total_; }

private:
    friend class TTermModel;
    size_t limit_;
    size_t total_ = 0;
    std::vector<TTermModel*> members_;
};

// One Windows-1252 byte as the view decodes it ('?' for the five bytes the
// code page leaves undefined), and the way back: the byte a character is sent
// as, '?' for a character the code page cannot hold.
char16_t Cp1252ToUnicode(uint8_t b);
uint8_t UnicodeToCp1252(char16_t c);

// The 256-colour and RGB colour parameters reduced to the 16-colour palette.
int32_t Map256Color(int32_t n);
int32_t MapRgbColor(int32_t r, int32_t g, int32_t b);

class TTermModel {
public:
    enum : int32_t { kUtf8 = 0, kLatin1 = 1, kAscii = 2 };
    enum : int32_t { kNlAuto = 0, kNlCrLf = 1, kNlLf = 2, kNlCr = 3 };

    explicit TTermModel(int32_t historyDepth = 10000);
    ~TTermModel();
    TTermModel(const TTermModel&) = delete;
    TTermModel& operator=(const TTermModel&) = delete;

    // Set by the owner; after changing Encoding, NewlineMode or AnsiColors it
    // calls Rebuild. Clock may be replaced (tests, GetLocalTime on Windows).
    int32_t Encoding = kUtf8;
    int32_t NewlineMode = kNlAuto;
    bool AnsiColors = true;
    TClock Clock = LocalNow;
    char16_t TimeSeparator = u':';  // the user's locale time separator

    void Feed(const void* bytes, int32_t n);
    // Called with each line Feed finishes (see the design notes): its text,
    // valid only during the call, and the arrival time of its first character
    // (for an empty line, of the byte that ended it). nullptr: none.
    using TLineSink = void (*)(void* context, std::u16string_view text, TDateTime time);
    void SetLineSink(TLineSink sink, void* context) {
        sink_ = sink;
        sinkContext_ = context;
    }
    void Reset();
    void Rebuild();
    void SetHistoryLines(int32_t n);
    int32_t HistoryLines() const { return capacity_ - 1; }
    void SetHexBytesPerLine(int32_t n);
    int32_t HexBytesPerLine() const { return hexBytesPerLine_; }

    int32_t LineCount() const { return count_; }
    // The running number of line 0: each line that leaves the front, at the
    // line limit or over the byte budget, adds one, so line i is number
    // FirstLineNumber() + i for as long as it is kept, and a number below
    // FirstLineNumber() names a line that is gone. Reset, Rebuild and a
    // SetHistoryLines that changes the depth decode the lines afresh; their
    // new line 0 is numbered FirstLineNumber() + LineCount() of before, so no
    // number handed out earlier ever names one of the new lines (all read as
    // gone). 0 for a new model.
    int64_t FirstLineNumber() const { return firstLine_; }
    std::u16string LineText(int32_t i) const { return std::u16string(LineTextView(i)); }
    std::u16string LineAttrs(int32_t i) const { return std::u16string(LineAttrsView(i)); }
    // Views into the store: valid until the next Feed, Reset, Rebuild,
    // SetHistoryLines or SetBudgetPool. Empty when i is outside 0..LineCount()-1.
    std::u16string_view LineTextView(int32_t i) const;
    std::u16string_view LineAttrsView(int32_t i) const;
    TDateTime LineTime(int32_t i) const;
    TTermLine Line(int32_t i) const;
    std::u16string TimestampPrefix(int32_t i) const;
    int32_t MaxLineLength() const { return maxLineLength_ > curLen_ ? maxLineLength_ : curLen_; }

    int32_t HexLineCount() const;
    std::u16string HexLine(int32_t i) const;
    static std::u16string HexHeader(std::u16string_view label, int32_t width);

    // The kept raw bytes, for the owner's status display and for tests.
    int32_t RawCount() const { return rawCount_; }
    uint8_t RawByte(int32_t i) const { return raw_.Data()[RawPos(i)]; }
    std::string RawBytes() const;
    int64_t RawBase() const { return rawBase_; }
    // The kept bytes from index `from` on, as far as they lie in one piece of
    // the ring: at least one byte when 0 <= from < RawCount(), none otherwise.
    // Valid until the next Feed or Reset. Searches walk the store with it
    // instead of paying RawByte's ring arithmetic per byte.
    std::pair<const uint8_t*, int32_t> RawPiece(int32_t from) const;
    // Counts the Resets: stream offsets (RawBase() + index) start again at 0
    // after one, so an offset kept across a Reset names other bytes. Holders
    // of offsets compare this to tell.
    uint64_t RawEpoch() const { return rawEpoch_; }
    // Arrival time of kept byte `index` (the read it came in), and of the
    // first byte of hex row `row`; 0 outside the kept bytes. A binary search
    // over the arrival records, cheap enough for every painted row.
    TDateTime RawTime(int32_t index) const;
    TDateTime HexRowTime(int32_t row) const;
    // Shrinks the 8 MiB cap and the 2 MiB drop (then Reset), so the fuzz
    // target can drive the drop and the ring's wrap with small inputs.
    void SetRawLimitsForTesting(int32_t limit, int32_t drop);
    int32_t ChunkCount() const { return int32_t(chunks_.size()); }
    // Arrival records kept at most (4 MiB of them); see RecordChunk.
    static constexpr int32_t kMaxChunks = 256 * 1024;
    uint16_t Attribute() const { return attr_; }
    // Heap bytes held by the model (line store, raw store, chunk list).
    size_t MemoryUsage() const;
    // What the byte budget counts: arena blocks (with the spare and the open
    // line's reservation) and the record array's capacity.
    size_t LineStoreBytes() const {
        return lines_.capacity() * sizeof(TLineRec) +
               (blocks_.size() + (spare_ ? 1 : 0)) * BlockBytes();
    }
    size_t LineBudget() const { return budget_; }

    // Joins `pool` (leaving the one before), or leaves with nullptr. Joining
    // adds this store's bytes to the pool's total; when that passes the limit
    // the oldest lines leave until it fits. The model leaves its pool when it
    // is destroyed.
    void SetBudgetPool(TTermBudgetPool* pool);
    TTermBudgetPool* BudgetPool() const { return pool_; }
    // Replaces the byte budget and the arena's block size (in code units, at
    // least what the open line reserves; 0 keeps 128 Ki units), then Reset,
    // so tests and the fuzz target reach the budget with small inputs.
    void SetLineBudgetForTesting(size_t budget, int32_t blockUnits = 0);
    // Makes every arena block allocation after the next `blocks` fail, as a
    // host short of address space would; a negative count ends that.
    void FailBlockAllocationsForTesting(int32_t blocks) { allocsLeft_ = blocks; }

private:
    friend class TTermBudgetPool;
    struct TLineRec {
        char16_t* data;  // Text, then Attrs right after it
        int32_t len;
        TDateTime time;
    };
    struct TBlock {
        char16_t* mem;
        int32_t used;   // units taken by finished lines
        int32_t lines;  // finished lines still in the ring
    };
    struct TChunk {
        int64_t offset;
        TDateTime time;
    };

    // line store (uTermModel.cpp)
    void ClearLines();
    void NewLine();
    void GrowRing();
    void SealCurrent();
    void StartCurrent();
    bool TailFits();
    void AddBlock();
    char16_t* TryAllocBlock();
    void DropFront();
    void ReleaseBlocks();
    void FreeBlocks();
    // Budget accounting: whether `extra` more bytes fit this store's budget
    // and its pool; Account brings held_ and the pool's total up to date
    // after an allocation or a release; TrimToFit drops the oldest lines
    // (and the spare) while the store is over either.
    bool Fits(size_t extra) const {
        return held_ + extra <= budget_ && (!pool_ || pool_->Fits(extra));
    }
    void Account();
    void TrimToFit();
    size_t BlockBytes() const { return size_t(blockUnits_) * sizeof(char16_t); }
    int32_t RingIndex(int32_t i) const {
        const int32_t r = head_ + i, size = int32_t(lines_.size());
        return r >= size ? r - size : r;
    }
    void PutUnit(char16_t c) {
        if (curLen_ >= kTermMaxLineUnits) NewLine();
        if (curTime_ == 0) curTime_ = now_;
        curText_[curLen_] = c;
        curAttrs_[curLen_] = attr_;
        ++curLen_;
    }
    void PutCodePoint(uint32_t p);
    void Backspace();

    // raw store
    int32_t RawPos(int64_t i) const { return int32_t((rawHead_ + i) % rawLimit_); }
    // Calls f(bytes, n) for the kept bytes from index `from` up to `to`: one
    // piece, or two where the ring wraps.
    template <class F>
    void ForRaw(int64_t from, int64_t to, F&& f) const {
        while (from < to) {
            const int32_t pos = RawPos(from);
            const int64_t n = std::min<int64_t>(to - from, rawLimit_ - pos);
            f(raw_.Data() + pos, int32_t(n));
            from += n;
        }
    }
    void StoreRaw(const uint8_t* p, int32_t n);
    void RecordChunk(int64_t offset, TDateTime t);
    void TrimChunks();

    // decoder (uTermDecode.cpp)
    void DecodeBytes(const uint8_t* p, const uint8_t* end);
    void DecodeByte(uint8_t b);
    void DecodeEscape(uint8_t b);
    void PutPrintable(uint8_t b);
    const uint8_t* PutTextRun(const uint8_t* p, const uint8_t* end);
    const uint8_t* TryCsi(const uint8_t* p, const uint8_t* end);
    void ApplySgr(const uint8_t* bytes, int32_t count);

    // A ring of lines_.size() slots holding count_ lines from head_; it grows
    // while the lines fill it, up to capacity_, and lines that leave over the
    // budget leave free slots for the next ones.
    std::vector<TLineRec> lines_;
    int32_t capacity_ = 0;
    int32_t head_ = 0;
    int32_t count_ = 0;
    int32_t maxLineLength_ = 0;
    int64_t firstLine_ = 0;

    std::deque<TBlock> blocks_;  // arena, oldest first; the last one is the tail
    char16_t* spare_ = nullptr;  // one released block kept for reuse
    static constexpr int32_t kArenaBlockUnits = 128 * 1024;  // 256 KiB per block
    int32_t blockUnits_ = kArenaBlockUnits;
    size_t held_ = 0;  // LineStoreBytes as last accounted: this model's share of the pool
    size_t budget_ = kTermLineBudget;
    TTermBudgetPool* pool_ = nullptr;
    int32_t allocsLeft_ = -1;
    TLineSink sink_ = nullptr;
    void* sinkContext_ = nullptr;

    char16_t* curText_ = nullptr;  // the line being written, at the arena tail
    char16_t* curAttrs_ = nullptr;
    int32_t curLen_ = 0;
    TDateTime curTime_ = 0;

    TByteBuf raw_;          // ring storage; its count grows to 8 MiB at most
    int32_t rawHead_ = 0;   // index in raw_ of the first kept byte
    int32_t rawCount_ = 0;  // kept bytes
    int32_t rawLimit_ = kTermRawLimit;
    int32_t rawDrop_ = kTermRawDrop;
    int64_t rawBase_ = 0;
    uint64_t rawEpoch_ = 0;
    std::vector<TChunk> chunks_;

    TDateTime now_ = 0;
    int32_t hexBytesPerLine_ = 24;
    uint16_t attr_ = kAttrDefault;
    int32_t escState_ = 0;
    int32_t oscLen_ = 0;
    int32_t csiLen_ = 0;
    uint8_t csi_[64] = {};
    int32_t utf8Pending_ = 0;
    uint32_t utf8Value_ = 0;
    bool lastWasCR_ = false;
};
