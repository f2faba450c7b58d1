// TSerialBackend: one COM port, opened for overlapped I/O.
//
// The reader thread keeps one 4096-byte read outstanding. The time-outs make a
// read wait without limit for its first byte and complete once 20 ms pass
// without another, so a burst arrives as one delivery while a single
// keystroke from the device still shows at once. Close wakes the reader
// through the stop event; the reader cancels its read and waits for the
// cancellation, so the buffer is never written after the thread has gone.
//
// Writes run on the owner's thread in pieces of about one second of line time
// (SerialWritePiece of the settings the port runs with), each with a 2-second
// limit: a device that holds the line (hardware flow control, a full output
// queue) makes the send fail instead of freezing the file manager, while a
// long line at a low rate still goes out. The first piece that fails ends the
// write with failure.
//
// A port is claimed by a named kernel object while it is open, so a second
// terminal on the same port is refused with "port in use" even where the
// driver does not enforce exclusive opens (Wine); on Windows the driver refuses
// the second open as well.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "backend/uBackend.h"
#include "base/uWin.h"
#include "settings/uSettingsRules.h"

constexpr DWORD kSerialQueueBytes = 16384;
constexpr DWORD kReadIntervalMs = 20;
constexpr DWORD kWriteTimeoutMs = 2000;

class TSerialBackend : public TBackend {
public:
    TSerialBackend(HWND owner, uint32_t connectionNumber, std::u16string portName,
                   const TSessionSettings& settings);

    bool Open(std::u16string& error) override;
    bool Close() override;
    bool Write(const uint8_t* data, int32_t length) override;

    // Owner thread, while the reader waits. The record is stored first, also
    // when the port is closed; false when the port is closed or the driver
    // refuses the settings (the port then keeps its previous ones).
    bool ApplySettings(const TSessionSettings& settings);
    void SetDtr(bool on);
    void SetRts(bool on);
    // MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON; 0 when closed or unknown.
    uint32_t ModemStatus();

    const std::u16string& PortName() const { return portName_; }
    const TSessionSettings& Settings() const { return settings_; }
    bool IsOpen() const { return port_.Valid(); }

protected:
    // One overlapped write of a whole piece within kWriteTimeoutMs; tests
    // replace it to watch the pieces or fail one.
    virtual bool WritePiece(const uint8_t* data, DWORD length);

private:
    static DWORD WINAPI ReaderProc(LPVOID self);
    void ReadLoop();
    // GetCommState, the mapped line fields, SetCommState. On false,
    // GetLastError tells why.
    bool ConfigureLine(bool requireCurrentState);
    void ReleasePort();

    std::u16string portName_;
    TSessionSettings settings_;
    THandle port_;
    THandle writeEvent_;
    THandle claim_;
    // Of the settings the port last accepted.
    int32_t writePiece_;
};
