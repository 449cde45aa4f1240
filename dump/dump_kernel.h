// The formatter's insides, shared by the whole-line kernels: the lookup tables, the word
// helpers that compose a line's columns, the table kernel, and the per-line loop every kernel
// runs its line procedure in.
#pragma once

#include "dump/format_dump.h"

#include <array>
#include <cstdint>
#include <cstring>

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

// The low 32 bits of a byte's address, which its line's address column shows.
inline std::uint32_t DumpAddressOf(const void* byte) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(byte));
}

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

// Stores the 32-bit pattern over every whole 4-byte word of the block, eight words a pass,
// then one word at a time. A final 1 to 3 bytes are left untouched.
void FillPattern(char* block, std::uint32_t byteCount, std::uint32_t pattern);

// Writes the address as 8 uppercase hexadecimal digits and returns the position after them.
char* PutAddress(std::uint32_t address, char* destination);

// The table kernel: HexPairTable and ShowCharTable lookups over a space fill.
void PutLinesByTable(char* line, const char* source, std::uint32_t lines);

// Every kernel list ends with this entry.
inline constexpr DumpKernel TableKernel = {"tables", PutLinesByTable};

// Where the next whole line goes, the source bytes it shows, their address, and the upper
// six address digits of the line before.
struct LineCursor {
    char* line;
    const char* source;
    std::uint32_t address;
    std::uint64_t upper;
};

inline LineCursor StartLines(char* line, const char* source) {
    const std::uint32_t address = DumpAddressOf(source);
    return {line, source, address, UpperAddressBits(address)};
}

// A line procedure: writes Group whole lines from 16 * Group bytes of source at line onward,
// with the address column words given, one a line.
template <std::uint32_t Group>
using PutLineGroupProc = void (*)(char* line, const char* source,
                                  const std::uint64_t (&addresses)[Group]);

// The per-line loop of every kernel: groups groups of Group lines from the cursor on, each
// written by PutGroup, and the cursor moved past them. A kernel whose line procedure carries
// a target of its own is compiled with gnu::flatten, so that the procedure is inlined here.
template <std::uint32_t Group, PutLineGroupProc<Group> PutGroup>
[[gnu::always_inline]] inline void PutLineGroups(LineCursor* at, std::uint32_t groups) {
    for (; groups != 0; --groups) {
        std::uint64_t addresses[Group];
        for (std::uint32_t k = 0; k < Group; ++k) {
            addresses[k] = LineAddressBits(at->address + k * DumpLineBytes, &at->upper);
        }
        PutGroup(at->line, at->source, addresses);
        at->line += Group * DumpLineSize;
        at->source += Group * DumpLineBytes;
        at->address += Group * DumpLineBytes;
    }
}
