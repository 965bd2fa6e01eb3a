#include "script/kestlibc.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

using namespace vimbra;

namespace {

struct CompareCase {
    const char* a;
    const char* b;
    int expected;
};

TEST(KestlibcTest, StrcmpOrdersAsSignedChars) {
    const CompareCase cases[] = {
        {"abc", "abd", -1}, {"abd", "abc", 1},    {"ab", "abc", -1},   {"abc", "ab", 1},
        {"", "", 0},        {"same", "same", 0},  {"\xC1", "", -1},    {"", "\xC1", 1},
        {"a\x80", "a", -1}, {"\xFF", "\x01", -1}, {"\x7F", "\x80", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kestlibc_strcmp(c.a, c.b), c.expected) << c.a << " vs " << c.b;
    }
}

TEST(KestlibcTest, StrncmpStopsAfterNPositions) {
    struct Case {
        const char* a;
        const char* b;
        int n;
        int expected;
    };
    const Case cases[] = {
        {"abc", "abd", 2, 0}, {"abc", "abd", 3, -1}, {"x", "y", 0, 0},      {"x", "y", -5, 0},
        {"ab", "abc", 2, 0},  {"ab", "abc", 3, -1},  {"abc", "abc", 99, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kestlibc_strncmp(c.a, c.b, c.n), c.expected)
            << c.a << " vs " << c.b << " n=" << c.n;
    }
}

TEST(KestlibcTest, CharacterClasses) {
    struct Case {
        int c;
        int digit;
        int alpha;
        int cntrl;
    };
    const Case cases[] = {
        {0x00, 0, 0, 1}, {0x01, 0, 0, 1}, {0x06, 0, 0, 1}, {0x07, 0, 0, 0}, {0x09, 0, 0, 0},
        {0x0A, 0, 0, 0}, {0x0D, 0, 0, 0}, {0x0E, 0, 0, 1}, {0x1B, 0, 0, 1}, {0x1F, 0, 0, 1},
        {0x20, 0, 0, 0}, {'/', 0, 0, 0},  {'0', 1, 0, 0},  {'9', 1, 0, 0},  {':', 0, 0, 0},
        {'@', 0, 0, 0},  {'A', 0, 1, 0},  {'Z', 0, 1, 0},  {'[', 0, 0, 0},  {'`', 0, 0, 0},
        {'a', 0, 1, 0},  {'z', 0, 1, 0},  {'{', 0, 0, 0},  {0x7F, 0, 0, 0}, {-1, 0, 0, 0},
        {-128, 0, 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kestlibc_isdigit(c.c), c.digit) << c.c;
        EXPECT_EQ(kestlibc_isalpha(c.c), c.alpha) << c.c;
        EXPECT_EQ(kestlibc_iscntrl(c.c), c.cntrl) << c.c;
    }
}

TEST(KestlibcTest, CaseFoldingTouchesLettersOnly) {
    const std::array<std::array<int, 3>, 8> cases = {{
        // c, toupper, tolower
        {'a', 'A', 'a'},
        {'z', 'Z', 'z'},
        {'A', 'A', 'a'},
        {'Z', 'Z', 'z'},
        {'5', '5', '5'},
        {'@', '@', '@'},
        {'[', '[', '['},
        {-60, -60, -60},
    }};
    for (const auto& c : cases) {
        EXPECT_EQ(kestlibc_toupper(c[0]), c[1]) << c[0];
        EXPECT_EQ(kestlibc_tolower(c[0]), c[2]) << c[0];
    }
}

TEST(KestlibcTest, AtoiTwoPassQuirks) {
    struct Case {
        const char* text;
        int expected;
    };
    const Case cases[] = {
        {"42", 42},
        {"  42", 42},
        {"-17", -17},
        {"+5", 5},
        {"007", 7},
        {"", 0},
        {"abc", 0},
        {"12abc", 12},
        {"5 ", 0},    // start index 1 lands on the blank
        {"12 34", 2}, // one blank counted: digits read from index 1
        {"4-2", 0},   // start index 1 lands on the sign
        {"-5-5", 0},  // second sign
        {"\t5", 0},   // a tab is not counted
        {"1.5", 1},
        {"4294967295", -1},
        {"4294967296", 0},
        {"2147483648", -2147483647 - 1},
        {"-2147483648", -2147483647 - 1},
        {"99999999999", 1215752191}, // 99999999999 mod 2^32
        {"\xB1"
         "7",
         0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kestlibc_atoi(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(KestlibcTest, StrchrNeverFindsTerminator) {
    const char* text = "hello\xE9";
    EXPECT_EQ(kestlibc_strchr(text, 'h'), text);
    EXPECT_EQ(kestlibc_strchr(text, 'l'), text + 2);
    EXPECT_EQ(kestlibc_strchr(text, 0), nullptr);
    EXPECT_EQ(kestlibc_strchr(text, 'x'), nullptr);
    EXPECT_EQ(kestlibc_strchr(text, -23), text + 5); // 0xE9 as a signed char
    EXPECT_EQ(kestlibc_strchr(text, 0xE9), nullptr);
    EXPECT_EQ(kestlibc_strchr("", 'a'), nullptr);
}

TEST(KestlibcTest, UtoaBases) {
    struct Case {
        std::uint32_t value;
        std::uint32_t base;
        const char* expected;
    };
    const Case cases[] = {
        {0, 10, "0"},
        {255, 16, "ff"},
        {4294967295u, 10, "4294967295"},
        {5, 2, "101"},
        {4294967295u, 2, "11111111111111111111111111111111"},
        {35, 36, "z"},
        {36, 36, "10"},
        {8, 8, "10"},
        {2147483648u, 16, "80000000"},
        {1234567890, 10, "1234567890"},
    };
    for (const auto& c : cases) {
        std::array<char, 33> buf{};
        EXPECT_EQ(kestlibc_utoa(c.value, buf.data(), c.base), buf.data());
        EXPECT_STREQ(buf.data(), c.expected) << c.value << " base " << c.base;
    }
}

TEST(KestlibcTest, CopyAndConcatenate) {
    std::array<char, 16> buf{};
    buf.fill('#');
    EXPECT_EQ(kestlibc_strcpy(buf.data(), "ab"), buf.data());
    EXPECT_EQ(std::string(buf.data(), 4), std::string("ab\0#", 4));
    EXPECT_EQ(kestlibc_strcat(buf.data(), "cde"), buf.data());
    EXPECT_STREQ(buf.data(), "abcde");
    EXPECT_EQ(buf[6], '#');
    EXPECT_EQ(kestlibc_strlen(buf.data()), 5);
    EXPECT_EQ(kestlibc_strlen(""), 0);
    kestlibc_strcat(buf.data(), "");
    EXPECT_STREQ(buf.data(), "abcde");
}

} // namespace
