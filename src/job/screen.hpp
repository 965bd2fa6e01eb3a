// What the option form does with a finished picture besides writing it: scale it, compare it
// with a reference cell by cell, mark the differences, and spell the display as text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vimbra {

struct charset_t;
struct lcdimg_t;
struct replay_status_t;

inline constexpr int SCREEN_MAX_SCALE = 16;

// Where the cells lie in a picture drawn at `scale`: the first cell's top left dot pixel,
// the extent of a cell's dots and the distance from one cell to the next, all at scale 1.
struct screen_layout_t {
    std::int64_t left;
    std::int64_t top;
    std::int64_t cell_width;
    std::int64_t cell_height;
    std::int64_t pitch_x;
    std::int64_t pitch_y;
    int columns;
    int rows;
    int scale;
};

void screen_layout_of(const lcdimg_t* img, int scale, screen_layout_t* layout);
// The cell (row-major index) whose dots cover picture pixel (x, y), or -1 when none does:
// the frame, the margins, and the gaps between cells.
int screen_cell_at(const screen_layout_t* layout, int x, int y);

// True when the picture at `scale` stays within the limits of an opened image (65535 pixels
// a side, 2 GiB as a BMP file).
bool screen_scale_fits(int width, int height, int scale);
// Each pixel of an RGB picture as a scale x scale block, nearest neighbour. Returns a
// malloc'ed picture of (width * scale) x (height * scale), or null when memory is short or
// the picture would not fit (screen_scale_fits).
unsigned char* screen_scale(const unsigned char* rgb, int width, int height, int scale);

// The outcome of comparing two pictures of one size.
struct screen_diff_t {
    unsigned char* cells; // one byte per cell, 1 where a pixel of the cell differs; malloc'ed
    int cell_count;       // cells that differ
    bool outside;         // a pixel outside every cell differs
};

// Compares `rgb` with `ref`, both width x height. -1 when memory is short. Release the
// result with screen_diff_free.
int screen_compare(const screen_layout_t* layout, const unsigned char* rgb,
                   const unsigned char* ref, int width, int height, screen_diff_t* diff);
void screen_diff_free(screen_diff_t* diff);
// The one-line report of a difference, no line end: "2 cells differ: row 1 column 5, ...",
// at most `list_limit` cells named, then "and N more"; "; pixels outside the cells differ
// too" or, with no cell, "pixels outside the cells differ". 0, or -1 when memory is short.
int screen_diff_report(const screen_layout_t* layout, const screen_diff_t* diff, int list_limit,
                       std::string* report);
// Marks the differences on `rgb` (the rendered picture): every pixel of a differing cell is
// moved half-way to magenta, and a differing pixel outside every cell becomes magenta.
void screen_mark(const screen_layout_t* layout, const screen_diff_t* diff, unsigned char* rgb,
                 const unsigned char* ref, int width, int height);

// The --diff picture's panels stand apart by this many pixels of SCREEN_PANEL_GAP_GREY.
inline constexpr int SCREEN_PANEL_GAP = 8;
inline constexpr unsigned char SCREEN_PANEL_GAP_GREY = 128;
// Three width x height RGB pictures side by side, left to right, with a gap between them:
// a malloc'ed picture of (3 width + 2 SCREEN_PANEL_GAP) x height, or null when memory is
// short. The caller checks that the size fits (screen_scale_fits at scale 1).
unsigned char* screen_panels(const unsigned char* left, const unsigned char* middle,
                             const unsigned char* right, int width, int height);

// One display row as a row argument that reads back as the same codes: with a set, each
// code as its character in the set; without one, 0x20..0x7E as themselves; every other code
// as \xHH and the backslash code as \\. 0, or -1 when memory is short.
int screen_spell_row(const charset_t* set, const unsigned char* codes, int count,
                     std::string* text);
// What the display shows, as text: each row spelled by screen_spell_row and a line end, then
// the cursor and the display modes ("cursor row 1 column 3, display on, cursor on, blink
// off", or "no cursor, ..."); a null status is that of typed rows. 0, or -1 when memory is
// short.
int screen_text(const lcdimg_t* img, const replay_status_t* status, std::string* text);

} // namespace vimbra
