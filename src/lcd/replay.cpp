#include "lcd/replay.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "lcd/lcdimg.hpp"

namespace vimbra {

namespace {

constexpr unsigned char UNDERLINE = 0x80; // the eighth dot row of every column byte
constexpr unsigned char ALL_DOTS = 0xFF;

// The DDRAM address that module cell (row, column) shows and the chip it comes from, or -1
// when the cell is not driven. In one-line mode only each chip's first row is: its start is
// taken on the 80-position ring.
int cell_address(const replay_t* replay, int row, int column, int* chip_index) {
    const cmdlog_module_t& module = replay->module;
    int chip = 0;
    int line = 0;
    int position = 0;
    if (column < 0 || column >= module.columns ||
        !cmdlog_row_start(&module, row, &chip, &line, &position)) {
        return -1;
    }
    *chip_index = chip;
    const controller_t& ctl = replay->chips[static_cast<std::size_t>(chip)];
    if (ctl.two_lines) {
        return controller_address_at(&ctl, line, position + column);
    }
    const int first_row = chip == 0 ? 0 : (module.rows + 1) / 2;
    if (row != first_row) {
        return -1;
    }
    return controller_address_at(&ctl, 0, line * CONTROLLER_LINE2_BASE + position + column);
}

// Whether the chip draws a cursor at `address`: its display is on, a cursor is asked for and
// the counter is in DDRAM at that address.
bool cursor_at(const controller_t& ctl, int address) {
    return ctl.display_on && (ctl.cursor_on || ctl.blink_on) && !ctl.ac_in_cgram &&
           ctl.ac == address;
}

// The first cell (row-major) that shows chip `chip`'s cursor; false when none does.
bool find_cursor(const replay_t* replay, int chip, int* row, int* column) {
    const controller_t& ctl = replay->chips[static_cast<std::size_t>(chip)];
    if (!cursor_at(ctl, ctl.ac)) {
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
            std::min(replay->module.columns, std::max(0, CONTROLLER_ONE_LINE_LENGTH - position));
        for (int c = 0; c < last; ++c) {
            int cell_chip = 0;
            if (cell_address(replay, r, c, &cell_chip) == ctl.ac && cell_chip == chip) {
                *row = r;
                *column = c;
                return true;
            }
        }
    }
    return false;
}

// Glyph `code & 7` of CGRAM (row bytes, bit 4 leftmost) as column bytes, bit 0 the top row.
void cgram_glyph(const controller_t& ctl, unsigned char code, unsigned char* columns) {
    const unsigned char* rows = controller_glyph(&ctl, code);
    for (int j = 0; j < LCDIMG_GLYPH_BYTES; ++j) {
        unsigned char bits = 0;
        for (int i = 0; i < 8; ++i) {
            bits = static_cast<unsigned char>(bits | (((rows[i] >> (4 - j)) & 1) << i));
        }
        columns[j] = bits;
    }
}

// The first blink phase (all dots) of each pair; blink runs free from time 0.
bool blink_solid(std::int64_t time_us) {
    return (std::max<std::int64_t>(time_us, 0) / REPLAY_BLINK_PHASE_US) % 2 == 0;
}

void show_cell(const replay_t* replay, const lcdimg_t* img, int row, int column, bool solid,
               unsigned char* code, unsigned char* glyph) {
    int chip = 0;
    const int address = cell_address(replay, row, column, &chip);
    const controller_t& ctl = replay->chips[static_cast<std::size_t>(chip)];
    if (address < 0 || !ctl.display_on) {
        *code = 0x20;
        std::memset(glyph, 0, LCDIMG_GLYPH_BYTES);
        return;
    }
    *code = ctl.ddram[static_cast<std::size_t>(address)];
    if (*code < 0x10) {
        cgram_glyph(ctl, *code, glyph);
    } else {
        std::memcpy(glyph, &img->font[static_cast<std::size_t>(*code) * LCDIMG_GLYPH_BYTES],
                    LCDIMG_GLYPH_BYTES);
    }
    if (!cursor_at(ctl, address)) {
        return;
    }
    for (int j = 0; j < LCDIMG_GLYPH_BYTES; ++j) {
        if (ctl.blink_on && solid) {
            glyph[j] = ALL_DOTS;
        } else if (ctl.cursor_on) {
            glyph[j] = static_cast<unsigned char>(glyph[j] | UNDERLINE);
        }
    }
}

void apply_event(controller_t* ctl, const cmdlog_event_t& event) {
    switch (event.kind) {
    case CMDLOG_INSTRUCTION:
        controller_instruction(ctl, event.value);
        break;
    case CMDLOG_DATA:
        controller_data(ctl, event.value);
        break;
    case CMDLOG_BUS:
        controller_bus(ctl, (event.flags & CMDLOG_FLAG_RS) != 0,
                       (event.flags & CMDLOG_FLAG_RW) != 0, event.value);
        break;
    case CMDLOG_READ_BUSY:
        (void)controller_read_busy(ctl);
        break;
    case CMDLOG_READ_DATA:
        (void)controller_read_data(ctl);
        break;
    default:
        break;
    }
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

} // namespace

void replay_start(replay_t* replay, const cmdlog_module_t* module, const lcdimg_t* img,
                  const cmdlog_t* log) {
    replay->module = *module;
    replay->module.chip_count = std::clamp(replay->module.chip_count, 1, CMDLOG_MAX_CHIPS);
    replay->log = log;
    cmdlog_cursor_start(log, &replay->cursor);
    replay->now_us = 0;
    replay->display_seen_on = false;
    replay->refused_line = 0;
    replay->refused_function_set = 0;
    for (controller_t& ctl : replay->chips) {
        controller_reset(&ctl);
        if (img == nullptr) {
            continue;
        }
        // Font columns (bit 0 the top row) turned into CGRAM rows (bit 4 the leftmost dot).
        for (int code = 0; code < 8; ++code) {
            for (int i = 0; i < 8; ++i) {
                unsigned char row = 0;
                for (int j = 0; j < LCDIMG_GLYPH_BYTES; ++j) {
                    const unsigned char column =
                        img->font[static_cast<std::size_t>(code * LCDIMG_GLYPH_BYTES + j)];
                    row = static_cast<unsigned char>(row | (((column >> i) & 1) << (4 - j)));
                }
                ctl.cgram[static_cast<std::size_t>(code * 8 + i)] = row;
            }
        }
    }
}

namespace {

// Applies one event of the log; stops at a function set the picture cannot show.
int apply_logged(const cmdlog_event_t* event, void* ctx) {
    auto* replay = static_cast<replay_t*>(ctx);
    const int chip = event->chip < replay->module.chip_count ? event->chip : 0;
    controller_t& ctl = replay->chips[static_cast<std::size_t>(chip)];
    apply_event(&ctl, *event);
    replay->display_seen_on = replay->display_seen_on || ctl.display_on;
    // F = 1 draws 5 x 10 only in one-line mode; in two-line mode the chip ignores it.
    if (ctl.tall_font && !ctl.two_lines) {
        replay->refused_line = std::max<std::uint32_t>(event->line, 1);
        replay->refused_function_set =
            static_cast<unsigned char>(0x24 | (ctl.eight_bit ? 0x10 : 0));
        return 1;
    }
    return 0;
}

} // namespace

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

int replay_show(const replay_t* replay, lcdimg_t* img, std::int64_t time_us) {
    if (img == nullptr || img->text_grid == nullptr || lcdimg_use_cell_glyphs(img) != 0) {
        return -1;
    }
    img->backlight_off = !cmdlog_backlight_at(replay->log, time_us);
    const bool solid = blink_solid(time_us);
    unsigned char* code = img->text_grid;
    unsigned char* glyph = img->cell_glyphs;
    for (int r = 0; r < img->chcnt_y; ++r) {
        for (int c = 0; c < img->chcnt_x; ++c) {
            show_cell(replay, img, r, c, solid, code, glyph);
            ++code;
            glyph += LCDIMG_GLYPH_BYTES;
        }
    }
    return 0;
}

int replay_apply(replay_t* replay, const cmdlog_event_t* events, std::size_t count,
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
    const controller_t& ctl = replay->chips[static_cast<std::size_t>(chip)];
    status->display_on = ctl.display_on;
    status->cursor_on = ctl.cursor_on;
    status->blink_on = ctl.blink_on;
}

} // namespace vimbra
