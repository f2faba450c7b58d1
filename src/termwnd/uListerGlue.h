// How terminal windows come into being: embedded in the file manager's lister
// window or Quick View panel (ListLoad), or as the single stand-alone window
// that executing an entry opens and reuses; and the notice that a port's or
// connection's settings were changed by the properties dialog.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "settings/uSettingsRules.h"

class TTermWindow;

// A terminal inside `lister` for a port (kind 0) or connection (kind 1); its
// main window, or nullptr when it could not be created. A lister whose root
// window is of class "TLister" is a lister window of its own; anything else is
// the Quick View panel, where ConnectInQuickView decides about connecting.
HWND OpenEmbeddedTerminal(HWND lister, int32_t kind, const std::u16string& target,
                          const std::u16string& display, const TConnInfo& connection);

// Steps of opening a terminal inside a lister window: the object, the window
// classes, the child window at the lister's client size, the timers. Returns
// nullptr (nothing left behind) when the window cannot be created.
TTermWindow* CreateEmbeddedTerminal(HWND lister);
// Destroys the window (settings saved, backend released) and then frees the
// object; a handle that is not a terminal window is ignored.
void CloseEmbeddedTerminal(HWND hwnd);

// Opens the stand-alone terminal owned by `host`, or switches the one that is
// open to this port or connection.
void OpenStandaloneTerminal(HWND host, int32_t kind, const std::u16string& target,
                            const std::u16string& display, const TConnInfo& connection);
// The stand-alone terminal object (its window may be gone), or nullptr.
TTermWindow* StandaloneTerminal();

// After the properties dialog saved `section` ("Port:x" / "Conn:y"): the
// stand-alone terminal showing it reloads its settings at once.
void NotifySettingsChanged(const std::u16string& section);
