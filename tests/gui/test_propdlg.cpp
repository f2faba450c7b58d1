// The properties dialog driven as a user drives it: a script thread fills the
// fields, presses keys and buttons and answers the message boxes while the
// test's thread sits in the modal call; the settings file tells what was saved.
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>

#include "base/uWin.h"
#include "dialog_driver.h"
#include "dialog_extra.h"
#include "dialogs/uPropDlg.h"
#include "gui.h"
#include "settings/uSettings.h"
#include "wintest.h"

using namespace kltest;

// Before any window: without a window manager, Wine makes each closed window wait.

namespace {

const std::wstring kBaudText = L"Baud rate must be between 50 and 12000000.";
const std::wstring kPortText = L"Port must be between 1 and 65535.";
const std::wstring kHostText = L"Enter a host name or IPv4 address.";

std::wstring SettingsFile() { return W(SettingsPath()); }
void Type(HWND dlg, int id, const std::wstring& text) { SetTextOf(FindById(dlg, id), text); }

// Presses OK, answers the warning that must come and gives its text; the
// dialog stays open and the settings file as it was.
std::wstring OkExpectingWarning(HWND dlg) {
    const std::string before = ReadFileBytes(SettingsFile());
    Click(FindById(dlg, kIdOk));
    TMessageBoxSeen seen;
    EXPECT_TRUE(AnswerMessageBox(seen, IDOK));
    EXPECT_EQ(seen.Caption, L"Kestrelink");
    EXPECT_EQ(seen.Owner, dlg);
    EXPECT_EQ(seen.Icon, LoadIconW(nullptr, IDI_WARNING));
    EXPECT_TRUE(IsWindow(dlg));
    EXPECT_EQ(ReadFileBytes(SettingsFile()), before);
    return seen.Text;
}

class PropDlg : public ::testing::Test {
protected:
    void SetUp() override { SetSettingsPath(U(dir_.File(L"kestrelink.ini").c_str())); }
    void Write(const std::string& text) { ASSERT_TRUE(WriteFileBytes(SettingsFile(), text)); }
    // The stored values of the keys, each followed by a blank.
    std::wstring Stored(const wchar_t* section, std::initializer_list<const wchar_t*> keys) {
        std::wstring all;
        for (auto key : keys) all += IniValue(SettingsFile(), section, key) + L" ";
        return all;
    }
    // Runs the dialog while `script` drives it; a script that stops early (a
    // failed assertion) still gets the dialog closed.
    bool Run(int kind, const std::u16string& name, const std::function<void(HWND)>& script,
             HWND owner = nullptr) {
        TDialogScript s([&] {
            HWND dlg = WaitForWindow(kPropDlgClass, 5000);
            ASSERT_NE(dlg, nullptr);
            script(dlg);
            if (!WaitUntil([&] { return !IsWindow(dlg); })) {
                ADD_FAILURE() << "dialog still open";
                PostMessageW(dlg, WM_CLOSE, 0, 0);
            }
        });
        return ShowPropertiesDialog(owner ? owner : host_.Handle(), kind, name, u"T " + name);
    }

    TTempDir dir_;
    THostWindow host_;
};

}  // namespace

TEST_F(PropDlg, SerialPortShowsStoredValuesRejectsBadInputAndSavesTheWholeRecord) {
    Write("[Port:COM3]\r\nBaud=9600\r\nDataBits=7\r\nViewHex=1\r\nHistoryLines=500\r\n");
    bool ownerDisabled = false;
    EXPECT_TRUE(Run(0, u"COM3", [&](HWND dlg) {
        ownerDisabled = WaitUntil([&] { return !IsWindowEnabled(host_.Handle()); });
        EXPECT_EQ(TextOf(dlg), L"Properties - T COM3");
        EXPECT_EQ(TextOf(FindById(dlg, kIdBaud)), L"9600");
        for (const wchar_t* bad : {L"96 00", L"9600x", L"49", L"12000001", L""}) {
            Type(dlg, kIdBaud, bad);
            EXPECT_EQ(OkExpectingWarning(dlg), kBaudText) << bad;
            EXPECT_EQ(TextOf(FindById(dlg, kIdBaud)), bad);
        }
        Type(dlg, kIdBaud, L" 12345 ");  // not in the list, in range
        Type(dlg, kIdHistoryLines, L"99");
        EXPECT_EQ(OkExpectingWarning(dlg), L"History depth must be between 100 and 100000 lines.");
        SendMessageW(FindById(dlg, kIdRts), BM_SETCHECK, BST_CHECKED, 0);
        SelectIndex(FindById(dlg, kIdFlow), 1);  // RTS/CTS greys RTS; its tick is still saved
        EXPECT_FALSE(IsWindowEnabled(FindById(dlg, kIdRts)));
        Click(FindById(dlg, kIdHistoryOn));  // off: the bad depth is neither tested nor saved
        EXPECT_TRUE(WaitUntil([&] { return !IsWindowEnabled(FindById(dlg, kIdHistoryLines)); }));
        Click(FindById(dlg, kIdOk));
    }));
    EXPECT_TRUE(ownerDisabled);
    EXPECT_TRUE(IsWindowEnabled(host_.Handle()));
    EXPECT_EQ(Stored(L"Port:COM3", {L"Baud", L"DataBits", L"Flow", L"RTS", L"ViewHex", L"HistoryOn",
                                    L"HistoryLines"}),
              L"12345 7 1 1 1 0 500 ");  // hidden keys kept as they were
}

