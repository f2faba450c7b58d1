// Telnet receive filter and negotiator (RFC 854 framing) for the two telnet
// modes of a TCP connection, and EscapeIac for the send side.
//
// The receiver is one state machine over named states; the state survives
// between Process calls, so a command split across two reads is handled as if
// it had arrived whole. Plain data runs are copied with one search for the
// next IAC, so text without telnet framing costs about a memchr and a memcpy.
//
// Negotiation follows a fixed policy table: the server may echo and suppress
// go-ahead; we offer a terminal type ("XTERM") and a fixed window size of
// 120 x 40. A reply goes out only when an option's state changes, and a
// refusal is never repeated, so two peers can never negotiate in a loop.
//
// Subnegotiations are collected up to kSubCap bytes. A longer one is still
// read through to its IAC SE, so its payload never leaks into the data, but
// it is neither stored beyond the cap nor acted upon.
#pragma once

#include <atomic>
#include <cstdint>

#include "terminal/uBytes.h"

namespace telnet {
constexpr uint8_t kIac = 255;
constexpr uint8_t kDont = 254;
constexpr uint8_t kDo = 253;
constexpr uint8_t kWont = 252;
constexpr uint8_t kWill = 251;
constexpr uint8_t kSb = 250;
constexpr uint8_t kSe = 240;
constexpr uint8_t kBrk = 243;

constexpr uint8_t kOptEcho = 1;
constexpr uint8_t kOptSuppressGoAhead = 3;
constexpr uint8_t kOptTerminalType = 24;
constexpr uint8_t kOptNaws = 31;

constexpr uint8_t kTerminalTypeIs = 0;
constexpr uint8_t kTerminalTypeSend = 1;
}  // namespace telnet

class TTelnetFilter {
public:
    // Largest subnegotiation payload kept; the only one acted upon is two bytes.
    static constexpr int32_t kSubCap = 4096;
    static constexpr int32_t kWindowWidth = 120;
    static constexpr int32_t kWindowHeight = 40;

    explicit TTelnetFilter(bool negotiate);
    TTelnetFilter(const TTelnetFilter&) = delete;
    TTelnetFilter& operator=(const TTelnetFilter&) = delete;

    // Appends the terminal's bytes to `dataOut` and the bytes to send back to
    // `repliesOut` (always empty without negotiation).
    void Process(const uint8_t* input, int32_t count, TByteBuf& dataOut, TByteBuf& repliesOut);

    // The server offered ECHO and we accepted. Written by the worker, read by
    // the owner's thread.
    bool RemoteEcho() const { return remoteEcho_.load(std::memory_order_relaxed); }
    bool Negotiate() const { return negotiate_; }

private:
    enum class TState : uint8_t { Data, Iac, Will, Wont, Do, Dont, Sub, SubIac };

    const uint8_t* ProcessData(const uint8_t* p, const uint8_t* end, TByteBuf& dataOut);
    void OnWill(uint8_t option);
    void OnWont(uint8_t option);
    void OnDo(uint8_t option);
    void OnDont(uint8_t option);
    void OnSubEnd();
    void Reply(uint8_t command, uint8_t option);
    void SendWindowSize();
    void AppendSub(uint8_t b);

    const bool negotiate_;
    TState state_ = TState::Data;
    bool lastWasCr_ = false;
    bool subOverflow_ = false;
    TByteBuf sub_;
    TByteBuf replies_;
    bool doSent_[256] = {};
    bool willSent_[256] = {};
    bool dontSent_[256] = {};
    bool wontSent_[256] = {};
    std::atomic<bool> remoteEcho_{false};
};

// Appends `count` bytes to `out`, each 0xFF doubled (telnet data on the wire).
// False when `out` could not take them all; it then holds only a part.
bool EscapeIac(const uint8_t* bytes, int32_t count, TByteBuf& out);
