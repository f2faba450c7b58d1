// The catalogs we ship against the code that uses them: every key passed
// literally to Tr/TrFmt under src/ must be translated in every shipped
// catalog, with the same placeholders as its English default, and every
// shipped file must load as intended (no line lost, no text cut short by
// the comment rule).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "base/uText.h"
#include "i18n/uCatalog.h"

namespace fs = std::filesystem;

namespace {

struct TUse {
    std::string Key;
    std::string Default;  // the u"..." literal as written; empty when not a plain literal
    bool HasDefault = false;
    std::string Where;
};

fs::path SourceRoot() {
    if (const char* env = std::getenv("KL_SOURCE_DIR")) return env;
    return fs::path(__FILE__).parent_path().parent_path().parent_path();
}

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Tr("key", u"default" / TrFmt("key", u"default", across line breaks too.
std::vector<TUse> ScanUses(const std::string& text, const std::string& where) {
    static const std::regex call(
        R"re((?:^|[^A-Za-z0-9_])(?:Tr|TrFmt)\s*\(\s*"([^"\\]*)"(\s*,\s*u"((?:[^"\\]|\\.)*)"\s*[,)])?)re");
    std::vector<TUse> uses;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), call);
         it != std::sregex_iterator(); ++it) {
        const auto& m = *it;
        const size_t line =
            size_t(std::count(text.begin(), text.begin() + m.position(0), '\n')) + 1;
        uses.push_back({m[1].str(), m[3].str(), m[2].matched, where + ":" + std::to_string(line)});
    }
    return uses;
}

std::set<std::string> Placeholders(const std::string& utf8) {
    static const std::regex ph(R"(\{[0-9]+\})");
    std::set<std::string> out;
    for (auto it = std::sregex_iterator(utf8.begin(), utf8.end(), ph); it != std::sregex_iterator();
         ++it)
        out.insert(it->str());
    return out;
}

std::vector<TUse> ScanSourceTree() {
    std::vector<TUse> uses;
    for (const auto& e : fs::recursive_directory_iterator(SourceRoot() / "src")) {
        const auto ext = e.path().extension();
        if (!e.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
        auto found =
            ScanUses(ReadAll(e.path()), fs::relative(e.path(), SourceRoot()).generic_string());
        uses.insert(uses.end(), found.begin(), found.end());
    }
    return uses;
}

std::map<std::string, TTable> ShippedCatalogs() {
    std::map<std::string, TTable> out;
    for (const auto& e : fs::directory_iterator(SourceRoot() / "languages"))
        if (e.is_regular_file() && e.path().extension() == ".ini")
            out[e.path().filename().string()] = ParseCatalog(ReadAll(e.path()));
    return out;
}

}  // namespace

TEST(CatalogKeys, ScannerFindsCallsAsWritten) {
    const auto uses = ScanUses(
        "x = Tr(\"error.port\", u\"Port must be between 1 and 65535.\");\n"
        "y = TrFmt(\n    \"status.error\",\n    u\"Error {0}: {1}\", {code, text});\n"
        "z = TrFmt(\"confirm.delete\", u\"Delete connection \\\"{0}\\\"?\", {name});\n"
        "w = Tr(\"hex.offset\", kOffsetDefault);\n"
        "MyTr(\"not.a.call\", u\"x\"); Tr(key, u\"variable key\");\n",
        "sample");
    ASSERT_EQ(uses.size(), 4u);
    EXPECT_EQ(uses[0].Key, "error.port");
    EXPECT_EQ(uses[1].Key, "status.error");
    EXPECT_EQ(uses[1].Default, "Error {0}: {1}");
    EXPECT_EQ(uses[1].Where, "sample:2");
    EXPECT_EQ(uses[2].Default, "Delete connection \\\"{0}\\\"?");
    EXPECT_EQ(Placeholders(uses[2].Default), std::set<std::string>{"{0}"});
    EXPECT_EQ(uses[3].Key, "hex.offset");
    EXPECT_FALSE(uses[3].HasDefault);
}

