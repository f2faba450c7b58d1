// The connection manager's four tabs, light and dark, with a connection
// loaded into the form.
#include <string>

#include "base/uWin.h"
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
        });
}

}  // namespace

int main() {
    Shoot("light");
    Shoot("dark");
    return 0;
}
