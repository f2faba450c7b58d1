// Catalog lookup for the whole process. The catalogs are loaded on the first
// lookup and reloaded when the settings file or its "Language" value changes,
// so a language picked in the connection manager shows from the next text on.
// Every lookup reads the setting again: a profile read is cheap beside drawing
// the text, and no second copy of the setting can go stale.
//
// One critical section guards all state below. It is never held while another
// lock is taken: the settings path and the language setting (whose reads take
// the settings-path lock) are read before it is entered. Results leave it as
// copies, so any thread may translate.
#include "i18n/uI18n.h"

#include <windows.h>

#include <iterator>

#include "base/uWin.h"
#include "i18n/uI18nImpl.h"
#include "settings/uSettings.h"

namespace {

constexpr std::u16string_view kLanguagesFolder = u"languages\\";
constexpr std::u16string_view kCatalogPattern = u"*.ini";

struct TI18nState {
    TCatalogList Catalogs;
    size_t Active = 0;
    std::u16string ModuleDir;
    std::u16string SettingsFile;
    std::u16string Language;
    bool Loaded = false;
};

TI18nState g_state;

// Lives exactly as long as the library: created by the loader's static
// initialisation and deleted at unload. It is defined after the state so that
// it is created after it and deleted before it; while Ready is false (a global
// of another file translating before load completes or during unload) lookups
// give the caller's default without touching the state.
class TI18nLock {
public:
    TI18nLock() {
        InitializeCriticalSection(&cs_);
        ready_ = true;
    }
    ~TI18nLock() {
        ready_ = false;
        DeleteCriticalSection(&cs_);
    }
    TI18nLock(const TI18nLock&) = delete;
    TI18nLock& operator=(const TI18nLock&) = delete;
    static bool Ready() { return ready_; }
    void Enter() { EnterCriticalSection(&cs_); }
    void Leave() { LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION cs_;
    static inline bool ready_ = false;  // constant-initialised, so valid before any constructor
};

TI18nLock g_lock;

class TLockGuard {
public:
    TLockGuard() { g_lock.Enter(); }
    ~TLockGuard() { g_lock.Leave(); }
    TLockGuard(const TLockGuard&) = delete;
    TLockGuard& operator=(const TLockGuard&) = delete;
};

class TFindHandle {
public:
    explicit TFindHandle(HANDLE h) : h_(h) {}
    ~TFindHandle() {
        if (Valid()) FindClose(h_);
    }
    TFindHandle(const TFindHandle&) = delete;
    TFindHandle& operator=(const TFindHandle&) = delete;
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return h_; }

private:
    HANDLE h_;
};

// What the catalogs must match, read before the lock is taken.
struct TWanted {
    std::u16string SettingsFile;
    std::u16string Language;
};

TWanted ReadWanted() {
    TWanted w;
    w.SettingsFile = SettingsPath();
    std::u16string theme;
    ReadGeneralSettings(w.Language, theme);
    return w;
}

// Caller holds the lock.
void EnsureCurrent(const std::u16string& moduleDir, const TWanted& wanted) {
    const std::u16string& settingsFile = wanted.SettingsFile;
    const std::u16string& language = wanted.Language;
    TI18nState& s = g_state;
    if (s.Loaded && s.ModuleDir == moduleDir && s.SettingsFile == settingsFile &&
        s.Language == language)
        return;
    s.Catalogs = BuildCatalogList(moduleDir);
    s.Active = FindCatalog(s.Catalogs, language);
    s.ModuleDir = moduleDir;
    s.SettingsFile = settingsFile;
    s.Language = language;
    s.Loaded = true;
}

const std::u16string& LibraryDirectory() {
    static const std::u16string dir = ModuleDirectory();
    return dir;
}

}  // namespace

TTable LoadCatalogFile(const std::u16string& path) {
    THandle file(CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return {};
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size)) return {};
    if (size.QuadPart < 1 || size.QuadPart > LONGLONG(kMaxCatalogBytes)) return {};
    std::string bytes(size_t(size.QuadPart), '\0');
    DWORD got = 0;
    if (!ReadFile(file.Get(), bytes.data(), DWORD(bytes.size()), &got, nullptr) ||
        got != bytes.size())
        return {};
    return ParseCatalog(bytes);
}

