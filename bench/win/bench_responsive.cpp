// The terminal window keeps answering while the line is slow. Two runs over a
// serial pair (a pseudo-terminal pair linked into the prefix as COM ports):
// - a long send at 300 baud: sixteen 4,095-character lines sent while the
//   device end reads 30 bytes a second, more than the pair's buffers hold;
// - a port that takes 5 s to open (the opener's test hook stalls it).
// During each, a second thread times SendMessageTimeout(WM_NULL) to the
// window every 10 ms (p50/p99/max), and Disconnect in the middle is timed.
// The device end then checks that what arrived is the start of what was sent,
// in order, each byte once.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "backend/uSerialBackend.h"
#include "base/uWin.h"
#include "bench_loopback.h"
#include "settings/uSettings.h"
#include "termwnd/uListerGlue.h"
#include "termwnd/uTermWnd.h"

namespace {

using klbench::Seconds;

constexpr DWORD kSampleMs = 10;
constexpr int kLines = 16;

struct TPair {
    std::wstring App, Device;
};

// The "general" pair of the serial fixture: KL_SERIAL_PAIRS names its list.
bool FindPair(TPair& pair) {
    const char* list = std::getenv("KL_SERIAL_PAIRS");
    if (!list) return false;
    std::wstring path = L"Z:";
    for (const char* p = list; *p; ++p) path += *p == '/' ? L'\\' : wchar_t(*p);
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    char buf[4096] = {};
    DWORD got = 0;
    ReadFile(f, buf, sizeof buf - 1, &got, nullptr);
    CloseHandle(f);
    char role[32], app[16], dev[16];
    for (const char* line = buf; line && *line;) {
        if (std::sscanf(line, "%31s %15s %15s", role, app, dev) == 3 &&
            std::string(role) == "general") {
            pair.App = std::wstring(app, app + std::strlen(app));
            pair.Device = std::wstring(dev, dev + std::strlen(dev));
            return true;
        }
        line = std::strchr(line, '\n');
        if (line) ++line;
    }
    return false;
}

// Times WM_NULL round trips to a window from a second thread.
class TProbe {
public:
    explicit TProbe(HWND target) : target_(target) {
        thread_ = std::thread([this] {
            while (!stop_) {
                DWORD_PTR result = 0;
                const double t0 = Seconds();
                SendMessageTimeoutW(target_, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
                samples_.push_back((Seconds() - t0) * 1000.0);
                Sleep(kSampleMs);
            }
            done_ = true;
        });
    }
    ~TProbe() { Stop(); }
    std::vector<double> Stop() {
        stop_ = true;
        // The probe may be waiting for this thread's answer: answer until it
        // ends, or its last sample would count this wait.
        MSG m;
        while (!done_) {
            PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
            Sleep(1);
        }
        if (thread_.joinable()) thread_.join();
        std::sort(samples_.begin(), samples_.end());
        return samples_;
    }

private:
    HWND target_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::vector<double> samples_;
    std::thread thread_;
};

void PumpFor(double ms) {
    const double end = Seconds() + ms / 1000.0;
    MSG m;
    while (Seconds() < end) {
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        Sleep(1);
    }
}

double Percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    return sorted[std::min(sorted.size() - 1, size_t(p * double(sorted.size())))];
}

void Report(const char* what, const std::vector<double>& s, double disconnectMs) {
    std::printf(
        "%-40s WM_NULL over %zu samples: p50 %.1f ms, p99 %.1f ms, max %.1f ms "
        "(target p99 <= 50); Disconnect %.1f ms\n",
        what, s.size(), Percentile(s, 0.5), Percentile(s, 0.99), s.empty() ? 0.0 : s.back(),
        disconnectMs);
}

// Clicks the Connect/Disconnect button the way the user does; how long it held.
double TimedDisconnect(TTermWindow& term) {
    const double t0 = Seconds();
    SendMessageW(term.Control(kIdConnect), BM_CLICK, 0, 0);
    return (Seconds() - t0) * 1000.0;
}

// The device end: reads `perTick` bytes every 100 ms (30 bytes a second is
// 300 baud) and checks them against the pattern that was sent.
class TSlowDevice {
public:
    TSlowDevice(const std::wstring& port, std::string expected, int perTick)
        : expected_(std::move(expected)) {
        const std::wstring path = L"\\\\.\\" + port;
        h_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                         nullptr);
        COMMTIMEOUTS t = {};
        t.ReadIntervalTimeout = MAXDWORD;  // return at once with what is there
        if (h_ != INVALID_HANDLE_VALUE) SetCommTimeouts(h_, &t);
        thread_ = std::thread([this, perTick] {
            char buf[4096];
            while (!stop_ && h_ != INVALID_HANDLE_VALUE) {
                DWORD got = 0;
                ReadFile(h_, buf, DWORD(perTick), &got, nullptr);
                received_.append(buf, got);
                Sleep(100);
            }
        });
    }
    ~TSlowDevice() {
        stop_ = true;
        thread_.join();
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    bool Open() const { return h_ != INVALID_HANDLE_VALUE; }
    // What arrived is the start of what was sent, in order, each byte once.
    bool InOrder() {
        stop_ = true;
        thread_.join();
        thread_ = std::thread([] {});
        return received_.size() <= expected_.size() &&
               expected_.compare(0, received_.size(), received_) == 0;
    }
    size_t Received() const { return received_.size(); }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
    std::string expected_;
    std::string received_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

HWND MakeLister() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TLister";
    RegisterClassW(&wc);
    return CreateWindowW(L"TLister", L"Lister", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 1000, 700,
                         nullptr, nullptr, wc.hInstance, nullptr);
}

bool WaitConnected(TTermWindow& term, double ms) {
    const double end = Seconds() + ms / 1000.0;
    while (!term.Connected() && Seconds() < end) PumpFor(10);
    return term.Connected();
}

int SlowSend(const TPair& pair) {
    std::string line, sent;
    for (int i = 0; i < 4095; ++i) line.push_back(char('A' + i % 26));
    for (int i = 0; i < kLines; ++i) sent += line + "\r\n";
    TSlowDevice device(pair.Device, sent, 3);
    if (!device.Open()) return std::printf("device end did not open\n"), 1;
    HWND lister = MakeLister();
    HWND hwnd =
        OpenEmbeddedTerminal(lister, 0, U(pair.App.c_str()), U(pair.App.c_str()), TConnInfo{});
    TTermWindow* term = TTermWindow::FromWindow(hwnd);
    if (!term || !WaitConnected(*term, 5000)) return std::printf("port did not open\n"), 1;
    const std::wstring wline(line.begin(), line.end());
    const double t0 = Seconds();
    for (int i = 0; i < kLines; ++i) {
        SetWindowTextW(term->Control(kIdEdit), wline.c_str());
        SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(kIdSend, BN_CLICKED), 0);
    }
    const double sendMs = (Seconds() - t0) * 1000.0;
    // Sampled from here on: the loop above does not pump, and most of its time
    // is the edit control taking 4,095 characters, not the send.
    TProbe probe(hwnd);
    PumpFor(3000);
    const double disconnectMs = TimedDisconnect(*term);
    PumpFor(300);
    const std::vector<double> samples = probe.Stop();
    const int64_t tx = term->SentCount();
    CloseEmbeddedTerminal(hwnd);
    DestroyWindow(lister);
    const bool ordered = device.InOrder();
    std::printf(
        "slow send: %d lines of 4,095 characters queued in %.1f ms; %zu bytes reached the "
        "device, Tx counted %lld, %s\n",
        kLines, sendMs, device.Received(), static_cast<long long>(tx),
        ordered ? "in order" : "NOT IN ORDER");
    Report("slow send at 300 baud:", samples, disconnectMs);
    return ordered ? 0 : 1;
}

