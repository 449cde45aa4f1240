// The whole run over any Test.txt contents on the platform double, seeded with the report
// cases; what must hold is in docs/testing.md.
#include "tests/support/platform_double.h"

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

// Each corpus folder named on the command line gets the report cases' contents, a file each,
// so that every run starts from all of them.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    for (int i = 1; i < *argc; ++i) {
        struct stat folder;
        if ((*argv)[i][0] != '-' && stat((*argv)[i], &folder) == 0 && S_ISDIR(folder.st_mode)) {
            for (const ReportCase& report : ReadReportCases()) {
                std::ofstream(std::string((*argv)[i]) + "/" + report.name, std::ios::binary)
                    << report.contents;
            }
        }
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ReportCase report{"", "", std::string(reinterpret_cast<const char*>(data), size)};
    for (const bool heapFails : {false, true}) {
        const DoubleRun run = RunOnDouble(report, heapFails);
        if (run.exitCode != 0 || run.shown.console != run.expected.console ||
            run.shown.boxes != run.expected.boxes) {
            std::abort();
        }
    }
    return 0;
}
