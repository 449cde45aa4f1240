// What the POSIX platform files share with each other and with the Linux main.
#pragma once

#include "platform/platform.h"

// The descriptor behind a handle, and the handle for a descriptor.
inline int FdOf(HANDLE handle) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(handle));
}
inline HANDLE HandleOf(int fd) {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd));
}

// Sets the process up for the platform layer: a write to a closed pipe fails instead of
// killing the process, and a terminal left in key mode is restored on SIGINT, SIGTERM and
// SIGHUP before the signal takes its usual course.
void PrepareProcess();

// Puts the terminal back into the mode it had before the key wait, if the wait changed it.
// Safe to call from a signal handler.
void RestoreTerminal();
