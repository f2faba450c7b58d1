#include "uHostScript.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "uHostShot.h"

namespace host {

namespace {

// Controls of the plugin's terminal that tell what it shows: the status line
// and the traffic counters ("Rx: N   Tx: M").
constexpr int kTerminalStatusId = 133;
constexpr int kTerminalCountersId = 134;
// The class of the plugin's terminal windows; "open" makes one a top-level
// window owned by the host's main window.
constexpr wchar_t kTerminalClass[] = L"KestrelinkWindow";
// After the data arrived, a little longer for the pictures to show a few lines.
constexpr DWORD kSettleAfterDataMs = 1500;

std::string g_report;

bool ResultFile(const std::wstring& path, const std::string& text) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    const bool ok = WriteFile(h, text.data(), DWORD(text.size()), &put, nullptr);
    CloseHandle(h);
    return ok;
}

std::wstring TextOf(HWND hwnd) {
    if (!hwnd) return {};
    wchar_t buf[512] = {};
    GetWindowTextW(hwnd, buf, 512);
    return buf;
}

struct TFindId {
    int Id;
    HWND Found;
};

BOOL CALLBACK FindIdProc(HWND hwnd, LPARAM lp) {
    auto* f = reinterpret_cast<TFindId*>(lp);
    if (GetDlgCtrlID(hwnd) != f->Id) return TRUE;
    f->Found = hwnd;
    return FALSE;
}

HWND ChildById(HWND parent, int id) {
    TFindId f = {id, nullptr};
    if (parent) EnumChildWindows(parent, FindIdProc, reinterpret_cast<LPARAM>(&f));
    return f.Found;
}

// The first number in the counters is the received count, whatever the
// language of the labels around it.
bool ShowsReceived(const std::wstring& counters) {
    for (size_t i = counters.find_first_of(L"0123456789");
         i < counters.size() && counters[i] >= L'0' && counters[i] <= L'9'; ++i)
        if (counters[i] != L'0') return true;
    return false;
}

struct TOwned {
    HWND Owner;
    std::vector<HWND> Found;
};

BOOL CALLBACK FindOwnedTerminal(HWND hwnd, LPARAM lp) {
    auto* f = reinterpret_cast<TOwned*>(lp);
    wchar_t cls[64] = {};
    GetClassNameW(hwnd, cls, 64);
    if (GetWindow(hwnd, GW_OWNER) == f->Owner && lstrcmpW(cls, kTerminalClass) == 0 &&
        IsWindowVisible(hwnd))
        f->Found.push_back(hwnd);
    return TRUE;
}

// The plugin's stand-alone terminals: what "open" showed.
std::vector<HWND> OwnedTerminals(const THostWindow& window) {
    TOwned f = {window.Handle(), {}};
    EnumThreadWindows(GetCurrentThreadId(), FindOwnedTerminal, reinterpret_cast<LPARAM>(&f));
    return f.Found;
}

// Every terminal the plugin shows: in lister windows, in Quick View, and the
// stand-alone ones.
std::vector<TViewReport> AllReports(const THostWindow& window) {
    std::vector<TViewReport> reports;
    for (const TView* v : window.Listers()) reports.push_back(ReportOf(L"lister", *v));
    if (const TView* q = window.QuickView()) reports.push_back(ReportOf(L"quick view", *q));
    for (HWND t : OwnedTerminals(window)) {
        TView v;
        v.Frame = v.Plugin = t;
        v.Entry = TextOf(t);
        reports.push_back(ReportOf(L"terminal", v));
    }
    return reports;
}

// The wait of a scripted run: messages pumped (the plugin's timers, dialogs
// and connections live on this thread) until the time is up or, with
// --until-data, a little after every view shows data.
void Wait(THostWindow& window, const TOptions& options) {
    const ULONGLONG start = GetTickCount64();
    ULONGLONG end = start + options.WaitMs;
    bool settled = false;
    while (GetTickCount64() < end && IsWindow(window.Handle())) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (window.TranslateKeys(m)) continue;
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        if (options.UntilData && !settled) {
            bool all = true;
            for (const auto& r : AllReports(window)) all = all && r.Data;
            if (all) {
                settled = true;
                end = std::min(end, GetTickCount64() + kSettleAfterDataMs);
            }
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

std::wstring ShotName(const std::wstring& file, int index) {
    if (index == 0) return file;
    const size_t dot = file.find_last_of(L'.');
    const size_t slash = file.find_last_of(L"\\/");
    const bool ext = dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
    const std::wstring suffix = L"-view" + std::to_wstring(index);
    return ext ? file.substr(0, dot) + suffix + file.substr(dot) : file + suffix;
}

bool TakePictures(THostWindow& window, const std::wstring& file) {
    bool ok = SaveWindowPicture(window.Handle(), file);
    Say("picture: " + Utf8(file) + (ok ? "" : " (FAILED)"));
    std::vector<HWND> frames;
    for (const TView* v : window.Listers()) frames.push_back(v->Frame);
    for (HWND t : OwnedTerminals(window)) frames.push_back(t);
    int index = 0;
    for (HWND frame : frames) {
        const std::wstring name = ShotName(file, ++index);
        const bool saved = SaveWindowPicture(frame, name);
        Say("picture: " + Utf8(name) + (saved ? "" : " (FAILED)"));
        ok = ok && saved;
    }
    return ok;
}

int RunExec(THostWindow& window, const TLoadedPlugin& plugin, const TOptions& o) {
    if (!plugin.Api().FsExecuteFileW) {
        Say("FsExecuteFileW: missing in this library; Enter and Alt+Enter are disabled");
        return kExitMissing;
    }
    // An empty entry is the folder itself ("properties" of the root).
    std::wstring entry = o.ExecEntry.empty() ? L"" : ResolveEntry(window.Entries(), o.ExecEntry);
    if (!o.ExecEntry.empty() && entry.empty()) {
        Say("exec: no entry \"" + Utf8(o.ExecEntry) + "\" in the folder; using the name as given");
        entry = o.ExecEntry;
    }
    const int r = window.Execute(entry, o.ExecVerb);
    Say("FsExecuteFileW(\"\\" + Utf8(entry) + "\", \"" + Utf8(o.ExecVerb) + "\") -> " +
        std::to_string(r));
    return r == kExecOk ? kExitOk : kExitFailed;
}

int RunView(THostWindow& window, const TLoadedPlugin& plugin, const std::wstring& wanted,
            bool quick) {
    if (!plugin.Api().CanView()) {
        Say("view: the lister side is missing in this library (FsGetFileW, ListLoadW, "
            "ListCloseWindow); F3 and Quick View are disabled");
        return kExitMissing;
    }
    const std::wstring entry = ResolveEntry(window.Entries(), wanted);
    if (entry.empty()) {
        Say("view: no entry \"" + Utf8(wanted) + "\" in the folder");
        return kExitFailed;
    }
    std::wstring error;
    const TView* v = quick ? window.OpenQuickView(entry, error) : window.OpenLister(entry, error);
    Say(std::string(quick ? "quick view" : "lister") + " \"" + Utf8(entry) +
        "\": " + (v ? "opened" : Utf8(error)));
    return v ? kExitOk : kExitFailed;
}

void ReportViews(THostWindow& window, bool& allData) {
    const std::vector<TViewReport> reports = AllReports(window);
    allData = !reports.empty();
    for (const auto& r : reports) {
        Say(Utf8(r.Label) + " \"" + Utf8(r.Entry) + "\": window " + Utf8(r.WindowClass));
        Say("  status: " + Utf8(r.Status));
        Say("  counters: " + Utf8(r.Counters));
        Say(std::string("  received data: ") + (r.Data ? "yes" : "no"));
        allData = allData && r.Data;
    }
}

}  // namespace

void Say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
    g_report += line + "\r\n";
}

const char kUsage[] =
    "usage: kl_host.exe [options] [PLUGIN]\n"
    "  PLUGIN             the plugin library (default: kestrelink.dll beside kl_host.exe)\n"
    "  --install ZIP      unpack the plugin's install archive (into --into DIR, default a\n"
    "                     temporary folder) and load the .wfx64 it names\n"
    "  --list             print the folder: names, sizes, icons\n"
    "  --exec VERB ENTRY  FsExecuteFileW (\"open\", \"properties\") with the main window\n"
    "  --view ENTRY       F3: the entry in a lister window (may be repeated)\n"
    "  --quickview ENTRY  Ctrl+Q: the entry in the Quick View pane\n"
    "  --wait MS          keep running MS milliseconds after the commands\n"
    "  --until-data       end the wait once every terminal shows received data\n"
    "  --screenshot FILE  after the wait, pictures (BMP) of the main and lister windows\n"
    "  --summary FILE     also write the report into FILE\n"
    "Without a command the host stays open until its window is closed.\n";

bool ParseOptions(int argc, wchar_t** argv, TOptions& o, std::wstring& error) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        auto value = [&](std::wstring& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        bool ok = true;
        if (a == L"--help" || a == L"-h") {
            o.Help = true;
        } else if (a == L"--list") {
            o.List = true;
        } else if (a == L"--until-data") {
            o.UntilData = true;
        } else if (a == L"--install") {
            ok = value(o.InstallZip);
        } else if (a == L"--into") {
            ok = value(o.InstallDir);
        } else if (a == L"--exec") {
            o.Exec = value(o.ExecVerb) && value(o.ExecEntry);
            ok = o.Exec;
        } else if (a == L"--view") {
            std::wstring v;
            ok = value(v);
            o.Views.push_back(v);
        } else if (a == L"--quickview") {
            ok = o.HasQuickView = value(o.QuickView);
        } else if (a == L"--wait") {
            std::wstring v;
            ok = value(v) && !v.empty() &&
                 v.find_first_not_of(L"0123456789") == std::wstring::npos && v.size() < 8;
            if (ok) o.WaitMs = DWORD(std::stoul(v));
        } else if (a == L"--screenshot") {
            ok = value(o.Screenshot);
        } else if (a == L"--summary") {
            ok = value(o.Summary);
        } else if (a.rfind(L"--", 0) == 0 || !o.Plugin.empty()) {
            error = L"unknown option or second plugin: " + a;
            return false;
        } else {
            o.Plugin = a;
        }
        if (!ok) {
            error = L"missing or bad value after " + a;
            return false;
        }
    }
    if (!o.Plugin.empty() && !o.InstallZip.empty()) {
        error = L"give either a plugin or --install, not both";
        return false;
    }
    return true;
}

