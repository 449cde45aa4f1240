// MeasureText's three phases (single bytes, single words up to a 16-byte boundary, passes of
// four words): the zero in every position of every phase, and no read past the 16 bytes that
// hold the zero.
#include "text/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

TEST(MeasureTextPasses, ZeroInEveryPositionOfEveryPhase) {
    alignas(16) char buffer[160];
    for (std::uint32_t offset = 0; offset < 16; ++offset) {
        for (std::uint32_t length = 0; length < 100; ++length) {
            // Bytes after the zero that fool a careless test: 0x01 right after it, and
            // 0x80 and 0xFF, which only the ~w term keeps from looking like zeros.
            for (const char after : {'\x01', '\x80', '\xFF', '\0'}) {
                std::memset(buffer, after, sizeof buffer);
                for (std::uint32_t i = 0; i < length; ++i) {
                    buffer[offset + i] = static_cast<char>(i % 2 != 0 ? 0x80 + i : 1 + i % 0x7F);
                }
                buffer[offset + length] = '\0';
                ASSERT_EQ(MeasureText(buffer + offset), length)
                    << "offset " << offset << " length " << length << " after " << int(after);
            }
        }
    }
}

// The zero in the last byte before an inaccessible page, reached by every phase.
TEST(MeasureTextPasses, StopsBeforeTheNextPage) {
    const long page = sysconf(_SC_PAGESIZE);
    char* pages = static_cast<char*>(
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    ASSERT_EQ(mprotect(pages + page, page, PROT_NONE), 0);
    std::memset(pages, 'z', page);
    char* end = pages + page;
    end[-1] = '\0';
    for (std::uint32_t length = 0; length < 80; ++length) {
        EXPECT_EQ(MeasureText(end - 1 - length), length);
    }
    munmap(pages, 2 * page);
}

} // namespace
