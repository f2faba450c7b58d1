// Pictures of the properties dialog (make screens): serial port and TCP
// connection, light and dark, as opened and with disabled boxes, keyboard
// focus and an open drop-down list.
#include <windows.h>

#include <functional>
#include <string>
#include <thread>

#include "base/uWin.h"
#include "dialog_driver.h"
#include "dialog_extra.h"
#include "dialogs/uPropDlg.h"
#include "gui.h"
#include "settings/uSettings.h"
#include "wintest.h"

using namespace kltest;

namespace {

void Shoot(const std::string& theme, int kind, const std::u16string& name,
           const std::string& picture, const std::function<void(HWND)>& prepare = nullptr) {
    TTempDir dir;
    const std::wstring ini = dir.File(L"kestrelink.ini");
    SetSettingsPath(U(ini.c_str()));
    const std::string commands =
        "Cmd1=AT+RST\r\nCmd2=\"\\x1b[0m status\\r\"\r\nCmd2Mode=1\r\n"
        "Cmd3=01 02 0A FF\r\nCmd3Mode=2\r\nCmd3Repeat=1000\r\n";
    WriteFileBytes(ini, "[Plugin]\r\nTheme=" + theme +
                            "\r\n[Conn:router]\r\nHost=192.168.1.1\r\nPort=23\r\nMode=1\r\n" +
                            commands + "[Port:COM3]\r\n" + commands);
    THostWindow host;
    PumpFor(300);  // the host settles (activation, first paint) before the dialog comes
    TDialogScript script([&] {
        HWND dlg = WaitForWindow(kPropDlgClass, 5000);
        if (!dlg) return;
        WaitUntil([&] { return GetForegroundWindow() == dlg && FocusOf(dlg); }, 2000);
        if (prepare) prepare(dlg);
        PumpFor(200);
        SaveWindowImage(dlg, picture + "_" + theme);
        PostMessageW(dlg, WM_CLOSE, 0, 0);
    });
    ShowPropertiesDialog(host.Handle(), kind, name,
                         kind ? u"TCP router (192.168.1.1:23)" : u"COM3");
}

// Tab until the keyboard focus is on the control.
void TabTo(HWND dlg, int id) {
    for (int i = 0; i < 20 && FocusOf(dlg) != FindById(dlg, id); ++i) {
        const HWND before = FocusOf(dlg);
        PressKey(dlg, VK_TAB);
        WaitUntil([&] { return FocusOf(dlg) != before; }, 1000);
    }
}

}  // namespace

int main() {
    for (const std::string theme : {"light", "dark"}) {
        Shoot(theme, 0, u"COM3", "propdlg_serial");
        Shoot(theme, 1, u"router", "propdlg_tcp");
        // RTS/CTS greys the RTS box, no history greys the depth; focus on DTR
        // (reached past Cancel: OK is the default button again).
        Shoot(theme, 0, u"COM3", "propdlg_serial_states", [](HWND dlg) {
            SelectIndex(FindById(dlg, kIdFlow), 1);
            Click(FindById(dlg, kIdHistoryOn));
            TabTo(dlg, kIdDtr);
        });
        // The third command (hex, repeating) in the fields.
        Shoot(theme, 0, u"COM3", "propdlg_serial_commands", [](HWND dlg) {
            SelectListItem(FindById(dlg, kIdCommandList), 2);
            TabTo(dlg, kIdCommandText);
        });
        Shoot(theme, 1, u"router", "propdlg_tcp_focus_ok", [](HWND dlg) { TabTo(dlg, kIdOk); });
        // Focus on Cancel: it is the default button then, not OK.
        Shoot(theme, 1, u"router", "propdlg_tcp_focus_cancel",
              [](HWND dlg) { TabTo(dlg, kIdCancel); });
        // The list opens while the picture is being taken: bringing the
        // dialog to the top for the picture would close it.
        Shoot(theme, 1, u"router", "propdlg_tcp_mode_list", [](HWND dlg) {
            HWND mode = FindById(dlg, kIdMode);
            std::thread([mode] {
                Sleep(100);
                SendMessageW(mode, CB_SHOWDROPDOWN, TRUE, 0);
            }).detach();
        });
    }
    return 0;
}
