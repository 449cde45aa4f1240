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

// Where the run's standard output goes.
enum class Output {
    Pipe,       // a pipe the test reads
    FullDevice, // /dev/full, where every write fails
    NoReader,   // a pipe whose reader has gone
    Closed,     // nowhere: the descriptor is closed, and the next file opened takes it
    FullPipe,   // a non-blocking pipe, full when the run starts, read once the run waits
};

struct RunOptions {
    std::string folder;           // the current directory of the run
    std::string inputPath;        // if set, standard input is this file, else an empty pipe
    Output output = Output::Pipe; // where standard output goes
    bool unprivileged = false;    // when run as root, run as nobody so that file modes apply
    std::string program;          // if set, the program to run instead of the one under test
    std::vector<std::string> arguments;   // the program's command line after its name
    // NAME=value settings for the run, which has no display (message boxes go to standard
    // error) unless one is set here.
    std::vector<std::string> environment;
};

struct RunResult {
    std::string output;
    std::string error;
    int status = -1; // as waitpid gives it
};

const char* ProgramPath(); // of the program under test

// Replaces the calling (child) process with program and its arguments, under the command
// KEYREPORT_RUN_UNDER names, if set (valgrind and its options, for instance).
[[noreturn]] void ExecProgram(const char* program, const std::vector<std::string>& arguments = {});

RunResult RunProgram(const RunOptions& options);
int ExitCodeOf(const RunResult& result); // of a run that ended normally, or -1
