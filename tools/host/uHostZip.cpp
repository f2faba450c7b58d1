// The inflater follows the structure of the format itself: a bit reader, a
// canonical Huffman table built from code lengths (counts per length plus the
// symbols in code order), and one function per block type. It trades speed
// for size; install archives are small.
#include "uHostZip.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <cwctype>

namespace host {

namespace {

constexpr uint32_t kEndOfDirectory = 0x06054b50;
constexpr uint32_t kDirectoryEntry = 0x02014b50;
constexpr uint32_t kLocalHeader = 0x04034b50;
constexpr size_t kMaxArchive = 256u << 20;
constexpr size_t kMaxEntry = 256u << 20;
constexpr uint16_t kFlagEncrypted = 1;
constexpr uint16_t kFlagUtf8 = 1 << 11;
constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;

struct TBadData {};

class TInflater {
public:
    TInflater(const unsigned char* in, size_t size, std::string& out, size_t limit)
        : in_(in), size_(size), out_(out), limit_(limit) {}

    void Run() {
        int last;
        do {
            last = Bits(1);
            switch (Bits(2)) {
                case 0:
                    Stored();
                    break;
                case 1:
                    Fixed();
                    break;
                case 2:
                    Dynamic();
                    break;
                default:
                    throw TBadData{};
            }
        } while (!last);
    }

private:
    static constexpr int kMaxBits = 15;
    struct THuffman {
        short Count[kMaxBits + 1] = {};
        short Symbol[288] = {};
    };

    int Bits(int need) {
        uint32_t value = bitBuf_;
        while (bitCount_ < need) {
            if (pos_ >= size_) throw TBadData{};
            value |= uint32_t(in_[pos_++]) << bitCount_;
            bitCount_ += 8;
        }
        bitBuf_ = value >> need;
        bitCount_ -= need;
        return int(value & ((1u << need) - 1));
    }

    void Put(char c) {
        if (out_.size() >= limit_) throw TBadData{};
        out_.push_back(c);
    }

    void Stored() {
        bitBuf_ = 0;
        bitCount_ = 0;
        if (pos_ + 4 > size_) throw TBadData{};
        const unsigned len = in_[pos_] | (in_[pos_ + 1] << 8);
        const unsigned check = in_[pos_ + 2] | (in_[pos_ + 3] << 8);
        pos_ += 4;
        if (len != (~check & 0xffff) || pos_ + len > size_) throw TBadData{};
        for (unsigned i = 0; i < len; ++i) Put(char(in_[pos_++]));
    }

    // A table that over-subscribes a length is malformed; an incomplete one
    // is allowed (a single distance code is legal) and fails only if used.
    static void Build(THuffman& h, const short* length, int n) {
        for (int i = 0; i < n; ++i) ++h.Count[length[i]];
        if (h.Count[0] == n) return;
        int left = 1;
        for (int len = 1; len <= kMaxBits; ++len) {
            left = (left << 1) - h.Count[len];
            if (left < 0) throw TBadData{};
        }
        short offs[kMaxBits + 1] = {};
        for (int len = 1; len < kMaxBits; ++len) offs[len + 1] = short(offs[len] + h.Count[len]);
        for (int sym = 0; sym < n; ++sym)
            if (length[sym]) h.Symbol[offs[length[sym]]++] = short(sym);
    }

