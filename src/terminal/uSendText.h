// What the send line turns into on the wire: the line's text in one of three
// send modes, each a pure function of the text and the session's encoding.
//
//   0 Text               the characters in the encoding (0 UTF-8, 1 Windows-1252,
//                        2 ASCII); what the encoding cannot carry goes out as '?'
//                        (a surrogate pair is one character, so one '?').
//   1 Text with escapes  as Text, with \r \n \t \e \0 \\ and \xHH (exactly two
//                        hex digits, either case) standing for their byte. The
//                        literal characters are encoded first and the escapes
//                        add raw bytes, so \xFF is the byte FF in every encoding
//                        and "é\x41" in Windows-1252 is E9 41.
//   2 Hex                pairs of hex digits; spaces and tabs separate groups and
//                        are otherwise ignored ("01 02 0a", "01020A"). Each group
//                        must hold whole pairs: "0 1" is an error, never 01.
//
// A malformed line sends nothing: the result has Ok false, no bytes, and the
// 0-based UTF-16 index of the fault (what EM_SETSEL takes; the window adds 1
// when it names the character to the user) with the length of the faulty
// piece. The window adds the line ending only in the Text modes
// (SendModeTakesLineEnding): a hex line is exactly the bytes written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum : int32_t { kSendText = 0, kSendEscapes = 1, kSendHex = 2 };

enum class TSendError : int32_t {
    None = 0,
    UnknownEscape,      // "\q": a backslash before a character with no escape meaning
    ShortHexEscape,     // "\x4", "\xG1": \x needs exactly two hex digits
    TrailingBackslash,  // a lone "\" ends the line
    OddHexDigits,       // Hex: a group of hex digits with one left unpaired
    NotHexDigit,        // Hex: a character that is neither a hex digit nor a space
};

struct TSendBytes {
    bool Ok = true;
    std::string Bytes;
    int32_t ErrorPos = -1;  // 0-based UTF-16 index of the fault, -1 when Ok
    int32_t ErrorLen = 0;   // UTF-16 units the fault covers (the whole "\x4")
    TSendError Error = TSendError::None;
};

// The text in an encoding (0 UTF-8, 1 Windows-1252, 2 ASCII; other values as
// UTF-8, as the view decodes them). Never fails: a lone surrogate is U+FFFD
// in UTF-8 and '?' otherwise.
std::string EncodeSendText(std::u16string_view text, int32_t charset);

// The send line in a send mode (values other than 1 and 2 are Text).
TSendBytes EncodeSendLine(std::u16string_view text, int32_t mode, int32_t charset);

// Whether the window appends the Tx line ending after a line in this mode.
bool SendModeTakesLineEnding(int32_t mode);

// The Hex mode alone: hex digit pairs, spaces and tabs between groups.
TSendBytes ParseHexBytes(std::u16string_view text);

// Whether the text holds at least one hex digit and nothing but hex digits,
// spaces and tabs: the form in which a find query means bytes.
bool IsHexDigitText(std::u16string_view text);

// Bytes as upper-case hex pairs separated by single spaces ("01 02 0A"),
// the form ParseHexBytes reads back; for showing what a line sent.
std::u16string FormatHexBytes(std::string_view bytes);
