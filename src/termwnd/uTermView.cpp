// The output view: the current model as text rows with colours or as a hex
// dump, painted off-screen on a strict character grid, and its scrolling.
//
// Every row is cut into runs of equal attribute and selection state and each
// run goes out in one ExtTextOutW with the shared advance array, so a cell is
// exactly one character width wherever the font would place its glyphs.
// Painting happens only in WM_PAINT: everything else invalidates.
#include "termwnd/uTermWnd.h"

#include <windowsx.h>

#include <algorithm>

#include "base/uBarrier.h"
#include "i18n/uI18n.h"

namespace {

// Where the user is dragging a scroll bar's thumb (the full 32-bit position).
int32_t TrackPosition(HWND hwnd, int bar) {
    SCROLLINFO si = {};
    si.cbSize = sizeof si;
    si.fMask = SIF_TRACKPOS;
    GetScrollInfo(hwnd, bar, &si);
    return si.nTrackPos;
}

// BeginPaint/EndPaint and a memory DC with a bitmap selected, as owners: a
// paint that fails half-way still ends the paint and frees the DC.
class TPaintScope {
public:
    explicit TPaintScope(HWND hwnd) : hwnd_(hwnd), dc_(BeginPaint(hwnd, &ps_)) {}
    ~TPaintScope() { EndPaint(hwnd_, &ps_); }
    TPaintScope(const TPaintScope&) = delete;
    TPaintScope& operator=(const TPaintScope&) = delete;
    HDC Dc() const { return dc_; }

private:
    HWND hwnd_;
    PAINTSTRUCT ps_ = {};
    HDC dc_;
};

class TMemoryDc {
public:
    TMemoryDc(HDC like, HBITMAP bitmap) : dc_(CreateCompatibleDC(like)) {
        if (dc_) old_ = SelectObject(dc_, bitmap);
    }
    ~TMemoryDc() {
        if (!dc_) return;
        SelectObject(dc_, old_);
        DeleteDC(dc_);
    }
    TMemoryDc(const TMemoryDc&) = delete;
    TMemoryDc& operator=(const TMemoryDc&) = delete;
    HDC Dc() const { return dc_; }

private:
    HDC dc_;
    HGDIOBJ old_ = nullptr;
};

constexpr int kWheelDelta = 120;
constexpr int kWheelRows = 3;

}  // namespace

// --- Colours ---

TCellColors ResolveCellColors(uint16_t attr, bool ansi, bool selected, COLORREF background,
                              COLORREF text) {
    if (selected) return {kSelectionText, kSelectionBack};
    if (!ansi) return {text, background};
    int fg = attr & 0x1F;
    const int bg = (attr >> 5) & 0x1F;
    TCellColors c;
    if (fg == kColorDefault) {
        c.Fore = kDefaultAnsiForeground;
    } else {
        if ((attr & kAttrBold) && fg < 8) fg += 8;
        c.Fore = kPalette[fg % 16];
    }
    c.Back = bg == kColorDefault ? background : kPalette[bg % 16];
    if (attr & kAttrInverse) std::swap(c.Fore, c.Back);
    return c;
}

// --- Geometry ---

SIZE TTermWindow::OutputClientSize() const {
    RECT rc = {};
    if (outputWnd_) GetClientRect(outputWnd_, &rc);
    return {rc.right, rc.bottom};
}

int32_t TTermWindow::TotalRows() const {
    return HexView() ? model_->HexLineCount() : model_->LineCount();
}

int32_t TTermWindow::VisibleRows() const {
    return std::max(1, int(OutputClientSize().cy / lineHeight_) - (HexView() ? 1 : 0));
}

int32_t TTermWindow::LastTopRow() const { return std::max(0, TotalRows() - VisibleRows()); }

int32_t TTermWindow::ContentWidth() const {
    if (HexView()) return int32_t(HexHeaderText().size()) + 1;
    return model_->MaxLineLength() + 1 + (settings_.Timestamps ? kTimestampWidth : 0);
}

namespace {

// The arrival time of a hex row's first byte, as the text view shows a
// line's; a row without a recorded time gets blanks, so columns stay aligned.
std::u16string HexRowStamp(const TTermModel& m, int32_t row) {
    const TDateTime t = m.HexRowTime(row);
    return t != 0 ? FormatTimestamp(t, m.TimeSeparator) : std::u16string(kTimestampWidth, u' ');
}

}  // namespace

std::u16string TTermWindow::HexHeaderText() const {
    const std::u16string header =
        TTermModel::HexHeader(Tr("hex.offset", u"Offset"), hexBytesPerLine_);
    return settings_.Timestamps ? std::u16string(kTimestampWidth, u' ') + header : header;
}

