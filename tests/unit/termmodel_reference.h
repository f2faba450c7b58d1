// A plain, byte-at-a-time transcription of the decoding rules, kept in the tests as
// the oracle for TTermModel's fast paths and compact line store. It follows
// the rules step by step and is deliberately slow and simple: lines
// in a deque of std::u16string pairs, raw in a std::vector, the 2 MiB drop
// done literally. It shares no code with the model.
//
// It includes the model's documented mends (see uTermModel.h): a surrogate
// pair is never split by the wrap, backspace removes a whole pair, raw is
// brought back under 8 MiB however large a read is, and out-of-range
// Encoding/NewlineMode values act as UTF-8/Auto.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace ref {

struct Line {
    std::u16string text, attrs;
    double time = 0;
};

inline int Map256(int n) {
    if (n < 16) return n;
    if (n >= 16 && n <= 231) {
        int k = n - 16;
        int red = k / 36, green = (k / 6) % 6, blue = k % 6;
        int bits = (red >= 3 ? 1 : 0) + (green >= 3 ? 2 : 0) + (blue >= 3 ? 4 : 0);
        int m = red;
        if (green > m) m = green;
        if (blue > m) m = blue;
        if (bits != 0) return m >= 4 ? bits + 8 : bits;
        return m >= 2 ? 8 : 0;
    }
    if (n >= 232 && n <= 239) return 0;
    if (n >= 240 && n <= 247) return 8;
    return 7;
}

inline int MapRgb(int r, int g, int b) {
    int bits = (r >= 128 ? 1 : 0) + (g >= 128 ? 2 : 0) + (b >= 128 ? 4 : 0);
    if (bits != 0 && (r >= 224 || g >= 224 || b >= 224)) return bits + 8;
    return bits;
}

class Model {
public:
    explicit Model(int depth) {
        if (depth < 100) depth = 100;
        if (depth > 1000000) depth = 1000000;
        capacity = size_t(depth) + 1;
        Reset();
    }

    int Encoding = 0, NewlineMode = 0;
    bool AnsiColors = true;
    int hexWidth = 24;
    size_t rawLimit = 8388608, rawDrop = 2097152;

    std::deque<Line> lines;
    size_t capacity;
    // The running number of lines[0]: one more for every line that leaves the
    // front; a clear numbers the new lines on from the last line started.
    int64_t first = 0;
    int maxLen = 0;
    std::vector<uint8_t> raw;
    int64_t rawBase = 0;
    std::vector<std::pair<int64_t, double>> chunks;

    void Feed(const uint8_t* p, size_t n, double t) {
        if (n == 0) return;
        now = t;
        if (chunks.empty() || chunks.back().second != now)
            chunks.push_back({rawBase + int64_t(raw.size()), now});
        raw.insert(raw.end(), p, p + n);
        bool dropped = false;
        while (raw.size() > rawLimit) {
            raw.erase(raw.begin(), raw.begin() + long(rawDrop));
            rawBase += int64_t(rawDrop);
            dropped = true;
        }
        if (dropped) {
            size_t j = 0;
            while (j + 1 < chunks.size() && chunks[j + 1].first <= rawBase) ++j;
            chunks.erase(chunks.begin(), chunks.begin() + long(j));
        }
        for (size_t i = 0; i < n; ++i) Decode(p[i]);
    }

    void Reset() {
        raw.clear();
        rawBase = 0;
        chunks.clear();
        Clear();
    }

    void Rebuild() {
        Clear();
        size_t j = 0;
        for (size_t i = 0; i < raw.size(); ++i) {
            int64_t pos = rawBase + int64_t(i);
            while (j + 1 < chunks.size() && pos >= chunks[j + 1].first) ++j;
            if (!chunks.empty()) now = chunks[j].second;
            Decode(raw[i]);
        }
    }

    void SetHistoryLines(int n) {
        if (n < 100) n = 100;
        if (n > 1000000) n = 1000000;
        if (capacity == size_t(n) + 1) return;
        capacity = size_t(n) + 1;
        Rebuild();
    }

