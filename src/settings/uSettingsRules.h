// Records of the settings file and the rules that correct values when they are
// read. Pure: the Windows profile functions that move these records in and out
// of "kestrelink.ini" live in uSettings.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using TColorRef = uint32_t;  // 0x00BBGGRR, as Windows lays out a COLORREF

// A stored command of a port or connection, sent with Alt+1 .. Alt+0 or from
// the terminal's menu. Mode is a send mode (0 Text, 1 Text with escapes,
// 2 Hex); RepeatMs 0 sends it once, otherwise every RepeatMs until stopped.
struct TStoredCommand {
    std::u16string Text;
    int32_t Mode = 0;
    int32_t RepeatMs = 0;

    bool operator==(const TStoredCommand&) const = default;
};
constexpr int kCommandCount = 10;

// Settings of one serial port or one saved TCP connection ("Port:"/"Conn:" section).
struct TSessionSettings {
    int32_t Baud = 115200;
    int32_t DataBits = 8;
    int32_t StopBits = 0;  // 0 = 1, 1 = 1.5, 2 = 2 stop bits
    int32_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int32_t Flow = 0;      // 0 none, 1 RTS/CTS, 2 XON/XOFF, 3 DTR/DSR
    bool DTR = false;
    bool RTS = false;
    bool ViewHex = false;
    bool AnsiColors = true;
    int32_t Charset = 0;    // 0 UTF-8, 1 CP1252, 2 ASCII
    int32_t RxNewline = 0;  // 0 auto, 1 CR+LF, 2 LF, 3 CR
    int32_t TxNewline = 3;  // 0 nothing, 1 CR, 2 LF, 3 CR+LF
    bool LocalEcho = false;
    bool Autoscroll = true;
    bool AutoReconnect = false;
    bool Timestamps = false;
    bool ConnectOnOpen = true;
    bool ConnectInQuickView = false;
    bool HistoryOn = true;
    int32_t HistoryLines = 10000;
    bool Log = false;  // write what arrives to a file (a toolbar setting, saved with the others)
    int32_t SendMode = 0;  // how the send line is read: 0 Text, 1 with escapes, 2 Hex (toolbar)
    std::array<TStoredCommand, kCommandCount> Commands{};  // "Cmd1".."Cmd10"

    bool operator==(const TSessionSettings&) const = default;
};

// One saved TCP connection. Mode: 0 raw TCP, 1 telnet with negotiation,
// 2 telnet filter only. It exists exactly when Host is non-empty.
struct TConnInfo {
    std::u16string Name;
    std::u16string Host;
    int32_t Port = 23;
    int32_t Mode = 1;

    bool operator==(const TConnInfo&) const = default;
};

using TNameArray = std::vector<std::u16string>;

// Value codes and the line ranges a port accepts; the read rules below replace
// anything outside them.
constexpr int32_t kFlowNone = 0;
constexpr int32_t kFlowRtsCts = 1;
constexpr int32_t kFlowXonXoff = 2;
constexpr int32_t kFlowDtrDsr = 3;
constexpr int32_t kModeRaw = 0;
constexpr int32_t kModeTelnet = 1;
constexpr int32_t kModeTelnetFilter = 2;
constexpr int32_t kMinBaud = 50;
constexpr int32_t kMaxBaud = 12000000;
constexpr int32_t kMinDataBits = 5;
constexpr int32_t kMaxDataBits = 8;
constexpr int32_t kMaxStopBitsCode = 2;
constexpr int32_t kMaxParityCode = 4;

constexpr int32_t kDefaultHistoryLines = 10000;
constexpr int32_t kMinHistoryLines = 100;
constexpr int32_t kMaxHistoryLines = 100000;

TSessionSettings DefaultSessionSettings();
// The read-time rules of the session keys (out-of-range values become defaults,
// the history depth is clamped).
void ApplySessionReadRules(TSessionSettings& s);
int32_t ClampHistoryLines(int32_t n);
// Connection mode outside 0..2 reads as 1.
int32_t NormalizeConnMode(int32_t mode);

// The Send file dialog's last choices for one port or connection ("SendProtocol",
// "SendCharDelay", "SendLineDelay" in its section). The protocol is the
// dialog's list index: 0 raw, 1 XMODEM, 2 XMODEM-1K, 3 YMODEM; the delays
// pace a raw send only.
struct TSendFileSettings {
    int32_t Protocol = 0;
    int32_t CharDelayMs = 0;
    int32_t LineDelayMs = 0;

