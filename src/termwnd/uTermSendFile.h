// The terminal's way to the Send file dialog. The dialog lives with the other
// dialogs, which the terminal may not include; the plugin layer, which sees
// both, hands the terminal the dialog as a function when it loads.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "settings/uSettingsRules.h"

// Shows the Send file dialog for `paths` over `owner` with the choices stored
// in `section`; true with `choice` filled (and stored) when the user pressed Send.
using TSendFileDialog = bool (*)(HWND owner, const std::u16string& section,
                                 const std::vector<std::u16string>& paths,
                                 TSendFileSettings& choice);
void SetSendFileDialog(TSendFileDialog dialog);
