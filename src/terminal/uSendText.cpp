// The send modes: the encodings of the Text mode, the escapes and the hex form.
#include "terminal/uSendText.h"

#include "base/uText.h"
#include "terminal/uTermModel.h"

namespace {

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// 0..15 for a hex digit, -1 otherwise.
int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

bool IsGap(char16_t c) { return c == u' ' || c == u'\t'; }

// Units one character takes at `i`: 2 for a whole surrogate pair.
int32_t CharUnits(std::u16string_view s, size_t i) {
    return IsHigh(s[i]) && i + 1 < s.size() && IsLow(s[i + 1]) ? 2 : 1;
}

TSendBytes Fail(TSendError error, size_t pos, int32_t len) {
    TSendBytes r;
    r.Ok = false;
    r.Error = error;
    r.ErrorPos = int32_t(pos);
    r.ErrorLen = len;
    return r;
}

uint8_t EscapeByte(char16_t c, bool& known) {
    known = true;
    switch (c) {
        case u'r':
            return 0x0D;
        case u'n':
            return 0x0A;
        case u't':
            return 0x09;
        case u'e':
            return 0x1B;
        case u'0':
            return 0x00;
        case u'\\':
            return u'\\';
        default:
            known = false;
            return 0;
    }
}

TSendBytes DecodeEscapes(std::u16string_view text, int32_t charset) {
    TSendBytes r;
    size_t run = 0;  // start of the literal characters not yet encoded
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'\\') continue;
        r.Bytes += EncodeSendText(text.substr(run, i - run), charset);
        if (i + 1 >= text.size()) return Fail(TSendError::TrailingBackslash, i, 1);
        const char16_t c = text[i + 1];
        bool known = false;
        const uint8_t b = EscapeByte(c, known);
        if (known) {
            r.Bytes.push_back(char(b));
            ++i;
        } else if (c == u'x') {
            const int hi = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
            const int lo = hi >= 0 && i + 3 < text.size() ? HexValue(text[i + 3]) : -1;
            if (lo < 0) return Fail(TSendError::ShortHexEscape, i, hi >= 0 ? 3 : 2);
            r.Bytes.push_back(char(hi << 4 | lo));
            i += 3;
        } else {
            return Fail(TSendError::UnknownEscape, i, 1 + CharUnits(text, i + 1));
        }
        run = i + 1;
    }
    r.Bytes += EncodeSendText(text.substr(run), charset);
    return r;
}

}  // namespace

std::string EncodeSendText(std::u16string_view text, int32_t charset) {
    if (charset != 1 && charset != 2) return Utf16ToUtf8(text);
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (CharUnits(text, i) == 2) {
            ++i;  // one character, so one '?': no code page here holds it
            out.push_back('?');
        } else {
            out.push_back(charset == 1 ? char(UnicodeToCp1252(c)) : (c < 0x80 ? char(c) : '?'));
        }
    }
    return out;
}

TSendBytes ParseHexBytes(std::u16string_view text) {
    TSendBytes r;
    r.Bytes.reserve(text.size() / 2);
    int hi = -1;  // the first digit of a pair, waiting for its second
    size_t hiPos = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const int v = HexValue(c);
        if (v >= 0) {
            if (hi < 0) {
                hi = v;
                hiPos = i;
            } else {
                r.Bytes.push_back(char(hi << 4 | v));
                hi = -1;
            }
        } else if (!IsGap(c)) {
            return Fail(TSendError::NotHexDigit, i, CharUnits(text, i));
        } else if (hi >= 0) {
            return Fail(TSendError::OddHexDigits, hiPos, 1);
        }
    }
    if (hi >= 0) return Fail(TSendError::OddHexDigits, hiPos, 1);
    return r;
}

TSendBytes EncodeSendLine(std::u16string_view text, int32_t mode, int32_t charset) {
    if (mode == kSendHex) return ParseHexBytes(text);
    if (mode == kSendEscapes) return DecodeEscapes(text, charset);
    TSendBytes r;
    r.Bytes = EncodeSendText(text, charset);
    return r;
}

bool SendModeTakesLineEnding(int32_t mode) { return mode != kSendHex; }

bool IsHexDigitText(std::u16string_view text) {
    bool digit = false;
    for (char16_t c : text) {
        if (HexValue(c) >= 0)
            digit = true;
        else if (!IsGap(c))
            return false;
    }
    return digit;
}

std::u16string FormatHexBytes(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size() * 3);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i) out.push_back(u' ');
        AppendHexByte(out, uint8_t(bytes[i]));
    }
    return out;
}
