// A seam for tests, outside the dialogs' interface: nothing in the plugin
// sets it. A test that sets it sees every command either dialog handles
// before the dialog does, and may throw from it to play a fault inside a
// command handler.
#pragma once

#include <windows.h>

extern void (*g_dialogCommandProbe)(HWND dialog, WPARAM wp);
