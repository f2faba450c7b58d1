// A loopback peer sends 256 MiB of text as fast as it can into a terminal
// window (text view, autoscroll) opened the way the lister opens one: once
// with logging off, once logging text lines, once logging the raw bytes.
// Reports the rate the window takes the bytes in against a plain 4096-byte
// recv loop of the same stream in the same run, the delay between posting a
// keystroke-like message to the edit line and its handling, sampled every
// 10 ms during the stream, what the log wrote, and the process's peak memory.
#include <winsock2.h>

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "backend/uTcpBackend.h"
#include "base/uText.h"
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
    double Seconds = 0;
    int64_t LogBytes = 0;  // in the log files once the log was closed
    size_t LogQueuePeak = 0;
    double Plain = 0;     // the plain loop measured just before
    std::vector<double> DrainMs;  // each received-bytes message's handling, sorted
    double LongestMs = 0;         // the longest handling of any message
    UINT LongestMsg = 0;
    std::wstring Status;  // the status line at the end of the stream
};

// The bytes in the files of a folder; removes them with `remove`.
int64_t FolderBytes(const std::wstring& folder, bool remove) {
    int64_t total = 0;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return 0;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        total += int64_t(fd.nFileSizeHigh) << 32 | fd.nFileSizeLow;
        if (remove) DeleteFileW((folder + L"\\" + fd.cFileName).c_str());
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return total;
}

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

// logFormat: -1 off, else the LogFormat setting (0 text, 1 raw).
TWindowRun IntoWindow(const std::wstring& ini, const std::wstring& logs, int logFormat) {
    TWindowRun run;
    klbench::TSender sender(kTotal, Block());
    std::string text = "[Conn:fire" + std::to_string(logFormat) +
                       "]\r\nHost=127.0.0.1\r\nPort=" + std::to_string(sender.Port()) +
                       "\r\nMode=0\r\n";
    if (logFormat >= 0)
        text += "Log=1\r\n[Plugin]\r\nLogFolder=" + std::string(logs.begin(), logs.end()) +
                "\r\nLogFormat=" + std::to_string(logFormat) + "\r\n";
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
    // Each run its own connection: a kept session would bring the last run's counters.
    const std::u16string name = u"fire" + IntToText(logFormat);
    TConnInfo conn{name, u"127.0.0.1", sender.Port(), 0};
    const double t0 = Seconds();
    HWND hwnd = OpenEmbeddedTerminal(lister, 1, name, name, conn);
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
            if (m.message == WM_TIMER)  // the log's queue at its fullest so far
                if (TSessionLog* log = term->Log())
                    run.LogQueuePeak = std::max(run.LogQueuePeak, log->Writer().PeakQueued());
            TranslateMessage(&m);
            const double began = Seconds();
            DispatchMessageW(&m);
            const double took = (Seconds() - began) * 1000.0;
            if (m.message == WM_KL_RECEIVED) run.DrainMs.push_back(took);
            if (took > run.LongestMs) {
                run.LongestMs = took;
                run.LongestMsg = m.message;
            }
            if (!term->Backend() && term->ReceivedCount() < kTotal) break;
        }
    }
    const double t = Seconds() - t0;
    if (TSessionLog* log = term->Log())
        run.LogQueuePeak = std::max(run.LogQueuePeak, log->Writer().PeakQueued());
    run.Seconds = t;
    if (term->ReceivedCount() == kTotal) run.MBps = double(kTotal) / t / 1e6;
    wchar_t status[512] = {};
    GetWindowTextW(term->Control(kIdStatus), status, 512);
    run.Status = status;
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc))
        run.PeakMiB = double(pmc.PeakWorkingSetSize) / (1 << 20);
    std::sort(latency.begin(), latency.end());
    run.LatencyMs = latency;
    std::sort(run.DrainMs.begin(), run.DrainMs.end());
    CloseEmbeddedTerminal(hwnd);
    DestroyWindow(lister);
    // Closing gives the log a bounded time to finish; what is still queued
    // then is written by its thread alone.
    for (int64_t last = -1; logFormat >= 0 && run.LogBytes != last;) {
        last = run.LogBytes;
        Sleep(200);
        run.LogBytes = FolderBytes(logs, false);
    }
    FolderBytes(logs, true);
    return run;
}

double Percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    return sorted[std::min(sorted.size() - 1, size_t(p * double(sorted.size())))];
}

void Report(const char* name, const TWindowRun& run) {
    std::printf("%-34s %10.1f MB/s\n", "  plain 4096-byte recv loop", run.Plain);
    std::printf("%-34s %10.1f MB/s   ratio %.3f (target >= 0.5)\n", name, run.MBps,
                run.Plain > 0 ? run.MBps / run.Plain : 0.0);
    std::printf(
        "  keystroke latency over %zu samples: p50 %.1f ms, p99 %.1f ms, max %.1f ms "
        "(target p99 <= 50)\n",
        run.LatencyMs.size(), Percentile(run.LatencyMs, 0.5), Percentile(run.LatencyMs, 0.99),
        run.LatencyMs.empty() ? 0.0 : run.LatencyMs.back());
    std::printf(
        "  window thread: %zu drains, p99 %.1f ms, max %.1f ms; longest message 0x%04X "
        "%.1f ms\n",
        run.DrainMs.size(), Percentile(run.DrainMs, 0.99),
        run.DrainMs.empty() ? 0.0 : run.DrainMs.back(), run.LongestMsg, run.LongestMs);
    if (run.LogBytes > 0)
        std::printf("  log: %.1f MB written, %.1f MB/s over the stream, queue peak %.1f MiB\n",
                    double(run.LogBytes) / 1e6,
                    run.Seconds > 0 ? double(run.LogBytes) / run.Seconds / 1e6 : 0.0,
                    double(run.LogQueuePeak) / (1 << 20));
    std::printf("  peak working set %.0f MiB; status: %ls\n", run.PeakMiB, run.Status.c_str());
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
    const std::wstring logs = std::wstring(dir) + L"kestrelink-firehose-logs";
    // Each window run against a plain loop measured just before it: on a
    // shared machine the load drifts between runs.
    auto run = [&](int logFormat) {
        const double plain = klbench::PlainRecv(kTotal, Block(), 4096);
        TWindowRun r = IntoWindow(ini, logs, logFormat);
        r.Plain = plain;
        return r;
    };
    const TWindowRun off = run(-1), text = run(0), raw = run(1);
    DeleteFileW(ini.c_str());
    RemoveDirectoryW(logs.c_str());
    std::printf(
        "firehose: %lld MiB of coloured text into a terminal window (text view, autoscroll)\n",
        kTotal >> 20);
    Report("into the window, log off", off);
    Report("into the window, text log", text);
    Report("into the window, raw log", raw);
    return off.MBps > 0 && text.MBps > 0 && raw.MBps > 0 ? 0 : 1;
}
