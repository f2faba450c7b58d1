#include "settings/uPortRules.h"

#include <utility>

uint32_t PortNumber(std::u16string_view text) {
    uint32_t n = 0;
    for (char16_t c : text)
        if (c >= u'0' && c <= u'9') n = n * 10u + uint32_t(c - u'0');
    return n;
}

void SortPortsByNumber(TPortArray& ports) {
    for (size_t i = 1; i < ports.size(); ++i) {
        TPortInfo item = std::move(ports[i]);
        const uint32_t key = PortNumber(item.Name);
        size_t j = i;
        while (j > 0 && PortNumber(ports[j - 1].Name) > key) {
            ports[j] = std::move(ports[j - 1]);
            --j;
        }
        ports[j] = std::move(item);
    }
}

std::u16string SanitizeFriendlyName(std::u16string_view text) {
    static constexpr std::u16string_view kUnsafe = u"\\/:*?\"<>|";
    std::u16string r(text);
    for (auto& c : r)
        if (c < 32 || kUnsafe.find(c) != std::u16string_view::npos) c = u'_';
    return r;
}
