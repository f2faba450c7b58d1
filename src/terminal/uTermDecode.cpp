// TTermModel's decoder: bytes to characters, line breaks, escape sequences
// and colour attributes.
//
// DecodeByte is the rule book, one byte at a time. DecodeBytes wraps it with
// two fast paths that are only taken in the data state with no UTF-8 sequence
// pending: PutTextRun, where the rules for printable bytes (and complete,
// well-formed UTF-8 sequences) reduce to "put the character, clear
// last-was-CR", and TryCsi, for a CSI sequence that lies whole in the buffer.
// tests/unit/test_termmodel_diff.cpp holds them to a byte-at-a-time reference.
#include <algorithm>
#include <bit>
#include <cstring>

#include "terminal/uTermModel.h"

namespace {

enum : int32_t { kData = 0, kEsc = 1, kCsi = 2, kOsc = 3, kCharset = 4, kOscEsc = 5 };
constexpr int32_t kOscMax = 512;
constexpr int32_t kCsiMax = 64;
constexpr int32_t kSgrMaxParams = 16;

// Windows-1252 for 0x80..0x9F; the five bytes it leaves undefined give '?'.
constexpr char16_t kCp1252High[32] = {
    0x20AC, u'?',   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, u'?',   0x017D, u'?',    // 88-8F
    u'?',   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, u'?',   0x017E, 0x0178,  // 98-9F
};

}  // namespace

char16_t Cp1252ToUnicode(uint8_t b) {
    return b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char16_t(b);
}

uint8_t UnicodeToCp1252(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return uint8_t(c);
    // C1 controls have no byte; the table's '?' marks no character either.
    if (c < 0x100) return '?';
    for (int i = 0; i < 32; ++i)
        if (kCp1252High[i] == c) return uint8_t(0x80 + i);
    return '?';
}

