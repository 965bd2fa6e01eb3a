// The command log: what firmware sent to the module, one event a line, read into a list of
// timed chip events (whole bytes, bus cycles of `i2c` lines, reads). Named forms (init, goto,
// print, ...) are lowered to the instruction and data bytes that a firmware library would send.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "chip/chip.hpp"

namespace vimbra {

struct charset_t;

inline constexpr int CMDLOG_MAX_CHIPS = 2;          // a module of more than 80 cells has two
inline constexpr int CMDLOG_MAX_ROW_ADDRESSES = 16; // starts a profile's ROW_ADDRESSES may give
inline constexpr int CMDLOG_MESSAGE_CAPACITY = 512;

// How a module's rows show the controllers' DDRAM.
struct cmdlog_module_t {
    int columns;
    int rows;
    int chip_count; // 1, or 2 when columns * rows > 80: the upper half of the rows is chip 0
    // 0 for the usual wiring (row r shows line r % 2 from position (r / 2) * columns);
    // otherwise the DDRAM start address of each module row from the top, rows beyond the list
    // undriven. On a two-chip module the lower half's rows count from their own chip.
    int row_address_count;
    std::array<unsigned char, CMDLOG_MAX_ROW_ADDRESSES> row_addresses;
    const charset_t* charset; // what `print` maps UTF-8 through: the profile's set, else A00
};

// Where a module row starts: its controller, its line (0 or 1) and its first position on
// that line (before the display shift). False when the row is not driven by any line.
bool cmdlog_row_start(const cmdlog_module_t* module, int row, int* chip, int* line, int* position);
// The module of a grid: one controller up to 80 cells, two beyond; the rows' starts
// (`row_address_count` of them, 0 for the usual wiring) and the set `print` maps through
// (null: A00).
void cmdlog_module_make(int columns, int rows, const unsigned char* row_addresses,
                        int row_address_count, const charset_t* charset, cmdlog_module_t* module);

inline constexpr int CMDLOG_MARK_NAME_MAX = 64; // characters of a mark's name

// A named moment of the log (`mark NAME`): the log's time at its line.
struct cmdlog_mark_t {
    std::int64_t time_us;
    std::uint32_t line;
    std::array<char, CMDLOG_MARK_NAME_MAX + 1> name; // terminated
};

// The backlight switched at a moment: by `backlight on|off` or by the BL pin of `i2c` bytes.
struct cmdlog_backlight_t {
    std::int64_t time_us;
    bool on;
};

// A read log. Its events are not stored: a named form can stand for many bytes, so they are
// lowered again from the text each time they are replayed (cmdlog_cursor_t), and memory stays
// near the text's size. Owned; released by cmdlog_free.
struct cmdlog_t {
    char* text; // the log's text, a copy
    std::size_t length;
    cmdlog_module_t module; // what it was read for
    std::int64_t* times;    // the times at which events happen, each once, ascending
    std::size_t time_count;
    std::size_t time_capacity;
    std::size_t count;   // its events
    std::int64_t end_us; // the log's end: the time after its last line, waits included
    // i2c bytes read, and how many of them gave E a falling edge (a hint at a wrong wiring).
    std::uint64_t expander_bytes;
    std::uint64_t expander_edges;
    // The marks in log order, each name once (its first line); owned.
    cmdlog_mark_t* marks;
    std::size_t mark_count;
    std::size_t mark_capacity;
    // Backlight changes in time order, only those that change it (it starts on); owned.
    cmdlog_backlight_t* backlight;
    std::size_t backlight_count;
    std::size_t backlight_capacity;
    // The `module COLSxROWS` line: its geometry and its log line; module_line 0 for none.
    int module_columns;
    int module_rows;
    std::uint32_t module_line;
};

inline constexpr int CMDLOG_NO_MEMORY = -2;

// Reads a whole log text for `module`. 0 on success; -1 when a line is malformed (`message`
// gets one line, no line end: "line N: what is wrong"); CMDLOG_NO_MEMORY when memory is short
// (message "Memory Allocation Error."). On failure the log holds no events. A leading UTF-8
// byte-order mark is skipped.
int cmdlog_read(const char* text, std::size_t length, const cmdlog_module_t* module, cmdlog_t* log,
                char* message, int message_capacity);
// Like cmdlog_read, but takes `text` (malloc'ed) as the log's own, whatever the result, so
// that it is never copied.
int cmdlog_read_owned(char* text, std::size_t length, const cmdlog_module_t* module, cmdlog_t* log,
                      char* message, int message_capacity);
// Releases the log; it is then empty. A zeroed log is accepted.
void cmdlog_free(cmdlog_t* log);

// Takes one event (its time_ps the line's time, chip_ps_of_us); nonzero stops the delivery.
using cmdlog_sink_t = int (*)(const chip_event_t* event, void* ctx);

// Where a replay of a log has got to: the reader's state between two lines.
inline constexpr std::size_t CMDLOG_CURSOR_STATE_BYTES = 320;
struct cmdlog_cursor_t {
    std::size_t offset; // where the next line starts in the text
    bool stopped;       // a sink stopped it, or memory ran short: nothing more comes
    alignas(8) std::array<unsigned char, CMDLOG_CURSOR_STATE_BYTES> state;
};

// Puts the cursor at the log's start.
void cmdlog_cursor_start(const cmdlog_t* log, cmdlog_cursor_t* cursor);
// Gives `sink`, in order, every event not given yet whose time is at most `time_us`. 0; the
// sink's nonzero result, which stops the cursor for good; or -1 when memory ran short.
int cmdlog_cursor_advance(const cmdlog_t* log, cmdlog_cursor_t* cursor, std::int64_t time_us,
                          cmdlog_sink_t sink, void* ctx);
// Every event of the log, in order, through a cursor of its own; as cmdlog_cursor_advance.
int cmdlog_each_event(const cmdlog_t* log, cmdlog_sink_t sink, void* ctx);

// Reads a time: a decimal number with unit "s", "ms" or "us" ("250ms", "1.5s"). Returns 0 and
// stores whole microseconds, or -1 for anything else (no unit, a fraction of a microsecond,
// a negative time, more than CMDLOG_MAX_TIME_US). Zero needs no unit ("0").
int cmdlog_parse_time(const char* text, std::int64_t* time_us);
inline constexpr std::int64_t CMDLOG_MAX_TIME_US = INT64_C(1) << 50; // about 35 years

// Limits of a `module COLSxROWS` line: the modules one or two controllers drive.
inline constexpr int CMDLOG_MODULE_MAX_COLUMNS = 80;
inline constexpr int CMDLOG_MODULE_MAX_ROWS = 4;
inline constexpr int CMDLOG_MODULE_MAX_CELLS = 160;

// True for a mark's name: 1 to CMDLOG_MARK_NAME_MAX letters, digits, '_', '-' and '.'.
bool cmdlog_is_mark_name(const char* name);
// The mark named `name`, or nullptr when the log has none of that name.
const cmdlog_mark_t* cmdlog_find_mark(const cmdlog_t* log, const char* name);
// Whether the backlight is on at `time_us`: after every change at or before it. A log
// without backlight lines keeps it on throughout.
bool cmdlog_backlight_at(const cmdlog_t* log, std::int64_t time_us);
// The geometry of the first well-formed `module` line of a log text, read before the log
// itself (which needs the module). True when there is one.
bool cmdlog_scan_module(const char* text, std::size_t length, int* columns, int* rows);

} // namespace vimbra