    bool operator==(const TSendFileSettings&) const = default;
};
constexpr int32_t kMaxSendProtocol = 3;
constexpr int32_t kMaxSendCharDelayMs = 1000;
constexpr int32_t kMaxSendLineDelayMs = 10000;
// An unknown protocol reads as raw; the delays are clamped to their ranges.
void ApplySendFileReadRules(TSendFileSettings& s);

// Logging ("Plugin" section): where the files go and in which form. A
// relative folder is taken from the settings file's folder.
constexpr int32_t kLogFormatText = 0;  // decoded lines with their arrival times
constexpr int32_t kLogFormatRaw = 1;   // the bytes exactly as received
constexpr char16_t kDefaultLogFolder[] = u"logs";
// Longest folder text accepted: the file name still has to fit after it.
constexpr size_t kMaxLogFolderLength = 180;

int32_t NormalizeLogFormat(int32_t format);  // 0..1, else text
// The stored folder as it is used: trimmed, empty -> "logs".
std::u16string NormalizeLogFolder(std::u16string_view raw);
// A folder the user may store: empty (the default), or a path of at most
// kMaxLogFolderLength units with no character a Windows path cannot hold
// (control characters, < > " | ? *, a colon anywhere but after a leading
// drive letter).
bool IsValidLogFolder(std::u16string_view folder);
// The absolute folder for a stored one: an absolute path ("C:\x", "\\server\x")
// as it is; "\x" on the settings file's drive; anything else below the
// settings file's folder. Separators are backslashes, with no trailing one
// except after a bare drive.
std::u16string ResolveLogFolder(std::u16string_view settingsPath, std::u16string_view folder);

// Stored commands. The text is kept between double quotes, which the profile
// functions take off again on reading, so blanks at either end and quotes of
// its own read back as written. A line cannot hold a line break: control
// characters are stored as blanks (escapes such as \r are how a command sends
// them). Texts are cut to kMaxCommandLength, which the read buffer holds.
constexpr int32_t kMaxSendMode = 2;
constexpr int32_t kMinRepeatMs = 100;
constexpr int32_t kMaxRepeatMs = 3600000;
constexpr size_t kMaxCommandLength = 1000;
inline int32_t NormalizeSendMode(int32_t mode) {
    return mode < 0 || mode > kMaxSendMode ? 0 : mode;
}
// 0 (or less): no repeat; otherwise clamped to 100 ms .. 1 hour.
inline int32_t ClampRepeatMs(int32_t ms) {
    return ms <= 0 ? 0 : ms < kMinRepeatMs ? kMinRepeatMs : ms > kMaxRepeatMs ? kMaxRepeatMs : ms;
}
inline std::u16string StoredCommandText(std::u16string_view text) {
    std::u16string v(text.substr(0, kMaxCommandLength));
    for (char16_t& c : v)
        if (c < 32) c = u' ';
    return v;
}
inline std::u16string QuoteCommandText(std::u16string_view text) {
    return u'"' + StoredCommandText(text) + u'"';
}

// Section names: "Port:" + port, "Conn:" + connection; kind 0 serial, 1 TCP.
std::u16string PortSection(std::u16string_view port);
std::u16string ConnSection(std::u16string_view name);
std::u16string SessionSection(int32_t kind, std::u16string_view target);

// "Plugin" section rules.
bool IsValidLanguageCode(std::u16string_view code);
std::u16string NormalizeLanguage(std::u16string_view raw);  // trim, lower, "en" if invalid
std::u16string NormalizeTheme(std::u16string_view raw);     // "auto", "light" or "dark"
bool IsExactTheme(std::u16string_view theme);
std::u16string NormalizeFontName(std::u16string_view raw);  // trimmed, empty -> "Consolas"
int32_t NormalizeFontSize(int32_t size);                    // 6..72, else 10
bool IsValidFontSettings(std::u16string_view face, int32_t size);
int32_t NormalizeHexBytesPerLine(int32_t n);  // 1..64, else 24
bool ParseColor(std::u16string_view text, TColorRef& color);
std::u16string ColorToHex(TColorRef color);

// Connection names may not hold characters that break INI sections or file
// names. The "COM" prefix test compares by the user's locale and lives in uSettings.
bool HasForbiddenNameChar(std::u16string_view name);

struct TWindowPlacement {
    int32_t Left = 100, Top = 100, Width = 960, Height = 620;
    bool Valid = false;
};
// Moves a stored placement back into reach of the virtual screen (vx, vy, vw, vh).
TWindowPlacement FixWindowPlacement(TWindowPlacement p, int32_t vx, int32_t vy, int32_t vw,
                                    int32_t vh);
