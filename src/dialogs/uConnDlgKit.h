// Building blocks the connection manager shares with its tabs: the one set of
// state that exists while the manager is open, the control tables every page
// is built from, and reading the fields the user typed.
//
// Only one manager exists at a time, so the tabs work on that one state. The
// previews' font and brush belong to it and die with it; the stock dialog font
// is borrowed, never deleted.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "base/uWin.h"
#include "i18n/uI18n.h"
#include "settings/uSettingsRules.h"

// Page indexes in tab order.
constexpr int kPageConnections = 0;
constexpr int kPageFont = 1;
constexpr int kPageAppearance = 2;
constexpr int kPageGeneral = 3;
constexpr int kPageCount = 4;

struct TManager {
    HWND Dialog = nullptr;
    std::array<HWND, kPageCount> Pages{};
    int Dpi = 96;
    HFONT Font = nullptr;  // the stock dialog font, borrowed
    bool Dark = false;
    bool CloseRequested = false;

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

// A length in 96-DPI units at the manager's layout DPI.
int Scale(const TManager& m, int units);
// The control with this ID: the dialog first, then the pages in tab order.
HWND Control(const TManager& m, int id);

// What a table entry creates; the class and styles of each kind live in one
// table beside CreateControls.
enum class TCtl : uint8_t {
    Label,
    FramedLabel,  // a label with a border: the previews
    Edit,
    NumberEdit,  // digits only
    DropList,
    SortedDropDown,  // editable, the control sorts the list
    ListBox,
    Button,
    DefaultButton,
    UpDown,
    Tabs,
};

using TTextFn = std::u16string (*)();

struct TControlDef {
    int Id;
    TCtl Kind;
    int X, Y, Width, Height;  // 96-DPI units, relative to the parent
    TTextFn Text = nullptr;
};

// Creates the controls in table order (which is their Tab order) as visible
// children of `parent`, each with the dialog font.
void CreateControls(const TManager& m, HWND parent, std::span<const TControlDef> defs);
// Adds the items to a combo box in order.
void AddComboItems(HWND combo, std::span<const TTextFn> items);
// Joins an up-down control to its edit and sets its range.
void AttachUpDown(HWND upDown, HWND buddy, int low, int high);

// The whole text of a control: nothing the user typed is cut off.
std::u16string FieldText(HWND control);
void SetFieldText(HWND control, const std::u16string& text);
// Trimmed text as an integer with optional sign; `fallback` when it is not one.
// Values saturate at +-100000000, beyond every limit the tabs test.
int32_t ParseFieldInt(std::u16string_view text, int32_t fallback);
int ComboSelection(HWND combo);
