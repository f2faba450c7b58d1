// The connection manager as the user drives it: saved connections edited,
// renamed, overwritten and deleted without losing what a section holds; a
// settings file that refuses writes; every way of closing; no leaks.
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <tuple>

#include "conndlg_fixture.h"
#include "dialog_driver.h"
#include "dialogs/uDialogSeam.h"
#include "dialogs/uPropDlg.h"

using namespace kltest;

namespace {

struct ConnDlg : TConnDlgTest {
    // Host, port, mode and three terminal options of a section; "-" when missing.
    std::wstring Stored(const std::wstring& name) {
        std::wstring s;
        for (const wchar_t* key :
             {L"Host", L"Port", L"Mode", L"ViewHex", L"AutoReconnect", L"HistoryLines"}) {
            const std::wstring v = Value((L"Conn:" + name).c_str(), key);
            s += (s.empty() ? L"" : L",") + (v == L"\x1" ? L"-" : v);
        }
        return s;
    }
};

const std::wstring kReplaceGateway = L"A connection named \"gateway\" exists. Replace it?";

void Fill(HWND d, const std::wstring& name, const std::wstring& host, const std::wstring& port,
          int mode = 1) {
    SetTextOf(Item(d, 211), name);
    SetTextOf(Item(d, 212), host);
    SetTextOf(Item(d, 213), port);
    SendMessageW(Item(d, 214), CB_SETCURSEL, WPARAM(mode), 0);
}

}  // namespace

TEST_F(ConnDlg, SavedConnectionsKeepTheirSectionThroughEveryEdit) {
    Write(
        "[Conn:router]\r\nHost=r\r\nPort=23\r\nViewHex=1\r\nAutoReconnect=1\r\nHistoryLines="
        "500\r\nSendProtocol=3\r\nSendCharDelay=20\r\n");
    Run([&](HWND d) {
        HWND list = Item(d, 201);
        EXPECT_EQ(FocusOf(d), Item(d, 211)) << "the Name field has the focus";
        EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), LB_ERR) << "nothing selected at first";
        SelectListItem(list, 0);
        EXPECT_EQ(TextOf(Item(d, 212)), L"r");
        // A rename takes the terminal options along and removes the old section.
        SetTextOf(Item(d, 211), L"gateway");
        SetTextOf(Item(d, 213), L"2323");
        Press(Item(d, 222));
        EXPECT_EQ(Stored(L"router"), L"-,-,-,-,-,-");
        EXPECT_EQ(Stored(L"gateway"), L"r,2323,1,1,1,500");
        EXPECT_EQ(
            Value(L"Conn:gateway", L"SendProtocol") + Value(L"Conn:gateway", L"SendCharDelay"),
            L"320")
            << "the last Send file choices move too";
        EXPECT_EQ(ItemsOf(list), std::vector<std::wstring>{L"gateway"});
        EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 0);
        // Other letter case: the same section, rewritten in place.
        Fill(d, L"GATEWAY", L"gw", L"23");
        Press(Item(d, 222));
        EXPECT_EQ(Stored(L"gateway"), L"gw,23,1,1,1,500");
        // New + Save under an existing name overwrites host, port and mode
        // only, once the user agrees; a host typed in quotes is saved plain.
        Press(Item(d, 221));
        EXPECT_EQ(TextOf(Item(d, 211)) + TextOf(Item(d, 213)), L"23");
        Fill(d, L"Gateway", L"other", L"99", 0);
        EXPECT_EQ(ClickForBox(Item(d, 222), IDNO), kReplaceGateway);
        EXPECT_EQ(Stored(L"gateway"), L"gw,23,1,1,1,500");
        Fill(d, L"Gateway", L" \"other\" ", L"99", 0);
        EXPECT_EQ(ClickForBox(Item(d, 222), IDYES), kReplaceGateway);
        EXPECT_EQ(Stored(L"gateway"), L"other,99,0,1,1,500");
        // Delete: nothing with an empty form; the question names the loaded
        // connection, not what is typed; No keeps it, Yes removes it.
        Press(Item(d, 221));
        Click(Item(d, 223));
        EXPECT_TRUE(NoBoxFollows());
        SelectListItem(list, 0);
        SetTextOf(Item(d, 211), L"typed");
        EXPECT_EQ(ClickForBox(Item(d, 223), IDNO), L"Delete connection \"gateway\"?");
        EXPECT_EQ(Stored(L"gateway"), L"other,99,0,1,1,500");
        ClickForBox(Item(d, 223), IDYES);
        EXPECT_EQ(Stored(L"gateway"), L"-,-,-,-,-,-");
        EXPECT_TRUE(ItemsOf(list).empty() && TextOf(Item(d, 211)).empty());
    });
}

