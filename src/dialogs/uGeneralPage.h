// The General tab: interface language (from the installed catalogs) and the
// theme of the plugin's dialogs. Saving applies the theme to the open manager
// at once; the language applies to texts looked up afterwards.
#pragma once

#include "dialogs/uConnDlgKit.h"

constexpr int kIdLanguage = 280;
constexpr int kIdTheme = 281;
constexpr int kIdGeneralSave = 282;
constexpr int kIdGeneralStatus = 283;
constexpr int kIdLanguageLabel = 284;
constexpr int kIdThemeLabel = 285;
constexpr int kIdGeneralHint = 286;

// Builds the page and selects the stored language and theme.
void BuildGeneralPage(TManager& m);
void SaveGeneralPage(TManager& m);
