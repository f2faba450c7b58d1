// The Send file dialog: the file or files about to go to the device, their
// size, the protocol, and for a raw send its pacing. A modal popup owned by
// the terminal window, built from the dialog kit's tables and themed like the
// other dialogs. At most one exists.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "settings/uSettingsRules.h"

constexpr wchar_t kSendFileDlgClass[] = L"KestrelinkSendFileDlg";

// Control IDs; labels and group boxes are numbered from 820 up.
constexpr int kIdSendProtocol = 801;
constexpr int kIdSendCharDelay = 802;
constexpr int kIdSendLineDelay = 803;
constexpr int kIdSendFileList = 804;
constexpr int kIdSendFileSize = 805;
constexpr int kIdSendFirstAuto = 820;

// Shows the dialog for `paths` (full paths), owned by `owner`, with the last
// choices stored in `section` preselected. True when the user pressed Send
// with valid values: `choice` holds them and they were stored in the section.
// False when the user closed it, or while another Send file dialog is open
// (that one is brought to the front).
bool ShowSendFileDialog(HWND owner, const std::u16string& section,
                        const std::vector<std::u16string>& paths, TSendFileSettings& choice);
