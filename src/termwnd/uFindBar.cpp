// The find bar: its controls as data, the keys it takes, and one search over
// the terminal window's current model; see uFindBar.h.
#include "termwnd/uFindBar.h"

#include <commctrl.h>

#include <algorithm>

#include "base/uText.h"
#include "i18n/uI18n.h"
#include "termwnd/uTermWnd.h"

namespace {

// One control of the bar, in the order it is placed from the left. Width 0:
// takes what the others leave. Widths, heights and offsets in 96-DPI units;
// buttons and labels grow to their caption.
struct TFindControl {
    int Id;
    const wchar_t* Class;
    DWORD Style;
    const char* Key;
    const char16_t* Text;
    int MinWidth, Height, Offset;
};

constexpr TFindControl kFindControls[] = {
    {kIdFindLabel, WC_STATICW, 0, "find.label", u"Find", 40, 18, 5},
    {kIdFindEdit, WC_EDITW, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, nullptr, u"", 0, 24, 1},
    {kIdFindCase, WC_BUTTONW, BS_AUTOCHECKBOX | WS_TABSTOP, "find.match_case", u"Match case", 90,
     20, 3},
    {kIdFindPrev, WC_BUTTONW, WS_TABSTOP, "find.previous", u"Previous", 76, 26, 0},
    {kIdFindNext, WC_BUTTONW, WS_TABSTOP, "find.next", u"Next", 76, 26, 0},
    {kIdFindCount, WC_STATICW, SS_ENDELLIPSIS, nullptr, u"", 130, 18, 5},
    {kIdFindClose, WC_BUTTONW, WS_TABSTOP, nullptr, u"\u00D7", 26, 26, 0},
};

constexpr int32_t kMinEditWidth = 80;
// A selection longer than this is no query: Ctrl+F then opens the bar empty.
constexpr size_t kMaxQueryFromSelection = 256;

int CaptionWidth(HDC dc, HWND control) {
    wchar_t text[257] = {};
    const int n = GetWindowTextW(control, text, 257);
    SIZE size = {};
    if (n > 0) GetTextExtentPoint32W(dc, text, n, &size);
    return size.cx;
}

std::u16string WindowText(HWND hwnd) {
    const int n = GetWindowTextLengthW(hwnd);
    if (n <= 0) return {};
    std::wstring text(size_t(n) + 1, L'\0');
    text.resize(size_t(GetWindowTextW(hwnd, text.data(), n + 1)));
    return U(text.c_str(), text.size());
}

}  // namespace

HWND TFindBar::Control(int id) const { return t_.Control(id); }

void TFindBar::Create() {
    for (const TFindControl& d : kFindControls) {
        const std::u16string caption = d.Key ? Tr(d.Key, d.Text) : std::u16string(d.Text);
        HWND c =
            CreateWindowExW(0, d.Class, W(caption), WS_CHILD | d.Style, 0, 0, 10, 10, t_.mainWnd_,
                            reinterpret_cast<HMENU>(INT_PTR(d.Id)), ThisModule(), nullptr);
        if (!c) continue;
        SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(t_.uiFont_.Get()), FALSE);
        // The bar's keys (Enter, F3, Esc) and the window's (Ctrl+Q, Alt+digit)
        // work in its controls as in every other.
        SetWindowSubclass(c, TTermWindow::ControlKeyProc, UINT_PTR(d.Id), 0);
    }
    if (HWND edit = Control(kIdFindEdit)) SendMessageW(edit, EM_LIMITTEXT, 1024, 0);
}

void TFindBar::Layout(HDC dc, int x, int y, int width) {
    int fixed = 0;
    int widths[std::size(kFindControls)] = {};
    const int gap = t_.S(6);
    for (size_t i = 0; i < std::size(kFindControls); ++i) {
        const TFindControl& d = kFindControls[i];
        HWND c = Control(d.Id);
        int w = t_.S(d.MinWidth);
        if (d.Id == kIdFindLabel) w = std::max(w, CaptionWidth(dc, c) + t_.S(4));
        if (d.Id == kIdFindCase || d.Id == kIdFindPrev || d.Id == kIdFindNext)
            w = std::max(w, CaptionWidth(dc, c) + t_.S(26));
        widths[i] = w;
        fixed += w + (i > 0 ? gap : 0);
    }
    for (size_t i = 0; i < std::size(kFindControls); ++i) {
        const TFindControl& d = kFindControls[i];
        if (d.MinWidth == 0) widths[i] = std::max(t_.S(kMinEditWidth), width - fixed);
        if (HWND c = Control(d.Id))
            MoveChild(c, x, y + t_.S(d.Offset), widths[i], t_.S(d.Height));
        x += widths[i] + gap;
    }
}

