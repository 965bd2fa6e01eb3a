#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "bmp/outfile.hpp"
#include "lcd/lcdimg.hpp"
#include "script/script.hpp"

namespace {

// Paints one pixel of a dot; lit is nonzero for a lit dot.
using dot_drawer_t = void (*)(int x, int y, int lit, void* ctx);

constexpr int DOT_COLUMNS = 5;
constexpr int DOT_ROWS = 8;

// The painters store pixel bytes as this type rather than as unsigned char: a character
// store may change any object, so after each one the compiler would read the image's size,
// buffer and colours again, and could not keep them in registers across a loop of pixels.
// The buffer's bytes are then objects of this type, which unsigned char may still read
// and write.
enum class pixel_byte_t : unsigned char {};

// Stores one pixel's three bytes at `pixel`.
void store_pixel(unsigned char* pixel, unsigned char r, unsigned char g, unsigned char b) {
    auto* bytes = reinterpret_cast<pixel_byte_t*>(pixel);
    bytes[0] = pixel_byte_t{r};
    bytes[1] = pixel_byte_t{g};
    bytes[2] = pixel_byte_t{b};
}

// The byte offset of pixel (x, y), or -1 when it lies outside the picture. The fields are
// read before the test so that a loop of calls can read them once.
std::ptrdiff_t pixel_offset(const lcdimg_t* img, int x, int y) {
    const int width = img->canvas_width;
    const int height = img->canvas_height;
    if (img->pixels == nullptr || y < 0 || y >= height || x < 0 || x >= width) {
        return -1;
    }
    return (static_cast<std::ptrdiff_t>(y) * width + x) * 3;
}

unsigned char low_byte(int value) {
    return static_cast<unsigned char>(value & 0xFF);
}

bmpimg_color_t color_bytes(const lcdimg_rgb_t& c) {
    return {low_byte(c.r), low_byte(c.g), low_byte(c.b)};
}

// The unlit share of one component. The integer product wraps like a 32-bit machine's; the
// rest is double arithmetic in the written order (no contraction), then clamped and truncated.
unsigned char blend_component(int contrast, int fg, int bg) {
    const std::int32_t weighted = wrap32_mul(wrap32_sub(100, contrast), fg);
    const double v = static_cast<double>(weighted) / 100.0 +
                     (static_cast<double>(contrast) / 100.0) * static_cast<double>(bg);
    if (v < 0) {
        return 0;
    }
    if (v > 255.0) {
        return 255;
    }
    return static_cast<unsigned char>(v);
}

// bmpimg_fill_box(&img->canvas, ...), with the canvas's writer (canvas_pixel_writer over
// img, see lcdimg_t::canvas) called directly so that the compiler inlines it into the fill.
void fill_box(lcdimg_t* img, int x1, int y1, int x2, int y2, const bmpimg_color_t& color) {
    auto write = [img](int x, int y, unsigned char r, unsigned char g, unsigned char b) {
        canvas_pixel_writer(x, y, r, g, b, img);
    };
    bmpimg_fill_box_with(&img->canvas, x1, y1, x2, y2, color, write);
}

void paint_background(lcdimg_t* img, int w, int h) {
    fill_box(img, 0, 0, w - 1, h - 1, color_bytes(img->bgcol));
}

// A zero-wide band has its second corner before its first, so the canvas refuses it.
void paint_frame(lcdimg_t* img, int w, int h) {
    const bmpimg_color_t color = color_bytes(img->frcol);
    const int fx = img->frame_x;
    const int fy = img->frame_y;
    fill_box(img, 0, 0, fx - 1, h - 1, color);
    fill_box(img, w - fx, 0, w - 1, h - 1, color);
    fill_box(img, 0, 0, w - 1, fy - 1, color);
    fill_box(img, 0, h - fy, w - 1, h - 1, color);
}

// Ring i at K * (i - N) + 100 percent of the background, 32-bit integer arithmetic, low byte.
bmpimg_color_t ring_color(const lcdimg_t* img, int i) {
    const std::int32_t step = wrap32_sub(i, img->shadow_depth);
    const std::int32_t percent = wrap32_add(wrap32_mul(img->shadow_curve, step), 100);
    auto shade = [percent](int bg) { return low_byte(wrap32_mul(bg, percent) / 100); };
    return {shade(img->bgcol.r), shade(img->bgcol.g), shade(img->bgcol.b)};
}

// Rings past the middle cross over and still draw (their ends merely swap), so a ring's
// vertical lines leave the picture only when its left column frame_x + i reaches w; the
// right column w - frame_x - i - 1 is then below 0 as well. Likewise the horizontal lines
// at i >= h - frame_y. Stopping there keeps a huge depth bounded by the picture size; the
// canvas clips each line in bounded time, and frame <= w / 2 keeps every coordinate small.
void paint_shadow(lcdimg_t* img, int w, int h) {
    const int fx = img->frame_x;
    const int fy = img->frame_y;
    const int vertical_end = std::min(img->shadow_depth, w - fx);
    for (int i = 0; i < vertical_end; ++i) {
        const bmpimg_color_t color = ring_color(img, i);
        bmpimg_draw_line(&img->canvas, fx + i, fy + i, fx + i, h - fy - i - 1, color);
        bmpimg_draw_line(&img->canvas, w - fx - i - 1, fy + i, w - fx - i - 1, h - fy - i - 1,
                         color);
    }
    const int horizontal_end = std::min(img->shadow_depth, h - fy);
    for (int i = 0; i < horizontal_end; ++i) {
        const bmpimg_color_t color = ring_color(img, i);
        bmpimg_draw_line(&img->canvas, fx + i, fy + i, w - fx - i - 1, fy + i, color);
        bmpimg_draw_line(&img->canvas, fx + i, h - fy - i - 1, w - fx - i - 1, h - fy - i - 1,
                         color);
    }
}

// Writes one dot pixel straight into the buffer; pixels outside the picture are skipped.
// The colour and the size are read before the test so that draw_char's loop, into which
// this is inlined, can read them once per dot.
void canvas_drawer(int x, int y, int lit, void* ctx) {
    auto* img = static_cast<lcdimg_t*>(ctx);
    const bmpimg_color_t color = lit != 0 ? img->lit_rgb : img->unlit_rgb;
    unsigned char* const pixels = img->pixels;
    const int width = img->canvas_width;
    const int height = img->canvas_height;
    if (y < 0 || y >= height || x < 0 || x >= width) {
        return;
    }
    store_pixel(pixels + (static_cast<std::ptrdiff_t>(y) * width + x) * 3, color[0], color[1],
                color[2]);
}

// Dot (j, i) is a pixsiz block whose top left pixel lies one dot gap left of and above the
// pitch grid that starts at the cell origin (x0, y0). Coordinates wrap like 32-bit ints.
// Kept out of paint_cells so that its four loops have the registers to themselves; the
// compiler still specialises it for the one drawer it is called with and inlines that.
[[gnu::noinline]] void draw_char(lcdimg_t* img, dot_drawer_t drawer, void* ctx, int x0, int y0,
                                 unsigned char code) {
    const unsigned char* glyph = &img->font[static_cast<std::size_t>(code) * LCDIMG_GLYPH_BYTES];
    const int size_x = img->pixsiz_x;
    const int size_y = img->pixsiz_y;
    for (int i = 0; i < DOT_ROWS; ++i) {
        const std::int32_t top =
            wrap32_add(wrap32_add(y0, wrap32_mul(i, size_y)), wrap32_mul(i - 1, img->pixgap_y));
        for (int j = 0; j < DOT_COLUMNS; ++j) {
            const std::int32_t left =
                wrap32_add(wrap32_add(x0, wrap32_mul(j, size_x)), wrap32_mul(j - 1, img->pixgap_x));
            const int lit = (glyph[j] >> i) & 1;
            for (int k = 0; k < size_y; ++k) {
                const std::int32_t y = wrap32_add(top, k);
                for (int l = 0; l < size_x; ++l) {
                    drawer(wrap32_add(left, l), y, lit, ctx);
                }
            }
        }
    }
}

void paint_cells(lcdimg_t* img) {
    const std::int32_t pitch_x = wrap32_add(
        wrap32_add(wrap32_mul(5, img->pixsiz_x), wrap32_mul(4, img->pixgap_x)), img->chgap_x);
    const std::int32_t pitch_y = wrap32_add(
        wrap32_add(wrap32_mul(8, img->pixsiz_y), wrap32_mul(7, img->pixgap_y)), img->chgap_y);
    const std::int32_t left = wrap32_add(img->frame_x, img->chofs_x);
    const std::int32_t top = wrap32_add(img->frame_y, img->chofs_y);
    const unsigned char* code = img->text_grid;
    for (int r = 0; r < img->chcnt_y; ++r) {
        const std::int32_t y0 = wrap32_add(top, wrap32_mul(r, pitch_y));
        for (int c = 0; c < img->chcnt_x; ++c) {
            const std::int32_t x0 = wrap32_add(left, wrap32_mul(c, pitch_x));
            draw_char(img, canvas_drawer, img, x0, y0, *code);
            ++code;
        }
    }
}

} // namespace

