// Black-box checks of decisions that a comparison with an independent model of the
// picture side brought up.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/tool_runner.hpp"
#include "support/temp_dir.hpp"


namespace {

namespace fs = std::filesystem;

class ConformanceTest : public ::testing::Test {
  protected:
    void SetUp() override { fs::create_directory(path("a_directory")); }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(path(name), std::ios::binary) << text;
        return path(name);
    }
    std::string read(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    temp_dir_t temp_{"conformance_test"};
    std::string dir_ = temp_.path();
};

// Default picture: 446 x 112, rows of 1340 bytes stored bottom-up after 54 header bytes.
// Returns blue, green, red of pixel (x, y).
std::array<int, 3> default_pixel(const std::string& bmp, int x, int y) {
    const std::size_t at =
        54 + static_cast<std::size_t>(111 - y) * 1340 + static_cast<std::size_t>(x) * 3;
    if (bmp.size() != 150134 || at + 3 > bmp.size()) {
        return {-1, -1, -1};
    }
    return {static_cast<unsigned char>(bmp[at]), static_cast<unsigned char>(bmp[at + 1]),
            static_cast<unsigned char>(bmp[at + 2])};
}

// Header values are read as sscanf's "0x%02x" reads them: a sign may take one of the two
// digit places, so "0x+1" selects code 1 just as "0x01" does. The top dot row of the
// addressed cell is then lit, (8, 8, 8); a line that is no header leaves it unlit.
TEST_F(ConformanceTest, HeaderValueIsReadAsScanfReadsIt) {
    struct header_case_t {
        const char* header;
        const char* row;
        std::array<int, 3> top_row; // blue, green, red
    };
    const std::array<int, 3> lit{8, 8, 8};
    const std::array<int, 3> unlit{63, 182, 245};
    const std::vector<header_case_t> cases{
        {"CODE 0x01\n", "\\x01", lit},   {"CODE 0x+1\n", "\\x01", lit},
        {"CODE 0x-0\n", "\\x00", lit},   {"CODE=0x+f\n", "\\x0f", lit},
        {"CODE 0X01\n", "\\x01", unlit}, {"CODE 0x-1\n", "\\xff", unlit}};
    for (const header_case_t& c : cases) {
        const std::string font = write("signed.fnt", std::string(c.header) + "ooooo\n");
        const std::string profile = write("empty.prof", "");
        const tool_result_t r = run_tool({profile, font, path("out.bmp"), c.row});
        EXPECT_EQ(r.status, 0) << c.header;
        EXPECT_EQ(r.out, "") << c.header;
        const std::string bmp = read("out.bmp");
        for (int dot = 0; dot < 5; ++dot) {
            // dot column j of cell 0 starts at x = 16 + 5j - 1; dot row 0 at y = 15
            EXPECT_EQ(default_pixel(bmp, 15 + 5 * dot, 15), c.top_row)
                << c.header << " dot " << dot;
        }
    }
}

// A folder opens for reading on Linux but cannot be read: as a profile or font it gets
// the warning and the defaults, as a script "Script read failed."; the picture is written.
TEST_F(ConformanceTest, FolderAsProfileFontOrScriptIsUnreadable) {
    const std::string empty = write("empty.txt", "");
    const std::string folder = path("a_directory");
    const std::string script_profile = write("script.prof", "SCRIPT " + folder + "\n");
    struct folder_case_t {
        std::string profile;
        std::string font;
        std::string out;
    };
    const std::vector<folder_case_t> cases{
        {folder, empty,
         "[Warning]: LCD prof reading was failed. The default prof was used. (" + folder + ")\n"},
        {empty, folder,
         "[Warning]: LCD font reading was failed. The default font was used. (" + folder + ")\n"},
        {script_profile, empty, "Script read failed.\n"}};
    for (const folder_case_t& c : cases) {
        const tool_result_t r = run_tool({c.profile, c.font, path("out.bmp"), "A"});
        EXPECT_EQ(r.status, 0) << c.profile << " " << c.font;
        EXPECT_EQ(r.out, c.out) << c.profile << " " << c.font;
        EXPECT_EQ(read("out.bmp").size(), 150134U);
    }
}

} // namespace
