// The desktop box's text over any bytes; what must hold is in docs/testing.md. The first byte
// gives the line's columns (1 to 100), the second the box's rows (1 to 40), the rest up to its
// first zero the text.
#include "platform/posix/box_text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The code points of well-formed UTF-8 text; false where the text is not.
bool Decode(const std::string& text, std::u32string& codes) {
    static constexpr std::uint32_t Least[] = {0, 0, 0x80, 0x800, 0x10000};
    codes.clear();
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<std::uint8_t>(text[at]);
        const std::uint32_t size = lead < 0x80   ? 1
                                   : lead < 0xC0 ? 0
                                   : lead < 0xE0 ? 2
                                   : lead < 0xF0 ? 3
                                   : lead < 0xF8 ? 4
                                                 : 0;
        if (size == 0 || at + size > text.size()) {
            return false;
        }
        char32_t code = size == 1 ? lead : lead & (0x7F >> size);
        for (std::uint32_t more = 1; more < size; ++more) {
            const auto next = static_cast<std::uint8_t>(text[at + more]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = code << 6 | (next & 0x3F);
        }
        if (code < Least[size] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        codes += code;
        at += size;
    }
    return true;
}

// Whether each line takes at most the columns, or is one character alone.
bool LinesFit(const std::u32string& codes, std::uint32_t columns) {
    std::uint32_t used = 0;
    std::uint32_t characters = 0;
    for (const char32_t code : codes) {
        used = code == '\n' ? 0 : used + MeasureColumns(code);
        characters = code == '\n' ? 0 : characters + 1;
        if (used > columns && characters > 1) {
            return false;
        }
    }
    return true;
}

// The text without its spaces and line feeds.
std::string Words(std::string text) {
    const auto space = [](char byte) { return byte == ' ' || byte == '\n'; };
    text.erase(std::remove_if(text.begin(), text.end(), space), text.end());
    return text;
}

void Check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::uint32_t columns = 1 + data[0] % 100;
    const std::uint32_t rows = 1 + data[1] % 40;
    const std::string bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
    const std::string text(bytes.c_str()); // up to the first zero, as a value ends

    std::u32string codes;
    const bool valid = IsValidUtf8(text.c_str());
    Check(valid == Decode(text, codes));
    std::string utf8 = text;
    if (!valid) {
        utf8.assign(text.size() * 3 + 1, '\0');
        const std::uint32_t length = ConvertAnsiToUtf8(text.c_str(), &utf8[0]);
        Check(length == std::strlen(utf8.c_str()));
        utf8.resize(length);
        Check(IsValidUtf8(utf8.c_str()) && Decode(utf8, codes));
    }

    // Exactly the room the caller must give, so that the sanitizer sees a write past it.
    char* room = static_cast<char*>(std::malloc(utf8.size() * 2 + 1));
    const bool whole = BreakIntoLines(utf8.c_str(), columns, rows, room);
    const std::string lines(room);
    std::free(room);
    Check(Decode(lines, codes) && LinesFit(codes, columns));
    const auto breaks = static_cast<std::size_t>(std::count(lines.begin(), lines.end(), '\n'));
    Check(whole ? breaks < rows : breaks == rows - 1);
    const std::string shown = Words(lines);
    const std::string all = Words(utf8);
    Check(whole ? shown == all : all.compare(0, shown.size(), shown) == 0);
    return 0;
}
