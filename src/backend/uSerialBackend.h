// TSerialBackend: one COM port, opened for overlapped I/O.
//
// Opening runs off the owner's thread. A Bluetooth or USB-serial port can
// take many seconds to open or to fail, and the owner is the file manager's
// UI thread (automatic reconnection retries every second). Open only claims
// the port and starts two threads: an opener, which calls CreateFileW and
// sets the line up, and the worker, which waits for the opener (or the stop
// event) and then carries the line. The worker posts WM_APP+3 once the port
// is open and set up, or WM_APP+2 with the failure's code; EndText turns an
// open failure into the same text a synchronous open used to give.
//
// The opener shares only a small reference-counted record with the backend
// (TOpenState in the source) and never touches the backend object: Close
// during a pending open returns at once, and the opener, once CreateFileW
// returns, closes the handle and releases the claim itself. Whichever of the
// two lets go of the record last closes the port.
//
// Line changes made while the open is pending (ApplySettings, SetDtr,
// SetRts) are kept, and the worker applies the latest of them, in the order
// the owner made them, before it reports the port open. ModemStatus reads 0
// until then.
//
// The worker keeps one 4096-byte read outstanding. The time-outs make a read
// wait without limit for its first byte and complete once 20 ms pass without
// another, so a burst arrives as one delivery while a single keystroke from
// the device still shows at once. Beside the read it writes from the send
// queue, in pieces of about one second of line time (SerialWritePiece of the
// settings the port runs with). A piece has no time limit: a device that
// holds the line (hardware flow control, XOFF) just makes it wait, as long as
// the connection lives. The worker waits on the stop event, its read, its
// write and the queue together; on Close it cancels both and waits for the
// cancellation, so no buffer is written after the thread has gone.
//
// A port is claimed by a named kernel object while it is open, so a second
// terminal on the same port is refused with "port in use" even where the
// driver does not enforce exclusive opens (Wine); on Windows the driver refuses
// the second open as well.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "backend/uBackend.h"
#include "base/uWin.h"
#include "settings/uSettingsRules.h"

constexpr DWORD kSerialQueueBytes = 16384;
constexpr DWORD kReadIntervalMs = 20;

struct TOpenState;

class TSerialBackend : public TBackend {
public:
    TSerialBackend(HWND owner, uint32_t connectionNumber, std::u16string portName,
                   const TSessionSettings& settings);
    ~TSerialBackend() override;

    // Claims the port and starts the opener and the worker; fails only when
    // the port is claimed already or a thread cannot start.
    bool Open(std::u16string& error) override;
    bool Close() override;
    // The open failures ("Port not found", "Access denied (port in use?)",
    // "Invalid port settings: ...", or the system's text) for the code the
    // worker posted after a failed open; empty for any other code.
    std::u16string EndText(DWORD code) override;
    // The worker holds the line in the break state for kBreakMs
    // (SetCommBreak .. ClearCommBreak) once the write in flight is done;
    // writes wait meanwhile, reading goes on.
    bool CanBreak() const override;
    bool SendBreak() override;

    // Owner thread. The record is stored first, also when the port is closed
    // or still opening; false unless the port is open and the driver took the
    // settings (a refused change leaves the port with its previous ones).
    bool ApplySettings(const TSessionSettings& settings);
    void SetDtr(bool on);
    void SetRts(bool on);
    // MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON; 0 until open, when closed
    // or unknown.
    uint32_t ModemStatus();

    const std::u16string& PortName() const { return portName_; }
    const TSessionSettings& Settings() const { return settings_; }
    // The port is open and set up (from just before WM_APP+3 until Close).
    bool IsOpen() const { return ready_.load(); }

    // Test hook: when set, called on the opener thread just before
    // CreateFileW, so that a test can play a port that takes seconds to open.
    static std::atomic<void (*)()> OpenStallHook;

protected:
    // Test seam: called on the worker thread with the size of every piece
    // just before it is written.
    virtual void PieceStarting(int32_t length);

private:
    // What the owner changed on the line while the open was pending.
    struct TLineChanges {
        bool Settings = false;
        int Dtr = -1;  // -1 untouched, else the last SetDtr
        int Rts = -1;
    };

    static DWORD WINAPI WorkerProc(LPVOID self);
    void Run();
    // Applies the changes made while the port was opening, then marks it
    // open; later changes go to the port directly.
    void TakeOverLine(HANDLE port);
    void IoLoop(HANDLE port);
    void ReleaseOpenState();

    std::u16string portName_;
    TSessionSettings settings_;  // owner thread
    std::shared_ptr<TOpenState> open_;
    // Set by the worker (under the send lock) once the line is set up; the
    // owner then uses `port_` directly.
    std::atomic<bool> ready_{false};
    HANDLE port_ = INVALID_HANDLE_VALUE;
    TLineChanges changes_;              // under the send lock
    TSessionSettings pendingSettings_;  // under the send lock, with changes_
    // Of the settings the port last accepted.
    std::atomic<int32_t> writePiece_;
    // How the open failed (see TOpenState), and the code posted for it.
    std::atomic<int> failure_{0};
    std::atomic<DWORD> failureCode_{0};
    // Set by SendBreak, taken by the worker.
    std::atomic<bool> breakWanted_{false};
};
