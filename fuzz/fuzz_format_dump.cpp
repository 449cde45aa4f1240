// FormatDump and every whole-line kernel over any bytes; what must hold is in docs/testing.md.
#include "dump/dump_kernel.h"
#include "tests/support/platform_double.h"
#include "tests/support/reference.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* source = reinterpret_cast<const char*>(data);
    const auto count = static_cast<std::uint32_t>(size);
    ResetDouble();
    DoubleHeapFails = false;
    const char* text = FormatDump(source, count);
    if (count == 0) {
        if (text != nullptr || DoubleLastBlockSize != 0) {
            std::abort();
        }
        return 0;
    }
    const std::uint32_t length = (count + 15) / 16 * DumpLineSize;
    if (text == nullptr || DoubleLastBlockSize != length + 1 || text[length] != '\0' ||
        std::memchr(text, '\0', length) != nullptr ||
        std::string(text, length) != ReferenceDump(data, count, AddressOf(source))) {
        std::abort();
    }
    char* tables = static_cast<char*>(std::malloc(length + 1));
    char* other = static_cast<char*>(std::malloc(length + 1));
    PutDump(tables, source, count, TableKernel.putLines);
    const DumpKernelList list = GetDumpKernels();
    for (std::uint32_t i = 0; i + 1 < list.count; ++i) {
        PutDump(other, source, count, list.kernels[i].putLines);
        if (std::memcmp(tables, other, length + 1) != 0) {
            std::abort();
        }
    }
    std::free(tables);
    std::free(other);
    DoubleHeapFails = true;
    if (FormatDump(source, count) != nullptr) {
        std::abort();
    }
    ResetDouble();
    return 0;
}
