#include "chip/cmdlog.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "chip/charset.hpp"

using namespace vimbra;

namespace {

cmdlog_module_t module_of(int columns, int rows, std::vector<unsigned char> starts = {}) {
    cmdlog_module_t module{};
    module.columns = columns;
    module.rows = rows;
    module.chip_count = columns * rows > 80 ? 2 : 1;
    module.row_address_count = static_cast<int>(starts.size());
    for (std::size_t i = 0; i < starts.size(); ++i) {
        module.row_addresses[i] = starts[i];
    }
    module.charset = charset_find("A00");
    return module;
}

// The events as short words: I instruction, D data, B bus edge (then r/w for RS/RW), Rb and
// Rd the reads; "/2" for the second controller, "@t" for a time other than 0.
int collect(const chip_event_t* event, void* ctx) {
    static_cast<std::vector<chip_event_t>*>(ctx)->push_back(*event);
    return 0;
}

// The events a replay is given, in order.
std::vector<chip_event_t> all_events(const cmdlog_t& log) {
    std::vector<chip_event_t> events;
    EXPECT_EQ(cmdlog_each_event(&log, collect, &events), 0);
    EXPECT_EQ(events.size(), log.count);
    return events;
}

std::string words_of(const std::vector<chip_event_t>& events) {
    std::string out;
    for (const chip_event_t& e : events) {
        std::array<char, 64> word{};
        const char* kind = e.kind == CHIP_INSTRUCTION ? "I" : e.kind == CHIP_DATA ? "D" : "B";
        if (e.kind == CHIP_READ_BUSY || e.kind == CHIP_READ_DATA) {
            std::snprintf(word.data(), word.size(), "%s", e.kind == CHIP_READ_BUSY ? "Rb" : "Rd");
        } else {
            std::snprintf(word.data(), word.size(), "%s%s%s%02X", kind,
                          (e.flags & CHIP_FLAG_RS) != 0 ? "r" : "",
                          (e.flags & CHIP_FLAG_RW) != 0 ? "w" : "", e.value);
        }
        if (!out.empty()) {
            out.push_back(' ');
        }
        out.append(word.data());
        if (e.chip != 0) {
            std::snprintf(word.data(), word.size(), "/%d", e.chip + 1);
            out.append(word.data());
        }
        if (e.time_ps != 0) {
            std::snprintf(word.data(), word.size(), "@%lld",
                          static_cast<long long>(e.time_ps / CHIP_PS_PER_US));
            out.append(word.data());
        }
    }
    return out;
}

std::string events_of(const cmdlog_t& log) {
    return words_of(all_events(log));
}

struct lowering_case_t {
    int columns;
    int rows;
    const char* log;
    const char* events;
};

// Each form becomes the bytes a firmware library sends, to the chip it would send them to.
TEST(CmdlogTest, FormsLowerToEvents) {
    const std::vector<lowering_case_t> cases{
        {16, 2, "init", "I38 I0C I01 I06"},
        {16, 1, "  init   # one row\r", "I30 I0C I01 I06"},
        {40, 4, "init", "I38 I38/2 I0C I0C/2 I01 I01/2 I06 I06/2"},
        {16, 2, "cmd 0x08 0X1c\ncursor on\nblink on\ncursor off\ndisplay on",
         "I08 I1C I0A I0B I09 I0D"},
        {40, 4, "init\ngoto 1 2\nblink on\ndisplay off\nclear\nhome",
         "I38 I38/2 I0C I0C/2 I01 I01/2 I06 I06/2 I81/2 I0D/2 I08 I09/2 I01 I01/2 I02 I02/2"},
        {20, 4, "goto 5 3\ngoto 19 2\ngoto 0 1", "ID9 IA7 IC0"},
        {16, 4, "goto 0 2\ngoto 15 3", "I90 IDF"},
        {16, 1, "goto 3 0\nshift left\nshift right", "I83 I18 I1C"},
        {16, 2, "print \"A\xC2\xB0\\x01\\\\#\" # ° is 0xDF", "D41 DDF D01 D5C D23"},
        {16, 2, "data 65 0xff\nread busy\nread data", "D41 DFF Rb Rd"},
        {16, 2, "wait 1.5ms\ncmd 1\nwait 2s\ndata 0x20", "I01@1500 D20@2001500"},
        {16, 2, "i2c 0x27 0x0D 0x09 0xF4\ni2c 0x27 0xF0 0xF6 0x00", "Br00 BF0 BwF0"},
        {16, 2, "wiring 7 6 5 4 0 1 2 3\ni2c 0x3F 0xA5 0x85", "Br50"},
        {16, 2,
         "define 0x09\n..o..\n  .ooo. # indented\n\no.o.o\n.....\n.....\n.....\n*...*\nooooo",
         "I48 D04 D0E D15 D00 D00 D00 D11 D1F"},
        {40, 4, "controller 2\ndata 0x41\ncontroller 1\ndata 0x42", "D41/2 D42"},
        {16, 2, "\n# nothing\n   \n", ""},
        // A byte-order mark before the first line, as some editors save UTF-8.
        {16, 2,
         "\xEF\xBB\xBF"
         "cmd 0x01\nwait 0\ndata 0x41",
         "I01 D41"},
        {16, 2, "\xEF\xBB\xBF\n# a comment", ""},
    };
    for (const lowering_case_t& c : cases) {
        const cmdlog_module_t module = module_of(c.columns, c.rows);
        cmdlog_t log{};
        std::array<char, CMDLOG_MESSAGE_CAPACITY> message{};
        const std::string text(c.log);
        ASSERT_EQ(cmdlog_read(text.data(), text.size(), &module, &log, message.data(),
                              static_cast<int>(message.size())),
                  0)
            << c.log << ": " << message.data();
        EXPECT_EQ(events_of(log), c.events) << c.log;
        cmdlog_free(&log);
    }
}

struct refusal_case_t {
    int columns;
    int rows;
    std::string log;
    const char* message;
};

TEST(CmdlogTest, MalformedLogsAreRefused) {
    const std::vector<refusal_case_t> cases{
        {16, 2, "init\n\nfrob 1", "line 3: unknown keyword 'frob'"},
        {16, 2, "CMD 0x01", "line 1: unknown keyword 'CMD'"},
        {16, 2, "cmd 0x01\ncmd 0x1FF", "line 2: byte out of range: 0x1FF"},
        {16, 2, "data 0x4G", "line 1: not a number: '0x4G'"},
        {16, 2, "cmd", "line 1: cmd needs at least one byte"},
        {16, 2, "data # none", "line 1: data needs at least one byte"},
        {16, 2, "read status", "line 1: read needs busy or data"},
        {16, 2, "read busy data", "line 1: unexpected 'data' after read"},
        {16, 2, "wait 10",
         "line 1: not a time: '10' (a number and s, ms or us, whole microseconds)"},
        {16, 2, "wait 0.5us",
         "line 1: not a time: '0.5us' (a number and s, ms or us, whole microseconds)"},
        {16, 2, "wait", "line 1: wait needs a time such as 250ms, 1.5s or 100us"},
        {16, 2, "wait 1125899906s\nwait 842624us\nwait 1us",
         "line 3: the log runs past 1125899906842624 us"},
        {16, 2, "i2c 0x27", "line 1: i2c needs an address and at least one byte"},
        {16, 2, "i2c 0x80 0x00", "line 1: i2c address out of range: 0x80"},
        {16, 2, "wiring 0 1 2 3 4 5 6 6",
         "line 1: wiring needs eight different pin numbers 0 to 7 (RS RW E BL D4 D5 D6 D7)"},
        {16, 2, "wiring 0 1 2 3 4 5 6 8",
         "line 1: wiring needs eight different pin numbers 0 to 7 (RS RW E BL D4 D5 D6 D7)"},
        {16, 2, "controller 2", "line 1: controller 2: this module has one controller"},
        {16, 2, "controller 1", "line 1: controller 1: this module has one controller"},
        {40, 4, "controller 3", "line 1: controller needs 1 or 2"},
        {16, 2, "init now", "line 1: unexpected 'now' after init"},
        {16, 2, "goto 16 0", "line 1: goto 16 0 is outside the 16 x 2 module"},
        {16, 2, "goto 0", "line 1: goto needs a column and a row, counted from 0"},
        {16, 4, "goto 0 3", "line 1: goto 0 3: row 3 is not driven"},
        {16, 2, "print hello", "line 1: print needs a text in double quotes"},
        {16, 2, "print \"hello", "line 1: print text has no closing double quote"},
        {16, 2, "print \"a\" b", "line 1: unexpected 'b' after the print text"},
        {16, 2, "print \"caf\xC3\xA9\"",
         "line 1: column 4: U+00E9 '\xC3\xA9' is not in character set A00."},
        {16, 2, "print \"\\x4\"",
         "line 1: column 1: malformed escape (\\xHH with two hexadecimal digits, or \\\\)."},
        {16, 2, std::string("print \"a\0b\"", 11), "line 1: print text holds a NUL byte"},
        {16, 2, std::string("cmd 0x01\0", 9), "line 1: not a number: '0x01\\x00'"},
        {16, 2, "cursor maybe", "line 1: cursor needs on or off"},
        {16, 2, "shift up", "line 1: shift needs left or right"},
        {16, 2, "define 0x10", "line 1: define needs a code 0x00 to 0x0F"},
        {16, 2, "init\ndefine 0x03\n.....\n.....\n.....\n.....\n.....\ngoto 0 0",
         "line 2: define 0x03 needs eight dot rows, found 5"},
        {16, 2, "define 3\n.....\n......",
         "line 3: a dot row has five characters, found 6 (row 2 of define 0x03 on line 1)"},
        {16, 2, "init\ndefine 0x01\n.....\n..o..\n\n# gap\n.o.o.\n o.o.o. \n.....",
         "line 8: a dot row has five characters, found 6 (row 4 of define 0x01 on line 2)"},
        {16, 2, "define 0x0F\n....\n.....",
         "line 2: a dot row has five characters, found 4 "
         "(row 1 of define 0x0F on line 1)"},
        {16, 2, "define 2\n.....\ngoto 0 0", "line 1: define 0x02 needs eight dot rows, found 1"},
        {16, 2, "define 2\n.....\ngotoo 0 0",
         "line 3: a dot row has five characters, found 9 (row 2 of define 0x02 on line 1)"},
        {16, 2,
         "cmd 0x01\n\xEF\xBB\xBF"
         "cmd 0x01",
         "line 2: unknown keyword '\\xEF\\xBB\\xBFcmd'"},
        {16, 2,
         "\xEF\xBB"
         "cmd 0x01",
         "line 1: unknown keyword '\\xEF\\xBBcmd'"},
        {16, 2, "wait 0.01",
         "line 1: not a time: '0.01' (a number and s, ms or us, whole "
         "microseconds)"},
        {16, 2, "define 7", "line 1: define 0x07 needs eight dot rows, found 0"},
        {16, 2, std::string(100, 'x').insert(0, "frob"),
         "line 1: unknown keyword 'frobxxxxxxxxxxxxxxxxxxxx...'"},
    };
    for (const refusal_case_t& c : cases) {
        const cmdlog_module_t module =
            module_of(c.columns, c.rows,
                      c.rows == 4 && c.columns == 16 ? std::vector<unsigned char>{0x00, 0x40, 0x10}
                                                     : std::vector<unsigned char>{});
        cmdlog_t log{};
        std::array<char, CMDLOG_MESSAGE_CAPACITY> message{};
        EXPECT_EQ(cmdlog_read(c.log.data(), c.log.size(), &module, &log, message.data(),
                              static_cast<int>(message.size())),
                  -1)
            << c.log;
        EXPECT_STREQ(message.data(), c.message) << c.log;
        EXPECT_EQ(log.count, 0U);
        EXPECT_EQ(log.text, nullptr);
    }
}

TEST(CmdlogTest, Times) {
    const std::vector<std::pair<const char*, std::int64_t>> accepted{
        {"250ms", 250000}, {"1.5s", 1500000}, {"0.000001s", 1},
        {"1.000us", 1},    {"0us", 0},        {"1125899906842624us", INT64_C(1) << 50},
        {"0", 0},          {"000", 0},        {"0.000", 0}};
    for (const auto& [text, expected] : accepted) {
        std::int64_t us = -1;
        EXPECT_EQ(cmdlog_parse_time(text, &us), 0) << text;
        EXPECT_EQ(us, expected) << text;
    }
    for (const char* text :
         {"0.0000015s", "1.5us", "1125899906842625us", "99999999999999999999s", "10", "-1ms", ".5s",
          "5.s", "2ms ", "1e3us", "5 s", "", "1", "0.1", "0.", "00.0001", "0 ", "-0"}) {
        std::int64_t us = 0;
        EXPECT_EQ(cmdlog_parse_time(text, &us), -1) << text;
    }
}

// A PCF8574 byte for one nibble edge pair: the pins with E high, then with E low.
void add_nibble(std::string* line, const std::array<int, 8>& pins, bool rs, unsigned nibble) {
    unsigned byte = 1U << pins[3]; // backlight
    byte |= rs ? 1U << pins[0] : 0;
    for (int bit = 0; bit < 4; ++bit) {
        byte |= ((nibble >> bit) & 1) << pins[static_cast<std::size_t>(4 + bit)];
    }
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), " 0x%02X 0x%02X", byte | 1U << pins[2], byte);
    *line += text.data();
}

