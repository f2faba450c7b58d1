#include "plugin/uPlugin.h"

#include "plugin/uWin.h"

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
