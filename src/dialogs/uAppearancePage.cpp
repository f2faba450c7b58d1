#include "dialogs/uAppearancePage.h"

#include <commctrl.h>
#include <commdlg.h>

#include "base/uText.h"
#include "dialogs/uMsgBox.h"
#include "settings/uSettings.h"

namespace {

constexpr int kMinHexBytes = 1;
constexpr int kMaxHexBytes = 64;

COLORREF g_customColors[kCustomColorCount] = {};

constexpr TControlDef kAppearanceControls[] = {
    {kIdBackgroundLabel, TCtl::Label, 12, 20, 200, 20,
     [] { return Tr("display.background", u"Terminal background"); }},
    {kIdBackground, TCtl::Edit, 218, 16, 110, 24},
    {kIdPickBackground, TCtl::Button, 338, 16, 112, 24,
     [] { return Tr("action.choose", u"Choose\u2026"); }},
    {kIdTextColorLabel, TCtl::Label, 12, 60, 200, 20,
     [] { return Tr("display.foreground", u"Text (ANSI colors off)"); }},
    {kIdTextColor, TCtl::Edit, 218, 56, 110, 24},
    {kIdPickTextColor, TCtl::Button, 338, 56, 112, 24,
     [] { return Tr("action.choose", u"Choose\u2026"); }},
    {kIdHexBytesLabel, TCtl::Label, 12, 100, 200, 20,
     [] { return Tr("display.hex_bytes", u"Hex: bytes per line"); }},
    {kIdHexBytes, TCtl::NumberEdit, 218, 96, 70, 24},
    {kIdHexBytesUpDown, TCtl::UpDown, 0, 0, 16, 24},
    {kIdColorPreview, TCtl::FramedLabel, 12, 142, 534, 72,
     [] {
         return Tr("preview.colors", u"Preview: ABC abc 0123456789\r\n00 01 02 03 04 05 06 07");
     }},
    {kIdAppearanceHint, TCtl::Label, 12, 224, 534, 20,
     [] {
         return Tr("display.hint",
                   u"Text color also applies to hex output. ANSI colors are preserved.");
     }},
    {kIdAppearanceSave, TCtl::Button, 12, 252, 100, 26, [] { return Tr("action.save", u"Save"); }},
    {kIdAppearanceStatus, TCtl::Label, 124, 256, 420, 26},
};

bool ColorOf(const TManager& m, int id, COLORREF& color) {
    TColorRef c = 0;
    if (!ParseColor(FieldText(Control(m, id)), c)) return false;
    color = COLORREF(c);
    return true;
}

void PickColor(TManager& m, int editId) {
    COLORREF start = 0;  // black when the field holds no colour
    ColorOf(m, editId, start);
    CHOOSECOLORW cc = {};
    cc.lStructSize = sizeof cc;
    cc.hwndOwner = m.Dialog;
    cc.rgbResult = start;
    cc.lpCustColors = g_customColors;
    cc.Flags = CC_RGBINIT | CC_FULLOPEN;
    // The edit's change notification then updates the preview.
    if (ChooseColorW(&cc)) SetFieldText(Control(m, editId), ColorToHex(cc.rgbResult));
}

}  // namespace

void BuildAppearancePage(TManager& m) {
    CreateControls(m, m.Pages[kPageAppearance], kAppearanceControls);
    AttachUpDown(Control(m, kIdHexBytesUpDown), Control(m, kIdHexBytes), kMinHexBytes,
                 kMaxHexBytes);
}

void LoadAppearancePage(TManager& m) {
    TColorRef back = 0, text = 0;
    int32_t bytes = 0;
    ReadAppearance(back, text, bytes);
    SetFieldText(Control(m, kIdBackground), ColorToHex(back));
    SetFieldText(Control(m, kIdTextColor), ColorToHex(text));
    SendMessageW(Control(m, kIdHexBytesUpDown), UDM_SETPOS32, 0, LPARAM(bytes));
    UpdateColorPreview(m);
}

void UpdateColorPreview(TManager& m) {
    COLORREF back = 0, text = 0;
    if (!ColorOf(m, kIdBackground, back) || !ColorOf(m, kIdTextColor, text)) return;
    HBRUSH brush = CreateSolidBrush(back);
    if (!brush) return;
    m.PreviewBrush.Reset(brush);
    m.PreviewBack = back;
    m.PreviewText = text;
    InvalidateRect(Control(m, kIdColorPreview), nullptr, TRUE);
}

HBRUSH ColorPreviewBrush(const TManager& m, HDC dc) {
    if (!m.PreviewBrush.Get()) return nullptr;
    SetTextColor(dc, m.PreviewText);
    SetBkColor(dc, m.PreviewBack);
    return m.PreviewBrush.Get();
}

void PickBackground(TManager& m) { PickColor(m, kIdBackground); }
void PickTextColor(TManager& m) { PickColor(m, kIdTextColor); }

void SaveAppearancePage(TManager& m) {
    const int32_t bytes = ParseFieldInt(FieldText(Control(m, kIdHexBytes)), -1);
    COLORREF back = 0, text = 0;
    if (!ColorOf(m, kIdBackground, back) || !ColorOf(m, kIdTextColor, text)) {
        ShowWarning(m.Dialog,
                    Tr("error.colors", u"Enter colors as #RRGGBB or use the color picker."));
        return;
    }
    if (bytes < kMinHexBytes || bytes > kMaxHexBytes) {
        ShowWarning(m.Dialog, Tr("error.hex", u"Enter 1 to 64 bytes per hex line."));
        return;
    }
    if (WriteAppearance(back, text, bytes))
        SetFieldText(Control(m, kIdAppearanceStatus),
                     Tr("display.saved", u"Saved. Applies to all terminals."));
    else
        ShowError(m.Dialog,
                  TrFmt("error.save_display", u"Could not save appearance: {0}", {SettingsPath()}));
}

const COLORREF* CustomColors() { return g_customColors; }
