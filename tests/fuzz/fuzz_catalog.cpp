// Catalog files come from whoever can write beside the library; every byte
// sequence must parse without fault. Beyond crashes this checks what callers
// rely on: keys are never empty and never hold "=" or a line break, line ends
// (LF or CR LF) do not change the result, the escape step never lengthens a
// value, and the placeholder filler leaves a template alone when no argument
// applies.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/uText.h"
#include "i18n/uCatalog.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

std::string WithCrLf(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 8);
    for (char c : s) {
        if (c == '\n') out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The file reader already refuses anything larger.
    if (bytes.size() > kMaxCatalogBytes) return 0;

    const TTable table = ParseCatalog(bytes);
    for (const TEntry& e : table) {
        Check(!e.Key.empty());
        Check(e.Key.find('=') == std::string::npos);
        Check(e.Key.find('\n') == std::string::npos);
        Check(static_cast<unsigned char>(e.Key.front()) > ' ' &&
              static_cast<unsigned char>(e.Key.back()) > ' ');
    }
    const TTable crlf = ParseCatalog(WithCrLf(bytes));
    Check(crlf.size() == table.size());
    for (size_t i = 0; i < table.size(); ++i)
        Check(crlf[i].Key == table[i].Key && crlf[i].Value == table[i].Value);

    const std::u16string text = Utf8ToUtf16(bytes);
    const std::u16string value = Unescape(text);
    Check(value.size() <= text.size());

    const std::u16string_view args[] = {u"A", u"{0}", u""};
    Check(FormatPlaceholders(text, {}) == text);
    const std::u16string filled = FormatPlaceholders(text, args);
    (void)filled;

    TCatalogList list = InitialCatalogList();
    AddCatalog(list, u"xx", table);
    Check(list.size() == 2 && !list[1].Name.empty());
    return 0;
}
