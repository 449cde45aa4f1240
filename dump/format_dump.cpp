// FormatDump and the table kernel: the block from the heap, the whole lines by table lookups
// over a space fill, the short last line, and the fill and address routines they use.
#include "dump/dump_kernel.h"

#include "platform/platform.h"

#include <cstring>

namespace {

constexpr std::uint32_t SpacePattern = 0x20202020;

// The largest line count whose block size, lines * 79 + 1, is still a 32-bit number.
constexpr std::uint32_t MaxDumpLines = (0xFFFFFFFFu - 1) / DumpLineSize;

// Whole lines go in a stretch at a time: the stretch is filled with spaces and its lines are
// written right after, while the stretch is still in the first-level cache, so that the block
// travels to memory once and not twice. 16 lines are 1264 bytes.
constexpr std::uint32_t StretchLines = 16;

constexpr std::uint64_t Space = 0x20;
constexpr std::uint64_t Dash = '-';
constexpr std::uint16_t LineBreak = '\r' | '\n' << 8;

// The display character of a byte, widened so that it can be shifted into its place in a
// word of eight.
[[gnu::always_inline]] inline std::uint64_t WidenShowChar(std::uint32_t byte) {
    return static_cast<std::uint8_t>(ShowCharTable[byte]);
}

// Three hex pairs a column apart, "XX XX XX": eight columns for one store.
[[gnu::always_inline]] inline std::uint64_t PairTriple(std::uint32_t first, std::uint32_t second,
                                                       std::uint32_t third) {
    return HexPairBits(first) | Space << 16 | HexPairBits(second) << 24 | Space << 40 |
           HexPairBits(third) << 48;
}

[[gnu::always_inline]] inline void StoreWord(char* at, std::uint64_t word) {
    std::memcpy(at, &word, 8);
}

// Both digits of a byte go out as one two-byte store.
void PutPair(char* at, char byte) {
    std::memcpy(at, HexPairTable[static_cast<std::uint8_t>(byte)].data(), 2);
}

char ShowChar(char byte) {
    return ShowCharTable[static_cast<std::uint8_t>(byte)];
}

// A line of sixteen bytes in ten straight-line stores of table lookups, no per-byte test:
// the address, the hex pairs in six eight-column words, the display characters in two words
// of eight, and CR LF. The columns no store covers (8, 9, 18, 27, 44, 59 and 60) keep the
// fill's spaces. Each source byte is read once, before the stores that need it.
[[gnu::always_inline]] inline void PutWholeLine(char* __restrict line, const char* __restrict text,
                                                const std::uint64_t (&address)[1]) {
    const auto* source = reinterpret_cast<const std::uint8_t*>(text);
    StoreWord(line, address[0]);
    const std::uint32_t b0 = source[0], b1 = source[1], b2 = source[2];
    StoreWord(line + 10, PairTriple(b0, b1, b2));
    std::uint64_t show = WidenShowChar(b0) | WidenShowChar(b1) << 8 | WidenShowChar(b2) << 16;
    const std::uint32_t b3 = source[3], b4 = source[4], b5 = source[5];
    StoreWord(line + 19, PairTriple(b3, b4, b5));
    show |= WidenShowChar(b3) << 24 | WidenShowChar(b4) << 32 | WidenShowChar(b5) << 40;
    const std::uint32_t b6 = source[6], b7 = source[7];
    StoreWord(line + 28, HexPairBits(b6) | Space << 16 | HexPairBits(b7) << 24 | Space << 40 |
                             Dash << 48 | Space << 56);
    show |= WidenShowChar(b6) << 48 | WidenShowChar(b7) << 56;
    StoreWord(line + DumpShowColumn, show);
    const std::uint32_t b8 = source[8], b9 = source[9], b10 = source[10];
    StoreWord(line + 36, PairTriple(b8, b9, b10));
    show = WidenShowChar(b8) | WidenShowChar(b9) << 8 | WidenShowChar(b10) << 16;
    const std::uint32_t b11 = source[11], b12 = source[12], b13 = source[13];
    StoreWord(line + 45, PairTriple(b11, b12, b13));
    show |= WidenShowChar(b11) << 24 | WidenShowChar(b12) << 32 | WidenShowChar(b13) << 40;
    // Pair 13 once more in front of 14 and 15, so that the word ends at column 58.
    const std::uint32_t b14 = source[14], b15 = source[15];
    StoreWord(line + 51, PairTriple(b13, b14, b15));
    show |= WidenShowChar(b14) << 48 | WidenShowChar(b15) << 56;
    StoreWord(line + DumpShowColumn + 8, show);
    std::memcpy(line + DumpBreakColumn, &LineBreak, 2);
}

// The last line, with 1 to 15 bytes: the slots of the missing bytes stay spaces, and only
// the bytes shown are read.
[[gnu::always_inline]] inline void PutShortLine(char* line, const char* source,
                                                std::uint32_t rest) {
    PutAddress(DumpAddressOf(source), line);
    for (std::uint32_t j = 0; j < 8 && j < rest; ++j) {
        PutPair(line + DumpHexColumn + 3 * j, source[j]);
    }
    if (rest > 8) {
        line[DumpDashColumn] = '-';
    }
    for (std::uint32_t j = 8; j < rest; ++j) {
        PutPair(line + DumpHighColumn + 3 * (j - 8), source[j]);
    }
    for (std::uint32_t j = 0; j < rest; ++j) {
        line[DumpShowColumn + j] = ShowChar(source[j]);
    }
    std::memcpy(line + DumpBreakColumn, &LineBreak, 2);
}

} // namespace

