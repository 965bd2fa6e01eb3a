// Screen checks as CI runs them: references written by --update, the three-panel --diff,
// --at with a mark's name, the log's module line and its backlight.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <utime.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/tool_runner.hpp"
#include "support/temp_dir.hpp"

namespace {

using bytes_t = std::vector<unsigned char>;

const std::string EXAMPLES = std::string(VIMBRA_SOURCE_DIR) + "/examples/";

struct picture_t {
    int width = 0;
    int height = 0;
    bytes_t rgb;

    std::array<int, 3> at(int x, int y) const {
        const std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                               static_cast<std::size_t>(x)) *
                              3;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
};

picture_t read_png(const std::string& path) {
    picture_t pic;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
        return pic;
    }
    image.format = PNG_FORMAT_RGB;
    pic.rgb.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, pic.rgb.data(), 0, nullptr) == 0) {
        return {};
    }
    pic.width = static_cast<int>(image.width);
    pic.height = static_cast<int>(image.height);
    return pic;
}

bool exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::int64_t mtime_of(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_mtime) : -1;
}

// VIMBRA_UPDATE for one run of the tool, whatever the caller's environment holds.
tool_io_result_t run_with_update_env(const std::vector<std::string>& args, const char* value) {
    if (value != nullptr) {
        setenv("VIMBRA_UPDATE", value, 1);
    }
    const tool_io_result_t r = run_tool_io(args);
    unsetenv("VIMBRA_UPDATE");
    return r;
}

enum class ref_state { missing, equal, changed, resized };

struct update_case_t {
    const char* name; // the reference's file name: .png or .bmp
    ref_state state;
    std::vector<std::string> options; // "--update", or none
    const char* env;                  // VIMBRA_UPDATE, or nullptr
    int status;
    const char* message; // after "REF: "; "" for none
    bool written;        // REF afterwards holds the picture
};

TEST(SnapshotCliTest, UpdateWritesMissingAndChangedReferences) {
    unsetenv("VIMBRA_UPDATE");
    const std::string missing_hint = "cannot read the reference: No such file or directory "
                                     "(--update writes it)";
    const std::vector<update_case_t> cases{
        {"ref.png", ref_state::missing, {}, nullptr, 1, missing_hint.c_str(), false},
        {"ref.png", ref_state::missing, {}, "0", 1, missing_hint.c_str(), false},
        {"ref.png", ref_state::missing, {"--update"}, nullptr, 0, "updated", true},
        {"ref.png", ref_state::missing, {}, "1", 0, "updated", true},
        {"ref.bmp", ref_state::missing, {"--update"}, nullptr, 0, "updated", true},
        {"ref.png", ref_state::changed, {}, nullptr, 4, "1 cell differs: row 1 column 2", false},
        {"ref.png", ref_state::changed, {"--update"}, nullptr, 0, "updated", true},
        {"ref.bmp", ref_state::changed, {}, "1", 0, "updated", true},
        {"ref.png",
         ref_state::resized,
         {},
         nullptr,
         4,
         "sizes differ: the picture is 446 x 112, the reference 892 x 224",
         false},
        {"ref.png", ref_state::resized, {"--update"}, nullptr, 0, "updated", true},
        {"ref.png", ref_state::equal, {"--update"}, nullptr, 0, "", true},
        {"ref.bmp", ref_state::equal, {}, "1", 0, "", true},
        {"ref.png", ref_state::equal, {}, nullptr, 0, "", true},
    };
    for (const update_case_t& c : cases) {
        temp_dir_t dir;
        const std::string ref = dir.file(c.name);
        const std::string ext = std::string(c.name).substr(3);
        const std::string expected = dir.file("expected" + ext);
        ASSERT_EQ(run_tool({"-o", expected, "Hello"}).status, 0);
        if (c.state == ref_state::equal) {
            ASSERT_EQ(run_tool({"-o", ref, "Hello"}).status, 0);
            const utimbuf old{946684800, 946684800}; // 2000-01-01
            ASSERT_EQ(utime(ref.c_str(), &old), 0);
        } else if (c.state == ref_state::changed) {
            ASSERT_EQ(run_tool({"-o", ref, "Hallo"}).status, 0);
        } else if (c.state == ref_state::resized) {
            ASSERT_EQ(run_tool({"--scale", "2", "-o", ref, "Hello"}).status, 0);
        }
        const std::string before = exists(ref) ? read_file(ref) : "";
        std::vector<std::string> args{"--compare", ref};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back("Hello");
        const tool_io_result_t r = run_with_update_env(args, c.env);
        const std::string what = std::string(c.name) + " case " + std::to_string(&c - &cases[0]);
        EXPECT_EQ(r.status, c.status) << what;
        EXPECT_EQ(r.err, c.message[0] == '\0' ? "" : ref + ": " + c.message + "\n") << what;
        EXPECT_EQ(r.out, "") << what;
        if (c.written) {
            EXPECT_EQ(read_file(ref), read_file(expected)) << what;
        } else {
            EXPECT_EQ(exists(ref) ? read_file(ref) : "", before) << what;
        }
        if (c.state == ref_state::equal) {
            EXPECT_EQ(mtime_of(ref), 946684800) << what; // left untouched
        }
    }
}

