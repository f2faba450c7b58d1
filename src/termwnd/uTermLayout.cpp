// The terminal window's controls as data: which control, its class, style,
// caption and place in the toolbar flow; the option lists of the drop-downs;
// and the layout pass that places them for a client size and the screen DPI.
#include "termwnd/uTermWnd.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <span>

#include "base/uText.h"
#include "i18n/uI18n.h"

namespace {

// One child control. Key null: fixed text. Group 0: placed below the toolbar;
// otherwise the toolbar group, with width, height and vertical offset in
// 96-DPI units (a combo box's height is that of its drop-down list).
struct TControlDef {
    int Id;
    const wchar_t* Class;
    DWORD Style;
    const char* Key;
    const char16_t* Text;
    int Group;
    int MinWidth, Height, Offset;
};

constexpr DWORD kCombo = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
constexpr DWORD kCheck = BS_AUTOCHECKBOX | WS_TABSTOP;
constexpr DWORD kToggle = BS_AUTOCHECKBOX | BS_PUSHLIKE | WS_TABSTOP;
constexpr DWORD kLamp = SS_CENTER | SS_CENTERIMAGE;

constexpr TControlDef kControls[] = {
    {kIdConnect, WC_BUTTONW, WS_TABSTOP, "action.connect", u"Connect", 1, 92, 24, 0},
    {kIdBaudLabel, WC_STATICW, 0, "serial.baud_short", u"Baud", 2, 32, 18, 4},
    {kIdBaud, WC_COMBOBOXW, CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP, nullptr, u"", 2, 88, 220, 0},
    {kIdDataLabel, WC_STATICW, 0, "serial.data_short", u"Data", 3, 38, 18, 4},
    {kIdDataBits, WC_COMBOBOXW, kCombo, nullptr, u"", 3, 46, 150, 0},
    {kIdStopLabel, WC_STATICW, 0, "serial.stop_short", u"Stop", 4, 30, 18, 4},
    {kIdStopBits, WC_COMBOBOXW, kCombo, nullptr, u"", 4, 52, 150, 0},
    {kIdParityLabel, WC_STATICW, 0, "serial.parity", u"Parity", 5, 50, 18, 4},
    {kIdParity, WC_COMBOBOXW, kCombo, nullptr, u"", 5, 82, 180, 0},
    {kIdFlowLabel, WC_STATICW, 0, "serial.flow_short", u"Flow", 6, 34, 18, 4},
    {kIdFlow, WC_COMBOBOXW, kCombo, nullptr, u"", 6, 92, 180, 0},
    {kIdDtr, WC_BUTTONW, kToggle, nullptr, u"DTR", 7, 48, 24, 0},
    {kIdRts, WC_BUTTONW, kToggle, nullptr, u"RTS", 7, 48, 24, 0},
    {kIdViewLabel, WC_STATICW, 0, "terminal.view", u"View", 8, 46, 18, 4},
    {kIdView, WC_COMBOBOXW, kCombo, nullptr, u"", 8, 62, 150, 0},
    {kIdEncodingLabel, WC_STATICW, 0, "terminal.encoding", u"Encoding", 9, 74, 18, 4},
    {kIdEncoding, WC_COMBOBOXW, kCombo, nullptr, u"", 9, 114, 150, 0},
    {kIdRxNewlineLabel, WC_STATICW, 0, "terminal.rx_newline", u"Rx line ending", 10, 82, 18, 4},
    {kIdRxNewline, WC_COMBOBOXW, kCombo, nullptr, u"", 10, 76, 150, 0},
    {kIdAnsi, WC_BUTTONW, kCheck, "terminal.ansi", u"ANSI colors", 11, 86, 20, 2},
    {kIdAutoscroll, WC_BUTTONW, kCheck, "terminal.scroll", u"Autoscroll", 12, 78, 20, 2},
    {kIdEcho, WC_BUTTONW, kCheck, "terminal.echo", u"Local echo", 13, 90, 20, 2},
    {kIdReconnect, WC_BUTTONW, kCheck, "terminal.reconnect", u"Auto-reconnect", 14, 110, 20, 2},
    {kIdTimestamps, WC_BUTTONW, kCheck, "terminal.timestamps", u"Timestamps", 15, 92, 20, 2},
    {kIdLog, WC_BUTTONW, kCheck, "option.log", u"Log", 16, 50, 20, 2},
    {kIdClear, WC_BUTTONW, WS_TABSTOP, "action.clear", u"Clear", 17, 66, 24, 0},
    {kIdOutput, kTermOutputClass, 0, nullptr, u"", 0, 0, 0, 0},
    {kIdSendLabel, WC_STATICW, 0, "action.send", u"Send", 0, 46, 18, 0},
    {kIdTxNewline, WC_COMBOBOXW, kCombo, nullptr, u"", 0, 90, 150, 0},
    {kIdSendMode, WC_COMBOBOXW, kCombo, nullptr, u"", 0, 120, 150, 0},
    {kIdEdit, WC_EDITW, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, nullptr, u"", 0, 50, 24, 0},
    {kIdSend, WC_BUTTONW, WS_TABSTOP, "action.send", u"Send", 0, 76, 26, 0},
    {kIdStatus, WC_STATICW, SS_ENDELLIPSIS, nullptr, u"", 0, 20, 18, 0},
    {kIdLogFile, WC_STATICW, SS_PATHELLIPSIS, nullptr, u"", 0, 20, 18, 0},
    {kIdLampCts, WC_STATICW, kLamp, nullptr, u"CTS", 0, 36, 20, 0},
    {kIdLampDsr, WC_STATICW, kLamp, nullptr, u"DSR", 0, 36, 20, 0},
    {kIdLampRi, WC_STATICW, kLamp, nullptr, u"RI", 0, 36, 20, 0},
    {kIdLampDcd, WC_STATICW, kLamp, nullptr, u"DCD", 0, 36, 20, 0},
    {kIdCounters, WC_STATICW, SS_RIGHT, nullptr, u"", 0, 150, 18, 0},
};

constexpr DWORD kOutputStyle =
    WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP;

constexpr TChoice kViewOptions[] = {{"terminal.text", u"Text"}, {"terminal.hex", u"Hex"}};
constexpr TChoice kEncodingOptions[] = {
    {nullptr, u"UTF-8"}, {nullptr, u"Latin-1 (CP1252)"}, {nullptr, u"ASCII"}};
constexpr TChoice kRxOptions[] = {
    {"newline.auto", u"Auto"}, {nullptr, u"CR+LF"}, {nullptr, u"LF"}, {nullptr, u"CR"}};
// The opposite order from the receive list, as stored.
constexpr TChoice kTxOptions[] = {
    {"newline.none", u"No ending"}, {nullptr, u"CR"}, {nullptr, u"LF"}, {nullptr, u"CR+LF"}};

struct TOptionList {
    int Id;
    std::span<const TChoice> Options;
};

constexpr TOptionList kOptionLists[] = {
    {kIdDataBits, kDataBitsChoices}, {kIdStopBits, kStopBitsChoices},
    {kIdParity, kParityChoices},     {kIdFlow, kFlowChoices},
    {kIdView, kViewOptions},         {kIdEncoding, kEncodingOptions},
    {kIdRxNewline, kRxOptions},      {kIdTxNewline, kTxOptions},
    {kIdSendMode, kSendModeChoices},
};

std::u16string Caption(const char* key, const char16_t* text) {
    return key ? Tr(key, text) : std::u16string(text);
}

bool IsClass(const TControlDef& d, const wchar_t* cls) { return lstrcmpW(d.Class, cls) == 0; }

// Width of a control's caption in the UI font selected into dc, over at most
// 512 characters of it.
int TextWidth(HDC dc, HWND control) {
    wchar_t text[513] = {};
    const int n = GetWindowTextW(control, text, 513);
    SIZE size = {};
    if (n > 0) GetTextExtentPoint32W(dc, text, n, &size);
    return size.cx;
}

}  // namespace

