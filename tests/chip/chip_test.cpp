#include "chip/chip.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace vimbra;

namespace {

// One event at time 0 (ideal timing: time plays no part).
chip_byte_t apply(chip_t* ctl, unsigned char kind, unsigned char value, unsigned char flags = 0) {
    const chip_event_t event{0, 0, kind, value, 0, flags};
    chip_byte_t byte{};
    chip_event(ctl, &event, &byte);
    return byte;
}

void send(chip_t* ctl, const std::vector<unsigned char>& instructions) {
    for (const unsigned char byte : instructions) {
        apply(ctl, CHIP_INSTRUCTION, byte);
    }
}

void write(chip_t* ctl, const std::string& text) {
    for (const char c : text) {
        apply(ctl, CHIP_DATA, static_cast<unsigned char>(c));
    }
}

// What `width` positions of `line` show, one character per DDRAM byte.
std::string window(const chip_t& ctl, int line, int width) {
    std::string shown;
    for (int p = 0; p < width; ++p) {
        const int address = chip_address_at(&ctl, line, p);
        shown +=
            address < 0 ? '?' : static_cast<char>(ctl.ddram[static_cast<std::size_t>(address)]);
    }
    return shown;
}

// The datasheet's 8-digit x 1-line example: text, then writes with the entry-mode shift,
// a cursor move and return home.
TEST(ChipTest, EightByOneWithEntryShift) {
    chip_t ctl;
    chip_reset(&ctl, nullptr);
    send(&ctl, {0x30, 0x0E, 0x06}); // 8-bit, one line; display and cursor on; increment
    write(&ctl, "HITACHI");
    EXPECT_EQ(window(ctl, 0, 8), "HITACHI ");
    EXPECT_EQ(ctl.ac, 0x07);
    send(&ctl, {0x07}); // from now each write also shifts the display left
    write(&ctl, " MICRO");
    EXPECT_EQ(ctl.shift, 6);
    EXPECT_EQ(window(ctl, 0, 8), "I MICRO ");
    EXPECT_EQ(ctl.ac, 0x0D); // the cursor sits in the last column: 0x0D - 6 = 7
    send(&ctl, {0x10});      // cursor left: the counter moves, the display does not
    EXPECT_EQ(ctl.ac, 0x0C);
    EXPECT_EQ(ctl.shift, 6);
    send(&ctl, {0x02}); // return home: the window and the counter go back, DDRAM stays
    EXPECT_EQ(window(ctl, 0, 8), "HITACHI ");
    EXPECT_EQ(ctl.ac, 0x00);
    EXPECT_EQ(chip_address_at(&ctl, 1, 0), -1); // no second line in one-line mode
}

// The 8 x 2 example: both lines move together; a right shift from home shows the end of
// each 40-position ring in the first column.
TEST(ChipTest, EightByTwoWithEntryShift) {
    chip_t ctl;
    chip_reset(&ctl, nullptr);
    send(&ctl, {0x38, 0x0E, 0x06});
    write(&ctl, "HITACHI");
    send(&ctl, {0xC0});
    write(&ctl, "MICROCO");
    send(&ctl, {0x07});
    write(&ctl, "M");
    EXPECT_EQ(window(ctl, 0, 8), "ITACHI  ");
    EXPECT_EQ(window(ctl, 1, 8), "ICROCOM ");
    send(&ctl, {0x05}); // decrement with shift: a write shifts right
    write(&ctl, "!");
    EXPECT_EQ(ctl.shift, 0);
    EXPECT_EQ(ctl.ddram[0x48], '!');
    send(&ctl, {0x1C}); // display right from home
    EXPECT_EQ(chip_address_at(&ctl, 0, 0), 0x27);
    EXPECT_EQ(chip_address_at(&ctl, 1, 1), 0x40);
    EXPECT_EQ(ctl.shift, 79);
    send(&ctl, {0x01}); // clear: everything blank, increment, S kept
    EXPECT_EQ(window(ctl, 1, 8), "        ");
    EXPECT_TRUE(ctl.increment);
    EXPECT_TRUE(ctl.shift_on_write);
    EXPECT_EQ(ctl.shift, 0);
}

// Where the counter goes from each wrap point and from the unused addresses.
TEST(ChipTest, CounterWrapPoints) {
    struct step_case_t {
        unsigned char function_set;
        unsigned char set_address;
        unsigned char move; // 0x14 cursor right, 0x10 cursor left
        unsigned char expected;
    };
    const std::vector<step_case_t> cases{
        {0x38, 0xA7, 0x14, 0x40}, {0x38, 0xE7, 0x14, 0x00}, {0x38, 0xC0, 0x10, 0x27},
        {0x38, 0x80, 0x10, 0x67}, {0x38, 0xA8, 0x14, 0x29}, {0x38, 0xBF, 0x14, 0x40},
        {0x38, 0xFF, 0x14, 0x00}, {0x38, 0xE8, 0x10, 0x67}, {0x30, 0xCF, 0x14, 0x00},
        {0x30, 0x80, 0x10, 0x4F}, {0x30, 0xA7, 0x14, 0x28}, {0x30, 0xD0, 0x10, 0x4F},
        {0x30, 0xFF, 0x14, 0x00}, {0x38, 0x7F, 0x14, 0x00}, {0x38, 0x40, 0x10, 0x3F},
        {0x38, 0x67, 0x14, 0x28},
    };
    for (const step_case_t& c : cases) {
        chip_t ctl;
        chip_reset(&ctl, nullptr);
        send(&ctl, {c.function_set, c.set_address, c.move});
        EXPECT_EQ(ctl.ac, c.expected)
            << std::hex << int{c.function_set} << " " << int{c.set_address} << " " << int{c.move};
    }
}

// A data read steps like a write; CGRAM keeps five bits, shows through codes 0x00-0x0F with
// bit 3 ignored, and never shifts the display.
TEST(ChipTest, CgramGlyphsAndReads) {
    chip_t ctl;
    chip_reset(&ctl, nullptr);
    send(&ctl, {0x38, 0x07, 0x4A}); // shift on write; CGRAM glyph 1, row 2
    apply(&ctl, CHIP_DATA, 0xFF);
    apply(&ctl, CHIP_DATA, 0x2A);
    EXPECT_EQ(ctl.shift, 0);
    EXPECT_EQ(ctl.ac, 0x0C);
    for (const unsigned char code : {0x01, 0x09}) {
        const unsigned char* rows = chip_glyph(&ctl, code);
        EXPECT_EQ(rows[2], 0x1F);
        EXPECT_EQ(rows[3], 0x0A);
    }
    EXPECT_EQ(chip_glyph(&ctl, 0x0F)[2], 0x00);
    send(&ctl, {0x4A});
    EXPECT_EQ(apply(&ctl, CHIP_READ_DATA, 0).answer, 0x1F);
    EXPECT_EQ(ctl.data_register, 0x1F);
    EXPECT_EQ(ctl.ac, 0x0B);
    send(&ctl, {0x06, 0x85});
    apply(&ctl, CHIP_DATA, 'Q');
    send(&ctl, {0x85});
    EXPECT_EQ(apply(&ctl, CHIP_READ_BUSY, 0).answer, 0x05);
    EXPECT_EQ(apply(&ctl, CHIP_READ_DATA, 0).answer, 'Q');
    EXPECT_EQ(ctl.ac, 0x06);
}

// The 4-bit entry: three 0x3 nibbles and a 0x2 are 8-bit instructions; afterwards every second
// edge completes a byte, and a byte takes RS and RW from its first half.
TEST(ChipTest, FourBitBus) {
    struct edge_t {
        bool rs;
        bool rw;
        unsigned char data;
    };
    chip_t ctl;
    chip_reset(&ctl, nullptr);
    const std::vector<edge_t> edges{
        {false, false, 0x30}, {false, false, 0x30}, {false, false, 0x30},
        {false, false, 0x20}, {false, false, 0x20}, {false, false, 0x80}, // function set 0x28
        {true, false, 0x40},  {true, false, 0x10},                        // data 'A'
        {true, false, 0x40},  {false, false, 0x20}, // data 'B': the first half's RS
        {false, true, 0x00},  {false, true, 0x00},  // read busy: nothing moves
    };
    for (const edge_t& e : edges) {
        apply(&ctl, CHIP_BUS, e.data,
              static_cast<unsigned char>((e.rs ? CHIP_FLAG_RS : 0) | (e.rw ? CHIP_FLAG_RW : 0)));
    }
    EXPECT_FALSE(ctl.eight_bit);
    EXPECT_TRUE(ctl.two_lines);
    EXPECT_EQ(ctl.ddram[0], 'A');
    EXPECT_EQ(ctl.ddram[1], 'B');
    EXPECT_EQ(ctl.ac, 2);
    EXPECT_FALSE(ctl.nibble_pending);
}

} // namespace
