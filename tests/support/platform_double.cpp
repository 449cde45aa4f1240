// The platform calls of the run as a test double: a file from memory, the console and the boxes
// recorded, a heap that can be made to fail, and an exit that returns to the caller; and the
// report cases' table, read and run on it.
#include "tests/support/platform_double.h"

#include "report/key_report.h"

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

bool DoubleHeapFails;
SIZE_T DoubleLastBlockSize;

namespace {

// What the next run is given, and what the doubles saw since ResetDouble.
std::string DoubleFile;               // the contents of Test.txt
bool DoubleHasFile = true;            // false: there is no Test.txt, and CreateFileA fails
std::string DoubleConsole;            // standard output
std::vector<std::string> DoubleBoxes; // message box texts, in order
const char* DoubleTextBuffer;         // where ReadFile put the file
int DoubleExitCode = -1;              // -1 until ExitProcess
std::jmp_buf DoubleExitPoint;         // where ExitProcess jumps back to

char FileHandle, StdInput, StdOutput, Heap;
std::vector<void*> Blocks;

} // namespace

void ResetDouble() {
    for (void* block : Blocks) {
        std::free(block);
    }
    Blocks.clear();
    DoubleConsole.clear();
    DoubleBoxes.clear();
    DoubleTextBuffer = nullptr;
    DoubleLastBlockSize = 0;
    DoubleExitCode = -1;
}

extern "C" HANDLE CreateFileA(LPCSTR fileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                              HANDLE) {
    return DoubleHasFile && std::strcmp(fileName, "Test.txt") == 0 ? &FileHandle
                                                                   : INVALID_HANDLE_VALUE;
}

// The whole count is cleared before the file goes in, or when there is none, so every run
// starts from the buffer a new process has, whatever the run before it loaded.
extern "C" BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                         LPOVERLAPPED) {
    if (file != &FileHandle && file != INVALID_HANDLE_VALUE) {
        std::abort();
    }
    const DWORD count =
        file == &FileHandle ? std::min<std::size_t>(DoubleFile.size(), bytesToRead) : 0;
    std::memset(buffer, 0, bytesToRead);
    std::memcpy(buffer, DoubleFile.data(), count);
    DoubleTextBuffer = static_cast<const char*>(buffer);
    *bytesRead = count;
    return file == &FileHandle;
}

extern "C" BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                          LPOVERLAPPED) {
    if (file != &StdOutput) {
        std::abort();
    }
    DoubleConsole.append(static_cast<const char*>(buffer), bytesToWrite);
    *bytesWritten = bytesToWrite;
    return TRUE;
}

extern "C" LPSTR lstrcpyA(LPSTR destination, LPCSTR source) {
    return std::strcpy(destination, source);
}
extern "C" HANDLE GetStdHandle(DWORD stdHandle) {
    return stdHandle == STD_OUTPUT_HANDLE  ? &StdOutput
           : stdHandle == STD_INPUT_HANDLE ? &StdInput
                                           : INVALID_HANDLE_VALUE;
}

// The key wait ends at once, on a key.
extern "C" BOOL FlushConsoleInputBuffer(HANDLE) {
    return TRUE;
}
extern "C" int _kbhit() {
    return 1;
}
extern "C" int _getch() {
    return 'k';
}
extern "C" void Sleep(DWORD) {}

extern "C" HANDLE GetProcessHeap() {
    return &Heap;
}
extern "C" LPVOID HeapAlloc(HANDLE heap, DWORD, SIZE_T bytes) {
    if (heap != &Heap) {
        std::abort();
    }
    DoubleLastBlockSize = bytes;
    if (DoubleHeapFails) {
        return nullptr;
    }
    Blocks.push_back(std::malloc(bytes));
    return Blocks.back();
}

extern "C" int ShowMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    if (owner != nullptr || caption != nullptr || type != MB_OK) {
        std::abort();
    }
    DoubleBoxes.emplace_back(text);
    return IDOK;
}

extern "C" void ExitProcess(UINT exitCode) {
    DoubleExitCode = static_cast<int>(exitCode);
    std::longjmp(DoubleExitPoint, 1);
}

namespace {

int HexByte(std::string_view text, std::size_t at) {
    return std::stoi(std::string(text.substr(at, 2)), nullptr, 16);
}

// The bytes a table's contents field stands for: \xHH, \\, {N*text} and {HH-HH}.
std::string DecodeContents(std::string_view text) {
    std::string bytes;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const std::size_t end = text[at] == '{' ? text.find('}', at) : at;
        const std::string_view inside = text.substr(at + 1, end - at - 1);
        if (text[at] == '\\' && text[at + 1] == 'x') {
            bytes += static_cast<char>(HexByte(text, at + 2));
            at += 3;
        } else if (text[at] == '\\' || end == at) {
            bytes += text[at += text[at] == '\\'];
        } else if (const std::size_t star = inside.find('*'); star != inside.npos) {
            const std::string piece = DecodeContents(inside.substr(star + 1));
            for (int n = std::stoi(std::string(inside.substr(0, star))); n > 0; --n) {
                bytes += piece;
            }
        } else {
            const int last = HexByte(inside, 3), step = HexByte(inside, 0) > last ? -1 : 1;
            for (int b = HexByte(inside, 0); b != last + step; b += step) {
                bytes += static_cast<char>(b);
            }
        }
        at = std::max(at, end);
    }
    return bytes;
}

} // namespace

std::vector<ReportCase> ReadReportCases() {
    std::vector<ReportCase> cases;
    std::ifstream table(KEYREPORT_REPORT_CASES);
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        ReportCase report;
        std::string text;
        if (line[0] != '#' && fields >> report.name >> report.notes) {
            std::getline(fields >> std::ws, text);
            cases.push_back({report.name, report.notes, DecodeContents(text)});
        }
    }
    if (cases.empty()) {
        std::abort(); // a table that cannot be read must not pass as one without cases
    }
    return cases;
}

DoubleRun RunOnDouble(const ReportCase& report, bool heapFails) {
    ResetDouble();
    DoubleFile = report.contents;
    DoubleHasFile = report.notes.find("no-file") == std::string::npos;
    DoubleHeapFails = heapFails;
    if (setjmp(DoubleExitPoint) == 0) {
        RunKeyReport();
    }
    DoubleRun run{{DoubleConsole, DoubleBoxes},
                  ReferenceRun(DoubleFile, AddressOf(DoubleTextBuffer), !heapFails),
                  DoubleExitCode};
    ResetDouble();
    return run;
}
