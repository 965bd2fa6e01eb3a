// Runs the built tool on every shipped profile and font, as a user would.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli/tool_runner.hpp"

#include "base/util.hpp"
#include "lcd/lcdfont.hpp"
#include "lcd/lcdimg.hpp"
#include "lcd/lcdprof.hpp"
#include "support/temp_dir.hpp"

using namespace vimbra;

namespace {

namespace fs = std::filesystem;

const fs::path EXAMPLES = fs::path(VIMBRA_SOURCE_DIR) / "examples";
const fs::path SYMBOLS_FONT = EXAMPLES / "fonts" / "symbols.fnt";

std::vector<unsigned char> read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t u32_at(const std::vector<unsigned char>& bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) |
           static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

class ExamplesTest : public ::testing::Test {
  protected:
    temp_dir_t temp_{"examples_test"};
    fs::path dir_ = temp_.path();
};

// Sizes worked out by hand from each profile:
//   width  = 2 frame_x + 2 chofs_x + chcnt_x (5 pixsiz_x + 4 pixgap_x) + (chcnt_x - 1) chgap_x
//   height = 2 frame_y + 2 chofs_y + chcnt_y (8 pixsiz_y + 7 pixgap_y) + (chcnt_y - 1) chgap_y
//   file   = 54 + stride * height, stride = 3 width rounded up to a multiple of 4
struct profile_case {
    const char* file;
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t file_size;
};

const std::array<profile_case, 7> PROFILES{{
    {"default.prof", 446, 112, 150134},            // 32 + 384 + 30; 32 + 78 + 2
    {"blue-16x2.prof", 454, 120, 163734},          // frame 4: 8 + 446; 8 + 112
    {"green-20x4.prof", 454, 166, 226478},         // 12 + 24 + 20*19 + 38; 12 + 24 + 4*31 + 6
    {"wide-40x2.prof", 658, 68, 134422},           // 20 + 40*14 + 78; 20 + 2*23 + 2
    {"black-on-white-8x2.prof", 293, 137, 120614}, // 40 + 8*29 + 21; 40 + 2*47 + 3
    {"oled-16x2.prof", 461, 114, 157830},          // 32 + 384 + 15*3; 32 + 78 + 4
    {"framed-deep-shadow.prof", 478, 140, 201094}, // 24 + 40 + 384 + 30; 20 + 40 + 78 + 2
}};

TEST_F(ExamplesTest, EveryShippedProfileIsCovered) {
    std::set<std::string> shipped;
    for (const auto& entry : fs::directory_iterator(EXAMPLES / "profiles")) {
        if (entry.path().extension() == ".prof") {
            shipped.insert(entry.path().filename().string());
        }
    }
    std::set<std::string> covered;
    for (const profile_case& profile : PROFILES) {
        covered.insert(profile.file);
    }
    EXPECT_EQ(shipped, covered);
}

TEST_F(ExamplesTest, EveryProfileLineIsASetting) {
    for (const profile_case& profile : PROFILES) {
        std::ifstream in(EXAMPLES / "profiles" / profile.file);
        ASSERT_TRUE(in) << profile.file;
        auto img = std::make_unique<lcdimg_t>();
        for (std::string line; std::getline(in, line);) {
            std::vector<char> text(line.begin(), line.end());
            text.push_back('\0');
            util_remove_comment(text.data());
            if (std::string(text.data()).find_first_not_of(" \t\r") == std::string::npos) {
                continue;
            }
            EXPECT_EQ(pickup_value(img.get(), text.data()), 0) << profile.file << ": " << line;
        }
    }
}

TEST_F(ExamplesTest, EveryProfileRendersAtItsSize) {
    for (const profile_case& profile : PROFILES) {
        const fs::path out = dir_ / (std::string(profile.file) + ".bmp");
        const tool_result_t run =
            run_tool({(EXAMPLES / "profiles" / profile.file).string(), SYMBOLS_FONT.string(),
                      out.string(), "Vimbra \\x00 LCD", "Temp 21.5\\x01C \\x02"});
        EXPECT_EQ(run.status, 0) << profile.file;
        EXPECT_EQ(run.out.find("[Warning]"), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("Illegal"), std::string::npos) << run.out;
        const auto bytes = read_bytes(out);
        ASSERT_GE(bytes.size(), 54U) << profile.file;
        EXPECT_EQ(bytes[0], 'B');
        EXPECT_EQ(bytes[1], 'M');
        EXPECT_EQ(u32_at(bytes, 2), profile.file_size) << profile.file;
        EXPECT_EQ(u32_at(bytes, 18), profile.width) << profile.file;
        EXPECT_EQ(u32_at(bytes, 22), profile.height) << profile.file;
        EXPECT_EQ(u32_at(bytes, 34), profile.file_size - 54) << profile.file;
        EXPECT_EQ(bytes.size(), profile.file_size) << profile.file;
    }
}

// The glyphs of symbols.fnt as designed, codes 0x00 to 0x07, 'o' lit.
const std::array<std::array<const char*, 8>, 8> SYMBOLS{{
    {".....", ".o.o.", "ooooo", "ooooo", ".ooo.", "..o..", ".....", "....."}, // heart
    {".oo..", "o..o.", "o..o.", ".oo..", ".....", ".....", ".....", "....."}, // degree
    {"..o..", ".ooo.", ".ooo.", ".ooo.", "ooooo", ".....", "..o..", "....."}, // bell
    {".ooo.", "oo.oo", "o...o", "o...o", "o...o", "o...o", "o...o", "ooooo"}, // empty
    {".ooo.", "oo.oo", "o...o", "o...o", "ooooo", "ooooo", "ooooo", "ooooo"}, // half
    {".ooo.", "ooooo", "ooooo", "ooooo", "ooooo", "ooooo", "ooooo", "ooooo"}, // full
    {"..o..", ".ooo.", "o.o.o", "..o..", "..o..", "..o..", "..o..", "....."}, // up
    {"..o..", "..o..", "..o..", "..o..", "o.o.o", ".ooo.", "..o..", "....."}, // down
}};

void collect_dot(int code, int column, int row, int on, void* ctx) {
    auto& font = *static_cast<std::vector<std::array<std::string, 8>>*>(ctx);
    std::string& dots = font.at(static_cast<std::size_t>(code)).at(static_cast<std::size_t>(row));
    dots.resize(5, '?');
    dots.at(static_cast<std::size_t>(column)) = on != 0 ? 'o' : '.';
}

TEST_F(ExamplesTest, SymbolsFontDefinesExactlyTheDesignedGlyphs) {
    std::vector<std::array<std::string, 8>> font(256);
    ASSERT_EQ(lcdfont_read(SYMBOLS_FONT.c_str(), collect_dot, &font), 0);
    for (std::size_t code = 0; code < font.size(); ++code) {
        for (std::size_t row = 0; row < 8; ++row) {
            const std::string expected = code < SYMBOLS.size() ? SYMBOLS[code][row] : "";
            EXPECT_EQ(font[code][row], expected) << "code " << code << " row " << row;
        }
    }
}

// With default.prof a cell c has its origin at (16 + 26 c, 16) and dot (j, i) covers the
// 4 x 4 block from (x0 + 5 j - 1, y0 + 5 i - 1); lit dots are (8, 8, 8), unlit ones
// (245, 182, 63).
TEST_F(ExamplesTest, SymbolGlyphsReachThePicture) {
    const fs::path out = dir_ / "symbols.bmp";
    const tool_result_t run =
        run_tool({(EXAMPLES / "profiles" / "default.prof").string(), SYMBOLS_FONT.string(),
                  out.string(), "\\x00\\x01\\x02\\x03\\x04\\x05\\x06\\x07"});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    const auto bytes = read_bytes(out);
    const std::size_t stride = 1340;
    const std::size_t height = 112;
    ASSERT_EQ(bytes.size(), 54 + stride * height);
    for (std::size_t code = 0; code < SYMBOLS.size(); ++code) {
        for (std::size_t i = 0; i < 8; ++i) {
            for (std::size_t j = 0; j < 5; ++j) {
                const std::size_t x = 16 + 26 * code + 5 * j; // inside the block, not its edge
                const std::size_t y = 16 + 5 * i;
                const std::size_t at = 54 + (height - 1 - y) * stride + 3 * x; // blue first
                const bool lit = SYMBOLS[code][i][j] == 'o';
                const std::array<int, 3> expected =
                    lit ? std::array<int, 3>{8, 8, 8} : std::array<int, 3>{63, 182, 245};
                const std::array<int, 3> actual{bytes[at], bytes[at + 1], bytes[at + 2]};
                EXPECT_EQ(actual, expected) << "code " << code << " dot " << j << "," << i;
            }
        }
    }
}

} // namespace
