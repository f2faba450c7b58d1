// Stand-in for the file manager: loads kestrelink.dll through LoadLibrary and
// calls its exports in the order the host does, printing what the file
// manager would show. Usage: kl_host.exe <path of kestrelink.dll>
//
// The library keeps its settings beside itself, so the host runs a copy of it
// in a scratch folder with a demo kestrelink.ini (two saved connections) and
// the languages folder. For the ports it puts two demo values into the serial
// device map of the registry for the length of the run and restores the map
// afterwards. Everything else it learns through the exports alone.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/uText.h"

namespace {

using TFsInit = int(__stdcall*)(int, void*, void*, void*);
using TFsSetDefaultParams = void(__stdcall*)(void*);
using TCopyName = void(__stdcall*)(char*, int);
using TFsFindFirstW = HANDLE(__stdcall*)(WCHAR*, WIN32_FIND_DATAW*);
using TFsFindNextW = BOOL(__stdcall*)(HANDLE, WIN32_FIND_DATAW*);
using TFsFindClose = int(__stdcall*)(HANDLE);
using TFsGetFileW = int(__stdcall*)(WCHAR*, WCHAR*, int, void*);
using TFsExtractCustomIconW = int(__stdcall*)(WCHAR*, int, HICON*);

constexpr int kIconExtracted = 2;
constexpr int kSmallIcon = 1;
constexpr int kOverwrite = 1;

const char kDemoIni[] =
    "[Plugin]\r\nLanguage=en\r\n"
    "[Conn:router]\r\nHost=192.168.1.1\r\nPort=23\r\nMode=1\r\n"
    "[Conn:bench PSU]\r\nHost=127.0.0.1\r\nPort=5025\r\nMode=0\r\nLocalEcho=1\r\n";

const wchar_t* const kDemoPorts[][2] = {
    {L"\\Device\\KestrelinkDemo0", L"COM10"},
    {L"\\Device\\KestrelinkDemo1", L"COM3"},
};

// Reports a missing export and gives null. No exit() here: the caller returns
// instead, so that the device map and the scratch folder are put back.
template <class F>
F Need(HMODULE dll, const char* name, bool& missing) {
    auto p = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
    if (!p) {
        std::fprintf(stderr, "kl_host: export %s missing\n", name);
        missing = true;
    }
    return p;
}

// Console output is UTF-8 whatever the code page of the process.
std::string Out(const std::wstring& s) {
    return Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(s.data()), s.size()));
}

// The name in UTF-8, padded by characters (not bytes) to a column width.
std::string Padded(const std::wstring& s, size_t width) {
    return Out(s) + std::string(s.size() < width ? width - s.size() : 0, ' ');
}

std::wstring Parent(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    const bool ok =
        WriteFile(h, bytes.data(), DWORD(bytes.size()), &put, nullptr) && put == bytes.size();
    CloseHandle(h);
    return ok;
}

std::string ReadBytes(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::string data(65536, '\0');
    DWORD got = 0;
    if (!ReadFile(h, data.data(), DWORD(data.size()), &got, nullptr)) got = 0;
    CloseHandle(h);
    data.resize(got);
    return data;
}

// The files of one folder level (the languages folder has no subfolders).
std::vector<std::wstring> FilesIn(const std::wstring& dir) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(fd.cFileName);
    while (FindNextFileW(h, &fd));
    FindClose(h);
    return names;
}

// A scratch folder holding the DLL copy, its settings and its catalogs.
class TScratch {
public:
    explicit TScratch(const std::wstring& dll) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        dir_ = std::wstring(temp) + L"kl_host-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(dir_.c_str(), nullptr);
        CreateDirectoryW((dir_ + L"\\languages").c_str(), nullptr);
        dll_ = dir_ + L"\\kestrelink.dll";
        ok_ = CopyFileW(dll.c_str(), dll_.c_str(), FALSE) &&
              WriteBytes(dir_ + L"\\kestrelink.ini", kDemoIni);
        const std::wstring from = Parent(dll) + L"\\languages";
        for (const auto& name : FilesIn(from))
            CopyFileW((from + L"\\" + name).c_str(), (dir_ + L"\\languages\\" + name).c_str(),
                      FALSE);
    }
    ~TScratch() {
        for (const auto& name : FilesIn(dir_ + L"\\languages"))
            DeleteFileW((dir_ + L"\\languages\\" + name).c_str());
        RemoveDirectoryW((dir_ + L"\\languages").c_str());
        for (const auto& name : FilesIn(dir_)) DeleteFileW((dir_ + L"\\" + name).c_str());
        RemoveDirectoryW(dir_.c_str());
    }
    bool Ok() const { return ok_; }
    const std::wstring& Dir() const { return dir_; }
    const std::wstring& Dll() const { return dll_; }

