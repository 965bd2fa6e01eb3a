#include "lcd/lcdfont.hpp"
#include "lcd/lcdimg.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"

#include "bmp/bmpimg.hpp"
#include "lcd/lcdimg_draw.hpp"

using namespace vimbra;

namespace {

namespace fs = std::filesystem;
using rgb_t = std::array<int, 3>;

constexpr rgb_t BG{255, 190, 66};
constexpr rgb_t UNLIT{245, 182, 63}; // documented blend of the default colours
constexpr rgb_t LIT{8, 8, 8};

struct image_deleter_t {
    void operator()(lcdimg_t* img) const { lcdimg_close(img); }
};
using image_ptr_t = std::unique_ptr<lcdimg_t, image_deleter_t>;

// An image from the given profile text and an empty font file.
image_ptr_t open_profile(const temp_dir_t& dir, const std::string& profile) {
    return image_ptr_t(
        lcdimg_open(dir.write("p.prof", profile).c_str(), dir.write("f.fnt", "").c_str()));
}

rgb_t pixel(const lcdimg_t* img, int x, int y) {
    const unsigned char* p =
        img->pixels + (static_cast<std::size_t>(y) * img->canvas_width + x) * 3;
    return {p[0], p[1], p[2]};
}

// Every pixel of the block [x1, x2] x [y1, y2] has the colour.
void expect_block(const lcdimg_t* img, int x1, int y1, int x2, int y2, rgb_t color) {
    for (int y = y1; y <= y2; ++y) {
        for (int x = x1; x <= x2; ++x) {
            ASSERT_EQ(pixel(img, x, y), color) << "at (" << x << ", " << y << ")";
        }
    }
}

// Dot rows of a glyph, top first, '#' for a lit dot.
std::vector<std::string> glyph_picture(const lcdimg_font_t& font, int code) {
    std::vector<std::string> rows(8, std::string(5, '.'));
    for (int j = 0; j < 5; ++j) {
        for (int i = 0; i < 8; ++i) {
            if ((font[static_cast<std::size_t>(code * 5 + j)] >> i) & 1) {
                rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] = '#';
            }
        }
    }
    return rows;
}

TEST(LcdimgTest, BuiltInGlyphsMatchTheirPictures) {
    using rows_t = std::vector<std::string>;
    EXPECT_EQ(glyph_picture(font5x8_master, 'A'),
              (rows_t{".###.", "#...#", "#...#", "#...#", "#####", "#...#", "#...#", "....."}));
    EXPECT_EQ(glyph_picture(font5x8_master, '\\'),
              (rows_t{".....", "#....", ".#...", "..#..", "...#.", "....#", ".....", "....."}));
    EXPECT_EQ(glyph_picture(font5x8_master, 'F'),
              (rows_t{"#####", "#....", "#....", "####.", "#....", "#....", "#....", "....."}));
    EXPECT_EQ(glyph_picture(font5x8_master, 'g'),
              (rows_t{".....", ".....", ".####", "#...#", ".####", "....#", "..##.", "....."}));
    EXPECT_EQ(glyph_picture(font5x8_master, 0x7E),
              (rows_t{".....", "..#..", "...#.", "#####", "...#.", "..#..", ".....", "....."}));
    for (int code = 0; code < 256; ++code) {
        bool blank = true;
        for (int j = 0; j < 5; ++j) {
            const unsigned char column = font5x8_master[static_cast<std::size_t>(code * 5 + j)];
            blank = blank && column == 0;
            EXPECT_EQ(column & 0x80, 0) << "bottom row unused, code " << code;
        }
        EXPECT_EQ(blank, code <= 0x20 || code >= 0x80) << "code " << code;
    }
}

