// Pictures of the terminal window for `make screens`: the text view with
// ANSI colours, bold text, timestamps, a selection and a log being written
// (Log ticked, the file named in the status row); the hex view; and the
// window at a narrow width where the toolbar wraps; the find bar with its
// matches in the text and the hex view (with timestamps), on the default dark
// and on a light terminal background. The screens script runs this at 96 and
// at 144 DPI.
#include <windows.h>

#include <string>

#include "gui.h"
#include "term_fixture.h"
#include "termwnd/uFindBar.h"

using namespace kltest;

namespace {

const char kSample[] =
    "\x1b[1mKestrel bootloader 2.4.1\x1b[0m (build 2024-05-01)\r\n"
    "CPU: 240 MHz, flash 4 MB, \x1b[32mRAM test passed\x1b[0m\r\n"
    "[ \x1b[32m OK \x1b[0m ] mounted /data (littlefs, 412 KiB free)\r\n"
    "[ \x1b[33mWARN\x1b[0m ] RTC lost power, clock set to build time\r\n"
    "[ \x1b[1;31mFAIL\x1b[0m ] sensor bus: no answer from 0x48\r\n"
    "[ \x1b[32m OK \x1b[0m ] wifi: joined \"lab-net\" (-61 dBm)\r\n"
    "\x1b[36mtemp\x1b[0m=21.5 \x1b[35mhum\x1b[0m=40% \x1b[34mpress\x1b[0m=1013.2 "
    "\x1b[1;34mbright blue\x1b[0m \x1b[7minverse\x1b[0m \x1b[43;30m black on yellow \x1b[0m\r\n"
    "palette: \x1b[30m0\x1b[31m1\x1b[32m2\x1b[33m3\x1b[34m4\x1b[35m5\x1b[36m6\x1b[37m7"
    "\x1b[90m8\x1b[91m9\x1b[92mA\x1b[93mB\x1b[94mC\x1b[95mD\x1b[96mE\x1b[97mF\x1b[0m "
    "bold: \x1b[1;31mred\x1b[0m \x1b[1;32mgreen\x1b[0m \x1b[1;33myellow\x1b[0m\r\n"
    "UTF-8: Grüße, Привіт, 日本語, box ─┼─ done\r\n"
    "> help\r\nhelp  status  reboot  log [n]\r\n> ";

void Select(TTermFixture& f, int col0, int row0, int col1, int row1) {
    const int cw = f.Term().CharWidth(), lh = f.Term().LineHeight();
    auto at = [&](int c, int r) { return MAKELPARAM(c * cw + 1, r * lh + lh / 2); };
    SendMessageW(f.Output(), WM_LBUTTONDOWN, MK_LBUTTON, at(col0, row0));
    SendMessageW(f.Output(), WM_MOUSEMOVE, MK_LBUTTON, at(col1, row1));
    SendMessageW(f.Output(), WM_LBUTTONUP, 0, at(col1, row1));
}

// The find bar opened with Ctrl+F and a query typed, in the text view and
// then in the hex view with timestamps.
void FindPictures(const std::string& ini, const std::string& theme) {
    TTermFixture f(Scaled(780), Scaled(460), ini);
    TSessionSettings s = DefaultSessionSettings();
    s.Timestamps = true;
    f.Show(0, u"COM3", s);
    f.UseFixedClock();
    f.Feed(kSample);
    f.Feed("\r\n[ \x1b[32m OK \x1b[0m ] sensor bus: retry 0x48 answered\r\n> ");
    f.Term().SetStatus(u"COM3 - connected (115200 8N1)");
    HWND edit = f.Control(kIdEdit);
    SetFocus(edit);
    SetCtrlDown(true);
    TypeKey(edit, 'F');
    SetCtrlDown(false);
    SetWindowTextW(f.Control(kIdFindEdit), L"sensor");
    SetShiftDown(true);
    TypeKey(f.Control(kIdFindEdit), VK_RETURN);
    SetShiftDown(false);
    PumpFor(50);
    SaveWindowImage(f.Lister(), "termwnd_find_text_" + theme);
    f.Choose(kIdView, 1);
    SetWindowTextW(f.Control(kIdFindEdit), L"0d 0a");
    PumpFor(50);
    SaveWindowImage(f.Lister(), "termwnd_find_hex_" + theme);
}

}  // namespace

int main() {
    FindPictures("", "dark");
    FindPictures("[Plugin]\r\nTerminalBackground=#FFFFFF\r\nTerminalTextColor=#1E1E1E\r\n",
                 "light");
    {
        TTermFixture f(Scaled(780), Scaled(460));
        TSessionSettings s = DefaultSessionSettings();
        s.Timestamps = true;
        s.Log = true;
        f.Show(0, u"COM3", s);
        f.UseFixedClock();
        TTermWindowTestAccess::StartLog(f.Term());
        PumpUntil([&] { return !TextOf(f.Control(kIdLogFile)).empty(); }, 2000);
        f.Feed(kSample);
        f.Term().SetStatus(u"COM3 - connected (115200 8N1)");
        Select(f, 20, 2, 33, 4);
        SaveWindowImage(f.Lister(), "termwnd_text");

        f.Choose(kIdView, 1);
        SaveWindowImage(f.Lister(), "termwnd_hex");
    }
    {
        TTermFixture f(Scaled(480), Scaled(400));
        TSessionSettings s = DefaultSessionSettings();
        f.Show(1, u"Lab bench", s);
        f.Feed(kSample);
        f.Term().SetStatus(u"TCP Lab bench (10.0.0.7:23) - connected");
        SaveWindowImage(f.Lister(), "termwnd_narrow");
    }
    return 0;
}
