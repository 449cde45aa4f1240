// The message box on a Linux desktop, and the text conversion it needs.
#pragma once

#include <cstdint>

// Shows a modal box with the text, the caption "Error" and one OK button, and returns once
// the user has closed it. Returns false, having shown nothing, when there is no display, when
// the toolkit library cannot be loaded or lacks the box, or when the box fails; the caller
// then has to show the text some other way.
bool ShowDesktopBox(const char* text);

// Whether the zero-terminated text is well-formed UTF-8: no stray or missing continuation
// bytes, no overlong forms, no surrogates (U+D800 to U+DFFF) and nothing past U+10FFFF.
bool IsValidUtf8(const char* text);

// Writes the zero-terminated text, read as Windows-1252 (the ANSI code page), as UTF-8 into
// utf8, which must hold three bytes per byte of the text and one more for the terminating
// zero. Every byte has a character, so the result is always valid UTF-8. Bytes that 1252
// leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the code point of the same value,
// as the Windows conversion makes them. Returns the length of the result, without its zero.
std::uint32_t ConvertAnsiToUtf8(const char* text, char* utf8);
