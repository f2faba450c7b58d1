// The connection manager's four tabs, light and dark, with a connection
// loaded into the form and a log folder and format chosen, and the question
// before a save replaces another.
#include <string>

#include "base/uWin.h"
#include "dialog_driver.h"
#include "dialog_extra.h"
#include "dialogs/uConnDlg.h"
#include "gui.h"
#include "settings/uSettings.h"
#include "wintest.h"

namespace {

constexpr const char* kTabNames[] = {"connections", "font", "appearance", "general"};

void Shoot(const std::string& theme) {
    kltest::TTempDir dir;
    const std::wstring ini = dir.File(L"kestrelink.ini");
    kltest::WriteFileBytes(ini,
                           "[Plugin]\r\nTheme=" + theme +
                               "\r\nLogFolder=D:\\captures\\bench\r\nLogFormat=1"
                               "\r\n[Conn:router]\r\nHost=192.168.1.1\r\nPort=23\r\n"
                               "[Conn:lab-switch]\r\nHost=10.0.0.2\r\nPort=2001\r\nMode=0\r\n");
    SetSettingsPath(U(ini.c_str()));
    kltest::THostWindow host;
    kltest::DriveModal(
        kConnDlgClass, [&] { OpenConnectionManager(host.Handle()); },
        [&](HWND dialog) {
            kltest::SelectListItem(kltest::FindById(dialog, 201), 1);
            for (int i = 0; i < 4; ++i) {
                kltest::SelectTab(kltest::FindById(dialog, kIdConnTabs), i);
                kltest::SaveWindowImage(dialog,
                                        std::string("conndlg_") + kTabNames[i] + "_" + theme);
            }
            // The question before a save would replace another connection (a
            // standard box: the same in both looks of the manager).
            kltest::SelectTab(kltest::FindById(dialog, kIdConnTabs), 0);
            kltest::SetTextOf(kltest::FindById(dialog, 211), L"Lab-Switch");
            kltest::Click(kltest::FindById(dialog, 222));
            if (HWND box = kltest::WaitForWindow(L"#32770", 5000)) {
                kltest::SaveWindowImage(box, "conndlg_confirm_overwrite_" + theme);
                PostMessageW(box, WM_COMMAND, IDNO, 0);
            }
        });
}

}  // namespace

int main() {
    Shoot("light");
    Shoot("dark");
    return 0;
}
