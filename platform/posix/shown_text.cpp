// Text shown on a terminal: what of a value or an argument the terminal would obey rather than
// show (a control byte, a C1 control, a character that reorders or hides text) is written as a
// C-style escape instead. The rules are in docs/linux.md, "Values on a terminal".
#include "platform/posix/posix.h"

#include "platform/posix/box_text.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// The control bytes with a C name of their own; any other is written \xHH.
constexpr struct {
    unsigned char byte;
    char name;
} ControlNameTable[] = {{0x07, 'a'}, {0x08, 'b'}, {0x09, 't'}, {0x0A, 'n'},
                        {0x0B, 'v'}, {0x0C, 'f'}, {0x0D, 'r'}, {0x1B, 'e'}};

// The characters past U+007F that a terminal would not show as themselves: the C1 controls,
// and the formatting characters that reorder the text around them or take no room (the
// Arabic letter mark, zero-width space, joiners and direction marks, line and paragraph
// separators, embeddings and overrides, word joiner and invisible operators, isolates, and
// the zero-width no-break space).
constexpr struct {
    std::uint32_t first, last;
} HiddenRangeTable[] = {{0x0080, 0x009F}, {0x061C, 0x061C}, {0x200B, 0x200F},
                        {0x2028, 0x202E}, {0x2060, 0x2069}, {0xFEFF, 0xFEFF}};

bool IsHidden(std::uint32_t code) {
    for (const auto& range : HiddenRangeTable) {
        if (code >= range.first && code <= range.last) {
            return true;
        }
    }
    return false;
}

} // namespace

std::size_t EscapeCharacter(const char* text, char (&escape)[8]) {
    std::uint32_t code;
    const std::size_t size = DecodeUtf8(text, code);
    escape[0] = '\0';
    if (size == 0 || code < 0x20 || code == 0x7F) {
        // A byte that starts no character, or a control byte without a name of its own.
        std::snprintf(escape, sizeof escape, "\\x%02x", code);
        for (const auto& control : ControlNameTable) {
            if (control.byte == code) {
                std::snprintf(escape, sizeof escape, "\\%c", control.name);
            }
        }
    } else if (IsHidden(code)) {
        std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<std::uint16_t>(code));
    }
    return size + (size == 0);
}

// On a terminal the line is put together in a buffer and written a buffer at a time, each
// character whole or escaped, and a backslash doubled, so that every escape reads one way.
void WriteValueLine(const char* text) {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    const std::size_t length = std::strlen(text);
    DWORD written;
    if (isatty(STDERR_FILENO) == 0) {
        WriteFile(error, text, static_cast<DWORD>(length), &written, nullptr);
        WriteFile(error, "\n", 1, &written, nullptr);
        return;
    }
    char line[256];
    std::size_t filled = 0;
    for (std::size_t at = 0; at < length;) {
        char escape[8];
        const std::size_t size = EscapeCharacter(text + at, escape);
        if (escape[0] == '\0' && text[at] == '\\') {
            std::strcpy(escape, "\\\\");
        }
        const char* shown = escape[0] != '\0' ? escape : text + at;
        const std::size_t shownSize = escape[0] != '\0' ? std::strlen(escape) : size;
        if (filled + shownSize > sizeof line) {
            WriteFile(error, line, static_cast<DWORD>(filled), &written, nullptr);
            filled = 0;
        }
        std::memcpy(line + filled, shown, shownSize);
        filled += shownSize;
        at += size;
    }
    WriteFile(error, line, static_cast<DWORD>(filled), &written, nullptr);
    WriteFile(error, "\n", 1, &written, nullptr);
}
