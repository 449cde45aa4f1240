// Console: standard handles, the terminal's mode for the run, and the key wait's input on a
// terminal or anything else.
//
// While standard input is a terminal the run keeps typed keys from being echoed into its
// output, as a Windows console does for a program that does not read: from the start
// (QuietTerminal) the terminal does not echo. The key wait needs single keys without Enter:
// the first of FlushConsoleInputBuffer or _kbhit switches the terminal to key mode and throws
// away what was typed before, and _getch takes one whole key and goes back to the quiet mode.
// The process's end, a signal that ends it or a stop puts back the mode the run found; a
// continue takes the run's mode up again. Signals stay on: typed Ctrl-C, Ctrl-\ and Ctrl-Z
// interrupt, quit and suspend the run as in any command.
//
// Only the process that first changed the mode touches the terminal: a child forked from it
// (to show a box, say) inherits the handlers that call in here, and does nothing to the mode.
//
// Other input (a pipe, a file, /dev/null) is read as it is; its end counts as a key, so a
// wait on input that can never deliver one ends.
#include "platform/posix/posix.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// What the run asks of the terminal on standard input.
enum TerminalWish : int {
    TerminalAsFound, // the mode it had when the run found it
    TerminalQuiet,   // as found, without echo
    TerminalKeys,    // without echo or line editing: each key as it is typed
};

// How long the key wait waits for the rest of a key whose first byte starts an escape
// sequence or a UTF-8 character. A terminal writes a key's bytes at once, so the rest is
// normally there already; this covers one that reaches the program in two reads.
constexpr int KeyTailMilliseconds = 50;
constexpr unsigned char Escape = 0x1B;
constexpr unsigned char FirstUtf8Lead = 0xC0;

volatile std::sig_atomic_t Wish = TerminalAsFound;
// Set while the terminal has the mode the run wishes; cleared when the mode found is put back.
volatile std::sig_atomic_t HasWishedMode = 0;
// Set once FoundMode holds the terminal's mode as the run found it.
volatile std::sig_atomic_t HasFoundMode = 0;
termios FoundMode;
// The process that may change the terminal's mode: the one that quieted it (or found no
// terminal to quiet). A child forked from it keeps this and so leaves the terminal alone.
pid_t Owner;

// Whether this process may change the mode of the terminal on standard input without being
// stopped for it (SIGTTOU): it is in the terminal's foreground, or the terminal is not the
// process's controlling terminal.
bool IsTerminalInForeground() {
    const pid_t foreground = tcgetpgrp(STDIN_FILENO);
    return foreground == -1 || foreground == getpgrp();
}

// Gives the terminal the mode the run wishes, having kept the mode found the first time.
// Safe to call from a signal handler. False when standard input is no terminal.
bool ApplyWish(int when) {
    if (getpid() != Owner) {
        return true; // a forked child leaves the terminal to the process that set it
    }
    if (HasFoundMode == 0) {
        if (tcgetattr(STDIN_FILENO, &FoundMode) != 0) {
            return false;
        }
        HasFoundMode = 1;
    }
    // Each mode the run wishes here is without echo: the mode as found is put back by
    // RestoreTerminal alone.
    termios mode = FoundMode;
    mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
    if (Wish == TerminalKeys) {
        mode.c_lflag &= ~static_cast<tcflag_t>(ICANON);
        mode.c_cc[VMIN] = 1;
        mode.c_cc[VTIME] = 0;
    }
    tcsetattr(STDIN_FILENO, when, &mode);
    HasWishedMode = 1;
    return true;
}

// Switches the terminal to key mode, discarding input typed so far. False when standard
// input is no terminal.
bool EnterKeyMode() {
    if (Wish == TerminalKeys) {
        return true;
    }
    Wish = TerminalKeys;
    if (!ApplyWish(TCSAFLUSH)) {
        Wish = TerminalAsFound;
        return false;
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

void QuietTerminal() {
    Owner = getpid();
    if (isatty(STDIN_FILENO) == 0) {
        return;
    }
    Wish = TerminalQuiet;
    // A run started in the background leaves the terminal alone until it is continued in
    // the foreground.
    if (IsTerminalInForeground()) {
        ApplyWish(TCSANOW);
    }
}

void RestoreTerminal() {
    if (HasFoundMode != 0 && getpid() == Owner) {
        tcsetattr(STDIN_FILENO, TCSANOW, &FoundMode);
        HasWishedMode = 0;
    }
}

void ResumeTerminal() {
    if (Wish != TerminalAsFound && IsTerminalInForeground()) {
        ApplyWish(TCSANOW);
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
    if (Wish == TerminalKeys) {
        tcflush(STDIN_FILENO, TCIFLUSH);
        return TRUE;
    }
    return EnterKeyMode() ? TRUE : FALSE;
}

// Nonzero when a read of standard input would not block: a key, the input's end, or an
// input that is closed or broken. A poll that fails, even one a signal cut short, counts as
// ready too: the read that follows then waits for the key.
extern "C" int _kbhit() {
    EnterKeyMode();
    // A run stopped, then continued in the background (bg) has the mode it found; brought to
    // the foreground later (fg), it is not continued again, so the wait takes key mode up
    // itself once it has the terminal.
    if (Wish == TerminalKeys && HasWishedMode == 0 && IsTerminalInForeground()) {
        ApplyWish(TCSANOW);
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
    if (Wish == TerminalKeys) {
        if (got == 1) {
            TakeRestOfKey(key);
        }
        Wish = TerminalQuiet;
        ApplyWish(TCSANOW);
    }
    return got == 1 ? key : -1;
}
