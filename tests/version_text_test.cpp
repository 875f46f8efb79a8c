// The updater's version banner: which bytes at the start of ReadMe.txt become the version text,
// and the lines the status list shows for it.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "app/version_text.h"

namespace {

struct VersionCase {
    const char* name;
    // Placed from byte 0 of the buffer; every other byte stays zero.
    std::vector<std::uint8_t> fileBytes;
    std::u16string version;
};

// Test names and failure messages show the case's name rather than its bytes.
void PrintTo(const VersionCase& c, std::ostream* os) {
    *os << c.name;
}

// A whole buffer of 'x' with one byte set, for the cases about where a version may start.
std::vector<std::uint8_t> FilledWith(std::size_t position, std::uint8_t byte) {
    std::vector<std::uint8_t> bytes(VERSION_BUFFER_SIZE, 'x');
    // Zero and nine come first; neither starts a version.
    bytes[0] = '0';
    bytes[1] = '9';
    bytes[position] = byte;
    return bytes;
}

std::vector<std::uint8_t> DigitAt75() {
    std::vector<std::uint8_t> bytes = FilledWith(75, '7');
    bytes[76] = '.';
    bytes[77] = '2';
    return bytes;
}

const VersionCase VERSION_CASES[] = {
    {"VersionThenLineEnd", {0x56, 0x20, 0x33, 0x2E, 0x38, 0x0D, 0x0A}, u"3.8"},
    {"ZeroAndNinePassedOver", {0x76, 0x30, 0x2E, 0x39, 0x35}, u"5"},
    // The lowest and the highest digit that start a version, each behind the two that do not.
    {"OneStartsAVersion", {0x30, 0x39, 0x31, 0x2E, 0x30}, u"1.0"},
    {"EightStartsAVersion", {0x39, 0x30, 0x38, 0x2E, 0x34}, u"8.4"},
    {"OneAtTheFirstByte", {0x31, 0x39, 0x39}, u"199"},
    {"EightAtTheLastPosition", FilledWith(75, '8'), u"8xx"},
    {"LineEndKeptAsCodeUnits", {0x33, 0x0D, 0x0A}, u"3\r\n"},
    {"Utf16TextStopsAtZeroByte", {0x33, 0x00, 0x2E, 0x00, 0x38, 0x00}, u"3"},
    {"HighByteWidensAsSigned", {0x35, 0xE9, 0x2E}, u"5\uFFE9."},
    {"DigitOnlyAtPosition76", FilledWith(76, '4'), u""},
    {"DigitOnlyAtPosition79", FilledWith(79, '4'), u""},
    {"DigitAtPosition75", DigitAt75(), u"7.2"},
    {"EmptyBuffer", {}, u""},
};

class VersionTextTest : public testing::TestWithParam<VersionCase> {};

TEST_P(VersionTextTest, ScansVersionAndFormatsLine) {
    const VersionCase& c = GetParam();
    ASSERT_LE(c.fileBytes.size(), VERSION_BUFFER_SIZE);
    VersionBuffer buffer{};
    std::copy(c.fileBytes.begin(), c.fileBytes.end(), buffer.begin());

    const std::u16string version = ScanVersionText(buffer);

    EXPECT_EQ(version, c.version);
    // The status list's line: the words, the version as scanned, a line end, whatever the
    // version holds (a line end of its own included).
    EXPECT_EQ(VersionLine(version), u"REDuzazav Version: " + c.version + u"\n");
}

INSTANTIATE_TEST_SUITE_P(FileBytes, VersionTextTest, testing::ValuesIn(VERSION_CASES),
                         testing::PrintToStringParamName());

// When ReadMe.txt cannot be read, the status list shows the error line and then "?".
TEST(VersionTextTest, UnreadableFileLines) {
    EXPECT_EQ(VERSION_ERROR_LINE, u"Error reading version from ReadMe.txt\n");
    EXPECT_EQ(VersionLine(UNKNOWN_VERSION), u"REDuzazav Version: ?\n");
}

}  // namespace
