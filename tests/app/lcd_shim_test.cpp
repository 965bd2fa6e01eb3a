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
                    "module 16x2\ncmd 0x38 0x0C 0x01 0x06\n"},
        shim_case_t{"BeginOneRowThenText",
                    [](vimbra::lcd_shim& lcd, std::uint64_t&) {
                        lcd.begin(8, 1);
                        lcd.print("Hi");
                        lcd.print(-42);
                        lcd.print(7UL);
                        lcd.print("");
                        lcd.write(0);
                    },
                    "module 8x1\ncmd 0x30 0x0C 0x01 0x06\ndata 0x48 0x69\ndata 0x2D 0x34 0x32\n"
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
                    "module 20x4\ncmd 0x38 0x0C 0x01 0x06\ncmd 0x97\ncmd 0xD4\ncmd 0xD9\n"
                    "cmd 0x02\ncmd 0x01\n"},
        shim_case_t{"CursorOnTwoRowsClampsToTheSecond",
                    [](vimbra::lcd_shim& lcd, std::uint64_t&) {
                        lcd.begin(16, 2);
                        lcd.setCursor(15, 1);
                        lcd.setCursor(2, 3);
                    },
                    "module 16x2\ncmd 0x38 0x0C 0x01 0x06\ncmd 0xCF\ncmd 0xC2\n"},
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
                    "module 16x2\ncmd 0x38 0x0C 0x01 0x06\ncmd 0x0E\ncmd 0x0F\ncmd 0x0B\ncmd 0x09\n"
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
                    "wait 250us\ncmd 0x01\ndata 0x41\nwait 1500000us\ndata 0x42\nwait 7us\n"},
        // A 40 x 4 module: each controller gets the set-up; rows 3 and 4 are the second one's
        // lines 1 and 2; clear goes to both and leaves the cursor with the first.
        shim_case_t{"FortyByFourDrivesBothControllers",
                    [](vimbra::lcd_shim& lcd, std::uint64_t&) {
                        lcd.begin(40, 4);
                        lcd.setCursor(0, 2);
                        lcd.print("Hi");
                        lcd.setCursor(39, 1);
                        lcd.write('x');
                        lcd.setCursor(1, 3);
                        lcd.clear();
                        lcd.print('y');
                    },
                    "module 40x4\ncmd 0x38 0x0C 0x01 0x06\ncontroller 2\ncmd 0x38 0x0C 0x01 0x06\n"
                    "cmd 0x80\ndata 0x48 0x69\ncontroller 1\ncmd 0xE7\ndata 0x78\n"
                    "controller 2\ncmd 0xC1\ncmd 0x01\ncontroller 1\ncmd 0x01\ndata 0x79\n"},
        // Only the controller of the cursor's row shows the cursor; display off is for both.
        shim_case_t{"FortyByFourCursorFollowsItsRow",
                    [](vimbra::lcd_shim& lcd, std::uint64_t&) {
                        lcd.begin(40, 4);
                        lcd.cursor();
                        lcd.setCursor(5, 3);
                        lcd.noDisplay();
                        lcd.createChar(2, ARROW);
                    },
                    "module 40x4\ncmd 0x38 0x0C 0x01 0x06\ncontroller 2\ncmd 0x38 0x0C 0x01 0x06\n"
                    "controller 1\ncmd 0x0E\ncmd 0x0C\ncontroller 2\ncmd 0x0E\ncmd 0xC5\n"
                    "cmd 0x0A\ncontroller 1\ncmd 0x08\n"
                    "cmd 0x50\ndata 0x00 0x08 0x0C 0x1F 0x0C 0x08 0x00 0x15\n"
                    "controller 2\ncmd 0x50\ndata 0x00 0x08 0x0C 0x1F 0x0C 0x08 0x00 0x15\n"},
        // 40 x 2 is 80 cells: one controller.
        shim_case_t{"FortyByTwoHasOneController",
                    [](vimbra::lcd_shim& lcd, std::uint64_t&) {
                        lcd.begin(40, 2);
                        lcd.setCursor(39, 1);
                    },
                    "module 40x2\ncmd 0x38 0x0C 0x01 0x06\ncmd 0xE7\n"},
        // The named lines, at their time; names outside the rule write nothing.
        shim_case_t{
            "MarksModuleAndBacklight",
            [](vimbra::lcd_shim& lcd, std::uint64_t& now) {
                // A driver announces the module before its reset; begin does not repeat it.
                lcd.configure(20, 4);
                lcd.announce_module();
                lcd.backlight(false);
                lcd.begin(20, 4, 0x28);
                now += 5;
                lcd.mark("menu.top_1-b");
                lcd.mark("two words");
                lcd.mark("");
                lcd.mark(nullptr);
                lcd.mark("caf\xC3\xA9");
                lcd.mark("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-_"); // 65
                lcd.mark("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-");
                lcd.backlight(true);
                lcd.begin(16, 2);
                lcd.begin(16, 2);
            },
            "module 20x4\nbacklight off\ncmd 0x28 0x0C 0x01 0x06\nwait 5us\n"
            "mark menu.top_1-b\n"
            "mark abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-\n"
            "backlight on\nmodule 16x2\ncmd 0x38 0x0C 0x01 0x06\ncmd 0x38 0x0C 0x01 0x06\n"},
        // Rows wired elsewhere: the offsets given, seven bits each.
        shim_case_t{"RowOffsets",
                    [](vimbra::lcd_shim& lcd, std::uint64_t&) {
                        lcd.begin(16, 4);
                        lcd.setRowOffsets(0x00, 0x40, 0x10, 0xD0);
                        lcd.setCursor(1, 2);
                        lcd.setCursor(2, 3);
                    },
                    "module 16x4\ncmd 0x38 0x0C 0x01 0x06\ncmd 0x91\ncmd 0xD2\n"}),
    [](const ::testing::TestParamInfo<shim_case_t>& param) { return param.param.name; });

// What a sink gets: structured events, each instruction and data event with its controller.
TEST(LcdShimSink, EventsCarryTheirController) {
    struct seen_t {
        std::string text;
        std::string chips;
    } seen;
    vimbra::lcd_shim lcd(
        [](const vimbra::lcd_event& event, void* context) {
            auto* s = static_cast<seen_t*>(context);
            vimbra::lcd_event_text(event, s->text);
            if (event.kind == vimbra::lcd_event_kind::instruction ||
                event.kind == vimbra::lcd_event_kind::data) {
                s->chips += static_cast<char>('0' + event.chip);
            }
        },
        &seen);
    lcd.begin(40, 4);
    lcd.setCursor(0, 3);
    lcd.print("ab");
    lcd.home();
    lcd.sync(); // no clock: no time
    EXPECT_EQ(seen.chips, "12"
                          "22"
                          "21");
    EXPECT_EQ(seen.text, "module 40x4\ncmd 0x38 0x0C 0x01 0x06\ncontroller 2\n"
                         "cmd 0x38 0x0C 0x01 0x06\n"
                         "cmd 0xC0\ndata 0x61 0x62\ncmd 0x02\ncontroller 1\ncmd 0x02\n");
    EXPECT_EQ(lcd.controllers(), 2U);
}

} // namespace
