#include "plugin/uPlugin.h"

#include "base/uBarrier.h"
#include "base/uWin.h"
#include "dialogs/uSendFileDlg.h"
#include "plugin/uDescriptor.h"
#include "plugin/uDescriptorFile.h"
#include "plugin/uExecute.h"
#include "plugin/uFolder.h"
#include "settings/uSettings.h"
#include "termwnd/uListerGlue.h"
#include "termwnd/uTermSendFile.h"
#include "termwnd/uTermWnd.h"

namespace {

// No C++ exception may unwind into the host: a failed allocation deep in a
// listing or a conversion becomes the export's failure result instead.
template <class R, class F>
R Guarded(R failure, F&& body) noexcept {
    return ::Guarded([&]() -> R { return body(); }, [](TFault) {}, failure);
}

// Marks the empty window shown for the manage entry, so ListCloseWindow
// tells it from a terminal.
constexpr wchar_t kEmptyPreviewProp[] = L"KestrelinkEmptyPreview";

HWND EmptyPreview(HWND parent) {
    RECT rc = {};
    GetClientRect(parent, &rc);
    HWND hwnd = CreateWindowExW(WS_EX_NOPARENTNOTIFY, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0,
                                rc.right, rc.bottom, parent, nullptr, ThisModule(), nullptr);
    if (hwnd) SetPropW(hwnd, kEmptyPreviewProp, reinterpret_cast<HANDLE>(1));
    return hwnd;
}

HWND LoadDescriptor(HWND parent, const std::u16string& file) {
    std::string bytes;
    TDescriptor d;
    if (!ReadDescriptorFile(file, bytes) || !ParseDescriptor(bytes, d)) return nullptr;
    if (d.Kind == kKindManage) return EmptyPreview(parent);
    if (!d.Ini.empty()) SetSettingsPath(d.Ini);
    TConnInfo conn;
    conn.Name = d.Target;
    conn.Host = d.Host;
    conn.Port = d.Port;
    conn.Mode = d.Mode;
    return OpenEmbeddedTerminal(parent, d.Kind, d.Target, d.Display, conn);
}

// The terminal reaches the Send file dialog through this function: the
// terminal and the dialogs do not know each other, the plugin knows both.
// Set while the library loads, before any terminal can exist.
const bool gSendFileDialogWired = (SetSendFileDialog(&ShowSendFileDialog), true);

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

// Enter ("open") and the properties command; the dialogs and the stand-alone
// terminal run inside this call.
KL_EXPORT int FsExecuteFile(HWND MainWin, char* RemoteName, char* Verb) {
    return Guarded(kFsExecError,
                   [&] { return ExecuteEntry(MainWin, AnsiToWide(RemoteName), AnsiToWide(Verb)); });
}
KL_EXPORT int FsExecuteFileW(HWND MainWin, WCHAR* RemoteName, WCHAR* Verb) {
    return Guarded(kFsExecError, [&] { return ExecuteEntry(MainWin, U(RemoteName), U(Verb)); });
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

// The host offers every file its detect string matched; anything that is not
// a valid descriptor is declined with NULL so its other lister plugins get it.
KL_EXPORT HWND ListLoad(HWND ParentWin, char* FileToLoad, int) {
    return Guarded<HWND>(nullptr,
                         [&] { return LoadDescriptor(ParentWin, AnsiToWide(FileToLoad)); });
}
KL_EXPORT HWND ListLoadW(HWND ParentWin, WCHAR* FileToLoad, int) {
    return Guarded<HWND>(nullptr, [&] { return LoadDescriptor(ParentWin, U(FileToLoad)); });
}

KL_EXPORT void ListCloseWindow(HWND ListWin) {
    Guarded(0, [&] {
        if (ListWin && IsWindow(ListWin) && GetPropW(ListWin, kEmptyPreviewProp)) {
            RemovePropW(ListWin, kEmptyPreviewProp);
            DestroyWindow(ListWin);
        } else {
            CloseEmbeddedTerminal(ListWin);
        }
        return 0;
    });
}
