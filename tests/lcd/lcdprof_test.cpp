#include "lcd/lcdprof.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "lcd/lcdimg.hpp"
#include "support/param_name.hpp"
#include "support/temp_dir.hpp"

using namespace vimbra;

namespace {

using namespace std::string_literals;

// A record holding the built-in defaults, without the rest of the image.
std::unique_ptr<lcdimg_t> default_record() {
    auto img = std::make_unique<lcdimg_t>();
    lcdimg_set_defaults(img.get());
    return img;
}

// Runs `action` with stdout sent to a temporary file; returns what it printed.
template <typename Action> std::string capture_stdout(Action action) {
    std::fflush(stdout);
    char path[] = "/tmp/lcdprof_outXXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    const int saved = dup(STDOUT_FILENO);
    dup2(fd, STDOUT_FILENO);
    action();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::string out;
    lseek(fd, 0, SEEK_SET);
    char chunk[4096];
    for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;) {
        out.append(chunk, static_cast<std::size_t>(n));
    }
    close(fd);
    unlink(path);
    return out;
}

class LcdprofFileTest : public ::testing::Test {
  protected:
    // Writes `content` byte for byte and returns the file's path.
    std::string write_file(const std::string& content) {
        const std::string path = dir_ + "/p" + std::to_string(count_++) + ".prof";
        std::FILE* fp = std::fopen(path.c_str(), "wb");
        EXPECT_NE(fp, nullptr);
        std::fwrite(content.data(), 1, content.size(), fp);
        std::fclose(fp);
        return path;
    }

    temp_dir_t temp_{"lcdprof_test"};
    std::string dir_ = temp_.path();
    int count_ = 0;
};

struct number_case {
    std::string line;
    int result;
    int chcnt_x;
};

// The test log names a case by its input, not by its bytes.
void PrintTo(const number_case& c, std::ostream* os) {
    *os << testing::PrintToString(c.line);
}

class LcdprofNumberTest : public ::testing::TestWithParam<number_case> {};

TEST_P(LcdprofNumberTest, StoresChcntX) {
    auto img = default_record();
    EXPECT_EQ(pickup_value(img.get(), GetParam().line.c_str()), GetParam().result);
    EXPECT_EQ(img->chcnt_x, GetParam().chcnt_x);
}

INSTANTIATE_TEST_SUITE_P(
    LcdprofLines, LcdprofNumberTest,
    ::testing::Values(
        // Ways of joining key and value.
        number_case{"CHCNT_X=20", 0, 20}, number_case{"CHCNT_X = 20", 0, 20},
        number_case{"CHCNT_X 20", 0, 20}, number_case{"CHCNT_X\t20", 0, 20},
        number_case{"CHCNT_X = 20\n", 0, 20}, number_case{"CHCNT_X=20\r\n", 0, 20},
        number_case{"  CHCNT_X == 20 30 more", 0, 20}, number_case{"\v\fCHCNT_X\v20\f", 0, 20},
        number_case{"=CHCNT_X=20=", 0, 20},
        // Not settings.
        number_case{"", -1, 16}, number_case{"   \n", -1, 16}, number_case{"CHCNT_X", -1, 16},
        number_case{"CHCNT_X =\n", -1, 16}, number_case{"chcnt_x 20", -1, 16},
        number_case{"CHCNT_XX 20", -1, 16}, number_case{"CHCNT_X20", -1, 16},
        // atoi's grammar.
        number_case{"CHCNT_X twenty", 0, 0}, number_case{"CHCNT_X 12abc", 0, 12},
        number_case{"CHCNT_X 0x10", 0, 0}, number_case{"CHCNT_X -3", 0, -3},
        number_case{"CHCNT_X +7", 0, 7}, number_case{"CHCNT_X --5", 0, 0},
        number_case{"CHCNT_X -", 0, 0}, number_case{"CHCNT_X 1.9", 0, 1},
        number_case{"CHCNT_X 0000000000000000000000042", 0, 42},
        // Saturation instead of overflow.
        number_case{"CHCNT_X 2147483647", 0, INT_MAX},
        number_case{"CHCNT_X 2147483648", 0, INT_MAX},
        number_case{"CHCNT_X 99999999999", 0, INT_MAX},
        number_case{"CHCNT_X 99999999999999999999999999999999", 0, INT_MAX},
        number_case{"CHCNT_X -2147483648", 0, INT_MIN},
        number_case{"CHCNT_X -2147483649", 0, INT_MIN},
        number_case{"CHCNT_X -99999999999", 0, INT_MIN}),
    [](const ::testing::TestParamInfo<LcdprofNumberTest::ParamType>& case_info) {
        return param_name(case_info.index, case_info.param.line);
    });

