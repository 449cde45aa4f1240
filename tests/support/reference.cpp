// Plain reference models of the dump and of the whole run, written for clarity, which the
// tests and fuzz targets compare the program with.
#include "tests/support/reference.h"

#include <cstdio>

std::string ReferenceDump(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t address) {
    std::string text;
    char field[16];
    for (std::uint32_t start = 0; start < count; start += 16) {
        std::snprintf(field, sizeof field, "%08X  ", static_cast<unsigned>(address + start));
        std::string hex = field, shown;
        for (std::uint32_t j = 0; j < 16; ++j) {
            const bool in = start + j < count;
            const std::uint8_t b = in ? bytes[start + j] : 0;
            std::snprintf(field, sizeof field, "%02X ", b);
            hex += j != 8 ? "" : start + 8 < count ? "- " : "  ";
            hex += in ? field : "   ";
            shown += !in ? ' ' : b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
        }
        text += hex + ' ' + shown + "\r\n";
    }
    return text;
}

std::string DescribeDumpDifference(const std::string& found, const std::string& expected) {
    if (found == expected) {
        return {};
    }
    std::size_t at = 0;
    while (at < found.size() && at < expected.size() && found[at] == expected[at]) {
        ++at;
    }
    const std::size_t line = at / 79 * 79; // 79 bytes a dump line
    return "column " + std::to_string(at - line) + " of line " + std::to_string(line / 79) +
           "\n found:    " + found.substr(line, 77) + "\n expected: " + expected.substr(line, 77);
}

long ReferenceLocate(const std::string& text, const std::string& key) {
    const std::size_t n = key.size();
    std::size_t stop = 0;
    while (stop + n < text.size() && text[stop + n] != '\0') {
        ++stop;
    }
    const std::size_t found = text.find(key);
    return found != std::string::npos && found <= stop ? static_cast<long>(found) : -1;
}

namespace {

constexpr std::size_t ReadSize = 500;
constexpr std::size_t TextSize = 756;

std::string LoadedText(const std::string& file) {
    std::string text = file.substr(0, ReadSize);
    text.resize(TextSize, '\0');
    return text;
}

} // namespace

ReferenceOutput ReferenceRun(const std::string& file, std::uint32_t textAddress, bool dumps) {
    const std::string text = LoadedText(file);
    ReferenceOutput out;
    for (const char* key : {"str1=", "str2="}) {
        const long at = ReferenceLocate(text, key);
        if (at < 0) {
            continue;
        }
        if (dumps) {
            out.console += ReferenceDump(reinterpret_cast<const std::uint8_t*>(text.data()) + at,
                                         40, textAddress + static_cast<std::uint32_t>(at));
        }
        out.console += "\r\n";
        const std::size_t end = text.find('&', at + 1);
        if (end == std::string::npos || end - at > 255) {
            break;
        }
        const std::string value = text.substr(at, end - at);
        out.boxes.push_back(value.substr(0, value.find('\0')));
    }
    out.console += "Press any key to exit...\r\n";
    return out;
}

std::uint32_t TextAddressFrom(const std::string& console, const std::string& file) {
    const std::string text = LoadedText(file);
    long first = ReferenceLocate(text, "str1=");
    if (first < 0) {
        first = ReferenceLocate(text, "str2=");
    }
    if (first < 0 || console.size() < 8) {
        return 0;
    }
    return static_cast<std::uint32_t>(std::stoul(console.substr(0, 8), nullptr, 16)) -
           static_cast<std::uint32_t>(first);
}
