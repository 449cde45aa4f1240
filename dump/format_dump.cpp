#include "dump/format_dump.h"

#include "platform/platform.h"

#include <cstring>

namespace {

constexpr std::uint32_t SpacePattern = 0x20202020;

// The largest line count whose block size, lines * 79 + 1, is still a 32-bit number.
constexpr std::uint32_t MaxDumpLines = (0xFFFFFFFFu - 1) / DumpLineSize;

std::uint32_t AddressOf(const char* byte) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(byte));
}

// Both digits of a byte go out as one two-byte store.
void PutPair(char* at, char byte) {
    std::memcpy(at, HexPairTable[static_cast<std::uint8_t>(byte)].data(), 2);
}

char ShowChar(char byte) { return ShowCharTable[static_cast<std::uint8_t>(byte)]; }

// Eight bytes as hex pairs three columns apart; the spaces between them come from the fill.
void PutHexHalf(char* at, const char* source) {
    PutPair(at + 0, source[0]);
    PutPair(at + 3, source[1]);
    PutPair(at + 6, source[2]);
    PutPair(at + 9, source[3]);
    PutPair(at + 12, source[4]);
    PutPair(at + 15, source[5]);
    PutPair(at + 18, source[6]);
    PutPair(at + 21, source[7]);
}

void PutShowHalf(char* at, const char* source) {
    at[0] = ShowChar(source[0]);
    at[1] = ShowChar(source[1]);
    at[2] = ShowChar(source[2]);
    at[3] = ShowChar(source[3]);
    at[4] = ShowChar(source[4]);
    at[5] = ShowChar(source[5]);
    at[6] = ShowChar(source[6]);
    at[7] = ShowChar(source[7]);
}

void PutLineBreak(char* line) {
    line[DumpBreakColumn] = '\r';
    line[DumpBreakColumn + 1] = '\n';
}

// A line of sixteen bytes: straight-line stores, no per-byte test.
void PutWholeLine(char* line, const char* source) {
    PutAddress(AddressOf(source), line);
    PutHexHalf(line + DumpHexColumn, source);
    line[DumpDashColumn] = '-';
    PutHexHalf(line + DumpHighColumn, source + 8);
    PutShowHalf(line + DumpShowColumn, source);
    PutShowHalf(line + DumpShowColumn + 8, source + 8);
    PutLineBreak(line);
}

// The last line, with 1 to 15 bytes: the slots of the missing bytes stay spaces, and only
// the bytes shown are read.
void PutShortLine(char* line, const char* source, std::uint32_t rest) {
    PutAddress(AddressOf(source), line);
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
    PutLineBreak(line);
}

} // namespace

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

char* FormatDump(const char* source, std::uint32_t count) {
    if (count == 0) {
        return nullptr;
    }
    const std::uint32_t full = count / DumpLineBytes;
    const std::uint32_t rest = count % DumpLineBytes;
    const std::uint32_t lines = full + (rest != 0 ? 1 : 0);
    if (lines > MaxDumpLines) {
        return nullptr;
    }
    const std::uint32_t size = lines * DumpLineSize + 1;
    char* block = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size));
    if (block == nullptr) {
        return nullptr;
    }
    FillPattern(block, size, SpacePattern);

    char* line = block;
    for (std::uint32_t i = 0; i < full; ++i) {
        PutWholeLine(line, source);
        line += DumpLineSize;
        source += DumpLineBytes;
    }
    if (rest != 0) {
        PutShortLine(line, source, rest);
        line += DumpLineSize;
    }
    *line = '\0';
    return block;
}
