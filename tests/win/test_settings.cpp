// The settings store against real private-profile INI files in a temp folder.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/uText.h"
#include "base/uWin.h"
#include "plugin/uFolder.h"
#include "settings/uSettings.h"
#include "wintest.h"

using kltest::TTempDir;

// The path is cached for the process and other tests replace it, some of them
// linked into the same program and run first: taken before any test runs.
const std::u16string kFirstSettingsPath = SettingsPath();

TEST(Settings, DefaultPathIsBesideTheModule) {
    // In a test program the module holding this code is the program itself;
    // in the host it is the DLL (checked through the exports elsewhere).
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::u16string expect = U(exe);
    expect = expect.substr(0, expect.rfind(u'\\') + 1) + u"kestrelink.ini";
    EXPECT_EQ(kFirstSettingsPath, expect);
    SetSettingsPath(u"C:\\Tools\\other.ini");
    EXPECT_EQ(SettingsPath(), u"C:\\Tools\\other.ini");
}

namespace {

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        ini_ = dir_.File(L"kestrelink.ini");
        SetSettingsPath(U(ini_.c_str()));
    }
    void Write(const std::string& content) { ASSERT_TRUE(kltest::WriteFileBytes(ini_, content)); }
    // The file as text: UTF-16LE (with its mark) comes back as UTF-8, ANSI as stored.
    std::string Content() const {
        const std::string bytes = kltest::ReadFileBytes(ini_);
        if (!IsUtf16()) return bytes;
        return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(bytes.data() + 2),
                                               (bytes.size() - 2) / 2));
    }
    bool IsUtf16() const { return kltest::ReadFileBytes(ini_).starts_with("\xFF\xFE"); }
    size_t FilesInFolder() const {
        size_t n = 0;
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((dir_.Path() + L"\\*").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) return 0;
        do n += !(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        while (FindNextFileW(h, &fd));
        FindClose(h);
        return n;
    }
    // The key=value lines of one section, in file order.
    std::vector<std::string> SectionLines(const std::string& section) const {
        std::vector<std::string> lines;
        const std::string text = Content();
        bool inside = false;
        for (size_t pos = 0; pos < text.size();) {
            size_t end = text.find('\n', pos);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(pos, end - pos);
            pos = end + 1;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty() && line[0] == '[')
                inside = line == "[" + section + "]";
            else if (inside && !line.empty())
                lines.push_back(line);
        }
        return lines;
    }

    TTempDir dir_;
    std::wstring ini_;
};

}  // namespace

TEST_F(SettingsFile, MissingFileGivesDefaults) {
    EXPECT_EQ(LoadSessionSettings(u"Port:COM1"), DefaultSessionSettings());
    EXPECT_EQ(LoadSessionSettings(u"Port:COM1").HistoryLines, 10000);
    EXPECT_EQ(GlobalHistoryLines(), 10000);
    std::u16string lang, theme, face;
    ReadGeneralSettings(lang, theme);
    EXPECT_EQ(lang, u"en");
    EXPECT_EQ(theme, u"auto");
    int32_t size = 0;
    ReadFontSettings(face, size);
    EXPECT_EQ(face, u"Consolas");
    EXPECT_EQ(size, 10);
    TColorRef bg = 0, fg = 0;
    int32_t hex = 0;
    ReadAppearance(bg, fg, hex);
    EXPECT_EQ(bg, 0x0C0C0Cu);
    EXPECT_EQ(fg, 0xCCCCCCu);
    EXPECT_EQ(hex, 24);
    EXPECT_TRUE(ListConnections().empty());
    const auto wp = ReadWindowPlacement();
    EXPECT_EQ(wp.Left, 100);
    EXPECT_EQ(wp.Width, 960);
    EXPECT_FALSE(wp.Valid);
    EXPECT_FALSE(kltest::FileExists(ini_));  // reads never create the file
}

TEST_F(SettingsFile, SessionReadRulesAndGlobalHistoryDefault) {
    Write(
        "[Plugin]\r\nHistoryLines=50\r\n[Port:COM1]\r\nBaud=49\r\nDataBits=9\r\nTxNewline=7\r\n"
        "[port:com2]\r\nBaud=12000000\r\nDTR=7\r\nAnsiColors=0\r\nHistoryLines=250\r\n");
    auto s = LoadSessionSettings(u"Port:COM1");
    EXPECT_EQ(s.Baud, 115200);
    EXPECT_EQ(s.DataBits, 8);
    EXPECT_EQ(s.TxNewline, 3);
    EXPECT_EQ(s.HistoryLines, 100);         // the global 50, clamped
    s = LoadSessionSettings(u"Port:COM2");  // sections match without regard to case
    EXPECT_EQ(s.Baud, 12000000);
    EXPECT_TRUE(s.DTR);  // any non-zero value is true
    EXPECT_FALSE(s.AnsiColors);
    EXPECT_EQ(s.HistoryLines, 250);
    Write("[Plugin]\r\nHistoryLines=500000\r\n");
    EXPECT_EQ(LoadSessionSettings(u"Port:COM1").HistoryLines, 100000);
    EXPECT_EQ(GlobalHistoryLines(), 100000);
}

