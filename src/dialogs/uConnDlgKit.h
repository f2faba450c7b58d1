// Building blocks both dialogs (the connection manager with its tabs, and the
// properties dialog) are made of: the state every open dialog has, the control
// tables they are built from, reading the fields the user typed, the rules a
// connection's name and host must pass, and the one modal loop with its
// barrier against faults.
//
// Only one manager and one properties dialog exist at a time, so each works
// on one set of state. The manager's preview font and brush belong to it and
// die with it; the stock dialog font is borrowed, never deleted.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "base/uBarrier.h"
#include "base/uWin.h"
#include "i18n/uI18n.h"
#include "settings/uLineChoices.h"
#include "settings/uSettingsRules.h"

// What every open dialog has: its window, its owner (the host window), its
// layout, its look, and how its modal run stands.
struct TDialogState {
    HWND Dialog = nullptr;
    HWND Owner = nullptr;
    int Dpi = 96;
    HFONT Font = nullptr;  // the stock dialog font, borrowed
    bool Dark = false;
    bool CloseRequested = false;
    // The push button Enter presses while no push button has the focus; it
    // counts only while it can be seen and used. 0: none.
    int DefaultButton = 0;
    int NextAutoId = 0;        // the ID the next unnumbered control gets
    HWND LastFocus = nullptr;  // where the focus returns when the dialog is active again

    // Kept by the modal run (BeginModal ... EndModal).
    bool OwnerDisabled = false;     // by this run, so it is enabled again at the end
    std::optional<int> Quit;        // the exit code of a WM_QUIT that ended the run
    std::optional<TFault> Fault;    // what closed the dialog behind the user's back
    TDialogState* Outer = nullptr;  // the run this one was opened inside
};

// Page indexes in tab order.
constexpr int kPageConnections = 0;
constexpr int kPageFont = 1;
constexpr int kPageAppearance = 2;
constexpr int kPageGeneral = 3;
constexpr int kPageCount = 4;

struct TManager : TDialogState {
    std::array<HWND, kPageCount> Pages{};

    // Connections tab: the saved connection whose values are in the form
    // (empty for a new one) and the names the list shows, item i = Names[i].
    std::u16string CurrentName;
    TNameArray Names;

    // General tab: item i of the language list is Languages[i].
    TLanguageList Languages;

    // Font and Appearance previews.
    TGdiObject<HFONT> PreviewFont;
    TGdiObject<HBRUSH> PreviewBrush;
    COLORREF PreviewBack = 0;
    COLORREF PreviewText = 0;
};

// A length in 96-DPI units at the dialog's layout DPI.
int Scale(const TDialogState& d, int units);
// The screen's DPI, never below 96: the layout DPI of a dialog without a
// window to measure.
int ScreenDpi();
// The window class of a dialog, registered on first use and kept; registered
// again only should it be gone (one left by an earlier load of this library
// at the same address is taken as it is).
bool RegisterDialogClass(const wchar_t* name, WNDPROC proc);
// Sizes a dialog to a client area of w x h, centred on `around` and kept
// inside the work area of that monitor.
void PlaceDialog(HWND dialog, const RECT& around, int w, int h);
// The control with this ID: the dialog first, then the pages in tab order.
HWND Control(const TManager& m, int id);

// What a table entry creates; the class and styles of each kind live in one
// table beside CreateControls.
enum class TCtl : uint8_t {
    Label,
    FramedLabel,  // a label with a border: the previews
    GroupBox,
    Edit,
    NumberEdit,  // digits only
    DropList,
    DropDown,        // editable
    SortedDropDown,  // editable, the control sorts the list
    ListBox,
    CheckBox,
    Button,
    DefaultButton,
    UpDown,
    Tabs,
};

using TTextFn = std::u16string (*)();

// Labels and group boxes nothing refers to take their IDs in creation order.
constexpr int kAutoId = 0;

struct TControlDef {
    int Id;  // kAutoId: numbered on creation
    TCtl Kind;
    int X, Y, Width, Height;  // 96-DPI units, relative to the parent
    TTextFn Text = nullptr;
};

