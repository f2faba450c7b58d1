#include "dialogs/uGeneralPage.h"

#include <shlobj.h>

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
    {kIdLogFolderLabel, TCtl::Label, 12, 100, 200, 20,
     [] { return Tr("general.log_folder", u"Log folder"); }},
    {kIdLogFolder, TCtl::Edit, 218, 96, 222, 24},
    {kIdLogBrowse, TCtl::Button, 446, 95, 82, 26,
     [] { return Tr("action.browse", u"Browse\u2026"); }},
    {kIdLogFormatLabel, TCtl::Label, 12, 140, 200, 20,
     [] { return Tr("general.log_format", u"Log format"); }},
    {kIdLogFormat, TCtl::DropList, 218, 136, 310, 150},
    {kIdGeneralHint, TCtl::Label, 12, 176, 534, 40,
     [] {
         return Tr("general.hint",
                   u"Theme changes apply immediately. Restart Total Commander "
                   u"after changing the language.");
     }},
    {kIdGeneralSave, TCtl::Button, 12, 220, 100, 26, [] { return Tr("action.save", u"Save"); }},
    {kIdGeneralStatus, TCtl::Label, 12, 254, 534, 40},
};

// Index = the stored LogFormat.
constexpr TTextFn kLogFormats[] = {
    [] { return Tr("log.format_text", u"Text with timestamps"); },
    [] { return Tr("log.format_raw", u"Raw bytes"); },
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

    std::u16string folder;
    int32_t format = kLogFormatText;
    ReadLogSettings(folder, format);
    SendMessageW(Control(m, kIdLogFolder), EM_LIMITTEXT, kMaxLogFolderLength, 0);
    SetFieldText(Control(m, kIdLogFolder), folder);
    HWND formats = Control(m, kIdLogFormat);
    AddComboItems(formats, kLogFormats);
    SendMessageW(formats, CB_SETCURSEL, WPARAM(format), 0);
}

void SaveGeneralPage(TManager& m) {
    const int language = ComboSelection(Control(m, kIdLanguage));
    const int theme = ComboSelection(Control(m, kIdTheme));
    const int format = ComboSelection(Control(m, kIdLogFormat));
    if (language < 0 || size_t(language) >= m.Languages.size() || theme < 0 ||
        size_t(theme) >= std::size(kThemes) || format < 0 ||
        size_t(format) >= std::size(kLogFormats))
        return;
    // Checked before anything is written, so a refused folder changes nothing.
    const std::u16string folder = FieldText(Control(m, kIdLogFolder));
    if (!IsValidLogFolder(folder)) {
        ShowError(m.Dialog,
                  TrFmt("error.log_folder", u"The log folder is not a valid path: {0}", {folder}));
        return;
    }
    if (!WriteGeneralSettings(m.Languages[size_t(language)].Code, kThemes[theme].Stored) ||
        !WriteLogSettings(folder, format)) {
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

namespace {

// Starts the chooser at the folder the field names now, where it exists.
int CALLBACK BrowseCallback(HWND hwnd, UINT msg, LPARAM, LPARAM data) {
    return Guarded(
        [&] {
            if (msg == BFFM_INITIALIZED) SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, data);
            return 0;
        },
        [](TFault) {}, 0);
}

}  // namespace

void BrowseLogFolder(TManager& m) {
    HWND field = Control(m, kIdLogFolder);
    const std::u16string start = ResolveLogFolder(SettingsPath(), FieldText(field));
    const std::u16string title = Tr("general.log_browse", u"Choose the folder for the log files");
    BROWSEINFOW bi = {};
    bi.hwndOwner = m.Dialog;
    bi.lpszTitle = W(title);
    bi.ulFlags = BIF_RETURNONLYFSDIRS;
    bi.lpfn = BrowseCallback;
    bi.lParam = reinterpret_cast<LPARAM>(W(start));
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&bi);
    if (!chosen) return;
    wchar_t path[MAX_PATH] = {};
    const bool ok = SHGetPathFromIDListW(chosen, path);
    ILFree(chosen);
    if (ok) SetFieldText(field, U(path));
}
