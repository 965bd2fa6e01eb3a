// Lines from a text are the pieces fgets gives from a file of the same bytes, and the
// console takes whatever a format makes.
#include "base/linesrc.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/console.hpp"
#include "support/temp_dir.hpp"

using namespace vimbra;

namespace {

struct piece_case_t {
    const char* name;
    std::string bytes;
    int capacity;
};

void PrintTo(const piece_case_t& c, std::ostream* os) {
    *os << c.name;
}

class PiecesLikeFgets : public testing::TestWithParam<piece_case_t> {};

// fgets on the file is the oracle: the text source must cut the same pieces, report the same
// positions and end at the same place.
TEST_P(PiecesLikeFgets, SamePiecesAndPositions) {
    const piece_case_t& c = GetParam();
    temp_dir_t dir;
    std::FILE* file = std::fopen(dir.write("bytes", c.bytes).c_str(), "r");
    ASSERT_NE(file, nullptr);
    std::vector<char> expected(static_cast<std::size_t>(c.capacity));
    std::vector<char> got(static_cast<std::size_t>(c.capacity));
    linesrc_t text = linesrc_text(c.bytes.data(), c.bytes.size());
    int pieces = 0;
    while (std::fgets(expected.data(), c.capacity, file) != nullptr) {
        ASSERT_TRUE(linesrc_next(&text, got.data(), c.capacity)) << "piece " << pieces;
        // Compare the whole buffer up to what fgets stored: NULs inside a piece count too.
        const long end = std::ftell(file);
        ASSERT_EQ(linesrc_tell(&text), end) << "piece " << pieces;
        EXPECT_EQ(std::string(got.data()), std::string(expected.data())) << "piece " << pieces;
        ++pieces;
    }
    EXPECT_FALSE(linesrc_next(&text, got.data(), c.capacity));
    EXPECT_FALSE(linesrc_failed(&text));
    std::fclose(file);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PiecesLikeFgets,
    testing::Values(piece_case_t{"empty", "", 16}, piece_case_t{"no_last_line_end", "ab\ncd", 16},
                    piece_case_t{"only_line_ends", "\n\n\n", 16},
                    piece_case_t{"crlf", "a\r\nb\r\n", 16},
                    piece_case_t{"longer_than_buffer", "0123456789abcdef\nxy\n", 8},
                    piece_case_t{"exactly_buffer", "abcdefg\nh", 8},
                    piece_case_t{"nul_inside", std::string("ab\0cd\nef", 8), 16}),
    [](const testing::TestParamInfo<piece_case_t>& case_info) {
        return std::string(case_info.param.name);
    });

TEST(Linesrc, NullTextIsEmpty) {
    linesrc_t src = linesrc_text(nullptr, 99);
    char buffer[8];
    EXPECT_FALSE(linesrc_next(&src, buffer, sizeof buffer));
    EXPECT_EQ(linesrc_tell(&src), 0);
}

int collect(const char* bytes, std::size_t count, void* ctx) {
    auto* out = static_cast<std::string*>(ctx);
    if (count == 0) {
        out->append("<flush>");
    }
    out->append(bytes, count);
    return out->size() > 20000 ? -1 : 0; // a sink that fills up
}

int next_byte(void* ctx) {
    auto* in = static_cast<std::string*>(ctx);
    if (in->empty()) {
        return -1;
    }
    const int c = static_cast<unsigned char>(in->front());
    in->erase(0, 1);
    return c;
}

TEST(Console, FormatsWholeLinesOfAnyLengthAndReadsItsSource) {
    std::string out;
    std::string in = "\xFFz";
    const console_t console{collect, &out, next_byte, &in};
    const std::string long_value(9000, 'v'); // past any small buffer
    EXPECT_EQ(console_printf(&console, "KEY = %s|%d\n", long_value.c_str(), -7), 0);
    EXPECT_EQ(out, "KEY = " + long_value + "|-7\n");
    out.clear();
    EXPECT_EQ(console_puts(&console, "line"), 0);
    EXPECT_EQ(console_flush(&console), 0);
    EXPECT_EQ(out, "line\n<flush>");
    EXPECT_EQ(console_printf(&console, "%s", std::string(20001, 'x').c_str()), -1); // lost
    EXPECT_EQ(console_getc(&console), 0xFF); // a byte, never a negative char
    EXPECT_EQ(console_getc(&console), 'z');
    EXPECT_EQ(console_getc(&console), -1);
}

} // namespace
