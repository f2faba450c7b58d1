// TTermModel: line store, raw store, Feed and Rebuild. The decoder is in
// uTermDecode.cpp, the hex dump and timestamps in uTermHex.cpp.
#include "terminal/uTermModel.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <utility>

namespace {

// The open line's text and attributes, each with a few units to spare for the
// decoder's whole-word stores.
constexpr int32_t kLineArea = kTermMaxLineUnits + 8;
constexpr int32_t kLineReserve = 2 * kLineArea;

int32_t ClampDepth(int32_t n) { return std::clamp(n, kTermMinHistory, kTermMaxHistory); }

}  // namespace

TTermModel::TTermModel(int32_t historyDepth) : capacity_(ClampDepth(historyDepth) + 1) { Reset(); }

TTermModel::~TTermModel() {
    SetBudgetPool(nullptr);
    FreeBlocks();
}

// ---------------------------------------------------------------- budget pool

TTermBudgetPool::~TTermBudgetPool() {
    for (TTermModel* m : members_) m->pool_ = nullptr;
}

void TTermModel::SetBudgetPool(TTermBudgetPool* pool) {
    if (pool == pool_) return;
    if (pool_) {
        pool_->total_ -= held_;
        std::erase(pool_->members_, this);
    }
    pool_ = pool;
    if (pool_) {
        pool_->members_.push_back(this);
        pool_->total_ += held_;
        TrimToFit();
    }
}

void TTermModel::Account() {
    const size_t now = LineStoreBytes();
    if (pool_) pool_->total_ = pool_->total_ - held_ + now;
    held_ = now;
}

void TTermModel::TrimToFit() {
    while (count_ > 1 && !Fits(0)) DropFront();
    if (spare_ && !Fits(0)) {
        std::free(spare_);
        spare_ = nullptr;
        Account();
    }
}

void TTermModel::SetLineBudgetForTesting(size_t budget, int32_t blockUnits) {
    FreeBlocks();
    budget_ = budget;
    blockUnits_ = blockUnits <= 0 ? kArenaBlockUnits : std::max(blockUnits, kLineReserve);
    Reset();
}

// ---------------------------------------------------------------- line store

char16_t* TTermModel::TryAllocBlock() {
    if (allocsLeft_ == 0) return nullptr;
    if (allocsLeft_ > 0) --allocsLeft_;
    return static_cast<char16_t*>(std::malloc(BlockBytes()));
}

void TTermModel::FreeBlocks() {
    for (const TBlock& b : blocks_) std::free(b.mem);
    blocks_.clear();
    std::free(spare_);
    spare_ = nullptr;
    Account();
}

void TTermModel::ReleaseBlocks() {
    // Keep one block as the tail of the emptied arena and one spare.
    while (blocks_.size() > 1) {
        if (!spare_)
            spare_ = blocks_.front().mem;
        else
            std::free(blocks_.front().mem);
        blocks_.pop_front();
    }
    if (blocks_.empty()) {
        char16_t* mem = std::exchange(spare_, nullptr);
        if (!mem) mem = TryAllocBlock();
        if (!mem) throw std::bad_alloc();
        blocks_.push_back({mem, 0, 0});
    }
    blocks_.front().used = 0;
    blocks_.front().lines = 0;
}

void TTermModel::ClearLines() {
    ReleaseBlocks();
    // the new lines are numbered on from the old ones (see FirstLineNumber)
    firstLine_ += count_;
    lines_.clear();
    head_ = 0;
    count_ = 0;
    maxLineLength_ = 0;
    curLen_ = 0;
    curTime_ = 0;
    attr_ = kAttrDefault;
    escState_ = 0;
    oscLen_ = 0;
    csiLen_ = 0;
    utf8Pending_ = 0;
    utf8Value_ = 0;
    lastWasCR_ = false;
    lines_.push_back({nullptr, 0, 0});
    count_ = 1;
    Account();
    StartCurrent();
}

// Whether the open line's reservation fits at the arena's tail. A tail that
// holds no finished line any more is the only block left: it starts over.
bool TTermModel::TailFits() {
    TBlock& tail = blocks_.back();
    if (tail.lines == 0) tail.used = 0;
    return blockUnits_ - tail.used >= kLineReserve;
}

