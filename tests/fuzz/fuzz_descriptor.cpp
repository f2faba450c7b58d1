// Descriptor files come from disk and reach ListLoad from any program that can
// write a file, so the parser sees arbitrary bytes. Beyond not crashing, a
// parsed record must survive formatting and parsing again unchanged, whenever
// none of its texts holds a line break (which formatting turns into spaces).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "plugin/uDescriptor.h"

namespace {

bool HasLineBreak(const std::u16string& s) {
    return s.find(u'\r') != std::u16string::npos || s.find(u'\n') != std::u16string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TDescriptor d;
    const bool valid = ParseDescriptor(bytes, d);
    if (!valid) return 0;
    if (HasLineBreak(d.Target) || HasLineBreak(d.Display) || HasLineBreak(d.Host) ||
        HasLineBreak(d.Ini))
        return 0;
    const std::string again = FormatDescriptor(d);
    if (again.compare(0, kDescriptorMagic.size(), kDescriptorMagic) != 0) std::abort();
    TDescriptor back;
    if (!ParseDescriptor(again, back) || !(back == d)) std::abort();
    if (FormatDescriptor(back) != again) std::abort();
    return 0;
}
