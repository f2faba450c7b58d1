// Selection in the output view: by mouse (with drag scrolling), select all,
// the selected text as displayed (timestamps and hex rows included), the copy
// to the clipboard, the context menu and clearing the output.
//
// Selection positions are kept as rows and columns of the displayed text, not
// as bytes, so a selection survives switching between the text and hex view
// and then names the same rows and columns there.
#include "termwnd/uTermWnd.h"

#include <algorithm>
#include <cstring>

#include "base/uText.h"
#include "i18n/uI18n.h"

void TTermWindow::OrderedSelection(TCell& start, TCell& end) const {
    start = {anchorCol_, anchorRow_};
    end = {caretCol_, caretRow_};
    if (end.Row < start.Row || (end.Row == start.Row && end.Col < start.Col)) std::swap(start, end);
}

TTermWindow::TCell TTermWindow::HitTest(int x, int y) const {
    const int32_t total = TotalRows();
    int32_t row = (y < 0 ? -1 : y / lineHeight_) - (HexView() ? 1 : 0) + topRow_;
    // An empty view has no row to clamp to; its one position is the origin.
    row = total > 0 ? std::clamp(row, 0, total - 1) : 0;
    const int32_t col = x < 0 ? firstCol_ : x / charWidth_ + firstCol_;
    const int32_t length = total > 0 ? int32_t(RowText(row).size()) : 0;
    return {std::clamp(col, 0, length), row};
}

void TTermWindow::OnButtonDown(int x, int y) {
    SetFocus(outputWnd_);
    const TCell hit = HitTest(x, y);
    anchorCol_ = caretCol_ = hit.Col;
    anchorRow_ = caretRow_ = hit.Row;
    selection_ = false;
    find_.SelectionTaken();
    dragging_ = true;
    SetCapture(outputWnd_);
    RepaintOutput();
}

void TTermWindow::OnMouseMove(int x, int y) {
    if (!dragging_) return;
    // Dragging past the top or bottom edge scrolls one row per move.
    if (y < 0 && topRow_ > 0) {
        --topRow_;
        RefreshScrollBars();
    } else if (y > OutputClientSize().cy && topRow_ < LastTopRow()) {
        ++topRow_;
        RefreshScrollBars();
    }
    const TCell hit = HitTest(x, y);
    caretCol_ = hit.Col;
    caretRow_ = hit.Row;
    selection_ = caretCol_ != anchorCol_ || caretRow_ != anchorRow_;
    RepaintOutput();
}

namespace {

// A word for double-click: a run of characters that are neither blanks nor
// the quotes and brackets around them, so an address, a path or a number
// with its dots and colons is one word.
bool IsWordUnit(char16_t c) {
    static constexpr std::u16string_view kStops = u"\"'`()[]{}<>,;|";
    return c > 32 && kStops.find(c) == std::u16string_view::npos;
}

}  // namespace

void TTermWindow::OnDoubleClick(int x, int y) {
    // The second click of a pair: the word under it is selected, and a drag
    // that follows extends the selection from the word's start.
    SetFocus(outputWnd_);
    const TCell hit = HitTest(x, y);
    const std::u16string text = TotalRows() > 0 ? RowText(hit.Row) : std::u16string();
    int32_t from = std::min<int32_t>(hit.Col, int32_t(text.size()));
    int32_t to = from;
    while (from > 0 && IsWordUnit(text[size_t(from - 1)])) --from;
    while (to < int32_t(text.size()) && IsWordUnit(text[size_t(to)])) ++to;
    anchorRow_ = caretRow_ = hit.Row;
    anchorCol_ = from;
    caretCol_ = to;
    selection_ = to > from;
    dragging_ = true;
    SetCapture(outputWnd_);
    RepaintOutput();
}

void TTermWindow::FollowLeavingRows(int64_t firstLineBefore, int64_t rawBaseBefore) {
    int64_t gone = 0;
    if (!HexView()) {
        gone = model_->FirstLineNumber() - firstLineBefore;
    } else {
        // Hex rows move with the raw store's start; a move that is not a
        // whole number of rows leaves no row where it was.
        const int64_t bytes = model_->RawBase() - rawBaseBefore;
        const int32_t perRow = std::max(1, model_->HexBytesPerLine());
        gone = bytes % perRow == 0 ? bytes / perRow : int64_t(TotalRows()) + topRow_ + 1;
    }
    if (gone <= 0) return;
    const int64_t shift = std::min<int64_t>(gone, INT32_MAX / 2);
    // The view keeps showing the same text (autoscrolling then moves it to
    // the end as usual).
    topRow_ = int32_t(std::max<int64_t>(0, topRow_ - shift));
    anchorRow_ = int32_t(std::max<int64_t>(-1, anchorRow_ - shift));
    caretRow_ = int32_t(std::max<int64_t>(-1, caretRow_ - shift));
    if (anchorRow_ >= 0 && caretRow_ >= 0) return;
    // The selection's first line has left the history: the selection goes,
    // and a drag under way starts again where the mouse is.
    selection_ = false;
    anchorRow_ = caretRow_ = std::max(0, std::max(anchorRow_, caretRow_));
}

void TTermWindow::OnButtonUp() {
    if (!dragging_) return;
    dragging_ = false;
    ReleaseCapture();
}

void TTermWindow::SelectAll() {
    const int32_t total = TotalRows();
    if (total == 0) return;
    find_.SelectionTaken();
    anchorCol_ = anchorRow_ = 0;
    caretRow_ = total - 1;
    caretCol_ = int32_t(RowText(caretRow_).size());
    selection_ = true;
    RepaintOutput();
}

