// Whole sketches built unchanged against the host Arduino environment, run as a user runs
// them: their logs worked out by hand, and their screens at their marks as vimbracli shows
// them.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <ostream>
#include <regex>
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
// bus with RW on a pin takes (12 pin writes of 4 us), and the controller's execution time at
// 190 kHz before the next: 37 us * 270 / 190, 53 us (2.16 ms after clear and home); the
// reset's function sets wait 4.5 ms and 150 us more. Serial at 115200 bit/s takes 10 bits a
// byte; analogRead 100 us, a pin 4 us. The mark comes after "600 1\r\n" on Serial: 53 + 100
// + 260 + 86 + 4 + 86 + 173 us after "i".
constexpr const char* TIMING_BEGIN = "module 8x1\n"
                                     "wait 50048us\n"
                                     "cmd 0x30\n"
                                     "wait 4601us\n"
                                     "cmd 0x30\n"
                                     "wait 251us\n"
                                     "cmd 0x30\n"
                                     "wait 101us\n"
                                     "cmd 0x30\n"
                                     "wait 101us\n"
                                     "cmd 0x0C\n"
                                     "wait 101us\n"
                                     "cmd 0x01\n"
                                     "wait 2208us\n"
                                     "cmd 0x06\n"
                                     "wait 101us\n"
                                     "data 0x48\n"
                                     "wait 101us\n"
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
    dir.write("ok.stim", "at 0 analog A1 600\nat 0 pin 3 high\n");
    dir.write("bad.stim", "at 0 analog A1 600\nat 2s jump\n");
    dir.write("big.bin", std::string(2000, '\xFF'));
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

// The mark at 58375 us; home reaches the controller 2 ms and 48 us later.
const std::string FULL_RUN = std::string(TIMING_BEGIN) + "wait 762us\n"
                                                         "mark greeting\n"
                                                         "wait 2048us\n"
                                                         "cmd 0x02\n"
                                                         "wait 939577us\n";
const std::string SHORT_RUN = std::string(TIMING_BEGIN) + "wait 762us\n"
                                                          "mark greeting\n"
                                                          "wait 1625us\n";
