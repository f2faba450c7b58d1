// The manager's Font, Appearance and General tabs: what they list, preview,
// refuse and store.
#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <algorithm>
#include <set>

#include "conndlg_fixture.h"
#include "dialog_driver.h"
#include "dialogs/uAppearancePage.h"
#include "i18n/uI18n.h"

using namespace kltest;

namespace {

using ConnDlgPages = TConnDlgTest;

LOGFONTW FontOf(HWND control) {
    LOGFONTW lf = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof lf, &lf);
    return lf;
}

// The brush and the text colour the colour preview gets when it asks its page.
std::pair<COLORREF, COLORREF> PreviewColors(HWND d) {
    HWND preview = Item(d, 266);
    HDC dc = CreateCompatibleDC(nullptr);
    LOGBRUSH lb = {};
    GetObjectW(reinterpret_cast<HBRUSH>(SendMessageW(GetParent(preview), WM_CTLCOLORSTATIC,
                                                     reinterpret_cast<WPARAM>(dc),
                                                     reinterpret_cast<LPARAM>(preview))),
               sizeof lb, &lb);
    const COLORREF text = GetTextColor(dc);
    DeleteDC(dc);
    return {lb.lbColor, text};
}

}  // namespace

TEST_F(ConnDlgPages, FontTabListsTerminalFontsPreviewsAndSavesValidChoices) {
    Write("[Plugin]\r\nTerminalFontName=Not Installed Mono\r\nTerminalFontSize=11\r\n");
    HDC dc = GetDC(host_.Handle());
    const int dpi = std::max(96, GetDeviceCaps(dc, LOGPIXELSX));
    ReleaseDC(host_.Handle(), dc);
    const std::wstring refused = L"Choose a font and a size from 6 to 72 pt.";
    Run([&](HWND d) {
        HWND combo = Item(d, 241), size = Item(d, 242), preview = Item(d, 243);
        const auto fonts = ItemsOf(combo);
        std::set<std::wstring> once;
        for (auto f : fonts) {
            EXPECT_NE(f[0], L'@') << "vertical font listed";
            EXPECT_TRUE(once.insert(CharUpperW(f.data())).second) << "a family listed twice";
        }
        EXPECT_EQ(std::count(fonts.begin(), fonts.end(), L"Tahoma"), 0) << "proportional";
        // The stored font shows and previews even though it is not installed.
        EXPECT_EQ(TextOf(combo), L"Not Installed Mono");
        EXPECT_EQ(std::wstring(FontOf(preview).lfFaceName), L"Not Installed Mono");
        EXPECT_EQ(FontOf(preview).lfHeight, -MulDiv(11, dpi, 72));
        EXPECT_EQ(SendMessageW(Item(d, 266), WM_GETFONT, 0, 0),
                  SendMessageW(preview, WM_GETFONT, 0, 0));
        ASSERT_FALSE(fonts.empty());
        SelectIndex(combo, 0);
        EXPECT_EQ(TextOf(combo), fonts[0]) << "a chosen font becomes the text";

        // An empty size previews at 10 pt (the replaced font is gone) but is refused.
        const auto before = reinterpret_cast<HGDIOBJ>(SendMessageW(preview, WM_GETFONT, 0, 0));
        SetTextOf(size, L"");
        EXPECT_EQ(FontOf(preview).lfHeight, -MulDiv(10, dpi, 72));
        EXPECT_EQ(GetObjectType(before), 0u);
        EXPECT_EQ(ClickForBox(Item(d, 244)), refused);
        SetTextOf(size, L"12");
        SetTextOf(combo, std::wstring(32, L'F'));
        EXPECT_EQ(ClickForBox(Item(d, 244)), refused);
        SetTextOf(combo, L" " + std::wstring(31, L'F') + L" ");
        Press(Item(d, 244));
        EXPECT_EQ(Value(L"Plugin", L"TerminalFontName") + Value(L"Plugin", L"TerminalFontSize"),
                  std::wstring(31, L'F') + L"12");
        EXPECT_EQ(TextOf(Item(d, 248)), L"Saved. Font applies to all terminals.");
    });
}