namespace {

// Per-byte tables of the fast path. latin1/ascii: the character of a
// printable byte in CP1252 and ASCII, 0 for the bytes the state machine
// handles. utf8Len: 1 for printable ASCII, the sequence length for a byte that
// can start a well-formed sequence, kBadByte for one that cannot (a lone
// U+FFFD), 0 for the bytes the state machine handles. For a sequence of length k,
// contMask/contBits test its continuation bytes (packed low byte first) and
// leadMask keeps the value bits of its first byte.
constexpr uint8_t kBadByte = 5;
struct TByteMaps {
    char16_t latin1[256] = {};
    char16_t ascii[256] = {};
    uint8_t utf8Len[256] = {};
    uint32_t contMask[5] = {0, 0, 0xC0, 0xC0C0, 0xC0C0C0};
    uint32_t contBits[5] = {0, 0, 0x80, 0x8080, 0x808080};
    uint8_t leadMask[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    constexpr TByteMaps() {
        for (int b = 0x20; b < 0x7F; ++b) latin1[b] = ascii[b] = char16_t(b), utf8Len[b] = 1;
        for (int b = 0x80; b < 0x100; ++b) {
            latin1[b] = b < 0xA0 ? kCp1252High[b - 0x80] : char16_t(b);
            ascii[b] = u'?';
        }
        for (int b = 0x80; b < 0x100; ++b) utf8Len[b] = kBadByte;
        for (int b = 0xC2; b <= 0xDF; ++b) utf8Len[b] = 2;
        for (int b = 0xE0; b <= 0xEF; ++b) utf8Len[b] = 3;
        for (int b = 0xF0; b <= 0xF4; ++b) utf8Len[b] = 4;
    }
};
constexpr TByteMaps kByteMaps;

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

// Flags the bytes of a word outside 0x20..0x7E in their high bits: x >= 0x80
// shows in the high bit of x, x == 0x7F in that of x + 1, x < 0x20 in that of
// (x - 0x20) & ~x. Carries and borrows only run upward from a byte that is
// itself flagged, so the lowest flag is exact.
inline uint64_t NonPrintableFlags(uint64_t w) {
    return (w | (w + kOnes) | ((w - 0x20 * kOnes) & ~w)) & kHighs;
}

// Four bytes spread to four 16-bit units (little-endian layout).
inline uint64_t Widen4(uint32_t x) {
    uint64_t v = x;
    v = (v | (v << 16)) & 0x0000FFFF0000FFFFull;
    return (v | (v << 8)) & 0x00FF00FF00FF00FFull;
}

inline bool IsCont(uint8_t b) { return (b & 0xC0) == 0x80; }

}  // namespace

int32_t Map256Color(int32_t n) {
    if (n < 16) return n;
    if (n <= 231) {
        const int32_t k = n - 16, r = k / 36, g = (k / 6) % 6, b = k % 6;
        const int32_t bits = (r >= 3 ? 1 : 0) + (g >= 3 ? 2 : 0) + (b >= 3 ? 4 : 0);
        const int32_t m = std::max({r, g, b});
        if (bits != 0) return m >= 4 ? bits + 8 : bits;
        return m >= 2 ? 8 : 0;
    }
    if (n <= 239) return 0;
    if (n <= 247) return 8;
    return 7;
}

int32_t MapRgbColor(int32_t r, int32_t g, int32_t b) {
    const int32_t bits = (r >= 128 ? 1 : 0) + (g >= 128 ? 2 : 0) + (b >= 128 ? 4 : 0);
    return bits != 0 && (r >= 224 || g >= 224 || b >= 224) ? bits + 8 : bits;
}

// Printable text from p straight into the open line, until a byte that needs
// the state machine: a control byte, ESC, DEL, or (in UTF-8) a byte that does
// not start a complete, well-formed sequence. Returns where it stopped.
// Printable ASCII goes eight bytes at a time; other characters one at a time
// with few branches (real text mixes sequence lengths unpredictably). Stores
// may run past what is counted: the open line has room reserved beyond 4096
// units. The hard wrap is the one PutUnit and PutCodePoint apply.
const uint8_t* TTermModel::PutTextRun(const uint8_t* p, const uint8_t* end) {
    const char16_t* map = Encoding == kLatin1  ? kByteMaps.latin1
                          : Encoding == kAscii ? kByteMaps.ascii
                                               : nullptr;
    const char16_t attr = attr_;
    const uint64_t attr4 = attr * 0x0001000100010001ull;
    int32_t len = curLen_;
    char16_t* text = curText_;
    char16_t* attrs = curAttrs_;
    auto flush = [&] {
        if (len > curLen_ && curTime_ == 0) curTime_ = now_;
        curLen_ = len;
    };
    while (p < end) {
        if constexpr (std::endian::native == std::endian::little) {
            while (end - p >= 8 && len <= kTermMaxLineUnits - 8) {
                uint64_t w;
                std::memcpy(&w, p, 8);
                const uint64_t lo = Widen4(uint32_t(w)), hi = Widen4(uint32_t(w >> 32));
                std::memcpy(text + len, &lo, 8);
                std::memcpy(text + len + 4, &hi, 8);
                std::memcpy(attrs + len, &attr4, 8);
                std::memcpy(attrs + len + 4, &attr4, 8);
                const uint64_t flags = NonPrintableFlags(w);
                const int32_t k = flags ? int32_t(__builtin_ctzll(flags) >> 3) : 8;
                p += k;
                len += k;
                if (k < 8) break;
            }
            if (p == end) break;
        }
        // one character
        const uint8_t b = *p;
        uint32_t u0, u1 = 0;
        int32_t units = 1, k = 1;
        if (map) {
            u0 = map[b];
            if (u0 == 0) break;
        } else {
            k = kByteMaps.utf8Len[b];
            if (k == 0) break;
            u0 = b;
            if (k == kBadByte) {  // cannot start a sequence: U+FFFD on its own
                u0 = 0xFFFD;
                k = 1;
            } else if (k > 1) {
                uint8_t tail[4] = {b, 0, 0, 0};  // zeros: no continuation past the end
                const uint8_t* q = p;
                if (end - p < 4) {
                    std::memcpy(tail, p, size_t(end - p));
                    q = tail;
                }
                const uint32_t cont = uint32_t(q[1]) | uint32_t(q[2]) << 8 | uint32_t(q[3]) << 16;
                const bool bad = (cont & kByteMaps.contMask[k]) != kByteMaps.contBits[k];
                if (bad) {
                    // A byte that is no continuation ends the sequence early: as
                    // the state machine does, U+FFFD for what came so far, and
                    // that byte is decoded afresh.
                    int32_t m = 1;
                    while (m < k && IsCont(q[m])) ++m;
                    if (q == tail && m >= end - p) break;  // only cut off: stays pending
                    u0 = 0xFFFD;
                    k = m;
                }
                if (!bad) {
                    const uint32_t c =
                        uint32_t(q[1] & 0x3F) << 12 | uint32_t(q[2] & 0x3F) << 6 | (q[3] & 0x3F);
                    uint32_t cp = (uint32_t(b & kByteMaps.leadMask[k]) << 18 | c) >> (6 * (4 - k));
                    if (cp > 0x10FFFF) cp = u'?';  // F4 90 .. and above
                    const uint32_t v = cp - 0x10000;
                    units = cp > 0xFFFF ? 2 : 1;
                    u0 = units == 2 ? 0xD800 + (v >> 10) : cp;
                    u1 = 0xDC00 + (v & 0x3FF);
                }
            }
        }
        if (len + units > kTermMaxLineUnits) {
            flush();
            NewLine();
            len = 0;
            text = curText_;
            attrs = curAttrs_;
        }
        text[len] = char16_t(u0);
        text[len + 1] = char16_t(u1);
        attrs[len] = attr;
        attrs[len + 1] = attr;
        len += units;
        p += k;
    }
    flush();
    return p;
}

// A whole CSI sequence that lies in the buffer, in one step; null when it is
// cut off by the end of the buffer or by an ESC (the state machine does it).
const uint8_t* TTermModel::TryCsi(const uint8_t* p, const uint8_t* end) {
    if (end - p < 3 || p[1] != '[') return nullptr;
    uint8_t params[kCsiMax];
    int32_t n = 0;
    const uint8_t* q = p + 2;
    for (; q < end; ++q) {
        const uint8_t c = *q;
        if (c >= 0x30 && c <= 0x3F) {
            if (n < kCsiMax) params[n++] = c;
        } else if (c < 0x20 || c > 0x2F) {
            break;
        }
    }
    if (q == end || *q == 0x1B) return nullptr;
    lastWasCR_ = false;  // as ESC does
    if (*q == 'm') ApplySgr(params, n);
    return q + 1;
}

void TTermModel::DecodeBytes(const uint8_t* p, const uint8_t* end) {
    while (p < end) {
        if (escState_ == kData && utf8Pending_ == 0) {
            const uint8_t* q = PutTextRun(p, end);
            if (q != p) {
                lastWasCR_ = false;
                p = q;
                if (p == end) break;
            }
            if (*p == 0x1B) {
                if (const uint8_t* r = TryCsi(p, end)) {
                    p = r;
                    continue;
                }
            }
        }
        DecodeByte(*p++);
    }
}

void TTermModel::DecodeByte(uint8_t b) {
    if (escState_ != kData) {
        DecodeEscape(b);
        return;
    }
    const bool utf8 = Encoding != kLatin1 && Encoding != kAscii;
    if (utf8 && utf8Pending_ > 0) {
        if (IsCont(b)) {
            utf8Value_ = (utf8Value_ << 6) | (b & 0x3F);
            if (--utf8Pending_ == 0) PutCodePoint(utf8Value_);
            return;
        }
        PutUnit(0xFFFD);
        utf8Pending_ = 0;
    }
    const bool prevCR = lastWasCR_;
    lastWasCR_ = false;
    switch (b) {
        case 0x08:
            Backspace();
            return;
        case 0x09: {
            const int32_t spaces = 8 - curLen_ % 8;
            for (int32_t i = 0; i < spaces; ++i) PutUnit(u' ');
            return;
        }
        case 0x0D:
            switch (NewlineMode) {
                case kNlCrLf:
                    lastWasCR_ = true;
                    return;
                case kNlLf:
                    return;
                case kNlCr:
                    NewLine();
                    return;
                default:
                    NewLine();
                    lastWasCR_ = true;
                    return;
            }
        case 0x0A:
            switch (NewlineMode) {
                case kNlCrLf:
                    if (prevCR) NewLine();
                    return;
                case kNlLf:
                    NewLine();
                    return;
                case kNlCr:
                    return;
                default:
                    if (!prevCR) NewLine();
                    return;
            }
        case 0x1B:
            escState_ = kEsc;
            return;
        default:
            break;
    }
    if (b < 0x20 || b == 0x7F) return;  // the other control bytes are ignored
    PutPrintable(b);
}

void TTermModel::PutPrintable(uint8_t b) {
    if (b < 0x80) {
        PutUnit(b);
        return;
    }
    if (Encoding == kLatin1) {
        PutUnit(b < 0xA0 ? kCp1252High[b - 0x80] : char16_t(b));
    } else if (Encoding == kAscii) {
        PutUnit(u'?');
    } else if (b >= 0xC2 && b <= 0xDF) {
        utf8Pending_ = 1;
        utf8Value_ = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        utf8Pending_ = 2;
        utf8Value_ = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        utf8Pending_ = 3;
        utf8Value_ = b & 0x07;
    } else {
        PutUnit(0xFFFD);
    }
}

void TTermModel::DecodeEscape(uint8_t b) {
    switch (escState_) {
        case kEsc:
            if (b == '[') {
                csiLen_ = 0;
                escState_ = kCsi;
            } else if (b == ']') {
                oscLen_ = 0;
                escState_ = kOsc;
            } else if (b == '(' || b == ')' || b == '*' || b == '+') {
                escState_ = kCharset;
            } else {
                escState_ = kData;
            }
            return;
        case kCsi:
            if (b >= 0x30 && b <= 0x3F) {
                if (csiLen_ < kCsiMax) csi_[csiLen_++] = b;
            } else if (b >= 0x20 && b <= 0x2F) {
                // intermediate bytes are ignored
            } else if (b == 0x1B) {
                escState_ = kEsc;
            } else {
                if (b == 'm') ApplySgr(csi_, csiLen_);
                escState_ = kData;
            }
            return;
        case kOsc:
            if (b == 0x07) {
                escState_ = kData;
            } else if (b == 0x1B) {
                escState_ = kOscEsc;
            } else if (++oscLen_ > kOscMax) {
                escState_ = kData;
            }
            return;
        case kCharset:
            escState_ = b == 0x1B ? kEsc : kData;
            return;
        default:  // kOscEsc: normally the "\" of the string terminator
            escState_ = kData;
            return;
    }
}

void TTermModel::ApplySgr(const uint8_t* bytes, int32_t count) {
    if (!AnsiColors) return;
    int32_t params[kSgrMaxParams];
    int32_t np = 0, value = 0;
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t c = bytes[i];
        if (c == ';') {
            if (np < kSgrMaxParams) params[np++] = value;
            value = 0;
        } else if (c >= '0' && c <= '9' && value < 10000) {
            value = value * 10 + (c - '0');
        }
    }
    if (np < kSgrMaxParams) params[np++] = value;

