#include "settings/uSettingsRules.h"

#include <algorithm>

#include "base/uText.h"

namespace {

int32_t InRangeOr(int32_t v, int32_t lo, int32_t hi, int32_t fallback) {
    return (v < lo || v > hi) ? fallback : v;
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
}

}  // namespace

TSessionSettings DefaultSessionSettings() { return TSessionSettings{}; }

int32_t ClampHistoryLines(int32_t n) {
    if (n < kMinHistoryLines) return kMinHistoryLines;
    if (n > kMaxHistoryLines) return kMaxHistoryLines;
    return n;
}

void ApplySessionReadRules(TSessionSettings& s) {
    const TSessionSettings d;
    s.Baud = InRangeOr(s.Baud, kMinBaud, kMaxBaud, d.Baud);
    s.DataBits = InRangeOr(s.DataBits, kMinDataBits, kMaxDataBits, d.DataBits);
    s.StopBits = InRangeOr(s.StopBits, 0, kMaxStopBitsCode, d.StopBits);
    s.Parity = InRangeOr(s.Parity, 0, kMaxParityCode, d.Parity);
    s.Flow = InRangeOr(s.Flow, kFlowNone, kFlowDtrDsr, d.Flow);
    s.Charset = InRangeOr(s.Charset, 0, 2, 0);
    s.RxNewline = InRangeOr(s.RxNewline, 0, 3, 0);
    s.TxNewline = InRangeOr(s.TxNewline, 0, 3, 3);
    s.HistoryLines = ClampHistoryLines(s.HistoryLines);
}

int32_t NormalizeConnMode(int32_t mode) {
    return InRangeOr(mode, kModeRaw, kModeTelnetFilter, kModeTelnet);
}

void ApplySendFileReadRules(TSendFileSettings& s) {
    s.Protocol = InRangeOr(s.Protocol, 0, kMaxSendProtocol, 0);
    s.CharDelayMs = s.CharDelayMs < 0 ? 0 : std::min(s.CharDelayMs, kMaxSendCharDelayMs);
    s.LineDelayMs = s.LineDelayMs < 0 ? 0 : std::min(s.LineDelayMs, kMaxSendLineDelayMs);
}

std::u16string PortSection(std::u16string_view port) { return u"Port:" + std::u16string(port); }
std::u16string ConnSection(std::u16string_view name) { return u"Conn:" + std::u16string(name); }
std::u16string SessionSection(int32_t kind, std::u16string_view target) {
    return kind == 1 ? ConnSection(target) : PortSection(target);
}

