#include "chip/loghint.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "chip/charset.hpp"
#include "chip/cmdlog.hpp"
#include "chip/replay.hpp"

using namespace vimbra;

namespace {

struct hint_case_t {
    int columns;
    int rows;
    const char* log;
    const char* warning; // "" for none
};

// Whole logs, read and replayed to their end as the tool does, and the warning they leave.
TEST(LoghintTest, BlankScreensAreExplained) {
    const std::vector<hint_case_t> cases{
        {16, 2, "init\nprint \"Hi\"", ""},
        {16, 2, "cmd 0x38 0x0C", ""},
        {16, 2, "init\ndisplay off", ""}, // switched off on purpose
        {40, 4, "controller 2\ncmd 0x0C\ncontroller 1\ncmd 0x08", ""},
        {16, 2, "", "warning: the display was never switched on (display on, or cmd 0x0C)"},
        {16, 2, "cmd 0x38 0x01\nprint \"Hi\"",
         "warning: the display was never switched on (display on, or cmd 0x0C)"},
        {16, 2, "cmd 0x08\ncursor on\nblink on",
         "warning: the display was never switched on (display on, or cmd 0x0C)"},
        // E is pin 2: 0x04 then 0x00 is one falling edge, latching D7..D4 = 0 (half of a
        // function set); nothing switches the display on.
        {16, 2, "i2c 0x27 0x04 0x00",
         "warning: the display was never switched on (display on, or cmd 0x0C)"},
        // The wiring puts E on pin 6, which these bytes never raise.
        {16, 2, "wiring 0 1 6 3 4 5 2 7\ni2c 0x27 0x3C 0x38\ni2c 0x27 0x0C 0x08 0x04",
         "warning: no E pulse in 5 i2c bytes (E never fell: check the wiring line)"},
        // E rises on the last byte but never falls; the named forms do not hide it.
        {16, 2, "init\ni2c 0x3F 0x00 0x04",
         "warning: no E pulse in 2 i2c bytes (E never fell: check the wiring line)"},
        // Rises in one line, falls in the next: one edge is enough.
        {16, 2, "init\ni2c 0x27 0x0C\ni2c 0x27 0x08", ""},
    };
    for (const hint_case_t& c : cases) {
        cmdlog_module_t module{};
        module.columns = c.columns;
        module.rows = c.rows;
        module.chip_count = c.columns * c.rows > 80 ? 2 : 1;
        module.charset = charset_find("A00");
        const std::string text = c.log;
        cmdlog_t log{};
        std::array<char, LOGHINT_MESSAGE_CAPACITY> message{};
        const int capacity = static_cast<int>(message.size());
        ASSERT_EQ(cmdlog_read(text.data(), text.size(), &module, &log, message.data(), capacity), 0)
            << c.log << ": " << message.data();
        replay_t replay{};
        replay_start(&replay, &module, nullptr, &log);
        ASSERT_EQ(replay_advance(&replay, log.end_us, message.data(), capacity), 0) << c.log;
        const bool warned = loghint_warning(&log, replay.display_seen_on, message.data(), capacity);
        EXPECT_EQ(warned, c.warning[0] != '\0') << c.log;
        EXPECT_STREQ(message.data(), c.warning) << c.log;
        cmdlog_free(&log);
    }
}

// A message buffer too small is cut, never overrun; none at all is no warning.
TEST(LoghintTest, SmallBuffers) {
    const cmdlog_t log{};
    std::array<char, 12> small{};
    small.fill('#');
    EXPECT_TRUE(loghint_warning(&log, false, small.data(), 9));
    EXPECT_STREQ(small.data(), "warning:");
    EXPECT_EQ(small[9], '#');
    EXPECT_FALSE(loghint_warning(&log, false, nullptr, 9));
    EXPECT_FALSE(loghint_warning(nullptr, false, small.data(), 9));
}

} // namespace
