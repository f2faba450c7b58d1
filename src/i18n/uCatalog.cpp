#include "i18n/uCatalog.h"

#include "base/uText.h"
#include "settings/uSettingsRules.h"

namespace {

constexpr char16_t kBom = u'\uFEFF';
constexpr std::u16string_view kStringsSection = u"strings";
constexpr std::u16string_view kIniSuffix = u".ini";

bool IsCommentStart(char16_t c) { return c == u'#' || c == u';'; }
bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

void ParseLine(std::u16string_view rawLine, bool& inStrings, TTable& out) {
    const std::u16string line = Trim(rawLine);
    if (line.empty() || IsCommentStart(line[0])) return;
    if (line[0] == u'[') {
        const size_t close = line.find(u']');
        // A header without "]" is not a header; the current section goes on.
        if (close != std::u16string::npos)
            inStrings = AsciiLower(line.substr(1, close - 1)) == kStringsSection;
        return;
    }
    if (!inStrings) return;
    const size_t eq = line.find(u'=');
    if (eq == std::u16string::npos || eq == 0) return;
    std::string key = Utf16ToUtf8(Trim(std::u16string_view(line).substr(0, eq)));
    if (key.empty()) return;
    out.push_back({std::move(key), Unescape(std::u16string_view(line).substr(eq + 1))});
}

}  // namespace

TTable ParseCatalog(std::string_view bytes) { return ParseCatalogText(Utf8ToUtf16(bytes)); }

TTable ParseCatalogText(std::u16string_view text) {
    if (!text.empty() && text[0] == kBom) text.remove_prefix(1);
    TTable out;
    bool inStrings = false;
    while (!text.empty()) {
        const size_t lf = text.find(u'\n');
        const std::u16string_view line = text.substr(0, lf);
        ParseLine(line, inStrings, out);
        if (lf == std::u16string_view::npos) break;
        text.remove_prefix(lf + 1);
    }
    return out;
}

std::u16string StripTrailingComment(std::u16string_view text) {
    bool inQuotes = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'\\') {
            ++i;  // an escaped quote must not toggle the quoting
        } else if (c == u'"') {
            inQuotes = !inQuotes;
        } else if (!inQuotes && IsCommentStart(c) && i > 0 && IsBlank(text[i - 1])) {
            return Trim(text.substr(0, i));
        }
    }
    return std::u16string(text);
}

std::u16string Unescape(std::u16string_view raw) {
    std::u16string v = StripTrailingComment(Trim(raw));
    if (v.size() >= 2 && v.front() == u'"' && v.back() == u'"') v = v.substr(1, v.size() - 2);
    std::u16string out;
    out.reserve(v.size());
    for (size_t i = 0; i < v.size(); ++i) {
        const char16_t c = v[i];
        if (c != u'\\' || i + 1 == v.size()) {
            out.push_back(c);
            continue;
        }
        const char16_t next = v[++i];
        switch (next) {
            case u'n':
                out += u"\r\n";
                break;
            case u't':
                out.push_back(u'\t');
                break;
            case u'\\':
                out.push_back(u'\\');
                break;
            case u'"':
                out.push_back(u'"');
                break;
            default:
                out.push_back(u'\\');
                out.push_back(next);
                break;
        }
    }
    return out;
}

std::u16string_view LookupValue(const TTable& table, std::string_view key) {
    for (auto it = table.rbegin(); it != table.rend(); ++it)
        if (it->Key == key) return it->Value;
    return {};
}

std::u16string FormatPlaceholders(std::u16string_view tmpl,
                                  std::span<const std::u16string_view> args) {
    std::u16string out;
    out.reserve(tmpl.size());
    size_t i = 0;
    while (i < tmpl.size()) {
        const char16_t c = tmpl[i];
        if (c != u'{') {
            out.push_back(c);
            ++i;
            continue;
        }
        size_t j = i + 1;
        size_t index = 0;
        bool tooBig = false;
        while (j < tmpl.size() && tmpl[j] >= u'0' && tmpl[j] <= u'9') {
            // Saturate instead of wrapping, so "{18446744073709551616}" can
            // never come out as "{0}".
            if (index > args.size())
                tooBig = true;
            else
                index = index * 10 + size_t(tmpl[j] - u'0');
            ++j;
        }
        if (j > i + 1 && j < tmpl.size() && tmpl[j] == u'}' && !tooBig && index < args.size()) {
            out += args[index];
            i = j + 1;
        } else {
            out.push_back(u'{');
            ++i;
        }
    }
    return out;
}

std::u16string CatalogCodeFromFileName(std::u16string_view fileName) {
    if (fileName.size() < kIniSuffix.size()) return {};
    const size_t stem = fileName.size() - kIniSuffix.size();
    if (AsciiLower(fileName.substr(stem)) != kIniSuffix) return {};
    std::u16string code = AsciiLower(fileName.substr(0, stem));
    return IsValidLanguageCode(code) ? code : std::u16string();
}

TCatalogList InitialCatalogList() {
    return {TCatalog{std::u16string(kEnglishCode), std::u16string(kEnglishName), {}}};
}

void AddCatalog(TCatalogList& list, const std::u16string& code, TTable entries) {
    TCatalog* target = nullptr;
    for (auto& c : list)
        if (c.Code == code) {
            target = &c;
            break;
        }
    if (!target) target = &list.emplace_back();
    target->Code = code;
    target->Name = Trim(LookupValue(entries, kLanguageNameKey));
    if (target->Name.empty())
        target->Name = code == kEnglishCode ? std::u16string(kEnglishName) : code;
    target->Entries = std::move(entries);
}

size_t FindCatalog(const TCatalogList& list, std::u16string_view language) {
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].Code == language) return i;
    return 0;
}
