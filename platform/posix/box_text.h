// The text of a desktop box: a check for text that is UTF-8 already, the bytes of any other
// text read as Windows-1252, and the breaking into lines that a box that does not wrap needs.
#pragma once

#include <cstdint>

// Reads the character at the start of the zero-terminated text as UTF-8: returns its length in
// bytes and puts its code point into code, or returns 0 where the bytes there are no
// well-formed character (code then holds the first byte).
std::uint32_t DecodeUtf8(const char* text, std::uint32_t& code);

// Whether the zero-terminated text is well-formed UTF-8: no stray or missing continuation
// bytes, no overlong forms, no surrogates (U+D800 to U+DFFF) and nothing past U+10FFFF.
bool IsValidUtf8(const char* text);

// Writes the zero-terminated text, read as Windows-1252 (the ANSI code page), as UTF-8 into
// utf8, which must hold three bytes per byte of the text and one more for the terminating
// zero. Every byte has a character, so the result is always valid UTF-8. Bytes that 1252
// leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the code point of the same value,
// as the Windows conversion makes them. Returns the length of the result, without its zero.
std::uint32_t ConvertAnsiToUtf8(const char* text, char* utf8);

// The columns that a character, given by its code point, takes in a line of a box: two for an
// East Asian wide character or an emoji, one for any other.
std::uint32_t MeasureColumns(std::uint32_t code);

// Copies the well-formed UTF-8 text into lines of at most the given number of columns, as a box
// that does not wrap needs it: an East Asian wide character or an emoji takes two columns, any
// other one. A line too long is broken at its last space, which the break replaces, or,
// where a word is longer than the line, between two characters. Line feeds in the text stay.
// Stops before a line past the given number of rows. lines must hold twice the text's length
// and one byte more. Returns whether the whole text fit.
bool BreakIntoLines(const char* text, std::uint32_t columns, std::uint32_t rows, char* lines);
