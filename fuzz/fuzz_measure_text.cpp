// MeasureText over any bytes ending 0 to 3 bytes before a guard page; what must hold is in
// docs/testing.md.
#include "text/text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// One readable page followed by one that faults on any access.
char* MakeGuardedPage(std::size_t pageSize) {
    void* pages =
        mmap(nullptr, 2 * pageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED ||
        mprotect(static_cast<char*>(pages) + pageSize, pageSize, PROT_NONE) != 0) {
        std::abort();
    }
    return static_cast<char*>(pages);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::size_t PageSize = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    static char* const Page = MakeGuardedPage(PageSize);
    const std::size_t length = std::min(size, PageSize - 8);
    for (std::size_t gap = 0; gap < 4; ++gap) {
        char* const guard = Page + PageSize;
        char* const text = guard - gap - length - 1;
        std::memcpy(text, data, length);
        text[length] = '\0';
        std::memset(text + length + 1, 0x01, gap); // nonzero bytes after the zero
        if (MeasureText(text) != std::strlen(text)) {
            std::abort();
        }
    }
    return 0;
}
