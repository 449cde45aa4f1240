// Every report case of cases.txt, run in-process on the platform double, once with a working
// heap and once with one that always fails (each dump then missing, the rest unchanged): the
// run must end through ExitProcess(0) with standard output and each box's text byte for byte
// the reference model's, the dumps' addresses those of the buffer the file was read into.
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

INSTANTIATE_TEST_SUITE_P(Table, ReportCases, ::testing::ValuesIn(ReadReportCases()),
                         [](const auto& info) { return info.param.name; });

} // namespace