TEST(SnapshotCliTest, UpdateNeedsCompare) {
    temp_dir_t dir;
    const tool_io_result_t r = run_tool_io({"--update", "-o", dir.file("a.png"), "x"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "vimbracli: --update needs --compare\nRun 'vimbracli --help' for usage.\n");
    EXPECT_TRUE(dir.entries().empty());
}

struct panels_case_t {
    int scale;
    // The dots of cell (row 1, column 2), worked out from the default geometry: the first
    // dot 1 px left of and above CHOFS (16), a pitch of 5 x 4 + 4 + 2 = 26 px, a cell of
    // 24 x 39 px; times the scale.
    int left, top, right, bottom; // right and bottom excluded
};

TEST(SnapshotCliTest, DiffShowsReferenceMarksAndPicture) {
    unsetenv("VIMBRA_UPDATE");
    const std::vector<panels_case_t> cases{{1, 41, 15, 65, 54}, {2, 82, 30, 130, 108}};
    for (const panels_case_t& c : cases) {
        temp_dir_t dir;
        const std::string scale = std::to_string(c.scale);
        ASSERT_EQ(run_tool({"--scale", scale, "-o", dir.file("ref.png"), "Hello"}).status, 0);
        ASSERT_EQ(run_tool({"--scale", scale, "-o", dir.file("pic.png"), "Hallo"}).status, 0);
        const tool_io_result_t r = run_tool_io({"--scale", scale, "--compare", dir.file("ref.png"),
                                                "--diff", dir.file("diff.png"), "Hallo"});
        EXPECT_EQ(r.status, 4);
        EXPECT_EQ(r.err, dir.file("ref.png") + ": 1 cell differs: row 1 column 2\n");
        const picture_t ref = read_png(dir.file("ref.png"));
        const picture_t pic = read_png(dir.file("pic.png"));
        const picture_t diff = read_png(dir.file("diff.png"));
        const int w = 446 * c.scale;
        const int h = 112 * c.scale;
        ASSERT_EQ(pic.width, w);
        ASSERT_EQ(diff.width, 3 * w + 16) << "three panels, two gaps of 8 px";
        ASSERT_EQ(diff.height, h);
        int marked = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                ASSERT_EQ(diff.at(x, y), ref.at(x, y)) << "left panel " << x << "," << y;
                ASSERT_EQ(diff.at(2 * w + 16 + x, y), pic.at(x, y)) << x << "," << y;
                std::array<int, 3> want = pic.at(x, y);
                if (x >= c.left && x < c.right && y >= c.top && y < c.bottom) {
                    want = {(want[0] + 255) / 2, want[1] / 2, (want[2] + 255) / 2};
                    ++marked;
                }
                ASSERT_EQ(diff.at(w + 8 + x, y), want) << "middle panel " << x << "," << y;
            }
            for (int g = 0; g < 8; ++g) {
                const std::array<int, 3> grey{128, 128, 128};
                ASSERT_EQ(diff.at(w + g, y), grey);
                ASSERT_EQ(diff.at(2 * w + 8 + g, y), grey);
            }
        }
        EXPECT_EQ(marked, 24 * 39 * c.scale * c.scale);
    }
}

struct mark_case_t {
    std::vector<std::string> options;
    int status;
    std::string out;
    std::string err; // LOG stands for the log's path
};

