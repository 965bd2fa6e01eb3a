#include "bmp/pngfile.hpp"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <vector>

using namespace vimbra;

namespace {

struct decoded_t {
    int depth;
    int color_type;
    int width;
    int height;
    std::vector<unsigned char> rgb;
};

int collect(const void* data, std::uint32_t size, void* ctx) {
    auto* bytes = static_cast<std::vector<unsigned char>*>(ctx);
    const auto* p = static_cast<const unsigned char*>(data);
    bytes->insert(bytes->end(), p, p + size);
    return 1;
}

// libpng reads the file back as 8-bit RGB; IHDR's depth and colour type come from the bytes.
decoded_t decode(const std::vector<unsigned char>& file) {
    decoded_t d{file.size() > 25 ? file[24] : -1, file.size() > 25 ? file[25] : -1, 0, 0, {}};
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, file.data(), file.size()) == 0) {
        return d;
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) == 0) {
        return d;
    }
    d.width = static_cast<int>(image.width);
    d.height = static_cast<int>(image.height);
    d.rgb = rgb;
    return d;
}

// A picture of exactly `colors` colours, placed unevenly so that flipped rows, swapped
// channels and bad row padding all show.
std::vector<unsigned char> picture(int width, int height, int colors) {
    std::vector<unsigned char> rgb;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int i = (y * width + x) < colors ? y * width + x : (x * 7 + y * 3) % colors;
            rgb.push_back(static_cast<unsigned char>(i & 0xFF));
            rgb.push_back(static_cast<unsigned char>(40 * (i >> 8) + 3));
            rgb.push_back(static_cast<unsigned char>(255 - (i & 0xFF)));
        }
    }
    return rgb;
}

struct png_case {
    int width;
    int height;
    int colors;
    int depth;      // expected bits per sample
    int color_type; // 3 indexed, 2 truecolour
};

const png_case PNG_CASES[] = {
    {1, 1, 1, 1, 3},     {7, 3, 2, 1, 3},       {9, 2, 3, 2, 3},         {3, 5, 4, 2, 3},
    {5, 3, 5, 4, 3},     {6, 3, 16, 4, 3},      {17, 1, 17, 8, 3},       {13, 20, 256, 8, 3},
    {13, 20, 257, 8, 2}, {2900, 3000, 5, 4, 3}, {1000, 1100, 300, 8, 2},
};

TEST(PngfileTest, DecodesToTheSamePixelsAtTheSmallestDepth) {
    for (const png_case& c : PNG_CASES) {
        const std::vector<unsigned char> rgb = picture(c.width, c.height, c.colors);
        std::vector<unsigned char> file;
        ASSERT_EQ(pngfile_write_rgb(rgb.data(), c.width, c.height, collect, &file), 0);
        const decoded_t d = decode(file);
        EXPECT_EQ(d.depth, c.depth) << c.width << "x" << c.height << ", " << c.colors;
        EXPECT_EQ(d.color_type, c.color_type) << c.colors << " colours";
        EXPECT_EQ(d.width, c.width);
        EXPECT_EQ(d.height, c.height);
        EXPECT_TRUE(d.rgb == rgb) << c.width << "x" << c.height << ", " << c.colors;

        std::vector<unsigned char> again;
        pngfile_write_rgb(rgb.data(), c.width, c.height, collect, &again);
        EXPECT_TRUE(again == file) << "the same picture gives the same bytes";
    }
}

int refuse_after(const void*, std::uint32_t, void* ctx) {
    return --*static_cast<int*>(ctx) > 0 ? 1 : 0;
}

TEST(PngfileTest, FailuresAreReported) {
    const std::vector<unsigned char> rgb = picture(4, 4, 3);
    for (int accepted : {1, 5, 12}) {
        EXPECT_EQ(pngfile_write_rgb(rgb.data(), 4, 4, refuse_after, &accepted), -1);
    }
    std::vector<unsigned char> file;
    EXPECT_EQ(pngfile_write_rgb(rgb.data(), 0, 4, collect, &file), -1);
    EXPECT_EQ(pngfile_write_rgb(nullptr, 4, 4, collect, &file), -1);
}

} // namespace
