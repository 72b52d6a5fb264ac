#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "StringUtils.h"

namespace {

struct TrimCase {
    const char* name;
    std::string input;
    std::string expected;
};

struct HexCase {
    const char* input;
    uint64_t expected;
};

} // namespace

TEST(StringUtils, TrimString)
{
    const std::string model = "ZAGO BOSS-N1 Monolithic                 ";
    ASSERT_EQ(model.size(), 40u);
    const TrimCase cases[] = {
        {"empty", "", ""},
        {"both ends", "\tA B\n", "A B"},
        {"inner blanks stay", "  a  b  ", "a  b"},
        {"fixed-width model", model, "ZAGO BOSS-N1 Monolithic"},
        {"no blanks", "x", "x"},
        {"single char after blanks", "   x", "x"},
        {"single char before blanks", "x   ", "x"},
        {"all C blanks", " \t\n\v\f\r", ""},
        // All-blank input must not leave blanks behind.
        {"three blanks", "   ", ""},
        {"one blank", " ", ""},
        {"two blanks", "  ", ""},
        // High bytes are never blank.
        {"high bytes kept", "\xa0x\xa0", "\xa0x\xa0"},
        {"embedded NUL kept", std::string(" a\0b ", 5), std::string("a\0b", 3)},
    };
    for (const TrimCase& c : cases)
        EXPECT_EQ(CStringUtils::trim_string(c.input), c.expected) << c.name;
}

TEST(StringUtils, ToLowerCaseChangesOnlyAsciiLetters)
{
    EXPECT_EQ(CStringUtils::toLowerCase("ZaGo-0A1F_xyz"), "zago-0a1f_xyz");
    EXPECT_EQ(CStringUtils::toLowerCase(""), "");
    std::string high("\xC4\xD6", 2);
    EXPECT_EQ(CStringUtils::toLowerCase(high), high);
    EXPECT_EQ(CStringUtils::toLowerCase(std::string("A\0B", 3)), std::string("a\0b", 3));
}

TEST(StringUtils, Hex2Dec)
{
    const HexCase cases[] = {
        {"5a5a", 23130},
        {"0A1F", 2591},
        {"a1f", 2591},
        {"0x1000", 4096},
        {"0X1000", 4096},
        {"2ax", 42},
        {"  \t1f", 31},
        {"", 0},
        {"   ", 0},
        {"zz", 0},
        {"0x", 0},
        {"0xg", 0},
        {"-1", 0},
        {"0", 0},
        {"ffffffffffffffff", UINT64_MAX},
        {"0000000000000000001", 1},
        {"10000000000000000", UINT64_MAX},
        {"fffffffffffffffffffff", UINT64_MAX},
    };
    for (const HexCase& c : cases)
        EXPECT_EQ(CStringUtils::Hex2Dec(c.input), c.expected) << "input '" << c.input << "'";
}

// Around the last value that fits: sixteen digits are read exactly, a
// seventeenth significant digit saturates, leading zeros never count.
TEST(StringUtils, Hex2DecAtTheOverflowBoundary)
{
    const HexCase cases[] = {
        {"fffffffffffffffe", UINT64_MAX - 1},
        {" 0XFFFFFFFFFFFFFFFE", UINT64_MAX - 1},
        {"8000000000000000", 0x8000000000000000ULL},
        {"0fffffffffffffff", 0x0fffffffffffffffULL},
        {"0ffffffffffffffff", UINT64_MAX},
        {"00000000ffffffffffffffff", UINT64_MAX},
        {"0000000fffffffffffffffe", UINT64_MAX - 1},
        {"ffffffffffffffff0", UINT64_MAX},
        {"10000000000000001", UINT64_MAX},
        {"0x10000000000000000", UINT64_MAX},
        {"1fffffffffffffffz", 0x1fffffffffffffffULL},
        {"1ffffffffffffffffz", UINT64_MAX},
    };
    for (const HexCase& c : cases)
        EXPECT_EQ(CStringUtils::Hex2Dec(c.input), c.expected) << "input '" << c.input << "'";
}
