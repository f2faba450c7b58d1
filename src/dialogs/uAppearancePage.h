// The Appearance tab: terminal background and text colours (typed as
// "#RRGGBB" or picked) and the bytes per line of the hex view, with a preview
// painted in the chosen colours in the light and in the dark look.
#pragma once

#include "dialogs/uConnDlgKit.h"

constexpr int kIdBackground = 260;
constexpr int kIdPickBackground = 261;
constexpr int kIdTextColor = 262;
constexpr int kIdPickTextColor = 263;
constexpr int kIdHexBytes = 264;
constexpr int kIdHexBytesUpDown = 265;
constexpr int kIdColorPreview = 266;
constexpr int kIdAppearanceSave = 267;
constexpr int kIdAppearanceStatus = 268;
constexpr int kIdBackgroundLabel = 270;
constexpr int kIdTextColorLabel = 271;
constexpr int kIdHexBytesLabel = 272;
constexpr int kIdAppearanceHint = 273;

constexpr int kCustomColorCount = 16;

void BuildAppearancePage(TManager& m);
void LoadAppearancePage(TManager& m);
void UpdateColorPreview(TManager& m);
// WM_CTLCOLORSTATIC of the colour preview: sets the preview's colours into
// the device context and gives the brush; nullptr while there is none.
HBRUSH ColorPreviewBrush(const TManager& m, HDC dc);
void PickBackground(TManager& m);
void PickTextColor(TManager& m);
void SaveAppearancePage(TManager& m);

// The colour picker's custom colours: shared by both Choose buttons and kept
// for as long as the library is loaded.
const COLORREF* CustomColors();
