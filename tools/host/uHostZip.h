// Unpacking the plugin's install archive, as the file manager's installer
// does: a zip file read whole, its entries (stored or deflated) checked
// against their CRC and written below one folder. Nothing outside a plain
// zip is supported: no encryption, no multi-disk sets, no 64-bit sizes.
#pragma once

#include <string>
#include <vector>

namespace host {

// Writes every entry of `zip` below `dir` (created if needed). All names are
// checked before anything is written: a name that is absolute, carries a
// drive or a ".." part is refused, as is an archive with an entry that fails
// its CRC. False with the reason in `error`; `files` gets the relative paths.
bool UnpackZip(const std::wstring& zip, const std::wstring& dir, std::wstring& error,
               std::vector<std::wstring>& files);

// Deflate (RFC 1951) data into `out`, at most `limit` bytes; false when the
// data is malformed or would grow past the limit.
bool Inflate(const unsigned char* data, size_t size, std::string& out, size_t limit);

}  // namespace host
