// Each whole-line kernel the CPU runs, through the formatter, against the byte-at-a-time
// reference: every source alignment, the seams between filled stretches and between line
// pairs, address digits that roll over (the low 32 bits included), every byte value in every
// column, and sources that end or start at an inaccessible page.
#include "dump/dump_kernel.h"
#include "tests/support/reference.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

// Test names and messages show a kernel by its name.
void PrintTo(const DumpKernel& kernel, std::ostream* out) {
    *out << kernel.name;
}

namespace {

std::vector<DumpKernel> RunnableKernels() {
    const DumpKernelList list = GetDumpKernels();
    return std::vector<DumpKernel>(list.kernels, list.kernels + list.count);
}

// Empty when the text the kernel's dump of count bytes at source matches the reference,
// else where and how the first differing line differs. The block is exactly the dump's size.
std::string Mismatch(const DumpKernel& kernel, const char* source, std::uint32_t count) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(source);
    const std::string expected = ReferenceDump(bytes, count, AddressOf(source));
    char* block = static_cast<char*>(std::malloc(expected.size() + 1));
    if (block == nullptr) {
        return "no block";
    }
    PutDump(block, source, count, kernel.putLines);
    std::string found(block, expected.size());
    const char last = block[expected.size()];
    std::free(block);
    if (last != '\0') {
        return "no zero right after the last line";
    }
    return DescribeDumpDifference(found, expected);
}

// Bytes in which column j of line L holds 17 L + j: over 256 lines, every value meets every
// column.
std::vector<char> EveryValueInEveryColumn(std::uint32_t count) {
    std::vector<char> bytes(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<char>(i + i / 16);
    }
    return bytes;
}

std::vector<char> Scrambled(std::uint32_t count) {
    std::vector<char> bytes(count);
    std::uint32_t state = 12345;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 23);
    }
    return bytes;
}

class FormatDumpReference : public testing::TestWithParam<DumpKernel> {
  public:
    std::string Mismatch(const char* source, std::uint32_t count) {
        return ::Mismatch(GetParam(), source, count);
    }
};

INSTANTIATE_TEST_SUITE_P(Kernels, FormatDumpReference, testing::ValuesIn(RunnableKernels()),
                         [](const testing::TestParamInfo<DumpKernel>& info) {
                             return std::string(info.param.name);
                         });

TEST_P(FormatDumpReference, EveryAlignmentAcrossStretchSeams) {
    // Counts around 1, 2 and 3 KiB: the table kernel's stretches are 16 lines (256 bytes),
    // the AVX2 kernel's line pairs 32 bytes, and the counts take every remainder around them.
    const std::vector<char> bytes = Scrambled(4096 + 64);
    for (std::uint32_t offset = 0; offset < 16; ++offset) {
        for (const std::uint32_t stretches : {1u, 2u, 3u}) {
            for (std::uint32_t count = stretches * 1024 - 17; count <= stretches * 1024 + 17;
                 ++count) {
                ASSERT_EQ(Mismatch(bytes.data() + offset, count), "")
                    << "count " << count << " offset " << offset;
            }
        }
    }
}

TEST_P(FormatDumpReference, EveryByteValueInEveryColumn) {
    const std::vector<char> bytes = EveryValueInEveryColumn(256 * 16 + 16);
    for (std::uint32_t offset = 0; offset < 16; ++offset) {
        ASSERT_EQ(Mismatch(bytes.data() + offset, 256 * 16), "") << "offset " << offset;
    }
}

TEST_P(FormatDumpReference, UniformContents) {
    for (const char fill : {'\0', ' ', '.', '~', '\x7F', '\x80', '\xFF'}) {
        const std::vector<char> bytes(3000, fill);
        for (const std::uint32_t count : {1u, 15u, 16u, 17u, 40u, 2999u}) {
            ASSERT_EQ(Mismatch(bytes.data() + 1, count), "")
                << "count " << count << " byte " << int(static_cast<std::uint8_t>(fill));
        }
    }
}

// Sources of 2000 to 2015 bytes at every alignment that run over boundary, where the
// address digits roll over, with scrambled bytes around it.
void ExpectMatchesAcross(FormatDumpReference* test, char* boundary) {
    const std::vector<char> bytes = Scrambled(4096);
    std::memcpy(boundary - 2048, bytes.data(), bytes.size());
    for (std::uint32_t offset = 0; offset < 16; ++offset) {
        ASSERT_EQ(test->Mismatch(boundary - 1000 - offset, 2000 + offset), "")
            << "offset " << offset << " at " << static_cast<const void*>(boundary);
    }
}

// The upper address digits change every 256 bytes; at a 64 KiB boundary two more roll over,
// and at a multiple of 4 GiB the low 32 bits the column shows wrap to 00000000. The last
// needs a mapping at a fixed address, tried at a few places that are usually free; a 32-bit
// process has no such place above 0.
TEST_P(FormatDumpReference, AddressDigitsRollOver) {
    constexpr std::uint32_t Span = 1 << 16;
    char* region = static_cast<char*>(std::aligned_alloc(Span, 2 * Span));
    ASSERT_NE(region, nullptr);
    ExpectMatchesAcross(this, region + Span);
    std::free(region);

    if (sizeof(void*) < 8) {
        return;
    }
    for (const std::uint64_t wrap : {0x200000000000ull, 0x7000000000ull, 0x100000000ull}) {
        void* hint = reinterpret_cast<void*>(static_cast<std::uintptr_t>(wrap) - Span);
        void* pages = mmap(hint, 2 * Span, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (pages == hint) {
            ExpectMatchesAcross(this, static_cast<char*>(pages) + Span);
            munmap(pages, 2 * Span);
            return;
        }
        if (pages != MAP_FAILED) {
            munmap(pages, 2 * Span);
        }
    }
    ADD_FAILURE() << "no mapping across a multiple of 4 GiB could be had";
}

TEST_P(FormatDumpReference, LargeCount) {
    const std::vector<char> bytes = Scrambled((1 << 18) + 32);
    for (const std::uint32_t offset : {0u, 3u, 8u}) {
        ASSERT_EQ(Mismatch(bytes.data() + offset, (1 << 18) + 21), "") << "offset " << offset;
    }
}

// Only the count bytes from source are read: a source flush against an inaccessible page on
// either side still formats.
TEST_P(FormatDumpReference, ReadsNoByteOutsideTheSource) {
    const long page = sysconf(_SC_PAGESIZE);
    char* pages = static_cast<char*>(
        mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    ASSERT_EQ(mprotect(pages, page, PROT_NONE), 0);
    ASSERT_EQ(mprotect(pages + 2 * page, page, PROT_NONE), 0);
    char* start = pages + page;
    char* end = pages + 2 * page;
    const std::vector<char> bytes = Scrambled(static_cast<std::uint32_t>(page));
    std::memcpy(start, bytes.data(), bytes.size());
    for (std::uint32_t count = 1; count <= 100; ++count) {
        ASSERT_EQ(Mismatch(end - count, count), "") << "count " << count << " at the end";
        ASSERT_EQ(Mismatch(start, count), "") << "count " << count << " at the start";
    }
    munmap(pages, 3 * page);
}

} // namespace