chip_t replayed(const std::string& text) {
    const cmdlog_module_t module = module_of(16, 2);
    cmdlog_t log{};
    std::array<char, CMDLOG_MESSAGE_CAPACITY> message{};
    EXPECT_EQ(cmdlog_read(text.data(), text.size(), &module, &log, message.data(),
                          static_cast<int>(message.size())),
              0)
        << message.data();
    chip_t ctl;
    chip_reset(&ctl, nullptr);
    for (const chip_event_t& e : all_events(log)) {
        chip_byte_t byte{};
        chip_event(&ctl, &e, &byte);
    }
    cmdlog_free(&log);
    return ctl;
}

// One stream written three ways leaves the chip in the same state; only the bus width differs,
// which is how the bytes travelled, not what they did.
TEST(CmdlogTest, RawI2cAndNamedFormsAgree) {
    const std::vector<std::pair<bool, unsigned>> stream{
        {false, 0x28}, {false, 0x0C}, {false, 0x01}, {false, 0x06}, {false, 0xC3},
        {true, 0x48},  {true, 0x69},  {false, 0x50}, {true, 0x04},  {true, 0x0E},
        {true, 0x15},  {true, 0x00},  {true, 0x00},  {true, 0x00},  {true, 0x11},
        {true, 0x1F},  {false, 0x80}, {false, 0x0E}, {false, 0x0F}, {false, 0x18}};
    const std::string raw =
        "cmd 0x28 0x0C 0x01 0x06 0xC3\ndata 0x48 0x69\ncmd 0x50\n"
        "data 0x04 0x0E 0x15 0x00 0x00 0x00 0x11 0x1F\ncmd 0x80 0x0E 0x0F 0x18\n";
    const std::string named =
        "init\ngoto 3 1\nprint \"Hi\"\ndefine 2\n..o..\n.ooo.\no.o.o\n.....\n"
        ".....\n.....\no...o\nooooo\ngoto 0 0\ncursor on\nblink on\nshift left\n";
    std::vector<std::string> i2c;
    for (const std::array<int, 8>& pins :
         {std::array<int, 8>{0, 1, 2, 3, 4, 5, 6, 7}, std::array<int, 8>{4, 5, 6, 7, 0, 1, 2, 3}}) {
        std::string text = "wiring";
        for (const int pin : pins) {
            text.push_back(' ');
            text.push_back(static_cast<char>('0' + pin));
        }
        text += "\ni2c 0x27";
        for (const unsigned nibble : {0x3U, 0x3U, 0x3U, 0x2U}) {
            add_nibble(&text, pins, false, nibble);
        }
        for (const auto& [rs, byte] : stream) {
            text += "\ni2c 0x27";
            add_nibble(&text, pins, rs, byte >> 4);
            add_nibble(&text, pins, rs, byte & 0x0F);
        }
        text.push_back('\n');
        i2c.push_back(text);
    }
    const chip_t expected = replayed(raw);
    EXPECT_EQ(expected.ddram[0x43], 'H');
    EXPECT_EQ(expected.cgram[0x10 + 2], 0x15);
    for (const std::string& text : {named, i2c[0], i2c[1]}) {
        const chip_t ctl = replayed(text);
        EXPECT_EQ(ctl.ddram, expected.ddram) << text;
        EXPECT_EQ(ctl.cgram, expected.cgram) << text;
        EXPECT_EQ(ctl.ac, expected.ac) << text;
        EXPECT_EQ(ctl.ac_in_cgram, expected.ac_in_cgram);
        EXPECT_EQ(ctl.increment, expected.increment);
        EXPECT_EQ(ctl.shift_on_write, expected.shift_on_write);
        EXPECT_EQ(ctl.display_on, expected.display_on);
        EXPECT_EQ(ctl.cursor_on, expected.cursor_on);
        EXPECT_EQ(ctl.blink_on, expected.blink_on);
        EXPECT_EQ(ctl.two_lines, expected.two_lines);
        EXPECT_EQ(ctl.shift, expected.shift) << text;
    }
}

