// The C++ API as a host-side test uses it: whole scenarios, checked against the command line
// run on the same input and against values worked out by hand.
#include "vimbra/vimbra.hpp"

#include "vimbra/lcd_shim.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "cli/tool_runner.hpp"
#include "support/temp_dir.hpp"

namespace {

const std::string SMALL_PROFILE = "CHCNT_X 8\nCHCNT_Y 2\nPIXSIZ_X 1\nPIXSIZ_Y 1\nCHOFS_X 2\n"
                                  "CHOFS_Y 2\nSHADOW_DEPTH 0\n";

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// What the command line prints for the same input is what the API's screen says, row by row
// and in its cursor line; typed rows and logs, with and without a character set.
struct text_case_t {
    const char* name;
    std::string profile;
    std::vector<std::string> rows; // typed rows, or
    std::string log;               // a command log
    const char* at;                // moment of the log ("" for its end)
};

void PrintTo(const text_case_t& c, std::ostream* os) {
    *os << c.name;
}

class TextLikeCommandLine : public testing::TestWithParam<text_case_t> {};

TEST_P(TextLikeCommandLine, SameTextAndCursorLine) {
    const text_case_t& c = GetParam();
    temp_dir_t dir;
    const std::string profile = dir.write("p.prof", c.profile);
    std::vector<std::string> args{"-p", profile, "--text"};
    const vimbra::module module = vimbra::module::open(vimbra::source::text(c.profile));
    ASSERT_TRUE(module.ok()) << module.outcome().message;
    vimbra::screen screen;
    if (c.log.empty()) {
        args.insert(args.end(), c.rows.begin(), c.rows.end());
        screen = module.show(c.rows);
    } else {
        args.insert(args.end(), {"--replay", dir.write("l.log", c.log)});
        std::int64_t at = -1;
        if (c.at[0] != '\0') {
            args.insert(args.end(), {"--at", std::string(c.at) + "ms"});
            at = std::stoll(c.at) * 1000; // the table's moments are in ms
        }
        screen = module.replay(c.log, at);
    }
    const tool_result_t tool = run_tool(args);
    ASSERT_EQ(tool.status, 0) << tool.out;
    ASSERT_TRUE(screen.ok()) << screen.outcome().message;
    EXPECT_EQ(screen.text(), tool.out);
    const std::vector<std::string> lines = lines_of(tool.out);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(module.rows()) + 1);
    EXPECT_EQ(screen.text_rows(), std::vector<std::string>(lines.begin(), lines.end() - 1));
}

INSTANTIATE_TEST_SUITE_P(
    Screens, TextLikeCommandLine,
    testing::Values(
        text_case_t{"escapes", SMALL_PROFILE, {"a\\\\b\\x01", "xyz"}, "", ""},
        text_case_t{"utf8_in_a02", SMALL_PROFILE + "CHARSET A02\n", {"\xC3\xA9t\xC3\xA9"}, "", ""},
        text_case_t{"log_with_cursor",
                    SMALL_PROFILE,
                    {},
                    "init\nprint \"Hi\"\ngoto 3 1\ncursor on\nblink on\n",
                    ""},
        text_case_t{"log_half_way",
                    SMALL_PROFILE,
                    {},
                    "init\nprint \"one\"\nwait 100ms\nclear\nprint \"two\"\nwait 1s\n",
                    "50"},
        text_case_t{"four_rows_two_chips",
                    "CHCNT_X 40\nCHCNT_Y 4\n",
                    {},
                    "init\ngoto 0 3\nprint \"bottom\"\ndisplay off\n",
                    ""}),
    [](const testing::TestParamInfo<text_case_t>& case_info) {
        return std::string(case_info.param.name);
    });

