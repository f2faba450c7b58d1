// The host's "open" and "properties" commands through FsExecuteFileW of a
// private copy of the DLL, with a host main window that records the refresh
// requests the plugin posts.
#include <windows.h>

#include <string>

#include "dialog_driver.h"
#include "dialog_extra.h"
#include "dialogs/uConnDlg.h"
#include "dialogs/uPropDlg.h"
#include "gui.h"
#include "lister_fixture.h"
#include "loopback_peer.h"
#include "plugin/uExecute.h"

using namespace kltest;

namespace {

using TExec = int(__stdcall*)(HWND, WCHAR*, WCHAR*);

// The terminal's own IDs (its header and the dialog's share names).
constexpr wchar_t kTerminalClass[] = L"KestrelinkWindow";
constexpr int kTerminalReconnect = 126;

bool Checked(HWND parent, int id) {
    return SendMessageW(FindById(parent, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

int g_refreshes = 0;
LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kHostRefreshMessage && wp == kHostRefreshCommand) ++g_refreshes;
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// The file manager's main window: counts refresh requests.
struct TMainWindow {
    TMainWindow() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = HostProc;
        wc.lpszClassName = L"KlTestMainWindow";
        RegisterClassW(&wc);
        Hwnd = CreateWindowExW(0, wc.lpszClassName, L"Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50,
                               50, 700, 500, nullptr, nullptr, nullptr, nullptr);
    }
    ~TMainWindow() { DestroyWindow(Hwnd); }
    HWND Hwnd;
};

class Execute : public ::testing::Test {
protected:
    int Exec(const std::wstring& name, const std::wstring& verb) {
        auto exec = host_.Plugin().Proc<TExec>("FsExecuteFileW");
        std::wstring n = name, v = verb;
        const int r = exec(main_.Hwnd, n.data(), v.data());
        PumpFor(50);  // the refresh request is posted, not sent
        return r;
    }
    // Runs the command while `script` drives the window of class `cls`.
    int ExecDriving(const std::wstring& name, const std::wstring& verb, const wchar_t* cls,
                    const std::function<void(HWND)>& script) {
        int r = -1;
        DriveModal(
            cls, [&] { r = Exec(name, verb); }, script);
        return r;
    }

    loopback::TListener peer_;
    TListerHost host_{"[Conn:lab]\r\nHost=127.0.0.1\r\nPort=" + std::to_string(peer_.Port()) +
                      "\r\nMode=0\r\n"};
    TMainWindow main_;
};

}  // namespace

TEST_F(Execute, VerbsAndEntriesGiveTheHostsResultCodes) {
    g_refreshes = 0;
    EXPECT_EQ(ExecDriving(L"\\", L"properties", kConnDlgClass, [](HWND) {}), 0);
    EXPECT_EQ(g_refreshes, 1) << "the manager is followed by one refresh request";
    EXPECT_EQ(ExecDriving(L"\\[ Manage connections\u2026 ]", L"OPEN", kConnDlgClass, [](HWND) {}),
              0);
    EXPECT_EQ(g_refreshes, 2);
    EXPECT_EQ(Exec(L"\\", L"open"), 1);
    EXPECT_EQ(Exec(L"\\TCP - lab", L"openx"), 1) << "the verb as a whole";
    EXPECT_EQ(Exec(L"\\TCP - lab", L""), 1);
    EXPECT_EQ(Exec(L"\\LPT1", L"open"), 1);
    EXPECT_EQ(Exec(L"\\LPT1", L"properties"), 1);
    EXPECT_EQ(Exec(L"\\TCP - gone", L"open"), 1) << "a connection that does not load";
    EXPECT_EQ(Exec(L"\\TCP - gone", L"properties"), 0) << "silently nothing";
    // A port's properties closed with Cancel: done, and nothing asked of the host.
    EXPECT_EQ(ExecDriving(L"\\COM7", L"properties", kPropDlgClass,
                          [](HWND d) { Press(FindById(d, kIdCancel)); }),
              0);
    EXPECT_EQ(g_refreshes, 2);
}

TEST_F(Execute, OpenShowsTheStandaloneTerminalAndSavedPropertiesReachIt) {
    g_refreshes = 0;
    ASSERT_EQ(Exec(L"\\TCP - lab", L"open"), 0);
    HWND term = WaitForTopLevel(kTerminalClass, 5000);
    ASSERT_NE(term, nullptr);
    EXPECT_EQ(GetWindow(term, GW_OWNER), main_.Hwnd) << "owned by the host's main window";
    const std::wstring title = TextOf(term);
    EXPECT_EQ(title.rfind(L"Kestrelink - TCP lab (127.0.0.1:", 0), 0u) << title.c_str();
    EXPECT_FALSE(Checked(term, kTerminalReconnect));
    // Saved properties of the connection it shows reach it at once.
    EXPECT_EQ(ExecDriving(L"\\TCP - lab", L"properties", kPropDlgClass,
                          [](HWND d) {
                              Press(FindById(d, kIdAutoReconnect));
                              Press(FindById(d, kIdOk));
                          }),
              0);
    EXPECT_EQ(g_refreshes, 1);
    EXPECT_TRUE(Checked(term, kTerminalReconnect)) << "the terminal reloaded its settings";
    // Another entry switches the same window.
    ASSERT_EQ(Exec(L"\\COM7", L"open"), 0);
    EXPECT_EQ(WaitForTopLevel(kTerminalClass, 1000), term);
    EXPECT_EQ(TextOf(term), L"Kestrelink - COM7");
    PostMessageW(term, WM_CLOSE, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(term); }, 5000));
}
