// Process: signal set-up, Sleep and ExitProcess.
#include "platform/posix/posix.h"

#include <csignal>
#include <ctime>
#include <unistd.h>

namespace {

// Restores the terminal, then lets the signal do what it would have done.
void EndOnSignal(int signal) {
    RestoreTerminal();
    std::signal(signal, SIG_DFL);
    raise(signal);
}

} // namespace

void PrepareProcess() {
    std::signal(SIGPIPE, SIG_IGN);
    constexpr int Signals[] = {SIGINT, SIGTERM, SIGHUP};
    for (const int signal : Signals) {
        struct sigaction action {};
        sigaction(signal, nullptr, &action);
        if (action.sa_handler == SIG_IGN) {
            continue; // a signal the caller chose to ignore stays ignored (nohup)
        }
        action.sa_handler = EndOnSignal;
        action.sa_flags = 0;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

// The key wait's pause between two looks at the input; a pause that a signal cuts short only
// brings the next look forward.
extern "C" void Sleep(DWORD milliseconds) {
    const timespec wait{static_cast<time_t>(milliseconds / 1000),
                        static_cast<long>(milliseconds % 1000) * 1000000L};
    nanosleep(&wait, nullptr);
}

extern "C" void ExitProcess(UINT exitCode) {
    RestoreTerminal();
    _exit(static_cast<int>(exitCode));
}
