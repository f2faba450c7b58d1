// Exported entry points of the plugin. Each export is a thin function over its
// implementation; ANSI exports convert their text and call the wide ones.
#pragma once

#include "plugin/uHostApi.h"

KL_EXPORT int FsInit(int PluginNr, THostProc ProgressProc, THostProc LogProc, THostProc RequestProc);
KL_EXPORT int FsInitW(int PluginNr, THostProc ProgressProcW, THostProc LogProcW,
                      THostProc RequestProcW);
KL_EXPORT void FsSetDefaultParams(THostDefaultParams* dps);
KL_EXPORT void FsGetDefRootName(char* DefRootName, int maxlen);
KL_EXPORT void ListGetDetectString(char* DetectString, int maxlen);
