// One character-LCD controller (HD44780 and compatibles) as firmware sees it: its memories,
// its registers, the half byte of a 4-bit bus, and its time. Every source drives it with the
// same events (a command log, a decoded trace, the C++ API, the host Arduino environment),
// each applied at its own instant; reads are answered by it. Rendering only reads it.
// Depends on nothing but the standard library, so that any library of the house can take it.
#pragma once

#include <array>
#include <cstdint>

namespace vimbra {

inline constexpr int CHIP_DDRAM_BYTES = 128; // indexed by the 7-bit address; 80 are used
inline constexpr int CHIP_CGRAM_BYTES = 64;  // 8 glyphs x 8 dot rows, bits 4..0 used
inline constexpr int CHIP_GLYPH_ROWS = 8;    // dot rows of one CGRAM glyph in 5 x 8 mode
inline constexpr int CHIP_LINE2_BASE = 0x40; // first address of line 2 in two-line mode
inline constexpr int CHIP_TWO_LINE_LENGTH = 40;
inline constexpr int CHIP_ONE_LINE_LENGTH = 80;
inline constexpr int CHIP_DEFAULT_FOSC_KHZ = 270;
inline constexpr int CHIP_MIN_FOSC_KHZ = 10;
inline constexpr int CHIP_MAX_FOSC_KHZ = 10000;
inline constexpr std::int64_t CHIP_PS_PER_US = 1000000;

// The one kind of event that reaches a chip, whatever its source.
enum chip_event_kind : unsigned char {
    CHIP_INSTRUCTION = 0, // value: a whole instruction byte (RS = 0, RW = 0)
    CHIP_DATA = 1,        // value: a whole data byte to write (RS = 1, RW = 0)
    CHIP_BUS = 2,         // one E falling edge: value D7..D0, flags CHIP_FLAG_RS/_RW
    CHIP_READ_BUSY = 3,   // read busy flag and address (RS = 0, RW = 1)
    CHIP_READ_DATA = 4,   // read data (RS = 1, RW = 1)
};
inline constexpr unsigned char CHIP_FLAG_RS = 1;
inline constexpr unsigned char CHIP_FLAG_RW = 2;

struct chip_event_t {
    std::int64_t time_ps; // its instant: picoseconds from the source's start
    std::uint32_t line;   // the source line it came from (a log's or a trace's), 0 for none
    unsigned char kind;   // chip_event_kind
    unsigned char value;
    unsigned char chip;  // which controller of the module: 0 or 1
    unsigned char flags; // CHIP_BUS only
};

// A whole byte as the chip received it: what a CHIP_BUS pair or a whole-byte event became.
struct chip_byte_t {
    std::int64_t time_ps; // the edge that completed it
    std::uint32_t line;
    int chip;
    unsigned char kind;   // CHIP_INSTRUCTION, CHIP_DATA, CHIP_READ_BUSY or CHIP_READ_DATA
    unsigned char value;  // the byte on the bus (for a read, whatever the lines held)
    bool taken;           // executed: the chip took it, or ideal timing runs every byte
    bool while_busy;      // a write completed before busy ended: refused under chip timing
    unsigned char answer; // a read's answer: BF and AC, or the data read; 0 for writes
};

// A timing fault as the chip judged it: one line of text, without the controller's number.
using chip_fault_func_t = void (*)(const chip_byte_t* byte, const char* text, void* ctx);

struct chip_config_t {
    bool chip_timing;        // false (ideal): being busy refuses nothing and BF reads 0
    int fosc_khz;            // outside CHIP_MIN_FOSC_KHZ..CHIP_MAX_FOSC_KHZ: the default
    chip_fault_func_t fault; // null: faults are not put into words (still judged)
    void* fault_ctx;
};

// Every register and memory of one controller, and its time. chip_reset assigns each field.
struct chip_t {
    // Memories.
    std::array<unsigned char, CHIP_DDRAM_BYTES> ddram;
    std::array<unsigned char, CHIP_CGRAM_BYTES> cgram; // dot rows, bit 4 the leftmost dot
    // Registers.
    unsigned char ac;            // address counter, 7 bits
    bool ac_in_cgram;            // the last address set was a CGRAM address
    int shift;                   // display shift, positions moved left, kept in 0..79
    bool eight_bit;              // function set: DL
    bool two_lines;              // N
    bool tall_font;              // F: 5 x 10 dots
    bool display_on;             // display on/off control: D
    bool cursor_on;              // C: underline cursor
    bool blink_on;               // B: blinking cursor
    bool increment;              // entry mode set: I/D
    bool shift_on_write;         // S: DDRAM writes also shift the display
    unsigned char data_register; // DR: what the last data read brought
    // The 4-bit bus: the high half of a byte latched, with its RS and RW.
    bool nibble_pending;
    unsigned char high_nibble;
    bool pending_rs;
    bool pending_rw;
    // Time.
    chip_config_t config;
    std::int64_t short_ps; // execution times at config.fosc_khz, worked out once
    std::int64_t long_ps;
    std::int64_t busy_until;   // BF = 1 before this instant (chip timing); INT64_MIN: never busy
    std::int64_t busy_for;     // the execution time that set it
    unsigned char busy_with;   // the instruction byte executing (when !busy_data)
    bool busy_data;            // a data write is executing
    int reset_sets;            // function sets with DL = 1 in a row (reset by instruction)
    std::int64_t reset_set_at; // the last of them
};

// The internal reset at power-on, in the datasheet's order: display clear (DDRAM 0x20, AC 0
// in DDRAM, no shift), function set (8-bit bus, one line, 5 x 8 dots), display off (no cursor,
// no blink), entry mode increment without shift; then CGRAM 0 (undefined on the chip), no half
// byte pending, DR 0, not busy. `config` null: ideal timing at the default fOSC, no fault text.
void chip_reset(chip_t* chip, const chip_config_t* config);
// Applies one event at its instant. True when it completed a whole byte (every event but the
// first half of a byte on a 4-bit bus), which `byte` then describes.
//
// Under chip timing an instruction or data write completed before busy ends is refused: it
// runs nothing and starts no busy time (a fault: "<what> 0x.. while busy with <what> until
// <ms> (<span>)"). Under ideal timing it runs all the same (the fault is still judged). Reads
// are never refused. Function sets with DL = 1 in a row must come 4.1 ms, then 100 us apart
// (reset by instruction; a fault otherwise). A function set that is run switches the bus
// width; a half byte pending does not survive a switch to 8 bits.
bool chip_event(chip_t* chip, const chip_event_t* event, chip_byte_t* byte);
// BF (bit 7) and AC as a read at `time_ps` answers them, without changing anything. BF is 1
// only under chip timing, before busy ends.
unsigned char chip_read_busy(const chip_t* chip, std::int64_t time_ps);
// Read data: DR gets the byte at AC (DDRAM, or CGRAM's five dots) and AC steps by I/D (a DDRAM
// read never shifts the display). Returns DR. Every read answers the memory at AC as it is
// then, so the first read after an address set gives the byte at that address; the real
// chip, which fetches DR ahead, would answer a stale byte for a read straight after a write.
unsigned char chip_read_data(chip_t* chip, std::int64_t time_ps);
// Whether the chip reads busy at `time_ps` (chip timing only).
bool chip_busy(const chip_t* chip, std::int64_t time_ps);
// Execution time of an instruction (or of a data write when `data`) at `fosc_khz`, in
// picoseconds: clear and home 1.52 ms, everything else 37 us, at 270 kHz, scaled by 270 / fOSC.
std::int64_t chip_execution_ps(unsigned char instruction, bool data, int fosc_khz);
// The datasheet's name of an instruction byte, decoded by its highest set bit ("clear",
// "home", "entry mode set", ..., "set DDRAM address"; "no instruction" for 0).
const char* chip_instruction_name(unsigned char instruction);
// The DDRAM address shown at `position` (0-based, before the display shift) of line `line`
// (0 or 1; line 1 exists in two-line mode only), or -1 when there is no such position.
int chip_address_at(const chip_t* chip, int line, int position);
// The same for a window described by its mode and shift (a copy of a chip's screen).
int chip_window_address(bool two_lines, int shift, int line, int position);
// The dot rows of CGRAM glyph `code & 7`, CHIP_GLYPH_ROWS of them, bits 4..0, bit 4 leftmost.
const unsigned char* chip_glyph(const chip_t* chip, unsigned char code);
// A time in microseconds as picoseconds. Logs run up to 2^50 us (35 years) but picoseconds
// reach only 2^63 (about 106 days): a later time becomes INT64_MAX, the last instant, so
// events past it all happen at once (as the last moment of a trace does).
std::int64_t chip_ps_of_us(std::int64_t time_us);
// Times in messages: "64.874 ms" with up to `decimals` decimals (digits cut, never rounded
// up, so a time never moves later; trailing zeros dropped for 3 decimals or fewer).
void chip_format_ms(std::int64_t ps, int decimals, char* out, int capacity);

} // namespace vimbra
