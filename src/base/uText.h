// Text rules shared by the whole program: trimming removes characters with
// codes up to 32 at both ends; lower-casing of keys, language codes and theme
// names maps A-Z only. Text inside the program is UTF-16 (char16_t).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

std::u16string Trim(std::u16string_view s);
std::u16string AsciiLower(std::u16string_view s);
std::string AsciiLower8(std::string_view s);

// u"..." literals and 7-bit narrow text meet often enough to want one helper.
std::u16string FromAscii(std::string_view s);
std::u16string IntToText(int64_t v);

// UTF-8 <-> UTF-16. Malformed input becomes U+FFFD; never fails.
std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);
// Appends a byte as two upper-case hexadecimal digits.
void AppendHexByte(std::u16string& out, uint8_t b);
// Appends the UTF-8 form of one code point (at most 0x10FFFF) to `out`.
void AppendUtf8(std::string& out, uint32_t codePoint);
