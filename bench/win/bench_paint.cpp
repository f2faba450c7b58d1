// Paint time of the terminal's output view under Wine: one full frame of a
// 120 x 50 view (WM_PAINT with its off-screen bitmap and BitBlt), for
// coloured text and for the hex dump, as p50 and p99 over many frames. The
// reference, measured in the same run, draws the same visible text into the
// same kind of bitmap with one ExtTextOutW per row in one colour: the least
// any grid painter of this text has to do.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "settings/uSettings.h"
#include "termwnd/uListerGlue.h"
#include "termwnd/uTermWndTesting.h"

namespace {

constexpr int kColumns = 120;
constexpr int kRows = 50;
constexpr int kFrames = 400;
constexpr int kWarmup = 20;

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

struct TStats {
    double P50, P99;
};

TStats Stats(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)]};
}

// The frame and the reference alternate, so that a busy machine slows both alike.
template <class F, class G>
std::pair<TStats, TStats> Measure(F&& frame, G&& reference) {
    std::vector<double> a, b;
    for (int i = 0; i < kWarmup + kFrames; ++i) {
        const double t0 = Now();
        frame();
        const double t1 = Now();
        reference();
        const double t2 = Now();
        if (i < kWarmup) continue;
        a.push_back(t1 - t0);
        b.push_back(t2 - t1);
    }
    return {Stats(a), Stats(b)};
}

// Log-like lines of 120 characters with a colour change every few words.
std::string ColouredText(int lines) {
    static const char* kWords[] = {"sensor", "temp=21.5", "OK", "warn", "rx", "0x3F", "ready"};
    std::string s;
    for (int i = 0; i < lines; ++i) {
        int n = 0, k = i;
        while (n < kColumns - 12) {
            const std::string word = kWords[k % 7];
            s += "\x1b[" + std::to_string(k % 3 == 0 ? 1 : 0) + ";" + std::to_string(31 + k % 7) +
                 "m" + word + "\x1b[0m ";
            n += int(word.size()) + 1;
            ++k;
        }
        s += std::string(size_t(kColumns - n), '.') + "\r\n";
    }
    return s;
}

// Sizes the terminal so the output view's client area is columns x rows cells.
void FitView(TTermWindow& term) {
    HWND main = term.MainWindow();
    for (int pass = 0; pass < 3; ++pass) {
        RECT out, frame;
        GetClientRect(term.OutputWindow(), &out);
        GetClientRect(main, &frame);
        const int wantW = kColumns * term.CharWidth();
        const int wantH = (kRows + (term.PortSettings().ViewHex ? 1 : 0)) * term.LineHeight();
        MoveWindow(main, 0, 0, frame.right + wantW - out.right, frame.bottom + wantH - out.bottom,
                   TRUE);
    }
}

void Pump() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
}

// The reference: the visible text of each row in one call, one colour.
std::function<void()> Reference(TTermWindow& term) {
    HWND out = term.OutputWindow();
    RECT rc;
    GetClientRect(out, &rc);
    std::vector<std::u16string> rows;
    for (int r = 0; r < kRows; ++r) {
        std::u16string t = term.RowText(term.TopRow() + r);
        rows.push_back(t.substr(0, std::min<size_t>(t.size(), kColumns + 2)));
    }
    std::vector<INT> advance(kColumns + 2, term.CharWidth());
    HFONT font = reinterpret_cast<HFONT>(TTermWindowTestAccess::GdiObjects(term)[1]);
    const int lineHeight = term.LineHeight();
    return [=] {
        HDC dc = GetDC(out);
        HDC mem = CreateCompatibleDC(dc);
        HBITMAP bmp = CreateCompatibleBitmap(dc, rc.right, rc.bottom);
        HGDIOBJ oldBmp = SelectObject(mem, bmp);
        HGDIOBJ oldFont = SelectObject(mem, font);
        FillRect(mem, &rc, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        SetTextColor(mem, RGB(204, 204, 204));
        SetBkColor(mem, RGB(12, 12, 12));
        for (int r = 0; r < kRows; ++r) {
            const RECT line = {0, r * lineHeight, rc.right, (r + 1) * lineHeight};
            ExtTextOutW(mem, 0, line.top, ETO_CLIPPED | ETO_OPAQUE, &line,
                        reinterpret_cast<const wchar_t*>(rows[size_t(r)].c_str()),
                        UINT(rows[size_t(r)].size()), advance.data());
        }
        BitBlt(dc, 0, 0, rc.right, rc.bottom, mem, 0, 0, SRCCOPY);
        SelectObject(mem, oldFont);
        SelectObject(mem, oldBmp);
        DeleteObject(bmp);
        DeleteDC(mem);
        ReleaseDC(out, dc);
    };
}

void Report(const char* name, TTermWindow& term) {
    HWND out = term.OutputWindow();
    const auto [frame, ref] =
        Measure([&] { RedrawWindow(out, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); },
                Reference(term));
    std::printf("%-28s p50 %6.3f ms  p99 %6.3f ms   reference p50 %6.3f ms   ratio %5.2fx\n", name,
                frame.P50, frame.P99, ref.P50, frame.P50 / ref.P50);
}

}  // namespace

int main() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring ini = std::wstring(temp) + L"kl_bench_paint.ini";
    DeleteFileW(ini.c_str());
    SetSettingsPath(U(ini.c_str()));

    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KestrelinkBenchHost";
    RegisterClassW(&wc);
    HWND host = CreateWindowW(wc.lpszClassName, L"bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                              1280, 800, nullptr, nullptr, wc.hInstance, nullptr);
    TTermWindow* term = CreateEmbeddedTerminal(host);
    if (!term) {
        std::printf("bench_paint: no terminal window\n");
        return 1;
    }
    TSessionSettings s = DefaultSessionSettings();
    term->SetTarget(0, u"COM1", u"COM1", TConnInfo{});
    TTermWindowTestAccess::SetPortSettings(*term, s);
    const std::string text = ColouredText(400);
    term->Model().Feed(text.data(), int32_t(text.size()));
    FitView(*term);
    term->ShowNewOutput();
    Pump();
    std::printf("view %d x %d cells, cell %d x %d px, screen %d DPI\n", kColumns, kRows,
                term->CharWidth(), term->LineHeight(), term->Dpi());
    Report("coloured text 120x50", *term);

    s.ViewHex = true;
    TTermWindowTestAccess::SetPortSettings(*term, s);
    FitView(*term);
    term->ShowNewOutput();
    Pump();
    Report("hex view 120x50", *term);

    s.ViewHex = false;
    TTermWindowTestAccess::SetPortSettings(*term, s);
    FitView(*term);
    term->SelectAll();
    Pump();
    Report("coloured text, all selected", *term);

    CloseEmbeddedTerminal(term->MainWindow());
    DestroyWindow(host);
    DeleteFileW(ini.c_str());
    return 0;
}
