// Test-only helper, run under Wine and never shipped: keeps a file open the way an editor
// might, for reading and letting others only read it, until it is ended.
//
//   hold_file <file>
//
// Prints "held" once the file is open, then waits; the exit code is 1 if it cannot open it.
#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "held\n", 5, &written, nullptr);
    Sleep(INFINITE);
    return 0;
}
