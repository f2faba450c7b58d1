// The Windows side of the catalogs, with the library's folder as a parameter:
// the public operations of uI18n.h pass ModuleDirectory(), the Windows tests
// pass a private folder of their own so that they do not depend on (or
// disturb) the catalogs beside the test program.
#pragma once

#include <string>
#include <string_view>

#include "i18n/uCatalog.h"
#include "i18n/uI18n.h"

// A catalog file's entries; empty when it cannot be opened or read in full,
// or is outside 1 byte .. 1 MiB.
TTable LoadCatalogFile(const std::u16string& path);
// "en" first, then every usable catalog in moduleDir + "languages\", sorted by code.
TCatalogList BuildCatalogList(const std::u16string& moduleDir);

std::u16string TrIn(const std::u16string& moduleDir, std::string_view key, std::u16string_view def);
TLanguageList GetLanguagesIn(const std::u16string& moduleDir, bool reload);
bool MatchesAnyTranslationIn(const std::u16string& moduleDir, std::string_view key, std::u16string_view def,
                             std::u16string_view text);