TEST_F(SettingsFile, SessionRoundTripWritesTheKeysInTableOrder) {
    TSessionSettings s;
    s.Baud = 9600;
    s.DataBits = 7;
    s.StopBits = 2;
    s.Parity = 2;
    s.Flow = 1;
    s.DTR = true;
    s.ViewHex = true;
    s.AnsiColors = false;
    s.Charset = 1;
    s.RxNewline = 2;
    s.TxNewline = 0;
    s.LocalEcho = true;
    s.Timestamps = true;
    s.Log = true;
    s.ConnectOnOpen = false;
    s.HistoryOn = false;
    s.HistoryLines = 777;
    SaveSessionSettings(u"Port:COM5", s);
    EXPECT_EQ(LoadSessionSettings(u"Port:COM5"), s);
    const std::vector<std::string> all = {
        "Baud=9600",    "DataBits=7",      "StopBits=2",  "Parity=2",        "Flow=1",
        "DTR=1",        "RTS=0",           "ViewHex=1",   "AnsiColors=0",    "Charset=1",
        "RxNewline=2",  "TxNewline=0",     "LocalEcho=1", "Autoscroll=1",    "AutoReconnect=0",
        "Timestamps=1", "Log=1",           "SendMode=0",  "ConnectOnOpen=0", "ConnectInQuickView=0",
        "HistoryOn=0",  "HistoryLines=777"};
    EXPECT_EQ(SectionLines("Port:COM5"), all) << "the 22 keys, each once, in table order";

    // the toolbar save writes the first 18 keys, in the same order
    SaveTerminalSettings(u"Port:COM7", s);
    EXPECT_EQ(SectionLines("Port:COM7"), std::vector<std::string>(all.begin(), all.begin() + 18));

    // and leaves the others alone
    TSessionSettings t = s;
    t.Baud = 19200;
    t.HistoryLines = 5000;
    t.ConnectOnOpen = true;
    SaveTerminalSettings(u"Port:COM5", t);
    const auto back = LoadSessionSettings(u"Port:COM5");
    EXPECT_EQ(back.Baud, 19200);
    EXPECT_EQ(back.HistoryLines, 777);
    EXPECT_FALSE(back.ConnectOnOpen);

    // writes store values unchanged; only reads correct them
    TSessionSettings bad;
    bad.Baud = 1;
    SaveSessionSettings(u"Port:COM6", bad);
    EXPECT_NE(Content().find("Baud=1\r\n"), std::string::npos);
    EXPECT_EQ(LoadSessionSettings(u"Port:COM6").Baud, 115200);
}

TEST_F(SettingsFile, ConnectionsListLoadSaveDelete) {
    Write(
        "[Conn:b]\r\nHost=hb\r\n[conn:A]\r\nHost=ha\r\nPort=2323\r\nMode=5\r\n[Conn:]\r\nHost=x\r\n"
        "[Connection]\r\nHost=y\r\n[Conn:nohost]\r\nPort=1\r\nMode=0\r\n");
    EXPECT_EQ(ListConnections(), (TNameArray{u"A", u"b", u"nohost"}));
    TConnInfo c;
    ASSERT_TRUE(LoadConnection(u"A", c));
    EXPECT_EQ(c.Name, u"A");
    EXPECT_EQ(c.Host, u"ha");
    EXPECT_EQ(c.Port, 2323);
    EXPECT_EQ(c.Mode, 1);                        // 5 reads as 1
    EXPECT_FALSE(LoadConnection(u"nohost", c));  // no Host: does not exist
    EXPECT_FALSE(LoadConnection(u"missing", c));
    EXPECT_EQ(c.Port, 23);
    EXPECT_EQ(c.Mode, 1);

    SaveConnection({u"router", u"10.0.0.1", 2323, 0});
    SaveSessionSettings(u"Conn:router", TSessionSettings{});
    ASSERT_TRUE(LoadConnection(u"router", c));
    EXPECT_EQ(c, (TConnInfo{u"router", u"10.0.0.1", 2323, 0}));
    EXPECT_TRUE(DeleteConnection(u"router"));  // the whole section, session keys included
    EXPECT_FALSE(LoadConnection(u"router", c));
    EXPECT_EQ(Content().find("router"), std::string::npos);
    EXPECT_EQ(Content().find("Baud"), std::string::npos);
    EXPECT_TRUE(DeleteConnection(u"router"));  // deleting again is harmless
}