std::u16string TTermWindow::SelectedText() const {
    if (!selection_) return {};
    TCell start, end;
    OrderedSelection(start, end);
    std::u16string out;
    for (int32_t row = start.Row; row <= end.Row; ++row) {
        // Positions taken in another view or before the model changed may lie
        // past the row's end: both bounds are clamped to the text.
        const std::u16string text = RowText(row);
        const size_t length = text.size();
        const size_t to = std::min(length, row == end.Row ? size_t(std::max(0, end.Col)) : length);
        const size_t from = std::min(to, row == start.Row ? size_t(std::max(0, start.Col)) : 0);
        out.append(text, from, to - from);
        if (row < end.Row) out += u"\r\n";
    }
    return out;
}

bool TTermWindow::CopySelection() {
    const std::u16string text = SelectedText();
    if (text.empty()) return false;
    const size_t bytes = (text.size() + 1) * sizeof(char16_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!memory) return false;
    if (void* p = GlobalLock(memory)) {
        std::memcpy(p, text.c_str(), bytes);
        GlobalUnlock(memory);
    } else {
        GlobalFree(memory);
        return false;
    }
    if (!OpenClipboard(mainWnd_)) {
        GlobalFree(memory);
        return false;
    }
    EmptyClipboard();
    const bool taken = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    CloseClipboard();
    if (!taken) GlobalFree(memory);
    return taken;
}

namespace {

// A command as a menu item: one line of at most about 40 characters, with
// '&' shown as itself rather than as a mnemonic.
std::u16string CommandMenuText(const std::u16string& text) {
    constexpr size_t kMax = 40;
    std::u16string out;
    for (size_t i = 0; i < text.size() && i < kMax; ++i) {
        const char16_t c = text[i];
        if (c == u'&')
            out += u"&&";
        else
            out.push_back(c < 32 ? u' ' : c);
    }
    // Never half a surrogate pair at the cut.
    if (text.size() > kMax && text[kMax - 1] >= 0xD800 && text[kMax - 1] <= 0xDBFF) out.pop_back();
    if (text.size() > kMax) out += u"\u2026";
    return out;
}

}  // namespace

HMENU TTermWindow::BuildContextMenu() const {
    HMENU menu = CreatePopupMenu();
    if (!menu) return nullptr;
    AppendMenuW(menu, MF_STRING | (selection_ ? 0 : MF_GRAYED), kCmdCopy,
                W(Tr("action.copy", u"Copy")));
    AppendMenuW(menu, MF_STRING, kCmdSelectAll, W(Tr("action.select_all", u"Select all")));
    AppendMenuW(menu, MF_STRING, kCmdFind, W(Tr("action.find", u"Find\u2026\tCtrl+F")));
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kCmdClearOutput, W(Tr("action.clear_output", u"Clear output")));
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING | (settings_.Log ? MF_CHECKED : 0), kCmdLog,
                W(Tr("option.log", u"Log")));
    AppendMenuW(menu, MF_STRING, kCmdSaveOutput,
                W(Tr("action.save_output", u"Save output as\u2026")));
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    if (HMENU commands = CreatePopupMenu()) {
        for (int i = 0; i < kCommandCount; ++i) {
            const std::u16string& text = settings_.Commands[size_t(i)].Text;
            if (text.empty()) continue;
            AppendMenuW(commands, MF_STRING | (i == repeatIndex_ ? MF_CHECKED : 0),
                        UINT_PTR(kCmdSendCommand + i),
                        W(CommandMenuText(text) + u"\tAlt+" + IntToText((i + 1) % 10)));
        }
        const bool any = GetMenuItemCount(commands) > 0;
        AppendMenuW(menu, MF_POPUP | (any ? 0 : MF_GRAYED), UINT_PTR(commands),
                    W(Tr("action.send", u"Send")));
    }
    AppendMenuW(menu, MF_STRING | (CanSendBreak() ? 0 : MF_GRAYED), kCmdSendBreak,
                W(Tr("action.send_break", u"Send break\tCtrl+Break")));
    AppendMenuW(menu, MF_STRING | (CanSendFile() ? 0 : MF_GRAYED), kCmdSendFile,
                W(Tr("action.send_file", u"Send file\u2026")));
    return menu;
}

void TTermWindow::RunMenuCommand(int command) {
    switch (command) {
        case kCmdCopy:
            CopySelection();
            break;
        case kCmdSelectAll:
            SelectAll();
            break;
        case kCmdFind:
            find_.Open();
            break;
        case kCmdClearOutput:
            ClearOutput();
            break;
        case kCmdLog:
            // as a click on the box would
            SetChecked(kIdLog, !IsChecked(kIdLog));
            PostApply(kIdLog);
            break;
        case kCmdSaveOutput:
            SaveOutputAs();
            break;
        case kCmdSendBreak:
            SendBreak();
            break;
        case kCmdSendFile:
            ChooseFileToSend();
            break;
        default:
            if (command >= kCmdSendCommand && command < kCmdSendCommand + kCommandCount)
                SendCommand(command - kCmdSendCommand);
            break;
    }
}

void TTermWindow::OnContextMenu(LPARAM lp) {
    POINT pt = {static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
    if (pt.x == -1 && pt.y == -1) {
        pt = {10, 10};
        ClientToScreen(outputWnd_, &pt);
    }
    HMENU menu = BuildContextMenu();
    if (!menu) return;
    const int command = int(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, pt.x, pt.y, 0, outputWnd_, nullptr));
    DestroyMenu(menu);
    RunMenuCommand(command);
}

void TTermWindow::ClearOutput() {
    if (log_) log_->FlushOpenLine();  // the log keeps what the view lets go
    model_->Reset();
    selection_ = false;
    topRow_ = 0;
    firstCol_ = 0;
    RefreshScrollBars();
    RepaintOutput();
    find_.OnModelChanged();  // the matches went with the output
}
