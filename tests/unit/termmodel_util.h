// Small helpers shared by the terminal model tests.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "terminal/uTermModel.h"

namespace tm_test {

inline void Feed(TTermModel& m, std::string_view s) { m.Feed(s.data(), int32_t(s.size())); }

inline std::u16string A(std::string_view s) { return std::u16string(s.begin(), s.end()); }

inline std::vector<std::u16string> Lines(const TTermModel& m) {
    std::vector<std::u16string> out;
    for (int32_t i = 0; i < m.LineCount(); ++i) out.push_back(m.LineText(i));
    return out;
}

inline std::vector<std::u16string> A(std::initializer_list<const char*> lines) {
    std::vector<std::u16string> out;
    for (const char* l : lines) out.push_back(A(l));
    return out;
}

// Readable failure messages for UTF-16 text: non-ASCII as \uXXXX.
inline std::string Show(std::u16string_view s) {
    std::string out;
    for (char16_t c : s) {
        if (c >= 0x20 && c < 0x7F) {
            out += char(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", unsigned(c));
            out += buf;
        }
    }
    return out;
}

inline std::string Show(const std::vector<std::u16string>& lines) {
    std::string out = "[";
    for (size_t i = 0; i < lines.size(); ++i) out += (i ? ", \"" : "\"") + Show(lines[i]) + "\"";
    return out + "]";
}

// A clock the test moves by hand.
struct TFakeClock {
    TDateTime now = 45000.5;
    TClock Fn() {
        return [this] { return now; };
    }
};

}  // namespace tm_test
