// The animation of a replayed log, read back by giflib and by the APNG reader: every frame,
// composed, equals the still of its moment, and the frame times add up to the log's end plus
// the hold.
#include "lcd/animate.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "lcd/charset.hpp"
#include "lcd/cmdlog.hpp"
#include "lcd/lcdimg.hpp"
#include "lcd/replay.hpp"
#include "support/anim_decode.hpp"

namespace {

using bytes_t = std::vector<unsigned char>;

int collect(const void* data, std::uint32_t size, void* ctx) {
    auto* bytes = static_cast<bytes_t*>(ctx);
    bytes->insert(bytes->end(), static_cast<const unsigned char*>(data),
                  static_cast<const unsigned char*>(data) + size);
    return 1;
}

// An image of the built-in settings showing the log's A00 glyphs, and the log read for it.
struct scene_t {
    lcdimg_t* img = nullptr;
    cmdlog_module_t module{};
    cmdlog_t log{};
    std::string message;

    explicit scene_t(const std::string& text) {
        std::array<char, 256> line{};
        if (lcdimg_open_checked(nullptr, nullptr, &img, line.data(), 256) != 0 ||
            lcdimg_use_charset(img, charset_find("A00"), nullptr) != 0) {
            message = "cannot open the image";
            return;
        }
        cmdlog_module_of(img, &module);
        std::array<char, CMDLOG_MESSAGE_CAPACITY> why{};
        if (cmdlog_read(text.data(), text.size(), &module, &log, why.data(), 512) != 0) {
            message = why.data();
        }
    }
    ~scene_t() {
        cmdlog_free(&log);
        lcdimg_close(img);
    }
    scene_t(const scene_t&) = delete;
    scene_t& operator=(const scene_t&) = delete;

    // The still at `t`, drawn as the tool draws one.
    bytes_t still(std::int64_t t) {
        replay_t replay{};
        replay_start(&replay, &module, img, &log);
        std::array<char, 256> why{};
        replay_advance(&replay, t, why.data(), 256);
        replay_show(&replay, img, t);
        lcdimg_render(img);
        return bytes_t(img->pixels, img->pixels + static_cast<std::size_t>(img->canvas_width) *
                                                      static_cast<std::size_t>(img->canvas_height) *
                                                      3);
    }

    int write(animate_format_t format, std::int64_t hold_us, bytes_t* out, std::string* why) {
        animate_options_t options{format, hold_us, 0, nullptr, nullptr};
        std::array<char, ANIMATE_MESSAGE_CAPACITY> line{};
        const int status = animate_write(img, &module, &log, &options, collect, out, line.data(),
                                         static_cast<int>(line.size()));
        *why = line.data();
        return status;
    }
};

struct log_case {
    const char* name;
    const char* text;
    std::int64_t hold_us;
    std::size_t gif_frames; // worked out from the events and the blink phases
};

// Blink edges fall every 409.6 ms from time 0, in the hold too.
const log_case LOG_CASES[] = {
    {"text appears in steps", "init\nprint \"Hi\"\nwait 250ms\nprint \"!\"\nwait 1s\n", 0, 2},
    {"blinking cursor, held", "init\nblink on\nwait 500ms\nprint \"A\"\nwait 300ms\n", 1000000, 6},
    {"marquee",
     "init\nprint \"Marquee text\"\nwait 100ms\nshift left\nwait 100ms\nshift left\n"
     "wait 100ms\nshift right\nwait 100ms\n",
     0, 4},
    {"display off and custom glyph",
     "init\ndefine 1\no...o\n.o.o.\n..o..\n.o.o.\no...o\n.....\nooooo\n.....\ngoto 3 1\n"
     "print \"\\x01\"\nwait 120ms\ndisplay off\nwait 30ms\ndisplay on\nwait 50ms\n",
     20000, 3},
    {"nothing but waiting", "wait 2s\n", 500000, 1},
};

TEST(AnimateTest, EveryFrameIsTheStillOfItsMoment) {
    for (const log_case& c : LOG_CASES) {
        for (animate_format_t format : {ANIMATE_GIF, ANIMATE_APNG}) {
            scene_t scene(c.text);
            ASSERT_EQ(scene.message, "") << c.name;
            bytes_t bytes;
            std::string why;
            ASSERT_EQ(scene.write(format, c.hold_us, &bytes, &why), ANIMATE_OK) << c.name << why;
            const bool gif = format == ANIMATE_GIF;
            const anim_t a = gif ? decode_gif(bytes) : decode_apng(bytes);
            ASSERT_TRUE(a.ok) << c.name << ": " << a.error;
            if (gif) {
                EXPECT_EQ(a.frames.size(), c.gif_frames) << c.name;
            }
            const std::int64_t unit = gif ? 10000 : 1000;
            std::int64_t start = 0; // in units
            for (std::size_t i = 0; i < a.frames.size(); ++i) {
                // Frame boundaries are rounded to the unit: half a unit in, the moment is
                // inside the frame's exact span.
                const std::int64_t t = start * unit + unit / 2;
                EXPECT_TRUE(a.frames[i].rgb == scene.still(t))
                    << c.name << (gif ? " GIF" : " APNG") << " frame " << i << " at " << t;
                start += a.frames[i].delay;
            }
            const std::int64_t total = scene.log.end_us + c.hold_us;
            EXPECT_EQ(start, (total + unit / 2) / unit) << c.name;
        }
    }
}

TEST(AnimateTest, RefusesWhatWouldTakeTooLong) {
    struct refusal {
        std::string text;
        std::int64_t hold_us;
        const char* message;
    };
    std::string busy = "init\n";
    for (int i = 0; i <= 50000; ++i) {
        busy += "shift left\nwait 1ms\n";
    }
    const refusal cases[] = {
        {"init\nwait 3599s\n", 2000000,
         "The animation would last 3601.000 s, longer than the 3600 s it may."},
        {busy, 0, "The log changes the display more than 50000 times, too often for an animation."},
    };
    for (const refusal& r : cases) {
        scene_t scene(r.text);
        bytes_t bytes;
        std::string why;
        EXPECT_EQ(scene.write(ANIMATE_GIF, r.hold_us, &bytes, &why), ANIMATE_REFUSED) << r.message;
        EXPECT_EQ(why, r.message);
        EXPECT_TRUE(bytes.empty());
    }
}

} // namespace
