// The key wait on a real terminal: the program runs on a pseudo-terminal with a key already
// typed before it starts. That key must be thrown away, the run must end on the next key,
// the key must not be echoed, and the terminal must get its mode back, also when a signal
// ends the wait.
#include "tests/support/subprocess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

using namespace std::chrono_literals;

constexpr char Prompt[] = "Press any key to exit...";

struct Terminal {
    int master = -1;
    pid_t child = -1;
    termios before{};
};

// Starts the program on a new pseudo-terminal in folder, after typing typedAhead into it, and
// with ignoredSignal, unless 0, ignored. Output processing is off so the bytes read back are
// the bytes written.
Terminal StartOnTerminal(const std::string& folder, const std::string& typedAhead,
                         int ignoredSignal = 0) {
    Terminal terminal;
    int slave = -1;
    if (openpty(&terminal.master, &slave, nullptr, nullptr, nullptr) != 0) {
        std::abort();
    }
    termios mode{};
    tcgetattr(slave, &mode);
    mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    mode.c_lflag |= ICANON | ECHO | ISIG;
    tcsetattr(slave, TCSANOW, &mode);
    tcgetattr(slave, &terminal.before);
    [[maybe_unused]] auto typed = write(terminal.master, typedAhead.data(), typedAhead.size());

    terminal.child = fork();
    if (terminal.child == 0) {
        setsid();
        ioctl(slave, TIOCSCTTY, 0);
        dup2(slave, STDIN_FILENO);
        dup2(slave, STDOUT_FILENO);
        dup2(slave, STDERR_FILENO);
        close(slave);
        close(terminal.master);
        if (chdir(folder.c_str()) != 0) {
            _exit(126);
        }
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        if (ignoredSignal != 0) {
            signal(ignoredSignal, SIG_IGN);
        }
        ExecProgram(ProgramPath());
    }
    close(slave);
    return terminal;
}

// Reads from the terminal until text has appeared or the time is up.
bool ReadUntil(int master, std::string& seen, const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (seen.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        pollfd ready{master, POLLIN, 0};
        if (poll(&ready, 1, 100) > 0) {
            char chunk[1024];
            const ssize_t got = read(master, chunk, sizeof chunk);
            if (got <= 0) {
                return false;
            }
            seen.append(chunk, static_cast<std::size_t>(got));
        }
    }
    return true;
}

