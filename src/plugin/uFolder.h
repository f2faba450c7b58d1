// The virtual folder: one flat root holding the manage entry, one entry per
// serial port and one per saved TCP connection, each a plain file whose size
// is its descriptor's. The displayed name is the only key the host hands back,
// so ClassifyEntry maps every name back to what it stands for.
//
// A find handle is a TFindState: a snapshot of the entry names taken at
// find-first, owned by the host until FsFindClose. Sizes are computed as each
// entry is filled, from the settings as they are at that moment.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "settings/uPortRules.h"
#include "settings/uSettingsRules.h"

enum class TEntryClass { Manage, Connection, Port, Other };

struct TClassifiedEntry {
    TEntryClass Class = TEntryClass::Other;
    std::u16string Target;   // connection name or port name
    std::u16string Display;  // port entries: the whole entry name
};

inline constexpr std::u16string_view kConnPrefix = u"TCP - ";
inline constexpr std::u16string_view kPortPrefix = u"COM";
inline constexpr char kManageKey[] = "manage.name";
inline constexpr std::u16string_view kManageDefault = u"Manage connections\u2026";

// Icon resources of the library, one per entry class.
constexpr int kIconPort = 101;
constexpr int kIconConnection = 102;
constexpr int kIconManage = 103;

// The longest name the find data holds (cFileName has 260 units with the NUL).
constexpr size_t kMaxFindName = MAX_PATH - 1;

std::u16string StripLeadingBackslashes(std::u16string_view name);

// "[ " + the manage entry's text in the current language + " ]".
std::u16string ManageEntryName();
// Recognises the manage entry whichever language was active when it was listed.
bool IsManageEntry(std::u16string_view name);
// Leading backslashes of the host's RemoteName are ignored.
TClassifiedEntry ClassifyEntry(std::u16string_view remoteName);

// The entry names in listing order: manage, ports as given, connections as given.
TNameArray ComposeListing(const std::u16string& manageName, const TPortArray& ports,
                          const TNameArray& connections);
// ComposeListing of the ports and connections present now.
TNameArray BuildListing();

struct TFindState {
    TNameArray Names;
    int32_t Index = 0;  // the entry filled last
};

// The name as the wide find data holds it: at most kMaxFindName units, never
// ending in the first half of a surrogate pair.
std::u16string CutFileName(std::u16string_view name);
// The name in the ANSI code page as the ANSI find data holds it: characters
// the code page lacks become its default character, and the text is cut at a
// character boundary to at most kMaxFindName bytes (a DBCS or UTF-8 code page
// can need more bytes than the name has units).
std::string AnsiFileName(std::u16string_view name, UINT codePage = CP_ACP);

void FillFindData(const std::u16string& name, WIN32_FIND_DATAW& fd);
void FillFindData(const std::u16string& name, WIN32_FIND_DATAA& fd);

// The find functions behind the exports. A path other than the root ("\" or
// empty) fails with ERROR_PATH_NOT_FOUND; a null find-data pointer with
// ERROR_INVALID_PARAMETER. Unknown, closed, null and INVALID_HANDLE_VALUE
// handles are refused without being touched.
HANDLE FolderFindFirst(std::u16string_view path, WIN32_FIND_DATAW* fd);
HANDLE FolderFindFirst(std::u16string_view path, WIN32_FIND_DATAA* fd);
bool FolderFindNext(HANDLE handle, WIN32_FIND_DATAW* fd);
bool FolderFindNext(HANDLE handle, WIN32_FIND_DATAA* fd);
void FolderFindClose(HANDLE handle);

// Deletes the saved connection a "TCP - " entry names (the whole "Conn:"
// section). True when the section is gone afterwards (also when there was
// none); false when a present section could not be removed (the file cannot
// be written) and for every entry that is not a connection.
bool DeleteEntry(std::u16string_view remoteName);
// The icon of an entry's class at the system's large or small icon size
// (kFsIconFlagSmall); kFsIconExtracted with *icon set, or kFsIconUseDefault
// with *icon untouched.
int ExtractEntryIcon(std::u16string_view remoteName, int extractFlags, HICON* icon);
