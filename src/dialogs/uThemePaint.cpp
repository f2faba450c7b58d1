// Painting of the dark look. Every painter draws from the client rectangle
// and the control's own state (style, check, push and focus state, items), so
// a control looks the same whether it was invalidated alone or with its
// dialog; the dialog's background colour fills what the control does not.
#include "dialogs/uThemePaint.h"

#include <commctrl.h>

#include <algorithm>

#include "dialogs/uTheme.h"

namespace {

// A pen selected for the lifetime of the object, then deleted.
class TPenScope {
public:
    TPenScope(HDC dc, COLORREF color, int width = 1)
        : dc_(dc), pen_(CreatePen(PS_SOLID, width, color)) {
        old_ = SelectObject(dc_, pen_);
    }
    ~TPenScope() {
        SelectObject(dc_, old_);
        DeleteObject(pen_);
    }
    TPenScope(const TPenScope&) = delete;
    TPenScope& operator=(const TPenScope&) = delete;

private:
    HDC dc_;
    HPEN pen_;
    HGDIOBJ old_;
};

struct TPaint {
    HWND Hwnd;
    HDC Dc;
    RECT R;
    int H;
    std::wstring Text;
    LONG_PTR Style;
    COLORREF TextColor;
    int Scale(int n) const { return MulDiv(n, GetDeviceCaps(Dc, LOGPIXELSX), 96); }
};

void Outline(HDC dc, const RECT& r, COLORREF color) {
    TPenScope pen(dc, color);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, r.left, r.top, r.right, r.bottom);
    SelectObject(dc, oldBrush);
}

void Fill(HDC dc, const RECT& r, TBrushRole role) { FillRect(dc, &r, ThemeBrush(role)); }

void Chevron(HDC dc, const RECT& a, bool down, COLORREF color) {
    const int x = (a.left + a.right) / 2 - 3, y = (a.top + a.bottom) / 2 - 2;
    const int d = down ? 1 : -1;
    const POINT pts[3] = {{x, y - d}, {x + 3, y + 2 * d}, {x + 6, y - d}};
    TPenScope pen(dc, color);
    Polyline(dc, pts, 3);
}

void ExcludeWindowRect(HDC dc, HWND painted, HWND other) {
    if (!IsWindowVisible(other)) return;
    RECT r;
    GetWindowRect(other, &r);
    MapWindowPoints(HWND_DESKTOP, painted, reinterpret_cast<POINT*>(&r), 2);
    ExcludeClipRect(dc, r.left, r.top, r.right, r.bottom);
}

// A control paints only its own pixels: not over its child windows (the edit
// of a drop-down combo box), and a group box not over the controls inside its
// frame. Those repaint only when they are invalid themselves, so a group box
// redrawn alone (on a focus or keyboard-cue change) would otherwise wipe them.
void ExcludeCovered(HWND hwnd, HDC dc, bool siblings) {
    for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        ExcludeWindowRect(dc, hwnd, c);
    if (!siblings) return;
    for (HWND s = GetWindow(hwnd, GW_HWNDFIRST); s; s = GetWindow(s, GW_HWNDNEXT))
        if (s != hwnd) ExcludeWindowRect(dc, hwnd, s);
}

