#include "owner_window.h"

#include <gtest/gtest.h>

namespace kltest {

namespace {
constexpr wchar_t kClassName[] = L"KestrelinkTestOwner";
}  // namespace

TOwnerWindow::TOwnerWindow() {
    static const bool registered = [] {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &TOwnerWindow::Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kClassName;
        return RegisterClassExW(&wc) != 0;
    }();
    if (!registered) {
        ADD_FAILURE() << "RegisterClassExW failed";
        return;
    }
    hwnd_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    if (!hwnd_) {
        ADD_FAILURE() << "CreateWindowExW failed, error " << GetLastError();
        return;
    }
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, LONG_PTR(this));
}

TOwnerWindow::~TOwnerWindow() {
    if (!hwnd_) return;
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    // Backend messages still queued for this window go with it; later ones
    // find no window and are dropped by the system.
    MSG m;
    while (PeekMessageW(&m, hwnd_, WM_KL_RECEIVED, WM_KL_FILESENT, PM_REMOVE)) {
    }
    DestroyWindow(hwnd_);
}

LRESULT CALLBACK TOwnerWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<TOwnerWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
        case WM_KL_RECEIVED:
        case WM_KL_ENDED:
        case WM_KL_CONNECTED:
        case WM_KL_FILESENT:
            if (self) self->OnBackendMessage(msg, wp, lp);
            return 0;
        default:
            return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

void TOwnerWindow::OnBackendMessage(UINT msg, WPARAM wp, LPARAM lp) {
    events_.push_back({msg, wp, lp, GetTickCount64()});
    const bool ours = backend_ && uint32_t(wp) == backend_->ConnectionNumber();
    if (msg == WM_KL_RECEIVED) {
        if (delayMs_) Sleep(delayMs_);
        MSG queued;
        if (PeekMessageW(&queued, hwnd_, WM_KL_RECEIVED, WM_KL_RECEIVED, PM_NOREMOVE))
            sawTwo_ = true;
        if (!ours) return;
        if (paused_)
            missed_ = true;
        else
            Drain();
    } else if (msg == WM_KL_ENDED && ours) {
        Drain();  // bytes delivered before the end are not lost
    }
}

void TOwnerWindow::PauseDrain(bool paused) {
    paused_ = paused;
    if (!paused && missed_) {
        missed_ = false;
        Drain();
    }
}

void TOwnerWindow::Drain() {
    scratch_.Clear();
    backend_->TakeReceived(scratch_);
    ++drains_;
    total_ += scratch_.Count();
    if (sink_)
        sink_(scratch_.Data(), scratch_.Count());
    else
        received_.append(reinterpret_cast<const char*>(scratch_.Data()), size_t(scratch_.Count()));
}

bool TOwnerWindow::PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
            if (done()) return true;
        }
        if (done()) return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return false;
        const DWORD slice = DWORD(end - now < 20 ? end - now : 20);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, slice, QS_ALLINPUT);
    }
}

void TOwnerWindow::PumpFor(DWORD ms) {
    PumpUntil([] { return false; }, ms);
}

bool TOwnerWindow::WaitFor(UINT msg, DWORD timeoutMs) {
    return PumpUntil([&] { return Count(msg) > 0; }, timeoutMs);
}

int TOwnerWindow::Count(UINT msg) const {
    int n = 0;
    for (const auto& e : events_) n += e.Msg == msg;
    return n;
}

const TOwnerEvent* TOwnerWindow::Last(UINT msg) const {
    for (auto it = events_.rbegin(); it != events_.rend(); ++it)
        if (it->Msg == msg) return &*it;
    return nullptr;
}

}  // namespace kltest
