// The owner side of a backend in tests: a message-only window on the test's
// thread that records the three backend messages and, when asked, drains the
// backend the way a terminal window does (on WM_APP+1, and once more on
// WM_APP+2), optionally after a delay that plays a busy user-interface thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "backend/uBackend.h"

namespace kltest {

struct TOwnerEvent {
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    ULONGLONG Time;  // GetTickCount64 when the message was handled
};

class TOwnerWindow {
public:
    using TSink = std::function<void(const uint8_t* data, int32_t count)>;

    TOwnerWindow();
    ~TOwnerWindow();
    TOwnerWindow(const TOwnerWindow&) = delete;
    TOwnerWindow& operator=(const TOwnerWindow&) = delete;

    HWND Handle() const { return hwnd_; }

    // Drains `backend` on its messages (those whose wParam is its connection
    // number); nullptr stops draining.
    void DrainFrom(TBackend* backend) { backend_ = backend; }
    // Sleep before each drain, as a slow owner would.
    void SetDrainDelay(DWORD ms) { delayMs_ = ms; }
    // While paused, WM_APP+1 is recorded but not drained; resuming drains
    // what a swallowed notification announced.
    void PauseDrain(bool paused);
    // Drained bytes go to the sink; without one they collect in Received().
    void SetSink(TSink sink) { sink_ = std::move(sink); }

    // Pumps this thread's messages until done() holds or timeoutMs pass.
    bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
    void PumpFor(DWORD ms);
    // Until at least one `msg` has been handled.
    bool WaitFor(UINT msg, DWORD timeoutMs);

    const std::vector<TOwnerEvent>& Events() const { return events_; }
    int Count(UINT msg) const;
    const TOwnerEvent* Last(UINT msg) const;
    const std::string& Received() const { return received_; }
    int64_t ReceivedTotal() const { return total_; }
    int Drains() const { return drains_; }
    // True once a WM_APP+1 was found still queued while another was handled.
    bool SawTwoOutstanding() const { return sawTwo_; }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    void OnBackendMessage(UINT msg, WPARAM wp, LPARAM lp);
    void Drain();

    HWND hwnd_ = nullptr;
    TBackend* backend_ = nullptr;
    DWORD delayMs_ = 0;
    bool paused_ = false;
    bool missed_ = false;
    TSink sink_;
    std::vector<TOwnerEvent> events_;
    std::string received_;
    int64_t total_ = 0;
    int drains_ = 0;
    bool sawTwo_ = false;
    TByteBuf scratch_;
};

}  // namespace kltest
