// The connection manager: the plugin's one settings window, with the tabs
// Connections, Font, Appearance and General. Modal to the host window through
// its own message loop; at most one exists at a time.
#pragma once

#include <windows.h>

constexpr wchar_t kConnDlgClass[] = L"KestrelinkConnDlg";
constexpr wchar_t kConnPageClass[] = L"KestrelinkConnPage";

constexpr int kIdConnClose = 224;
constexpr int kIdConnTabs = 240;
constexpr int kIdFirstPage = 250;  // pages 250 to 253 in tab order

// Shows the manager modal to `owner` (the host's main window) and returns
// when it is closed. When it is already open, brings it to the front and
// returns at once. A WM_QUIT that arrives while it runs ends it and is posted
// again for the caller's loop.
void OpenConnectionManager(HWND owner);