void TTermWindow::CreateControls() {
    HINSTANCE instance = ThisModule();
    for (const TControlDef& d : kControls) {
        const auto menu = reinterpret_cast<HMENU>(static_cast<INT_PTR>(d.Id));
        if (d.Id == kIdOutput) {
            outputWnd_ = CreateWindowExW(WS_EX_CLIENTEDGE, kTermOutputClass, L"", kOutputStyle, 0,
                                         0, 10, 10, mainWnd_, menu, instance, nullptr);
            if (outputWnd_)
                SetWindowLongPtrW(outputWnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            vertBar_ = horzBar_ = TBarState{};  // a new view has bars nobody set yet
            continue;
        }
        HWND c =
            CreateWindowExW(0, d.Class, W(Caption(d.Key, d.Text)), WS_CHILD | WS_VISIBLE | d.Style,
                            0, 0, 10, 10, mainWnd_, menu, instance, nullptr);
        if (!c) continue;
        SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(uiFont_.Get()), FALSE);
        SetWindowSubclass(c, ControlKeyProc, UINT_PTR(d.Id), 0);
    }
    // Typing in the baud box happens in its inner edit, which must forward
    // Ctrl+Q like every other control.
    COMBOBOXINFO info = {};
    info.cbSize = sizeof info;
    if (HWND baud = Control(kIdBaud); baud && GetComboBoxInfo(baud, &info) && info.hwndItem)
        SetWindowSubclass(info.hwndItem, ControlKeyProc, UINT_PTR(kIdBaud), 0);
    find_.Create();
}

void TTermWindow::FillOptionLists() {
    if (HWND baud = Control(kIdBaud))
        for (int32_t rate : kBaudRates)
            SendMessageW(baud, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(IntToText(rate))));
    for (const TOptionList& list : kOptionLists) {
        HWND c = Control(list.Id);
        if (!c) continue;
        for (const TChoice& o : list.Options)
            SendMessageW(c, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(Caption(o.Key, o.Text))));
    }
}

