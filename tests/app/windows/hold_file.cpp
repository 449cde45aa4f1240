// Test-only helper, run under Wine and never shipped: keeps a file open as another program
// might, until it is ended, and prints "held" once it is open (exit code 1 if it cannot be).
//
//   hold_file <file> read    open for reading, letting others only read it
//   hold_file <file> write   open for reading and writing, letting others read and write
#include <windows.h>

#include <cstring>

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    const bool write = std::strcmp(argv[2], "write") == 0;
    HANDLE file = CreateFileA(argv[1], write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                              write ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "held\n", 5, &written, nullptr);
    Sleep(INFINITE);
    return 0;
}
