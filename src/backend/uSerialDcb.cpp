#include "backend/uSerialDcb.h"

#include <algorithm>

bool LineSettingsValid(const TSessionSettings& s) {
    // The read rules replace every line value a port cannot take, so such a
    // value is exactly one they would change.
    TSessionSettings read = s;
    ApplySessionReadRules(read);
    return read.Baud == s.Baud && read.DataBits == s.DataBits && read.StopBits == s.StopBits &&
           read.Parity == s.Parity && read.Flow == s.Flow;
}

TDcbFields SerialDcbFields(const TSessionSettings& s) {
    TDcbFields f;
    f.BaudRate = uint32_t(s.Baud);
    f.ByteSize = uint8_t(s.DataBits);
    f.Parity = uint8_t(s.Parity);
    f.StopBits = uint8_t(s.StopBits);
    f.XonChar = kXonChar;
    f.XoffChar = kXoffChar;
    f.XonLim = kXonLim;
    f.XoffLim = kXoffLim;

    // Windows serial drivers support binary mode only.
    f.fBinary = true;
    f.fParity = s.Parity != 0;
    // A handshake line belongs to the driver; the DTR/RTS settings then do not apply.
    f.fDtrControl = s.Flow == kFlowDtrDsr ? kLineControlHandshake
                    : s.DTR               ? kLineControlEnable
                                          : kLineControlDisable;
    f.fRtsControl = s.Flow == kFlowRtsCts ? kLineControlHandshake
                    : s.RTS               ? kLineControlEnable
                                          : kLineControlDisable;
    f.fOutxCtsFlow = s.Flow == kFlowRtsCts;
    f.fOutxDsrFlow = s.Flow == kFlowDtrDsr;
    f.fOutX = f.fInX = s.Flow == kFlowXonXoff;
    return f;
}

int32_t SerialWritePiece(const TSessionSettings& s) {
    // Counted in half bits, for the one and a half stop bits of code 1.
    const int64_t baud = std::clamp<int64_t>(s.Baud, kMinBaud, kMaxBaud);
    const int32_t dataBits = std::clamp(s.DataBits, kMinDataBits, kMaxDataBits);
    const int32_t parityBits = s.Parity != 0 ? 1 : 0;
    const int32_t stopHalves = s.StopBits == 1 ? 3 : s.StopBits == 2 ? 4 : 2;
    const int64_t halves = 2 * (1 + dataBits + parityBits) + stopHalves;
    return int32_t(std::max<int64_t>(1, 2 * baud / halves));
}
