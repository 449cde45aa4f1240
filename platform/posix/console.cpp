// Console: standard handles, and the key wait's input on a terminal or anything else.
//
// On a terminal the key wait needs single keys without echo or Enter: the first of
// FlushConsoleInputBuffer or _kbhit switches the terminal to that mode and throws away what
// was typed before, and _getch (or the process's end, or a signal) puts the mode back.
// Other input (a pipe, a file, /dev/null) is read as it is; its end counts as a key, so a
// wait on input that can never deliver one ends.
#include "platform/posix/posix.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

termios SavedMode;
volatile std::sig_atomic_t InKeyMode = 0;

// Switches a terminal to key mode, once, discarding input typed so far. False when the
// descriptor is no terminal.
bool EnterKeyMode(int fd) {
    if (InKeyMode != 0) {
        return true;
    }
    if (tcgetattr(fd, &SavedMode) != 0) {
        return false;
    }
    termios keyMode = SavedMode;
    keyMode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    keyMode.c_cc[VMIN] = 1;
    keyMode.c_cc[VTIME] = 0;
    InKeyMode = 1;
    tcsetattr(fd, TCSAFLUSH, &keyMode);
    return true;
}

} // namespace

void RestoreTerminal() {
    if (InKeyMode != 0) {
        tcsetattr(STDIN_FILENO, TCSANOW, &SavedMode);
        InKeyMode = 0;
    }
}

// The three handles the program asks for: STD_INPUT_HANDLE (-10), STD_OUTPUT_HANDLE (-11) and
// STD_ERROR_HANDLE (-12) are the descriptors 0, 1 and 2.
extern "C" HANDLE GetStdHandle(DWORD stdHandle) {
    return HandleOf(static_cast<int>(STD_INPUT_HANDLE - stdHandle));
}

// Only a terminal has a console input buffer to flush, as only a console does on Windows.
extern "C" BOOL FlushConsoleInputBuffer(HANDLE consoleInput) {
    const int fd = FdOf(consoleInput);
    if (!EnterKeyMode(fd)) {
        return FALSE;
    }
    tcflush(fd, TCIFLUSH);
    return TRUE;
}

// Nonzero when a read of standard input would not block: a key, the input's end, or an
// input that is closed or broken. A poll that fails, even one a signal cut short, counts as
// ready too: the read that follows then waits for the key.
extern "C" int _kbhit() {
    EnterKeyMode(STDIN_FILENO);
    pollfd input{STDIN_FILENO, POLLIN, 0};
    return poll(&input, 1, 0) != 0 ? 1 : 0;
}

// The next byte of standard input without echo, or -1 at its end or when it cannot be read.
extern "C" int _getch() {
    unsigned char key = 0;
    ssize_t got;
    while ((got = read(STDIN_FILENO, &key, 1)) < 0 && errno == EINTR) {
    }
    RestoreTerminal();
    return got == 1 ? key : -1;
}
