// The animation writers, GIF and APNG, on synthetic frame sequences: each file is read back by
// an independent decoder, composed frame by frame and compared with the pictures given.
#include "bmp/animframes.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bmp/apngfile.hpp"
#include "bmp/giffile.hpp"
#include "support/anim_decode.hpp"

using namespace vimbra;

namespace {

using bytes_t = std::vector<unsigned char>;

int collect(const void* data, std::uint32_t size, void* ctx) {
    auto* bytes = static_cast<bytes_t*>(ctx);
    const auto* p = static_cast<const unsigned char*>(data);
    bytes->insert(bytes->end(), p, p + size);
    return 1;
}

constexpr unsigned char BACK[3] = {0x12, 0x34, 0x56};
constexpr unsigned char INK[3] = {0xED, 0xCB, 0xA9}; // differs from BACK in every channel
constexpr const char* F_SHAPE[5] = {"###", "#..", "##.", "#..", "#.."};

// Picture `id`: an F at column id % width, one row lower for odd ids, so that two
// consecutive ids always differ. Ids from 1000 on are noise of (id - 1000) colours.
bytes_t picture(int id, int width, int height) {
    bytes_t rgb;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned char* c = BACK;
            unsigned char noise[3];
            if (id >= 1000) {
                const int colors = id - 1000;
                const int i = (x * 7919 + y * 104729 + (x * y) % 13) % colors;
                noise[0] = static_cast<unsigned char>(i);
                noise[1] = static_cast<unsigned char>(255 - i);
                noise[2] = static_cast<unsigned char>(i >> 8 | 0x40);
                c = noise;
            } else {
                const int fx = x - id % width;
                const int fy = y - id % 2;
                if (fx >= 0 && fx < 3 && fy >= 0 && fy < 5 && F_SHAPE[fy][fx] == '#') {
                    c = INK;
                }
            }
            rgb.insert(rgb.end(), c, c + 3);
        }
    }
    return rgb;
}

struct shown_t {
    int id;
    int delay; // in the format's unit
    int repeat = 1;
};

struct anim_case {
    const char* name;
    int width;
    int plays;
    std::vector<int> ids;
    std::vector<std::int64_t> durations_us;
    std::vector<shown_t> gif;  // frames expected, delays in hundredths
    int gif_plays;             // the loop field, -1 for none
    std::vector<shown_t> apng; // delays in milliseconds
};

const std::vector<anim_case> CASES = {
    {"moving F",
     7,
     0,
     {0, 1, 2, 3, 4},
     {100000, 100000, 100000, 100000, 100000},
     {{0, 10}, {1, 10}, {2, 10}, {3, 10}, {4, 10}},
     0,
     {{0, 100}, {1, 100}, {2, 100}, {3, 100}, {4, 100}}},
    {"blink phases carry",
     7,
     0,
     {0, 1, 2},
     {409600, 409600, 409600},
     {{0, 41}, {1, 41}, {2, 41}},
     0,
     {{0, 410}, {1, 409}, {2, 410}}},
    {"thirds carry",
     7,
     3,
     {0, 1, 2},
     {333333, 333333, 333333},
     {{0, 33}, {1, 34}, {2, 33}},
     2,
     {{0, 333}, {1, 334}, {2, 333}}},
    {"equal pictures merge",
     7,
     1,
     {0, 0, 1},
     {100000, 50000, 100000},
     {{0, 15}, {1, 10}},
     -1,
     {{0, 150}, {1, 100}}},
    {"too short to show",
     7,
     0,
     {0, 1, 2},
     {100000, 3000, 100000},
     {{0, 10}, {2, 10}},
     0,
     {{0, 100}, {1, 3}, {2, 100}}},
    {"first too short", 7, 0, {0, 1}, {4000, 100000}, {{1, 10}}, 0, {{0, 4}, {1, 100}}},
    {"longer than a delay holds",
     7,
     0,
     {0, 1},
     {700000000, 1000000},
     {{0, 65535}, {0, 4465}, {1, 100}},
     0,
     {{0, 65535, 10}, {0, 44650}, {1, 1000}}},
    {"still", 7, 0, {3}, {0}, {{3, 0}}, -1, {{3, 0}}},
    {"noise of 2 colours",
     61,
     0,
     {1002, 0},
     {10000, 10000},
     {{1002, 1}, {0, 1}},
     0,
     {{1002, 10}, {0, 10}}},
    {"noise of 4 colours",
     61,
     0,
     {1004, 1005},
     {10000, 10000},
     {{1004, 1}, {1005, 1}},
     0,
     {{1004, 10}, {1005, 10}}},
    {"noise of 16 colours",
     97,
     0,
     {1016, 1017},
     {10000, 10000},
     {{1016, 1}, {1017, 1}},
     0,
     {{1016, 10}, {1017, 10}}},
    {"noise of 256 colours",
     300,
     0,
     {1255, 1256},
     {10000, 10000},
     {{1255, 1}, {1256, 1}},
     0,
     {{1255, 10}, {1256, 10}}},
};

