// The key wait on a real terminal: the program runs on a pseudo-terminal with a key already
// typed before it starts. That key must be thrown away, the run must end on the next key,
// the key must not be echoed, and the terminal must get its mode back, also when a signal
// ends the wait. Then the program as a person runs it, from an interactive bash: keys typed
// as the terminal sends them, job control, and what the shell reads after the run.
#include "tests/support/rows.h"
#include "tests/support/subprocess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <utmp.h>

namespace {

using namespace std::chrono_literals;

constexpr char Prompt[] = "Press any key to exit...";

struct Terminal {
    int master = -1;
    pid_t child = -1;
    termios before{};
    std::string seen;      // all the terminal has shown
    std::size_t shown = 0; // how much of it the test has waited for
};

// Looks every few milliseconds, for up to ten seconds, until done() holds; whether it did.
template <typename Condition> bool WaitUntil(Condition done) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Reads from the terminal until text has appeared after what was waited for before, or the
// time is up or the terminal has closed.
bool ShowsNext(Terminal& terminal, const std::string& text) {
    std::size_t at = std::string::npos;
    WaitUntil([&] {
        pollfd ready{terminal.master, POLLIN, 0};
        ssize_t got = 1;
        while ((at = terminal.seen.find(text, terminal.shown)) == std::string::npos && got > 0 &&
               poll(&ready, 1, 0) > 0) {
            char chunk[1024];
            got = read(terminal.master, chunk, sizeof chunk);
            terminal.seen.append(chunk, got > 0 ? static_cast<std::size_t>(got) : 0);
        }
        return at != std::string::npos || got <= 0;
    });
    terminal.shown = at != std::string::npos ? at + text.size() : terminal.shown;
    return at != std::string::npos;
}

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
    // Typed ahead once the terminal has taken it in, as its echo shows.
    [[maybe_unused]] auto typed = write(terminal.master, typedAhead.data(), typedAhead.size());
    ShowsNext(terminal, typedAhead);

    terminal.child = fork();
    if (terminal.child == 0) {
        close(terminal.master);
        login_tty(slave); // a session of its own, the terminal its controlling terminal
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
        if (!shell) {
            ExecProgram(ProgramPath());
        }
        execlp("env", "env", "PS1=<$?>$ ", "TERM=dumb", "INPUTRC=/dev/null", "HISTFILE=/dev/null",
               "bash", "--norc", "--noprofile", "-i", nullptr);
        _exit(127);
    }
    close(slave);
    return terminal;
}

// Waits until the program has the terminal in key mode (no line editing). Started from a
// shell, which gives the program the terminal in line mode, only once it is in the foreground.
bool WaitForKeyMode(int master, pid_t shell = -1) {
    termios mode{};
    return WaitUntil([&] {
        return tcgetattr(master, &mode) != 0 ||
               ((mode.c_lflag & ICANON) == 0 && (shell < 0 || tcgetpgrp(master) != shell));
    });
}

// What /proc/PID/stat holds after the command name in parentheses: the state first.
std::string StatOf(pid_t process) {
    std::string line;
    std::getline(std::ifstream("/proc/" + std::to_string(process) + "/stat"), line);
    return line.substr(std::min(line.size(), line.rfind(')') + 2));
}

// Waits until the shell's one job, its child, is in the given state: 'T' stopped, 'S' waiting,
// or 'Z' ended (a zombie, or already collected by the shell).
bool WaitForJob(pid_t shell, char state) {
    const std::string task = "/proc/" + std::to_string(shell) + "/task/" + std::to_string(shell);
    return WaitUntil([&] {
        pid_t job = 0;
        if (!(std::ifstream(task + "/children") >> job)) {
            return state == 'Z';
        }
        return StatOf(job).rfind(state, 0) == 0;
    });
}

// The run's status as waitpid gives it; a run that has not ended in time is killed.
int WaitForExit(pid_t child) {
    int status = 0;
    if (!WaitUntil([&] { return waitpid(child, &status, WNOHANG) == child; })) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    return status;
}

void Type(const Terminal& terminal, const std::string& keys) {
    [[maybe_unused]] auto typed = write(terminal.master, keys.data(), keys.size());
}

// Skips the test, saying why on standard output too, when the program runs under another
// program (KEYREPORT_RUN_UNDER names it, valgrind or an emulator), which would do as why says.
bool SkipsUnderAnotherProgram(const char* why) {
    const char* runUnder = std::getenv("KEYREPORT_RUN_UNDER");
    if (runUnder != nullptr) {
        const std::string reason = "the program runs under " +
                                   std::string(runUnder, std::strcspn(runUnder, " ")) + ", " + why;
        std::printf("SKIP: %s\n", reason.c_str());
        [&reason] { GTEST_SKIP() << reason; }();
    }
    return runUnder != nullptr;
}

