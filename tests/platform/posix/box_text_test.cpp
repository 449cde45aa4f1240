// The desktop box's text: the UTF-8 check, the Windows-1252 conversion (against the C
// library's converter) and the breaking into lines, on their own; then the text each box is
// handed, byte for byte, by the program run with a stand-in for the toolkit that records each
// box. Valid UTF-8 goes to the box unchanged; any other text is read as Windows-1252. The
// caption is "Error". On the stand-in's screen, 1024x768 unless a row narrows it, a line takes
// up to 80 columns and a box 32 lines: a longer line is broken, and a text of more lines shows
// its start, with the whole value on standard error too.
#include "platform/posix/box_text.h"
#include "tests/support/rows.h"
#include "tests/support/subprocess.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iconv.h>
#include <iterator>
#include <string>

namespace {

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
        const char text[2] = {static_cast<char>(byte), '\0'};
        char utf8[4] = {'\x7F', '\x7F', '\x7F', '\x7F'};
        const std::uint32_t length = ConvertAnsiToUtf8(text, utf8); // with its zero, below
        EXPECT_EQ(std::string(utf8, length + 1), expected + '\0') << "byte " << byte;
    }
    EXPECT_EQ(undefined, 5);
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

// A text, whether it is well-formed UTF-8, and, where given, the text as Windows-1252 read
// into UTF-8. UTF-8 input is not special there: its bytes are 1252 characters like any others.
// The text ends at its first zero byte.
struct Utf8Case {
    const char* name;
    const char* text;
    bool valid;
    const char* converted = nullptr;
};

class Utf8Check : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Check, TellsWellFormedUtf8) {
    const Utf8Case& row = GetParam();
    EXPECT_EQ(IsValidUtf8(row.text), row.valid);
    if (row.converted != nullptr) {
        char utf8[64];
        EXPECT_EQ(ConvertAnsiToUtf8(row.text, utf8), std::strlen(row.converted));
        EXPECT_STREQ(utf8, row.converted);
    }
}