constexpr int HEIGHT = 6;

// Checks the decoded frames against the expected pictures and delays.
void expect_frames(const anim_case& c, const anim_t& a, const std::vector<shown_t>& want,
                   const char* format) {
    ASSERT_TRUE(a.ok) << c.name << " (" << format << "): " << a.error;
    const int height = c.ids[0] >= 1000 ? 41 : HEIGHT;
    EXPECT_EQ(a.width, c.width) << c.name;
    EXPECT_EQ(a.height, height) << c.name;
    std::size_t at = 0;
    for (const shown_t& s : want) {
        for (int r = 0; r < s.repeat; ++r, ++at) {
            ASSERT_LT(at, a.frames.size()) << c.name << " (" << format << ")";
            EXPECT_EQ(a.frames[at].delay, s.delay) << c.name << " (" << format << ") frame " << at;
            EXPECT_TRUE(a.frames[at].rgb == picture(s.id, c.width, height))
                << c.name << " (" << format << ") frame " << at << " differs from picture " << s.id;
        }
    }
    EXPECT_EQ(a.frames.size(), at) << c.name << " (" << format << ")";
}

TEST(AnimframesTest, GifAndApngComposeBackToThePicturesGiven) {
    for (const anim_case& c : CASES) {
        const int height = c.ids[0] >= 1000 ? 41 : HEIGHT;
        bytes_t gif_bytes;
        bytes_t apng_bytes;
        giffile_t gif{};
        apngfile_t apng{};
        ASSERT_EQ(giffile_begin(&gif, c.width, height, c.plays, collect, &gif_bytes), 0);
        ASSERT_EQ(apngfile_begin(&apng, c.width, height, c.plays, collect, &apng_bytes), 0);
        for (std::size_t i = 0; i < c.ids.size(); ++i) {
            const bytes_t rgb = picture(c.ids[i], c.width, height);
            ASSERT_EQ(giffile_add_frame(&gif, rgb.data(), c.durations_us[i]), 0);
            ASSERT_EQ(apngfile_add_frame(&apng, rgb.data(), c.durations_us[i]), 0);
        }
        ASSERT_EQ(giffile_end(&gif), 0) << c.name;
        ASSERT_EQ(apngfile_end(&apng), 0) << c.name;
        const anim_t g = decode_gif(gif_bytes);
        expect_frames(c, g, c.gif, "GIF");
        EXPECT_EQ(g.plays, c.gif_plays) << c.name;
        EXPECT_EQ(g.any_control, c.gif.size() > 1 || c.gif[0].delay > 0) << c.name;
        const anim_t p = decode_apng(apng_bytes);
        expect_frames(c, p, c.apng, "APNG");
        EXPECT_EQ(p.plays, c.plays) << c.name;
    }
}

// Every width from 1 to 7, so that rectangles touch both edges and LZW codes widen at
// every boundary of a small table.
TEST(AnimframesTest, SmallWidthsComposeExactly) {
    for (int width = 1; width <= 7; ++width) {
        bytes_t bytes;
        giffile_t gif{};
        ASSERT_EQ(giffile_begin(&gif, width, HEIGHT, 0, collect, &bytes), 0);
        for (int id = 0; id < 6; ++id) {
            ASSERT_EQ(giffile_add_frame(&gif, picture(id, width, HEIGHT).data(), 20000), 0);
        }
        ASSERT_EQ(giffile_end(&gif), 0);
        const anim_t a = decode_gif(bytes);
        ASSERT_TRUE(a.ok) << width << ": " << a.error;
        ASSERT_EQ(a.frames.size(), 6U) << width;
        for (int id = 0; id < 6; ++id) {
            EXPECT_TRUE(a.frames[static_cast<std::size_t>(id)].rgb == picture(id, width, HEIGHT))
                << "width " << width << " frame " << id;
        }
    }
}

