// The edge between the plugin's code and the code that calls it: the file
// manager's message loop (window, dialog, subclass and timer procedures) and
// the system's thread start. An exception that crossed it would unwind
// through user32 or the thread start into the host and end the file manager,
// so every such entry runs its body through one of these, which catch
// everything, tell the owner once (end the session, close the dialog) and
// return a harmless result.
//
// Pinning: once the plugin has a window or a thread, the host may still
// unload the library (it does so when a file-system plugin is no longer
// shown); a stand-alone terminal or a worker would then run unmapped code.
// PinModule keeps the library loaded for the rest of the process.
#pragma once

#include <windows.h>

#include <new>
#include <utility>

enum class TFault { OutOfMemory, Other };

// Runs body(); returns its result, or `fallback` after onFault(kind) when it
// threw. An exception from onFault itself is swallowed: the edge holds.
template <class Body, class OnFault, class R = decltype(std::declval<Body&>()())>
R Guarded(Body&& body, OnFault&& onFault, R fallback) noexcept {
    TFault kind;
    try {
        return body();
    } catch (const std::bad_alloc&) {
        kind = TFault::OutOfMemory;
    } catch (...) {
        kind = TFault::Other;
    }
    try {
        onFault(kind);
    } catch (...) {
    }
    return fallback;
}

// For bodies that return nothing; true when the body ran through.
template <class Body, class OnFault>
bool GuardedVoid(Body&& body, OnFault&& onFault) noexcept {
    return Guarded(
        [&] {
            body();
            return true;
        },
        onFault, false);
}

// A window procedure's body behind the edge: a fault is handed to onFault and
// the message is answered with `fallback`.
template <class Body, class OnFault>
LRESULT GuardedProc(Body&& body, OnFault&& onFault, LRESULT fallback = 0) noexcept {
    return Guarded(std::forward<Body>(body), std::forward<OnFault>(onFault), fallback);
}

// Keeps this library loaded until the process ends; cheap after the first call.
void PinModule();

// The Windows error code that stands for a fault (for WM_APP+2 and status texts).
inline DWORD FaultCode(TFault kind) {
    return kind == TFault::OutOfMemory ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INTERNAL_ERROR;
}
