// The send modes: what a send line puts on the wire in Text, Text with
// escapes and Hex, in each encoding, and how a malformed line is refused.
#include <gtest/gtest.h>

#include <string>

#include "terminal/uSendText.h"

namespace {

std::string Send(std::u16string_view text, int32_t mode, int32_t charset = 0) {
    const TSendBytes r = EncodeSendLine(text, mode, charset);
    EXPECT_TRUE(r.Ok) << "refused at " << r.ErrorPos;
    return r.Bytes;
}

// A refusal: no bytes, the error, and where it is.
void ExpectRefused(std::u16string_view text, int32_t mode, TSendError error, int32_t pos,
                   int32_t len) {
    const TSendBytes r = EncodeSendLine(text, mode, 0);
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.Bytes.empty());
    EXPECT_EQ(r.Error, error);
    EXPECT_EQ(r.ErrorPos, pos);
    EXPECT_EQ(r.ErrorLen, len);
}

}  // namespace

TEST(SendText, TextModeInTheThreeEncodings) {
    const std::u16string text = u"A\u00E9\u20AC\u0416\U0001F600";  // A é € Ж 😀
    EXPECT_EQ(Send(text, kSendText, 0), "A\xC3\xA9\xE2\x82\xAC\xD0\x96\xF0\x9F\x98\x80");
    EXPECT_EQ(Send(text, kSendText, 1), "A\xE9\x80??");  // the pair is one character
    EXPECT_EQ(Send(text, kSendText, 2), "A????");
    // a lone surrogate has no form anywhere
    EXPECT_EQ(Send(u"\xD800x", kSendText, 0), "\xEF\xBF\xBDx");
    EXPECT_EQ(Send(u"\xDC00x", kSendText, 1), "?x");
    // backslashes are plain text in Text mode, and both Text modes take the line ending
    EXPECT_EQ(Send(u"a\\x41", kSendText), "a\\x41");
    EXPECT_TRUE(SendModeTakesLineEnding(kSendText) && SendModeTakesLineEnding(kSendEscapes));
    EXPECT_FALSE(SendModeTakesLineEnding(kSendHex));
}

TEST(SendText, EscapesDecodeAfterTheEncoding) {
    EXPECT_EQ(Send(u"AT\\r\\n", kSendEscapes), "AT\r\n");
    EXPECT_EQ(Send(u"\\t\\e[0m\\0\\\\", kSendEscapes), std::string("\t\x1b[0m\0\\", 7));
    EXPECT_EQ(Send(u"\\x41\\x4a\\x4A", kSendEscapes), "AJJ");
    EXPECT_EQ(Send(u"\\x414", kSendEscapes), "A4");  // exactly two digits
    // literal characters follow the encoding, escapes are raw bytes
    EXPECT_EQ(Send(u"\u00E9\\x41", kSendEscapes, 1), "\xE9\x41");
    EXPECT_EQ(Send(u"\u00E9\\x41", kSendEscapes, 0), "\xC3\xA9\x41");
    for (int32_t cs = 0; cs < 3; ++cs) EXPECT_EQ(Send(u"\\xFF", kSendEscapes, cs), "\xFF");
    EXPECT_EQ(Send(u"\u20AC\\xFF", kSendEscapes, 2), "?\xFF");
    EXPECT_EQ(Send(u"", kSendEscapes), "");
}

TEST(SendText, MalformedEscapesSendNothingAndSayWhere) {
    ExpectRefused(u"ab\\x4", kSendEscapes, TSendError::ShortHexEscape, 2, 3);
    ExpectRefused(u"\\x4g", kSendEscapes, TSendError::ShortHexEscape, 0, 3);
    ExpectRefused(u"\\xg1", kSendEscapes, TSendError::ShortHexEscape, 0, 2);
    ExpectRefused(u"ok\\r\\q", kSendEscapes, TSendError::UnknownEscape, 4, 2);
    ExpectRefused(u"\\X41", kSendEscapes, TSendError::UnknownEscape, 0, 2);
    ExpectRefused(u"\\\U0001F600", kSendEscapes, TSendError::UnknownEscape, 0, 3);
    ExpectRefused(u"end\\", kSendEscapes, TSendError::TrailingBackslash, 3, 1);
    ExpectRefused(u"\\\\\\", kSendEscapes, TSendError::TrailingBackslash, 2, 1);
}

TEST(SendText, HexPairsWithOptionalSpaces) {
    EXPECT_EQ(Send(u"01 02 0a", kSendHex), "\x01\x02\x0A");
    EXPECT_EQ(Send(u"01020A", kSendHex), "\x01\x02\x0A");
    EXPECT_EQ(Send(u"\tdead  BEEF ", kSendHex), "\xDE\xAD\xBE\xEF");
    EXPECT_EQ(Send(u"   ", kSendHex), "");
    EXPECT_EQ(FormatHexBytes("\x01\xAB"), u"01 AB");
    ExpectRefused(u"01 0", kSendHex, TSendError::OddHexDigits, 3, 1);
    ExpectRefused(u"abc def", kSendHex, TSendError::OddHexDigits, 2, 1);
    ExpectRefused(u"0 1", kSendHex, TSendError::OddHexDigits, 0, 1);  // never 01
    ExpectRefused(u"0x41", kSendHex, TSendError::NotHexDigit, 1, 1);
    ExpectRefused(u"41,42", kSendHex, TSendError::NotHexDigit, 2, 1);
    ExpectRefused(u"41\U0001F600", kSendHex, TSendError::NotHexDigit, 2, 2);
    EXPECT_TRUE(IsHexDigitText(u"0d 0a") && IsHexDigitText(u"abc"));
    EXPECT_FALSE(IsHexDigitText(u"  ") || IsHexDigitText(u"0x0d") || IsHexDigitText(u""));
}

TEST(SendText, EveryByteValueGoesOutThroughHexAndEscapes) {
    std::string all;
    std::u16string escaped;
    for (int b = 0; b < 256; ++b) {
        all.push_back(char(b));
        std::u16string one = FormatHexBytes(std::string(1, char(b)));
        escaped += u"\\x" + one;
        EXPECT_EQ(Send(one, kSendHex), std::string(1, char(b))) << b;
    }
    EXPECT_EQ(Send(FormatHexBytes(all), kSendHex), all);
    for (int32_t cs = 0; cs < 3; ++cs) EXPECT_EQ(Send(escaped, kSendEscapes, cs), all) << cs;
}
