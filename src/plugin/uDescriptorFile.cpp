#include "plugin/uDescriptorFile.h"

#include <windows.h>

#include "base/uWin.h"
#include "plugin/uDescriptor.h"
#include "plugin/uFolder.h"
#include "plugin/uHostApi.h"
#include "settings/uSettings.h"

bool BuildDescriptorForEntry(std::u16string_view name, std::string& bytes) {
    TDescriptor d;
    d.Ini = SettingsPath();
    const TClassifiedEntry entry = ClassifyEntry(name);
    switch (entry.Class) {
        case TEntryClass::Manage:
            d.Kind = kKindManage;
            d.Target = kManageTarget;
            break;
        case TEntryClass::Port:
            d.Kind = kKindSerial;
            d.Target = entry.Target;
            d.Display = entry.Display;
            break;
        case TEntryClass::Connection: {
            TConnInfo conn;
            if (!LoadConnection(entry.Target, conn)) return false;
            d.Kind = kKindTcp;
            d.Target = entry.Target;
            d.Display = TcpDisplayName(entry.Target, conn.Host, conn.Port);
            d.Host = conn.Host;
            d.Port = conn.Port;
            d.Mode = conn.Mode;
            break;
        }
        case TEntryClass::Other:
            return false;
    }
    bytes = FormatDescriptor(d);
    return true;
}

bool ReadDescriptorFile(std::u16string_view path, std::string& bytes) {
    bytes.clear();
    const std::u16string p(path);
    THandle file(CreateFileW(W(p), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return false;
    DWORD high = 0;
    const DWORD size = GetFileSize(file.Get(), &high);
    // A file of 4 GiB and more must not pass for its low 32 bits.
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    if (high != 0 || size == 0 || size > kMaxDescriptorFileBytes) return false;
    std::string data(size, '\0');
    DWORD got = 0;
    if (!ReadFile(file.Get(), data.data(), size, &got, nullptr) || got != size) return false;
    bytes = std::move(data);
    return true;
}

int GetEntryFile(std::u16string_view remoteName, std::u16string_view localName, int copyFlags) {
    // Moving would delete the entry from the folder; ports and connections
    // are not files that can leave it.
    if (copyFlags & kFsCopyFlagMove) return kFsFileNotSupported;
    std::string bytes;
    if (!BuildDescriptorForEntry(StripLeadingBackslashes(remoteName), bytes))
        return kFsFileNotSupported;
    const std::u16string local(localName);
    if (GetFileAttributesW(W(local)) != INVALID_FILE_ATTRIBUTES &&
        !(copyFlags & kFsCopyFlagOverwrite))
        return kFsFileExists;
    THandle file(CreateFileW(W(local), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return kFsFileWriteError;
    DWORD put = 0;
    if (!WriteFile(file.Get(), bytes.data(), DWORD(bytes.size()), &put, nullptr) ||
        put != bytes.size())
        return kFsFileWriteError;
    return kFsFileOk;
}
