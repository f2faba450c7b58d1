// Support for the Windows tests that run under Wine: the plugin DLL loaded
// through its exports exactly as the host loads it, private temporary folders
// and small file helpers.
#pragma once

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

namespace kltest {

// Windows path of the built kestrelink.dll (environment variable KL_DLL, a
// Unix path set by ctest, mapped through Wine's Z: drive).
std::wstring DllPath();
// Unix path -> Windows path on Wine's Z: drive; Windows paths pass unchanged.
std::wstring WinPath(const std::string& path);

// The plugin DLL (the built one, or a copy), loaded with LoadLibraryW and
// freed at the end of the scope.
class TPlugin {
public:
    explicit TPlugin(const std::wstring& path = DllPath());
    ~TPlugin();
    HMODULE Module() const { return module_; }
    FARPROC Raw(const char* name) const;
    template <class F>
    F Proc(const char* name) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(Raw(name)));
    }

private:
    HMODULE module_ = nullptr;
};

// A fresh folder under the temp directory, removed with its content at the end.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    const std::wstring& Path() const { return path_; }
    std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
// Deletes a folder with everything in it.
void RemoveTree(const std::wstring& dir);
// Copies the built DLL (and its languages folder) into dir, so that a test can
// give the library its own settings file and catalogs beside it.
std::wstring CopyDllTo(const std::wstring& dir);

}  // namespace kltest
