#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/tool_runner.hpp"
#include "support/sanitized.hpp"
#include "support/temp_dir.hpp"


namespace {

namespace fs = std::filesystem;

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override { font_ = write("empty.fnt", ""); }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(path(name), std::ios::binary) << text;
        return path(name);
    }
    std::string read(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string warnings() const {
        return "[Warning]: LCD prof reading was failed. The default prof was used. (" +
               path("none.prof") +
               ")\n[Warning]: LCD font reading was failed. The default "
               "font was used. (" +
               path("none.fnt") + ")\n";
    }

    temp_dir_t temp_{"cli_test"};
    std::string dir_ = temp_.path();
    std::string font_;
};

const std::string BANNER = "=================================================\n"
                           " Vimbra (Version 1.0.0)\n"
                           " Character LCD picture maker\n"
                           "=================================================\n"
                           "\n"
                           " vimbracli [LCD Profile] [LCD Font] [BMP Output File Name] "
                           "[Line 1] [Line 2] ...\n"
                           "\n";

TEST_F(CliTest, TooFewArgumentsPrintTheBanner) {
    for (const auto& args : {std::vector<std::string>{}, {"a", "b", "c"}}) {
        const tool_result_t r = run_tool(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, BANNER);
    }
}

TEST_F(CliTest, DefaultPictureWithWarnings) {
    const tool_result_t r =
        run_tool({path("none.prof"), path("none.fnt"), path("out.bmp"), "Hello", "\\x00\\\\"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, warnings());
    EXPECT_EQ(read("out.bmp").size(), 150134U);
    EXPECT_EQ(entries(), (std::vector<std::string>{"empty.fnt", "out.bmp"}));
}

TEST_F(CliTest, MalformedRowsWriteNothing) {
    const std::vector<std::vector<std::string>> bad_rows{
        {"\\q"}, {"ok", "\\X41"}, {"a", "b", "beyond the rows\\"}, {"\\x4"}, {"\\xG0"}};
    for (const auto& rows : bad_rows) {
        std::vector<std::string> args{path("none.prof"), path("none.fnt"), path("out.bmp")};
        args.insert(args.end(), rows.begin(), rows.end());
        const tool_result_t r = run_tool(args);
        EXPECT_EQ(r.status, 2) << rows.back();
        EXPECT_EQ(r.out, warnings() + "Illegal format string found.\n");
        EXPECT_FALSE(fs::exists(path("out.bmp")));
    }
}

TEST_F(CliTest, OutputFailuresEndWithStatus3) {
    for (const std::string& target : {path("missing/out.bmp"), std::string("/dev/full")}) {
        const tool_result_t r = run_tool({path("none.prof"), path("none.fnt"), target, "x"});
        EXPECT_EQ(r.status, 3);
        EXPECT_EQ(r.out, warnings() + "Output file could not be written. (" + target + ")\n");
    }
    EXPECT_FALSE(fs::exists(path("missing")));
}

TEST_F(CliTest, PictureToStandardOutput) {
    const std::string prof = write("p.prof", "# defaults only\n");
    const tool_result_t r = run_tool({prof, font_, "/dev/stdout", "Piped"});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.out.size(), 150134U);
    EXPECT_EQ(r.out.substr(0, 2), "BM");
}

TEST_F(CliTest, RefusedSettingsAndMissingScript) {
    const std::string bad = write("bad.prof", "PIXSIZ_X = 0\n");
    const tool_result_t refused = run_tool({bad, font_, path("out.bmp"), "x"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "Illegal setting: PIXSIZ_X = 0 (must be 1 or more).\n"
                           "Illegal configuration found.\n");
    EXPECT_FALSE(fs::exists(path("out.bmp")));

    const std::string scripted = write("s.prof", "SCRIPT " + path("nothere.bas") + "\n");
    const tool_result_t r = run_tool({scripted, font_, path("out.bmp"), "x"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Script read failed.\n");
    EXPECT_EQ(read("out.bmp").size(), 150134U);
}

TEST_F(CliTest, PixelBufferAllocationFailure) {
    if (SANITIZED) {
        GTEST_SKIP() << "the sanitizer runtime needs more address space than the cap";
    }
    // 65524 x 10895 pixels: a pixel buffer of just over 2 GB, beyond a 1 GiB address space.
    const std::string prof = write("huge.prof", "CHCNT_X 2519\nCHCNT_Y 265\n");
    const tool_result_t r = run_tool({prof, font_, path("out.bmp"), "x"}, rlim_t{1} << 30);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Memory Allocation Error.\nIllegal configuration found.\n");
    EXPECT_FALSE(fs::exists(path("out.bmp")));
}

// One 5 x 8 cell of 1-pixel dots fills the whole picture: the file is worked out by hand from
// the dot picture of 'F', lit (10, 20, 30), unlit half way to (200, 100, 50).
TEST_F(CliTest, TinyPictureBytes) {
    const std::string prof = write("tiny.prof", "CHCNT_X 1\nCHCNT_Y 1\nCHOFS_X 0\nCHOFS_Y 0\n"
                                                "PIXSIZ_X 1\nPIXSIZ_Y 1\nPIXGAP_X 0\nPIXGAP_Y 0\n"
                                                "SHADOW_DEPTH 0\nCONTRAST 50\nFGCOL.R 10\n"
                                                "FGCOL.G 20\nFGCOL.B 30\nBGCOL.R 200\n"
                                                "BGCOL.G 100\nBGCOL.B 50\n");
    const std::array<const char*, 8> rows{"#####", "#....", "#....", "####.",
                                          "#....", "#....", "#....", "....."};
    std::string expected("BM\xB6\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x05\0\0\0\x08\0\0\0\x01\0"
                         "\x18\0\0\0\0\0\x80\0\0\0",
                         38);
    expected.append(16, '\0');
    for (int y = 7; y >= 0; --y) {
        for (int x = 0; x < 5; ++x) {
            expected +=
                rows[static_cast<std::size_t>(y)][x] == '#' ? "\x1E\x14\x0A" : "\x28\x3C\x69";
        }
        expected += '\0';
    }
    const std::vector<std::vector<std::string>> row_sets{{"F"}, {"\\x46"}, {"FX"}, {"F", "beyond"}};
    for (const auto& row_set : row_sets) {
        std::vector<std::string> args{prof, font_, path("tiny.bmp")};
        args.insert(args.end(), row_set.begin(), row_set.end());
        const tool_result_t r = run_tool(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(read("tiny.bmp"), expected) << row_set.front();
    }
}

} // namespace
