// The find bar in a terminal embedded in a stand-in lister window: its keys
// (which the lister never sees), stepping and the count, the current match
// as the selection, Match case, matches highlighted in the text and the hex
// view, matches leaving with the history; and timestamps in the hex view.
#include <windows.h>

#include <string>

#include "gui.h"
#include "term_fixture.h"
#include "termwnd/uFindBar.h"

using namespace kltest;

namespace {

// The colour a cell of the output view is painted in: its top-left pixel,
// the background, away from any glyph. The hex view's rows start below its header.
COLORREF CellColor(TTermWindow& t, int32_t col, int32_t row) {
    const TViewPicture picture(t);
    const int header = t.PortSettings().ViewHex ? t.LineHeight() : 0;
    return picture.At((col - t.FirstColumn()) * t.CharWidth() + 1,
                      header + (row - t.TopRow()) * t.LineHeight() + 1);
}

void Keys(HWND target, WPARAM vk, bool ctrl = false, bool shift = false) {
    SetCtrlDown(ctrl);
    SetShiftDown(shift);
    TypeKey(target, vk);
    SetCtrlDown(false);
    SetShiftDown(false);
}

std::wstring Count(TTermFixture& f) { return TextOf(f.Control(kIdFindCount)); }

}  // namespace

TEST(Find, TextViewKeysStepsSelectionAndHistory) {
    TTermFixture f;
    TTermWindow& t = f.Term();
    TSessionSettings s = DefaultSessionSettings();
    s.Timestamps = true;  // "56.789" stands in every stamp and must never match
    f.Show(0, u"COM3", s);
    f.UseFixedClock();
    f.Feed("boot ok\r\nError 1 at 56.789\r\nall fine\r\nerror 2; ERROR 3\r\n");
    HWND edit = f.Control(kIdEdit), find = f.Control(kIdFindEdit);
    SetFocus(edit);

    // Ctrl+F from the send line opens the bar with the focus in its edit.
    Keys(edit, 'F', true);
    ASSERT_TRUE(IsWindowVisible(find));
    EXPECT_EQ(GetFocus(), find);
    SetWindowTextW(find, L"56.789");
    EXPECT_EQ(Count(f), L"1 of 1") << "the line's text matches, its timestamp does not";
    SetWindowTextW(find, L"error");
    // The match nearest the newest output is current, and selected.
    EXPECT_EQ(Count(f), L"3 of 3");
    EXPECT_EQ(t.SelectedText(), u"ERROR");
    Keys(find, VK_RETURN);
    EXPECT_EQ(Count(f), L"1 of 3") << "Enter goes round to the first";
    EXPECT_EQ(t.SelectedText(), u"Error");
    Keys(find, VK_RETURN, false, true);
    EXPECT_EQ(Count(f), L"3 of 3") << "Shift+Enter";
    Keys(edit, VK_F3);
    EXPECT_EQ(Count(f), L"1 of 3") << "F3 in the send line";
    Keys(f.Output(), VK_F3, false, true);
    EXPECT_EQ(Count(f), L"3 of 3") << "Shift+F3 in the output";
    Keys(f.Output(), VK_F3, false, true);
    EXPECT_EQ(t.SelectedText(), u"error");
    Keys(f.Output(), 'C', true);
    EXPECT_EQ(ClipboardText(), L"error") << "Ctrl+C copies the current match";

    // Current (row 3, "error") and other matches (row 3, "ERROR") in their colours,
    // after the 15 columns of the stamp.
    const int32_t row = t.Model().LineCount() - 2;
    EXPECT_EQ(CellColor(t, kTimestampWidth, row), kFindCurrentBack);
    EXPECT_EQ(CellColor(t, kTimestampWidth + 9, row), kFindMatchBack);
    EXPECT_NE(CellColor(t, 3, row), kFindMatchBack) << "the stamp is not highlighted";

    f.Click(kIdFindCase);
    EXPECT_EQ(Count(f), L"1 of 1") << "Match case";
    EXPECT_EQ(t.SelectedText(), u"error");
    EXPECT_NE(CellColor(t, kTimestampWidth + 9, row), kFindMatchBack);

    // New output updates the count; a current match whose line leaves the
    // history is dropped, not moved onto other text.
    f.Feed("error 4\r\n");
    EXPECT_EQ(Count(f), L"1 of 2");
    std::string flood;
    for (int i = 0; i < 600; ++i) flood += "line " + std::to_string(i) + "\r\n";
    f.Feed(flood);
    EXPECT_EQ(Count(f), L"No matches");
    EXPECT_FALSE(t.HasSelection());
    f.Feed("late error\r\n");
    EXPECT_EQ(Count(f), L"1 matches");
    Keys(f.Output(), VK_F3);
    EXPECT_EQ(t.SelectedText(), u"error");

    // The host's Ctrl+Q still reaches the lister from the bar.
    f.ListerKeys.clear();
    Keys(find, 'Q', true);
    EXPECT_EQ(f.ListerKeys.size(), 2u) << "Ctrl+Q down and up";
    // Esc closes the bar and gives the focus back to the send line.
    SetFocus(find);
    Keys(find, VK_ESCAPE);
    EXPECT_FALSE(IsWindowVisible(find));
    EXPECT_EQ(GetFocus(), edit);
    const COLORREF after = CellColor(t, kTimestampWidth + 5, t.Model().LineCount() - 2);
    EXPECT_TRUE(after != kFindCurrentBack && after != kFindMatchBack) << "no marks once closed";
    // None of the keys the terminal took reached the lister.
    for (const MSG& m : f.ListerKeys)
        EXPECT_TRUE(m.wParam != 'F' && m.wParam != 'C' && m.wParam != VK_F3 &&
                    m.wParam != VK_ESCAPE && m.wParam != VK_RETURN)
            << "key " << m.wParam << " reached the lister";
}

