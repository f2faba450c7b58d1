// Live TCP sessions through the DLL's lister exports, against loopback peers
// this program runs: what the user reads (status, caption, counters, output)
// and what reaches the peer (encodings, line endings, the long-line cut), the
// backend's messages after a reconnect, automatic reconnection, telnet, Quick
// View, kept sessions and the manage entry's placeholder.
#include <windows.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "gui.h"
#include "lister_fixture.h"
#include "loopback_peer.h"
#include "term_fixture.h"
#include "terminal/uSendText.h"
#include "termwnd/uTermWnd.h"

using namespace kltest;
using namespace kltest::loopback;

namespace {

std::string WaitForBytes(TInbox& inbox, size_t n, DWORD timeoutMs = 5000) {
    std::string got;
    PumpUntil(
        [&] {
            got += inbox.Take();
            return got.size() >= n;
        },
        timeoutMs);
    return got;
}

std::string ConnIni(const char* name, uint16_t port, int mode, const std::string& extra = "") {
    return std::string("[Conn:") + name + "]\r\nHost=127.0.0.1\r\nPort=" + std::to_string(port) +
           "\r\nMode=" + std::to_string(mode) + "\r\n" + extra;
}

bool Contains(const std::u16string& text, const std::u16string& part) {
    return text.find(part) != std::u16string::npos;
}

double MsSince(LARGE_INTEGER start) {
    LARGE_INTEGER f, now;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&now);
    return double(now.QuadPart - start.QuadPart) * 1000.0 / double(f.QuadPart);
}

LARGE_INTEGER Tick() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t;
}

}  // namespace

