// Descriptor files on disk: the descriptor of a folder entry (its bytes also
// give the entry's size in the listing), FsGetFile's copy of an entry to a
// local file, and the reading of a file the lister side is offered.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Larger files are never descriptors; the lister side does not read them.
constexpr size_t kMaxDescriptorFileBytes = 16384;

// The descriptor of a folder entry, or false for a name that stands for no
// manage, port or existing connection entry.
bool BuildDescriptorForEntry(std::u16string_view name, std::string& bytes);

// The whole file, when it holds 1 to kMaxDescriptorFileBytes bytes and reads
// completely.
bool ReadDescriptorFile(std::u16string_view path, std::string& bytes);

// FsGetFile: writes the entry's descriptor to localName. Results are the
// host's codes: kFsFileOk, kFsFileExists (no overwrite flag), kFsFileWriteError
// (a partly written file stays), kFsFileNotSupported (move, or no descriptor).
int GetEntryFile(std::u16string_view remoteName, std::u16string_view localName, int copyFlags);