TEST_F(PropDlg, ConnectionRejectsBadHostAndPortThenSavesBothRecords) {
    Write("[Conn:router]\r\nHost=10.0.0.1\r\nPort=2323\r\nMode=0\r\nTxNewline=1\r\n");
    EXPECT_TRUE(Run(1, u"router", [&](HWND dlg) {
        EXPECT_EQ(TextOf(FindById(dlg, kIdHost)), L"10.0.0.1");
        EXPECT_EQ(TextOf(FindById(dlg, kIdPort)), L"2323");
        EXPECT_EQ(TextOf(FindById(dlg, kIdMode)), L"Raw (TCP)");
        const std::wstring cases[][3] = {{L"  ", L"23", kHostText},   {L"'\"\"'", L"23", kHostText},
                                         {L"h\tx", L"23", kHostText}, {L"h", L"0", kPortText},
                                         {L"h", L"", kPortText},      {L"h", L"65536", kPortText}};
        for (const auto& c : cases) {
            Type(dlg, kIdHost, c[0]);
            Type(dlg, kIdPort, c[1]);
            EXPECT_EQ(OkExpectingWarning(dlg), c[2]) << c[0] << "/" << c[1];
        }
        Type(dlg, kIdHost, L" \"example.org\" ");  // saved plain, so it reads back
        Type(dlg, kIdPort, L"65535");
        SelectIndex(FindById(dlg, kIdMode), 2);
        PressKey(dlg, VK_RETURN);  // Enter in the port field presses OK
    }));
    EXPECT_EQ(Stored(L"Conn:router", {L"Host", L"Port", L"Mode", L"TxNewline", L"HistoryOn"}),
              L"example.org 65535 2 1 1 ");

    // Without a stored host the form opens empty and OK wants one, in German too.
    Write("[Plugin]\r\nLanguage=de\r\n");
    EXPECT_FALSE(Run(1, u"gone", [&](HWND dlg) {
        EXPECT_EQ(TextOf(dlg), L"Eigenschaften - T gone");
        EXPECT_EQ(TextOf(FindById(dlg, kIdPort)) + TextOf(FindById(dlg, kIdMode)),
                  L"23Telnet mit Aushandlung");
        EXPECT_NE(OkExpectingWarning(dlg), kHostText);
        Click(FindById(dlg, kIdCancel));
    }));
}

namespace {
std::atomic<int> g_secondCall{-1};
void CALLBACK OpenAgain(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    g_secondCall = ShowPropertiesDialog(nullptr, 0, u"COM2", u"COM2");
}
void CALLBACK CloseDialog(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    PostMessageW(WaitForWindow(kPropDlgClass, 0), WM_CLOSE, 0, 0);
}
}  // namespace

