// The text a desktop box is handed, byte for byte: the built program runs with a display set
// and a stand-in for the toolkit library that records each box. A value that is valid UTF-8
// goes to the box unchanged; any other is read as Windows-1252. The caption is "Error". On
// the stand-in's screen, 1024x768 unless a row narrows it, a line takes up to 80 columns and
// a box 32 lines: a longer line is broken, and a text of more lines shows its start, with the
// whole value on standard error too.
#include "tests/support/subprocess.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

struct BoxCase {
    const char* name;
    std::string value;                // the value text in Test.txt, before its '&'
    std::string boxText;              // what the box is handed
    std::string error;                // what standard error gets
    const char* screenWidth = "1024"; // the screen's width in pixels
};

void PrintTo(const BoxCase& box, std::ostream* out) {
    *out << box.name;
}

std::string Repeat(const std::string& piece, int times) {
    std::string repeated;
    for (int i = 0; i < times; ++i) {
        repeated += piece;
    }
    return repeated;
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
    RunOptions options;
    options.folder = folder.path;
    options.environment = {"DISPLAY=:0", "LD_LIBRARY_PATH=" TOOLKIT_STAND_IN_FOLDER,
                           "BOX_RECORD=" + record,
                           std::string("BOX_SCREEN_WIDTH=") + box.screenWidth};
    const RunResult run = RunProgram(options);
    EXPECT_EQ(run.error, box.error); // nothing where the box shows the whole value
    EXPECT_EQ(ExitCodeOf(run), 0);
    std::ifstream boxes(record, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(boxes), {}),
              std::string("Error\0", 6) + box.boxText + '\0');
}

INSTANTIATE_TEST_SUITE_P(
    Values, BoxText,
    ::testing::Values(
        BoxCase{"Ascii", "str1=hello", "str1=hello"},
        BoxCase{"Utf8TwoAndThreeBytes", "str1=h\xC3\xA9llo \xE2\x82\xAC",
                "str1=h\xC3\xA9llo \xE2\x82\xAC"},
        BoxCase{"Utf8FourBytesAndLimits", "str1=\xF0\x9F\x98\x80\xC2\x80\xF4\x8F\xBF\xBF",
                "str1=\xF0\x9F\x98\x80\xC2\x80\xF4\x8F\xBF\xBF"},
        // F1 to F3 lead U+40000 to U+FFFFF (the tag characters of flags among them), with
        // three continuation bytes of the full range.
        BoxCase{"Utf8FourBytesF1ToF3",
                "str1=\xF1\x80\x80\x80\xF2\xBF\xBF\xBF\xF3\xA0\x80\x81\xF3\xBF\xBF\xBF",
                "str1=\xF1\x80\x80\x80\xF2\xBF\xBF\xBF\xF3\xA0\x80\x81\xF3\xBF\xBF\xBF"},
        // Not UTF-8: every byte is read as its Windows-1252 character.
        BoxCase{"LoneContinuationByte", "str1=a\x80z", "str1=a\xE2\x82\xACz"},
        BoxCase{"Overlong", "str1=\xC0\xAF", "str1=\xC3\x80\xC2\xAF"},
        BoxCase{"OverlongThreeBytes", "str1=\xE0\x80\xAF", "str1=\xC3\xA0\xE2\x82\xAC\xC2\xAF"},
        BoxCase{"Surrogate", "str1=\xED\xA0\x80", "str1=\xC3\xAD\xC2\xA0\xE2\x82\xAC"},
        BoxCase{"PastU10FFFF", "str1=\xF4\x90\x80\x80",
                "str1=\xC3\xB4\xC2\x90\xE2\x82\xAC\xE2\x82\xAC"},
        BoxCase{"TruncatedAtTheEnd", "str1=\xE2\x82", "str1=\xC3\xA2\xE2\x80\x9A"},
        BoxCase{"TruncatedBeforeAscii", "str1=\xC3z", "str1=\xC3\x83z"},
        BoxCase{"TruncatedF3BeforeAscii", "str1=\xF3\xA0\x81z", "str1=\xC3\xB3\xC2\xA0\xC2\x81z"},
        BoxCase{"HighWindows1252", "str1=\x93quoted\x94 caf\xE9",
                "str1=\xE2\x80\x9Cquoted\xE2\x80\x9D caf\xC3\xA9"},
        // Bytes that never start a sequence: C1 as an overlong lead, F5 to FF past U+10FFFF.
        BoxCase{"OverlongC1", "str1=\xC1\xBF", "str1=\xC3\x81\xC2\xBF"},
        BoxCase{"F5ToFF", "str1=\xF5\xF6\xF7\xF8\xF9\xFA\xFB\xFC\xFD\xFE\xFF",
                "str1=\xC3\xB5\xC3\xB6\xC3\xB7\xC3\xB8\xC3\xB9\xC3\xBA\xC3\xBB\xC3\xBC\xC3\xBD"
                "\xC3\xBE\xC3\xBF"},
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
    [](const ::testing::TestParamInfo<BoxCase>& info) { return info.param.name; });

} // namespace
