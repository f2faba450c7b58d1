// The icons and the version record of the built DLL, read the way the plugin
// itself (LoadImageW on its own instance), the host and the shell read them.
#include <windows.h>
#include <winver.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "wintest.h"

using kltest::TPlugin;

namespace {

constexpr int kSizes[] = {16, 20, 24, 32, 40, 48, 64};

// Icon group directory as stored in an RT_GROUP_ICON resource.
#pragma pack(push, 2)
struct TGroupHeader {
    WORD reserved, type, count;
};
struct TGroupEntry {
    BYTE width, height, colors, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)
static_assert(sizeof(TGroupHeader) == 6 && sizeof(TGroupEntry) == 14, "packed group directory");

struct TGroup {
    LPCWSTR name;
    const char* label;
};
const TGroup kEntryGroups[] = {
    {MAKEINTRESOURCEW(101), "101 (port)"},
    {MAKEINTRESOURCEW(102), "102 (connection)"},
    {MAKEINTRESOURCEW(103), "103 (manage)"},
};
const TGroup kMainGroup = {L"MAINICON", "MAINICON"};

std::string ResourceBytes(HMODULE module, LPCWSTR name, LPCWSTR type) {
    HRSRC res = FindResourceW(module, name, type);
    if (!res) return {};
    HGLOBAL data = LoadResource(module, res);
    const void* p = data ? LockResource(data) : nullptr;
    return p ? std::string(static_cast<const char*>(p), SizeofResource(module, res))
             : std::string();
}

// Pixels of one icon image, classified: how much of it is see-through, how
// much solid, and how much of the solid part has the colours the pictures
// are made of. A colour-channel mix-up or a swapped group shows up here.
struct TCensus {
    int clear = 0, solid = 0, blue = 0, green = 0, gold = 0;
};

TCensus Count(const uint8_t* bgra, size_t pixels) {
    TCensus c;
    for (size_t i = 0; i < pixels; ++i) {
        const int b = bgra[i * 4], g = bgra[i * 4 + 1], r = bgra[i * 4 + 2], a = bgra[i * 4 + 3];
        if (a == 0) ++c.clear;
        if (a < 250) continue;
        ++c.solid;
        if (b > r + 40 && b > g) ++c.blue;
        if (g > r + 60 && g > b + 40) ++c.green;
        if (r > b + 80 && g > b + 40) ++c.gold;
    }
    return c;
}

// Checks one group directory and every image it lists; returns the census of
// each size in the order of kSizes (empty on a structural failure).
std::vector<TCensus> CheckGroup(HMODULE module, const TGroup& group) {
    SCOPED_TRACE(group.label);
    const std::string dir =
        ResourceBytes(module, group.name, MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */);
    if (dir.size() < sizeof(TGroupHeader)) {
        ADD_FAILURE() << "no icon group";
        return {};
    }
    TGroupHeader head;
    std::memcpy(&head, dir.data(), sizeof head);
    EXPECT_EQ(head.type, 1) << "not an icon group";
    if (head.count != std::size(kSizes) ||
        dir.size() < sizeof head + head.count * sizeof(TGroupEntry)) {
        ADD_FAILURE() << "group lists " << head.count << " images, want " << std::size(kSizes);
        return {};
    }
    std::vector<TCensus> census;
    for (int size : kSizes) {
        SCOPED_TRACE("size " + std::to_string(size));
        // The system's own choice of image for this size must be the exact one.
        const int id =
            LookupIconIdFromDirectoryEx(reinterpret_cast<PBYTE>(const_cast<char*>(dir.data())),
                                        TRUE, size, size, LR_DEFAULTCOLOR);
        const TGroupEntry* entry = nullptr;
        for (WORD i = 0; i < head.count; ++i) {
            const auto* e = reinterpret_cast<const TGroupEntry*>(dir.data() + sizeof head) + i;
            if (e->id == id) entry = e;
        }
        if (!entry) {
            ADD_FAILURE() << "no image chosen";
            return {};
        }
        EXPECT_EQ(entry->width, size);
        EXPECT_EQ(entry->height, size);
        EXPECT_EQ(entry->bitCount, 32);

        const std::string img =
            ResourceBytes(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3) /* RT_ICON */);
        const size_t pixels = size_t(size) * size;
        const size_t mask = size_t((size + 31) / 32) * 4 * size;
        if (img.size() < sizeof(BITMAPINFOHEADER) + pixels * 4 + mask) {
            ADD_FAILURE() << "image " << id << " too short: " << img.size() << " bytes";
            return {};
        }
        BITMAPINFOHEADER bih;
        std::memcpy(&bih, img.data(), sizeof bih);
        EXPECT_EQ(bih.biWidth, size);
        EXPECT_EQ(bih.biHeight, 2 * size) << "colour image and mask";
        EXPECT_EQ(bih.biBitCount, 32);
        EXPECT_EQ(bih.biCompression, DWORD(BI_RGB)) << "BMP entry, not PNG";
        const auto* bgra = reinterpret_cast<const uint8_t*>(img.data() + bih.biSize);
        census.push_back(Count(bgra, pixels));

        // The AND mask must agree with the alpha channel, or the icon gets
        // holes (or a black box) where a loader uses the mask.
        const auto* andMask = bgra + pixels * 4;
        const size_t stride = size_t((size + 31) / 32) * 4;
        int disagree = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const bool maskClear = andMask[y * stride + x / 8] & (0x80 >> (x % 8));
                const bool alphaClear = bgra[(size_t(y) * size + x) * 4 + 3] == 0;
                disagree += maskClear != alphaClear;
            }
        EXPECT_EQ(disagree, 0) << "mask pixels that contradict the alpha channel";
    }
    return census;
}

