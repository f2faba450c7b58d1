// libFuzzer target for the send modes. The first byte picks the mode and the
// encoding, the rest is the send line as UTF-16 units (two bytes each, so
// lone and paired surrogates come up). Checked: a refusal carries no bytes
// and points inside the line at what is wrong; a Hex line sends one byte per
// digit pair and reads back from FormatHexBytes; an escaped line reads back
// from \xHH of what it sent; a line without backslashes sends the same with
// or without escapes; and the input's raw bytes round-trip through Hex.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "terminal/uSendText.h"

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_sendtext: %s\n", what);
        std::abort();
    }
}

bool IsHex(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

std::u16string Escaped(const std::string& bytes) {
    std::u16string out;
    for (char b : bytes) out += u"\\x" + FormatHexBytes(std::string(1, b));
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int32_t mode = data[0] % 4, charset = (data[0] >> 2) % 4;  // 3: out of range
    std::u16string text;
    for (size_t i = 1; i + 1 < size; i += 2) text.push_back(char16_t(data[i] | data[i + 1] << 8));

    const TSendBytes r = EncodeSendLine(text, mode, charset);
    if (!r.Ok) {
        Check(r.Bytes.empty() && r.Error != TSendError::None, "a refusal sends nothing");
        Check(r.ErrorPos >= 0 && r.ErrorLen >= 1 && size_t(r.ErrorPos + r.ErrorLen) <= text.size(),
              "error position inside the line");
        const char16_t at = text[size_t(r.ErrorPos)];
        if (mode == kSendEscapes)
            Check(at == u'\\', "an escape error points at its backslash");
        else
            Check(mode == kSendHex && (r.Error == TSendError::OddHexDigits) == IsHex(at),
                  "a hex error points at the odd digit or the stray character");
    } else if (mode == kSendHex) {
        size_t digits = 0;
        for (char16_t c : text) digits += IsHex(c);
        Check(r.Bytes.size() * 2 == digits, "one byte per digit pair");
        const TSendBytes back = ParseHexBytes(FormatHexBytes(r.Bytes));
        Check(back.Ok && back.Bytes == r.Bytes, "hex reads back");
    } else {
        if (mode == kSendEscapes) {
            const TSendBytes back = EncodeSendLine(Escaped(r.Bytes), kSendEscapes, charset);
            Check(back.Ok && back.Bytes == r.Bytes, "escapes read back");
        }
        if (text.find(u'\\') == std::u16string::npos)
            Check(r.Bytes == EncodeSendText(text, charset), "no backslash, no difference");
    }
    const std::string raw(reinterpret_cast<const char*>(data), size);
    const TSendBytes hex = EncodeSendLine(FormatHexBytes(raw), kSendHex, charset);
    Check(hex.Ok && hex.Bytes == raw, "every byte through Hex");
    return 0;
}
