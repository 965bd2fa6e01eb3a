#include "bmp/bmpimg.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

using namespace vimbra;

namespace {

struct point_t {
    int x;
    int y;
    bool operator==(const point_t&) const = default;
};

using points_t = std::vector<point_t>;

constexpr bmpimg_color_t INK{0x12, 0x34, 0x56};

// Records every writer call in order; a call outside the canvas is a failure by itself.
struct recorder_t {
    int width;
    int height;
    points_t calls;
    bmpimg_t canvas{};
};

void record_pixel(int x, int y, unsigned char r, unsigned char g, unsigned char b, void* ctx) {
    auto* rec = static_cast<recorder_t*>(ctx);
    EXPECT_TRUE(x >= 0 && x < rec->width && y >= 0 && y < rec->height) << x << "," << y;
    EXPECT_EQ(r, INK[0]);
    EXPECT_EQ(g, INK[1]);
    EXPECT_EQ(b, INK[2]);
    rec->calls.push_back({x, y});
}

void open_recorder(recorder_t& rec, int width, int height) {
    rec.width = width;
    rec.height = height;
    bmpimg_open(&rec.canvas, width, height, record_pixel, &rec, nullptr, nullptr);
}

// A picture as text: '#' for a drawn pixel, '.' for an untouched one.
struct sheet_t {
    int width;
    int height;
    std::string dots;
    bmpimg_t canvas{};
};

void sheet_pixel(int x, int y, unsigned char, unsigned char, unsigned char, void* ctx) {
    auto* sheet = static_cast<sheet_t*>(ctx);
    ASSERT_TRUE(x >= 0 && x < sheet->width && y >= 0 && y < sheet->height);
    sheet->dots[static_cast<std::size_t>(y * sheet->width + x)] = '#';
}

void open_sheet(sheet_t& sheet, int width, int height) {
    sheet.width = width;
    sheet.height = height;
    sheet.dots.assign(static_cast<std::size_t>(width * height), '.');
    bmpimg_open(&sheet.canvas, width, height, sheet_pixel, &sheet, nullptr, nullptr);
}

std::string rows(std::initializer_list<const char*> lines) {
    std::string out;
    for (const char* line : lines) {
        out += line;
    }
    return out;
}

// The documented line algorithm, unclipped, in 64 bits.
points_t naive_line(std::int64_t x1, std::int64_t y1, std::int64_t x2, std::int64_t y2, int width,
                    int height) {
    const bool steep = std::llabs(y2 - y1) > std::llabs(x2 - x1);
    if (steep) {
        std::swap(x1, y1);
        std::swap(x2, y2);
    }
    if (x1 > x2) {
        std::swap(x1, x2);
        std::swap(y1, y2);
    }
    const std::int64_t dx = x2 - x1;
    const std::int64_t dy = std::llabs(y2 - y1);
    std::int64_t error = dx / 2;
    std::int64_t y = y1;
    const std::int64_t ystep = y1 < y2 ? 1 : -1;
    points_t out;
    for (std::int64_t x = x1; x <= x2; ++x) {
        const std::int64_t px = steep ? y : x;
        const std::int64_t py = steep ? x : y;
        if (px >= 0 && px < width && py >= 0 && py < height) {
            out.push_back({static_cast<int>(px), static_cast<int>(py)});
        }
        error -= dy;
        if (error < 0) {
            y += ystep;
            error += dx;
        }
    }
    return out;
}

// The documented midpoint circle, unclipped, in 64 bits.
points_t naive_circle(std::int64_t cx, std::int64_t cy, std::int64_t r, int width, int height) {
    points_t out;
    auto put = [&](std::int64_t px, std::int64_t py) {
        if (px >= 0 && px < width && py >= 0 && py < height) {
            out.push_back({static_cast<int>(px), static_cast<int>(py)});
        }
    };
    std::int64_t x = r;
    std::int64_t y = 0;
    std::int64_t d = 1 - x;
    while (x >= y) {
        put(cx + x, cy + y);
        put(cx + y, cy + x);
        put(cx - x, cy + y);
        put(cx - y, cy + x);
        put(cx - x, cy - y);
        put(cx - y, cy - x);
        put(cx + x, cy - y);
        put(cx + y, cy - x);
        ++y;
        if (d < 0) {
            d += 2 * y + 1;
        } else {
            --x;
            d += 2 * (y - x + 1);
        }
    }
    return out;
}

points_t line_calls(int width, int height, int x1, int y1, int x2, int y2) {
    recorder_t rec{};
    open_recorder(rec, width, height);
    bmpimg_draw_line(&rec.canvas, x1, y1, x2, y2, INK);
    return rec.calls;
}

points_t circle_calls(int width, int height, int cx, int cy, int r) {
    recorder_t rec{};
    open_recorder(rec, width, height);
    bmpimg_draw_circle(&rec.canvas, cx, cy, r, INK);
    return rec.calls;
}

TEST(BmpimgTest, LineExamples) {
    struct case_t {
        int x1, y1, x2, y2;
        points_t expected;
    };
    const std::vector<case_t> cases{
        {0, 0, 3, 1, {{0, 0}, {1, 0}, {2, 1}, {3, 1}}},
        {3, 1, 0, 0, {{0, 0}, {1, 0}, {2, 1}, {3, 1}}}, // reversed: same pixels, same order
        {0, 0, 1, 3, {{0, 0}, {0, 1}, {1, 2}, {1, 3}}},
        {1, 3, 0, 0, {{0, 0}, {0, 1}, {1, 2}, {1, 3}}},
        {2, 2, 2, 2, {{2, 2}}},
        {0, 3, 3, 0, {{0, 3}, {1, 2}, {2, 1}, {3, 0}}}, // 45 degrees is walked along x
        {-2, 1, 5, 1, {{0, 1}, {1, 1}, {2, 1}, {3, 1}}},
        {1, -5, 1, 9, {{1, 0}, {1, 1}, {1, 2}, {1, 3}}},
        // 64-bit walk: dx = 2^32 - 1, e0 = 2^31 - 1, so y steps exactly when x reaches 0.
        {INT_MIN, 0, INT_MAX, 1, {{0, 1}, {1, 1}, {2, 1}, {3, 1}}},
        {INT_MAX, 1, INT_MIN, 0, {{0, 1}, {1, 1}, {2, 1}, {3, 1}}},
        {INT_MIN, INT_MIN, INT_MAX, INT_MAX, {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},
        {3, INT_MIN, 3, INT_MAX, {{3, 0}, {3, 1}, {3, 2}, {3, 3}}},
        {-2000000000, 5, 2000000000, 7, {}}, // y is 6 over the canvas: below it
    };
    for (const case_t& c : cases) {
        EXPECT_EQ(line_calls(4, 4, c.x1, c.y1, c.x2, c.y2), c.expected)
            << c.x1 << "," << c.y1 << " " << c.x2 << "," << c.y2;
    }
}

TEST(BmpimgTest, LineMatchesNaiveWalkWhenClipped) {
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> near(-20, 35);
    std::uniform_int_distribution<int> far(-300000, 300000);
    for (int i = 0; i < 4000; ++i) {
        const bool distant = i % 10 == 9; // the naive walk is slow for these
        const int x1 = near(rng);
        const int y1 = near(rng);
        const int x2 = distant ? far(rng) : near(rng);
        const int y2 = distant ? far(rng) / (1 + i % 1000) + near(rng) : near(rng);
        ASSERT_EQ(line_calls(16, 12, x1, y1, x2, y2), naive_line(x1, y1, x2, y2, 16, 12))
            << x1 << "," << y1 << " " << x2 << "," << y2;
        ASSERT_EQ(line_calls(16, 12, x2, y2, x1, y1), naive_line(x2, y2, x1, y1, 16, 12));
    }
}

TEST(BmpimgTest, CircleExamples) {
    const points_t centre(8, point_t{5, 5});
    EXPECT_EQ(circle_calls(11, 11, 5, 5, 0), centre);
    EXPECT_TRUE(circle_calls(11, 11, 5, 5, -1).empty());
    EXPECT_TRUE(circle_calls(11, 11, 5, 5, INT_MIN).empty());

    sheet_t one{};
    open_sheet(one, 5, 5);
    bmpimg_draw_circle(&one.canvas, 2, 2, 1, INK);
    EXPECT_EQ(one.dots, rows({".....", "..#..", ".#.#.", "..#..", "....."}));

    sheet_t two{};
    open_sheet(two, 5, 5);
    bmpimg_draw_circle(&two.canvas, 2, 2, 2, INK);
    EXPECT_EQ(two.dots, rows({".###.", "#...#", "#...#", "#...#", ".###."}));
}

TEST(BmpimgTest, CircleWritesOctantsInOrder) {
    const points_t expected{{7, 5}, {5, 7}, {3, 5}, {5, 7}, {3, 5}, {5, 3}, {7, 5}, {5, 3},
                            {7, 6}, {6, 7}, {3, 6}, {4, 7}, {3, 4}, {4, 3}, {7, 4}, {6, 3}};
    EXPECT_EQ(circle_calls(11, 11, 5, 5, 2), expected);
}

TEST(BmpimgTest, CircleMatchesNaiveLoopWhenClipped) {
    std::mt19937 rng(77);
    std::uniform_int_distribution<int> centre(-30, 50);
    std::uniform_int_distribution<int> radius(0, 45);
    for (int i = 0; i < 3000; ++i) {
        const int cx = centre(rng);
        const int cy = centre(rng);
        const int r = radius(rng);
        ASSERT_EQ(circle_calls(24, 18, cx, cy, r), naive_circle(cx, cy, r, 24, 18))
            << cx << "," << cy << " r " << r;
    }
}

TEST(BmpimgTest, LargeCircleMatchesNaiveLoopNearCanvas) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> radius(100000, 3000000);
    std::uniform_int_distribution<int> offset(-12, 30);
    for (int i = 0; i < 24; ++i) {
        const int r = radius(rng);
        // The canvas sits on the circle at an axis, at 45 degrees, or just off the diagonal.
        const double angle = (i % 3 == 0) ? 0.0 : (i % 3 == 1 ? 0.7853981633974483 : 0.8);
        const int cx = -static_cast<int>(std::lround(r * std::cos(angle))) + offset(rng);
        const int cy = -static_cast<int>(std::lround(r * std::sin(angle))) + offset(rng);
        ASSERT_EQ(circle_calls(20, 20, cx, cy, r), naive_circle(cx, cy, r, 20, 20))
            << cx << "," << cy << " r " << r;
    }
}

TEST(BmpimgTest, CircleJumpingToItsDiagonalMatchesNaiveLoop) {
    // A 4 x 1 canvas whose row is y0 below the centre: the walk starts near y0. Radii with
    // r(r-1)/2 a square are those where x can fall two below y at the loop's end.
    std::vector<int> radii{9801, 57122, 332929};
    for (int r = 1; r <= 300; ++r) {
        radii.push_back(r);
    }
    for (const int r : radii) {
        const int diagonal = static_cast<int>(std::lround(r / std::sqrt(2.0)));
        for (int y0 = diagonal - 4; y0 <= diagonal + 4; ++y0) {
            for (int shift = -1; shift <= 2; ++shift) {
                ASSERT_EQ(circle_calls(4, 1, shift - y0, -y0, r),
                          naive_circle(shift - y0, -y0, r, 4, 1))
                    << "r " << r << " y0 " << y0 << " shift " << shift;
            }
        }
    }
}

TEST(BmpimgTest, HugeCircleStaysOnItsRadius) {
    const int r = 2000000000;
    for (const double angle : {0.0, 0.3, 0.7853981633974483, 1.2}) {
        const std::int64_t cx = -std::llround(r * std::cos(angle)) + 8;
        const std::int64_t cy = -std::llround(r * std::sin(angle)) + 8;
        const points_t calls = circle_calls(16, 16, static_cast<int>(cx), static_cast<int>(cy), r);
        ASSERT_FALSE(calls.empty()) << angle;
        for (const point_t& p : calls) {
            const double dist =
                std::hypot(static_cast<double>(p.x - cx), static_cast<double>(p.y - cy));
            EXPECT_LT(std::fabs(dist - r), 1.0) << p.x << "," << p.y;
        }
    }
    EXPECT_TRUE(circle_calls(16, 16, INT_MAX, INT_MIN, INT_MAX).size() < 200);
}

TEST(BmpimgTest, PixelOutsideCanvasIsDropped) {
    recorder_t rec{};
    open_recorder(rec, 3, 2);
    for (const point_t p : {point_t{-1, 0}, {3, 0}, {0, -1}, {0, 2}, {INT_MIN, INT_MAX}}) {
        bmpimg_draw_pixel(&rec.canvas, p.x, p.y, INK);
    }
    EXPECT_TRUE(rec.calls.empty());
    bmpimg_draw_pixel(&rec.canvas, 2, 1, INK);
    EXPECT_EQ(rec.calls, (points_t{{2, 1}}));
}

TEST(BmpimgTest, BoxTestRefusesAnyCornerOutside) {
    struct case_t {
        int x1, y1, x2, y2;
        int result;
    };
    const std::vector<case_t> cases{
        {0, 0, 3, 2, 0},  {3, 2, 0, 0, 0},  {-1, 0, 2, 2, -1}, {0, -1, 2, 2, -1},
        {0, 0, 4, 2, -1}, {0, 0, 3, 3, -1}, {4, 0, 0, 0, -1},  {0, 0, INT_MIN, INT_MAX, -1},
    };
    for (const case_t& c : cases) {
        recorder_t fill{};
        open_recorder(fill, 4, 3);
        EXPECT_EQ(bmpimg_fill_box(&fill.canvas, c.x1, c.y1, c.x2, c.y2, INK), c.result);
        recorder_t outline{};
        open_recorder(outline, 4, 3);
        EXPECT_EQ(bmpimg_draw_box(&outline.canvas, c.x1, c.y1, c.x2, c.y2, INK), c.result);
        if (c.result != 0) {
            EXPECT_TRUE(fill.calls.empty());
            EXPECT_TRUE(outline.calls.empty());
        }
    }
}

TEST(BmpimgTest, FillBoxGoesRowByRowInPassedOrder) {
    recorder_t rec{};
    open_recorder(rec, 4, 3);
    EXPECT_EQ(bmpimg_fill_box(&rec.canvas, 1, 1, 3, 2, INK), 0);
    EXPECT_EQ(rec.calls, (points_t{{1, 1}, {2, 1}, {3, 1}, {1, 2}, {2, 2}, {3, 2}}));
    rec.calls.clear();
    EXPECT_EQ(bmpimg_fill_box(&rec.canvas, 3, 0, 1, 2, INK), 0) << "corners not ordered";
    EXPECT_TRUE(rec.calls.empty());
}

TEST(BmpimgTest, FillBoxWithCallableTakesOnlyTheSizeFromTheCanvas) {
    bmpimg_t canvas{};
    bmpimg_open(&canvas, 4, 3, nullptr, nullptr, nullptr, nullptr); // no writer to fall back on
    points_t calls;
    auto write = [&calls](int x, int y, unsigned char r, unsigned char g, unsigned char b) {
        EXPECT_EQ((bmpimg_color_t{r, g, b}), INK);
        calls.push_back({x, y});
    };
    EXPECT_EQ(bmpimg_fill_box_with(&canvas, 2, 1, 3, 2, INK, write), 0);
    EXPECT_EQ(calls, (points_t{{2, 1}, {3, 1}, {2, 2}, {3, 2}}));
    calls.clear();
    EXPECT_EQ(bmpimg_fill_box_with(&canvas, 0, 0, std::int64_t{INT_MAX} + 1, 0, INK, write), -1);
    EXPECT_EQ(bmpimg_fill_box_with(&canvas, 0, 0, 3, 3, INK, write), -1);
    EXPECT_TRUE(calls.empty());
}

TEST(BmpimgTest, BoxOutlineWritesEdgesInOrder) {
    recorder_t rec{};
    open_recorder(rec, 4, 3);
    EXPECT_EQ(bmpimg_draw_box(&rec.canvas, 0, 0, 2, 1, INK), 0);
    EXPECT_EQ(
        rec.calls,
        (points_t{{0, 0}, {2, 0}, {0, 1}, {2, 1}, {0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}}));
    rec.calls.clear();
    EXPECT_EQ(bmpimg_draw_box(&rec.canvas, 0, 0, 0, 0, INK), 0);
    EXPECT_EQ(rec.calls, points_t(4, point_t{0, 0}));
    rec.calls.clear();
    EXPECT_EQ(bmpimg_draw_box(&rec.canvas, 2, 0, 1, 1, INK), 0) << "x1 > x2: vertical edges only";
    EXPECT_EQ(rec.calls, (points_t{{2, 0}, {1, 0}, {2, 1}, {1, 1}}));
    rec.calls.clear();
    EXPECT_EQ(bmpimg_draw_box(&rec.canvas, 2, 1, 1, 0, INK), 0);
    EXPECT_TRUE(rec.calls.empty());
}

const std::string GLYPH_A_B = rows({".###.|####..", "#...#|#...#.", "#...#|#...#.", "#...#|####..",
                                    "#####|#...#.", "#...#|#...#.", "#...#|####.."});

std::string unmark(std::string s) {
    for (char& c : s) {
        c = c == '|' ? '.' : c;
    }
    return s;
}

TEST(BmpimgTest, StringAtSizeOneLeavesGapColumn) {
    sheet_t sheet{};
    open_sheet(sheet, 12, 7);
    bmpimg_draw_string(&sheet.canvas, 0, 0, 1, "AB", INK);
    EXPECT_EQ(sheet.dots, unmark(GLYPH_A_B));
}

TEST(BmpimgTest, StringAtSizeTwoScalesEveryDot) {
    sheet_t sheet{};
    open_sheet(sheet, 24, 14);
    bmpimg_draw_string(&sheet.canvas, 0, 0, 2, "AB", INK);
    const std::string small = unmark(GLYPH_A_B);
    for (int y = 0; y < 14; ++y) {
        for (int x = 0; x < 24; ++x) {
            const auto at = static_cast<std::size_t>(y * 24 + x);
            const auto from = static_cast<std::size_t>((y / 2) * 12 + x / 2);
            ASSERT_EQ(sheet.dots[at], small[from]) << x << "," << y;
        }
    }
    EXPECT_EQ(sheet.dots[12], '#'); // B's left column starts at 12
    EXPECT_EQ(sheet.dots[11], '.');
}

TEST(BmpimgTest, CodesWithoutGlyphDrawPlaceholder) {
    const std::string placeholder =
        rows({".#.#.", "#.#.#", ".#.#.", "#.#.#", ".#.#.", "#.#.#", ".#.#."});
    const std::string arrow = rows({".....", "..#..", ".#...", "#####", ".#...", "..#..", "....."});
    const std::vector<std::pair<std::string, std::string>> cases{
        {"\x0A", placeholder}, {"\xC1", placeholder}, {"\x1F", placeholder}, {"\x7F", arrow}};
    for (const auto& [text, expected] : cases) {
        sheet_t sheet{};
        open_sheet(sheet, 5, 7);
        bmpimg_draw_string(&sheet.canvas, 0, 0, 1, text.c_str(), INK);
        EXPECT_EQ(sheet.dots, expected) << static_cast<int>(static_cast<unsigned char>(text[0]));
    }
}

TEST(BmpimgTest, DotStraddlingEdgeIsNotDrawn) {
    // Size 2 on a canvas 9 wide: column 4 of the glyph covers x 8 and 9, so none of it shows.
    sheet_t sheet{};
    open_sheet(sheet, 9, 14);
    bmpimg_draw_string(&sheet.canvas, 0, 0, 2, "H", INK);
    for (int y = 0; y < 14; ++y) {
        EXPECT_EQ(sheet.dots[static_cast<std::size_t>(y * 9 + 8)], '.') << y;
        EXPECT_EQ(sheet.dots[static_cast<std::size_t>(y * 9 + 0)], '#') << y;
    }
    // Text starting off the canvas, at any size, stays harmless.
    bmpimg_draw_string(&sheet.canvas, INT_MAX, INT_MIN, INT_MAX, "HH", INK);
    bmpimg_draw_string(&sheet.canvas, INT_MIN, 0, INT_MAX, "HHHH", INK);
    bmpimg_draw_string(&sheet.canvas, 0, 0, 0, "H", INK);
    bmpimg_draw_string(&sheet.canvas, 0, 0, -3, "H", INK);
    bmpimg_draw_string(&sheet.canvas, 0, 0, 1, nullptr, INK);
}

TEST(BmpimgTest, ProgressBarFillsInProportion) {
    const std::string frame = "###########";
    const std::string side = "#.........#";
    auto picture = [&](int filled) {
        std::string inner = side;
        for (int x = 1; x <= filled; ++x) {
            inner[static_cast<std::size_t>(x)] = '#';
        }
        return frame + inner + inner + inner + frame;
    };
    struct case_t {
        int min, max, value;
        int filled; // inner columns 1..filled
    };
    const std::vector<case_t> cases{
        {0, 100, 50, 4},
        {0, 100, 100, 9},
        {0, 100, 0, 0},
        {0, 100, 101, 0},
        {0, 100, -1, 0},
        {0, 100, 19, 0}, // w = 1: no column
        {7, 7, 7, 9},
        {INT_MIN, INT_MAX, 0, 4},
        {INT_MIN, INT_MAX, INT_MAX, 9},
        {INT_MIN, INT_MAX, INT_MIN, 0},
        {INT_MAX, INT_MAX, INT_MAX, 9},
    };
    for (const case_t& c : cases) {
        sheet_t sheet{};
        open_sheet(sheet, 11, 5);
        bmpimg_draw_progressbar(&sheet.canvas, 0, 0, 10, 4, c.min, c.max, c.value, INK);
        EXPECT_EQ(sheet.dots, picture(c.filled)) << c.min << " " << c.max << " " << c.value;
    }
}

TEST(BmpimgTest, ProgressBarWithExtremeCornersDrawsNothingOutside) {
    recorder_t rec{};
    open_recorder(rec, 8, 8);
    bmpimg_draw_progressbar(&rec.canvas, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0, 1, 1, INK);
    bmpimg_draw_progressbar(&rec.canvas, INT_MAX, INT_MAX, INT_MIN, INT_MIN, INT_MIN, INT_MAX,
                            INT_MAX, INK);
    bmpimg_draw_progressbar(&rec.canvas, INT_MAX, 0, INT_MAX, 7, 3, 3, 3, INK);
    EXPECT_TRUE(rec.calls.empty());
    bmpimg_draw_progressbar(&rec.canvas, 6, 0, 2, 3, 0, 10, 10, INK); // backwards: w < 0
    EXPECT_EQ(rec.calls,
              (points_t{{6, 0}, {2, 0}, {6, 1}, {2, 1}, {6, 2}, {2, 2}, {6, 3}, {2, 3}}));
}

TEST(BmpimgTest, CheckBoxDrawsDiagonalsOnlyWhenChecked) {
    sheet_t plain{};
    open_sheet(plain, 5, 5);
    bmpimg_draw_checkbox(&plain.canvas, 0, 0, 4, 4, 0, INK);
    EXPECT_EQ(plain.dots, rows({"#####", "#...#", "#...#", "#...#", "#####"}));
    sheet_t checked{};
    open_sheet(checked, 5, 5);
    bmpimg_draw_checkbox(&checked.canvas, 0, 0, 4, 4, -7, INK);
    EXPECT_EQ(checked.dots, rows({"#####", "##.##", "#.#.#", "##.##", "#####"}));
}

// In-memory byte source for the read bridge.
struct source_t {
    std::vector<unsigned char> bytes;
    std::size_t pos;
};

int source_read(void* data, std::uint32_t size, void* ctx) {
    auto* src = static_cast<source_t*>(ctx);
    if (src->bytes.size() - src->pos < size) {
        return 0;
    }
    std::copy_n(src->bytes.begin() + static_cast<std::ptrdiff_t>(src->pos), size,
                static_cast<unsigned char*>(data));
    src->pos += size;
    return 1;
}

TEST(BmpimgTest, ReadingLargerFileDropsOutsidePixels) {
    // A 2 x 2 file, all pixels 0x12 0x34 0x56 (stored blue first), onto a 1 x 1 canvas.
    source_t src{{0x42, 0x4D, 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0,  0,
                  2,    0,    0,  0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0,  0, 16, 0,
                  0,    0,    0,  0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0,  0, 0,  0},
                 0};
    for (int row = 0; row < 2; ++row) {
        for (const unsigned char b : {0x56, 0x34, 0x12, 0x56, 0x34, 0x12, 0, 0}) {
            src.bytes.push_back(b);
        }
    }
    recorder_t rec{};
    open_recorder(rec, 1, 1);
    EXPECT_EQ(bmpimg_bmp_read(&rec.canvas, source_read, &src), 0);
    EXPECT_EQ(rec.calls, (points_t{{0, 0}}));
    EXPECT_EQ(src.pos, src.bytes.size());
}

} // namespace
