// A replay's screen state drawn into the picture's record.
#include <cstring>

#include "chip/cmdlog.hpp"
#include "chip/replay.hpp"
#include "lcd/lcdimg.hpp"

namespace vimbra {

static_assert(CMDLOG_MAX_ROW_ADDRESSES == LCDIMG_MAX_ROW_ADDRESSES,
              "the module takes the profile's row addresses as they are");
static_assert(CHIP_CGRAM_BYTES == 8 * LCDIMG_DOT_ROWS, "eight user glyphs of the font's rows");

namespace {

constexpr unsigned char ALL_DOTS = 0xFF;

// Dot rows (bit `columns - 1` leftmost) as the picture's column bytes, bit 0 the top row.
void rows_to_columns(const unsigned char* rows, int dot_rows, int dot_columns,
                     unsigned char* columns) {
    for (int j = 0; j < LCDIMG_GLYPH_BYTES; ++j) {
        unsigned char bits = 0;
        for (int i = 0; i < dot_rows && i < 8; ++i) {
            bits =
                static_cast<unsigned char>(bits | (((rows[i] >> (dot_columns - 1 - j)) & 1) << i));
        }
        columns[j] = bits;
    }
}

void show_cell(const lcdimg_t* img, const screen_state_t* screen, int row, int column,
               unsigned char* code, unsigned char* glyph) {
    screen_cell_t cell{};
    screen_cell(screen, row, column, &cell);
    *code = cell.code;
    if (!cell.lit) {
        std::memset(glyph, 0, LCDIMG_GLYPH_BYTES);
        return;
    }
    if (cell.glyph != nullptr) {
        rows_to_columns(cell.glyph, screen->dot_rows, screen->dot_columns, glyph);
    } else {
        std::memcpy(glyph, &img->font[static_cast<std::size_t>(cell.code) * LCDIMG_GLYPH_BYTES],
                    LCDIMG_GLYPH_BYTES);
    }
    const auto underline = static_cast<unsigned char>(1U << (screen->cursor_row & 7));
    for (int j = 0; j < LCDIMG_GLYPH_BYTES; ++j) {
        if (cell.block) {
            glyph[j] = ALL_DOTS;
        } else if (cell.underline) {
            glyph[j] = static_cast<unsigned char>(glyph[j] | underline);
        }
    }
}

} // namespace

void lcdimg_module_of(const lcdimg_t* img, cmdlog_module_t* module) {
    cmdlog_module_make(img->chcnt_x, img->chcnt_y, img->row_addresses.data(),
                       img->row_address_count, img->charset, module);
}

void lcdimg_cgram_of(const lcdimg_t* img, unsigned char* cgram) {
    // Font columns (bit 0 the top row) turned into CGRAM rows (bit 4 the leftmost dot).
    for (int code = 0; code < 8; ++code) {
        for (int i = 0; i < LCDIMG_DOT_ROWS; ++i) {
            unsigned char row = 0;
            for (int j = 0; j < LCDIMG_GLYPH_BYTES; ++j) {
                const unsigned char column =
                    img->font[static_cast<std::size_t>(code * LCDIMG_GLYPH_BYTES + j)];
                row = static_cast<unsigned char>(row | (((column >> i) & 1) << (4 - j)));
            }
            cgram[code * LCDIMG_DOT_ROWS + i] = row;
        }
    }
}

int lcdimg_show_screen(lcdimg_t* img, const screen_state_t* screen) {
    if (img == nullptr || img->text_grid == nullptr || lcdimg_use_cell_glyphs(img) != 0) {
        return -1;
    }
    img->backlight_off = !screen->backlight_on;
    unsigned char* code = img->text_grid;
    unsigned char* glyph = img->cell_glyphs;
    for (int r = 0; r < img->chcnt_y; ++r) {
        for (int c = 0; c < img->chcnt_x; ++c) {
            show_cell(img, screen, r, c, code, glyph);
            ++code;
            glyph += LCDIMG_GLYPH_BYTES;
        }
    }
    return 0;
}

} // namespace vimbra
