#include "bmp/bmplowio.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

using namespace vimbra;

namespace {

using bytes_t = std::vector<std::uint8_t>;

// Keeps every write call as its own chunk, so call sizes and order can be checked.
struct sink_t {
    std::vector<bytes_t> calls;
    bytes_t all() const {
        bytes_t out;
        for (const bytes_t& c : calls) {
            out.insert(out.end(), c.begin(), c.end());
        }
        return out;
    }
};

int sink_write(const void* data, std::uint32_t size, void* ctx) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    static_cast<sink_t*>(ctx)->calls.emplace_back(p, p + size);
    return 1;
}

// Delivers its bytes, then fails; counts every call, failed ones included.
struct source_t {
    bytes_t bytes;
    std::size_t pos = 0;
    int calls = 0;
};

int source_read(void* data, std::uint32_t size, void* ctx) {
    auto* src = static_cast<source_t*>(ctx);
    ++src->calls;
    if (src->bytes.size() - src->pos < size) {
        return 0;
    }
    std::copy_n(src->bytes.begin() + static_cast<std::ptrdiff_t>(src->pos), size,
                static_cast<std::uint8_t*>(data));
    src->pos += size;
    return 1;
}

struct pixel_call_t {
    int x, y;
    unsigned char r, g, b;
    bool operator==(const pixel_call_t&) const = default;
};

void collect_pixel(int x, int y, unsigned char r, unsigned char g, unsigned char b, void* ctx) {
    static_cast<std::vector<pixel_call_t>*>(ctx)->push_back({x, y, r, g, b});
}

// Colour of a pixel: the row in red, the column in green, a constant in blue.
void coordinate_reader(int x, int y, unsigned char* r, unsigned char* g, unsigned char* b,
                       void* ctx) {
    static_cast<std::vector<pixel_call_t>*>(ctx)->push_back({x, y, 0, 0, 0});
    *r = static_cast<unsigned char>(0x10 + y);
    *g = static_cast<unsigned char>(0x20 + x);
    *b = 0xB0;
}

bmp_info_header_t info(int width, int height, int bit_count) {
    bmp_info_header_t ih{};
    ih.biWidth = width;
    ih.biHeight = height;
    ih.biBitCount = static_cast<std::uint16_t>(bit_count);
    return ih;
}

TEST(BmplowioTest, FrameByteSize) {
    struct case_t {
        int bits, width, height, expected;
    };
    const std::vector<case_t> cases{
        {16, 3, 2, -1},
        {0, 1, 1, -1},
        {3, 1, 1, -1},
        {32, 3, 2, 24},
        {24, 5, 2, 32},
        {24, 1, 1, 4},
        {24, 4, 3, 36},
        {24, 10, 1, 32},
        {24, 0, 9, 0},
        {24, 7, 0, 0},
        {1, 1, 1, 4},
        {1, 32, 2, 8},
        {1, 33, 2, 16},
        {2, 17, 1, 8},
        {4, 9, 1, 8},
        {8, 5, 3, 24},
        {24, 1, 536870911, 2147483644},
        {24, 1, 536870912, -1},
        {24, 65536, 65536, -1},
        {32, INT_MAX, INT_MAX, -1},
    };
    for (const case_t& c : cases) {
        EXPECT_EQ(bmplowio_calc_framebytesize(c.bits, c.width, c.height), c.expected)
            << c.bits << " " << c.width << " " << c.height;
    }
}

TEST(BmplowioTest, HavePalette) {
    for (const int bits : {1, 2, 4, 8}) {
        EXPECT_EQ(bmplowio_have_palette(bits), 1) << bits;
    }
    for (const int bits : {0, 3, 16, 24, 32, -8, 256}) {
        EXPECT_EQ(bmplowio_have_palette(bits), 0) << bits;
    }
}

