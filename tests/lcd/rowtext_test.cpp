#include "lcd/rowtext.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "chip/charset.hpp"
#include "lcd/lcdimg.hpp"

using namespace vimbra;

namespace {

struct place_case_t {
    const char* name;
    const char* set; // nullptr: no character set
    int width;
    std::vector<std::string> rows;
    int status;
    std::vector<std::string> grid; // every grid row afterwards; cells start as '.'
    std::string printed;
};

// The test log names a case by its name, not by its bytes.
void PrintTo(const place_case_t& c, std::ostream* os) {
    *os << c.name;
}

std::string repeated(char c, int n) {
    return std::string(static_cast<std::size_t>(n), c);
}

class RowtextPlaceTable : public ::testing::TestWithParam<place_case_t> {};

TEST_P(RowtextPlaceTable, GridStatusAndMessage) {
    const place_case_t& c = GetParam();
    const auto height = static_cast<int>(c.grid.size());
    std::vector<unsigned char> cells(static_cast<std::size_t>(c.width * height), '.');
    auto img = std::make_unique<lcdimg_t>();
    img->chcnt_x = c.width;
    img->chcnt_y = height;
    img->text_grid = cells.data();
    img->charset = c.set == nullptr ? nullptr : charset_find(c.set);
    std::vector<const char*> rows;
    for (const std::string& row : c.rows) {
        rows.push_back(row.c_str());
    }
    ::testing::internal::CaptureStdout();
    const int status = rowtext_place_rows(img.get(), rows.data(), static_cast<int>(rows.size()));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.printed);
    EXPECT_EQ(status, c.status);
    for (int y = 0; y < height; ++y) {
        const std::string got(cells.begin() + y * c.width, cells.begin() + (y + 1) * c.width);
        EXPECT_EQ(got, c.grid[static_cast<std::size_t>(y)]) << "grid row " << y;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RowtextPlaceTable,
    ::testing::Values(
        place_case_t{"BytesAndEscapesWithoutASet",
                     nullptr,
                     4,
                     {"ab\\x41\\\\", "\xC3\xA9"},
                     0,
                     {"abA\\", "\xC3\xA9.."},
                     ""},
        place_case_t{"CellsBeyondTheGridDropped",
                     nullptr,
                     3,
                     {"abcdef", "", "xyz"},
                     0,
                     {"abc", "...", "xyz"},
                     ""},
        // A fault past the grid's edge still refuses the row; the rows before it stay.
        place_case_t{
            "FaultPastTheEdge", nullptr, 2, {"ok", "abc\\q", "zz"}, -1, {"ok", "..", ".."}, ""},
        place_case_t{"UnicodeFaultIsPrinted",
                     "A00",
                     5,
                     {"ガ", "Caf\xC3\xA9"},
                     -1,
                     {"\xB6\xDE...", "....."},
                     "Row 2, column 4: U+00E9 '\xC3\xA9' is not in character set A00.\n"},
        place_case_t{"DecomposedLetterMapsLikeComposed",
                     "A02",
                     4,
                     {"e\xCC\x81u\xCC\x88!"},
                     0,
                     {"\xE9\xFC!."},
                     ""},
        // Grids wider than the old fixed row buffer of 8191 codes get every cell.
        place_case_t{"RowAsWideAsAWideGrid",
                     nullptr,
                     9000,
                     {repeated('a', 8999) + "Z"},
                     0,
                     {repeated('a', 8999) + "Z"},
                     ""},
        place_case_t{"WideRowInASet",
                     "A02",
                     8300,
                     {repeated('b', 8200) + "é"},
                     0,
                     {repeated('b', 8200) + "\xE9" + repeated('.', 99)},
                     ""}),
    [](const ::testing::TestParamInfo<place_case_t>& param) { return param.param.name; });

} // namespace