// Files and texts are one and the same source; and the picture's bytes are the PNG file the
// command line writes for the same rows.
TEST(VimbraModule, FilesTextsAndTheCommandLineMakeTheSamePicture) {
    temp_dir_t dir;
    const std::string font = "CODE 0x41\n#####\n#...#\n#...#\n#####\n#...#\n#...#\n#...#\n.....\n";
    const std::string profile_path = dir.write("p.prof", SMALL_PROFILE);
    const std::string font_path = dir.write("f.fnt", font);
    const vimbra::module from_files =
        vimbra::module::open(vimbra::source::file(profile_path), vimbra::source::file(font_path));
    const vimbra::module from_texts =
        vimbra::module::open(vimbra::source::text(SMALL_PROFILE), vimbra::source::text(font));
    const vimbra::screen a = from_files.show({"ABBA"});
    const vimbra::screen b = from_texts.show({"ABBA"});
    ASSERT_TRUE(a.ok() && b.ok());
    // 8 x 2 cells of 5 x 8 dots at one pixel, gaps 2 and 1 dot gap, margins 2.
    EXPECT_EQ(a.width(), 2 * 2 + 8 * (5 + 4) + 7 * 2);
    EXPECT_EQ(a.height(), 2 * 2 + 2 * (8 + 7) + 1 * 2);
    EXPECT_EQ(a.pixels(), b.pixels());
    EXPECT_EQ(a.pixels().size(), static_cast<std::size_t>(a.width() * a.height() * 3));

    const std::string png_path = dir.file("cli.png");
    const tool_result_t tool =
        run_tool({"-p", profile_path, "-f", font_path, "-o", png_path, "ABBA"});
    ASSERT_EQ(tool.status, 0) << tool.out;
    const std::vector<unsigned char> png = b.png();
    EXPECT_EQ(std::string(png.begin(), png.end()), read_file(png_path));
    // The font changed A: the built-in glyph gives another picture.
    EXPECT_NE(vimbra::module::open(vimbra::source::text(SMALL_PROFILE)).show({"ABBA"}).pixels(),
              a.pixels());
}

// Every way a call can fail gives its status and its one line; nothing is thrown.
TEST(VimbraModule, FailuresCarryTheirStatusAndLine) {
    temp_dir_t dir;
    const vimbra::module missing =
        vimbra::module::open(vimbra::source::file(dir.file("missing.prof")));
    EXPECT_EQ(missing.outcome().status, vimbra::status::unreadable);
    EXPECT_EQ(missing.outcome().message,
              dir.file("missing.prof") + ": cannot read the profile: No such file or directory");
    EXPECT_EQ(missing.show({"x"}).outcome().status, vimbra::status::bad_argument);

    const vimbra::module no_font =
        vimbra::module::open(vimbra::source::none(), vimbra::source::file(dir.file("none.fnt")));
    EXPECT_EQ(no_font.outcome().status, vimbra::status::unreadable);

    const vimbra::module zero = vimbra::module::open(vimbra::source::text("CHCNT_X 0\n"));
    EXPECT_EQ(zero.outcome().status, vimbra::status::bad_setting);
    EXPECT_EQ(zero.outcome().message, "Illegal setting: CHCNT_X = 0 (must be 1 or more).");

    const vimbra::module ok = vimbra::module::open(vimbra::source::text(SMALL_PROFILE));
    const vimbra::screen bad_row = ok.show({"fine", "\\x4"});
    EXPECT_EQ(bad_row.outcome().status, vimbra::status::bad_format);
    EXPECT_EQ(bad_row.outcome().message, "Illegal format string found.");
    EXPECT_TRUE(bad_row.text_rows().empty());

    const vimbra::screen bad_log = ok.replay("init\nfrobnicate\n");
    EXPECT_EQ(bad_log.outcome().status, vimbra::status::bad_format);
    EXPECT_EQ(bad_log.outcome().message.rfind("line 2: ", 0), 0u) << bad_log.outcome().message;

    vimbra::controller lcd = ok.drive();
    lcd.instruction(0x34); // 8-bit, one line, 5 x 10 dots: the picture cannot show it
    lcd.data('x');
    EXPECT_EQ(lcd.outcome().status, vimbra::status::bad_format);
    EXPECT_EQ(lcd.snapshot().outcome().status, vimbra::status::bad_format);
    EXPECT_EQ(lcd.select_chip(1).status, vimbra::status::bad_argument);
    const vimbra::controller none;
    EXPECT_EQ(none.snapshot().outcome().status, vimbra::status::bad_argument);
    EXPECT_EQ(none.chip_count(), 0);

    // A module not opened is no 16 x 2 module: every screen of it says so.
    const vimbra::module unopened;
    EXPECT_FALSE(unopened.ok());
    EXPECT_EQ(unopened.outcome().status, vimbra::status::bad_argument);
    EXPECT_EQ(unopened.outcome().message, "no module: module::open makes one");
    EXPECT_EQ(unopened.show({"x"}).outcome().status, vimbra::status::bad_argument);
    EXPECT_EQ(unopened.replay("init\n").outcome().status, vimbra::status::bad_argument);
    EXPECT_EQ(unopened.drive().snapshot().outcome().status, vimbra::status::bad_argument);

    // A name from the caller comes back escaped and shortened, its NUL and line end shown.
    vimbra::controller marked = ok.drive();
    const std::string odd = std::string("a\nb") + '\0' + std::string(100, 'c');
    const std::string shown = "a\\nb\\x00" + std::string(60, 'c') + "...";
    EXPECT_EQ(marked.mark(odd).message,
              "not a mark name: '" + shown + "' (1 to 64 letters, digits, '_', '-' and '.')");
    EXPECT_EQ(marked.screen_at(odd).outcome().message,
              "no mark '" + shown + "' in the controller (it has no marks)");

    const vimbra::comparison no_ref = ok.show({"x"}).compare(dir.file("none.png"));
    EXPECT_EQ(no_ref.outcome.status, vimbra::status::unreadable);
    const vimbra::comparison not_a_picture =
        ok.show({"x"}).compare(dir.write("text.png", "not a picture"));
    EXPECT_EQ(not_a_picture.outcome.status, vimbra::status::bad_format);
}

