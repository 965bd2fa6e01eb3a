// The character-LCD controller (HD44780 and compatibles) as firmware sees it: the address
// counter, DDRAM, CGRAM, the modes and the instruction set. Pure state: no time, no I/O.
// A replay feeds it instruction and data bytes, or bus cycles; rendering only reads it.
#pragma once

#include <array>
#include <cstdint>

namespace vimbra {

inline constexpr int CONTROLLER_DDRAM_BYTES = 128; // indexed by the 7-bit address; 80 are used
inline constexpr int CONTROLLER_CGRAM_BYTES = 64;  // 8 glyphs x 8 dot rows, bits 4..0 used
inline constexpr int CONTROLLER_LINE2_BASE = 0x40; // first address of line 2 in two-line mode
inline constexpr int CONTROLLER_TWO_LINE_LENGTH = 40;
inline constexpr int CONTROLLER_ONE_LINE_LENGTH = 80;

// Every register and memory of one controller. controller_reset gives each its value after
// the internal reset.
struct controller_t {
    std::array<unsigned char, CONTROLLER_DDRAM_BYTES> ddram;
    std::array<unsigned char, CONTROLLER_CGRAM_BYTES> cgram;
    unsigned char ac;    // address counter, 7 bits
    bool ac_in_cgram;    // the last address set was a CGRAM address
    bool increment;      // I/D
    bool shift_on_write; // S: DDRAM writes also shift the display
    bool display_on;     // D
    bool cursor_on;      // C: underline cursor
    bool blink_on;       // B: blinking cursor
    bool eight_bit;      // DL
    bool two_lines;      // N
    bool tall_font;      // F: 5 x 10 dots
    int shift;           // display shift, positions moved left, kept in 0..79
    bool nibble_pending; // 4-bit bus: the high nibble of a byte has been latched
    unsigned char high_nibble;
    bool pending_rs; // RS and RW of the pending nibble
    bool pending_rw;
    unsigned char data_register; // DR: what the last data read brought
};

// The state after the internal reset at power-on: DDRAM 0x20, CGRAM 0, AC 0 in DDRAM,
// increment, no shift, display, cursor and blink off, 8-bit bus, one line, 5 x 8 dots.
void controller_reset(controller_t* ctl);
// Executes one instruction byte (RS = 0).
void controller_instruction(controller_t* ctl, unsigned char byte);
// Writes one data byte (RS = 1) to DDRAM or CGRAM at AC, then steps AC (and shifts the display
// when S is set and the write went to DDRAM).
void controller_data(controller_t* ctl, unsigned char byte);
// Read busy flag and address (RW = 1, RS = 0): BF (always 0 here) in bit 7, AC below. No change.
unsigned char controller_read_busy(const controller_t* ctl);
// Read data (RW = 1, RS = 1): DR gets the byte at AC, AC steps. Returns the byte.
unsigned char controller_read_data(controller_t* ctl);
// One E falling edge: RS, RW and the data lines D7..D0. With an 8-bit bus it is one whole
// instruction, data write or read; with a 4-bit bus D7..D4 carry a nibble, high nibble first,
// and every second edge completes one.
void controller_bus(controller_t* ctl, bool rs, bool rw, unsigned char data);
// The DDRAM address shown at `position` (0-based, before the display shift) of line `line`
// (0 or 1; line 1 exists in two-line mode only), or -1 when there is no such position.
int controller_address_at(const controller_t* ctl, int line, int position);
// The eight dot rows of CGRAM glyph `code & 7`, bits 4..0, bit 4 leftmost.
const unsigned char* controller_glyph(const controller_t* ctl, unsigned char code);

} // namespace vimbra
