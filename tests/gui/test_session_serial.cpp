// A lister terminal on a serial port (a socat pty pair of the serial
// fixture): connected at once with its parameters, bytes both ways through
// the device end and into the raw log, a second terminal on the same port
// refused in its status line, and Quick View waiting for Connect.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "gui.h"
#include "lister_fixture.h"
#include "terminal/uSendText.h"
#include "termwnd/uTermWnd.h"

using namespace kltest;

namespace {

// The app-side and device-side COM names of the fixture's "general" pair.
bool GeneralPair(std::wstring& app, std::wstring& device) {
    const char* file = std::getenv("KL_SERIAL_PAIRS");
    if (!file) return false;
    std::istringstream lines(ReadFileBytes(WinPath(file)));
    std::string role, a, d;
    while (lines >> role >> a >> d)
        if (role == "general") {
            app.assign(a.begin(), a.end());
            device.assign(d.begin(), d.end());
            return true;
        }
    return false;
}

// The device's end of the cable, read and written synchronously.
struct TDevice {
    HANDLE h;
    explicit TDevice(const std::wstring& port) {
        h = CreateFileW((L"\\\\.\\" + port).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                        OPEN_EXISTING, 0, nullptr);
        COMMTIMEOUTS t = {};
        t.ReadIntervalTimeout = 50;
        t.ReadTotalTimeoutConstant = 2000;
        t.WriteTotalTimeoutConstant = 2000;
        SetCommTimeouts(h, &t);
        PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
    }
    ~TDevice() { CloseHandle(h); }
    void Write(const std::string& s) {
        DWORD put = 0;
        WriteFile(h, s.data(), DWORD(s.size()), &put, nullptr);
    }
    std::string Read(size_t n) {
        std::string got;
        char buf[256];
        for (int tries = 0; got.size() < n && tries < 5; ++tries) {
            DWORD k = 0;
            if (!ReadFile(h, buf, sizeof buf, &k, nullptr)) break;
            got.append(buf, k);
        }
        return got;
    }
};

bool Has(const std::u16string& text, const std::u16string& part) {
    return text.find(part) != std::u16string::npos;
}

}  // namespace

TEST(SessionSerial, ListerPortConnectsAtOnceAndQuickViewWaits) {
    std::wstring app, dev;
    ASSERT_TRUE(GeneralPair(app, dev)) << "run through ctest: the serial fixture makes the ports";
    TDevice device(dev);
    ASSERT_NE(device.h, INVALID_HANDLE_VALUE);
    TListerHost host("[Plugin]\r\nLogFormat=1\r\n[Port:" + std::string(app.begin(), app.end()) +
                     "]\r\nAutoReconnect=1\r\nLog=1\r\n");

    HWND t = host.Load(host.NewParent(true), app);
    ASSERT_NE(t, nullptr);
    // The port opens off the window's thread: "connecting" until it is up.
    EXPECT_EQ(CaptionOf(t), L"Disconnect");
    EXPECT_TRUE(WaitForStatus(t, app + L" - connected (115200 8N1)")) << StatusOf(t).c_str();
    device.Write("from device\r\n");
    EXPECT_TRUE(PumpUntil([&] { return Has(ModelText(t), u"from device"); }, 5000));
    SendLine(t, L"ping");
    EXPECT_EQ(device.Read(6), "ping\r\n");
    EXPECT_TRUE(PumpUntil([&] { return CountersOf(t) == L"Rx: 13   Tx: 6"; }, 2000))
        << testing::PrintToString(CountersOf(t));
    // Every byte value reaches the device as it was written, as hex and as \xHH.
    std::wstring hex, escaped;
    std::string all;
    for (int b = 0; b < 256; ++b) {
        wchar_t pair[3];
        swprintf(pair, 3, L"%02x", b);
        hex += pair;
        escaped += L"\\x" + std::wstring(pair);
        all.push_back(char(b));
    }
    Choose(t, kIdSendMode, kSendHex);
    SendLine(t, hex);
    EXPECT_EQ(device.Read(256), all);
    Choose(t, kIdSendMode, kSendEscapes);
    SendLine(t, escaped);
    EXPECT_EQ(device.Read(258), all + "\r\n");

    HWND second = host.Load(host.NewParent(true), app);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(StatusOf(second).rfind(app + L" - ", 0), 0u);
    EXPECT_EQ(StatusOf(second).find(L"connected"), std::wstring::npos)
        << "the port is in use: " << testing::PrintToString(StatusOf(second));
    EXPECT_EQ(CaptionOf(second), L"Connect");
    EXPECT_FALSE(Has(ModelText(second), u"from device")) << "shown elsewhere: a fresh session";
    host.Close(second);
    host.Close(t);
    // The raw log, in "logs" beside the settings file: what the device sent,
    // from the one terminal that had the port.
    const std::wstring logs = host.Ini().substr(0, host.Ini().rfind(L'\\')) + L"\\logs\\";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((logs + app + L"_*.bin").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    const std::wstring name = found.cFileName;
    EXPECT_FALSE(FindNextFileW(search, &found)) << "one file";
    FindClose(search);
    EXPECT_EQ(ReadFileBytes(logs + name), "from device\r\n");

    HWND q = host.Load(host.NewParent(false), app);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(StatusOf(q), app + L" - disconnected (click Connect)");
    PumpFor(1300);
    EXPECT_EQ(CaptionOf(q), L"Connect") << "no auto-reconnect before the user connects";
    EXPECT_TRUE(Has(ModelText(q), u"from device")) << "the kept session, free again";
    host.Close(q);
}
