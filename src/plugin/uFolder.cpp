#include "plugin/uFolder.h"

#include <cstring>
#include <memory>
#include <unordered_set>

#include "base/uText.h"
#include "base/uWin.h"
#include "i18n/uI18n.h"
#include "plugin/uDescriptorFile.h"
#include "plugin/uHostApi.h"
#include "settings/uPorts.h"
#include "settings/uSettings.h"

namespace {

// The manage entry as the plugin's languages have listed it, recognised even
// when no catalog of that language is installed (any more).
constexpr std::u16string_view kFixedManageNames[] = {
    u"[ Manage connections… ]",       u"[ Verbindungen verwalten… ]",
    u"[ Керування з’єднаннями… ]",    u"[ Управление соединениями… ]",
    u"[ Verbindungen verwalten... ]",
};

// Find handles the host holds now. A handle is only dereferenced when it is in
// this set, so a stale, doubly closed or made-up handle is refused instead of
// touching freed memory. Every export runs on the host's UI thread.
std::unordered_set<TFindState*> g_liveFinds;

TFindState* LiveFind(HANDLE handle) {
    auto* state = static_cast<TFindState*>(handle);
    return g_liveFinds.count(state) ? state : nullptr;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void FillCommon(const std::u16string& name, DWORD& attributes, FILETIME& written, DWORD& sizeLow) {
    attributes = FILE_ATTRIBUTE_NORMAL;
    GetSystemTimeAsFileTime(&written);
    std::string bytes;
    sizeLow = BuildDescriptorForEntry(name, bytes) ? DWORD(bytes.size()) : 0;
}

// WC_NO_BEST_FIT_CHARS keeps "characters the code page cannot hold become the
// default character" exact (best fit would turn a letter into a lookalike,
// even into a path separator); the UTF-8 code page accepts no such flag.
DWORD AnsiFlags(UINT codePage) {
    const UINT cp = codePage == CP_ACP ? GetACP() : codePage;
    return cp == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
}

template <class FindData>
HANDLE FindFirst(std::u16string_view path, FindData* fd) {
    if (!path.empty() && path != u"\\") {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (!fd) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // Filled completely before the handle is made live: should building or
    // filling throw, nothing is left behind in the set.
    auto state = std::make_unique<TFindState>(TFindState{BuildListing(), 0});
    FillFindData(state->Names[0], *fd);
    g_liveFinds.reserve(g_liveFinds.size() + 1);
    g_liveFinds.insert(state.get());
    return state.release();
}

template <class FindData>
bool FindNext(HANDLE handle, FindData* fd) {
    TFindState* state = LiveFind(handle);
    if (!state || !fd) return false;
    if (size_t(state->Index) + 1 >= state->Names.size()) return false;
    ++state->Index;
    FillFindData(state->Names[size_t(state->Index)], *fd);
    return true;
}

}  // namespace

std::u16string StripLeadingBackslashes(std::u16string_view name) {
    const size_t first = name.find_first_not_of(u'\\');
    return first == std::u16string_view::npos ? std::u16string()
                                              : std::u16string(name.substr(first));
}

std::u16string ManageEntryName() { return u"[ " + Tr(kManageKey, kManageDefault) + u" ]"; }

bool IsManageEntry(std::u16string_view name) {
    const std::u16string trimmed = Trim(name);
    if (trimmed.size() < 2 || trimmed.front() != u'[' || trimmed.back() != u']') return false;
    const std::u16string inner = Trim(std::u16string_view(trimmed).substr(1, trimmed.size() - 2));
    if (MatchesAnyTranslation(kManageKey, kManageDefault, inner)) return true;
    for (const auto fixed : kFixedManageNames)
        if (SameTextI(name, fixed)) return true;
    return false;
}

TClassifiedEntry ClassifyEntry(std::u16string_view remoteName) {
    const std::u16string name = StripLeadingBackslashes(remoteName);
    if (IsManageEntry(name)) return {TEntryClass::Manage, {}, {}};
    if (StartsWithI(name, kConnPrefix))
        return {TEntryClass::Connection, name.substr(kConnPrefix.size()), {}};
    const std::u16string port = name.substr(0, name.find(u' '));
    if (StartsWithI(port, kPortPrefix)) return {TEntryClass::Port, port, name};
    return {};
}

TNameArray ComposeListing(const std::u16string& manageName, const TPortArray& ports,
                          const TNameArray& connections) {
    TNameArray names;
    names.reserve(1 + ports.size() + connections.size());
    names.push_back(manageName);
    for (const auto& p : ports)
        names.push_back(p.FriendlyName.empty() ? p.Name : p.Name + u"  " + p.FriendlyName);
    for (const auto& c : connections) names.push_back(std::u16string(kConnPrefix) + c);
    return names;
}

TNameArray BuildListing() {
    return ComposeListing(ManageEntryName(), EnumeratePorts(), ListConnections());
}

std::u16string CutFileName(std::u16string_view name) {
    if (name.size() <= kMaxFindName) return std::u16string(name);
    size_t n = kMaxFindName;
    // Cutting between the halves of a pair would leave a broken character at
    // the end of the name; drop the whole pair instead.
    if (IsHighSurrogate(name[n - 1]) && IsLowSurrogate(name[n])) --n;
    return std::u16string(name.substr(0, n));
}

std::string AnsiFileName(std::u16string_view name, UINT codePage) {
    const DWORD flags = AnsiFlags(codePage);
    std::string whole = WideToAnsi(name, codePage, flags);
    if (whole.size() <= kMaxFindName) return whole;
    // Too long: add whole characters while they fit. ANSI code pages carry no
    // state between characters, so converting one at a time gives the same bytes.
    std::string r;
    for (size_t i = 0; i < name.size();) {
        const size_t units =
            IsHighSurrogate(name[i]) && i + 1 < name.size() && IsLowSurrogate(name[i + 1]) ? 2 : 1;
        const std::string one = WideToAnsi(name.substr(i, units), codePage, flags);
        if (r.size() + one.size() > kMaxFindName) break;
        r += one;
        i += units;
    }
    return r;
}

void FillFindData(const std::u16string& name, WIN32_FIND_DATAW& fd) {
    std::memset(&fd, 0, sizeof fd);
    FillCommon(name, fd.dwFileAttributes, fd.ftLastWriteTime, fd.nFileSizeLow);
    CopyToBuffer(fd.cFileName, MAX_PATH, CutFileName(name));
}

void FillFindData(const std::u16string& name, WIN32_FIND_DATAA& fd) {
    std::memset(&fd, 0, sizeof fd);
    FillCommon(name, fd.dwFileAttributes, fd.ftLastWriteTime, fd.nFileSizeLow);
    CopyToBuffer(fd.cFileName, MAX_PATH, AnsiFileName(name));
}

HANDLE FolderFindFirst(std::u16string_view path, WIN32_FIND_DATAW* fd) {
    return FindFirst(path, fd);
}
HANDLE FolderFindFirst(std::u16string_view path, WIN32_FIND_DATAA* fd) {
    return FindFirst(path, fd);
}
bool FolderFindNext(HANDLE handle, WIN32_FIND_DATAW* fd) { return FindNext(handle, fd); }
bool FolderFindNext(HANDLE handle, WIN32_FIND_DATAA* fd) { return FindNext(handle, fd); }

void FolderFindClose(HANDLE handle) {
    TFindState* state = LiveFind(handle);
    if (!state) return;
    g_liveFinds.erase(state);
    delete state;
}

bool DeleteEntry(std::u16string_view remoteName) {
    const std::u16string name = StripLeadingBackslashes(remoteName);
    if (!StartsWithI(name, kConnPrefix)) return false;
    // A deletion the settings file did not take is not reported as done:
    // the host would drop an entry that comes back at the next refresh.
    return DeleteConnection(name.substr(kConnPrefix.size()));
}

int ExtractEntryIcon(std::u16string_view remoteName, int extractFlags, HICON* icon) {
    if (!icon) return kFsIconUseDefault;
    int resource = 0;
    switch (ClassifyEntry(remoteName).Class) {
        case TEntryClass::Manage:
            resource = kIconManage;
            break;
        case TEntryClass::Connection:
            resource = kIconConnection;
            break;
        case TEntryClass::Port:
            resource = kIconPort;
            break;
        case TEntryClass::Other:
            return kFsIconUseDefault;
    }
    const int size = GetSystemMetrics((extractFlags & kFsIconFlagSmall) ? SM_CXSMICON : SM_CXICON);
    HANDLE image = LoadImageW(ThisModule(), MAKEINTRESOURCEW(resource), IMAGE_ICON, size, size,
                              LR_DEFAULTCOLOR);
    if (!image) return kFsIconUseDefault;
    *icon = static_cast<HICON>(image);
    return kFsIconExtracted;
}