// --- Opening and closing ---

void TFindBar::Open() {
    HWND edit = Control(kIdFindEdit);
    if (!edit) return;
    bool fromSelection = false;
    if (!visible_) {
        // A selection within one row is what the user wants to find, mostly.
        const std::u16string selected = t_.SelectedText();
        if (!selected.empty() && selected.size() <= kMaxQueryFromSelection &&
            selected.find(u'\n') == std::u16string::npos &&
            selected.find(u'\r') == std::u16string::npos) {
            SetWindowTextW(edit, W(selected));  // EN_CHANGE searches, but the bar is still hidden
            fromSelection = true;
        }
        Show(true);
        t_.RefreshScrollBars();
        Research(fromSelection);
    }
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, -1);
}

// The bar's row comes or goes between the output and the send row; the
// toolbar above stays as it is.
void TFindBar::Show(bool visible) {
    visible_ = visible;
    for (const TFindControl& d : kFindControls)
        if (HWND c = Control(d.Id)) ShowWindow(c, visible ? SW_SHOW : SW_HIDE);
    t_.RelayoutBottom();
}

void TFindBar::Close() {
    if (!visible_) return;
    visible_ = false;
    if (timer_ && t_.mainWnd_) KillTimer(t_.mainWnd_, kTimerFind);
    timer_ = false;
    hasCurrent_ = false;
    Show(false);
    t_.ShowNewOutput();
    if (HWND edit = t_.Control(kIdEdit)) SetFocus(edit);
}

// --- Keys and commands ---

bool TFindBar::OnKey(int id, WPARAM key) {
    const bool ctrl = GetKeyState(VK_CONTROL) < 0, shift = GetKeyState(VK_SHIFT) < 0;
    if (key == 'F' && ctrl && !shift && GetKeyState(VK_MENU) >= 0) {
        Open();
        return true;
    }
    if (!visible_) return false;
    switch (key) {
        case VK_F3:
            Step(shift ? -1 : 1);
            return true;
        case VK_ESCAPE:
            Close();
            return true;
        case VK_RETURN:
            if (id != kIdFindEdit) return false;
            Step(shift ? -1 : 1);
            return true;
        default:
            return false;
    }
}

bool TFindBar::OnChar(int id, WPARAM ch) const {
    // Ctrl+F's character (6) in any control, Enter's and Esc's in the edit:
    // an edit control would beep at them.
    return ch == 6 || (id == kIdFindEdit && (ch == L'\r' || ch == 27));
}

void TFindBar::OnCommand(int id, int code) {
    switch (id) {
        case kIdFindEdit:
            if (code == EN_CHANGE && visible_) Research(false);
            break;
        case kIdFindCase:
            if (code == BN_CLICKED) {
                Research(false);
                SetFocus(Control(kIdFindEdit));
            }
            break;
        case kIdFindNext:
        case kIdFindPrev:
            if (code == BN_CLICKED) Step(id == kIdFindNext ? 1 : -1);
            break;
        case kIdFindClose:
            if (code == BN_CLICKED) Close();
            break;
        default:
            break;
    }
}

void TFindBar::OnTimer() {
    StepCounter();
    ShowCount();
}

// --- Searching ---

bool TFindBar::Empty() const { return hex_ ? hexSearch_.Empty() : text_.Empty(); }

void TFindBar::Compile() {
    HWND edit = Control(kIdFindEdit);
    query_ = edit ? WindowText(edit) : std::u16string();
    matchCase_ = t_.IsChecked(kIdFindCase);
    model_ = t_.model_;
    hex_ = t_.HexView();
    encoding_ = t_.settings_.Charset;
    hasCurrent_ = false;
    if (hex_) {
        hexQuery_ = ParseHexQuery(query_, encoding_);
        hexSearch_ = hexQuery_.Ok ? THexSearch(hexQuery_, encoding_, matchCase_) : THexSearch();
        hexCount_ = THexMatchCounter(hexSearch_);
        text_ = TTextQuery();
    } else {
        hexQuery_ = THexQuery();
        text_ = TTextQuery(query_, matchCase_);
        textCount_ = TTextMatchCounter(text_);
        hexSearch_ = THexSearch();
    }
}

