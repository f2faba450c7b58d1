#include "dialogs/uConnDlgKit.h"

#include <commctrl.h>

#include "base/uText.h"
#include "base/uWin.h"

namespace {

struct TKindDef {
    const wchar_t* Class;
    DWORD Style;
    DWORD ExStyle;
};

constexpr DWORD kEditStyle = WS_TABSTOP | ES_AUTOHSCROLL;

// Indexed by TCtl.
constexpr TKindDef kKinds[] = {
    {L"STATIC", 0, 0},
    {L"STATIC", WS_BORDER, 0},
    {L"EDIT", kEditStyle, WS_EX_CLIENTEDGE},
    {L"EDIT", kEditStyle | ES_NUMBER, WS_EX_CLIENTEDGE},
    {L"COMBOBOX", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0},
    {L"COMBOBOX", CBS_DROPDOWN | CBS_SORT | WS_VSCROLL | WS_TABSTOP, 0},
    // Not sorted by the control: the store already sorts by the user's locale.
    {L"LISTBOX", LBS_NOTIFY | LBS_HASSTRINGS | WS_VSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE},
    {L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0},
    {L"BUTTON", BS_DEFPUSHBUTTON | WS_TABSTOP, 0},
    {UPDOWN_CLASSW, UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS, 0},
    {WC_TABCONTROLW, WS_CLIPSIBLINGS | WS_TABSTOP, 0},
};
static_assert(std::size(kKinds) == size_t(TCtl::Tabs) + 1);

constexpr int32_t kSaturation = 100000000;

}  // namespace

int Scale(const TManager& m, int units) { return MulDiv(units, m.Dpi, 96); }

HWND Control(const TManager& m, int id) {
    if (HWND h = GetDlgItem(m.Dialog, id)) return h;
    for (HWND page : m.Pages)
        if (HWND h = page ? GetDlgItem(page, id) : nullptr) return h;
    return nullptr;
}

void CreateControls(const TManager& m, HWND parent, std::span<const TControlDef> defs) {
    for (const auto& d : defs) {
        const TKindDef& kind = kKinds[size_t(d.Kind)];
        const std::u16string text = d.Text ? d.Text() : std::u16string();
        HWND h =
            CreateWindowExW(kind.ExStyle, kind.Class, W(text), WS_CHILD | WS_VISIBLE | kind.Style,
                            Scale(m, d.X), Scale(m, d.Y), Scale(m, d.Width), Scale(m, d.Height),
                            parent, reinterpret_cast<HMENU>(INT_PTR(d.Id)), ThisModule(), nullptr);
        if (h) SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(m.Font), TRUE);
    }
}

void AddComboItems(HWND combo, std::span<const TTextFn> items) {
    for (TTextFn item : items)
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(item())));
}

void AttachUpDown(HWND upDown, HWND buddy, int low, int high) {
    SendMessageW(upDown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy), 0);
    SendMessageW(upDown, UDM_SETRANGE32, WPARAM(low), LPARAM(high));
}

std::u16string FieldText(HWND control) {
    if (!control) return {};
    const int n = GetWindowTextLengthW(control);
    if (n <= 0) return {};
    std::u16string s(size_t(n) + 1, u'\0');
    const int got = GetWindowTextW(control, reinterpret_cast<wchar_t*>(s.data()), n + 1);
    s.resize(size_t(got > 0 ? got : 0));
    return s;
}

void SetFieldText(HWND control, const std::u16string& text) { SetWindowTextW(control, W(text)); }

int32_t ParseFieldInt(std::u16string_view text, int32_t fallback) {
    const std::u16string t = Trim(text);
    size_t i = 0;
    const bool negative = !t.empty() && t[0] == u'-';
    if (!t.empty() && (t[0] == u'-' || t[0] == u'+')) i = 1;
    if (i >= t.size()) return fallback;
    int32_t v = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < u'0' || t[i] > u'9') return fallback;
        if (v < kSaturation) v = v * 10 + (t[i] - u'0');
    }
    return negative ? -v : v;
}

int ComboSelection(HWND combo) { return int(SendMessageW(combo, CB_GETCURSEL, 0, 0)); }
