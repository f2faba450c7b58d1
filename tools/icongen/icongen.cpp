// Draws the library's icons and writes them as .ico files.
//
//   icongen --out DIR [--preview DIR]   write the icons into DIR; optionally PNG
//                                       frames and enlarged contact sheets
//   icongen --check DIR                 exit 1 when an icon in DIR differs from
//                                       what this program draws now
//
// The drawing is deterministic (no time, no randomness), so the committed
// icons can be verified against their source.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "imagefile.h"
#include "motifs.h"

using namespace icongen;

namespace {

constexpr int kSizes[] = {16, 20, 24, 32, 40, 48, 64};

struct IconDef {
    const char* file;
    Image (*draw)(int);
};

constexpr IconDef kIcons[] = {
    {"port.ico", DrawSerialPort},
    {"connection.ico", DrawGlobe},
    {"manage.ico", DrawNewDocument},
    {"main.ico", DrawTerminal},
};

std::vector<Image> DrawAll(const IconDef& icon) {
    std::vector<Image> frames;
    for (int s : kSizes) frames.push_back(icon.draw(s));
    return frames;
}

std::string Join(const std::string& dir, const std::string& name) {
    return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string Stem(const char* file) {
    const std::string s = file;
    return s.substr(0, s.rfind('.'));
}

// Frames of every icon laid out in rows, enlarged by `scale` without smoothing
// so single pixels can be judged, over an opaque background.
Image ContactSheet(const std::vector<std::vector<Image>>& icons,
                   const std::vector<size_t>& sizeIndexes, int scale, uint32_t background) {
    const int gap = 8 * std::max(1, scale / 2);
    int width = gap, rowHeight = 0;
    for (size_t i : sizeIndexes) {
        width += kSizes[i] * scale + gap;
        rowHeight = std::max(rowHeight, kSizes[i] * scale);
    }
    Image sheet;
    sheet.width = width;
    sheet.height = gap + int(icons.size()) * (rowHeight + gap);
    sheet.rgba.resize(size_t(sheet.width) * sheet.height * 4);
    const uint8_t bg[3] = {uint8_t(background >> 16), uint8_t(background >> 8),
                           uint8_t(background)};
    for (size_t p = 0; p < size_t(sheet.width) * sheet.height; ++p) {
        std::memcpy(&sheet.rgba[p * 4], bg, 3);
        sheet.rgba[p * 4 + 3] = 255;
    }
    for (size_t row = 0; row < icons.size(); ++row) {
        int x0 = gap;
        const int y0 = gap + int(row) * (rowHeight + gap);
        for (size_t i : sizeIndexes) {
            const Image& f = icons[row][i];
            for (int y = 0; y < f.height * scale; ++y) {
                for (int x = 0; x < f.width * scale; ++x) {
                    const uint8_t* s = f.At(x / scale, y / scale);
                    uint8_t* d = sheet.At(x0 + x, y0 + y);
                    for (int c = 0; c < 3; ++c)
                        d[c] = uint8_t((s[c] * s[3] + d[c] * (255 - s[3]) + 127) / 255);
                }
            }
            x0 += f.width * scale + gap;
        }
    }
    return sheet;
}

bool WritePreviews(const std::string& dir, const std::vector<std::vector<Image>>& icons) {
    bool ok = true;
    for (size_t k = 0; k < icons.size(); ++k)
        for (size_t i = 0; i < icons[k].size(); ++i)
            ok &= WriteFile(
                Join(dir, Stem(kIcons[k].file) + "-" + std::to_string(kSizes[i]) + ".png"),
                EncodePng(icons[k][i]));
    const std::vector<size_t> all = {0, 1, 2, 3, 4, 5, 6}, small = {0, 1, 2};
    ok &= WriteFile(Join(dir, "sheet-light.png"), EncodePng(ContactSheet(icons, all, 4, 0xF3F3F3)));
    ok &= WriteFile(Join(dir, "sheet-dark.png"), EncodePng(ContactSheet(icons, all, 4, 0x1E1E1E)));
    ok &=
        WriteFile(Join(dir, "small-light.png"), EncodePng(ContactSheet(icons, small, 8, 0xF3F3F3)));
    ok &=
        WriteFile(Join(dir, "small-dark.png"), EncodePng(ContactSheet(icons, small, 8, 0x1E1E1E)));
    ok &=
        WriteFile(Join(dir, "actual-light.png"), EncodePng(ContactSheet(icons, all, 1, 0xFFFFFF)));
    ok &= WriteFile(Join(dir, "actual-dark.png"), EncodePng(ContactSheet(icons, all, 1, 0x202020)));
    return ok;
}

int Usage() {
    std::fprintf(stderr, "usage: icongen --out DIR [--preview DIR]\n       icongen --check DIR\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string out, preview, check;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return Usage();
        if (arg == "--out")
            out = argv[++i];
        else if (arg == "--preview")
            preview = argv[++i];
        else if (arg == "--check")
            check = argv[++i];
        else
            return Usage();
    }
    if (out.empty() == check.empty() || (!preview.empty() && out.empty())) return Usage();

    std::vector<std::vector<Image>> icons;
    for (const IconDef& icon : kIcons) icons.push_back(DrawAll(icon));

    int status = 0;
    for (size_t k = 0; k < icons.size(); ++k) {
        const Bytes ico = EncodeIco(icons[k]);
        if (!check.empty()) {
            Bytes have;
            const std::string path = Join(check, kIcons[k].file);
            if (!ReadFile(path, have)) {
                std::fprintf(stderr, "icongen: cannot read %s\n", path.c_str());
                status = 1;
            } else if (have != ico) {
                std::fprintf(stderr,
                             "icongen: %s differs from the drawing; run tools/make-icons.sh\n",
                             path.c_str());
                status = 1;
            }
            continue;
        }
        const std::string path = Join(out, kIcons[k].file);
        if (!WriteFile(path, ico)) {
            std::fprintf(stderr, "icongen: cannot write %s\n", path.c_str());
            status = 1;
        }
    }
    if (!preview.empty() && !WritePreviews(preview, icons)) {
        std::fprintf(stderr, "icongen: cannot write previews into %s\n", preview.c_str());
        status = 1;
    }
    return status;
}
