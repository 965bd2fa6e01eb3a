// The LCD font file: glyphs redefined dot by dot.
#pragma once

// Receives one dot: code 0..255, column 0..4, row 0..7, on 1 (lit) or 0.
using lcdfont_dot_callback_t = void (*)(int code, int column, int row, int on, void* ctx);

// Reads the font at `path`, reporting every dot row to `callback`, columns 0..4 in order.
// Returns 0 when the file was read, -1 when the path is empty or the file unreadable
// (a folder, for one: it opens but its first read fails). A read error after some lines
// keeps the dots already reported and returns 0.
int lcdfont_read(const char* path, lcdfont_dot_callback_t callback, void* ctx);
// The code 0..255 of a header line ("CODE 0x41"), -1 for any other line.
// Only the first 8191 characters of `line` are looked at.
int pickup_code(const char* line);
