// Descriptor files: FsGetFile/FsGetFileW of a private DLL copy with every
// result code, the descriptors of known entries byte for byte, and the
// reading of descriptor files by direct calls.
#include <windows.h>

#include <string>

#include "base/uWin.h"
#include "plugin/uDescriptor.h"
#include "plugin/uDescriptorFile.h"
#include "plugin_copy.h"
#include "settings/uSettings.h"
#include "wintest.h"

using kltest::TPluginCopy;

namespace {

constexpr int kOverwrite = 1;
constexpr int kResume = 2;
constexpr int kMove = 4;

const char kRouterIni[] =
    "[Conn:router]\r\nHost=10.0.0.1\r\nPort=23\r\nMode=1\r\n"
    "[Conn:nohost]\r\nPort=23\r\nMode=1\r\n";

// C:\Tools inside the test prefix, so that the settings path beside a DLL
// copy there is C:\Tools\kestrelink.ini. Only this program uses the folder.
class TToolsDir {
public:
    TToolsDir() { CreateDirectoryW(kPath, nullptr); }
    ~TToolsDir() { RemoveDirectoryW(kPath); }
    static constexpr const wchar_t* kPath = L"C:\\Tools";
};

std::string Ansi(const std::wstring& s) { return WideToAnsi(U(s.c_str())); }

}  // namespace

TEST(GetFile, DescriptorsOfTheThreeEntryKinds) {
    TToolsDir tools;
    kltest::TTempDir out;
    TPluginCopy plugin(kRouterIni, TToolsDir::kPath);
    const std::wstring port = out.File(L"port"), router = out.File(L"router"),
                       manage = out.File(L"manage");
    EXPECT_EQ(plugin.GetFileW(L"\\COM3  USB Serial Device", port, 0), 0);
    EXPECT_EQ(kltest::ReadFileBytes(port),
              "KESTRELINK1\r\nkind=0\r\ntarget=COM3\r\ndisplay=COM3  USB Serial Device\r\n"
              "host=\r\nport=0\r\nmode=0\r\nini=C:\\Tools\\kestrelink.ini\r\n");
    EXPECT_EQ(kltest::ReadFileBytes(port).size(), 119u);

    EXPECT_EQ(plugin.GetFileW(L"\\TCP - router", router, 0), 0);
    EXPECT_EQ(kltest::ReadFileBytes(router),
              "KESTRELINK1\r\nkind=1\r\ntarget=router\r\ndisplay=TCP router (10.0.0.1:23)\r\n"
              "host=10.0.0.1\r\nport=23\r\nmode=1\r\nini=C:\\Tools\\kestrelink.ini\r\n");
    EXPECT_EQ(kltest::ReadFileBytes(router).size(), 131u);

    EXPECT_EQ(plugin.GetFileW(L"\\[ Manage connections\u2026 ]", manage, 0), 0);
    EXPECT_EQ(kltest::ReadFileBytes(manage),
              "KESTRELINK1\r\nkind=2\r\ntarget=manage\r\ndisplay=\r\nhost=\r\nport=0\r\nmode=0\r\n"
              "ini=C:\\Tools\\kestrelink.ini\r\n");
    EXPECT_EQ(kltest::ReadFileBytes(manage).size(), 98u);

    // the listing shows the same sizes
    bool sawManage = false, sawRouter = false;
    for (const auto& fd : plugin.ListW()) {
        const std::wstring name = fd.cFileName;
        if (name == kltest::kManageW) sawManage = fd.nFileSizeLow == 98;
        if (name == L"TCP - router") sawRouter = fd.nFileSizeLow == 131;
    }
    EXPECT_TRUE(sawManage && sawRouter);

    // the ANSI export writes the same bytes
    const std::wstring portA = out.File(L"portA");
    EXPECT_EQ(plugin.GetFileA("\\COM3  USB Serial Device", Ansi(portA), 0), 0);
    EXPECT_EQ(kltest::ReadFileBytes(portA), kltest::ReadFileBytes(port));
}

