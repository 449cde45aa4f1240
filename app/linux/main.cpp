// The Linux entry: answer --help or --version when it is the only argument, as many commands
// do, refuse any other command line, and otherwise set the platform layer up and run the
// report, which reads no command line.
#include "app/linux/version.h"
#include "platform/posix/posix.h"
#include "report/key_report.h"

#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>

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
int Answer(const char* text) {
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
QuoteState Switch(QuoteState from, QuoteState to) {
    if (from != to) {
        std::fputs(from != Unquoted ? "'" : "", stderr);
        std::fputs(to == InQuotes ? "'" : to == InEscapes ? "$'" : "", stderr);
    }
    return to;
}

// Writes an argument to standard error as a shell would read it back: in single quotes, with
// a quote mark as \' between quoted runs and each byte that does not show as a character of
// the user's locale (escape and other control bytes, broken UTF-8) as an octal escape in
// $'...', so that no byte of it reaches the terminal raw.
void WriteQuoted(const char* argument) {
    std::setlocale(LC_CTYPE, "");
    const std::size_t length = std::strlen(argument);
    std::mbstate_t shift{};
    QuoteState state = length == 0 ? Switch(Unquoted, InQuotes) : Unquoted;
    for (std::size_t at = 0; at < length;) {
        wchar_t character = 0;
        const std::size_t size = std::mbrtowc(&character, argument + at, length - at, &shift);
        // A character, or (-1, -2) a byte that starts none; never the null character, as the
        // argument holds none before its end.
        if (size > length - at || std::iswprint(static_cast<wint_t>(character)) == 0) {
            shift = std::mbstate_t{};
            state = Switch(state, InEscapes);
            std::fprintf(stderr, "\\%03o", static_cast<unsigned char>(argument[at]));
            ++at;
        } else if (argument[at] == '\'') {
            state = Switch(state, Unquoted);
            std::fputs("\\'", stderr);
            ++at;
        } else {
            state = Switch(state, InQuotes);
            std::fwrite(argument + at, 1, size, stderr);
            at += size;
        }
    }
    Switch(state, Unquoted);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        return Answer(Usage);
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        char version[sizeof KeyreportVersion + 16];
        std::snprintf(version, sizeof version, "keyreport %s\n", KeyreportVersion);
        return Answer(version);
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