TEST(Session, RawTcpThroughTheListerSendsEncodingsAndEndings) {
    TInbox inbox;
    TPeer peer([&](SOCKET s) {
        SendText(s, "hello\r\n");
        Collect(s, inbox);
    });
    TListerHost host(ConnIni("raw", peer.Port(), 0,
                             "LocalEcho=1\r\nCmd1=01 ff\r\nCmd1Mode=2\r\nCmd3=a&b\r\n"
                             "Cmd4=r\r\nCmd4Repeat=150\r\n"));
    HWND t = host.Load(host.NewParent(true), L"TCP - raw");
    ASSERT_NE(t, nullptr);
    EXPECT_NE(StatusOf(t).find(L"connecting\x2026"), std::wstring::npos)
        << "before the connect completes";
    ASSERT_TRUE(WaitForStatus(t, L"(127.0.0.1:" + std::to_wstring(peer.Port()) + L") - connected"));
    EXPECT_EQ(CaptionOf(t), L"Disconnect");
    ASSERT_TRUE(PumpUntil([&] { return Contains(ModelText(t), u"hello"); }, 5000));

    SendLine(t, L"\x00E9");  // UTF-8 by default, CR LF by default
    EXPECT_EQ(WaitForBytes(inbox, 4), "\xC3\xA9\r\n");
    EXPECT_TRUE(Contains(ModelText(t), u"hello\n\x00E9")) << "echoed locally";
    EXPECT_EQ(TextOf(FindById(t, kIdEdit)), L"") << "the edit line empties after a send";

    Choose(t, kIdEncoding, 1);
    SendLine(t, L"\x00E9\x20AC\x0100");
    EXPECT_EQ(WaitForBytes(inbox, 5), "\xE9\x80?\r\n") << "CP1252, with the euro sign's own byte";
    Choose(t, kIdEncoding, 2);
    SendLine(t, L"\x00E9-\xD83D\xDE00");
    EXPECT_EQ(WaitForBytes(inbox, 5), "?-?\r\n") << "ASCII; a pair is one character";

    Choose(t, kIdTxNewline, 0);
    SendLine(t, L"");
    Choose(t, kIdTxNewline, 2);
    SendLine(t, L"lf");
    EXPECT_EQ(WaitForBytes(inbox, 3), "lf\n") << "no ending sends nothing for an empty line";
    EXPECT_TRUE(Contains(ModelText(t), u"lf\n")) << "the echo ends its line even for LF";

    Choose(t, kIdTxNewline, 3);
    SendLine(t, std::wstring(5000, L'a'));
    EXPECT_EQ(WaitForBytes(inbox, 4097), std::string(4095, 'a') + "\r\n") << "cut at 4095";
    TypeKey(FindById(t, kIdEdit), VK_UP);
    EXPECT_EQ(TextOf(FindById(t, kIdEdit)).size(), 4095u) << "stored in the history as sent";
    Choose(t, kIdEncoding, 0);
    SendLine(t, std::wstring(4094, L'b') + L"\xD83D\xDE00");
    EXPECT_EQ(WaitForBytes(inbox, 4096), std::string(4094, 'b') + "\r\n")
        << "the cut never sends half a character";
    ASSERT_TRUE(PumpUntil([&] { return CountersOf(t) == L"Rx: 7   Tx: 8210"; }, 2000))
        << "counters: " << testing::PrintToString(CountersOf(t));

    HMENU menu = TTermWindow::FromWindow(t)->BuildContextMenu();
    EXPECT_TRUE(GetMenuState(menu, kCmdSendBreak, MF_BYCOMMAND) & MF_GRAYED) << "raw TCP: no break";
    DestroyMenu(menu);
    TTermWindow::FromWindow(t)->RunMenuCommand(kCmdSendBreak);

    // Every byte value goes out exactly as hex and as \xHH; only text lines
    // take the line ending. A malformed line sends nothing and points at the fault.
    std::wstring hex, escaped;
    std::string all;
    for (int b = 0; b < 256; ++b) {
        wchar_t pair[3];
        swprintf(pair, 3, L"%02x", b);
        hex += std::wstring(pair) + L" ";
        escaped += L"\\x" + std::wstring(pair);
        all.push_back(char(b));
    }
    Choose(t, kIdSendMode, kSendHex);
    SendLine(t, hex);
    EXPECT_EQ(WaitForBytes(inbox, 256), all);
    Choose(t, kIdSendMode, kSendEscapes);
    SendLine(t, escaped);
    EXPECT_EQ(WaitForBytes(inbox, 258), all + "\r\n");
    SendLine(t, L"ok\\q");
    EXPECT_EQ(WaitForBytes(inbox, 1, 300), "") << "a malformed line sends nothing";
    DWORD from = 0, to = 0;
    SendMessageW(FindById(t, kIdEdit), EM_GETSEL, WPARAM(&from), LPARAM(&to));
    EXPECT_EQ(TextOf(FindById(t, kIdEdit)), L"ok\\q");
    EXPECT_TRUE(from == 2 && to == 4) << from << ".." << to;
    EXPECT_NE(StatusOf(t).find(L"invalid escape at character 3"), std::wstring::npos);
    TypeKey(FindById(t, kIdEdit), VK_UP);
    TypeKey(FindById(t, kIdEdit), VK_UP);
    EXPECT_EQ(TextOf(FindById(t, kIdEdit)), hex);
    EXPECT_EQ(SendMessageW(FindById(t, kIdSendMode), CB_GETCURSEL, 0, 0), kSendHex)
        << "a history line comes back in its own mode";
    // Stored commands: Alt+1 sends command 1 in its own mode; the menu lists them.
    PostMessageW(FindById(t, kIdEdit), WM_SYSKEYDOWN, '1', 1 | (1 << 29));
    EXPECT_EQ(WaitForBytes(inbox, 2), "\x01\xFF");
    menu = TTermWindow::FromWindow(t)->BuildContextMenu();
    wchar_t item[64] = {};
    GetMenuStringW(menu, kCmdSendCommand + 2, item, 64, MF_BYCOMMAND);
    EXPECT_EQ(std::wstring(item), L"a&&b\tAlt+3");
    EXPECT_EQ(GetMenuStringW(menu, kCmdSendCommand + 1, item, 64, MF_BYCOMMAND), 0);
    DestroyMenu(menu);
    TTermWindow::FromWindow(t)->RunMenuCommand(kCmdSendCommand + 2);
    EXPECT_EQ(WaitForBytes(inbox, 5), "a&b\r\n");
    PostMessageW(FindById(t, kIdEdit), WM_SYSKEYDOWN, '4', 1 | (1 << 29));
    EXPECT_EQ(WaitForBytes(inbox, 9).substr(0, 9), "r\r\nr\r\nr\r\n") << "repeats until stopped";
    EXPECT_NE(StatusOf(t).find(L"repeating Cmd 4 every 150 ms"), std::wstring::npos);
    TypeKey(FindById(t, kIdEdit), VK_ESCAPE);
    EXPECT_EQ(TTermWindow::FromWindow(t)->RepeatingCommand(), -1);
    PumpFor(100);  // what was already queued arrives
    inbox.Take();
    EXPECT_EQ(WaitForBytes(inbox, 1, 500), "") << "nothing after Esc";

    // Messages of an earlier connection are ignored.
    const uint32_t number = TTermWindow::FromWindow(t)->ConnectionNumber();
    PostMessageW(t, WM_APP + 2, number - 1, 10054);
    PostMessageW(t, WM_APP + 1, number + 1, 0);
    PumpFor(100);
    EXPECT_EQ(CaptionOf(t), L"Disconnect");
    EXPECT_EQ(StatusOf(t).find(L"disconnected"), std::wstring::npos) << StatusOf(t);

    const LARGE_INTEGER start = Tick();
    host.Close(t);
    const double closeMs = MsSince(start);
    std::printf("[ info ] ListCloseWindow of a live session: %.1f ms\n", closeMs);
    EXPECT_LT(closeMs, 1500.0) << "window close must not wait on a silent peer";
    EXPECT_FALSE(IsWindow(t));
    peer.Join();
}

