// Localised user-visible text. Every string the user sees goes through Tr/TrFmt with a catalog key
// and its English default; the default is what shows when no catalog (or no entry) supplies one.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

struct TLanguageInfo {
    std::u16string Code;
    std::u16string Name;
};
using TLanguageList = std::vector<TLanguageInfo>;

std::u16string Tr(std::string_view key, std::u16string_view def);
std::u16string TrFmt(std::string_view key, std::u16string_view def, std::initializer_list<std::u16string_view> args);
std::u16string TrFmt(std::string_view key, std::u16string_view def, const std::vector<std::u16string>& args);
TLanguageList GetLanguages(bool reload);
bool MatchesAnyTranslation(std::string_view key, std::u16string_view def, std::u16string_view text);
