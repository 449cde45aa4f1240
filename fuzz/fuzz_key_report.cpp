// The whole run over any Test.txt contents, on the platform double: it must end through
// ExitProcess(0) with standard output and the message boxes equal to the reference model of
// the run, once with a working heap and once with a heap that always fails (then each dump
// is missing and the rest is unchanged). The sanitizers watch every access to the run's
// buffers and the dump blocks.
#include "fuzz/platform_double.h"
#include "report/key_report.h"
#include "tests/support/reference.h"

#include <cstdlib>
#include <string_view>

namespace {

constexpr std::size_t DumpTextSize = 3 * 79; // a 40-byte dump
constexpr std::string_view Prompt = "Press any key to exit...\r\n";

// The console of a run with no dump blocks: the empty line after each dump stays.
std::string WithoutDumps(const std::string& console) {
    const std::size_t dumps = (console.size() - Prompt.size()) / (DumpTextSize + 2);
    std::string left;
    for (std::size_t i = 0; i < dumps; ++i) {
        left += "\r\n";
    }
    return left + std::string(Prompt);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DoubleFile.assign(reinterpret_cast<const char*>(data), size);
    for (const bool heapFails : {false, true}) {
        ResetDouble();
        DoubleHeapFails = heapFails;
        if (setjmp(DoubleExitPoint) == 0) {
            RunKeyReport();
        }
        ReferenceOutput expected = ReferenceRun(DoubleFile, AddressOf(DoubleTextBuffer));
        if (heapFails) {
            expected.console = WithoutDumps(expected.console);
        }
        if (DoubleExitCode != 0 || DoubleConsole != expected.console ||
            DoubleBoxes != expected.boxes) {
            std::abort();
        }
    }
    ResetDouble();
    return 0;
}
