// Sending a file from the terminal window to a loopback peer: a drop opens
// the Send file dialog with the names and sizes; the protocol decides which
// fields can be used, bad delays are named, the choices are kept for the
// connection; the status line follows the transfer and names its end; Esc
// cancels; typed lines and a break wait while the line is the transfer's.
#include <windows.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "dialog_driver.h"
#include "dialogs/uSendFileDlg.h"
#include "drop_files.h"
#include "gui.h"
#include "loopback_peer.h"
#include "term_fixture.h"
#include "termwnd/uTermSendFile.h"

using namespace kltest;
using namespace kltest::loopback;

namespace {

std::wstring Status(TTermFixture& f) { return TextOf(f.Control(kIdStatus)); }
bool Has(const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
}

}  // namespace

TEST(SendFile, DropDialogProgressEndAndEsc) {
    SetSendFileDialog(ShowSendFileDialog);
    TInbox inbox;
    TPeer peer([&](SOCKET s) { Collect(s, inbox); });
    TTermFixture f;
    TTempDir dir;
    std::string content;
    for (int i = 0; i < 300; ++i) content += "line " + std::to_string(i) + "\r\n";
    const std::wstring small = dir.File(L"fw.bin"), second = dir.File(L"b.bin");
    WriteFileBytes(small, content);
    WriteFileBytes(second, "xyz");
    f.Term().OpenSession(1, u"lb", u"lb", TConnInfo{u"lb", u"127.0.0.1", int32_t(peer.Port()), 0},
                         1);
    ASSERT_TRUE(PumpUntil([&] { return f.Term().Connected(); }, 5000));
    for (auto [key, value] : {std::pair{L"SendProtocol", L"9"},
                              {L"SendCharDelay", L"-5"},
                              {L"SendLineDelay", L"99999"}})
        WritePrivateProfileStringW(L"Conn:lb", key, value, f.Ini().c_str());

    // Two files dropped: both listed with the total, the batch protocol
    // offered; XMODEM is refused for them, a bad delay is named; Cancel sends nothing.
    {
        TDialogScript script([&] {
            HWND d = WaitForWindow(kSendFileDlgClass, 5000);
            ASSERT_NE(d, nullptr);
            EXPECT_EQ(TextOf(d), L"Send file");
            EXPECT_EQ(GetWindow(d, GW_OWNER), f.Lister()) << "modal over the lister";
            HWND list = GetDlgItem(d, kIdSendFileList);
            EXPECT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 2);
            EXPECT_TRUE(Has(TextOf(GetDlgItem(d, kIdSendFileSize)), L"2 files, 2,893 bytes in all"))
                << TextOf(GetDlgItem(d, kIdSendFileSize));
            HWND protocol = GetDlgItem(d, kIdSendProtocol);
            EXPECT_EQ(SendMessageW(protocol, CB_GETCOUNT, 0, 0), 4);
            EXPECT_EQ(SendMessageW(protocol, CB_GETCURSEL, 0, 0), 0) << "unknown protocol: raw";
            EXPECT_EQ(TextOf(GetDlgItem(d, kIdSendCharDelay)), L"0") << "clamped when read";
            EXPECT_EQ(TextOf(GetDlgItem(d, kIdSendLineDelay)), L"10000");
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, kIdSendCharDelay)));
            SelectIndex(protocol, 1);
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, kIdSendCharDelay)));
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, kIdSendLineDelay)));
            TMessageBoxSeen box;
            Click(GetDlgItem(d, IDOK));
            ASSERT_TRUE(AnswerMessageBox(box, IDOK));
            EXPECT_TRUE(Has(box.Text, L"YMODEM")) << box.Text;
            SelectIndex(protocol, 0);
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, kIdSendLineDelay)));
            SetTextOf(GetDlgItem(d, kIdSendLineDelay), L"10001");
            Click(GetDlgItem(d, IDOK));
            ASSERT_TRUE(AnswerMessageBox(box, IDOK));
            EXPECT_TRUE(Has(box.Text, L"0 to 10000 ms")) << box.Text;
            Click(GetDlgItem(d, IDCANCEL));
        });
        SendMessageW(f.Main(), WM_DROPFILES, WPARAM(MakeDrop({small, second})), 0);
    }
    EXPECT_FALSE(f.Term().FileSendRunning());
    EXPECT_EQ(IniValue(f.Ini(), L"Conn:lb", L"SendProtocol"), L"9") << "Cancel stores nothing";

    // One file, raw, paced: progress in the status line, typing and a break
    // wait, Esc cancels; the choices are stored for the connection.
    {
        TDialogScript script([&] {
            HWND d = WaitForWindow(kSendFileDlgClass, 5000);
            ASSERT_NE(d, nullptr);
            EXPECT_TRUE(Has(TextOf(GetDlgItem(d, kIdSendFileSize)), L"2,890 bytes"));
            SetTextOf(GetDlgItem(d, kIdSendCharDelay), L"5");
            SetTextOf(GetDlgItem(d, kIdSendLineDelay), L"20");
            Click(GetDlgItem(d, IDOK));
        });
        SendMessageW(f.Main(), WM_DROPFILES, WPARAM(MakeDrop({small})), 0);
    }
    EXPECT_EQ(IniValue(f.Ini(), L"Conn:lb", L"SendProtocol"), L"0");
    EXPECT_EQ(IniValue(f.Ini(), L"Conn:lb", L"SendCharDelay"), L"5");
    EXPECT_EQ(IniValue(f.Ini(), L"Conn:lb", L"SendLineDelay"), L"20");
    ASSERT_TRUE(f.Term().FileSendRunning());
    ASSERT_TRUE(PumpUntil(
        [&] { return Has(Status(f), L"fw.bin: ") && Has(Status(f), L" of 2,890 bytes), Raw"); },
        5000))
        << Status(f);
    SendMessageW(f.Control(kIdEdit), WM_SETTEXT, 0, LPARAM(L"typed"));
    SendMessageW(f.Main(), WM_COMMAND, kIdSend, 0);
    EXPECT_TRUE(Has(Status(f), L"a file is being sent")) << Status(f);
    EXPECT_EQ(TextOf(f.Control(kIdEdit)), L"typed") << "kept for later";
    HMENU menu = f.Term().BuildContextMenu();
    EXPECT_TRUE(GetMenuState(menu, kCmdSendFile, MF_BYCOMMAND) & MF_GRAYED) << "one at a time";
    DestroyMenu(menu);
    TypeKey(f.Control(kIdEdit), VK_ESCAPE);
    ASSERT_TRUE(PumpUntil([&] { return Has(Status(f), L"fw.bin: cancelled"); }, 5000)) << Status(f);
    const size_t partial = inbox.Size();
    EXPECT_GT(partial, 0u);
    EXPECT_LT(partial, content.size()) << "stopped part-way";

    // Unpaced to the end: every byte arrives, the Tx counter counts them.
    {
        TDialogScript script([&] {
            HWND d = WaitForWindow(kSendFileDlgClass, 5000);
            ASSERT_NE(d, nullptr);
            EXPECT_EQ(TextOf(GetDlgItem(d, kIdSendCharDelay)), L"5") << "remembered";
            SetTextOf(GetDlgItem(d, kIdSendCharDelay), L"0");
            SetTextOf(GetDlgItem(d, kIdSendLineDelay), L"0");
            Click(GetDlgItem(d, IDOK));
        });
        SendMessageW(f.Main(), WM_DROPFILES, WPARAM(MakeDrop({small})), 0);
    }
    ASSERT_TRUE(PumpUntil([&] { return Has(Status(f), L"fw.bin: sent, Raw"); }, 10000))
        << Status(f);
    ASSERT_TRUE(PumpUntil([&] { return inbox.Size() == partial + content.size(); }, 5000));
    {
        std::lock_guard<std::mutex> g(inbox.Lock);
        EXPECT_EQ(inbox.Bytes.substr(partial), content);
    }
    ASSERT_TRUE(PumpUntil(
        [&] {
            return Has(TextOf(f.Control(kIdCounters)), L"Tx: " + std::to_wstring(inbox.Size()));
        },
        2000))
        << TextOf(f.Control(kIdCounters));
    f.Term().ToggleConnection();
    peer.Join();
}