TEST_F(SettingsFile, ListConnectionsSortIsStableAndCaseInsensitive) {
    Write(
        "[Conn:beta]\r\nHost=1\r\n[Conn:Alpha]\r\nHost=1\r\n[Conn:gamma]\r\nHost=1\r\n"
        "[Conn:alpha2]\r\nHost=1\r\n[Conn:ALPHA]\r\nHost=1\r\n");
    // Alpha and ALPHA compare equal: they keep their file order
    EXPECT_EQ(ListConnections(), (TNameArray{u"Alpha", u"ALPHA", u"alpha2", u"beta", u"gamma"}));
}

TEST_F(SettingsFile, GeneralSettingsReadRulesAndWrites) {
    Write("[Plugin]\r\nTheme= Dark \r\nLanguage=de_AT\r\n");
    std::u16string lang, theme;
    ReadGeneralSettings(lang, theme);
    EXPECT_EQ(theme, u"dark");
    EXPECT_EQ(lang, u"de_at");
    Write("[Plugin]\r\nTheme=blue\r\nLanguage=\xC3\xA9\r\n");
    ReadGeneralSettings(lang, theme);
    EXPECT_EQ(theme, u"auto");
    EXPECT_EQ(lang, u"en");

    EXPECT_FALSE(WriteGeneralSettings(u"de at", u"dark"));
    EXPECT_FALSE(WriteGeneralSettings(u"de", u"Dark"));  // the theme must be exact
    EXPECT_TRUE(WriteGeneralSettings(u"UK", u"light"));
    ReadGeneralSettings(lang, theme);
    EXPECT_EQ(lang, u"uk");
    EXPECT_EQ(theme, u"light");
}

TEST_F(SettingsFile, FontAndAppearanceWrites) {
    EXPECT_FALSE(WriteFontSettings(std::u16string(32, u'F'), 10));
    EXPECT_FALSE(WriteFontSettings(u"  ", 10));
    EXPECT_FALSE(WriteFontSettings(u"Consolas", 5));
    EXPECT_FALSE(kltest::FileExists(ini_));  // nothing written
    EXPECT_TRUE(WriteFontSettings(u" Lucida Console ", 12));
    std::u16string face;
    int32_t size = 0;
    ReadFontSettings(face, size);
    EXPECT_EQ(face, u"Lucida Console");
    EXPECT_EQ(size, 12);

    EXPECT_FALSE(WriteAppearance(0x1000000, 0, 24));
    EXPECT_FALSE(WriteAppearance(0, 0, 65));
    EXPECT_TRUE(WriteAppearance(0x3FAB12, 0x00FF00, 16));
    EXPECT_NE(Content().find("TerminalBackground=#12AB3F"), std::string::npos);
    TColorRef bg = 0, fg = 0;
    int32_t hex = 0;
    ReadAppearance(bg, fg, hex);
    EXPECT_EQ(bg, 0x3FAB12u);
    EXPECT_EQ(fg, 0x00FF00u);
    EXPECT_EQ(hex, 16);

    Write(
        "[Plugin]\r\nTerminalBackground=#12ab3\r\nTerminalTextColor=12ab3F0\r\nHexBytesPerLine="
        "0\r\n"
        "TerminalFontName=\r\nTerminalFontSize=99\r\n");
    ReadAppearance(bg, fg, hex);
    EXPECT_EQ(bg, 0x0C0C0Cu);
    EXPECT_EQ(fg, 0xCCCCCCu);
    EXPECT_EQ(hex, 24);
    ReadFontSettings(face, size);
    EXPECT_EQ(face, u"Consolas");
    EXPECT_EQ(size, 10);
}

TEST_F(SettingsFile, WindowPlacement) {
    WriteWindowPlacement(-5000, 50, 1000, 700);
    auto p = ReadWindowPlacement();
    EXPECT_TRUE(p.Valid);
    EXPECT_EQ(p.Left, 100);  // off every screen
    EXPECT_EQ(p.Top, 50);
    EXPECT_EQ(p.Width, 1000);
    EXPECT_EQ(p.Height, 700);
    WriteWindowPlacement(10, 20, 1000, 300);
    p = ReadWindowPlacement();
    EXPECT_EQ(p.Left, 10);
    EXPECT_EQ(p.Width, 960);
    EXPECT_EQ(p.Height, 620);
}