// Creates the controls in table order (which is their Tab order) as visible
// children of `parent`, each with the dialog font, `top` units further down.
void CreateControls(TDialogState& d, HWND parent, std::span<const TControlDef> defs, int top = 0);
// Adds the items to a combo box in order.
void AddComboItems(HWND combo, std::span<const TTextFn> items);
void AddComboItems(HWND combo, std::span<const TChoice> items);
// Joins an up-down control to its edit and sets its range.
void AttachUpDown(HWND upDown, HWND buddy, int low, int high);

// A connection's mode as both dialogs offer it; the list index is the mode.
constexpr TChoice kModeChoices[] = {
    {"mode.raw", u"Raw (TCP)"},
    {"mode.telnet", u"Telnet with negotiation"},
    {"mode.telnet_filter", u"Telnet without negotiation (IAC filter)"}};

// The whole text of a control: nothing the user typed is cut off.
std::u16string FieldText(HWND control);
void SetFieldText(HWND control, const std::u16string& text);
// Trimmed text as an integer with optional sign; `fallback` when it is not one.
// Values saturate at +-100000000, beyond every limit the dialogs test.
int32_t ParseFieldInt(std::u16string_view text, int32_t fallback);
int ComboSelection(HWND combo);

// ---- what a saved connection may be called and where it may point ----------

// The folder lists a connection as "TCP - " + name, in at most 259 characters.
constexpr size_t kMaxNameLength = 253;
// Longer than any host name the resolver takes.
constexpr size_t kMaxHostLength = 255;

// Text as the profile functions hand it back: blanks (codes up to 32 and the
// other spaces they trim) removed at both ends.
std::u16string ProfileTrim(std::u16string_view text);
// A typed host without the blanks and quotes around it: the profile functions
// drop enclosing quotes when reading, so a quoted host would never read back
// as written. No host has quotes of its own.
std::u16string CleanHost(std::u16string_view typed);
// The warning for a name or a host that cannot be saved; empty when it can.
// A stored name longer than the limit (saved by an older version) stays
// usable for the connection that has it, `current`, but is given to no other.
std::u16string NameProblem(const std::u16string& name, const std::u16string& current);
std::u16string HostProblem(const std::u16string& host);

// ---- the modal run ---------------------------------------------------------

// Both dialogs run the same way, inside the caller's call:
//   BeginModal(d, owner);          before the window is created
//   guarded: create and fill the window, RunModal(d, firstFocus)
//   EndModal(d);                   always, however the run ended
// RunModal shows the dialog, disables the owner and runs the loop until the
// dialog asks to close, is destroyed (its owner went) or WM_QUIT arrives.
// EndModal enables the owner again (only if the run disabled it), destroys
// the dialog, tells the user of a fault, gives the owner the foreground and
// posts a WM_QUIT that ended the run again with its exit code.
void BeginModal(TDialogState& d, HWND owner);
void RunModal(TDialogState& d, HWND firstFocus);
void EndModal(TDialogState& d) noexcept;

// The messages both dialogs answer alike: WM_CLOSE and Esc (IDCANCEL) ask to
// close, DM_GETDEFID names the default button, and on activation (after a
// message box, say) the focus goes back where it was. True when answered.
bool ModalMessage(TDialogState& d, UINT msg, WPARAM wp, LRESULT& result);

// A fault in the window, subclass or callback procedure of a dialog window (or
// of any window inside one): the dialog closes and EndModal tells the user.
void ReportDialogFault(HWND window, TFault kind) noexcept;
void NoteFault(TDialogState& d, TFault kind) noexcept;

// A procedure's body behind the barrier: no exception leaves it for user32.
template <class Body>
LRESULT DialogGuarded(HWND hwnd, Body&& body, LRESULT fallback = 0) noexcept {
    return GuardedProc(
        std::forward<Body>(body), [hwnd](TFault kind) { ReportDialogFault(hwnd, kind); }, fallback);
}
