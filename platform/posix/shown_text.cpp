// Text shown on a terminal: what of a value or an argument the terminal would obey rather than
// show (a control byte, a C1 control, a character that reorders or hides text) is written as a
// C-style escape instead. The rules are in docs/linux.md, "Values on a terminal".
#include "platform/posix/posix.h"

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
    char32_t first, last;
} HiddenRangeTable[] = {{0x0080, 0x009F}, {0x061C, 0x061C}, {0x200B, 0x200F},
                        {0x2028, 0x202E}, {0x2060, 0x2069}, {0xFEFF, 0xFEFF}};

// The length of the well-formed UTF-8 character at text, of at most length bytes, with its
// code point; 0 when the bytes there start none (a stray continuation byte, a character cut
// short, an overlong form, a surrogate, or past U+10FFFF).
std::size_t DecodeUtf8(const unsigned char* text, std::size_t length, char32_t& code) {
    const unsigned lead = text[0];
    std::size_t size;
    char32_t least;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        size = 2, code = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        size = 3, code = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        size = 4, code = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (size > length) {
        return 0;
    }
    for (std::size_t at = 1; at < size; ++at) {
        if ((text[at] & 0xC0) != 0x80) {
            return 0;
        }
        code = code << 6 | (text[at] & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return size;
}

bool IsHidden(char32_t code) {
    for (const auto& range : HiddenRangeTable) {
        if (code >= range.first && code <= range.last) {
            return true;
        }
    }
    return false;
}

} // namespace

std::size_t EscapeCharacter(const char* text, std::size_t length, char (&escape)[8]) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    char32_t code = 0;
    const std::size_t size = DecodeUtf8(bytes, length, code);
    escape[0] = '\0';
    if (size == 0) {
        std::snprintf(escape, sizeof escape, "\\x%02x", bytes[0]);
        return 1;
    }
    if (code < 0x20 || code == 0x7F) {
        std::snprintf(escape, sizeof escape, "\\x%02x", bytes[0]);
        for (const auto& control : ControlNameTable) {
            if (control.byte == code) {
                std::snprintf(escape, sizeof escape, "\\%c", control.name);
            }
        }
    } else if (IsHidden(code)) {
        std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<std::uint16_t>(code));
    }
    return size;
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
        const std::size_t size = EscapeCharacter(text + at, length - at, escape);
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
