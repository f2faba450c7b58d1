// Pictures of the host's windows for the demo and for people reading a CI
// log: the window as it shows on the screen, written as a 24-bit BMP file.
#pragma once

#include <windows.h>

#include <string>

namespace host {

// Brings the window to the top, lets it paint, copies its screen rectangle
// (frame and children included). False when the window is gone or the file
// cannot be written.
bool SaveWindowPicture(HWND hwnd, const std::wstring& path);

}  // namespace host
