// The hex dump formatter: 16 bytes to a 79-byte line of address, hex pairs and display
// characters, in one zero-terminated block from the process heap. This is what callers, tools
// and tests see; the tables, word helpers and kernel contract are in dump/dump_kernel.h.
#pragma once

#include <cstdint>

// One dump line: address, hex pairs, display characters and CR LF.
constexpr std::uint32_t DumpLineSize = 79;
constexpr std::uint32_t DumpLineBytes = 16;

// The number of dump lines for count bytes: one for every 16, and one more for the rest.
constexpr std::uint32_t CountDumpLines(std::uint32_t count) {
    return count / DumpLineBytes + (count % DumpLineBytes != 0 ? 1 : 0);
}

// The dump of count bytes from source in a new zero-terminated process-heap block of
// lines * 79 + 1 bytes, or null when count is 0 or the block cannot be had. Each line's
// address is the low 32 bits of its first byte's address. The caller frees the block with
// HeapFree.
char* FormatDump(const char* source, std::uint32_t count);

// A whole-line kernel: writes lines whole dump lines (16 bytes of source each) at line
// onward, 79 bytes a line and nothing after them. The address column shows the low 32 bits of
// each line's first source byte.
using PutLinesProc = void (*)(char* line, const char* source, std::uint32_t lines);

struct DumpKernel {
    const char* name;
    PutLinesProc putLines;
};

// The whole-line kernels this process's CPU can run, count of them, best first: the first is
// the one FormatDump uses, and the last is the table kernel, which every build has and the
// others are checked against.
struct DumpKernelList {
    const DumpKernel* kernels;
    std::uint32_t count;
};

// Each build links one definition: the table kernel alone, or the vector kernels the CPU has
// (decided once per process) and the table kernel.
DumpKernelList GetDumpKernels();

// Writes the dump of count bytes (count > 0) into block, which holds at least lines * 79 + 1
// bytes: the whole lines through putLines, the short last line, and the terminating zero.
void PutDump(char* block, const char* source, std::uint32_t count, PutLinesProc putLines);
