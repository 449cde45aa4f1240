// The Linux entry: answer --help or --version when it is the only argument, as many commands
// do, refuse any other command line, and otherwise set the platform layer up and run the
// report, which reads no command line.
#include "app/linux/version.h"
#include "platform/posix/posix.h"
#include "report/key_report.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr char Usage[] =
    "Usage: keyreport [--help | --version]\n"
    "Shows the values of the keys str1= and str2= in the file Test.txt of the\n"
    "current folder, each after a hex dump of the 40 bytes that begin at its key,\n"
    "then waits for a key press. Only the first 500 bytes of the file count; a\n"
    "value ends at the next '&'.\n"
    "\n"
    "The dumps and the prompt go to standard output. With a display (DISPLAY or\n"
    "WAYLAND_DISPLAY set and not empty) each value appears in a message box;\n"
    "without one, on standard error. On a terminal, keys typed during the run are\n"
    "not echoed, and the terminal gets its mode back when the run ends or stops.\n"
    "\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "Either option answers only as the one argument.\n"
    "\n"
    "Exit status: 0 after a run, whatever Test.txt holds, and after --help or\n"
    "--version; 1 when their answer cannot be written; 2 for any other command\n"
    "line.\n"
    "See keyreport(1).\n";

constexpr int WriteError = 1;
constexpr int UsageError = 2;

bool IsOption(const char* argument) {
    return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "--version") == 0;
}

// Writes the answer to --help or --version. A write that fails (a full disk, a closed
// output) is told on standard error and fails the command, so that it is not taken for an
// answer given.
int WriteAnswer(const char* text) {
    // A failed write, in fputs or in the flush, leaves the stream's error mark.
    std::fputs(text, stdout);
    std::fflush(stdout);
    if (std::ferror(stdout) == 0) {
        return 0;
    }
    std::fprintf(stderr, "keyreport: write error: %s\n", std::strerror(errno));
    return WriteError;
}

enum QuoteState : std::uint8_t { Unquoted, InQuotes, InEscapes };

// Moves the quoting from one state to the next, closing and opening quotes as needed.
QuoteState ChangeQuoting(QuoteState from, QuoteState to) {
    if (from != to) {
        std::fputs(from != Unquoted ? "'" : "", stderr);
        std::fputs(to == InQuotes ? "'" : to == InEscapes ? "$'" : "", stderr);
    }
    return to;
}

// Writes an argument to standard error as a shell reads it back: in single quotes, with a
// quote mark as \' between quoted runs, and each character that a terminal would obey rather
// than show (an escape or other control byte, a C1 control, a character that reorders text,
// a byte of broken UTF-8) as its escape in $'...', as values are shown on a terminal, so that
// no byte of it reaches the terminal raw.
void WriteQuoted(const char* argument) {
    const std::size_t length = std::strlen(argument);
    QuoteState state = length == 0 ? ChangeQuoting(Unquoted, InQuotes) : Unquoted;
    for (std::size_t at = 0; at < length;) {
        char escape[8];
        const std::size_t size = EscapeCharacter(argument + at, escape);
        if (escape[0] != '\0') {
            state = ChangeQuoting(state, InEscapes);
            std::fputs(escape, stderr);
        } else if (argument[at] == '\'') {
            state = ChangeQuoting(state, Unquoted);
            std::fputs("\\'", stderr);
        } else {
            state = ChangeQuoting(state, InQuotes);
            std::fwrite(argument + at, 1, size, stderr);
        }
        at += size;
    }
    ChangeQuoting(state, Unquoted);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        return WriteAnswer(Usage);
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        char version[sizeof KeyreportVersion + 16];
        std::snprintf(version, sizeof version, "keyreport %s\n", KeyreportVersion);
        return WriteAnswer(version);
    }
    if (argc > 1) {
        // The first argument that cannot stand where it is: anything but an option first, and
        // anything at all after one.
        const char* refused = IsOption(argv[1]) ? argv[2] : argv[1];
        std::fputs("keyreport: unexpected argument ", stderr);
        WriteQuoted(refused);
        std::fputs("; see 'keyreport --help'\n", stderr);
        return UsageError;
    }
    PrepareProcess();
    RunKeyReport();
}
