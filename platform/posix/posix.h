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

// Sets the process up for the platform layer: a closed standard descriptor is opened on
// /dev/null, a write to a closed pipe fails instead of
// killing the process; a terminal on standard input stops echoing typed keys for the run,
// and gets its mode back on SIGINT, SIGQUIT, SIGTERM and SIGHUP before the signal takes its
// usual course, and on SIGTSTP before the process stops; on SIGCONT the run's mode is taken
// up again. The handlers act on the terminal only in this process: a child forked from it
// inherits them and leaves the terminal alone, and needs to do nothing about it.
void PrepareProcess();

// Stops the terminal on standard input, if it is one, from echoing typed keys: at once when
// this process is in its foreground, else once it is continued there. The mode it had is
// kept for RestoreTerminal.
void QuietTerminal();

// Puts the terminal back into the mode the run found it in, if the run changed it, without
// forgetting the run's own mode. Safe to call from a signal handler.
void RestoreTerminal();

// Gives the terminal the run's mode again after a stop, when this process is in its
// foreground. Safe to call from a signal handler.
void ResumeTerminal();

// Reads the character at text, of at most length bytes (at least one): a well-formed UTF-8
// character, or else one byte. Returns its length, and puts into escape how a terminal is to
// show it when it would not show as itself (a control byte as \e, \r, \x7f, a byte that starts
// no character as \x9b, a C1 control or a formatting character as \u202e), else an empty text.
std::size_t EscapeCharacter(const char* text, std::size_t length, char (&escape)[8]);

// Writes a value text and a line feed to standard error: byte for byte when it is not a
// terminal, else as one line with every character escaped that the terminal would obey.
void WriteValueLine(const char* text);
