// The plugin library as the host holds it: loaded by path, its exports bound
// by name, initialised in the host's order, and the calls the host makes on
// entries wrapped with the host-style mutable MAX_PATH buffers.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "uHostApi.h"

namespace host {

class TLoadedPlugin {
public:
    TLoadedPlugin() = default;
    ~TLoadedPlugin();
    TLoadedPlugin(const TLoadedPlugin&) = delete;
    TLoadedPlugin& operator=(const TLoadedPlugin&) = delete;

    // LoadLibrary, bind every export, FsInit and FsSetDefaultParams. False
    // (with the reason) when the file does not load or cannot be listed.
    bool Load(const std::wstring& path, std::wstring& error);
    const TPluginApi& Api() const { return api_; }
    const std::wstring& Path() const { return path_; }
    // "FsExecuteFileW (Enter, Alt+Enter)" for every export the library lacks.
    const std::vector<std::string>& Missing() const { return missing_; }

    std::string RootName() const;
    std::string DetectString() const;
    // The root folder; empty with the last error when find-first refused it.
    std::vector<TEntry> List(DWORD& error) const;
    // FsExtractCustomIconW; null (and the plugin's result) when it gave none.
    HICON Icon(const std::wstring& name, bool small, int& result) const;
    int GetFile(const std::wstring& name, const std::wstring& local) const;
    int Execute(HWND mainWin, const std::wstring& name, const std::wstring& verb) const;
    bool Delete(const std::wstring& name) const;

private:
    HMODULE module_ = nullptr;
    std::wstring path_;
    TPluginApi api_;
    std::vector<std::string> missing_;
};

// A detect string of the form [n]="c" & [m]="d" ..., tested against the
// first bytes of a file. `understood` is false for any other form; the host
// then leaves the decision to the plugin's ListLoadW.
bool DetectMatches(const std::string& detect, const std::string& head, bool& understood);

// The listed entry a command-line name stands for: the exact name, else the
// one name equal ignoring case, else the one entry whose name begins with it
// followed by two spaces (a port given without its device name). Empty when
// there is none or the choice is ambiguous.
std::wstring ResolveEntry(const std::vector<TEntry>& entries, const std::wstring& wanted);

// Console text is UTF-8 whatever the code page of the process.
std::string Utf8(const std::wstring& s);
std::wstring FromUtf8(const std::string& s);

}  // namespace host
