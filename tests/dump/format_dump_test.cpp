// The formatter: line layout, block size and terminator, the address column, and
// each whole-line kernel the CPU runs against the byte-at-a-time reference: every source
// alignment, the seams between filled stretches and between line pairs, address digits that
// roll over (the low 32 bits included), every byte value in every column, and sources that
// end or start at an inaccessible page.
#include "dump/dump_kernel.h"
#include "platform/platform.h"
#include "tests/support/reference.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

// Test names and messages show a kernel by its name.
void PrintTo(const DumpKernel& kernel, std::ostream* out) {
    *out << kernel.name;
}

namespace {

// The address column the formatter should give for bytes at p.
std::string PutAddressText(const void* p) {
    char field[9] = {};
    PutAddress(AddressOf(p), field);
    return field;
}

// Formats count bytes and returns the text, checking the block's terminator on the way.
std::string Dump(const char* source, std::uint32_t count) {
    char* block = FormatDump(source, count);
    if (block == nullptr) {
        ADD_FAILURE() << "no dump for count " << count;
        return {};
    }
    const std::uint32_t lines = (count + 15) / 16;
    EXPECT_EQ(block[lines * DumpLineSize], '\0');
    EXPECT_EQ(std::strlen(block), lines * DumpLineSize) << "a zero inside the text";
    std::string text(block, lines * DumpLineSize);
    HeapFree(GetProcessHeap(), 0, block);
    return text;
}

// The tables are checked, every entry in every column, through the table kernel against the
// reference (FormatDumpReference/tables); this one at compile time too.
static_assert(HexPairTable[0xA7][0] == 'A' && HexPairTable[0xA7][1] == '7');

TEST(FillPattern, FillsWholeWordsAndNothingElse) {
    for (std::uint32_t size = 0; size <= 70; ++size) {
        char block[80];
        std::memset(block, '#', sizeof block);
        FillPattern(block, size, 0x44434241); // "ABCD" in memory
        const std::uint32_t words = size / 4 * 4;
        for (std::uint32_t i = 0; i < words; ++i) {
            ASSERT_EQ(block[i], "ABCD"[i % 4]) << "size " << size << " byte " << i;
        }
        for (std::uint32_t i = words; i < sizeof block; ++i) {
            ASSERT_EQ(block[i], '#') << "size " << size << " byte " << i;
        }
    }
}

TEST(PutAddress, EightUppercaseDigitsMostSignificantFirst) {
    char field[10] = "........";
    EXPECT_EQ(PutAddress(0x00403050, field), field + 8);
    EXPECT_STREQ(field, "00403050");
    PutAddress(0xDEADBEEF, field);
    EXPECT_STREQ(field, "DEADBEEF");
}

TEST(FormatDump, CountZeroGivesNothing) {
    EXPECT_EQ(FormatDump("x", 0), nullptr);
}

TEST(FormatDump, CountTooLargeForThe32BitSizeGivesNothing) {
    // 0xFFFFFFFF bytes need 268435456 lines, whose size wraps in 32 bits. The count is
    // refused before any byte of the source is read, so a one-byte source is enough.
    EXPECT_EQ(FormatDump("x", 0xFFFFFFFFu), nullptr);
}

TEST(FormatDump, ShortLineLayouts) {
    const char bytes[16] = {'s', 't', 'r', '1',  '=',  'h', 'e', 'l',
                            'l', 'o', '&', 0x7E, 0x7F, '.', ' ', '\xFF'};
    const std::string a = PutAddressText(bytes);
    EXPECT_EQ(Dump(bytes, 1),
              a + "  73                                                 s               \r\n");
    EXPECT_EQ(Dump(bytes, 8),
              a + "  73 74 72 31 3D 68 65 6C                            str1=hel        \r\n");
    EXPECT_EQ(Dump(bytes, 9),
              a + "  73 74 72 31 3D 68 65 6C - 6C                       str1=hell       \r\n");
    EXPECT_EQ(Dump(bytes, 16),
              a + "  73 74 72 31 3D 68 65 6C - 6C 6F 26 7E 7F 2E 20 FF  str1=hello&~.. .\r\n");
}

// The kernels of each build, best first: x86-64 Linux has the vector kernels, arm64 Linux the
// NEON kernel, every other build the table kernel alone.
#if defined(__x86_64__) && !defined(_WIN32)
constexpr char BuildKernels[] = "avx2 ssse3 tables";
#elif defined(__aarch64__) && !defined(_WIN32)
constexpr char BuildKernels[] = "neon tables";
#else
constexpr char BuildKernels[] = "tables";
#endif

// The kernels the process should be offered: those of the build, best first, from the one
// KEYREPORT_EXPECT_KERNEL names where it is set (the runs on an emulated CPU set it), else
// from the first the CPU runs. The table and NEON kernels run on every CPU of their build;
// an x86 kernel runs where the flags of /proc/cpuinfo name it.
std::string ExpectedKernels() {
    const char* named = std::getenv("KEYREPORT_EXPECT_KERNEL");
    std::string flags, expected;
    std::ifstream cpuinfo("/proc/cpuinfo");
    while (std::getline(cpuinfo, flags) && flags.rfind("flags", 0) != 0) {
    }
    std::istringstream build(BuildKernels);
    for (std::string kernel; build >> kernel;) {
        if (named != nullptr ? expected != "" || kernel == named
                             : kernel == "tables" || kernel == "neon" ||
                                   (flags + " ").find(" " + kernel + " ") != std::string::npos) {
            expected += kernel + " ";
        }
    }
    return expected;
}

// The list ends at the entry whose procedure is the table kernel, and that entry's name is
// the last expected.
TEST(DumpKernels, TheBuildsKernelsTheCpuRunsBestFirstEndingWithTables) {
    std::string names;
    const DumpKernelList list = GetDumpKernels();
    for (std::uint32_t i = 0; i < list.count; ++i) {
        names += std::string(list.kernels[i].name) + " ";
    }
    EXPECT_EQ(names, ExpectedKernels());
    ASSERT_NE(list.count, 0u);
    EXPECT_EQ(list.kernels[list.count - 1].putLines, PutLinesByTable);
}

// Empty when the text the kernel's dump of count bytes at source matches the reference,
// else where and how the first differing line differs. The block is exactly the dump's size.
std::string Mismatch(const DumpKernel& kernel, const char* source, std::uint32_t count) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(source);
    const std::string expected = ReferenceDump(bytes, count, AddressOf(source));
    std::vector<char> block(expected.size() + 1, '#');
    PutDump(block.data(), source, count, kernel.putLines);
    if (block.back() != '\0') {
        return "no zero right after the last line";
    }
    return DescribeDumpDifference(std::string(block.data(), expected.size()), expected);
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

using FormatDumpReference = testing::TestWithParam<DumpKernel>;

const DumpKernelList Kernels = GetDumpKernels();

INSTANTIATE_TEST_SUITE_P(Kernels, FormatDumpReference,
                         testing::ValuesIn(Kernels.kernels, Kernels.kernels + Kernels.count),
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
                ASSERT_EQ(Mismatch(GetParam(), bytes.data() + offset, count), "")
                    << "count " << count << " offset " << offset;
            }
        }
    }
}