TEST(BmplowioTest, HeaderIsSixteenLittleEndianFields) {
    const bmp_file_header_t fh{0x4D42, 0x04030201, 0x0605, 0x0807, 0x0C0B0A09};
    const bmp_info_header_t ih{0x100F0E0D, -2,         0x7FFFFFFF, 0x1211,
                               0x1413,     0x18171615, 0x1C1B1A19, 0x201F1E1D,
                               0x24232221, 0x28272625, 0x2C2B2A29};
    sink_t sink;
    EXPECT_EQ(bmplowio_header_write(sink_write, &sink, &fh, &ih), 0);
    std::vector<std::size_t> sizes;
    for (const bytes_t& c : sink.calls) {
        sizes.push_back(c.size());
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{2, 4, 2, 2, 4, 4, 4, 4, 2, 2, 4, 4, 4, 4, 4, 4}));
    const bytes_t expected{0x42, 0x4D, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09,
                           0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0xFE, 0xFF, 0xFF, 0xFF,
                           0xFF, 0xFF, 0xFF, 0x7F, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,
                           0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F, 0x20, 0x21, 0x22,
                           0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C};
    EXPECT_EQ(sink.all(), expected);

    source_t src{expected};
    bmp_file_header_t rfh{};
    bmp_info_header_t rih{};
    EXPECT_EQ(bmplowio_header_read(source_read, &src, &rfh, &rih), 0);
    EXPECT_EQ(src.calls, 16);
    EXPECT_EQ(rfh.bfSize, 0x04030201u);
    EXPECT_EQ(rfh.bfOffBits, 0x0C0B0A09u);
    EXPECT_EQ(rih.biWidth, -2);
    EXPECT_EQ(rih.biHeight, 0x7FFFFFFF);
    EXPECT_EQ(rih.biPlanes, 0x1211);
    EXPECT_EQ(rih.biBitCount, 0x1413);
    EXPECT_EQ(rih.biClrImportant, 0x2C2B2A29u);
}

TEST(BmplowioTest, ShortHeaderKeepsUndeliveredFields) {
    // 21 bytes: the file header, biSize and three of biWidth's four bytes.
    source_t src{bytes_t{0x42, 0x4D, 1, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 9, 9, 9}};
    bmp_file_header_t fh{};
    bmp_info_header_t ih{};
    ih.biWidth = -5;
    ih.biHeight = 77;
    ih.biClrImportant = 3;
    EXPECT_EQ(bmplowio_header_init(&fh, &ih), 0);
    EXPECT_EQ(ih.biClrImportant, 0u);
    ih.biWidth = -5;
    ih.biHeight = 77;
    bmplowio_header_read(source_read, &src, &fh, &ih);
    EXPECT_EQ(fh.bfType, 0x4D42);
    EXPECT_EQ(ih.biSize, 40u);
    EXPECT_EQ(ih.biWidth, -5);
    EXPECT_EQ(ih.biHeight, 77);
    EXPECT_EQ(src.calls, 7); // stopped at the failed field
}

TEST(BmplowioTest, PaletteEntriesAreBlueGreenRedReserved) {
    const std::vector<bmp_rgbquad_t> palette{{1, 2, 3, 4}, {0xA1, 0xB2, 0xC3, 0xD4}};
    sink_t sink;
    EXPECT_EQ(bmplowio_palette_write(sink_write, &sink, palette.data(), 2), 0);
    ASSERT_EQ(sink.calls.size(), 8u);
    EXPECT_EQ(sink.all(), (bytes_t{3, 2, 1, 4, 0xC3, 0xB2, 0xA1, 0xD4}));

    source_t src{sink.all()};
    std::vector<bmp_rgbquad_t> back(2);
    EXPECT_EQ(bmplowio_palette_read(source_read, &src, back.data(), 2), 0);
    EXPECT_EQ(back[1].red, 0xA1);
    EXPECT_EQ(back[1].green, 0xB2);
    EXPECT_EQ(back[1].blue, 0xC3);
    EXPECT_EQ(back[1].reserved, 0xD4);
}

