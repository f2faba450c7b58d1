// A loopback peer sends 256 MiB of text as fast as it can into a terminal
// window (text view, autoscroll) opened the way the lister opens one. Reports
// the rate the window takes the bytes in against a plain 4096-byte recv loop
// of the same stream in the same run, the delay between posting a
// keystroke-like message to the edit line and its handling, sampled every
// 10 ms during the stream, and the process's peak memory.
#include <winsock2.h>

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "backend/uTcpBackend.h"
#include "base/uWin.h"
#include "bench_loopback.h"
#include "settings/uSettings.h"
#include "termwnd/uListerGlue.h"
#include "termwnd/uTermWnd.h"

namespace {

using klbench::Seconds;

constexpr int64_t kTotal = 256ll << 20;
constexpr DWORD kSampleMs = 10;

// Coloured log lines, the kind of stream a device floods a terminal with.
const std::vector<char>& Block() {
    static const std::vector<char> block = klbench::RepeatedBlock(
        "\x1b[32m2024-05-01 12:00:00\x1b[0m sensor 17: temperature=21.5 humidity=40%\r\n");
    return block;
}

struct TWindowRun {
    double MBps = 0;
    std::vector<double> LatencyMs;
    double PeakMiB = 0;
};

// Posts a harmless key-down (Shift) to the edit line every 10 ms, its index
// in lParam, so the loop can time each one from post to dispatch.
struct TSampler {
    HWND edit;
    std::vector<double> posted;
    std::atomic<bool> stop{false};
    std::atomic<int> count{0};
    std::thread thread;
    explicit TSampler(HWND e) : edit(e), posted(200000, 0.0) {
        thread = std::thread([this] {
            while (!stop && count < int(posted.size())) {
                const int i = count;
                posted[size_t(i)] = Seconds();
                count = i + 1;
                PostMessageW(edit, WM_KEYDOWN, VK_SHIFT, LPARAM(i));
                Sleep(kSampleMs);
            }
        });
    }
    ~TSampler() {
        stop = true;
        thread.join();
    }
};

TWindowRun IntoWindow(const std::wstring& ini) {
    TWindowRun run;
    klbench::TSender sender(kTotal, Block());
    const std::string text =
        "[Conn:fire]\r\nHost=127.0.0.1\r\nPort=" + std::to_string(sender.Port()) + "\r\nMode=0\r\n";
    HANDLE f = CreateFileW(ini.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD put = 0;
    WriteFile(f, text.data(), DWORD(text.size()), &put, nullptr);
    CloseHandle(f);
    SetSettingsPath(U(ini.c_str()));

    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TLister";
    RegisterClassW(&wc);
    HWND lister = CreateWindowW(L"TLister", L"Lister", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 1000,
                                700, nullptr, nullptr, wc.hInstance, nullptr);
    TConnInfo conn{u"fire", u"127.0.0.1", sender.Port(), 0};
    const double t0 = Seconds();
    HWND hwnd = OpenEmbeddedTerminal(lister, 1, u"fire", u"fire", conn);
    TTermWindow* term = TTermWindow::FromWindow(hwnd);
    if (!term) return run;
    HWND edit = term->Control(kIdEdit);
    std::vector<double> latency;
    {
        TSampler sampler(edit);
        MSG m;
        while (term->ReceivedCount() < kTotal && GetMessageW(&m, nullptr, 0, 0) > 0) {
            if (m.hwnd == edit && m.message == WM_KEYDOWN && m.wParam == VK_SHIFT)
                latency.push_back((Seconds() - sampler.posted[size_t(m.lParam)]) * 1000.0);
            TranslateMessage(&m);
            DispatchMessageW(&m);
            if (!term->Backend() && term->ReceivedCount() < kTotal) break;
        }
    }
    const double t = Seconds() - t0;
    if (term->ReceivedCount() == kTotal) run.MBps = double(kTotal) / t / 1e6;
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc))
        run.PeakMiB = double(pmc.PeakWorkingSetSize) / (1 << 20);
    std::sort(latency.begin(), latency.end());
    run.LatencyMs = latency;
    CloseEmbeddedTerminal(hwnd);
    DestroyWindow(lister);
    return run;
}

double Percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    return sorted[std::min(sorted.size() - 1, size_t(p * double(sorted.size())))];
}

}  // namespace

int main() {
    if (!StartNetworking()) {
        std::printf("networking did not start\n");
        return 1;
    }
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    const std::wstring ini = std::wstring(dir) + L"kestrelink-firehose.ini";
    const double plain = klbench::PlainRecv(kTotal, Block(), 4096);
    const TWindowRun run = IntoWindow(ini);
    DeleteFileW(ini.c_str());
    std::printf(
        "firehose: %lld MiB of coloured text into a terminal window (text view, autoscroll)\n",
        kTotal >> 20);
    std::printf("%-34s %10.1f MB/s\n", "plain 4096-byte recv loop", plain);
    std::printf("%-34s %10.1f MB/s   ratio %.3f (target >= 0.5)\n", "into the terminal window",
                run.MBps, plain > 0 ? run.MBps / plain : 0.0);
    std::printf(
        "keystroke latency over %zu samples: p50 %.1f ms, p99 %.1f ms, max %.1f ms "
        "(target p99 <= 50)\n",
        run.LatencyMs.size(), Percentile(run.LatencyMs, 0.5), Percentile(run.LatencyMs, 0.99),
        run.LatencyMs.empty() ? 0.0 : run.LatencyMs.back());
    std::printf("peak working set %.0f MiB\n", run.PeakMiB);
    return run.MBps > 0 ? 0 : 1;
}