TEST(LcdimgTest, DefaultsWithoutProfile) {
    temp_dir_t dir;
    image_ptr_t img(lcdimg_open(dir.file("missing.prof").c_str(), dir.file("missing.fnt").c_str()));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->canvas_width, 446);
    EXPECT_EQ(img->canvas_height, 112);
    EXPECT_EQ(img->chcnt_x * img->chcnt_y, 32);
    EXPECT_TRUE(std::all_of(img->text_grid, img->text_grid + 32, [](int c) { return c == 0x20; }));
    EXPECT_EQ(img->font, font5x8_master);
    EXPECT_EQ(img->draw_color, LCDIMG_DEFAULT_DRAW_COLOR);
    EXPECT_EQ(img->unlit_rgb, (bmpimg_color_t{245, 182, 63}));
    // The rendering calls these two itself, on the promise that the canvas uses them.
    EXPECT_EQ(img->canvas.writer, canvas_pixel_writer);
    EXPECT_EQ(img->canvas.reader, canvas_pixel_reader);
    EXPECT_EQ(img->canvas.writer_ctx, img.get());
    EXPECT_EQ(img->canvas.reader_ctx, img.get());
    EXPECT_EQ(img->canvas.width, 446);
    EXPECT_EQ(img->canvas.height, 112);
}

TEST(LcdimgTest, PictureSizes) {
    struct size_case_t {
        const char* profile;
        int width;
        int height;
    };
    const std::array<size_case_t, 3> cases{{
        {"", 446, 112},
        {"FRAME_X 10\nCHOFS_X 0\nCHCNT_X 2\nPIXSIZ_X 1\nPIXGAP_X 0\nCHGAP_X 5\n", 35, 112},
        {"CHCNT_Y 1\nCHOFS_Y 0\nPIXSIZ_Y 1\nPIXGAP_Y 0\nFRAME_Y 3\n", 446, 14},
    }};
    for (const size_case_t& c : cases) {
        temp_dir_t dir;
        image_ptr_t img = open_profile(dir, c.profile);
        ASSERT_NE(img, nullptr) << c.profile;
        int w = 0;
        int h = 0;
        calc_canvas_size(img.get(), &w, &h);
        EXPECT_EQ(w, c.width) << c.profile;
        EXPECT_EQ(h, c.height) << c.profile;
        EXPECT_EQ(img->canvas_width, c.width);
    }
}

TEST(LcdimgTest, SetTextBoundsAndGlyphCallback) {
    temp_dir_t dir;
    image_ptr_t img = open_profile(dir, "");
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(lcdimg_set_text(img.get(), 15, 1, 'Z'), 0);
    EXPECT_EQ(img->text_grid[31], 'Z');
    EXPECT_EQ(lcdimg_set_text(img.get(), 3, 1, 'q'), 0);
    EXPECT_EQ(img->text_grid[19], 'q');
    for (const auto& [x, y] : {std::pair{16, 0}, {0, 2}, {-1, 0}, {0, -1}}) {
        EXPECT_EQ(lcdimg_set_text(img.get(), x, y, 'X'), -1);
    }
    EXPECT_EQ(std::count(img->text_grid, img->text_grid + 32, 'X'), 0);

    const lcdimg_font_t before = img->font;
    lcdfont_read_callback(256, 0, 0, 1, img.get());
    EXPECT_EQ(img->font, before);
    lcdfont_read_callback('A', 0, 3, 0, img.get()); // 0x7E -> 0x76
    EXPECT_EQ(img->font['A' * 5], 0x76);
    lcdfont_read_callback('A', 4, 7, 1, img.get()); // 0x7E -> 0xFE
    EXPECT_EQ(img->font['A' * 5 + 4], 0xFE);
    lcdfont_read_callback(0, 2, 0, 1, img.get());
    EXPECT_EQ(img->font[2], 0x01);
}

TEST(LcdimgTest, UnlitBlendAndLitBytes) {
    struct blend_case_t {
        int contrast;
        int fg;
        int bg;
        int unlit;
    };
    const std::array<blend_case_t, 11> cases{{
        {96, 8, 255, 245},
        {96, 8, 190, 182},
        {96, 8, 66, 63},
        {3, 1, 201, 6}, // 0.97 + 6.03 is 6.999999999999999 in doubles
        {100, 8, 255, 255},
        {0, 8, 255, 8},
        {200, 8, 255, 255}, // -8 + 510, clamped
        {200, 8, 66, 124},
        {-100, 8, 255, 0}, // 16 - 255, clamped
        {50, -20, 100, 40},
        {INT_MIN, 2, 0, 2}, // (100 - INT_MIN) * 2 wraps to 200
    }};
    temp_dir_t dir;
    image_ptr_t img = open_profile(dir, "");
    ASSERT_NE(img, nullptr);
    for (const blend_case_t& c : cases) {
        img->contrast = c.contrast;
        img->fgcol = {c.fg, 264, -1};
        img->bgcol = {c.bg, 0, 0};
        calc_dot_colors(img.get());
        EXPECT_EQ(img->unlit_rgb[0], c.unlit) << c.contrast << " " << c.fg << " " << c.bg;
        EXPECT_EQ(img->lit_rgb[1], 8);
        EXPECT_EQ(img->lit_rgb[2], 255);
    }
}

