// The whole run of the built program, end to end: standard output and standard error byte
// for byte, and the exit code, for Test.txt files and standard streams of every kind.
#include "app/linux/version.h"
#include "tests/support/reference.h"
#include "tests/support/rows.h"
#include "tests/support/subprocess.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class KeyReportRun : public ::testing::Test {
  protected:
    void TearDown() override { RemoveTempFolder(folder); }

    std::string TestFile() const { return folder.path + "/Test.txt"; }
    std::string TestFileContents() const {
        std::ifstream file(TestFile(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    RunResult RunIn(RunOptions options) {
        options.folder = folder.path;
        return RunProgram(options);
    }

    TempFolder folder = MakeTempFolder();
};

// What stands in the run's folder as Test.txt.
enum class FileKind { Missing, Contents, ReadOnly, Unreadable, Folder, Fifo };

// A run with a Test.txt and standard streams of some kind. Standard output must be the
// reference model's for what the run can read of the file (where it reaches the test),
// standard error the values, the exit code 0, and the file unchanged.
struct FileAndStreams {
    const char* name;
    FileKind file;
    std::string contents = {};
    Output output = Output::Pipe;
    const char* inputPath = ""; // standard input, if not an empty pipe
};

class FilesAndStreams : public KeyReportRun,
                        public ::testing::WithParamInterface<FileAndStreams> {};

TEST_P(FilesAndStreams, ShowWhatTheRunCanRead) {
    const FileAndStreams& row = GetParam();
    const bool regular = row.file == FileKind::Contents || row.file == FileKind::ReadOnly;
    if (row.file == FileKind::Folder) {
        mkdir(TestFile().c_str(), 0755);
    } else if (row.file == FileKind::Fifo) {
        ASSERT_EQ(mkfifo(TestFile().c_str(), 0644), 0);
    } else if (row.file != FileKind::Missing) {
        WriteBytes(TestFile(), row.contents);
    }
    // File modes apply to a run as nobody, where the tests run as root.
    const bool unprivileged = row.file == FileKind::ReadOnly || row.file == FileKind::Unreadable;
    if (unprivileged) {
        chmod(TestFile().c_str(), row.file == FileKind::ReadOnly ? 0444 : 0);
    }
    const RunResult run =
        RunIn({.inputPath = row.inputPath, .output = row.output, .unprivileged = unprivileged});
    const std::string read = regular ? row.contents : "";
    const ReferenceOutput expected = ReferenceRun(read, TextAddressFrom(run.output, read));
    std::string boxes;
    for (const std::string& box : expected.boxes) {
        boxes += box + "\n";
    }
    const bool shown = row.output == Output::Pipe || row.output == Output::FullPipe;
    EXPECT_EQ(run.output, shown ? expected.console : "");
    EXPECT_EQ(run.error, boxes);
    EXPECT_EQ(ExitCodeOf(run), 0);
    if (regular) {
        EXPECT_EQ(TestFileContents(), row.contents);
    }
}

const std::string Example = "str1=hello&str2=world&";

INSTANTIATE_TEST_SUITE_P(
    Files, FilesAndStreams,
    ::testing::Values(
        // No file to read: as an empty one, the prompt alone. A FIFO without a writer opens
        // without blocking and reads as empty; a file the user may not read is as missing.
        FileAndStreams{"Missing", FileKind::Missing}, FileAndStreams{"Empty", FileKind::Contents},
        FileAndStreams{"Folder", FileKind::Folder},
        FileAndStreams{"FifoWithoutWriter", FileKind::Fifo},
        FileAndStreams{"Unreadable", FileKind::Unreadable, Example},
        // Test.txt is read-only (mode 0444), and read; of a longer one, 500 bytes alone, so
        // that a key across byte 500 is not found.
        FileAndStreams{"ReadOnly", FileKind::ReadOnly, Example},
        FileAndStreams{"LongerThan500Bytes", FileKind::Contents,
                       std::string(496, '.') + "str1=x&str2=y&"},
        // Standard output that fails every write, a pipe whose reader has gone (no death by
        // SIGPIPE), or closed: the values still reach standard error, and Test.txt is left as
        // it was (what takes a closed descriptor is checked by desktop.headless, closed-1). A
        // full non-blocking pipe: each write waits for room, and nothing is lost.
        FileAndStreams{"OutputToAFullDevice", FileKind::Contents, Example, Output::FullDevice},
        FileAndStreams{"OutputWithoutReader", FileKind::Contents, Example, Output::NoReader},
        FileAndStreams{"OutputClosed", FileKind::Contents, Example, Output::Closed},
        FileAndStreams{"OutputToAFullPipe", FileKind::Contents, Example, Output::FullPipe},
        // Standard input at its end, or unreadable: the key wait ends instead of hanging.
        FileAndStreams{"InputAtItsEnd", FileKind::Contents, Example, Output::Pipe, "/dev/null"},
        FileAndStreams{"InputUnreadable", FileKind::Contents, Example, Output::Pipe, "/"},
        // Bytes a terminal would obey reach a pipe unchanged: escape sequences that would clear
        // it and set its title and clipboard, CR and BS, a C1 control raw and in UTF-8, a
        // right-to-left override.
        FileAndStreams{"TerminalCommandsToAPipe", FileKind::Contents,
                       "str1=\x1b[2J\x1b]52;c;ZWNobyBwd25lZAo=\a\x1b]0;pwned\a\rX\b\b\xe2\x80\xae"
                       "abc&str2=\x9b\xc2\x9b&"}),
    NameOfRow<FileAndStreams>);

// The command line: --help or --version alone answers on standard output in lines that fit
// 79 columns, or fails with exit status 1 when the answer cannot be written; any other
// command line is refused with one line on standard error and exit status 2; none of them
// runs the report, which would write dumps and the prompt and show the values.
struct CommandLineCase {
    const char* name;
    std::vector<std::string> arguments;
    int exitCode;
    std::string error;
    std::string output = {}; // standard output: this, or else begins with this (usage)
    bool exact = true;
    Output to = Output::Pipe;
};

class CommandLine : public KeyReportRun, public ::testing::WithParamInterface<CommandLineCase> {};

TEST_P(CommandLine, AnswersWithoutRunningTheReport) {
    const CommandLineCase& line = GetParam();
    WriteBytes(TestFile(), Example);
    const RunResult run = RunIn({.output = line.to, .arguments = line.arguments});
    if (line.exact) {
        EXPECT_EQ(run.output, line.output);
    } else {
        EXPECT_EQ(run.output.substr(0, line.output.size()), line.output);
        EXPECT_EQ(run.output.find("Press any key"), std::string::npos);
    }
    for (std::size_t at = 0, end; (end = run.output.find('\n', at)) != std::string::npos;
         at = end + 1) {
        EXPECT_LE(end - at, 79u) << run.output.substr(at, end - at);
    }
    EXPECT_EQ(run.error, line.error);
    EXPECT_EQ(ExitCodeOf(run), line.exitCode);
    EXPECT_EQ(TestFileContents(), Example);
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
            "Help", {"--help"}, 0, "", "Usage: keyreport [--help | --version]\n", false},
        CommandLineCase{
            "Version", {"--version"}, 0, "", std::string("keyreport ") + KeyreportVersion + "\n"},
        // One argument that is not an option: refused by itself, the file left unread.
        CommandLineCase{"ShortHelp", {"-h"}, 2, Refusal("-h")},
        CommandLineCase{"FileName", {"Test.txt"}, 2, Refusal("Test.txt")},
        CommandLineCase{"FileNameBeforeHelp", {"Test.txt", "--help"}, 2, Refusal("Test.txt")},
        CommandLineCase{"UnknownAfterVersion", {"--version", "--bogus"}, 2, Refusal("--bogus")},
        CommandLineCase{"ExtraAfterHelp", {"--help", "x"}, 2, Refusal("x")},
        CommandLineCase{"HelpAndVersion", {"--help", "--version"}, 2, Refusal("--version")},
        // An argument is quoted as a shell reads it back; bytes that would not show as
        // themselves, such as an escape sequence that would recolour the terminal, as escapes.
        CommandLineCase{"EscapeSequence", {"\x1b[31mred"}, 2, QuotedRefusal("$'\\e''[31mred'")},
        CommandLineCase{"EmptyArgument", {""}, 2, Refusal("")},
        CommandLineCase{"QuoteAndBrokenUtf8", {"it's\xff"}, 2, QuotedRefusal("'it'\\''s'$'\\xff'")},
        CommandLineCase{"C1AndBidiOverride",
                        {"a\xc2\x9b\xe2\x80\xae\\b\xc3\xa9"},
                        2,
                        QuotedRefusal("'a'$'\\u009b\\u202e''\\b\xc3\xa9'")},
        // An answer that cannot be written is a failure, told on standard error.
        CommandLineCase{
            "HelpToAFullDevice", {"--help"}, 1, FullDevice, "", true, Output::FullDevice},
        CommandLineCase{
            "VersionToAFullDevice", {"--version"}, 1, FullDevice, "", true, Output::FullDevice}),
    NameOfRow<CommandLineCase>);

} // namespace