class KeyWait : public ::testing::Test {
  protected:
    void SetUp() override { WriteBytes(folder.path + "/Test.txt", "str1=hello&str2=world&"); }
    void TearDown() override {
        close(terminal.master); // none (-1) once a test has closed it
        RemoveTempFolder(folder);
    }
    // Starts the program on a terminal; whether it showed its prompt and took key mode.
    bool Start(const std::string& typedAhead = "", int ignoredSignal = 0) {
        terminal = StartOnTerminal(folder.path, typedAhead, ignoredSignal);
        return ShowsNext(terminal, Prompt) && WaitForKeyMode(terminal.master);
    }
    // Types a key; how the run ended.
    int EndWithKey() {
        Type(terminal, "k");
        return WaitForExit(terminal.child);
    }
    // Whether the terminal has the mode it had before the run.
    bool HasItsModeBack() const {
        termios now{};
        const termios& was = terminal.before;
        return tcgetattr(terminal.master, &now) == 0 && now.c_lflag == was.c_lflag &&
               now.c_iflag == was.c_iflag && now.c_oflag == was.c_oflag &&
               now.c_cc[VMIN] == was.c_cc[VMIN] && now.c_cc[VTIME] == was.c_cc[VTIME];
    }
    TempFolder folder = MakeTempFolder();
    Terminal terminal;
};

TEST_F(KeyWait, KeyTypedBeforeTheWaitIsDiscardedAndTheNextOneEndsTheRun) {
    ASSERT_TRUE(Start("x")) << terminal.seen;
    // The key typed ahead must not have ended the wait.
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(waitpid(terminal.child, nullptr, WNOHANG), 0) << "the typed-ahead key ended the wait";
    EXPECT_EQ(EndWithKey(), 0);
    // After the prompt only the line break: the key is not echoed.
    ShowsNext(terminal, "\r\n");
    EXPECT_EQ(terminal.seen.substr(terminal.seen.find(Prompt)), std::string(Prompt) + "\r\n");
    EXPECT_TRUE(HasItsModeBack());
}

// On a terminal each value is one line in which nothing is raw that the terminal would obey:
// controls, C1 controls raw and in UTF-8, a right-to-left override, broken UTF-8; escaped,
// a line longer than the buffer it is written from.
TEST_F(KeyWait, ValuesAreShownEscapedNeverObeyed) {
    const std::string many(80, '\x01');
    WriteBytes(folder.path + "/Test.txt", "str1=\x1b[2J\x1b]0;pwned\a\rX\b\b\xe2\x80\xae"
                                          "abc&str2=\t\n\x7f\\\xc2\x9b\x9b \xc3\xa9\xe9" +
                                              many + "&");
    ASSERT_TRUE(Start()) << terminal.seen;
    const std::string& seen = terminal.seen;
    EXPECT_NE(seen.find("\r\nstr1=\\e[2J\\e]0;pwned\\a\\rX\\b\\b\\u202eabc\n"), std::string::npos)
        << seen;
    std::string manyShown;
    for (std::size_t at = 0; at < many.size(); ++at) {
        manyShown += "\\x01";
    }
    EXPECT_NE(seen.find("\r\nstr2=\\t\\n\\x7f\\\\\\u009b\\x9b \xc3\xa9\\xe9" + manyShown + "\n"),
              std::string::npos)
        << seen;
    EXPECT_EQ(seen.find_first_of("\x01\x1b\a\b\x7f\x9b"), std::string::npos) << seen;
    EXPECT_EQ(seen.find("\xe2\x80\xae"), std::string::npos) << seen;
    EXPECT_EQ(EndWithKey(), 0);
}

