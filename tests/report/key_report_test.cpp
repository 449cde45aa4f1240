// The whole run of the built program, end to end: standard output and standard error byte
// for byte, and the exit code, for Test.txt files and standard streams of every kind.
#include "app/linux/version.h"
#include "tests/support/reference.h"
#include "tests/support/subprocess.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char Prompt[] = "Press any key to exit...\r\n";

class KeyReportRun : public ::testing::Test {
  protected:
    void TearDown() override { RemoveTempFolder(folder); }

    std::string TestFile() const { return folder.path + "/Test.txt"; }

    RunResult Run(const std::string& contents, RunOptions options = {}) {
        WriteBytes(TestFile(), contents);
        return RunIn(options);
    }

    RunResult RunIn(RunOptions options) {
        options.folder = folder.path;
        return RunProgram(options);
    }

    // Checks a run against the reference model of the run over the same contents.
    void ExpectModelled(const std::string& contents, const RunOptions& options = {}) {
        SCOPED_TRACE(::testing::PrintToString(contents));
        const RunResult run = Run(contents, options);
        const ReferenceOutput expected =
            ReferenceRun(contents, TextAddressFrom(run.output, contents));
        std::string boxes;
        for (const std::string& box : expected.boxes) {
            boxes += box + "\n";
        }
        EXPECT_EQ(run.output, expected.console);
        EXPECT_EQ(run.error, boxes);
        EXPECT_EQ(ExitCodeOf(run), 0);
    }

    TempFolder folder = MakeTempFolder();
};

std::uint32_t AddressAt(const std::string& output, std::size_t at) {
    return static_cast<std::uint32_t>(std::stoul(output.substr(at, 8), nullptr, 16));
}

std::string Hex8(std::uint32_t value) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", value);
    return digits;
}

TEST_F(KeyReportRun, ExampleFileGivesBothDumpsBothValuesAndThePrompt) {
    const RunResult run = Run("str1=hello&str2=world&");
    ASSERT_GE(run.output.size(), 8u);
    const std::uint32_t base = AddressAt(run.output, 0);
    const std::string expected =
        Hex8(base) + "  73 74 72 31 3D 68 65 6C - 6C 6F 26 73 74 72 32 3D  str1=hello&str2=\r\n" +
        Hex8(base + 16) +
        "  77 6F 72 6C 64 26 00 00 - 00 00 00 00 00 00 00 00  world&..........\r\n" +
        Hex8(base + 32) +
        "  00 00 00 00 00 00 00 00                            ........        \r\n"
        "\r\n" +
        Hex8(base + 11) +
        "  73 74 72 32 3D 77 6F 72 - 6C 64 26 00 00 00 00 00  str2=world&.....\r\n" +
        Hex8(base + 27) +
        "  00 00 00 00 00 00 00 00 - 00 00 00 00 00 00 00 00  ................\r\n" +
        Hex8(base + 43) +
        "  00 00 00 00 00 00 00 00                            ........        \r\n"
        "\r\n"
        "Press any key to exit...\r\n";
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(run.error, "str1=hello\nstr2=world\n");
    EXPECT_EQ(ExitCodeOf(run), 0);
}

// The file is read through a descriptor: of a longer one, the first 500 bytes alone count.
// (What the run makes of any contents is the report cases', run in-process.)
TEST_F(KeyReportRun, OnlyTheFirst500BytesAreRead) {
    ExpectModelled("str2=b&" + std::string(600, '.') + "str1=a&");
}

TEST_F(KeyReportRun, NoUsableFileGivesOnlyThePrompt) {
    RunResult run = RunIn({}); // no Test.txt at all
    EXPECT_EQ(run.output, Prompt);
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(ExitCodeOf(run), 0);

    run = Run(""); // empty
    EXPECT_EQ(run.output, Prompt);
    EXPECT_EQ(ExitCodeOf(run), 0);

    unlink(TestFile().c_str());
    mkdir(TestFile().c_str(), 0755); // a directory reads as unreadable
    run = RunIn({});
    EXPECT_EQ(run.output, Prompt);
    EXPECT_EQ(ExitCodeOf(run), 0);
}

TEST_F(KeyReportRun, FifoWithNoWriterDoesNotBlock) {
    ASSERT_EQ(mkfifo(TestFile().c_str(), 0644), 0);
    const RunResult run = RunIn({});
    EXPECT_EQ(run.output, Prompt);
    EXPECT_EQ(ExitCodeOf(run), 0);
}

TEST_F(KeyReportRun, FileModes) {
    RunOptions unprivileged;
    unprivileged.unprivileged = true;

    // A file the user may read but not write is read.
    WriteBytes(TestFile(), "str1=hello&str2=world&");
    chmod(TestFile().c_str(), 0444);
    RunResult run = RunIn(unprivileged);
    EXPECT_EQ(run.error, "str1=hello\nstr2=world\n");
    EXPECT_EQ(ExitCodeOf(run), 0);

    // A file the user may not read is as good as missing.
    chmod(TestFile().c_str(), 0);
    run = RunIn(unprivileged);
    EXPECT_EQ(run.output, Prompt);
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(ExitCodeOf(run), 0);
}

