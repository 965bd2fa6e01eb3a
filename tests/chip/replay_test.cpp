#include "chip/replay.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "job/job.hpp"
#include "lcd/lcdimg.hpp"

using namespace vimbra;

namespace {

// An image of the profile's grid with the built-in font, a log read for it and its replay.
struct rig_t {
    lcdimg_t* img = nullptr;
    cmdlog_module_t module{};
    cmdlog_t log{};
    replay_t replay{};

    rig_t(const std::string& profile, const std::string& text) {
        char path[] = "/tmp/replay_testXXXXXX";
        const int fd = mkstemp(path);
        EXPECT_GE(fd, 0);
        const std::string body = profile + "\nPIXSIZ_X 1\nPIXSIZ_Y 1\nPIXGAP_X 0\nPIXGAP_Y 0\n";
        EXPECT_EQ(write(fd, body.data(), body.size()), static_cast<ssize_t>(body.size()));
        close(fd);
        testing::internal::CaptureStdout(); // the missing font's warning
        img = lcdimg_open(path, nullptr);
        testing::internal::GetCapturedStdout();
        unlink(path);
        EXPECT_NE(img, nullptr);
        lcdimg_module_of(img, &module);
        std::array<char, CMDLOG_MESSAGE_CAPACITY> message{};
        EXPECT_EQ(cmdlog_read(text.data(), text.size(), &module, &log, message.data(),
                              static_cast<int>(message.size())),
                  0)
            << message.data();
        job_replay_start(&replay, &module, img, &log);
    }
    ~rig_t() {
        cmdlog_free(&log);
        lcdimg_close(img);
    }
    rig_t(const rig_t&) = delete;
    rig_t& operator=(const rig_t&) = delete;