TEST(Find, HexViewAcrossRowsAndTimestamps) {
    TTermFixture f(1400, 500);
    TTermWindow& t = f.Term();
    TSessionSettings s = DefaultSessionSettings();
    s.ViewHex = true;
    s.Timestamps = true;
    f.Show(0, u"COM3", s);
    f.UseFixedClock();
    std::string bytes(40, 'x');
    bytes[23] = '\n';  // the last byte of row 0 (24 a row) ...
    bytes[24] = '\r';  // ... and the first of row 1
    f.Feed(bytes);

    // Each row starts with its stamp, the offset column follows, and the
    // header moves along with them.
    const std::u16string row0 = t.RowText(0), row1 = t.RowText(1), header = t.HexHeaderText();
    EXPECT_EQ(row0.substr(0, 25), u"[12:34:56.789] 00000000  ");
    EXPECT_EQ(row1.substr(0, 25), u"[12:34:56.789] 00000018  ");
    EXPECT_EQ(header.find(u"17 "), row0.find(u"0A "));

    // Opened from the context menu this time.
    HMENU menu = t.BuildContextMenu();
    EXPECT_EQ(GetMenuState(menu, kCmdFind, MF_BYCOMMAND) & MF_GRAYED, 0u);
    DestroyMenu(menu);
    t.RunMenuCommand(kCmdFind);
    ASSERT_TRUE(IsWindowVisible(f.Control(kIdFindEdit)));
    SetWindowTextW(f.Control(kIdFindEdit), L"0a 0");
    EXPECT_EQ(Count(f), L"Hex digit 4 has no pair");
    SetWindowTextW(f.Control(kIdFindEdit), L"0a0d");
    EXPECT_EQ(Count(f), L"1 of 1");
    // Both halves highlighted, in the hex and the character column.
    EXPECT_EQ(CellColor(t, int32_t(row0.find(u"0A ")), 0), kFindCurrentBack);
    EXPECT_EQ(CellColor(t, int32_t(row1.find(u"0D ")), 1), kFindCurrentBack);
    EXPECT_EQ(CellColor(t, int32_t(row0.size()) - 1, 0), kFindCurrentBack) << "char column, row 0";
    EXPECT_EQ(CellColor(t, int32_t(row1.rfind(u"  ") + 2), 1), kFindCurrentBack)
        << "char column, row 1";
    EXPECT_NE(CellColor(t, int32_t(row0.size()) - 2, 0), kFindCurrentBack);
    // The selection runs from the first hex digit to the last, as the rows
    // show them: a copy keeps the second row's stamp and offset.
    Keys(f.Output(), 'C', true);
    const std::u16string copied =
        row0.substr(row0.find(u"0A ")) + u"\r\n" + row1.substr(0, row1.find(u"0D ") + 2);
    EXPECT_EQ(ClipboardText(), std::wstring(copied.begin(), copied.end()));
}

TEST(Find, SwitchingViewsKeepsTheSameBytesInView) {
    TTermFixture f;
    TTermWindow& t = f.Term();
    TSessionSettings s = DefaultSessionSettings();
    f.Show(0, u"COM3", s);
    double now = 45000.0;
    t.Model().Clock = [&] { return now += 1.0 / 86400; };  // each read a second later
    for (int i = 0; i < 100; ++i)
        f.Feed("line " + std::to_string(1000 + i) + " of the boot log..\r\n");
    SendMessageW(f.Output(), WM_VSCROLL, SB_TOP, 0);
    for (int i = 0; i < 50; ++i) SendMessageW(f.Output(), WM_VSCROLL, SB_LINEDOWN, 0);
    ASSERT_EQ(t.RowText(t.TopRow()).substr(0, 9), u"line 1050");
    f.Choose(kIdView, 1);
    // The line's first bytes are in the top hex row's character column (or
    // run on into the next row's).
    std::u16string chars;
    for (int32_t row : {t.TopRow(), t.TopRow() + 1})
        chars += t.RowText(row).substr(t.RowText(row).size() - 24);
    EXPECT_NE(chars.find(u"line 1050"), std::u16string::npos)
        << std::string(chars.begin(), chars.end());
    // Back in text the top line holds the top hex row's first byte: 1050 or the one before.
    f.Choose(kIdView, 0);
    const int32_t top = t.TopRow();
    EXPECT_TRUE(t.RowText(top).starts_with(u"line 1050") ||
                t.RowText(top + 1).starts_with(u"line 1050"));
}
