#include "chip/replay.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vimbra {

namespace {

constexpr int DOT_ROWS = CHIP_GLYPH_ROWS;
constexpr int DOT_COLUMNS = 5;
constexpr int UNDERLINE_ROW = DOT_ROWS - 1; // the eighth dot row

// The DDRAM address that module cell (row, column) shows and the chip it comes from, or -1
// when the cell is not driven. In one-line mode only each chip's first row is: its start is
// taken on the 80-position ring. `Chip` is a chip or a screen state's copy of one.
template <typename Chip>
int cell_address(const cmdlog_module_t& module, const std::array<Chip, CMDLOG_MAX_CHIPS>& chips,
                 int row, int column, int* chip_index) {
    int chip = 0;
    int line = 0;
    int position = 0;
    if (column < 0 || column >= module.columns ||
        !cmdlog_row_start(&module, row, &chip, &line, &position)) {
        return -1;
    }
    *chip_index = chip;
    const Chip& c = chips[static_cast<std::size_t>(chip)];
    if (c.two_lines) {
        return chip_window_address(true, c.shift, line, position + column);
    }
    const int first_row = chip == 0 ? 0 : (module.rows + 1) / 2;
    if (row != first_row) {
        return -1;
    }
    return chip_window_address(false, c.shift, 0, line * CHIP_LINE2_BASE + position + column);
}

// Whether the chip draws a cursor at `address`: its display is on, a cursor is asked for and
// the counter is in DDRAM at that address.
bool cursor_at(const chip_t& chip, int address) {
    return chip.display_on && (chip.cursor_on || chip.blink_on) && !chip.ac_in_cgram &&
           chip.ac == address;
}

// The first cell (row-major) that shows chip `chip`'s cursor; false when none does.
bool find_cursor(const replay_t* replay, int chip, int* row, int* column) {
    const chip_t& c = replay->chips[static_cast<std::size_t>(chip)];
    if (!cursor_at(c, c.ac)) {
        return false;
    }
    for (int r = 0; r < replay->module.rows; ++r) {
        int row_chip = 0;
        int line = 0;
        int position = 0;
        if (!cmdlog_row_start(&replay->module, r, &row_chip, &line, &position) ||
            row_chip != chip) {
            continue;
        }
        // Cells past the longest line show nothing: a wide module costs no more than 80.
        const int last =
            std::min(replay->module.columns, std::max(0, CHIP_ONE_LINE_LENGTH - position));
        for (int col = 0; col < last; ++col) {
            int cell_chip = 0;
            if (cell_address(replay->module, replay->chips, r, col, &cell_chip) == c.ac &&
                cell_chip == chip) {
                *row = r;
                *column = col;
                return true;
            }
        }
    }
    return false;
}

// The first blink phase (all dots) of each pair; blink runs free from time 0.
bool blink_solid(std::int64_t time_us) {
    return (std::max<std::int64_t>(time_us, 0) / REPLAY_BLINK_PHASE_US) % 2 == 0;
}

void apply_event(chip_t* chip, const chip_event_t& event) {
    chip_byte_t byte{};
    (void)chip_event(chip, &event, &byte);
}

int refuse_tall_font(const replay_t* replay, char* message, int message_capacity) {
    if (message != nullptr && message_capacity > 0) {
        std::snprintf(message, static_cast<std::size_t>(message_capacity),
                      "line %u: 5 x 10 dots (function set 0x%02X) are not supported: the "
                      "picture has 5 x 8 cells.",
                      static_cast<unsigned>(replay->refused_line),
                      static_cast<unsigned>(replay->refused_function_set));
    }
    return -1;
}

// Applies one event of the log; stops at a function set the picture cannot show.
int apply_logged(const chip_event_t* event, void* ctx) {
    auto* replay = static_cast<replay_t*>(ctx);
    const int index = event->chip < replay->module.chip_count ? event->chip : 0;
    chip_t& chip = replay->chips[static_cast<std::size_t>(index)];
    apply_event(&chip, *event);
    replay->display_seen_on = replay->display_seen_on || chip.display_on;
    // F = 1 draws 5 x 10 only in one-line mode; in two-line mode the chip ignores it.
    if (chip.tall_font && !chip.two_lines) {
        replay->refused_line = std::max<std::uint32_t>(event->line, 1);
        replay->refused_function_set =
            static_cast<unsigned char>(0x24 | (chip.eight_bit ? 0x10 : 0));
        return 1;
    }
    return 0;
}

void copy_chip(const chip_t& chip, screen_chip_t* copy) {
    copy->ddram = chip.ddram;
    for (int g = 0; g < SCREEN_GLYPHS; ++g) {
        auto& rows = copy->glyphs[static_cast<std::size_t>(g)];
        rows.fill(0);
        std::memcpy(rows.data(), chip_glyph(&chip, static_cast<unsigned char>(g)), DOT_ROWS);
    }
    copy->two_lines = chip.two_lines;
    copy->shift = chip.shift;
    copy->display_on = chip.display_on;
    copy->cursor_on = chip.cursor_on;
    copy->blink_on = chip.blink_on;
    copy->cursor_address = chip.ac_in_cgram ? -1 : chip.ac;
}

} // namespace

