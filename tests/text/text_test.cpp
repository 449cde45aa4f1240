// Key search, text length and console output.
#include "platform/platform.h"
#include "tests/support/reference.h"
#include "text/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// A text as the driver lays it out: the bytes, then a zero tail.
std::string Loaded(const std::string& bytes) {
    return bytes + std::string(64, '\0');
}

long Locate(const std::string& bytes, const char* key) {
    const std::string text = Loaded(bytes);
    const char* found = LocateKey(text.data(), key);
    return found == nullptr ? -1 : found - text.data();
}

TEST(LocateKey, FindsTheFirstOccurrenceByteForByte) {
    EXPECT_EQ(Locate("str1=hello&", "str1="), 0);
    EXPECT_EQ(Locate("xstr1=", "str1="), 1); // key ends right before the zero
    EXPECT_EQ(Locate("xxxxxstr1=hello&", "str1="), 5);
    EXPECT_EQ(Locate("a str1=1& str1=2&", "str1="), 2);
    EXPECT_EQ(Locate("sstr1=", "str1="), 1); // a failed partial match does not skip ahead
    EXPECT_EQ(Locate("anything", ""), 0);
    EXPECT_EQ(Locate("\x80\xFFstr2=", "str2="), 2);
}

TEST(LocateKey, AbsentKeyGivesNull) {
    EXPECT_EQ(Locate("", "str1="), -1);
    EXPECT_EQ(Locate("str1=", "STR1="), -1); // no case folding
    EXPECT_EQ(Locate("str1", "str1="), -1);
    EXPECT_EQ(Locate("str2=x&str1", "str1="), -1);
}

TEST(LocateKey, StopsOneKeyLengthPastAFailedCandidate) {
    // A zero inside the text does not stop the scan while the byte one key length past each
    // failed candidate is not zero.
    EXPECT_EQ(Locate(std::string("ab\0cdefgstr1=", 13), "str1="), 8);
    // It stops once that byte is zero (the report case ZeroStopsTheSearch).
    for (const std::string& bytes :
         {std::string("q\0\0\0\0\0str1=", 11), std::string("ab\0cdstr1=x", 11)}) {
        EXPECT_EQ(Locate(bytes, "str1="), ReferenceLocate(Loaded(bytes), "str1="));
    }
}

// Measures a text placed at every offset of an aligned buffer, with the bytes after its
// zero set to values that could fool a word scan (0x01 included).
TEST(MeasureText, EveryLengthAndAlignmentWhateverFollowsTheZero) {
    alignas(16) char buffer[64];
    for (std::uint32_t offset = 0; offset < 8; ++offset) {
        for (std::uint32_t length = 0; length < 40; ++length) {
            for (const char after : {'\x01', '\x80', '\xFF', 'a', '\0'}) {
                std::memset(buffer, after, sizeof buffer);
                for (std::uint32_t i = 0; i < length; ++i) {
                    buffer[offset + i] = static_cast<char>(0x80 + (i * 13) % 128); // high bytes
                }
                buffer[offset + length] = '\0';
                ASSERT_EQ(MeasureText(buffer + offset), length)
                    << "offset " << offset << " length " << length << " after " << int(after);
            }
        }
    }
}

// A text whose zero is the last byte before an inaccessible page: the scan must not touch
// that page, whatever the text's alignment.
TEST(MeasureText, StopsAtTheZeroBeforeAGuardPage) {
    const long page = sysconf(_SC_PAGESIZE);
    char* const pages = MapGuardedPage();
    char* const end = pages + page;
    for (std::uint32_t length = 0; length < 12; ++length) {
        std::memset(pages, 'z', page);
        end[-1] = '\0';
        EXPECT_EQ(MeasureText(end - 1 - length), length);
    }
}

// Runs PrintText with standard output captured; returns what came out.
std::string Printed(const char* text, std::uint32_t& reported) {
    testing::internal::CaptureStdout();
    reported = PrintText(text);
    return testing::internal::GetCapturedStdout();
}

TEST(PrintText, WritesTheBytesUnchangedAndReportsTheCount) {
    std::uint32_t reported = 0;
    EXPECT_EQ(Printed("\r\n", reported), "\r\n");
    EXPECT_EQ(reported, 2u);
    EXPECT_EQ(Printed("", reported), "");
    EXPECT_EQ(reported, 0u);
    EXPECT_EQ(Printed("a\nb\xE9", reported), "a\nb\xE9");
    EXPECT_EQ(reported, 4u);
}

} // namespace
