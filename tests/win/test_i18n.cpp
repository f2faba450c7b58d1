// Catalog loading, language selection and lookup against real files. Most
// tests give the catalogs a private folder (the folder-parameter functions);
// one goes through the public functions, which use the catalogs the build
// copies beside the module.
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/uWin.h"
#include "i18n/uI18n.h"
#include "i18n/uI18nImpl.h"
#include "settings/uSettings.h"
#include "wintest.h"

using kltest::TTempDir;

namespace {

const std::u16string kPlugin = u"Plugin";

std::string Narrow(std::u16string_view s) {
    std::string out;
    for (char16_t c : s) out += c < 128 ? char(c) : '?';
    return out;
}

// A private "library folder": settings file and languages\ inside a temp dir.
class CatalogFolder : public ::testing::Test {
protected:
    void SetUp() override {
        moduleDir_ = U(dir_.Path().c_str()) + u"\\";
        SetSettingsPath(moduleDir_ + u"kestrelink.ini");
    }
    void MakeLanguages() {
        ASSERT_TRUE(CreateDirectoryW(dir_.File(L"languages").c_str(), nullptr));
    }
    void Catalog(const std::wstring& name, const std::string& bytes) {
        ASSERT_TRUE(kltest::WriteFileBytes(dir_.File(L"languages\\" + name), bytes));
    }
    void SetLanguage(const std::u16string& code) { WriteString(kPlugin, u"Language", code); }

    std::u16string Tr(std::string_view key, std::u16string_view def) {
        return TrIn(moduleDir_, key, def);
    }
    TLanguageList Languages(bool reload = false) { return GetLanguagesIn(moduleDir_, reload); }
    std::string LanguageCodes(bool reload = false) {
        std::string out;
        for (const auto& l : Languages(reload)) out += (out.empty() ? "" : ",") + Narrow(l.Code);
        return out;
    }
    bool Matches(std::string_view key, std::u16string_view def, std::u16string_view text) {
        return MatchesAnyTranslationIn(moduleDir_, key, def, text);
    }

    TTempDir dir_;
    std::u16string moduleDir_;
};

}  // namespace

TEST_F(CatalogFolder, WithoutLanguagesFolderOnlyEnglishAndDefaults) {
    SetLanguage(u"de");
    const TLanguageList list = Languages(true);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].Code, u"en");
    EXPECT_EQ(list[0].Name, u"English");
    EXPECT_EQ(Tr("error.port", u"Port must be between 1 and 65535."),
              u"Port must be between 1 and 65535.");
    EXPECT_EQ(Tr("error.port", u""), u"");
    EXPECT_TRUE(Matches("manage.name", u"Manage connections\u2026", u"MANAGE CONNECTIONS\u2026"));
    EXPECT_FALSE(Matches("manage.name", u"Manage connections\u2026", u"Manage connections..."));

    // An empty folder is no different.
    MakeLanguages();
    EXPECT_EQ(LanguageCodes(true), "en");
}

TEST_F(CatalogFolder, WhichFilesBecomeCatalogs) {
    MakeLanguages();
    Catalog(L"de.ini", "[Strings]\nlanguage.name=Deutsch\nerror.port=X\n");
    Catalog(
        L"UK.INI",
        "\xEF\xBB\xBF[strings]\nlanguage.name=\xD0\xA3\xD0\xBA\nk=v\n");  // BOM, upper-case name
    Catalog(L"noname.ini", "[strings]\nk=v\n");
    Catalog(L"empty.ini", "");
    Catalog(L"nostrings.ini", "[other]\nk=v\n");
    Catalog(L"comments.ini", "[strings]\n; nothing here\n");
    Catalog(L"bad code.ini", "[strings]\nk=v\n");
    Catalog(L"readme.txt", "[strings]\nk=v\n");
    ASSERT_TRUE(CreateDirectoryW(dir_.File(L"languages\\dir.ini").c_str(), nullptr));

    // Size limit: exactly 1 MiB is read, one byte more is not.
    std::string atLimit = "[strings]\nlanguage.name=Limit\nk=v\n";
    atLimit += std::string(1048576 - atLimit.size() - 1, '#') + "\n";
    ASSERT_EQ(atLimit.size(), 1048576u);
    Catalog(L"limit.ini", atLimit);
    Catalog(L"toobig.ini", atLimit + "\n");

    const TLanguageList list = Languages(true);
    EXPECT_EQ(LanguageCodes(), "en,de,limit,noname,uk");
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[1].Name, u"Deutsch");
    EXPECT_EQ(list[2].Name, u"Limit");
    EXPECT_EQ(list[3].Name, u"noname") << "without language.name the code is the name";
    EXPECT_EQ(list[4].Name, u"\u0423\u043a");

    // A file for "en" refines English but keeps it first.
    Catalog(L"en.ini", "[strings]\nlanguage.name=English (UK)\n");
    Catalog(L"aa.ini", "[strings]\nk=v\n");
    EXPECT_EQ(LanguageCodes(true), "en,aa,de,limit,noname,uk");
    EXPECT_EQ(Languages()[0].Name, u"English (UK)");

    EXPECT_TRUE(LoadCatalogFile(moduleDir_ + u"languages\\missing.ini").empty());
}

