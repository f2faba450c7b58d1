#include "base/uWin.h"

#include <algorithm>
#include <atomic>

#include "base/uBarrier.h"

std::u16string AnsiToWide(const char* s) { return s ? AnsiToWide(std::string_view(s)) : u""; }

std::u16string AnsiToWide(std::string_view s, UINT codePage) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(codePage, 0, s.data(), int(s.size()), nullptr, 0);
    if (n <= 0) return {};
    std::u16string r(size_t(n), u'\0');
    MultiByteToWideChar(codePage, 0, s.data(), int(s.size()), reinterpret_cast<wchar_t*>(r.data()),
                        n);
    return r;
}

std::string WideToAnsi(std::u16string_view s, UINT codePage, DWORD flags) {
    if (s.empty()) return {};
    const auto* w = reinterpret_cast<const wchar_t*>(s.data());
    int n = WideCharToMultiByte(codePage, flags, w, int(s.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string r(size_t(n), '\0');
    n = WideCharToMultiByte(codePage, flags, w, int(s.size()), r.data(), n, nullptr, nullptr);
    r.resize(size_t(n > 0 ? n : 0));
    return r;
}

template <class C, class V>
static void CopyUnits(C* dst, int maxlen, V src) {
    if (!dst || maxlen <= 0) return;
    const size_t n = std::min(src.size(), size_t(maxlen - 1));
    std::copy_n(src.data(), n, dst);
    dst[n] = 0;
}

void CopyToBuffer(char* dst, int maxlen, std::string_view src) { CopyUnits(dst, maxlen, src); }
void CopyToBuffer(wchar_t* dst, int maxlen, std::u16string_view src) {
    CopyUnits(dst, maxlen, src);
}

int CompareTextI(std::u16string_view a, std::u16string_view b) {
    // An empty view may carry no storage, and CompareStringW refuses null
    // pointers; its failure result 0 must never read as "equal" either.
    static constexpr wchar_t kEmpty[] = L"";
    const int r = CompareStringW(
        LOCALE_USER_DEFAULT, NORM_IGNORECASE,
        a.empty() ? kEmpty : reinterpret_cast<const wchar_t*>(a.data()), int(a.size()),
        b.empty() ? kEmpty : reinterpret_cast<const wchar_t*>(b.data()), int(b.size()));
    if (r != 0) return r - CSTR_EQUAL;
    return a < b ? -1 : (b < a ? 1 : 0);
}

bool SameTextI(std::u16string_view a, std::u16string_view b) { return CompareTextI(a, b) == 0; }

bool StartsWithI(std::u16string_view s, std::u16string_view prefix) {
    return s.size() >= prefix.size() && SameTextI(s.substr(0, prefix.size()), prefix);
}

HMODULE ThisModule() {
    HMODULE h = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&ThisModule), &h);
    return h;
}

void PinModule() {
    static std::atomic<bool> pinned{false};
    if (pinned.exchange(true)) return;
    HMODULE h = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&PinModule), &h);
}

std::u16string ModuleDirectory() {
    wchar_t buf[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(ThisModule(), buf, MAX_PATH);
    std::u16string path = U(buf, std::min<DWORD>(n, MAX_PATH));
    const size_t slash = path.rfind(u'\\');
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
}

std::u16string SystemMessage(DWORD code) {
    wchar_t* buf = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    std::u16string text = n && buf ? U(buf, n) : std::u16string();
    if (buf) LocalFree(buf);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' '))
        text.pop_back();
    return text;
}

std::u16string GroupedNumber(int64_t value) {
    wchar_t sep[8] = {};
    const int n = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, sep, 8);
    const std::u16string separator = n > 1 ? U(sep, size_t(n - 1)) : u",";
    const bool negative = value < 0;
    uint64_t v = negative ? 0 - uint64_t(value) : uint64_t(value);
    std::u16string out;
    int digits = 0;
    do {
        if (digits > 0 && digits % 3 == 0) out.insert(0, separator);
        out.insert(out.begin(), char16_t(u'0' + v % 10));
        v /= 10;
        ++digits;
    } while (v);
    return negative ? u"-" + out : out;
}

void MoveChild(HWND child, int x, int y, int w, int h) {
    if (!child) return;
    RECT r;
    if (GetWindowRect(child, &r)) {
        MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
        wchar_t cls[16] = {};
        GetClassNameW(child, cls, 16);
        const bool combo = lstrcmpiW(cls, L"ComboBox") == 0;
        if (r.left == x && r.top == y && r.right - r.left == w &&
            (combo || r.bottom - r.top == h))
            return;
    }
    MoveWindow(child, x, y, w, h, TRUE);
}