TEST(Session, ReconnectsAfterThePeerClosesButNotAfterDisconnect) {
    TRepeatPeer peer([](SOCKET s, int i) {
        if (i == 0) {
            SendText(s, "one\r\n");
            return;  // closed by the peer
        }
        SendText(s, "two\r\n");
        char buf[256];
        while (recv(s, buf, sizeof buf, 0) > 0) {
        }
    });
    TListerHost host(ConnIni("back", peer.Port(), 0, "AutoReconnect=1\r\n"));
    HWND t = host.Load(host.NewParent(true), L"TCP - back");
    ASSERT_NE(t, nullptr);
    ASSERT_TRUE(WaitForStatus(t, L"disconnected (Server closed the connection)"));
    EXPECT_EQ(CaptionOf(t), L"Connect");
    EXPECT_TRUE(Contains(ModelText(t), u"one")) << "bytes before the close are shown";
    ASSERT_TRUE(PumpUntil([&] { return Contains(ModelText(t), u"two"); }, 4000))
        << "reconnected within about a second";
    EXPECT_TRUE(WaitForStatus(t, L"- connected"));
    EXPECT_EQ(peer.Accepted(), 2);

    const LARGE_INTEGER start = Tick();
    SendMessageW(FindById(t, kIdConnect), BM_CLICK, 0, 0);
    const double disconnectMs = MsSince(start);
    std::printf("[ info ] Disconnect of a live session: %.1f ms\n", disconnectMs);
    EXPECT_LT(disconnectMs, 1500.0);
    EXPECT_NE(StatusOf(t).find(L"- disconnected"), std::wstring::npos);
    EXPECT_EQ(CaptionOf(t), L"Connect");
    PumpFor(2500);
    EXPECT_EQ(peer.Accepted(), 2) << "no reconnection after the user disconnected";

    SendMessageW(FindById(t, kIdConnect), BM_CLICK, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return peer.Accepted() == 3; }, 4000));
    EXPECT_TRUE(WaitForStatus(t, L"- connected"));
    host.Close(t);
}

