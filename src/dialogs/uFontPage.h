// The Font tab: the terminal font and size shared by every terminal window,
// with a live preview (also given to the colour preview of the Appearance tab).
#pragma once

#include "dialogs/uConnDlgKit.h"

constexpr int kIdFontName = 241;
constexpr int kIdFontSize = 242;
constexpr int kIdFontPreview = 243;
constexpr int kIdFontSave = 244;
constexpr int kIdFontNameLabel = 245;
constexpr int kIdFontSizeLabel = 246;
constexpr int kIdFontHint = 247;
constexpr int kIdFontStatus = 248;
constexpr int kIdFontSizeUpDown = 249;

constexpr int kMinFontSize = 6;
constexpr int kMaxFontSize = 72;
constexpr size_t kMaxFontNameLength = 31;  // LOGFONTW's face name

void BuildFontPage(TManager& m);
// Lists the installed fixed-pitch families and loads the stored font.
void LoadFontPage(TManager& m);
// The list's selection becomes the combo box's text, then the preview follows.
void FontChosen(TManager& m);
void UpdateFontPreview(TManager& m);
void SaveFontPage(TManager& m);