// A log's module line gives the grid when no profile does, and only warns beside one.
TEST(VimbraModule, LogModuleLineGivesTheGridWithoutAProfile) {
    const std::string log = "module 20x4\ninit\ngoto 0 3\nprint \"low\"\n";
    const vimbra::screen bare = vimbra::module::open(vimbra::source::none()).replay(log);
    ASSERT_TRUE(bare.outcome().ok()) << bare.outcome().message;
    EXPECT_EQ(bare.columns(), 20);
    ASSERT_EQ(bare.rows(), 4);
    EXPECT_EQ(bare.text_rows()[3], "low" + std::string(17, ' '));
    const vimbra::screen profiled =
        vimbra::module::open(vimbra::source::text(SMALL_PROFILE)).replay(log);
    EXPECT_EQ(profiled.outcome().status, vimbra::status::bad_format); // row 3 lies off its grid
}

// A controller driven byte by byte: DDRAM addresses, reads, two chips and the blink phase.
TEST(VimbraController, DrivenByteByByte) {
    const vimbra::module module =
        vimbra::module::open(vimbra::source::text("CHCNT_X 40\nCHCNT_Y 4\n"));
    vimbra::controller lcd = module.drive();
    ASSERT_EQ(lcd.chip_count(), 2);
    for (int chip = 0; chip < 2; ++chip) {
        ASSERT_TRUE(lcd.select_chip(chip).ok());
        lcd.send(false, std::vector<std::uint8_t>{0x38, 0x0C, 0x06}.data(), 3);
        lcd.instruction(0xC0 + 2); // line 2, position 2
        const std::string word = chip == 0 ? "top" : "low";
        lcd.send(true, reinterpret_cast<const std::uint8_t*>(word.data()), word.size());
    }
    ASSERT_TRUE(lcd.select_chip(0).ok());
    EXPECT_EQ(lcd.read_busy_address(), 0x45); // behind "top"
    lcd.instruction(0xC0 + 3);
    EXPECT_EQ(lcd.read_data(), 'o');
    EXPECT_EQ(lcd.read_busy_address(), 0x44); // the read stepped the counter

    lcd.instruction(0x0D); // blink on: the block shows in the first half of each 819.2 ms
    const vimbra::screen early = lcd.snapshot();
    lcd.wait_us(500000);
    EXPECT_EQ(lcd.now_us(), 500000);
    const vimbra::screen later = lcd.snapshot();
    ASSERT_TRUE(early.ok() && later.ok());
    const std::string blank(40, ' ');
    EXPECT_EQ(early.text_rows(), (std::vector<std::string>{blank, "  top" + std::string(35, ' '),
                                                           blank, "  low" + std::string(35, ' ')}));
    EXPECT_EQ(early.cursor(), (vimbra::cell{1, 4}));
    EXPECT_TRUE(early.blink_on());
    EXPECT_FALSE(early.cursor_on());
    // The blink phase shows in the one cell under the cursor and nowhere else.
    temp_dir_t dir;
    const std::vector<unsigned char> png = early.png();
    const std::string path = dir.write("early.png", std::string(png.begin(), png.end()));
    const vimbra::comparison blink = later.compare(path);
    EXPECT_EQ(blink.outcome.status, vimbra::status::different);
    EXPECT_EQ(blink.cells, (std::vector<vimbra::cell>{{1, 4}}));
    EXPECT_FALSE(blink.outside);
    EXPECT_EQ(blink.outcome.message, "1 cell differs: row 2 column 5");
    EXPECT_TRUE(early.compare(path).same());
}