int StalledOpen(const TPair& pair) {
    TSerialBackend::OpenStallHook = [] { Sleep(5000); };
    HWND lister = MakeLister();
    const double t0 = Seconds();
    HWND hwnd =
        OpenEmbeddedTerminal(lister, 0, U(pair.App.c_str()), U(pair.App.c_str()), TConnInfo{});
    const double openMs = (Seconds() - t0) * 1000.0;
    TTermWindow* term = TTermWindow::FromWindow(hwnd);
    if (!term) return std::printf("no terminal window\n"), 1;
    TProbe probe(hwnd);
    PumpFor(2000);
    const double disconnectMs = TimedDisconnect(*term);
    PumpFor(1000);
    const std::vector<double> samples = probe.Stop();
    CloseEmbeddedTerminal(hwnd);
    DestroyWindow(lister);
    // The stalled open finishes in the background and lets the port go.
    PumpFor(2500);
    TSerialBackend::OpenStallHook = nullptr;
    std::printf("stalled open: the lister's terminal came up in %.1f ms\n", openMs);
    Report("open stalled for 5 s:", samples, disconnectMs);
    return 0;
}

}  // namespace

int main() {
    TPair pair;
    if (!FindPair(pair)) {
        std::printf("responsive: no serial pair (KL_SERIAL_PAIRS), skipped\n");
        return 0;
    }
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    const std::wstring ini = std::wstring(dir) + L"kestrelink-responsive.ini";
    const std::string text = "[Port:" + std::string(pair.App.begin(), pair.App.end()) +
                             "]\r\nBaud=300\r\nConnectOnOpen=1\r\nConnectInQuickView=1\r\n";
    HANDLE f = CreateFileW(ini.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD put = 0;
    WriteFile(f, text.data(), DWORD(text.size()), &put, nullptr);
    CloseHandle(f);
    SetSettingsPath(U(ini.c_str()));
    const int status = SlowSend(pair) | StalledOpen(pair);
    DeleteFileW(ini.c_str());
    return status;
}
