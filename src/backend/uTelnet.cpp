#include "backend/uTelnet.h"

#include <cstring>

using namespace telnet;

namespace {

// What we agree to, per option: the server may enable it on its side
// (answered with DO), or we enable it on ours when asked (answered with WILL).
// Every option not listed is refused once and then ignored.
struct TOptionPolicy {
    uint8_t Option;
    bool ServerMay;
    bool WeOffer;
};

constexpr TOptionPolicy kPolicy[] = {
    {kOptEcho, true, false},
    {kOptSuppressGoAhead, true, false},
    {kOptTerminalType, false, true},
    {kOptNaws, false, true},
};

constexpr bool ServerMay(uint8_t option) {
    for (const auto& p : kPolicy)
        if (p.Option == option) return p.ServerMay;
    return false;
}

constexpr bool WeOffer(uint8_t option) {
    for (const auto& p : kPolicy)
        if (p.Option == option) return p.WeOffer;
    return false;
}

constexpr uint8_t kTerminalName[] = {'X', 'T', 'E', 'R', 'M'};
constexpr uint8_t kCr = 13;

const uint8_t* FindByte(const uint8_t* p, const uint8_t* end, uint8_t b) {
    const void* hit = std::memchr(p, b, size_t(end - p));
    return hit ? static_cast<const uint8_t*>(hit) : end;
}

}  // namespace

TTelnetFilter::TTelnetFilter(bool negotiate) : negotiate_(negotiate) {}

void TTelnetFilter::Process(const uint8_t* input, int32_t count, TByteBuf& dataOut,
                            TByteBuf& repliesOut) {
    replies_.Clear();
    const uint8_t* p = input;
    const uint8_t* const end = count > 0 ? input + count : input;
    while (p < end) {
        if (state_ == TState::Data) {
            p = ProcessData(p, end, dataOut);
            if (p == end) break;
            state_ = TState::Iac;  // ProcessData stops only at an IAC
            ++p;
            continue;
        }
        const uint8_t b = *p++;
        switch (state_) {
            case TState::Data:
                break;
            case TState::Iac:
                state_ = TState::Data;
                switch (b) {
                    case kSb:
                        sub_.Clear();
                        subOverflow_ = false;
                        state_ = TState::Sub;
                        break;
                    case kWill:
                        state_ = TState::Will;
                        break;
                    case kWont:
                        state_ = TState::Wont;
                        break;
                    case kDo:
                        state_ = TState::Do;
                        break;
                    case kDont:
                        state_ = TState::Dont;
                        break;
                    case kIac:
                        dataOut.AppendByte(kIac);
                        lastWasCr_ = false;
                        break;
                    default:
                        break;  // NOP, GA, DM, BRK, IP, AO, AYT, EC, EL, stray SE: nothing to do
                }
                break;
            case TState::Will:
                OnWill(b);
                state_ = TState::Data;
                break;
            case TState::Wont:
                OnWont(b);
                state_ = TState::Data;
                break;
            case TState::Do:
                OnDo(b);
                state_ = TState::Data;
                break;
            case TState::Dont:
                OnDont(b);
                state_ = TState::Data;
                break;
            case TState::Sub:
                if (b == kIac)
                    state_ = TState::SubIac;
                else
                    AppendSub(b);
                break;
            case TState::SubIac:
                if (b == kSe) {
                    if (!subOverflow_) OnSubEnd();
                    state_ = TState::Data;
                } else if (b == kIac) {
                    AppendSub(kIac);
                    state_ = TState::Sub;
                } else {
                    state_ = TState::Data;  // malformed: the subnegotiation is dropped
                }
                break;
        }
    }
    repliesOut.Append(replies_.Data(), replies_.Count());
}

