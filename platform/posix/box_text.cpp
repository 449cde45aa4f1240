// Box texts as UTF-8: a check for text that already is, the bytes of any other text read as
// Windows-1252, and lines that fit a box that does not wrap.
#include "platform/posix/box_text.h"

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

// The sequences that start with a byte from 0xC2 to 0xF4: how many continuation bytes follow,
// and the range the first of them must lie in, which rules out the overlong forms, the
// surrogates and the code points past U+10FFFF. Every later continuation byte lies in 80-BF.
struct Utf8Lead {
    std::uint8_t last; // the highest lead byte of this kind
    std::uint8_t tail; // continuation bytes after the lead
    std::uint8_t low;  // the first continuation byte's range
    std::uint8_t high;
};

constexpr Utf8Lead Utf8Leads[] = {
    {0xDF, 1, 0x80, 0xBF}, // C2-DF: U+0080 to U+07FF
    {0xE0, 2, 0xA0, 0xBF}, // E0: from U+0800, not overlong
    {0xEC, 2, 0x80, 0xBF}, // E1-EC
    {0xED, 2, 0x80, 0x9F}, // ED: below the surrogates
    {0xEF, 2, 0x80, 0xBF}, // EE-EF
    {0xF0, 3, 0x90, 0xBF}, // F0: from U+10000, not overlong
    {0xF3, 3, 0x80, 0xBF}, // F1-F3
    {0xF4, 3, 0x80, 0x8F}, // F4: up to U+10FFFF
};

bool InRange(std::uint8_t byte, std::uint8_t low, std::uint8_t high) {
    return byte >= low && byte <= high;
}

// The blocks whose characters a terminal or a box font draws two columns wide: Hangul Jamo,
// the CJK blocks with their symbols, kana and Yi, Hangul syllables, CJK compatibility
// forms, full-width forms, emoji and the supplementary ideographs.
struct CodeRange {
    std::uint32_t first;
    std::uint32_t last;
};
constexpr CodeRange WideRanges[] = {
    {0x1100, 0x115F}, {0x2E80, 0x303E}, {0x3041, 0xA4CF}, {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},
    {0xFE30, 0xFE4F}, {0xFF00, 0xFF60}, {0xFFE0, 0xFFE6}, {0x1F300, 0x1FAFF}, {0x20000, 0x3FFFD},
};

} // namespace

std::uint32_t MeasureColumns(std::uint32_t code) {
    for (const CodeRange& range : WideRanges) {
        if (code >= range.first && code <= range.last) {
            return 2;
        }
    }
    return 1;
}

std::uint32_t DecodeUtf8(const char* text, std::uint32_t& code) {
    const auto* byte = reinterpret_cast<const std::uint8_t*>(text);
    const std::uint8_t lead = byte[0];
    code = lead;
    if (lead < 0x80) {
        return 1;
    }
    if (lead < 0xC2 || lead > 0xF4) {
        return 0; // a stray continuation byte, an overlong lead or past U+10FFFF
    }
    const Utf8Lead* kind = Utf8Leads;
    while (lead > kind->last) {
        ++kind;
    }
    std::uint32_t value = lead & (0x3F >> kind->tail);
    // A zero byte is in no continuation range, so a text that ends early stops here.
    for (std::uint8_t at = 1; at <= kind->tail; ++at) {
        if (!InRange(byte[at], at == 1 ? kind->low : 0x80, at == 1 ? kind->high : 0xBF)) {
            return 0;
        }
        value = value << 6 | (byte[at] & 0x3F);
    }
    code = value;
    return kind->tail + 1u;
}

bool IsValidUtf8(const char* text) {
    std::uint32_t code;
    for (std::uint32_t size; *text != '\0'; text += size) {
        if ((size = DecodeUtf8(text, code)) == 0) {
            return false;
        }
    }
    return true;
}

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

bool BreakIntoLines(const char* text, std::uint32_t columns, std::uint32_t rows, char* lines) {
    const char* from = text;
    std::uint32_t length = 0;
    std::uint32_t row = 1;
    std::uint32_t used = 0;            // columns taken on the current line
    std::uint32_t space = 0;           // where the line's last space is in lines, if any
    std::uint32_t usedBeforeSpace = 0; // the columns before that space
    bool hasSpace = false;
    while (*from != '\0') {
        std::uint32_t code;
        const std::uint32_t decoded = DecodeUtf8(from, code);
        const std::uint32_t size = decoded + (decoded == 0); // bytes that are no character: one

        if (code == ' ' && used >= columns) {
            code = '\n'; // a space that ends a full line becomes its break
        }
        if (code == '\n') {
            if (row == rows) {
                lines[length] = '\0';
                return false;
            }
            lines[length++] = '\n';
            ++from;
            ++row;
            used = 0;
            hasSpace = false;
            continue;
        }
        const std::uint32_t width = MeasureColumns(code);
        while (used > 0 && used + width > columns) {
            if (row == rows) {
                lines[length] = '\0';
                return false;
            }
            ++row;
            if (hasSpace) {
                lines[space] = '\n'; // the space gives way to the break
                used -= usedBeforeSpace + 1;
                hasSpace = false;
            } else {
                lines[length++] = '\n';
                used = 0;
            }
        }
        if (code == ' ') {
            space = length;
            usedBeforeSpace = used;
            hasSpace = true;
        }
        for (std::uint32_t byte = 0; byte < size; ++byte) {
            lines[length++] = *from++;
        }
        used += width;
    }
    lines[length] = '\0';
    return true;
}
