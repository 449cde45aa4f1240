// Test-only helper, never shipped: what keyreport.exe should show for a Test.txt, from the
// shared reference model. It is built twice: for Windows, run under Wine beside the program,
// and for this machine, for the runs of the program's code under emulation.
//
//   reference_run <Test.txt> <console output> [<text buffer address>]
//
// The text buffer's address is the one given in hexadecimal, or else comes from the first
// dump line of the console output the program gave; a Test.txt that does not exist counts
// as empty. Prints in hexadecimal, a line each, the whole expected standard output, then the
// expected text of each message box in order.
#include "tests/support/reference.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string LoadFile(const std::string& name) {
    std::ostringstream bytes;
    bytes << std::ifstream(name, std::ios::binary).rdbuf();
    return bytes.str();
}

void PrintHex(const std::string& bytes) {
    for (const char byte : bytes) {
        std::printf("%02X", static_cast<unsigned char>(byte));
    }
    std::printf("\n");
}

// The text buffer's address from the program's first dump line; 0 when the output does
// not start with one, so that the comparison shows where the output went wrong.
std::uint32_t TextAddress(const std::string& console, const std::string& file) {
    if (console.size() < 8 || console.find_first_not_of("0123456789ABCDEF") < 8) {
        return 0;
    }
    return TextAddressFrom(console, file);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fputs("usage: reference_run <Test.txt> <console output> [<address>]\n", stderr);
        return 2;
    }
    const std::string file = LoadFile(argv[1]);
    const std::uint32_t address =
        argc == 4 ? static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 16))
                  : TextAddress(LoadFile(argv[2]), file);
    const ReferenceOutput expected = ReferenceRun(file, address);
    PrintHex(expected.console);
    for (const std::string& box : expected.boxes) {
        PrintHex(box);
    }
    return 0;
}
