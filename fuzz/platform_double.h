// A test double of the platform for the fuzz targets: Test.txt is a string, standard output
// and the message boxes are recorded, the heap is malloc with every block remembered (and
// can be made to fail), the key wait ends at once and ExitProcess jumps back to the caller.
#pragma once

#include "platform/platform.h"

#include <csetjmp>
#include <cstdint>
#include <string>
#include <vector>

// What the next run is given.
extern std::string DoubleFile; // the contents of Test.txt
extern bool DoubleHeapFails;   // HeapAlloc gives null

// What the doubles saw since ResetDouble.
extern std::string DoubleConsole;            // standard output
extern std::vector<std::string> DoubleBoxes; // message box texts, in order
extern const char* DoubleTextBuffer;         // where ReadFile put the file
extern SIZE_T DoubleLastBlockSize;           // size asked of the last HeapAlloc, 0 if none
extern int DoubleExitCode;                   // -1 until ExitProcess

// ExitProcess jumps here with 1; set it with setjmp before starting a run.
extern std::jmp_buf DoubleExitPoint;

// Frees the blocks handed out so far and clears what was recorded.
void ResetDouble();