// Accessor of one setting, in the key order below.
using field_ref = int& (*)(lcdimg_t&);

struct key_case {
    const char* key;
    field_ref field;
};

const std::vector<key_case>& number_keys() {
    static const std::vector<key_case> keys{
        {"CHCNT_X", [](lcdimg_t& i) -> int& { return i.chcnt_x; }},
        {"CHCNT_Y", [](lcdimg_t& i) -> int& { return i.chcnt_y; }},
        {"CHOFS_X", [](lcdimg_t& i) -> int& { return i.chofs_x; }},
        {"CHOFS_Y", [](lcdimg_t& i) -> int& { return i.chofs_y; }},
        {"CHGAP_X", [](lcdimg_t& i) -> int& { return i.chgap_x; }},
        {"CHGAP_Y", [](lcdimg_t& i) -> int& { return i.chgap_y; }},
        {"PIXSIZ_X", [](lcdimg_t& i) -> int& { return i.pixsiz_x; }},
        {"PIXSIZ_Y", [](lcdimg_t& i) -> int& { return i.pixsiz_y; }},
        {"PIXGAP_X", [](lcdimg_t& i) -> int& { return i.pixgap_x; }},
        {"PIXGAP_Y", [](lcdimg_t& i) -> int& { return i.pixgap_y; }},
        {"FRAME_X", [](lcdimg_t& i) -> int& { return i.frame_x; }},
        {"FRAME_Y", [](lcdimg_t& i) -> int& { return i.frame_y; }},
        {"FRCOL.R", [](lcdimg_t& i) -> int& { return i.frcol.r; }},
        {"FRCOL.G", [](lcdimg_t& i) -> int& { return i.frcol.g; }},
        {"FRCOL.B", [](lcdimg_t& i) -> int& { return i.frcol.b; }},
        {"FGCOL.R", [](lcdimg_t& i) -> int& { return i.fgcol.r; }},
        {"FGCOL.G", [](lcdimg_t& i) -> int& { return i.fgcol.g; }},
        {"FGCOL.B", [](lcdimg_t& i) -> int& { return i.fgcol.b; }},
        {"BGCOL.R", [](lcdimg_t& i) -> int& { return i.bgcol.r; }},
        {"BGCOL.G", [](lcdimg_t& i) -> int& { return i.bgcol.g; }},
        {"BGCOL.B", [](lcdimg_t& i) -> int& { return i.bgcol.b; }},
        {"CONTRAST", [](lcdimg_t& i) -> int& { return i.contrast; }},
        {"SHADOW_DEPTH", [](lcdimg_t& i) -> int& { return i.shadow_depth; }},
        {"SHADOW_CURVE", [](lcdimg_t& i) -> int& { return i.shadow_curve; }},
    };
    return keys;
}

// Each numeric key writes its own field and no other.
TEST(LcdprofKeyTest, EachNumberKeySetsOnlyItsField) {
    const auto& keys = number_keys();
    ASSERT_EQ(keys.size(), 24U);
    for (std::size_t k = 0; k < keys.size(); ++k) {
        auto img = default_record();
        auto before = default_record();
        const std::string line = std::string(keys[k].key) + " = 1000";
        EXPECT_EQ(pickup_value(img.get(), line.c_str()), 0) << line;
        for (std::size_t other = 0; other < keys.size(); ++other) {
            const int expected = other == k ? 1000 : keys[other].field(*before);
            EXPECT_EQ(keys[other].field(*img), expected) << line << " / " << keys[other].key;
        }
        EXPECT_STREQ(img->lcd_vendor.data(), "");
        EXPECT_STREQ(img->lcd_model.data(), "");
        EXPECT_STREQ(img->script_path.data(), "");
    }
}

TEST(LcdprofKeyTest, TextKeysSetOnlyTheirField) {
    auto img = default_record();
    EXPECT_EQ(pickup_value(img.get(), "LCD_VENDOR = Acme"), 0);
    EXPECT_EQ(pickup_value(img.get(), "LCD_MODEL\tAC-1602\n"), 0);
    EXPECT_EQ(pickup_value(img.get(), "SCRIPT=demo/run.bas"), 0);
    EXPECT_STREQ(img->lcd_vendor.data(), "Acme");
    EXPECT_STREQ(img->lcd_model.data(), "AC-1602");
    EXPECT_STREQ(img->script_path.data(), "demo/run.bas");
    for (const key_case& key : number_keys()) {
        EXPECT_EQ(key.field(*img), key.field(*default_record())) << key.key;
    }
}