TEST_F(KeyReportRun, OutputAndInputThatGoNowhere) {
    const std::string contents = "str1=hello&str2=world&";

    // Standard output that cannot be written: the values still reach standard error.
    RunOptions options;
    options.output = Output::FullDevice;
    RunResult run = Run(contents, options);
    EXPECT_EQ(run.error, "str1=hello\nstr2=world\n");
    EXPECT_EQ(ExitCodeOf(run), 0);

    // A pipe with no reader: no SIGPIPE death.
    options.output = Output::NoReader;
    run = Run(contents, options);
    EXPECT_EQ(run.error, "str1=hello\nstr2=world\n");
    EXPECT_EQ(ExitCodeOf(run), 0);

    // Standard input at its end, or unreadable: the key wait ends instead of hanging.
    for (const char* input : {"/dev/null", "/"}) {
        RunOptions nothing;
        nothing.inputPath = input;
        run = Run(contents, nothing);
        EXPECT_EQ(run.output.substr(run.output.size() - sizeof Prompt + 1), Prompt) << input;
        EXPECT_EQ(ExitCodeOf(run), 0);
    }

    // Standard output a full non-blocking pipe: each write waits for room, and nothing is lost.
    options.output = Output::FullPipe;
    ExpectModelled(contents, options);
}

// With standard output closed, Test.txt is opened on its descriptor: the dumps must not end
// up in the file.
TEST_F(KeyReportRun, ClosedOutputLeavesTheFileAlone) {
    const std::string contents = "str1=hello&str2=world&";
    RunOptions closed;
    closed.output = Output::Closed;
    const RunResult run = Run(contents, closed);
    EXPECT_EQ(run.error, "str1=hello\nstr2=world\n");
    EXPECT_EQ(ExitCodeOf(run), 0);
    std::ifstream file(TestFile(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), contents);
}

// The command line: --help or --version alone answers on standard output in lines that fit
// 79 columns, or fails with exit status 1 when the answer cannot be written; any other
// command line is refused with one line on standard error and exit status 2; none of them
// runs the report, which would write dumps and the prompt and show the values.
struct CommandLineCase {
    const char* name;
    std::vector<std::string> arguments;
    std::string outputStart; // standard output begins with this (and is this, if exact)
    bool exact;
    std::string error;
    int exitCode;
    Output output = Output::Pipe;
};

void PrintTo(const CommandLineCase& line, std::ostream* out) {
    *out << line.name;
}

class CommandLine : public KeyReportRun, public ::testing::WithParamInterface<CommandLineCase> {};

TEST_P(CommandLine, AnswersWithoutRunningTheReport) {
    const CommandLineCase& line = GetParam();
    RunOptions options;
    options.arguments = line.arguments;
    options.output = line.output;
    const std::string contents = "str1=hello&str2=world&";
    const RunResult run = Run(contents, options);
    if (line.exact) {
        EXPECT_EQ(run.output, line.outputStart);
    } else {
        EXPECT_EQ(run.output.substr(0, line.outputStart.size()), line.outputStart);
        EXPECT_EQ(run.output.find("Press any key"), std::string::npos);
    }
    for (std::size_t at = 0, end; (end = run.output.find('\n', at)) != std::string::npos;
         at = end + 1) {
        EXPECT_LE(end - at, 79u) << run.output.substr(at, end - at);
    }
    EXPECT_EQ(run.error, line.error);
    EXPECT_EQ(ExitCodeOf(run), line.exitCode);
    std::ifstream file(TestFile(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), contents);
}

// The refusal of an argument, which is shown quoted.
std::string QuotedRefusal(const std::string& quoted) {
    return "keyreport: unexpected argument " + quoted + "; see 'keyreport --help'\n";
}
std::string Refusal(const char* argument) {
    return QuotedRefusal("'" + std::string(argument) + "'");
}

constexpr char FullDevice[] = "keyreport: write error: No space left on device\n";

// The first argument that cannot stand where it is gets named: anything but an option first,
// anything at all after one.
INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLine,
    ::testing::Values(
        CommandLineCase{
            "Help", {"--help"}, "Usage: keyreport [--help | --version]\n", false, "", 0},
        CommandLineCase{"Version",
                        {"--version"},
                        std::string("keyreport ") + KeyreportVersion + "\n",
                        true,
                        "",
                        0},
        // One argument that is not an option: refused by itself, the file left unread.
        CommandLineCase{"ShortHelp", {"-h"}, "", true, Refusal("-h"), 2},
        CommandLineCase{"FileName", {"Test.txt"}, "", true, Refusal("Test.txt"), 2},
        CommandLineCase{
            "FileNameBeforeHelp", {"Test.txt", "--help"}, "", true, Refusal("Test.txt"), 2},
        CommandLineCase{
            "UnknownAfterVersion", {"--version", "--bogus"}, "", true, Refusal("--bogus"), 2},
        CommandLineCase{"ExtraAfterHelp", {"--help", "x"}, "", true, Refusal("x"), 2},
        CommandLineCase{
            "HelpAndVersion", {"--help", "--version"}, "", true, Refusal("--version"), 2},
        // An argument is quoted as a shell reads it back; bytes that would not show as
        // themselves, such as an escape sequence that would recolour the terminal, as escapes.
        CommandLineCase{
            "EscapeSequence", {"\x1b[31mred"}, "", true, QuotedRefusal("$'\\033''[31mred'"), 2},
        CommandLineCase{"EmptyArgument", {""}, "", true, Refusal(""), 2},
        CommandLineCase{
            "QuoteAndBrokenUtf8", {"it's\xff"}, "", true, QuotedRefusal("'it'\\''s'$'\\377'"), 2},
        // An answer that cannot be written is a failure, told on standard error.
        CommandLineCase{
            "HelpToAFullDevice", {"--help"}, "", true, FullDevice, 1, Output::FullDevice},
        CommandLineCase{
            "VersionToAFullDevice", {"--version"}, "", true, FullDevice, 1, Output::FullDevice}),
    [](const ::testing::TestParamInfo<CommandLineCase>& info) { return info.param.name; });

} // namespace
