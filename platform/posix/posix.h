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
// /dev/null, a write to a closed pipe fails instead of killing the process, and the terminal
// on standard input gets the run's mode, and its own back on every road out (the signals are
// handled for it). The terminal's behaviour is described in docs/linux.md, "The terminal".
void PrepareProcess();

// What the run wants of the terminal on standard input.
enum TerminalMode : int {
    TerminalAsFound, // none of its own: the mode the run found
    TerminalQuiet,   // as found, without echo
    TerminalKeys,    // without echo or line editing: each key as it is typed
};

// Makes mode the one the run wants and gives it to the terminal where the run may (in the
// terminal's foreground). Returns the mode wanted before. Safe to call from a signal handler.
TerminalMode SetTerminalMode(TerminalMode mode);

// Gives the terminal the wanted mode again where the run may, as after a continue. Safe to
// call from a signal handler.
void ApplyTerminalMode();

// Wants the quiet mode when standard input is a terminal.
void QuietTerminal();

// Reads the character at the start of the zero-terminated, non-empty text: a well-formed
// UTF-8 character, or else one byte. Returns its length, and puts into escape how a terminal is to
// show it when it would not show as itself (a control byte as \e, \r, \x7f, a byte that starts
// no character as \x9b, a C1 control or a formatting character as \u202e), else an empty text.
std::size_t EscapeCharacter(const char* text, char (&escape)[8]);

// Writes a value text and a line feed to standard error: byte for byte when it is not a
// terminal, else as one line with every character escaped that the terminal would obey.
void WriteValueLine(const char* text);
