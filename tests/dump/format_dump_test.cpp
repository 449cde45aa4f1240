// The formatter: tables, line layout, block size and terminator, and the address column.
#include "dump/dump_kernel.h"
#include "platform/platform.h"
#include "tests/support/reference.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// Formats count bytes and returns the text, checking the block's terminator on the way.
// The address column the formatter should give for bytes at p.
std::string PutAddressText(const void* p) {
    char field[9] = {};
    PutAddress(AddressOf(p), field);
    return field;
}

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

TEST(HexPairTable, HoldsUppercaseDigitsHighFirst) {
    EXPECT_EQ(std::string(HexPairTable[0].data(), 2), "00");
    EXPECT_EQ(std::string(HexPairTable[10].data(), 2), "0A");
    EXPECT_EQ(std::string(HexPairTable[0x3D].data(), 2), "3D");
    EXPECT_EQ(std::string(HexPairTable[255].data(), 2), "FF");
    static_assert(HexPairTable[0xA7][0] == 'A' && HexPairTable[0xA7][1] == '7');
}

TEST(ShowCharTable, PrintableAsciiOnly) {
    for (int b = 0; b < 256; ++b) {
        const char expected = b >= 0x20 && b <= 0x7E ? static_cast<char>(b) : '.';
        EXPECT_EQ(ShowCharTable[b], expected) << "byte " << b;
    }
}

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

TEST(FormatDump, ExampleWindowOfForty) {
    char window[40] = "str1=hello&str2=world&";
    const std::string text = Dump(window, 40);
    ASSERT_EQ(text.size(), 237u);
    const std::uint32_t base = AddressOf(window);
    EXPECT_EQ(text, ReferenceDump(reinterpret_cast<const std::uint8_t*>(window), 40, base));
    // Line addresses are the bytes' own, 16 apart, not offsets.
    EXPECT_EQ(std::stoul(text.substr(79, 8), nullptr, 16), (base + 16) & 0xFFFFFFFFu);
    EXPECT_EQ(text.substr(158 + 10, 23), "00 00 00 00 00 00 00 00");
    EXPECT_EQ(text[158 + DumpDashColumn], ' ');
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
// from the first the CPU runs. The table and NEON kernels run on every CPU
// of their build; an x86 kernel runs where the flags of /proc/cpuinfo name it.
std::string ExpectedKernels() {
    std::istringstream build(BuildKernels);
    const char* named = std::getenv("KEYREPORT_EXPECT_KERNEL");
    std::string flags;
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);) {
        if (line.rfind("flags", 0) == 0) {
            flags = line + " ";
            break;
        }
    }
    std::string expected;
    for (std::string kernel; build >> kernel;) {
        const bool runs = named != nullptr
                              ? expected != "" || kernel == named
                              : kernel == "tables" || kernel == "neon" ||
                                    flags.find(" " + kernel + " ") != std::string::npos;
        if (runs) {
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

} // namespace
