// The stand-alone terminal and the session store, driven in-process: one
// window reused for every "open", its placement kept across closing (also
// with the work area not at the screen's origin), the settings-changed
// notice, eviction of the kept session released longest ago, the byte budget
// all kept sessions share, and the host's main window taking the stand-alone
// window with it.
#include <windows.h>

#include <gtest/gtest.h>

#include "dialog_extra.h"
#include "gui.h"
#include "lister_fixture.h"
#include "settings/uSettings.h"
#include "termwnd/uListerGlue.h"
#include "termwnd/uTermWnd.h"

using namespace kltest;

namespace {

std::u16string Port(int n) { return u"COM10" + std::u16string(1, char16_t(u'0' + n)); }

void Open(HWND host, int n) { OpenStandaloneTerminal(host, 0, Port(n), Port(n), TConnInfo{}); }

bool Stored(const std::u16string& port) {
    for (auto& s : SessionStore())
        if (s->Key == u"Port:" + port) return true;
    return false;
}

// The work area moved down by `top` pixels for the scope, as a taskbar at the
// top of the screen does.
struct TWorkAreaAtTop {
    RECT saved = {};
    bool moved = false;
    explicit TWorkAreaAtTop(int top) {
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &saved, 0);
        RECT r = saved;
        r.top += top;
        moved = SystemParametersInfoW(SPI_SETWORKAREA, 0, &r, 0);
    }
    ~TWorkAreaAtTop() {
        if (moved) SystemParametersInfoW(SPI_SETWORKAREA, 0, &saved, 0);
    }
};

}  // namespace

TEST(Lister, StandaloneWindowStoreAndPlacement) {
    TTempDir dir;
    const std::wstring ini = dir.File(L"kestrelink.ini");
    // No port of this machine: every open fails quickly and leaves the window idle.
    WriteFileBytes(ini, "[Window]\r\nLeft=120\r\nTop=90\r\nWidth=800\r\nHeight=560\r\n");
    SetSettingsPath(U(ini.c_str()));
    auto host = std::make_unique<THostWindow>();

    for (int n = 1; n <= 8; ++n) Open(host->Handle(), n);
    TTermWindow* term = StandaloneTerminal();
    ASSERT_NE(term, nullptr);
    HWND wnd = term->MainWindow();
    EXPECT_EQ(GetWindow(wnd, GW_OWNER), host->Handle());
    EXPECT_EQ(TextOf(wnd), L"Kestrelink - COM108") << "one window, switched to each port";
    EXPECT_NE(TextOf(FindById(wnd, kIdStatus)).find(L"COM108 - "), std::wstring::npos);
    EXPECT_EQ(SessionStore().size(), 8u);

    Open(host->Handle(), 1);
    term->Model().Feed("first\r\n", 7);
    Open(host->Handle(), 9);  // COM101 let go just now, COM102 the longest ago
    EXPECT_EQ(StandaloneTerminal()->MainWindow(), wnd);
    EXPECT_EQ(SessionStore().size(), 8u);
    EXPECT_FALSE(Stored(u"COM102")) << "the free session released longest ago goes";
    EXPECT_TRUE(Stored(u"COM101") && Stored(u"COM103") && Stored(u"COM109"));
    Open(host->Handle(), 1);
    EXPECT_NE(term->RowText(0).find(u"first"), std::u16string::npos) << "kept output is back";

    // The properties dialog saved this port's settings: the window follows at once.
    WritePrivateProfileStringW(L"Port:COM101", L"Charset", L"1", ini.c_str());
    NotifySettingsChanged(u"Port:COM108");
    EXPECT_EQ(SendMessageW(FindById(wnd, kIdEncoding), CB_GETCURSEL, 0, 0), 0) << "other section";
    NotifySettingsChanged(u"port:com101");
    EXPECT_EQ(SendMessageW(FindById(wnd, kIdEncoding), CB_GETCURSEL, 0, 0), 1);

    // Closing saves the placement in screen coordinates; reopening puts the
    // window exactly there, wherever the work area starts.
    {
        TWorkAreaAtTop taskbar(40);
        MoveWindow(wnd, 210, 160, 700, 500, TRUE);
        SendMessageW(wnd, WM_CLOSE, 0, 0);
        EXPECT_FALSE(IsWindow(wnd));
        ASSERT_EQ(StandaloneTerminal(), term) << "the object outlives its window";
        EXPECT_EQ(term->Session()->Owner, term) << "and keeps its session until the next open";
        EXPECT_EQ(IniValue(ini, L"Window", L"Left"), L"210");
        EXPECT_EQ(IniValue(ini, L"Window", L"Top"), L"160");
        EXPECT_EQ(IniValue(ini, L"Port:COM101", L"Charset"), L"1") << "settings saved on close";
        Open(host->Handle(), 2);
        wnd = StandaloneTerminal()->MainWindow();
        RECT r;
        GetWindowRect(wnd, &r);
        EXPECT_EQ(r.left, 210);
        EXPECT_EQ(r.top, 160);
        EXPECT_EQ(r.right - r.left, 700);
        EXPECT_EQ(r.bottom - r.top, 500);
        if (!taskbar.moved) std::printf("[ info ] the work area could not be moved here\n");
    }

    // The host's main window goes: the terminal goes with it, with no save.
    MoveWindow(wnd, 300, 300, 640, 480, TRUE);
    host.reset();
    EXPECT_FALSE(IsWindow(wnd));
    EXPECT_EQ(IniValue(ini, L"Window", L"Left"), L"210") << "no WM_CLOSE, no placement saved";
    THostWindow next;
    Open(next.Handle(), 3);
    ASSERT_NE(StandaloneTerminal()->MainWindow(), nullptr) << "a new window for the next open";
    SendMessageW(StandaloneTerminal()->MainWindow(), WM_CLOSE, 0, 0);
}

