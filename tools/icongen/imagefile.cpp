#include "imagefile.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace icongen {

namespace {

void Put16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
void Put32Be(Bytes& b, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
}

constexpr size_t kDirHeader = 6, kDirEntry = 16, kInfoHeader = 40;

// Rows of the AND mask are padded to whole 32-bit words.
size_t MaskStride(int width) { return size_t((width + 31) / 32) * 4; }

Bytes EncodeBmpFrame(const Image& img) {
    const int n = img.width;
    Bytes b;
    const uint32_t xorBytes = uint32_t(n) * n * 4, andBytes = uint32_t(MaskStride(n) * n);
    Put32(b, kInfoHeader);
    Put32(b, uint32_t(n));
    Put32(b, uint32_t(n) * 2);  // colour image and mask stacked
    Put16(b, 1);                // planes
    Put16(b, 32);               // bits per pixel
    Put32(b, 0);                // BI_RGB
    Put32(b, xorBytes + andBytes);
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, 0);
    for (int y = n - 1; y >= 0; --y) {  // bottom-up
        for (int x = 0; x < n; ++x) {
            const uint8_t* p = img.At(x, y);
            b.insert(b.end(), {p[2], p[1], p[0], p[3]});
        }
    }
    for (int y = n - 1; y >= 0; --y) {
        Bytes row(MaskStride(n), 0);
        for (int x = 0; x < n; ++x)
            if (img.At(x, y)[3] == 0) row[size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
        b.insert(b.end(), row.begin(), row.end());
    }
    return b;
}

uint32_t Crc32(const uint8_t* data, size_t len, uint32_t crc = 0) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < len; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void PutChunk(Bytes& out, const char* type, const Bytes& data) {
    Put32Be(out, uint32_t(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    Put32Be(out, Crc32(body.data(), body.size()));
}

}  // namespace

Bytes EncodeIco(const std::vector<Image>& frames) {
    if (frames.empty() || frames.size() > 0xFFFF)
        throw std::invalid_argument("icon needs 1..65535 frames");
    std::vector<Bytes> bodies;
    for (const Image& f : frames) {
        if (f.width != f.height || f.width < 1 || f.width > 256 ||
            f.rgba.size() != size_t(f.width) * f.height * 4)
            throw std::invalid_argument("icon frames must be square RGBA images of 1..256 px");
        bodies.push_back(EncodeBmpFrame(f));
    }
    Bytes out;
    Put16(out, 0);  // reserved
    Put16(out, 1);  // icon, not cursor
    Put16(out, uint32_t(frames.size()));
    uint32_t offset = uint32_t(kDirHeader + kDirEntry * frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        const int n = frames[i].width;
        out.push_back(uint8_t(n == 256 ? 0 : n));  // 0 stands for 256
        out.push_back(uint8_t(n == 256 ? 0 : n));
        out.push_back(0);  // no palette
        out.push_back(0);
        Put16(out, 1);
        Put16(out, 32);
        Put32(out, uint32_t(bodies[i].size()));
        Put32(out, offset);
        offset += uint32_t(bodies[i].size());
    }
    for (const Bytes& b : bodies) out.insert(out.end(), b.begin(), b.end());
    return out;
}

Bytes EncodePng(const Image& img) {
    Bytes raw;  // filter byte 0 before every row
    for (int y = 0; y < img.height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), img.At(0, y), img.At(0, y) + size_t(img.width) * 4);
    }
    Bytes z{0x78, 0x01};
    uint32_t s1 = 1, s2 = 0;
    for (uint8_t v : raw) {
        s1 = (s1 + v) % 65521;
        s2 = (s2 + s1) % 65521;
    }
    // Stored (uncompressed) deflate blocks of at most 65535 bytes; raw is never
    // empty because every row starts with its filter byte.
    size_t pos = 0;
    do {
        const size_t len = std::min<size_t>(65535, raw.size() - pos);
        z.push_back(pos + len == raw.size() ? 1 : 0);  // last-block flag
        Put16(z, uint32_t(len));
        Put16(z, uint32_t(~len & 0xFFFF));
        z.insert(z.end(), raw.begin() + long(pos), raw.begin() + long(pos + len));
        pos += len;
    } while (pos < raw.size());
    Put32Be(z, (s2 << 16) | s1);

    Bytes out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    Put32Be(ihdr, uint32_t(img.width));
    Put32Be(ihdr, uint32_t(img.height));
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA, deflate, no interlace
    PutChunk(out, "IHDR", ihdr);
    PutChunk(out, "IDAT", z);
    PutChunk(out, "IEND", {});
    return out;
}

bool ReadFile(const std::string& path, Bytes& out) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return !f.bad();
}

bool WriteFile(const std::string& path, const Bytes& data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    return bool(f.flush());
}

}  // namespace icongen
