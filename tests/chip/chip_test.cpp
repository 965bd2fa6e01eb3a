#include "chip/chip.hpp"

#include <gtest/gtest.h>

#include <cstdint>
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

namespace {

constexpr std::int64_t NS = 1000; // picoseconds

chip_byte_t at(chip_t* ctl, std::int64_t time_ps, unsigned char kind, unsigned char value) {
    const chip_event_t event{time_ps, 0, kind, value, 0, 0};
    chip_byte_t byte{};
    EXPECT_TRUE(chip_event(ctl, &event, &byte));
    return byte;
}

// The datasheet's execution times, 37 us and 1.52 ms at 270 kHz scaled by 270 / fOSC (cut to
// whole picoseconds), for every instruction class and a data write: under chip timing BF
// reads 1 until the last picosecond, and a write then is refused; at the time it reads 0
// and a write is taken.
TEST(ChipTest, ExecutionTimeOfEveryInstructionClass) {
    struct class_case_t {
        const char* what;
        unsigned char kind;
        unsigned char value;
        int fosc_khz;
        std::int64_t execution_ps;
    };
    const std::vector<class_case_t> cases{
        {"clear", CHIP_INSTRUCTION, 0x01, 270, 1520000000},
        {"clear", CHIP_INSTRUCTION, 0x01, 190, 2160000000},
        {"clear", CHIP_INSTRUCTION, 0x01, 350, 1172571428},
        {"home", CHIP_INSTRUCTION, 0x02, 270, 1520000000},
        {"home", CHIP_INSTRUCTION, 0x03, 190, 2160000000},
        {"home", CHIP_INSTRUCTION, 0x02, 350, 1172571428},
        {"entry mode set", CHIP_INSTRUCTION, 0x06, 270, 37000000},
        {"entry mode set", CHIP_INSTRUCTION, 0x07, 190, 52578947},
        {"display control", CHIP_INSTRUCTION, 0x0C, 350, 28542857},
        {"display control", CHIP_INSTRUCTION, 0x0F, 270, 37000000},
        {"shift", CHIP_INSTRUCTION, 0x18, 190, 52578947},
        {"shift", CHIP_INSTRUCTION, 0x14, 350, 28542857},
        {"function set", CHIP_INSTRUCTION, 0x38, 270, 37000000},
        {"function set", CHIP_INSTRUCTION, 0x20, 190, 52578947},
        {"set CGRAM address", CHIP_INSTRUCTION, 0x48, 350, 28542857},
        {"set CGRAM address", CHIP_INSTRUCTION, 0x40, 270, 37000000},
        {"set DDRAM address", CHIP_INSTRUCTION, 0xC0, 190, 52578947},
        {"set DDRAM address", CHIP_INSTRUCTION, 0x80, 350, 28542857},
        {"data", CHIP_DATA, 0x41, 270, 37000000},
        {"data", CHIP_DATA, 0x00, 190, 52578947},
        {"data", CHIP_DATA, 0xFF, 350, 28542857},
    };
    constexpr std::int64_t START = 7000 * NS;
    for (const class_case_t& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " at " + std::to_string(c.fosc_khz) + " kHz");
        const chip_config_t config{true, c.fosc_khz, nullptr, nullptr};
        chip_t ctl;
        chip_reset(&ctl, &config);
        EXPECT_TRUE(at(&ctl, START, c.kind, c.value).taken);
        const std::int64_t end = START + c.execution_ps;
        EXPECT_EQ(chip_read_busy(&ctl, end - 1) & 0x80, 0x80);
        EXPECT_EQ(at(&ctl, end - 1, CHIP_READ_BUSY, 0).answer & 0x80, 0x80);
        EXPECT_EQ(chip_read_busy(&ctl, end) & 0x80, 0);
        chip_t refused = ctl;
        const chip_byte_t early = at(&refused, end - 1, CHIP_DATA, 'Z');
        EXPECT_FALSE(early.taken);
        EXPECT_TRUE(early.while_busy);
        EXPECT_EQ(refused.ddram, ctl.ddram); // a refused byte runs nothing
        EXPECT_EQ(refused.ac, ctl.ac);
        EXPECT_EQ(chip_read_busy(&refused, end) & 0x80, 0); // and starts no busy time
        EXPECT_TRUE(at(&ctl, end, CHIP_DATA, 'Z').taken);
        EXPECT_EQ(chip_execution_ps(c.kind == CHIP_DATA ? 0x80 : c.value, c.kind == CHIP_DATA,
                                    c.fosc_khz),
                  c.execution_ps);
    }
}

// Under ideal timing being busy refuses nothing and BF reads 0, though the fault is judged.
TEST(ChipTest, IdealTimingRunsEveryByte) {
    std::vector<std::string> faults;
    const chip_config_t config{false, 270,
                               [](const chip_byte_t*, const char* text, void* ctx) {
                                   static_cast<std::vector<std::string>*>(ctx)->push_back(text);
                               },
                               &faults};
    chip_t ctl;
    chip_reset(&ctl, &config);
    at(&ctl, 0, CHIP_INSTRUCTION, 0x01);
    EXPECT_EQ(at(&ctl, 1000 * NS, CHIP_READ_BUSY, 0).answer, 0x00);
    const chip_byte_t early = at(&ctl, 1000 * NS, CHIP_DATA, 'A');
    EXPECT_TRUE(early.taken);
    EXPECT_TRUE(early.while_busy);
    EXPECT_EQ(ctl.ddram[0], 'A');
    EXPECT_EQ(faults, (std::vector<std::string>{
                          "data 0x41 while busy with clear until 1.52 ms (1.52 ms)"}));
}