// What a log says besides its events: "mark NAME@t ...", "on|off@t ..." and "COLSxROWS@line".
struct moments_case_t {
    std::string log;
    std::string marks;
    std::string backlight;
    std::string module;
    std::string refusal; // "" when the log is read
};

std::string moments_of(const cmdlog_t& log, std::string* backlight, std::string* module) {
    std::string marks;
    for (std::size_t i = 0; i < log.mark_count; ++i) {
        marks.append(i > 0 ? " " : "").append(log.marks[i].name.data()).append("@");
        marks.append(std::to_string(log.marks[i].time_us));
    }
    backlight->clear();
    for (std::size_t i = 0; i < log.backlight_count; ++i) {
        backlight->append(i > 0 ? " " : "").append(log.backlight[i].on ? "on@" : "off@");
        backlight->append(std::to_string(log.backlight[i].time_us));
    }
    module->clear();
    if (log.module_line != 0) {
        module->append(std::to_string(log.module_columns)).append("x");
        module->append(std::to_string(log.module_rows)).append("@");
        module->append(std::to_string(log.module_line));
    }
    return marks;
}

TEST(CmdlogTest, MarksBacklightAndModuleLines) {
    const std::string name64(64, 'n');
    const std::vector<moments_case_t> cases{
        {"mark a\nwait 1s\nmark b.c-D_9 # comment\nwait 5ms\nmark a", "a@0 b.c-D_9@1000000", "", "",
         ""},
        {"wait 2us\nmark " + name64, name64 + "@2", "", "", ""},
        {"mark " + name64 + "n", "", "", "",
         "line 1: not a mark name: 'nnnnnnnnnnnnnnnnnnnnnnnn...' (1 to 64 letters, digits, '_', "
         "'-' and '.')"},
        {"init\nmark a/b", "", "", "",
         "line 2: not a mark name: 'a/b' (1 to 64 letters, digits, '_', '-' and '.')"},
        {"mark", "", "", "", "line 1: mark needs a name"},
        {"mark a b", "", "", "", "line 1: unexpected 'b' after mark"},
        // Only changes count; the backlight starts on.
        {"backlight on\nbacklight off\nwait 1ms\nbacklight off\nbacklight on", "", "off@0 on@1000",
         "", ""},
        {"backlight dim", "", "", "", "line 1: backlight needs on or off"},
        // The BL pin of every expander byte: pin 3 by default, else where the wiring puts it.
        {"i2c 0x27 0x08 0x00 0x00\nwait 2us\ni2c 0x27 0x0C 0x08", "", "off@0 on@2", "", ""},
        {"wiring 0 1 2 7 4 5 6 3\ni2c 0x27 0x08\ni2c 0x27 0x80 0x88", "", "off@0 on@0", "", ""},
        {"# a 20 x 4 module\nmodule 20x4\ninit\nmodule 20x4", "", "", "20x4@2", ""},
        {"module 40x4", "", "", "40x4@1", ""},
        {"module 80x2", "", "", "80x2@1", ""},
        {"module 16x2\nmodule 20x4", "", "", "", "line 2: module 20x4, but line 1 gave 16x2"},
    };
    const std::string bad_geometry =
        "line 1: module needs columns x rows such as 20x4 (at most 80 columns, 4 "
        "rows and 160 cells)";
    std::vector<moments_case_t> all = cases;
    for (const char* word : {"81x1", "41x4", "20x5", "0x4", "20x0", "20X4", "x4", "20x", "20x4x1",
                             "20 x 4", "016x2", "-1x2"}) {
        all.push_back({std::string("module ") + word, "", "", "", bad_geometry});
    }
    for (const moments_case_t& c : all) {
        const cmdlog_module_t module = module_of(16, 2);
        cmdlog_t log{};
        std::array<char, CMDLOG_MESSAGE_CAPACITY> message{};
        const int read = cmdlog_read(c.log.data(), c.log.size(), &module, &log, message.data(),
                                     static_cast<int>(message.size()));
        EXPECT_EQ(message.data(), c.refusal) << c.log;
        EXPECT_EQ(read, c.refusal.empty() ? 0 : -1) << c.log;
        std::string backlight;
        std::string geometry;
        EXPECT_EQ(moments_of(log, &backlight, &geometry), c.marks) << c.log;
        EXPECT_EQ(backlight, c.backlight) << c.log;
        EXPECT_EQ(geometry, c.module) << c.log;
        cmdlog_free(&log);
    }
}

