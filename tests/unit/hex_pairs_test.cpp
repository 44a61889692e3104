#include "setup/HexPairs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct HexPairsCase {
    const char* text;
    std::vector<uint8_t> bytes;  // what is converted, before the zero behind it
};

void PrintTo(const HexPairsCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class ParseHexPairsTest : public testing::TestWithParam<HexPairsCase> {};

TEST_P(ParseHexPairsTest, ConvertsGroupsAndTerminates) {
    const HexPairsCase& c = GetParam();
    uint8_t out[16];
    std::fill(std::begin(out), std::end(out), 0xEE);

    const uint8_t count = ParseHexPairs(c.text, out);

    ASSERT_EQ(count, c.bytes.size());
    for (size_t i = 0; i < c.bytes.size(); ++i) {
        EXPECT_EQ(out[i], c.bytes[i]) << "byte " << i;
    }
    EXPECT_EQ(out[count], 0) << "no zero behind the converted bytes";
    EXPECT_EQ(out[count + 1], 0xEE) << "wrote past the zero";
}

INSTANTIATE_TEST_SUITE_P(
    WorkedCases, ParseHexPairsTest,
    testing::Values(
        // A list row's MAC ID text.
        HexPairsCase{"00.1A.2B.3C.4D.5E", {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}},
        HexPairsCase{"FF.FF.FF.FF.FF.FF", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        // Blanks separate as dots do; lower case is read.
        HexPairsCase{"0a 0b", {0x0A, 0x0B}},
        // A wrong separator stops at the group before it.
        HexPairsCase{"AB-CD", {}}, HexPairsCase{"AB.CD-EF", {0xAB}},
        // A lone trailing digit makes no group.
        HexPairsCase{"AB.CD.E", {0xAB, 0xCD}}, HexPairsCase{"", {}}, HexPairsCase{"A", {}},
        HexPairsCase{"AB", {0xAB}},
        // A non-digit in either place of a pair stops there.
        HexPairsCase{"12.G4.56", {0x12}}, HexPairsCase{"12.4G.56", {0x12}},
        HexPairsCase{"12.34.5 ", {0x12, 0x34}}));

TEST(HexDigitValue, ReadsEveryDigitInBothCases) {
    const std::string digits = "0123456789abcdef";
    for (int value = 0; value < 16; ++value) {
        EXPECT_EQ(HexDigitValue(digits[value]), value);
        EXPECT_EQ(HexDigitValue(static_cast<char>(std::toupper(digits[value]))), value);
    }
}

TEST(HexDigitValue, RefusesTheNeighboursOfTheDigitRanges) {
    for (char c : {'/', ':', '@', 'G', '`', 'g', ' ', '.', '\0', '\xFF'}) {
        EXPECT_EQ(HexDigitValue(c), kNotAHexDigit) << "character code " << int(c);
    }
}

}  // namespace

// The count is one byte: a text of more groups converts the first 255 and
// says so, rather than wrapping to a count of 0 with 256 bytes written.
TEST(ParseHexPairs, StopsAtTheLargestCount) {
    std::string text;
    for (int i = 0; i < 300; ++i) {
        text += "A5.";
    }
    text.pop_back();  // 300 groups
    std::vector<uint8_t> out(301, 0xEE);

    EXPECT_EQ(ParseHexPairs(text.c_str(), out.data()), 255);
    EXPECT_TRUE(std::all_of(out.begin(), out.begin() + 255, [](uint8_t b) { return b == 0xA5; }));
    EXPECT_EQ(out[255], 0);
    EXPECT_TRUE(std::all_of(out.begin() + 256, out.end(), [](uint8_t b) { return b == 0xEE; }));
}