std::u16string TTermWindow::RowText(int32_t row) const {
    if (HexView()) {
        if (!settings_.Timestamps) return model_->HexLine(row);
        std::u16string line = model_->HexLine(row);
        return line.empty() ? line : HexRowStamp(*model_, row) + line;
    }
    if (!settings_.Timestamps) return model_->LineText(row);
    return model_->TimestampPrefix(row) + model_->LineText(row);
}

// --- Output view procedure ---

LRESULT CALLBACK TTermWindow::OutputProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<TTermWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_NCDESTROY) SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    if (!self || msg == WM_NCDESTROY) return DefWindowProcW(hwnd, msg, wp, lp);
    return GuardedProc([&] { return self->HandleOutputMessage(hwnd, msg, wp, lp); },
                       [&](TFault kind) { self->OnFault(kind); });
}

LRESULT TTermWindow::HandleOutputMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_SIZE:
            OnOutputSize();
            return 0;
        case WM_PAINT:
            OnPaint();
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_CONTEXTMENU:
            OnContextMenu(lp);
            return 0;
        case WM_GETDLGCODE:
            return DLGC_WANTARROWS | DLGC_WANTCHARS;
        case WM_KEYDOWN:
            OnOutputKey(wp, lp);
            return 0;
        case WM_SYSKEYDOWN:
        case WM_SYSCHAR:
            if (OnCommandKey(msg, wp)) return 0;
            return DefWindowProcW(hwnd, msg, wp, lp);
        case WM_KEYUP:
            if (wp == 'Q' && GetKeyState(VK_CONTROL) < 0 && embedded_) {
                PostMessageW(listerWnd_, msg, wp, lp);
                return 0;
            }
            return DefWindowProcW(hwnd, msg, wp, lp);
        case WM_CHAR:
            if (wp < 32) return DefWindowProcW(hwnd, msg, wp, lp);
            OnOutputChar(wp, lp);
            return 0;
        case WM_VSCROLL:
            OnVScroll(LOWORD(wp));
            return 0;
        case WM_HSCROLL:
            OnHScroll(LOWORD(wp));
            return 0;
        case WM_LBUTTONDOWN:
            OnButtonDown(GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
            return 0;
        case WM_MOUSEMOVE:
            OnMouseMove(GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
            return 0;
        case WM_LBUTTONUP:
            OnButtonUp();
            return 0;
        case WM_LBUTTONDBLCLK:
            OnDoubleClick(GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
            return 0;
        case WM_CAPTURECHANGED:
            // Alt+Tab, a popup or a message box took the mouse: the drag ends
            // where it was.
            dragging_ = false;
            return 0;
        case WM_MOUSEWHEEL:
            OnWheel(GET_WHEEL_DELTA_WPARAM(wp), (GET_KEYSTATE_WPARAM(wp) & MK_SHIFT) != 0);
            return 0;
        default:
            return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

void TTermWindow::OnOutputSize() {
    RefreshScrollBars();
    if (settings_.Autoscroll) {
        topRow_ = LastTopRow();
        RefreshScrollBars();
    }
    RepaintOutput();
}

void TTermWindow::OnOutputKey(WPARAM key, LPARAM lp) {
    const bool ctrl = GetKeyState(VK_CONTROL) < 0;
    if (key == 'Q' && ctrl && embedded_) {
        PostMessageW(listerWnd_, WM_KEYDOWN, key, lp);
        return;
    }
    if (find_.OnKey(kIdOutput, key)) return;
    switch (key) {
        case VK_ESCAPE:
            // A transfer first: it holds the line a repeating command waits for.
            if (FileSendRunning())
                CancelFileSend();
            else if (repeatIndex_ >= 0)
                StopRepeat(true);
            return;
        case VK_CANCEL:  // Ctrl+Break
            if (ctrl) SendBreak();
            return;
        case VK_PRIOR:
            return OnVScroll(SB_PAGEUP);
        case VK_NEXT:
            return OnVScroll(SB_PAGEDOWN);
        case VK_UP:
            return OnVScroll(SB_LINEUP);
        case VK_DOWN:
            return OnVScroll(SB_LINEDOWN);
        case VK_HOME:
        case VK_END:
            if (ctrl) return OnVScroll(key == VK_HOME ? SB_TOP : SB_BOTTOM);
            break;
        case 'A':
            if (ctrl) return SelectAll();
            break;
        case 'C':
            if (ctrl) {
                CopySelection();
                return;
            }
            break;
        default:
            break;
    }
    DefWindowProcW(outputWnd_, WM_KEYDOWN, key, lp);
}

void TTermWindow::OnOutputChar(WPARAM ch, LPARAM lp) {
    // Typing while the output has the focus goes to the edit line.
    HWND edit = Control(kIdEdit);
    if (!edit) return;
    SetFocus(edit);
    PostMessageW(edit, WM_CHAR, ch, lp);
}

// --- Scrolling ---

void TTermWindow::RefreshScrollBars() {
    if (scrollUpdating_ || !outputWnd_) return;
    scrollUpdating_ = true;
    // Showing or hiding a bar changes the client size and with it the page;
    // go again until the size holds, and a view that was at the end stays there.
    for (int pass = 0; pass < 3; ++pass) {
        const SIZE before = OutputClientSize();
        const bool atEnd = topRow_ >= LastTopRow();
        ApplyScrollBars();
        const SIZE after = OutputClientSize();
        if (before.cx == after.cx && before.cy == after.cy) break;
        if (atEnd) topRow_ = LastTopRow();
    }
    scrollUpdating_ = false;
}

void TTermWindow::ApplyScrollBars() {
    topRow_ = std::clamp(topRow_, 0, LastTopRow());
    auto set = [this](int bar, TBarState& last, const TBarState& now) {
        if (now == last) return;
        last = now;
        SCROLLINFO si = {};
        si.cbSize = sizeof si;
        si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
        si.nMin = 0;
        si.nMax = now.Max;
        si.nPage = UINT(now.Page);
        si.nPos = now.Pos;
        SetScrollInfo(outputWnd_, bar, &si, TRUE);
    };
    set(SB_VERT, vertBar_, {std::max(0, TotalRows() - 1), VisibleRows(), topRow_});

    const int32_t columns = OutputClientSize().cx / charWidth_;
    const int32_t content = ContentWidth();
    firstCol_ = std::clamp(firstCol_, 0, std::max(0, content - columns));
    set(SB_HORZ, horzBar_, {content - 1, std::max(0, columns), firstCol_});
}

void TTermWindow::ScrollToEnd() {
    topRow_ = LastTopRow();
    RefreshScrollBars();
    RepaintOutput();
}

void TTermWindow::RepaintOutput() {
    if (outputWnd_) InvalidateRect(outputWnd_, nullptr, FALSE);
}

void TTermWindow::ShowNewOutput() {
    // At the end already when autoscrolling: one refresh of the bars, not two.
    if (settings_.Autoscroll) topRow_ = LastTopRow();
    RefreshScrollBars();
    RepaintOutput();
    find_.OnModelChanged();
}

void TTermWindow::KeepPlaceAcrossViews(bool wasHex) {
    // Lines and hex rows share no numbering; what they share is the arrival
    // time of their bytes: the new top row holds the first byte of the read
    // that brought the old top row's first byte.
    firstCol_ = 0;
    if (settings_.Autoscroll) return;
    const TDateTime t = wasHex ? model_->HexRowTime(topRow_) : model_->LineTime(topRow_);
    if (t == 0) return;
    // Times only grow along the bytes and down the lines; 0 is the open line at the end.
    auto firstAtOrAfter = [t](int32_t n, auto timeOf) {
        int32_t lo = 0, hi = n;
        while (lo < hi) {
            const int32_t mid = lo + (hi - lo) / 2;
            const TDateTime m = timeOf(mid);
            if (m != 0 && m < t)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    };
    if (HexView())
        topRow_ =
            firstAtOrAfter(model_->RawCount(), [&](int32_t i) { return model_->RawTime(i); }) /
            std::max(1, model_->HexBytesPerLine());
    else
        topRow_ =
            firstAtOrAfter(model_->LineCount(), [&](int32_t i) { return model_->LineTime(i); });
}

void TTermWindow::SyncAutoscroll() {
    const bool atEnd = topRow_ >= LastTopRow();
    if (atEnd == settings_.Autoscroll) return;
    settings_.Autoscroll = atEnd;
    SetChecked(kIdAutoscroll, atEnd);
}

void TTermWindow::OnVScroll(int command) {
    const int32_t page = VisibleRows() - 1;
    int32_t row = topRow_;
    switch (command) {
        case SB_LINEUP:
            row -= 1;
            break;
        case SB_LINEDOWN:
            row += 1;
            break;
        case SB_PAGEUP:
            row -= page;
            break;
        case SB_PAGEDOWN:
            row += page;
            break;
        case SB_THUMBPOSITION:
        case SB_THUMBTRACK:
            row = TrackPosition(outputWnd_, SB_VERT);
            break;
        case SB_TOP:
            row = 0;
            break;
        case SB_BOTTOM:
            row = LastTopRow();
            break;
        default:
            return;
    }
    topRow_ = std::clamp(row, 0, LastTopRow());
    RefreshScrollBars();
    SyncAutoscroll();
    RepaintOutput();
}

void TTermWindow::OnHScroll(int command) {
    const int32_t columns = OutputClientSize().cx / charWidth_;
    const int32_t last = std::max(0, ContentWidth() - columns);
    int32_t col = firstCol_;
    switch (command) {
        case SB_LINELEFT:
            col -= 1;
            break;
        case SB_LINERIGHT:
            col += 1;
            break;
        case SB_PAGELEFT:
            col -= columns;
            break;
        case SB_PAGERIGHT:
            col += columns;
            break;
        case SB_THUMBPOSITION:
        case SB_THUMBTRACK:
            col = TrackPosition(outputWnd_, SB_HORZ);
            break;
        case SB_LEFT:
            col = 0;
            break;
        case SB_RIGHT:
            col = last;
            break;
        default:
            return;
    }
    firstCol_ = std::clamp(col, 0, last);
    RefreshScrollBars();
    RepaintOutput();
}

void TTermWindow::OnWheel(int delta, bool shift) {
    if (shift) return OnHScroll(delta > 0 ? SB_PAGELEFT : SB_PAGERIGHT);
    topRow_ = std::clamp(topRow_ - delta / kWheelDelta * kWheelRows, 0, LastTopRow());
    RefreshScrollBars();
    SyncAutoscroll();
    RepaintOutput();
}

// --- Painting ---

void TTermWindow::OnPaint() {
    const TPaintScope paint(outputWnd_);
    if (faultProbe_) faultProbe_(TFaultSite::Paint);
    RECT rc;
    GetClientRect(outputWnd_, &rc);
    if (rc.right <= 0 || rc.bottom <= 0) return;
    // The off-screen bitmap is kept while the view keeps its size: a stream
    // of data repaints many times a second.
    if (!backBitmap_ || backSize_.cx != rc.right || backSize_.cy != rc.bottom) {
        backBitmap_.Reset(CreateCompatibleBitmap(paint.Dc(), rc.right, rc.bottom));
        backSize_ = {rc.right, rc.bottom};
    }
    if (!backBitmap_) return;
    const TMemoryDc mem(paint.Dc(), backBitmap_.Get());
    if (!mem.Dc()) return;
    PaintView(mem.Dc(), rc);
    BitBlt(paint.Dc(), 0, 0, rc.right, rc.bottom, mem.Dc(), 0, 0, SRCCOPY);
}

void TTermWindow::PaintView(HDC dc, const RECT& client) {
    HGDIOBJ oldFont = SelectObject(dc, termFont_.Get());
    FillRect(dc, &client, backgroundBrush_.Get());
    SetBkMode(dc, OPAQUE);
    const int width = client.right;
    int top = 0;
    if (HexView()) {
        const std::u16string header = HexHeaderText();
        const RECT band = {0, 0, width, lineHeight_};
        SetTextColor(dc, textColor_);
        SetBkColor(dc, backgroundColor_);
        if (firstCol_ < int32_t(header.size()))
            ExtTextOutW(dc, -firstCol_ * charWidth_, 0, ETO_CLIPPED | ETO_OPAQUE, &band, W(header),
                        UINT(header.size()), advance_.data());
        else
            ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &band, nullptr, 0, nullptr);
        top = lineHeight_;
    }
    const int32_t total = TotalRows();
    const int32_t rows = client.bottom / lineHeight_;
    find_.PaintMarks(topRow_, rows + 1);
    for (int32_t i = 0; i <= rows; ++i) {
        const int32_t row = topRow_ + i;
        if (row >= total) break;
        DrawRow(dc, row, top + i * lineHeight_, width);
    }
    SelectObject(dc, oldFont);
}

void TTermWindow::DrawRow(HDC dc, int32_t row, int y, int width) {
    // The row's text and attributes: in the text view the model's views, with
    // the timestamp prefix put in front when shown.
    std::u16string_view text, attrs;
    int32_t prefixWidth = 0;  // of the timestamp in front
    if (HexView()) {
        rowText_ = RowText(row);
        text = rowText_;
        prefixWidth = settings_.Timestamps && !rowText_.empty() ? kTimestampWidth : 0;
    } else if (settings_.Timestamps) {
        const std::u16string prefix = model_->TimestampPrefix(row);
        prefixWidth = int32_t(prefix.size());
        rowText_.assign(prefix).append(model_->LineTextView(row));
        rowAttrs_.assign(prefix.size(), char16_t(kAttrTimestamp))
            .append(model_->LineAttrsView(row));
        text = rowText_;
        attrs = rowAttrs_;
    } else {
        text = model_->LineTextView(row);
        attrs = model_->LineAttrsView(row);
    }
    const int32_t length = int32_t(text.size());
    if (length == 0) return;

    // Selected columns of this row: [selFrom, selTo).
    int32_t selFrom = 0, selTo = 0;
    if (selection_) {
        TCell start, end;
        OrderedSelection(start, end);
        if (row >= start.Row && row <= end.Row) {
            selFrom = row == start.Row ? start.Col : 0;
            selTo = row == end.Row ? end.Col : length;
        }
    }
    const int32_t from = firstCol_;
    const int32_t to = std::min(length, width / charWidth_ + firstCol_ + 2);
    if (from >= to) return;

    // Runs break where the colours drawn change. A blank shows only its
    // background, so it joins a run of any foreground on the same background:
    // coloured words between uncoloured blanks then cost one call each.
    // In the hex view only a timestamp has a colour of its own, the text view's.
    const bool ansi = settings_.AnsiColors && !HexView();
    const bool hexStamps = HexView() && settings_.AnsiColors;
    // Find matches on this row as a mark per visible cell (1 a match, 2 the
    // current one): a short query on a long line can match thousands of times,
    // and the cells are asked one by one.
    cellMarks_.assign(size_t(to - from), 0);
    const std::vector<TFindBar::TMark>& marks = find_.Marks();  // in row order
    auto m = std::lower_bound(marks.begin(), marks.end(), row,
                              [](const TFindBar::TMark& x, int32_t r) { return x.Row < r; });
    for (; m != marks.end() && m->Row == row; ++m) {
        const int32_t a = std::max(from, m->From + prefixWidth);
        const int32_t b = std::min(to, m->To + prefixWidth);
        for (int32_t i = a; i < b; ++i)
            cellMarks_[size_t(i - from)] =
                std::max<uint8_t>(cellMarks_[size_t(i - from)], m->Current ? 2 : 1);
    }
    auto colorsAt = [&](int32_t i) {
        const uint8_t mark = cellMarks_[size_t(i - from)];
        const bool selected = i >= selFrom && i < selTo;
        // The current match, then the selection, then the other matches.
        if (mark == 2) return TCellColors{kFindCurrentText, kFindCurrentBack};
        if (mark == 1 && !selected) return TCellColors{kFindMatchText, kFindMatchBack};
        if (hexStamps && i < prefixWidth)
            return ResolveCellColors(kAttrTimestamp, true, selected, backgroundColor_, textColor_);
        const uint16_t attr = i < int32_t(attrs.size()) ? uint16_t(attrs[size_t(i)]) : kAttrDefault;
        return ResolveCellColors(attr, ansi, selected, backgroundColor_, textColor_);
    };
    int32_t runStart = from;
    TCellColors run = colorsAt(from);
    bool blanksOnly = text[size_t(from)] == u' ';
    for (int32_t i = from + 1; i < to; ++i) {
        const TCellColors c = colorsAt(i);
        const bool blank = text[size_t(i)] == u' ';
        if (c.Back == run.Back && (blank || blanksOnly || c.Fore == run.Fore)) {
            if (!blank) {  // a run of blanks so far takes the first character's colour
                run.Fore = c.Fore;
                blanksOnly = false;
            }
            continue;
        }
        DrawRun(dc, text.data(), runStart, i, y, run);
        runStart = i;
        run = c;
        blanksOnly = blank;
    }
    DrawRun(dc, text.data(), runStart, to, y, run);
}

void TTermWindow::DrawRun(HDC dc, const char16_t* text, int32_t from, int32_t to, int y,
                          TCellColors colors) {
    SetTextColor(dc, colors.Fore);
    SetBkColor(dc, colors.Back);
    // The advance array covers kAdvanceCount cells; a wider run (a view more
    // than that many cells wide) goes out in pieces.
    for (int32_t a = from; a < to; a += kAdvanceCount) {
        const int32_t b = std::min(to, a + kAdvanceCount);
        const int x = (a - firstCol_) * charWidth_;
        const RECT clip = {x, y, (b - firstCol_) * charWidth_, y + lineHeight_};
        ExtTextOutW(dc, x, y, ETO_CLIPPED | ETO_OPAQUE, &clip, W(text + a), UINT(b - a),
                    advance_.data());
    }
}