TEST(CmdlogTest, BacklightAndMarksAreLookedUpByMoment) {
    const std::string text = "mark start\nwait 1ms\nbacklight off\nmark dark\nwait 2ms\n"
                             "backlight on\nwait 1us\nmark start\n";
    const cmdlog_module_t module = module_of(16, 2);
    cmdlog_t log{};
    ASSERT_EQ(cmdlog_read(text.data(), text.size(), &module, &log, nullptr, 0), 0);
    const std::vector<std::pair<std::int64_t, bool>> moments{
        {0, true}, {999, true}, {1000, false}, {2999, false}, {3000, true}, {INT64_MAX, true}};
    for (const auto& [at, on] : moments) {
        EXPECT_EQ(cmdlog_backlight_at(&log, at), on) << at;
    }
    ASSERT_NE(cmdlog_find_mark(&log, "dark"), nullptr);
    EXPECT_EQ(cmdlog_find_mark(&log, "dark")->time_us, 1000);
    EXPECT_EQ(cmdlog_find_mark(&log, "dark")->line, 4U);
    EXPECT_EQ(cmdlog_find_mark(&log, "start")->time_us, 0);
    EXPECT_EQ(cmdlog_find_mark(&log, "Dark"), nullptr);
    EXPECT_EQ(cmdlog_find_mark(&log, "dar"), nullptr);
    cmdlog_free(&log);
    EXPECT_TRUE(cmdlog_backlight_at(&log, 1000)); // an empty log keeps it on
}