TEST_F(ConnDlg, RenamingOntoAnotherConnectionAsksEnterSavesAndSaveStaysTheDefault) {
    Write("[Conn:a]\r\nHost=ha\r\nPort=1\r\nViewHex=1\r\n[Conn:B]\r\nHost=hb\r\nPort=2\r\n");
    Run([&](HWND d) {
        HWND list = Item(d, 201);
        SelectListItem(list, 0);
        SetTextOf(Item(d, 213), L"3");
        PressKey(d, VK_RETURN);  // in the Name field: Save
        EXPECT_TRUE(WaitUntil([&] { return Value(L"Conn:a", L"Port") == L"3"; }));
        SetTextOf(Item(d, 211), L"b");
        Click(Item(d, 222));
        TMessageBoxSeen seen;
        ASSERT_TRUE(AnswerMessageBox(seen, IDNO));
        EXPECT_EQ(seen.Text, L"A connection named \"B\" exists. Replace it?");
        EXPECT_TRUE(seen.HasYes && seen.HasNo && seen.Icon == LoadIconW(nullptr, IDI_WARNING));
        EXPECT_EQ(Stored(L"a") + L"|" + Stored(L"B"), L"ha,3,1,1,-,-|hb,2,-,-,-,-");
        // Yes: B takes a's host, port and terminal options and a is gone; a
        // host in quotes is saved plain, not reported as a failed write.
        SetTextOf(Item(d, 212), L"'\"ha2\"'");
        EXPECT_EQ(ClickForBox(Item(d, 222), IDYES), seen.Text);
        EXPECT_EQ(Stored(L"a") + L"|" + Stored(L"B"), L"-,-,-,-,-,-|ha2,3,1,1,0,10000");
        EXPECT_EQ(ItemsOf(list), std::vector<std::wstring>{L"B"});
        // The focus is back on Save; Tab makes Delete the default, and leaving
        // the buttons gives the default back to Save.
        auto isDefault = [&](int id) {
            return (GetWindowLongPtrW(Item(d, id), GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
        };
        PressKey(d, VK_TAB);
        EXPECT_TRUE(WaitUntil([&] { return isDefault(223) && !isDefault(222); }));
        for (int i = 0; i < 4 && ClassOf(FocusOf(d)) == L"Button"; ++i) {
            const HWND before = FocusOf(d);
            PressKey(d, VK_TAB);
            WaitUntil([&] { return FocusOf(d) != before; });
        }
        EXPECT_NE(ClassOf(FocusOf(d)), L"Button");
        EXPECT_TRUE(
            WaitUntil([&] { return isDefault(222) && !isDefault(223) && !isDefault(224); }));
    });
}

TEST_F(ConnDlg, RejectedFormsWriteNothingAndLongNamesAreNeverCut) {
    const std::wstring longName(300, L'q'),
        name =
            L"The name is empty, contains invalid "
            L"characters ([ ] = \\ / : * ? \" < > |), or starts with \"COM\".";
    const std::wstring host = L"Enter a host name or IPv4 address.";
    const std::wstring port = L"Port must be between 1 and 65535.";
    const std::wstring tooLong = L"A name can have at most 253 characters.";
    Write("[Conn:" + std::string(300, 'q') + "]\r\nHost=far\r\n");
    Run([&](HWND d) {
        const std::wstring rejected[][4] = {{L"com1", L"h", L"23", name},
                                            {L"COMx", L"h", L"23", name},
                                            {L"Com", L"h", L"23", name},
                                            {L"a=b", L"h", L"23", name},
                                            {L"x]y", L"h", L"23", name},
                                            {L"a\tb", L"h", L"23", name},
                                            {longName + L"x", L"h", L"23", tooLong},
                                            {std::wstring(254, L'n'), L"h", L"23", tooLong},
                                            {L"com2", L"", L"0", name},
                                            {L"ok", L"  ", L"23", host},
                                            {L"ok", L" \"' '\" ", L"23", host},
                                            {L"ok", L"h\tx", L"23", host},
                                            {L"ok", L"h", L"0", port},
                                            {L"ok", L"h", L"", port},
                                            {L"ok", L"h", L"65536", port}};
        for (const auto& c : rejected) {
            Fill(d, c[0], c[1], c[2]);
            EXPECT_EQ(ClickForBox(Item(d, 222)), c[3]) << c[0].substr(0, 8) << "/" << c[2];
        }
        EXPECT_EQ(TextOf(Item(d, 211)), L"ok") << "the form keeps what was typed";
        for (const wchar_t* accepted : {L"CO", L"MyCOM"}) {
            Press(Item(d, 221));  // else the second Save renames the first
            Fill(d, accepted, L" h ", L"65535", 7);
            Press(Item(d, 222));
        }
        EXPECT_EQ(Stored(L"MyCOM"), L"h,65535,1,-,-,-") << "no mode selected reads as 1";
        EXPECT_EQ(ItemsOf(Item(d, 201)), (std::vector<std::wstring>{L"CO", L"MyCOM", longName}));
        // A stored name longer than any field reads is saved in place.
        SelectListItem(Item(d, 201), 2);
        SetTextOf(Item(d, 212), L"near");
        Press(Item(d, 222));
        EXPECT_EQ(Stored(longName), L"near,23,1,-,-,-");
        EXPECT_EQ(ItemsOf(Item(d, 201)).size(), 3u);
        // The longest name a new connection may have: "TCP - " + name fits the folder.
        Press(Item(d, 221));
        Fill(d, std::wstring(253, L'n'), L"h", L"23");
        Press(Item(d, 222));
        EXPECT_EQ(Stored(std::wstring(253, L'n')), L"h,23,1,-,-,-");
    });
}

TEST_F(ConnDlg, AReadOnlySettingsFileIsReportedAndNothingClaimed) {
    const char* ro = std::getenv("KL_READONLY_INI");
    ASSERT_NE(ro, nullptr) << "run through tools/wine-env.sh";
    const std::wstring path = WinPath(ro), denied = W(SystemMessage(ERROR_ACCESS_DENIED));
    const std::string before = ReadFileBytes(path);
    SetSettingsPath(U(path.c_str()));
    const std::wstring refused = L"Could not save settings. Check write permission: " + path;
    Run([&](HWND d) {
        HWND list = Item(d, 201);
        Fill(d, L"fresh", L"h", L"23");
        EXPECT_EQ(ClickForBox(Item(d, 222)), refused);
        EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), LB_ERR) << "nothing shown as saved";
        SelectListItem(list, 0);
        SetTextOf(Item(d, 211), L"moved");
        EXPECT_EQ(ClickForBox(Item(d, 222)), refused);
        ClickForBox(Item(d, 223), IDYES);
        TMessageBoxSeen seen;
        EXPECT_TRUE(AnswerMessageBox(seen, IDOK) &&
                    seen.Text ==
                        L"Could not delete the connection. Check write permission: " + path)
            << "delete refused";
        EXPECT_EQ(ItemsOf(list), std::vector<std::wstring>{L"ro"});
        const std::tuple<int, int, std::wstring> saves[] = {
            {1, 244, L"Could not save the font: " + path},
            {2, 267, L"Could not save appearance: " + path},
            {3, 282, L"Could not save interface settings: " + denied}};
        for (const auto& [tab, button, text] : saves) {
            SelectTab(Item(d, kIdConnTabs), tab);
            EXPECT_EQ(ClickForBox(Item(d, button)), text);
        }
        EXPECT_EQ(TextOf(Item(d, 248)) + TextOf(Item(d, 268)) + TextOf(Item(d, 283)), L"");
    });
    EXPECT_EQ(ReadFileBytes(path), before);
}

