// The command-line mode of the host, for scripts, tests and the demo: what to
// do after loading the plugin, and the report of what the plugin showed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "uHostWindow.h"

namespace host {

// Exit codes of a scripted run.
enum : int {
    kExitOk = 0,
    kExitSetup = 1,  // the plugin or the install archive could not be loaded
    kExitUsage = 2,
    kExitMissing = 3,  // the library lacks an export the command needs
    kExitFailed = 4,   // the command failed: no such entry, error result, no window
    kExitNoData = 5,   // --until-data: a terminal showed no received data in time
};

struct TOptions {
    std::wstring Plugin;
    std::wstring InstallZip, InstallDir;
    bool List = false;
    bool Exec = false;
    std::wstring ExecVerb, ExecEntry;
    std::vector<std::wstring> Views;
    std::wstring QuickView;
    bool HasQuickView = false;
    DWORD WaitMs = 0;
    bool UntilData = false;
    std::wstring Screenshot, Summary;
    bool Help = false;

    // Any command at all: the host runs the script and exits; otherwise it
    // is an interactive file manager until its window is closed.
    bool Scripted() const {
        return List || Exec || !Views.empty() || HasQuickView || !Screenshot.empty() || WaitMs;
    }
};

// False with the complaint in `error` for an unknown option or a missing value.
bool ParseOptions(int argc, wchar_t** argv, TOptions& options, std::wstring& error);
extern const char kUsage[];

// What the terminal inside one view shows: its status and traffic counters.
struct TViewReport {
    std::wstring Label;  // "lister" or "quick view"
    std::wstring Entry;
    std::wstring WindowClass;
    std::wstring Status;
    std::wstring Counters;
    bool Data = false;  // the counters show received bytes
};

TViewReport ReportOf(const std::wstring& label, const TView& view);

// One line of the report: printed at once and kept for --summary.
void Say(const std::string& line);

// Prints the folder with sizes and the plugin's icons (--list).
void PrintListing(const TLoadedPlugin& plugin, const std::vector<TEntry>& entries);

// Runs the commands against the open main window and returns the exit code.
int RunScript(THostWindow& window, const TLoadedPlugin& plugin, const TOptions& options);

}  // namespace host
