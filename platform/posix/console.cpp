// Console: standard handles, the terminal's mode for the run, and the key wait's input on a
// terminal or anything else. What the run does with the terminal, and when, is described once,
// in docs/linux.md, "The terminal".
#include "platform/posix/posix.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// How long the key wait waits for the rest of a key whose first byte starts an escape
// sequence or a UTF-8 character. A terminal writes a key's bytes at once, so the rest is
// normally there already; this covers one that reaches the program in two reads.
constexpr int KeyTailMilliseconds = 50;
constexpr unsigned char Escape = 0x1B;
constexpr unsigned char FirstUtf8Lead = 0xC0;

// The terminal's state for the run: the mode it wants, and whether the terminal has a mode
// the run set (set only by a tcsetattr that succeeded, cleared by one that put the mode found
// back), which is what the run has to put back.
volatile std::sig_atomic_t WantedMode = TerminalAsFound;
volatile std::sig_atomic_t IsModeApplied = 0;

// The mode found, taken the first time the run sets a mode of its own, in the foreground:
// that is the mode the shell gave the job and gets back. Taken at the start, a run started
// in the background would find whatever the shell's line editor had set for itself.
termios FoundMode;
volatile std::sig_atomic_t HasFoundMode = 0;

// Whether this process may change the mode of the terminal on standard input without being
// stopped for it (SIGTTOU): it is in the terminal's foreground, or the terminal is not the
// process's controlling terminal.
bool IsTerminalInForeground() {
    const pid_t foreground = tcgetpgrp(STDIN_FILENO);
    return foreground == -1 || foreground == getpgrp();
}

// Gives the terminal the wanted mode, the mode found for TerminalAsFound, where the run may:
// in the foreground alone, so that neither the run nor a signal's handler is stopped for it
// in the background. Safe to call from a signal handler.
void ApplyWantedMode(int when) {
    if (!IsTerminalInForeground()) {
        return;
    }
    if (WantedMode == TerminalAsFound) {
        if (IsModeApplied != 0 && tcsetattr(STDIN_FILENO, when, &FoundMode) == 0) {
            IsModeApplied = 0;
        }
        return;
    }
    if (HasFoundMode == 0) {
        if (tcgetattr(STDIN_FILENO, &FoundMode) != 0) {
            return;
        }
        HasFoundMode = 1;
    }
    termios mode = FoundMode;
    mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
    if (WantedMode == TerminalKeys) {
        mode.c_lflag &= ~static_cast<tcflag_t>(ICANON);
        mode.c_cc[VMIN] = 1;
        mode.c_cc[VTIME] = 0;
    }
    if (tcsetattr(STDIN_FILENO, when, &mode) == 0) {
        IsModeApplied = 1;
    }
}

// Switches the terminal to key mode, discarding input typed so far. A run in the background
// stops here (SIGTTOU) until the shell continues it; continued in the foreground, its
// continue gives the terminal key mode, and in the background the key wait does once it is
// in the foreground. False when standard input is no terminal.
bool EnterKeyMode() {
    if (WantedMode == TerminalKeys) {
        return true;
    }
    if (isatty(STDIN_FILENO) == 0) {
        return false;
    }
    WantedMode = TerminalKeys;
    if (IsTerminalInForeground()) {
        ApplyWantedMode(TCSAFLUSH);
    } else {
        raise(SIGTTOU);
    }
    return true;
}

// Takes the rest of the key whose first byte was just read, so that none of it is left for
// whatever reads the terminal next: everything that is pending, after a short wait for more
// where the first byte starts a sequence.
void TakeRestOfKey(unsigned char first) {
    if (first == Escape || first >= FirstUtf8Lead) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        poll(&input, 1, KeyTailMilliseconds);
    }
    tcflush(STDIN_FILENO, TCIFLUSH);
}

} // namespace

TerminalMode SetTerminalMode(TerminalMode mode) {
    const auto before = static_cast<TerminalMode>(WantedMode);
    WantedMode = mode;
    ApplyWantedMode(TCSANOW);
    return before;
}

void ApplyTerminalMode() {
    ApplyWantedMode(TCSANOW);
}

void QuietTerminal() {
    if (isatty(STDIN_FILENO) != 0) {
        SetTerminalMode(TerminalQuiet);
    }
}

// The three handles the program asks for: STD_INPUT_HANDLE (-10), STD_OUTPUT_HANDLE (-11) and
// STD_ERROR_HANDLE (-12) are the descriptors 0, 1 and 2.
extern "C" HANDLE GetStdHandle(DWORD stdHandle) {
    return HandleOf(static_cast<int>(STD_INPUT_HANDLE - stdHandle));
}

// Only a terminal has a console input buffer to flush, as only a console does on Windows.
// The switch to key mode discards what was typed before it, and nothing after it: a key
// typed once the terminal is in key mode counts. In key mode already, a flush discards.
extern "C" BOOL FlushConsoleInputBuffer(HANDLE consoleInput) {
    if (FdOf(consoleInput) != STDIN_FILENO) {
        return FALSE;
    }
    if (WantedMode == TerminalKeys) {
        tcflush(STDIN_FILENO, TCIFLUSH);
        return TRUE;
    }
    return EnterKeyMode() ? TRUE : FALSE;
}

// Nonzero when a read of standard input would not block: a key, the input's end, or an
// input that is closed or broken. A poll that fails, even one a signal cut short, counts as
// ready too: the read that follows then waits for the key. A run in the background has no
// key to read: the terminal's keys are the foreground job's, and a read would stop the run
// (SIGTTIN), so the wait goes on until fg.
extern "C" int _kbhit() {
    if (EnterKeyMode()) {
        if (!IsTerminalInForeground()) {
            return 0;
        }
        // A run continued in the background (bg) has no mode of its own; brought to the
        // foreground later (fg), it is not continued again, so it takes key mode up itself.
        if (IsModeApplied == 0) {
            ApplyWantedMode(TCSANOW);
        }
    }
    pollfd input{STDIN_FILENO, POLLIN, 0};
    return poll(&input, 1, 0) != 0 ? 1 : 0;
}

// The next key of standard input without echo: its first byte, or -1 at the input's end or
// when it cannot be read. On a terminal the rest of the key's bytes (an arrow's escape
// sequence, a UTF-8 character's tail) are taken with it.
extern "C" int _getch() {
    unsigned char key = 0;
    ssize_t got;
    while ((got = read(STDIN_FILENO, &key, 1)) < 0 && errno == EINTR) {
    }
    if (WantedMode == TerminalKeys) {
        if (got == 1) {
            TakeRestOfKey(key);
        }
        SetTerminalMode(TerminalQuiet);
    }
    return got == 1 ? key : -1;
}