TEST_F(ConnDlgPages, AppearanceTabPreviewsPicksAndSavesColorsAndHexWidth) {
    const std::wstring badColor = L"Enter colors as #RRGGBB or use the color picker.";
    Run([&](HWND d) {
        HWND back = Item(d, 260), text = Item(d, 262), hex = Item(d, 264);
        EXPECT_EQ(TextOf(back) + TextOf(text) + TextOf(hex), L"#0C0C0C#CCCCCC24");
        SetTextOf(back, L"#0a0b0c");
        EXPECT_EQ(PreviewColors(d), std::pair(RGB(10, 11, 12), RGB(0xCC, 0xCC, 0xCC)));
        SetTextOf(text, L"#12345");  // the preview keeps its last valid colours
        EXPECT_EQ(PreviewColors(d).second, RGB(0xCC, 0xCC, 0xCC));

        SetTextOf(hex, L"0");
        EXPECT_EQ(ClickForBox(Item(d, 267)), badColor) << "the colour is told first";
        EXPECT_TRUE(NoBoxFollows()) << "and only the colour";
        SetTextOf(text, L"#Ff8000");
        for (const wchar_t* bad : {L"0", L"65", L""}) {
            SetTextOf(hex, bad);
            EXPECT_EQ(ClickForBox(Item(d, 267)), L"Enter 1 to 64 bytes per hex line.") << bad;
        }
        EXPECT_EQ(Value(L"Plugin", L"HexBytesPerLine"), L"\x1") << "nothing written yet";
        SetTextOf(hex, L"64");
        Press(Item(d, 267));
        EXPECT_EQ(Value(L"Plugin", L"TerminalBackground") + Value(L"Plugin", L"TerminalTextColor") +
                      Value(L"Plugin", L"HexBytesPerLine"),
                  L"#0A0B0C#FF800064");
        EXPECT_EQ(TextOf(Item(d, 268)), L"Saved. Applies to all terminals.");

        // The picker starts from the field's colour, gives it back in upper
        // case and keeps its custom colours in the table; Cancel changes nothing.
        SetTextOf(back, L"#a1b2c3");
        Click(Item(d, 261));
        HWND picker = WaitForWindow(L"#32770", 5000, d);
        SendMessageW(picker, WM_COMMAND, 712, 0);  // "Add to Custom Colors"
        SendMessageW(picker, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(PumpUntil([&] { return TextOf(back) == L"#A1B2C3"; }, 5000));
        EXPECT_EQ(CustomColors()[0], RGB(0xA1, 0xB2, 0xC3));
        Click(Item(d, 263));
        SendMessageW(WaitForWindow(L"#32770", 5000, d), WM_COMMAND, IDCANCEL, 0);
        EXPECT_TRUE(PumpUntil([&] { return !WaitForWindow(L"#32770", 0, d); }, 5000));
        EXPECT_EQ(TextOf(text), L"#Ff8000");
    });
}

TEST_F(ConnDlgPages, GeneralTabOffersTheCatalogsAndStoresLanguageAndTheme) {
    Write("[Plugin]\r\nLanguage=xx\r\nTheme=dark\r\n");
    const TLanguageList languages = GetLanguages(true);
    Run([&](HWND d) {
        for (int i = 0; i < 4; ++i) {  // each tab shows its own page only
            SelectTab(Item(d, kIdConnTabs), i);
            for (int p = 0; p < 4; ++p) EXPECT_EQ(IsWindowVisible(Item(d, 250 + p)) != 0, p == i);
        }
        HWND language = Item(d, 280), theme = Item(d, 281);
        std::vector<std::wstring> names;
        for (const auto& l : languages) names.push_back(W(l.Name));
        EXPECT_EQ(ItemsOf(language), names);
        EXPECT_EQ(ItemsOf(theme),
                  (std::vector<std::wstring>{L"Follow Total Commander", L"Light", L"Dark"}));
        EXPECT_EQ(SendMessageW(language, CB_GETCURSEL, 0, 0), 0) << "unknown code: the first";
        EXPECT_EQ(SendMessageW(theme, CB_GETCURSEL, 0, 0), 2);
        Press(Item(d, 282));
        EXPECT_EQ(Value(L"Plugin", L"Language") + Value(L"Plugin", L"Theme"),
                  W(languages[0].Code) + std::wstring(L"dark"));
        EXPECT_EQ(TextOf(Item(d, 283)),
                  L"Saved. Restart Total Commander to apply the language everywhere.");

        const auto de = std::find_if(languages.begin(), languages.end(),
                                     [](const TLanguageInfo& l) { return l.Code == u"de"; });
        SelectIndex(language, int(de - languages.begin()));
        SelectIndex(theme, 0);
        Press(Item(d, 282));
        EXPECT_EQ(Value(L"Plugin", L"Language") + Value(L"Plugin", L"Theme"), L"deauto");
        EXPECT_EQ(TextOf(Item(d, 282)), L"Save") << "the open manager is not translated again";
    });
}

TEST_F(ConnDlgPages, GeneralTabStoresTheLogFolderAndFormatOnlyWhenValid) {
    Write("[Plugin]\r\nLogFolder= D:\\captures \r\nLogFormat=7\r\n");
    Run([&](HWND d) {
        HWND folder = Item(d, 288), format = Item(d, 291);
        EXPECT_EQ(TextOf(folder), L"D:\\captures");
        EXPECT_EQ(ItemsOf(format),
                  (std::vector<std::wstring>{L"Text with timestamps", L"Raw bytes"}));
        EXPECT_EQ(SendMessageW(format, CB_GETCURSEL, 0, 0), 0) << "an unknown format reads as text";

        SetTextOf(folder, L"logs|2");
        EXPECT_EQ(ClickForBox(Item(d, 282)), L"The log folder is not a valid path: logs|2");
        EXPECT_EQ(Value(L"Plugin", L"Theme"), L"\x1") << "a refused folder writes nothing";

        SetTextOf(folder, L"  ");
        SelectIndex(format, 1);
        Press(Item(d, 282));
        EXPECT_EQ(Value(L"Plugin", L"LogFolder") + Value(L"Plugin", L"LogFormat"), L"logs1")
            << "an empty folder stores the default";
    });
}
