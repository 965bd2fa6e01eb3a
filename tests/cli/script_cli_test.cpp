// Runs the example scripts through the real tool, as a profile's SCRIPT line names them.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_dir.hpp"
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Rgb {
    int r;
    int g;
    int b;
};

bool operator==(const Rgb& a, const Rgb& b) {
    return a.r == b.r && a.g == b.g && a.b == b.b;
}

std::ostream& operator<<(std::ostream& os, const Rgb& c) {
    return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

// Colours of the default profile with blank rows: background, unlit dot.
constexpr Rgb kBackground{255, 190, 66};
constexpr Rgb kUnlit{245, 182, 63};

std::uint32_t le32(const std::vector<unsigned char>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8U |
           static_cast<std::uint32_t>(b[at + 2]) << 16U |
           static_cast<std::uint32_t>(b[at + 3]) << 24U;
}

class ScriptCliTest : public ::testing::Test {
  protected:
    void write(const std::string& name, const std::string& text) {
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
    }

    // Runs the tool on a default profile whose SCRIPT is the named example; blank rows.
    // Returns its standard output and loads the picture.
    std::string run_example(const std::string& example, const std::string& input) {
        write("lcd.prof",
              "SCRIPT " + std::string(VIMBRA_SOURCE_DIR) + "/examples/scripts/" + example + "\n");
        write("empty.fnt", "");
        write("stdin.txt", input);
        const std::string cmd = "'" + std::string(VIMBRACLI_PATH) + "' '" + dir + "/lcd.prof' '" +
                                dir + "/empty.fnt' '" + dir + "/out.bmp' '' '' < '" + dir +
                                "/stdin.txt'";
        std::string out;
        std::FILE* p = popen(cmd.c_str(), "r");
        if (p == nullptr) {
            ADD_FAILURE() << "cannot run " << cmd;
            return out;
        }
        std::array<char, 4096> chunk{};
        std::size_t n = 0;
        while ((n = std::fread(chunk.data(), 1, chunk.size(), p)) > 0) {
            out.append(chunk.data(), n);
        }
        const int status = pclose(p);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        std::ifstream bmp(dir + "/out.bmp", std::ios::binary);
        picture.assign(std::istreambuf_iterator<char>(bmp), std::istreambuf_iterator<char>());
        return out;
    }

    // Pixel (x, y) of the picture, y from the top; BMP rows run bottom-up in B, G, R order.
    Rgb pixel(int x, int y) const {
        if (picture.size() < 54) {
            return {-1, -1, -1};
        }
        const auto offset = le32(picture, 10);
        const auto width = le32(picture, 18);
        const auto height = le32(picture, 22);
        const std::size_t stride = (width * 3U + 3U) & ~3U;
        const std::size_t at = offset + (height - 1U - static_cast<std::uint32_t>(y)) * stride +
                               static_cast<std::size_t>(x) * 3U;
        if (at + 2 >= picture.size()) {
            return {-1, -1, -1};
        }
        return {picture[at + 2], picture[at + 1], picture[at]};
    }

    temp_dir_t temp_{"scriptcli"};
    std::string dir = temp_.path();
    std::vector<unsigned char> picture;
};

TEST_F(ScriptCliTest, UnderlineFramesARow) {
    EXPECT_EQ(run_example("underline.bas", ""), "framed row 0, underlined 5 cells\r\n");
    ASSERT_EQ(le32(picture, 18), 446U);
    const Rgb red{255, 0, 0};
    const Rgb blue{0, 0, 255};
    EXPECT_EQ(pixel(12, 12), red);
    EXPECT_EQ(pixel(433, 55), red);
    EXPECT_EQ(pixel(200, 12), red);
    EXPECT_EQ(pixel(13, 13), kBackground); // inside the frame, before the first dot
    EXPECT_EQ(pixel(15, 96), blue);
    EXPECT_EQ(pixel(142, 97), blue);
    EXPECT_EQ(pixel(143, 96), kBackground);
    EXPECT_EQ(pixel(15, 15), kUnlit);
}

TEST_F(ScriptCliTest, BargraphDrawsBarsInALoop) {
    EXPECT_EQ(run_example("bargraph.bas", ""), "bars: 8, total height: 178\r\n");
    const Rgb green{0, 160, 0};
    const Rgb red{220, 0, 0};
    // bar 1: x 22..61, height 16 from y 88; bar 3: x 122..161, height 32 from y 72
    EXPECT_EQ(pixel(22, 88), green);
    EXPECT_EQ(pixel(61, 104), green);
    EXPECT_EQ(pixel(22, 87), kUnlit);
    EXPECT_EQ(pixel(122, 72), red);
    EXPECT_EQ(pixel(161, 104), red);
    EXPECT_EQ(pixel(162, 72), kUnlit);
    EXPECT_EQ(pixel(16, 105), (Rgb{0, 0, 0}));
    EXPECT_EQ(pixel(430, 105), (Rgb{0, 0, 0}));
}

TEST_F(ScriptCliTest, GaugeShowsTheChargeLevel) {
    EXPECT_EQ(run_example("gauge.bas", ""), "battery 3/5\r\n");
    const Rgb white{255, 255, 255};
    const Rgb green{0, 200, 0};
    EXPECT_EQ(pixel(380, 4), white);
    EXPECT_EQ(pixel(421, 13), white);
    EXPECT_EQ(pixel(423, 8), white);       // terminal
    EXPECT_EQ(pixel(382, 6), green);       // first segment
    EXPECT_EQ(pixel(403, 11), green);      // third segment, far corner
    EXPECT_EQ(pixel(406, 8), kBackground); // no fourth segment
}

TEST_F(ScriptCliTest, InputDrawsTheValueRead) {
    EXPECT_EQ(run_example("input.bas", "42\n"), "Level (0-100): level 42%\r\n");
    const Rgb white{255, 255, 255};
    const Rgb blue{0, 120, 255};
    EXPECT_EQ(pixel(20, 97), white);
    EXPECT_EQ(pixel(425, 104), white);
    EXPECT_EQ(pixel(21, 98), blue);
    EXPECT_EQ(pixel(188, 103), blue); // 42 % of 400 px
    EXPECT_EQ(pixel(189, 103), kBackground);
}

TEST_F(ScriptCliTest, InputClampsAndSurvivesEndOfInput) {
    EXPECT_EQ(run_example("input.bas", "250\n"), "Level (0-100): level 100%\r\n");
    EXPECT_EQ(pixel(420, 103), (Rgb{0, 120, 255}));
    EXPECT_EQ(run_example("input.bas", ""), "Level (0-100): level 0%\r\n");
    EXPECT_EQ(pixel(21, 98), kBackground);
}

// A failing script is reported and the picture still holds what it drew before.
TEST_F(ScriptCliTest, FailingScriptStillWritesThePicture) {
    write("bad.bas", "10 color 0, 0, 255\n20 fillbox 0, 0, 3, 3\n30 goto 99\n40 plot 9, 9\n");
    write("lcd.prof", "SCRIPT " + dir + "/bad.bas\n");
    write("empty.fnt", "");
    const std::string cmd = "'" + std::string(VIMBRACLI_PATH) + "' '" + dir + "/lcd.prof' '" + dir +
                            "/empty.fnt' '" + dir + "/out.bmp' 'A' < /dev/null";
    std::FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    std::array<char, 256> chunk{};
    std::size_t n = 0;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), p)) > 0) {
        out.append(chunk.data(), n);
    }
    EXPECT_EQ(pclose(p), 0);
    EXPECT_EQ(out, "Script error: undefined label(Line:3)\n");
    std::ifstream bmp(dir + "/out.bmp", std::ios::binary);
    picture.assign(std::istreambuf_iterator<char>(bmp), std::istreambuf_iterator<char>());
    EXPECT_EQ(pixel(3, 3), (Rgb{0, 0, 255}));
    EXPECT_EQ(pixel(9, 9), kBackground);
    std::remove((dir + "/bad.bas").c_str());
}

} // namespace
