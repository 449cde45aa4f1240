// Message box: the text and a line feed on standard error.
#include "platform/posix/posix.h"

#include <cstring>

extern "C" int MessageBoxA(HWND, LPCSTR text, LPCSTR, UINT) {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    WriteFile(error, text, static_cast<DWORD>(std::strlen(text)), nullptr, nullptr);
    WriteFile(error, "\n", 1, nullptr, nullptr);
    return IDOK;
}