TEST(LcdimgRenderTest, DefaultPicture) {
    temp_dir_t dir;
    image_ptr_t img = open_profile(dir, "");
    ASSERT_NE(img, nullptr);
    lcdimg_set_text(img.get(), 0, 0, 'A');
    lcdimg_paint(img.get());
    const std::array<rgb_t, 4> rings{
        {{214, 159, 55}, {224, 167, 58}, {234, 174, 60}, {244, 182, 63}}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(pixel(img.get(), i, 56), rings[i]);
        EXPECT_EQ(pixel(img.get(), 445 - i, 56), rings[i]);
        EXPECT_EQ(pixel(img.get(), 200, i), rings[i]);
        EXPECT_EQ(pixel(img.get(), 200, 111 - i), rings[i]);
        EXPECT_EQ(pixel(img.get(), i, i), rings[i]) << "corner";
        EXPECT_EQ(pixel(img.get(), 3, i), rings[i]) << "corner square: nearer edge wins";
    }
    expect_block(img.get(), 4, 4, 14, 14, BG);
    expect_block(img.get(), 15, 15, 18, 18, UNLIT);   // 'A', dot row 0 of column 0
    expect_block(img.get(), 15, 20, 18, 23, LIT);     // dot row 1 of column 0
    expect_block(img.get(), 20, 15, 23, 18, LIT);     // column 1 (0x11), row 0
    expect_block(img.get(), 19, 15, 19, 60, BG);      // gap between dot columns
    expect_block(img.get(), 425, 91, 428, 94, UNLIT); // last dot of the last cell
    expect_block(img.get(), 429, 4, 441, 107, BG);
    std::array<int, 3> counts{};
    for (int y = 0; y < 112; ++y) {
        for (int x = 0; x < 446; ++x) {
            const rgb_t p = pixel(img.get(), x, y);
            counts[0] += p == UNLIT;
            counts[1] += p == LIT;
        }
    }
    EXPECT_EQ(counts[1], 18 * 16) << "'A' has 18 lit dots";
    EXPECT_EQ(counts[0], (32 * 40 - 18) * 16);

    const std::string path = dir.file("out.bmp");
    ASSERT_EQ(lcdimg_write_file(img.get(), path.c_str()), 0);
    const std::string bmp = read_file(path);
    ASSERT_EQ(bmp.size(), 150134U);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(bmp.substr(54, 3), "\x37\x9F\xD6") << "bottom-left pixel, ring 0, blue first";
    EXPECT_EQ(bmp.substr(54 + 96 * 1340 + 15 * 3, 3), "\x3F\xB6\xF5") << "(15, 15), file row 96";
}

TEST(LcdimgRenderTest, FrameAndShadowSettings) {
    temp_dir_t dir;
    image_ptr_t framed = open_profile(dir, "FRAME_X 3\nFRAME_Y 2\nFRCOL.B 255\n");
    ASSERT_NE(framed, nullptr);
    lcdimg_paint(framed.get());
    const rgb_t blue{0, 0, 255};
    expect_block(framed.get(), 0, 0, 2, 115, blue);
    expect_block(framed.get(), 449, 0, 451, 115, blue);
    expect_block(framed.get(), 0, 0, 451, 1, blue);
    expect_block(framed.get(), 0, 114, 451, 115, blue);
    expect_block(framed.get(), 3, 2, 3, 113, (rgb_t{214, 159, 55}));
    expect_block(framed.get(), 3, 2, 448, 2, (rgb_t{214, 159, 55}));
    EXPECT_EQ(pixel(framed.get(), 4, 3), (rgb_t{224, 167, 58}));

    image_ptr_t flat = open_profile(dir, "SHADOW_CURVE 0\n");
    ASSERT_NE(flat, nullptr);
    lcdimg_paint(flat.get());
    expect_block(flat.get(), 0, 0, 14, 111, BG);

    image_ptr_t half = open_profile(dir, "SHADOW_DEPTH 1\nSHADOW_CURVE 50\n");
    ASSERT_NE(half, nullptr);
    lcdimg_paint(half.get());
    expect_block(half.get(), 0, 0, 0, 111, (rgb_t{127, 95, 33}));
    expect_block(half.get(), 1, 1, 14, 110, BG);

    // 300 % steps: ring 0 at -200 %, not clamped, low byte of -510, -380, -132.
    image_ptr_t wild = open_profile(dir, "SHADOW_DEPTH 1\nSHADOW_CURVE 300\n");
    ASSERT_NE(wild, nullptr);
    lcdimg_paint(wild.get());
    EXPECT_EQ(pixel(wild.get(), 0, 40), (rgb_t{2, 132, 124}));
}

