#include "bmp/bmpfile.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "bmp/bmpimg.hpp"

using namespace vimbra;

namespace {

using bytes_t = std::vector<std::uint8_t>;

// Appends by value; vector::insert of a braced list trips a false bounds warning of g++ 12.
void append(bytes_t& out, std::initializer_list<std::uint8_t> more) {
    for (const std::uint8_t b : more) {
        out.push_back(b);
    }
}

struct sink_t {
    bytes_t bytes;
    std::vector<std::uint32_t> sizes;
};

int sink_write(const void* data, std::uint32_t size, void* ctx) {
    auto* sink = static_cast<sink_t*>(ctx);
    const auto* p = static_cast<const std::uint8_t*>(data);
    sink->bytes.insert(sink->bytes.end(), p, p + size);
    sink->sizes.push_back(size);
    return 1;
}

struct source_t {
    bytes_t bytes;
    std::size_t pos = 0;
    int failed_calls = 0;
};

int source_read(void* data, std::uint32_t size, void* ctx) {
    auto* src = static_cast<source_t*>(ctx);
    if (src->bytes.size() - src->pos < size) {
        ++src->failed_calls;
        return 0;
    }
    std::copy_n(src->bytes.begin() + static_cast<std::ptrdiff_t>(src->pos), size,
                static_cast<std::uint8_t*>(data));
    src->pos += size;
    return 1;
}

// An RGB picture, top row first, serving as pixel source and as pixel destination.
struct picture_t {
    int width;
    int height;
    bytes_t rgb;
    std::vector<std::pair<int, int>> order; // writer calls
};

void picture_read(int x, int y, unsigned char* r, unsigned char* g, unsigned char* b, void* ctx) {
    const auto* pic = static_cast<const picture_t*>(ctx);
    const auto at = static_cast<std::size_t>((y * pic->width + x) * 3);
    *r = pic->rgb[at];
    *g = pic->rgb[at + 1];
    *b = pic->rgb[at + 2];
}

void picture_write(int x, int y, unsigned char r, unsigned char g, unsigned char b, void* ctx) {
    auto* pic = static_cast<picture_t*>(ctx);
    ASSERT_TRUE(x >= 0 && x < pic->width && y >= 0 && y < pic->height);
    const auto at = static_cast<std::size_t>((y * pic->width + x) * 3);
    pic->rgb[at] = r;
    pic->rgb[at + 1] = g;
    pic->rgb[at + 2] = b;
    pic->order.emplace_back(x, y);
}

picture_t blank(int width, int height) {
    return {width, height, bytes_t(static_cast<std::size_t>(width * height * 3), 0), {}};
}

std::uint32_t u32_at(const bytes_t& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// An F in the two colours INK and PAPER, which differ in every channel; wider pictures
// repeat it.
constexpr std::uint8_t INK[3] = {0xF0, 0x0F, 0x81};
constexpr std::uint8_t PAPER[3] = {0x12, 0x34, 0x56};
const std::vector<std::string> F_SHAPE{"#######", "#......", "#####..", "#......", "#......"};

picture_t letter_f(int width) {
    picture_t pic = blank(width, static_cast<int>(F_SHAPE.size()));
    for (int y = 0; y < pic.height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* c =
                F_SHAPE[static_cast<std::size_t>(y)][static_cast<std::size_t>(x % 7)] == '#'
                    ? INK
                    : PAPER;
            std::copy_n(c, 3, pic.rgb.begin() + (y * width + x) * 3);
        }
    }
    return pic;
}

TEST(BmpfileTest, OnePixelFileByteForByte) {
    picture_t pic{1, 1, {0x11, 0x22, 0x33}, {}};
    sink_t sink;
    EXPECT_EQ(bmpfile_write(1, 1, sink_write, &sink, picture_read, &pic), 0);
    const bytes_t expected{0x42, 0x4D, 0x3A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x36, 0x00,
                           0x00, 0x00, 0x28, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00,
                           0x00, 0x00, 0x01, 0x00, 0x18, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00,
                           0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                           0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x33, 0x22, 0x11, 0x00};
    EXPECT_EQ(sink.bytes, expected);
    const std::vector<std::uint32_t> sizes{2, 4, 2, 2, 4, 4, 4, 4, 2, 2,
                                           4, 4, 4, 4, 4, 4, 1, 1, 1, 1};
    EXPECT_EQ(sink.sizes, sizes);
}

// The template that the function-pointer writer runs on, driven by capturing lambdas.
TEST(BmpfileTest, CallablesGetTheSameCallsInOrder) {
    picture_t pic{2, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {}};
    sink_t sink;
    std::vector<std::pair<int, int>> asked;
    auto write = [&sink](const void* data, std::uint32_t size) {
        return sink_write(data, size, &sink);
    };
    auto read = [&pic, &asked](int x, int y, unsigned char* r, unsigned char* g, unsigned char* b) {
        asked.emplace_back(x, y);
        picture_read(x, y, r, g, b, &pic);
    };
    EXPECT_EQ(bmpfile_write_with(2, 2, write, read), 0);
    bytes_t expected{0x42, 0x4D, 0x46, 0, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0, 0x28, 0, 0,    0,
                     2,    0,    0,    0, 2, 0, 0, 0, 1, 0, 0x18, 0, 0, 0, 0,    0, 0x10, 0,
                     0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0,    0, 0, 0, 0,    0, 0,    0};
    append(expected, {9, 8, 7, 12, 11, 10, 0, 0, 3, 2, 1, 6, 5, 4, 0, 0});
    EXPECT_EQ(sink.bytes, expected);
    std::vector<std::uint32_t> sizes{2, 4, 2, 2, 4, 4, 4, 4, 2, 2, 4, 4, 4, 4, 4, 4};
    sizes.resize(sizes.size() + 16, 1);
    EXPECT_EQ(sink.sizes, sizes);
    EXPECT_EQ(asked, (std::vector<std::pair<int, int>>{{0, 1}, {1, 1}, {0, 0}, {1, 0}}));
}

TEST(BmpfileTest, EmptyPictureIsHeaderOnly) {
    for (const auto& [w, h] : {std::pair{0, 0}, {5, 0}, {0, 5}}) {
        sink_t sink;
        bmpfile_write(w, h, sink_write, &sink, picture_read, nullptr);
        ASSERT_EQ(sink.bytes.size(), 54u);
        EXPECT_EQ(u32_at(sink.bytes, 2), 54u);
        EXPECT_EQ(u32_at(sink.bytes, 34), 0u);
        EXPECT_EQ(static_cast<int>(u32_at(sink.bytes, 18)), w);
        EXPECT_EQ(static_cast<int>(u32_at(sink.bytes, 22)), h);
    }
}

// Both writers, the one over a pixel reader and the one over an RGB buffer (which swaps five
// pixels at a time where it can), at every padding and at widths of several such steps.
TEST(BmpfileTest, LetterFAtEveryPadding) {
    for (const int width : {1, 2, 3, 4, 5, 6, 7, 11, 16, 23}) {
        const picture_t pic = letter_f(width);
        sink_t sink;
        bmpfile_write(width, pic.height, sink_write, &sink, picture_read,
                      const_cast<picture_t*>(&pic));
        sink_t from_rgb;
        ASSERT_EQ(bmpfile_write_rgb(pic.rgb.data(), width, pic.height, sink_write, &from_rgb), 0);
        EXPECT_EQ(from_rgb.bytes, sink.bytes) << width;
        const int padding = (4 - (width * 3) % 4) % 4;
        const auto stride = static_cast<std::size_t>(width * 3 + padding);
        bytes_t expected;
        for (int y = pic.height - 1; y >= 0; --y) {
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* c =
                    F_SHAPE[static_cast<std::size_t>(y)][static_cast<std::size_t>(x % 7)] == '#'
                        ? INK
                        : PAPER;
                append(expected, {c[2], c[1], c[0]});
            }
            expected.insert(expected.end(), static_cast<std::size_t>(padding), 0);
        }
        ASSERT_EQ(sink.bytes.size(), 54 + stride * 5) << width;
        EXPECT_EQ(u32_at(sink.bytes, 2), 54 + stride * 5);
        EXPECT_EQ(u32_at(sink.bytes, 34), stride * 5);
        EXPECT_EQ(bytes_t(sink.bytes.begin() + 54, sink.bytes.end()), expected) << width;
    }
}

