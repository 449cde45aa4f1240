// Process: the standard descriptors and signals set up, Sleep and ExitProcess.
#include "platform/posix/posix.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The signals that end a program by default, typed (Ctrl-C, Ctrl-\) or sent.
constexpr int EndingSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

void SetHandler(int signal, void (*handler)(int), int flags) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

bool IsIgnored(int signal) {
    struct sigaction action {};
    sigaction(signal, nullptr, &action);
    return action.sa_handler == SIG_IGN;
}

// Takes the signal's usual course, with the signal handled by default. For one that stops the
// process this returns once it is continued.
void TakeDefaultCourse(int signal) {
    SetHandler(signal, SIG_DFL, 0);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
}

// Puts the terminal's mode back, then lets the signal do what it would have done.
void EndOnSignal(int signal) {
    SetTerminalMode(TerminalAsFound);
    TakeDefaultCourse(signal);
}

// Ctrl-Z: puts the terminal's mode back and stops for real; once continued, a stop is caught
// again and the run wants its mode again. Where the stop does not come (the kernel drops it
// for a process group that no shell controls), the run goes on with its own mode.
void StopOnSignal(int signal) {
    const int savedErrno = errno;
    const TerminalMode wanted = SetTerminalMode(TerminalAsFound);
    TakeDefaultCourse(signal);
    SetHandler(signal, StopOnSignal, SA_RESTART);
    SetTerminalMode(wanted);
    errno = savedErrno;
}

// Continued (after fg): the terminal gets the run's mode again, so that one key still ends
// the wait.
void ResumeOnSignal(int) {
    const int savedErrno = errno;
    ApplyTerminalMode();
    errno = savedErrno;
}

// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed, so that what the run
// opens next (Test.txt, a box's pipe) never takes the place of standard input, output or
// error: the key wait would wait on the file, and the dumps or values be written into it.
void OpenClosedStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            // The lowest descriptor free is this one, those below it being open.
            open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        }
    }
}

} // namespace

void PrepareProcess() {
    OpenClosedStandardDescriptors();
    std::signal(SIGPIPE, SIG_IGN);
    // No signal is taken between quieting the terminal and catching the signals that must
    // restore it.
    sigset_t handled, before;
    sigemptyset(&handled);
    for (const int signal : EndingSignals) {
        sigaddset(&handled, signal);
    }
    sigaddset(&handled, SIGTSTP);
    sigaddset(&handled, SIGCONT);
    sigprocmask(SIG_BLOCK, &handled, &before);
    for (const int signal : EndingSignals) {
        if (!IsIgnored(signal)) { // a signal the caller chose to ignore stays ignored (nohup)
            SetHandler(signal, EndOnSignal, 0);
        }
    }
    if (!IsIgnored(SIGTSTP)) {
        SetHandler(SIGTSTP, StopOnSignal, SA_RESTART);
    }
    SetHandler(SIGCONT, ResumeOnSignal, SA_RESTART);
    QuietTerminal();
    sigprocmask(SIG_SETMASK, &before, nullptr);
}

// The key wait's pause between two looks at the input; a pause that a signal cuts short only
// brings the next look forward.
extern "C" void Sleep(DWORD milliseconds) {
    const timespec wait{static_cast<time_t>(milliseconds / 1000),
                        static_cast<long>(milliseconds % 1000) * 1000000L};
    nanosleep(&wait, nullptr);
}

extern "C" void ExitProcess(UINT exitCode) {
    SetTerminalMode(TerminalAsFound);
    _exit(static_cast<int>(exitCode));
}