// With analogRead 0, Serial gets "0 0\r\n": 174 us less before the mark, at 58201 us; the
// limit, at 64239 us, falls in loop()'s delay after home, at 60249 us.
const std::string LOW_RUN = std::string(TIMING_BEGIN) + "wait 588us\n"
                                                        "mark greeting\n"
                                                        "wait 2048us\n"
                                                        "cmd 0x02\n"
                                                        "wait 3990us\n";

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
        // The option wins over a malformed VIMBRA_RUN.
        timing_case_t{"RunOverAJunkEnvironment",
                      {"--run", "1s", "--analog", "A1=600", "--digital", "3=HIGH"},
                      "VIMBRA_RUN=junk",
                      0,
                      FULL_RUN,
                      std::string("600 1\r\n") + BAD_MARK},
        // The same inputs from a stimulus; a clock that starts late changes no log time.
        timing_case_t{"Stimulus",
                      {"--run", "1s", "--input", "ok.stim"},
                      "",
                      0,
                      FULL_RUN,
                      std::string("600 1\r\n") + BAD_MARK},
        timing_case_t{"StartLate",
                      {"--run", "1s", "--input", "ok.stim", "--start-us", "4294967000"},
                      "",
                      0,
                      FULL_RUN,
                      std::string("600 1\r\n") + BAD_MARK},
        timing_case_t{"StimulusMalformed",
                      {"--input", "bad.stim"},
                      "",
                      2,
                      "",
                      "bad.stim:2: expected pin, press, analog or serial after the time, not "
                      "'jump'\n"},
        timing_case_t{"StimulusMissing",
                      {"--input", "none.stim"},
                      "",
                      1,
                      "",
                      "sketch_timing: cannot read none.stim: No such file or directory\n"},
        timing_case_t{"EepromTooLarge",
                      {"--eeprom", "big.bin"},
                      "",
                      2,
                      "",
                      "sketch_timing: big.bin: 2000 bytes, more than the EEPROM's 1024\n"},
        timing_case_t{"StartNotANumber",
                      {"--start-us", "-5"},
                      "",
                      2,
                      "",
                      "sketch_timing: --start-us: not a whole number of microseconds from 0 to "
                      "18446744073709551615: '-5'\n"},
        timing_case_t{"StartTooLarge",
                      {"--start-us=18446744073709551616"},
                      "",
                      2,
                      "",
                      "sketch_timing: --start-us: not a whole number of microseconds from 0 to "
                      "18446744073709551615: '18446744073709551616'\n"},
        timing_case_t{
            "Help",
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

const std::vector<std::string> MENU_ARGS = {"--run", "37s", "--input",
                                            std::string(VIMBRA_SOURCE_DIR) +
                                                "/examples/sketches/menu/menu.stim"};
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

// The time a log's wait lines add up to.
std::uint64_t log_us(const std::string& log) {
    std::uint64_t us = 0;
    for (std::size_t at = log.find("wait "); at != std::string::npos;
         at = log.find("\nwait ", at + 1)) {
        const std::size_t digits = log[at] == '\n' ? at + 6 : at + 5;
        us += std::strtoull(log.c_str() + digits, nullptr, 10);
    }
    return us;
}

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

enum hostile_misdeed {
    SPIN_SERIAL = 1,
    SPIN_WIRE = 2,
    LONG_PRINT = 3,
    FAULT = 4,
    EXIT_ONE = 6,
    CLOCK_WRAP = 9
};

struct hostile_case_t {
    const char* name;
    int misdeed;
    std::vector<std::string> args;
    int status;
    std::string err;   // standard error, the moment of a message as T
    std::uint64_t us;  // the time the log lasts; 0: less than the limit, more than the start
    std::size_t bytes; // at least this many data lines (and 1.25 ms of I2C each at most)
};

void PrintTo(const hostile_case_t& c, std::ostream* out) {
    *out << c.name;
}

class HostileProgram : public ::testing::TestWithParam<hostile_case_t> {};

// However the sketch misbehaves, the program ends, and its log holds whole lines that the
// tool reads back, and every mark.
TEST_P(HostileProgram, EndsWithWholeLines) {
    const temp_dir_t dir;
    const hostile_case_t& c = GetParam();
    dir.write("misdeed.stim", "at 0 analog A0 " + std::to_string(c.misdeed) + "\n");
    std::vector<std::string> args = {"--input", "misdeed.stim", "--log", "h.log"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const run_result_t result = run(dir, SKETCH_HOSTILE_PATH, args);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(std::regex_replace(result.err, std::regex("at [0-9.]+s of its clock"), "at T"),
              c.err);
    const std::string log = read_file(dir.file("h.log"));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), '\n');
    EXPECT_EQ(count_of(log, "mark ready\n"), 1U);
    if (c.us != 0) {
        EXPECT_EQ(log_us(log), c.us);
    } else {
        EXPECT_GT(log_us(log), 50000U);
        EXPECT_LT(log_us(log), 1000000U);
    }
    const std::size_t bytes = count_of(log, "data 0x78\n");
    EXPECT_GE(bytes, c.bytes);
    EXPECT_LE(bytes, c.us / 1250 + 1);
    const run_result_t text = run(dir, VIMBRACLI_PATH, {"--replay", "h.log", "--text"});
    EXPECT_EQ(text.status, 0) << text.err;
}

INSTANTIATE_TEST_SUITE_P(
    Misdeeds, HostileProgram,
    ::testing::Values(
        // Waiting in a loop on Serial or Wire moves the clock: the limit comes.
        hostile_case_t{"SpinOnSerial", SPIN_SERIAL, {"--run", "500ms"}, 0, "", 500000, 0},
        hostile_case_t{"SpinOnWire", SPIN_WIRE, {"--run", "500ms"}, 0, "", 500000, 0},
        // Two million bytes at 1.25 ms each: the write stops at the limit, after about 750.
        hostile_case_t{"LongPrintCutAtTheLimit", LONG_PRINT, {"--run", "1s"}, 0, "", 1000000, 700},
        // A fault or exit(1) fails the run (status 3) and says when; the log lasts until then.
        hostile_case_t{"Fault",
                       FAULT,
                       {"--run", "1s"},
                       3,
                       "sketch_hostile: the sketch was ended at T by Segmentation fault (signal "
                       "11)\n",
                       0,
                       0},
        hostile_case_t{"ExitOne",
                       EXIT_ONE,
                       {"--run", "1s"},
                       3,
                       "sketch_hostile: the sketch called exit(1) at T\n",
                       0,
                       0}),
    [](const ::testing::TestParamInfo<hostile_case_t>& param) { return param.param.name; });

struct clock_case_t {
    const char* name;
    const char* start_us;
    std::string serial;
};

void PrintTo(const clock_case_t& c, std::ostream* out) {
    *out << c.name;
}

class ClockStart : public ::testing::TestWithParam<clock_case_t> {};