// Each kind of lead byte at the ends of its range, and each way a sequence goes wrong.
INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8Check,
    ::testing::Values(
        Utf8Case{"Empty", "", true, ""}, Utf8Case{"Ascii", "str1=hello&~\x7F", true},
        Utf8Case{"AsciiControls", "str1=hello\r\n\t~", true, "str1=hello\r\n\t~"},
        Utf8Case{"EndsAtTheZero", "ab\0cd", true, "ab"},
        Utf8Case{"TwoBytesLowest", "\xC2\x80", true}, Utf8Case{"TwoBytesHighest", "\xDF\xBF", true},
        Utf8Case{"TwoBytesAsWindows1252", "caf\xC3\xA9", true, "caf\xC3\x83\xC2\xA9"},
        Utf8Case{"TwoBytesOverlongC0", "\xC0\x80", false},
        Utf8Case{"TwoBytesOverlongC0Slash", "str1=\xC0\xAF", false, "str1=\xC3\x80\xC2\xAF"},
        Utf8Case{"TwoBytesOverlongC1", "\xC1\xBF", false, "\xC3\x81\xC2\xBF"},
        Utf8Case{"ThreeBytesLowest", "\xE0\xA0\x80", true},
        Utf8Case{"ThreeBytesOverlong", "\xE0\x9F\xBF", false},
        Utf8Case{"ThreeBytesOverlongSlash", "str1=\xE0\x80\xAF", false,
                 "str1=\xC3\xA0\xE2\x82\xAC\xC2\xAF"},
        Utf8Case{"BelowTheSurrogates", "\xED\x9F\xBF", true},
        Utf8Case{"Surrogate", "\xED\xA0\x80", false, "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},
        Utf8Case{"ThreeBytesHighest", "\xEF\xBF\xBF", true},
        Utf8Case{"FourBytesLowest", "\xF0\x90\x80\x80", true},
        Utf8Case{"FourBytesOverlong", "\xF0\x8F\xBF\xBF", false},
        Utf8Case{"FourBytesF1ToF3", "\xF1\x80\x80\x80\xF3\xBF\xBF\xBF", true},
        Utf8Case{"U10FFFF", "\xF4\x8F\xBF\xBF", true},
        Utf8Case{"PastU10FFFF", "\xF4\x90\x80\x80", false,
                 "\xC3\xB4\xC2\x90\xE2\x82\xAC\xE2\x82\xAC"},
        // The bytes 1252 leaves undefined keep their code point.
        Utf8Case{"Undefined", "\x81\x8D\x8F\x90\x9D", false,
                 "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},
        Utf8Case{"LeadF5", "\xF5\x80\x80\x80", false}, Utf8Case{"LeadFF", "\xFF", false},
        // Bytes that never start a sequence, F5 to FF past U+10FFFF.
        Utf8Case{"F5ToFF", "\xF5\xF6\xF7\xF8\xF9\xFA\xFB\xFC\xFD\xFE\xFF", false,
                 "\xC3\xB5\xC3\xB6\xC3\xB7\xC3\xB8\xC3\xB9\xC3\xBA\xC3\xBB\xC3\xBC\xC3\xBD"
                 "\xC3\xBE\xC3\xBF"},
        Utf8Case{"LoneContinuation", "a\x80z", false, "a\xE2\x82\xACz"},
        Utf8Case{"ExtraContinuation", "\xC3\xA9\xA9", false},
        Utf8Case{"TruncatedAtTheEnd", "ok \xE2\x82", false, "ok \xC3\xA2\xE2\x80\x9A"},
        Utf8Case{"TruncatedBeforeAscii", "\xC3z", false, "\xC3\x83z"},
        Utf8Case{"LastContinuationMissing", "\xF3\xA0\x81z", false, "\xC3\xB3\xC2\xA0\xC2\x81z"},
        Utf8Case{"MixedAfterAscii",
                 "a\xC3\xA9"
                 "b\xE2\x82\xAC\xF0\x9F\x98\x80",
                 true}),
    NameOfRow<Utf8Case>);

struct LinesCase {
    const char* name;
    std::string text;
    std::uint32_t columns;
    std::uint32_t rows;
    std::string lines; // what the lines hold
    bool whole;        // whether the whole text fit
};

class LineBreaking : public ::testing::TestWithParam<LinesCase> {};

TEST_P(LineBreaking, FitsTheColumnsAndRows) {
    const LinesCase& row = GetParam();
    // Exactly the room the caller must give, with a mark after it that must stay.
    std::string lines(row.text.size() * 2 + 2, '\x7F');
    EXPECT_EQ(BreakIntoLines(row.text.c_str(), row.columns, row.rows, &lines[0]), row.whole);
    EXPECT_EQ(lines.back(), '\x7F');
    EXPECT_EQ(std::string(lines.c_str()), row.lines);
}

const std::string Wide = "\xE4\xB8\xAD";      // U+4E2D, two columns
const std::string Emoji = "\xF0\x9F\x98\x80"; // U+1F600, two columns
const std::string Accented = "\xC3\xA9";      // U+00E9, one column

INSTANTIATE_TEST_SUITE_P(
    Texts, LineBreaking,
    ::testing::Values(
        LinesCase{"Empty", "", 5, 1, "", true}, LinesCase{"Fits", "hello", 5, 1, "hello", true},
        LinesCase{"OneColumnOver", "abcdef", 5, 2, "abcde\nf", true},
        LinesCase{"AtTheLastSpace", "ab cd ef", 5, 2, "ab cd\nef", true},
        LinesCase{"SpaceAfterAFullLine", "abcde fg", 5, 2, "abcde\nfg", true},
        LinesCase{"WordLongerThanTheRestAfterTheSpace", "a bcdefgh", 5, 3, "a\nbcdef\ngh", true},
        LinesCase{"LineFeedsStay", "a\n\nb", 5, 3, "a\n\nb", true},
        LinesCase{"LineFeedPastTheRows", "a\nb\nc", 5, 2, "a\nb", false},
        LinesCase{"BreakPastTheRows", "abcdefghijk", 5, 2, "abcde\nfghij", false},
        LinesCase{"WideCharacterToTheNextLine", "a" + Wide + Wide, 4, 2, "a" + Wide + "\n" + Wide,
                  true},
        LinesCase{"EmojiTakesTwoColumns", Emoji + Emoji + Emoji, 5, 2, Emoji + Emoji + "\n" + Emoji,
                  true},
        LinesCase{"WiderThanTheLineStandsAlone", Wide + Wide, 1, 2, Wide + "\n" + Wide, true},
        LinesCase{"AccentedTakesOneColumn", Accented + Accented + Accented + " x", 3, 2,
                  Accented + Accented + Accented + "\nx", true}),
    NameOfRow<LinesCase>);

struct BoxCase {
    const char* name;
    std::string value;                // the value text in Test.txt, before its '&'
    std::string boxText;              // what the box is handed; empty: the value as it is
    std::string error;                // what standard error gets
    const char* screenWidth = "1024"; // the screen's width in pixels
};

std::string Repeat(const std::string& piece, int times) {
    return times > 0 ? piece + Repeat(piece, times - 1) : "";
}

class BoxText : public ::testing::TestWithParam<BoxCase> {
  protected:
    void TearDown() override { RemoveTempFolder(folder); }
    TempFolder folder = MakeTempFolder();
};

TEST_P(BoxText, ReachesTheBoxAsUtf8) {
    const BoxCase& box = GetParam();
    WriteBytes(folder.path + "/Test.txt", box.value + "&");
    const std::string record = folder.path + "/boxes";
    const RunResult run =
        RunProgram({.folder = folder.path,
                    .environment = {"DISPLAY=:0", "LD_LIBRARY_PATH=" TOOLKIT_STAND_IN_FOLDER,
                                    "BOX_RECORD=" + record,
                                    "BOX_SCREEN_WIDTH=" + std::string(box.screenWidth)}});
    EXPECT_EQ(run.error, box.error); // nothing where the box shows the whole value
    EXPECT_EQ(ExitCodeOf(run), 0);
    std::ifstream boxes(record, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(boxes), {}),
              std::string("Error\0", 6) + (box.boxText.empty() ? box.value : box.boxText) + '\0');
}