TEST(AnimframesTest, RefusesWhatTheFormatCannotHold) {
    bytes_t bytes;
    giffile_t gif{};
    EXPECT_EQ(giffile_begin(&gif, 0, 5, 0, collect, &bytes), ANIMFRAMES_BAD_SIZE);
    EXPECT_EQ(giffile_begin(&gif, 65536, 1, 0, collect, &bytes), ANIMFRAMES_BAD_SIZE);
    ASSERT_EQ(giffile_begin(&gif, 97, 41, 0, collect, &bytes), 0);
    const bytes_t many = picture(1257, 97, 41);
    ASSERT_EQ(giffile_add_frame(&gif, many.data(), 10000), 0);
    EXPECT_EQ(giffile_end(&gif), ANIMFRAMES_TOO_MANY_COLORS);
    // APNG turns to truecolour instead.
    apngfile_t apng{};
    ASSERT_EQ(apngfile_begin(&apng, 97, 41, 0, collect, &bytes), 0);
    ASSERT_EQ(apngfile_add_frame(&apng, many.data(), 10000), 0);
    ASSERT_EQ(apngfile_end(&apng), 0);
    const anim_t a = decode_apng(bytes);
    ASSERT_TRUE(a.ok) << a.error;
    EXPECT_TRUE(a.frames[0].rgb == many);
}

} // namespace

namespace {

// Each pixel of `rgb` as a block of scale x scale.
bytes_t enlarged(const bytes_t& rgb, int width, int height, int scale) {
    bytes_t out;
    for (int y = 0; y < height * scale; ++y) {
        for (int x = 0; x < width * scale; ++x) {
            const std::size_t at =
                (static_cast<std::size_t>(y / scale) * static_cast<std::size_t>(width) +
                 static_cast<std::size_t>(x / scale)) *
                3;
            out.insert(out.end(), rgb.begin() + static_cast<std::ptrdiff_t>(at),
                       rgb.begin() + static_cast<std::ptrdiff_t>(at + 3));
        }
    }
    return out;
}

// Pictures kept at their own size and enlarged as the file is written give the very bytes
// of the same pictures enlarged before they are added, in both formats; and the frame limit
// counts the enlarged frames.
TEST(AnimframesTest, ScaledWhileWritingGivesTheSameFile) {
    constexpr int WIDTH = 5;
    for (const int scale : {1, 2, 3, 16}) {
        for (const bool gif_format : {true, false}) {
            bytes_t direct;
            bytes_t late;
            giffile_t gifs[2]{};
            apngfile_t apngs[2]{};
            const auto begin = [&](int i, int w, int h, bytes_t* out) {
                return gif_format ? giffile_begin(&gifs[i], w, h, 2, collect, out)
                                  : apngfile_begin(&apngs[i], w, h, 2, collect, out);
            };
            const auto add = [&](int i, const bytes_t& rgb, std::int64_t us) {
                return gif_format ? giffile_add_frame(&gifs[i], rgb.data(), us)
                                  : apngfile_add_frame(&apngs[i], rgb.data(), us);
            };
            const auto end = [&](int i) {
                return gif_format ? giffile_end(&gifs[i]) : apngfile_end(&apngs[i]);
            };
            ASSERT_EQ(begin(0, WIDTH * scale, HEIGHT * scale, &direct), 0);
            ASSERT_EQ(begin(1, WIDTH, HEIGHT, &late), 0);
            ASSERT_EQ(animframes_set_scale(gif_format ? &gifs[1].frames : &apngs[1].frames, scale),
                      0);
            for (const int id : {0, 1, 1, 2, 7, 3}) {
                const bytes_t small = picture(id, WIDTH, HEIGHT);
                ASSERT_EQ(add(0, enlarged(small, WIDTH, HEIGHT, scale), 30000 + id * 1000), 0);
                ASSERT_EQ(add(1, small, 30000 + id * 1000), 0);
            }
            ASSERT_EQ(end(0), 0);
            ASSERT_EQ(end(1), 0);
            EXPECT_TRUE(direct == late) << "scale " << scale << (gif_format ? " GIF" : " APNG");
        }
    }
    // 1,000 x 1,000 pixels of 3 bytes is 3 MB; at scale 16, 768 MB, and a second such frame
    // passes the limit.
    apngfile_t apng{};
    bytes_t bytes;
    ASSERT_EQ(apngfile_begin(&apng, 1000, 1000, 0, collect, &bytes), 0);
    ASSERT_EQ(animframes_set_scale(&apng.frames, 16), 0);
    EXPECT_EQ(apngfile_add_frame(&apng, bytes_t(3000000, 0x55).data(), 10000), 0);
    EXPECT_EQ(apngfile_add_frame(&apng, bytes_t(3000000, 0xAA).data(), 10000),
              ANIMFRAMES_TOO_LARGE);
    apngfile_discard(&apng);
    // A GIF side is at most 65535: 5000 at scale 16 is not.
    giffile_t gif{};
    EXPECT_EQ(giffile_begin(&gif, 5000, 1, 0, collect, &bytes), 0);
    EXPECT_EQ(animframes_set_scale(&gif.frames, 13), 0);
    EXPECT_EQ(animframes_set_scale(&gif.frames, 14), ANIMFRAMES_BAD_SIZE);
    giffile_discard(&gif);
}

} // namespace