// micros() and millis() read twice, 2 s apart: 2 s, the 4 us of a micros() and the 4 us of a
// millis() between them; a clock that starts near the wrap goes round within the run.
TEST_P(ClockStart, WrapsWithinARun) {
    const temp_dir_t dir;
    dir.write("wrap.stim", "at 0 analog A0 9\n");
    const run_result_t result =
        run(dir, SKETCH_HOSTILE_PATH,
            {"--input", "wrap.stim", "--run", "3s", "--start-us", GetParam().start_us});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, GetParam().serial);
}

// The menu goes to sleep 20 s after the last press wherever its clock starts: across the wrap
// of millis() (2^32 ms) or of micros() (2^32 us), 1.8 s into the run, between the splash and
// the first press, its log is the same. (Kept in an unsigned long, 64 bits here, the time of
// the last press would make it sleep at once.)
TEST(ClockStartMenu, SameLogAcrossTheWraps) {
    const temp_dir_t dir;
    std::vector<std::string> args = MENU_ARGS;
    const run_result_t from_zero = run(dir, SKETCH_MENU_PATH, args);
    ASSERT_EQ(from_zero.status, 0);
    for (const char* start : {"4294965496000", "4293167296"}) {
        args = MENU_ARGS;
        args.insert(args.end(), {"--start-us", start});
        const run_result_t late = run(dir, SKETCH_MENU_PATH, args);
        EXPECT_EQ(late.status, 0);
        EXPECT_EQ(late.out, from_zero.out) << start;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Starts, ClockStart,
    ::testing::Values(
        clock_case_t{"AtZero", "0", "micros did not wrap\r\n2000008\r\nmillis did not wrap\r\n"},
        // 2^32 - 967296 us: micros() wraps about 0.9 s into the run.
        clock_case_t{"NearTheMicrosWrap", "4294000000",
                     "micros wrapped\r\n2000008\r\nmillis did not wrap\r\n"},
        // 2^32 ms less 1 s: millis() wraps too, and micros() (4293967296 us at the start).
        clock_case_t{"NearTheMillisWrap", "4294966296000",
                     "micros wrapped\r\n2000008\r\nmillis wrapped\r\n"}),
    [](const ::testing::TestParamInfo<clock_case_t>& param) { return param.param.name; });

struct stop_case_t {
    const char* name;
    const char* signal;
    int status;
};

void PrintTo(const stop_case_t& c, std::ostream* out) {
    *out << c.name;
}

class StoppedProgram : public ::testing::TestWithParam<stop_case_t> {};

// A run of an hour stopped once it has drawn: its log holds whole lines that the tool reads,
// and the marks of the screens drawn until then.
TEST_P(StoppedProgram, LeavesWholeLines) {
    const temp_dir_t dir;
    dir.write("draw.stim", "at 0 analog A0 0\n");
    const std::string command = "cd '" + dir.file("") + "' && { '" + SKETCH_HOSTILE_PATH +
                                "' --run 3600s --input draw.stim --log k.log 2>/dev/null & "
                                "for i in $(seq 100); do grep -q 'mark drawn' k.log && break; "
                                "sleep 0.1; done; sleep 0.2; kill -" +
                                GetParam().signal + " $!; wait $!; echo $? > status; } 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(std::atoi(read_file(dir.file("status")).c_str()), GetParam().status);
    const std::string log = read_file(dir.file("k.log"));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), '\n');
    EXPECT_GT(count_of(log, "mark drawn\n"), 0U);
    const run_result_t text = run(dir, VIMBRACLI_PATH, {"--replay", "k.log", "--text"});
    EXPECT_EQ(text.status, 0) << text.err;
}

INSTANTIATE_TEST_SUITE_P(Signals, StoppedProgram,
                         ::testing::Values(stop_case_t{"Terminated", "TERM", 128 + 15},
                                           stop_case_t{"Killed", "KILL", 128 + 9}),
                         [](const ::testing::TestParamInfo<stop_case_t>& param) {
                             return param.param.name;
                         });

struct shipped_case_t {
    const char* name;
    const char* program;
    std::vector<std::string> args;
};

void PrintTo(const shipped_case_t& c, std::ostream* out) {
    *out << c.name;
}

class ShippedSketchTiming : public ::testing::TestWithParam<shipped_case_t> {};

