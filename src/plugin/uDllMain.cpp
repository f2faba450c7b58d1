// The library's entry point. Everything is created on first use; what lives
// as long as the library (the dark theme's brushes and system libraries) is
// released when the host unloads it.
#include <windows.h>

#include "dialogs/uTheme.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    // At process exit (reserved set) the system reclaims everything, and the
    // libraries the theme would free may already be gone.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) ReleaseTheme();
    return TRUE;
}
