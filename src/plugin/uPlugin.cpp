#include "plugin/uPlugin.h"

#include "base/uWin.h"
#include "plugin/uDescriptorFile.h"
#include "plugin/uFolder.h"

namespace {

// No C++ exception may unwind into the host: a failed allocation deep in a
// listing or a conversion becomes the export's failure result instead.
template <class R, class F>
R Guarded(R failure, F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

HANDLE FindFailed() {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
}

}  // namespace

// The host hands over its plugin number, callbacks and defaults at start-up;
// the library keeps none of them and starts nothing: all state is created on
// first use, so a second FsInit changes nothing either.
KL_EXPORT int FsInit(int, THostProc, THostProc, THostProc) { return 0; }
KL_EXPORT int FsInitW(int, THostProc, THostProc, THostProc) { return 0; }
KL_EXPORT void FsSetDefaultParams(THostDefaultParams*) {}

KL_EXPORT void FsGetDefRootName(char* DefRootName, int maxlen) {
    CopyToBuffer(DefRootName, maxlen, kRootName);
}

KL_EXPORT void ListGetDetectString(char* DetectString, int maxlen) {
    CopyToBuffer(DetectString, maxlen, kDetectString);
}

// The find handles belong to the host between find-first and FsFindClose; the
// ANSI variants convert the path in and the names out, nothing else.
KL_EXPORT HANDLE FsFindFirst(char* Path, WIN32_FIND_DATAA* FindData) {
    try {
        return FolderFindFirst(AnsiToWide(Path), FindData);
    } catch (...) {
        return FindFailed();
    }
}
KL_EXPORT HANDLE FsFindFirstW(WCHAR* Path, WIN32_FIND_DATAW* FindData) {
    try {
        return FolderFindFirst(U(Path), FindData);
    } catch (...) {
        return FindFailed();
    }
}
KL_EXPORT BOOL FsFindNext(HANDLE Hdl, WIN32_FIND_DATAA* FindData) {
    return Guarded(kHostFalse,
                   [&] { return FolderFindNext(Hdl, FindData) ? kHostTrue : kHostFalse; });
}
KL_EXPORT BOOL FsFindNextW(HANDLE Hdl, WIN32_FIND_DATAW* FindData) {
    return Guarded(kHostFalse,
                   [&] { return FolderFindNext(Hdl, FindData) ? kHostTrue : kHostFalse; });
}
KL_EXPORT int FsFindClose(HANDLE Hdl) {
    return Guarded(0, [&] {
        FolderFindClose(Hdl);
        return 0;
    });
}

KL_EXPORT int FsGetFile(char* RemoteName, char* LocalName, int CopyFlags, THostRemoteInfo*) {
    return Guarded(kFsFileWriteError, [&] {
        return GetEntryFile(AnsiToWide(RemoteName), AnsiToWide(LocalName), CopyFlags);
    });
}
KL_EXPORT int FsGetFileW(WCHAR* RemoteName, WCHAR* LocalName, int CopyFlags, THostRemoteInfo*) {
    return Guarded(kFsFileWriteError,
                   [&] { return GetEntryFile(U(RemoteName), U(LocalName), CopyFlags); });
}

KL_EXPORT BOOL FsDeleteFile(char* RemoteName) {
    return Guarded(kHostFalse,
                   [&] { return DeleteEntry(AnsiToWide(RemoteName)) ? kHostTrue : kHostFalse; });
}
KL_EXPORT BOOL FsDeleteFileW(WCHAR* RemoteName) {
    return Guarded(kHostFalse, [&] { return DeleteEntry(U(RemoteName)) ? kHostTrue : kHostFalse; });
}

// RemoteName is the host's buffer and could be rewritten to redirect the
// icon; every entry has its own icon, so it is left as it is.
KL_EXPORT int FsExtractCustomIcon(char* RemoteName, int ExtractFlags, HICON* TheIcon) {
    return Guarded(kFsIconUseDefault,
                   [&] { return ExtractEntryIcon(AnsiToWide(RemoteName), ExtractFlags, TheIcon); });
}
KL_EXPORT int FsExtractCustomIconW(WCHAR* RemoteName, int ExtractFlags, HICON* TheIcon) {
    return Guarded(kFsIconUseDefault,
                   [&] { return ExtractEntryIcon(U(RemoteName), ExtractFlags, TheIcon); });
}
