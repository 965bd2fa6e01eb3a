// Whole sketches built unchanged against the host Arduino environment, run as a user runs
// them: their logs worked out by hand, and their screens at their marks as vimbracli shows
// them.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"

namespace {

struct run_result_t {
    int status = -1;
    std::string out;
    std::string err;
};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs `program` with `args` (and `env`, "NAME=value ..." or empty) in `dir`, standard input
// empty. The arguments are ours, quoted for the shell.
run_result_t run(const temp_dir_t& dir, const std::string& program,
                 const std::vector<std::string>& args, const std::string& env = "") {
    std::string command = "cd '" + dir.file("") + "' && " + env + " '" + program + "'";
    for (const std::string& arg : args) {
        command += " '" + arg + "'";
    }
    command += " </dev/null >out.txt 2>err.txt";
    const int status = std::system(command.c_str());
    run_result_t result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = read_file(dir.file("out.txt"));
    result.err = read_file(dir.file("err.txt"));
    return result;
}

struct timing_case_t {
    const char* name;
    std::vector<std::string> args;
    const char* env;
    int status;
    std::string out; // standard output: the log, or the start of the help
    std::string err;
};

// The small sketch's log, worked out from the cost of each call: 50 ms of power-up, then
// each byte on the line at the moment it reaches the controller, after the 48 us the 8-bit
// bus with RW on a pin takes (12 pin writes of 4 us), and 50 us for the controller before
// the next (2 ms after clear and home); the reset's function sets wait 4.5 ms and 150 us
// more. Serial at 115200 bit/s takes 10 bits a byte; analogRead 100 us, a pin 4 us. The
// mark comes after "600 1\r\n" on Serial: 50 + 100 + 260 + 86 + 4 + 86 + 173 us after "i".
constexpr const char* TIMING_BEGIN = "module 8x1\n"
                                     "wait 50048us\n"
                                     "cmd 0x30\n"
                                     "wait 4598us\n"
                                     "cmd 0x30\n"
                                     "wait 248us\n"
                                     "cmd 0x30\n"
                                     "wait 98us\n"
                                     "cmd 0x30\n"
                                     "wait 98us\n"
                                     "cmd 0x0C\n"
                                     "wait 98us\n"
                                     "cmd 0x01\n"
                                     "wait 2048us\n"
                                     "cmd 0x06\n"
                                     "wait 98us\n"
                                     "data 0x48\n"
                                     "wait 98us\n"
                                     "data 0x69\n";
constexpr const char* BAD_MARK =
    "mark: 'bad name!' is not a name (1 to 64 letters, digits, '_', '-' and '.'): not written\n";

// Failures name the case, not its bytes.
void PrintTo(const timing_case_t& c, std::ostream* out) {
    *out << c.name;
}

class TimingSketch : public ::testing::TestWithParam<timing_case_t> {};

TEST_P(TimingSketch, Runs) {
    const temp_dir_t dir;
    const timing_case_t& c = GetParam();
    const run_result_t result = run(dir, SKETCH_TIMING_PATH, c.args, c.env);
    EXPECT_EQ(result.status, c.status);
    if (c.args == std::vector<std::string>{"--help"}) {
        EXPECT_EQ(result.out.rfind(c.out, 0), 0U) << result.out;
    } else {
        EXPECT_EQ(result.out, c.out);
    }
    EXPECT_EQ(result.err, c.err);
}

// The mark at 58191 us; home reaches the controller 2 ms and 48 us later.
const std::string FULL_RUN = std::string(TIMING_BEGIN) + "wait 759us\n"
                                                         "mark greeting\n"
                                                         "wait 2048us\n"
                                                         "cmd 0x02\n"
                                                         "wait 939761us\n";
const std::string SHORT_RUN = std::string(TIMING_BEGIN) + "wait 759us\n"
                                                          "mark greeting\n"
                                                          "wait 1809us\n";
// With analogRead 0, Serial gets "0 0\r\n": 174 us less before the mark, at 58017 us; the
// limit, at 64239 us, falls in loop()'s delay after home, at 60065 us.
const std::string LOW_RUN = std::string(TIMING_BEGIN) + "wait 585us\n"
                                                        "mark greeting\n"
                                                        "wait 2048us\n"
                                                        "cmd 0x02\n"
                                                        "wait 4174us\n";

INSTANTIATE_TEST_SUITE_P(
    Runs, TimingSketch,
    ::testing::Values(
        timing_case_t{"FullSecond",
                      {"--run", "1s", "--analog", "A1=600", "--digital", "3=HIGH"},
                      "",
                      0,
                      FULL_RUN,
                      std::string("600 1\r\n") + BAD_MARK},
        // The limit falls in setup's delay(2): the log ends there.
        timing_case_t{"LimitFromTheEnvironment",
                      {"--analog=1=600", "--digital=3=1"},
                      "VIMBRA_RUN=60ms",
                      0,
                      SHORT_RUN,
                      std::string("600 1\r\n") + BAD_MARK},
        timing_case_t{"CommandLineOverTheEnvironment",
                      {"--run=64.239ms", "--analog", "A1=0", "--digital", "3=LOW"},
                      "VIMBRA_RUN=60ms",
                      0,
                      LOW_RUN,
                      std::string("0 0\r\n") + BAD_MARK},
        timing_case_t{"Help",
                      {"--help"},
                      "",
                      0,
                      "Usage: sketch_timing [--run TIME] [--log FILE] [--input FILE] [--eeprom FILE]",
                      ""},
        timing_case_t{"RunWithoutUnit",
                      {"--run", "5"},
                      "",
                      2,
                      "",
                      "sketch_timing: --run: not a time from 1us to 3600s: '5' (e.g. 5s, "
                      "1500ms)\n"},
        timing_case_t{"RunTooLong",
                      {"--run", "3600.000001s"},
                      "",
                      2,
                      "",
                      "sketch_timing: --run: not a time from 1us to 3600s: '3600.000001s' (e.g. "
                      "5s, 1500ms)\n"},
        timing_case_t{"RunZero",
                      {"--run", "0us"},
                      "",
                      2,
                      "",
                      "sketch_timing: --run: not a time from 1us to 3600s: '0us' (e.g. 5s, "
                      "1500ms)\n"},
        timing_case_t{"RunPartOfAMicrosecond",
                      {"--run", "1.5us"},
                      "",
                      2,
                      "",
                      "sketch_timing: --run: not a time from 1us to 3600s: '1.5us' (e.g. 5s, "
                      "1500ms)\n"},
        timing_case_t{"EnvironmentNotATime",
                      {},
                      "VIMBRA_RUN=soon",
                      2,
                      "",
                      "sketch_timing: VIMBRA_RUN: not a time from 1us to 3600s: 'soon' (e.g. "
                      "5s, 1500ms)\n"},
        timing_case_t{"AnalogOutOfRange",
                      {"--analog", "A0=1024"},
                      "",
                      2,
                      "",
                      "sketch_timing: --analog: not PIN=VALUE with a value from 0 to 1023: "
                      "'A0=1024'\n"},
        timing_case_t{"NoSuchAnalogInput",
                      {"--analog", "9=1"},
                      "",
                      2,
                      "",
                      "sketch_timing: --analog: no analog input 9 (A0 to A7, or 0 to 7)\n"},
        timing_case_t{"AnalogA8",
                      {"--analog", "A8=1"},
                      "",
                      2,
                      "",
                      "sketch_timing: --analog: not PIN=VALUE with a value from 0 to 1023: "
                      "'A8=1'\n"},
        timing_case_t{"DigitalPinOutOfRange",
                      {"--digital", "64=HIGH"},
                      "",
                      2,
                      "",
                      "sketch_timing: --digital: not PIN=HIGH or PIN=LOW with a pin from 0 to "
                      "63: '64=HIGH'\n"},
        timing_case_t{"DigitalLevelUnknown",
                      {"--digital", "3=maybe"},
                      "",
                      2,
                      "",
                      "sketch_timing: --digital: not PIN=HIGH or PIN=LOW with a pin from 0 to "
                      "63: '3=maybe'\n"},
        timing_case_t{"UnknownOption",
                      {"--frob"},
                      "",
                      2,
                      "",
                      "sketch_timing: unknown option '--frob' (--help lists them)\n"},
        timing_case_t{
            "LogWithoutValue", {"--log"}, "", 2, "", "sketch_timing: --log needs a value\n"},
        timing_case_t{"LogEmpty",
                      {"--log="},
                      "",
                      2,
                      "",
                      "sketch_timing: --log needs a file name ('-': standard output)\n"},
        timing_case_t{"LogUnwritable",
                      {"--log", "no/such/folder/x.log"},
                      "",
                      1,
                      "",
                      "sketch_timing: cannot write no/such/folder/x.log: No such file or "
                      "directory\n"}),
    [](const ::testing::TestParamInfo<timing_case_t>& param) { return param.param.name; });

// --log writes the file and nothing to standard output; "-" is standard output.
TEST(TimingSketchLog, GoesToTheFileNamed) {
    const temp_dir_t dir;
    const run_result_t to_file = run(dir, SKETCH_TIMING_PATH, {"--run", "1s", "--log", "t.log"});
    EXPECT_EQ(to_file.status, 0);
    EXPECT_EQ(to_file.out, "");
    const std::string log = read_file(dir.file("t.log"));
    const run_result_t to_stdout = run(dir, SKETCH_TIMING_PATH, {"--run", "1s", "--log", "-"});
    EXPECT_EQ(to_stdout.out, log);
    EXPECT_EQ(log.rfind(TIMING_BEGIN, 0), 0U) << log;
}

struct screen_case_t {
    const char* name;
    const char* program;
    std::vector<std::string> args;
    const char* profile; // under the source tree
    const char* mark;
    std::string text;    // what --text prints at the mark
    const char* picture; // under the source tree: the committed picture of the mark, or null
};

void PrintTo(const screen_case_t& c, std::ostream* out) {
    *out << c.name;
}

class SketchScreens : public ::testing::TestWithParam<screen_case_t> {};

TEST_P(SketchScreens, AtTheirMarks) {
    const temp_dir_t dir;
    const screen_case_t& c = GetParam();
    const run_result_t result = run(dir, c.program, c.args);
    ASSERT_EQ(result.status, 0) << result.err;
    // The log as the sketch wrote it; the tool finds the mark.
    const std::string log = dir.write("screen.log", result.out);
    const std::string profile = std::string(VIMBRA_SOURCE_DIR) + "/" + c.profile;
    const run_result_t text =
        run(dir, VIMBRACLI_PATH, {"--replay", log, "--at", c.mark, "-p", profile, "--text"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out, c.text);
    if (c.picture != nullptr) {
        const run_result_t compare =
            run(dir, VIMBRACLI_PATH,
                {"--replay", log, "--at", c.mark, "-p", profile, "--compare",
                 std::string(VIMBRA_SOURCE_DIR) + "/" + c.picture});
        EXPECT_EQ(compare.status, 0) << compare.out << compare.err;
    }
}

const std::vector<std::string> MENU_ARGS = {
    "--run", "37s", "--input", std::string(VIMBRA_SOURCE_DIR) + "/examples/sketches/menu/menu.stim"};
constexpr const char* MENU_PROFILE = "examples/profiles/blue-16x2.prof";
constexpr const char* NO_CURSOR = "no cursor, display on, cursor off, blink off\n";

// The menu's screens, from its code: LM35 reading 44 is 44 * 500 / 1024 = 21.48 degrees,
// 0x2C, and 44 & 7 = 0b100; the scroll moves three left; "olleh" goes leftwards from the last
// column; "ab" comes in at column 17 with autoscroll, pushing the display two left, which
// moves "hello" two left too.
INSTANTIATE_TEST_SUITE_P(
    Sketches, SketchScreens,
    ::testing::Values(
        screen_case_t{"MenuSplash", SKETCH_MENU_PATH, MENU_ARGS, MENU_PROFILE, "splash",
                      std::string("vimbra menu     \nv1.2            \n") + NO_CURSOR, nullptr},
        screen_case_t{"MenuFirst", SKETCH_MENU_PATH, MENU_ARGS, MENU_PROFILE, "menu",
                      std::string("\\x00Temperature    \n Counter        \n") + NO_CURSOR, nullptr},
        screen_case_t{"MenuSecond", SKETCH_MENU_PATH, MENU_ARGS, MENU_PROFILE, "menu-counter",
                      std::string(" Temperature    \n\\x00Counter        \n") + NO_CURSOR, nullptr},
        screen_case_t{"MenuTemperature", SKETCH_MENU_PATH, MENU_ARGS, MENU_PROFILE, "temperature",
                      std::string("Temp 21.5\\x01C     \nraw 0x2C b100   \n") + NO_CURSOR,
                      "examples/sketches/menu/temperature.png"},
        screen_case_t{"MenuEdit", SKETCH_MENU_PATH, MENU_ARGS, MENU_PROFILE, "edit",
                      "Set point:      \n22.8            \n"
                      "cursor row 2 column 5, display on, cursor on, blink off\n",
                      "examples/sketches/menu/edit.png"},
        screen_case_t{"MenuScrolled", SKETCH_MENU_PATH, MENU_ARGS, MENU_PROFILE, "scrolled",
                      std::string("scrolling >>    \n                \n") + NO_CURSOR, nullptr},
        screen_case_t{"MenuDirections", SKETCH_MENU_PATH, MENU_ARGS, MENU_PROFILE, "directions",
                      std::string("         hello  \n              ab\n") + NO_CURSOR, nullptr},
        screen_case_t{"MenuDisplayOff", SKETCH_MENU_PATH, MENU_ARGS, MENU_PROFILE, "display-off",
                      "                \n                \n"
                      "no cursor, display off, cursor off, blink off\n",
                      nullptr},
        // The other kinds of number, as the Arduino reference prints them.
        screen_case_t{"MenuNumbers", SKETCH_MENU_PATH, MENU_ARGS, MENU_PROFILE, "numbers",
                      std::string("-273 377 3.14   \n100000 9C40 3   \n") + NO_CURSOR, nullptr},
        // The EEPROM starts erased: a count of 0, then 1 after NEXT.
        screen_case_t{"MenuCounter", SKETCH_MENU_PATH, MENU_ARGS, MENU_PROFILE, "counter",
                      std::string("Counter (host)  \ncount 0         \n") + NO_CURSOR, nullptr},
        screen_case_t{"MenuCounted", SKETCH_MENU_PATH, MENU_ARGS, MENU_PROFILE, "counted",
                      std::string("Counter (host)  \ncount 1         \n") + NO_CURSOR, nullptr},
        // 20 s after the last press (Serial's 's' at 14 s) the backlight goes out.
        screen_case_t{"MenuAsleep", SKETCH_MENU_PATH, MENU_ARGS, MENU_PROFILE, "asleep",
                      std::string("Temp 21.5\\x01C     \nraw 0x2C b100   \n") + NO_CURSOR,
                      "examples/sketches/menu/asleep.png"},
        // A button held down from the start is one press: the arrow moves once.
        screen_case_t{"MenuButtonHeld",
                      SKETCH_MENU_PATH,
                      {"--run", "25s", "--digital", "2=LOW"},
                      MENU_PROFILE,
                      "asleep",
                      std::string(" Temperature    \n\\x00Counter        \n") + NO_CURSOR,
                      nullptr},
        // 40 x 4: rows 3 and 4 through the second controller, the cursor in the last cell,
        // then in the first, on the other controller.
        screen_case_t{"WideFilled",
                      SKETCH_WIDE_PATH,
                      {"--run", "3s"},
                      "examples/sketches/wide/wide-40x4.prof",
                      "filled",
                      "Row 1 ghijklmnopqrstuvwxyzabcdefghijklmn\n"
                      "Row 2 hijklmnopqrstuvwxyzabcdefghijklmno\n"
                      "Row 3 ijklmnopqrstuvwxyzabcdefghijklmnop\n"
                      "Row 4 jklmnopqrstuvwxyzabcdefghijklmnopq\n"
                      "cursor row 4 column 40, display on, cursor off, blink on\n",
                      "examples/sketches/wide/filled.png"},
        screen_case_t{"WideCursorTop",
                      SKETCH_WIDE_PATH,
                      {"--run", "3s"},
                      "examples/sketches/wide/wide-40x4.prof",
                      "cursor-top",
                      "Row 1 ghijklmnopqrstuvwxyzabcdefghijklmn\n"
                      "Row 2 hijklmnopqrstuvwxyzabcdefghijklmno\n"
                      "Row 3 ijklmnopqrstuvwxyzabcdefghijklmnop\n"
                      "Row 4 jklmnopqrstuvwxyzabcdefghijklmnopq\n"
                      "cursor row 1 column 1, display on, cursor off, blink on\n",
                      nullptr}),
    [](const ::testing::TestParamInfo<screen_case_t>& param) { return param.param.name; });

// How many pixels of a 24-bit BMP file have the colour (r, g, b); -1 for no such file.
long count_color(const std::string& bmp, int r, int g, int b) {
    const std::string bytes = read_file(bmp);
    if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') {
        return -1;
    }
    const auto u32 = [&bytes](std::size_t at) {
        return static_cast<long>(static_cast<unsigned char>(bytes[at]) |
                                 static_cast<unsigned char>(bytes[at + 1]) << 8 |
                                 static_cast<unsigned char>(bytes[at + 2]) << 16);
    };
    const long offset = u32(10);
    const long width = u32(18);
    const long height = u32(22);
    const long stride = (width * 3 + 3) / 4 * 4;
    if (offset + stride * height > static_cast<long>(bytes.size())) {
        return -1;
    }
    long n = 0;
    for (long y = 0; y < height; ++y) {
        for (long x = 0; x < width; ++x) {
            const std::size_t at = static_cast<std::size_t>(offset + y * stride + x * 3);
            n += static_cast<unsigned char>(bytes[at]) == b &&
                 static_cast<unsigned char>(bytes[at + 1]) == g &&
                 static_cast<unsigned char>(bytes[at + 2]) == r;
        }
    }
    return n;
}

// The backlight off at a mark: the blue module's panel (24, 72, 212) is then nearly black,
// (3, 10, 31) by the formats guide's worked example, and back when it comes on again. The
// same cells lit differ from the unlit picture.
TEST(SketchBacklight, OffAtAMarkShowsTheModuleUnlit) {
    const temp_dir_t dir;
    const run_result_t result = run(dir, SKETCH_MENU_PATH, MENU_ARGS);
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string log = dir.write("menu.log", result.out);
    const std::string profile = std::string(VIMBRA_SOURCE_DIR) + "/" + MENU_PROFILE;
    for (const char* mark : {"asleep", "awake"}) {
        const run_result_t picture = run(
            dir, VIMBRACLI_PATH, {"--replay", log, "--at", mark, "-p", profile, "-o", "at.bmp"});
        ASSERT_EQ(picture.status, 0) << picture.err;
        const bool unlit = std::string(mark) == "asleep";
        EXPECT_EQ(count_color(dir.file("at.bmp"), 3, 10, 31) > 0, unlit) << mark;
        EXPECT_EQ(count_color(dir.file("at.bmp"), 24, 72, 212) > 0, !unlit) << mark;
    }
    const run_result_t lit_against_unlit =
        run(dir, VIMBRACLI_PATH,
            {"--replay", log, "--at", "awake", "-p", profile, "--compare",
             std::string(VIMBRA_SOURCE_DIR) + "/examples/sketches/menu/asleep.png"});
    EXPECT_EQ(lit_against_unlit.status, 4) << lit_against_unlit.err;
}

} // namespace