// The profile's script prints to the module's console and reads from its input; nothing goes
// to the process's standard output.
// Reads answered by the chip: under chip timing BF is 1 while a clear executes (1.52 ms at
// 270 kHz, 2.16 ms at 190 kHz) and 0 after it, and a byte sent meanwhile is refused; under
// ideal timing BF reads 0 and every byte runs.
TEST(VimbraController, BusyFlagFollowsTheChipsTime) {
    struct busy_case_t {
        const char* name;
        bool chip_timing;
        int fosc_khz;
        std::int64_t read_after_us; // after the clear
        std::uint8_t busy_address;
        const char* row; // after 'X' during the clear and 'Y' once it is done
    };
    const std::vector<busy_case_t> cases{
        {"DuringClear", true, 270, 1519, 0x80, "Y   "},
        {"AfterClear", true, 270, 1520, 0x00, "Y   "},
        {"DuringClearAt190kHz", true, 190, 2159, 0x80, "Y   "},
        {"AfterClearAt190kHz", true, 190, 2160, 0x00, "Y   "},
        {"IdealNeverBusy", false, 270, 0, 0x01, "XY  "},
    };
    const vimbra::module module =
        vimbra::module::open(vimbra::source::text("CHCNT_X 4\nCHCNT_Y 1\n"));
    for (const busy_case_t& c : cases) {
        SCOPED_TRACE(c.name);
        vimbra::controller lcd = module.drive(vimbra::drive_options{c.chip_timing, c.fosc_khz});
        lcd.instruction(0x30);
        lcd.advance_to(100);
        lcd.instruction(0x0C);
        lcd.advance_to(200);
        lcd.instruction(0x01);
        lcd.data('X');
        lcd.advance_to(200 + c.read_after_us);
        EXPECT_EQ(lcd.read_busy_address(), c.busy_address);
        lcd.advance_to(5000);
        EXPECT_EQ(lcd.read_busy_address() & 0x80, 0);
        lcd.data('Y');
        const vimbra::screen shown = lcd.snapshot();
        ASSERT_TRUE(shown.ok());
        EXPECT_EQ(shown.text_rows(), std::vector<std::string>{c.row});
    }
}

// The shim reads through its sink: the controller's answers come from the chip; the log sink
// writes read lines and answers 0, as a replay under ideal timing reads BF.
TEST(VimbraController, ShimReadsThroughItsSink) {
    vimbra::controller lcd =
        vimbra::module::open(vimbra::source::text("CHCNT_X 16\nCHCNT_Y 2\n")).drive();
    vimbra::lcd_shim shim(vimbra::controller_sink, &lcd);
    shim.begin(16, 2);
    shim.print("hi");
    EXPECT_EQ(shim.read_busy_address(), 0x02);
    shim.setCursor(1, 0);
    EXPECT_EQ(shim.read_data(), 'i');
    EXPECT_EQ(shim.read_busy_address(), 0x02);
    shim.setCursor(0, 1);
    EXPECT_EQ(shim.read_busy_address(), 0x40);

    std::ostringstream out;
    vimbra::lcd_shim logged(out, [] { return std::uint64_t{0}; });
    logged.begin(8, 1);
    EXPECT_EQ(logged.read_busy_address(), 0);
    EXPECT_EQ(logged.read_data(), 0);
    EXPECT_EQ(out.str(), "module 8x1\ncmd 0x30 0x0C 0x01 0x06\nread busy\nread data\n");
}

TEST(VimbraModule, ScriptConsoleStaysInTheModule) {
    temp_dir_t dir;
    const std::string script =
        dir.write("s.bas", "10 dim a\n20 input a\n30 print a*2\n40 write 5, 1\n");
    vimbra::module module =
        vimbra::module::open(vimbra::source::text(SMALL_PROFILE + "SCRIPT " + script + "\n"));
    module.set_console_input("21\n");
    testing::internal::CaptureStdout();
    const vimbra::screen screen = module.show({"x"});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_TRUE(screen.ok());
    EXPECT_EQ(module.console_output(), "a? 42\r\nHAL:OUTPUT(PORT=5, DATA=0x00000001)\n");
    module.clear_console_output();
    EXPECT_EQ(module.console_output(), "");
}

} // namespace