private:
    std::wstring dir_, dll_;
    bool ok_ = false;
};

// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM with the demo ports in place of its own
// values for the life of the object.
class TDemoPorts {
public:
    TDemoPorts() {
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                            REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key_,
                            nullptr) != ERROR_SUCCESS) {
            key_ = nullptr;
            return;
        }
        for (DWORD i = 0;; ++i) {
            TValue v;
            wchar_t name[16384];
            DWORD nameLen = 16384, size = 4096;
            v.Data.resize(size);
            if (RegEnumValueW(key_, i, name, &nameLen, nullptr, &v.Type, v.Data.data(), &size) !=
                ERROR_SUCCESS)
                break;
            v.Name.assign(name, nameLen);
            v.Data.resize(size);
            saved_.push_back(v);
        }
        for (const auto& v : saved_) RegDeleteValueW(key_, v.Name.c_str());
        for (const auto& p : kDemoPorts) Set(p[0], REG_SZ, p[1], (wcslen(p[1]) + 1) * 2);
    }
    ~TDemoPorts() {
        if (!key_) return;
        for (const auto& p : kDemoPorts) RegDeleteValueW(key_, p[0]);
        for (const auto& v : saved_) Set(v.Name.c_str(), v.Type, v.Data.data(), v.Data.size());
        RegCloseKey(key_);
    }
    bool Ok() const { return key_ != nullptr; }

private:
    struct TValue {
        std::wstring Name;
        DWORD Type = 0;
        std::vector<BYTE> Data;
    };
    void Set(const wchar_t* name, DWORD type, const void* data, size_t size) {
        RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data), DWORD(size));
    }
    HKEY key_ = nullptr;
    std::vector<TValue> saved_;
};

// What an icon handed out by the library is: its resource number (the
// system records it for icons loaded from a module) and its width.
struct TIconFacts {
    int Resource = 0;
    int Width = 0;
};

TIconFacts Facts(HICON icon) {
    TIconFacts f;
    ICONINFOEXW info = {};
    info.cbSize = sizeof info;
    if (!GetIconInfoExW(icon, &info)) return f;
    f.Resource = info.wResID;
    // The bitmaps come from GDI; the host loads it only to read a size.
    static HMODULE gdi = LoadLibraryW(L"gdi32.dll");
    auto getObject = reinterpret_cast<decltype(&GetObjectW)>(
        reinterpret_cast<void*>(GetProcAddress(gdi, "GetObjectW")));
    auto deleteObject = reinterpret_cast<decltype(&DeleteObject)>(
        reinterpret_cast<void*>(GetProcAddress(gdi, "DeleteObject")));
    BITMAP bm = {};
    if (getObject && info.hbmColor && getObject(info.hbmColor, sizeof bm, &bm))
        f.Width = bm.bmWidth;
    if (deleteObject) {
        if (info.hbmColor) deleteObject(info.hbmColor);
        if (info.hbmMask) deleteObject(info.hbmMask);
    }
    return f;
}

const char* ResourceMeaning(int id) {
    switch (id) {
        case 101:
            return "port entry";
        case 102:
            return "connection entry";
        case 103:
            return "manage entry";
        default:
            return "?";
    }
}

// FsExtractCustomIconW of an entry, as "-> 2, resource 101 (port entry), 32 px".
std::string IconText(TFsExtractCustomIconW extract, const std::wstring& name, int flags) {
    std::vector<wchar_t> buf(MAX_PATH, 0);
    (L"\\" + name).copy(buf.data(), MAX_PATH - 1);
    HICON icon = nullptr;
    const int r = extract(buf.data(), flags, &icon);
    if (r != kIconExtracted) return "-> " + std::to_string(r) + " (the host's default icon)";
    const TIconFacts f = Facts(icon);
    DestroyIcon(icon);
    return "-> 2, resource " + std::to_string(f.Resource) + " (" + ResourceMeaning(f.Resource) +
           "), " + std::to_string(f.Width) + " px";
}