TEST(BmpfileTest, RedPictureStoresBlueFirst) {
    picture_t pic{2, 1, {255, 0, 0, 255, 0, 0}, {}};
    sink_t sink;
    bmpfile_write(2, 1, sink_write, &sink, picture_read, &pic);
    EXPECT_EQ(bytes_t(sink.bytes.begin() + 54, sink.bytes.end()),
              (bytes_t{0x00, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0, 0}));
}

TEST(BmpfileTest, ReadBackGivesSamePixelsBottomRowFirst) {
    for (int width = 1; width <= 7; ++width) {
        const picture_t pic = letter_f(width);
        sink_t sink;
        bmpfile_write(width, pic.height, sink_write, &sink, picture_read,
                      const_cast<picture_t*>(&pic));
        source_t src{sink.bytes};
        picture_t back = blank(width, pic.height);
        EXPECT_EQ(bmpfile_read(source_read, &src, picture_write, &back), 0);
        EXPECT_EQ(back.rgb, pic.rgb) << width;
        ASSERT_EQ(back.order.size(), static_cast<std::size_t>(width * 5));
        EXPECT_EQ(back.order.front(), (std::pair{0, 4}));
        EXPECT_EQ(back.order.back(), (std::pair{width - 1, 0}));
        EXPECT_EQ(src.pos, src.bytes.size());
    }
}

