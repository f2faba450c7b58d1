// The dark look's own painting of the controls the system cannot colour by
// answering control-colour questions: push buttons, check boxes, group boxes,
// tab controls, combo boxes and up-down controls, and the client-edge border
// of edits and lists. Used by the theme's subclass procedure only, and only
// while the dialog is dark.
#pragma once

#include <windows.h>

#include <string>

// The theme's brushes: made on first use, kept until ReleaseTheme.
enum TBrushRole { kBrushDialog, kBrushControl, kBrushSelectedTab, kBrushAccent, kBrushCount };
HBRUSH ThemeBrush(TBrushRole role);

std::wstring ThemeClassName(HWND hwnd);
bool SameClass(const wchar_t* a, const wchar_t* b);

// Paints the whole control into `dc` (WM_PAINT, WM_PRINTCLIENT).
void PaintDarkControl(HWND hwnd, HDC dc);
// The border of a control with a client edge, over the system's own so that
// the scroll bars it draws in the same pass stay.
void PaintDarkClientEdge(HWND hwnd);
