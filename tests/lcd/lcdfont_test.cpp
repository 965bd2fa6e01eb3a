#include "lcd/lcdfont.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/param_name.hpp"
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace vimbra;

namespace {

using namespace std::string_literals;

struct dot_call {
    int code;
    int column;
    int row;
    int on;
};

void record_dot(int code, int column, int row, int on, void* ctx) {
    static_cast<std::vector<dot_call>*>(ctx)->push_back({code, column, row, on});
}

// Folds the calls into one "CC/R/bbbbb" entry per dot row (code in hex, row, dots),
// checking that every row arrives as columns 0..4 in order.
std::vector<std::string> rows_of(const std::vector<dot_call>& calls) {
    std::vector<std::string> rows;
    EXPECT_EQ(calls.size() % 5, 0U);
    for (std::size_t i = 0; i + 5 <= calls.size(); i += 5) {
        char head[32];
        std::snprintf(head, sizeof head, "%02X/%d/", static_cast<unsigned>(calls[i].code),
                      calls[i].row);
        std::string row = head;
        for (std::size_t c = 0; c < 5; ++c) {
            const dot_call& call = calls[i + c];
            EXPECT_EQ(call.column, static_cast<int>(c));
            EXPECT_EQ(call.code, calls[i].code);
            EXPECT_EQ(call.row, calls[i].row);
            row += call.on == 1 ? '1' : call.on == 0 ? '0' : '?';
        }
        rows.push_back(row);
    }
    return rows;
}

class LcdfontFileTest : public ::testing::Test {
  protected:
    std::string write_file(const std::string& content) {
        const std::string path = dir_ + "/f" + std::to_string(count_++) + ".fnt";
        std::FILE* fp = std::fopen(path.c_str(), "wb");
        EXPECT_NE(fp, nullptr);
        std::fwrite(content.data(), 1, content.size(), fp);
        std::fclose(fp);
        return path;
    }

    // Reads `content` as a font; returns its dot rows as rows_of gives them.
    std::vector<std::string> read_rows(const std::string& content) {
        std::vector<dot_call> calls;
        const std::string path = write_file(content);
        EXPECT_EQ(lcdfont_read(path.c_str(), record_dot, &calls), 0);
        return rows_of(calls);
    }