void TTermWindow::Layout(int width, int height) {
    if (!mainWnd_) return;
    const int gap = S(6), margin = S(8), rowHeight = S(30);
    HDC dc = GetDC(mainWnd_);
    HGDIOBJ oldFont = SelectObject(dc, uiFont_.Get());
    auto widthOf = [&](const TControlDef& d, HWND c) {
        const int minimum = S(d.MinWidth);
        if (IsClass(d, WC_BUTTONW)) return std::max(minimum, TextWidth(dc, c) + S(26));
        if (IsClass(d, WC_STATICW)) return std::max(minimum, TextWidth(dc, c) + S(4));
        return minimum;
    };

    // The toolbar flows group by group; a group that does not fit the rest
    // of the row starts the next one (never the first group of a row).
    int x = margin, y = S(8);
    constexpr size_t n = std::size(kControls);
    for (size_t i = 0; i < n;) {
        if (kControls[i].Group == 0) {
            ++i;
            continue;
        }
        size_t end = i;
        std::array<int, 4> widths = {};
        int total = 0;
        for (; end < n && kControls[end].Group == kControls[i].Group; ++end) {
            widths[end - i] = widthOf(kControls[end], Control(kControls[end].Id));
            total += widths[end - i] + (end > i ? gap : 0);
        }
        if (x > margin && x + total > width - margin) {
            x = margin;
            y += rowHeight;
        }
        for (size_t k = i; k < end; ++k) {
            const TControlDef& d = kControls[k];
            if (HWND c = Control(d.Id))
                MoveChild(c, x, y + S(d.Offset), widths[k - i], S(d.Height));
            x += widths[k - i] + gap;
        }
        i = end;
    }
    outputTop_ = y + rowHeight + S(2);
    LayoutBottom(dc, width, height, outputTop_);
    SelectObject(dc, oldFont);
    ReleaseDC(mainWnd_, dc);
}

void TTermWindow::RelayoutBottom() {
    if (!mainWnd_) return;
    RECT rc;
    GetClientRect(mainWnd_, &rc);
    HDC dc = GetDC(mainWnd_);
    HGDIOBJ oldFont = SelectObject(dc, uiFont_.Get());
    LayoutBottom(dc, rc.right, rc.bottom, outputTop_);
    SelectObject(dc, oldFont);
    ReleaseDC(mainWnd_, dc);
}

void TTermWindow::LayoutBottom(HDC dc, int width, int height, int outputTop) {
    const int gap = S(6), margin = S(8);
    const int statusY = height - S(24);
    // A very low window keeps some output above the send row, even if the
    // send row then covers the status row.
    const int sendY = std::max(statusY - S(30), outputTop + S(60));
    auto move = [&](int id, int x, int y, int w, int h) {
        MoveChild(Control(id), x, y, w, h);
    };
    // The find bar, while open, takes a row above the send row from the output.
    int outputBottom = sendY - S(4);
    if (find_.Visible()) {
        const int findY = std::max(outputTop + S(30), sendY - S(30));
        find_.Layout(dc, margin, findY, width - 2 * margin);
        outputBottom = findY - S(4);
    }
    if (outputWnd_)
        MoveChild(outputWnd_, margin, outputTop, width - 2 * margin, outputBottom - outputTop);

    const int labelWidth = std::max(S(46), TextWidth(dc, Control(kIdSendLabel)) + S(4));
    move(kIdSendLabel, margin, sendY + S(5), labelWidth, S(18));
    const int boxX = margin + labelWidth + gap;
    move(kIdTxNewline, boxX, sendY + S(1), S(90), S(150));
    const int sendWidth = std::max(S(76), TextWidth(dc, Control(kIdSend)) + S(26));
    const int modeX = boxX + S(90) + gap;
    move(kIdSendMode, modeX, sendY + S(1), S(120), S(150));
    const int editX = modeX + S(120) + gap;
    const int editWidth = std::max(S(50), width - editX - margin - sendWidth - gap);
    move(kIdEdit, editX, sendY + S(1), editWidth, S(24));
    move(kIdSend, width - margin - sendWidth, sendY, sendWidth, S(26));

    const int countersX = width - margin - S(150);
    move(kIdCounters, countersX, statusY + S(2), S(150), S(18));
    int lampX = countersX - S(4) - S(36);
    for (int id = kIdLampDcd; id >= kIdLampCts; --id, lampX -= S(40))
        move(id, lampX, statusY, S(36), S(20));
    const int ctsX = lampX + S(40);
    int statusWidth = std::max(S(20), ctsX - margin - gap);
    // While a log is written its file's name takes part of the status row.
    HWND logFile = Control(kIdLogFile);
    if (logFile && (GetWindowLongW(logFile, GWL_STYLE) & WS_VISIBLE)) {
        const int logWidth = std::min(S(280), statusWidth / 2);
        statusWidth = std::max(S(20), statusWidth - logWidth - gap);
        move(kIdLogFile, margin + statusWidth + gap, statusY + S(2), logWidth, S(18));
    }
    move(kIdStatus, margin, statusY + S(2), statusWidth, S(18));
}
