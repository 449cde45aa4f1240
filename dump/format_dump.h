// The hex dump formatter: 16 bytes to a 79-byte line of address, hex pairs and display
// characters, in one zero-terminated block from the process heap.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

// One dump line: address, hex pairs, display characters and CR LF.
constexpr std::uint32_t DumpLineSize = 79;
constexpr std::uint32_t DumpLineBytes = 16;

// Columns of a dump line.
constexpr std::uint32_t DumpHexColumn = 10;   // pair of byte 0; pair j at 10 + 3j
constexpr std::uint32_t DumpDashColumn = 34;  // '-' when the line holds a ninth byte
constexpr std::uint32_t DumpHighColumn = 36;  // pair of byte 8; pair j at 36 + 3(j - 8)
constexpr std::uint32_t DumpShowColumn = 61;  // display character of byte 0
constexpr std::uint32_t DumpBreakColumn = 77; // CR LF

using HexPair = std::array<char, 2>;

constexpr std::array<HexPair, 256> MakeHexPairTable() {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<HexPair, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        table[i] = HexPair{digits[i >> 4], digits[i & 15]};
    }
    return table;
}

constexpr std::array<char, 256> MakeShowCharTable() {
    std::array<char, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        table[i] = (i >= 0x20 && i <= 0x7E) ? static_cast<char>(i) : '.';
    }
    return table;
}

// Entry i holds the two uppercase hexadecimal digits of i, high digit first.
inline constexpr std::array<HexPair, 256> HexPairTable = MakeHexPairTable();

// Bytes 0x20 to 0x7E show as themselves, every other byte as '.'.
inline constexpr std::array<char, 256> ShowCharTable = MakeShowCharTable();

// The words below are composed for a little-endian store: byte k of a word lands k columns
// after the column it is stored at.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "dump words are composed little-endian");

// Both digits of the low byte of value from one 16-bit load, the high digit in the low byte
// of the result.
[[gnu::always_inline]] inline std::uint64_t HexPairBits(std::uint32_t value) {
    std::uint16_t pair;
    std::memcpy(&pair, HexPairTable[value & 0xFF].data(), 2);
    return pair;
}

// The six upper address digits, the same for the sixteen lines whose addresses differ only
// in the low byte.
inline std::uint64_t UpperAddressBits(std::uint32_t address) {
    return HexPairBits(address >> 24) | HexPairBits(address >> 16) << 16 |
           HexPairBits(address >> 8) << 32;
}

// The 8-digit address column of the line at address, as one word. upper holds the upper six
// digits of the previous line (or of this one), and is looked up again only when this line is
// the first of a 256-byte span.
[[gnu::always_inline]] inline std::uint64_t LineAddressBits(std::uint32_t address,
                                                            std::uint64_t* upper) {
    if ((address & 0xFF) < DumpLineBytes) {
        *upper = UpperAddressBits(address);
    }
    return *upper | HexPairBits(address) << 48;
}

// The number of dump lines for count bytes: one for every 16, and one more for the rest.
constexpr std::uint32_t CountDumpLines(std::uint32_t count) {
    return count / DumpLineBytes + (count % DumpLineBytes != 0 ? 1 : 0);
}

// Stores the 32-bit pattern over every whole 4-byte word of the block, eight words a pass,
// then one word at a time. A final 1 to 3 bytes are left untouched.
void FillPattern(char* block, std::uint32_t byteCount, std::uint32_t pattern);

// Writes the address as 8 uppercase hexadecimal digits and returns the position after them.
char* PutAddress(std::uint32_t address, char* destination);

// The dump of count bytes from source in a new zero-terminated process-heap block of
// lines * 79 + 1 bytes, or null when count is 0 or the block cannot be had. Each line's
// address is the low 32 bits of its first byte's address.
char* FormatDump(const char* source, std::uint32_t count);

// A whole-line kernel: writes lines whole dump lines (16 bytes of source each) at line
// onward, 79 bytes a line and nothing after them. The address column shows the low 32 bits of
// each line's first source byte.
using PutLinesProc = void (*)(char* line, const char* source, std::uint32_t lines);

struct DumpKernel {
    const char* name;
    PutLinesProc putLines;
};

// The table kernel: HexPairTable and ShowCharTable lookups over a space fill. It is the only
// kernel on builds without vector code, and the one the others are checked against.
void PutLinesByTable(char* line, const char* source, std::uint32_t lines);

// The whole-line kernels this process's CPU can run, best first: the first is the one
// FormatDump uses, and the list ends with the table kernel. Each build links one definition:
// the table kernel alone, or the vector kernels the CPU has (decided once per process) and
// the table kernel.
const DumpKernel* GetDumpKernels();

// Writes the dump of count bytes (count > 0) into block, which holds at least lines * 79 + 1
// bytes: the whole lines through putLines, the short last line, and the terminating zero.
void PutDump(char* block, const char* source, std::uint32_t count, PutLinesProc putLines);
