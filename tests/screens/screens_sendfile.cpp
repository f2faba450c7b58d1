// Pictures of sending a file (make screens): the Send file dialog for one
// file and for a batch of three, light and dark, and the terminal window
// with a transfer's progress in its status line. The screens script runs
// this at 96 and at 144 DPI.
#include <windows.h>

#include <string>

#include "base/uWin.h"
#include "dialog_driver.h"
#include "dialog_extra.h"
#include "dialogs/uSendFileDlg.h"
#include "drop_files.h"
#include "gui.h"
#include "loopback_peer.h"
#include "settings/uSettings.h"
#include "term_fixture.h"
#include "termwnd/uTermSendFile.h"

using namespace kltest;

namespace {

void ShootDialog(const std::string& theme, const TTempDir& files, bool batch) {
    TTempDir dir;
    const std::wstring ini = dir.File(L"kestrelink.ini");
    SetSettingsPath(U(ini.c_str()));
    WriteFileBytes(ini, "[Plugin]\r\nTheme=" + theme +
                            "\r\n[Port:COM3]\r\nSendProtocol=" + (batch ? "3" : "2") + "\r\n");
    THostWindow host;
    PumpFor(300);
    TDialogScript script([&] {
        HWND dlg = WaitForWindow(kSendFileDlgClass, 5000);
        if (!dlg) return;
        WaitUntil([&] { return GetForegroundWindow() == dlg && FocusOf(dlg); }, 2000);
        PumpFor(200);
        SaveWindowImage(dlg, std::string("sendfile_dialog") + (batch ? "_batch_" : "_") + theme);
        PostMessageW(dlg, WM_CLOSE, 0, 0);
    });
    std::vector<std::u16string> paths = {U(files.File(L"fw.bin").c_str())};
    if (batch) {
        paths.push_back(U(files.File(L"u-boot.env").c_str()));
        paths.push_back(U(files.File(L"rootfs.img").c_str()));
    }
    TSendFileSettings choice;
    ShowSendFileDialog(host.Handle(), u"Port:COM3", paths, choice);
}

// A raw send paced by the character so that the picture catches it mid-way.
void ShootProgress(const TTempDir& files) {
    loopback::TPeer peer([](SOCKET s) {
        char buf[4096];
        while (recv(s, buf, sizeof buf, 0) > 0) {
        }
    });
    TTermFixture f(Scaled(720), Scaled(420));
    SetSendFileDialog(ShowSendFileDialog);
    f.Term().OpenSession(1, u"board", u"TCP board (127.0.0.1)",
                         TConnInfo{u"board", u"127.0.0.1", int32_t(peer.Port()), 0}, 1);
    PumpUntil([&] { return f.Term().Connected(); }, 5000);
    f.Feed("U-Boot 2024.01\r\n=> loadb\r\n## Ready for binary download ...\r\n");
    {
        TDialogScript script([&] {
            HWND dlg = WaitForWindow(kSendFileDlgClass, 5000);
            if (!dlg) return;
            SelectIndex(FindById(dlg, kIdSendProtocol), 0);
            SetTextOf(FindById(dlg, kIdSendCharDelay), L"1");
            Click(FindById(dlg, IDOK));
        });
        SendMessageW(f.Main(), WM_DROPFILES, WPARAM(MakeDrop({files.File(L"fw.bin")})), 0);
    }
    PumpUntil([&] { return TextOf(f.Control(kIdStatus)).find(L" % (") != std::wstring::npos; },
              5000);
    PumpFor(600);
    SaveWindowImage(f.Lister(), "termwnd_sendfile_progress");
    f.Term().CancelFileSend();
    PumpFor(300);
    f.Term().ToggleConnection();
    peer.Join();
}

}  // namespace

int main() {
    TTempDir files;
    WriteFileBytes(files.File(L"fw.bin"), std::string(27100, 'x'));
    WriteFileBytes(files.File(L"u-boot.env"), std::string(16384, 'e'));
    WriteFileBytes(files.File(L"rootfs.img"), std::string(1536000, 'r'));
    for (const std::string theme : {"light", "dark"}) {
        ShootDialog(theme, files, false);
        ShootDialog(theme, files, true);
    }
    ShootProgress(files);
    return 0;
}
