// The hex dump formatter: 16 bytes to a 79-byte line of address, hex pairs and display
// characters, in one zero-terminated block from the process heap.
#pragma once

#include <array>
#include <cstdint>

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

// Stores the 32-bit pattern over every whole 4-byte word of the block, eight words a pass,
// then one word at a time. A final 1 to 3 bytes are left untouched.
void FillPattern(char* block, std::uint32_t byteCount, std::uint32_t pattern);

// Writes the address as 8 uppercase hexadecimal digits and returns the position after them.
char* PutAddress(std::uint32_t address, char* destination);

// The dump of count bytes from source in a new zero-terminated process-heap block of
// lines * 79 + 1 bytes, or null when count is 0 or the block cannot be had. Each line's
// address is the low 32 bits of its first byte's address.
char* FormatDump(const char* source, std::uint32_t count);
