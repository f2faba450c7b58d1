// Language catalogs without the file system: the bytes of one catalog file
// become a table of (key, text) entries, and texts with "{n}" placeholders
// are filled in. The Windows side (uI18n.cpp) finds and reads the files,
// chooses the active language and guards the shared state.
//
// A catalog is a UTF-8 INI file; only the [strings] section counts (header in
// any letter case). Values may carry a trailing comment after a blank
// ("text  ; note"), may be wrapped in double quotes to keep "#" and ";", and
// understand \n (CR LF), \t, \\ and \". Repeated keys are all kept; the last
// one wins at lookup, so a later line overrides an earlier one.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct TEntry {
    std::string Key;  // UTF-8, compared byte for byte
    std::u16string Value;
};
using TTable = std::vector<TEntry>;

struct TCatalog {
    std::u16string Code;
    std::u16string Name;
    TTable Entries;
};
using TCatalogList = std::vector<TCatalog>;

// Catalog files outside 1 byte .. 1 MiB are left out unread.
constexpr size_t kMaxCatalogBytes = 1048576;
constexpr std::u16string_view kEnglishCode = u"en";
constexpr std::u16string_view kEnglishName = u"English";
constexpr std::string_view kLanguageNameKey = "language.name";

// Decodes UTF-8 (a leading BOM dropped, malformed bytes as U+FFFD) and parses.
TTable ParseCatalog(std::string_view bytes);
TTable ParseCatalogText(std::u16string_view text);

// The value text after the first "=": trimmed, trailing comment cut, one
// pair of enclosing quotes removed, escapes replaced.
std::u16string Unescape(std::u16string_view raw);
// Only the comment step of Unescape, on already trimmed text: the text before
// a "#" or ";" that follows a blank outside quotes, trimmed; else unchanged.
std::u16string StripTrailingComment(std::u16string_view text);

// The value of the last entry with exactly this key; empty when there is none.
std::u16string_view LookupValue(const TTable& table, std::string_view key);

// "{n}" becomes args[n]; anything else (no digits, no closing brace, an index
// past the arguments) stays as written.
std::u16string FormatPlaceholders(std::u16string_view tmpl, std::span<const std::u16string_view> args);

// The language code of a catalog file name ("DE.ini" -> "de"); empty when the
// name does not end in ".ini" or the rest is not a valid language code.
std::u16string CatalogCodeFromFileName(std::u16string_view fileName);

// Puts a loaded catalog into the list: replaces the entries of the catalog
// with that code (element 0 for "en") or appends a new one, and names it by
// its "language.name" entry.
void AddCatalog(TCatalogList& list, const std::u16string& code, TTable entries);
// The list every build starts from: just English, with no entries.
TCatalogList InitialCatalogList();
// Index of the catalog whose code equals the language exactly; 0 when none does.
size_t FindCatalog(const TCatalogList& list, std::u16string_view language);
