// PNG output of the tool as a user meets it: the same pixels as the BMP of the same input.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/tool_runner.hpp"
#include "support/temp_dir.hpp"


namespace {

namespace fs = std::filesystem;

const fs::path EXAMPLES = fs::path(VIMBRA_SOURCE_DIR) / "examples";
const std::string FONT = (EXAMPLES / "fonts" / "symbols.fnt").string();

std::vector<unsigned char> read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// RGB rows top first, from a 24-bit BMP read by hand: bottom-up rows of blue, green, red,
// padded to 4 bytes.
std::vector<unsigned char> bmp_pixels(const std::vector<unsigned char>& bmp) {
    if (bmp.size() < 54) {
        return {};
    }
    const auto u32 = [&bmp](std::size_t at) {
        return bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16 | bmp[at + 3] << 24;
    };
    const int width = u32(18);
    const int height = u32(22);
    const std::size_t stride = (3 * static_cast<std::size_t>(width) + 3) / 4 * 4;
    std::vector<unsigned char> rgb;
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const std::size_t at = 54 + static_cast<std::size_t>(y) * stride + 3 * x;
            rgb.insert(rgb.end(), {bmp[at + 2], bmp[at + 1], bmp[at]});
        }
    }
    return rgb;
}

// RGB rows top first, as libpng decodes the file; empty when it refuses it.
std::vector<unsigned char> png_pixels(const fs::path& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
        return {};
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) == 0) {
        return {};
    }
    return rgb;
}

class PngCliTest : public ::testing::Test {
  protected:
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(dir_ / name) << text;
        return (dir_ / name).string();
    }
    // Runs the tool twice, to same.bmp and to `png_name`; both must succeed.
    void render_both(const std::string& profile, const std::string& png_name) {
        for (const std::string& out : {(dir_ / "same.bmp").string(), (dir_ / png_name).string()}) {
            const tool_result_t run =
                run_tool({profile, FONT, out, "Hello, world! \\x00\\x01", "Row 2 \\x7e\\x7f\\xff"});
            ASSERT_EQ(run.status, 0) << profile << " " << out << ": " << run.out;
            ASSERT_EQ(run.out.find("error"), std::string::npos) << run.out;
        }
    }

    temp_dir_t temp_{"png_cli_test"};
    fs::path dir_ = temp_.path();
};

// Every shipped profile, a script past 256 colours (truecolour) and an upper-case name.
TEST_F(PngCliTest, PngHoldsTheBmpPixels) {
    std::vector<std::string> profiles;
    for (const auto& entry : fs::directory_iterator(EXAMPLES / "profiles")) {
        profiles.push_back(entry.path().string());
    }
    const std::string script = write("many.bas", "10 dim i\n20 for i = 0 to 299\n"
                                                 "30 color i % 256, i / 256 * 90, 7\n"
                                                 "40 plot i % 200 + 10, i / 200 + 40\n50 next\n");
    profiles.push_back(write("many.prof", "SCRIPT " + script + "\n"));
    for (const std::string& profile : profiles) {
        for (const char* name : {"out.png", "OUT.PNG"}) {
            render_both(profile, name);
            const auto png = read_bytes(dir_ / name);
            ASSERT_GE(png.size(), 26U) << profile;
            EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG") << name;
            EXPECT_EQ(png[25], profile.ends_with("many.prof") ? 2 : 3) << "colour type";
            const auto expected = bmp_pixels(read_bytes(dir_ / "same.bmp"));
            EXPECT_FALSE(expected.empty());
            EXPECT_TRUE(png_pixels(dir_ / name) == expected) << profile << " " << name;
        }
    }
}

TEST_F(PngCliTest, WriteFailuresAreReportedAndLeaveTheTargetAlone) {
    // A symlink gives /dev/full the .png ending.
    const fs::path link = dir_ / "full.png";
    fs::create_symlink("/dev/full", link);
    const tool_result_t via_link = run_tool({"", "", link.string(), "x"});
    EXPECT_EQ(via_link.status, 3);
    EXPECT_NE(via_link.out.find("Output file could not be written. (" + link.string() + ")"),
              std::string::npos);

    // A file size limit of one 512-byte block makes the PNG write fail part way.
    const std::string target = write("old.png", "old picture");
    const std::string command = "trap '' XFSZ; ulimit -f 1; exec " + std::string(VIMBRACLI_PATH) +
                                " " + (EXAMPLES / "profiles" / "green-20x4.prof").string() + " " +
                                FONT + " " + target + " 'Hello, world!' > /dev/null";
    EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 3);
    EXPECT_EQ(read_bytes(target),
              (std::vector<unsigned char>{'o', 'l', 'd', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'}));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}), 2)
        << "no temporary file left";
}

} // namespace