void ShowDescriptor(TFsGetFileW getFile, const std::wstring& dir, const std::wstring& name) {
    std::vector<wchar_t> remote(MAX_PATH, 0), local(MAX_PATH, 0);
    (L"\\" + name).copy(remote.data(), MAX_PATH - 1);
    const std::wstring file = dir + L"\\descriptor.txt";
    file.copy(local.data(), MAX_PATH - 1);
    const int r = getFile(remote.data(), local.data(), kOverwrite, nullptr);
    std::printf("\nFsGetFileW(\"\\%s\", overwrite) -> %d\n", Out(name).c_str(), r);
    if (r != 0) return;
    const std::string bytes = ReadBytes(file);
    std::printf("  %zu bytes:\n", bytes.size());
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find('\n', pos);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::printf("  | %s\n", line.c_str());
        pos = end + 1;
    }
    DeleteFileW(file.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring original = argc > 1 ? argv[1] : L"kestrelink.dll";
    TScratch scratch(original);
    if (!scratch.Ok()) {
        std::fprintf(stderr, "kl_host: cannot set up a copy of %s in %s\n", Out(original).c_str(),
                     Out(scratch.Dir()).c_str());
        return 1;
    }
    TDemoPorts ports;
    if (!ports.Ok()) std::fprintf(stderr, "kl_host: no demo ports (registry not writable)\n");

    HMODULE dll = LoadLibraryW(scratch.Dll().c_str());
    if (!dll) {
        std::fprintf(stderr, "kl_host: cannot load %s (error %lu)\n", Out(scratch.Dll()).c_str(),
                     GetLastError());
        return 1;
    }
    std::printf("Loaded %s\n", Out(scratch.Dll()).c_str());
    std::printf("  (a copy of %s, with the demo kestrelink.ini beside it)\n",
                Out(original).c_str());

    bool missing = false;
    auto fsInit = Need<TFsInit>(dll, "FsInit", missing);
    auto setDefaultParams = Need<TFsSetDefaultParams>(dll, "FsSetDefaultParams", missing);
    auto getDefRootName = Need<TCopyName>(dll, "FsGetDefRootName", missing);
    auto getDetectString = Need<TCopyName>(dll, "ListGetDetectString", missing);
    auto findFirst = Need<TFsFindFirstW>(dll, "FsFindFirstW", missing);
    auto findNext = Need<TFsFindNextW>(dll, "FsFindNextW", missing);
    auto findClose = Need<TFsFindClose>(dll, "FsFindClose", missing);
    auto extract = Need<TFsExtractCustomIconW>(dll, "FsExtractCustomIconW", missing);
    auto getFile = Need<TFsGetFileW>(dll, "FsGetFileW", missing);
    if (missing) {
        FreeLibrary(dll);
        return 1;
    }

    const int init = fsInit(1, nullptr, nullptr, nullptr);
    std::printf("FsInit                -> %d\n", init);
    char defaults[1024] = {};
    setDefaultParams(defaults);
    std::printf("FsSetDefaultParams    -> done\n");

    char root[MAX_PATH] = {};
    getDefRootName(root, MAX_PATH);
    std::printf(
        "FsGetDefRootName      -> \"%s\"   (shown under Network Neighborhood as \\\\\\%s)\n", root,
        root);

    char detect[1024] = {};
    getDetectString(detect, sizeof detect);
    std::printf("ListGetDetectString   -> %s\n", detect);
    std::printf("                         (%zu characters)\n", std::string(detect).size());

    std::printf("\nThe folder \\\\\\%s (demo device map: COM10, COM3):\n", root);
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    wchar_t path[MAX_PATH] = L"\\";
    HANDLE h = findFirst(path, &fd);
    if (h == INVALID_HANDLE_VALUE) {
        std::printf("  FsFindFirstW -> INVALID_HANDLE_VALUE (error %lu)\n", GetLastError());
    } else {
        do {
            names.push_back(fd.cFileName);
            std::printf("  %s %5lu bytes\n", Padded(fd.cFileName, 28).c_str(), fd.nFileSizeLow);
        } while (findNext(h, &fd));
        std::printf("  FsFindClose -> %d\n", findClose(h));
    }

    std::printf("\nIcons (FsExtractCustomIconW; large %d px, small %d px):\n",
                GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CXSMICON));
    names.push_back(L"LPT1");  // what a host might ask about a name that is no entry
    for (const auto& name : names) {
        std::printf("  %s\n", Out(name).c_str());
        std::printf("      large %s\n", IconText(extract, name, 0).c_str());
        std::printf("      small %s\n", IconText(extract, name, kSmallIcon).c_str());
    }

    // The first entry after the manage entry (a port here), as F3 on it fetches it.
    ShowDescriptor(getFile, scratch.Dir(), names.size() > 2 ? names[1] : names[0]);
    ShowDescriptor(getFile, scratch.Dir(), L"TCP - router");

    FreeLibrary(dll);
    return 0;
}