// Makes room for the open line at the arena tail: its text, then its
// attributes, 4096 units each plus a few to spare. A new block is only taken
// when it fits the budget; otherwise the oldest lines leave until one of
// their blocks is free (it becomes the spare) or none is left to drop.
void TTermModel::StartCurrent() {
    if (!TailFits()) {
        while (!spare_ && count_ > 1 && !Fits(BlockBytes())) DropFront();
        if (!TailFits()) AddBlock();
    }
    TBlock& b = blocks_.back();
    curText_ = b.mem + b.used;
    curAttrs_ = curText_ + kLineArea;
    curLen_ = 0;
    curTime_ = 0;
}

void TTermModel::AddBlock() {
    char16_t* mem = std::exchange(spare_, nullptr);
    if (!mem) mem = TryAllocBlock();
    while (!mem) {
        // Out of memory: the oldest lines give up their block instead. With
        // all of them gone the tail is empty and holds the open line.
        if (count_ <= 1) throw std::bad_alloc();
        DropFront();
        if (TailFits()) return;
        mem = std::exchange(spare_, nullptr);
    }
    blocks_.push_back({mem, 0, 0});
    Account();
}

// Finishes the open line: its attributes move down to follow its text.
void TTermModel::SealCurrent() {
    if (curLen_ > maxLineLength_) maxLineLength_ = curLen_;
    if (curLen_ > 0)
        std::memmove(curText_ + curLen_, curAttrs_, size_t(curLen_) * sizeof(char16_t));
    lines_[size_t(RingIndex(count_ - 1))] = {curText_, curLen_, curTime_};
    TBlock& b = blocks_.back();
    b.used += 2 * curLen_;
    ++b.lines;
}

// Forgets the oldest line; lines leave in arrival order, so it belongs to the
// oldest block, which goes once it holds no line.
void TTermModel::DropFront() {
    --blocks_.front().lines;
    if (blocks_.size() > 1 && blocks_.front().lines == 0) {
        do {
            if (!spare_)
                spare_ = blocks_.front().mem;
            else
                std::free(blocks_.front().mem);
            blocks_.pop_front();
        } while (blocks_.size() > 1 && blocks_.front().lines == 0);
        Account();
    }
    head_ = head_ + 1 == int32_t(lines_.size()) ? 0 : head_ + 1;
    --count_;
    ++firstLine_;
}

// A slot for one more line when every slot holds one: the ring grows (its
// records in arrival order again), or, where the bigger record array would
// not fit the budget or the memory left, the oldest line leaves instead.
void TTermModel::GrowRing() {
    if (lines_.size() == lines_.capacity()) {
        const size_t want =
            std::min<size_t>(std::max<size_t>(64, 2 * lines_.size()), size_t(capacity_));
        if (!Fits((want - lines_.capacity()) * sizeof(TLineRec))) {
            DropFront();
            return;
        }
        std::rotate(lines_.begin(), lines_.begin() + head_, lines_.end());
        head_ = 0;
        try {
            lines_.reserve(want);
        } catch (const std::bad_alloc&) {
            DropFront();
            return;
        }
        Account();
    } else if (head_ != 0) {
        std::rotate(lines_.begin(), lines_.begin() + head_, lines_.end());
        head_ = 0;
    }
    lines_.push_back({nullptr, 0, 0});
}

void TTermModel::NewLine() {
    if (sink_) sink_(sinkContext_, {curText_, size_t(curLen_)}, curTime_ != 0 ? curTime_ : now_);
    SealCurrent();
    if (count_ >= capacity_)
        DropFront();
    else if (count_ == int32_t(lines_.size()))
        GrowRing();
    ++count_;
    StartCurrent();
}

void TTermModel::PutCodePoint(uint32_t p) {
    if (p <= 0xFFFF) {
        PutUnit(char16_t(p));
    } else if (p <= 0x10FFFF) {
        // a pair is never split by the wrap
        if (curLen_ >= kTermMaxLineUnits - 1) NewLine();
        p -= 0x10000;
        PutUnit(char16_t(0xD800 + (p >> 10)));
        PutUnit(char16_t(0xDC00 + (p & 0x3FF)));
    } else {
        PutUnit(u'?');
    }
}

