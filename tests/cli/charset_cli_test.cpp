#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cli/tool_runner.hpp"
#include "support/temp_dir.hpp"


namespace {

namespace fs = std::filesystem;

class CharsetCliTest : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const { return dir_.file(name); }
    std::string write(const std::string& name, const std::string& text) const {
        return dir_.write(name, text);
    }
    static std::string read(const std::string& path_name) { return read_file(path_name); }

    temp_dir_t dir_{"charset_cli"};
};

const std::string GLYPH_01 = "CODE 0x01\n.....\n.o.o.\nooooo\nooooo\n.ooo.\n..o..\n.....\n.....\n";

// The set's file given as a font over the built-in table draws what CHARSET draws, and the
// text reaches the same codes as the escapes; a font file still changes glyphs on top.
TEST_F(CharsetCliTest, TextInASetDrawsWhatItsFileAndEscapesDraw) {
    const std::string set_file = read(std::string(VIMBRA_SOURCE_DIR) + "/fonts/a00.fnt");
    const tool_result_t want =
        run_tool({write("plain.prof", "CHCNT_X 12\n"), write("a00.fnt", set_file + GLYPH_01),
                  path("want.bmp"), "Temp 21.5\\xDFC", "\\x01\\xB1\\xB6\\xDE\\x5C"});
    const tool_result_t got =
        run_tool({write("a00.prof", "CHCNT_X 12\nCHARSET = a00\n"), write("heart.fnt", GLYPH_01),
                  path("got.bmp"), "Temp 21.5°C", "\\x01アが¥"});
    EXPECT_EQ(want.status, 0);
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.out, "");
    EXPECT_FALSE(read(path("got.bmp")).empty());
    EXPECT_TRUE(read(path("got.bmp")) == read(path("want.bmp")));
}

TEST_F(CharsetCliTest, RefusalsSayWhyAndWriteNothing) {
    const std::string font = write("empty.fnt", "");
    struct refusal_t {
        const char* profile;
        const char* row;
        int status;
        std::string out;
    };
    const refusal_t cases[] = {
        {"CHARSET A01\n", "x", 1,
         "Illegal setting: CHARSET = A01 (must be A00 or A02).\nIllegal configuration found.\n"},
        {"CHARSET A00\n", "Café", 2,
         "Row 2, column 4: U+00E9 'é' is not in character set A00.\n"
         "Illegal format string found.\n"},
        {"CHARSET A02\n", "ab\xE2\x82", 2,
         "Row 2, column 3: invalid UTF-8 (truncated sequence): 0xE2 0x82.\n"
         "Illegal format string found.\n"},
    };
    for (const refusal_t& c : cases) {
        const tool_result_t r =
            run_tool({write("set.prof", c.profile), font, path("out.bmp"), "ok", c.row});
        EXPECT_EQ(r.status, c.status) << c.profile << c.row;
        EXPECT_EQ(r.out, c.out);
        EXPECT_FALSE(fs::exists(path("out.bmp")));
    }
}

} // namespace
