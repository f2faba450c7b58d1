// The descriptor: the small UTF-8 text file through which an entry of the
// virtual folder reaches the lister side. The host copies an entry out with
// FsGetFile, matches the first eleven bytes ("KESTRELINK1") against the lister
// detect string and hands the file to ListLoad, which parses it again. The
// byte format is shared with other copies of the library, so it never changes:
//
//   KESTRELINK1 CR LF
//   kind=<0 serial | 1 TCP | 2 manage> CR LF
//   target=, display=, host= (text) CR LF
//   port=, mode= (decimal) CR LF
//   ini=<settings file> CR LF
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::string_view kDescriptorMagic = "KESTRELINK1";
inline constexpr std::u16string_view kManageTarget = u"manage";

enum : int32_t { kKindSerial = 0, kKindTcp = 1, kKindManage = 2 };

struct TDescriptor {
    int32_t Kind = 0;
    std::u16string Target;   // port name, connection name or "manage"
    std::u16string Display;  // terminal title; empty for the manage entry
    std::u16string Host;
    int32_t Port = 0;
    int32_t Mode = 0;
    std::u16string Ini;  // settings file the entry was listed from

    bool operator==(const TDescriptor&) const = default;
};

// The eight lines as UTF-8. A CR or LF inside a value (a registry port name
// can hold anything) is written as a space, so a value can never add a line.
std::string FormatDescriptor(const TDescriptor& d);

// Reads what FormatDescriptor writes, tolerating LF-only endings, extra CRs,
// unknown keys and repeated keys (the last wins). True only for a usable
// descriptor: the exact magic line, a Target, and kind 0; kind 1 with a Host;
// or kind 2 with the Target "manage". d receives what was read either way.
bool ParseDescriptor(std::string_view bytes, TDescriptor& d);

// "TCP " + name + " (" + host + ":" + port + ")", the title of a TCP terminal.
std::u16string TcpDisplayName(std::u16string_view name, std::u16string_view host, int32_t port);