// Copies the data run up to the next IAC, dropping the NUL of each CR NUL.
// Returns the position of that IAC, or `end`.
const uint8_t* TTelnetFilter::ProcessData(const uint8_t* p, const uint8_t* end, TByteBuf& dataOut) {
    const uint8_t* const iac = FindByte(p, end, kIac);
    if (iac == p) return iac;
    const uint8_t* pending = p;  // first byte not yet copied
    const uint8_t* q = p;
    if (lastWasCr_ && *q == 0) pending = ++q;
    // NUL is rare in text, so searching for it beats looking at every CR.
    while (q < iac) {
        const uint8_t* nul = FindByte(q, iac, 0);
        if (nul == iac) break;
        if (nul > p && nul[-1] == kCr) {
            dataOut.Append(pending, int32_t(nul - pending));
            pending = nul + 1;
        }
        q = nul + 1;
    }
    dataOut.Append(pending, int32_t(iac - pending));
    // A dropped NUL is not CR either, so the last byte of the run decides.
    lastWasCr_ = iac[-1] == kCr;
    return iac;
}

void TTelnetFilter::AppendSub(uint8_t b) {
    if (sub_.Count() < kSubCap)
        sub_.AppendByte(b);
    else
        subOverflow_ = true;
}

void TTelnetFilter::Reply(uint8_t command, uint8_t option) {
    const uint8_t reply[3] = {kIac, command, option};
    replies_.Append(reply, 3);
}

void TTelnetFilter::OnWill(uint8_t option) {
    if (!negotiate_) return;
    if (ServerMay(option)) {
        if (!doSent_[option]) {
            doSent_[option] = true;
            Reply(kDo, option);
        }
    } else if (!dontSent_[option]) {
        dontSent_[option] = true;
        Reply(kDont, option);
    }
    if (option == kOptEcho) remoteEcho_.store(true, std::memory_order_relaxed);
}

void TTelnetFilter::OnWont(uint8_t option) {
    if (!negotiate_) return;
    if (doSent_[option]) {
        doSent_[option] = false;
        Reply(kDont, option);
    }
    if (option == kOptEcho) remoteEcho_.store(false, std::memory_order_relaxed);
}

void TTelnetFilter::OnDo(uint8_t option) {
    if (!negotiate_) return;
    if (WeOffer(option)) {
        if (!willSent_[option]) {
            willSent_[option] = true;
            Reply(kWill, option);
            if (option == kOptNaws) SendWindowSize();
        }
    } else if (!wontSent_[option]) {
        wontSent_[option] = true;
        Reply(kWont, option);
    }
}

void TTelnetFilter::OnDont(uint8_t option) {
    if (!negotiate_) return;
    if (willSent_[option]) {
        willSent_[option] = false;
        Reply(kWont, option);
    }
}

void TTelnetFilter::SendWindowSize() {
    const uint8_t head[3] = {kIac, kSb, kOptNaws};
    replies_.Append(head, 3);
    const uint8_t size[4] = {uint8_t(kWindowWidth >> 8), uint8_t(kWindowWidth & 0xFF),
                             uint8_t(kWindowHeight >> 8), uint8_t(kWindowHeight & 0xFF)};
    EscapeIac(size, 4, replies_);
    const uint8_t tail[2] = {kIac, kSe};
    replies_.Append(tail, 2);
}

void TTelnetFilter::OnSubEnd() {
    if (!negotiate_) return;
    const uint8_t* s = sub_.Data();
    if (sub_.Count() >= 2 && s[0] == kOptTerminalType && s[1] == kTerminalTypeSend) {
        const uint8_t head[4] = {kIac, kSb, kOptTerminalType, kTerminalTypeIs};
        replies_.Append(head, 4);
        replies_.Append(kTerminalName, int32_t(sizeof kTerminalName));
        const uint8_t tail[2] = {kIac, kSe};
        replies_.Append(tail, 2);
    }
}

bool EscapeIac(const uint8_t* bytes, int32_t count, TByteBuf& out) {
    if (count <= 0) return true;
    const uint8_t* p = bytes;
    const uint8_t* const end = bytes + count;
    while (p < end) {
        const uint8_t* iac = FindByte(p, end, kIac);
        if (iac == end) return out.Append(p, int32_t(end - p));
        // up to and including the 0xFF, then its double
        if (!out.Append(p, int32_t(iac - p + 1)) || !out.AppendByte(kIac)) return false;
        p = iac + 1;
    }
    return true;
}
