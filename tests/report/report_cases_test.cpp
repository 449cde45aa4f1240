// Every report case of cases.txt in-process on the platform double; docs/testing.md says what
// each must show.
#include "tests/support/platform_double.h"

#include <gtest/gtest.h>

void PrintTo(const ReportCase& report, std::ostream* out) {
    *out << report.name;
}

namespace {

class ReportCases : public ::testing::TestWithParam<ReportCase> {};

TEST_P(ReportCases, ShowWhatTheReferenceModelShows) {
    for (const bool heapFails : {false, true}) {
        SCOPED_TRACE(heapFails ? "with a failing heap" : "with a working heap");
        const DoubleRun run = RunOnDouble(GetParam(), heapFails);
        EXPECT_EQ(run.shown.console, run.expected.console);
        EXPECT_EQ(run.shown.boxes, run.expected.boxes);
        EXPECT_EQ(run.exitCode, 0);
    }
}

// The reference model itself, on the example file with its text buffer at 00403050: both dumps
// at the bytes' own addresses, both values, and the prompt.
TEST(ReferenceRun, ShowsTheExampleByteForByte) {
    const ReferenceOutput shown = ReferenceRun("str1=hello&str2=world&", 0x00403050);
    EXPECT_EQ(
        shown.console,
        "00403050  73 74 72 31 3D 68 65 6C - 6C 6F 26 73 74 72 32 3D  str1=hello&str2=\r\n"
        "00403060  77 6F 72 6C 64 26 00 00 - 00 00 00 00 00 00 00 00  world&..........\r\n"
        "00403070  00 00 00 00 00 00 00 00                            ........        \r\n\r\n"
        "0040305B  73 74 72 32 3D 77 6F 72 - 6C 64 26 00 00 00 00 00  str2=world&.....\r\n"
        "0040306B  00 00 00 00 00 00 00 00 - 00 00 00 00 00 00 00 00  ................\r\n"
        "0040307B  00 00 00 00 00 00 00 00                            ........        \r\n\r\n"
        "Press any key to exit...\r\n");
    EXPECT_EQ(shown.boxes, (std::vector<std::string>{"str1=hello", "str2=world"}));
}

INSTANTIATE_TEST_SUITE_P(Table, ReportCases, ::testing::ValuesIn(ReadReportCases()),
                         [](const auto& info) { return info.param.name; });

} // namespace
