// The LCD image: settings, text grid, glyph table, pixel buffer and the canvas over it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/console.hpp"
#include "bmp/bmpimg.hpp"

namespace vimbra {

struct charset_t;
struct cmdlog_module_t;
struct screen_state_t;

inline constexpr std::size_t LCDIMG_TEXT_CAPACITY = 8192; // text settings, terminator included
inline constexpr int LCDIMG_GLYPH_COUNT = 256;
inline constexpr int LCDIMG_GLYPH_BYTES = 5; // one byte per dot column, bit 0 = top dot row
inline constexpr int LCDIMG_DOT_COLUMNS = 5; // dots across a cell
inline constexpr int LCDIMG_DOT_ROWS = 8;    // dots down a cell

inline constexpr int LCDIMG_MAX_ROW_ADDRESSES = 16; // values ROW_ADDRESSES may give

// Largest picture accepted, per side and in BMP file bytes; larger settings are refused
// before anything is allocated.
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
inline constexpr std::int64_t LCDIMG_MAX_SIDE = 65535;
inline constexpr std::int64_t LCDIMG_MAX_FILE_BYTES = 0x7FFFFFFFLL; // BMP sizes stay within int
#else
// Fuzzing explores the same checks with small limits, so that every input stays fast.
inline constexpr std::int64_t LCDIMG_MAX_SIDE = 1024;
inline constexpr std::int64_t LCDIMG_MAX_FILE_BYTES = 256 * 1024;
#endif

using lcdimg_font_t = std::array<unsigned char, LCDIMG_GLYPH_COUNT * LCDIMG_GLYPH_BYTES>;

struct lcdimg_rgb_t {
    int r;
    int g;
    int b;
};

struct lcdimg_t {
    std::array<char, LCDIMG_TEXT_CAPACITY> lcd_vendor;
    std::array<char, LCDIMG_TEXT_CAPACITY> lcd_model;
    // The twelve geometry settings, in this order.
    int chcnt_x;
    int chcnt_y;
    int chofs_x;
    int chofs_y;
    int chgap_x;
    int chgap_y;
    int pixsiz_x;
    int pixsiz_y;
    int pixgap_x;
    int pixgap_y;
    int frame_x;
    int frame_y;
    // The nine colour components, in this order; full ints, reduced to bytes when drawn.
    lcdimg_rgb_t frcol;
    lcdimg_rgb_t fgcol;
    lcdimg_rgb_t bgcol;
    int contrast;     // percent weight of the background in an unlit dot
    int shadow_depth; // number of shadow rings
    int shadow_curve; // brightness step per ring, percent
    std::array<char, LCDIMG_TEXT_CAPACITY> script_path;
    // Most interpreter steps the script may take; 0, as lcdimg_open leaves it, for no limit.
    // Not a profile setting: a front end that must stay responsive sets it.
    std::int64_t script_step_limit;
    // The script's messages begin with its path (a front end's choice; false as opened).
    bool script_messages_named;
    // nullptr, as opened, or asked now and then while the script runs whether to stop it
    // (script_stop_func_t): a front end with a clock budget sets it.
    bool (*script_should_stop)(void* ctx);
    void* script_stop_ctx;
    std::array<char, LCDIMG_TEXT_CAPACITY> charset_name; // CHARSET as written; empty: none
    unsigned char* text_grid;                            // chcnt_x * chcnt_y codes, row-major
    int canvas_width;
    int canvas_height;
    unsigned char* pixels; // canvas_width * canvas_height * 3 bytes, RGB, top row first
    // Opened over canvas_pixel_writer and canvas_pixel_reader with this image as their
    // context, and never reopened: the rendering calls those two directly.
    bmpimg_t canvas;
    lcdimg_font_t font;
    // The character set of charset_name, nullptr without one: the glyph table started from
    // it, and row arguments are read as UTF-8 text in it.
    const charset_t* charset;
    bmpimg_color_t draw_color; // current script drawing colour
    // Dot colours worked out once from the settings, so painting a dot pixel is a copy.
    bmpimg_color_t lit_rgb;
    bmpimg_color_t unlit_rgb;
    // ROW_ADDRESSES as written (its words joined by one blank; empty: none), and the start
    // address of each module row it gives. row_address_count is -1 when the value is
    // malformed (lcdimg_check_settings refuses it), 0 without the key.
    std::array<char, LCDIMG_TEXT_CAPACITY> row_addresses_text;
    std::array<unsigned char, LCDIMG_MAX_ROW_ADDRESSES> row_addresses;
    int row_address_count;
    // nullptr, or chcnt_x * chcnt_y glyphs of LCDIMG_GLYPH_BYTES, row-major: when present the
    // cells are drawn from these instead of from the font by text_grid (a replay's display).
    unsigned char* cell_glyphs;
    // The backlight of the moment shown is off (a replay sets it): the panel and the dots
    // take the unlit colours of backlight_unlit_colors. False as opened.
    bool backlight_off;
    // Where the image's messages, its listing and its script's console go, and where the
    // script reads from: zeroed, as opened, the standard streams.
    console_t console;
};

// Built-in glyphs: printable ASCII at 0x21..0x7F, everything else blank.
extern const lcdimg_font_t font5x8_master;

// Initial script drawing colour, used until the script's first `color` statement.
inline constexpr bmpimg_color_t LCDIMG_DEFAULT_DRAW_COLOR{255, 255, 255};

// Creates an image from a profile and a font file; unreadable files only warn.
// Returns nullptr when the settings are unsafe or memory cannot be had.
lcdimg_t* lcdimg_open(const char* profile_path, const char* font_path);
// lcdimg_open saying its warnings, and later the image's messages, on `console` (null: the
// standard streams).
lcdimg_t* lcdimg_open_to(const char* profile_path, const char* font_path,
                         const console_t* console);
// Gives every setting its built-in value: the profile reader then overwrites some.
void lcdimg_set_defaults(lcdimg_t* img);
// Results of lcdimg_open_checked.
enum lcdimg_open_status : int {
    LCDIMG_OPENED = 0,
    LCDIMG_OPEN_PROFILE_UNREADABLE = 1,
    LCDIMG_OPEN_FONT_UNREADABLE = 2,
    LCDIMG_OPEN_BAD_SETTING = 3, // message: "Illegal setting: ..." or "Picture too large: ..."
    LCDIMG_OPEN_NO_MEMORY = 4,   // message: "Memory Allocation Error."
};
// Holds every refusal line, a whole text setting included.
inline constexpr int LCDIMG_SETTING_MESSAGE_CAPACITY = LCDIMG_TEXT_CAPACITY + 256;
// lcdimg_open for a front end that reports problems itself and where both files are
// optional: a null path reads no file (the built-in settings or glyphs stand), and a named
// file that cannot be read refuses the image. Prints nothing. On refusal *out is null and
// `message` gets the line to print (no line end; empty for an unreadable file, whose errno
// is still set). The image's set, as lcdimg_open's, follows the profile's CHARSET.
int lcdimg_open_checked(const char* profile_path, const char* font_path, lcdimg_t** out,
                        char* message, int message_capacity);
// A profile or a font for lcdimg_open_from: the file at `path` when it is not null, else
// `length` bytes of `text` (a null text is an empty one).
struct lcdimg_source_t {
    const char* path;
    const char* text;
    std::size_t length;
};
// lcdimg_open_checked over sources: a null source reads nothing, and for a text source
// "unreadable" never happens. The image's console is zeroed (the standard streams).
int lcdimg_open_from(const lcdimg_source_t* profile, const lcdimg_source_t* font, lcdimg_t** out,
                     char* message, int message_capacity);
// Makes `set` the image's character set: its glyphs, with the font file at `font_path`
// (null: none) applied on top again, without a warning. 0, or -1 when the font cannot be
// read (the set's glyphs then stand alone).
int lcdimg_use_charset(lcdimg_t* img, const charset_t* set, const char* font_path);
// lcdimg_use_charset with the font from a source (null: none).
int lcdimg_use_charset_from(lcdimg_t* img, const charset_t* set, const lcdimg_source_t* font);
// Stores a code in cell (x, y); -1 when the cell does not exist.
int lcdimg_set_text(lcdimg_t* img, int x, int y, unsigned char code);
// Gives the image its per-cell glyphs (all unlit) unless it has them. 0, or -1 when memory
// is short.
int lcdimg_use_cell_glyphs(lcdimg_t* img);
// The module of the image's grid, as a command log and a replay see it: its ROW_ADDRESSES,
// its CHARSET or else A00.
void lcdimg_module_of(const lcdimg_t* img, cmdlog_module_t* module);
// The font's glyphs 0..7 as CGRAM dot rows (64 bytes, bit 4 the leftmost dot): a replay's
// first CGRAM, so that a font file can give the firmware's custom characters.
void lcdimg_cgram_of(const lcdimg_t* img, unsigned char* cgram);
// Draws a screen state (a replay's display at a moment) into the image's text grid and its
// per-cell glyphs, and sets its backlight. 0, or -1 when memory is short.
int lcdimg_show_screen(lcdimg_t* img, const screen_state_t* screen);
// Gives an opened image another grid of cells (a log's module line), all blank, and the
// picture size that follows. LCDIMG_OPENED; LCDIMG_OPEN_BAD_SETTING with the grid unchanged
// when the picture would be too large ("Picture too large: ..." in `message`); or
// LCDIMG_OPEN_NO_MEMORY, after which the image can only be closed.
int lcdimg_set_grid(lcdimg_t* img, int columns, int rows, char* message, int message_capacity);
// Releases the image; a null image is accepted. Returns 0.
int lcdimg_close(lcdimg_t* img);
// Nominal size of one cell: its dots and the gaps between them (not the gap to the next
// cell), in 32-bit wrap-around arithmetic. The cell pitch adds chgap_x and chgap_y.
void lcdimg_cell_size(const lcdimg_t* img, int* width, int* height);
// Picture size from the current settings, in 32-bit wrap-around arithmetic.
void calc_canvas_size(const lcdimg_t* img, int* width, int* height);
// Canvas callbacks over the pixel buffer; ctx is the lcdimg_t. Points outside are ignored.
void canvas_pixel_writer(int x, int y, unsigned char r, unsigned char g, unsigned char b,
                         void* ctx);
void canvas_pixel_reader(int x, int y, unsigned char* r, unsigned char* g, unsigned char* b,
                         void* ctx);

// Refuses unsafe geometry before anything is allocated: counts and dot sizes below 1, offsets,
// gaps and frames below 0, a picture beyond LCDIMG_MAX_SIDE or LCDIMG_MAX_FILE_BYTES, or a
// CHARSET that names no character set, or a malformed ROW_ADDRESSES.
// Prints one line naming the problem and returns -1; 0 when the settings are sound.
int lcdimg_check_settings(const lcdimg_t* img);
// lcdimg_check_settings without printing: the line, without its line end, goes into `message`.
int lcdimg_check_settings_message(const lcdimg_t* img, char* message, int capacity);
// Works out lit_rgb and unlit_rgb from fgcol, bgcol and contrast (the unlit-dot blend).
void calc_dot_colors(lcdimg_t* img);
// Paints background, frame, shadow rings and every cell into the pixel buffer; no script, no
// file. The settings must be those lcdimg_open accepted.
void lcdimg_paint(lcdimg_t* img);

// 32-bit two's-complement arithmetic, exactly what a 32-bit machine gives, without signed
// overflow: the sums and products of the settings are defined to wrap around.
inline std::int32_t wrap32_add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
inline std::int32_t wrap32_sub(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
inline std::int32_t wrap32_mul(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

// Paints the picture and runs the profile's script on it; the pixels are then final.
void lcdimg_render(lcdimg_t* img);
// Paints the picture, runs the profile's script and writes the picture file at `path`,
// BMP or PNG as outfile_write_picture chooses by its name.
// Returns 0, OUTFILE_NO_MEMORY (-2) when an encoder ran out of memory, or -1 when the file
// could not be written completely; errno then says why, and an existing picture at `path`
// is untouched (outfile_write tells the exceptions).
int lcdimg_write_file(lcdimg_t* img, const char* path);

} // namespace vimbra
