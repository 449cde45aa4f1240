// The whole run: load the file's start, for each key dump the bytes at it and show its value
// in a box, then wait for a key and end the process.
#include "report/key_report.h"

#include "dump/format_dump.h"
#include "platform/platform.h"
#include "text/text.h"

#include <cstdint>

namespace {

constexpr char FileName[] = "Test.txt";
constexpr char FirstKey[] = "str1=";
constexpr char SecondKey[] = "str2=";
constexpr const char* Keys[] = {FirstKey, SecondKey};
constexpr char LineBreak[] = "\r\n";
constexpr char ExitPrompt[] = "Press any key to exit...";

constexpr DWORD ReadSize = 500;
constexpr std::uint32_t DumpLength = 40;
constexpr std::uint32_t ValueSize = 256; // value text and its terminating zero
constexpr char ValueEnd = '&';

// Run state, zero at start and kept for the life of the process.
HANDLE FileHandle;
DWORD BytesRead;
char CurrentKey[sizeof FirstKey];
// The loaded text, then a zero tail: a dump or value copy from any key found in the loaded
// part reads only inside this buffer, and past the loaded bytes it reads zeros.
char TextBuffer[ReadSize + ValueSize];
char ValueBuffer[ValueSize];

// Copies the value text at position, the key up to the next '&', into ValueBuffer. Returns
// false when no '&' stands within the 255 bytes after the key's first character.
bool CopyValue(const char* position) {
    ValueBuffer[0] = position[0];
    for (std::uint32_t k = 1; k < ValueSize; ++k) {
        if (position[k] == ValueEnd) {
            ValueBuffer[k] = '\0';
            return true;
        }
        ValueBuffer[k] = position[k];
    }
    return false;
}

} // namespace

extern "C" void RunKeyReport() {
    FileHandle = CreateFileA(FileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ReadFile(FileHandle, TextBuffer, ReadSize, &BytesRead, nullptr);

    for (const char* key : Keys) {
        lstrcpyA(CurrentKey, key);
        const char* position = LocateKey(TextBuffer, CurrentKey);
        if (position == nullptr) {
            continue; // an absent key has nothing to dump or show
        }
        const char* dump = FormatDump(position, DumpLength);
        if (dump != nullptr) {
            PrintText(dump);
        }
        PrintText(LineBreak);
        if (!CopyValue(position)) {
            break; // a value with no '&' in reach ends the report
        }
        ShowMessageBox(nullptr, ValueBuffer, nullptr, MB_OK);
    }

    PrintText(ExitPrompt);
    AwaitKey();
    PrintText(LineBreak);
    ExitProcess(0);
}
