#include "base/util.hpp"

#include <gtest/gtest.h>

#include "support/param_name.hpp"
#include <array>
#include <cstdio>
#include <string>
#include <utility>

using namespace vimbra;

namespace {

struct format_case_t {
    const char* src;
    int status;
    std::string codes; // the codes stored, in order (may hold zero bytes)
};

// The test log names a case by its input, not by its bytes.
void PrintTo(const format_case_t& c, std::ostream* os) {
    *os << testing::PrintToString(std::string(c.src));
}

class UtilFormatTable : public ::testing::TestWithParam<format_case_t> {};

TEST_P(UtilFormatTable, StatusCountAndCodes) {
    const format_case_t& c = GetParam();
    std::array<unsigned char, 64> dst{};
    dst.fill(0xEE);
    int count = -1;
    EXPECT_EQ(util_format(c.src, dst.data(), static_cast<int>(dst.size()), &count), c.status);
    ASSERT_EQ(count, static_cast<int>(c.codes.size()));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(dst.data()), c.codes.size()), c.codes);
    EXPECT_EQ(dst[c.codes.size()], 0) << "terminated after the last code";
}

INSTANTIATE_TEST_SUITE_P(
    UtilFormatTest, UtilFormatTable,
    ::testing::Values(format_case_t{"", 0, ""}, format_case_t{"Hi there", 0, "Hi there"},
                      format_case_t{"\\\\", 0, "\\"}, format_case_t{"\\x41", 0, "A"},
                      format_case_t{"\\x00", 0, std::string(1, '\0')},
                      format_case_t{"\\x414", 0, "A4"}, format_case_t{"\\xfF\\x0a", 0, "\xFF\n"},
                      format_case_t{"\xC3\xA9", 0, "\xC3\xA9"},
                      format_case_t{"a\\\\\\x42c", 0, "a\\Bc"}, format_case_t{"a\\", 1, "a"},
                      format_case_t{"a\\x", 2, "a"}, format_case_t{"a\\xg1", 3, "a"},
                      format_case_t{"a\\x4", 5, "a"}, format_case_t{"a\\x4g", 6, "a"},
                      format_case_t{"a\\n", 8, "a"}, format_case_t{"\\X41", 8, ""},
                      format_case_t{"ab\\q\\x41", 8, "ab"}, format_case_t{"\\x41\\x", 2, "A"}),
    [](const ::testing::TestParamInfo<UtilFormatTable::ParamType>& case_info) {
        return param_name(case_info.index, case_info.param.src);
    });

TEST(UtilFormatTest, CutsAtCapacityButChecksTheWholeRow) {
    std::array<unsigned char, 8> dst{};
    dst.fill(0xEE);
    int count = -1;
    EXPECT_EQ(util_format("abcdef", dst.data(), 4, &count), 0);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(dst[2], 'c');
    EXPECT_EQ(dst[3], 0);
    EXPECT_EQ(dst[4], 0xEE) << "nothing beyond the capacity";

    EXPECT_EQ(util_format("abcdef\\q", dst.data(), 4, &count), 8);
    EXPECT_EQ(count, 3);

    dst.fill(0xEE);
    EXPECT_EQ(util_format("abc", dst.data(), 1, &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(dst[0], 0);
    EXPECT_EQ(dst[1], 0xEE);

    EXPECT_EQ(util_format("a\\", dst.data(), 0, &count), 1);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(dst[0], 0) << "capacity 0 writes nothing";
}

TEST(UtilGetHexvalTest, DigitsAndNonDigits) {
    const std::array<std::pair<char, int>, 16> cases{{{'0', 0},
                                                      {'9', 9},
                                                      {'A', 10},
                                                      {'F', 15},
                                                      {'a', 10},
                                                      {'c', 12},
                                                      {'f', 15},
                                                      {'G', -1},
                                                      {'g', -1},
                                                      {'/', -1},
                                                      {':', -1},
                                                      {'@', -1},
                                                      {'`', -1},
                                                      {'x', -1},
                                                      {'\0', -1},
                                                      {static_cast<char>(0xC1), -1}}};
    for (const auto& [c, value] : cases) {
        EXPECT_EQ(get_hexval(c), value) << "char " << static_cast<int>(c);
    }
}

TEST(UtilRemoveCommentTest, CutsAtFirstHash) {
    const std::array<std::pair<const char*, const char*>, 4> cases{
        {{"KEY 1 # note", "KEY 1 "}, {"#all", ""}, {"a#b#c", "a"}, {"plain", "plain"}}};
    for (const auto& [line, expected] : cases) {
        std::array<char, 32> buffer{};
        std::snprintf(buffer.data(), buffer.size(), "%s", line);
        EXPECT_EQ(util_remove_comment(buffer.data()), 0);
        EXPECT_STREQ(buffer.data(), expected);
    }
}

} // namespace