void replay_start(replay_t* replay, const cmdlog_module_t* module, const unsigned char* cgram,
                  const cmdlog_t* log, const chip_config_t* config) {
    replay->module = *module;
    replay->module.chip_count = std::clamp(replay->module.chip_count, 1, CMDLOG_MAX_CHIPS);
    replay->log = log;
    cmdlog_cursor_start(log, &replay->cursor);
    replay->now_us = 0;
    replay->display_seen_on = false;
    replay->refused_line = 0;
    replay->refused_function_set = 0;
    for (chip_t& chip : replay->chips) {
        chip_reset(&chip, config);
        if (cgram != nullptr) {
            std::memcpy(chip.cgram.data(), cgram, CHIP_CGRAM_BYTES);
        }
    }
}

int replay_advance(replay_t* replay, std::int64_t time_us, char* message, int message_capacity) {
    if (replay->refused_line != 0) {
        return refuse_tall_font(replay, message, message_capacity);
    }
    const int status =
        cmdlog_cursor_advance(replay->log, &replay->cursor, time_us, apply_logged, replay);
    if (replay->refused_line != 0) {
        return refuse_tall_font(replay, message, message_capacity);
    }
    if (status != 0) {
        if (message != nullptr && message_capacity > 0) {
            std::snprintf(message, static_cast<std::size_t>(message_capacity), "%s",
                          "Memory Allocation Error.");
        }
        return -1;
    }
    replay->now_us = std::max(replay->now_us, time_us);
    return 0;
}

int replay_apply(replay_t* replay, const chip_event_t* events, std::size_t count,
                 std::int64_t time_us, char* message, int message_capacity) {
    for (std::size_t i = 0; i < count && replay->refused_line == 0; ++i) {
        apply_logged(&events[i], replay);
    }
    if (replay->refused_line != 0) {
        return refuse_tall_font(replay, message, message_capacity);
    }
    replay->now_us = std::max(replay->now_us, time_us);
    return 0;
}

void replay_screen(const replay_t* replay, std::int64_t time_us, screen_state_t* screen) {
    screen->module = replay->module;
    screen->dot_rows = DOT_ROWS;
    screen->dot_columns = DOT_COLUMNS;
    screen->cursor_row = UNDERLINE_ROW;
    screen->blink_solid = blink_solid(time_us);
    screen->backlight_on = cmdlog_backlight_at(replay->log, time_us);
    for (std::size_t i = 0; i < screen->chips.size(); ++i) {
        copy_chip(replay->chips[i], &screen->chips[i]);
    }
}

void screen_cell(const screen_state_t* screen, int row, int column, screen_cell_t* cell) {
    *cell = screen_cell_t{false, 0x20, nullptr, false, false};
    int index = 0;
    const int address = cell_address(screen->module, screen->chips, row, column, &index);
    const screen_chip_t& chip = screen->chips[static_cast<std::size_t>(index)];
    if (address < 0 || !chip.display_on) {
        return;
    }
    cell->lit = true;
    cell->code = chip.ddram[static_cast<std::size_t>(address)];
    if (cell->code < 0x10) {
        cell->glyph = chip.glyphs[cell->code & 7].data();
    }
    if (chip.cursor_address == address && (chip.cursor_on || chip.blink_on)) {
        cell->block = chip.blink_on && screen->blink_solid;
        cell->underline = chip.cursor_on && !cell->block;
    }
}

std::int64_t replay_next_change(const replay_t* replay, std::int64_t time_us) {
    std::int64_t next = INT64_MAX;
    const cmdlog_t* log = replay->log;
    if (log != nullptr && log->time_count > 0) {
        const std::int64_t* first = log->times;
        const std::int64_t* end = first + log->time_count;
        const std::int64_t* later = std::upper_bound(first, end, time_us);
        if (later != end) {
            next = *later;
        }
    }
    for (std::size_t i = 0; log != nullptr && i < log->backlight_count; ++i) {
        if (log->backlight[i].time_us > time_us) {
            next = std::min(next, log->backlight[i].time_us);
            break;
        }
    }
    for (int chip = 0; chip < replay->module.chip_count; ++chip) {
        int row = 0;
        int column = 0;
        if (replay->chips[static_cast<std::size_t>(chip)].blink_on &&
            find_cursor(replay, chip, &row, &column)) {
            const std::int64_t phase = std::max<std::int64_t>(time_us, 0) / REPLAY_BLINK_PHASE_US;
            if (phase < INT64_MAX / REPLAY_BLINK_PHASE_US - 1) { // else no edge fits in time
                next = std::min(next, (phase + 1) * REPLAY_BLINK_PHASE_US);
            }
            break;
        }
    }
    return next;
}

void replay_status(const replay_t* replay, replay_status_t* status) {
    int chip = 0;
    status->cursor_row = -1;
    status->cursor_column = -1;
    for (int c = 0; c < replay->module.chip_count; ++c) {
        if (find_cursor(replay, c, &status->cursor_row, &status->cursor_column)) {
            chip = c;
            break;
        }
    }
    const chip_t& c = replay->chips[static_cast<std::size_t>(chip)];
    status->display_on = c.display_on;
    status->cursor_on = c.cursor_on;
    status->blink_on = c.blink_on;
}

} // namespace vimbra
