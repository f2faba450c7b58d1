// The catalog file format and the placeholder filler, without the file system.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/uText.h"
#include "i18n/uCatalog.h"

namespace {

std::string Narrow(std::u16string_view s) { return Utf16ToUtf8(s); }

std::u16string Fmt(std::u16string_view tmpl, std::vector<std::u16string_view> args) {
    return FormatPlaceholders(tmpl, args);
}

}  // namespace

TEST(Catalog, OnlyTheStringsSectionCountsInAnyLetterCase) {
    const TTable t = ParseCatalog(
        "before=ignored, no section yet\n"
        "[Meta]\n"
        "meta.key=ignored, other section\n"
        "[Strings]\n"
        "a=1\n"
        "[ strings ]\n"  // not trimmed: a different section
        "b=ignored\n"
        "[STRINGS] trailing text\n"
        "c=3\n"
        "[broken header\n"  // no "]": ignored, the section goes on
        "d=4\n"
        "[]\n"
        "e=ignored\n");
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].Key, "a");
    EXPECT_EQ(t[1].Key, "c");
    EXPECT_EQ(t[2].Key, "d");
    EXPECT_EQ(t[2].Value, u"4");
}

TEST(Catalog, LineRules) {
    const TTable t = ParseCatalog(
        "\xEF\xBB\xBF[strings]\r\n"  // BOM and CR LF line ends
        "# comment\r\n"
        "  ; indented comment\r\n"
        "\t  key.one  =  value one  \r\n"
        "=no key\n"
        "no equals sign\n"
        "   \n"
        "key.two=a=b\n"  // only the first "=" splits
        "k\xC3\xA9y=utf8 key\n"
        "empty=\n"
        "last=no final line break");
    ASSERT_EQ(t.size(), 5u) << "BOM, comments, keyless and blank lines must be skipped";
    EXPECT_EQ(t[0].Key, "key.one");
    EXPECT_EQ(t[0].Value, u"value one");
    EXPECT_EQ(t[1].Key, "key.two");
    EXPECT_EQ(t[1].Value, u"a=b");
    EXPECT_EQ(t[2].Key, "k\xC3\xA9y");
    EXPECT_EQ(t[3].Key, "empty");
    EXPECT_EQ(t[3].Value, u"");
    EXPECT_EQ(t[4].Value, u"no final line break");

    // A BOM only counts at the very start; malformed UTF-8 does not stop the parse.
    const TTable bad = ParseCatalog("[strings]\nx=\xFF\xC3\nz=\xE2\x80\xA6\n");
    ASSERT_EQ(bad.size(), 2u);
    EXPECT_EQ(bad[0].Value, u"\uFFFD\uFFFD");
    EXPECT_EQ(bad[1].Value, u"\u2026");
    EXPECT_TRUE(ParseCatalog("").empty());
    EXPECT_TRUE(ParseCatalog("[strings]").empty());
    EXPECT_TRUE(ParseCatalog("a=1\nb=2\n").empty()) << "entries outside [strings] must not count";
}

TEST(Catalog, RepeatedKeysAreKeptAndTheLastWins) {
    const TTable t = ParseCatalog("[strings]\nk=first\nother=x\nk=second\nK=case differs\nk=\n");
    EXPECT_EQ(t.size(), 5u);
    // The last entry is empty: lookup reports it as empty, callers fall through.
    EXPECT_EQ(LookupValue(t, "k"), u"");
    const TTable u = ParseCatalog("[strings]\nk=first\nk=second\n");
    EXPECT_EQ(LookupValue(u, "k"), u"second");
    EXPECT_EQ(LookupValue(t, "K"), u"case differs");
    EXPECT_EQ(LookupValue(t, "missing"), u"");
    EXPECT_EQ(LookupValue(t, "k "), u"");
}

TEST(Catalog, EscapesAndQuotes) {
    EXPECT_EQ(Unescape(u"a\\nb"), u"a\r\nb");
    EXPECT_EQ(Unescape(u"a\\tb\\\\c\\\"d"), u"a\tb\\c\"d");
    EXPECT_EQ(Unescape(u"C:\\dir"), u"C:\\dir") << "an unknown escape keeps its backslash";
    EXPECT_EQ(Unescape(u"end\\"), u"end\\") << "a final backslash stays";
    EXPECT_EQ(Unescape(u"\\\\n"), u"\\n") << "escapes are read left to right";
    EXPECT_EQ(Unescape(u"  \"  padded  \"  "), u"  padded  ");
    EXPECT_EQ(Unescape(u"\""), u"\"") << "a lone quote is not a pair";
    EXPECT_EQ(Unescape(u"\"\""), u"");
    EXPECT_EQ(Unescape(u"\"a\" and \"b\""), u"a\" and \"b") << "only the outer pair goes";
    EXPECT_EQ(Unescape(u"\"tab\\there\""), u"tab\there");
}

