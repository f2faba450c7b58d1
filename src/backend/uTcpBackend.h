// TTcpBackend: one saved TCP connection, raw or telnet.
//
// Open only starts the worker; resolving and connecting happen there, and the
// outcome reaches the owner as WM_APP+3 (connected) or WM_APP+2 (failed, with
// 10060 for every failed connect so the owner shows one kind of message).
//
// Close runs on the file manager's UI thread, so the worker never blocks where
// the stop event cannot reach it: the connect is watched through a network
// event (in steps of 200 ms, 50 at most) together with the stop event, and a
// receive that has to wait is an overlapped read waited on together with the
// stop event, then cancelled. A shut-down socket does not reliably release a
// blocked recv (under Wine it may not at all while the peer never accepted),
// so Close does not rely on it. While bytes are known to wait in the socket,
// plain recv calls read them, so a fast stream costs no more than a bare
// receive loop. The socket is closed only once the worker has ended, so the
// worker never uses a closed handle.
//
// Telnet replies are sent by the worker and typed data by the owner's thread;
// both go through SendAll under one lock, so a reply never lands inside a
// written block. Replies go out before the data they came with is delivered.
//
// A send that fails on an established connection may have left part of a
// block on the wire, so the stream is no longer what either side believes:
// the connection ends. The worker is woken, hands over what it has read and
// reports WM_APP+2 with the send's error code (once, like every end).
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
// A send that cannot make progress for this long fails instead of holding the
// owner's thread (the file manager's window) for good.
constexpr DWORD kSendTimeoutMs = 10000;
// Most bytes the receiver gathers from back-to-back reads before handing them over.
constexpr int32_t kDeliverBatch = 64 * 1024;

class TTcpBackend : public TBackend {
public:
    TTcpBackend(HWND owner, uint32_t connectionNumber, const TConnInfo& connection);
    ~TTcpBackend() override;

    bool Open(std::u16string& error) override;
    bool Close() override;
    bool Write(const uint8_t* data, int32_t length) override;
    bool IsRemoteEcho() override;

    // Sends the whole block under the send lock; false without a socket or
    // when a send fails.
    bool SendAll(const uint8_t* data, int32_t length);

    const TConnInfo& Connection() const { return connection_; }

private:
    static DWORD WINAPI WorkerProc(LPVOID self);
    void Run();
    bool Resolve(sockaddr_in& address);
    bool Connect(SOCKET s, const sockaddr_in& address, HANDLE event);
    void Receive(SOCKET s, HANDLE event);
    // One read into `block`: a plain recv when bytes are known to wait,
    // otherwise an overlapped read waited on with the stop and broken events.
    // The count read, 0 for an orderly close by the peer, -1 with `code` set
    // on a failure, kWoken when the stop or broken event ended the wait.
    int ReadBlock(SOCKET s, HANDLE event, uint8_t* block, bool bytesWait, int& code);
    static constexpr int kWoken = -2;

    const TConnInfo connection_;
    // Written by the worker when it creates the socket, read by the owner's
    // Close and Write.
    std::atomic<SOCKET> socket_{INVALID_SOCKET};
    TTelnetFilter telnet_;
    CRITICAL_SECTION sendLock_;
    // Set by the worker once the connection is established: only then does a
    // failed send end it.
    std::atomic<bool> connected_{false};
    // The error code of the first send that failed on the established
    // connection; brokenEvent_ (manual reset) wakes the worker to report it.
    std::atomic<int> sendError_{0};
    HANDLE brokenEvent_ = nullptr;
};

// Starts Windows Sockets 2.2 once per process; false when it cannot start.
bool StartNetworking();