// Waits until the program has the terminal in key mode (no line editing).
bool WaitForKeyMode(int master) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    termios mode{};
    while (tcgetattr(master, &mode) == 0 && (mode.c_lflag & ICANON) != 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

bool SameMode(const termios& a, const termios& b) {
    return a.c_lflag == b.c_lflag && a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag &&
           a.c_cc[VMIN] == b.c_cc[VMIN] && a.c_cc[VTIME] == b.c_cc[VTIME];
}

int WaitForExit(pid_t child) {
    int status = 0;
    for (int i = 0; i < 1000; ++i) {
        if (waitpid(child, &status, WNOHANG) == child) {
            return status;
        }
        std::this_thread::sleep_for(10ms);
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return status;
}

class KeyWait : public ::testing::Test {
  protected:
    void SetUp() override { WriteBytes(folder.path + "/Test.txt", "str1=hello&str2=world&"); }
    void TearDown() override {
        if (terminal.master >= 0) {
            close(terminal.master);
        }
        RemoveTempFolder(folder);
    }
    TempFolder folder = MakeTempFolder();
    Terminal terminal;
};

TEST_F(KeyWait, KeyTypedBeforeTheWaitIsDiscardedAndTheNextOneEndsTheRun) {
    terminal = StartOnTerminal(folder.path, "x");
    std::string seen;
    ASSERT_TRUE(ReadUntil(terminal.master, seen, Prompt)) << seen;
    ASSERT_TRUE(WaitForKeyMode(terminal.master));

    // The key typed ahead must not have ended the wait.
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(waitpid(terminal.child, nullptr, WNOHANG), 0) << "the typed-ahead key ended the wait";

    [[maybe_unused]] auto typed = write(terminal.master, "k", 1);
    const int status = WaitForExit(terminal.child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    ReadUntil(terminal.master, seen, std::string(Prompt) + "\r\n");
    // After the prompt only the line break: the key is not echoed.
    EXPECT_EQ(seen.substr(seen.find(Prompt)), std::string(Prompt) + "\r\n");

    termios after{};
    tcgetattr(terminal.master, &after);
    EXPECT_TRUE(SameMode(terminal.before, after));
}

// The processor time the process has used so far, user and system, from /proc/PID/stat
// (fields 14 and 15, in clock ticks, after the command name in parentheses).
double CpuSecondsOf(pid_t process) {
    std::ifstream stat("/proc/" + std::to_string(process) + "/stat");
    std::string line;
    std::getline(stat, line);
    unsigned long long user = 0, system = 0;
    std::sscanf(line.c_str() + line.rfind(')') + 2,
                "%*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu %llu", &user, &system);
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Between looks at the input the wait sleeps: over a second at the prompt the process uses
// well under a tenth of a processor. Its own processor time is measured, not the time that
// passes, so a busy machine does not make the check pass or fail. Under valgrind or an
// emulator the process measured would be theirs, so the check is left to the plain runs.
TEST_F(KeyWait, SleepsBetweenLooksAtTheInput) {
    if (const char* runUnder = std::getenv("KEYREPORT_RUN_UNDER")) {
        const std::string tool(runUnder, std::strcspn(runUnder, " "));
        const std::string reason =
            "the program runs under " + tool + ", whose processor time would be measured";
        std::printf("SKIP: %s\n", reason.c_str());
        GTEST_SKIP() << reason;
    }
    terminal = StartOnTerminal(folder.path, "");
    std::string seen;
    ASSERT_TRUE(ReadUntil(terminal.master, seen, Prompt)) << seen;
    ASSERT_TRUE(WaitForKeyMode(terminal.master));

    const auto start = std::chrono::steady_clock::now();
    const double usedBefore = CpuSecondsOf(terminal.child);
    std::this_thread::sleep_for(1s);
    const double used = CpuSecondsOf(terminal.child) - usedBefore;
    const std::chrono::duration<double> passed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(used, 0.1 * passed.count())
        << used << " s of processor time in " << passed.count() << " s at the prompt";

    [[maybe_unused]] auto typed = write(terminal.master, "k", 1);
    const int status = WaitForExit(terminal.child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// A signal during the wait ends the run as it would any program, the terminal restored; one
// the caller ignores (nohup) stays ignored, and the next key ends the run.
class KeyWaitSignal : public KeyWait, public ::testing::WithParamInterface<std::pair<int, bool>> {};

TEST_P(KeyWaitSignal, EndsTheRunAndRestoresTheTerminal) {
    const auto [sent, ignored] = GetParam();
    terminal = StartOnTerminal(folder.path, "", ignored ? sent : 0);
    std::string seen;
    ASSERT_TRUE(ReadUntil(terminal.master, seen, Prompt)) << seen;
    ASSERT_TRUE(WaitForKeyMode(terminal.master));

    kill(terminal.child, sent);
    if (ignored) {
        // Had the run caught the signal, it would take it before it could read this key.
        [[maybe_unused]] auto typed = write(terminal.master, "k", 1);
    }
    const int status = WaitForExit(terminal.child);
    EXPECT_TRUE(ignored ? WIFEXITED(status) && WEXITSTATUS(status) == 0
                        : WIFSIGNALED(status) && WTERMSIG(status) == sent);

    termios after{};
    tcgetattr(terminal.master, &after);
    EXPECT_TRUE(SameMode(terminal.before, after));
}

// Named after the signal: INT, TERM, HUP, and HUP_IgnoredByCaller.
INSTANTIATE_TEST_SUITE_P(Signals, KeyWaitSignal,
                         ::testing::Values(std::pair{SIGINT, false}, std::pair{SIGTERM, false},
                                           std::pair{SIGHUP, false}, std::pair{SIGHUP, true}),
                         [](const ::testing::TestParamInfo<std::pair<int, bool>>& info) {
                             return std::string(sigabbrev_np(info.param.first)) +
                                    (info.param.second ? "_IgnoredByCaller" : "");
                         });

} // namespace
