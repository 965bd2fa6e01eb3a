// The option form as a user meets it: whole command lines, their status, their messages and
// what they print or write.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "cli/tool_runner.hpp"
#include "support/temp_dir.hpp"

namespace {

// A 24-bit BMP read by hand: size, then RGB rows top first.
struct picture_t {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
    const unsigned char* at(int x, int y) const {
        return &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
    }
};

picture_t read_bmp(const std::string& bytes) {
    picture_t p;
    if (bytes.size() < 54) {
        return p;
    }
    const auto byte = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const auto u32 = [&](std::size_t i) {
        return byte(i) | byte(i + 1) << 8 | byte(i + 2) << 16 | byte(i + 3) << 24;
    };
    p.width = u32(18);
    p.height = u32(22);
    const std::size_t stride = (3 * static_cast<std::size_t>(p.width) + 3) / 4 * 4;
    for (int y = p.height - 1; y >= 0; --y) {
        for (int x = 0; x < p.width; ++x) {
            const std::size_t i = 54 + static_cast<std::size_t>(y) * stride + 3 * x;
            p.rgb.insert(p.rgb.end(), {byte(i + 2), byte(i + 1), byte(i)});
        }
    }
    return p;
}

// 'H' of the built-in glyphs with one more dot, in the middle of its bottom row.
const std::string H_PLUS_DOT =
    "CODE 0x48\no...o\no...o\no...o\nooooo\no...o\no...o\no...o\n..o..\n";
const std::string CUSTOM_GLYPHS =
    "CODE 0x00\nooooo\no...o\no...o\no...o\no...o\no...o\nooooo\n.....\n"
    "CODE 0x01\n..o..\n.ooo.\nooooo\n..o..\n..o..\n..o..\n..o..\n.....\n";
// 8-bit bus, two lines; display and underline cursor on; "Hi".
const std::string LOG_HI = "cmd 0x38 0x0E\ndata 0x48 0x69\n";
// Display on with a blinking cursor at the first cell, then a second passes.
const std::string LOG_BLINK = "cmd 0x38 0x0D\nwait 1s\n";
const std::string BLANK_ROW(16, ' ');
const std::string BLANK_STATUS = "no cursor, display on, cursor off, blink off\n";

class OptionCliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_.write("a00.prof", "CHARSET = A00\n");
        dir_.write("a02.prof", "CHARSET = A02\n");
        dir_.write("narrow.prof", "CHCNT_X 8\n");
        dir_.write("black.prof", "FRAME_X 2\nFRAME_Y 2\n");
        dir_.write("red.prof", "FRAME_X 2\nFRAME_Y 2\nFRCOL.R 255\n");
        dir_.write("zero.prof", "CHCNT_X 0\n");
        dir_.write("long.prof", "CHCNT_X 200\n");
        dir_.write("loop.bas", "10 goto 10\n");
        dir_.write("loop.prof", "SCRIPT " + f("loop.bas") + "\n");
        dir_.write("dot.fnt", H_PLUS_DOT);
        dir_.write("custom.fnt", CUSTOM_GLYPHS);
        dir_.write("hi.log", LOG_HI);
        dir_.write("blink.log", LOG_BLINK);
        dir_.write("bad.log", "cmd 0x38\nfrobnicate 1\n");
        dir_.write("notes.txt", "not a picture\n");
        // References, made by the positional form.
        run_tool({"", f("dot.fnt"), f("xh-dot.bmp"), "xH"});
        run_tool({"", "", f("upper.bmp"), "ABCDEFGHIJKL"});
        run_tool({f("narrow.prof"), "", f("narrow.bmp"), "xH"});
        run_tool({f("black.prof"), "", f("black.bmp"), "xH"});
    }
    std::string f(const std::string& name) const { return dir_.file(name); }
    std::string read(const std::string& name) const { return read_file(f(name)); }

    temp_dir_t dir_{"option_cli"};
};

