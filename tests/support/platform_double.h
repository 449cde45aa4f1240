// A test double of the platform, on which the report runs in-process: Test.txt is a string,
// standard output and the message boxes are recorded, the heap is malloc with every block
// remembered (and can be made to fail), the key wait ends at once and ExitProcess jumps back
// to the caller. With the report cases of tests/report/cases.txt, which the tests and the fuzz
// target run on it.
#pragma once

#include "platform/platform.h"
#include "tests/support/reference.h"

#include <string>
#include <vector>

extern bool DoubleHeapFails;       // HeapAlloc gives null
extern SIZE_T DoubleLastBlockSize; // size asked of the last HeapAlloc, 0 if none
void ResetDouble();                // frees the blocks handed out, clears what was recorded

// One line of the table: the case's name, its notes ("no-file", ...) and its Test.txt bytes.
struct ReportCase {
    std::string name, notes, contents;
};
std::vector<ReportCase> ReadReportCases();

// A whole run of RunKeyReport on the double over a case, with a working or a failing heap:
// what it showed, how it ended, and what the reference model says it should show.
struct DoubleRun {
    ReferenceOutput shown, expected;
    int exitCode;
};
DoubleRun RunOnDouble(const ReportCase& report, bool heapFails);