// Independent, deliberately naive renderer: every ring line walked point by point over its
// whole length, every dot pixel tested against the picture.
std::int32_t wrap(std::int64_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
}

std::vector<rgb_t> reference_picture(const lcdimg_t& s, std::int64_t ring_limit) {
    const int w = s.canvas_width;
    const int h = s.canvas_height;
    auto low = [](const lcdimg_rgb_t& c) { return rgb_t{c.r & 255, c.g & 255, c.b & 255}; };
    std::vector<rgb_t> pic(static_cast<std::size_t>(w * h), low(s.bgcol));
    auto put = [&](std::int64_t x, std::int64_t y, rgb_t c) {
        if (x >= 0 && y >= 0 && x < w && y < h) {
            pic[static_cast<std::size_t>(y * w + x)] = c;
        }
    };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (x < s.frame_x || x >= w - s.frame_x || y < s.frame_y || y >= h - s.frame_y) {
                put(x, y, low(s.frcol));
            }
        }
    }
    auto ring = [&](std::int64_t i) {
        const std::int32_t p = wrap(std::int64_t{s.shadow_curve} * (i - s.shadow_depth) + 100);
        auto shade = [p](int bg) { return (wrap(std::int64_t{bg} * p) / 100) & 255; };
        return rgb_t{shade(s.bgcol.r), shade(s.bgcol.g), shade(s.bgcol.b)};
    };
    const std::int64_t n = std::min<std::int64_t>(s.shadow_depth, ring_limit);
    const std::int64_t fx = s.frame_x;
    const std::int64_t fy = s.frame_y;
    for (int pass = 0; pass < 2; ++pass) {
        for (std::int64_t i = 0; i < n; ++i) {
            const std::int64_t a = (pass == 0 ? fy : fx) + i;
            const std::int64_t b = (pass == 0 ? h - fy : w - fx) - i - 1;
            for (std::int64_t t = std::min(a, b); t <= std::max(a, b); ++t) {
                if (pass == 0) {
                    put(fx + i, t, ring(i));
                    put(w - fx - i - 1, t, ring(i));
                } else {
                    put(t, fy + i, ring(i));
                    put(t, h - fy - i - 1, ring(i));
                }
            }
        }
    }
    const rgb_t unlit{s.unlit_rgb[0], s.unlit_rgb[1], s.unlit_rgb[2]};
    for (int r = 0; r < s.chcnt_y; ++r) {
        for (int c = 0; c < s.chcnt_x; ++c) {
            const int code = s.text_grid[r * s.chcnt_x + c];
            const std::int64_t x0 = s.frame_x + s.chofs_x +
                                    c * std::int64_t{5 * s.pixsiz_x + 4 * s.pixgap_x + s.chgap_x};
            const std::int64_t y0 = s.frame_y + s.chofs_y +
                                    r * std::int64_t{8 * s.pixsiz_y + 7 * s.pixgap_y + s.chgap_y};
            for (int i = 0; i < 8; ++i) {
                for (int j = 0; j < 5; ++j) {
                    const bool lit = (s.font[static_cast<std::size_t>(code * 5 + j)] >> i) & 1;
                    for (int k = 0; k < s.pixsiz_y; ++k) {
                        for (int l = 0; l < s.pixsiz_x; ++l) {
                            put(x0 + j * s.pixsiz_x + (j - 1) * s.pixgap_x + l,
                                y0 + i * s.pixsiz_y + (i - 1) * s.pixgap_y + k,
                                lit ? low(s.fgcol) : unlit);
                        }
                    }
                }
            }
        }
    }
    return pic;
}