TEST(LcdprofKeyTest, WholeColourKeyIsNotASetting) {
    auto img = default_record();
    EXPECT_EQ(pickup_value(img.get(), "FRCOL 255,0,0"), -1);
    EXPECT_EQ(pickup_value(img.get(), "FRCOL = 255 0 0"), -1);
    EXPECT_EQ(pickup_value(img.get(), "FRCOL.r 255"), -1);
    EXPECT_EQ(img->frcol.r, 0);
    EXPECT_EQ(img->frcol.g, 0);
    EXPECT_EQ(img->frcol.b, 0);
}

struct text_case {
    std::string line;
    std::string script;
};

// The test log names a case by its input, not by its bytes.
void PrintTo(const text_case& c, std::ostream* os) {
    *os << testing::PrintToString(c.line);
}

class LcdprofScriptTest : public ::testing::TestWithParam<text_case> {};

TEST_P(LcdprofScriptTest, TakesOneWord) {
    auto img = default_record();
    EXPECT_EQ(pickup_value(img.get(), GetParam().line.c_str()), 0);
    EXPECT_EQ(std::string(img->script_path.data()), GetParam().script);
}

INSTANTIATE_TEST_SUITE_P(
    LcdprofValues, LcdprofScriptTest,
    ::testing::Values(text_case{"SCRIPT my script.bas", "my"}, text_case{"SCRIPT a=b.bas", "a"},
                      text_case{"SCRIPT = x.bas\r\n", "x.bas"},
                      text_case{"SCRIPT \"q.bas\"", "\"q.bas\""},
                      text_case{"SCRIPT \xC3\xA9t\xC3\xA9.bas", "\xC3\xA9t\xC3\xA9.bas"}),
    [](const ::testing::TestParamInfo<LcdprofScriptTest::ParamType>& case_info) {
        return param_name(case_info.index, case_info.param.line);
    });

TEST(LcdprofKeyTest, TextValueOfFullPieceLengthFits) {
    auto img = default_record();
    // "SCRIPT " and a word filling the rest of an 8191-character piece.
    const std::string word(8191 - 7, 'w');
    EXPECT_EQ(pickup_value(img.get(), ("SCRIPT " + word).c_str()), 0);
    EXPECT_EQ(std::string(img->script_path.data()), word);
}

TEST(LcdprofKeyTest, OnlyTheFirst8191CharactersOfALineCount) {
    auto img = default_record();
    // The value starts at character 8192, beyond what a line piece holds.
    const std::string line = "CHCNT_X" + std::string(8191 - 7, ' ') + "20";
    EXPECT_EQ(pickup_value(img.get(), line.c_str()), -1);
    EXPECT_EQ(img->chcnt_x, 16);
}

struct file_case {
    const char* name;
    std::string content;
    int chcnt_x;
    int chcnt_y;
    std::string script;
};

// The test log names a case by its name, not by its bytes.
void PrintTo(const file_case& c, std::ostream* os) {
    *os << c.name;
}

class LcdprofReadTest : public LcdprofFileTest, public ::testing::WithParamInterface<file_case> {};

TEST_P(LcdprofReadTest, ReadsFile) {
    auto img = default_record();
    const std::string path = write_file(GetParam().content);
    EXPECT_EQ(lcdprof_read(path.c_str(), img.get(), 0), 0);
    EXPECT_EQ(img->chcnt_x, GetParam().chcnt_x);
    EXPECT_EQ(img->chcnt_y, GetParam().chcnt_y);
    EXPECT_EQ(std::string(img->script_path.data()), GetParam().script);
}

std::string long_line(std::size_t first_piece_length, const std::string& tail) {
    // "LCD_MODEL " padded with 'A' to the given length, then the tail.
    return "LCD_MODEL " + std::string(first_piece_length - 10, 'A') + tail;
}