TEST(CatalogKeys, ShippedCatalogsLoadCompletely) {
    const auto catalogs = ShippedCatalogs();
    ASSERT_GE(catalogs.size(), 2u) << "languages/ must hold the German and Ukrainian catalogs";
    ASSERT_TRUE(catalogs.count("de.ini"));
    ASSERT_TRUE(catalogs.count("uk.ini"));
    EXPECT_EQ(LookupValue(catalogs.at("de.ini"), "language.name"), u"Deutsch");
    EXPECT_EQ(LookupValue(catalogs.at("uk.ini"), "language.name"), u"Українська");
    // The virtual folder recognises its manage entry by these exact texts.
    EXPECT_EQ(LookupValue(catalogs.at("de.ini"), "manage.name"), u"Verbindungen verwalten\u2026");
    EXPECT_EQ(LookupValue(catalogs.at("uk.ini"), "manage.name"),
              u"Керування з\u2019єднаннями\u2026");

    std::set<std::string> firstKeys;
    std::string firstName;
    for (const auto& [name, table] : catalogs) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(CatalogCodeFromFileName(Utf8ToUtf16(name)).empty())
            << "file name is not a language code";
        EXPECT_FALSE(LookupValue(table, "language.name").empty());

        // Every key line must become an entry (so it sits in [Strings]), keys
        // must be unique (a repeat silently overrides), and no text may be cut
        // by the comment rule ("as #RRGGBB" must be quoted).
        const std::u16string text = Utf8ToUtf16(ReadAll(SourceRoot() / "languages" / name));
        size_t keyLines = 0, lineNo = 0, pos = 0;
        while (pos <= text.size()) {
            const size_t lf = std::min(text.find(u'\n', pos), text.size());
            const std::u16string line = Trim(std::u16string_view(text).substr(pos, lf - pos));
            pos = lf + 1;
            ++lineNo;
            if (line.empty() || line[0] == u'#' || line[0] == u';' || line[0] == u'[') continue;
            const size_t eq = line.find(u'=');
            if (eq == std::u16string::npos || eq == 0) {
                ADD_FAILURE() << "line " << lineNo << " is neither comment, header nor entry";
                continue;
            }
            ++keyLines;
            const std::u16string value = Trim(std::u16string_view(line).substr(eq + 1));
            EXPECT_EQ(StripTrailingComment(value), value)
                << "line " << lineNo << ": text cut at a comment marker";
            EXPECT_FALSE(Unescape(value).empty()) << "line " << lineNo << ": empty text";
        }
        EXPECT_EQ(table.size(), keyLines) << "some entry lines are outside [Strings]";

        std::set<std::string> keys;
        for (const auto& e : table)
            EXPECT_TRUE(keys.insert(e.Key).second) << "repeated key " << e.Key;
        if (firstName.empty()) {
            firstName = name;
            firstKeys = keys;
        } else {
            EXPECT_EQ(keys, firstKeys) << "key sets differ from " << firstName;
        }
    }
}

TEST(CatalogKeys, EveryKeyInTheCodeIsTranslated) {
    const auto catalogs = ShippedCatalogs();
    ASSERT_FALSE(catalogs.empty());
    const auto uses = ScanSourceTree();
    std::map<std::string, std::string> defaults;  // placeholders must agree across call sites too
    for (const auto& use : uses) {
        SCOPED_TRACE(use.Where);
        EXPECT_TRUE(std::regex_match(use.Key, std::regex(R"([a-z0-9_]+(\.[a-z0-9_]+)+)")))
            << "catalog keys are lower-case dotted paths: " << use.Key;
        for (const auto& [name, table] : catalogs) {
            const std::u16string_view value = LookupValue(table, use.Key);
            EXPECT_FALSE(value.empty()) << name << " lacks \"" << use.Key << "\"";
            if (use.HasDefault && !value.empty()) {
                EXPECT_EQ(Placeholders(Utf16ToUtf8(value)), Placeholders(use.Default))
                    << name << ": placeholders of \"" << use.Key
                    << "\" differ from the English default";
            }
        }
        if (use.HasDefault) {
            auto [it, fresh] = defaults.emplace(use.Key, use.Default);
            EXPECT_TRUE(fresh || Placeholders(it->second) == Placeholders(use.Default))
                << "\"" << use.Key << "\" is used with different placeholders";
        }
    }
}