    std::u16string HexLine(int i) const {
        int64_t w = hexWidth, s = int64_t(i) * w;
        if (i < 0 || s >= int64_t(raw.size())) return {};
        int64_t n = std::min<int64_t>(w, int64_t(raw.size()) - s);
        char buf[32];
        std::snprintf(buf, sizeof buf, "%08llX  ", (unsigned long long)(rawBase + s));
        std::string out = buf;
        for (int64_t j = 0; j < w; ++j) {
            if (j < n) {
                std::snprintf(buf, sizeof buf, "%02X", raw[size_t(s + j)]);
                out += buf;
            } else {
                out += "  ";
            }
            out += ' ';
            if (j % 8 == 7 && j < w - 1) out += ' ';
        }
        out += ' ';
        for (int64_t j = 0; j < n; ++j) {
            uint8_t b = raw[size_t(s + j)];
            out += (b >= 0x20 && b <= 0x7E) ? char(b) : '.';
        }
        return std::u16string(out.begin(), out.end());
    }

private:
    uint16_t attr = 0x0210;
    int esc = 0, oscLen = 0;
    std::string csi;
    int pending = 0;
    uint32_t value = 0;
    bool lastWasCR = false;
    double now = 0;

    void Clear() {
        first += int64_t(lines.size());
        lines.clear();
        maxLen = 0;
        attr = 0x0210;
        esc = 0;
        oscLen = 0;
        csi.clear();
        pending = 0;
        value = 0;
        lastWasCR = false;
        lines.emplace_back();
    }

    void NewLine() {
        lines.emplace_back();
        if (lines.size() > capacity) {
            lines.pop_front();
            ++first;
        }
    }

    void PutChar(char16_t c) {
        if (lines.back().text.size() >= 4096) NewLine();
        Line& l = lines.back();
        if (l.time == 0) l.time = now;
        l.text += c;
        l.attrs += char16_t(attr);
        if (int(l.text.size()) > maxLen) maxLen = int(l.text.size());
    }

    void PutCodePoint(uint32_t p) {
        if (p <= 0xFFFF) {
            PutChar(char16_t(p));
        } else if (p <= 0x10FFFF) {
            if (lines.back().text.size() >= 4095) NewLine();
            PutChar(char16_t(0xD800 + ((p - 0x10000) >> 10)));
            PutChar(char16_t(0xDC00 + (p & 0x3FF)));
        } else {
            PutChar(u'?');
        }
    }

    bool Utf8() const { return Encoding != 1 && Encoding != 2; }

    void Decode(uint8_t b) {
        if (esc != 0) {
            Escape(b);
            return;
        }
        if (Utf8() && pending > 0) {
            if ((b & 0xC0) == 0x80) {
                value = (value << 6) | (b & 0x3F);
                pending--;
                if (pending == 0) PutCodePoint(value);
                return;
            }
            PutChar(0xFFFD);
            pending = 0;
        }
        bool prevCR = lastWasCR;
        lastWasCR = false;
        int mode = NewlineMode >= 1 && NewlineMode <= 3 ? NewlineMode : 0;
        if (b <= 0x07 || b == 0x0B || b == 0x0C || (b >= 0x0E && b <= 0x1A) ||
            (b >= 0x1C && b <= 0x1F) || b == 0x7F)
            return;
        if (b == 0x08) {
            std::u16string& t = lines.back().text;
            std::u16string& a = lines.back().attrs;
            if (t.empty()) return;
            size_t cut = 1;
            if (t.size() >= 2 && t.back() >= 0xDC00 && t.back() <= 0xDFFF &&
                t[t.size() - 2] >= 0xD800 && t[t.size() - 2] <= 0xDBFF)
                cut = 2;
            t.resize(t.size() - cut);
            a.resize(a.size() - cut);
            return;
        }
        if (b == 0x09) {
            int spaces = 8 - int(lines.back().text.size() % 8);
            for (int i = 0; i < spaces; ++i) PutChar(u' ');
            return;
        }
        if (b == 0x0D) {
            if (mode == 0) {
                NewLine();
                lastWasCR = true;
            } else if (mode == 1) {
                lastWasCR = true;
            } else if (mode == 3) {
                NewLine();
            }
            return;
        }
        if (b == 0x0A) {
            if ((mode == 0 && !prevCR) || (mode == 1 && prevCR) || mode == 2) NewLine();
            return;
        }
        if (b == 0x1B) {
            esc = 1;
            return;
        }
        if (Encoding == 1) {
            static const char16_t cp1252[32] = {
                0x20AC, '?',    0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, '?',    0x017D, '?',
                '?',    0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, '?',    0x017E, 0x0178};
            PutChar(b >= 0x80 && b <= 0x9F ? cp1252[b - 0x80] : char16_t(b));
        } else if (Encoding == 2) {
            PutChar(b < 0x80 ? char16_t(b) : u'?');
        } else if (b < 0x80) {
            PutChar(b);
        } else if (b >= 0xC2 && b <= 0xDF) {
            pending = 1;
            value = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            pending = 2;
            value = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            pending = 3;
            value = b & 0x07;
        } else {
            PutChar(0xFFFD);
        }
    }