// Half bytes on a 4-bit bus across switches of width: a whole-byte function set (a log's cmd
// line) between two halves, to 8 bits and back, leaves no half behind; a width switch that
// the chip refused (busy, chip timing) changes nothing.
TEST(ChipTest, FourBitPairingAcrossWidthSwitches) {
    struct step_t {
        std::int64_t time_us;
        unsigned char kind;
        unsigned char value;
        unsigned char flags;
    };
    struct pairing_case_t {
        const char* name;
        bool chip_timing;
        std::vector<step_t> steps;
        std::string ddram; // the first DDRAM bytes afterwards
        bool eight_bit;
    };
    constexpr unsigned char RS = CHIP_FLAG_RS;
    const std::vector<pairing_case_t> cases{
        {"HalfDroppedBySwitchTo8Bits",
         false,
         {{0, CHIP_INSTRUCTION, 0x28, 0},
          {100, CHIP_BUS, 0x40, RS}, // the high half of 'A', left pending
          {200, CHIP_INSTRUCTION, 0x38, 0},
          {300, CHIP_INSTRUCTION, 0x28, 0},
          {400, CHIP_BUS, 0x50, RS},
          {500, CHIP_BUS, 0x00, RS}}, // 'P' whole: no stale half before it
         "P ",
         false},
        {"EightBitEdgesThenBackToFour",
         false,
         {{0, CHIP_BUS, 0x20, 0}, // 8-bit function set 0x20: now 4 bits
          {100, CHIP_BUS, 0x30, 0},
          {200, CHIP_BUS, 0x80, 0}, // 0x38 in two halves: 8 bits, two lines
          {300, CHIP_BUS, 0x41, RS},
          {400, CHIP_BUS, 0x20, 0}, // 0x20 whole: 4 bits again
          {500, CHIP_BUS, 0x40, RS},
          {600, CHIP_BUS, 0x20, RS}},
         "AB",
         false},
        {"HalfPendingOverAWholeByteOf4Bits",
         false,
         {{0, CHIP_INSTRUCTION, 0x28, 0},
          {100, CHIP_BUS, 0x40, RS},
          {200, CHIP_INSTRUCTION, 0x06, 0}, // whole bytes leave the half alone
          {300, CHIP_BUS, 0x30, RS}},
         "C ",
         false},
        {"RefusedSwitchKeepsTheWidth",
         true,
         {{0, CHIP_INSTRUCTION, 0x28, 0},
          {10, CHIP_BUS, 0x30, 0}, // 0x30 in halves, completed while busy: refused
          {20, CHIP_BUS, 0x00, 0},
          {100, CHIP_BUS, 0x40, RS},
          {200, CHIP_BUS, 0x40, RS}},
         "D ",
         false},
    };
    for (const pairing_case_t& c : cases) {
        SCOPED_TRACE(c.name);
        const chip_config_t config{c.chip_timing, 270, nullptr, nullptr};
        chip_t ctl;
        chip_reset(&ctl, &config);
        for (const step_t& s : c.steps) {
            const chip_event_t event{s.time_us * 1000 * NS, 0, s.kind, s.value, 0, s.flags};
            chip_byte_t byte{};
            chip_event(&ctl, &event, &byte);
        }
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(ctl.ddram.data()), c.ddram.size()),
                  c.ddram);
        EXPECT_EQ(ctl.eight_bit, c.eight_bit);
        EXPECT_FALSE(ctl.nibble_pending);
    }
}

// Reads: BF and AC, and data from DDRAM or CGRAM stepping the counter by I/D; the first read
// after an address set gives the byte at that address; a read never shifts the display.
TEST(ChipTest, Reads) {
    struct read_case_t {
        const char* name;
        std::vector<unsigned char> instructions; // after "ABC" at 0x00 and glyph 2 rows 1F 0A
        std::vector<unsigned char> expected;     // busy/address, data, data, busy/address
        int shift;
    };
    const std::vector<read_case_t> cases{
        {"FirstReadAfterDdramAddress", {0x81}, {0x01, 'B', 'C', 0x03}, 0},
        {"DecrementStepsDown", {0x04, 0x82}, {0x02, 'C', 'B', 0x00}, 0},
        {"CgramRowsFiveBits", {0x50}, {0x10, 0x1F, 0x0A, 0x12}, 0},
        {"ShiftOnWriteButNotOnRead", {0x07, 0x80}, {0x00, 'A', 'B', 0x02}, 0},
        {"WrapFromLastAddressOfLineOne", {0xA7}, {0x27, ' ', ' ', 0x41}, 0},
    };
    for (const read_case_t& c : cases) {
        SCOPED_TRACE(c.name);
        chip_t ctl;
        chip_reset(&ctl, nullptr);
        send(&ctl, {0x38, 0x06});
        write(&ctl, "ABC");
        send(&ctl, {0x50});
        apply(&ctl, CHIP_DATA, 0xFF);
        apply(&ctl, CHIP_DATA, 0xEA);
        send(&ctl, c.instructions);
        std::vector<unsigned char> got;
        got.push_back(apply(&ctl, CHIP_READ_BUSY, 0).answer);
        got.push_back(apply(&ctl, CHIP_READ_DATA, 0).answer);
        got.push_back(apply(&ctl, CHIP_BUS, 0, CHIP_FLAG_RS | CHIP_FLAG_RW).answer);
        got.push_back(apply(&ctl, CHIP_BUS, 0, CHIP_FLAG_RW).answer);
        EXPECT_EQ(got, c.expected);
        EXPECT_EQ(ctl.shift, c.shift);
        EXPECT_EQ(ctl.data_register, c.expected[2]);
    }
}

} // namespace
