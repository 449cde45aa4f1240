// Runs the built program as a subprocess in a folder of its own and collects what it writes.
#pragma once

#include <string>
#include <vector>

// A temporary folder, removed with everything in it when the test ends.
struct TempFolder {
    std::string path;
};
TempFolder MakeTempFolder();
void RemoveTempFolder(const TempFolder& folder);
void WriteBytes(const std::string& path, const std::string& bytes);

struct RunOptions {
    std::string folder;        // the current directory of the run
    std::string input;         // written to standard input through a pipe, which is then closed
    std::string inputPath;     // if set, standard input is this file instead
    std::string outputPath;    // if set, standard output goes to this file instead of a pipe
    bool closeOutput = false;  // standard output is a pipe whose reader has gone
    bool unprivileged = false; // when run as root, run as nobody so that file modes apply
    bool noDisplay = true;     // run without a display, so message boxes go to standard error
    std::string program;       // if set, the program to run instead of the one under test
    bool noOutput = false;     // standard output is closed: the next file opened takes its place
    bool fullOutput = false;   // standard output is a non-blocking pipe, full when the run starts
    std::vector<std::string> arguments;   // the program's command line after its name
    std::vector<std::string> environment; // NAME=value settings made for the run, after noDisplay
};

struct RunResult {
    std::string output;
    std::string error;
    int status = -1; // as waitpid gives it
};

// The path of the program under test.
const char* ProgramPath();

// Replaces the calling (child) process with program and its arguments, under the command that the
// environment variable KEYREPORT_RUN_UNDER names, if set (for instance valgrind and its
// options, separated by spaces).
[[noreturn]] void ExecProgram(const char* program, const std::vector<std::string>& arguments = {});

RunResult RunProgram(const RunOptions& options);

// The exit code of a run that ended normally, or -1.
int ExitCodeOf(const RunResult& result);
