#include "vimbra/lcd_shim.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>

namespace {

// Calls on a shim whose clock reads `now`, in microseconds, which the calls may move on.
using drive_t = void (*)(vimbra::lcd_shim& lcd, std::uint64_t& now);

struct shim_case_t {
    const char* name;
    drive_t drive;
    const char* log; // the lines expected, worked out from the instruction set
};

class LcdShimTable : public ::testing::TestWithParam<shim_case_t> {};

TEST_P(LcdShimTable, WritesTheLog) {
    std::uint64_t now = 1000;
    std::ostringstream out;
    vimbra::lcd_shim lcd(out, [&now] { return now; });
    GetParam().drive(lcd, now);
    EXPECT_EQ(out.str(), GetParam().log);
}

const std::uint8_t ARROW[8] = {0x00, 0x08, 0x0C, 0x1F, 0x0C, 0x08, 0x00, 0x15};

INSTANTIATE_TEST_SUITE_P(
    Calls, LcdShimTable,
    ::testing::Values(
        shim_case_t{"BeginTwoRows", [](vimbra::lcd_shim& lcd, std::uint64_t&) { lcd.begin(16, 2); },
                    "cmd 0x38 0x0C 0x01 0x06\n"},
        shim_case_t{"BeginOneRowThenText",
                    [](vimbra::lcd_shim& lcd, std::uint64_t&) {
                        lcd.begin(8, 1);
                        lcd.print("Hi");
                        lcd.print(-42);
                        lcd.print(7UL);
                        lcd.print("");
                        lcd.write(0);
                    },
                    "cmd 0x30 0x0C 0x01 0x06\ndata 0x48 0x69\ndata 0x2D 0x34 0x32\n"
                    "data 0x37\ndata 0x00\n"},
        // Rows 2 and 3 of a 20 x 4 module start at 20 and 0x40 + 20; rows past the last
        // go to the last.
        shim_case_t{"CursorOnFourRows",
                    [](vimbra::lcd_shim& lcd, std::uint64_t&) {
                        lcd.begin(20, 4);
                        lcd.setCursor(3, 2);
                        lcd.setCursor(0, 3);
                        lcd.setCursor(5, 9);
                        lcd.home();
                        lcd.clear();
                    },
                    "cmd 0x38 0x0C 0x01 0x06\ncmd 0x97\ncmd 0xD4\ncmd 0xD9\ncmd 0x02\ncmd 0x01\n"},
        shim_case_t{"CursorOnTwoRowsClampsToTheSecond",
                    [](vimbra::lcd_shim& lcd, std::uint64_t&) {
                        lcd.begin(16, 2);
                        lcd.setCursor(15, 1);
                        lcd.setCursor(2, 3);
                    },
                    "cmd 0x38 0x0C 0x01 0x06\ncmd 0xCF\ncmd 0xC2\n"},
        shim_case_t{"GlyphLocationWrapsAtEight",
                    [](vimbra::lcd_shim& lcd, std::uint64_t&) { lcd.createChar(9, ARROW); },
                    "cmd 0x48\ndata 0x00 0x08 0x0C 0x1F 0x0C 0x08 0x00 0x15\n"},
        shim_case_t{"DisplayControlKeepsTheOtherBits",
                    [](vimbra::lcd_shim& lcd, std::uint64_t&) {
                        lcd.begin(16, 2);
                        lcd.cursor();
                        lcd.blink();
                        lcd.noDisplay();
                        lcd.noCursor();
                        lcd.display();
                        lcd.noBlink();
                    },
                    "cmd 0x38 0x0C 0x01 0x06\ncmd 0x0E\ncmd 0x0F\ncmd 0x0B\ncmd 0x09\n"
                    "cmd 0x0D\ncmd 0x0C\n"},
        shim_case_t{"EntryModeAndShifts",
                    [](vimbra::lcd_shim& lcd, std::uint64_t&) {
                        lcd.rightToLeft();
                        lcd.autoscroll();
                        lcd.leftToRight();
                        lcd.noAutoscroll();
                        lcd.scrollDisplayLeft();
                        lcd.scrollDisplayRight();
                        lcd.command(0xC0);
                    },
                    "cmd 0x04\ncmd 0x05\ncmd 0x07\ncmd 0x06\ncmd 0x18\ncmd 0x1C\ncmd 0xC0\n"},
        // Time before a call becomes a wait; no time, no wait; sync writes what is left.
        shim_case_t{"WaitsFromTheClock",
                    [](vimbra::lcd_shim& lcd, std::uint64_t& now) {
                        now += 250;
                        lcd.clear();
                        lcd.write(0x41);
                        now += 1500000;
                        lcd.write(0x42);
                        now += 7;
                        lcd.sync();
                        lcd.sync();
                    },
                    "wait 250us\ncmd 0x01\ndata 0x41\nwait 1500000us\ndata 0x42\nwait 7us\n"}),
    [](const ::testing::TestParamInfo<shim_case_t>& param) { return param.param.name; });

} // namespace
