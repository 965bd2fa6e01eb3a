#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "bmp/outfile.hpp"
#include "lcd/backlight.hpp"
#include "lcd/lcdimg.hpp"
#include "script/script.hpp"

namespace vimbra {

namespace {

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

// Painting goes straight into the pixel buffer, a row span at a time, clipped to the picture:
// the same pixels the canvas's per-pixel calls would set, at the speed of memory.

unsigned char* pixel_at(const lcdimg_t* img, std::int64_t x, std::int64_t y) {
    return img->pixels + (y * img->canvas_width + x) * 3;
}

// `count` pixels from `first` on, in one colour: one pixel is stored, then what is filled is
// copied onto the rest, doubling each time.
void fill_pixels(unsigned char* first, std::size_t count, const bmpimg_color_t& color) {
    if (count == 0) {
        return;
    }
    store_pixel(first, color[0], color[1], color[2]);
    const std::size_t total = 3 * count;
    for (std::size_t done = 3; done < total;) {
        const std::size_t n = std::min(done, total - done);
        std::memcpy(first + done, first, n);
        done += n;
    }
}

// The pixels of row y from x1 to x2 (both included, in either order) that lie inside the
// picture: a horizontal line of the canvas, whose points outside are skipped.
void fill_row_span(lcdimg_t* img, std::int64_t y, std::int64_t x1, std::int64_t x2,
                   const bmpimg_color_t& color) {
    const std::int64_t left = std::max<std::int64_t>(std::min(x1, x2), 0);
    const std::int64_t right = std::min<std::int64_t>(std::max(x1, x2), img->canvas_width - 1);
    if (y < 0 || y >= img->canvas_height || left > right) {
        return;
    }
    fill_pixels(pixel_at(img, left, y), static_cast<std::size_t>(right - left + 1), color);
}

// The vertical counterpart of fill_row_span.
void fill_column_span(lcdimg_t* img, std::int64_t x, std::int64_t y1, std::int64_t y2,
                      const bmpimg_color_t& color) {
    const std::int64_t top = std::max<std::int64_t>(std::min(y1, y2), 0);
    const std::int64_t bottom = std::min<std::int64_t>(std::max(y1, y2), img->canvas_height - 1);
    if (x < 0 || x >= img->canvas_width) {
        return;
    }
    for (std::int64_t y = top; y <= bottom; ++y) {
        store_pixel(pixel_at(img, x, y), color[0], color[1], color[2]);
    }
}

// bmpimg_fill_box(&img->canvas, ...): nothing unless both corners lie inside the picture,
// and nothing when x2 < x1 or y2 < y1; otherwise every row of the box.
void fill_box(lcdimg_t* img, int x1, int y1, int x2, int y2, const bmpimg_color_t& color) {
    if (!bmpimg_inside(&img->canvas, x1, y1) || !bmpimg_inside(&img->canvas, x2, y2) || x2 < x1) {
        return;
    }
    for (int y = y1; y <= y2; ++y) {
        fill_pixels(pixel_at(img, x1, y), static_cast<std::size_t>(x2 - x1) + 1, color);
    }
}

// The whole buffer: the first pixel, then doubling copies.
void paint_background(lcdimg_t* img, int w, int h) {
    fill_pixels(img->pixels, static_cast<std::size_t>(w) * static_cast<std::size_t>(h),
                color_bytes(img->bgcol));
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

// The rings are the canvas's straight lines: every point from one end to the other, in
// whichever order the ends come, points outside skipped. Rings past the middle cross over
// and still draw (their ends merely swap), so a ring's vertical lines leave the picture only
// when its left column frame_x + i reaches w; the right column w - frame_x - i - 1 is then
// below 0 as well. Likewise the horizontal lines at i >= h - frame_y. Stopping there keeps a
// huge depth bounded by the picture size. Lines are drawn in the canvas's order, so where two
// overlap the later one shows.
void paint_shadow(lcdimg_t* img, int w, int h) {
    const int fx = img->frame_x;
    const int fy = img->frame_y;
    const int vertical_end = std::min(img->shadow_depth, w - fx);
    for (int i = 0; i < vertical_end; ++i) {
        const bmpimg_color_t color = ring_color(img, i);
        fill_column_span(img, fx + i, fy + i, h - fy - i - 1, color);
        fill_column_span(img, w - fx - i - 1, fy + i, h - fy - i - 1, color);
    }
    const int horizontal_end = std::min(img->shadow_depth, h - fy);
    for (int i = 0; i < horizontal_end; ++i) {
        const bmpimg_color_t color = ring_color(img, i);
        fill_row_span(img, fy + i, fx + i, w - fx - i - 1, color);
        fill_row_span(img, h - fy - i - 1, fx + i, w - fx - i - 1, color);
    }
}

// A pixsiz block of one colour with its top left pixel at (left, top), clipped to the
// picture: its first row is filled, the others are copies of it.
void paint_dot(lcdimg_t* img, std::int64_t left, std::int64_t top, const bmpimg_color_t& color) {
    const std::int64_t x1 = std::max<std::int64_t>(left, 0);
    const std::int64_t x2 = std::min<std::int64_t>(left + img->pixsiz_x, img->canvas_width);
    const std::int64_t y1 = std::max<std::int64_t>(top, 0);
    const std::int64_t y2 = std::min<std::int64_t>(top + img->pixsiz_y, img->canvas_height);
    if (x1 >= x2 || y1 >= y2) {
        return;
    }
    unsigned char* first = pixel_at(img, x1, y1);
    const auto count = static_cast<std::size_t>(x2 - x1);
    for (std::size_t i = 0; i < count; ++i) {
        store_pixel(first + 3 * i, color[0], color[1], color[2]);
    }
    const std::size_t stride = static_cast<std::size_t>(img->canvas_width) * 3;
    unsigned char* row = first;
    for (std::int64_t y = y1 + 1; y < y2; ++y) {
        row += stride;
        std::memcpy(row, first, 3 * count);
    }
}

// Dot (j, i) is a pixsiz block whose top left pixel lies one dot gap left of and above the
// pitch grid that starts at the cell origin (x0, y0). Coordinates wrap like 32-bit ints.
void draw_char(lcdimg_t* img, std::int32_t x0, std::int32_t y0, const unsigned char* glyph) {
    for (int i = 0; i < LCDIMG_DOT_ROWS; ++i) {
        const std::int32_t top = wrap32_add(wrap32_add(y0, wrap32_mul(i, img->pixsiz_y)),
                                            wrap32_mul(i - 1, img->pixgap_y));
        for (int j = 0; j < LCDIMG_DOT_COLUMNS; ++j) {
            const std::int32_t left = wrap32_add(wrap32_add(x0, wrap32_mul(j, img->pixsiz_x)),
                                                 wrap32_mul(j - 1, img->pixgap_x));
            const bool lit = ((glyph[j] >> i) & 1) != 0;
            paint_dot(img, left, top, lit ? img->lit_rgb : img->unlit_rgb);
        }
    }
}

void paint_cells(lcdimg_t* img) {
    int cell_w = 0;
    int cell_h = 0;
    lcdimg_cell_size(img, &cell_w, &cell_h);
    const std::int32_t pitch_x = wrap32_add(cell_w, img->chgap_x);
    const std::int32_t pitch_y = wrap32_add(cell_h, img->chgap_y);
    const std::int32_t left = wrap32_add(img->frame_x, img->chofs_x);
    const std::int32_t top = wrap32_add(img->frame_y, img->chofs_y);
    const unsigned char* code = img->text_grid;
    const unsigned char* cell_glyph = img->cell_glyphs;
    for (int r = 0; r < img->chcnt_y; ++r) {
        const std::int32_t y0 = wrap32_add(top, wrap32_mul(r, pitch_y));
        for (int c = 0; c < img->chcnt_x; ++c) {
            const std::int32_t x0 = wrap32_add(left, wrap32_mul(c, pitch_x));
            if (cell_glyph != nullptr) {
                draw_char(img, x0, y0, cell_glyph);
                cell_glyph += LCDIMG_GLYPH_BYTES;
            } else {
                draw_char(img, x0, y0,
                          &img->font[static_cast<std::size_t>(*code) * LCDIMG_GLYPH_BYTES]);
            }
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

void lcdimg_paint(lcdimg_t* img) {
    if (img == nullptr || img->pixels == nullptr || img->text_grid == nullptr) {
        return;
    }
    int w = 0;
    int h = 0;
    calc_canvas_size(img, &w, &h);
    // Unlit, the panel and the dots change colour; the frame and the shadow's shape stay.
    const lcdimg_rgb_t fgcol = img->fgcol;
    const lcdimg_rgb_t bgcol = img->bgcol;
    if (img->backlight_off) {
        backlight_unlit_colors(fgcol, bgcol, &img->fgcol, &img->bgcol);
    }
    calc_dot_colors(img);
    paint_background(img, w, h);
    paint_frame(img, w, h);
    paint_shadow(img, w, h);
    paint_cells(img);
    if (img->backlight_off) {
        img->fgcol = fgcol;
        img->bgcol = bgcol;
        calc_dot_colors(img);
    }
}

void lcdimg_render(lcdimg_t* img) {
    if (img == nullptr || img->pixels == nullptr) {
        return;
    }
    lcdimg_paint(img);
    if (img->script_path[0] != '\0') {
        img->script_path.back() = '\0';
        const script_limits_t limits{img->script_step_limit, img->script_should_stop,
                                     img->script_stop_ctx};
        script_execute_limited(img->script_path.data(), img, 0, &limits, img->script_messages_named,
                               &img->console);
    }
}

int lcdimg_write_file(lcdimg_t* img, const char* path) {
    if (img == nullptr || img->pixels == nullptr) {
        errno = EINVAL;
        return -1;
    }
    lcdimg_render(img);
    // The picture may go to standard output itself; what was printed comes first.
    console_flush(&img->console);
    return outfile_write_picture(path, img->pixels, img->canvas_width, img->canvas_height);
}

} // namespace vimbra
