// The interpreter's only way out: console, simulated ports and the picture.
#pragma once

#include <cstdint>

namespace vimbra {

struct console_t;
struct lcdimg_t;

struct hal_t {
    lcdimg_t* lcd_image;
    const console_t* console; // the script's console; null: the standard streams
};

// Sets the image handle; the console is the standard one until the runner gives another.
int hal_init(hal_t* hal, lcdimg_t* lcd_image);
// Next byte of the console's input (0..255), -1 at end of input.
int hal_getc(hal_t* hal);
// Writes the low byte of c to the console; the byte, or -1 on error.
int hal_putc(hal_t* hal, int c);
// Writes a text character by character, no line end added. Returns 0.
int hal_puts(hal_t* hal, const char* text);
// Reads one line of at most `capacity` characters (buf holds capacity + 1); stops at
// NUL, LF, CR or end of input, none of which is stored. Returns buf.
char* hal_gets(hal_t* hal, char* buf, int capacity);
// Port 0 is the console; other ports are simulated and print a line on the console. Return 0.
int hal_read(hal_t* hal, std::int32_t port, std::int32_t* value);
int hal_write(hal_t* hal, std::int32_t port, std::int32_t value);
// Drawing in the picture's current colour; values passed on unchanged (colour channels
// reduced to their low 8 bits). Without an image handle nothing is drawn.
void hal_color(hal_t* hal, std::int32_t r, std::int32_t g, std::int32_t b);
void hal_plot(hal_t* hal, std::int32_t x, std::int32_t y);
void hal_line(hal_t* hal, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2);
void hal_box(hal_t* hal, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2);
void hal_fillbox(hal_t* hal, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2);
void hal_circle(hal_t* hal, std::int32_t x, std::int32_t y, std::int32_t radius);

} // namespace vimbra
