// ANSI text to UTF-8: the bytes of a text read as Windows-1252.
#include "platform/posix/desktop_box.h"

namespace {

// The characters of the bytes 0x80 to 0x9F; every other byte is the code point of its value.
// The five bytes that 1252 leaves undefined keep their own value.
constexpr std::uint16_t AnsiHighTable[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 98-9F
};

std::uint32_t CodePointOf(std::uint8_t byte) {
    return byte >= 0x80 && byte <= 0x9F ? AnsiHighTable[byte - 0x80] : byte;
}

} // namespace

std::uint32_t ConvertAnsiToUtf8(const char* text, char* utf8) {
    std::uint32_t length = 0;
    for (const char* from = text; *from != '\0'; ++from) {
        const std::uint32_t code = CodePointOf(static_cast<std::uint8_t>(*from));
        if (code < 0x80) {
            utf8[length++] = static_cast<char>(code);
        } else if (code < 0x800) {
            utf8[length++] = static_cast<char>(0xC0 | (code >> 6));
            utf8[length++] = static_cast<char>(0x80 | (code & 0x3F));
        } else {
            utf8[length++] = static_cast<char>(0xE0 | (code >> 12));
            utf8[length++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            utf8[length++] = static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    utf8[length] = '\0';
    return length;
}
