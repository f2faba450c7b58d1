// The find bar of a terminal window: a row above the send row with the query,
// Match case, Previous, Next, the "3 of 17" count and a close button, and the
// state of one search over the window's current model (the text lines in the
// text view, the raw bytes in the hex view; the rules are in uTermFind.h).
//
// Design notes
// - The current match is kept by absolute numbers (line number or stream
//   offset), never by row: rows move as the history streams past. After every
//   change of the model the bar checks it is still live and drops it when its
//   text left; the selection is the current match, so Ctrl+C copies it.
// - Counting every match of a deep history takes longer than a keystroke may,
//   so the counter is stepped in slices: once per received slice and from a
//   short timer while it is not done. The label shows "17+" until then.
// - The view paints the matches of its visible rows, which it asks for once
//   per paint (PaintMarks), in columns of the line's text or of HexLine: the
//   view adds the width of a timestamp it shows in front.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/uTermFind.h"

class TTermWindow;

// Control IDs of the find bar (the main window's children).
constexpr int kIdFindEdit = 150;
constexpr int kIdFindCase = 151;
constexpr int kIdFindNext = 152;
constexpr int kIdFindPrev = 153;
constexpr int kIdFindCount = 154;
constexpr int kIdFindClose = 155;
constexpr int kIdFindLabel = 156;

// Timer of the main window that counts matches in slices while the bar is open.
constexpr UINT_PTR kTimerFind = 4;
constexpr UINT kTimerFindMs = 15;

// Colours of the matches: dark text on a light yellow, the current one on
// orange; both stand out on a dark and on a light terminal background and
// differ from the blue of a selection.
constexpr COLORREF kFindMatchText = RGB(0, 0, 0);
constexpr COLORREF kFindMatchBack = RGB(250, 218, 94);
constexpr COLORREF kFindCurrentText = RGB(0, 0, 0);
constexpr COLORREF kFindCurrentBack = RGB(255, 136, 0);

class TFindBar {
public:
    explicit TFindBar(TTermWindow& term) : t_(term) {}
    TFindBar(const TFindBar&) = delete;
    TFindBar& operator=(const TFindBar&) = delete;

    // The bar's controls, hidden, as children of the main window.
    void Create();
    bool Visible() const { return visible_; }
    // Places the controls in a row at y across [x, x + width).
    void Layout(HDC dc, int x, int y, int width);

    // Ctrl+F: shows the bar (the query taken from a one-row selection) and
    // puts the focus in its edit. Close hides it and gives the focus back to
    // the send line.
    void Open();
    void Close();
    // Next (+1) or Previous (-1) from the current match, going round.
    void Step(int direction);

    // A key-down in one of the window's controls or the output view (id):
    // true when the bar took it. Characters of keys it took are swallowed.
    bool OnKey(int id, WPARAM key);
    bool OnChar(int id, WPARAM ch) const;
    void OnCommand(int id, int code);
    void OnTimer();
    // After the model or the view changed (bytes arrived, options applied,
    // another session shown): the current match checked, the count stepped.
    void OnModelChanged();

    // One highlighted run of a row: columns [From, To) of the line's text (text
    // view) or of HexLine (hex view).
    struct TMark {
        int32_t Row = 0;
        int32_t From = 0, To = 0;
        bool Current = false;
    };
    // The marks of rows first .. first + rows - 1 (none while the bar is closed).
    const std::vector<TMark>& PaintMarks(int32_t first, int32_t rows);
    // The marks PaintMarks found last, in row order.
    const std::vector<TMark>& Marks() const { return marks_; }
    // What the count label shows.
    std::u16string CountText() const;
    bool HasCurrent() const { return hasCurrent_; }
    // The user selected something of their own: a current match that leaves
    // the history later no longer takes the selection with it.
    void SelectionTaken() { selectionIsMatch_ = false; }

private:
    void Show(bool visible);
    // Reads the query and Match case and compiles them for the current view;
    // a new counter starts.
    void Compile();
    // A new query: compiled, and the match nearest the newest output (or at
    // the selection, from Open) made current.
    void Research(bool fromSelection);
    bool Empty() const;
    // Makes a found match current: selected, scrolled into view, painted.
    void SetTextCurrent(const TTextMatch& m);
    void SetHexCurrent(const THexMatch& m);
    void DropCurrent();
    void ScrollToRow(int32_t row, int32_t fromCol, int32_t toCol);
    void StepCounter();
    void ShowCount();
    HWND Control(int id) const;

    TTermWindow& t_;
    bool visible_ = false;
    // What the search was compiled for: a change of any of these compiles again.
    const TTermModel* model_ = nullptr;
    bool hex_ = false;
    int32_t encoding_ = 0;
    std::u16string query_;
    bool matchCase_ = false;
    THexQuery hexQuery_;
    TTextQuery text_;
    TTextMatchCounter textCount_;
    THexSearch hexSearch_;
    THexMatchCounter hexCount_;
    bool hasCurrent_ = false;
    bool selectionIsMatch_ = false;  // the selection is the current match
    TTextMatch textCur_;
    THexMatch hexCur_;
    bool timer_ = false;
    std::vector<TMark> marks_;
    std::vector<TTextMatch> textScratch_;
    std::vector<THexMatch> hexScratch_;
};