// Loads a group at one size through LoadImageW, exactly as the icon export
// does, and reads back the colour bitmap the system built.
void CheckLoadedIcon(HMODULE module, const TGroup& group, int size) {
    SCOPED_TRACE(std::string(group.label) + " at " + std::to_string(size));
    HICON icon =
        static_cast<HICON>(LoadImageW(module, group.name, IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    ASSERT_NE(icon, nullptr) << "LoadImageW failed, error " << GetLastError();
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    EXPECT_TRUE(info.fIcon);
    ASSERT_NE(info.hbmColor, nullptr) << "monochrome icon";
    BITMAP bm{};
    ASSERT_EQ(GetObjectW(info.hbmColor, sizeof bm, &bm), int(sizeof bm));
    EXPECT_EQ(bm.bmWidth, size);
    EXPECT_EQ(bm.bmHeight, size);
    EXPECT_EQ(bm.bmBitsPixel, 32);

    // The alpha channel survives loading: clear corners and a solid middle.
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = size;
    bi.bmiHeader.biHeight = -size;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    std::vector<uint8_t> bgra(size_t(size) * size * 4);
    HDC dc = GetDC(nullptr);
    const int lines = GetDIBits(dc, info.hbmColor, 0, UINT(size), bgra.data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    EXPECT_EQ(lines, size);
    const TCensus c = Count(bgra.data(), size_t(size) * size);
    EXPECT_GT(c.clear, 0) << "no transparent pixels";
    EXPECT_GT(c.solid, size * size / 4) << "hardly any opaque pixels";

    DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    DestroyIcon(icon);
}

BOOL CALLBACK CollectGroupName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
    auto* names = reinterpret_cast<std::vector<std::wstring>*>(param);
    names->push_back(IS_INTRESOURCE(name)
                         ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(name))
                         : std::wstring(name));
    return TRUE;
}

// version.dll is loaded at run time: the test programs link only what the
// library itself needs.
class TVersionApi {
public:
    TVersionApi() : dll_(LoadLibraryW(L"version.dll")) {}
    ~TVersionApi() {
        if (dll_) FreeLibrary(dll_);
    }
    template <class F>
    F Get(const char* name) const {
        return reinterpret_cast<F>(
            reinterpret_cast<void*>(dll_ ? GetProcAddress(dll_, name) : nullptr));
    }

private:
    HMODULE dll_;
};

}  // namespace

TEST(Resources, IconGroupsHoldEveryTrueColourSize) {
    TPlugin p;
    ASSERT_TRUE(p.Module());
    for (const TGroup& g : kEntryGroups) CheckGroup(p.Module(), g);
    CheckGroup(p.Module(), kMainGroup);
}

TEST(Resources, LoadImageGivesExactSizeAlphaIcons) {
    TPlugin p;
    ASSERT_TRUE(p.Module());
    for (const TGroup& g : kEntryGroups)
        for (int size : kSizes) CheckLoadedIcon(p.Module(), g, size);
    CheckLoadedIcon(p.Module(), kMainGroup, 32);
}

