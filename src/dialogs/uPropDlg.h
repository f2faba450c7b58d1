// The properties dialog: the stored settings of one serial port or one saved
// TCP connection, edited in a modal popup built from code. At most one exists.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

constexpr wchar_t kPropDlgClass[] = L"KestrelinkPropDlg";

// Control IDs. 301-307 exist for a serial port only, 311-313 for a TCP
// connection only; labels and group boxes are numbered from 400 up.
constexpr int kIdBaud = 301;
constexpr int kIdDataBits = 302;
constexpr int kIdStopBits = 303;
constexpr int kIdParity = 304;
constexpr int kIdFlow = 305;
constexpr int kIdDtr = 306;
constexpr int kIdRts = 307;
constexpr int kIdHost = 311;
constexpr int kIdPort = 312;
constexpr int kIdMode = 313;
constexpr int kIdConnectOnOpen = 321;
constexpr int kIdConnectInQuickView = 322;
constexpr int kIdAutoReconnect = 323;
constexpr int kIdHistoryOn = 331;
constexpr int kIdHistoryLines = 332;
// Stored commands: the list of ten and the fields of the one selected.
constexpr int kIdCommandList = 351;
constexpr int kIdCommandText = 352;
constexpr int kIdCommandMode = 353;
constexpr int kIdCommandRepeat = 354;
constexpr int kIdOk = 341;
constexpr int kIdCancel = 342;
constexpr int kIdFirstAuto = 400;

// Runs the dialog for `name` (a port such as COM3 when kind is 0, a saved
// connection when kind is 1), owned by `owner`, titled after `title`.
// True only when the user pressed OK and the settings were written and read
// back; the caller then announces the changed section. While a properties
// dialog is open, a second call brings it to the front and returns false.
bool ShowPropertiesDialog(HWND owner, int32_t kind, const std::u16string& name,
                          const std::u16string& title);