TEST(LcdimgRenderTest, MatchesNaiveReference) {
    const std::string tiny = "CHCNT_X 1\nCHCNT_Y 1\nCHOFS_X 2\nCHOFS_Y 2\nPIXSIZ_X 1\nPIXSIZ_Y 1\n"
                             "PIXGAP_X 0\nPIXGAP_Y 0\nFRAME_X 1\nFRAME_Y 1\nSHADOW_CURVE 7\n";
    const std::array<std::string, 6> profiles{{
        "",
        tiny + "SHADOW_DEPTH 30\n",         // rings cross over, every one drawn naively
        tiny + "SHADOW_DEPTH 2147483647\n", // must finish, same pixels as far as lines reach
        "CHCNT_X 3\nCHOFS_X 1\nCHOFS_Y 0\nPIXGAP_X 3\nPIXGAP_Y 2\nCHGAP_X 0\nSHADOW_DEPTH 9\n"
        "SHADOW_CURVE -30\nFRAME_X 0\nBGCOL.R 300\nFGCOL.G 200\n", // dots partly outside
        "FRAME_X 3\nFRAME_Y 2\nFRCOL.B 255\nSHADOW_DEPTH 40\nCONTRAST 40\nCHCNT_Y 3\n",
        "CHCNT_X 2\nCHCNT_Y 1\nCHOFS_X 0\nCHOFS_Y 0\nPIXSIZ_X 2\nPIXSIZ_Y 3\nFRAME_X 4\n"
        "FRAME_Y 0\nSHADOW_DEPTH 1000000\nSHADOW_CURVE -1000000\n",
    }};
    for (const std::string& profile : profiles) {
        temp_dir_t dir;
        image_ptr_t img = open_profile(dir, profile);
        ASSERT_NE(img, nullptr) << profile;
        const int cells = img->chcnt_x * img->chcnt_y;
        for (int i = 0; i < cells; ++i) {
            img->text_grid[i] = static_cast<unsigned char>("F\\gA#~"[i % 6]);
        }
        lcdimg_paint(img.get());
        // A ring whose index passes both sides lies wholly outside: its columns are frame + i
        // >= w and w - frame - i - 1 < 0, its rows likewise. So 8 * (w + h) rings are plenty.
        const std::vector<rgb_t> expected =
            reference_picture(*img, 8 * (img->canvas_width + img->canvas_height));
        for (int y = 0; y < img->canvas_height; ++y) {
            for (int x = 0; x < img->canvas_width; ++x) {
                ASSERT_EQ(pixel(img.get(), x, y),
                          expected[static_cast<std::size_t>(y * img->canvas_width + x)])
                    << "(" << x << ", " << y << ") with profile:\n"
                    << profile;
            }
        }
    }
}

// A BMP file of the picture, encoded here field by field from the file layout.
std::string encode_bmp(const std::vector<rgb_t>& pic, int w, int h) {
    const int stride = (3 * w + 3) / 4 * 4;
    std::string out;
    auto put = [&out](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        }
    };
    out += "BM";
    put(54 + stride * h, 4);
    put(0, 4);
    put(54, 4);
    put(40, 4);
    put(w, 4);
    put(h, 4);
    put(1, 2);
    put(24, 2);
    put(0, 4);
    put(stride * h, 4);
    out.append(16, '\0'); // resolutions and colour counts
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) {
            const rgb_t& c = pic[static_cast<std::size_t>(y * w + x)];
            out.push_back(static_cast<char>(c[2]));
            out.push_back(static_cast<char>(c[1]));
            out.push_back(static_cast<char>(c[0]));
        }
        out.append(static_cast<std::size_t>(stride - 3 * w), '\0');
    }
    return out;
}

