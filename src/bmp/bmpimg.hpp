// A drawing surface that owns no pixels: it reaches them through two callbacks.
#pragma once

#include <array>
#include <cstdint>

#include "bmp/bmptypes.hpp"

namespace vimbra {

// Red, green, blue.
using bmpimg_color_t = std::array<unsigned char, 3>;

// The built-in text font: glyphs of FONT_X columns by FONT_Y rows for the codes
// FONT_MIN_CODE to FONT_MAX_CODE; other codes draw a checkered placeholder.
inline constexpr unsigned char FONT_X = 5;
inline constexpr unsigned char FONT_Y = 7;
inline constexpr unsigned char FONT_MIN_CODE = 0x20;
inline constexpr unsigned char FONT_MAX_CODE = 0x7F;

struct bmpimg_t {
    int width;
    int height;
    bmpimg_pixel_writer_t writer;
    void* writer_ctx;
    bmpimg_pixel_reader_t reader;
    void* reader_ctx;
};

// Stores the size and the callbacks; allocates and draws nothing.
void bmpimg_open(bmpimg_t* canvas, int width, int height, bmpimg_pixel_writer_t writer,
                 void* writer_ctx, bmpimg_pixel_reader_t reader, void* reader_ctx);
// Does nothing: the pixels belong to the caller. Returns 0.
int bmpimg_close(bmpimg_t* canvas);

// One pixel; a point outside the canvas is dropped. Returns 0.
int bmpimg_draw_pixel(bmpimg_t* canvas, int x, int y, const bmpimg_color_t& color);
// Bresenham line including both end points; points outside the canvas are skipped. Returns 0.
int bmpimg_draw_line(bmpimg_t* canvas, int x1, int y1, int x2, int y2, const bmpimg_color_t& color);
// Rectangle outline; -1 (nothing drawn) unless all four coordinates lie inside the canvas.
int bmpimg_draw_box(bmpimg_t* canvas, int x1, int y1, int x2, int y2, const bmpimg_color_t& color);
// Filled rectangle; -1 (nothing drawn) unless all four coordinates lie inside the canvas.
int bmpimg_fill_box(bmpimg_t* canvas, int x1, int y1, int x2, int y2, const bmpimg_color_t& color);
// Midpoint circle outline; points outside the canvas are dropped. Returns 0.
int bmpimg_draw_circle(bmpimg_t* canvas, int x, int y, int r, const bmpimg_color_t& color);

// Text in the built-in 5 x 7 font, each dot a size x size square. Returns 0.
int bmpimg_draw_string(bmpimg_t* canvas, int x, int y, int size, const char* text,
                       const bmpimg_color_t& color);
// Box outline, with both diagonals when `checked` is nonzero.
void bmpimg_draw_checkbox(bmpimg_t* canvas, int x1, int y1, int x2, int y2, int checked,
                          const bmpimg_color_t& color);
// Box outline filled in proportion to value within min..max: the bar covers columns
// x1 + 1 to x1 + w - 1 with w = (x2 - x1) * (value - min) / (max - min), computed in 64 bits.
// Only the outline when value lies outside min..max. When min equals max (and value with
// them) the inside (x1 + 1, y1 + 1)-(x2 - 1, y2 - 1) is filled completely.
void bmpimg_draw_progressbar(bmpimg_t* canvas, int x1, int y1, int x2, int y2, int min, int max,
                             int value, const bmpimg_color_t& color);

// True when (x, y) lies on the canvas; 64-bit so that callers may offset int corners freely.
inline bool bmpimg_inside(const bmpimg_t* canvas, std::int64_t x, std::int64_t y) {
    return x >= 0 && x < canvas->width && y >= 0 && y < canvas->height;
}

// The one filled-box routine, bmpimg_fill_box's: -1 unless both corners lie on the canvas,
// else write(x, y, r, g, b) for every pixel, top row first, each row left to right. A
// template over the pixel writer so that a caller whose writer the compiler can see gets it
// inlined: a background is millions of pixels, and an indirect call costs more than a pixel.
template <class Write>
int bmpimg_fill_box_with(const bmpimg_t* canvas, std::int64_t x1, std::int64_t y1, std::int64_t x2,
                         std::int64_t y2, const bmpimg_color_t& color, Write& write) {
    if (!bmpimg_inside(canvas, x1, y1) || !bmpimg_inside(canvas, x2, y2)) {
        return -1;
    }
    const unsigned char r = color[0];
    const unsigned char g = color[1];
    const unsigned char b = color[2];
    const int left = static_cast<int>(x1);
    const int right = static_cast<int>(x2);
    const int bottom = static_cast<int>(y2);
    for (int y = static_cast<int>(y1); y <= bottom; ++y) {
        for (int x = left; x <= right; ++x) {
            write(x, y, r, g, b);
        }
    }
    return 0;
}

// Saves the canvas as a 24-bit BMP through `func`, reading every pixel back. Returns 0.
int bmpimg_bmp_write(bmpimg_t* canvas, bmpfile_write_func_t func, void* ctx);
// Loads a BMP onto the canvas; pixels outside the canvas are dropped. Returns 0.
int bmpimg_bmp_read(bmpimg_t* canvas, bmpfile_read_func_t func, void* ctx);

} // namespace vimbra