    void show(std::int64_t t) {
        ASSERT_EQ(replay_advance(&replay, t, nullptr, 0), 0);
        ASSERT_EQ(job_replay_show(&replay, img, t), 0);
    }
    std::string row(int r) const {
        return {reinterpret_cast<const char*>(img->text_grid + r * img->chcnt_x),
                static_cast<std::size_t>(img->chcnt_x)};
    }
    const unsigned char* glyph(int r, int c) const {
        return img->cell_glyphs + (r * img->chcnt_x + c) * LCDIMG_GLYPH_BYTES;
    }
};

// Eighty codes 0x30..0x7F written from address 0: in two-line mode 0x00..0x27 get 0x30..0x57
// and 0x40..0x67 get 0x58..0x7F.
std::string eighty_codes() {
    std::string text = "data";
    for (int code = 0x30; code < 0x80; ++code) {
        std::array<char, 8> word{};
        std::snprintf(word.data(), word.size(), " 0x%02X", code);
        text += word.data();
    }
    text.push_back('\n');
    return text;
}

TEST(ReplayTest, EachCellShowsItsAddress) {
    struct wiring_case_t {
        const char* profile;
        const char* before;
        std::vector<std::string> rows;
    };
    const std::string blank16(16, ' ');
    const std::vector<wiring_case_t> cases{
        {"CHCNT_X 16\nCHCNT_Y 2", "init\n", {"0123456789:;<=>?", "XYZ[\\]^_`abcdefg"}},
        {"CHCNT_X 20\nCHCNT_Y 4",
         "init\n",
         {"0123456789:;<=>?@ABC", "XYZ[\\]^_`abcdefghijk", "DEFGHIJKLMNOPQRSTUVW",
          "lmnopqrstuvwxyz{|}~\x7F"}},
        {"CHCNT_X 16\nCHCNT_Y 4",
         "init\n",
         {"0123456789:;<=>?", "XYZ[\\]^_`abcdefg", "@ABCDEFGHIJKLMNO", "hijklmnopqrstuvw"}},
        {"CHCNT_X 16\nCHCNT_Y 4\nROW_ADDRESSES 0x40 0x00 0x48",
         "init\n",
         {"XYZ[\\]^_`abcdefg", "0123456789:;<=>?", "`abcdefghijklmno", blank16}},
        {"CHCNT_X 16\nCHCNT_Y 2", "cmd 0x30 0x0C\n", {"0123456789:;<=>?", blank16}},
        {"CHCNT_X 16\nCHCNT_Y 2",
         "init\nshift left\nshift left\n",
         {"23456789:;<=>?@A", "Z[\\]^_`abcdefghi"}},
        {"CHCNT_X 16\nCHCNT_Y 2",
         "init\nshift right\n",
         {"W0123456789:;<=>", "\x7FXYZ[\\]^_`abcdef"}},
        {"CHCNT_X 30\nCHCNT_Y 2",
         "init\n",
         {"0123456789:;<=>?@ABCDEFGHIJKLM", "XYZ[\\]^_`abcdefghijklmnopqrstu"}},
        {"CHCNT_X 40\nCHCNT_Y 4",
         "init\ncontroller 2\ndata 0x41 0x42\ncontroller 1\n",
         {"0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVW",
          "XYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~\x7F", "AB" + std::string(38, ' '),
          std::string(40, ' ')}},
        {"CHCNT_X 40\nCHCNT_Y 3", // the upper half, rounded up, is the first chip's
         "init\ncontroller 2\ndata 0x41 0x42\ncontroller 1\n",
         {"0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVW",
          "XYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~\x7F", "AB" + std::string(38, ' ')}},
        {"CHCNT_X 30\nCHCNT_Y 1\nROW_ADDRESSES 0x46",
         "cmd 0x30 0x0C\n",
         {"vwxyz{|}~\x7F" + std::string(20, ' ')}},
    };
    for (const wiring_case_t& c : cases) {
        rig_t rig(c.profile, std::string(c.before) + eighty_codes());
        rig.show(0);
        for (std::size_t r = 0; r < c.rows.size(); ++r) {
            EXPECT_EQ(rig.row(static_cast<int>(r)), c.rows[r]) << c.profile << " / " << c.before;
        }
    }
}

// The cursor's cell at chosen moments: blink starts with all dots, the underline shows in the
// other phase, nothing while the display is off or the counter is in CGRAM.
TEST(ReplayTest, CursorAndBlink) {
    rig_t rig("CHCNT_X 16\nCHCNT_Y 2",
              "init\nprint \"AB\"\ncursor on\nblink on\nwait 2s\ndisplay off\nwait 1s\n"
              "display on\nwait 1s\ncmd 0x40\n");
    struct moment_t {
        std::int64_t t;
        unsigned char cursor_column; // every column byte of cell (0, 2)
        std::int64_t next;
    };
    const std::vector<moment_t> moments{
        {0, 0xFF, 409600},        {409599, 0xFF, 409600},     {409600, 0x80, 819200},
        {819200, 0xFF, 1228800},  {2000000, 0x00, 3000000},   {3000000, 0x80, 3276800},
        {3276800, 0xFF, 3686400}, {4000000, 0x00, INT64_MAX},
    };
    for (const moment_t& m : moments) {
        rig.show(m.t);
        for (int j = 0; j < LCDIMG_GLYPH_BYTES; ++j) {
            EXPECT_EQ(rig.glyph(0, 2)[j], m.cursor_column) << m.t;
        }
        const bool lit = m.t < 2000000 || m.t >= 3000000;
        EXPECT_EQ(rig.row(0), lit ? "AB              " : "                ") << m.t;
        EXPECT_EQ(std::memcmp(rig.glyph(0, 0), &rig.img->font['A' * LCDIMG_GLYPH_BYTES], 5) == 0,
                  lit)
            << m.t;
        EXPECT_EQ(replay_next_change(&rig.replay, m.t), m.next) << m.t;
    }
}

// Each chip of a 40 x 4 module has its own cursor, and a cell's CGRAM glyph is its own chip's.
TEST(ReplayTest, TwoControllers) {
    rig_t rig("CHCNT_X 40\nCHCNT_Y 4",
              "init\ncmd 0x40\ndata 0x10 0x10\ncmd 0x80\ndata 0x08\n"
              "controller 2\ncmd 0x48\ndata 0x01\ncmd 0x4F\ndata 0x10\ncmd 0xC4\ndata 0x09\n"
              "goto 3 3\ncursor on\n");
    rig.show(0);
    replay_status_t status{};
    replay_status(&rig.replay, &status);
    EXPECT_EQ(status.cursor_row, 3);
    EXPECT_EQ(status.cursor_column, 3);
    EXPECT_TRUE(status.cursor_on);
    EXPECT_FALSE(status.blink_on);
    EXPECT_EQ(rig.row(0)[0], '\x08');
    EXPECT_EQ(rig.row(3).substr(3, 2), " \x09");
    using glyph_t = std::array<unsigned char, 5>;
    const std::vector<std::pair<std::pair<int, int>, glyph_t>> cells{
        {{0, 0}, {0x03, 0, 0, 0, 0}},             // glyph 0 of chip 0: two dots top left
        {{3, 4}, {0x80, 0, 0, 0, 0x01}},          // glyph 1 of chip 1: top right, bottom left
        {{3, 3}, {0x80, 0x80, 0x80, 0x80, 0x80}}, // chip 1's cursor
        {{0, 1}, {0, 0, 0, 0, 0}},                // chip 0's counter, no cursor there
    };
    for (const auto& [cell, expected] : cells) {
        EXPECT_EQ(std::memcmp(rig.glyph(cell.first, cell.second), expected.data(), 5), 0)
            << cell.first << "," << cell.second;
    }
}

TEST(ReplayTest, TallFontIsRefused) {
    rig_t rig("CHCNT_X 16\nCHCNT_Y 1", "cmd 0x3C\nwait 1ms\ncmd 0x01\ncmd 0x34\n");
    std::array<char, CMDLOG_MESSAGE_CAPACITY> message{};
    EXPECT_EQ(replay_advance(&rig.replay, 999, message.data(), static_cast<int>(message.size())),
              0);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(
            replay_advance(&rig.replay, 5000, message.data(), static_cast<int>(message.size())),
            -1);
        EXPECT_STREQ(message.data(), "line 4: 5 x 10 dots (function set 0x34) are not supported: "
                                     "the picture has 5 x 8 cells.");
    }
}

