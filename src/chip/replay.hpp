// A command log (or a decoded trace's events) replayed on the module's controllers, and the
// screen they show at a moment as a state the picture floor draws. The replay never draws.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "chip/chip.hpp"
#include "chip/cmdlog.hpp"

namespace vimbra {

inline constexpr std::int64_t REPLAY_BLINK_PHASE_US = 409600; // 409.6 ms at fOSC = 250 kHz
// Room for a cell's dot rows: 8 in 5 x 8 mode; 5 x 10 mode would take 10 and a cursor line.
inline constexpr int SCREEN_MAX_DOT_ROWS = 16;
inline constexpr int SCREEN_GLYPHS = 8; // user glyphs per controller

struct replay_t {
    cmdlog_module_t module;
    const cmdlog_t* log;
    std::array<chip_t, CMDLOG_MAX_CHIPS> chips;
    cmdlog_cursor_t cursor; // how far the log's events are applied
    std::int64_t now_us;    // the moment the controllers show
    bool display_seen_on;   // some controller's display was on after some event applied
    // The event the replay stopped at (its log line, 0 while none) and the function set byte
    // it could not show.
    std::uint32_t refused_line;
    unsigned char refused_function_set;
};

// What one controller shows at a moment.
struct screen_chip_t {
    std::array<unsigned char, CHIP_DDRAM_BYTES> ddram;
    // User glyphs as dot rows, top first, bit 0 the rightmost dot (dot_columns of them).
    std::array<std::array<unsigned char, SCREEN_MAX_DOT_ROWS>, SCREEN_GLYPHS> glyphs;
    bool two_lines;
    int shift; // positions moved left, 0..79
    bool display_on;
    bool cursor_on;     // underline
    bool blink_on;      // blinking block
    int cursor_address; // the DDRAM address of AC, -1 while AC is in CGRAM
};

// The screen of a module at a moment: per controller its codes, cursor and glyphs, and for
// the whole the blink phase and the backlight. Fixed size, whatever the module's grid. Cells
// carry their own size, so that taller (5 x 10 and a cursor line) or wider ones fit; rows of
// double height, icon rows, the chip's own ROM and contrast would be further fields here.
struct screen_state_t {
    cmdlog_module_t module; // how the module's rows show the controllers' lines
    int dot_rows;           // dot rows of a cell: 8
    int dot_columns;        // dot columns of a cell: 5
    int cursor_row;         // the dot row an underline cursor lights: 7
    bool blink_solid;       // the blink phase: the block of all dots is shown
    bool backlight_on;
    std::array<screen_chip_t, CMDLOG_MAX_CHIPS> chips;
};

// One module cell of a screen state.
struct screen_cell_t {
    bool lit;                   // a driven cell of a controller whose display is on
    unsigned char code;         // its character code (0x20 when not lit)
    const unsigned char* glyph; // a user glyph's dot rows for codes 0x00..0x0F, else null
    bool underline;             // the cursor's underline is on it
    bool block;                 // the cursor's blink block is on it, in its solid phase
};

// What the display shows besides its text, for a text report.
struct replay_status_t {
    int cursor_row; // module cell of the (first) cursor, -1 when none is shown
    int cursor_column;
    bool display_on;
    bool cursor_on; // underline on the chip whose cursor is reported
    bool blink_on;
};

// Starts at time 0: every controller reset (under `config`'s timing; null: ideal), CGRAM
// filled from `cgram` (CHIP_CGRAM_BYTES dot rows, as a font file gives the firmware's custom
// characters; null: zeros).
void replay_start(replay_t* replay, const cmdlog_module_t* module, const unsigned char* cgram,
                  const cmdlog_t* log, const chip_config_t* config = nullptr);
// Applies every event at or before `time_us` (which must not be before the last call's).
// 0, or -1 when an event cannot be replayed (5 x 10 dots): `message` then gets one line,
// "line N: ...", and the replay stops there.
int replay_advance(replay_t* replay, std::int64_t time_us, char* message, int message_capacity);
// Applies events that come from elsewhere than the replay's log (a decoded trace, the API),
// in order, and moves the replay's moment to `time_us`. 0, or -1 as replay_advance.
int replay_apply(replay_t* replay, const chip_event_t* events, std::size_t count,
                 std::int64_t time_us, char* message, int message_capacity);
// The screen at `time_us`: the controllers as they stand, the blink phase of that moment and
// the log's backlight then.
void replay_screen(const replay_t* replay, std::int64_t time_us, screen_state_t* screen);
// Module cell (row, column) of a screen state; a cell no line drives is not lit.
void screen_cell(const screen_state_t* screen, int row, int column, screen_cell_t* cell);
// The first moment after `time_us` at which the display may look different: the next event
// or backlight change, or the next blink edge while a blinking cursor is shown; INT64_MAX when
// nothing changes.
std::int64_t replay_next_change(const replay_t* replay, std::int64_t time_us);
// The cursor and the display modes as they stand.
void replay_status(const replay_t* replay, replay_status_t* status);

} // namespace vimbra
