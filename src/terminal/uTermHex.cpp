// TTermModel's hex dump of the kept raw bytes, and the time helpers: the
// portable default clock and the timestamp prefix of a line.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>

#include "base/uText.h"
#include "terminal/uTermModel.h"

namespace {

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

constexpr int64_t kUnixEpochSerial = 25569;  // 1970-01-01 as days since 1899-12-30
constexpr int64_t kMsPerDay = 86400000;

void Append2(std::u16string& s, int64_t v) {
    s.push_back(char16_t(u'0' + v / 10));
    s.push_back(char16_t(u'0' + v % 10));
}

}  // namespace

TDateTime LocalNow() {
    using namespace std::chrono;
    const int64_t ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    int64_t secs = ms / 1000, msec = ms % 1000;
    if (msec < 0) {
        msec += 1000;
        --secs;
    }
    const std::time_t t = std::time_t(secs);
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    const int64_t days =
        DaysFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) + kUnixEpochSerial;
    const int64_t dayMs = ((tm.tm_hour * 60 + tm.tm_min) * 60 + tm.tm_sec) * 1000 + msec;
    return TDateTime(days) + TDateTime(dayMs) / TDateTime(kMsPerDay);
}

std::u16string FormatTimestamp(TDateTime t, char16_t sep) {
    // to the nearest millisecond, as the time was built from whole milliseconds
    int64_t ms = int64_t(std::llround(std::fabs(t) * TDateTime(kMsPerDay))) % kMsPerDay;
    std::u16string s;
    s.reserve(15);
    s.push_back(u'[');
    Append2(s, ms / 3600000);
    s.push_back(sep);
    Append2(s, ms / 60000 % 60);
    s.push_back(sep);
    Append2(s, ms / 1000 % 60);
    s.push_back(u'.');
    ms %= 1000;
    s.push_back(char16_t(u'0' + ms / 100));
    Append2(s, ms % 100);
    s += u"] ";
    return s;
}

int32_t TTermModel::HexLineCount() const {
    return (rawCount_ + hexBytesPerLine_ - 1) / hexBytesPerLine_;
}

std::u16string TTermModel::HexLine(int32_t i) const {
    const int64_t w = hexBytesPerLine_;
    const int64_t s = int64_t(i) * w;
    if (i < 0 || s >= rawCount_) return {};
    const int64_t n = std::min<int64_t>(w, rawCount_ - s);
    uint8_t bytes[64];
    int32_t got = 0;
    ForRaw(s, s + n, [&](const uint8_t* p, int32_t k) {
        std::memcpy(bytes + got, p, size_t(k));
        got += k;
    });

    std::u16string out;
    out.reserve(size_t(16 + 4 * w + 8));
    const uint64_t offset = uint64_t(rawBase_ + s);
    int digits = 8;
    while (digits < 16 && (offset >> (4 * digits)) != 0) ++digits;
    for (int d = digits - 1; d >= 0; --d) out.push_back(kHexDigits[(offset >> (4 * d)) & 15]);
    out += u"  ";
    for (int64_t j = 0; j < w; ++j) {
        if (j < n)
            AppendHexByte(out, bytes[j]);
        else
            out += u"  ";
        out.push_back(u' ');
        if (j % 8 == 7 && j < w - 1) out.push_back(u' ');
    }
    out.push_back(u' ');
    for (int64_t j = 0; j < n; ++j)
        out.push_back(bytes[j] >= 0x20 && bytes[j] <= 0x7E ? char16_t(bytes[j]) : u'.');
    return out;
}

std::u16string TTermModel::HexHeader(std::u16string_view label, int32_t width) {
    const int32_t w = std::clamp(width, 1, 64);
    std::u16string out(label.substr(0, 9));
    out.resize(10, u' ');
    for (int32_t j = 0; j < w; ++j) {
        AppendHexByte(out, uint8_t(j));
        out.push_back(u' ');
        if (j % 8 == 7 && j < w - 1) out.push_back(u' ');
    }
    out.push_back(u' ');
    for (int32_t j = 0; j < w; ++j) out.push_back(kHexDigits[j % 16]);
    return out;
}