TEST(SnapshotCliTest, AtTakesATimeOrAMark) {
    temp_dir_t dir;
    const std::string log = dir.write("marks.log", "init\nprint \"one\"\nmark first\nwait 1s\n"
                                                   "clear\nprint \"two\"\nmark second\nwait 1s\n"
                                                   "clear\nprint \"three\"\nmark 1s\nmark first\n");
    const std::string bare = dir.write("bare.log", "init\nprint \"one\"\n");
    const std::string status_line = "no cursor, display on, cursor off, blink off\n";
    const std::string blank(16, ' ');
    const auto screen = [&](const std::string& row) {
        return row + std::string(16 - row.size(), ' ') + "\n" + blank + "\n" + status_line;
    };
    const std::string help = "Run 'vimbracli --help' for usage.\n";
    const std::vector<mark_case_t> cases{
        {{"--at", "first"}, 0, screen("one"), ""},
        {{"--at", "second"}, 0, screen("two"), ""},
        {{"--at", "1s"}, 0, screen("two"), ""}, // a time, though a mark has that name
        {{"--at", "0.5s"}, 0, screen("one"), ""},
        {{}, 0, screen("three"), ""},
        {{"--at", "third"},
         2,
         "",
         "vimbracli: --at: no mark 'third' in LOG (its marks: first, second, 1s)\n" + help},
        {{"--at", "First"},
         2,
         "",
         "vimbracli: --at: no mark 'First' in LOG (its marks: first, second, 1s)\n" + help},
        {{"--at", "a b"},
         2,
         "",
         "vimbracli: --at: not a time or a mark name: 'a b' (e.g. 1.5s, 250ms, 40us, or a "
         "mark such as main-menu)\n" +
             help},
    };
    for (const mark_case_t& c : cases) {
        std::vector<std::string> args{"--replay", log, "--text"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const tool_io_result_t r = run_tool_io(args);
        std::string err = c.err;
        if (const std::size_t at = err.find("LOG"); at != std::string::npos) {
            err.replace(at, 3, log);
        }
        EXPECT_EQ(r.status, c.status) << args.back();
        EXPECT_EQ(r.out, c.out) << args.back();
        EXPECT_EQ(r.err, err) << args.back();
    }
    const tool_io_result_t none = run_tool_io({"--replay", bare, "--at", "x", "--text"});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err, "vimbracli: --at: no mark 'x' in " + bare + " (it has no marks)\n" + help);
    const tool_io_result_t gif =
        run_tool_io({"--replay", log, "--at", "first", "-o", dir.file("a.gif")});
    EXPECT_EQ(gif.status, 2);
    EXPECT_EQ(gif.err, "vimbracli: --at shows one moment: an animation (.gif, .apng) shows them "
                       "all\n" +
                           help);
}

struct module_case_t {
    const char* profile; // under examples/profiles, or "" for none
    const char* log;
    int width;
    int height;
    const char* warning; // "" for none
};

TEST(SnapshotCliTest, ModuleLineGivesTheGeometry) {
    // Sizes by the documented formula: 2 x 16 + C x 24 + (C - 1) x 2 across, 2 x 16 +
    // R x 39 + (R - 1) x 2 down, with the default (or the green profile's) settings.
    const std::vector<module_case_t> cases{
        {"", "module 20x4\ninit\ngoto 19 3\nprint \"x\"\n", 550, 194, ""},
        {"", "# none\ninit\n", 446, 112, ""},
        {"", "module 8x1\ninit\n", 238, 71, ""},
        {"", "module 40x4\ninit\ngoto 39 3\nprint \"x\"\n", 1070, 194, ""},
        {"default", "module 20x4\ninit\nprint \"x\"\n", 446, 112,
         "[Warning]: LOG: the log's module is 20x4, the profile's 16x2 (PROF)\n"},
        {"default", "module 16x2\ninit\n", 446, 112, ""},
    };
    for (const module_case_t& c : cases) {
        temp_dir_t dir;
        const std::string log = dir.write("a.log", c.log);
        const std::string prof = EXAMPLES + "profiles/" + c.profile + ".prof";
        std::vector<std::string> args{"--replay", log, "-o", dir.file("a.png")};
        if (c.profile[0] != '\0') {
            args.insert(args.begin(), {"-p", prof});
        }
        const tool_io_result_t r = run_tool_io(args);
        std::string warning = c.warning;
        if (!warning.empty()) {
            warning.replace(warning.find("LOG"), 3, log);
            warning.replace(warning.find("PROF"), 4, prof);
        }
        EXPECT_EQ(r.status, 0) << c.log;
        EXPECT_EQ(r.err, warning) << c.log;
        const picture_t pic = read_png(dir.file("a.png"));
        EXPECT_EQ(pic.width, c.width) << c.log;
        EXPECT_EQ(pic.height, c.height) << c.log;
    }
}

// The panel's colour at (10, 10), inside the margin: lit (255, 190, 66) by default, unlit
// (135, 115, 78) as the formats document works it out.
TEST(SnapshotCliTest, BacklightOffDimsThePanel) {
    temp_dir_t dir;
    const std::string log = dir.write("a.log", "init\nmark lit\nwait 1s\nbacklight off\n"
                                               "mark dark\nwait 1s\ni2c 0x27 0x08\n");
    const std::vector<std::pair<std::string, std::array<int, 3>>> cases{
        {"lit", {255, 190, 66}},    {"dark", {135, 115, 78}}, {"999999us", {255, 190, 66}},
        {"1500ms", {135, 115, 78}}, {"2s", {255, 190, 66}},
    };
    for (const auto& [at, colour] : cases) {
        const tool_io_result_t r =
            run_tool_io({"--replay", log, "--at", at, "-o", dir.file("a.png")});
        EXPECT_EQ(r.status, 0) << at << r.err;
        EXPECT_EQ(read_png(dir.file("a.png")).at(10, 10), colour) << at;
    }
}

} // namespace
