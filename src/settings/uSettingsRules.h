// Records of the settings file and the rules that correct values when they are
// read. Pure: the Windows profile functions that move these records in and out
// of "kestrelink.ini" live in uSettings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using TColorRef = uint32_t;  // 0x00BBGGRR, as Windows lays out a COLORREF

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
