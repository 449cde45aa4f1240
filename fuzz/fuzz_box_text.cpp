// The desktop box's text over any bytes, as the box's process takes them: the first byte
// gives the line's columns (1 to 100), the second the box's rows (1 to 40), the rest up to its
// first zero the text. IsValidUtf8 must agree with a plain decoder; text that is not UTF-8 is
// converted from Windows-1252, which must give UTF-8; the lines must be UTF-8, no more than
// the rows, each within the columns (or one character wider than them alone), with the
// text's words, spaces and line feeds aside, in order: all of them where the whole text fit.
#include "platform/posix/box_text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The character at text[at] and its length in bytes, or 0 where no well-formed UTF-8
// character starts there.
std::uint32_t DecodeCharacter(const std::string& text, std::size_t at, std::uint32_t& code) {
    static constexpr std::uint32_t Least[] = {0, 0, 0x80, 0x800, 0x10000};
    const auto lead = static_cast<std::uint8_t>(text[at]);
    const std::uint32_t size = lead < 0x80             ? 1
                               : (lead & 0xE0) == 0xC0 ? 2
                               : (lead & 0xF0) == 0xE0 ? 3
                               : (lead & 0xF8) == 0xF0 ? 4
                                                       : 0;
    if (size == 0 || at + size > text.size()) {
        return 0;
    }
    code = size == 1 ? lead : lead & (0x7F >> size);
    for (std::uint32_t more = 1; more < size; ++more) {
        const auto next = static_cast<std::uint8_t>(text[at + more]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        code = code << 6 | (next & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < Least[size] || code > 0x10FFFF || surrogate ? 0 : size;
}

bool DecodesWhole(const std::string& text) {
    std::uint32_t code = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::uint32_t size = DecodeCharacter(text, at, code);
        if (size == 0) {
            return false;
        }
        at += size;
    }
    return true;
}

// The text without its spaces and line feeds.
std::string Words(const std::string& text) {
    std::string words;
    for (const char byte : text) {
        if (byte != ' ' && byte != '\n') {
            words += byte;
        }
    }
    return words;
}

// Whether each line of the UTF-8 text takes at most the columns, or is one character alone.
bool LinesFit(const std::string& lines, std::uint32_t columns) {
    std::uint32_t used = 0;
    std::uint32_t characters = 0;
    std::uint32_t code = 0;
    for (std::size_t at = 0; at < lines.size();) {
        at += DecodeCharacter(lines, at, code); // the lines decode whole, as checked first
        if (code == '\n') {
            used = 0;
            characters = 0;
            continue;
        }
        used += MeasureColumns(code);
        ++characters;
        if (used > columns && characters > 1) {
            return false;
        }
    }
    return true;
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

    const bool valid = IsValidUtf8(text.c_str());
    Check(valid == DecodesWhole(text));
    std::string utf8 = text;
    if (!valid) {
        utf8.assign(text.size() * 3 + 1, '\0');
        const std::uint32_t length = ConvertAnsiToUtf8(text.c_str(), &utf8[0]);
        Check(length == std::strlen(utf8.c_str()));
        utf8.resize(length);
        Check(IsValidUtf8(utf8.c_str()) && DecodesWhole(utf8));
    }

    // Exactly the room the caller must give, so that the sanitizer sees a write past it.
    char* room = static_cast<char*>(std::malloc(utf8.size() * 2 + 1));
    const bool whole = BreakIntoLines(utf8.c_str(), columns, rows, room);
    const std::string lines(room);
    std::free(room);
    Check(DecodesWhole(lines) && LinesFit(lines, columns));
    const std::size_t breaks =
        static_cast<std::size_t>(std::count(lines.begin(), lines.end(), '\n'));
    Check(whole ? breaks < rows : breaks == rows - 1);
    const std::string shown = Words(lines);
    const std::string all = Words(utf8);
    Check(whole ? shown == all : all.compare(0, shown.size(), shown) == 0);
    return 0;
}
