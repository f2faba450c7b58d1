// Port discovery against the registry's serial device map of the test prefix,
// the merge of SetupAPI friendly names by direct calls (Wine's SetupAPI lists
// no Ports devices), and the ports as the folder exports list them.
//
// Every test here that reads the device map owns its content for its run
// (saved, replaced, restored); they all live in this one program so that no
// other program of the same ctest run sees the replaced content.
#include <windows.h>

#include <string>
#include <vector>

#include "base/uText.h"
#include "base/uWin.h"
#include "plugin/uFolder.h"
#include "plugin_copy.h"
#include "settings/uPorts.h"
#include "settings/uSettings.h"
#include "wintest.h"

using kltest::TPluginCopy;

namespace {

constexpr wchar_t kSerialComm[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

struct TValue {
    std::wstring Name;
    DWORD Type = REG_SZ;
    std::vector<BYTE> Data;
};

TValue SzValue(const std::wstring& name, const std::wstring& text) {
    const auto* p = reinterpret_cast<const BYTE*>(text.c_str());
    return {name, REG_SZ, std::vector<BYTE>(p, p + (text.size() + 1) * sizeof(wchar_t))};
}

// The device map for the length of one test: its values are saved, replaced
// by the test's own and put back at the end. The key lives in the volatile
// HARDWARE tree, so it is recreated volatile when a test removed it.
class TSerialComm {
public:
    TSerialComm() {
        HKEY key = Open(false);
        if (!key) return;
        saved_ = Values(key);
        RegCloseKey(key);
        Clear();
    }
    ~TSerialComm() {
        Clear();
        HKEY key = Open(true);
        for (const auto& v : saved_) Set(key, v);
        if (key) RegCloseKey(key);
    }
    void Add(const TValue& v) {
        HKEY key = Open(true);
        ASSERT_NE(key, nullptr);
        Set(key, v);
        RegCloseKey(key);
    }
    void AddPort(const std::wstring& valueName, const std::wstring& port) {
        Add(SzValue(valueName, port));
    }
    void RemoveKey() { RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSerialComm); }

    // What the walk sees, in enumeration order (Wine orders values by name).
    static std::vector<TValue> Current() {
        HKEY key = Open(false);
        if (!key) return {};
        auto v = Values(key);
        RegCloseKey(key);
        return v;
    }

private:
    static HKEY Open(bool create) {
        HKEY key = nullptr;
        LONG r = create
                     ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSerialComm, 0, nullptr,
                                       REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr)
                     : RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialComm, 0, KEY_ALL_ACCESS, &key);
        return r == ERROR_SUCCESS ? key : nullptr;
    }
    static std::vector<TValue> Values(HKEY key) {
        std::vector<TValue> out;
        for (DWORD i = 0;; ++i) {
            wchar_t name[16384];
            DWORD nameLen = 16384, type = 0, size = 65536;
            std::vector<BYTE> data(size);
            if (RegEnumValueW(key, i, name, &nameLen, nullptr, &type, data.data(), &size) !=
                ERROR_SUCCESS)
                break;
            data.resize(size);
            out.push_back({std::wstring(name, nameLen), type, data});
        }
        return out;
    }
    static void Set(HKEY key, const TValue& v) {
        if (!key) return;
        RegSetValueExW(key, v.Name.c_str(), 0, v.Type, v.Data.data(), DWORD(v.Data.size()));
    }
    static void Clear() {
        HKEY key = Open(false);
        if (!key) return;
        for (const auto& v : Values(key)) RegDeleteValueW(key, v.Name.c_str());
        RegCloseKey(key);
    }

    std::vector<TValue> saved_;
};

std::vector<std::u16string> Names(const TPortArray& ports) {
    std::vector<std::u16string> n;
    for (const auto& p : ports) n.push_back(p.Name);
    return n;
}

}  // namespace

TEST(Ports, SplitFriendlyNameAtTheLastParenthesis) {
    struct Case {
        const char16_t* text;
        bool ok;
        const char16_t* port;
        const char16_t* device;
    };
    const Case cases[] = {
        {u"USB Serial Device (COM3)", true, u"COM3", u"USB Serial Device"},
        {u"USB-to-Serial Comm Port (COM5)", true, u"COM5", u"USB-to-Serial Comm Port"},
        {u"Bluetooth (Standard) link (COM7)", true, u"COM7", u"Bluetooth (Standard) link"},
        {u"  Padded\t (com12) trailing", true, u"com12", u"Padded"},
        {u"(COM1)", true, u"COM1", u""},
        {u"Odd (COM 4 extra)", true, u"COM 4 extra", u"Odd"},
        {u"Printer (LPT1)", false, u"", u""},
        {u"Modem (COM4) (LPT2)", false, u"", u""},  // only the last parenthesis counts
        {u"No parenthesis", false, u"", u""},
        {u"Open only (COM3", false, u"", u""},
        {u"Close before ) open (CO", false, u"", u""},
        {u"Short (CO)", false, u"", u""},
        {u"", false, u"", u""},
    };
    for (const Case& c : cases) {
        std::u16string port = u"untouched", device = u"untouched";
        const bool ok = SplitFriendlyName(c.text, port, device);
        EXPECT_EQ(ok, c.ok) << Utf16ToUtf8(c.text);
        if (ok && c.ok) {
            EXPECT_EQ(port, c.port) << Utf16ToUtf8(c.text);
            EXPECT_EQ(device, c.device) << Utf16ToUtf8(c.text);
        }
    }
}

