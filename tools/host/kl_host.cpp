// The stand-in host: plays the file manager for the Kestrelink plugin where
// the real one is absent (Linux with Wine, CI, demos). It loads the plugin
// library, calls FsInit and FsSetDefaultParams, shows the virtual folder with
// the plugin's icons and drives the plugin with the file manager's keys
// (uHostWindow.h); with commands on its command line it runs them, reports
// what the plugin showed and exits (uHostScript.h, `kl_host.exe --help`).
//
// It uses the plugin in place: the plugin keeps its settings file and its
// language catalogs beside itself, so whoever starts the host puts them there
// (tools/run-host.sh does for the demo), or installs the plugin from its
// archive with --install, as the file manager's installer would.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "uHostPlugin.h"
#include "uHostScript.h"
#include "uHostWindow.h"
#include "uHostZip.h"

using namespace host;

namespace {

void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = dir + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(dir.c_str());
}

std::wstring HostDirectory() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir = path;
    const size_t slash = dir.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"." : dir.substr(0, slash);
}

std::wstring InfValue(const std::wstring& inf, const wchar_t* key) {
    wchar_t buf[1024] = {};
    GetPrivateProfileStringW(L"plugininstall", key, L"", buf, 1024, inf.c_str());
    return buf;
}

// The installer's reading of an archive: pluginst.inf names the plugin type
// and file; a 64-bit host loads the file of that name with "64" appended.
bool Install(const TOptions& o, std::wstring& dir, std::wstring& plugin, std::wstring& error) {
    std::vector<std::wstring> files;
    if (!UnpackZip(o.InstallZip, dir, error, files)) return false;
    Say("install: " + Utf8(o.InstallZip) + " unpacked into " + Utf8(dir) + " (" +
        std::to_string(files.size()) + " files)");
    const std::wstring inf = dir + L"\\pluginst.inf";
    const std::wstring type = InfValue(inf, L"type"), file = InfValue(inf, L"file");
    if (file.empty() || file.find_first_of(L"\\/:") != std::wstring::npos) {
        error = L"pluginst.inf has no [plugininstall] file= that names a file in the archive";
        return false;
    }
    Say("install: type=" + Utf8(type) + " file=" + Utf8(file) + " version=" +
        Utf8(InfValue(inf, L"version")) + " defaultdir=" + Utf8(InfValue(inf, L"defaultdir")));
    Say("install: " + Utf8(InfValue(inf, L"description")));
    plugin = dir + L"\\" + file + (sizeof(void*) == 8 ? L"64" : L"");
    if (GetFileAttributesW(plugin.c_str()) == INVALID_FILE_ATTRIBUTES) {
        error = L"the archive holds no " + plugin.substr(dir.size() + 1);
        return false;
    }
    return true;
}

int Interactive(THostWindow& window) {
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) {
        if (window.TranslateKeys(m)) continue;
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    return kExitOk;
}

int Run(const TOptions& o, const std::wstring& pluginPath) {
    TLoadedPlugin plugin;
    std::wstring error;
    if (!plugin.Load(pluginPath, error)) {
        std::fprintf(stderr, "kl_host: %s\n", Utf8(error).c_str());
        return kExitSetup;
    }
    Say("Loaded " + Utf8(pluginPath));
    Say("  root name \"" + plugin.RootName() + "\", detect string " + plugin.DetectString());
    for (const auto& m : plugin.Missing()) Say("  missing export " + m + ": that feature is off");
    int code = kExitOk;
    {
        THostWindow window(plugin);
        if (!window.Create(SW_SHOWNORMAL)) {
            std::fprintf(stderr, "kl_host: the main window could not be created\n");
            return kExitSetup;
        }
        code = o.Scripted() ? RunScript(window, plugin, o) : Interactive(window);
        // Lister windows and the plugin's own windows close while the library
        // is still loaded.
        if (IsWindow(window.Handle())) SendMessageW(window.Handle(), WM_CLOSE, 0, 0);
    }
    return code;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // The report is UTF-8 with bare line feeds, the same for every reader.
    _setmode(_fileno(stdout), _O_BINARY);
    TOptions o;
    std::wstring error;
    if (!ParseOptions(argc, argv, o, error) || o.Help) {
        if (!o.Help) std::fprintf(stderr, "kl_host: %s\n", Utf8(error).c_str());
        std::fputs(kUsage, o.Help ? stdout : stderr);
        return o.Help ? kExitOk : kExitUsage;
    }
    std::wstring plugin = o.Plugin.empty() ? HostDirectory() + L"\\kestrelink.dll" : o.Plugin;
    std::wstring installDir;
    bool removeInstall = false;
    if (!o.InstallZip.empty()) {
        installDir = o.InstallDir;
        if (installDir.empty()) {
            wchar_t temp[MAX_PATH] = {};
            GetTempPathW(MAX_PATH, temp);
            installDir =
                std::wstring(temp) + L"kl_host-install-" + std::to_wstring(GetCurrentProcessId());
            removeInstall = true;
        }
        if (!Install(o, installDir, plugin, error)) {
            std::fprintf(stderr, "kl_host: install from %s failed: %s\n",
                         Utf8(o.InstallZip).c_str(), Utf8(error).c_str());
            if (removeInstall) RemoveTree(installDir);
            return kExitSetup;
        }
    }
    const int code = Run(o, plugin);
    if (removeInstall) RemoveTree(installDir);
    return code;
}
