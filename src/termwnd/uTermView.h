// Colours of the output view: the 16-colour palette, the selection and the
// timestamp prefix, and how one cell's attribute word turns into colours.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr COLORREF kDefaultAnsiForeground = RGB(204, 204, 204);
constexpr COLORREF kSelectionText = RGB(255, 255, 255);
constexpr COLORREF kSelectionBack = RGB(51, 102, 170);
constexpr COLORREF kPalette[16] = {
    RGB(12, 12, 12),    RGB(197, 15, 31),  RGB(19, 161, 14),  RGB(156, 193, 0),
    RGB(0, 55, 218),    RGB(136, 23, 152), RGB(58, 150, 221), RGB(204, 204, 204),
    RGB(118, 118, 118), RGB(231, 72, 86),  RGB(22, 198, 12),  RGB(249, 241, 165),
    RGB(59, 120, 255),  RGB(180, 0, 158),  RGB(97, 214, 214), RGB(242, 242, 242)};
// The timestamp prefix: palette colour 8 on the default background.
constexpr uint16_t kAttrTimestamp = 0x0208;

// Colours of one character cell.
struct TCellColors {
    COLORREF Fore;
    COLORREF Back;
};
// Foreground and background of a character with attribute word `attr`:
// without ANSI colours (or in the hex view) the configured pair; the selection
// overrides everything.
TCellColors ResolveCellColors(uint16_t attr, bool ansi, bool selected, COLORREF background,
                              COLORREF text);