    int Decode(const THuffman& h) {
        int code = 0, first = 0, index = 0;
        for (int len = 1; len <= kMaxBits; ++len) {
            code |= Bits(1);
            const int count = h.Count[len];
            if (code - count < first) return h.Symbol[index + (code - first)];
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        throw TBadData{};
    }

    void Codes(const THuffman& lengths, const THuffman& distances) {
        static constexpr short kLenBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                               15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                               67, 83, 99, 115, 131, 163, 195, 227, 258};
        static constexpr short kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        static constexpr short kDistBase[30] = {
            1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
            193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
        static constexpr short kDistExtra[30] = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                 4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
        for (;;) {
            int sym = Decode(lengths);
            if (sym < 256) {
                Put(char(sym));
                continue;
            }
            if (sym == 256) return;
            sym -= 257;
            if (sym >= 29) throw TBadData{};
            const size_t len = size_t(kLenBase[sym] + Bits(kLenExtra[sym]));
            const int d = Decode(distances);
            if (d >= 30) throw TBadData{};
            const size_t dist = size_t(kDistBase[d] + Bits(kDistExtra[d]));
            if (dist > out_.size()) throw TBadData{};
            for (size_t i = 0; i < len; ++i) Put(out_[out_.size() - dist]);
        }
    }

    void Fixed() {
        THuffman lengths, distances;
        short len[288];
        int sym = 0;
        for (; sym < 144; ++sym) len[sym] = 8;
        for (; sym < 256; ++sym) len[sym] = 9;
        for (; sym < 280; ++sym) len[sym] = 7;
        for (; sym < 288; ++sym) len[sym] = 8;
        Build(lengths, len, 288);
        for (sym = 0; sym < 30; ++sym) len[sym] = 5;
        Build(distances, len, 30);
        Codes(lengths, distances);
    }

    void Dynamic() {
        static constexpr short kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                             11, 4,  12, 3, 13, 2, 14, 1, 15};
        const int nlen = Bits(5) + 257, ndist = Bits(5) + 1, ncode = Bits(4) + 4;
        if (nlen > 286 || ndist > 30) throw TBadData{};
        short lengths[320] = {};
        for (int i = 0; i < ncode; ++i) lengths[kOrder[i]] = short(Bits(3));
        THuffman codeCodes;
        Build(codeCodes, lengths, 19);
        int index = 0;
        while (index < nlen + ndist) {
            int sym = Decode(codeCodes);
            if (sym < 16) {
                lengths[index++] = short(sym);
                continue;
            }
            short len = 0;
            int repeat;
            if (sym == 16) {
                if (index == 0) throw TBadData{};
                len = lengths[index - 1];
                repeat = 3 + Bits(2);
            } else {
                repeat = sym == 17 ? 3 + Bits(3) : 11 + Bits(7);
            }
            if (index + repeat > nlen + ndist) throw TBadData{};
            while (repeat--) lengths[index++] = len;
        }
        if (lengths[256] == 0) throw TBadData{};
        THuffman lencode, distcode;
        Build(lencode, lengths, nlen);
        Build(distcode, lengths + nlen, ndist);
        Codes(lencode, distcode);
    }

    const unsigned char* in_;
    size_t size_, pos_ = 0;
    uint32_t bitBuf_ = 0;
    int bitCount_ = 0;
    std::string& out_;
    size_t limit_;
};

uint32_t Crc32(const std::string& data) {
    static uint32_t table[256] = {};
    if (!table[1])
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char b : data) crc = table[(crc ^ b) & 0xff] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

struct TZipEntry {
    std::wstring Name;  // relative, with backslashes
    bool Directory = false;
    uint16_t Method = 0;
    uint32_t Crc = 0;
    size_t Packed = 0, Size = 0, Data = 0;
};

uint32_t Get(const std::string& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | uint8_t(b[at + size_t(i)]);
    return v;
}

std::wstring DecodeName(const std::string& raw, bool utf8) {
    const UINT cp = utf8 ? CP_UTF8 : 437;
    const int n = MultiByteToWideChar(cp, 0, raw.data(), int(raw.size()), nullptr, 0);
    std::wstring w(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(cp, 0, raw.data(), int(raw.size()), w.data(), n);
    return w;
}

// A device name as a path part ("COM1", "nul.txt") opens the device, not a file.
bool DeviceName(const std::wstring& part) {
    std::wstring base = part.substr(0, part.find(L'.'));
    for (auto& c : base) c = towupper(c);
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL") return true;
    return base.size() == 4 && (base.rfind(L"COM", 0) == 0 || base.rfind(L"LPT", 0) == 0) &&
           base[3] >= L'0' && base[3] <= L'9';
}

// A relative path of plain parts: no root, no drive, no stream, no part that
// Windows would shorten to "." or ".." (it drops trailing dots and spaces), no
// device. Anything else could write outside the install folder.
bool SafeName(const std::wstring& name) {
    if (name.empty() || name[0] == L'\\') return false;
    if (name.find_first_of(L":*?\"<>|") != std::wstring::npos) return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find(L'\\', start);
        if (end == std::wstring::npos) end = name.size();
        const std::wstring part = name.substr(start, end - start);
        if (part.empty() || part.back() == L'.' || part.back() == L' ' || DeviceName(part))
            return false;
        start = end + 1;
    }
    return true;
}

bool ReadAll(const std::wstring& path, std::string& bytes, std::wstring& error) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = L"cannot open " + path + L" (error " + std::to_wstring(GetLastError()) + L")";
        return false;
    }
    LARGE_INTEGER size = {};
    bool ok = GetFileSizeEx(h, &size) && size.QuadPart <= LONGLONG(kMaxArchive);
    if (ok) {
        bytes.resize(size_t(size.QuadPart));
        DWORD got = 0;
        ok = ReadFile(h, bytes.data(), DWORD(bytes.size()), &got, nullptr) && got == bytes.size();
    }
    CloseHandle(h);
    if (!ok) error = L"cannot read " + path + L" (missing, unreadable or over 256 MB)";
    return ok;
}

