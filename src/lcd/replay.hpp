// A command log replayed on the module's controllers: the display at any moment, drawn into
// an LCD image as its text grid and per-cell glyphs (CGRAM, cursor, blink phase, display off).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "lcd/cmdlog.hpp"
#include "lcd/controller.hpp"

namespace vimbra {

struct lcdimg_t;

inline constexpr std::int64_t REPLAY_BLINK_PHASE_US = 409600; // 409.6 ms at fOSC = 250 kHz

struct replay_t {
    cmdlog_module_t module;
    const cmdlog_t* log;
    std::array<controller_t, CMDLOG_MAX_CHIPS> chips;
    cmdlog_cursor_t cursor; // how far the log's events are applied
    std::int64_t now_us; // the moment the controllers show
    bool display_seen_on; // some controller's display was on after some event applied
    // The event the replay stopped at (its log line, 0 while none) and the function set byte
    // it could not show.
    std::uint32_t refused_line;
    unsigned char refused_function_set;
};

// What the display shows besides its text, for a text report.
struct replay_status_t {
    int cursor_row; // module cell of the (first) cursor, -1 when none is shown
    int cursor_column;
    bool display_on;
    bool cursor_on; // underline on the chip whose cursor is reported
    bool blink_on;
};

// Starts at time 0: every controller reset, CGRAM filled from glyphs 0..7 of img->font (so a
// font file can give the firmware's custom characters).
void replay_start(replay_t* replay, const cmdlog_module_t* module, const lcdimg_t* img,
                  const cmdlog_t* log);
// Applies every event at or before `time_us` (which must not be before the last call's).
// 0, or -1 when an event cannot be replayed (5 x 10 dots): `message` then gets one line,
// "line N: ...", and the replay stops there.
int replay_advance(replay_t* replay, std::int64_t time_us, char* message, int message_capacity);
// Applies events that come from elsewhere than the replay's log (a decoded trace), in order,
// and moves the replay's moment to `time_us`. 0, or -1 as replay_advance.
int replay_apply(replay_t* replay, const cmdlog_event_t* events, std::size_t count,
                 std::int64_t time_us, char* message, int message_capacity);
// Draws the display at `time_us` (the blink phase of that moment) into the image's text grid
// and its per-cell glyphs, and sets its backlight_off for that moment. 0, or -1 when memory
// is short.
int replay_show(const replay_t* replay, lcdimg_t* img, std::int64_t time_us);
// The first moment after `time_us` at which the display may look different: the next event
// or backlight change, or the next blink edge while a blinking cursor is shown; INT64_MAX when
// nothing changes.
std::int64_t replay_next_change(const replay_t* replay, std::int64_t time_us);
// The cursor and the display modes as they stand.
void replay_status(const replay_t* replay, replay_status_t* status);

} // namespace vimbra
