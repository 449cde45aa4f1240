// The Linux entry: answer --help or --version when it is the only argument, as many commands
// do, refuse any other command line, and otherwise set the platform layer up and run the
// report, which reads no command line.
#include "app/linux/version.h"
#include "platform/posix/posix.h"
#include "report/key_report.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr char Usage[] =
    "Usage: keyreport [--help | --version]\n"
    "Shows the values of the keys str1= and str2= in the file Test.txt of the current\n"
    "folder, each after a hex dump of the 40 bytes that begin at its key, then waits for a\n"
    "key press. Only the first 500 bytes of the file count; a value ends at the next '&'.\n"
    "\n"
    "The dumps and the prompt go to standard output. With a display (DISPLAY or\n"
    "WAYLAND_DISPLAY set and not empty) each value appears in a message box; without one,\n"
    "on standard error.\n"
    "\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "Either option answers only as the one argument.\n"
    "\n"
    "Exit status: 0 after a run, whatever Test.txt holds, and after --help or --version;\n"
    "2 for any other command line.\n"
    "See keyreport(1).\n";

constexpr int UsageError = 2;

bool IsOption(const char* argument) {
    return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "--version") == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("keyreport %s\n", KeyreportVersion);
        return 0;
    }
    if (argc > 1) {
        // The first argument that cannot stand where it is: anything but an option first, and
        // anything at all after one.
        const char* refused = IsOption(argv[1]) ? argv[2] : argv[1];
        std::fprintf(stderr, "keyreport: unexpected argument '%s'; see 'keyreport --help'\n",
                     refused);
        return UsageError;
    }
    PrepareProcess();
    RunKeyReport();
}
