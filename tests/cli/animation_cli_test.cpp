// Animations as a user makes them: the tool's GIF and APNG of a log, read back by giflib and
// the APNG reader, frame by frame against the tool's own still of that moment (--at).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cli/tool_runner.hpp"
#include "support/anim_decode.hpp"
#include "support/temp_dir.hpp"


namespace {

using bytes_t = std::vector<unsigned char>;

const std::string EXAMPLES = std::string(VIMBRA_SOURCE_DIR) + "/examples/";

bytes_t bytes_of(const std::string& path) {
    const std::string text = read_file(path);
    return bytes_t(text.begin(), text.end());
}

// A PNG still, as RGB, read by libpng.
bytes_t png_pixels(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
        return {};
    }
    image.format = PNG_FORMAT_RGB;
    bytes_t rgb(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) == 0) {
        return {};
    }
    return rgb;
}

struct anim_case {
    const char* profile; // under examples/profiles
    const char* log;     // under examples/logs, or a log text of its own when it has lines
    const char* output;
    std::vector<std::string> options; // --scale, when given, applies to the stills too
    std::int64_t total;               // the log's end plus the hold, in the format's unit, by hand
    int plays;                        // as the file says it: GIF's repeats, APNG's plays
};

const anim_case CASES[] = {
    // 1 s, 40 shifts of 200 ms, the default hold of 1 s.
    {"default", "marquee.log", "marquee.gif", {}, 1000, 0},
    // 80 steps of 50 ms and 1 s, then a hold of 250 ms, in milliseconds.
    {"blue-16x2", "progress.log", "progress.apng", {"--hold", "250ms"}, 5250, 0},
    // 800 ms, three of 700 ms, 2 s with the cursor blinking on into the hold.
    {"green-20x4",
     "menu.log",
     "menu.gif",
     {"--hold", "1.5s", "--loop", "3", "--scale", "2"},
     640,
     2},
    // Text 9.6 ms before a blink edge, then 300 ms and the default hold.
    {"default",
     "init\nblink on\nwait 400ms\nprint \"ab\"\nwait 300ms\n",
     "blink.apng",
     {"--loop", "1"},
     1700,
     1},
};

TEST(AnimationCliTest, EveryFrameIsTheStillAtItsTime) {
    for (const anim_case& c : CASES) {
        temp_dir_t dir;
        const std::string log = std::string(c.log).find('\n') != std::string::npos
                                    ? dir.write("own.log", c.log)
                                    : EXAMPLES + "logs/" + c.log;
        const std::vector<std::string> base = {"-p", EXAMPLES + "profiles/" + c.profile + ".prof",
                                               "--replay", log};
        std::vector<std::string> args = base;
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {"-o", dir.file(c.output)});
        const tool_result_t made = run_tool(args);
        ASSERT_EQ(made.status, 0) << c.output << ": " << made.out;
        const bool gif = std::string(c.output).ends_with(".gif");
        const anim_t a = gif ? decode_gif(bytes_of(dir.file(c.output)))
                             : decode_apng(bytes_of(dir.file(c.output)));
        ASSERT_TRUE(a.ok) << c.output << ": " << a.error;
        EXPECT_GT(a.frames.size(), 2U) << c.output;
        EXPECT_EQ(a.plays, c.plays) << c.output;
        const std::int64_t unit_us = gif ? 10000 : 1000;
        std::int64_t start = 0;
        for (std::size_t i = 0; i < a.frames.size(); ++i) {
            // Half a unit into the frame: its rounded start is within half a unit of the
            // exact one.
            const std::int64_t t = start * unit_us + unit_us / 2;
            std::vector<std::string> still = base;
            for (std::size_t k = 0; k + 1 < c.options.size(); ++k) {
                if (c.options[k] == "--scale") {
                    still.insert(still.end(), {"--scale", c.options[k + 1]});
                }
            }
            still.insert(still.end(),
                         {"--at", std::to_string(t) + "us", "-o", dir.file("still.png")});
            ASSERT_EQ(run_tool(still).status, 0);
            EXPECT_TRUE(a.frames[i].rgb == png_pixels(dir.file("still.png")))
                << c.output << " frame " << i << " at " << t << " us";
            start += a.frames[i].delay;
        }
        EXPECT_EQ(start, c.total) << c.output;
    }
}

TEST(AnimationCliTest, RowsMakeOneStillFrame) {
    temp_dir_t dir;
    ASSERT_EQ(run_tool({"-o", dir.file("rows.gif"), "Hello", "GIF \\x7E"}).status, 0);
    ASSERT_EQ(run_tool({"-o", dir.file("rows.png"), "Hello", "GIF \\x7E"}).status, 0);
    const anim_t a = decode_gif(bytes_of(dir.file("rows.gif")));
    ASSERT_TRUE(a.ok) << a.error;
    ASSERT_EQ(a.frames.size(), 1U);
    EXPECT_TRUE(a.frames[0].rgb == png_pixels(dir.file("rows.png")));
    EXPECT_FALSE(a.any_control);
    EXPECT_EQ(a.plays, -1);
}

TEST(AnimationCliTest, RefusalsSayWhyAndWriteNothing) {
    struct refusal {
        std::vector<std::string> args; // OUT.* is a file in a fresh folder
        int status;
        std::string message; // the first line on standard error; empty: CLI11's own
    };
    temp_dir_t logs;
    std::string busy = "init\n"; // 50001 moments, 1 ms apart
    for (int i = 0; i <= 50000; ++i) {
        busy += "shift left\nwait 1ms\n";
    }
    const std::string busy_log = logs.write("busy.log", busy);
    const std::string marquee = EXAMPLES + "logs/marquee.log";
    const refusal cases[] = {
        {{"--replay", marquee, "--hold", "2", "-o", "OUT.gif"},
         2,
         "vimbracli: --hold: not a time: '2' (e.g. 2s, 500ms)"},
        {{"--replay", marquee, "--at", "1s", "-o", "OUT.apng"},
         2,
         "vimbracli: --at shows one moment: an animation (.gif, .apng) shows them all"},
        {{"--replay", marquee, "--loop", "2", "-o", "OUT.png"},
         2,
         "vimbracli: --loop needs --replay and a .gif or .apng output"},
        {{"--hold", "1s", "-o", "OUT.gif", "Hi"},
         2,
         "vimbracli: --hold needs --replay and a .gif or .apng output"},
        {{"--replay", marquee, "--loop", "65537", "-o", "OUT.gif"}, 2, ""},
        {{"--replay", marquee, "--hold", "3595s", "-o", "OUT.gif"},
         3,
         "OUT.gif: The animation would last 3604.000 s, longer than the 3600 s it may."},
        {{"--replay", busy_log, "-o", "OUT.apng"},
         3,
         "OUT.apng: The log changes the display more than 50000 times, too often for an "
         "animation."},
    };
    for (const refusal& r : cases) {
        temp_dir_t dir;
        std::vector<std::string> args;
        for (const std::string& a : r.args) {
            args.push_back(a.starts_with("OUT.") ? dir.file(a) : a);
        }
        const tool_io_result_t result = run_tool_io(args);
        EXPECT_EQ(result.status, r.status) << r.message;
        std::string first = result.err.substr(0, result.err.find('\n'));
        if (first.starts_with(dir.file(""))) {
            first.erase(0, dir.file("").size());
        }
        if (!r.message.empty()) {
            EXPECT_EQ(first, r.message);
        }
        EXPECT_TRUE(dir.entries().empty()) << r.message;
    }
}

} // namespace
