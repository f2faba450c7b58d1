// TTcpBackend: one saved TCP connection, raw or telnet.
//
// Open only starts the worker; resolving and connecting happen there, and the
// outcome reaches the owner as WM_APP+3 (connected) or WM_APP+2 (failed, with
// 10060 for every failed connect so the owner shows one kind of message).
//
// Close runs on the file manager's UI thread, so the worker never blocks where
// the stop event cannot reach it: the connect is watched through a network
// event (in steps of 200 ms, 50 at most) together with the stop event, and
// once connected the worker keeps at most one overlapped receive and one
// overlapped send running, waited on together with the stop event and the
// send queue, and cancelled when it stops. A shut-down socket does not
// reliably release a blocked recv (under Wine it may not at all while the peer
// never accepted), so Close does not rely on it. While bytes are known to wait
// in the socket, plain recv calls read them, so a fast stream costs no more
// than a bare receive loop. The socket is closed only once the worker has
// ended, so the worker never uses a closed handle.
//
// Sending: the worker takes up to kSendBatch of the caller's bytes from the
// queue at a time (many small blocks go out in one send), doubles 0xFF in the
// telnet modes, and counts the caller's bytes as they leave. A peer that reads
// slowly only makes the send wait; there is no time limit. Telnet replies join
// the queue behind what is queued and go out before the data they came with
// is delivered (when the socket takes them at once, as it does unless the
// peer has stopped reading). While more than kReplyCap of them wait, the
// worker stops reading: a server that keeps asking but never reads is held
// back by its own flow control.
//
// A send that fails on an established connection may have left part of a
// block on the wire, so the stream is no longer what either side believes:
// the connection ends. The worker hands over what it has read and reports
// WM_APP+2 with the send's error code (once, like every end).
#pragma once

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "backend/uBackend.h"
#include "backend/uTelnet.h"
#include "settings/uSettingsRules.h"

constexpr int32_t kMinPort = 1;
constexpr int32_t kMaxPort = 65535;

constexpr DWORD kConnectStepMs = 200;
constexpr DWORD kConnectLimitMs = 10000;  // counted in steps: 50 select calls
constexpr int kConnectFailed = WSAETIMEDOUT;
// Most bytes the receiver gathers from back-to-back reads before handing them over.
constexpr int32_t kDeliverBatch = 64 * 1024;
// Most of the caller's bytes one send carries.
constexpr int32_t kSendBatch = 64 * 1024;

class TTcpBackend : public TBackend {
public:
    TTcpBackend(HWND owner, uint32_t connectionNumber, const TConnInfo& connection);
    ~TTcpBackend() override;

    bool Open(std::u16string& error) override;
    bool Close() override;
    bool IsRemoteEcho() override;
    // Telnet modes only: IAC BRK, behind what is queued.
    bool CanBreak() const override;
    bool SendBreak() override;

    const TConnInfo& Connection() const { return connection_; }

private:
    class TSender;

    static DWORD WINAPI WorkerProc(LPVOID self);
    void Run();
    bool Resolve(sockaddr_in& address);
    bool Connect(SOCKET s, const sockaddr_in& address, HANDLE event);
    // Receives and sends until the connection ends or the backend stops.
    void Transfer(SOCKET s, HANDLE readEvent);

    const TConnInfo connection_;
    // Written by the worker when it creates the socket, taken by Close once
    // the worker has ended.
    std::atomic<SOCKET> socket_{INVALID_SOCKET};
    TTelnetFilter telnet_;
};

// Starts Windows Sockets 2.2 once per process; false when it cannot start.
bool StartNetworking();
