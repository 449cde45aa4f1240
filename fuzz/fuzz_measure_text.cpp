// MeasureText over any bytes ending 0 to 3 bytes before a guard page; what must hold is in
// docs/testing.md.
#include "tests/support/reference.h"
#include "text/text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::size_t PageSize = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    static char* const Page = MapGuardedPage();
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
