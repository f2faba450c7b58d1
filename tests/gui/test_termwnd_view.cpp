// The output view: scrolling and autoscroll, selection and copy in the text
// and hex views, the selection while the history streams past, colours on the
// character grid, one repaint per burst, the settings followed on the
// one-second tick, and a paint that fails.
#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "gui.h"
#include "settings/uSettings.h"
#include "term_fixture.h"

using namespace kltest;

namespace {

std::vector<int> Bar(HWND hwnd, int bar) {
    SCROLLINFO si = {};
    si.cbSize = sizeof si;
    si.fMask = SIF_ALL;
    GetScrollInfo(hwnd, bar, &si);
    return {si.nPos, si.nMax, int(si.nPage)};
}

std::string Lines(int from, int to) {
    std::string s;
    for (int i = from; i < to; ++i) s += "line " + std::to_string(i) + "\r\n";
    return s;
}

// A mouse drag over the output view from one cell to another.
void Drag(TTermFixture& f, int col0, int row0, int col1, int row1) {
    const int cw = f.Term().CharWidth(), lh = f.Term().LineHeight();
    auto at = [&](int c, int r) { return MAKELPARAM(c * cw + cw / 4, r * lh + lh / 2); };
    SendMessageW(f.Output(), WM_LBUTTONDOWN, MK_LBUTTON, at(col0, row0));
    SendMessageW(f.Output(), WM_MOUSEMOVE, MK_LBUTTON, at(col1, row1));
    SendMessageW(f.Output(), WM_LBUTTONUP, 0, at(col1, row1));
}

}  // namespace

TEST(TermView, ScrollingWheelAndAutoscroll) {
    TTermFixture f;
    TTermWindow& t = f.Term();
    HWND out = f.Output();
    auto after = [&](UINT msg, WPARAM wp) {  // the row or, sideways, the column then shown
        SendMessageW(out, msg, wp, 0);
        const bool sideways = msg == WM_HSCROLL || (msg == WM_MOUSEWHEEL && LOWORD(wp) == MK_SHIFT);
        return sideways ? t.FirstColumn() : t.TopRow();
    };
    f.Feed(Lines(0, 300));
    RECT rc;
    GetClientRect(out, &rc);
    const int visible = rc.bottom / t.LineHeight(), last = 301 - visible;  // 300 + the open line
    EXPECT_EQ(t.TopRow(), last);
    EXPECT_EQ(Bar(out, SB_VERT), (std::vector<int>{last, 300, visible}));

    // Scrolling up turns autoscroll off, so new data leaves the view alone; the
    // wheel moves three rows a notch and nothing for less; Ctrl+End turns it on.
    const int up = last - visible + 1;
    EXPECT_EQ(after(WM_VSCROLL, SB_PAGEUP), up);
    EXPECT_FALSE(IsDlgButtonChecked(f.Main(), kIdAutoscroll));
    f.Feed(Lines(300, 310));
    EXPECT_EQ((std::vector<int>{t.TopRow(), after(WM_MOUSEWHEEL, MAKEWPARAM(0, 240)),
                                after(WM_MOUSEWHEEL, MAKEWPARAM(0, 60)),
                                after(WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(-360)))}),
              (std::vector<int>{up, up - 6, up - 6, up + 3}));
    SetCtrlDown(true);
    TypeKey(out, VK_HOME);
    const int home = t.TopRow();
    TypeKey(out, VK_END);
    SetCtrlDown(false);
    EXPECT_TRUE(home == 0 && t.TopRow() == t.LastTopRow());
    EXPECT_TRUE(IsDlgButtonChecked(f.Main(), kIdAutoscroll));

    // A line wider than the view brings the horizontal bar, and the last line
    // stays in view above it; sideways scrolling leaves autoscroll alone.
    f.Feed(std::string(400, 'w') + "\r\nend");
    GetClientRect(out, &rc);
    const int rows = rc.bottom / t.LineHeight(), cols = rc.right / t.CharWidth();
    EXPECT_EQ(Bar(out, SB_VERT), (std::vector<int>{312 - rows, 311, rows}));
    EXPECT_EQ(Bar(out, SB_HORZ), (std::vector<int>{0, 400, cols}));
    EXPECT_EQ((std::vector<int>{
                  after(WM_HSCROLL, SB_LINERIGHT), after(WM_MOUSEWHEEL, MAKEWPARAM(MK_SHIFT, -120)),
                  after(WM_HSCROLL, SB_RIGHT), after(WM_MOUSEWHEEL, MAKEWPARAM(MK_SHIFT, 120))}),
              (std::vector<int>{1, 1 + cols, 401 - cols, 401 - 2 * cols}));
    EXPECT_TRUE(t.PortSettings().Autoscroll);

    SendMessageW(f.Main(), WM_COMMAND, MAKEWPARAM(kIdClear, BN_CLICKED), 0);
    EXPECT_EQ(t.TotalRows() + t.TopRow() + t.FirstColumn(), 1);
}