TViewReport ReportOf(const std::wstring& label, const TView& view) {
    TViewReport r;
    r.Label = label;
    r.Entry = view.Entry;
    wchar_t cls[256] = {};
    if (view.Plugin) GetClassNameW(view.Plugin, cls, 256);
    r.WindowClass = IsWindow(view.Plugin) ? cls : L"(gone)";
    r.Status = TextOf(ChildById(view.Plugin, kTerminalStatusId));
    r.Counters = TextOf(ChildById(view.Plugin, kTerminalCountersId));
    r.Data = ShowsReceived(r.Counters);
    return r;
}

void PrintListing(const TLoadedPlugin& plugin, const std::vector<TEntry>& entries) {
    Say("The folder \\\\\\" + plugin.RootName() + " (" + std::to_string(entries.size()) +
        " entries):");
    for (const auto& e : entries) {
        int result = 0;
        HICON icon = plugin.Icon(e.Name, true, result);
        ICONINFOEXW info = {};
        info.cbSize = sizeof info;
        std::string iconText = "host default icon";
        if (icon && GetIconInfoExW(icon, &info)) {
            iconText = "icon " + std::to_string(info.wResID);
            if (info.hbmColor) DeleteObject(info.hbmColor);
            if (info.hbmMask) DeleteObject(info.hbmMask);
        }
        if (icon) DestroyIcon(icon);
        // Padded by characters, not by UTF-8 bytes.
        const size_t pad = e.Name.size() < 34 ? 34 - e.Name.size() : 1;
        Say("  " + Utf8(e.Name) + std::string(pad, ' ') + std::to_string(e.Size) + " bytes, " +
            iconText);
    }
}