void TTermModel::Backspace() {
    if (curLen_ == 0) return;  // never joins the previous line
    if (curLen_ > maxLineLength_) maxLineLength_ = curLen_;
    --curLen_;
    const char16_t last = curText_[curLen_];
    if (last >= 0xDC00 && last <= 0xDFFF && curLen_ > 0 && curText_[curLen_ - 1] >= 0xD800 &&
        curText_[curLen_ - 1] <= 0xDBFF)
        --curLen_;
}

// ------------------------------------------------------------------ raw store

void TTermModel::RecordChunk(int64_t offset, TDateTime t) {
    if (!chunks_.empty() && chunks_.back().time == t) return;
    if (chunks_.size() >= size_t(kMaxChunks)) {
        // A slow trickle (one byte per read, each at a new millisecond) would
        // otherwise cost 16 bytes of chunk list per byte of raw. Halve the
        // time resolution of what is kept instead: each merged pair keeps its
        // first arrival time, which only Rebuild ever reads.
        size_t kept = 0;
        for (size_t i = 0; i < chunks_.size(); i += 2) chunks_[kept++] = chunks_[i];
        chunks_.resize(kept);
    }
    if (chunks_.size() == chunks_.capacity()) chunks_.reserve(2 * chunks_.capacity() + 64);
    chunks_.push_back({offset, t});
}

// Appends a read to raw and brings raw back to at most 8 MiB by dropping whole
// multiples of 2 MiB from its front. The drop is worked out before the bytes
// are written (same result as writing first), so the ring never overflows.
void TTermModel::StoreRaw(const uint8_t* p, int32_t n) {
    const int64_t total = int64_t(rawCount_) + n;
    int64_t drop = 0;
    if (total > rawLimit_) drop = (total - rawLimit_ + rawDrop_ - 1) / rawDrop_ * rawDrop_;
    if (drop >= rawCount_ && drop > 0) {
        // everything kept goes, and the read alone may exceed what is kept
        const int64_t skip = drop - rawCount_;
        p += skip;
        n -= int32_t(skip);
        rawHead_ = 0;
        rawCount_ = 0;
    } else if (drop > 0) {
        rawHead_ = RawPos(drop);
        rawCount_ -= int32_t(drop);
    }
    // The tail never lies beyond the storage written so far: the storage is
    // extended by appends until it spans the whole ring, then written round.
    int32_t tail = RawPos(rawCount_);
    while (n > 0) {
        const int32_t m = std::min(n, rawLimit_ - tail);
        const int32_t inPlace = std::clamp(raw_.Count() - tail, 0, m);
        if (inPlace > 0) std::memcpy(raw_.Data() + tail, p, size_t(inPlace));
        if (m > inPlace && !raw_.Append(p + inPlace, m - inPlace)) {
            // out of memory: keep the stream offsets right by dropping it all
            drop += int64_t(rawCount_) + n;
            raw_.Clear();
            rawHead_ = 0;
            rawCount_ = 0;
            break;
        }
        rawCount_ += m;
        p += m;
        n -= m;
        tail = tail + m == rawLimit_ ? 0 : tail + m;
    }
    if (drop > 0) {
        rawBase_ += drop;
        TrimChunks();
    }
}

void TTermModel::SetRawLimitsForTesting(int32_t limit, int32_t drop) {
    rawLimit_ = std::clamp(limit, 1, kTermRawLimit);
    rawDrop_ = std::clamp(drop, 1, rawLimit_);
    raw_ = TByteBuf();
    Reset();
}

std::string TTermModel::RawBytes() const {
    std::string out;
    out.reserve(size_t(rawCount_));
    ForRaw(0, rawCount_, [&](const uint8_t* p, int32_t n) {
        out.append(reinterpret_cast<const char*>(p), size_t(n));
    });
    return out;
}

std::pair<const uint8_t*, int32_t> TTermModel::RawPiece(int32_t from) const {
    if (from < 0 || from >= rawCount_) return {nullptr, 0};
    const int32_t pos = RawPos(from);
    return {raw_.Data() + pos, std::min(rawCount_ - from, rawLimit_ - pos)};
}

