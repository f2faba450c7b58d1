// The line settings of a port as the values of the DCB fields this plugin
// decides, and the size of the pieces a write is sent in. Pure, so that every
// combination of flow control, DTR, RTS and parity is checked natively; the
// Windows layer copies the values into a real DCB whose remaining fields
// (ErrorChar, EofChar, EvtChar) keep what the driver reported.
//
// The flag word is rebuilt whole: a flag not set here is 0, whatever the
// driver or an earlier program left in it.
#pragma once

#include <cstdint>

#include "settings/uSettingsRules.h"

// fDtrControl / fRtsControl codes.
constexpr uint8_t kLineControlDisable = 0;
constexpr uint8_t kLineControlEnable = 1;
constexpr uint8_t kLineControlHandshake = 2;

constexpr char kXonChar = 0x11;
constexpr char kXoffChar = 0x13;
// Software flow control on the 16 KiB input queue: XOFF goes out when fewer
// than XoffLim bytes are free, XON once fewer than XonLim bytes wait.
constexpr uint16_t kXonLim = 2048;
constexpr uint16_t kXoffLim = 512;

struct TDcbFields {
    uint32_t BaudRate = 0;
    uint8_t ByteSize = 0;
    uint8_t Parity = 0;
    uint8_t StopBits = 0;
    char XonChar = 0;
    char XoffChar = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;

    // The flag word, field by field.
    bool fBinary = false;
    bool fParity = false;
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    uint8_t fDtrControl = kLineControlDisable;
    bool fDsrSensitivity = false;
    bool fTXContinueOnXoff = false;
    bool fOutX = false;
    bool fInX = false;
    bool fErrorChar = false;
    bool fNull = false;
    uint8_t fRtsControl = kLineControlDisable;
    bool fAbortOnError = false;

    bool operator==(const TDcbFields&) const = default;
};

// Whether every line field lies in its range. A value outside would be cut to
// the width of its DCB field (a data-bit count of 264 would become 8) and be
// accepted silently, so such settings are refused instead.
bool LineSettingsValid(const TSessionSettings& s);

// The DCB values for the line fields of `s`; meaningful when LineSettingsValid(s).
TDcbFields SerialDcbFields(const TSessionSettings& s);

// Bytes in about one second of line time: the rate over the bits of one
// character (start bit, data bits, parity bit, stop bits), at least 1. A write
// goes out in pieces of this size, each with its own time limit, so a slow
// line (60 bytes take 2 s at 300 baud) is not mistaken for a stuck one.
// Values outside their ranges are taken at the nearest end.
int32_t SerialWritePiece(const TSessionSettings& s);
