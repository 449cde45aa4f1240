// The key report: the process entry point and the whole run.
#pragma once

// Loads the start of "Test.txt", dumps and shows the values of "str1=" and "str2=", waits
// for a key and ends the process with exit code 0. Never returns.
extern "C" [[noreturn]] void RunKeyReport();
