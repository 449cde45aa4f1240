// The key wait on a real terminal: the program runs on a pseudo-terminal with a key already
// typed before it starts. That key must be thrown away, the run must end on the next key,
// the key must not be echoed, and the terminal must get its mode back, also when a signal
// ends the wait. Then the program as a person runs it, from an interactive bash: keys typed
// as the terminal sends them, job control, and what the shell reads after the run.
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
#include <sys/resource.h>
#include <sys/stat.h>
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
    std::string seen;      // from a shell: all the terminal has shown
    std::size_t shown = 0; // how much of it the test has waited for
};

// Starts the program on a new pseudo-terminal in folder, after typing typedAhead into it, and
// with ignoredSignal, unless 0, ignored. Output processing is off so the bytes read back are
// the bytes written. Or, with shell, starts an interactive bash there instead, with output
// processing on as a person has it, and a prompt that shows the last exit status ("<0>$ ").
Terminal StartOnTerminal(const std::string& folder, const std::string& typedAhead,
                         int ignoredSignal = 0, bool shell = false) {
    Terminal terminal;
    int slave = -1;
    if (openpty(&terminal.master, &slave, nullptr, nullptr, nullptr) != 0) {
        std::abort();
    }
    termios mode{};
    tcgetattr(slave, &mode);
    if (!shell) {
        mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    }
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
        const rlimit noCore{0, 0}; // SIGQUIT ends the run without a core file
        setrlimit(RLIMIT_CORE, &noCore);
        if (shell) {
            setenv("PS1", "<$?>$ ", 1);
            setenv("TERM", "dumb", 1);
            setenv("INPUTRC", "/dev/null", 1);
            setenv("HISTFILE", "/dev/null", 1);
            execlp("bash", "bash", "--norc", "--noprofile", "-i", nullptr);
            _exit(127);
        }
        ExecProgram(ProgramPath());
    }
    close(slave);
    return terminal;
}

// Reads from the terminal until text has appeared, from position from on, or the time is up.
bool ReadUntil(int master, std::string& seen, const std::string& text, std::size_t from = 0) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (seen.find(text, from) == std::string::npos) {
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

// Waits until the program has the terminal in key mode (no line editing). Started from a
// shell, which gives the program the terminal in line mode, only once it is in the foreground.
bool WaitForKeyMode(int master, pid_t shell = -1) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    termios mode{};
    while (tcgetattr(master, &mode) == 0 &&
           ((mode.c_lflag & ICANON) != 0 || (shell > 0 && tcgetpgrp(master) == shell))) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Waits until the shell's one job, its child, is in the given state: 'T' stopped, 'S' waiting,
// or 'Z' ended (a zombie, or already collected by the shell).
bool WaitForJob(pid_t shell, char state) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    const std::string task = "/proc/" + std::to_string(shell) + "/task/" + std::to_string(shell);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream children(task + "/children");
        pid_t job = 0;
        std::string line;
        if (!(children >> job)) {
            if (state == 'Z') {
                return true;
            }
        } else if (std::getline(std::ifstream("/proc/" + std::to_string(job) + "/stat"), line)) {
            // The state follows the command name, which is in parentheses.
            const std::size_t at = line.rfind(')') + 2;
            if (at < line.size() && line[at] == state) {
                return true;
            }
        }
        std::this_thread::sleep_for(5ms);
    }
    return false;
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