TEST(GetFile, ResultCodes) {
    TPluginCopy plugin(kRouterIni);
    const std::wstring local = plugin.File(L"out.txt");
    const std::string localA = Ansi(local);
    // Both exports give the same answer for the same text.
    auto both = [&](const std::wstring& remote, const std::wstring& file, int flags) {
        const int w = plugin.GetFileW(remote, file, flags);
        const int a = plugin.GetFileA(Ansi(remote), Ansi(file), flags);
        EXPECT_EQ(w, a) << Ansi(remote) << " flags " << flags;
        return w;
    };

    // 6: moving out, and names that stand for no entry; the local file is not touched
    EXPECT_EQ(both(L"\\COM3", local, kMove), 6);
    EXPECT_EQ(both(L"\\COM3", local, kMove | kOverwrite), 6);
    EXPECT_FALSE(kltest::FileExists(local));
    for (const wchar_t* none : {L"\\TCP - missing", L"\\TCP - nohost", L"\\LPT1", L"", L"\\"}) {
        EXPECT_EQ(both(none, local, kOverwrite), 6) << none;
        EXPECT_FALSE(kltest::FileExists(local)) << none;
    }

    // 0: written; the resume flag is not used
    EXPECT_EQ(plugin.GetFileW(L"\\COM3", local, kResume), 0);
    TDescriptor d;
    ASSERT_TRUE(ParseDescriptor(kltest::ReadFileBytes(local), d));
    EXPECT_EQ(d.Target, u"COM3");

    // 1: the file exists and may not be overwritten; it keeps its content
    ASSERT_TRUE(kltest::WriteFileBytes(local, "old"));
    EXPECT_EQ(both(L"\\TCP - router", local, 0), 1);
    EXPECT_EQ(kltest::ReadFileBytes(local), "old");
    // 0 with the overwrite flag: replaced
    EXPECT_EQ(both(L"\\TCP - router", local, kOverwrite), 0);
    ASSERT_TRUE(ParseDescriptor(kltest::ReadFileBytes(local), d));
    EXPECT_EQ(d.Kind, kKindTcp);
    EXPECT_EQ(d.Host, u"10.0.0.1");

    // 4: cannot be created
    const std::wstring noDir = plugin.File(L"no\\such\\dir.txt");
    EXPECT_EQ(both(L"\\COM3", noDir, 0), 4);
    EXPECT_EQ(both(L"\\COM3", plugin.Dir(), 0), 1) << "a folder exists";
    EXPECT_EQ(both(L"\\COM3", plugin.Dir(), kOverwrite), 4) << "and cannot be replaced";
    EXPECT_EQ(both(L"\\COM3", L"", 0), 4);
    {
        // held open without sharing by another program
        HANDLE h = CreateFileW(local.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(both(L"\\COM3", local, kOverwrite), 4);
        CloseHandle(h);
    }

    // null pointers from the host are empty names
    auto getW = plugin.Proc<kltest::TFsGetFileW>("FsGetFileW");
    auto getA = plugin.Proc<kltest::TFsGetFileA>("FsGetFile");
    kltest::THostBuf<wchar_t> remote{std::wstring(L"\\COM3")}, file{local};
    EXPECT_EQ(getW(nullptr, file, kOverwrite, nullptr), 6);
    EXPECT_EQ(getW(remote, nullptr, kOverwrite, nullptr), 4);
    EXPECT_EQ(getA(nullptr, nullptr, 0, nullptr), 6);
}

TEST(GetFile, DescriptorFollowsTheSettingsOfTheMoment) {
    TPluginCopy plugin(kRouterIni);
    const std::wstring local = plugin.File(L"d.txt");
    plugin.WriteIni("[Conn:router]\r\nHost=example.org\r\nPort=2323\r\nMode=7\r\n");
    ASSERT_EQ(plugin.GetFileW(L"\\tcp - ROUTER", local, 0), 0);
    TDescriptor d;
    ASSERT_TRUE(ParseDescriptor(kltest::ReadFileBytes(local), d));
    EXPECT_EQ(d.Target, u"ROUTER") << "the name as the host passed it";
    EXPECT_EQ(d.Display, u"TCP ROUTER (example.org:2323)");
    EXPECT_EQ(d.Port, 2323);
    EXPECT_EQ(d.Mode, 1) << "an invalid mode reads as telnet";
    EXPECT_EQ(d.Ini, U(plugin.Ini().c_str()));
}

TEST(GetFile, ReadDescriptorFileTakesSmallReadableFilesWhole) {
    kltest::TTempDir dir;
    std::string bytes = "stale";
    EXPECT_FALSE(ReadDescriptorFile(U(dir.File(L"missing").c_str()), bytes));
    EXPECT_TRUE(bytes.empty());
    EXPECT_FALSE(ReadDescriptorFile(u"", bytes));
    EXPECT_FALSE(ReadDescriptorFile(U(dir.Path().c_str()), bytes)) << "a folder";

    const std::wstring f = dir.File(L"d.txt");
    ASSERT_TRUE(kltest::WriteFileBytes(f, ""));
    EXPECT_FALSE(ReadDescriptorFile(U(f.c_str()), bytes)) << "empty";
    const std::string max(kMaxDescriptorFileBytes, 'x');
    ASSERT_TRUE(kltest::WriteFileBytes(f, max));
    EXPECT_TRUE(ReadDescriptorFile(U(f.c_str()), bytes));
    EXPECT_EQ(bytes, max);
    ASSERT_TRUE(kltest::WriteFileBytes(f, max + "x"));
    EXPECT_FALSE(ReadDescriptorFile(U(f.c_str()), bytes)) << "one byte too many";

    ASSERT_TRUE(kltest::WriteFileBytes(f, "KESTRELINK1\r\ntarget=COM3\r\n"));
    {
        // a writer that shares reading does not keep the lister out
        HANDLE h = CreateFileW(f.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                               nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(ReadDescriptorFile(U(f.c_str()), bytes));
        CloseHandle(h);
        // one that shares nothing does
        h = CreateFileW(f.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(ReadDescriptorFile(U(f.c_str()), bytes));
        CloseHandle(h);
    }
    // the handle is closed again: the file can be deleted at once
    EXPECT_TRUE(ReadDescriptorFile(U(f.c_str()), bytes));
    EXPECT_TRUE(DeleteFileW(f.c_str()));
}

TEST(GetFile, BuildDescriptorForEntryByDirectCalls) {
    kltest::TTempDir dir;
    const std::wstring ini = dir.File(L"kestrelink.ini");
    ASSERT_TRUE(kltest::WriteFileBytes(ini, kRouterIni));
    SetSettingsPath(U(ini.c_str()));
    std::string bytes;
    TDescriptor d;
    ASSERT_TRUE(BuildDescriptorForEntry(u"\\\\COM12  Modem", bytes));
    ASSERT_TRUE(ParseDescriptor(bytes, d));
    EXPECT_EQ(d.Kind, kKindSerial);
    EXPECT_EQ(d.Target, u"COM12");
    EXPECT_EQ(d.Display, u"COM12  Modem");
    EXPECT_EQ(d.Ini, U(ini.c_str()));
    ASSERT_TRUE(BuildDescriptorForEntry(u"[Manage connections\u2026]", bytes));
    ASSERT_TRUE(ParseDescriptor(bytes, d));
    EXPECT_EQ(d.Kind, kKindManage);
    EXPECT_EQ(d.Display, u"");
    bytes = "unchanged";
    for (const char16_t* none : {u"TCP - nohost", u"TCP - gone", u"LPT1", u"", u"Manage"})
        EXPECT_FALSE(BuildDescriptorForEntry(none, bytes));
    EXPECT_EQ(bytes, "unchanged");
}
