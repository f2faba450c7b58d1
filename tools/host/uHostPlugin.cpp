#include "uHostPlugin.h"

#include <algorithm>
#include <cstring>

#include "base/uText.h"

namespace host {

namespace {

// Mutable MAX_PATH buffers, as the file manager hands names to a plugin.
struct TPathBuf {
    explicit TPathBuf(const std::wstring& text) {
        const size_t n = std::min(text.size(), size_t(MAX_PATH - 1));
        std::copy_n(text.data(), n, buf);
        buf[n] = 0;
    }
    WCHAR buf[MAX_PATH] = {};
};

constexpr size_t kMaxEntries = 100000;

std::wstring Remote(const std::wstring& name) { return L"\\" + name; }

template <class F>
void Bind(HMODULE module, F& slot, const char* name, const char* feature,
          std::vector<std::string>& missing) {
    slot = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!slot) missing.push_back(std::string(name) + " (" + feature + ")");
}

bool SameI(const std::wstring& a, const std::wstring& b) {
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), int(a.size()), b.c_str(),
                          int(b.size())) == CSTR_EQUAL;
}

}  // namespace

std::string Utf8(const std::wstring& s) {
    return Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(s.data()), s.size()));
}

std::wstring FromUtf8(const std::string& s) {
    const std::u16string w = Utf8ToUtf16(s);
    return std::wstring(reinterpret_cast<const wchar_t*>(w.data()), w.size());
}

TLoadedPlugin::~TLoadedPlugin() {
    if (module_) FreeLibrary(module_);
}

bool TLoadedPlugin::Load(const std::wstring& path, std::wstring& error) {
    path_ = path;
    module_ = LoadLibraryW(path.c_str());
    if (!module_) {
        error = L"cannot load " + path + L" (error " + std::to_wstring(GetLastError()) + L")";
        return false;
    }
    auto& m = missing_;
    Bind(module_, api_.FsInit, "FsInit", "start-up", m);
    Bind(module_, api_.FsSetDefaultParams, "FsSetDefaultParams", "start-up", m);
    Bind(module_, api_.FsGetDefRootName, "FsGetDefRootName", "root name", m);
    Bind(module_, api_.ListGetDetectString, "ListGetDetectString", "lister detection", m);
    Bind(module_, api_.FsFindFirstW, "FsFindFirstW", "listing", m);
    Bind(module_, api_.FsFindNextW, "FsFindNextW", "listing", m);
    Bind(module_, api_.FsFindClose, "FsFindClose", "listing", m);
    Bind(module_, api_.FsGetFileW, "FsGetFileW", "F3 and Quick View", m);
    Bind(module_, api_.FsExtractCustomIconW, "FsExtractCustomIconW", "icons", m);
    Bind(module_, api_.FsExecuteFileW, "FsExecuteFileW", "Enter and Alt+Enter", m);
    Bind(module_, api_.FsDeleteFileW, "FsDeleteFileW", "Del", m);
    Bind(module_, api_.ListLoadW, "ListLoadW", "F3 and Quick View", m);
    Bind(module_, api_.ListCloseWindow, "ListCloseWindow", "F3 and Quick View", m);
    if (!api_.CanList()) {
        error = L"the library has no folder listing (FsFindFirstW, FsFindNextW, FsFindClose)";
        return false;
    }
    // The host's start-up calls; the plugin keeps nothing of what they carry.
    if (api_.FsInit) api_.FsInit(1, nullptr, nullptr, nullptr);
    static char defaults[1024] = {};
    if (api_.FsSetDefaultParams) api_.FsSetDefaultParams(defaults);
    return true;
}

std::string TLoadedPlugin::RootName() const {
    char buf[MAX_PATH] = {};
    if (api_.FsGetDefRootName) api_.FsGetDefRootName(buf, MAX_PATH);
    return buf;
}

std::string TLoadedPlugin::DetectString() const {
    char buf[2048] = {};
    if (api_.ListGetDetectString) api_.ListGetDetectString(buf, sizeof buf);
    return buf;
}

std::vector<TEntry> TLoadedPlugin::List(DWORD& error) const {
    std::vector<TEntry> entries;
    error = 0;
    WIN32_FIND_DATAW fd = {};
    TPathBuf root(L"\\");
    HANDLE h = api_.FsFindFirstW(root.buf, &fd);
    if (h == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return entries;
    }
    // A listing that never ends is cut off rather than followed forever.
    do {
        fd.cFileName[MAX_PATH - 1] = 0;  // a plugin that overran the name is cut, not trusted
        entries.push_back({fd.cFileName, fd.nFileSizeLow});
        fd = {};
    } while (entries.size() < kMaxEntries && api_.FsFindNextW(h, &fd));
    api_.FsFindClose(h);
    return entries;
}

HICON TLoadedPlugin::Icon(const std::wstring& name, bool small, int& result) const {
    result = 0;
    if (!api_.FsExtractCustomIconW) return nullptr;
    TPathBuf remote(Remote(name));
    HICON icon = nullptr;
    result = api_.FsExtractCustomIconW(remote.buf, small ? kIconSmall : 0, &icon);
    return result == kIconExtracted ? icon : nullptr;
}

int TLoadedPlugin::GetFile(const std::wstring& name, const std::wstring& local) const {
    TPathBuf remote(Remote(name)), file(local);
    return api_.FsGetFileW(remote.buf, file.buf, kCopyOverwrite, nullptr);
}

int TLoadedPlugin::Execute(HWND mainWin, const std::wstring& name, const std::wstring& verb) const {
    TPathBuf remote(Remote(name)), v(verb);
    return api_.FsExecuteFileW(mainWin, remote.buf, v.buf);
}

bool TLoadedPlugin::Delete(const std::wstring& name) const {
    TPathBuf remote(Remote(name));
    return api_.FsDeleteFileW(remote.buf) != FALSE;
}

bool DetectMatches(const std::string& detect, const std::string& head, bool& understood) {
    understood = false;
    bool all = true;
    size_t pos = 0;
    for (;;) {
        while (pos < detect.size() && detect[pos] == ' ') ++pos;
        unsigned index = 0;
        if (pos >= detect.size() || detect[pos++] != '[') return false;
        const size_t digits = pos;
        while (pos < detect.size() && detect[pos] >= '0' && detect[pos] <= '9' && index < 65536)
            index = index * 10 + unsigned(detect[pos++] - '0');
        if (pos == digits || detect.compare(pos, 3, "]=\"") != 0) return false;
        pos += 3;
        if (pos + 1 >= detect.size() || detect[pos + 1] != '"') return false;
        all = all && index < head.size() && head[index] == detect[pos];
        pos += 2;
        while (pos < detect.size() && detect[pos] == ' ') ++pos;
        if (pos == detect.size()) break;
        if (detect[pos++] != '&') return false;
    }
    understood = true;
    return all;
}

std::wstring ResolveEntry(const std::vector<TEntry>& entries, const std::wstring& wanted) {
    for (const auto& e : entries)
        if (e.Name == wanted) return e.Name;
    std::vector<std::wstring> found;
    for (const auto& e : entries)
        if (SameI(e.Name, wanted)) found.push_back(e.Name);
    if (found.empty())
        for (const auto& e : entries)
            if (e.Name.size() > wanted.size() + 2 &&
                SameI(e.Name.substr(0, wanted.size()), wanted) &&
                e.Name.compare(wanted.size(), 2, L"  ") == 0)
                found.push_back(e.Name);
    return found.size() == 1 ? found[0] : std::wstring();
}

}  // namespace host
