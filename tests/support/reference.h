// Plain reference models the tests compare the program against: written for clarity,
// byte by byte, sharing no code with the program; and a guarded page to run the code in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The low 32 bits of an address, as the dump's address column shows it.
inline std::uint32_t AddressOf(const void* pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

// The dump text of count bytes whose first byte is at address, formatted one byte at a
// time: 16 bytes a line, 79 bytes a line, without the terminating zero.
std::string ReferenceDump(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t address);

// Empty when a dump text found is the one expected, else the column and line at which they
// first differ, with both versions of that line.
std::string DescribeDumpDifference(const std::string& found, const std::string& expected);

// Where key stands in text (bytes followed by zeros, as the program loads them), or -1:
// the first occurrence, if it comes no later than the first candidate at which the scan
// stops (the byte one key length past the candidate is zero).
long ReferenceLocate(const std::string& text, const std::string& key);

// What a whole run shows for a Test.txt holding file, with the text buffer at
// textAddress: standard output, and the message box texts in order. Without dumps, as when
// the heap gives no block for them, the empty line after each dump stays.
struct ReferenceOutput {
    std::string console;
    std::vector<std::string> boxes;
};
ReferenceOutput ReferenceRun(const std::string& file, std::uint32_t textAddress, bool dumps = true);

// One readable page between two that fault on any access, for the checks that a scan reads
// nothing outside its text or source. Never unmapped; aborts when it cannot be had.
char* MapGuardedPage();

// The text buffer's address implied by the first dump line of a run's output, or 0 when
// the output has no dump (no key was found).
std::uint32_t TextAddressFrom(const std::string& console, const std::string& file);