bool IsValidLanguageCode(std::u16string_view code) {
    if (code.empty() || code.size() > 63) return false;
    for (char16_t c : code) {
        const bool ok = c == u'-' || c == u'_' || (c >= u'0' && c <= u'9') ||
                        (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
        if (!ok) return false;
    }
    return true;
}

std::u16string NormalizeLanguage(std::u16string_view raw) {
    auto code = AsciiLower(Trim(raw));
    return IsValidLanguageCode(code) ? code : u"en";
}

bool IsExactTheme(std::u16string_view theme) {
    return theme == u"auto" || theme == u"light" || theme == u"dark";
}

std::u16string NormalizeTheme(std::u16string_view raw) {
    auto theme = AsciiLower(Trim(raw));
    return (theme == u"light" || theme == u"dark") ? theme : u"auto";
}

std::u16string NormalizeFontName(std::u16string_view raw) {
    auto face = Trim(raw);
    return face.empty() ? u"Consolas" : face;
}

int32_t NormalizeFontSize(int32_t size) { return InRangeOr(size, 6, 72, 10); }

bool IsValidFontSettings(std::u16string_view face, int32_t size) {
    return !Trim(face).empty() && face.size() < 32 && size >= 6 && size <= 72;
}

int32_t NormalizeHexBytesPerLine(int32_t n) { return InRangeOr(n, 1, 64, 24); }

bool ParseColor(std::u16string_view text, TColorRef& color) {
    const auto t = Trim(text);
    if (t.size() != 7 || t[0] != u'#') return false;
    uint32_t rgb = 0;
    for (size_t i = 1; i < 7; ++i) {
        const int d = HexDigit(t[i]);
        if (d < 0) return false;
        rgb = (rgb << 4) | uint32_t(d);
    }
    // 0xRRGGBB in the text, 0x00BBGGRR in a COLORREF
    color = ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
    return true;
}

std::u16string ColorToHex(TColorRef color) {
    std::u16string s = u"#";
    for (int shift : {0, 8, 16}) AppendHexByte(s, uint8_t(color >> shift));
    return s;
}

bool HasForbiddenNameChar(std::u16string_view name) {
    return name.find_first_of(u"[]=\\/:*?\"<>|") != std::u16string_view::npos;
}

TWindowPlacement FixWindowPlacement(TWindowPlacement p, int32_t vx, int32_t vy, int32_t vw,
                                    int32_t vh) {
    if (p.Width < 640 || p.Height < 320) {
        p.Width = 960;
        p.Height = 620;
    }
    // 64-bit sums: stored values are arbitrary integers from the file
    const int64_t left = p.Left, top = p.Top;
    if (left < int64_t(vx) - 200 || left > int64_t(vx) + vw - 100) p.Left = 100;
    if (top < int64_t(vy) || top > int64_t(vy) + vh - 100) p.Top = 100;
    return p;
}

int32_t NormalizeLogFormat(int32_t format) {
    return InRangeOr(format, kLogFormatText, kLogFormatRaw, kLogFormatText);
}

std::u16string NormalizeLogFolder(std::u16string_view raw) {
    std::u16string folder = Trim(raw);
    return folder.empty() ? std::u16string(kDefaultLogFolder) : folder;
}

namespace {

bool IsAsciiLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }
bool HasDrive(std::u16string_view p) {
    return p.size() >= 2 && IsAsciiLetter(p[0]) && p[1] == u':';
}

}  // namespace

bool IsValidLogFolder(std::u16string_view folder) {
    const std::u16string f = Trim(folder);
    if (f.size() > kMaxLogFolderLength) return false;
    for (size_t i = 0; i < f.size(); ++i) {
        const char16_t c = f[i];
        if (c < 32 || c == u'<' || c == u'>' || c == u'"' || c == u'|' || c == u'?' || c == u'*')
            return false;
        if (c == u':' && !(i == 1 && IsAsciiLetter(f[0]))) return false;
    }
    return true;
}

std::u16string ResolveLogFolder(std::u16string_view settingsPath, std::u16string_view folder) {
    std::u16string f = NormalizeLogFolder(folder);
    for (char16_t& c : f)
        if (c == u'/') c = u'\\';
    std::u16string path;
    if (HasDrive(f) || f.starts_with(u"\\\\")) {
        path = f;
        // "D:logs" names a folder relative to a current directory the plugin
        // does not control; the drive's root is what the user means.
        if (HasDrive(path) && (path.size() == 2 || path[2] != u'\\')) path.insert(2, u"\\");
    } else {
        std::u16string base(settingsPath);
        for (char16_t& c : base)
            if (c == u'/') c = u'\\';
        if (f.starts_with(u'\\')) {
            // the root of the settings file's drive (or share)
            if (HasDrive(base)) {
                path = base.substr(0, 2) + f;
            } else if (base.starts_with(u"\\\\")) {
                size_t end = base.find(u'\\', 2);
                if (end != std::u16string::npos) end = base.find(u'\\', end + 1);
                path = base.substr(0, end) + f;
            } else {
                path = f;
            }
        } else {
            const size_t slash = base.rfind(u'\\');
            path =
                (slash == std::u16string::npos ? std::u16string() : base.substr(0, slash + 1)) + f;
        }
    }
    while (path.size() > 1 && IsSeparator(path.back()) && !(path.size() == 3 && HasDrive(path)))
        path.pop_back();
    return path;
}