TEST(Session, TelnetNegotiatesOrOnlyFilters) {
    const std::string greeting = "\xFF\xFB\x01\xFF\xFD\x18login: ";  // WILL ECHO, DO TTYPE
    TInbox negotiated, filtered;
    TPeer telnet([&](SOCKET s) {
        SendText(s, greeting);
        Collect(s, negotiated);
    });
    TPeer filter([&](SOCKET s) {
        SendText(s, greeting);
        Collect(s, filtered);
    });
    TListerHost host(ConnIni("tn", telnet.Port(), 1, "LocalEcho=1\r\n") +
                     ConnIni("tf", filter.Port(), 2, "LocalEcho=1\r\n"));
    HWND a = host.Load(host.NewParent(true), L"TCP - tn");
    HWND b = host.Load(host.NewParent(true), L"TCP - tf");
    ASSERT_TRUE(a && b);
    ASSERT_TRUE(PumpUntil(
        [&] { return Contains(ModelText(a), u"login: ") && Contains(ModelText(b), u"login: "); },
        5000));
    EXPECT_EQ(ModelText(a).find(u'\xFF'), std::u16string::npos) << "no telnet bytes shown";
    const std::string replies = WaitForBytes(negotiated, 3);
    EXPECT_NE(replies.find("\xFF\xFD\x01"), std::string::npos) << "DO ECHO answered";
    SendLine(a, L"user");
    SendLine(b, L"user");
    PumpFor(300);
    EXPECT_FALSE(Contains(ModelText(a), u"user")) << "the server echoes: no local echo";
    EXPECT_TRUE(Contains(ModelText(b), u"user")) << "filter only: local echo stays";
    EXPECT_EQ(filtered.Take(), "user\r\n") << "filter only answers nothing";
    // A break: IAC BRK on telnet, greyed and ignored where the line has none.
    TTermWindow& ta = *TTermWindow::FromWindow(a);
    HMENU menu = ta.BuildContextMenu();
    EXPECT_EQ(GetMenuState(menu, kCmdSendBreak, MF_BYCOMMAND) & MF_GRAYED, 0u);
    DestroyMenu(menu);
    ta.RunMenuCommand(kCmdSendBreak);
    std::string got;
    EXPECT_TRUE(PumpUntil(
        [&] { return (got += negotiated.Take()).find("\xFF\xF3") != std::string::npos; }, 3000));
    host.Close(a);
    host.Close(b);
}

TEST(Session, QuickViewWaitsKeptSessionsReturnAndTheManageEntryIsEmpty) {
    TRepeatPeer peer([](SOCKET s, int) {
        SendText(s, "kept\r\n");
        char buf[256];
        while (recv(s, buf, sizeof buf, 0) > 0) {
        }
    });
    TListerHost host(ConnIni("qv", peer.Port(), 0, "AutoReconnect=1\r\n"));
    HWND q = host.Load(host.NewParent(false), L"TCP - qv");
    ASSERT_NE(q, nullptr);
    EXPECT_NE(StatusOf(q).find(L") - disconnected (click Connect)"), std::wstring::npos)
        << testing::PrintToString(StatusOf(q));
    PumpFor(1500);
    EXPECT_EQ(peer.Accepted(), 0) << "Quick View waits for Connect, auto-reconnect or not";
    SendMessageW(FindById(q, kIdConnect), BM_CLICK, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return Contains(ModelText(q), u"kept"); }, 5000));
    SendLine(q, L"sent once");
    host.Close(q);

    HWND l = host.Load(host.NewParent(true), L"TCP - qv");
    ASSERT_NE(l, nullptr);
    EXPECT_TRUE(Contains(ModelText(l), u"kept")) << "the kept output is shown again";
    TypeKey(FindById(l, kIdEdit), VK_UP);
    EXPECT_EQ(TextOf(FindById(l, kIdEdit)), L"sent once") << "with its send history";
    HWND second = host.Load(host.NewParent(true), L"TCP - qv");
    ASSERT_NE(second, nullptr);
    PumpFor(300);
    EXPECT_FALSE(Contains(ModelText(second), u"kept"))
        << "a second window on a shown session starts empty";
    host.Close(second);
    host.Close(l);

    HWND parent = host.NewParent(true);
    HWND manage = host.Load(parent, L"[ Manage connections\x2026 ]");
    ASSERT_NE(manage, nullptr);
    EXPECT_EQ(ClassOf(manage), L"Static");
    EXPECT_NE(GetPropW(manage, L"KestrelinkEmptyPreview"), nullptr);
    RECT pc, mc;
    GetClientRect(parent, &pc);
    GetClientRect(manage, &mc);
    EXPECT_EQ(mc.right, pc.right);
    host.Close(manage);
    EXPECT_FALSE(IsWindow(manage));

    const std::wstring junk = host.Descriptor(L"TCP - qv") + L".junk";
    WriteFileBytes(junk, "KESTRELINK1\r\nkind=7\r\n");
    EXPECT_EQ(host.LoadFile(parent, junk), nullptr) << "not a descriptor: declined";
    EXPECT_EQ(host.LoadFile(parent, junk + L".missing"), nullptr);
    host.Close(nullptr);  // ignored
}