TEST(BmplowioTest, ImageRowsAreBottomUpBgrAndPadded) {
    // 3 x 2: row y is red 0x10 + y, column x is green 0x20 + x; 9 bytes + 3 padding per row.
    const bytes_t expected{0xB0, 0x20, 0x11, 0xB0, 0x21, 0x11, 0xB0, 0x22, 0x11, 0, 0, 0,
                           0xB0, 0x20, 0x10, 0xB0, 0x21, 0x10, 0xB0, 0x22, 0x10, 0, 0, 0};
    const bmp_file_header_t fh{};
    const bmp_info_header_t ih = info(3, 2, 24);
    std::vector<pixel_call_t> asked;
    sink_t sink;
    EXPECT_EQ(bmplowio_image_write(sink_write, &sink, &fh, &ih, coordinate_reader, &asked), 0);
    EXPECT_EQ(sink.all(), expected);
    EXPECT_EQ(sink.calls.size(), expected.size()); // one call per byte
    ASSERT_EQ(asked.size(), 6u);
    EXPECT_EQ(asked.front(), (pixel_call_t{0, 1, 0, 0, 0}));
    EXPECT_EQ(asked.back(), (pixel_call_t{2, 0, 0, 0, 0}));

    source_t src{expected};
    std::vector<pixel_call_t> got;
    EXPECT_EQ(bmplowio_image_read(source_read, &src, &fh, &ih, collect_pixel, &got), 0);
    EXPECT_EQ(src.pos, expected.size());
    const std::vector<pixel_call_t> want{{0, 1, 0x11, 0x20, 0xB0}, {1, 1, 0x11, 0x21, 0xB0},
                                         {2, 1, 0x11, 0x22, 0xB0}, {0, 0, 0x10, 0x20, 0xB0},
                                         {1, 0, 0x10, 0x21, 0xB0}, {2, 0, 0x10, 0x22, 0xB0}};
    EXPECT_EQ(got, want);
}

TEST(BmplowioTest, OtherBitCountsWriteOnlyPadding) {
    const bmp_file_header_t fh{};
    struct case_t {
        int width, height, bits;
        std::size_t bytes;
    };
    // 8 bits, width 1: stride 4, one pixel byte, 3 padding; 32 bits: no padding at all.
    for (const case_t& c : {case_t{1, 2, 8, 6}, {3, 2, 1, 6}, {5, 3, 32, 0}, {3, 1, 16, 2}}) {
        const bmp_info_header_t ih = info(c.width, c.height, c.bits);
        std::vector<pixel_call_t> asked;
        sink_t sink;
        bmplowio_image_write(sink_write, &sink, &fh, &ih, coordinate_reader, &asked);
        EXPECT_TRUE(asked.empty());
        EXPECT_EQ(sink.all(), bytes_t(c.bytes, 0)) << c.bits;

        source_t src{bytes_t(c.bytes, 0)};
        std::vector<pixel_call_t> got;
        bmplowio_image_read(source_read, &src, &fh, &ih, collect_pixel, &got);
        EXPECT_TRUE(got.empty());
        EXPECT_EQ(src.pos, c.bytes);
    }
}

TEST(BmplowioTest, ReadStopsAtFirstMissingByte) {
    const bmp_file_header_t fh{};
    const bmp_info_header_t ih = info(2, 3, 24);
    // One full row (6 bytes + 2 padding), then one pixel and two bytes of the next.
    source_t src{bytes_t{1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11}};
    std::vector<pixel_call_t> got;
    bmplowio_image_read(source_read, &src, &fh, &ih, collect_pixel, &got);
    const std::vector<pixel_call_t> want{{0, 2, 3, 2, 1}, {1, 2, 6, 5, 4}, {0, 1, 9, 8, 7}};
    EXPECT_EQ(got, want);
    EXPECT_EQ(src.calls, 14); // 13 bytes delivered, one failed call, nothing after
}

TEST(BmplowioTest, HeadersThatMoveNoBytesReturnAtOnce) {
    const bmp_file_header_t fh{};
    for (const bmp_info_header_t& ih : {info(0, 2000000000, 24), info(2000000000, 2000000000, 32),
                                        info(-4, 10, 24), info(4, -10, 24), info(8, INT_MAX, 0)}) {
        source_t src{};
        std::vector<pixel_call_t> got;
        bmplowio_image_read(source_read, &src, &fh, &ih, collect_pixel, &got);
        EXPECT_EQ(src.calls, 0) << ih.biWidth << " " << ih.biHeight << " " << ih.biBitCount;
        EXPECT_TRUE(got.empty());
    }
    // Rows that do consume bytes end with the stream, not with the header's height.
    source_t src{};
    const bmp_info_header_t tall = info(1, INT_MAX, 8);
    std::vector<pixel_call_t> got;
    bmplowio_image_read(source_read, &src, &fh, &tall, collect_pixel, &got);
    EXPECT_EQ(src.calls, 1);
}

} // namespace