INSTANTIATE_TEST_SUITE_P(
    Values, BoxText,
    ::testing::Values(
        BoxCase{"Ascii", "str1=hello"},
        BoxCase{"Utf8TwoAndThreeBytes", "str1=h\xC3\xA9llo \xE2\x82\xAC"},
        BoxCase{"Utf8FourBytesAndLimits", "str1=\xF0\x9F\x98\x80\xC2\x80\xF4\x8F\xBF\xBF"},
        // F1 to F3 lead U+40000 to U+FFFFF (the tag characters of flags among them), with
        // three continuation bytes of the full range.
        BoxCase{"Utf8FourBytesF1ToF3",
                "str1=\xF1\x80\x80\x80\xF2\xBF\xBF\xBF\xF3\xA0\x80\x81\xF3\xBF\xBF\xBF"},
        // Not UTF-8: every byte is read as its Windows-1252 character (each byte's reading:
        // Sequences/Utf8Check.* and ConvertAnsiToUtf8.*).
        BoxCase{"HighWindows1252", "str1=\x93quoted\x94 caf\xE9",
                "str1=\xE2\x80\x9Cquoted\xE2\x80\x9D caf\xC3\xA9"},
        // The longest value, 255 bytes, all of them but the key three bytes long in UTF-8:
        // the conversion's whole room of three bytes a byte, in lines of 80 characters.
        BoxCase{"LongestValueThreeBytesEach", "str1=" + std::string(250, '\x80'),
                "str1=" + Repeat("\xE2\x82\xAC", 75) + "\n" + Repeat("\xE2\x82\xAC", 80) + "\n" +
                    Repeat("\xE2\x82\xAC", 80) + "\n" + Repeat("\xE2\x82\xAC", 15)},
        // A line is broken at its last space, which gives way to the break; a wide character
        // takes two columns and goes to the next line whole.
        BoxCase{"BrokenAtTheLastSpace", "str1=" + Repeat("word ", 16),
                "str1=" + Repeat("word ", 14) + "word\nword "},
        // A space that follows a full line is its break; the next line does not start with it.
        BoxCase{"SpaceAfterAFullLine", "str1=" + std::string(75, 'x') + " tail",
                "str1=" + std::string(75, 'x') + "\ntail"},
        BoxCase{"WideCharacters", "str1=" + Repeat("\xE4\xB8\xAD", 40),
                "str1=" + Repeat("\xE4\xB8\xAD", 37) + "\n" + Repeat("\xE4\xB8\xAD", 3)},
        // A narrower screen takes fewer columns, (width - 64) / 10, and two at the least.
        BoxCase{"NarrowScreen", "str1=" + std::string(30, 'x'),
                "str1=" + std::string(15, 'x') + "\n" + std::string(15, 'x'), "", "264"},
        BoxCase{"ScreenNarrowerThanTwoColumns", "str1=ab", "st\nr1\n=a\nb", "", "64"},
        BoxCase{"MoreLinesThanTheScreenHolds", "str1=top" + std::string(120, '\n') + "bottom",
                "str1=top" + std::string(30, '\n') + "\n...",
                "str1=top" + std::string(120, '\n') + "bottom\n"},
        BoxCase{"LastLineBrokenPastTheScreen",
                "str1=" + std::string(31, '\n') + std::string(81, 'x'),
                "str1=" + std::string(30, '\n') + "\n...",
                "str1=" + std::string(31, '\n') + std::string(81, 'x') + "\n"}),
    NameOfRow<BoxCase>);

} // namespace
