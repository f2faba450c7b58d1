// Small Win32 helpers shared by every Windows module: the one place where
// char16_t text meets wchar_t, ANSI <-> UTF-16 conversion for the ANSI exports,
// locale-aware case-insensitive comparison, the module handle of this library,
// system error texts and a handle owner.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");

inline const wchar_t* W(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
}
inline const wchar_t* W(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
inline std::u16string U(const wchar_t* s) {
    return s ? std::u16string(reinterpret_cast<const char16_t*>(s)) : std::u16string();
}
inline std::u16string U(const wchar_t* s, size_t n) {
    return std::u16string(reinterpret_cast<const char16_t*>(s), n);
}

// Text from the host's ANSI code page; a null pointer is empty text.
std::u16string AnsiToWide(const char* s);
// Text of a given length (zeros included) from the ANSI code page or another.
std::u16string AnsiToWide(std::string_view s, UINT codePage = CP_ACP);
// Text to the ANSI code page (or another); characters it cannot hold become
// the system's default character, or a best-fit lookalike unless `flags`
// holds WC_NO_BEST_FIT_CHARS.
std::string WideToAnsi(std::u16string_view s, UINT codePage = CP_ACP, DWORD flags = 0);

// lstrcpyn semantics: at most maxlen - 1 units, always terminated when maxlen > 0.
void CopyToBuffer(char* dst, int maxlen, std::string_view src);
void CopyToBuffer(wchar_t* dst, int maxlen, std::u16string_view src);

// CompareStringW with the user's default locale and NORM_IGNORECASE.
// <0, 0, >0; should the call fail, the ordinal order of the units.
int CompareTextI(std::u16string_view a, std::u16string_view b);
bool SameTextI(std::u16string_view a, std::u16string_view b);
// The first n units of s equal prefix ignoring case (false when s is shorter).
bool StartsWithI(std::u16string_view s, std::u16string_view prefix);

// Stable ascending insertion sort with CompareTextI; equal names keep their order.
template <class T, class Key>
void InsertionSortI(T& items, Key key) {
    for (size_t i = 1; i < items.size(); ++i) {
        auto item = std::move(items[i]);
        size_t j = i;
        while (j > 0 && CompareTextI(key(items[j - 1]), key(item)) > 0) {
            items[j] = std::move(items[j - 1]);
            --j;
        }
        items[j] = std::move(item);
    }
}

// The module that holds this code: the plugin DLL when loaded by the host,
// the test program when linked into one.
HMODULE ThisModule();
// Directory of ThisModule() including the trailing backslash; empty when the
// module path has none.
std::u16string ModuleDirectory();

// FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM) text for a Windows or Windows
// Sockets error code, without the trailing line break.
std::u16string SystemMessage(DWORD code);

// Moves a child window to (x, y, w, h) in its parent's client coordinates,
// unless it is there already: each move is a round trip to the window
// manager and a repaint, so re-laying out a whole toolbar for one label that
// appeared must only cost the controls that really move. A combo box's h is
// its dropped-down height, which its window rectangle does not show, so for
// combo boxes only the position and width are compared.
void MoveChild(HWND child, int x, int y, int w, int h);

// Owns a kernel handle; INVALID_HANDLE_VALUE and NULL both mean "none".
class THandle {
public:
    THandle() = default;
    explicit THandle(HANDLE h) : h_(h) {}
    ~THandle() { Reset(); }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    THandle(THandle&& o) noexcept : h_(o.Release()) {}
    THandle& operator=(THandle&& o) noexcept {
        if (this != &o) Reset(o.Release());
        return *this;
    }
    HANDLE Get() const { return h_; }
    bool Valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
    HANDLE Release() {
        HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return h;
    }
    void Reset(HANDLE h = INVALID_HANDLE_VALUE) {
        if (Valid()) CloseHandle(h_);
        h_ = h;
    }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// Owns a GDI object (font, brush, bitmap); deleting a stock object is harmless,
// so a stock fallback may be held too.
template <class H>
class TGdiObject {
public:
    TGdiObject() = default;
    explicit TGdiObject(H h) : h_(h) {}
    ~TGdiObject() { Reset(); }
    TGdiObject(const TGdiObject&) = delete;
    TGdiObject& operator=(const TGdiObject&) = delete;
    H Get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    void Reset(H h = nullptr) {
        if (h_ && h_ != h) DeleteObject(h_);
        h_ = h;
    }

private:
    H h_ = nullptr;
};

// A count as the user reads it: digits grouped by threes with the locale's
// thousands separator (a comma where the locale names none), e.g. 27,100.
std::u16string GroupedNumber(int64_t value);