INSTANTIATE_TEST_SUITE_P(
    LcdprofFiles, LcdprofReadTest,
    ::testing::Values(
        file_case{"Empty", "", 16, 2, ""},
        file_case{"CommentsOnly", "# a profile\n\n   # nothing else\n", 16, 2, ""},
        file_case{"TrailingRemark", "CHCNT_X = 20 # twenty columns\n", 20, 2, ""},
        file_case{"RemarkWithoutBlank", "CHCNT_X = 20# twenty\n", 20, 2, ""},
        file_case{"CommentedOut", "# CHCNT_X = 20\n", 16, 2, ""},
        file_case{"HashInPath", "SCRIPT = a#b.bas\n", 16, 2, "a"},
        file_case{"HashBeforeValue", "SCRIPT #= a.bas\n", 16, 2, ""},
        file_case{"LaterLineWins", "CHCNT_X = 20\nCHCNT_Y = 4\nCHCNT_X = 24\n", 24, 4, ""},
        file_case{"NoFinalLineFeed", "CHCNT_Y = 4\nCHCNT_X = 20", 20, 4, ""},
        file_case{"CrLf", "CHCNT_X = 20\r\nCHCNT_Y = 4\r\nSCRIPT = s.bas\r\n", 20, 4, "s.bas"},
        file_case{"BlankLinesBetween", "\n\nCHCNT_X 20\n\n\nCHCNT_Y 4\n", 20, 4, ""},
        file_case{"NulHidesValue", "CHCNT_X\0 = 99\nCHCNT_Y = 4\n"s, 16, 4, ""},
        file_case{"NulAfterValue", "CHCNT_X = 2\0 5\nCHCNT_Y = 4\n"s, 2, 4, ""},
        file_case{"NonAsciiKey",
                  "\xC3\xA9"
                  "CHCNT_X = 7\nCHCNT_Y = 4\n",
                  16, 4, ""},
        file_case{"NonAsciiBytesAfterValue", "CHCNT_X = 7\xFF\xFE\n", 7, 2, ""},
        // The second piece of a long line starts exactly at the next key.
        file_case{"LongLineSecondPieceIsALine", long_line(8191, "CHCNT_X 21\n"), 21, 2, ""},
        // One character earlier and the second piece begins inside the key.
        file_case{"LongLineSplitKey", long_line(8190, "CHCNT_X 21\nCHCNT_Y 3\n"), 16, 3, ""},
        file_case{"LongCommentThenSetting",
                  "#" + std::string(10000, 'c') + " CHCNT_X 5\nCHCNT_Y 3\n", 16, 3, ""},
        file_case{"LongValueStartsNewPiece", std::string(8191, ' ') + "CHCNT_X 30\n", 30, 2, ""}),
    [](const ::testing::TestParamInfo<file_case>& param_info) { return param_info.param.name; });

TEST_F(LcdprofFileTest, LongLineFirstPieceKeepsItsWord) {
    auto img = default_record();
    const std::string path = write_file(long_line(8191, "CHCNT_X 21\n"));
    ASSERT_EQ(lcdprof_read(path.c_str(), img.get(), 0), 0);
    EXPECT_EQ(std::string(img->lcd_model.data()), std::string(8181, 'A'));
}

TEST_F(LcdprofFileTest, UnreadablePathsGiveMinusOneAndTouchNothing) {
    const std::string missing = dir_ + "/no-such.prof";
    const std::vector<const char*> paths{nullptr, "", missing.c_str(), dir_.c_str()};
    for (const char* path : paths) {
        auto img = default_record();
        const std::string out = capture_stdout(
            [&] { EXPECT_EQ(lcdprof_read(path, img.get(), 1), -1) << (path ? path : "(null)"); });
        EXPECT_EQ(out, "");
        EXPECT_EQ(img->chcnt_x, 16);
        EXPECT_EQ(img->bgcol.r, 255);
    }
}

// The listing, worked out by hand from the line formats.
const char* const DEFAULT_LISTING = "LCD_VENDOR   = \n"
                                    "LCD_MODEL    = \n"
                                    "CHCNT_X      = 16\n"
                                    "CHCNT_Y      = 2\n"
                                    "CHOFS_X      = 16\n"
                                    "CHOFS_Y      = 16\n"
                                    "CHGAP_X      = 2\n"
                                    "CHGAP_Y      = 2\n"
                                    "PIXSIZ_X     = 4\n"
                                    "PIXSIZ_Y     = 4\n"
                                    "PIXGAP_X     = 1\n"
                                    "PIXGAP_Y     = 1\n"
                                    "FRAME_X      = 0\n"
                                    "FRAME_Y      = 0\n"
                                    "FRCOL        =   0,   0,   0\n"
                                    "FGCOL        =   8,   8,   8\n"
                                    "BGCOL        = 255, 190,  66\n"
                                    "CONTRAST     = 96\n"
                                    "SHADOW_DEPTH = 4\n"
                                    "SHADOW_CURVE = 4\n"
                                    "SCRIPT       = \n";

TEST_F(LcdprofFileTest, ListingFollowsReadingEvenWithoutSettings) {
    auto img = default_record();
    const std::string path = write_file("# nothing to set\n");
    const std::string out =
        capture_stdout([&] { EXPECT_EQ(lcdprof_read(path.c_str(), img.get(), 1), 0); });
    EXPECT_EQ(out, DEFAULT_LISTING);
}

