#include "backend/uSerialDcb.h"

bool LineSettingsValid(const TSessionSettings& s) {
    return s.Baud >= kMinBaud && s.Baud <= kMaxBaud && s.DataBits >= kMinDataBits &&
           s.DataBits <= kMaxDataBits && s.StopBits >= 0 && s.StopBits <= kMaxStopBitsCode &&
           s.Parity >= 0 && s.Parity <= kMaxParityCode && s.Flow >= kFlowNone &&
           s.Flow <= kFlowDtrDsr;
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