bytes_t header_bytes(int width, int height, int bits) {
    auto w = static_cast<std::uint32_t>(width);
    auto h = static_cast<std::uint32_t>(height);
    bytes_t b{0x42, 0x4D, 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0};
    for (const std::uint32_t v : {w, h}) {
        append(b, {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                   static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)});
    }
    append(b, {1, 0, static_cast<std::uint8_t>(bits), 0});
    b.insert(b.end(), 24, 0);
    return b;
}

TEST(BmpfileTest, ReadsHandMadeFile) {
    source_t src{header_bytes(2, 2, 24)};
    // Bottom row: blue pixel, white pixel; top row: red pixel, black pixel.
    append(src.bytes, {0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0});
    picture_t back = blank(2, 2);
    bmpfile_read(source_read, &src, picture_write, &back);
    EXPECT_EQ(back.rgb, (bytes_t{0xFF, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(BmpfileTest, TruncatedFilesDeliverOnlyWholePixels) {
    const bytes_t full = [] {
        bytes_t b = header_bytes(2, 2, 24);
        append(b, {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0});
        return b;
    }();
    struct case_t {
        std::size_t length;
        std::size_t pixels;
    };
    for (const case_t c : {case_t{0, 0}, {30, 0}, {53, 0}, {54, 0}, {58, 1}, {62, 2}, {67, 3}}) {
        source_t src{bytes_t(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(c.length))};
        picture_t back = blank(2, 2);
        EXPECT_EQ(bmpfile_read(source_read, &src, picture_write, &back), 0);
        EXPECT_EQ(back.order.size(), c.pixels) << c.length;
        EXPECT_EQ(src.failed_calls, 1) << c.length; // no read after the first failure
    }
}

TEST(BmpfileTest, PaletteFileIsSkippedWithoutPixels) {
    source_t src{header_bytes(1, 2, 8)};
    src.bytes.insert(src.bytes.end(), 256 * 4 + 2 * 3, 0x5A); // palette, then padding only
    picture_t back = blank(1, 2);
    bmpfile_read(source_read, &src, picture_write, &back);
    EXPECT_TRUE(back.order.empty());
    EXPECT_EQ(src.pos, src.bytes.size());
    EXPECT_EQ(src.failed_calls, 0);
}

TEST(BmpfileTest, HostileHeadersReturnAtOnce) {
    for (const bytes_t& header :
         {header_bytes(0, 2000000000, 24), header_bytes(-3, 5, 24), header_bytes(3, -5, 24),
          header_bytes(70000, 70000, 32), header_bytes(65536, 65536, 24)}) {
        source_t src{header};
        picture_t back = blank(1, 1);
        bmpfile_read(source_read, &src, picture_write, &back);
        EXPECT_LE(src.failed_calls, 1);
        EXPECT_TRUE(back.order.empty());
    }
}

TEST(BmpfileTest, CanvasBridgesRoundTrip) {
    const picture_t pic = letter_f(6);
    bmpimg_t source{};
    bmpimg_open(&source, 6, 5, nullptr, nullptr, picture_read, const_cast<picture_t*>(&pic));
    sink_t sink;
    EXPECT_EQ(bmpimg_bmp_write(&source, sink_write, &sink), 0);
    EXPECT_EQ(sink.bytes.size(), 54u + 20u * 5u);

    picture_t back = blank(6, 5);
    bmpimg_t dest{};
    bmpimg_open(&dest, 6, 5, picture_write, &back, nullptr, nullptr);
    source_t src{sink.bytes};
    EXPECT_EQ(bmpimg_bmp_read(&dest, source_read, &src), 0);
    EXPECT_EQ(back.rgb, pic.rgb);
    bmpimg_close(&dest);
}

} // namespace
