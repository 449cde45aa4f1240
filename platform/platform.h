// The Win32 subset that keyreport calls, under the Win32 names and signatures, and the one
// call of its own that each platform provides: the message box.
//
// On Windows the declarations come from the system headers and the calls go to kernel32,
// user32 and msvcrt. Elsewhere platform/posix/ provides them on POSIX, so that the parts (the
// run, the formatter and the text primitives) compile unchanged for both.
//
// The POSIX layer keeps the names and signatures but does only what the program asks of each
// call, and looks at no argument the program does not vary; each call below says which of its
// arguments it honours there.
#pragma once

#ifdef _WIN32

#include <windows.h>

#include <conio.h>

#else

#include <cstddef>
#include <cstdint>

using BOOL = int;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using LPDWORD = DWORD*;
using SIZE_T = std::size_t;
using HANDLE = void*;
using HWND = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPSTR = char*;
using LPCSTR = const char*;
struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

constexpr DWORD STD_INPUT_HANDLE = static_cast<DWORD>(-10);
constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
constexpr DWORD STD_ERROR_HANDLE = static_cast<DWORD>(-12);

constexpr UINT MB_OK = 0x0;
constexpr int IDOK = 1;

// A handle is a file descriptor in pointer form; -1, like Win32's INVALID_HANDLE_VALUE,
// stands for no file.
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

extern "C" {

// files: CreateFileA opens fileName for reading (the access, sharing, creation and attribute
// arguments are not looked at); ReadFile and WriteFile honour all but overlapped.
HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped);
// strings: all arguments.
LPSTR lstrcpyA(LPSTR destination, LPCSTR source);

// console: a handle is a file descriptor; GetStdHandle knows the three standard handles.
HANDLE GetStdHandle(DWORD stdHandle);
BOOL FlushConsoleInputBuffer(HANDLE consoleInput);
int _kbhit();
int _getch();

// heap: the C heap, whatever the heap handle and flags; HeapAlloc honours bytes alone and
// HeapFree block alone.
HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);

// process: all arguments.
void Sleep(DWORD milliseconds);
[[noreturn]] void ExitProcess(UINT exitCode);

} // extern "C"

#endif

extern "C" {

// A modal message box, with MessageBoxA's arguments and result. On Windows
// (platform/win32/message_box.cpp) a text that is valid UTF-8 and not plain ASCII is shown in
// its own characters, any other in the ANSI code page; on POSIX
// (platform/posix/message_box.cpp) it honours the text alone and is the desktop's box, or
// standard error without one.
int ShowMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

} // extern "C"