// Here rather than beside the canvas's opening, so that the renderer's loops can inline them.
void canvas_pixel_writer(int x, int y, unsigned char r, unsigned char g, unsigned char b,
                         void* ctx) {
    auto* img = static_cast<lcdimg_t*>(ctx);
    const std::ptrdiff_t at = pixel_offset(img, x, y);
    if (at < 0) {
        return;
    }
    store_pixel(img->pixels + at, r, g, b);
}

void canvas_pixel_reader(int x, int y, unsigned char* r, unsigned char* g, unsigned char* b,
                         void* ctx) {
    const auto* img = static_cast<const lcdimg_t*>(ctx);
    const std::ptrdiff_t at = pixel_offset(img, x, y);
    if (at < 0) {
        *r = 0;
        *g = 0;
        *b = 0;
        return;
    }
    const unsigned char* pixel = img->pixels + at;
    const unsigned char red = pixel[0];
    const unsigned char green = pixel[1];
    const unsigned char blue = pixel[2];
    *r = red;
    *g = green;
    *b = blue;
}

void calc_dot_colors(lcdimg_t* img) {
    img->lit_rgb = color_bytes(img->fgcol);
    img->unlit_rgb = {blend_component(img->contrast, img->fgcol.r, img->bgcol.r),
                      blend_component(img->contrast, img->fgcol.g, img->bgcol.g),
                      blend_component(img->contrast, img->fgcol.b, img->bgcol.b)};
}

void paint_picture(lcdimg_t* img) {
    if (img == nullptr || img->pixels == nullptr || img->text_grid == nullptr) {
        return;
    }
    int w = 0;
    int h = 0;
    calc_canvas_size(img, &w, &h);
    calc_dot_colors(img);
    paint_background(img, w, h);
    paint_frame(img, w, h);
    paint_shadow(img, w, h);
    paint_cells(img);
}

int lcdimg_write_file(lcdimg_t* img, const char* path) {
    if (img == nullptr || img->pixels == nullptr) {
        return -1;
    }
    paint_picture(img);
    if (img->script_path[0] != '\0') {
        img->script_path.back() = '\0';
        script_execute(img->script_path.data(), img, 0);
    }
    // The picture may go to standard output itself; what was printed comes first.
    std::fflush(stdout);
    return outfile_write_picture(path, img->pixels, img->canvas_width, img->canvas_height);
}