// The whole file, byte for byte: pictures that fit the output buffer or take it several
// times over, rows with and without padding, and a pixel buffer large enough for big pages.
TEST(LcdimgOutputTest, WholeFileMatchesIndependentEncoding) {
    const std::array<std::string, 4> profiles{{
        "",                                                  // 446 x 112, 150134 bytes
        "CHCNT_X 40\nCHCNT_Y 4\nPIXSIZ_X 12\nPIXSIZ_Y 12\n", // 2670 x 450, 3.6 MB
        "CHCNT_X 1\nCHCNT_Y 1\nCHOFS_X 0\nCHOFS_Y 0\nPIXSIZ_X 1\nPIXSIZ_Y 1\nPIXGAP_X 0\n"
        "PIXGAP_Y 0\nSHADOW_DEPTH 1\n", // 5 x 8: three padding bytes a row
        "CHCNT_X 3\nCHOFS_X 1\nCHOFS_Y 0\nPIXGAP_X 3\nPIXGAP_Y 2\nCHGAP_X 0\nFRAME_X 2\n"
        "FRAME_Y 1\nFRCOL.G 77\n", // dots partly outside the picture
    }};
    for (const std::string& profile : profiles) {
        temp_dir_t dir;
        image_ptr_t img = open_profile(dir, profile);
        ASSERT_NE(img, nullptr) << profile;
        const int cells = img->chcnt_x * img->chcnt_y;
        for (int i = 0; i < cells; ++i) {
            img->text_grid[i] = static_cast<unsigned char>("Fg7\\#~ "[i % 7]);
        }
        const std::string path = dir.file("out.bmp");
        ASSERT_EQ(lcdimg_write_file(img.get(), path.c_str()), 0) << profile;
        const int w = img->canvas_width;
        const int h = img->canvas_height;
        const std::string expected = encode_bmp(reference_picture(*img, 8 * (w + h)), w, h);
        const std::string file = read_file(path);
        ASSERT_EQ(file.size(), expected.size()) << profile;
        const auto diff = std::mismatch(file.begin(), file.end(), expected.begin());
        EXPECT_TRUE(diff.first == file.end())
            << "first difference at byte " << (diff.first - file.begin()) << " with profile:\n"
            << profile;
    }
}

TEST(LcdimgTest, UnsafeSettingsAreRefused) {
    struct refusal_case_t {
        const char* profile;
        const char* message;
    };
    const std::array<refusal_case_t, 11> cases{{
        {"CHCNT_X 0\n", "Illegal setting: CHCNT_X = 0 (must be 1 or more).\n"},
        {"ROW_ADDRESSES = 0x00   0x80 # past 7 bits\n",
         "Illegal setting: ROW_ADDRESSES = 0x00 0x80 (each must be 0x00 to 0x7F, at most 16).\n"},
        {"ROW_ADDRESSES 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n",
         "Illegal setting: ROW_ADDRESSES = 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 (each must be "
         "0x00 to 0x7F, at most 16).\n"},
        {"ROW_ADDRESSES 0x 0x40\n",
         "Illegal setting: ROW_ADDRESSES = 0x 0x40 (each must be 0x00 to 0x7F, at most 16).\n"},
        {"CHARSET a01\n", "Illegal setting: CHARSET = a01 (must be A00 or A02).\n"},
        {"PIXSIZ_Y -4\n", "Illegal setting: PIXSIZ_Y = -4 (must be 1 or more).\n"},
        {"FRAME_Y -1\n", "Illegal setting: FRAME_Y = -1 (must be 0 or more).\n"},
        {"CHGAP_X -2\n", "Illegal setting: CHGAP_X = -2 (must be 0 or more).\n"},
        {"CHCNT_X 2520\n",
         "Picture too large: 65550 x 112 pixels (at most 65535 x 65535 and 2 GiB).\n"},
        {"CHCNT_X 2519\nCHCNT_Y 266\n",
         "Picture too large: 65524 x 10936 pixels (at most 65535 x 65535 and 2 GiB).\n"},
        {"CHCNT_X 2147483647\nPIXSIZ_X 2147483647\nPIXGAP_X 2147483647\n",
         "Picture too large: over 2305843009213693952 x 112 pixels (at most 65535 x 65535 and "
         "2 GiB).\n"},
    }};
    for (const refusal_case_t& c : cases) {
        temp_dir_t dir;
        const std::string prof = dir.write("p.prof", c.profile);
        testing::internal::CaptureStdout();
        lcdimg_t* img = lcdimg_open(prof.c_str(), prof.c_str());
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(img, nullptr) << c.profile;
        lcdimg_close(img);
        EXPECT_EQ(out, c.message);
    }
}