TEST_P(FormatDumpReference, EveryByteValueInEveryColumn) {
    // Column j of line L holds 17 L + j: over 256 lines, every value meets every column.
    std::vector<char> bytes(256 * 16 + 16);
    for (std::uint32_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i + i / 16);
    }
    for (std::uint32_t offset = 0; offset < 16; ++offset) {
        ASSERT_EQ(Mismatch(GetParam(), bytes.data() + offset, 256 * 16), "") << "offset " << offset;
    }
}

TEST_P(FormatDumpReference, UniformContents) {
    for (const char fill : {'\0', ' ', '.', '~', '\x7F', '\x80', '\xFF'}) {
        const std::vector<char> bytes(3000, fill);
        for (const std::uint32_t count : {1u, 15u, 16u, 17u, 40u, 2999u}) {
            ASSERT_EQ(Mismatch(GetParam(), bytes.data() + 1, count), "")
                << "count " << count << " byte " << int(static_cast<std::uint8_t>(fill));
        }
    }
}

// Sources of 2000 to 2015 bytes at every alignment that run over boundary, where the
// address digits roll over, with scrambled bytes around it.
void ExpectMatchesAcross(const DumpKernel& kernel, char* boundary) {
    const std::vector<char> bytes = Scrambled(4096);
    std::memcpy(boundary - 2048, bytes.data(), bytes.size());
    for (std::uint32_t offset = 0; offset < 16; ++offset) {
        ASSERT_EQ(Mismatch(kernel, boundary - 1000 - offset, 2000 + offset), "")
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
    ExpectMatchesAcross(GetParam(), region + Span);
    std::free(region);

    if (sizeof(void*) < 8) {
        return;
    }
    for (const std::uint64_t wrap : {0x200000000000ull, 0x7000000000ull, 0x100000000ull}) {
        void* hint = reinterpret_cast<void*>(static_cast<std::uintptr_t>(wrap) - Span);
        void* pages = mmap(hint, 2 * Span, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (pages == hint) {
            ExpectMatchesAcross(GetParam(), static_cast<char*>(pages) + Span);
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
        ASSERT_EQ(Mismatch(GetParam(), bytes.data() + offset, (1 << 18) + 21), "")
            << "offset " << offset;
    }
}

// Only the count bytes from source are read: a source flush against an inaccessible page on
// either side still formats.
TEST_P(FormatDumpReference, ReadsNoByteOutsideTheSource) {
    const long page = sysconf(_SC_PAGESIZE);
    char* const start = MapGuardedPage();
    char* const end = start + page;
    const std::vector<char> bytes = Scrambled(static_cast<std::uint32_t>(page));
    std::memcpy(start, bytes.data(), bytes.size());
    for (std::uint32_t count = 1; count <= 100; ++count) {
        ASSERT_EQ(Mismatch(GetParam(), end - count, count), "")
            << "count " << count << " at the end";
        ASSERT_EQ(Mismatch(GetParam(), start, count), "") << "count " << count << " at the start";
    }
}

} // namespace