bool ReadDirectory(const std::string& zip, std::vector<TZipEntry>& entries, std::wstring& error) {
    error = L"not a zip archive, or a damaged one";
    if (zip.size() < 22) return false;
    size_t eocd = zip.size() - 22;
    const size_t stop = zip.size() > 22 + 65535 ? zip.size() - 22 - 65535 : 0;
    while (Get(zip, eocd, 4) != kEndOfDirectory) {
        if (eocd == stop) return false;
        --eocd;
    }
    const size_t count = Get(zip, eocd + 10, 2), dirSize = Get(zip, eocd + 12, 4);
    size_t at = Get(zip, eocd + 16, 4);
    if (at + dirSize > eocd) return false;
    for (size_t i = 0; i < count; ++i) {
        if (at + 46 > eocd || Get(zip, at, 4) != kDirectoryEntry) return false;
        const uint16_t flags = uint16_t(Get(zip, at + 8, 2));
        TZipEntry e;
        e.Method = uint16_t(Get(zip, at + 10, 2));
        e.Crc = Get(zip, at + 16, 4);
        e.Packed = Get(zip, at + 20, 4);
        e.Size = Get(zip, at + 24, 4);
        const size_t nameLen = Get(zip, at + 28, 2), extra = Get(zip, at + 30, 2),
                     comment = Get(zip, at + 32, 2), local = Get(zip, at + 42, 4);
        if (at + 46 + nameLen > eocd) return false;
        std::wstring name = DecodeName(zip.substr(at + 46, nameLen), flags & kFlagUtf8);
        for (auto& c : name)
            if (c == L'/') c = L'\\';
        e.Directory = !name.empty() && name.back() == L'\\';
        if (e.Directory) name.pop_back();
        if (!SafeName(name)) {
            error = L"refused: the entry name \"" + name +
                    L"\" is not a plain file name inside the install folder";
            return false;
        }
        if (flags & kFlagEncrypted) {
            error = L"refused: the entry \"" + name + L"\" is encrypted";
            return false;
        }
        if (!e.Directory && e.Method != kStored && e.Method != kDeflated) {
            error = L"the entry \"" + name + L"\" uses a compression method other than deflate";
            return false;
        }
        if (local + 30 > zip.size() || Get(zip, local, 4) != kLocalHeader) return false;
        e.Data = local + 30 + Get(zip, local + 26, 2) + Get(zip, local + 28, 2);
        if (e.Data + e.Packed > zip.size() || e.Size > kMaxEntry) return false;
        e.Name = name;
        entries.push_back(e);
        at += 46 + nameLen + extra + comment;
    }
    return true;
}

bool Expand(const std::string& zip, const TZipEntry& e, std::string& data) {
    const auto* src = reinterpret_cast<const unsigned char*>(zip.data()) + e.Data;
    if (e.Method == kStored)
        data.assign(zip, e.Data, e.Packed);
    else if (!Inflate(src, e.Packed, data, e.Size))
        return false;
    return data.size() == e.Size && Crc32(data) == e.Crc;
}

bool WriteAll(const std::wstring& path, const std::string& data) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    const bool ok =
        WriteFile(h, data.data(), DWORD(data.size()), &put, nullptr) && put == data.size();
    CloseHandle(h);
    return ok;
}

// Creates every folder on the way to `path` (which is below `root`).
void MakeFolders(const std::wstring& root, const std::wstring& relative) {
    for (size_t pos = relative.find(L'\\'); pos != std::wstring::npos;
         pos = relative.find(L'\\', pos + 1))
        CreateDirectoryW((root + L"\\" + relative.substr(0, pos)).c_str(), nullptr);
}

}  // namespace

bool Inflate(const unsigned char* data, size_t size, std::string& out, size_t limit) {
    out.clear();
    try {
        TInflater(data, size, out, limit).Run();
        return true;
    } catch (const TBadData&) {
        return false;
    }
}

bool UnpackZip(const std::wstring& zip, const std::wstring& dir, std::wstring& error,
               std::vector<std::wstring>& files) {
    std::string bytes;
    std::vector<TZipEntry> entries;
    if (!ReadAll(zip, bytes, error) || !ReadDirectory(bytes, entries, error)) return false;
    // Every entry is expanded and checked before the first file is written, so
    // a damaged archive leaves no half-installed plugin behind.
    std::vector<std::string> contents(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        if (!entries[i].Directory && !Expand(bytes, entries[i], contents[i])) {
            error = L"the entry \"" + entries[i].Name + L"\" is damaged (its CRC does not match)";
            return false;
        }
    CreateDirectoryW(dir.c_str(), nullptr);
    for (size_t i = 0; i < entries.size(); ++i) {
        const TZipEntry& e = entries[i];
        MakeFolders(dir, e.Name + (e.Directory ? L"\\" : L""));
        if (e.Directory) {
            CreateDirectoryW((dir + L"\\" + e.Name).c_str(), nullptr);
            continue;
        }
        if (!WriteAll(dir + L"\\" + e.Name, contents[i])) {
            error = L"cannot write " + dir + L"\\" + e.Name;
            return false;
        }
        files.push_back(e.Name);
    }
    return true;
}

}  // namespace host
