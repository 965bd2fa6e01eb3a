#include "lcd/backlight.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "chip/cmdlog.hpp"
#include "chip/replay.hpp"
#include "job/job.hpp"
#include "lcd/lcdimg.hpp"
#include "lcd/rowtext.hpp"

using namespace vimbra;

namespace {

using rgb_t = std::tuple<int, int, int>;

rgb_t tuple_of(const lcdimg_rgb_t& c) {
    return {c.r, c.g, c.b};
}

struct unlit_case_t {
    lcdimg_rgb_t fg;
    lcdimg_rgb_t bg;
    rgb_t fg_off;
    rgb_t bg_off;
};

// Worked by hand: luma = (299 R + 587 G + 114 B) / 1000; a positive panel goes to
// (luma + c) * 3 / 10 with the dots kept, a negative one to c * 15 / 100 with the dots a
// fifth of the way up from it.
TEST(BacklightTest, UnlitColoursFollowThePanelKind) {
    const std::vector<unlit_case_t> cases{
        {{8, 8, 8}, {255, 190, 66}, {8, 8, 8}, {135, 115, 78}},            // amber, luma 195
        {{236, 242, 255}, {24, 72, 212}, {49, 56, 75}, {3, 10, 31}},       // blue negative
        {{0, 0, 0}, {255, 255, 255}, {0, 0, 0}, {153, 153, 153}},          // black on white
        {{255, 255, 255}, {0, 0, 0}, {51, 51, 51}, {0, 0, 0}},             // white on black
        {{100, 100, 100}, {100, 100, 100}, {100, 100, 100}, {60, 60, 60}}, // equal: positive
        {{264, 8, -248}, {-1, 190, 322}, {8, 8, 8}, {135, 115, 78}},       // low bytes as drawn
    };
    for (const unlit_case_t& c : cases) {
        lcdimg_rgb_t fg{};
        lcdimg_rgb_t bg{};
        backlight_unlit_colors(c.fg, c.bg, &fg, &bg);
        EXPECT_EQ(tuple_of(fg), c.fg_off) << c.fg.r << "," << c.bg.r;
        EXPECT_EQ(tuple_of(bg), c.bg_off) << c.fg.r << "," << c.bg.r;
    }
}

// The default image after replaying `text` to its end (or to `at_us`), rendered.
std::vector<unsigned char> replayed_picture(const std::string& text, std::int64_t at_us = -1) {
    lcdimg_t* img = nullptr;
    EXPECT_EQ(lcdimg_open_checked(nullptr, nullptr, &img, nullptr, 0), LCDIMG_OPENED);
    cmdlog_module_t module{};
    lcdimg_module_of(img, &module);
    cmdlog_t log{};
    EXPECT_EQ(cmdlog_read(text.data(), text.size(), &module, &log, nullptr, 0), 0) << text;
    replay_t replay{};
    job_replay_start(&replay, &module, img, &log);
    const std::int64_t at = at_us < 0 ? log.end_us : at_us;
    EXPECT_EQ(replay_advance(&replay, at, nullptr, 0), 0);
    EXPECT_EQ(job_replay_show(&replay, img, at), 0);
    lcdimg_render(img);
    std::vector<unsigned char> rgb(
        img->pixels, img->pixels + static_cast<std::size_t>(img->canvas_width) *
                                       static_cast<std::size_t>(img->canvas_height) * 3);
    cmdlog_free(&log);
    lcdimg_close(img);
    return rgb;
}

std::vector<unsigned char> typed_picture(const char* row) {
    lcdimg_t* img = nullptr;
    EXPECT_EQ(lcdimg_open_checked(nullptr, nullptr, &img, nullptr, 0), LCDIMG_OPENED);
    EXPECT_EQ(rowtext_place_rows(img, &row, 1), 0);
    lcdimg_render(img);
    std::vector<unsigned char> rgb(img->pixels, img->pixels + 446 * 112 * 3);
    lcdimg_close(img);
    return rgb;
}

TEST(BacklightTest, LitLogsDrawAsTypedRows) {
    const std::vector<unsigned char> typed = typed_picture("Ab");
    ASSERT_EQ(typed.size(), 446U * 112U * 3U);
    for (const std::string& log :
         {std::string("init\nprint \"Ab\""), std::string("init\nbacklight on\nprint \"Ab\""),
          std::string("init\nprint \"Ab\"\nbacklight off\nwait 1s\nbacklight on"),
          std::string("i2c 0x27 0x08 0x08\ninit\nprint \"Ab\"")}) {
        EXPECT_TRUE(replayed_picture(log) == typed) << log;
    }
}

// Every pixel away from the shadow rings takes its unlit counterpart: the default panel
// (255, 190, 66) and its unlit dots (245, 182, 63) at CONTRAST 96 become (135, 115, 78) and
// (129, 110, 75); lit dots (8, 8, 8) stay.
TEST(BacklightTest, UnlitPictureMapsEveryColour) {
    const std::map<rgb_t, rgb_t> unlit{
        {{255, 190, 66}, {135, 115, 78}}, {{245, 182, 63}, {129, 110, 75}}, {{8, 8, 8}, {8, 8, 8}}};
    const std::string text = "init\nprint \"Ab\"\nwait 1ms\nbacklight off\nwait 1ms";
    const std::vector<unsigned char> lit = replayed_picture(text, 999);
    EXPECT_TRUE(lit == typed_picture("Ab"));
    for (const std::string& log : {text, std::string("init\nprint \"Ab\"\ni2c 0x27 0x00")}) {
        const std::vector<unsigned char> off = replayed_picture(log);
        ASSERT_EQ(off.size(), lit.size());
        std::map<rgb_t, int> seen;
        for (int y = 8; y < 112 - 8; ++y) {
            for (int x = 8; x < 446 - 8; ++x) {
                const std::size_t at = (static_cast<std::size_t>(y) * 446 + x) * 3;
                const rgb_t before{lit[at], lit[at + 1], lit[at + 2]};
                const rgb_t after{off[at], off[at + 1], off[at + 2]};
                ASSERT_EQ(unlit.count(before), 1U) << x << "," << y;
                ASSERT_EQ(unlit.at(before), after) << x << "," << y;
                ++seen[before];
            }
        }
        EXPECT_EQ(seen.size(), 3U) << log; // panel, unlit and lit dots all checked
    }
}

TEST(BacklightTest, ABacklightChangeIsAMoment) {
    lcdimg_t* img = nullptr;
    ASSERT_EQ(lcdimg_open_checked(nullptr, nullptr, &img, nullptr, 0), LCDIMG_OPENED);
    cmdlog_module_t module{};
    lcdimg_module_of(img, &module);
    const std::string text = "init\nwait 1s\nbacklight off\nwait 500ms\nbacklight on\nwait 1s";
    cmdlog_t log{};
    ASSERT_EQ(cmdlog_read(text.data(), text.size(), &module, &log, nullptr, 0), 0);
    replay_t replay{};
    job_replay_start(&replay, &module, img, &log);
    ASSERT_EQ(replay_advance(&replay, 0, nullptr, 0), 0);
    EXPECT_EQ(replay_next_change(&replay, 0), 1000000);
    EXPECT_EQ(replay_next_change(&replay, 1000000), 1500000);
    EXPECT_EQ(replay_next_change(&replay, 1500000), INT64_MAX);
    EXPECT_EQ(job_replay_show(&replay, img, 1499999), 0);
    EXPECT_TRUE(img->backlight_off);
    EXPECT_EQ(job_replay_show(&replay, img, 1500000), 0);
    EXPECT_FALSE(img->backlight_off);
    cmdlog_free(&log);
    lcdimg_close(img);
}

} // namespace