    temp_dir_t temp_{"lcdfont_test"};
    std::string dir_ = temp_.path();
    int count_ = 0;
};

struct code_case {
    std::string line;
    int code;
};

// The test log names a case by its input, not by its bytes.
void PrintTo(const code_case& c, std::ostream* os) {
    *os << testing::PrintToString(c.line);
}

class LcdfontPickupTest : public ::testing::TestWithParam<code_case> {};

TEST_P(LcdfontPickupTest, ReadsHeader) {
    EXPECT_EQ(pickup_code(GetParam().line.c_str()), GetParam().code) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    LcdfontLines, LcdfontPickupTest,
    ::testing::Values(
        code_case{"CODE 0x41", 0x41}, code_case{"CODE=0x41", 0x41},
        code_case{"CODE = 0x41\n", 0x41}, code_case{"  CODE\t0x00\r\n", 0x00},
        code_case{"CODE 0xff", 0xFF}, code_case{"CODE 0xFf", 0xFF}, code_case{"CODE 0x7", 0x07},
        code_case{"CODE 0x4142", 0x41}, code_case{"CODE 0x41zz", 0x41},
        code_case{"CODE 0x41 0x42", 0x41}, code_case{"CODE 0x1g", 0x01},
        // A sign counts as one of the two characters.
        code_case{"CODE 0x+f", 0x0F}, code_case{"CODE 0x-1", -1}, code_case{"CODE 0x-0", 0x00},
        code_case{"CODE 0x-F", -1}, code_case{"CODE 0x+", -1}, code_case{"CODE 0x-", -1},
        code_case{"CODE 0x0x", 0x00}, code_case{"CODE 0x-0x", 0x00},
        // Not headers.
        code_case{"CODE 41", -1}, code_case{"CODE 0X41", -1}, code_case{"CODE x41", -1},
        code_case{"CODE 0x", -1}, code_case{"CODE 0xg1", -1}, code_case{"code 0x41", -1},
        code_case{"CODES 0x41", -1}, code_case{"XCODE 0x41", -1}, code_case{"CODE", -1},
        code_case{"CODE =", -1}, code_case{"", -1}, code_case{"0x41 CODE", -1},
        code_case{"CODE\0 0x41"s, -1}),
    [](const ::testing::TestParamInfo<LcdfontPickupTest::ParamType>& case_info) {
        return param_name(case_info.index, case_info.param.line);
    });

TEST_F(LcdfontFileTest, FullGlyphReplacesAllRowsInOrder) {
    const auto rows = read_rows("CODE 0x41\n"
                                "o...o\n"
                                ".*.*.\n"
                                "     \n"
                                "=.=.=\n"
                                "XXXXX\n"
                                ".....\n"
                                "0.0.0 trailing text is ignored\n"
                                "\t\t\t\t.\n");
    const std::vector<std::string> expected{"41/0/10001", "41/1/01010", "41/2/11111", "41/3/10101",
                                            "41/4/11111", "41/5/00000", "41/6/10101", "41/7/11110"};
    EXPECT_EQ(rows, expected);
}

struct font_case {
    const char* name;
    std::string content;
    std::vector<std::string> rows;
};

// The test log names a case by its name, not by its bytes.
void PrintTo(const font_case& c, std::ostream* os) {
    *os << c.name;
}

class LcdfontReadTest : public LcdfontFileTest, public ::testing::WithParamInterface<font_case> {};

TEST_P(LcdfontReadTest, ReportsRows) {
    EXPECT_EQ(read_rows(GetParam().content), GetParam().rows);
}

const std::string EIGHT_ROWS = "ooooo\nooooo\nooooo\nooooo\nooooo\nooooo\nooooo\nooooo\n";

INSTANTIATE_TEST_SUITE_P(
    LcdfontFiles, LcdfontReadTest,
    ::testing::Values(
        font_case{"Empty", "", {}}, font_case{"RowsWithoutHeader", "ooooo\n.....\n", {}},
        font_case{"HeaderWithEquals", "CODE=0x42\n.o.o.\n", {"42/0/01010"}},
        font_case{"RemarkAfterBlank", "CODE 0x41\n.o.o. # remark\n", {"41/0/01010"}},
        font_case{
            "RemarkWithoutBlankSkipsRow", "CODE 0x41\n.o.o.# remark\no....\n", {"41/0/10000"}},
        font_case{"HashAmongDotsSkipsRow", "CODE 0x41\n.#...\no....\n", {"41/0/10000"}},
        font_case{"CommentAndShortLinesSkipped",
                  "CODE 0x41\n# comment\n\n....\n  #x\no....\n",
                  {"41/0/10000"}},
        font_case{"LastRowWithoutLineFeedLost", "CODE 0x41\n.o...\n..o..", {"41/0/01000"}},
        font_case{"LastRowWithBlankKept", "CODE 0x41\n.o...\n..o.. ", {"41/0/01000", "41/1/00100"}},
        font_case{"CrLfRows", "CODE 0x41\r\no...o\r\n.o.o.\r\n", {"41/0/10001", "41/1/01010"}},
        font_case{"CrLfShortRowIsStillARow",
                  "CODE 0x41\r\n....\r\n.o...\r\n",
                  {"41/0/00001", "41/1/01000"}},
        font_case{
            "LowerCaseHeaderIsARowWithoutCode", "code 0x41\nCODE 0x42\no....\n", {"42/1/10000"}},
        font_case{"BadHeaderIsARowOfTheCurrentGlyph", "CODE 0x41\nCODE 0X42\n", {"41/0/11111"}},
        font_case{"CodeZero", "CODE 0x00\n....o\n", {"00/0/00001"}},
        font_case{"CodeFF", "CODE 0xFF\no....\n", {"FF/0/10000"}},
        // Rows after the eighth advance the counter without a glyph.
        font_case{"RowsAfterEighth",
                  "CODE 0x41\n" + EIGHT_ROWS + ".....\n.....\nCODE 0x42\n" +
                      "o....\n.o...\n..o..\n...o.\n....o\no...o\no.o.o\n",
                  {"41/0/11111", "41/1/11111", "41/2/11111", "41/3/11111", "41/4/11111",
                   "41/5/11111", "41/6/11111", "41/7/11111", "42/2/10000", "42/3/01000",
                   "42/4/00100", "42/5/00010", "42/6/00001", "42/7/10001"}},
        // A short glyph: the next header continues the count and ends at row 7.
        font_case{"ShortGlyphContinuesCounter",
                  "CODE 0x41\no....\n.o...\n..o..\nCODE 0x42\n"
                  "ooooo\n.....\nooooo\n.....\nooooo\n.....\n",
                  {"41/0/10000", "41/1/01000", "41/2/00100", "42/3/11111", "42/4/00000",
                   "42/5/11111", "42/6/00000", "42/7/11111"}},
        font_case{"HeaderMidGlyphSwitchesCode",
                  "CODE 0x41\no....\nCODE 0x42\n.o...\n",
                  {"41/0/10000", "42/1/01000"}},
        font_case{"NulShortensRow", "CODE 0x41\no\0ooo\n.o...\n"s, {"41/0/01000"}},
        font_case{"NulAfterSixCharacters", "CODE 0x41\no.o.o \0...\n"s, {"41/0/10101"}},
        font_case{"HighBytesAreLit", "CODE 0x41\n\xFF\x80...\n", {"41/0/11000"}},
        // A long line arrives as an 8191-character piece and a remainder, two rows.
        font_case{"LongLineIsTwoRows",
                  "CODE 0x41\no.o.o" + std::string(9000, '.') + "\n",
                  {"41/0/10101", "41/1/00000"}}),
    [](const ::testing::TestParamInfo<font_case>& param_info) { return param_info.param.name; });

void record_row(const lcdfont_row_t& row, void* ctx) {
    static_cast<std::vector<lcdfont_row_t>*>(ctx)->push_back(row);
}

// Whole rows with their place in the file: what the glyph editor rewrites. Offsets counted
// by hand from the texts.
TEST_F(LcdfontFileTest, RowsArriveWithTheirLines) {
    struct row_case {
        std::string content;
        std::vector<lcdfont_row_t> rows;
    };
    const std::vector<row_case> cases{
        {"CODE 0x41\no...o # c\nx\n.o.o.\r\n", {{0x41, 0, 0x11, 10, 10}, {0x41, 1, 0x0A, 22, 7}}},
        // A row before any header still counts; the last line without its end is no row.
        {"ooooo\nCODE 0x42\n.o...\n....o", {{-1, 0, 0x1F, 0, 6}, {0x42, 1, 0x02, 16, 6}}},
        {"CODE 0x41\no.o.o" + std::string(9000, '.') + "\n",
         {{0x41, 0, 0x15, 10, 8191}, {0x41, 1, 0x00, 8201, 815}}},
    };
    for (const row_case& c : cases) {
        std::vector<lcdfont_row_t> rows;
        const std::string path = write_file(c.content);
        ASSERT_EQ(lcdfont_read_rows(path.c_str(), record_row, &rows), 0);
        ASSERT_EQ(rows.size(), c.rows.size()) << c.content.substr(0, 40);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const lcdfont_row_t& got = rows[i];
            const lcdfont_row_t& want = c.rows[i];
            EXPECT_EQ(std::vector<long>({got.code, got.row, got.dots, got.offset, got.length}),
                      std::vector<long>({want.code, want.row, want.dots, want.offset, want.length}))
                << c.content.substr(0, 40) << " row " << i;
        }
    }
}

TEST_F(LcdfontFileTest, UnreadablePathsGiveMinusOneWithoutCalls) {
    const std::string missing = dir_ + "/no-such.fnt";
    const std::vector<const char*> paths{nullptr, "", missing.c_str(), dir_.c_str()};
    for (const char* path : paths) {
        std::vector<dot_call> calls;
        EXPECT_EQ(lcdfont_read(path, record_dot, &calls), -1) << (path ? path : "(null)");
        EXPECT_TRUE(calls.empty());
    }
}

TEST_F(LcdfontFileTest, NullCallbackIsHarmless) {
    const std::string path = write_file("CODE 0x41\n" + EIGHT_ROWS);
    EXPECT_EQ(lcdfont_read(path.c_str(), nullptr, nullptr), 0);
}

} // namespace
