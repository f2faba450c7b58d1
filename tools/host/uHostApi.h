// The file manager's side of the plugin contract, as the stand-in host plays
// it: the exports it calls (each looked up by name, so a library without one
// still loads and only that feature is switched off), the messages a plugin
// sends back to the host, and the lister window class a plugin looks for.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace host {

using TFsInit = int(__stdcall*)(int, void*, void*, void*);
using TFsSetDefaultParams = void(__stdcall*)(void*);
using TCopyName = void(__stdcall*)(char*, int);
using TFsFindFirstW = HANDLE(__stdcall*)(WCHAR*, WIN32_FIND_DATAW*);
using TFsFindNextW = BOOL(__stdcall*)(HANDLE, WIN32_FIND_DATAW*);
using TFsFindClose = int(__stdcall*)(HANDLE);
using TFsGetFileW = int(__stdcall*)(WCHAR*, WCHAR*, int, void*);
using TFsExtractCustomIconW = int(__stdcall*)(WCHAR*, int, HICON*);
using TFsExecuteFileW = int(__stdcall*)(HWND, WCHAR*, WCHAR*);
using TFsDeleteFileW = BOOL(__stdcall*)(WCHAR*);
using TListLoadW = HWND(__stdcall*)(HWND, WCHAR*, int);
using TListCloseWindow = void(__stdcall*)(HWND);

// Result codes and flags of the file-system interface.
constexpr int kGetFileOk = 0;
constexpr int kCopyOverwrite = 1;
constexpr int kExecOk = 0;
constexpr int kExecError = 1;
constexpr int kIconExtracted = 2;
constexpr int kIconSmall = 1;

// The plugin asks the host to re-read the current panel with this message
// and command number, posted to the window it was given as MainWin.
constexpr UINT kRefreshMessage = WM_USER + 51;
constexpr WPARAM kRefreshCommand = 540;

// A lister plugin tells "own lister window" from "Quick View panel" by the
// class of the root window it is placed in.
inline constexpr wchar_t kListerClass[] = L"TLister";

// What each export enables, for the report of a library that lacks one.
struct TExport {
    const char* Name;
    const char* Feature;
};

// The exports, bound by name. A null pointer is a missing export.
struct TPluginApi {
    TFsInit FsInit = nullptr;
    TFsSetDefaultParams FsSetDefaultParams = nullptr;
    TCopyName FsGetDefRootName = nullptr;
    TCopyName ListGetDetectString = nullptr;
    TFsFindFirstW FsFindFirstW = nullptr;
    TFsFindNextW FsFindNextW = nullptr;
    TFsFindClose FsFindClose = nullptr;
    TFsGetFileW FsGetFileW = nullptr;
    TFsExtractCustomIconW FsExtractCustomIconW = nullptr;
    TFsExecuteFileW FsExecuteFileW = nullptr;
    TFsDeleteFileW FsDeleteFileW = nullptr;
    TListLoadW ListLoadW = nullptr;
    TListCloseWindow ListCloseWindow = nullptr;

    bool CanList() const { return FsFindFirstW && FsFindNextW && FsFindClose; }
    bool CanView() const { return FsGetFileW && ListLoadW && ListCloseWindow; }
};

// One entry of the virtual folder as the listing gave it.
struct TEntry {
    std::wstring Name;
    DWORD Size = 0;
};

}  // namespace host
