// File formats the generator writes: Windows icon files and, for looking at
// the artwork, PNG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "raster.h"

namespace icongen {

using Bytes = std::vector<uint8_t>;

// One icon file holding every frame as a 32-bit BMP entry (BGRA with alpha
// plus the 1-bit AND mask that pre-XP loaders and some shell paths still read).
// Frames must be square, 1..256 px, and are stored in the given order.
Bytes EncodeIco(const std::vector<Image>& frames);

// Uncompressed-deflate PNG, 8-bit RGBA: previews only, size does not matter.
Bytes EncodePng(const Image& img);

bool ReadFile(const std::string& path, Bytes& out);
bool WriteFile(const std::string& path, const Bytes& data);

}  // namespace icongen