    int32_t fg = attr_ & 0x1F, bg = (attr_ >> 5) & 0x1F, flags = attr_ & (kAttrBold | kAttrInverse);
    for (int32_t i = 0; i < np; ++i) {
        const int32_t p = params[i];
        const int32_t more = np - i - 1;
        if (p == 0) {
            fg = bg = kColorDefault;
            flags = 0;
        } else if (p == 1) {
            flags |= kAttrBold;
        } else if (p == 7) {
            flags |= kAttrInverse;
        } else if (p == 22) {
            flags &= ~kAttrBold;
        } else if (p == 27) {
            flags &= ~kAttrInverse;
        } else if (p >= 30 && p <= 37) {
            fg = p - 30;
        } else if (p == 39) {
            fg = kColorDefault;
        } else if (p >= 40 && p <= 47) {
            bg = p - 40;
        } else if (p == 49) {
            bg = kColorDefault;
        } else if (p >= 90 && p <= 97) {
            fg = p - 82;
        } else if (p >= 100 && p <= 107) {
            bg = p - 92;
        } else if (p == 38 || p == 48) {
            int32_t& target = p == 38 ? fg : bg;
            if (more >= 2 && params[i + 1] == 5) {
                target = Map256Color(params[i + 2]);
                i += 2;
            } else if (more >= 4 && params[i + 1] == 2) {
                target = MapRgbColor(params[i + 2], params[i + 3], params[i + 4]);
                i += 4;
            }
        }
    }
    attr_ = uint16_t((bg << 5) | fg | flags);
}
