#include "bmp/bmpimg.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "bmp/bmpfile.hpp"

namespace vimbra {

namespace {

using i64 = std::int64_t;
using u64 = std::uint64_t;

constexpr std::size_t FONT_GLYPHS = FONT_MAX_CODE - FONT_MIN_CODE + 1;

// Five column bytes per glyph, left column first; bit 0 is the top row.
constexpr std::array<unsigned char, 480> font5x7_data{
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x5F, 0x00, 0x00, 0x00, 0x07, 0x00, 0x07,
    0x00, 0x14, 0x7F, 0x14, 0x7F, 0x14, 0x24, 0x2A, 0x7F, 0x2A, 0x12, 0x23, 0x13, 0x08,
    0x64, 0x62, 0x36, 0x49, 0x55, 0x22, 0x50, 0x00, 0x05, 0x03, 0x00, 0x00, // 0x20-0x27
    0x00, 0x1C, 0x22, 0x41, 0x00, 0x00, 0x41, 0x22, 0x1C, 0x00, 0x08, 0x2A, 0x1C, 0x2A,
    0x08, 0x08, 0x08, 0x3E, 0x08, 0x08, 0x00, 0x50, 0x30, 0x00, 0x00, 0x08, 0x08, 0x08,
    0x08, 0x08, 0x00, 0x60, 0x60, 0x00, 0x00, 0x20, 0x10, 0x08, 0x04, 0x02, // 0x28-0x2F
    0x3E, 0x51, 0x49, 0x45, 0x3E, 0x00, 0x42, 0x7F, 0x40, 0x00, 0x42, 0x61, 0x51, 0x49,
    0x46, 0x21, 0x41, 0x45, 0x4B, 0x31, 0x18, 0x14, 0x12, 0x7F, 0x10, 0x27, 0x45, 0x45,
    0x45, 0x39, 0x3C, 0x4A, 0x49, 0x49, 0x30, 0x01, 0x71, 0x09, 0x05, 0x03, // 0x30-0x37
    0x36, 0x49, 0x49, 0x49, 0x36, 0x06, 0x49, 0x49, 0x29, 0x1E, 0x00, 0x36, 0x36, 0x00,
    0x00, 0x00, 0x56, 0x36, 0x00, 0x00, 0x00, 0x08, 0x14, 0x22, 0x41, 0x14, 0x14, 0x14,
    0x14, 0x14, 0x41, 0x22, 0x14, 0x08, 0x00, 0x02, 0x01, 0x51, 0x09, 0x06, // 0x38-0x3F
    0x32, 0x49, 0x79, 0x41, 0x3E, 0x7E, 0x11, 0x11, 0x11, 0x7E, 0x7F, 0x49, 0x49, 0x49,
    0x36, 0x3E, 0x41, 0x41, 0x41, 0x22, 0x7F, 0x41, 0x41, 0x22, 0x1C, 0x7F, 0x49, 0x49,
    0x49, 0x41, 0x7F, 0x09, 0x09, 0x09, 0x01, 0x3E, 0x41, 0x49, 0x49, 0x3A, // 0x40-0x47
    0x7F, 0x08, 0x08, 0x08, 0x7F, 0x00, 0x41, 0x7F, 0x41, 0x00, 0x20, 0x40, 0x41, 0x3F,
    0x01, 0x7F, 0x08, 0x14, 0x22, 0x41, 0x7F, 0x40, 0x40, 0x40, 0x40, 0x7F, 0x02, 0x04,
    0x02, 0x7F, 0x7F, 0x04, 0x08, 0x10, 0x7F, 0x3E, 0x41, 0x41, 0x41, 0x3E, // 0x48-0x4F
    0x7F, 0x09, 0x09, 0x09, 0x06, 0x3E, 0x41, 0x51, 0x21, 0x5E, 0x7F, 0x09, 0x19, 0x29,
    0x46, 0x46, 0x49, 0x49, 0x49, 0x31, 0x01, 0x01, 0x7F, 0x01, 0x01, 0x3F, 0x40, 0x40,
    0x40, 0x3F, 0x1F, 0x20, 0x40, 0x20, 0x1F, 0x7F, 0x20, 0x18, 0x20, 0x7F, // 0x50-0x57
    0x63, 0x14, 0x08, 0x14, 0x63, 0x03, 0x04, 0x78, 0x04, 0x03, 0x61, 0x51, 0x49, 0x45,
    0x43, 0x00, 0x00, 0x7F, 0x41, 0x41, 0x02, 0x04, 0x08, 0x10, 0x20, 0x41, 0x41, 0x7F,
    0x00, 0x00, 0x04, 0x02, 0x01, 0x02, 0x04, 0x40, 0x40, 0x40, 0x40, 0x40, // 0x58-0x5F
    0x00, 0x01, 0x02, 0x04, 0x00, 0x20, 0x54, 0x54, 0x54, 0x78, 0x7F, 0x48, 0x44, 0x44,
    0x38, 0x38, 0x44, 0x44, 0x44, 0x20, 0x38, 0x44, 0x44, 0x48, 0x7F, 0x38, 0x54, 0x54,
    0x54, 0x18, 0x08, 0x7E, 0x09, 0x01, 0x02, 0x08, 0x14, 0x54, 0x54, 0x3C, // 0x60-0x67
    0x7F, 0x08, 0x04, 0x04, 0x78, 0x00, 0x44, 0x7D, 0x40, 0x00, 0x20, 0x40, 0x44, 0x3D,
    0x00, 0x00, 0x7F, 0x10, 0x28, 0x44, 0x00, 0x41, 0x7F, 0x40, 0x00, 0x7C, 0x04, 0x18,
    0x04, 0x78, 0x7C, 0x08, 0x04, 0x04, 0x78, 0x38, 0x44, 0x44, 0x44, 0x38, // 0x68-0x6F
    0x7C, 0x14, 0x14, 0x14, 0x08, 0x08, 0x14, 0x14, 0x18, 0x7C, 0x7C, 0x08, 0x04, 0x04,
    0x08, 0x48, 0x54, 0x54, 0x54, 0x20, 0x04, 0x3F, 0x44, 0x40, 0x20, 0x3C, 0x40, 0x40,
    0x20, 0x7C, 0x1C, 0x20, 0x40, 0x20, 0x1C, 0x3C, 0x40, 0x30, 0x40, 0x3C, // 0x70-0x77
    0x44, 0x28, 0x10, 0x28, 0x44, 0x0C, 0x50, 0x50, 0x50, 0x3C, 0x44, 0x64, 0x54, 0x4C,
    0x44, 0x00, 0x08, 0x36, 0x41, 0x00, 0x00, 0x00, 0x7F, 0x00, 0x00, 0x00, 0x41, 0x36,
    0x08, 0x00, 0x08, 0x08, 0x2A, 0x1C, 0x08, 0x08, 0x1C, 0x2A, 0x08, 0x08, // 0x78-0x7F
};
static_assert(font5x7_data.size() == FONT_GLYPHS * FONT_X, "one glyph per code, in code order");

// Columns of the glyph drawn for codes without one: 0, 2 and 4 use the first byte.
constexpr std::array<unsigned char, FONT_X> placeholder_glyph{0xAA, 0x55, 0xAA, 0x55, 0xAA};

i64 abs64(i64 v) {
    return v < 0 ? -v : v;
}

// A point that may lie anywhere; only points on the canvas reach the writer.
void plot(const bmpimg_t* canvas, i64 x, i64 y, const bmpimg_color_t& color) {
    if (bmpimg_inside(canvas, x, y)) {
        canvas->writer(static_cast<int>(x), static_cast<int>(y), color[0], color[1], color[2],
                       canvas->writer_ctx);
    }
}

// The box test and fill on 64-bit corners, so that callers may offset int corners freely.
int fill_box_wide(const bmpimg_t* canvas, i64 x1, i64 y1, i64 x2, i64 y2,
                  const bmpimg_color_t& color) {
    const bmpimg_pixel_writer_t writer = canvas->writer;
    void* const ctx = canvas->writer_ctx;
    auto write = [writer, ctx](int x, int y, unsigned char r, unsigned char g, unsigned char b) {
        writer(x, y, r, g, b, ctx);
    };
    return bmpimg_fill_box_with(canvas, x1, y1, x2, y2, color, write);
}

// Where the line's walk stands at one point: the other coordinate and the error term.
struct line_walk_t {
    i64 other;
    i64 error;
};

// State of the walk at step k from its start, in closed form. Before each update the
// error lies in [0, dx) and equals e0 - k*dy + m*dx, m being the number of steps of the
// other coordinate so far: m = 0 while k*dy <= e0, else ceil((k*dy - e0) / dx).
// k and dy stay below 2^32, so k*dy and m*dx fit in 64 unsigned bits.
line_walk_t line_walk_at(i64 start_other, i64 step, u64 dx, u64 dy, u64 k) {
    const u64 e0 = dx / 2;
    const u64 kdy = k * dy;
    if (kdy <= e0) {
        return {start_other, static_cast<i64>(e0 - kdy)};
    }
    const u64 excess = kdy - e0;
    const u64 m = (excess - 1) / dx + 1;
    return {start_other + step * static_cast<i64>(m), static_cast<i64>(m * dx - excess)};
}

// Constants of the midpoint circle of radius r >= 1. Its loop keeps
// d = (x-1)^2 + (y+1)^2 - r^2 + r - 1, and at every y it reaches, x is the smallest
// x' >= 0 with x'^2 + y^2 >= r^2 - r + 1. That smallest x' can drop by two in one step
// only where the loop's x drops below y, so it also tells exactly where the loop ends.
struct circle_t {
    i64 r;
    i64 threshold; // r^2 - r + 1 < 2^62
};

struct midpoint_t {
    i64 x;
    i64 y;
    i64 d;
};

// The square root rounded down, bit by bit in integers: exact for every n, and the tool
// needs no floating-point library for it.
u64 isqrt(u64 n) {
    u64 root = 0;
    u64 bit = u64{1} << 62; // the highest power of 4 a u64 holds
    while (bit > n) {
        bit >>= 2;
    }
    while (bit != 0) {
        if (n >= root + bit) {
            n -= root + bit;
            root = (root >> 1) + bit;
        } else {
            root >>= 1;
        }
        bit >>= 2;
    }
    return root;
}

// The loop's state at 0 <= y <= r; x < y when the loop has ended by then.
midpoint_t circle_at(const circle_t& c, i64 y) {
    const i64 rest = c.threshold - y * y;
    const i64 x = rest > 0 ? static_cast<i64>(isqrt(static_cast<u64>(rest - 1))) + 1 : 0;
    const i64 d = ((x - 1) * (x - 1) - c.r * c.r) + (y + 1) * (y + 1) + c.r - 1;
    return {x, y, d};
}

void midpoint_step(midpoint_t& p) {
    ++p.y;
    if (p.d < 0) {
        p.d += 2 * p.y + 1;
    } else {
        --p.x;
        p.d += 2 * (p.y - p.x + 1);
    }
}

void circle_octants(const bmpimg_t* canvas, i64 cx, i64 cy, i64 x, i64 y,
                    const bmpimg_color_t& color) {
    plot(canvas, cx + x, cy + y, color);
    plot(canvas, cx + y, cy + x, color);
    plot(canvas, cx - x, cy + y, color);
    plot(canvas, cx - y, cy + x, color);
    plot(canvas, cx - x, cy - y, color);
    plot(canvas, cx - y, cy - x, color);
    plot(canvas, cx + x, cy - y, color);
    plot(canvas, cx + y, cy - x, color);
}

struct y_range_t {
    i64 lo;
    i64 hi;
};

// The loop values of y at which any of the eight points can fall on the canvas: one of
// cy + y, cy - y, cx + y, cx - y must be a valid row or column.
std::array<y_range_t, 4> circle_ranges(const bmpimg_t* canvas, i64 cx, i64 cy) {
    const i64 w = canvas->width;
    const i64 h = canvas->height;
    std::array<y_range_t, 4> ranges{
        {{-cy, h - 1 - cy}, {cy - h + 1, cy}, {-cx, w - 1 - cx}, {cx - w + 1, cx}}};
    std::sort(ranges.begin(), ranges.end(),
              [](const y_range_t& a, const y_range_t& b) { return a.lo < b.lo; });
    return ranges;
}

// Every code outside the font, negative as a signed char included, draws the placeholder.
const unsigned char* glyph_of(char code) {
    const auto c = static_cast<signed char>(code);
    if (c < static_cast<signed char>(FONT_MIN_CODE)) {
        return placeholder_glyph.data();
    }
    return &font5x7_data[static_cast<std::size_t>(c - FONT_MIN_CODE) * FONT_X];
}

void draw_char(const bmpimg_t* canvas, i64 x, i64 y, i64 size, char code,
               const bmpimg_color_t& color) {
    const unsigned char* glyph = glyph_of(code);
    for (i64 i = 0; i < FONT_X; ++i) {
        for (i64 j = 0; j < FONT_Y; ++j) {
            if ((glyph[i] >> j) & 1u) {
                const i64 left = x + i * size;
                const i64 top = y + j * size;
                fill_box_wide(canvas, left, top, left + size - 1, top + size - 1, color);
            }
        }
    }
}

// Bar width (x2 - x1) * (value - min) / (max - min), truncated toward zero, for
// min <= value <= max and min < max. The product's magnitude stays below 2^64.
i64 progress_width(int x1, int x2, int min, int max, int value) {
    const i64 span = static_cast<i64>(x2) - x1;
    const auto part = static_cast<u64>(static_cast<i64>(value) - min);
    const auto range = static_cast<u64>(static_cast<i64>(max) - min);
    const i64 w = static_cast<i64>(static_cast<u64>(abs64(span)) * part / range);
    return span < 0 ? -w : w;
}

// Files may be larger than the canvas: their outside pixels stop here.
void bridge_writer(int x, int y, unsigned char r, unsigned char g, unsigned char b, void* ctx) {
    const auto* canvas = static_cast<const bmpimg_t*>(ctx);
    if (bmpimg_inside(canvas, x, y)) {
        canvas->writer(x, y, r, g, b, canvas->writer_ctx);
    }
}

// Offsets a 32-bit corner without leaving 64-bit range.
i64 wide(int v) {
    return v;
}

} // namespace

void bmpimg_open(bmpimg_t* canvas, int width, int height, bmpimg_pixel_writer_t writer,
                 void* writer_ctx, bmpimg_pixel_reader_t reader, void* reader_ctx) {
    *canvas = bmpimg_t{width, height, writer, writer_ctx, reader, reader_ctx};
}

int bmpimg_close(bmpimg_t* canvas) {
    (void)canvas;
    return 0;
}

int bmpimg_draw_pixel(bmpimg_t* canvas, int x, int y, const bmpimg_color_t& color) {
    plot(canvas, x, y, color);
    return 0;
}

// Walks only the part of the main axis that lies on the canvas, starting from the closed
// form of the walk, so time is bounded by the canvas whatever the end points are.
int bmpimg_draw_line(bmpimg_t* canvas, int x1, int y1, int x2, int y2,
                     const bmpimg_color_t& color) {
    i64 ax = x1;
    i64 ay = y1;
    i64 bx = x2;
    i64 by = y2;
    const bool steep = abs64(by - ay) > abs64(bx - ax);
    if (steep) {
        std::swap(ax, ay);
        std::swap(bx, by);
    }
    if (ax > bx) {
        std::swap(ax, bx);
        std::swap(ay, by);
    }
    const i64 walk_size = steep ? canvas->height : canvas->width;
    const i64 first = std::max<i64>(ax, 0);
    const i64 last = std::min<i64>(bx, walk_size - 1);
    if (first > last) {
        return 0;
    }
    const i64 dx = bx - ax;
    const i64 dy = abs64(by - ay);
    const i64 step = ay < by ? 1 : -1;
    line_walk_t walk = line_walk_at(ay, step, static_cast<u64>(dx), static_cast<u64>(dy),
                                    static_cast<u64>(first - ax));
    for (i64 w = first; w <= last; ++w) {
        if (steep) {
            plot(canvas, walk.other, w, color);
        } else {
            plot(canvas, w, walk.other, color);
        }
        walk.error -= dy;
        if (walk.error < 0) {
            walk.other += step;
            walk.error += dx;
        }
    }
    return 0;
}

int bmpimg_draw_box(bmpimg_t* canvas, int x1, int y1, int x2, int y2, const bmpimg_color_t& color) {
    if (!bmpimg_inside(canvas, x1, y1) || !bmpimg_inside(canvas, x2, y2)) {
        return -1;
    }
    const bmpimg_pixel_writer_t writer = canvas->writer;
    void* const ctx = canvas->writer_ctx;
    for (int y = y1; y <= y2; ++y) {
        writer(x1, y, color[0], color[1], color[2], ctx);
        writer(x2, y, color[0], color[1], color[2], ctx);
    }
    for (int x = x1; x <= x2; ++x) {
        writer(x, y1, color[0], color[1], color[2], ctx);
        writer(x, y2, color[0], color[1], color[2], ctx);
    }
    return 0;
}

int bmpimg_fill_box(bmpimg_t* canvas, int x1, int y1, int x2, int y2, const bmpimg_color_t& color) {
    return fill_box_wide(canvas, x1, y1, x2, y2, color);
}

// Runs the midpoint loop only over the values of y whose points can reach the canvas,
// each once and in increasing order, jumping between them in closed form.
int bmpimg_draw_circle(bmpimg_t* canvas, int x, int y, int r, const bmpimg_color_t& color) {
    if (r < 0) {
        return 0;
    }
    if (r == 0) {
        circle_octants(canvas, x, y, 0, 0, color); // one turn of the loop
        return 0;
    }
    const i64 radius = r;
    const circle_t c{radius, radius * radius - radius + 1};
    i64 next = 0;
    for (const y_range_t& range : circle_ranges(canvas, x, y)) {
        const i64 lo = std::max(range.lo, next);
        const i64 hi = std::min(range.hi, radius);
        if (lo > hi) {
            continue;
        }
        for (midpoint_t p = circle_at(c, lo); p.y <= hi; midpoint_step(p)) {
            if (p.x < p.y) {
                return 0; // the loop has ended; later ranges lie further on
            }
            circle_octants(canvas, x, y, p.x, p.y, color);
        }
        next = hi + 1;
    }
    return 0;
}

// Characters stop once they start past the right edge: none of them could show.
int bmpimg_draw_string(bmpimg_t* canvas, int x, int y, int size, const char* text,
                       const bmpimg_color_t& color) {
    if (text == nullptr || size <= 0) {
        return 0; // a dot of size 0 or less is an empty box
    }
    const i64 pitch = (FONT_X + 1) * wide(size);
    i64 left = x;
    for (const char* p = text; *p != '\0' && left < canvas->width; ++p) {
        draw_char(canvas, left, y, size, *p, color);
        left += pitch;
    }
    return 0;
}

void bmpimg_draw_checkbox(bmpimg_t* canvas, int x1, int y1, int x2, int y2, int checked,
                          const bmpimg_color_t& color) {
    bmpimg_draw_box(canvas, x1, y1, x2, y2, color);
    if (checked != 0) {
        bmpimg_draw_line(canvas, x1, y1, x2, y2, color);
        bmpimg_draw_line(canvas, x1, y2, x2, y1, color);
    }
}

void bmpimg_draw_progressbar(bmpimg_t* canvas, int x1, int y1, int x2, int y2, int min, int max,
                             int value, const bmpimg_color_t& color) {
    bmpimg_draw_box(canvas, x1, y1, x2, y2, color);
    if (value < min || value > max) {
        return;
    }
    const i64 right =
        min == max ? wide(x2) - 1 : wide(x1) + progress_width(x1, x2, min, max, value) - 1;
    fill_box_wide(canvas, wide(x1) + 1, wide(y1) + 1, right, wide(y2) - 1, color);
}

int bmpimg_bmp_write(bmpimg_t* canvas, bmpfile_write_func_t func, void* ctx) {
    return bmpfile_write(canvas->width, canvas->height, func, ctx, canvas->reader,
                         canvas->reader_ctx);
}

int bmpimg_bmp_read(bmpimg_t* canvas, bmpfile_read_func_t func, void* ctx) {
    return bmpfile_read(func, ctx, bridge_writer, canvas);
}

} // namespace vimbra