// The logs of the shipped sketches keep the controller's time: --check-timing finds no fault
// from power-on, on the usual oscillator or the slowest, and the chip's timing shows at every
// mark what ideal timing shows.
TEST_P(ShippedSketchTiming, PassesTheChecks) {
    const temp_dir_t dir;
    const run_result_t result = run(dir, GetParam().program, GetParam().args);
    ASSERT_EQ(result.status, 0) << result.err;
    dir.write("s.log", result.out);
    for (const char* fosc : {"270", "190"}) {
        const run_result_t check = run(dir, VIMBRACLI_PATH,
                                       {"--replay", "s.log", "--timing", "chip", "--check-timing",
                                        "--power-on", "--fosc", fosc, "--text"});
        EXPECT_EQ(check.status, 0) << fosc << " kHz: " << check.err;
    }
    std::size_t marks = 0;
    for (std::size_t at = result.out.find("mark "); at != std::string::npos;
         at = result.out.find("\nmark ", at + 1)) {
        const std::size_t start = result.out[at] == '\n' ? at + 6 : at + 5;
        const std::string mark = result.out.substr(start, result.out.find('\n', start) - start);
        const run_result_t chip =
            run(dir, VIMBRACLI_PATH,
                {"--replay", "s.log", "--at", mark, "--timing", "chip", "-o", "chip.bmp"});
        const run_result_t ideal =
            run(dir, VIMBRACLI_PATH,
                {"--replay", "s.log", "--at", mark, "--timing", "ideal", "-o", "ideal.bmp"});
        ASSERT_EQ(chip.status + ideal.status, 0) << chip.err << ideal.err;
        EXPECT_EQ(read_file(dir.file("chip.bmp")), read_file(dir.file("ideal.bmp"))) << mark;
        ++marks;
    }
    EXPECT_GT(marks, 1U);
}

INSTANTIATE_TEST_SUITE_P(
    Sketches, ShippedSketchTiming,
    ::testing::Values(shipped_case_t{"Menu", SKETCH_MENU_PATH, MENU_ARGS},
                      shipped_case_t{"Encoder",
                                     SKETCH_ENCODER_PATH,
                                     {"--run", "4s", "--input",
                                      std::string(VIMBRA_SOURCE_DIR) +
                                          "/examples/sketches/encoder/encoder.stim"}},
                      shipped_case_t{"Wide", SKETCH_WIDE_PATH, {"--run", "3s"}}),
    [](const ::testing::TestParamInfo<shipped_case_t>& param) { return param.param.name; });

struct eeprom_case_t {
    const char* name;
    const char* before; // the file's bytes before the run, or null for no file
    int mode;           // its mode before, and after; -1: a new file's under the umask
    unsigned char count; // the counter's byte after the run: one more than before
};

void PrintTo(const eeprom_case_t& c, std::ostream* out) {
    *out << c.name;
}

class EepromFile : public ::testing::TestWithParam<eeprom_case_t> {};

// The menu counts once in 4 s of its stimulus, in the EEPROM that --eeprom starts from and
// keeps: 1024 bytes, the rest of a short file erased, the file's mode kept.
TEST_P(EepromFile, StartsFromAndKeepsIt) {
    const temp_dir_t dir;
    const eeprom_case_t& c = GetParam();
    if (c.before != nullptr) {
        dir.write("ee.bin", c.before);
        ASSERT_EQ(chmod(dir.file("ee.bin").c_str(), static_cast<mode_t>(c.mode)), 0);
    }
    std::vector<std::string> args = MENU_ARGS;
    args[1] = "4s";
    args.insert(args.end(), {"--eeprom", "ee.bin"});
    const run_result_t result = run(dir, SKETCH_MENU_PATH, args);
    EXPECT_EQ(result.status, 0) << result.err;
    const std::string after = read_file(dir.file("ee.bin"));
    ASSERT_EQ(after.size(), 1024U);
    EXPECT_EQ(static_cast<unsigned char>(after[0]), c.count);
    EXPECT_EQ(after.substr(2), std::string(1022, '\xFF'));
    struct stat info {};
    ASSERT_EQ(stat(dir.file("ee.bin").c_str(), &info), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(static_cast<int>(info.st_mode & 0777), c.mode >= 0 ? c.mode : 0666 & ~mask);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"ee.bin", "err.txt", "out.txt"}));
}

INSTANTIATE_TEST_SUITE_P(
    Files, EepromFile,
    ::testing::Values(eeprom_case_t{"Missing", nullptr, -1, 1},
                      eeprom_case_t{"Short", "\x05\xFF", 0600, 6},
                      eeprom_case_t{"Erased", "\xFF", 0640, 1}),
    [](const ::testing::TestParamInfo<eeprom_case_t>& param) { return param.param.name; });

} // namespace