    void Escape(uint8_t b) {
        if ((esc == 2 || esc == 4) && b == 0x1B) {
            esc = 1;
            return;
        }
        switch (esc) {
            case 1:
                if (b == '[') {
                    csi.clear();
                    esc = 2;
                } else if (b == ']') {
                    oscLen = 0;
                    esc = 3;
                } else if (b == '(' || b == ')' || b == '*' || b == '+') {
                    esc = 4;
                } else {
                    esc = 0;
                }
                break;
            case 2:
                if (b >= 0x30 && b <= 0x3F) {
                    if (csi.size() < 64) csi += char(b);
                } else if (b >= 0x20 && b <= 0x2F) {
                } else {
                    if (b == 'm') Sgr();
                    esc = 0;
                }
                break;
            case 3:
                if (b == 7) {
                    esc = 0;
                } else if (b == 0x1B) {
                    esc = 5;
                } else {
                    oscLen++;
                    if (oscLen > 512) esc = 0;
                }
                break;
            case 4:
                esc = 0;
                break;
            case 5:
                esc = 0;
                break;
        }
    }

    void Sgr() {
        if (!AnsiColors) return;
        std::vector<int> ps;
        int v = 0;
        for (size_t i = 0; i <= csi.size(); ++i) {
            if (i == csi.size() || csi[i] == ';') {
                ps.push_back(v);
                v = 0;
            } else if (csi[i] >= '0' && csi[i] <= '9') {
                if (v < 10000) v = v * 10 + (csi[i] - '0');
            }
        }
        if (ps.size() > 16) ps.resize(16);
        int fg = attr & 31, bg = (attr >> 5) & 31, fl = attr & 0x0C00;
        for (size_t i = 0; i < ps.size(); ++i) {
            int p = ps[i];
            size_t more = ps.size() - i - 1;
            if (p == 0) {
                fg = 16;
                bg = 16;
                fl = 0;
            } else if (p == 1) {
                fl |= 0x400;
            } else if (p == 7) {
                fl |= 0x800;
            } else if (p == 22) {
                fl &= ~0x400;
            } else if (p == 27) {
                fl &= ~0x800;
            } else if (p >= 30 && p <= 37) {
                fg = p - 30;
            } else if (p == 38 || p == 48) {
                int c = -1;
                if (more >= 2 && ps[i + 1] == 5) {
                    c = Map256(ps[i + 2]);
                    i += 2;
                } else if (more >= 4 && ps[i + 1] == 2) {
                    c = MapRgb(ps[i + 2], ps[i + 3], ps[i + 4]);
                    i += 4;
                }
                if (c >= 0) (p == 38 ? fg : bg) = c;
            } else if (p == 39) {
                fg = 16;
            } else if (p >= 40 && p <= 47) {
                bg = p - 40;
            } else if (p == 49) {
                bg = 16;
            } else if (p >= 90 && p <= 97) {
                fg = p - 82;
            } else if (p >= 100 && p <= 107) {
                bg = p - 92;
            }
        }
        attr = uint16_t((bg << 5) | fg | fl);
    }
};

}  // namespace ref
