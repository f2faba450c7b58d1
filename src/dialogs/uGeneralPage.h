// The General tab: interface language (from the installed catalogs), the
// theme of the plugin's dialogs, and where and how terminals log what they
// receive. Saving applies the theme to the open manager at once; the language
// applies to texts looked up afterwards, the log settings to logs started
// afterwards.
#pragma once

#include "dialogs/uConnDlgKit.h"

constexpr int kIdLanguage = 280;
constexpr int kIdTheme = 281;
constexpr int kIdGeneralSave = 282;
constexpr int kIdGeneralStatus = 283;
constexpr int kIdLanguageLabel = 284;
constexpr int kIdThemeLabel = 285;
constexpr int kIdGeneralHint = 286;
constexpr int kIdLogFolderLabel = 287;
constexpr int kIdLogFolder = 288;
constexpr int kIdLogBrowse = 289;
constexpr int kIdLogFormatLabel = 290;
constexpr int kIdLogFormat = 291;

// Builds the page and selects the stored language, theme, log folder and format.
void BuildGeneralPage(TManager& m);
void SaveGeneralPage(TManager& m);
// The folder chooser for the log folder (Browse...).
void BrowseLogFolder(TManager& m);