TEST(LcdimgTest, LargestSoundSettingsPass) {
    temp_dir_t dir;
    image_ptr_t img = open_profile(dir, "");
    ASSERT_NE(img, nullptr);
    lcdimg_t* s = img.get();
    s->chcnt_x = 2519; // 65524 x 10895: 54 + 196572 * 10895 bytes, just under 2 GiB
    s->chcnt_y = 265;
    EXPECT_EQ(lcdimg_check_settings(s), 0);
    s->chofs_x = 0; // 16384 x 16384
    s->chofs_y = 0;
    s->chgap_x = 0;
    s->chgap_y = 0;
    s->pixsiz_x = 1;
    s->pixsiz_y = 1;
    s->pixgap_x = 0;
    s->pixgap_y = 0;
    s->chcnt_x = 3276;
    s->frame_x = 2;
    s->chcnt_y = 2048;
    EXPECT_EQ(lcdimg_check_settings(s), 0);
    int w = 0;
    int h = 0;
    calc_canvas_size(s, &w, &h);
    EXPECT_EQ(w, 16384);
    EXPECT_EQ(h, 16384);
    s->chofs_x = 0;
    s->frame_x = 0;
    s->chcnt_x = 1;
    s->chgap_x = INT_MAX; // no second cell, so no gap
    EXPECT_EQ(lcdimg_check_settings(s), 0);
}

TEST(LcdimgDrawTest, ScriptShapes) {
    temp_dir_t dir;
    image_ptr_t img = open_profile(dir, "");
    ASSERT_NE(img, nullptr);
    lcdimg_paint(img.get());
    lcdimg_t* p = img.get();
    lcdimg_draw_plot(p, 5, 5);
    EXPECT_EQ(pixel(p, 5, 5), (rgb_t{255, 255, 255})) << "white before any color";
    lcdimg_draw_color(p, 255, 0, 0);
    lcdimg_draw_plot(p, 0, 0);
    lcdimg_draw_color(p, 0, 0, 255);
    lcdimg_draw_plot(p, 1, 0);
    EXPECT_EQ(pixel(p, 0, 0), (rgb_t{255, 0, 0}));
    EXPECT_EQ(pixel(p, 1, 0), (rgb_t{0, 0, 255}));

    const std::vector<unsigned char> before(p->pixels, p->pixels + 446 * 112 * 3);
    lcdimg_draw_fillbox(p, 10, 10, 446, 20);
    lcdimg_draw_box(p, -1, 10, 20, 20);
    for (const auto& [x, y] : {std::pair{-1, 0}, {446, 0}, {0, 112}, {INT_MIN, INT_MAX}}) {
        lcdimg_draw_plot(p, x, y);
    }
    lcdimg_draw_circle(p, 200, 50, INT_MAX); // picture inside the hole
    lcdimg_draw_circle(p, INT_MIN, INT_MIN, 5);
    lcdimg_draw_circle(p, 200, 50, -3);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), p->pixels)) << "nothing drawn";

    lcdimg_draw_fillbox(p, 100, 60, 101, 61);
    expect_block(p, 100, 60, 101, 61, (rgb_t{0, 0, 255}));
    lcdimg_draw_line(p, 300, 70, 303, 71);
    EXPECT_EQ(pixel(p, 302, 71), (rgb_t{0, 0, 255}));
    lcdimg_draw_box(p, 300, 80, 304, 84);
    EXPECT_EQ(pixel(p, 304, 82), (rgb_t{0, 0, 255}));
    const std::size_t inside = (82 * 446 + 302) * 3;
    EXPECT_EQ(p->pixels[inside], before[inside]) << "outline only";
}

TEST(LcdimgOutputTest, WriteFailuresAreReported) {
    temp_dir_t dir;
    image_ptr_t img = open_profile(dir, "");
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(lcdimg_write_file(img.get(), "/dev/full"), -1);
    EXPECT_EQ(lcdimg_write_file(img.get(), "/dev/null"), 0);
}

} // namespace
