// A hundred lister terminals opened on a live connection and closed again
// through the exports leave no thread, handle, window or GDI object behind.
#include <windows.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "dialog_extra.h"
#include "gui.h"
#include "lister_fixture.h"
#include "loopback_peer.h"

using namespace kltest;
using namespace kltest::loopback;

namespace {

int ThreadCount() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 te = {};
    te.dwSize = sizeof te;
    int n = 0;
    for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
        if (te.th32OwnerProcessID == GetCurrentProcessId()) ++n;
    CloseHandle(snap);
    return n;
}

DWORD HandleCount() {
    DWORD n = 0;
    GetProcessHandleCount(GetCurrentProcess(), &n);
    return n;
}

}  // namespace

TEST(ListerLeaks, HundredOpenCloseCyclesOnALiveConnection) {
    TRepeatPeer peer([](SOCKET s, int) {
        SendText(s, "\x1b[32mgreen\x1b[0m\r\n");
        char buf[256];
        while (recv(s, buf, sizeof buf, 0) > 0) {
        }
    });
    TListerHost host("[Conn:leak]\r\nHost=127.0.0.1\r\nPort=" + std::to_string(peer.Port()) +
                     "\r\nMode=1\r\nHistoryOn=0\r\n");
    HWND parent = host.NewParent(true);
    const std::wstring file = host.Descriptor(L"TCP - leak");
    auto cycle = [&] {
        HWND t = host.LoadFile(parent, file);
        ASSERT_NE(t, nullptr);
        ASSERT_TRUE(WaitForStatus(t, L"- connected")) << testing::PrintToString(StatusOf(t));
        host.Close(t);
        ASSERT_FALSE(IsWindow(t));
    };
    for (int i = 0; i < 3; ++i) cycle();  // classes, catalogs, sockets warm up
    PumpFor(100);
    const int threads = ThreadCount();
    const DWORD handles = HandleCount();
    const int windows = ThreadWindowCount(GetCurrentThreadId());
    const int gdi = FreeGdiSlots();
    for (int i = 0; i < 100; ++i) {
        cycle();
        if (HasFatalFailure()) return;
    }
    PumpFor(300);  // the peer's side of the last connection ends
    std::printf(
        "[ info ] threads %d -> %d, handles %lu -> %lu, windows %d -> %d, free GDI %d -> %d\n",
        threads, ThreadCount(), handles, HandleCount(), windows,
        ThreadWindowCount(GetCurrentThreadId()), gdi, FreeGdiSlots());
    EXPECT_LE(ThreadCount(), threads + 1) << "a worker per cycle would show as 100";
    EXPECT_LE(HandleCount(), handles + 20) << "a handle per cycle would show as 100";
    EXPECT_EQ(ThreadWindowCount(GetCurrentThreadId()), windows);
    EXPECT_GE(FreeGdiSlots(), gdi - 20) << "an object per cycle would show as 100";
    EXPECT_EQ(peer.Accepted(), 103);
}
