// A private copy of the plugin DLL for the tests of the folder exports: the
// library keeps its settings file beside itself, so each test copies the DLL
// into its own folder, writes the kestrelink.ini it needs there and calls the
// exports of that copy exactly as the host does (mutable MAX_PATH buffers,
// find handles, WIN32_FIND_DATA records).
#pragma once

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "wintest.h"

namespace kltest {

using TFsFindFirstW = HANDLE(__stdcall*)(WCHAR*, WIN32_FIND_DATAW*);
using TFsFindFirstA = HANDLE(__stdcall*)(char*, WIN32_FIND_DATAA*);
using TFsFindNextW = BOOL(__stdcall*)(HANDLE, WIN32_FIND_DATAW*);
using TFsFindNextA = BOOL(__stdcall*)(HANDLE, WIN32_FIND_DATAA*);
using TFsFindClose = int(__stdcall*)(HANDLE);
using TFsGetFileW = int(__stdcall*)(WCHAR*, WCHAR*, int, void*);
using TFsGetFileA = int(__stdcall*)(char*, char*, int, void*);
using TFsDeleteFileW = BOOL(__stdcall*)(WCHAR*);
using TFsDeleteFileA = BOOL(__stdcall*)(char*);
using TFsExtractCustomIconW = int(__stdcall*)(WCHAR*, int, HICON*);
using TFsExtractCustomIconA = int(__stdcall*)(char*, int, HICON*);

// A host-style MAX_PATH buffer holding text.
template <class C>
struct THostBuf {
    explicit THostBuf(const std::basic_string<C>& text) {
        const size_t n = std::min(text.size(), size_t(MAX_PATH - 1));
        std::copy_n(text.data(), n, buf);
        buf[n] = 0;
    }
    C buf[MAX_PATH] = {};
    operator C*() { return buf; }
};

class TPluginCopy {
public:
    // dir: an existing folder to copy into; empty for a fresh temporary one.
    explicit TPluginCopy(const std::string& ini = {}, const std::wstring& dir = {})
        : dir_(dir.empty() ? temp_.Path() : dir), dll_(Prepare(ini)) {}
    ~TPluginCopy() {
        dll_.reset();  // unloaded before its files go
        DeleteFileW(Ini().c_str());
        DeleteFileW((dir_ + L"\\kestrelink.dll").c_str());
        RemoveTree(dir_ + L"\\languages");  // CopyDllTo brings the catalogs along
    }
    TPluginCopy(const TPluginCopy&) = delete;
    TPluginCopy& operator=(const TPluginCopy&) = delete;

    HMODULE Module() const { return dll_->Module(); }
    const std::wstring& Dir() const { return dir_; }
    std::wstring Ini() const { return dir_ + L"\\kestrelink.ini"; }
    std::wstring File(const std::wstring& name) const { return dir_ + L"\\" + name; }
    void WriteIni(const std::string& content) const {
        if (!WriteFileBytes(Ini(), content)) ADD_FAILURE() << "cannot write kestrelink.ini";
    }

    template <class F>
    F Proc(const char* name) const {
        return dll_->Proc<F>(name);
    }

    // The whole listing of a path through find-first, find-next and close.
    std::vector<WIN32_FIND_DATAW> ListW(const std::wstring& path = L"\\") const {
        std::vector<WIN32_FIND_DATAW> out;
        WIN32_FIND_DATAW fd;
        THostBuf<wchar_t> p(path);
        HANDLE h = Proc<TFsFindFirstW>("FsFindFirstW")(p, &fd);
        if (h == INVALID_HANDLE_VALUE) return out;
        do out.push_back(fd);
        while (Proc<TFsFindNextW>("FsFindNextW")(h, &fd));
        Proc<TFsFindClose>("FsFindClose")(h);
        return out;
    }
    std::vector<WIN32_FIND_DATAA> ListA(const std::string& path = "\\") const {
        std::vector<WIN32_FIND_DATAA> out;
        WIN32_FIND_DATAA fd;
        THostBuf<char> p(path);
        HANDLE h = Proc<TFsFindFirstA>("FsFindFirst")(p, &fd);
        if (h == INVALID_HANDLE_VALUE) return out;
        do out.push_back(fd);
        while (Proc<TFsFindNextA>("FsFindNext")(h, &fd));
        Proc<TFsFindClose>("FsFindClose")(h);
        return out;
    }
    std::vector<std::wstring> NamesW() const {
        std::vector<std::wstring> names;
        for (const auto& fd : ListW()) names.push_back(fd.cFileName);
        return names;
    }

    int GetFileW(const std::wstring& remote, const std::wstring& local, int flags) const {
        THostBuf<wchar_t> r(remote), l(local);
        return Proc<TFsGetFileW>("FsGetFileW")(r, l, flags, nullptr);
    }
    int GetFileA(const std::string& remote, const std::string& local, int flags) const {
        THostBuf<char> r(remote), l(local);
        return Proc<TFsGetFileA>("FsGetFile")(r, l, flags, nullptr);
    }

private:
    std::unique_ptr<TPlugin> Prepare(const std::string& ini) {
        const std::wstring dll = CopyDllTo(dir_);
        if (!ini.empty()) WriteIni(ini);
        return std::make_unique<TPlugin>(dll);
    }

    TTempDir temp_;
    std::wstring dir_;
    std::unique_ptr<TPlugin> dll_;
};

// The listed name of the manage entry in English.
inline const std::wstring kManageW = L"[ Manage connections\u2026 ]";

}  // namespace kltest