TEST_F(OptionCliTest, CommandLinesGiveTheirStatusAndMessages) {
    struct case_t {
        std::vector<std::string> args;
        std::string input; // standard input
        int status;
        std::string err; // the whole of standard error
        std::string out; // the whole of standard output; "*" when not looked at
    };
    const std::string usage = "Run 'vimbracli --help' for usage.\n";
    const case_t cases[] = {
        {{"--version"}, "", 0, "", "vimbracli 1.0.0\n"},
        {{"--bogus", f("x.bmp")},
         "",
         2,
         "vimbracli: The following argument was not expected: --bogus\n" + usage,
         ""},
        {{"--replay", f("hi.log"), f("x.bmp"), "Hello"},
         "",
         2,
         "vimbracli: rows and --replay cannot be combined\n" + usage,
         ""},
        {{"-p", f("a00.prof")},
         "",
         2,
         "vimbracli: no output named (give OUTPUT, -o FILE, --compare or --text)\n" + usage,
         ""},
        {{"--at", "1s", f("x.bmp")}, "", 2, "vimbracli: --at needs --replay\n" + usage, ""},
        {{"--replay", f("hi.log"), "--at", "soon", f("x.bmp")},
         "",
         2,
         "vimbracli: --at: not a time: 'soon' (e.g. 1.5s, 250ms, 40us)\n" + usage,
         ""},
        {{"--text", "-o", "-"},
         "",
         2,
         "vimbracli: only one of the picture, the --diff picture and --text can go to standard "
         "output\n" +
             usage,
         ""},
        // --compare: equal, one dot, twelve cells, the frame only, another size.
        {{"-f", f("dot.fnt"), "--compare", f("xh-dot.bmp"), "xH"}, "", 0, "", ""},
        {{"--compare", f("xh-dot.bmp"), "xH"},
         "",
         4,
         f("xh-dot.bmp") + ": 1 cell differs: row 1 column 2\n",
         ""},
        {{"--compare", f("upper.bmp"), "abcdefghijkl"},
         "",
         4,
         f("upper.bmp") + ": 12 cells differ: row 1 column 1, row 1 column 2, row 1 column 3, "
                          "row 1 column 4, row 1 column 5, row 1 column 6, row 1 column 7, "
                          "row 1 column 8, row 1 column 9, row 1 column 10 and 2 more\n",
         ""},
        {{"-p", f("red.prof"), "--compare", f("black.bmp"), "xH"},
         "",
         4,
         f("black.bmp") + ": pixels outside the cells differ\n",
         ""},
        {{"-p", f("red.prof"), "--compare", f("black.bmp"), "xh"},
         "",
         4,
         f("black.bmp") + ": 1 cell differs: row 1 column 2; pixels outside the cells differ "
                          "too\n",
         ""},
        {{"--compare", f("narrow.bmp"), "xH"},
         "",
         4,
         f("narrow.bmp") + ": sizes differ: the picture is 446 x 112, the reference 238 x 112\n",
         ""},
        {{"--compare", f("none.png"), "xH"},
         "",
         1,
         f("none.png") + ": cannot read the reference: No such file or directory\n",
         ""},
        {{"--compare", f("notes.txt"), "xH"},
         "",
         1,
         f("notes.txt") + ": not a PNG or BMP picture\n",
         ""},
        // --text: no set, A00, A02; the status line of typed rows.
        {{"--text", "a\\\\b\\x7F~", ""},
         "",
         0,
         "",
         "a\\\\b\\x7F~" + std::string(11, ' ') + "\n" + BLANK_ROW + "\n" + BLANK_STATUS},
        {{"-p", f("a00.prof"), "--text", "¥→A", "\\x01\\x80"},
         "",
         0,
         "",
         "¥→A" + std::string(13, ' ') + "\n\\x01\\x80" + std::string(14, ' ') + "\n" +
             BLANK_STATUS},
        {{"-p", f("a02.prof"), "--text", "a\\\\bÄ"},
         "",
         0,
         "",
         "a\\\\bÄ" + std::string(12, ' ') + "\n" + BLANK_ROW + "\n" + BLANK_STATUS},
        // A log: A00 without a CHARSET, the cursor after "Hi"; from a file or standard input.
        {{"--replay", f("hi.log"), "--text"},
         "",
         0,
         "",
         "Hi" + std::string(14, ' ') + "\n" + BLANK_ROW +
             "\ncursor row 1 column 3, display on, cursor on, blink off\n"},
        {{"--replay", "-", "--text"},
         LOG_HI,
         0,
         "",
         "Hi" + std::string(14, ' ') + "\n" + BLANK_ROW +
             "\ncursor row 1 column 3, display on, cursor on, blink off\n"},
        {{"--replay", f("bad.log"), f("x.bmp")}, "", 2, "*", ""},
        // Files that cannot be used, and a picture that cannot be written.
        {{"-p", f("none.prof"), f("x.bmp")},
         "",
         1,
         f("none.prof") + ": cannot read the profile: No such file or directory\n",
         ""},
        {{"-f", f("none.fnt"), f("x.bmp")},
         "",
         1,
         f("none.fnt") + ": cannot read the font: No such file or directory\n",
         ""},
        {{"-p", f("zero.prof"), f("x.bmp")},
         "",
         1,
         f("zero.prof") + ": Illegal setting: CHCNT_X = 0 (must be 1 or more).\n",
         ""},
        {{"-o", f("x.bmp"), "\\q"}, "", 2, "Illegal format string found.\n", ""},
        // 200 cells of 24 pixels, 199 gaps of 2 and margins of 16: 5230 x 112 pixels.
        {{"-p", f("long.prof"), "--scale", "16", f("x.bmp")},
         "",
         1,
         "Picture too large: 83680 x 1792 pixels at scale 16 (at most 65535 x 65535 and 2 GiB).\n",
         ""},
        {{"-o", f("no/such/x.bmp")},
         "",
         3,
         f("no/such/x.bmp") + ": could not be written: No such file or directory\n",
         ""},
        // The script is stopped, the picture still written.
        {{"-p", f("loop.prof"), "--max-steps", "1000", f("loop.bmp")},
         "",
         0,
         f("loop.bas") + ": Script error: step limit reached(Line:1)\n",
         ""},
    };
    for (const case_t& c : cases) {
        const tool_io_result_t run = run_tool_io(c.args, c.input);
        const std::string line = c.args.front() + " " + c.args.back();
        EXPECT_EQ(run.status, c.status) << line << "\n" << run.err;
        if (c.err == "*") {
            EXPECT_EQ(run.err.rfind(f("bad.log") + ": line 2: ", 0), 0U) << run.err;
            EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        } else {
            EXPECT_EQ(run.err, c.err) << line;
        }
        if (c.out != "*") {
            EXPECT_EQ(run.out, c.out) << line;
        }
    }
    EXPECT_EQ(dir_.entries().size(), 20U) << "a refused line wrote a file";
    EXPECT_FALSE(read("loop.bmp").empty());
}