TEST(Catalog, CommentsInsideAndOutsideQuotes) {
    EXPECT_EQ(Unescape(u"x ; y"), u"x");
    EXPECT_EQ(Unescape(u"x\t# y"), u"x");
    EXPECT_EQ(Unescape(u"\"x ; y\""), u"x ; y");
    EXPECT_EQ(Unescape(u"\"x\" ; y"), u"x");
    EXPECT_EQ(Unescape(u"a;b#c"), u"a;b#c") << "a marker right after text is text";
    EXPECT_EQ(Unescape(u"; whole"), u"; whole") << "a marker at the start is text";
    EXPECT_EQ(Unescape(u"#RRGGBB"), u"#RRGGBB");
    EXPECT_EQ(Unescape(u"use #RRGGBB"), u"use");
    EXPECT_EQ(Unescape(u"\"use #RRGGBB\""), u"use #RRGGBB");
    EXPECT_EQ(Unescape(u"q\\\" ; cut"), u"q\"") << "an escaped quote must not open quoting";
    EXPECT_EQ(Unescape(u"\"open ; kept"), u"\"open ; kept") << "an unclosed quote runs to the end";

    const TTable t = ParseCatalog("[strings]\nc1=x ; y\nc2=\"x ; y\"\nc3=a\\nb\n");
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].Value, u"x");
    EXPECT_EQ(t[1].Value, u"x ; y");
    EXPECT_EQ(t[2].Value, u"a\r\nb");
}

TEST(Catalog, Placeholders) {
    EXPECT_EQ(Fmt(u"{0} - disconnected ({1})", {u"COM3", u"Port not found"}),
              u"COM3 - disconnected (Port not found)");
    EXPECT_EQ(Fmt(u"{1}{0}{1}", {u"a", u"b"}), u"bab") << "any order, repeated";
    EXPECT_EQ(Fmt(u"{0} {2}", {u"a", u"b"}), u"a {2}") << "an index without argument stays";
    EXPECT_EQ(Fmt(u"{0}", {}), u"{0}");
    EXPECT_EQ(Fmt(u"{00}{01}", {u"a", u"b"}), u"ab") << "leading zeros are still decimal";
    EXPECT_EQ(Fmt(u"{} {x} {0 } {-1} { 0}", {u"a"}), u"{} {x} {0 } {-1} { 0}");
    EXPECT_EQ(Fmt(u"{{0}}", {u"a"}), u"{a}");
    EXPECT_EQ(Fmt(u"tail {0", {u"a"}), u"tail {0");
    EXPECT_EQ(Fmt(u"{0}", {u"{1}", u"x"}), u"{1}") << "arguments are inserted, never expanded";
    // Indices that overflow any integer type must not wrap onto a real argument.
    EXPECT_EQ(Fmt(u"{18446744073709551616}", {u"a"}), u"{18446744073709551616}");
    EXPECT_EQ(Fmt(u"{10}", {u"0", u"1", u"2", u"3", u"4", u"5", u"6", u"7", u"8", u"9", u"ten"}),
              u"ten");
}

TEST(Catalog, FileNamesToCodes) {
    EXPECT_EQ(CatalogCodeFromFileName(u"de.ini"), u"de");
    EXPECT_EQ(CatalogCodeFromFileName(u"PT_br.INI"), u"pt_br");
    EXPECT_EQ(CatalogCodeFromFileName(u"sr-Latn.ini"), u"sr-latn");
    for (const char16_t* bad :
         {u".ini", u"de.ini.bak", u"de.txt", u"a b.ini", u"d\u00e9.ini", u"de.old.ini", u"ini"})
        EXPECT_EQ(CatalogCodeFromFileName(bad), u"") << Narrow(bad);
    EXPECT_EQ(CatalogCodeFromFileName(std::u16string(63, u'x') + u".ini").size(), 63u);
    EXPECT_EQ(CatalogCodeFromFileName(std::u16string(64, u'x') + u".ini"), u"");
}

TEST(Catalog, ListStartsWithEnglishAndNamesCatalogs) {
    TCatalogList list = InitialCatalogList();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].Code, u"en");
    EXPECT_EQ(list[0].Name, u"English");

    AddCatalog(list, u"de", ParseCatalog("[strings]\nlanguage.name=  Deutsch \nk=v\n"));
    AddCatalog(list, u"xx", ParseCatalog("[strings]\nk=v\n"));
    AddCatalog(list, u"en", ParseCatalog("[strings]\nk=english\n"));
    AddCatalog(list, u"de", ParseCatalog("[strings]\nlanguage.name=\"Deutsch (neu)\"\nk=neu\n"));
    ASSERT_EQ(list.size(), 3u) << "an en file and a second de file must replace, not append";
    EXPECT_EQ(list[0].Name, u"English");
    EXPECT_EQ(LookupValue(list[0].Entries, "k"), u"english");
    EXPECT_EQ(list[1].Name, u"Deutsch (neu)");
    EXPECT_EQ(LookupValue(list[1].Entries, "k"), u"neu");
    EXPECT_EQ(list[2].Name, u"xx") << "without language.name the code is the name";

    EXPECT_EQ(FindCatalog(list, u"de"), 1u);
    EXPECT_EQ(FindCatalog(list, u"xx"), 2u);
    EXPECT_EQ(FindCatalog(list, u"DE"), 0u) << "the setting is already lower case; match exactly";
    EXPECT_EQ(FindCatalog(list, u"fr"), 0u);
}
