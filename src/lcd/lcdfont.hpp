// The LCD font file: glyphs redefined dot by dot.
#pragma once

#include <cstddef>

namespace vimbra {

// Receives one dot: code 0..255, column 0..4, row 0..7, on 1 (lit) or 0.
using lcdfont_dot_callback_t = void (*)(int code, int column, int row, int on, void* ctx);

// Reads the font at `path`, reporting every dot row to `callback`, columns 0..4 in order.
// Returns 0 when the file was read, -1 when the path is empty or the file unreadable
// (a folder, for one: it opens but its first read fails). A read error after some lines
// keeps the dots already reported and returns 0.
int lcdfont_read(const char* path, lcdfont_dot_callback_t callback, void* ctx);
// Reads a font from `length` bytes of text (null: none) exactly as lcdfont_read reads its
// file. Returns 0.
int lcdfont_read_text(const char* text, std::size_t length, lcdfont_dot_callback_t callback,
                      void* ctx);
// The dot callback that builds an image's glyph table: sets or clears one dot of one glyph;
// ctx is the lcdimg_t. Dots outside the 256 glyphs of 5 x 8 are ignored.
void lcdfont_read_callback(int code, int column, int row, int on, void* ctx);

// One dot row as the reader took it, for callers that edit a font text: the glyph's code
// (-1 when no header is open: the row only advances the count), its row 0..7, its dots (bit
// c set: column c lit), and where its line lies in the file (a line longer than 8191
// characters arrives in pieces, each a line of its own).
struct lcdfont_row_t {
    int code;
    int row;
    int dots;
    long offset; // first byte
    long length; // bytes, line end included
};
using lcdfont_row_callback_t = void (*)(const lcdfont_row_t& row, void* ctx);

// Reads the font at `path` exactly as lcdfont_read does, reporting each dot row whole with
// its place in the file. Returns what lcdfont_read returns.
int lcdfont_read_rows(const char* path, lcdfont_row_callback_t callback, void* ctx);
// lcdfont_read_rows over a text; offsets count from its first byte.
int lcdfont_read_rows_text(const char* text, std::size_t length, lcdfont_row_callback_t callback,
                           void* ctx);
// The code 0..255 of a header line ("CODE 0x41"), -1 for any other line.
// Only the first 8191 characters of `line` are looked at.
int pickup_code(const char* line);

} // namespace vimbra
