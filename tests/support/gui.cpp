#include "gui.h"

#include <winternl.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace kltest {

std::wstring TextOf(HWND hwnd) {
    const int n = GetWindowTextLengthW(hwnd);
    std::wstring s(size_t(n) + 1, L'\0');
    const int got = GetWindowTextW(hwnd, s.data(), n + 1);
    s.resize(size_t(got > 0 ? got : 0));
    return s;
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t buf[256] = {};
    GetClassNameW(hwnd, buf, 256);
    return buf;
}

namespace {

struct TFind {
    int id = 0;
    const wchar_t* cls = nullptr;
    HWND found = nullptr;
};

BOOL CALLBACK FindChild(HWND hwnd, LPARAM lp) {
    auto* f = reinterpret_cast<TFind*>(lp);
    const bool match = f->cls ? ClassOf(hwnd) == f->cls : GetDlgCtrlID(hwnd) == f->id;
    if (match) {
        f->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND FindById(HWND parent, int id) {
    TFind f;
    f.id = id;
    EnumChildWindows(parent, FindChild, reinterpret_cast<LPARAM>(&f));
    return f.found;
}

HWND FindByClass(HWND parent, const wchar_t* className) {
    TFind f;
    f.cls = className;
    EnumChildWindows(parent, FindChild, reinterpret_cast<LPARAM>(&f));
    return f.found;
}

RECT ChildRect(HWND child) {
    RECT r = {};
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        if (done()) return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return done();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(end - now < 10 ? end - now : 10),
                                  QS_ALLINPUT);
    }
}

void PumpFor(DWORD ms) {
    PumpUntil([] { return false; }, ms);
}

HWND WaitForTopLevel(const wchar_t* className, DWORD timeoutMs) {
    HWND found = nullptr;
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!(found = FindWindowW(className, nullptr)) && GetTickCount64() < end) Sleep(10);
    return found;
}

std::wstring IniValue(const std::wstring& file, const wchar_t* section, const wchar_t* key) {
    std::vector<wchar_t> buf(4096);
    const DWORD n =
        GetPrivateProfileStringW(section, key, L"\x1", buf.data(), DWORD(buf.size()), file.c_str());
    return std::wstring(buf.data(), n);
}

bool ScreensRequested() { return std::getenv("KL_SCREENS_DIR") != nullptr; }

int Scaled(int n) {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return MulDiv(n, dpi < 96 ? 96 : dpi, 96);
}

bool SaveWindowImage(HWND hwnd, const std::string& name) {
    if (!ScreensRequested() || !IsWindow(hwnd)) return false;
    // What the user sees: the window brought up and painted, then its screen
    // rectangle copied off the screen (non-client area and children included).
    SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
    PumpFor(300);
    RECT r;
    GetWindowRect(hwnd, &r);
    return SaveScreenImage(r, name);
}

bool SaveScreenImage(const RECT& r, const std::string& name) {
    const char* dir = std::getenv("KL_SCREENS_DIR");
    if (!dir) return false;
    const char* tag = std::getenv("KL_SCREENS_TAG");
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;  // bottom-up, as a .bmp file stores it
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bmp && bits) {
        HGDIOBJ old = SelectObject(mem, bmp);
        BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
        SelectObject(mem, old);
        GdiFlush();
        const DWORD stride = (DWORD(w) * 3 + 3) & ~3u;
        const DWORD size = stride * DWORD(h);
        BITMAPFILEHEADER fh = {};
        fh.bfType = 0x4D42;
        fh.bfOffBits = sizeof(fh) + sizeof(bi.bmiHeader);
        fh.bfSize = fh.bfOffBits + size;
        std::string path = std::string(dir) + "/" + name + "_" + (tag ? tag : "96") + ".bmp";
        std::wstring wpath(path.begin(), path.end());
        if (!wpath.empty() && wpath[0] == L'/') wpath = L"Z:" + wpath;
        HANDLE f = CreateFileW(wpath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (f != INVALID_HANDLE_VALUE) {
            DWORD done = 0;
            ok = WriteFile(f, &fh, sizeof(fh), &done, nullptr) &&
                 WriteFile(f, &bi.bmiHeader, sizeof(bi.bmiHeader), &done, nullptr) &&
                 WriteFile(f, bits, size, &done, nullptr);
            CloseHandle(f);
        }
    }
    if (bmp) DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

int CountPixels(HWND hwnd, COLORREF color) {
    RECT r;
    GetWindowRect(hwnd, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(bi.bmiHeader), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = GetWindowDC(hwnd), mem = CreateCompatibleDC(dc);
    HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    int n = 0;
    if (bmp && bits) {
        HGDIOBJ old = SelectObject(mem, bmp);
        BitBlt(mem, 0, 0, w, h, dc, 0, 0, SRCCOPY);
        SelectObject(mem, old);
        GdiFlush();
        const auto* px = static_cast<const uint32_t*>(bits);  // 0x00RRGGBB
        for (int i = 0; i < w * h; ++i)
            n += RGB((px[i] >> 16) & 0xFF, (px[i] >> 8) & 0xFF, px[i] & 0xFF) == color;
    }
    if (bmp) DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(hwnd, dc);
    return n;
}

}  // namespace kltest