void TFindBar::Research(bool fromSelection) {
    const bool hadCurrent = hasCurrent_;
    Compile();
    const TTermModel& m = *t_.model_;
    if (!Empty()) {
        if (hex_) {
            const THexFound f = FindPrevHex(m, hexSearch_, m.RawBase() + m.RawCount());
            if (f.Found) SetHexCurrent(f.Match);
        } else {
            TTextFound f;
            if (fromSelection && t_.selection_) {
                TTermWindow::TCell start, end;
                t_.OrderedSelection(start, end);
                const int32_t prefix =
                    t_.settings_.Timestamps ? int32_t(m.TimestampPrefix(start.Row).size()) : 0;
                f = FindNextText(
                    m, text_, {m.FirstLineNumber() + start.Row, std::max(0, start.Col - prefix)});
            } else {
                f = FindPrevText(m, text_, TextEnd(m));
            }
            if (f.Found) SetTextCurrent(f.Match);
        }
    }
    // A selection that was the old current match goes with it.
    if (hadCurrent && !hasCurrent_) t_.selection_ = false;
    StepCounter();
    ShowCount();
    t_.RepaintOutput();
}

void TFindBar::Step(int direction) {
    if (model_ != t_.model_ || hex_ != t_.HexView() || encoding_ != t_.settings_.Charset) Compile();
    if (Empty()) return;
    const TTermModel& m = *t_.model_;
    const int64_t first = m.FirstLineNumber();
    if (hex_) {
        const int64_t bytesPerRow = std::max(1, m.HexBytesPerLine());
        // Without a current match the search starts at the rows in view.
        const int64_t topOffset = m.RawBase() + int64_t(t_.topRow_) * bytesPerRow;
        const int64_t endOffset = topOffset + int64_t(t_.VisibleRows()) * bytesPerRow;
        const THexFound f =
            direction > 0 ? FindNextHex(m, hexSearch_, hasCurrent_ ? hexCur_.Offset + 1 : topOffset)
                          : FindPrevHex(m, hexSearch_, hasCurrent_ ? hexCur_.Offset : endOffset);
        if (f.Found) SetHexCurrent(f.Match);
    } else {
        const TTextPos top = {first + t_.topRow_, 0};
        const TTextPos end = {first + t_.topRow_ + t_.VisibleRows(), 0};
        const TTextFound f =
            direction > 0
                ? FindNextText(m, text_,
                               hasCurrent_ ? TTextPos{textCur_.Line, textCur_.Column + 1} : top)
                : FindPrevText(m, text_,
                               hasCurrent_ ? TTextPos{textCur_.Line, textCur_.Column} : end);
        if (f.Found) SetTextCurrent(f.Match);
    }
    ShowCount();
    t_.RepaintOutput();
}

void TFindBar::SetTextCurrent(const TTextMatch& match) {
    hasCurrent_ = true;
    textCur_ = match;
    const TTermModel& m = *t_.model_;
    const int32_t row = int32_t(match.Line - m.FirstLineNumber());
    const int32_t prefix = t_.settings_.Timestamps ? int32_t(m.TimestampPrefix(row).size()) : 0;
    const int32_t from = prefix + match.Column, to = from + match.Length;
    t_.anchorRow_ = t_.caretRow_ = row;
    t_.anchorCol_ = from;
    t_.caretCol_ = to;
    t_.selection_ = selectionIsMatch_ = true;
    ScrollToRow(row, from, to);
}

void TFindBar::SetHexCurrent(const THexMatch& match) {
    const std::vector<THexSpan> spans = HexMatchSpans(*t_.model_, match);
    if (spans.empty()) return;
    hasCurrent_ = true;
    hexCur_ = match;
    // The selection runs over the hex digits, so Ctrl+C copies "0D 0A".
    const int32_t prefix = t_.settings_.Timestamps ? kTimestampWidth : 0;
    t_.anchorRow_ = spans.front().Row;
    t_.anchorCol_ = prefix + spans.front().HexFrom;
    t_.caretRow_ = spans.back().Row;
    t_.caretCol_ = prefix + spans.back().HexTo;
    t_.selection_ = selectionIsMatch_ = true;
    ScrollToRow(spans.front().Row, prefix + spans.front().HexFrom, prefix + spans.front().HexTo);
}

void TFindBar::DropCurrent() {
    if (!hasCurrent_) return;
    hasCurrent_ = false;
    if (selectionIsMatch_) t_.selection_ = false;
    selectionIsMatch_ = false;
}

