// The guarded page of reference.h, apart from the reference models, which the Windows tests
// build too.
#include "tests/support/reference.h"

#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

char* MapGuardedPage() {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    auto* pages =
        static_cast<char*>(mmap(nullptr, 3 * page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (pages == MAP_FAILED || mprotect(pages + page, page, PROT_READ | PROT_WRITE) != 0) {
        std::abort();
    }
    return pages + page;
}
