// File-send throughput through TSerialBackend over the serial fixture's
// "xfer" pty pair, set to 115200 baud: XMODEM-1K to lrzsz's rx, YMODEM to
// rb (both started by tests/support/xfer-peer.sh), and a raw send read back
// on the device end. A pty has no baud rate: the numbers are what the pty
// carries, set against the 11,520 bytes/s a real 115200-baud line would, and
// the protocols also against the raw send of the same bytes in the same run
// (the cost of waiting for each block's reply).
//
// The protocols' time runs from the receiver's first ACK to its last (the
// data phase); the receivers' own pauses at start and after EOT (lrzsz waits
// about a second each) are left out and shown apart as the total.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "backend/uSerialBackend.h"
#include "xfer_peer.h"

namespace {

constexpr int64_t kSize = 4 << 20;
constexpr double kLineRate = 115200.0 / 10;  // 8N1: ten bits a byte

double NowS() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

bool Pump(const std::function<bool()>& done, double seconds) {
    const double end = NowS() + seconds;
    while (!done() && NowS() < end) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
    return done();
}

struct TRun {
    double Data = 0, Total = 0;
    bool Ok = false;
};

HWND g_owner = nullptr;
int g_outcome = -1;

LRESULT CALLBACK OwnerProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_KL_FILESENT) g_outcome = int(lp);
    if (msg == WM_KL_RECEIVED) return 0;  // nothing should come: the protocol takes it
    return DefWindowProcW(h, msg, wp, lp);
}

std::unique_ptr<TSerialBackend> Open(const std::u16string& port, uint32_t number) {
    TSessionSettings s;
    s.Baud = 115200;
    auto b = std::make_unique<TSerialBackend>(g_owner, number, port, s);
    std::u16string error;
    if (!b->Open(error)) return nullptr;
    // Transfers are refused until the line is up.
    Pump([&] { return b->IsOpen(); }, 10);
    return b;
}

TRun Protocol(kltest::TXferPeer& peer, const std::wstring& file, TSendProtocol p,
              const std::string& receiver, const std::string& dir, uint32_t number) {
    TRun r;
    auto b = Open(peer.Port(), number);
    if (!b) return r;
    g_outcome = -1;
    const double start = NowS();
    if (!b->StartFileSend({{std::u16string(file.begin(), file.end())}}, p, 0, 0)) return r;
    const int id = peer.Start("serial xfer " + dir + " " + receiver);
    double first = 0, last = 0;
    Pump(
        [&] {
            const TFileSendProgress pr = b->FileSendProgress();
            if (!first && pr.BytesDone > 0) first = NowS();
            if (!last && pr.BytesDone >= kSize) last = NowS();
            return g_outcome >= 0;
        },
        120);
    r.Total = NowS() - start;
    r.Data = last - first;
    r.Ok = g_outcome == kSendDone && peer.WaitExit(id, 10000) == 0;
    b->Close();
    return r;
}

// Raw: the device end reads until every byte is there.
TRun Raw(const std::wstring& file, const std::u16string& app, const std::u16string& device) {
    TRun r;
    const std::u16string path = u"\\\\.\\" + device;
    HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()),
                           GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return r;
    COMMTIMEOUTS t = {};
    t.ReadIntervalTimeout = 20;
    t.ReadTotalTimeoutConstant = 2000;
    SetCommTimeouts(h, &t);
    int64_t got = 0;
    std::thread reader([&] {
        std::vector<char> buf(65536);
        DWORD n = 0;
        while (got < kSize && ReadFile(h, buf.data(), DWORD(buf.size()), &n, nullptr) && n > 0)
            got += n;
    });
    auto b = Open(app, 99);
    g_outcome = -1;
    const double start = NowS();
    if (b &&
        b->StartFileSend({{std::u16string(file.begin(), file.end())}}, TSendProtocol::Raw, 0, 0))
        Pump([&] { return g_outcome >= 0 && got >= kSize; }, 120);
    r.Data = r.Total = NowS() - start;
    reader.join();
    r.Ok = got == kSize && g_outcome == kSendDone;
    CloseHandle(h);
    if (b) b->Close();
    return r;
}

void Report(const char* what, const TRun& r, double raw) {
    if (!r.Ok) {
        std::printf("%-28s FAILED\n", what);
        return;
    }
    const double rate = kSize / r.Data;
    std::printf("%-28s %9.0f bytes/s  %6.2fx line rate  %5.2fx raw send  (total %.2f s)\n", what,
                rate, rate / kLineRate, raw > 0 ? rate / raw : 0.0, r.Total);
}

}  // namespace

int main() {
    kltest::TXferPeer peer;
    if (!peer.Init()) {
        std::printf("no xfer pair: run through make bench (KL_SERIAL_PAIRS)\n");
        return 1;
    }
    WNDCLASSW wc = {};
    wc.lpfnWndProc = OwnerProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KlBenchFileSend";
    RegisterClassW(&wc);
    g_owner = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              nullptr, nullptr);

    const std::string dir = peer.NewDir("bench");
    std::string content(size_t(kSize), '\0');
    uint32_t seed = 7;
    for (auto& c : content) c = char((seed = seed * 1103515245u + 12345u) >> 16);
    const std::wstring file = kltest::WinPath(dir + "/image.bin");
    kltest::WriteFileBytes(file, content);

    std::string device;
    {
        std::istringstream lines(
            kltest::ReadFileBytes(kltest::WinPath(std::getenv("KL_SERIAL_PAIRS"))));
        std::string role, app, dev;
        while (lines >> role >> app >> dev)
            if (role == "xfer") device = dev;
    }
    const TRun raw = Raw(file, peer.Port(), std::u16string(device.begin(), device.end()));
    const TRun x1k = Protocol(peer, file, TSendProtocol::Xmodem1k, "rx -b -q -c out.bin", dir, 1);
    CreateDirectoryW(kltest::WinPath(dir + "/y").c_str(), nullptr);
    const TRun y = Protocol(peer, file, TSendProtocol::Ymodem, "rb -b -q", dir + "/y", 2);
    std::printf(
        "File send, %lld bytes over a pty pair set to 115200 baud (a pty has no baud\n"
        "rate: the line rate of 11,520 bytes/s is what a real line would carry)\n",
        static_cast<long long>(kSize));
    Report("raw send", raw, kSize / raw.Data);
    Report("XMODEM-1K to rx", x1k, raw.Ok ? kSize / raw.Data : 0);
    Report("YMODEM to rb", y, raw.Ok ? kSize / raw.Data : 0);
    return raw.Ok && x1k.Ok && y.Ok ? 0 : 1;
}