TEST_F(SettingsFile, StringsAreCutAt1023AndKeepUnicode) {
    WriteString(u"Conn:\u00e9t\u00e9", u"Host", u"h\u00f4te-\u20ac");
    EXPECT_EQ(ReadString(u"Conn:\u00e9t\u00e9", u"Host", u""), u"h\u00f4te-\u20ac");
    WriteString(u"Plugin", u"Long", std::u16string(3000, u'x'));
    EXPECT_EQ(ReadString(u"Plugin", u"Long", u""), std::u16string(1023, u'x'));
    WriteInt(u"Plugin", u"Neg", -42);
    EXPECT_EQ(ReadInt(u"Plugin", u"Neg", 0), -42);
    EXPECT_EQ(ReadString(u"Plugin", u"Neg", u""), u"-42");
    EXPECT_TRUE(ReadBool(u"Plugin", u"Missing", true));
    EXPECT_FALSE(ReadBool(u"Plugin", u"Missing", false));
}

TEST_F(SettingsFile, WritesToAReadOnlyFileReportFailure) {
    // prepared by the test environment: read-only for every user, root included
    const char* ro = std::getenv("KL_READONLY_INI");
    ASSERT_NE(ro, nullptr) << "run through tools/wine-env.sh";
    const std::wstring path = kltest::WinPath(ro);
    ASSERT_TRUE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY);
    const std::string before = kltest::ReadFileBytes(path);
    SetSettingsPath(U(path.c_str()));
    EXPECT_FALSE(WriteGeneralSettings(u"de", u"light"));
    EXPECT_FALSE(WriteFontSettings(u"Courier New", 11));
    EXPECT_FALSE(WriteAppearance(0, 0, 8));
    // a name the ANSI file cannot hold: no conversion is possible, none is claimed
    EXPECT_FALSE(WriteFontSettings(u"\u5fae\u8f6f\u96c5\u9ed1", 10));
    WriteWindowPlacement(1, 2, 800, 600);  // reports nothing, must not crash
    SaveSessionSettings(u"Port:COM1", TSessionSettings{});
    // a deletion that cannot reach the file is not reported as done
    EXPECT_FALSE(DeleteConnection(u"ro"));
    EXPECT_TRUE(DeleteConnection(u"gone"));  // nothing to remove: done, even here
    EXPECT_FALSE(DeleteEntry(u"\\TCP - ro"));
    TConnInfo kept;
    EXPECT_TRUE(LoadConnection(u"ro", kept));
    std::u16string lang, theme;
    ReadGeneralSettings(lang, theme);
    EXPECT_EQ(theme, u"dark");  // reads still work
    EXPECT_FALSE(ReadWindowPlacement().Valid);
    EXPECT_EQ(kltest::ReadFileBytes(path), before);
}

