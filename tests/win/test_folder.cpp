// The virtual folder: how entry names map back to what they stand for (direct
// calls), and the listing, delete and icon exports of a private DLL copy.
// Port entries depend on the prefix's device map, which test_ports owns; the
// listings here look at the manage and connection entries only.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

// The catalog header too, in the same translation unit: the records of the
// folder and of the catalogs live in one program, so their names must differ
// (two TEntry structs would compile apart and break the one-definition rule).
#include "base/uText.h"
#include "base/uWin.h"
#include "i18n/uCatalog.h"
#include "plugin/uFolder.h"
#include "plugin/uHostApi.h"
#include "plugin_copy.h"
#include "wintest.h"

using kltest::TPluginCopy;

namespace {

bool IsPortName(const wchar_t* name) { return std::wcsncmp(name, L"COM", 3) == 0; }
bool IsPortName(const char* name) { return std::strncmp(name, "COM", 3) == 0; }

std::vector<WIN32_FIND_DATAW> WithoutPorts(const std::vector<WIN32_FIND_DATAW>& all) {
    std::vector<WIN32_FIND_DATAW> out;
    for (const auto& fd : all)
        if (!IsPortName(fd.cFileName)) out.push_back(fd);
    return out;
}
std::vector<WIN32_FIND_DATAA> WithoutPorts(const std::vector<WIN32_FIND_DATAA>& all) {
    std::vector<WIN32_FIND_DATAA> out;
    for (const auto& fd : all)
        if (!IsPortName(fd.cFileName)) out.push_back(fd);
    return out;
}

ULONGLONG Ticks(const FILETIME& ft) {
    return (ULONGLONG(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

ULONGLONG Now() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return Ticks(ft);
}

std::string Utf8(const std::u16string& s) { return Utf16ToUtf8(s); }

// Settings files in UTF-16 with a byte-order mark, the form in which the
// profile functions keep names outside the ANSI code page.
std::string Utf16File(const std::u16string& text) {
    const std::u16string all = u"\uFEFF" + text;
    return std::string(reinterpret_cast<const char*>(all.data()), all.size() * 2);
}
std::u16string ReadUtf16File(const std::wstring& path) {
    const std::string bytes = kltest::ReadFileBytes(path);
    std::u16string text(bytes.size() / 2, u'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * 2);
    return text;
}

// Width, height and 32-bit pixels of an icon's colour image.
struct TIconImage {
    int Width = 0, Height = 0;
    std::vector<uint32_t> Pixels;
};

TIconImage ImageOf(HICON icon) {
    TIconImage image;
    ICONINFO info = {};
    if (!icon || !GetIconInfo(icon, &info)) return image;
    BITMAP bm = {};
    if (info.hbmColor && GetObjectW(info.hbmColor, sizeof bm, &bm)) {
        image.Width = bm.bmWidth;
        image.Height = bm.bmHeight;
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = bm.bmWidth;
        bi.bmiHeader.biHeight = -bm.bmHeight;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        image.Pixels.resize(size_t(bm.bmWidth) * size_t(bm.bmHeight));
        HDC dc = GetDC(nullptr);
        GetDIBits(dc, info.hbmColor, 0, UINT(bm.bmHeight), image.Pixels.data(), &bi,
                  DIB_RGB_COLORS);
        ReleaseDC(nullptr, dc);
    }
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return image;
}

char DefaultAnsiChar() {
    CPINFO info;
    return GetCPInfo(CP_ACP, &info) ? char(info.DefaultChar[0]) : '?';
}

}  // namespace

TEST(Folder, ManageEntryIsRecognisedInAnyListedForm) {
    EXPECT_EQ(ManageEntryName(), u"[ Manage connections\u2026 ]");
    const std::u16string yes[] = {
        u"[ Manage connections\u2026 ]",
        u"[Manage connections\u2026]",           // inner text is trimmed
        u"  [   MANAGE CONNECTIONS\u2026\t]  ",  // outer text is trimmed, case ignored
        u"[ verbindungen verwalten... ]",        // fixed name, any case
        u"[ Verbindungen verwalten\u2026 ]",
        u"[ \u0423\u043F\u0440\u0430\u0432\u043B\u0435\u043D\u0438\u0435 "
        u"\u0441\u043E\u0435\u0434\u0438\u043D\u0435\u043D\u0438\u044F\u043C\u0438\u2026 ]",
    };
    for (const auto& name : yes) EXPECT_TRUE(IsManageEntry(name)) << Utf8(name);
    const std::u16string no[] = {
        u"Manage connections\u2026",   // no brackets
        u"[ Manage connections ]",     // no ellipsis
        u"[ Manage connections... ]",  // three full stops only in the German fixed name
        u"[ ]",
        u"[]",
        u"[",
        u"]",
        u"",
        u"[ Manage connections\u2026 ] x",
        u"TCP - [ Manage connections\u2026 ]",
    };
    for (const auto& name : no) EXPECT_FALSE(IsManageEntry(name)) << Utf8(name);
}

TEST(Folder, ClassifyMapsNamesBackToEntries) {
    auto c = ClassifyEntry(u"\\\\COM7  Modem");
    EXPECT_EQ(c.Class, TEntryClass::Port);
    EXPECT_EQ(c.Target, u"COM7");
    EXPECT_EQ(c.Display, u"COM7  Modem");

    c = ClassifyEntry(u"tcp - x y");
    EXPECT_EQ(c.Class, TEntryClass::Connection);
    EXPECT_EQ(c.Target, u"x y");
    c = ClassifyEntry(u"\\TCP -  spaced ");  // the name is taken unchanged
    EXPECT_EQ(c.Class, TEntryClass::Connection);
    EXPECT_EQ(c.Target, u" spaced ");
    c = ClassifyEntry(u"TCP - ");
    EXPECT_EQ(c.Class, TEntryClass::Connection);
    EXPECT_EQ(c.Target, u"");

    c = ClassifyEntry(u"COMPORT");
    EXPECT_EQ(c.Class, TEntryClass::Port);
    EXPECT_EQ(c.Target, u"COMPORT");
    c = ClassifyEntry(u"com3");
    EXPECT_EQ(c.Class, TEntryClass::Port);
    EXPECT_EQ(c.Target, u"com3");

    EXPECT_EQ(ClassifyEntry(u"\\[ Manage connections\u2026 ]").Class, TEntryClass::Manage);
    for (const char16_t* other : {u"LPT1", u"", u"\\", u"\\\\\\", u" COM3", u"CO", u"TCP -x"})
        EXPECT_EQ(ClassifyEntry(other).Class, TEntryClass::Other) << Utf8(other);
}

TEST(Folder, NamesAreCutSafelyForTheFindData) {
    const std::u16string fits(kMaxFindName, u'a');
    EXPECT_EQ(CutFileName(fits), fits);
    EXPECT_EQ(CutFileName(fits + u"b"), fits);
    // a pair on the boundary goes as a whole
    const std::u16string pair = u"\U0001F600";
    const std::u16string beforePair(kMaxFindName - 1, u'a');
    EXPECT_EQ(CutFileName(beforePair + pair), beforePair);
    EXPECT_EQ(CutFileName(beforePair + pair + u"z"), beforePair);
    const std::u16string pairInside = std::u16string(kMaxFindName - 2, u'a') + pair + u"zz";
    EXPECT_EQ(CutFileName(pairInside), pairInside.substr(0, kMaxFindName));

    // Code page 932 needs two bytes for each of these characters.
    const std::u16string kanji(200, u'\u65E5');
    const std::string sjis = AnsiFileName(u"x" + kanji, 932);
    EXPECT_EQ(sjis.size(), 1u + 2u * 129u) << "cut at a character boundary, not mid-character";
    EXPECT_EQ(sjis, AnsiFileName(u"x" + kanji.substr(0, 129), 932));
    EXPECT_EQ(AnsiFileName(u"\u65E5\u672C", 932), "\x93\xfa\x96\x7b");

    // UTF-8 as the ANSI code page: three bytes per euro sign, four per pair.
    const std::u16string euros(86, u'\u20AC');
    EXPECT_EQ(AnsiFileName(euros + pair + u"tail", CP_UTF8).size(), 258u)
        << "the pair does not fit after 258 bytes, and nothing after it is taken";
    EXPECT_EQ(AnsiFileName(euros.substr(1) + pair + u"tail", CP_UTF8),
              Utf16ToUtf8(euros.substr(1) + pair));

    // Characters the code page lacks become its default character, no best fit.
    EXPECT_EQ(AnsiFileName(u"TCP - \u0142\u03A9", 1252), "TCP - ??");
    EXPECT_EQ(AnsiFileName(u"Z\u00FCrich", 1252),
              "Z\xFC"
              "rich");
    EXPECT_EQ(AnsiFileName(std::u16string(300, u'\u00E9'), 1252),
              std::string(kMaxFindName, '\xE9'));
}

TEST(Folder, ListingHoldsManageEntryThenConnectionsWithTheirSizes) {
    TPluginCopy plugin(
        "[Conn:b]\r\nHost=hb\r\n[conn:A]\r\nHost=10.0.0.1\r\nPort=2323\r\nMode=0\r\n"
        "[Conn:nohost]\r\nPort=23\r\n[Conn:]\r\nHost=x\r\n[Connection]\r\nHost=y\r\n");
    const ULONGLONG before = Now();
    const auto all = plugin.ListW();
    const ULONGLONG after = Now();
    const auto listed = WithoutPorts(all);
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(std::wstring(all[0].cFileName), kltest::kManageW) << "the manage entry comes first";
    const std::wstring names[] = {kltest::kManageW, L"TCP - A", L"TCP - b", L"TCP - nohost"};
    for (size_t i = 0; i < listed.size(); ++i) {
        const auto& fd = listed[i];
        EXPECT_EQ(std::wstring(fd.cFileName), names[i]);
        EXPECT_EQ(fd.dwFileAttributes, DWORD(FILE_ATTRIBUTE_NORMAL));
        EXPECT_EQ(Ticks(fd.ftCreationTime), 0u);
        EXPECT_EQ(Ticks(fd.ftLastAccessTime), 0u);
        EXPECT_GE(Ticks(fd.ftLastWriteTime), before);
        EXPECT_LE(Ticks(fd.ftLastWriteTime), after);
        EXPECT_EQ(fd.nFileSizeHigh, 0u);
        EXPECT_EQ(fd.cAlternateFileName[0], 0);
        EXPECT_EQ(fd.dwReserved0 | fd.dwReserved1, 0u);
    }
    // sizes are the descriptor bytes that FsGetFileW writes
    const std::string ini = Utf16ToUtf8(U(plugin.Ini().c_str()));
    EXPECT_EQ(listed[0].nFileSizeLow, 75u + ini.size()) << "manage";
    for (size_t i = 0; i < 3; ++i) {
        const std::wstring local = plugin.File(L"d" + std::to_wstring(i));
        ASSERT_EQ(plugin.GetFileW(listed[i].cFileName, local, 0), 0) << i;
        EXPECT_EQ(listed[i].nFileSizeLow, kltest::ReadFileBytes(local).size()) << i;
    }
    EXPECT_EQ(listed[3].nFileSizeLow, 0u) << "a connection without Host is listed with size 0";
}

TEST(Folder, AnsiListingMatchesTheWideOne) {
    // U+0142 has no place in the ANSI code page (and no best fit either).
    const std::string name = "\xC5\x82\xC3\xBCx";  // "łüx" in UTF-8
    const std::u16string wname = u"\u0142\u00FCx";
    const std::u16string longName = std::u16string(252, u'n') + u"\U0001F600" + u"end";
    TPluginCopy plugin;
    plugin.WriteIni(Utf16File(u"[Conn:" + wname + u"]\r\nHost=h\r\n[Conn:" + longName +
                              u"]\r\nHost=h\r\n[Conn:plain]\r\nHost=h\r\n"));
    const auto wide = WithoutPorts(plugin.ListW());
    const auto ansi = WithoutPorts(plugin.ListA());
    ASSERT_EQ(wide.size(), 4u);
    ASSERT_EQ(ansi.size(), 4u);
    EXPECT_EQ(U(wide[1].cFileName), u"TCP - " + wname);
    EXPECT_EQ(U(wide[3].cFileName), u"TCP - plain");
    const std::string def(1, DefaultAnsiChar());
    EXPECT_EQ(std::string(ansi[1].cFileName), "TCP - " + def + "\xFCx");
    EXPECT_EQ(std::string(ansi[3].cFileName), "TCP - plain");
    // 6 + 252 units, then a pair that the cut at 259 would split: the pair goes
    EXPECT_EQ(U(wide[2].cFileName), u"TCP - " + std::u16string(252, u'n'));
    EXPECT_LE(std::string(ansi[2].cFileName).size(), kMaxFindName);
    for (size_t i = 0; i < wide.size(); ++i)
        EXPECT_EQ(ansi[i].nFileSizeLow, wide[i].nFileSizeLow) << i;
    // Names the code page holds (the manage entry's ellipsis included) work in
    // the ANSI exports like in the wide ones.
    for (size_t i : {size_t(0), size_t(3)}) {
        const std::wstring wa = plugin.File(L"a.txt"), ww = plugin.File(L"w.txt");
        EXPECT_EQ(plugin.GetFileA(std::string("\\") + ansi[i].cFileName, WideToAnsi(U(wa.c_str())),
                                  kFsCopyFlagOverwrite),
                  0)
            << i;
        EXPECT_EQ(
            plugin.GetFileW(std::wstring(L"\\") + wide[i].cFileName, ww, kFsCopyFlagOverwrite), 0)
            << i;
        EXPECT_EQ(kltest::ReadFileBytes(wa), kltest::ReadFileBytes(ww)) << i;
    }
}

TEST(Folder, FindFirstAcceptsOnlyTheRoot) {
    TPluginCopy plugin;
    auto firstW = plugin.Proc<kltest::TFsFindFirstW>("FsFindFirstW");
    auto firstA = plugin.Proc<kltest::TFsFindFirstA>("FsFindFirst");
    auto close = plugin.Proc<kltest::TFsFindClose>("FsFindClose");
    WIN32_FIND_DATAW fdw;
    WIN32_FIND_DATAA fda;
    for (const wchar_t* bad : {L"\\sub", L"\\\\", L"sub", L"\\COM1", L"/"}) {
        kltest::THostBuf<wchar_t> p{std::wstring(bad)};
        SetLastError(0);
        EXPECT_EQ(firstW(p, &fdw), INVALID_HANDLE_VALUE) << bad;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND)) << bad;
        kltest::THostBuf<char> pa{WideToAnsi(U(bad))};
        SetLastError(0);
        EXPECT_EQ(firstA(pa, &fda), INVALID_HANDLE_VALUE) << bad;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND)) << bad;
    }
    kltest::THostBuf<wchar_t> empty{std::wstring()};
    for (WCHAR* path : {static_cast<WCHAR*>(empty), static_cast<WCHAR*>(nullptr)}) {
        HANDLE h = firstW(path, &fdw);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(std::wstring(fdw.cFileName), kltest::kManageW);
        EXPECT_EQ(close(h), 0);
    }
    HANDLE h = firstA(nullptr, &fda);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(close(h), 0);
    // no record to fill: refused, nothing leaks
    kltest::THostBuf<wchar_t> root{std::wstring(L"\\")};
    SetLastError(0);
    EXPECT_EQ(firstW(root, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST(Folder, FindHandlesAreSafeToMisuse) {
    TPluginCopy plugin("[Conn:only]\r\nHost=h\r\n");
    auto firstW = plugin.Proc<kltest::TFsFindFirstW>("FsFindFirstW");
    auto nextW = plugin.Proc<kltest::TFsFindNextW>("FsFindNextW");
    auto nextA = plugin.Proc<kltest::TFsFindNextA>("FsFindNext");
    auto close = plugin.Proc<kltest::TFsFindClose>("FsFindClose");
    WIN32_FIND_DATAW fd;
    WIN32_FIND_DATAA fda;
    for (HANDLE bad : {INVALID_HANDLE_VALUE, HANDLE(nullptr), HANDLE(&fd)}) {
        EXPECT_EQ(nextW(bad, &fd), FALSE);
        EXPECT_EQ(nextA(bad, &fda), FALSE);
        EXPECT_EQ(close(bad), 0);
    }
    kltest::THostBuf<wchar_t> root{std::wstring(L"\\")};
    HANDLE h = firstW(root, &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(nextW(h, nullptr), FALSE) << "no record: nothing consumed";
    HANDLE second = firstW(root, &fd);  // two listings at once are independent
    std::wstring last;
    while (nextW(h, &fd) == kHostTrue) last = fd.cFileName;
    EXPECT_EQ(last, L"TCP - only");
    std::memset(&fd, 0x5A, sizeof fd);
    EXPECT_EQ(nextW(h, &fd), FALSE);
    EXPECT_EQ(nextW(h, &fd), FALSE);
    EXPECT_EQ(fd.dwFileAttributes, 0x5A5A5A5Au) << "the end leaves the record alone";
    EXPECT_EQ(nextA(second, &fda), kHostTrue) << "the other listing is where it was";
    EXPECT_EQ(close(h), 0);
    EXPECT_EQ(nextW(h, &fd), FALSE) << "a closed handle";
    EXPECT_EQ(close(h), 0) << "closing twice";
    EXPECT_EQ(close(second), 0);
}

TEST(Folder, DeleteRemovesWholeConnectionSections) {
    TPluginCopy plugin;
    plugin.WriteIni(Utf16File(
        u"[Plugin]\r\nTheme=dark\r\n[Conn:router]\r\nHost=10.0.0.1\r\nPort=23\r\nMode=1\r\n"
        u"Baud=9600\r\nLocalEcho=1\r\n[Port:COM3]\r\nBaud=9600\r\n[Conn:keep]\r\nHost=k\r\n"
        u"[Conn:\u0142]\r\nHost=w\r\n"));
    auto delW = plugin.Proc<kltest::TFsDeleteFileW>("FsDeleteFileW");
    auto delA = plugin.Proc<kltest::TFsDeleteFileA>("FsDeleteFile");
    auto wide = [&](const std::wstring& s) {
        kltest::THostBuf<wchar_t> b(s);
        return delW(b);
    };
    auto ansi = [&](const std::string& s) {
        kltest::THostBuf<char> b(s);
        return delA(b);
    };
    auto has = [&](const std::u16string& text) {
        return ReadUtf16File(plugin.Ini()).find(text) != std::u16string::npos;
    };
    EXPECT_EQ(wide(L"\\TCP - router"), -1) << "TRUE is all bits set";
    EXPECT_FALSE(has(u"router"));
    EXPECT_FALSE(has(u"LocalEcho")) << "session keys go with the section";
    EXPECT_TRUE(has(u"[Conn:keep]"));
    EXPECT_TRUE(has(u"[Port:COM3]"));
    EXPECT_TRUE(has(u"Theme=dark"));
    // gone already, never there, any case, no backslash: still TRUE
    EXPECT_EQ(wide(L"TCP - router"), kHostTrue);
    EXPECT_EQ(ansi("\\TCP - router"), kHostTrue);
    EXPECT_EQ(wide(L"\\\\tcp - nothing"), kHostTrue);
    EXPECT_EQ(ansi("tcp - KEEP"), kHostTrue);
    EXPECT_FALSE(has(u"keep")) << "sections match without regard to case";
    // other entries cannot be deleted; the file stays as it was
    const std::u16string before = ReadUtf16File(plugin.Ini());
    for (const wchar_t* name :
         {L"\\COM3", L"COM3  USB Serial Device", L"\\[ Manage connections\u2026 ]", L"LPT1", L"",
          L"\\", L"TCP -", L"TCP-router"}) {
        EXPECT_EQ(wide(name), FALSE) << name;
        EXPECT_EQ(ansi(WideToAnsi(U(name))), FALSE) << name;
    }
    EXPECT_EQ(delW(nullptr), FALSE);
    EXPECT_EQ(delA(nullptr), FALSE);
    EXPECT_EQ(ReadUtf16File(plugin.Ini()), before);
    // a name outside the ANSI code page is reachable through the wide export
    EXPECT_EQ(wide(L"TCP - \u0142"), kHostTrue);
    EXPECT_FALSE(has(u"Host=w"));
}

TEST(Folder, IconsComeFromTheLibraryAtTheSystemSizes) {
    TPluginCopy plugin("[Conn:router]\r\nHost=h\r\n");
    auto iconW = plugin.Proc<kltest::TFsExtractCustomIconW>("FsExtractCustomIconW");
    auto iconA = plugin.Proc<kltest::TFsExtractCustomIconA>("FsExtractCustomIcon");
    const int sizes[2] = {GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CXSMICON)};
    // The library's own images, to tell which one an export handed out.
    auto resource = [&](int id, int size) {
        HANDLE h = LoadImageW(plugin.Module(), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0);
        const TIconImage image = ImageOf(static_cast<HICON>(h));
        if (h) DestroyIcon(static_cast<HICON>(h));
        return image;
    };
    ASSERT_FALSE(resource(kIconPort, sizes[0]).Pixels.empty()) << "icon resources missing";
    ASSERT_NE(resource(kIconPort, sizes[0]).Pixels, resource(kIconConnection, sizes[0]).Pixels);
    ASSERT_NE(resource(kIconPort, sizes[0]).Pixels, resource(kIconManage, sizes[0]).Pixels);

    struct Case {
        std::wstring name;
        int id;
    };
    const Case cases[] = {
        {L"\\" + kltest::kManageW, kIconManage},
        {L"[Manage connections\u2026]", kIconManage},
        {L"\\COM3", kIconPort},
        {L"COM3  USB Serial Device", kIconPort},
        {L"\\TCP - router", kIconConnection},
        {L"\\TCP - deleted long ago", kIconConnection},
    };
    for (const Case& c : cases) {
        for (int flags : {0, 1}) {
            const int size = sizes[flags];
            const TIconImage expect = resource(c.id, size);
            kltest::THostBuf<wchar_t> wname(c.name);
            HICON icon = nullptr;
            ASSERT_EQ(iconW(wname, flags, &icon), 2) << c.name << " flags " << flags;
            const TIconImage got = ImageOf(icon);
            EXPECT_EQ(got.Width, size) << c.name;
            EXPECT_EQ(got.Height, size) << c.name;
            EXPECT_EQ(got.Pixels, expect.Pixels) << c.name << ": not resource " << c.id;
            EXPECT_TRUE(DestroyIcon(icon)) << "the host destroys what it is given";
            EXPECT_EQ(std::wstring(wname.buf), c.name) << "RemoteName is left as it was";

            kltest::THostBuf<char> aname(WideToAnsi(U(c.name.c_str())));
            HICON iconFromA = nullptr;
            ASSERT_EQ(iconA(aname, flags, &iconFromA), 2) << c.name;
            EXPECT_EQ(ImageOf(iconFromA).Pixels, expect.Pixels) << c.name;
            DestroyIcon(iconFromA);
        }
    }
    // no icon of its own: the host's default, the handle untouched
    const HICON sentinel = reinterpret_cast<HICON>(uintptr_t(0x1234));
    for (const wchar_t* other : {L"LPT1", L"\\", L"", L"TCP-x"}) {
        HICON icon = sentinel;
        kltest::THostBuf<wchar_t> wname{std::wstring(other)};
        EXPECT_EQ(iconW(wname, 1, &icon), 0) << other;
        EXPECT_EQ(icon, sentinel) << other;
        kltest::THostBuf<char> aname{WideToAnsi(U(other))};
        EXPECT_EQ(iconA(aname, 0, &icon), 0) << other;
        EXPECT_EQ(icon, sentinel) << other;
    }
    HICON icon = sentinel;
    EXPECT_EQ(iconW(nullptr, 0, &icon), 0);
    EXPECT_EQ(iconA(nullptr, 0, &icon), 0);
    EXPECT_EQ(icon, sentinel);
    kltest::THostBuf<wchar_t> port{std::wstring(L"\\COM3")};
    EXPECT_EQ(iconW(port, 0, nullptr), 0) << "nowhere to put the icon";
}

TEST(Folder, ManageEntryFollowsTheLanguageAndIsKnownInEveryCatalog) {
    TPluginCopy plugin("[Plugin]\r\nLanguage=xx\r\n");
    const std::wstring languages = plugin.File(L"languages");
    CreateDirectoryW(languages.c_str(), nullptr);  // the copy may have brought the shipped ones
    ASSERT_TRUE(kltest::WriteFileBytes(languages + L"\\xx.ini",
                                       "[Strings]\r\nlanguage.name=Test\r\nmanage.name="
                                       "G\xC3\xA9rer les connexions\xE2\x80\xA6\r\n"));
    const std::wstring translated = L"[ G\u00E9rer les connexions\u2026 ]";
    EXPECT_EQ(plugin.NamesW()[0], translated);
    const std::wstring local = plugin.File(L"m.txt");
    EXPECT_EQ(plugin.GetFileW(L"\\" + translated, local, kFsCopyFlagOverwrite), 0);
    EXPECT_EQ(kltest::ReadFileBytes(local).substr(0, 21), "KESTRELINK1\r\nkind=2\r\n");

    // Back in English, a panel listed in the other language still works.
    ASSERT_TRUE(WritePrivateProfileStringW(L"Plugin", L"Language", L"en", plugin.Ini().c_str()));
    EXPECT_EQ(plugin.NamesW()[0], kltest::kManageW);
    EXPECT_EQ(
        plugin.GetFileW(L"\\[ G\u00C9RER LES CONNEXIONS\u2026 ]", local, kFsCopyFlagOverwrite), 0);
    EXPECT_EQ(kltest::ReadFileBytes(local).substr(0, 21), "KESTRELINK1\r\nkind=2\r\n");
    EXPECT_EQ(plugin.GetFileW(L"\\[ Connexions \u2026 ]", local, kFsCopyFlagOverwrite), 6);
}