TCatalogList BuildCatalogList(const std::u16string& moduleDir) {
    TCatalogList list = InitialCatalogList();
    const std::u16string folder = moduleDir + std::u16string(kLanguagesFolder);
    WIN32_FIND_DATAW fd{};
    TFindHandle find(FindFirstFileW(W(folder + std::u16string(kCatalogPattern)), &fd));
    if (find.Valid()) {
        do {
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            const std::u16string name = U(fd.cFileName);
            const std::u16string code = CatalogCodeFromFileName(name);
            if (code.empty()) continue;
            TTable entries = LoadCatalogFile(folder + name);
            if (entries.empty()) continue;
            AddCatalog(list, code, std::move(entries));
        } while (FindNextFileW(find.Get(), &fd));
    }
    // English stays first whatever the names; the others go in code order.
    TCatalogList rest(std::make_move_iterator(list.begin() + 1),
                      std::make_move_iterator(list.end()));
    InsertionSortI(rest, [](const TCatalog& c) -> const std::u16string& { return c.Code; });
    list.resize(1);
    for (auto& c : rest) list.push_back(std::move(c));
    return list;
}

std::u16string TrIn(const std::u16string& moduleDir, std::string_view key,
                    std::u16string_view def) {
    if (!TI18nLock::Ready()) return std::u16string(def);
    const TWanted wanted = ReadWanted();
    TLockGuard lock;
    EnsureCurrent(moduleDir, wanted);
    // An empty value means "not translated" and falls through like a missing one.
    std::u16string_view text = LookupValue(g_state.Catalogs[g_state.Active].Entries, key);
    if (text.empty()) text = LookupValue(g_state.Catalogs[0].Entries, key);
    if (text.empty()) text = def;
    return std::u16string(text);
}

TLanguageList GetLanguagesIn(const std::u16string& moduleDir, bool reload) {
    if (!TI18nLock::Ready()) return {{std::u16string(kEnglishCode), std::u16string(kEnglishName)}};
    const TWanted wanted = ReadWanted();
    TLockGuard lock;
    if (reload) g_state.Loaded = false;
    EnsureCurrent(moduleDir, wanted);
    TLanguageList out;
    out.reserve(g_state.Catalogs.size());
    for (const auto& c : g_state.Catalogs) out.push_back({c.Code, c.Name});
    return out;
}

bool MatchesAnyTranslationIn(const std::u16string& moduleDir, std::string_view key,
                             std::u16string_view def, std::u16string_view text) {
    if (!TI18nLock::Ready()) return SameTextI(text, def);
    const TWanted wanted = ReadWanted();
    TLockGuard lock;
    EnsureCurrent(moduleDir, wanted);
    if (SameTextI(text, def)) return true;
    for (const auto& c : g_state.Catalogs) {
        const std::u16string_view value = LookupValue(c.Entries, key);
        if (!value.empty() && SameTextI(text, value)) return true;
    }
    return false;
}

std::u16string Tr(std::string_view key, std::u16string_view def) {
    return TrIn(LibraryDirectory(), key, def);
}

std::u16string TrFmt(std::string_view key, std::u16string_view def,
                     std::initializer_list<std::u16string_view> args) {
    return FormatPlaceholders(Tr(key, def),
                              std::span<const std::u16string_view>(args.begin(), args.size()));
}

std::u16string TrFmt(std::string_view key, std::u16string_view def,
                     const std::vector<std::u16string>& args) {
    const std::vector<std::u16string_view> views(args.begin(), args.end());
    return FormatPlaceholders(Tr(key, def), views);
}

TLanguageList GetLanguages(bool reload) { return GetLanguagesIn(LibraryDirectory(), reload); }

bool MatchesAnyTranslation(std::string_view key, std::u16string_view def,
                           std::u16string_view text) {
    return MatchesAnyTranslationIn(LibraryDirectory(), key, def, text);
}