void TFindBar::ScrollToRow(int32_t row, int32_t fromCol, int32_t toCol) {
    const int32_t visible = t_.VisibleRows();
    if (row < t_.topRow_ || row >= t_.topRow_ + visible)
        t_.topRow_ = std::clamp(row - visible / 3, 0, t_.LastTopRow());
    const int32_t columns = std::max(1, int32_t(t_.OutputClientSize().cx / t_.charWidth_));
    if (fromCol < t_.firstCol_ || toCol > t_.firstCol_ + columns)
        t_.firstCol_ = std::max(0, toCol - columns < fromCol ? fromCol - columns / 4 : fromCol);
    t_.RefreshScrollBars();
    // Looking at a match above the end stops the output following new data.
    t_.SyncAutoscroll();
}

void TFindBar::OnModelChanged() {
    if (!visible_) return;
    if (model_ != t_.model_ || hex_ != t_.HexView() || encoding_ != t_.settings_.Charset) {
        Research(false);
        return;
    }
    if (hasCurrent_) {
        const bool live = hex_ ? IsHexMatchLive(*model_, hexSearch_, hexCur_)
                               : IsTextMatchLive(*model_, text_, textCur_);
        if (!live) DropCurrent();
    }
    StepCounter();
    ShowCount();
}

void TFindBar::StepCounter() {
    if (!t_.mainWnd_) return;
    const bool done = Empty() || (hex_ ? hexCount_.Step(*t_.model_) : textCount_.Step(*t_.model_));
    if (done == !timer_) return;
    if (done)
        KillTimer(t_.mainWnd_, kTimerFind);
    else
        SetTimer(t_.mainWnd_, kTimerFind, kTimerFindMs, nullptr);
    timer_ = !done;
}

std::u16string TFindBar::CountText() const {
    if (query_.empty()) return {};
    if (hex_ && !hexQuery_.Ok)
        return TrFmt("find.odd_hex", u"Hex digit {0} has no pair",
                     {IntToText(hexQuery_.ErrorPos + 1)});
    const TTermModel& m = *t_.model_;
    const bool done = hex_ ? hexCount_.Done() : textCount_.Done();
    const int64_t total = hex_ ? hexCount_.Total() : textCount_.Total();
    if (done && total == 0) return Tr("find.none", u"No matches");
    const int64_t index = !hasCurrent_ ? 0
                          : hex_       ? hexCount_.IndexOf(m, hexCur_)
                                       : textCount_.IndexOf(m, textCur_);
    // An unfinished count says so: "3 of 1200+".
    const std::u16string all = IntToText(total) + (done ? u"" : u"+");
    if (index > 0) return TrFmt("find.count", u"{0} of {1}", {IntToText(index), all});
    return TrFmt("find.total", u"{0} matches", {all});
}

void TFindBar::ShowCount() {
    if (HWND label = Control(kIdFindCount)) {
        const std::u16string text = CountText();
        if (WindowText(label) != text) SetWindowTextW(label, W(text));
    }
}

const std::vector<TFindBar::TMark>& TFindBar::PaintMarks(int32_t first, int32_t rows) {
    marks_.clear();
    if (!visible_ || model_ != t_.model_ || hex_ != t_.HexView() || Empty()) return marks_;
    const TTermModel& m = *t_.model_;
    if (hex_) {
        hexScratch_.clear();
        HexMatchesInRows(m, hexSearch_, first, rows, hexScratch_);
        for (const THexMatch& h : hexScratch_) {
            const bool current = hasCurrent_ && h == hexCur_;
            for (const THexSpan& s : HexMatchSpans(m, h)) {
                if (s.Row < first || s.Row >= first + rows) continue;
                marks_.push_back({s.Row, s.HexFrom, s.HexTo, current});
                marks_.push_back({s.Row, s.CharFrom, s.CharTo, current});
            }
        }
    } else {
        textScratch_.clear();
        TextMatchesInRows(m, text_, first, rows, textScratch_);
        const int64_t firstLine = m.FirstLineNumber();
        for (const TTextMatch& x : textScratch_)
            marks_.push_back({int32_t(x.Line - firstLine), x.Column, x.Column + x.Length,
                              hasCurrent_ && x == textCur_});
    }
    // The view looks the marks of a row up by row.
    std::stable_sort(marks_.begin(), marks_.end(),
                     [](const TMark& a, const TMark& b) { return a.Row < b.Row; });
    return marks_;
}
