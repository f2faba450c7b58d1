// Filling a backend's send queue until the line holds it back, for the tests
// of a peer or device that stops reading.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "backend/uBackend.h"
#include "owner_window.h"

namespace kltest {

// Queues blocks of pattern(offset) bytes through `backend` until more than the
// queue's cap waits and nothing more has left for `stillMs` (the line's own
// buffers are full), at most `limit` bytes. What was queued is appended to
// `sent`; returns the longest Write in ms.
inline ULONGLONG FillUntilHeld(TOwnerWindow& owner, TBackend& backend, std::string& sent,
                               uint8_t (*pattern)(int64_t), DWORD stillMs = 500,
                               size_t limit = 64u << 20) {
    ULONGLONG slowest = 0, stillSince = GetTickCount64();
    int64_t written = -1;
    std::string block(65536, '\0');
    owner.PumpUntil(
        [&] {
            for (bool taken = true; taken && sent.size() < limit;) {
                for (size_t k = 0; k < block.size(); ++k)
                    block[k] = char(pattern(int64_t(sent.size() + k)));
                const ULONGLONG t0 = GetTickCount64();
                taken = backend.Write(reinterpret_cast<const uint8_t*>(block.data()),
                                      int32_t(block.size()));
                slowest = std::max(slowest, GetTickCount64() - t0);
                if (taken) sent += block;
            }
            if (backend.WrittenCount() != written) {
                written = backend.WrittenCount();
                stillSince = GetTickCount64();
            }
            return sent.size() >= limit || (backend.QueuedCount() > kSendQueueCap &&
                                            GetTickCount64() - stillSince >= stillMs);
        },
        60000);
    return slowest;
}

}  // namespace kltest