void PaintCheckBox(const TPaint& p) {
    const int box = p.Scale(14);
    const RECT b = {1, (p.H - box) / 2, box + 1, (p.H + box) / 2};
    Fill(p.Dc, b, kBrushControl);
    Outline(p.Dc, b, kDarkBorder);
    if (SendMessageW(p.Hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED) {
        const POINT tick[3] = {{b.left + box / 5, b.top + box / 2},
                               {b.left + 2 * box / 5, b.bottom - box / 5},
                               {b.right - box / 6, b.top + box / 5}};
        TPenScope pen(p.Dc, p.TextColor, std::max(1, p.Scale(2)));
        Polyline(p.Dc, tick, 3);
    }
    RECT t = p.R;
    t.left = box + p.Scale(7);
    DrawTextW(p.Dc, p.Text.c_str(), -1, &t, DT_SINGLELINE | DT_VCENTER);
    if (SendMessageW(p.Hwnd, BM_GETSTATE, 0, 0) & BST_FOCUS) {
        // Around the text itself, as the system draws it.
        RECT m = t;
        DrawTextW(p.Dc, p.Text.c_str(), -1, &m, DT_SINGLELINE | DT_CALCRECT);
        const int h = m.bottom - m.top;
        RECT f = {t.left - 1, (p.H - h) / 2 - 1, std::min(m.right + 1, p.R.right),
                  (p.H + h) / 2 + 1};
        DrawFocusRect(p.Dc, &f);
    }
}

void PaintGroupBox(const TPaint& p) {
    SIZE ext = {};
    const std::wstring measured = p.Text.empty() ? L" " : p.Text;
    GetTextExtentPoint32W(p.Dc, measured.c_str(), int(measured.size()), &ext);
    RECT frame = p.R;
    frame.top = ext.cy / 2;
    Outline(p.Dc, frame, kDarkBorder);
    if (p.Text.empty()) return;
    RECT caption = {p.Scale(8), 0, p.Scale(8) + ext.cx + p.Scale(8), ext.cy};
    Fill(p.Dc, caption, kBrushDialog);
    DrawTextW(p.Dc, p.Text.c_str(), -1, &caption, DT_SINGLELINE | DT_CENTER);
}

void PaintPushButton(const TPaint& p) {
    const LRESULT state = SendMessageW(p.Hwnd, BM_GETSTATE, 0, 0);
    Fill(p.Dc, p.R, (state & BST_PUSHED) ? kBrushDialog : kBrushControl);
    const bool accent = GetFocus() == p.Hwnd || (p.Style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    Outline(p.Dc, p.R, accent ? kDarkAccent : kDarkBorder);
    RECT t = p.R;
    DrawTextW(p.Dc, p.Text.c_str(), -1, &t, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
    if (state & BST_FOCUS) {
        RECT f = p.R;
        InflateRect(&f, -3, -3);
        DrawFocusRect(p.Dc, &f);
    }
}

void PaintButton(const TPaint& p) {
    switch (p.Style & BS_TYPEMASK) {
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
            PaintCheckBox(p);
            break;
        case BS_GROUPBOX:
            PaintGroupBox(p);
            break;
        default:
            PaintPushButton(p);
            break;
    }
}

void PaintTabItem(const TPaint& p, int index, bool selected, bool focused) {
    RECT it;
    if (!SendMessageW(p.Hwnd, TCM_GETITEMRECT, WPARAM(index), reinterpret_cast<LPARAM>(&it)))
        return;
    it.left += p.Scale(1);
    it.right -= p.Scale(1);
    Fill(p.Dc, it, selected ? kBrushSelectedTab : kBrushControl);
    Outline(p.Dc, it, kDarkBorder);
    if (selected) {
        const RECT bar = {it.left, it.bottom - std::max(2, p.Scale(3)), it.right, it.bottom};
        Fill(p.Dc, bar, kBrushAccent);
    }
    wchar_t text[1025] = {};
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 1024;
    SendMessageW(p.Hwnd, TCM_GETITEMW, WPARAM(index), reinterpret_cast<LPARAM>(&item));
    DrawTextW(p.Dc, item.pszText ? item.pszText : text, -1, &it,
              DT_SINGLELINE | DT_CENTER | DT_VCENTER);
    if (focused) {
        InflateRect(&it, -3, -3);
        DrawFocusRect(p.Dc, &it);
    }
}

void PaintTabControl(const TPaint& p) {
    const int count = int(SendMessageW(p.Hwnd, TCM_GETITEMCOUNT, 0, 0));
    if (count <= 0) return;
    RECT first;
    if (SendMessageW(p.Hwnd, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&first))) {
        RECT frame = p.R;
        InflateRect(&frame, -1, -1);
        frame.top = first.bottom + p.Scale(2);
        Outline(p.Dc, frame, kDarkBorder);
    }
    const int selected = int(SendMessageW(p.Hwnd, TCM_GETCURSEL, 0, 0));
    const int focus = int(SendMessageW(p.Hwnd, TCM_GETCURFOCUS, 0, 0));
    const bool hasFocus = GetFocus() == p.Hwnd;
    for (int i = 0; i < count; ++i) PaintTabItem(p, i, i == selected, hasFocus && i == focus);
}

// Combo boxes and up-down controls.
void PaintBoxControl(const TPaint& p, bool combo) {
    Fill(p.Dc, p.R, kBrushControl);
    // Focus shows as the accent border, as on push buttons: a drop-down list
    // has no caret that could show it.
    Outline(p.Dc, p.R, combo && GetFocus() == p.Hwnd ? kDarkAccent : kDarkBorder);
    if (!combo) {
        RECT upper = p.R, lower = p.R;
        upper.bottom = p.H / 2;
        lower.top = p.H / 2;
        Chevron(p.Dc, upper, false, p.TextColor);
        Chevron(p.Dc, lower, true, p.TextColor);
        return;
    }
    RECT arrow = p.R;
    arrow.left = std::max<LONG>(0, p.R.right - GetSystemMetrics(SM_CXVSCROLL));
    if ((p.Style & 3) == CBS_DROPDOWNLIST) {
        RECT t = p.R;
        t.left += 4;
        t.right = arrow.left;
        DrawTextW(p.Dc, p.Text.c_str(), -1, &t, DT_SINGLELINE | DT_VCENTER);
    }
    Chevron(p.Dc, arrow, true, p.TextColor);
}

}  // namespace

void PaintDarkControl(HWND hwnd, HDC dc) {
    TPaint p{hwnd, dc, {}, 0, {}, GetWindowLongPtrW(hwnd, GWL_STYLE), kDarkText};
    GetClientRect(hwnd, &p.R);
    p.H = p.R.bottom - p.R.top;
    wchar_t text[1024] = {};
    GetWindowTextW(hwnd, text, 1024);
    p.Text = text;
    if (!IsWindowEnabled(hwnd)) p.TextColor = kDarkDisabledText;
    const std::wstring cls = ThemeClassName(hwnd);
    const bool button = SameClass(cls.c_str(), L"Button");

    const int saved = SaveDC(dc);
    ExcludeCovered(hwnd, dc, button && (p.Style & BS_TYPEMASK) == BS_GROUPBOX);
    auto font = reinterpret_cast<HGDIOBJ>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
    SelectObject(dc, font ? font : GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, p.TextColor);
    Fill(dc, p.R, kBrushDialog);
    if (button)
        PaintButton(p);
    else if (SameClass(cls.c_str(), WC_TABCONTROLW))
        PaintTabControl(p);
    else
        PaintBoxControl(p, SameClass(cls.c_str(), L"ComboBox"));
    RestoreDC(dc, saved);
}

void PaintDarkClientEdge(HWND hwnd) {
    HDC dc = GetWindowDC(hwnd);
    if (!dc) return;
    RECT r;
    GetWindowRect(hwnd, &r);
    OffsetRect(&r, -r.left, -r.top);
    Outline(dc, r, kDarkBorder);
    InflateRect(&r, -1, -1);
    Outline(dc, r, kDarkControlBack);
    ReleaseDC(hwnd, dc);
}
