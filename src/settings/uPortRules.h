// Serial ports as the virtual folder lists them, and the rules that do not
// need Windows: the port number used for ordering, the stable sort by it, and
// the cleaning of device names that end up inside the host's file names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TPortInfo {
    std::u16string Name;          // exactly as the registry gives it, e.g. COM3
    std::u16string FriendlyName;  // device name without "(COMn)", or empty

    bool operator==(const TPortInfo&) const = default;
};

using TPortArray = std::vector<TPortInfo>;

// The decimal digits of the text read as one number, everything else skipped:
// COM3 -> 3, COM12 -> 12, a name without digits -> 0. Wraps modulo 2^32.
uint32_t PortNumber(std::u16string_view text);

// Stable ascending insertion sort by PortNumber of Name: ports with equal
// numbers keep their registry order.
void SortPortsByNumber(TPortArray& ports);

// Characters that cannot stand in a file name (\ / : * ? " < > | and every
// control character) become "_".
std::u16string SanitizeFriendlyName(std::u16string_view text);
