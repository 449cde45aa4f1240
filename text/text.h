// Text and console primitives: key search, text length, console output and the key wait.
#pragma once

#include <cstdint>

// The first occurrence of key in text, or null where it does not occur. The scan stops
// after a failed candidate whose byte one key length further on is zero, so the text must
// be followed by at least key-length readable bytes past its last zero-free stretch (the
// loaded text has a zero tail for this). An empty key is found at the start.
const char* LocateKey(const char* text, const char* key);

// The number of bytes before the first zero. Reads whole aligned words, never crossing
// into the next aligned word after the one that holds the zero.
std::uint32_t MeasureText(const char* text);

// Writes the zero-terminated text, without its zero, to standard output unchanged.
// Returns the count the write reported.
std::uint32_t PrintText(const char* text);

// Discards pending console input, waits for a new key press and takes it without echo.
int AwaitKey();
