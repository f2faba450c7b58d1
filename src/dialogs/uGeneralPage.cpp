#include "dialogs/uGeneralPage.h"

#include "base/uWin.h"
#include "dialogs/uMsgBox.h"
#include "dialogs/uTheme.h"
#include "settings/uSettings.h"

namespace {

constexpr TControlDef kGeneralControls[] = {
    {kIdLanguageLabel, TCtl::Label, 12, 20, 200, 20,
     [] { return Tr("general.language", u"Interface language"); }},
    {kIdLanguage, TCtl::DropList, 218, 16, 310, 150},
    {kIdThemeLabel, TCtl::Label, 12, 60, 200, 20,
     [] { return Tr("general.theme", u"Dialog theme"); }},
    {kIdTheme, TCtl::DropList, 218, 56, 310, 150},
    {kIdGeneralHint, TCtl::Label, 12, 110, 534, 60,
     [] {
         return Tr("general.hint",
                   u"Theme changes apply immediately. Restart Total Commander "
                   u"after changing the language.");
     }},
    {kIdGeneralSave, TCtl::Button, 12, 202, 100, 26, [] { return Tr("action.save", u"Save"); }},
    {kIdGeneralStatus, TCtl::Label, 12, 238, 534, 42},
};

struct TThemeItem {
    TTextFn Text;
    const char16_t* Stored;
};

constexpr TThemeItem kThemes[] = {
    {[] { return Tr("theme.auto", u"Follow Total Commander"); }, u"auto"},
    {[] { return Tr("theme.light", u"Light"); }, u"light"},
    {[] { return Tr("theme.dark", u"Dark"); }, u"dark"},
};

int LanguageIndex(const TLanguageList& languages, const std::u16string& code) {
    for (size_t i = 0; i < languages.size(); ++i)
        if (languages[i].Code == code) return int(i);
    return 0;
}

int ThemeIndex(const std::u16string& theme) {
    for (size_t i = 1; i < std::size(kThemes); ++i)
        if (theme == kThemes[i].Stored) return int(i);
    return 0;
}

}  // namespace

void BuildGeneralPage(TManager& m) {
    CreateControls(m, m.Pages[kPageGeneral], kGeneralControls);
    m.Languages = GetLanguages(true);  // the languages folder is scanned again
    HWND language = Control(m, kIdLanguage);
    for (const auto& l : m.Languages)
        SendMessageW(language, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(l.Name)));
    HWND theme = Control(m, kIdTheme);
    for (const auto& t : kThemes)
        SendMessageW(theme, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(t.Text())));

    std::u16string storedLanguage, storedTheme;
    ReadGeneralSettings(storedLanguage, storedTheme);
    SendMessageW(language, CB_SETCURSEL, WPARAM(LanguageIndex(m.Languages, storedLanguage)), 0);
    SendMessageW(theme, CB_SETCURSEL, WPARAM(ThemeIndex(storedTheme)), 0);
}

void SaveGeneralPage(TManager& m) {
    const int language = ComboSelection(Control(m, kIdLanguage));
    const int theme = ComboSelection(Control(m, kIdTheme));
    if (language < 0 || size_t(language) >= m.Languages.size() || theme < 0 ||
        size_t(theme) >= std::size(kThemes))
        return;
    if (!WriteGeneralSettings(m.Languages[size_t(language)].Code, kThemes[theme].Stored)) {
        const DWORD error = GetLastError();
        ShowError(m.Dialog, TrFmt("error.save_interface", u"Could not save interface settings: {0}",
                                  {SystemMessage(error)}));
        return;
    }
    m.Dark = DecideDark(GetWindow(m.Dialog, GW_OWNER));
    ApplyTheme(m.Dialog, m.Dark);
    SetFieldText(
        Control(m, kIdGeneralStatus),
        Tr("general.saved", u"Saved. Restart Total Commander to apply the language everywhere."));
}