TEST(CmdlogTest, ModuleLineIsFoundBeforeReading) {
    const std::vector<std::tuple<std::string, bool, int, int>> cases{
        {"init\n  module 20x4 # green\ngoto 19 3\n", true, 20, 4},
        {"module 20x4 extra\nmodule 99x9\nmodule 8x1", true, 8, 1},
        {"print \"module 16x2\"\n", false, 0, 0},
        {"", false, 0, 0},
        {"module 40x4", true, 40, 4},
    };
    for (const auto& [text, found, columns, rows] : cases) {
        int c = 0;
        int r = 0;
        EXPECT_EQ(cmdlog_scan_module(text.data(), text.size(), &c, &r), found) << text;
        EXPECT_EQ(c, columns) << text;
        EXPECT_EQ(r, rows) << text;
    }
}

} // namespace

namespace {

// A replay advanced moment by moment is given each event once, at the first moment at or
// after its time, and a stopping sink ends the delivery for good.
TEST(CmdlogTest, CursorGivesEachEventAtItsMoment) {
    const cmdlog_module_t module = module_of(16, 2);
    const std::string text = "init\nwait 1ms\nprint \"AB\"\nwait 2ms\nclear\nwait 1s\n";
    cmdlog_t log{};
    ASSERT_EQ(cmdlog_read(text.data(), text.size(), &module, &log, nullptr, 0), 0);
    EXPECT_EQ(log.count, 7U);
    EXPECT_EQ(log.end_us, 1003000);
    const std::vector<std::pair<std::int64_t, std::string>> steps{
        {0, "I38 I0C I01 I06"}, {999, ""},      {1000, "D41@1000 D42@1000"}, {2999, ""},
        {5000, "I01@3000"},     {INT64_MAX, ""}};
    cmdlog_cursor_t cursor{};
    cmdlog_cursor_start(&log, &cursor);
    for (const auto& [time, words] : steps) {
        std::vector<chip_event_t> got;
        EXPECT_EQ(cmdlog_cursor_advance(&log, &cursor, time, collect, &got), 0) << time;
        EXPECT_EQ(words_of(got), words) << time;
    }
    // A sink that stops at the second event: its result comes back, and nothing follows.
    cmdlog_cursor_start(&log, &cursor);
    int seen = 0;
    const auto stop_second = [](const chip_event_t*, void* ctx) {
        return ++*static_cast<int*>(ctx) == 2 ? 7 : 0;
    };
    EXPECT_EQ(cmdlog_cursor_advance(&log, &cursor, INT64_MAX, stop_second, &seen), 7);
    EXPECT_EQ(cmdlog_cursor_advance(&log, &cursor, INT64_MAX, stop_second, &seen), 0);
    EXPECT_EQ(seen, 2);
    cmdlog_free(&log);
}

} // namespace