TEST_F(CatalogFolder, LookupFallsBackFromActiveToEnglishToDefault) {
    MakeLanguages();
    Catalog(L"de.ini",
            "[Strings]\n"
            "error.port=X\n"
            "only.de=nur deutsch\n"
            "blank.de=\n");
    Catalog(L"en.ini", "[strings]\nblank.de=english value\nonly.en=english only\n");
    SetLanguage(u"de");
    EXPECT_EQ(Tr("error.port", u"Port must be between 1 and 65535."), u"X");
    EXPECT_EQ(Tr("only.de", u"d"), u"nur deutsch");
    EXPECT_EQ(Tr("blank.de", u"d"), u"english value") << "an empty translation falls through";
    EXPECT_EQ(Tr("only.en", u"d"), u"english only");
    EXPECT_EQ(Tr("absent", u"the default"), u"the default");
    EXPECT_EQ(Tr("ERROR.PORT", u"d"), u"d") << "keys match exactly";

    SetLanguage(u"en");
    EXPECT_EQ(Tr("error.port", u"default"), u"default");
    EXPECT_EQ(Tr("only.en", u"d"), u"english only");
}

TEST_F(CatalogFolder, LanguageSwitchTakesEffectAtTheNextLookup) {
    MakeLanguages();
    Catalog(L"de.ini", "[strings]\nhello=Hallo\n");
    Catalog(L"uk.ini", "[strings]\nhello=\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD1\x96\xD1\x82\n");
    SetLanguage(u"de");
    EXPECT_EQ(Tr("hello", u"Hello"), u"Hallo");
    SetLanguage(u"uk");
    EXPECT_EQ(Tr("hello", u"Hello"), u"\u041f\u0440\u0438\u0432\u0456\u0442");
    SetLanguage(u"  DE\t");
    EXPECT_EQ(Tr("hello", u"Hello"), u"Hallo") << "the setting is trimmed and lower-cased";
    SetLanguage(u"fr");
    EXPECT_EQ(Tr("hello", u"Hello"), u"Hello") << "a language without catalog selects English";
    SetLanguage(u"d\u00e9");
    EXPECT_EQ(Tr("hello", u"Hello"), u"Hello");

    // Another settings file is another setting.
    TTempDir other;
    const std::u16string otherIni = U(other.File(L"other.ini").c_str());
    SetSettingsPath(otherIni);
    WriteString(kPlugin, u"Language", u"uk");
    EXPECT_EQ(Tr("hello", u"Hello"), u"\u041f\u0440\u0438\u0432\u0456\u0442");
    SetSettingsPath(moduleDir_ + u"kestrelink.ini");
    EXPECT_EQ(Tr("hello", u"Hello"), u"Hello");
}

TEST_F(CatalogFolder, FilesAreReadAgainOnlyOnReloadOrSettingChange) {
    MakeLanguages();
    Catalog(L"de.ini", "[strings]\nhello=Hallo\n");
    SetLanguage(u"de");
    EXPECT_EQ(LanguageCodes(true), "en,de");
    Catalog(L"uk.ini", "[strings]\nhello=Pryvit\n");
    Catalog(L"de.ini", "[strings]\nhello=Servus\n");
    EXPECT_EQ(LanguageCodes(), "en,de") << "the list is kept until asked to reload";
    EXPECT_EQ(Tr("hello", u"Hello"), u"Hallo");
    EXPECT_EQ(LanguageCodes(true), "en,de,uk");
    EXPECT_EQ(Tr("hello", u"Hello"), u"Servus");
}

