// Reference PNG files built chunk by chunk, so that each case holds exactly what it tests:
// sample depths, colour types, transparency, and chunks the reader must skip unread.
#include "job/refpic.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/png_build.hpp"
#include "support/temp_dir.hpp"

using namespace vimbra;

namespace {

using namespace png_build;

struct read_case_t {
    const char* what;
    bytes_t file;
    int width;
    int height;
    int status;
    bytes_t rgb;     // on REFPIC_OK
    bytes_t message; // on REFPIC_REFUSED
};

TEST(RefpicTest, SamplesAreReadAsStored) {
    const bytes_t gama_1 = chunk("gAMA", b({0x00, 0x01, 0x86, 0xA0})); // 1.0
    const bytes_t chrm = chunk("cHRM", bytes_t(32, '\x01'));
    const std::vector<read_case_t> cases{
        {"8-bit RGB", png(2, 8, 2, {b({10, 20, 30, 200, 100, 0})}), 2, 1, REFPIC_OK,
         b({10, 20, 30, 200, 100, 0}), ""},
        {"gamma 1.0 and primaries change nothing",
         png(2, 8, 2, {b({10, 20, 30, 200, 100, 0})}, gama_1 + chrm), 2, 1, REFPIC_OK,
         b({10, 20, 30, 200, 100, 0}), ""},
        {"sRGB and a colour profile change nothing",
         png(1, 8, 2, {b({1, 128, 254})},
             chunk("sRGB", b({0})) + chunk("gAMA", b({0, 0, 0xB1, 0x8F}))),
         1, 1, REFPIC_OK, b({1, 128, 254}), ""},
        // 257 * k is k; between, the nearest: 25828 is 100.498, 25829 is 100.502.
        {"16-bit samples scale exactly",
         png(2, 16, 2,
             {b({0x00, 0x00, 0xFF, 0xFF, 0x64, 0x64, 0x64, 0xE4, 0x64, 0xE5, 0x01, 0x01})}),
         2, 1, REFPIC_OK, b({0, 255, 100, 100, 101, 1}), ""},
        {"16-bit grey", png(1, 16, 0, {b({0x32, 0x32})}), 1, 1, REFPIC_OK, b({50, 50, 50}), ""},
        {"1-bit grey", png(3, 1, 0, {b({0xA0})}), 3, 1, REFPIC_OK,
         b({255, 255, 255, 0, 0, 0, 255, 255, 255}), ""},
        {"palette with transparency over black",
         png(2, 8, 3, {b({0, 1})},
             chunk("PLTE", b({9, 8, 7, 40, 50, 60})) + chunk("tRNS", b({0, 255}))),
         2, 1, REFPIC_OK, b({0, 0, 0, 40, 50, 60}), ""},
        // 200 * 128 / 255 = 100.39
        {"grey and alpha over black", png(1, 8, 4, {b({200, 128})}), 1, 1, REFPIC_OK,
         b({100, 100, 100}), ""},
        {"more than 16 MB of text before the image data",
         png(1, 8, 2, {b({7, 8, 9})},
             chunk("tEXt", "a" + bytes_t(1, '\0') + bytes_t(6 << 20, 'x')) +
                 chunk("tEXt", "b" + bytes_t(1, '\0') + bytes_t(6 << 20, 'y')) +
                 chunk("iTXt", "c" + bytes_t(5, '\0') + bytes_t(6 << 20, 'z'))),
         1, 1, REFPIC_OK, b({7, 8, 9}), ""},
        {"compressed text that inflates past memory is never inflated",
         png(1, 8, 2, {b({1, 2, 3})}, ztxt(7900000) + ztxt(7900000)), 1, 1, REFPIC_OK, b({1, 2, 3}),
         ""},
        {"another size is not decoded", png(2, 8, 2, {b({1, 2, 3, 4, 5, 6})}), 3, 1, REFPIC_OK, "",
         ""},
        {"cut short", png(1, 8, 2, {b({1, 2, 3})}).substr(0, 40), 1, 1, REFPIC_REFUSED, "",
         "bad PNG file: read beyond end of data"},
        // Adam7: (0,0) in pass 1, (1,0) in pass 6, row 1 in pass 7.
        {"interlaced", png_raw(2, 2, 8, 2, true, b({0, 1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 10, 11, 12})),
         2, 2, REFPIC_OK, b({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}), ""},
        {"interlaced, cut in a pass", png_raw(2, 2, 8, 2, true, b({0, 1, 2, 3, 0, 4, 5, 6})), 2,
         2, REFPIC_REFUSED, "", "bad PNG file: Not enough image data"},
        {"rows missing", png_raw(1, 2, 8, 2, false, b({0, 1, 2, 3})), 1, 2, REFPIC_REFUSED, "",
         "bad PNG file: Not enough image data"},
    };
    for (const read_case_t& c : cases) {
        const temp_dir_t dir;
        const std::string path = dir.write("ref.png", c.file);
        refpic_t pic{};
        char message[REFPIC_MESSAGE_CAPACITY] = "";
        ASSERT_EQ(
            refpic_read(path.c_str(), c.width, c.height, &pic, message, REFPIC_MESSAGE_CAPACITY),
            c.status)
            << c.what << ": " << message;
        if (c.status == REFPIC_OK && !c.rgb.empty()) {
            ASSERT_NE(pic.rgb, nullptr) << c.what;
            EXPECT_EQ(bytes_t(reinterpret_cast<const char*>(pic.rgb), c.rgb.size()), c.rgb)
                << c.what;
        }
        if (c.status == REFPIC_OK && c.rgb.empty()) {
            EXPECT_EQ(pic.rgb, nullptr) << c.what;
            EXPECT_EQ(pic.width, 2) << c.what;
        }
        if (c.status == REFPIC_REFUSED) {
            EXPECT_STREQ(message, c.message.c_str()) << c.what;
        }
        refpic_free(&pic);
    }
}

} // namespace

namespace {

// Image data that goes on past the rows (here 64 MB of zeros behind one row) is never
// inflated: reading stops with the last row, long before the end of the file.
TEST(RefpicTest, ImageDataPastTheLastRowIsNotRead) {
    static const bytes_t file =
        png_raw(1, 1, 8, 2, false, b({0, 7, 8, 9}) + bytes_t(64 << 20, '\0'));
    static std::size_t at = 0;
    const auto read = [](unsigned char* data, std::size_t size, void*) {
        const std::size_t n = std::min(size, file.size() - at);
        std::memcpy(data, file.data() + at, n);
        at += n;
        return n;
    };
    refpic_t pic{};
    char message[REFPIC_MESSAGE_CAPACITY] = "";
    ASSERT_EQ(refpic_read_png(read, nullptr, 1, 1, &pic, message, REFPIC_MESSAGE_CAPACITY),
              REFPIC_OK)
        << message;
    EXPECT_EQ(bytes_t(reinterpret_cast<const char*>(pic.rgb), 3), b({7, 8, 9}));
    EXPECT_LT(at, 20000u) << "of " << file.size() << " bytes";
    refpic_free(&pic);
}

} // namespace
