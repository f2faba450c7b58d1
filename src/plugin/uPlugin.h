// Exported entry points of the plugin. Each export is a thin function over its
// implementation; ANSI exports convert their text and call the wide ones.
#pragma once

#include "plugin/uHostApi.h"

KL_EXPORT int FsInit(int PluginNr, THostProc ProgressProc, THostProc LogProc,
                     THostProc RequestProc);
KL_EXPORT int FsInitW(int PluginNr, THostProc ProgressProcW, THostProc LogProcW,
                      THostProc RequestProcW);
KL_EXPORT void FsSetDefaultParams(THostDefaultParams* dps);
KL_EXPORT void FsGetDefRootName(char* DefRootName, int maxlen);
KL_EXPORT void ListGetDetectString(char* DetectString, int maxlen);

KL_EXPORT HANDLE FsFindFirst(char* Path, WIN32_FIND_DATAA* FindData);
KL_EXPORT HANDLE FsFindFirstW(WCHAR* Path, WIN32_FIND_DATAW* FindData);
KL_EXPORT BOOL FsFindNext(HANDLE Hdl, WIN32_FIND_DATAA* FindData);
KL_EXPORT BOOL FsFindNextW(HANDLE Hdl, WIN32_FIND_DATAW* FindData);
KL_EXPORT int FsFindClose(HANDLE Hdl);

KL_EXPORT int FsGetFile(char* RemoteName, char* LocalName, int CopyFlags, THostRemoteInfo* ri);
KL_EXPORT int FsGetFileW(WCHAR* RemoteName, WCHAR* LocalName, int CopyFlags, THostRemoteInfo* ri);

KL_EXPORT int FsExecuteFile(HWND MainWin, char* RemoteName, char* Verb);
KL_EXPORT int FsExecuteFileW(HWND MainWin, WCHAR* RemoteName, WCHAR* Verb);

KL_EXPORT BOOL FsDeleteFile(char* RemoteName);
KL_EXPORT BOOL FsDeleteFileW(WCHAR* RemoteName);

KL_EXPORT int FsExtractCustomIcon(char* RemoteName, int ExtractFlags, HICON* TheIcon);
KL_EXPORT int FsExtractCustomIconW(WCHAR* RemoteName, int ExtractFlags, HICON* TheIcon);

KL_EXPORT HWND ListLoad(HWND ParentWin, char* FileToLoad, int ShowFlags);
KL_EXPORT HWND ListLoadW(HWND ParentWin, WCHAR* FileToLoad, int ShowFlags);
KL_EXPORT void ListCloseWindow(HWND ListWin);