TEST_F(PropDlg, EveryWayOfClosingEnablesTheOwnerAgainAndWritesNothing) {
    const std::pair<const char*, std::function<void(HWND dlg, HWND owner)>> ways[] = {
        {"Cancel", [](HWND d, HWND) { Click(FindById(d, kIdCancel)); }},
        {"Esc", [](HWND d, HWND) { PressKey(d, VK_ESCAPE); }},
        {"WM_CLOSE", [](HWND d, HWND) { PostMessageW(d, WM_CLOSE, 0, 0); }},
        {"close box", [](HWND d, HWND) { PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"WM_QUIT",
         [](HWND d, HWND) {
             PostThreadMessageW(GetWindowThreadProcessId(d, nullptr), WM_QUIT, 7, 0);
         }},
        {"owner destroyed", [](HWND, HWND o) { PostMessageW(o, WM_CLOSE, 0, 0); }},
    };
    for (const auto& [name, close] : ways) {
        SCOPED_TRACE(name);
        THostWindow owner;
        g_secondCall = -1;
        SetTimer(nullptr, 0, 50, OpenAgain);  // a second opening, inside the modal loop
        EXPECT_FALSE(Run(
            0, u"COM1",
            [&](HWND dlg) {
                EXPECT_TRUE(WaitUntil([] { return g_secondCall >= 0; }));
                EXPECT_EQ(g_secondCall, 0) << "a second dialog opened";
                EXPECT_EQ(GetForegroundWindow(), dlg);
                close(dlg, owner.Handle());
            },
            owner.Handle()));
        EXPECT_TRUE(!IsWindow(owner.Handle()) || IsWindowEnabled(owner.Handle()));
        EXPECT_EQ(WaitForWindow(kPropDlgClass, 0), nullptr);
        EXPECT_FALSE(FileExists(SettingsFile()));
        MSG m = {};
        EXPECT_EQ(PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0,
                  std::string(name) == "WM_QUIT");
        EXPECT_EQ(m.wParam, std::string(name) == "WM_QUIT" ? 7u : 0u) << "same exit code";
    }
    EnableWindow(host_.Handle(), FALSE);  // disabled by someone else: it stays so
    EXPECT_FALSE(Run(0, u"COM1", [](HWND d) { Click(FindById(d, kIdCancel)); }));
    EXPECT_FALSE(IsWindowEnabled(host_.Handle()));
    EXPECT_FALSE(ShowPropertiesDialog(host_.Handle(), 2, u"COM1", u"") ||
                 ShowPropertiesDialog(host_.Handle(), 0, u"", u""));  // nothing to edit
}

TEST_F(PropDlg, AReadOnlySettingsFileIsReportedAndNothingIsClaimedSaved) {
    const char* ro = std::getenv("KL_READONLY_INI");
    ASSERT_NE(ro, nullptr) << "run through tools/wine-env.sh";
    const std::wstring path = WinPath(ro);
    const std::string before = ReadFileBytes(path);
    SetSettingsPath(U(path.c_str()));
    const std::wstring failed = L"Could not save settings. Check write permission: " + path;
    // The host alone changes: only the connection's own write can fail.
    EXPECT_FALSE(Run(1, u"ro", [&](HWND dlg) {
        Type(dlg, kIdHost, L"h2");
        EXPECT_EQ(OkExpectingWarning(dlg), failed);
        EXPECT_EQ(TextOf(FindById(dlg, kIdHost)), L"h2");
        Click(FindById(dlg, kIdCancel));
    }));
    // The baud rate alone changes.
    EXPECT_FALSE(Run(0, u"COM1", [&](HWND dlg) {
        Type(dlg, kIdBaud, L"300");
        EXPECT_EQ(OkExpectingWarning(dlg), failed);
        PostMessageW(dlg, WM_CLOSE, 0, 0);
    }));
    EXPECT_EQ(ReadFileBytes(path), before);
}

TEST_F(PropDlg, AHundredOpenAndCloseCyclesLeaveNoGdiObjectOrWindowBehind) {
    Write("[Plugin]\r\nTheme=dark\r\n");  // the dark painter runs every cycle
    auto cycle = [&](int kind) {
        SetTimer(nullptr, 0, 1, CloseDialog);  // handled after the first paint
        EXPECT_FALSE(ShowPropertiesDialog(host_.Handle(), kind, u"x", u"x"));
    };
    cycle(0);
    cycle(1);  // first use: brushes, libraries, catalogs
    const int gdi = FreeGdiSlots(), windows = ThreadWindowCount(GetCurrentThreadId());
    HBRUSH probe = CreateSolidBrush(0x123456);  // the count does see objects
    EXPECT_EQ(FreeGdiSlots(), gdi - 1);
    DeleteObject(probe);
    for (int i = 0; i < 100; ++i) cycle(i % 2);
    EXPECT_EQ(FreeGdiSlots(), gdi);
    EXPECT_EQ(ThreadWindowCount(GetCurrentThreadId()), windows);
}

// The ten stored commands: read as stored (quotes keep blanks and quotes of
// their own, out-of-range values corrected), edited through the list and its
// fields, refused at OK while one cannot be sent, and saved so that each
// reads back as typed, an emptied one leaving no keys behind.
TEST_F(PropDlg, StoredCommandsAreEditedCheckedAndReadBackAsTyped) {
    Write(
        "[Port:COM3]\r\nCmd1=\"  spaced \"q\"  \"\r\nCmd2=AT\r\nCmd2Mode=7\r\nCmd2Repeat=50\r\n"
        "Cmd4=stale\r\nCmd4Mode=2\r\n");
    EXPECT_TRUE(Run(0, u"COM3", [&](HWND dlg) {
        HWND list = FindById(dlg, kIdCommandList);
        const auto items = ItemsOf(list);
        ASSERT_EQ(items.size(), 10u);
        EXPECT_EQ(items[0], L"1    spaced \"q\"  ");
        EXPECT_EQ(items[9], L"10  ");
        EXPECT_EQ(TextOf(FindById(dlg, kIdCommandText)), L"  spaced \"q\"  ");
        SelectListItem(list, 1);
        EXPECT_EQ(TextOf(FindById(dlg, kIdCommandText)), L"AT");
        EXPECT_EQ(TextOf(FindById(dlg, kIdCommandMode)), L"Text") << "mode 7 reads as Text";
        EXPECT_EQ(TextOf(FindById(dlg, kIdCommandRepeat)), L"100") << "50 ms reads as 100";

        SelectListItem(list, 2);
        Type(dlg, kIdCommandText, L"01 0");
        SelectIndex(FindById(dlg, kIdCommandMode), 2);
        Type(dlg, kIdCommandRepeat, L"99");
        EXPECT_EQ(ItemsOf(list)[2], L"3  01 0") << "the list follows the text";
        SelectListItem(list, 0);  // away and back: nothing typed is lost
        SelectListItem(list, 2);
        EXPECT_EQ(TextOf(FindById(dlg, kIdCommandRepeat)), L"99");
        EXPECT_EQ(OkExpectingWarning(dlg),
                  L"Command 3: repeat every 100 to 3600000 ms, or 0 to send it once.");
        Type(dlg, kIdCommandRepeat, L"1000");
        SelectListItem(list, 9);  // the warning shows the command it is about
        EXPECT_EQ(OkExpectingWarning(dlg), L"Command 3 cannot be sent as Hex: see character 4.");
        EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 2);
        Type(dlg, kIdCommandText, L"01 02 0a");

        SelectListItem(list, 3);
        EXPECT_EQ(TextOf(FindById(dlg, kIdCommandMode)), L"Hex");
        Type(dlg, kIdCommandText, L"");
        SelectListItem(list, 4);
        Type(dlg, kIdCommandText, L" \x041F\x0440\x0438 'x'");
        SelectListItem(list, 9);
        Type(dlg, kIdCommandText, L"\\x1b[0m\\r");
        SelectIndex(FindById(dlg, kIdCommandMode), 1);
        Click(FindById(dlg, kIdOk));
    }));
    const TSessionSettings s = LoadSessionSettings(u"Port:COM3");
    const TStoredCommand expected[kCommandCount] = {{u"  spaced \"q\"  ", 0, 0},
                                                    {u"AT", 0, 100},
                                                    {u"01 02 0a", 2, 1000},
                                                    {},
                                                    {u" \u041F\u0440\u0438 'x'", 0, 0},
                                                    {},
                                                    {},
                                                    {},
                                                    {},
                                                    {u"\\x1b[0m\\r", 1, 0}};
    auto describe = [](const TStoredCommand& c) {
        return std::wstring(W(c.Text)) + L" / " + std::to_wstring(c.Mode) + L" / " +
               std::to_wstring(c.RepeatMs);
    };
    for (int i = 0; i < kCommandCount; ++i)
        EXPECT_EQ(describe(s.Commands[size_t(i)]), describe(expected[i])) << "command " << i + 1;
    const std::wstring ini = SettingsFile();
    wchar_t probe[16] = {};
    GetPrivateProfileStringW(L"Port:COM3", L"Cmd4Mode", L"gone", probe, 16, ini.c_str());
    EXPECT_EQ(std::wstring(probe), L"gone") << "an emptied command leaves its keys";
}