TEST(TermView, SelectionCopiedExactlyInTextAndHexViews) {
    TTermFixture f;
    TTermWindow& t = f.Term();
    TSessionSettings s = DefaultSessionSettings();
    s.Timestamps = true;
    f.Show(0, u"COM4", s);
    f.UseFixedClock();
    f.Feed("alpha\r\n\x1b[31mbravo\x1b[0m charlie\r\ndelta");
    HMENU menu = t.BuildContextMenu();
    EXPECT_TRUE(GetMenuState(menu, kCmdCopy, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_EQ(GetMenuItemID(menu, 1), UINT(kCmdSelectAll));
    EXPECT_EQ(GetMenuItemID(menu, 2), UINT(kCmdFind));
    EXPECT_EQ(GetMenuItemID(menu, 4), UINT(kCmdClearOutput));
    DestroyMenu(menu);

    // Drag from column 17 of the first row to column 20 of the second; with
    // nothing selected Ctrl+C leaves the clipboard as it was.
    Drag(f, 17, 0, 20, 1);
    EXPECT_EQ(GetCapture(), nullptr);
    SetFocus(f.Output());
    SetCtrlDown(true);
    TypeKey(f.Output(), 'C');
    Drag(f, 3, 1, 3, 1);
    TypeKey(f.Output(), 'C');
    SetCtrlDown(false);
    EXPECT_FALSE(t.HasSelection());
    EXPECT_EQ(ClipboardText(), L"pha\r\n[12:34:56.789] bravo");
    t.RunMenuCommand(kCmdSelectAll);
    t.RunMenuCommand(kCmdCopy);
    EXPECT_EQ(ClipboardText(),
              L"[12:34:56.789] alpha\r\n[12:34:56.789] bravo charlie\r\n[12:34:56.789] delta");

    // Hex view: rows of 24 bytes, each after the stamp of its first byte, under
    // a header row (a click lands one row lower).
    f.Choose(kIdView, 1);
    t.RunMenuCommand(kCmdSelectAll);
    t.RunMenuCommand(kCmdCopy);
    const std::wstring hex = ClipboardText();
    EXPECT_EQ(hex.substr(0, 40), L"[12:34:56.789] 00000000  61 6C 70 68 61 ");
    EXPECT_EQ(hex.find(L"\r\n[12:34:56.789] 00000018  61 72 6C 69 65 0D 0A 64"),
              hex.rfind(L"\r\n"));
    EXPECT_EQ(hex.substr(hex.size() - 12), L"arlie..delta") << "two rows, ASCII column last";
    Drag(f, 15, 1, 23, 1);
    EXPECT_EQ(t.SelectedText(), u"00000000");
    // Back in the text view the same positions hold, cut to the row's text.
    Drag(f, 60, 0, 60, 2);
    f.Choose(kIdView, 0);
    EXPECT_EQ(t.SelectedText(), u"\r\n[12:34:56.789] bravo charlie");
    t.ClearOutput();
    EXPECT_EQ(t.SelectedText(), u"");
}

TEST(TermView, SelectionFollowsItsTextAndMouseEdges) {
    TTermFixture f;
    TTermWindow& t = f.Term();
    TSessionSettings s = DefaultSessionSettings();
    s.Autoscroll = false;
    f.Show(1, u"follow", s);
    t.Model().SetHistoryLines(100);  // 100 lines and the open one
    f.Feed("host 192.168.1.10:8080 (up)\r\n" + Lines(1, 41));
    const int cw = t.CharWidth(), lh = t.LineHeight();
    auto at = [&](int c, int row) {
        return MAKELPARAM(c * cw + cw / 4, (row - t.TopRow()) * lh + lh / 2);
    };
    auto mouse = [&](UINT msg, int c, int row) {
        SendMessageW(f.Output(), msg, msg == WM_LBUTTONUP ? 0 : MK_LBUTTON, at(c, row));
    };

    // A double-click takes the word with its dots and colon; a drag that
    // follows at once extends it.
    mouse(WM_LBUTTONDOWN, 9, 0);
    mouse(WM_LBUTTONUP, 9, 0);
    mouse(WM_LBUTTONDBLCLK, 9, 0);
    EXPECT_EQ(t.SelectedText(), u"192.168.1.10:8080");
    mouse(WM_MOUSEMOVE, 2, 1);
    EXPECT_EQ(t.SelectedText(), u"192.168.1.10:8080 (up)\r\nli");
    // Another window taking the mouse ends the drag: moves no longer select.
    HWND other =
        CreateWindowW(L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    SetCapture(other);
    ReleaseCapture();
    DestroyWindow(other);
    mouse(WM_MOUSEMOVE, 4, 3);
    EXPECT_EQ(t.SelectedText(), u"192.168.1.10:8080 (up)\r\nli");
    mouse(WM_LBUTTONUP, 4, 3);

    // Old lines leave while the selection stands: it stays on its text, and
    // the view on what it showed; once its first line has left, it is gone.
    for (int i = 0; i < 8; ++i) SendMessageW(f.Output(), WM_VSCROLL, SB_LINEDOWN, 0);
    ASSERT_GE(t.TopRow(), 5);
    mouse(WM_LBUTTONDOWN, 0, 10);
    mouse(WM_MOUSEMOVE, 7, 10);
    mouse(WM_LBUTTONUP, 7, 10);
    const std::u16string shown = t.RowText(t.TopRow());
    EXPECT_EQ(t.SelectedText(), u"line 10");
    f.Feed(Lines(100, 164));  // 106 rows: the first five leave
    EXPECT_EQ(t.TotalRows(), 101);
    EXPECT_EQ(t.SelectedText(), u"line 10");
    EXPECT_EQ(t.RowText(t.TopRow()), shown);
    f.Feed(Lines(164, 170));
    EXPECT_FALSE(t.HasSelection());

    // A paint that fails ends the session with a status text; the window and
    // the process go on and paint again once the fault is gone.
    TTermWindowTestAccess::SetFaultProbe([](TTermWindowTestAccess::TFaultSite site) {
        if (site == TTermWindowTestAccess::TFaultSite::Paint) throw std::bad_alloc();
    });
    InvalidateRect(f.Output(), nullptr, FALSE);
    UpdateWindow(f.Output());
    TTermWindowTestAccess::SetFaultProbe(nullptr);
    EXPECT_NE(TextOf(f.Control(kIdStatus)).find(L"internal error"), std::wstring::npos)
        << TextOf(f.Control(kIdStatus));
    RECT dirty;
    EXPECT_FALSE(GetUpdateRect(f.Output(), &dirty, FALSE)) << "no paint loop";
    InvalidateRect(f.Output(), nullptr, FALSE);
    UpdateWindow(f.Output());
    EXPECT_FALSE(GetUpdateRect(f.Output(), &dirty, FALSE));
}

TEST(TermView, ColoursOnTheCharacterGrid) {
    // Text colour black: uncoloured ANSI text must still show light grey. Small
    // cells (yet with glyphs in full colour), so more than 4104 fit in a window.
    HDC screen = GetDC(nullptr);
    const bool large = GetDeviceCaps(screen, LOGPIXELSY) > 96;
    ReleaseDC(nullptr, screen);
    TTermFixture f(1000, 640,
                   std::string("[Plugin]\r\nTerminalTextColor=#000000\r\nTerminalFontSize=") +
                       (large ? "6" : "7"));
    TTermWindow& t = f.Term();
    f.Feed(
        " .\x1b[41mi\x1b[0m\r\n"               // 0: red background on column 2
        "\x1b[1;31;7mX\x1b[0m\r\n"             // 1: bold red inverse: palette 9
        "\x1b[7mD\x1b[0m\r\n"                  // 2: default inverse: 204,204,204
        "\x1b[1;39;7mB\x1b[91;7mC\x1b[0m\r\n"  // 3: bright red stays bright when bold
        "\x1b[32mM\x1b[0m \x1b[31mM\x1b[0m");  // 4: green, a blank, red
    const int cw = t.CharWidth(), lh = t.LineHeight();
    const COLORREF bg = RGB(12, 12, 12), red = RGB(197, 15, 31), green = RGB(19, 161, 14);
    auto inks = [&](const TViewPicture& p, int col, int row, COLORREF c) {  // in one cell
        int n = 0;
        for (int i = 0; i < cw * lh; ++i) n += p.At(col * cw + i % cw, row * lh + i / cw) == c;
        return n;
    };
    {
        TViewPicture p(t);
        auto cell = [&](int col, int row) { return p.At(col * cw, row * lh); };
        EXPECT_EQ((std::vector<COLORREF>{cell(1, 0), cell(2, 0), p.At(3 * cw - 1, lh - 1),
                                         p.At(3 * cw, 0), cell(0, 1), cell(0, 2), cell(1, 3),
                                         cell(0, 9)}),
                  (std::vector<COLORREF>{bg, red, red, bg, RGB(231, 72, 86), RGB(204, 204, 204),
                                         RGB(231, 72, 86), bg}));
        EXPECT_TRUE(inks(p, 0, 4, green) && inks(p, 2, 4, red));
        EXPECT_EQ(
            inks(p, 0, 4, red) + inks(p, 1, 4, red) + inks(p, 1, 4, green) + inks(p, 2, 4, green),
            0);
    }
    // The longest row (timestamp and a full line in the timestamp's colour, one
    // run) in a view wider than the advance array still lands on the grid.
    f.Click(kIdTimestamps);
    f.Feed("\r\n\x1b[90m" + std::string(kTermMaxLineUnits, 'M'));
    f.Resize((kAdvanceCount + 12) * cw, 300);
    {
        const TViewPicture p(t);
        const int row = 5 - t.TopRow(), last = kTimestampWidth + kTermMaxLineUnits - 1;
        EXPECT_GT(inks(p, last, row, RGB(118, 118, 118)), 0);
        EXPECT_EQ(inks(p, last + 1, row, bg), cw * lh);
    }
    f.Click(kIdTimestamps);
    t.SelectAll();
    EXPECT_EQ(TViewPicture(t).At(2 * cw, 0), RGB(51, 102, 170)) << "selection over any colour";
    f.Click(kIdAnsi);
    EXPECT_EQ(TViewPicture(t).At(0, lh), bg) << "without ANSI colours the configured pair";

    // Hex view: the header stays on top while rows scroll, and moves sideways.
    f.Choose(kIdView, 1);
    f.Feed(std::string(2000, 'A'));
    f.Resize(400, 640);
    SendMessageW(f.Output(), WM_HSCROLL, SB_RIGHT, 0);
    EXPECT_TRUE(t.TopRow() > 0 && t.FirstColumn() > 0);
    const TViewPicture p(t);
    int ink = 0;
    for (int x = 0; x < p.Width(); ++x) ink += p.At(x, lh / 2) != bg;
    EXPECT_GT(ink, 0) << "header drawn, scrolled sideways";
}

namespace {
int g_paints = 0;
// CALLBACK: on i386 a lambda does not convert to a subclass procedure.
LRESULT CALLBACK CountPaints(HWND h, UINT m, WPARAM w, LPARAM l, UINT_PTR, DWORD_PTR) {
    g_paints += m == WM_PAINT;
    return DefSubclassProc(h, m, w, l);
}
}  // namespace

TEST(TermView, BurstPaintsOnceAndSettingsFollowTheTick) {
    TTermFixture f;
    TTermWindow& t = f.Term();
    UpdateWindow(f.Output());
    SetWindowSubclass(f.Output(), CountPaints, 1, 0);
    g_paints = 0;
    for (int i = 0; i < 50; ++i) {
        t.Model().Feed("burst\r\n", 7);
        t.ShowNewOutput();
    }
    EXPECT_EQ(g_paints, 0) << "nothing g_paints outside WM_PAINT";
    PumpFor(100);
    EXPECT_EQ(g_paints, 1);
    RemoveWindowSubclass(f.Output(), CountPaints, 1);

    // Font, colours and hex width come from the settings on the one-second tick;
    // a change of the name's letter case alone rebuilds the font too.
    const int height = t.LineHeight();
    const HGDIOBJ oldFont = TTermWindowTestAccess::GdiObjects(t)[1];
    ASSERT_TRUE(WriteFontSettings(u"Consolas", 20));
    SendMessageW(f.Main(), WM_TIMER, kTimerSettings, 0);
    EXPECT_TRUE(t.LineHeight() > height && GetObjectType(oldFont) == 0);
    const HGDIOBJ big = TTermWindowTestAccess::GdiObjects(t)[1];
    ASSERT_TRUE(WriteFontSettings(u"consolas", 20));
    SendMessageW(f.Main(), WM_TIMER, kTimerSettings, 0);
    EXPECT_NE(TTermWindowTestAccess::GdiObjects(t)[1], big);

    // A new hex width keeps roughly the same bytes in view.
    f.Click(kIdAutoscroll);
    f.Choose(kIdView, 1);
    f.Feed(std::string(24 * 400, 'h'));
    SendMessageW(f.Output(), WM_VSCROLL, SB_TOP, 0);
    for (int i = 0; i < 20; ++i) SendMessageW(f.Output(), WM_VSCROLL, SB_LINEDOWN, 0);
    ASSERT_TRUE(WriteAppearance(0x0C0C0C, 0xCCCCCC, 8));
    SendMessageW(f.Main(), WM_TIMER, kTimerSettings, 0);
    EXPECT_EQ(t.TopRow(), 60);
    EXPECT_EQ(t.RowText(60).substr(0, 8), u"000001E0");
}