TEST(Ports, FriendlyNamesMergeIntoMatchingPorts) {
    TPortArray ports = {{u"COM5", u""}, {u"COM4", u""}, {u"COM7", u""},
                        {u"com5", u""}, {u"COM3", u""}, {u"COM8", u""}};
    ApplyFriendlyNames(
        ports, {u"USB-to-Serial Comm Port (COM5)", u"Modem A/B (COM4)",
                u"Bluetooth (Standard) link (COM7)", u"Printer (LPT1)", u"Absent device (COM99)",
                u"Unnamed", u"First (COM3)", u"Second (COM3)"});
    const TPortArray expect = {{u"COM5", u"USB-to-Serial Comm Port"},
                               {u"COM4", u"Modem A_B"},
                               {u"COM7", u"Bluetooth (Standard) link"},
                               {u"com5", u"USB-to-Serial Comm Port"},  // every match, any case
                               {u"COM3", u"Second"},                   // the later device wins
                               {u"COM8", u""}};
    ASSERT_EQ(ports.size(), expect.size()) << "a device without a port adds nothing";
    for (size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(ports[i].Name, expect[i].Name);
        EXPECT_EQ(ports[i].FriendlyName, expect[i].FriendlyName) << Utf16ToUtf8(ports[i].Name);
    }
}

TEST(Ports, ListingWithAFriendlyNameByDirectCalls) {
    // The whole path of the folder listing, SetupAPI's answer given by hand.
    TSerialComm map;
    map.AddPort(L"\\Device\\A", L"COM10");
    map.AddPort(L"\\Device\\B", L"COM3");
    kltest::TTempDir dir;
    const std::wstring ini = dir.File(L"kestrelink.ini");
    ASSERT_TRUE(kltest::WriteFileBytes(
        ini, "[Conn:b]\r\nHost=hb\r\n[Conn:A]\r\nHost=ha\r\n[Port:COM3]\r\nBaud=9600\r\n"));
    SetSettingsPath(U(ini.c_str()));

    TPortArray ports = ReadRegistryPorts();
    ApplyFriendlyNames(ports, {u"Arduino Uno (COM3)"});
    SortPortsByNumber(ports);
    const TNameArray listing = ComposeListing(ManageEntryName(), ports, ListConnections());
    const TNameArray expect = {u"[ Manage connections\u2026 ]", u"COM3  Arduino Uno", u"COM10",
                               u"TCP - A", u"TCP - b"};
    EXPECT_EQ(listing, expect);
}

TEST(Ports, EnumerationReadsTheDeviceMap) {
    TSerialComm map;
    // Values are walked in the registry's order, which Wine keeps by value name.
    map.AddPort(L"\\Device\\A", L"COM10");
    map.AddPort(L"\\Device\\B", L"COM2");
    map.AddPort(L"\\Device\\C", L"COM1");
    map.Add({L"\\Device\\D", REG_BINARY, {'C', 0, 'O', 0, 'M', 0, '9', 0, 0, 0}});
    map.Add({L"\\Device\\E", REG_EXPAND_SZ, SzValue(L"", L"COM8").Data});
    map.AddPort(L"\\Device\\F", L"COM2");  // duplicates are kept
    map.AddPort(L"\\Device\\G", L"");      // an empty name is no port
    map.AddPort(L"\\Device\\H", L"CNCA0");
    const auto current = TSerialComm::Current();
    ASSERT_EQ(current.size(), 8u);
    ASSERT_EQ(current[0].Name, L"\\Device\\A") << "enumeration order assumed by this test";

    EXPECT_EQ(Names(ReadRegistryPorts()),
              (std::vector<std::u16string>{u"COM10", u"COM2", u"COM1", u"COM2", u"CNCA0"}));
    const TPortArray ports = EnumeratePorts();
    EXPECT_EQ(Names(ports),
              (std::vector<std::u16string>{u"CNCA0", u"COM1", u"COM2", u"COM2", u"COM10"}));
    for (const auto& p : ports)  // Wine's SetupAPI knows no Ports devices
        EXPECT_EQ(p.FriendlyName, u"") << Utf16ToUtf8(p.Name);
}

