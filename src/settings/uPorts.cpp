#include "settings/uPorts.h"

#include <windows.h>

#include <setupapi.h>

#include <cstring>

#include "base/uText.h"
#include "base/uWin.h"

// The walk hands this structure to SetupAPI by size; both builds must agree
// with the layout Windows expects.
static_assert(sizeof(SP_DEVINFO_DATA) == (sizeof(void*) == 8 ? 32 : 28), "SP_DEVINFO_DATA layout");

namespace {

constexpr wchar_t kSerialCommKey[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
// {4D36E978-E325-11CE-BFC1-08002BE10318}: the Ports (COM & LPT) device class
constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

constexpr DWORD kValueNameChars = 256;
constexpr DWORD kValueDataBytes = 512;  // two bytes stay zero: the data always ends in NUL
constexpr DWORD kFriendlyNameBytes = 1024;

}  // namespace

TPortArray ReadRegistryPorts() {
    TPortArray ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0;; ++index) {
        wchar_t name[kValueNameChars];
        DWORD nameLen = kValueNameChars;
        wchar_t data[kValueDataBytes / sizeof(wchar_t)] = {};
        DWORD dataLen = kValueDataBytes - sizeof(wchar_t);
        DWORD type = 0;
        const LONG r = RegEnumValueW(key, index, name, &nameLen, nullptr, &type,
                                     reinterpret_cast<BYTE*>(data), &dataLen);
        // A value too long for the buffers is passed over, not taken as the
        // end: one odd driver entry must not hide the ports listed after it.
        if (r == ERROR_MORE_DATA) continue;
        if (r != ERROR_SUCCESS) break;
        if (type != REG_SZ || data[0] == 0) continue;
        ports.push_back({U(data), {}});
    }
    RegCloseKey(key);
    return ports;
}

std::vector<std::u16string> ReadDeviceFriendlyNames() {
    std::vector<std::u16string> names;
    HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return names;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device;
        std::memset(&device, 0, sizeof device);
        device.cbSize = sizeof device;
        if (!SetupDiEnumDeviceInfo(set, index, &device)) break;
        wchar_t buf[kFriendlyNameBytes / sizeof(wchar_t)] = {};
        if (!SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                               reinterpret_cast<BYTE*>(buf),
                                               kFriendlyNameBytes - sizeof(wchar_t), nullptr))
            continue;
        names.push_back(U(buf));
    }
    SetupDiDestroyDeviceInfoList(set);
    return names;
}

bool SplitFriendlyName(std::u16string_view text, std::u16string& port, std::u16string& device) {
    const size_t open = text.rfind(u'(');
    if (open == std::u16string_view::npos) return false;
    const size_t close = text.find(u')', open);
    if (close == std::u16string_view::npos) return false;
    const std::u16string_view inner = text.substr(open + 1, close - open - 1);
    if (!StartsWithI(inner, u"COM")) return false;
    port.assign(inner);
    device = Trim(text.substr(0, open));
    return true;
}

void ApplyFriendlyNames(TPortArray& ports, const std::vector<std::u16string>& friendlyNames) {
    std::u16string port, device;
    for (const auto& text : friendlyNames) {
        if (!SplitFriendlyName(text, port, device)) continue;
        const std::u16string clean = SanitizeFriendlyName(device);
        for (auto& p : ports)
            if (SameTextI(p.Name, port)) p.FriendlyName = clean;
    }
}

TPortArray EnumeratePorts() {
    TPortArray ports = ReadRegistryPorts();
    if (!ports.empty()) ApplyFriendlyNames(ports, ReadDeviceFriendlyNames());
    SortPortsByNumber(ports);
    return ports;
}