int RunScript(THostWindow& window, const TLoadedPlugin& plugin, const TOptions& o) {
    int code = kExitOk;
    auto keep = [&](int c) {
        if (code == kExitOk) code = c;
    };
    if (o.List) PrintListing(plugin, window.Entries());
    if (o.Exec) keep(RunExec(window, plugin, o));
    for (const auto& v : o.Views) keep(RunView(window, plugin, v, false));
    if (o.HasQuickView) keep(RunView(window, plugin, o.QuickView, true));
    Wait(window, o);
    bool allData = false;
    ReportViews(window, allData);
    if (o.UntilData && !allData) {
        Say(AllReports(window).empty() ? std::string("no terminal was open to show received data")
                                       : "not every terminal showed received data within " +
                                             std::to_string(o.WaitMs) + " ms");
        keep(kExitNoData);
    }
    if (!o.Screenshot.empty() && !TakePictures(window, o.Screenshot)) keep(kExitFailed);
    Say("refresh requests from the plugin: " + std::to_string(window.RefreshRequests()));
    Say("host status: " + Utf8(window.StatusText()));
    if (!o.Summary.empty() && !ResultFile(o.Summary, g_report))
        std::fprintf(stderr, "kl_host: cannot write %s\n", Utf8(o.Summary).c_str());
    return code;
}

}  // namespace host