namespace {
// Timer procedures (CALLBACK: a lambda does not convert to one on i386).
bool g_reentered = false;
void CALLBACK OpenAgain(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    OpenConnectionManager(nullptr);
    g_reentered = true;
}
// Each opening updates both previews once more, then closes.
void CALLBACK ChangePreviewsAndClose(HWND, UINT, UINT_PTR id, DWORD) {
    if (HWND d = WaitForWindow(kConnDlgClass, 0)) {  // of this program only
        KillTimer(nullptr, id);
        SetWindowTextW(FindById(d, 242), L"12");
        SetWindowTextW(FindById(d, 260), L"#102030");
        PostMessageW(d, WM_CLOSE, 0, 0);
    }
}
}  // namespace

TEST_F(ConnDlg, EveryWayOfClosingGivesTheOwnerBack) {
    HWND owner = host_.Handle();
    auto closes = [&](const char* how, const std::function<void(HWND)>& close) {
        Run([&](HWND d) {
            EXPECT_TRUE(PumpUntil([&] { return !IsWindowEnabled(owner); }, 5000)) << how;
            close(d);
        });
        EXPECT_TRUE(IsWindowEnabled(owner) && !WaitForWindow(kConnDlgClass, 0)) << how;
    };
    closes("Close", [](HWND d) { Press(Item(d, kIdConnClose)); });
    closes("Esc", [](HWND d) { PostMessageW(Item(d, 211), WM_KEYDOWN, VK_ESCAPE, 1); });
    closes("WM_CLOSE", [](HWND d) { PostMessageW(d, WM_CLOSE, 0, 0); });
    const DWORD self = GetCurrentThreadId();
    closes("WM_QUIT", [&](HWND) { PostThreadMessageW(self, WM_QUIT, 42, 0); });
    MSG quit = {};
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "posted again";
    EXPECT_EQ(quit.wParam, 42u);
    // Opening again while open only brings the manager to the front.
    SetTimer(nullptr, 0, 50, OpenAgain);
    closes("second open", [&](HWND d) {
        EXPECT_TRUE(PumpUntil([] { return g_reentered; }, 5000)) << "the second call returned";
        // (Other test programs may share the display and take the foreground.)
        DWORD pid = 0;
        GetWindowThreadProcessId(GetForegroundWindow(), &pid);
        EXPECT_TRUE(GetForegroundWindow() == d || pid != GetCurrentProcessId());
    });
    EnableWindow(owner, FALSE);  // disabled by someone else: it stays so
    Run([](HWND) {});
    EXPECT_FALSE(IsWindowEnabled(owner));
    EnableWindow(owner, TRUE);
    // The owner closing takes the manager with it, and the call returns.
    Run([&](HWND) { PostMessageW(owner, WM_CLOSE, 0, 0); });
    EXPECT_FALSE(IsWindow(owner));
}

