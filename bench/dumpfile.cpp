// dumpfile FILE: writes the dump of the whole file to standard output, for comparing the
// formatter with other dump tools as whole processes. The file is mapped and formatted 64 KiB
// at a time into one block that every chunk reuses, each chunk written as soon as it is
// formatted. The addresses are those of the mapped bytes, so the text is the one a single
// FormatDump of the whole mapping gives. A bench tool only; the program itself never takes
// arguments.
#include "dump/format_dump.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int Fail(const char* what, const char* file) {
    std::fprintf(stderr, "dumpfile: %s: %s\n", file, what);
    return 1;
}

// One write for the whole text; only a pipe or a signal makes it take more than one.
bool WriteAll(const char* text, std::size_t count) {
    while (count != 0) {
        const ssize_t put = write(STDOUT_FILENO, text, count);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        text += put;
        count -= static_cast<std::size_t>(put);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: dumpfile FILE\n");
        return 2;
    }
    const char* file = argv[1];
    // Without O_NONBLOCK a FIFO would hold the open until a writer came.
    const int fd = open(file, O_RDONLY | O_NONBLOCK);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0) {
        return Fail("cannot open", file);
    }
    // Only a regular file can be mapped whole; a directory, a FIFO or a device cannot.
    if (!S_ISREG(info.st_mode)) {
        return Fail("cannot read", file);
    }
    if (info.st_size == 0) {
        return 0;
    }
    const auto count = static_cast<std::size_t>(info.st_size);
    // The file's pages straight from the page cache, mapped all at once: no copy, and no
    // fresh memory to fault in page by page.
    void* mapped = mmap(nullptr, count, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (mapped == MAP_FAILED) {
        return Fail("cannot read", file);
    }
    const char* bytes = static_cast<const char*>(mapped);
    // 4096 whole lines, 316 KiB of text: the block stays in the second-level cache, and its
    // pages are faulted in once.
    constexpr std::uint32_t ChunkBytes = 64 * 1024;
    static char block[ChunkBytes / DumpLineBytes * DumpLineSize + 1];
    const PutLinesProc putLines = GetDumpKernels().kernels[0].putLines;
    for (std::size_t done = 0; done < count; done += ChunkBytes) {
        const auto chunk =
            static_cast<std::uint32_t>(count - done < ChunkBytes ? count - done : ChunkBytes);
        PutDump(block, bytes + done, chunk, putLines);
        if (!WriteAll(block, CountDumpLines(chunk) * DumpLineSize)) {
            return Fail("cannot write standard output", "-");
        }
    }
    return 0;
}