// On a terminal each value is one line in which nothing is raw that the terminal would obey:
// controls, C1 controls raw and in UTF-8, a right-to-left override, broken UTF-8.
TEST_F(KeyWait, ValuesAreShownEscapedNeverObeyed) {
    WriteBytes(folder.path + "/Test.txt", "str1=\x1b[2J\x1b]0;pwned\a\rX\b\b\xe2\x80\xae"
                                          "abc&str2=\t\n\x7f\\\xc2\x9b\x9b \xc3\xa9\xe9&");
    terminal = StartOnTerminal(folder.path, "");
    std::string seen;
    ASSERT_TRUE(ReadUntil(terminal.master, seen, Prompt)) << seen;
    EXPECT_NE(seen.find("\r\nstr1=\\e[2J\\e]0;pwned\\a\\rX\\b\\b\\u202eabc\n"), std::string::npos)
        << seen;
    EXPECT_NE(seen.find("\r\nstr2=\\t\\n\\x7f\\\\\\u009b\\x9b \xc3\xa9\\xe9\n"), std::string::npos)
        << seen;
    EXPECT_EQ(seen.find_first_of("\x1b\a\b\x7f\x9b"), std::string::npos) << seen;
    EXPECT_EQ(seen.find("\xe2\x80\xae"), std::string::npos) << seen;
    ASSERT_TRUE(WaitForKeyMode(terminal.master));
    [[maybe_unused]] auto typed = write(terminal.master, "k", 1);
    EXPECT_EQ(WaitForExit(terminal.child), 0);
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
// the caller ignores (nohup) stays ignored, and the next key ends the run. So does a stop
// here, where the run leads its own session: the kernel drops a stop for a process group that
// no shell controls, and the run must wait on in its own mode.
class KeyWaitSignal : public KeyWait, public ::testing::WithParamInterface<std::pair<int, bool>> {};

TEST_P(KeyWaitSignal, EndsTheRunAndRestoresTheTerminal) {
    const auto [sent, ignored] = GetParam();
    terminal = StartOnTerminal(folder.path, "", ignored ? sent : 0);
    std::string seen;
    ASSERT_TRUE(ReadUntil(terminal.master, seen, Prompt)) << seen;
    ASSERT_TRUE(WaitForKeyMode(terminal.master));

    kill(terminal.child, sent);
    const bool goesOn = ignored || sent == SIGTSTP;
    if (goesOn) {
        // Had the run caught the signal, it would take it before it could read this key. The
        // pause lets it take the signal first.
        std::this_thread::sleep_for(200ms);
        [[maybe_unused]] auto typed = write(terminal.master, "k", 1);
    }
    const int status = WaitForExit(terminal.child);
    EXPECT_TRUE(goesOn ? WIFEXITED(status) && WEXITSTATUS(status) == 0
                       : WIFSIGNALED(status) && WTERMSIG(status) == sent);

    termios after{};
    tcgetattr(terminal.master, &after);
    EXPECT_TRUE(SameMode(terminal.before, after));
}

// Named after the signal: INT, QUIT, TERM, HUP, HUP_IgnoredByCaller, TSTP and
// TSTP_IgnoredByCaller.
INSTANTIATE_TEST_SUITE_P(Signals, KeyWaitSignal,
                         ::testing::Values(std::pair{SIGINT, false}, std::pair{SIGQUIT, false},
                                           std::pair{SIGTERM, false}, std::pair{SIGHUP, false},
                                           std::pair{SIGHUP, true}, std::pair{SIGTSTP, false},
                                           std::pair{SIGTSTP, true}),
                         [](const ::testing::TestParamInfo<std::pair<int, bool>>& info) {
                             return std::string(sigabbrev_np(info.param.first)) +
                                    (info.param.second ? "_IgnoredByCaller" : "");
                         });

// With SIGHUP ignored (nohup), a terminal that hangs up ends the wait as an input's end does.
TEST_F(KeyWait, HangupWithSighupIgnoredEndsTheRun) {
    terminal = StartOnTerminal(folder.path, "", SIGHUP);
    std::string seen;
    ASSERT_TRUE(ReadUntil(terminal.master, seen, Prompt)) << seen;
    ASSERT_TRUE(WaitForKeyMode(terminal.master));
    close(terminal.master);
    terminal.master = -1;
    const int status = WaitForExit(terminal.child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Waits until the terminal shows text after what was waited for before.
bool ShowsNext(Terminal& shell, const std::string& text) {
    if (!ReadUntil(shell.master, shell.seen, text, shell.shown)) {
        return false;
    }
    shell.shown = shell.seen.find(text, shell.shown) + text.size();
    return true;
}

std::string ShellPrompt(int status) {
    return "<" + std::to_string(status) + ">$ ";
}

void Type(const Terminal& shell, const std::string& keys) {
    [[maybe_unused]] auto typed = write(shell.master, keys.data(), keys.size());
}

// The command line that starts the program under test, as typed at the shell.
std::string ProgramCommand() {
    const char* runUnder = std::getenv("KEYREPORT_RUN_UNDER");
    return (runUnder != nullptr ? std::string(runUnder) + " " : std::string()) + ProgramPath();
}

// Types a line at the shell, first then an echo whose output marks the end of all the shell has
// shown before it (the report of a job that stopped or ended, a prompt), and waits for the
// prompt after it.
bool MarkShell(Terminal& shell, const std::string& first = "") {
    Type(shell, first + "echo $((6 * 7))\r");
    return ShowsNext(shell, "\r\n42\r\n") && ShowsNext(shell, ShellPrompt(0));
}

// Types "stty -g" at the shell and returns what the terminal shows up to the next prompt: the
// line as the shell read it, then the terminal's mode.
std::string ModeAtThePrompt(Terminal& shell) {
    const std::size_t from = shell.shown;
    Type(shell, "stty -g\r");
    ShowsNext(shell, "\r\n" + ShellPrompt(0));
    return shell.seen.substr(from);
}

// The program as a person runs it, from an interactive bash on a pseudo-terminal.
class KeyWaitInShell : public KeyWait {
  protected:
    void SetUp() override {
        KeyWait::SetUp();
        terminal = StartOnTerminal(folder.path, "", 0, true);
        ASSERT_TRUE(ShowsNext(terminal, ShellPrompt(0))) << terminal.seen;
        before = ModeAtThePrompt(terminal);
    }
    void TearDown() override {
        kill(terminal.child, SIGKILL);
        waitpid(terminal.child, nullptr, 0);
        KeyWait::TearDown();
    }
    std::string before; // the terminal's mode at the prompt before the run
};

struct ShellCase {
    const char* name;
    std::string key = "q";     // typed at the key wait, as the terminal sends it
    int status = 0;            // the run's exit status, as the shell's prompt shows it
    bool suspendFirst = false; // Ctrl-Z at the key wait, then fg, before the key
    bool bgFirst = false;      // after the Ctrl-Z, bg, and fg once the shell has prompted again
    bool background = false;   // started with &, and fg once the run waits for its key
    const char* prefix = "";   // typed before the command
    const char* kill = "";     // typed at the shell to end the stopped run, for fg and the key
};

void PrintTo(const ShellCase& row, std::ostream* out) {
    *out << row.name;
}

class KeyWaitInShellKey : public KeyWaitInShell, public ::testing::WithParamInterface<ShellCase> {};

// One key ends the run, or a typed Ctrl-C or Ctrl-\ interrupts or quits it; none of the key
// is echoed or left for the shell, and the shell finds its terminal as it was.
TEST_P(KeyWaitInShellKey, EndsTheRunAndLeavesNothingForTheShell) {
    const ShellCase& row = GetParam();
    if ((row.suspendFirst || row.background) && std::getenv("KEYREPORT_RUN_UNDER") != nullptr) {
        // valgrind lets the program's SIGTSTP go by without stopping, so there is no stop
        // to continue from.
        const char reason[] = "the program runs under another program, which takes the stop";
        std::printf("SKIP: %s\n", reason);
        GTEST_SKIP() << reason;
    }
    Type(terminal, row.prefix + ProgramCommand() + (row.background ? " &\r" : "\r"));
    ASSERT_TRUE(ShowsNext(terminal, Prompt)) << terminal.seen;
    // In the background the run stops where it would take the terminal for the key wait; the
    // shell reports that, in its own time.
    ASSERT_TRUE(row.background ? WaitForJob(terminal.child, 'T') && MarkShell(terminal)
                               : WaitForKeyMode(terminal.master, terminal.child))
        << terminal.seen;
    if (row.suspendFirst || row.background) {
        if (row.suspendFirst) {
            Type(terminal, "\x1a");
            ASSERT_TRUE(ShowsNext(terminal, ShellPrompt(128 + SIGTSTP))) << terminal.seen;
        }
        if (*row.kill != '\0') {
            // The run is continued in the background to take the signal, which ends it. The
            // shell tells how before its next prompt once it has collected the run, as it does
            // at the latest while it waits for a command of the next line (env true).
            const std::size_t killedAt = terminal.shown;
            Type(terminal, row.kill + std::string("\r"));
            ASSERT_TRUE(WaitForJob(terminal.child, 'Z')) << terminal.seen;
            ASSERT_TRUE(MarkShell(terminal, "env true; ")) << terminal.seen;
            const std::size_t told = terminal.seen.find(strsignal(row.status - 128), killedAt);
            EXPECT_LT(told, terminal.shown) << terminal.seen;
            EXPECT_EQ(ModeAtThePrompt(terminal), before);
            return;
        }
        if (row.bgFirst) {
            Type(terminal, "bg\r");
            ASSERT_TRUE(ShowsNext(terminal, ShellPrompt(0))) << terminal.seen;
            // The run has taken its continue in the background once it waits again.
            ASSERT_TRUE(WaitForJob(terminal.child, 'S')) << terminal.seen;
        }
        Type(terminal, "fg\r");
        ASSERT_TRUE(ShowsNext(terminal, ProgramPath() + std::string("\r\n")));
        ASSERT_TRUE(WaitForKeyMode(terminal.master, terminal.child))
            << "one key no longer ends the wait: " << terminal.seen;
    }
    Type(terminal, row.key);
    ASSERT_TRUE(ShowsNext(terminal, ShellPrompt(row.status))) << terminal.seen;
    if (row.status == 0) {
        // After the prompt, or the command line that fg shows, only the run's line break (CR
        // LF, its LF made CR LF by the terminal), then the shell's prompt. The shell may show
        // the command line in a report of the stop too, so the end is what is checked.
        const std::string end = "\r\r\n" + ShellPrompt(0);
        const std::string shown = terminal.seen.substr(0, terminal.shown);
        const auto endsWith = [&shown](const std::string& text) {
            return shown.size() >= text.size() &&
                   shown.compare(shown.size() - text.size(), text.size(), text) == 0;
        };
        EXPECT_TRUE(endsWith(Prompt + end) || endsWith(ProgramPath() + std::string("\r\n") + end))
            << shown;
    }
    EXPECT_EQ(ModeAtThePrompt(terminal), before);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyWaitInShellKey,
    ::testing::Values(ShellCase{.name = "UpArrow", .key = "\x1b[A"},
                      ShellCase{.name = "F5", .key = "\x1b[15~"},
                      ShellCase{.name = "EAcuteInUtf8", .key = "\xc3\xa9"},
                      ShellCase{.name = "AfterCtrlZAndFg", .suspendFirst = true},
                      ShellCase{.name = "AfterCtrlZBgAndFg", .suspendFirst = true, .bgFirst = true},
                      ShellCase{.name = "StartedInTheBackground", .background = true},
                      // Without the terminal as its controlling terminal.
                      ShellCase{.name = "InASessionOfItsOwn", .prefix = "setsid -w "},
                      ShellCase{.name = "CtrlC", .key = "\x03", .status = 128 + SIGINT},
                      ShellCase{.name = "CtrlBackslash", .key = "\x1c", .status = 128 + SIGQUIT},
                      // kill ends a stopped run, one started with & or stopped by Ctrl-Z: the shell
                      // itself continues it for SIGTERM and SIGHUP, bg does for the others.
                      ShellCase{.name = "StoppedThenTerminated",
                                .status = 128 + SIGTERM,
                                .suspendFirst = true,
                                .kill = "kill %1"},
                      ShellCase{.name = "StartedInTheBackgroundThenTerminated",
                                .status = 128 + SIGTERM,
                                .background = true,
                                .kill = "kill %1"},
                      ShellCase{.name = "StartedInTheBackgroundThenInterrupted",
                                .status = 128 + SIGINT,
                                .background = true,
                                .kill = "kill -INT %1; bg"},
                      ShellCase{.name = "StartedInTheBackgroundThenHungUp",
                                .status = 128 + SIGHUP,
                                .background = true,
                                .kill = "kill -HUP %1"},
                      ShellCase{.name = "StartedInTheBackgroundThenQuit",
                                .status = 128 + SIGQUIT,
                                .background = true,
                                .kill = "kill -QUIT %1; bg"}),
    [](const ::testing::TestParamInfo<ShellCase>& info) { return info.param.name; });

// Keys typed while a box is open (the toolkit's stand-in holds it open until the file release
// exists) are neither echoed into the report nor left for the shell.
TEST_F(KeyWaitInShell, KeysTypedWhileABoxIsOpenAreNotEchoed) {
    const std::string record = folder.path + "/boxes", release = folder.path + "/release";
    Type(terminal, "DISPLAY=:0 LD_LIBRARY_PATH=" TOOLKIT_STAND_IN_FOLDER " BOX_RECORD=" + record +
                       " BOX_HOLD=" + release + " " + ProgramCommand() + "\r");
    struct stat box {};
    for (int i = 0; i < 1000 && (stat(record.c_str(), &box) != 0 || box.st_size == 0); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    Type(terminal, "qwerty");
    std::this_thread::sleep_for(300ms);
    WriteBytes(release, "");
    ASSERT_TRUE(ShowsNext(terminal, Prompt)) << terminal.seen;
    ASSERT_TRUE(WaitForKeyMode(terminal.master, terminal.child)) << terminal.seen;
    Type(terminal, "k");
    ASSERT_TRUE(ShowsNext(terminal, ShellPrompt(0))) << terminal.seen;
    EXPECT_EQ(terminal.seen.find("qwerty"), std::string::npos) << terminal.seen;
    EXPECT_EQ(ModeAtThePrompt(terminal), before);
}

} // namespace