TEST(Ports, OversizedValuesArePassedOverNotTheEndOfTheWalk) {
    TSerialComm map;
    map.AddPort(L"\\Device\\A", L"COM1");
    map.AddPort(L"\\Device\\B" + std::wstring(300, L'x'), L"COM2");  // name > 255 characters
    map.AddPort(L"\\Device\\C", L"COM" + std::wstring(300, L'7'));   // data > 510 bytes
    map.AddPort(L"\\Device\\D", L"COM" + std::wstring(252, L'4'));   // 510 bytes + NUL: too long
    map.AddPort(L"\\Device\\E", L"COM" + std::wstring(251, L'5'));   // 508 bytes + NUL: fits
    map.AddPort(L"\\Device\\F", L"COM9");
    ASSERT_EQ(TSerialComm::Current().size(), 6u);
    const auto names = Names(ReadRegistryPorts());
    EXPECT_EQ(names,
              (std::vector<std::u16string>{u"COM1", u"COM" + std::u16string(251, u'5'), u"COM9"}));
}

TEST(Ports, MissingOrEmptyDeviceMapGivesNoPorts) {
    TSerialComm map;
    EXPECT_TRUE(EnumeratePorts().empty());
    map.RemoveKey();
    EXPECT_TRUE(EnumeratePorts().empty());

    TPluginCopy plugin;  // no ports and no settings file: the manage entry alone
    WIN32_FIND_DATAW fd;
    kltest::THostBuf<wchar_t> root(std::wstring(L"\\"));
    HANDLE h = plugin.Proc<kltest::TFsFindFirstW>("FsFindFirstW")(root, &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::wstring(fd.cFileName), kltest::kManageW);
    EXPECT_EQ(plugin.Proc<kltest::TFsFindNextW>("FsFindNextW")(h, &fd), FALSE);
    EXPECT_EQ(plugin.Proc<kltest::TFsFindClose>("FsFindClose")(h), 0);
}

TEST(Ports, ExportsListPortsThenConnections) {
    TSerialComm map;
    map.AddPort(L"\\Device\\A", L"COM10");
    map.AddPort(L"\\Device\\B", L"COM3");
    TPluginCopy plugin("[Conn:b]\r\nHost=hb\r\n[Conn:A]\r\nHost=ha\r\nPort=2323\r\n");

    const auto wide = plugin.ListW();
    const std::vector<std::wstring> expect = {kltest::kManageW, L"COM3", L"COM10", L"TCP - A",
                                              L"TCP - b"};
    ASSERT_EQ(wide.size(), expect.size());
    const auto ansi = plugin.ListA();
    ASSERT_EQ(ansi.size(), expect.size());
    for (size_t i = 0; i < expect.size(); ++i) {
        EXPECT_EQ(std::wstring(wide[i].cFileName), expect[i]);
        // a port entry's size is its descriptor, which FsGetFileW writes
        const std::wstring local = plugin.File(L"entry" + std::to_wstring(i));
        ASSERT_EQ(plugin.GetFileW(L"\\" + expect[i], local, 0), 0) << i;
        EXPECT_EQ(wide[i].nFileSizeLow, kltest::ReadFileBytes(local).size()) << i;
        EXPECT_EQ(ansi[i].nFileSizeLow, wide[i].nFileSizeLow) << i;
        EXPECT_EQ(std::string(ansi[i].cFileName), WideToAnsi(U(wide[i].cFileName))) << i;
    }
    // Each listing enumerates afresh.
    map.AddPort(L"\\Device\\C", L"COM1");
    const auto again = plugin.NamesW();
    ASSERT_EQ(again.size(), 6u);
    EXPECT_EQ(again[1], L"COM1");
}

// The stand-in host borrows the device map for its demo ports (so its test
// lives here, with the other users of the map). However it ends, the map and
// the temporary folder must be as they were before it ran.
TEST(Ports, StandInHostPutsTheDeviceMapBackWhenItGivesUp) {
    TSerialComm map;
    map.AddPort(L"\\Device\\Mine", L"COM42");
    const std::wstring dll = kltest::DllPath();
    const std::wstring host = dll.substr(0, dll.rfind(L'\\') + 1) + L"kl_host.exe";
    if (!kltest::FileExists(host)) GTEST_SKIP() << "kl_host.exe is not built";
    // This test program as the "plugin": it loads, but has none of the exports.
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + host + L"\" \"" + self + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(host.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &si, &pi));
    if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 2);
        WaitForSingleObject(pi.hProcess, 5000);
        ADD_FAILURE() << "kl_host did not end";
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(code, 1u) << "a module without the exports is an error";

    const auto now = TSerialComm::Current();
    ASSERT_EQ(now.size(), 1u) << "demo ports left behind, or the own port lost";
    EXPECT_EQ(now[0].Name, L"\\Device\\Mine");
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring scratch = std::wstring(temp) + L"kl_host-" + std::to_wstring(pi.dwProcessId);
    EXPECT_FALSE(kltest::FileExists(scratch)) << "scratch folder left behind";
}