TEST_F(CatalogFolder, MatchesAnyTranslationIgnoresCaseAcrossAllCatalogs) {
    MakeLanguages();
    Catalog(L"de.ini", "[strings]\nmanage.name=Verbindungen verwalten\xE2\x80\xA6\nblank=\n");
    Catalog(L"uk.ini",
            "[strings]\nmanage.name="
            "\xD0\x9A\xD0\xB5\xD1\x80\xD1\x83\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8F\n");
    SetLanguage(u"en");
    const std::u16string def = u"Manage connections\u2026";
    EXPECT_TRUE(Matches("manage.name", def, u"manage connections\u2026"));
    EXPECT_TRUE(Matches("manage.name", def, u"VERBINDUNGEN VERWALTEN\u2026"))
        << "any catalog, not only the active one";
    EXPECT_TRUE(
        Matches("manage.name", def, u"\u041a\u0415\u0420\u0423\u0412\u0410\u041d\u041d\u042f"));
    EXPECT_FALSE(Matches("manage.name", def, u"Verbindungen"));
    EXPECT_FALSE(Matches("other.key", def, u"Verbindungen verwalten\u2026"));
    EXPECT_FALSE(Matches("blank", u"Default", u"")) << "an empty translation matches nothing";
    EXPECT_TRUE(Matches("blank", u"", u""));
    // An empty view without storage is empty text, not a failed comparison
    // (CompareStringW refuses null pointers; its 0 must not read as "equal").
    EXPECT_FALSE(Matches("manage.name", def, std::u16string_view()))
        << "empty text is no translation";
    EXPECT_FALSE(Matches("manage.name", std::u16string_view(), u"x"));
    EXPECT_TRUE(Matches("blank", std::u16string_view(), u""));
}

TEST(TextComparison, FailureIsNeverEquality) {
    const std::u16string_view none;  // data() is null
    EXPECT_FALSE(SameTextI(none, u"x"));
    EXPECT_FALSE(SameTextI(u"x", none));
    EXPECT_TRUE(SameTextI(none, u""));
    EXPECT_LT(CompareTextI(none, u"a"), 0);
    EXPECT_GT(CompareTextI(u"a", none), 0);
    EXPECT_TRUE(SameTextI(u"Abc", u"aBC"));
}

TEST_F(CatalogFolder, ConcurrentLookupsWhileTheLanguageChanges) {
    MakeLanguages();
    Catalog(L"de.ini", "[strings]\nhello=Hallo\n");
    Catalog(L"uk.ini", "[strings]\nhello=Pryvit\n");
    SetLanguage(u"de");
    std::atomic<bool> bad{false};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                const std::u16string s = Tr("hello", u"Hello");
                if (s != u"Hallo" && s != u"Pryvit" && s != u"Hello") bad = true;
                if (i % 50 == 0 && Languages(true).empty()) bad = true;
            }
        });
    for (int i = 0; i < 40; ++i) SetLanguage(i % 2 ? u"de" : u"uk");
    for (auto& r : readers) r.join();
    EXPECT_FALSE(bad.load());
}

// The public functions use the folder beside the module; in this test program
// that is the build folder, where the build copies the shipped catalogs.
TEST(I18nPublic, ShippedCatalogsBesideTheModule) {
    TTempDir dir;
    SetSettingsPath(U(dir.File(L"kestrelink.ini").c_str()));
    WriteString(kPlugin, u"Language", u"de");
    const std::u16string manage = u"Manage connections\u2026";
    EXPECT_EQ(Tr("manage.name", manage), u"Verbindungen verwalten\u2026");
    const std::u16string name = u"COM3", reason = u"Port nicht gefunden";
    EXPECT_EQ(TrFmt("status.disconnected_reason", u"{0} - disconnected ({1})", {name, reason}),
              u"COM3 - getrennt (Port nicht gefunden)");
    EXPECT_EQ(TrFmt("test.absent", u"{0}/{1}/{2}", std::vector<std::u16string>{u"a", u"b"}),
              u"a/b/{2}");
    EXPECT_EQ(TrFmt("test.absent", u"{0}", {}), u"{0}");

    const TLanguageList list = GetLanguages(true);
    ASSERT_GE(list.size(), 3u);
    EXPECT_EQ(list[0].Code, u"en");
    bool de = false, uk = false;
    for (const auto& l : list) {
        de = de || (l.Code == u"de" && l.Name == u"Deutsch");
        uk = uk || (l.Code == u"uk" &&
                    l.Name == u"\u0423\u043a\u0440\u0430\u0457\u043d\u0441\u044c\u043a\u0430");
    }
    EXPECT_TRUE(de && uk) << "languages\\de.ini and uk.ini must sit beside the module";

    EXPECT_TRUE(MatchesAnyTranslation(
        "manage.name", manage,
        u"\u041a\u0435\u0440\u0443\u0432\u0430\u043d\u043d\u044f "
        u"\u0437\u2019\u0454\u0434\u043d\u0430\u043d\u043d\u044f\u043c\u0438\u2026"));
    WriteString(kPlugin, u"Language", u"uk");
    EXPECT_EQ(Tr("error.serial_missing", u"Port not found"),
              u"\u041f\u043e\u0440\u0442 \u043d\u0435 "
              u"\u0437\u043d\u0430\u0439\u0434\u0435\u043d\u043e");
    WriteString(kPlugin, u"Language", u"en");
    EXPECT_EQ(Tr("manage.name", manage), manage);
}
