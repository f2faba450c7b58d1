#include "dialogs/uFontPage.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "base/uText.h"
#include "base/uWin.h"
#include "dialogs/uAppearancePage.h"
#include "dialogs/uMsgBox.h"
#include "settings/uSettings.h"

namespace {

constexpr int32_t kPreviewFallbackSize = 10;

constexpr TControlDef kFontControls[] = {
    {kIdFontNameLabel, TCtl::Label, 12, 20, 100, 18, [] { return Tr("font.name", u"Font"); }},
    {kIdFontName, TCtl::SortedDropDown, 124, 16, 310, 220},
    {kIdFontSizeLabel, TCtl::Label, 12, 60, 100, 18, [] { return Tr("font.size", u"Size (pt)"); }},
    {kIdFontSize, TCtl::NumberEdit, 124, 56, 70, 24},
    // Placed against the right edge of its edit by the control itself.
    {kIdFontSizeUpDown, TCtl::UpDown, 0, 0, 16, 24},
    {kIdFontPreview, TCtl::FramedLabel, 12, 98, 534, 110,
     [] {
         return Tr("preview.font",
                   u"Preview: ABC abc 0123456789 \u00c4\u00d6\u00dc \u00e4\u00f6\u00fc \u00df\r\n"
                   u"COM7  115200  8N1");
     }},
    {kIdFontHint, TCtl::Label, 12, 220, 534, 20,
     [] { return Tr("font.hint", u"For text and hex output in all serial and TCP terminals."); }},
    {kIdFontSave, TCtl::Button, 12, 252, 100, 26, [] { return Tr("action.save", u"Save"); }},
    {kIdFontStatus, TCtl::Label, 124, 256, 420, 26},
};

// Vertical fonts (their names begin with "@") and proportional ones are no
// terminal fonts; each family is reported once per character set, so names
// already listed are skipped.
void AddIfTerminalFont(HWND combo, const LOGFONTW& lf) {
    const bool fixed = (lf.lfPitchAndFamily & FIXED_PITCH) != 0;
    if (fixed && lf.lfFaceName[0] != L'@' && lf.lfFaceName[0] != L'\0' &&
        SendMessageW(combo, CB_FINDSTRINGEXACT, WPARAM(-1),
                     reinterpret_cast<LPARAM>(lf.lfFaceName)) == CB_ERR)
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(lf.lfFaceName));
}

// A fault stops the listing and closes the manager.
int CALLBACK AddFixedPitchFamily(const LOGFONTW* lf, const TEXTMETRICW*, DWORD, LPARAM lp) {
    HWND combo = reinterpret_cast<HWND>(lp);
    return int(DialogGuarded(combo, [&]() -> LRESULT {
        if (lf) AddIfTerminalFont(combo, *lf);
        return 1;
    }));
}

void FillFontList(const TManager& m) {
    HDC dc = GetDC(m.Dialog);
    if (!dc) return;
    LOGFONTW lf = {};
    lf.lfCharSet = DEFAULT_CHARSET;
    EnumFontFamiliesExW(dc, &lf, AddFixedPitchFamily,
                        reinterpret_cast<LPARAM>(Control(m, kIdFontName)), 0);
    ReleaseDC(m.Dialog, dc);
}

// A face name for LOGFONTW: at most 31 units, never half a surrogate pair.
void CopyFaceName(wchar_t (&dst)[LF_FACESIZE], const std::u16string& name) {
    size_t n = std::min(name.size(), kMaxFontNameLength);
    if (n < name.size() && n > 0 && name[n - 1] >= 0xD800 && name[n - 1] <= 0xDBFF) --n;
    CopyToBuffer(dst, LF_FACESIZE, std::u16string_view(name).substr(0, n));
}

}  // namespace

void BuildFontPage(TManager& m) {
    CreateControls(m, m.Pages[kPageFont], kFontControls);
    AttachUpDown(Control(m, kIdFontSizeUpDown), Control(m, kIdFontSize), kMinFontSize,
                 kMaxFontSize);
}

void LoadFontPage(TManager& m) {
    FillFontList(m);
    std::u16string face;
    int32_t size = 0;
    ReadFontSettings(face, size);
    // The stored name is shown even when it is not installed (any more).
    SetFieldText(Control(m, kIdFontName), face);
    SetFieldText(Control(m, kIdFontSize), IntToText(size));
    SendMessageW(Control(m, kIdFontSizeUpDown), UDM_SETPOS32, 0, LPARAM(size));
    UpdateFontPreview(m);
}

void FontChosen(TManager& m) {
    HWND combo = Control(m, kIdFontName);
    const LRESULT index = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (index >= 0) {
        const LRESULT n = SendMessageW(combo, CB_GETLBTEXTLEN, WPARAM(index), 0);
        if (n >= 0) {
            std::vector<wchar_t> text(size_t(n) + 1, L'\0');
            SendMessageW(combo, CB_GETLBTEXT, WPARAM(index), reinterpret_cast<LPARAM>(text.data()));
            SetWindowTextW(combo, text.data());
        }
    }
    UpdateFontPreview(m);
}

void UpdateFontPreview(TManager& m) {
    const std::u16string name = Trim(FieldText(Control(m, kIdFontName)));
    const int32_t size = ParseFieldInt(FieldText(Control(m, kIdFontSize)), kPreviewFallbackSize);
    if (name.empty() || size < kMinFontSize || size > kMaxFontSize) return;
    LOGFONTW lf = {};
    lf.lfHeight = -MulDiv(size, m.Dpi, 72);
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    CopyFaceName(lf.lfFaceName, name);
    HFONT font = CreateFontIndirectW(&lf);
    if (!font) return;
    for (int id : {kIdFontPreview, kIdColorPreview})
        SendMessageW(Control(m, id), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    m.PreviewFont.Reset(font);  // the previews hold the new one now
}

void SaveFontPage(TManager& m) {
    const std::u16string name = Trim(FieldText(Control(m, kIdFontName)));
    const int32_t size = ParseFieldInt(FieldText(Control(m, kIdFontSize)), -1);
    if (name.empty() || name.size() > kMaxFontNameLength || size < kMinFontSize ||
        size > kMaxFontSize) {
        ShowWarning(m.Dialog, Tr("error.font", u"Choose a font and a size from 6 to 72 pt."));
        return;
    }
    if (WriteFontSettings(name, size))
        SetFieldText(Control(m, kIdFontStatus),
                     Tr("font.saved", u"Saved. Font applies to all terminals."));
    else
        ShowError(m.Dialog,
                  TrFmt("error.save_font", u"Could not save the font: {0}", {SettingsPath()}));
}
