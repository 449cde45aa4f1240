// The platform calls of the run as a test double: a file from memory, the console and the boxes
// recorded, a heap that can be made to fail, and an exit that returns to the fuzz target.
#include "fuzz/platform_double.h"

#include <cstdlib>
#include <cstring>

std::string DoubleFile;
bool DoubleHeapFails;
std::string DoubleConsole;
std::vector<std::string> DoubleBoxes;
const char* DoubleTextBuffer;
SIZE_T DoubleLastBlockSize;
int DoubleExitCode = -1;
std::jmp_buf DoubleExitPoint;

namespace {

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
    return std::strcmp(fileName, "Test.txt") == 0 ? &FileHandle : INVALID_HANDLE_VALUE;
}

// The whole count is cleared before the file goes in, so every run starts from the same
// buffer whatever the run before it loaded.
extern "C" BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                         LPOVERLAPPED) {
    if (file != &FileHandle) {
        std::abort();
    }
    const DWORD count = DoubleFile.size() < bytesToRead ? DoubleFile.size() : bytesToRead;
    std::memset(buffer, 0, bytesToRead);
    std::memcpy(buffer, DoubleFile.data(), count);
    DoubleTextBuffer = static_cast<const char*>(buffer);
    *bytesRead = count;
    return TRUE;
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
    void* block = std::malloc(bytes);
    Blocks.push_back(block);
    return block;
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
