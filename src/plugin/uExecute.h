// The host's command on an entry: "open" (Enter) and "properties". A
// dispatcher by verb and entry class; the windows it opens are the connection
// manager, the properties dialog and the stand-alone terminal.
#pragma once

#include <windows.h>

#include <string_view>

// The host's refresh request: re-read the current panel.
constexpr UINT kHostRefreshMessage = WM_USER + 51;
constexpr WPARAM kHostRefreshCommand = 540;

// kFsExecOk or kFsExecError.
int ExecuteEntry(HWND mainWin, std::u16string_view remoteName, std::u16string_view verb);
