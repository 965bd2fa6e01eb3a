// Dot edits of font texts: the line the reader takes for the row is rewritten, a glyph no
// line sets is added whole, and a refused edit leaves text and glyph as they were.
#include "lcd/fontedit.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

using namespace vimbra;

namespace {

const std::string EMPTY_ROWS_1_TO_7 = ".....\n.....\n.....\n.....\n.....\n.....\n.....\n";

struct edit_case_t {
    const char* what;
    std::string text;
    int code, row, column;
    std::array<unsigned char, 5> glyph; // as shown before
    int status;
    std::string after;
    std::array<unsigned char, 5> glyph_after;
};

TEST(FonteditTest, OneDotChangesOneLine) {
    const std::vector<edit_case_t> cases{
        {"a dot lit on its row's line",
         "CODE 0x41\n.....\n",
         0x41,
         0,
         2,
         {},
         0,
         "CODE 0x41\n..o..\n",
         {0, 0, 1, 0, 0}},
        {"a dot put out",
         "CODE 0x41\n....o\n",
         0x41,
         0,
         4,
         {0, 0, 0, 0, 1},
         0,
         "CODE 0x41\n.....\n",
         {}},
        // Rows count on across headers: the second block starts again at row 0.
        {"the last line setting the row wins",
         "CODE 0x02\no....\n" + EMPTY_ROWS_1_TO_7 + "CODE 0x02\n.....\n",
         2,
         0,
         1,
         {},
         0,
         "CODE 0x02\no....\n" + EMPTY_ROWS_1_TO_7 + "CODE 0x02\n.o...\n",
         {0, 1, 0, 0, 0}},
        {"a glyph no line sets is added whole",
         "",
         1,
         0,
         0,
         {},
         0,
         "CODE 0x01\no....\n" + EMPTY_ROWS_1_TO_7,
         {1, 0, 0, 0, 0}},
        {"rows the text leaves unset keep what is shown",
         "",
         1,
         0,
         0,
         {0x80, 0, 0, 0, 0x02},
         0,
         "CODE 0x01\no....\n....o\n" + std::string(".....\n.....\n.....\n.....\n.....\n") +
             "o....\n",
         {0x81, 0, 0, 0, 0x02}},
        {"a last line without its end gets one",
         "# glyphs",
         1,
         7,
         4,
         {},
         0,
         "# glyphs\n\nCODE 0x01\n" + std::string(".....\n.....\n.....\n.....\n.....\n.....\n") +
             ".....\n....o\n",
         {0, 0, 0, 0, 0x80}},
        {"a code out of range", "CODE 0x41\n.....\n", 256, 0, 0, {}, -1, "CODE 0x41\n.....\n", {}},
        {"a column out of range",
         "CODE 0x41\n.....\n",
         0x41,
         0,
         5,
         {},
         -1,
         "CODE 0x41\n.....\n",
         {}},
        {"a row out of range", "CODE 0x41\n.....\n", 0x41, -1, 0, {}, -1, "CODE 0x41\n.....\n", {}},
    };
    for (const edit_case_t& c : cases) {
        SCOPED_TRACE(c.what);
        std::string text = c.text;
        std::array<unsigned char, 5> glyph = c.glyph;
        EXPECT_EQ(fontedit_toggle(&text, c.code, c.row, c.column, glyph.data()), c.status);
        EXPECT_EQ(text, c.after);
        EXPECT_EQ(glyph, c.glyph_after);
    }
}

} // namespace
