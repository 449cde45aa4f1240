// ConvertAnsiToUtf8 against the C library's own Windows-1252 converter, byte by byte.
#include "platform/posix/box_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iconv.h>
#include <string>

namespace {

// The UTF-8 form of one byte as the converter makes it.
std::string ConvertByte(std::uint8_t byte) {
    const char text[2] = {static_cast<char>(byte), '\0'};
    char utf8[4] = {'\x7F', '\x7F', '\x7F', '\x7F'};
    const std::uint32_t length = ConvertAnsiToUtf8(text, utf8);
    EXPECT_EQ(utf8[length], '\0') << "byte " << int{byte};
    return std::string(utf8, length);
}

// The UTF-8 form of one byte as iconv's CP1252 makes it; empty where it defines none.
std::string ConvertByteWithIconv(std::uint8_t byte) {
    const iconv_t converter = iconv_open("UTF-8", "CP1252");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return "iconv has no CP1252";
    }
    char in[1] = {static_cast<char>(byte)};
    char out[8];
    char* from = in;
    char* to = out;
    std::size_t inLeft = 1;
    std::size_t outLeft = sizeof out;
    const bool converted =
        iconv(converter, &from, &inLeft, &to, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(converter);
    return converted ? std::string(out, to) : std::string();
}

TEST(ConvertAnsiToUtf8, EveryByteIsItsWindows1252Character) {
    int undefined = 0;
    for (int byte = 1; byte < 256; ++byte) {
        const std::string expected = ConvertByteWithIconv(static_cast<std::uint8_t>(byte));
        if (expected.empty()) {
            ++undefined;
            continue;
        }
        EXPECT_EQ(ConvertByte(static_cast<std::uint8_t>(byte)), expected) << "byte " << byte;
    }
    EXPECT_EQ(undefined, 5);
}

TEST(ConvertAnsiToUtf8, UndefinedBytesKeepTheirCodePoint) {
    EXPECT_EQ(ConvertByte(0x81), "\xC2\x81");
    EXPECT_EQ(ConvertByte(0x8D), "\xC2\x8D");
    EXPECT_EQ(ConvertByte(0x8F), "\xC2\x8F");
    EXPECT_EQ(ConvertByte(0x90), "\xC2\x90");
    EXPECT_EQ(ConvertByte(0x9D), "\xC2\x9D");
}

TEST(ConvertAnsiToUtf8, WholeTexts) {
    char utf8[64];
    EXPECT_EQ(ConvertAnsiToUtf8("", utf8), 0u);
    EXPECT_STREQ(utf8, "");

    EXPECT_EQ(ConvertAnsiToUtf8("str1=hello\r\n\t~", utf8), 14u);
    EXPECT_STREQ(utf8, "str1=hello\r\n\t~");

    // UTF-8 input is not special: its bytes are 1252 characters like any others.
    EXPECT_EQ(ConvertAnsiToUtf8("caf\xC3\xA9", utf8), 7u);
    EXPECT_STREQ(utf8, "caf\xC3\x83\xC2\xA9");

    // The text ends at its first zero byte.
    EXPECT_EQ(ConvertAnsiToUtf8("ab\0cd", utf8), 2u);
    EXPECT_STREQ(utf8, "ab");
}

// Three bytes per byte and the zero: the size the caller has to provide is enough and needed.
TEST(ConvertAnsiToUtf8, WidestTextFillsThreeBytesPerByte) {
    const std::string text(255, '\x80');
    std::string utf8(255 * 3 + 2, '\x7F');
    EXPECT_EQ(ConvertAnsiToUtf8(text.c_str(), &utf8[0]), 255u * 3);
    EXPECT_EQ(utf8[255 * 3], '\0');
    EXPECT_EQ(utf8[255 * 3 + 1], '\x7F');
    for (std::size_t at = 0; at < 255 * 3; at += 3) {
        ASSERT_EQ(utf8.compare(at, 3, "\xE2\x82\xAC"), 0) << "at " << at;
    }
}

} // namespace