// The processor time the process has used so far, user and system: fields 14 and 15 of
// /proc/PID/stat, in clock ticks.
double CpuSecondsOf(pid_t process) {
    unsigned long long user = 0, system = 0;
    std::sscanf(StatOf(process).c_str(), "%*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu %llu",
                &user, &system);
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Between looks at the input the wait sleeps: over a second at the prompt the process uses
// well under a tenth of a processor. Its own processor time is measured, not the time that
// passes, so a busy machine does not make the check pass or fail.
TEST_F(KeyWait, SleepsBetweenLooksAtTheInput) {
    if (SkipsUnderAnotherProgram("whose processor time would be measured")) {
        return;
    }
    ASSERT_TRUE(Start()) << terminal.seen;
    const auto start = std::chrono::steady_clock::now();
    const double usedBefore = CpuSecondsOf(terminal.child);
    std::this_thread::sleep_for(1s);
    const double used = CpuSecondsOf(terminal.child) - usedBefore;
    const std::chrono::duration<double> passed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(used, 0.1 * passed.count())
        << used << " s of processor time in " << passed.count() << " s at the prompt";
    EXPECT_EQ(EndWithKey(), 0);
}

// A signal during the wait ends the run as it would any program, the terminal restored; one
// the caller ignores (nohup) stays ignored, and the next key ends the run. So does a stop
// here, where the run leads its own session: the kernel drops a stop for a process group that
// no shell controls, and the run must wait on in its own mode.
class KeyWaitSignal : public KeyWait, public ::testing::WithParamInterface<std::pair<int, bool>> {};

TEST_P(KeyWaitSignal, EndsTheRunAndRestoresTheTerminal) {
    const auto [sent, ignored] = GetParam();
    ASSERT_TRUE(Start("", ignored ? sent : 0)) << terminal.seen;
    kill(terminal.child, sent);
    const bool goesOn = ignored || sent == SIGTSTP;
    if (goesOn) {
        // Had the run caught the signal, it would take it before it could read this key. The
        // pause lets it take the signal first.
        std::this_thread::sleep_for(200ms);
    }
    const int status = goesOn ? EndWithKey() : WaitForExit(terminal.child);
    EXPECT_TRUE(goesOn ? status == 0 : WIFSIGNALED(status) && WTERMSIG(status) == sent);
    EXPECT_TRUE(HasItsModeBack());
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
    ASSERT_TRUE(Start("", SIGHUP)) << terminal.seen;
    close(terminal.master);
    terminal.master = -1;
    EXPECT_EQ(WaitForExit(terminal.child), 0);
}

std::string ShellPrompt(int status) {
    return "<" + std::to_string(status) + ">$ ";
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

// How a shell row's run is started, and stopped before its key.
enum class Start {
    Foreground,
    CtrlZ,       // Ctrl-Z at the key wait, then fg
    CtrlZThenBg, // Ctrl-Z, bg, and fg once the shell has prompted again
    Background,  // started with &, and fg once the run waits for its key
};

struct ShellCase {
    const char* name;
    Start start = Start::Foreground;
    std::string key = "q";   // typed at the key wait, as the terminal sends it; none: killed
    int signal = 0;          // the signal that ends the run, 0 for none
    const char* prefix = ""; // typed before the command
};

// A row whose stopped run kill ends: the shell itself continues the run for SIGTERM and
// SIGHUP, bg does for the others.
ShellCase Killed(const char* name, Start start, int signal) {
    return {.name = name, .start = start, .key = "", .signal = signal};
}

class KeyWaitInShellKey : public KeyWaitInShell, public ::testing::WithParamInterface<ShellCase> {};

// One key ends the run, or a typed Ctrl-C or Ctrl-\ interrupts or quits it; none of the key
// is echoed or left for the shell, and the shell finds its terminal as it was.
TEST_P(KeyWaitInShellKey, EndsTheRunAndLeavesNothingForTheShell) {
    const ShellCase& row = GetParam();
    const bool stops = row.start != Start::Foreground;
    // valgrind lets the program's SIGTSTP go by without stopping: no stop to continue from.
    if (stops && SkipsUnderAnotherProgram("which takes the stop")) {
        return;
    }
    const bool background = row.start == Start::Background;
    Type(terminal, row.prefix + ProgramCommand() + (background ? " &\r" : "\r"));
    ASSERT_TRUE(ShowsNext(terminal, Prompt)) << terminal.seen;
    // In the background the run stops where it would take the terminal for the key wait; the
    // shell reports that, in its own time.
    ASSERT_TRUE(background ? WaitForJob(terminal.child, 'T') && MarkShell(terminal)
                           : WaitForKeyMode(terminal.master, terminal.child))
        << terminal.seen;
    if (row.start == Start::CtrlZ || row.start == Start::CtrlZThenBg) {
        Type(terminal, "\x1a");
        ASSERT_TRUE(ShowsNext(terminal, ShellPrompt(128 + SIGTSTP))) << terminal.seen;
    }
    if (row.key.empty()) {
        // The run is continued in the background to take the signal, which ends it. The
        // shell tells how before its next prompt once it has collected the run, as it does
        // at the latest while it waits for a command of the next line (env true).
        const std::size_t killedAt = terminal.shown;
        const bool continues = row.signal == SIGTERM || row.signal == SIGHUP;
        Type(terminal, std::string("kill -") + sigabbrev_np(row.signal) + " %1" +
                           (continues ? "\r" : "; bg\r"));
        ASSERT_TRUE(WaitForJob(terminal.child, 'Z')) << terminal.seen;
        ASSERT_TRUE(MarkShell(terminal, "env true; ")) << terminal.seen;
        EXPECT_LT(terminal.seen.find(strsignal(row.signal), killedAt), terminal.shown)
            << terminal.seen;
        EXPECT_EQ(ModeAtThePrompt(terminal), before);
        return;
    }
    if (row.start == Start::CtrlZThenBg) {
        Type(terminal, "bg\r");
        ASSERT_TRUE(ShowsNext(terminal, ShellPrompt(0))) << terminal.seen;
        // The run has taken its continue in the background once it waits again.
        ASSERT_TRUE(WaitForJob(terminal.child, 'S')) << terminal.seen;
    }
    if (stops) {
        Type(terminal, "fg\r");
        ASSERT_TRUE(ShowsNext(terminal, ProgramPath() + std::string("\r\n")));
        ASSERT_TRUE(WaitForKeyMode(terminal.master, terminal.child))
            << "one key no longer ends the wait: " << terminal.seen;
    }
    Type(terminal, row.key);
    ASSERT_TRUE(ShowsNext(terminal, ShellPrompt(row.signal == 0 ? 0 : 128 + row.signal)))
        << terminal.seen;
    if (row.signal == 0) {
        // After the prompt, or the command line that fg shows, only the run's line break (CR
        // LF, its LF made CR LF by the terminal), then the shell's prompt. The shell may show
        // the command line in a report of the stop too, so the end is what is checked.
        const std::string shown = terminal.seen.substr(0, terminal.shown);
        const std::string end = "\r\r\n" + ShellPrompt(0);
        EXPECT_TRUE(shown.ends_with(Prompt + end) ||
                    shown.ends_with(ProgramPath() + ("\r\n" + end)))
            << shown;
    }
    EXPECT_EQ(ModeAtThePrompt(terminal), before);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyWaitInShellKey,
    ::testing::Values(ShellCase{.name = "UpArrow", .key = "\x1b[A"},
                      ShellCase{.name = "F5", .key = "\x1b[15~"},
                      ShellCase{.name = "EAcuteInUtf8", .key = "\xc3\xa9"},
                      ShellCase{.name = "AfterCtrlZAndFg", .start = Start::CtrlZ},
                      ShellCase{.name = "AfterCtrlZBgAndFg", .start = Start::CtrlZThenBg},
                      ShellCase{.name = "StartedInTheBackground", .start = Start::Background},
                      // Without the terminal as its controlling terminal.
                      ShellCase{.name = "InASessionOfItsOwn", .prefix = "setsid -w "},
                      ShellCase{.name = "CtrlC", .key = "\x03", .signal = SIGINT},
                      ShellCase{.name = "CtrlBackslash", .key = "\x1c", .signal = SIGQUIT},
                      Killed("StoppedThenTerminated", Start::CtrlZ, SIGTERM),
                      Killed("StartedInTheBackgroundThenTerminated", Start::Background, SIGTERM),
                      Killed("StartedInTheBackgroundThenInterrupted", Start::Background, SIGINT),
                      Killed("StartedInTheBackgroundThenHungUp", Start::Background, SIGHUP),
                      Killed("StartedInTheBackgroundThenQuit", Start::Background, SIGQUIT)),
    NameOfRow<ShellCase>);

// Keys typed while a box is open (the toolkit's stand-in holds it open until the file release
// exists) are neither echoed into the report nor left for the shell.
TEST_F(KeyWaitInShell, KeysTypedWhileABoxIsOpenAreNotEchoed) {
    const std::string record = folder.path + "/boxes", release = folder.path + "/release";
    Type(terminal, "DISPLAY=:0 LD_LIBRARY_PATH=" TOOLKIT_STAND_IN_FOLDER " BOX_RECORD=" + record +
                       " BOX_HOLD=" + release + " " + ProgramCommand() + "\r");
    struct stat box {};
    WaitUntil([&] { return stat(record.c_str(), &box) == 0 && box.st_size != 0; });
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