TEST_F(SettingsFile, WritesToAFileHeldOpenByAnotherProgramReportFailure) {
    Write("[Plugin]\r\nTheme=dark\r\n");
    HANDLE h = CreateFileW(ini_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(WriteGeneralSettings(u"de", u"light"));
    EXPECT_FALSE(WriteAppearance(0, 0, 8));
    CloseHandle(h);
    std::u16string lang, theme;
    ReadGeneralSettings(lang, theme);
    EXPECT_EQ(theme, u"dark");
    EXPECT_TRUE(WriteGeneralSettings(u"de", u"light"));  // free again
}

TEST_F(SettingsFile, WritesIntoAMissingFolderReportFailureAndReadsGiveDefaults) {
    const std::wstring missing = dir_.File(L"no-such-folder\\kestrelink.ini");
    SetSettingsPath(U(missing.c_str()));
    EXPECT_FALSE(WriteGeneralSettings(u"de", u"dark"));
    EXPECT_FALSE(WriteFontSettings(u"Consolas", 10));
    EXPECT_FALSE(WriteAppearance(0, 0, 8));
    SaveSessionSettings(u"Port:COM1", TSessionSettings{});
    EXPECT_EQ(LoadSessionSettings(u"Port:COM1"), DefaultSessionSettings());
    EXPECT_TRUE(DeleteConnection(u"router"));  // no file: nothing to remove
    EXPECT_FALSE(kltest::FileExists(missing));
}

// Names from several scripts through a connection's whole life: save, list,
// load, rename (new section written, old one deleted), delete.
TEST_F(SettingsFile, EveryCharacterSurvivesInANewFile) {
    const std::u16string lodz = u"\u0141\u00f3d\u017a", tokyo = u"\u6771\u4eac",
                         rocket = u"\U0001F680 lab", host = u"\u0445\u043e\u0441\u0442.example";
    TSessionSettings opts;
    opts.Baud = 57600;
    opts.LocalEcho = true;
    for (const auto& name : {lodz, tokyo, rocket}) {
        SaveConnection({name, host, 2323, 2});
        SaveSessionSettings(ConnSection(name), opts);
    }
    EXPECT_TRUE(IsUtf16()) << "a new settings file starts with the UTF-16LE mark";
    TNameArray names = ListConnections();
    ASSERT_EQ(names.size(), 3u);
    for (const auto& name : {lodz, tokyo, rocket}) {
        TConnInfo c;
        ASSERT_TRUE(LoadConnection(name, c)) << Utf16ToUtf8(name);
        EXPECT_EQ(c, (TConnInfo{name, host, 2323, 2}));
        EXPECT_EQ(LoadSessionSettings(ConnSection(name)), opts);
    }
    const std::u16string renamed = lodz + u" \u0436";
    SaveConnection({renamed, host, 2323, 2});
    SaveSessionSettings(ConnSection(renamed), LoadSessionSettings(ConnSection(lodz)));
    EXPECT_TRUE(DeleteConnection(lodz));
    TConnInfo c;
    EXPECT_FALSE(LoadConnection(lodz, c));
    ASSERT_TRUE(LoadConnection(renamed, c));
    EXPECT_EQ(c.Host, host);
    EXPECT_EQ(LoadSessionSettings(ConnSection(renamed)).Baud, 57600);

    EXPECT_TRUE(WriteFontSettings(u"\u5fae\u8f6f\u96c5\u9ed1", 12));
    std::u16string face;
    int32_t size = 0;
    ReadFontSettings(face, size);
    EXPECT_EQ(face, u"\u5fae\u8f6f\u96c5\u9ed1");
    for (const auto& name : {renamed, tokyo, rocket}) EXPECT_TRUE(DeleteConnection(name));
    EXPECT_TRUE(ListConnections().empty());
    EXPECT_EQ(FilesInFolder(), 1u);
}

// A file written by an older version (ANSI) keeps working as it is, and is
// converted once, with all its content, when a write needs more characters.
TEST_F(SettingsFile, AnAnsiFileIsConvertedOnceWithItsContent) {
    const std::u16string mueller = u"M\u00fcller", cafe = u"caf\u00e9.example";
    const std::string ansiName = WideToAnsi(mueller, CP_ACP, WC_NO_BEST_FIT_CHARS);
    const std::string ansiHost = WideToAnsi(cafe, CP_ACP, WC_NO_BEST_FIT_CHARS);
    Write("[Plugin]\r\nTheme=dark\r\n[Conn:" + ansiName + "]\r\nHost=" + ansiHost +
          "\r\nPort=2323\r\n; kept comment\r\n[Port:COM3]\r\nBaud=9600\r\n");
    WriteString(u"Plugin", u"Language", u"de");
    EXPECT_FALSE(IsUtf16()) << "a write the ANSI file can hold leaves it as it is";

    const std::u16string kyiv = u"\u041a\u0438\u0457\u0432";
    SaveConnection({kyiv, u"\u0445\u043e\u0441\u0442.example", 23, 1});
    EXPECT_TRUE(IsUtf16());
    TConnInfo c;
    ASSERT_TRUE(LoadConnection(kyiv, c));
    EXPECT_EQ(c.Host, u"\u0445\u043e\u0441\u0442.example");
    ASSERT_TRUE(LoadConnection(mueller, c)) << "old content decoded from the ANSI code page";
    EXPECT_EQ(c.Host, AnsiToWide(ansiHost));
    EXPECT_EQ(c.Port, 2323);
    EXPECT_EQ(LoadSessionSettings(u"Port:COM3").Baud, 9600);
    std::u16string lang, theme;
    ReadGeneralSettings(lang, theme);
    EXPECT_EQ(lang, u"de");
    EXPECT_EQ(theme, u"dark");
    EXPECT_NE(Content().find("; kept comment"), std::string::npos);
    EXPECT_EQ(FilesInFolder(), 1u) << "no temporary file left behind";
}

TEST(Settings, ConnectionNameRules) {
    for (const char16_t* bad : {u"", u"a=b", u"[x]", u"com5 box", u"Com", u"COM", u"x:y"})
        EXPECT_FALSE(IsValidConnectionName(bad));
    for (const char16_t* good : {u"router", u"Modem COM", u"Co", u"c", u"r\u00f6uter"})
        EXPECT_TRUE(IsValidConnectionName(good));
}
