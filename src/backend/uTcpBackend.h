// TTcpBackend: one saved TCP connection, raw or telnet.
//
// Open only starts the worker; resolving and connecting happen there, and the
// outcome reaches the owner as WM_APP+3 (connected) or WM_APP+2 (failed, with
// 10060 for every failed connect so the owner shows one kind of message).
// The connect runs non-blocking and is watched in 200 ms select steps, so a
// Close during the connect is noticed within one step; a receive blocked in
// recv is released by shutting the socket down. The socket is closed only
// once the worker has ended, so the worker never uses a closed handle.
//
// Telnet replies are sent by the worker and typed data by the owner's thread;
// both go through SendAll under one lock, so a reply never lands inside a
// written block. Replies go out before the data they came with is delivered.
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
    bool Connect(SOCKET s, const sockaddr_in& address);
    void Receive(SOCKET s);

    const TConnInfo connection_;
    // Written by the worker when it creates the socket, read by the owner's
    // Close and Write.
    std::atomic<SOCKET> socket_{INVALID_SOCKET};
    TTelnetFilter telnet_;
    CRITICAL_SECTION sendLock_;
};

// Starts Windows Sockets 2.2 once per process; false when it cannot start.
bool StartNetworking();
