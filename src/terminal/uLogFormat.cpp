#include "terminal/uLogFormat.h"

#include <cmath>
#include <cstring>

#include "base/uText.h"

namespace {

constexpr int64_t kMsPerDay = 86400000;
constexpr int64_t kEpochToUnix = 25569;  // 1899-12-30 to 1970-01-01 in days

// Civil date of a day count from 1970-01-01 (proleptic Gregorian).
void CivilFromDays(int64_t z, int32_t& y, int32_t& m, int32_t& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = int32_t(doy - (153 * mp + 2) / 5 + 1);
    m = int32_t(mp < 10 ? mp + 3 : mp - 9);
    y = int32_t(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

template <class S>
void AppendDigits(S& out, int64_t v, int width) {
    typename S::value_type digits[20];
    for (int i = width - 1; i >= 0; --i, v /= 10) digits[i] = typename S::value_type('0' + v % 10);
    out.append(digits, size_t(width));
}

bool IsDeviceName(std::u16string_view s) {
    auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; };
    // Windows ignores trailing spaces when it compares device names.
    while (!s.empty() && s.back() == u' ') s.remove_suffix(1);
    std::u16string u;
    for (char16_t c : s) u.push_back(upper(c));
    if (u == u"CON" || u == u"PRN" || u == u"AUX" || u == u"NUL" || u == u"CONIN$" ||
        u == u"CONOUT$")
        return true;
    return u.size() == 4 && (u.starts_with(u"COM") || u.starts_with(u"LPT")) && u[3] >= u'1' &&
           u[3] <= u'9';
}

}  // namespace

TDateParts SplitDateTime(TDateTime t) {
    TDateParts p;
    if (!(t > 0)) return p;  // also NaN
    // Whole milliseconds, as the model's clock made them; the carry into the
    // next day comes with it.
    const int64_t ms = std::llround(t * double(kMsPerDay));
    int64_t dayMs = ms % kMsPerDay;
    CivilFromDays(ms / kMsPerDay - kEpochToUnix, p.Year, p.Month, p.Day);
    p.Millisecond = int32_t(dayMs % 1000);
    dayMs /= 1000;
    p.Second = int32_t(dayMs % 60);
    p.Minute = int32_t(dayMs / 60 % 60);
    p.Hour = int32_t(dayMs / 3600);
    return p;
}

void AppendLogStamp(std::string& out, TDateTime t) {
    const TDateParts p = SplitDateTime(t);
    AppendDigits(out, p.Year, 4);
    out.push_back('-');
    AppendDigits(out, p.Month, 2);
    out.push_back('-');
    AppendDigits(out, p.Day, 2);
    out.push_back(' ');
    AppendDigits(out, p.Hour, 2);
    out.push_back(':');
    AppendDigits(out, p.Minute, 2);
    out.push_back(':');
    AppendDigits(out, p.Second, 2);
    out.push_back('.');
    AppendDigits(out, p.Millisecond, 3);
    out.push_back(' ');
}

void AppendLogLine(std::string& out, std::u16string_view text, TDateTime t) {
    TLogLines().Append(out, text, t);
}

void TLogLines::Append(std::string& out, std::u16string_view text, TDateTime t) {
    if (t != time_ || stamp_.empty()) {
        stamp_.clear();
        AppendLogStamp(stamp_, t);
        time_ = t;
    }
    // Room for the line as if it were ASCII, filled through a pointer; the
    // first other character hands the rest to the general path.
    const size_t start = out.size();
    out.resize(start + kLogStampLength + text.size() + 2);
    char* d = out.data() + start;
    std::memcpy(d, stamp_.data(), kLogStampLength);
    d += kLogStampLength;
    size_t i = 0;
    for (; i < text.size() && text[i] < 0x80; ++i) *d++ = char(text[i]);
    if (i < text.size()) {
        out.resize(size_t(d - out.data()));
        for (; i < text.size(); ++i) {
            uint32_t c = text[i];
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                text[i + 1] <= 0xDFFF)
                c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
            else if (c >= 0xD800 && c <= 0xDFFF)
                c = 0xFFFD;
            AppendUtf8(out, c);
        }
        out += "\r\n";
        return;
    }
    *d++ = '\r';
    *d = '\n';
}

std::u16string SafeFileName(std::u16string_view name) {
    std::u16string s;
    for (char16_t c : name.substr(0, kLogNameMax)) {
        const bool bad = c < 32 || c == u'\\' || c == u'/' || c == u':' || c == u'*' || c == u'?' ||
                         c == u'"' || c == u'<' || c == u'>' || c == u'|';
        s.push_back(bad ? u'_' : c);
    }
    if (s.size() == kLogNameMax && s.back() >= 0xD800 && s.back() <= 0xDBFF) s.pop_back();
    for (size_t i = s.size(); i > 0 && (s[i - 1] == u'.' || s[i - 1] == u' '); --i) s[i - 1] = u'_';
    return s.empty() ? std::u16string(u"log") : s;
}

std::u16string LogFileStem(std::u16string_view entryName, TDateTime opened) {
    const TDateParts p = SplitDateTime(opened);
    std::u16string s = SafeFileName(entryName);
    s.push_back(u'_');
    AppendDigits(s, p.Year, 4);
    s.push_back(u'-');
    AppendDigits(s, p.Month, 2);
    s.push_back(u'-');
    AppendDigits(s, p.Day, 2);
    s.push_back(u'_');
    AppendDigits(s, p.Hour, 2);
    s.push_back(u'-');
    AppendDigits(s, p.Minute, 2);
    s.push_back(u'-');
    AppendDigits(s, p.Second, 2);
    // Windows takes the part before the first dot for the device name: the
    // date keeps a dotless stem clear of it, but not "nul.box_...".
    const size_t dot = s.find(u'.');
    if (dot != std::u16string::npos && IsDeviceName(std::u16string_view(s).substr(0, dot)))
        s.insert(dot, u"_");
    return s;
}

std::u16string LogFileName(std::u16string_view stem, int32_t number, bool raw) {
    std::u16string s(stem);
    if (number > 1) s += u"_" + IntToText(number);
    s += raw ? u".bin" : u".log";
    return s;
}