namespace {
constexpr int kNewButton = 221;
int g_faultyCommand = 0;
void ThrowOnCommand(HWND, WPARAM wp) {
    if (LOWORD(wp) != g_faultyCommand) return;
    if (g_faultyCommand == kNewButton) throw std::bad_alloc();
    throw std::runtime_error("a fault played by the test");
}
}  // namespace

TEST_F(ConnDlg, AFaultInACommandClosesEitherDialogAndTellsTheUser) {
    HWND owner = host_.Handle();
    g_dialogCommandProbe = ThrowOnCommand;
    auto faults = [&](HWND d, int button) {
        g_faultyCommand = button;
        Click(FindById(d, button));
        TMessageBoxSeen seen;
        EXPECT_TRUE(AnswerMessageBox(seen, IDOK));
        EXPECT_EQ(seen.Text,
                  L"Something went wrong inside Kestrelink, and the dialog was closed. What was "
                  L"saved before stays saved.");
        EXPECT_EQ(seen.Owner, owner);
        EXPECT_EQ(seen.Icon, LoadIconW(nullptr, IDI_ERROR));
        EXPECT_FALSE(IsWindow(d)) << "closed before the box";
    };
    Run([&](HWND d) { faults(d, kNewButton); });  // out of memory
    EXPECT_TRUE(IsWindowEnabled(owner));
    bool saved = true;
    DriveModal(
        kPropDlgClass, [&] { saved = ShowPropertiesDialog(owner, 0, u"COM1", u"COM1"); },
        [&](HWND d) { faults(d, kIdOk); });
    EXPECT_FALSE(saved);
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_FALSE(FileExists(ini_)) << "nothing written";
    g_dialogCommandProbe = nullptr;
    Run([](HWND) {});  // and the manager opens again
}

TEST_F(ConnDlg, NoGdiObjectOrWindowLeaksOverAHundredOpenings) {
    auto openings = [&](int n) {
        for (int i = 0; i < n; ++i) {
            SetTimer(nullptr, 0, 1, ChangePreviewsAndClose);
            OpenConnectionManager(host_.Handle());
        }
    };
    openings(3);  // the system's own caches settle first
    const int gdi = FreeGdiSlots(), windows = ThreadWindowCount(GetCurrentThreadId());
    openings(100);
    EXPECT_EQ(FreeGdiSlots(), gdi);
    EXPECT_EQ(ThreadWindowCount(GetCurrentThreadId()), windows);
}