TEST_F(OptionCliTest, HelpNamesTheFormsAndTheStatuses) {
    const tool_io_result_t run = run_tool_io({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    for (const char* text : {"vimbracli [options] OUTPUT [ROW...]", "--replay LOG", "--compare REF",
                             "4 --compare found a difference",
                             "5 --check-timing found a timing fault"}) {
        EXPECT_NE(run.out.find(text), std::string::npos) << text;
    }
}

// Standard output carries the same bytes as the file of the positional form.
TEST_F(OptionCliTest, DashWritesThePictureToStandardOutput) {
    run_tool({f("a00.prof"), f("custom.fnt"), f("want.bmp"), "Hello", "\\x00\\x01"});
    run_tool({f("a00.prof"), f("custom.fnt"), f("want.png"), "Hello", "\\x00\\x01"});
    const std::vector<std::string> base = {"-p", f("a00.prof"), "-f", f("custom.fnt")};
    std::vector<std::string> bmp = base;
    bmp.insert(bmp.end(), {"-", "Hello", "\\x00\\x01"});
    std::vector<std::string> png = base;
    png.insert(png.end(), {"--format", "png", "-o", "-", "Hello", "\\x00\\x01"});
    const tool_io_result_t bmp_run = run_tool_io(bmp);
    const tool_io_result_t png_run = run_tool_io(png);
    EXPECT_EQ(bmp_run.status, 0);
    EXPECT_EQ(png_run.status, 0);
    EXPECT_TRUE(bmp_run.out == read("want.bmp"));
    EXPECT_TRUE(png_run.out == read("want.png"));
    EXPECT_EQ(png_run.out.substr(1, 3), "PNG");
}

// A row with user glyphs, printed by --text and given back as a row, draws the same.
TEST_F(OptionCliTest, TextPastesBackToTheSamePicture) {
    const tool_io_result_t text =
        run_tool_io({"-f", f("custom.fnt"), "-o", f("ref.bmp"), "--text", "\\x00\\x01A\\\\"});
    ASSERT_EQ(text.status, 0);
    const std::string row = text.out.substr(0, text.out.find('\n'));
    EXPECT_EQ(row, "\\x00\\x01A\\\\" + std::string(12, ' '));
    const tool_io_result_t again =
        run_tool_io({"-f", f("custom.fnt"), "--compare", f("ref.bmp"), row});
    EXPECT_EQ(again.status, 0) << again.err;
}

// The blink phase follows --at: all dots lit first, the glyph after 409.6 ms.
TEST_F(OptionCliTest, AtChoosesTheMomentOfTheLog) {
    ASSERT_EQ(run_tool_io({"--replay", f("blink.log"), "--at", "0s", f("lit.bmp")}).status, 0);
    const tool_io_result_t later =
        run_tool_io({"--replay", f("blink.log"), "--at", "500ms", "--compare", f("lit.bmp")});
    EXPECT_EQ(later.status, 4);
    EXPECT_EQ(later.err, f("lit.bmp") + ": 1 cell differs: row 1 column 1\n");
    const tool_io_result_t again =
        run_tool_io({"--replay", f("blink.log"), "--at", "1s", "--compare", f("lit.bmp")});
    EXPECT_EQ(again.status, 0) << again.err; // 1 s is in the third phase: all dots again
}

// The marked picture differs from the rendered one exactly inside the differing cell:
// row 1, column 2 of the default module spans x 41..64 and y 15..53.
TEST_F(OptionCliTest, DiffMarksExactlyTheDifferingCells) {
    const tool_io_result_t run = run_tool_io(
        {"--compare", f("xh-dot.bmp"), "--diff", f("diff.bmp"), "-o", f("got.bmp"), "xH"});
    EXPECT_EQ(run.status, 4);
    const picture_t got = read_bmp(read("got.bmp"));
    const picture_t diff = read_bmp(read("diff.bmp"));
    ASSERT_EQ(got.width, 446);
    ASSERT_EQ(diff.width, 446);
    ASSERT_EQ(diff.height, got.height);
    int tinted = 0;
    for (int y = 0; y < got.height; ++y) {
        for (int x = 0; x < got.width; ++x) {
            const unsigned char* g = got.at(x, y);
            const unsigned char* d = diff.at(x, y);
            const bool inside = x >= 41 && x <= 64 && y >= 15 && y <= 53;
            const int want_r = inside ? (g[0] + 255) / 2 : g[0];
            const int want_g = inside ? g[1] / 2 : g[1];
            const int want_b = inside ? (g[2] + 255) / 2 : g[2];
            const bool ok = d[0] == want_r && d[1] == want_g && d[2] == want_b;
            EXPECT_TRUE(ok) << x << "," << y;
            tinted += inside && ok ? 1 : 0;
            if (!ok) {
                return;
            }
        }
    }
    EXPECT_EQ(tinted, 24 * 39);
}

TEST_F(OptionCliTest, ScaleRepeatsEveryPixel) {
    ASSERT_EQ(run_tool_io({"-p", f("black.prof"), f("one.bmp"), "xH"}).status, 0);
    ASSERT_EQ(run_tool_io({"-p", f("black.prof"), "--scale", "3", f("three.bmp"), "xH"}).status, 0);
    const picture_t one = read_bmp(read("one.bmp"));
    const picture_t three = read_bmp(read("three.bmp"));
    ASSERT_EQ(three.width, 3 * one.width);
    ASSERT_EQ(three.height, 3 * one.height);
    for (int y = 0; y < three.height; ++y) {
        for (int x = 0; x < three.width; ++x) {
            ASSERT_EQ(std::string(reinterpret_cast<const char*>(three.at(x, y)), 3),
                      std::string(reinterpret_cast<const char*>(one.at(x / 3, y / 3)), 3))
                << x << "," << y;
        }
    }
    // Repeated rows cost the PNG little: without the "up" filter on them it grows 3.4 times.
    ASSERT_EQ(run_tool_io({"-o", f("one.png"), "Hello World 0123", "abcdefghijklmnop"}).status, 0);
    ASSERT_EQ(
        run_tool_io({"--scale", "4", "-o", f("four.png"), "Hello World 0123", "abcdefghijklmnop"})
            .status,
        0);
    EXPECT_LE(read("four.png").size(), 3 * read("one.png").size());
    EXPECT_EQ(run_tool_io({"--scale", "17", f("x.bmp")}).status, 2);
}

} // namespace
