#include "plugin/uDescriptor.h"

#include <limits>

#include "base/uText.h"

namespace {

std::u16string OneLine(std::u16string_view value) {
    std::u16string r(value);
    for (auto& c : r)
        if (c == u'\r' || c == u'\n') c = u' ';
    return r;
}

// Optional sign and at least one decimal digit, nothing else, within 32 bits;
// anything else is not a number and reads as 0.
int32_t ParseInt(std::string_view s) {
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    if (i == s.size()) return 0;
    int64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return 0;
        v = v * 10 + (s[i] - '0');
        if (v > int64_t(std::numeric_limits<int32_t>::max()) + 1) return 0;
    }
    if (negative) v = -v;
    if (v > std::numeric_limits<int32_t>::max()) return 0;
    return int32_t(v);
}

void ApplyLine(std::string_view line, TDescriptor& d) {
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos || eq == 0) return;
    const std::string key = AsciiLower8(line.substr(0, eq));
    const std::string_view value = line.substr(eq + 1);
    if (key == "kind")
        d.Kind = ParseInt(value);
    else if (key == "port")
        d.Port = ParseInt(value);
    else if (key == "mode")
        d.Mode = ParseInt(value);
    else if (key == "target")
        d.Target = Utf8ToUtf16(value);
    else if (key == "display")
        d.Display = Utf8ToUtf16(value);
    else if (key == "host")
        d.Host = Utf8ToUtf16(value);
    else if (key == "ini")
        d.Ini = Utf8ToUtf16(value);
}

}  // namespace

std::string FormatDescriptor(const TDescriptor& d) {
    std::u16string text = FromAscii(kDescriptorMagic) + u"\r\n";
    auto line = [&text](std::u16string_view key, std::u16string_view value) {
        text.append(key).append(u"=").append(OneLine(value)).append(u"\r\n");
    };
    line(u"kind", IntToText(d.Kind));
    line(u"target", d.Target);
    line(u"display", d.Display);
    line(u"host", d.Host);
    line(u"port", IntToText(d.Port));
    line(u"mode", IntToText(d.Mode));
    line(u"ini", d.Ini);
    return Utf16ToUtf8(text);
}

bool ParseDescriptor(std::string_view bytes, TDescriptor& d) {
    d = TDescriptor{};
    bool first = true;
    size_t pos = 0;
    while (pos < bytes.size() || first) {
        size_t end = bytes.find('\n', pos);
        if (end == std::string_view::npos) end = bytes.size();
        std::string_view line = bytes.substr(pos, end - pos);
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos = end + 1;
        if (first) {
            if (line != kDescriptorMagic) return false;
            first = false;
            continue;
        }
        ApplyLine(line, d);
    }
    if (d.Target.empty()) return false;
    switch (d.Kind) {
        case kKindSerial:
            return true;
        case kKindTcp:
            return !d.Host.empty();
        case kKindManage:
            return d.Target == kManageTarget;
        default:
            return false;
    }
}

std::u16string TcpDisplayName(std::u16string_view name, std::u16string_view host, int32_t port) {
    std::u16string r = u"TCP ";
    r.append(name).append(u" (").append(host).append(u":").append(IntToText(port)).append(u")");
    return r;
}