TEST(Resources, PicturesHaveTheirColoursAtEverySize) {
    TPlugin p;
    ASSERT_TRUE(p.Module());
    const auto port = CheckGroup(p.Module(), kEntryGroups[0]);
    const auto globe = CheckGroup(p.Module(), kEntryGroups[1]);
    const auto manage = CheckGroup(p.Module(), kEntryGroups[2]);
    const auto terminal = CheckGroup(p.Module(), kMainGroup);
    ASSERT_EQ(port.size(), std::size(kSizes));
    ASSERT_EQ(globe.size(), std::size(kSizes));
    ASSERT_EQ(manage.size(), std::size(kSizes));
    ASSERT_EQ(terminal.size(), std::size(kSizes));
    for (size_t i = 0; i < std::size(kSizes); ++i) {
        SCOPED_TRACE("size " + std::to_string(kSizes[i]));
        EXPECT_GE(port[i].gold, 9) << "the nine pins";
        EXPECT_EQ(port[i].green, 0);
        EXPECT_GT(globe[i].blue * 2, globe[i].solid) << "the globe is mostly blue";
        EXPECT_EQ(globe[i].gold, 0);
        EXPECT_GT(manage[i].green * 8, manage[i].solid) << "the green plus";
        EXPECT_LT(manage[i].blue * 8, manage[i].solid);
        EXPECT_GT(terminal[i].green * 20, terminal[i].solid) << "green text";
    }
}

TEST(Resources, MainIconIsTheFilesOwnIcon) {
    TPlugin p;
    ASSERT_TRUE(p.Module());
    EXPECT_NE(FindResourceW(p.Module(), L"MAINICON", MAKEINTRESOURCEW(14)), nullptr);
    // The shell shows the first group of the resource directory; names sort
    // before numbers there, so the terminal must come first, not the port.
    std::vector<std::wstring> names;
    EnumResourceNamesW(p.Module(), MAKEINTRESOURCEW(14), CollectGroupName,
                       reinterpret_cast<LONG_PTR>(&names));
    const std::vector<std::wstring> want = {L"MAINICON", L"#101", L"#102", L"#103"};
    EXPECT_EQ(names, want);
}

TEST(Resources, VersionRecordNamesTheProduct) {
    TVersionApi api;
    auto sizeOf = api.Get<DWORD(WINAPI*)(LPCWSTR, LPDWORD)>("GetFileVersionInfoSizeW");
    auto read = api.Get<BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID)>("GetFileVersionInfoW");
    auto query = api.Get<BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT)>("VerQueryValueW");
    ASSERT_TRUE(sizeOf && read && query) << "version.dll";

    const std::wstring path = kltest::DllPath();
    DWORD ignored = 0;
    const DWORD bytes = sizeOf(path.c_str(), &ignored);
    ASSERT_GT(bytes, 0u) << "no version record, error " << GetLastError();
    std::vector<uint8_t> block(bytes);
    ASSERT_TRUE(read(path.c_str(), 0, bytes, block.data()));

    void* p = nullptr;
    UINT len = 0;
    ASSERT_TRUE(query(block.data(), L"\\", &p, &len));
    ASSERT_GE(len, sizeof(VS_FIXEDFILEINFO));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(p);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_DLL));
    EXPECT_EQ(fixed->dwFileFlags & VS_FF_DEBUG, 0u);
    EXPECT_NE(fixed->dwFileVersionMS | fixed->dwFileVersionLS, 0u) << "file version 0.0.0.0";

    // Strings are looked up under the language the record declares.
    ASSERT_TRUE(query(block.data(), L"\\VarFileInfo\\Translation", &p, &len));
    ASSERT_GE(len, 4u);
    const auto* lang = static_cast<const WORD*>(p);
    wchar_t prefix[64];
    swprintf(prefix, 64, L"\\StringFileInfo\\%04x%04x\\", lang[0], lang[1]);
    auto text = [&](const wchar_t* key) -> std::wstring {
        void* v = nullptr;
        UINT n = 0;
        if (!query(block.data(), (std::wstring(prefix) + key).c_str(), &v, &n) || !v)
            return L"<missing>";
        std::wstring s(static_cast<const wchar_t*>(v), n);
        return s.substr(0, s.find(L'\0'));  // the length may or may not count the terminator
    };
    EXPECT_EQ(text(L"ProductName"), L"Kestrelink");
    EXPECT_EQ(text(L"OriginalFilename"), L"kestrelink.dll");
    EXPECT_EQ(text(L"FileDescription"), L"Kestrelink serial and TCP terminal plugin");
    EXPECT_EQ(text(L"CompanyName"), L"Kestrelink");
    EXPECT_NE(text(L"LegalCopyright").find(L"Kestrelink"), std::wstring::npos);
    // The dotted text must tell the same version as the numeric record.
    const std::wstring dotted = std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
                                std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
                                std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." +
                                std::to_wstring(LOWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(text(L"FileVersion"), dotted);
    EXPECT_EQ(text(L"ProductVersion"), dotted);
}
