// The Linux entry: answer --help and --version as every command does, refuse any other
// argument, and otherwise set the platform layer up and run the report, which reads no
// command line.
#include "platform/posix/posix.h"
#include "platform/posix/version.h"
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
    "WAYLAND_DISPLAY set) each value appears in a message box; without one, on standard\n"
    "error.\n"
    "\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Exit status: 0 after a run, whatever Test.txt holds; 2 for any other argument.\n"
    "See keyreport(1).\n";

constexpr int UsageError = 2;

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("keyreport %s\n", KeyreportVersion);
            return 0;
        }
        std::fprintf(stderr, "keyreport: unknown argument '%s'; see 'keyreport --help'\n", argv[i]);
        return UsageError;
    }
    PrepareProcess();
    RunKeyReport();
}