TDateTime TTermModel::RawTime(int32_t index) const {
    if (index < 0 || index >= rawCount_ || chunks_.empty()) return 0;
    // The last record that starts at or before the byte; the first record may
    // start before raw base (its first bytes were dropped).
    const int64_t at = rawBase_ + index;
    auto it = std::upper_bound(chunks_.begin(), chunks_.end(), at,
                               [](int64_t v, const TChunk& c) { return v < c.offset; });
    return it == chunks_.begin() ? chunks_.front().time : std::prev(it)->time;
}

TDateTime TTermModel::HexRowTime(int32_t row) const {
    if (row < 0 || int64_t(row) * hexBytesPerLine_ >= rawCount_) return 0;
    return RawTime(row * hexBytesPerLine_);
}

// Keeps the last chunk that starts at or before raw base (it holds the time of
// the first kept byte) and everything after it.
void TTermModel::TrimChunks() {
    size_t j = 0;
    while (j + 1 < chunks_.size() && chunks_[j + 1].offset <= rawBase_) ++j;
    if (j > 0) chunks_.erase(chunks_.begin(), chunks_.begin() + ptrdiff_t(j));
}

// ----------------------------------------------------------------- operations

void TTermModel::Feed(const void* bytes, int32_t n) {
    if (n <= 0 || !bytes) return;
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    now_ = Clock ? Clock() : LocalNow();
    RecordChunk(rawBase_ + rawCount_, now_);
    StoreRaw(p, n);
    DecodeBytes(p, p + n);
}

void TTermModel::Reset() {
    ++rawEpoch_;
    raw_.Clear();
    rawHead_ = 0;
    rawCount_ = 0;
    rawBase_ = 0;
    chunks_.clear();
    ClearLines();
}

void TTermModel::Rebuild() {
    // The lines decoded again were handed to the sink when they first came.
    struct TSinkPause {
        TTermModel& m;
        TLineSink sink = std::exchange(m.sink_, nullptr);
        ~TSinkPause() { m.sink_ = sink; }
    } pause{*this};
    ClearLines();
    const int64_t end = rawBase_ + rawCount_;
    // Each chunk's bytes are decoded with its arrival time; chunk 0 may start
    // before raw base (its first bytes were dropped).
    for (size_t j = 0; j < chunks_.size(); ++j) {
        const int64_t from = std::max(chunks_[j].offset, rawBase_);
        const int64_t to = j + 1 < chunks_.size() ? std::min(chunks_[j + 1].offset, end) : end;
        if (from >= to) continue;
        now_ = chunks_[j].time;
        ForRaw(from - rawBase_, to - rawBase_,
               [this](const uint8_t* p, int32_t n) { DecodeBytes(p, p + n); });
    }
}

void TTermModel::SetHistoryLines(int32_t n) {
    n = ClampDepth(n);
    if (capacity_ == n + 1) return;
    capacity_ = n + 1;
    std::vector<TLineRec>().swap(lines_);
    Rebuild();
}

void TTermModel::SetHexBytesPerLine(int32_t n) { hexBytesPerLine_ = std::clamp(n, 1, 64); }

// ------------------------------------------------------------------ accessors

std::u16string_view TTermModel::LineTextView(int32_t i) const {
    if (i < 0 || i >= count_) return {};
    if (i == count_ - 1) return {curText_, size_t(curLen_)};
    const TLineRec& r = lines_[size_t(RingIndex(i))];
    return {r.data, size_t(r.len)};
}

std::u16string_view TTermModel::LineAttrsView(int32_t i) const {
    if (i < 0 || i >= count_) return {};
    if (i == count_ - 1) return {curAttrs_, size_t(curLen_)};
    const TLineRec& r = lines_[size_t(RingIndex(i))];
    return {r.data + r.len, size_t(r.len)};
}

TDateTime TTermModel::LineTime(int32_t i) const {
    if (i < 0 || i >= count_) return 0;
    if (i == count_ - 1) return curTime_;
    return lines_[size_t(RingIndex(i))].time;
}

TTermLine TTermModel::Line(int32_t i) const { return {LineText(i), LineAttrs(i), LineTime(i)}; }

std::u16string TTermModel::TimestampPrefix(int32_t i) const {
    const TDateTime t = LineTime(i);
    if (t == 0) return {};
    return FormatTimestamp(t, TimeSeparator);
}

size_t TTermModel::MemoryUsage() const {
    return LineStoreBytes() + size_t(raw_.Capacity()) + chunks_.capacity() * sizeof(TChunk);
}
