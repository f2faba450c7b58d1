// Pictures of live sessions for `make screens`, opened through the DLL's
// ListLoadW inside a "TLister" window: a TCP session fed coloured lines by a
// loopback peer, after a line was sent with local echo; and a serial session
// with its lamps lit. The screens run has no serial ports, so the serial
// session's port lines, status text and button caption are set through the window's
// seams, as a live port would show them.
#include <windows.h>

#include "gui.h"
#include "lister_fixture.h"
#include "loopback_peer.h"
#include "termwnd/uTermWndTesting.h"

using namespace kltest;
using namespace kltest::loopback;

namespace {

const char kLog[] =
    "\x1b[1mlab-router\x1b[0m login: admin\r\n"
    "Last login: Wed May  1 12:00:03 from 10.0.0.2\r\n"
    "[ \x1b[32m OK \x1b[0m ] link eth0 up, 1000 Mb/s full duplex\r\n"
    "[ \x1b[33mWARN\x1b[0m ] fan 2 at 4200 rpm (limit 4000)\r\n"
    "[ \x1b[1;31mFAIL\x1b[0m ] ntp: no answer from 10.0.0.1\r\n"
    "\x1b[36mcpu\x1b[0m=12% \x1b[35mmem\x1b[0m=41% \x1b[34mtemp\x1b[0m=48.5C\r\n"
    "router> ";

HWND Sized(TListerHost& host, const std::wstring& entry) {
    HWND parent = host.NewParent(true);
    RECT r = {0, 0, Scaled(780), Scaled(440)};
    AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
    SetWindowPos(parent, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOZORDER);
    HWND t = host.Load(parent, entry);
    if (t) MoveWindow(t, 0, 0, Scaled(780), Scaled(440), TRUE);
    return t;
}

}  // namespace

int main() {
    TPeer peer([](SOCKET s) {
        SendText(s, kLog);
        char buf[256];
        while (recv(s, buf, sizeof buf, 0) > 0)
            SendText(s, "\r\n\x1b[32muptime 12 days\x1b[0m\r\nrouter> ");
    });
    TListerHost host(
        "[Conn:lab-router]\r\nHost=127.0.0.1\r\nPort=" + std::to_string(peer.Port()) +
        "\r\nMode=0\r\nLocalEcho=1\r\n[Port:COM3]\r\nConnectOnOpen=0\r\nBaud=9600\r\n");
    HWND t = Sized(host, L"TCP - lab-router");
    if (!t || !WaitForStatus(t, L"- connected")) return 1;
    PumpUntil([&] { return ModelText(t).find(u"router> ") != std::u16string::npos; }, 5000);
    SendLine(t, L"uptime");
    PumpUntil([&] { return ModelText(t).find(u"12 days") != std::u16string::npos; }, 5000);
    PumpFor(400);  // counters shown by the 250 ms timer
    SaveWindowImage(GetParent(t), "session_tcp");
    host.Close(t);

    HWND s = Sized(host, L"COM3");
    if (!s) return 1;
    TTermWindow* term = TTermWindow::FromWindow(s);
    KillTimer(s, kTimerLines);  // no port here: the poll would put the lamps out again
    term->Model().Feed("AT+GMR\r\nfirmware 2.4.1\r\nOK\r\n", 29);
    term->ShowNewOutput();
    term->SetStatus(u"COM3 - connected (9600 8N1)");
    SetWindowTextW(term->Control(kIdConnect), L"Disconnect");
    TTermWindowTestAccess::ShowModemStatus(*term, MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);
    PumpFor(200);
    SaveWindowImage(GetParent(s), "session_serial");
    host.Close(s);
    peer.Join();
    return 0;
}
