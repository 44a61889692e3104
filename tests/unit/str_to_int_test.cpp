#include "common/StrToInt.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct Accepted {
    std::string text;
    int32_t value;
};

struct Refused {
    std::string text;
    const char* why;
};

void PrintTo(const Accepted& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}
void PrintTo(const Refused& c, std::ostream* os) {
    *os << '"' << c.text << "\" (" << c.why << ')';
}

class StrToIntAccepts : public ::testing::TestWithParam<Accepted> {};
class StrToIntRefuses : public ::testing::TestWithParam<Refused> {};

TEST_P(StrToIntAccepts, ReturnsTheValue) {
    EXPECT_EQ(StrToInt(GetParam().text), GetParam().value);
    int32_t value = 0;
    EXPECT_TRUE(TryStrToInt(GetParam().text, value));
    EXPECT_EQ(value, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Decimal, StrToIntAccepts,
    ::testing::Values(Accepted{"0", 0}, Accepted{"502", 502}, Accepted{"+502", 502},
                      Accepted{"-502", -502}, Accepted{"-0", 0}, Accepted{"   80", 80},
                      Accepted{" -7", -7}, Accepted{"00000000000000000042", 42},
                      Accepted{"70000", 70000}, Accepted{"2147483647", 2147483647},
                      Accepted{"-2147483648", INT32_MIN}));

INSTANTIATE_TEST_SUITE_P(
    Hexadecimal, StrToIntAccepts,
    ::testing::Values(Accepted{"$1F", 31}, Accepted{"$1f", 31}, Accepted{"x1F", 31},
                      Accepted{"X1f", 31}, Accepted{"0x1F", 31}, Accepted{"0XaB", 171},
                      Accepted{"  $10", 16}, Accepted{"$0", 0}, Accepted{"$000000000000FF", 255},
                      Accepted{"$7FFFFFFF", INT32_MAX}, Accepted{"$80000000", INT32_MIN},
                      Accepted{"0xFFFFFFFF", -1}));

TEST_P(StrToIntRefuses, RaisesTheConversionError) {
    const std::string& text = GetParam().text;
    try {
        StrToInt(text);
        ADD_FAILURE() << "accepted " << GetParam().why;
    } catch (const EConvertError& error) {
        const std::string expected = "'" + text + "' is not a valid integer value";
        EXPECT_STREQ(error.what(), expected.c_str());
    }
    int32_t value = 1234;
    EXPECT_FALSE(TryStrToInt(text, value)) << GetParam().why;
    EXPECT_EQ(value, 1234) << "a refused text must leave the value alone";
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, StrToIntRefuses,
    ::testing::Values(Refused{"", "empty"}, Refused{"   ", "blanks only"},
                      Refused{"abc", "letters"}, Refused{"80 ", "trailing blank"},
                      Refused{"8 0", "inner blank"}, Refused{"80a", "trailing letter"},
                      Refused{"\t80", "a tab is no blank"}, Refused{"+", "sign alone"},
                      Refused{"-", "sign alone"}, Refused{"+-1", "two signs"},
                      Refused{"- 1", "blank after the sign"}, Refused{"1e3", "exponent"},
                      Refused{"1.0", "fraction"}, Refused{std::string("1\0", 2), "NUL"},
                      Refused{"\xd9\xa1", "non-ASCII digit"}));

INSTANTIATE_TEST_SUITE_P(
    HexadecimalForms, StrToIntRefuses,
    ::testing::Values(Refused{"$", "prefix alone"}, Refused{"x", "prefix alone"},
                      Refused{"0x", "prefix alone"}, Refused{"$G", "no hex digit"},
                      Refused{"0x1g", "trailing letter"}, Refused{"$ 1", "blank after prefix"},
                      Refused{"-$10", "sign before a hex prefix"},
                      Refused{"+0x10", "sign before a hex prefix"},
                      Refused{"$-1", "sign after a hex prefix"},
                      Refused{"00x10", "prefix after a digit"},
                      Refused{"0$10", "prefix after a digit"}, Refused{"&H10", "other prefix"}));

INSTANTIATE_TEST_SUITE_P(OutOfRange, StrToIntRefuses,
                         ::testing::Values(Refused{"2147483648", "above INT32_MAX"},
                                           Refused{"-2147483649", "below INT32_MIN"},
                                           Refused{"+2147483648", "above INT32_MAX"},
                                           Refused{"99999999999999999999999", "far above 64 bits"},
                                           Refused{"$100000000", "33 bits"},
                                           Refused{"0x1FFFFFFFF", "33 bits"}));

TEST(StrToIntMessage, KeepsTheOriginalTextVerbatim) {
    // Format directives in the operator's text must come out as typed.
    EXPECT_EQ(InvalidIntegerMessage("%s%n %d"), "'%s%n %d' is not a valid integer value");
    EXPECT_EQ(InvalidIntegerMessage("  abc "), "'  abc ' is not a valid integer value");
    EXPECT_EQ(InvalidIntegerMessage(""), "'' is not a valid integer value");
}

}  // namespace