TEST_F(LcdprofFileTest, NoListingWhenFlagIsZero) {
    auto img = default_record();
    const std::string path = write_file("CHCNT_X 20\n");
    const std::string out =
        capture_stdout([&] { EXPECT_EQ(lcdprof_read(path.c_str(), img.get(), 0), 0); });
    EXPECT_EQ(out, "");
}

TEST_F(LcdprofFileTest, ListingShowsEveryValueRead) {
    auto img = default_record();
    const std::string path = write_file("LCD_VENDOR Acme\nLCD_MODEL X-1\nCHCNT_X 1\nCHCNT_Y -2\n"
                                        "CHOFS_X 3\nCHOFS_Y 4\nCHGAP_X 5\nCHGAP_Y 6\n"
                                        "PIXSIZ_X 7\nPIXSIZ_Y 8\nPIXGAP_X 9\nPIXGAP_Y 10\n"
                                        "FRAME_X 11\nFRAME_Y 12\nFRCOL.R 1\nFRCOL.G 22\n"
                                        "FRCOL.B 333\nFGCOL.R -1\nFGCOL.G 1000\nFGCOL.B -45\n"
                                        "BGCOL.R 7\nBGCOL.G 77\nBGCOL.B 777\nCONTRAST 101\n"
                                        "SHADOW_DEPTH 0\nSHADOW_CURVE -4\nSCRIPT s.bas\n");
    const std::string out =
        capture_stdout([&] { EXPECT_EQ(lcdprof_read(path.c_str(), img.get(), 1), 0); });
    EXPECT_EQ(out, "LCD_VENDOR   = Acme\n"
                   "LCD_MODEL    = X-1\n"
                   "CHCNT_X      = 1\n"
                   "CHCNT_Y      = -2\n"
                   "CHOFS_X      = 3\n"
                   "CHOFS_Y      = 4\n"
                   "CHGAP_X      = 5\n"
                   "CHGAP_Y      = 6\n"
                   "PIXSIZ_X     = 7\n"
                   "PIXSIZ_Y     = 8\n"
                   "PIXGAP_X     = 9\n"
                   "PIXGAP_Y     = 10\n"
                   "FRAME_X      = 11\n"
                   "FRAME_Y      = 12\n"
                   "FRCOL        =   1,  22, 333\n"
                   "FGCOL        =  -1, 1000, -45\n"
                   "BGCOL        =   7,  77, 777\n"
                   "CONTRAST     = 101\n"
                   "SHADOW_DEPTH = 0\n"
                   "SHADOW_CURVE = -4\n"
                   "SCRIPT       = s.bas\n");
}

TEST(LcdprofListingTest, PrintValueAlonePrintsTheDefaults) {
    auto img = default_record();
    EXPECT_EQ(capture_stdout([&] { print_value(img.get()); }), DEFAULT_LISTING);
}

} // namespace

namespace {

// ROW_ADDRESSES reads every word of its line, hexadecimal or decimal; the listing shows it
// only when set.
TEST(LcdprofRowAddressesTest, EveryWordIsAStartAddress) {
    struct row_case_t {
        const char* line;
        int count;
        std::vector<unsigned char> addresses;
        const char* listed;
    };
    const std::vector<row_case_t> cases{
        {"ROW_ADDRESSES 0x00 0x40 0x10 0x50",
         4,
         {0x00, 0x40, 0x10, 0x50},
         "ROW_ADDRESSES = 0x00 0x40 0x10 0x50\n"},
        {"ROW_ADDRESSES=0X14\t84  127", 3, {0x14, 0x54, 0x7F}, "ROW_ADDRESSES = 0X14 84 127\n"},
        {"ROW_ADDRESSES 0x00 128", -1, {}, "ROW_ADDRESSES = 0x00 128\n"},
        {"ROW_ADDRESSES 0x00 -1", -1, {}, "ROW_ADDRESSES = 0x00 -1\n"},
        {"ROW_ADDRESSES", 0, {}, ""},
    };
    for (const row_case_t& c : cases) {
        auto img = default_record();
        pickup_value(img.get(), c.line);
        EXPECT_EQ(img->row_address_count, c.count) << c.line;
        for (std::size_t i = 0; i < c.addresses.size(); ++i) {
            EXPECT_EQ(img->row_addresses[i], c.addresses[i]) << c.line;
        }
        const std::string listing = capture_stdout([&] { print_value(img.get()); });
        EXPECT_EQ(listing, std::string(DEFAULT_LISTING) + c.listed) << c.line;
    }
}

} // namespace