// CGRAM starts from the font's glyphs 0 to 7, all eight rows of them.
TEST(ReplayTest, CgramStartsFromTheFont) {
    rig_t rig("CHCNT_X 16\nCHCNT_Y 2", "init\ndata 0x09 0x01 0x0E\n");
    const std::array<unsigned char, 5> glyph{0x01, 0x02, 0x04, 0x08, 0x90};
    std::memcpy(&rig.img->font[1 * LCDIMG_GLYPH_BYTES], glyph.data(), glyph.size());
    job_replay_start(&rig.replay, &rig.module, rig.img, &rig.log);
    rig.show(0);
    EXPECT_EQ(std::memcmp(rig.glyph(0, 0), glyph.data(), 5), 0);
    EXPECT_EQ(std::memcmp(rig.glyph(0, 1), glyph.data(), 5), 0);
    EXPECT_EQ(rig.replay.chips[0].cgram[8 + 7], 0x01); // row 7: only the rightmost dot
    EXPECT_EQ(rig.replay.chips[0].cgram[8 + 4], 0x01); // column 4 holds rows 4 and 7
    EXPECT_EQ(rig.replay.chips[0].cgram[8 + 5], 0x00);
    EXPECT_EQ(rig.replay.chips[0].cgram[8 + 0], 0x10); // row 0: only the leftmost dot
}

// A cell drawn from its own glyph paints exactly what the font path paints for that glyph.
TEST(ReplayTest, CellGlyphsPaintLikeTheFont) {
    rig_t rig("CHCNT_X 2\nCHCNT_Y 1", "");
    rig.img->text_grid[0] = 'F';
    rig.img->text_grid[1] = '7';
    lcdimg_paint(rig.img);
    const std::vector<unsigned char> by_font(
        rig.img->pixels, rig.img->pixels + rig.img->canvas_width * rig.img->canvas_height * 3);
    ASSERT_EQ(lcdimg_use_cell_glyphs(rig.img), 0);
    std::memcpy(rig.img->cell_glyphs, &rig.img->font['F' * LCDIMG_GLYPH_BYTES], 5);
    std::memcpy(rig.img->cell_glyphs + 5, &rig.img->font['7' * LCDIMG_GLYPH_BYTES], 5);
    rig.img->text_grid[0] = ' ';
    rig.img->text_grid[1] = ' ';
    lcdimg_paint(rig.img);
    EXPECT_EQ(std::memcmp(by_font.data(), rig.img->pixels, by_font.size()), 0);
}

} // namespace
