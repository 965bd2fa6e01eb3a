// Whole sketches run in-process, several in this one test program: each run its own child
// process, so that a sketch that exits, aborts, crashes or spins fails its run and never this
// program. Their screens come from the log through the C++ library.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "vimbra/arduino/vimbra_sketch.h"
#include "vimbra/vimbra.hpp"

VIMBRA_DECLARE_SKETCH(menu)
VIMBRA_DECLARE_SKETCH(encoder)
VIMBRA_DECLARE_SKETCH(hostile)
VIMBRA_DECLARE_SKETCH(reader)

namespace {

using vimbra::arduino::run_status;

const std::string SOURCE = VIMBRA_SOURCE_DIR;

std::string read_text(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::string text;
    char chunk[4096];
    for (std::size_t n = 0;
         file != nullptr && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
        text.append(chunk, n);
    }
    if (file != nullptr) {
        std::fclose(file);
    }
    return text;
}

// The screen's rows at a mark, joined by '|'; the log's own geometry, built-in glyphs.
std::string rows_at(const std::string& log, const std::string& mark) {
    const vimbra::module module = vimbra::module::open(vimbra::source::none());
    const vimbra::command_log read = module.read_log(log);
    if (!read.ok()) {
        return "log refused: " + read.outcome().message;
    }
    const vimbra::screen screen = read.screen_at(mark);
    std::string rows;
    for (const std::string& row : screen.text_rows()) {
        rows += (rows.empty() ? "" : "|") + row;
    }
    return screen.ok() ? rows : screen.outcome().message;
}

// The moment of a message ("at 1.25s of its clock") as T: it follows from the sketch's code.
std::string without_moment(const std::string& message) {
    return std::regex_replace(message, std::regex("at [0-9.]+s of its clock"), "at T");
}

enum misdeed {
    DRAW = 0,
    WAIT_SERIAL,
    WAIT_WIRE,
    LONG_PRINT,
    RAISE_SEGV,
    ABORT,
    EXIT_ONE,
    EXIT_ZERO,
    SPIN,
    CLOCK_WRAP,
    PRINT_MARK
};

std::string misdeed_stimulus(misdeed what) {
    return "at 0 analog A0 " + std::to_string(static_cast<int>(what)) + "\n";
}

struct run_case {
    const char* name;
    const vimbra::arduino::sketch* code;
    std::string stimulus;
    std::uint64_t run_us;
    run_status status;
    int code_value;      // exit's status or the signal
    std::string message; // with its moment as T
    std::string serial;
    std::vector<std::pair<std::string, std::string>> screens; // a mark and its rows
    std::uint64_t end_us;                                     // 0: not checked
};

void PrintTo(const run_case& c, std::ostream* out) {
    *out << c.name;
}

class InProcess : public ::testing::TestWithParam<run_case> {};

TEST_P(InProcess, Runs) {
    const run_case& c = GetParam();
    vimbra::arduino::run_options options;
    options.run_us = c.run_us;
    options.stimulus = c.stimulus;
    // A second for the sketch that spins; a margin for the others on a busy machine.
    options.wall_limit_ms = c.status == run_status::hung ? 1000 : 60000;
    const vimbra::arduino::run_result result = vimbra::arduino::run(*c.code, options);
    EXPECT_EQ(result.status, c.status) << result.message;
    EXPECT_EQ(result.code, c.code_value);
    EXPECT_EQ(without_moment(result.message), c.message);
    EXPECT_EQ(result.serial, c.serial);
    for (const auto& [mark, rows] : c.screens) {
        EXPECT_EQ(rows_at(result.log, mark), rows) << mark;
    }
    if (c.end_us != 0) {
        EXPECT_EQ(result.end_us, c.end_us);
    }
    // Whatever happened, the log holds whole lines, each of them read back.
    EXPECT_TRUE(result.log.empty() || result.log.back() == '\n');
    const vimbra::module module = vimbra::module::open(vimbra::source::none());
    EXPECT_TRUE(module.read_log(result.log).ok());
}

const std::string MENU_STIMULUS = read_text(SOURCE + "/examples/sketches/menu/menu.stim");
const std::string ENCODER_STIMULUS = read_text(SOURCE + "/examples/sketches/encoder/encoder.stim");

INSTANTIATE_TEST_SUITE_P(
    Sketches, InProcess,
    ::testing::Values(
        // Two sketches of the project, in this one program.
        run_case{"Menu",
                 &vimbra::sketches::menu,
                 MENU_STIMULUS,
                 37000000,
                 run_status::ok,
                 0,
                 "",
                 "celsius 21.48\r\n",
                 {{"counted", "Counter (host)  |count 1         "},
                  {"temperature", "Temp 21.5\\x01C     |raw 0x2C b100   "}},
                 37000000},
        run_case{"Encoder",
                 &vimbra::sketches::encoder,
                 ENCODER_STIMULUS,
                 4000000,
                 run_status::ok,
                 0,
                 "",
                 "",
                 // 0xFF is A00's full block.
                 {{"volume3", "Volume        3 |███             "},
                  {"volume-1", "Volume       -1 |                "},
                  {"volume8", "Volume        8 |████████        "}},
                 4000000},
        // Reads answered by the chip: the address counter after "AB" and after a move to row
        // 2 column 4 (0x43), the text, and the counter stepped by the two reads.
        run_case{"Reader",
                 &vimbra::sketches::reader,
                 "",
                 1000000,
                 run_status::ok,
                 0,
                 "",
                 "2\r\n43\r\nAB\r\n2\r\n",
                 {{"read", "ABC             |                "}},
                 1000000},
        // A sketch that calls exit(1), aborts or crashes fails its run, with the log up to then.
        run_case{"ExitOne",
                 &vimbra::sketches::hostile,
                 misdeed_stimulus(EXIT_ONE),
                 1000000,
                 run_status::exited,
                 1,
                 "hostile: the sketch called exit(1) at T",
                 "",
                 {{"ready", "ready           |                "}},
                 0},
        run_case{"Abort",
                 &vimbra::sketches::hostile,
                 misdeed_stimulus(ABORT),
                 1000000,
                 run_status::crashed,
                 6,
                 "hostile: the sketch was ended at T by Aborted (signal 6)",
                 "",
                 {{"ready", "ready           |                "}},
                 0},
        run_case{"Crash",
                 &vimbra::sketches::hostile,
                 misdeed_stimulus(RAISE_SEGV),
                 1000000,
                 run_status::crashed,
                 11,
                 "hostile: the sketch was ended at T by Segmentation fault (signal 11)",
                 "",
                 {{"ready", "ready           |                "}},
                 0},
        // exit(0) halts, as on the board: the run lasts to its limit with the display as it was.
        run_case{"ExitZero",
                 &vimbra::sketches::hostile,
                 misdeed_stimulus(EXIT_ZERO),
                 1000000,
                 run_status::ok,
                 0,
                 "",
                 "",
                 {{"ready", "ready           |                "}},
                 1000000},
        // A loop that calls nothing of the board is stopped by the wall-clock limit.
        run_case{"Spin",
                 &vimbra::sketches::hostile,
                 misdeed_stimulus(SPIN),
                 1000000,
                 run_status::hung,
                 0,
                 "hostile: the sketch did not reach its time limit (1s of its clock) in 1s of "
                 "real time, and was stopped: a loop that calls nothing of the board never moves "
                 "the clock",
                 "",
                 {},
                 0},
        // A byte that never comes: Serial.available() takes time, the limit arrives.
        run_case{"WaitSerialInVain",
                 &vimbra::sketches::hostile,
                 misdeed_stimulus(WAIT_SERIAL),
                 500000,
                 run_status::ok,
                 0,
                 "",
                 "",
                 {},
                 500000},
        run_case{"WaitSerial",
                 &vimbra::sketches::hostile,
                 misdeed_stimulus(WAIT_SERIAL) + "at 300ms serial \"x\"\n",
                 500000,
                 run_status::ok,
                 0,
                 "",
                 "got x\r\n",
                 {{"got", "ready           |                "}},
                 500000},
        run_case{"WaitWireInVain",
                 &vimbra::sketches::hostile,
                 misdeed_stimulus(WAIT_WIRE),
                 500000,
                 run_status::ok,
                 0,
                 "",
                 "",
                 {},
                 500000},
        // The stimulus's own errors come before anything runs.
        run_case{"BadStimulus",
                 &vimbra::sketches::hostile,
                 "at 1s pin 99 low\n",
                 500000,
                 run_status::bad_input,
                 0,
                 "stimulus:1: '99' is not a pin from 0 to 63 (or A0 to A7)",
                 "",
                 {},
                 0}),
    [](const ::testing::TestParamInfo<run_case>& param) { return param.param.name; });

// The same sketch twice: each run starts from fresh globals; the EEPROM carries over only
// when given.
TEST(InProcessAgain, StartsFresh) {
    vimbra::arduino::run_options options;
    options.run_us = 4000000;
    options.stimulus = MENU_STIMULUS;
    const auto first = vimbra::arduino::run(vimbra::sketches::menu, options);
    const auto second = vimbra::arduino::run(vimbra::sketches::menu, options);
    ASSERT_TRUE(first.ok()) << first.message;
    EXPECT_EQ(first.log, second.log);
    ASSERT_EQ(first.eeprom.size(), 1024U);
    EXPECT_EQ(first.eeprom[0], 1); // counted once
    options.eeprom = first.eeprom;
    const auto third = vimbra::arduino::run(vimbra::sketches::menu, options);
    EXPECT_EQ(rows_at(third.log, "counted"), "Counter (host)  |count 2         ");
    EXPECT_EQ(third.marks.front(), "splash");
    EXPECT_EQ(third.marks.size(), 5U); // splash, menu, menu-counter, counter, counted
}

} // namespace
