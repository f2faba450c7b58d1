#include "wintest.h"

#include <cstdlib>
#include <vector>

namespace kltest {

std::wstring WinPath(const std::string& path) {
    std::wstring w(path.begin(), path.end());
    if (!w.empty() && w[0] == L'/') {
        for (auto& c : w)
            if (c == L'/') c = L'\\';
        w = L"Z:" + w;
    }
    return w;
}

std::wstring DllPath() {
    const char* p = std::getenv("KL_DLL");
    return p ? WinPath(p) : L"kestrelink.dll";
}

TPlugin::TPlugin(const std::wstring& path) {
    module_ = LoadLibraryW(path.c_str());
    if (!module_) ADD_FAILURE() << "LoadLibraryW failed, error " << GetLastError();
}

TPlugin::~TPlugin() {
    if (module_) FreeLibrary(module_);
}

FARPROC TPlugin::Raw(const char* name) const {
    FARPROC p = module_ ? GetProcAddress(module_, name) : nullptr;
    if (!p) ADD_FAILURE() << "export missing: " << name;
    return p;
}

void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring full = dir + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(full);
            } else {
                SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(dir.c_str());
}

TTempDir::TTempDir() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static unsigned counter = 0;
    for (;;) {
        path_ = std::wstring(base) + L"kltest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(++counter);
        if (CreateDirectoryW(path_.c_str(), nullptr)) break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "cannot create temp dir";
            break;
        }
    }
}

TTempDir::~TTempDir() { RemoveTree(path_); }

std::string ReadFileBytes(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::string data;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got) data.append(buf, got);
    CloseHandle(h);
    return data;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    const bool ok =
        WriteFile(h, bytes.data(), DWORD(bytes.size()), &put, nullptr) && put == bytes.size();
    CloseHandle(h);
    return ok;
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring CopyDllTo(const std::wstring& dir) {
    const std::wstring src = DllPath();
    const std::wstring dst = dir + L"\\kestrelink.dll";
    if (!CopyFileW(src.c_str(), dst.c_str(), FALSE)) ADD_FAILURE() << "cannot copy the DLL";
    const std::wstring srcLang = src.substr(0, src.rfind(L'\\') + 1) + L"languages";
    const std::wstring dstLang = dir + L"\\languages";
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((srcLang + L"\\*.ini").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        CreateDirectoryW(dstLang.c_str(), nullptr);
        do {
            CopyFileW((srcLang + L"\\" + fd.cFileName).c_str(),
                      (dstLang + L"\\" + fd.cFileName).c_str(), FALSE);
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    return dst;
}

}  // namespace kltest
