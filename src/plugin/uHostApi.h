// The host's side of the contract as this library sees it: the calling
// convention of every export and the few host values it reads or returns.
// Callbacks and the default-parameter record handed over at start-up are kept
// opaque because the library never uses them.
#pragma once

#include <windows.h>

#define KL_EXPORT extern "C" __stdcall

struct THostCallbacks;      // progress, log and request callbacks: ignored
struct THostDefaultParams;  // the host's default-parameter record: ignored
struct THostRemoteInfo;     // size and time of a file to copy out: ignored

using THostProc = THostCallbacks*;

// TRUE as the host expects it: all bits set.
constexpr BOOL kHostTrue = -1;
constexpr BOOL kHostFalse = 0;

// FsGetFile results
constexpr int kFsFileOk = 0;
constexpr int kFsFileExists = 1;
constexpr int kFsFileWriteError = 4;
constexpr int kFsFileNotSupported = 6;
// FsGetFile CopyFlags
constexpr int kFsCopyFlagOverwrite = 1;
constexpr int kFsCopyFlagMove = 4;
// FsExecuteFile results
constexpr int kFsExecOk = 0;
constexpr int kFsExecError = 1;
// FsExtractCustomIcon
constexpr int kFsIconUseDefault = 0;
constexpr int kFsIconExtracted = 2;
constexpr int kFsIconFlagSmall = 1;

// The root name the host lists the plugin under, and the lister detect string,
// which matches the "KESTRELINK1" magic of a descriptor file byte by byte.
inline constexpr char kRootName[] = "Kestrelink";
inline constexpr char kDetectString[] =
    "[0]=\"K\" & [1]=\"E\" & [2]=\"S\" & [3]=\"T\" & [4]=\"R\" & [5]=\"E\" & [6]=\"L\" & "
    "[7]=\"I\" & [8]=\"N\" & [9]=\"K\" & [10]=\"1\"";
static_assert(sizeof(kDetectString) - 1 == 108, "detect string length");