// Whole lines from source into line onward, a filled stretch at a time. A stretch whose size
// is not a multiple of 4 leaves its last 1 to 3 bytes unfilled: they are the last line's
// final display character and its CR LF, all written.
void PutLinesByTable(char* line, const char* source, std::uint32_t lines) {
    LineCursor at = StartLines(line, source);
    while (lines != 0) {
        const std::uint32_t stretch = lines < StretchLines ? lines : StretchLines;
        FillPattern(at.line, stretch * DumpLineSize, SpacePattern);
        PutLineGroups<1, PutWholeLine>(&at, stretch);
        lines -= stretch;
    }
}

// Written here rather than left to memset: the Windows executable links no C runtime, so the
// program brings its own routines (and its build keeps the compiler from turning this loop
// into a memset call).
void FillPattern(char* block, std::uint32_t byteCount, std::uint32_t pattern) {
    char* word = block;
    for (std::uint32_t pass = byteCount / 32; pass != 0; --pass) {
        std::memcpy(word + 0, &pattern, 4);
        std::memcpy(word + 4, &pattern, 4);
        std::memcpy(word + 8, &pattern, 4);
        std::memcpy(word + 12, &pattern, 4);
        std::memcpy(word + 16, &pattern, 4);
        std::memcpy(word + 20, &pattern, 4);
        std::memcpy(word + 24, &pattern, 4);
        std::memcpy(word + 28, &pattern, 4);
        word += 32;
    }
    for (std::uint32_t words = (byteCount % 32) / 4; words != 0; --words) {
        std::memcpy(word, &pattern, 4);
        word += 4;
    }
}

char* PutAddress(std::uint32_t address, char* destination) {
    PutPair(destination + 0, static_cast<char>(address >> 24));
    PutPair(destination + 2, static_cast<char>(address >> 16));
    PutPair(destination + 4, static_cast<char>(address >> 8));
    PutPair(destination + 6, static_cast<char>(address));
    return destination + 8;
}

namespace {

// The text of the dump into block. FormatDump takes it inline; PutDump is its entry for
// callers that bring their own block.
[[gnu::always_inline]] inline void PutDumpText(char* block, const char* source, std::uint32_t count,
                                               PutLinesProc putLines) {
    const std::uint32_t full = count / DumpLineBytes;
    const std::uint32_t rest = count % DumpLineBytes;
    putLines(block, source, full);
    char* line = block + full * DumpLineSize;
    if (rest != 0) {
        // The short line and the zero after it: 80 bytes, all filled.
        FillPattern(line, DumpLineSize + 1, SpacePattern);
        PutShortLine(line, source + full * DumpLineBytes, rest);
        line += DumpLineSize;
    }
    *line = '\0';
}

} // namespace

void PutDump(char* block, const char* source, std::uint32_t count, PutLinesProc putLines) {
    PutDumpText(block, source, count, putLines);
}

char* FormatDump(const char* source, std::uint32_t count) {
    if (count == 0) {
        return nullptr;
    }
    const std::uint32_t lines = CountDumpLines(count);
    if (lines > MaxDumpLines) {
        return nullptr;
    }
    char* block = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, lines * DumpLineSize + 1));
    if (block == nullptr) {
        return nullptr;
    }
    PutDumpText(block, source, count, GetDumpKernels().kernels[0].putLines);
    return block;
}
