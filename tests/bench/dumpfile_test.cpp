// The streaming dump tool, whole process: its text is the reference dump of the file's bytes
// at the address of its first line, whatever the file's size against the tool's chunk.
#include "tests/support/reference.h"
#include "tests/support/subprocess.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <sys/stat.h>

namespace {

constexpr std::uint32_t ChunkBytes = 64 * 1024; // what dumpfile formats at a time

class Dumpfile : public ::testing::TestWithParam<std::uint32_t> {
  protected:
    void TearDown() override { RemoveTempFolder(folder); }
    RunResult RunOn(const char* file) {
        return RunProgram(
            {.folder = folder.path, .program = DUMPFILE_PROGRAM, .arguments = {file}});
    }
    TempFolder folder = MakeTempFolder();
};

TEST_P(Dumpfile, WritesTheReferenceDumpOfTheWholeFile) {
    const std::uint32_t count = GetParam();
    std::string bytes;
    for (std::uint32_t i = 0; i < count; ++i) {
        bytes += static_cast<char>((i * 167 + i / 251) & 0xFF); // every byte value, unaligned
    }
    WriteBytes(folder.path + "/file.bin", bytes);
    const RunResult run = RunOn("file.bin");
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(ExitCodeOf(run), 0);
    if (count == 0) {
        EXPECT_EQ(run.output, ""); // an empty file: no dump at all
        return;
    }
    ASSERT_GE(run.output.size(), 8u);
    const auto address = std::stoul(run.output.substr(0, 8), nullptr, 16);
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    EXPECT_EQ(DescribeDumpDifference(run.output, ReferenceDump(data, count, address)), "");
}

// Empty, one byte, a line and a byte either side, and a chunk's end and a byte either side,
// once and twice.
INSTANTIATE_TEST_SUITE_P(Sizes, Dumpfile,
                         ::testing::Values(0u, 1u, 15u, 16u, 17u, ChunkBytes - 1, ChunkBytes,
                                           ChunkBytes + 1, 2 * ChunkBytes - 1, 2 * ChunkBytes + 17),
                         [](const ::testing::TestParamInfo<std::uint32_t>& info) {
                             return "Bytes" + std::to_string(info.param);
                         });

// What cannot be mapped is refused with one line, not a crash, a hang or an empty dump.
using DumpfileRefuses = Dumpfile;

TEST_F(DumpfileRefuses, FilesItCannotMap) {
    ASSERT_EQ(mkdir((folder.path + "/folder").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo((folder.path + "/fifo").c_str(), 0644), 0); // no writer ever comes
    for (const char* file : {"folder", "fifo", "missing"}) {
        const RunResult run = RunOn(file);
        const char* why = file == std::string("missing") ? "open" : "read";
        EXPECT_EQ(run.output, "") << file;
        EXPECT_EQ(run.error, "dumpfile: " + std::string(file) + ": cannot " + why + "\n") << file;
        EXPECT_EQ(ExitCodeOf(run), 1) << file;
    }
}

} // namespace
