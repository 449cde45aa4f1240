// The desktop box's process: GTK 3's message dialog (gtk_box.cpp), or where GTK is missing or
// cannot open the display, SDL2's simple message box on an X display (sdl_box.cpp).
//
// Each box is shown by a child process of its own, which loads the toolkit, shows the box and
// ends with a BoxOutcome as its exit code. A toolkit ends the process whose display goes away
// (the X library's I/O error handler exits), and a crash in a toolkit, or in a theme engine,
// input method or module that it loads, takes its process with it: in the child, either only
// tells the program that the box was not seen through, and the program writes the value to
// standard error and goes on. The program itself never loads a toolkit.
//
// The child's standard input, output and error point at /dev/null: the toolkits, and any
// command they start, write their diagnostics there, and standard error is where the values
// go when no box can be shown.
#include "platform/posix/desktop_box.h"

#include "platform/posix/box_text.h"
#include "platform/posix/toolkit_box.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <sys/wait.h>
#include <unistd.h>

namespace {

// An X server or a Wayland compositor to talk to, as the toolkits themselves find them.
bool HasDisplay() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

// The end of a child that something in it made call exit: the program's own handlers, such
// as its C++ destructors, and its standard output's buffer are the parent's, not the child's.
// Registered first in the child, this handler runs before them and ends the child at once.
void EndChildOnExit() {
    _exit(BoxLeftByExit);
}

// Points a descriptor at /dev/null (left as it is were /dev/null missing).
void SilenceDescriptor(int fd, int mode) {
    const int null = open("/dev/null", mode | O_CLOEXEC);
    if (null >= 0 && null != fd) {
        dup2(null, fd);
        close(null);
    }
}

// Has this process killed when its parent, given by its process id, ends; ends it at once
// where the parent has ended already, before that could be arranged. Linux alone can tie a
// process to its parent's end; elsewhere the box's process only checks its parent is there.
void TieToParent(pid_t parent) {
#if defined(__linux__)
    const bool isTied = prctl(PR_SET_PDEATHSIG, SIGKILL) == 0;
#else
    const bool isTied = true;
#endif
    if (!isTied || getppid() != parent) {
        _exit(BoxNotShown);
    }
}

pid_t BoxProcess; // the child's own process id, in the child

// Gives a process that a toolkit forks in the child, as SDL2 does for its box, the same tie:
// it is killed when the child ends.
void TieForkedProcess() {
    TieToParent(BoxProcess);
}

// The child: shows the box and ends with the outcome as its exit code. The box does not
// outlive the program, nor do the processes the toolkit forks outlive the child. It leaves
// the terminal as it is: it starts with every signal blocked, gives each of the program's
// handlers way to the signal's default action, and only then takes signals; its standard
// descriptors point at /dev/null.
[[noreturn]] void RunBoxProcess(pid_t parent, const char* text) {
    TieToParent(parent);
    BoxProcess = getpid();
    pthread_atfork(nullptr, nullptr, TieForkedProcess);
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction action {};
        if (sigaction(signal, nullptr, &action) == 0 && action.sa_handler != SIG_DFL &&
            action.sa_handler != SIG_IGN) {
            std::signal(signal, SIG_DFL);
        }
    }
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
    std::atexit(EndChildOnExit);
    SilenceDescriptor(STDIN_FILENO, O_RDONLY);
    SilenceDescriptor(STDOUT_FILENO, O_WRONLY);
    SilenceDescriptor(STDERR_FILENO, O_WRONLY);

    BoxOutcome outcome = ShowGtkBox(text);
    if (outcome == BoxNotShown) {
        outcome = ShowSdlBox(text);
    }
    _exit(outcome);
}

// Shows the box from a child process and waits until it ends. True when the child says that
// it showed the whole text and the box was closed.
bool ShowBox(const char* utf8) {
    // The child's end is collected here, so it must not be left to the system, as a SIGCHLD
    // that the program's caller ignored would have it.
    std::signal(SIGCHLD, SIG_DFL);
    // No handler of the program's, such as those that restore the terminal, runs in the
    // child: every signal waits, blocked, from before the fork until the child has given the
    // handlers up. The program takes its signals again once the fork is done.
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child == 0) {
        RunBoxProcess(parent, utf8);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (child < 0) {
        return false;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == BoxClosed;
}

} // namespace

bool ShowDesktopBox(const char* text) {
    if (!HasDisplay()) {
        return false;
    }
    // Text that is valid UTF-8 already, as a Linux user's files are, goes to the box as it is.
    if (IsValidUtf8(text)) {
        return ShowBox(text);
    }
    // Any other text is read as Windows-1252, so that every byte still shows.
    char* utf8 = static_cast<char*>(std::malloc(std::strlen(text) * 3 + 1));
    if (utf8 == nullptr) {
        return false;
    }
    ConvertAnsiToUtf8(text, utf8);
    const bool shown = ShowBox(utf8);
    std::free(utf8);
    return shown;
}
