// Test-only helper, never shipped: what keyreport.exe should show for a Test.txt, from the
// shared reference model. It is built twice: for Windows, run under Wine beside the program,
// and for this machine, for the runs of the program's code under emulation.
//
//   reference_run <Test.txt> <console output> <folder> [<text buffer address>]
//
// The text buffer's address is the one given in hexadecimal, or else comes from the first
// dump line of the console output the program gave; a Test.txt that does not exist counts
// as empty. Writes to the folder
// console.bin, the whole expected standard output, and box-1.bin, box-2.bin, ..., the
// expected text of each message box in order; prints the number of boxes.
#include "tests/support/reference.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string LoadFile(const std::string& name) {
    std::string bytes;
    if (std::FILE* file = std::fopen(name.c_str(), "rb")) {
        char chunk[4096];
        std::size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
            bytes.append(chunk, got);
        }
        std::fclose(file);
    }
    return bytes;
}

bool SaveFile(const std::string& name, const std::string& bytes) {
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool whole = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && whole;
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
    if (argc != 4 && argc != 5) {
        std::fputs("usage: reference_run <Test.txt> <console output> <folder> [<address>]\n",
                   stderr);
        return 2;
    }
    const std::string file = LoadFile(argv[1]);
    const std::string folder = argv[3];
    const std::uint32_t address =
        argc == 5 ? static_cast<std::uint32_t>(std::strtoul(argv[4], nullptr, 16))
                  : TextAddress(LoadFile(argv[2]), file);
    const ReferenceOutput expected = ReferenceRun(file, address);
    bool saved = SaveFile(folder + "/console.bin", expected.console);
    for (std::size_t i = 0; i < expected.boxes.size(); ++i) {
        saved =
            SaveFile(folder + "/box-" + std::to_string(i + 1) + ".bin", expected.boxes[i]) && saved;
    }
    std::printf("%u\n", static_cast<unsigned>(expected.boxes.size()));
    return saved ? 0 : 1;
}