TEST(Lister, KeptSessionsShareOneByteBudget) {
    TTempDir dir;
    SetSettingsPath(U(dir.File(L"kestrelink.ini").c_str()));
    SessionStore().clear();
    THostWindow host;
    // Eight ports at the wrong baud rate: garbage with no line break, wrapped
    // into lines of 4,095 units (4 bytes of store per byte received), each
    // flooded with three quarters of a session's budget.
    const std::string garbage(1 << 20, '#');
    TTermBudgetPool& pool = KeptSessionPool();
    const size_t slack = 8 << 20;  // a block or two per store that cannot shrink further
    for (int n = 1; n <= 8; ++n) {
        Open(host.Handle(), n);
        TTermModel& m = StandaloneTerminal()->Model();
        ASSERT_EQ(m.BudgetPool(), &pool);
        for (size_t fed = 0; fed < kTermLineBudget * 3 / 4 / 4; fed += garbage.size())
            m.Feed(garbage.data(), int32_t(garbage.size()));
        m.Feed("\r\nnewest", 8);
        EXPECT_LE(pool.Total(), pool.Limit() + slack) << "port " << n;
        EXPECT_EQ(m.LineText(m.LineCount() - 1), u"newest");
        EXPECT_EQ(m.LineText(m.LineCount() - 2).find_first_not_of(u'#'), std::u16string::npos);
        EXPECT_GE(m.LineCount(), 2);
    }
    size_t sum = 0;
    for (auto& s : SessionStore()) sum += s->Model->LineStoreBytes();
    EXPECT_EQ(sum, pool.Total()) << "every kept session counts in the pool, and only they";
    EXPECT_LT(SessionStore().size(), kKeptSessions) << "released sessions made room";
    // A new kept session finds a whole session's budget spare.
    Open(host.Handle(), 9);
    EXPECT_TRUE(pool.Fits(kTermLineBudget)) << pool.Total();
    SendMessageW(StandaloneTerminal()->MainWindow(), WM_CLOSE, 0, 0);
}
