#include "script/statement.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lcd/lcdimg.hpp"
#include "script/core.hpp"
#include "script/hal.hpp"
#include "script/kestbasic.hpp"
#include "script/script_harness.hpp"

using namespace vimbra;

namespace {

using script_test::run_program;
using script_test::StdoutCapture;

struct ConsoleCase {
    const char* name;
    const char* program;
    const char* input; // standard input, or nullptr to leave it alone
    const char* out;
    int rc;
};

// The test log names a case by its name, not by its bytes.
void PrintTo(const ConsoleCase& c, std::ostream* os) {
    *os << c.name;
}

class StatementConsoleTest : public ::testing::TestWithParam<ConsoleCase> {};

// Each program runs with the token memo on and off.
TEST_P(StatementConsoleTest, Runs) {
    const ConsoleCase& c = GetParam();
    const std::string input = c.input != nullptr ? c.input : "";
    for (const bool memo : {true, false}) {
        const auto r =
            run_program(c.program, nullptr, c.input != nullptr ? &input : nullptr, 10000000, memo);
        EXPECT_EQ(r.out, c.out) << "program " << c.name << " memo " << memo << ":\n" << c.program;
        EXPECT_EQ(r.rc, c.rc) << "program " << c.name << " memo " << memo << ":\n"
                              << c.program << r.message;
    }
}

const ConsoleCase kConsole[] = {
    // print: tab stops every 8 columns, counted per statement
    {"PrintTabStop", "10 print \"A\";\"B\"\n", nullptr, "A       B\r\n", RC_END},
    {"PrintFullTab", "10 print \"abcdefgh\";\n", nullptr, "abcdefgh        ", RC_END},
    {"PrintTabAfterNumber", "10 print 123;\"x\"\n", nullptr, "123     x\r\n", RC_END},
    {"PrintColumnPerStatement", "10 print \"ab\";\n20 print \"c\";\"d\"\n", nullptr,
     "ab      c       d\r\n", RC_END},
    {"PrintCommaJoins", "10 print 1,2\n", nullptr, "12\r\n", RC_END},
    {"PrintMixed", "10 print \"x=\", 5; 6\n", nullptr, "x=5     6\r\n", RC_END},
    {"PrintTrailingComma", "10 print 1,\n20 print 2\n", nullptr, "12\r\n", RC_END},
    {"PrintNegative", "10 print -5\n", nullptr, "-5\r\n", RC_END},
    {"PrintSmallest", "10 print -2147483647-1\n", nullptr, "-2147483648\r\n", RC_END},
    {"PrintBare", "10 print\n", nullptr, "\r\n", RC_END},
    {"PrintTwoNumbers", "10 print 1 2\n", nullptr, "1", RC_SYNTAX},
    {"PrintStringThenNumber", "10 print \"a\" 1\n", nullptr, "a", RC_SYNTAX},
    {"PrintEmptyItem", "10 print ;\n", nullptr, "", RC_SYNTAX},
    {"PrintNumberNeedsItsFollower", "10 print 5 \"abc\n", nullptr, "", RC_PAREN},
    // input
    {"InputVariable", "10 dim x\n20 input x\n30 print x*2\n", "21\n", "x? 42\r\n", RC_END},
    {"InputPrompt", "10 dim x\n20 input \"Value\",x\n30 print x\n", "7\n", "Value7\r\n", RC_END},
    {"InputPromptWithoutComma", "10 dim x\n20 input \"Value\" x\n", "7\n", "Value", RC_PAREN},
    {"InputNegative", "10 dim x\n20 input \"\",x\n30 print x\n", "-12\n", "-12\r\n", RC_END},
    {"InputLetters", "10 dim x\n20 x = 9\n30 input \"\",x\n40 print x\n", "abc\n", "0\r\n", RC_END},
    {"InputEmptyLine", "10 dim x\n20 x = 9\n30 input \"\",x\n40 print x\n", "\n", "0\r\n", RC_END},
    {"InputEndOfInput", "10 dim x\n20 x = 9\n30 input \"\",x\n40 print x\n", "", "0\r\n", RC_END},
    {"InputTwoLines", "10 dim a, b\n20 input a\n30 input b\n40 print a + b\n", "3\n4\n",
     "a? b? 7\r\n", RC_END},
    {"InputCrLfLeavesEmptyLine", "10 dim a, b\n20 input a\n30 input b\n40 print a, b\n", "5\r\n6\n",
     "a? b? 50\r\n", RC_END},
    // 79 zeros and the digit 1 fill the first 80 characters; 23 is left for the next line
    {"InputLineInPieces", "10 dim a, b\n20 input a\n30 input b\n40 print a; b\n",
     "0000000000000000000000000000000000000000000000000000000000000000000000000000000123\n",
     "a? b? 1       23\r\n", RC_END},
    {"InputUndeclared", "10 input q\n", "5\n", "q? ", RC_VAR_ASSIGN},
    {"InputNumberAsName", "10 input \"P\", 5\n", "5\n", "P", RC_VAR_ASSIGN},
    {"InputNoVariable", "10 input 5\n", "5\n", "", RC_SYNTAX},
    // read and write
    {"ReadPort", "10 dim c\n20 read 3, c\n30 print c\n", nullptr,
     "HAL:INPUT(PORT=3, DATA=0x0000014A)\n330\r\n", RC_END},
    {"ReadNegativePort", "10 dim p, c\n20 p = -1\n30 read p, c\n40 print c\n", nullptr,
     "HAL:INPUT(PORT=-1, DATA=0xFFFFFF92)\n-110\r\n", RC_END},
    {"ReadConsole", "10 dim c\n20 read 0, c\n30 print c\n", "A", "65\r\n", RC_END},
    {"ReadConsoleAtEnd", "10 dim c\n20 read 0, c\n30 print c\n", "", "-1\r\n", RC_END},
    {"ReadIgnoresRestOfLine", "10 dim c\n20 read 3, c print 5\n30 print c\n", nullptr,
     "HAL:INPUT(PORT=3, DATA=0x0000014A)\n330\r\n", RC_END},
    {"ReadNoComma", "10 dim c\n20 read 3 c\n", nullptr, "", RC_SYNTAX},
    {"ReadUndeclaredTarget", "10 read 3, q\n", nullptr, "HAL:INPUT(PORT=3, DATA=0x0000014A)\n",
     RC_VAR_ASSIGN},
    {"ReadUndeclaredPort", "10 dim c\n20 read q, c\n", nullptr, "", RC_VAR_ASSIGN},
    {"WriteConsole", "10 write 0, 65\n20 write 0, 321\n", nullptr, "AA", RC_END},
    {"WritePort", "10 write 7, 255\n", nullptr, "HAL:OUTPUT(PORT=7, DATA=0x000000FF)\n", RC_END},
    {"WriteVariable", "10 dim v\n20 v = -1\n30 write 5, v\n", nullptr,
     "HAL:OUTPUT(PORT=5, DATA=0xFFFFFFFF)\n", RC_END},
    {"WriteNegativeLiteral", "10 write 0, -1\n", nullptr, "", RC_VAR_ASSIGN},
    {"WriteValueIsNotAnExpression", "10 write 0, 60+5\n", nullptr, "<", RC_END},
    {"WriteIgnoresRestOfLine", "10 write 0, 66 print 1\n", nullptr, "B", RC_END},
    {"WriteNoComma", "10 write 0 66\n", nullptr, "", RC_SYNTAX},
};

INSTANTIATE_TEST_SUITE_P(Programs, StatementConsoleTest, ::testing::ValuesIn(kConsole),
                         [](const ::testing::TestParamInfo<ConsoleCase>& param_info) {
                             return std::string(param_info.param.name);
                         });

struct ConsumeCase {
    const char* name;
    const char* program;
    const char* input;
    const char* out;
    int next_byte; // what standard input delivers after the failed statement
};

// The test log names a case by its name, not by its bytes.
void PrintTo(const ConsumeCase& c, std::ostream* os) {
    *os << c.name;
}

class StatementConsumeTest : public ::testing::TestWithParam<ConsumeCase> {};

// `input` reads its line and `read` its port before the target variable is found missing.
TEST_P(StatementConsumeTest, ConsumesInputBeforeTheVariableFails) {
    const ConsumeCase& c = GetParam();
    script_test::StdinFeed feed(c.input);
    auto kb = std::make_unique<kestbasic_t>();
    const std::string program = c.program;
    StdoutCapture capture;
    int rc = kestbasic_setup(kb.get(), program.c_str(), nullptr);
    while (rc == RC_OK) {
        rc = kestbasic_execute(kb.get());
    }
    EXPECT_EQ(capture.finish(), c.out) << c.program;
    EXPECT_EQ(rc, RC_VAR_ASSIGN) << c.program;
    EXPECT_EQ(hal_getc(&kb->hal), c.next_byte) << c.program;
}

const ConsumeCase kConsume[] = {
    {"InputName", "10 input q\n", "5\n6\n", "q? ", '6'},
    {"InputPrompt", "10 input \"P\", q\n", "5\n6\n", "P", '6'},
    {"ReadConsole", "10 read 0, q\n", "AB", "", 'B'},
};

INSTANTIATE_TEST_SUITE_P(Programs, StatementConsumeTest, ::testing::ValuesIn(kConsume),
                         [](const ::testing::TestParamInfo<ConsumeCase>& param_info) {
                             return std::string(param_info.param.name);
                         });

constexpr unsigned char kUntouched = 17; // every byte of the picture before the script

struct Pixel {
    int x;
    int y;
    int r; // -1: the pixel must be untouched
    int g;
    int b;
};

struct GraphicsCase {
    const char* name;
    const char* program;
    int rc;
    std::vector<Pixel> pixels;
};

// The test log names a case by its name, not by its bytes.
void PrintTo(const GraphicsCase& c, std::ostream* os) {
    *os << c.name;
}

class StatementGraphicsTest : public ::testing::TestWithParam<GraphicsCase> {
  protected:
    void SetUp() override { open_image(); }
    void TearDown() override { lcdimg_close(img); }

    // A fresh default image with every byte of the picture set to kUntouched.
    void open_image() {
        lcdimg_close(img);
        StdoutCapture quiet; // the default image warns about its missing files
        img = lcdimg_open("", "");
        quiet.finish();
        ASSERT_NE(img, nullptr);
        std::memset(img->pixels, kUntouched,
                    static_cast<std::size_t>(img->canvas_width) *
                        static_cast<std::size_t>(img->canvas_height) * 3U);
    }

    const unsigned char* at(int x, int y) const {
        return img->pixels +
               (static_cast<std::size_t>(y) * static_cast<std::size_t>(img->canvas_width) +
                static_cast<std::size_t>(x)) *
                   3U;
    }

    lcdimg_t* img = nullptr;
};

// Each program draws on a fresh image with the token memo on and off.
TEST_P(StatementGraphicsTest, Draws) {
    const GraphicsCase& c = GetParam();
    for (const bool memo : {true, false}) {
        if (!memo) {
            open_image();
        }
        const auto r = run_program(c.program, img, nullptr, 10000000, memo);
        EXPECT_EQ(r.rc, c.rc) << "program " << c.name << " memo " << memo << ":\n"
                              << c.program << r.message;
        for (const Pixel& p : c.pixels) {
            const unsigned char* px = at(p.x, p.y);
            const int want_r = p.r < 0 ? kUntouched : p.r;
            const int want_g = p.r < 0 ? kUntouched : p.g;
            const int want_b = p.r < 0 ? kUntouched : p.b;
            const std::string where = c.name + std::string(" memo ") + (memo ? "on" : "off") +
                                      " at (" + std::to_string(p.x) + ", " + std::to_string(p.y) +
                                      ")";
            EXPECT_EQ(px[0], want_r) << where << " red";
            EXPECT_EQ(px[1], want_g) << where << " green";
            EXPECT_EQ(px[2], want_b) << where << " blue";
        }
    }
}

constexpr Pixel kept(int x, int y) {
    return {x, y, -1, -1, -1};
}

const GraphicsCase kGraphics[] = {
    {"ColorThenPlot",
     "10 color 255, 0, 0\n20 plot 10, 20\n",
     RC_END,
     {{10, 20, 255, 0, 0}, kept(11, 20), kept(10, 21)}},
    {"ColorKeepsLowBits", "10 color 256, 257, -1\n20 plot 10, 20\n", RC_END, {{10, 20, 0, 1, 255}}},
    {"TwoColours",
     "10 color 255, 0, 0\n20 plot 1, 1\n30 color 0, 0, 255\n40 plot 2, 1\n",
     RC_END,
     {{1, 1, 255, 0, 0}, {2, 1, 0, 0, 255}}},
    {"LineDiagonal",
     "10 color 0, 0, 255\n20 line 0, 0, 9, 9\n",
     RC_END,
     {{0, 0, 0, 0, 255}, {5, 5, 0, 0, 255}, {9, 9, 0, 0, 255}, kept(9, 0), kept(10, 10)}},
    {"LineTooFewArguments", "10 color 0, 0, 255\n20 line 1, 2, 3\n", RC_SYNTAX, {kept(1, 2)}},
    {"PlotWithoutComma", "10 plot 10 20\n", RC_SYNTAX, {kept(10, 20)}},
    {"LeadingNumberIsWholeArgument", "10 plot 10+5, 20\n", RC_SYNTAX, {kept(10, 20), kept(15, 20)}},
    {"ParenthesisedArgument",
     "10 color 0, 255, 0\n20 plot (10+5), 20\n",
     RC_END,
     {{15, 20, 0, 255, 0}, kept(10, 20)}},
    {"VariableArgument",
     "10 dim x\n20 x = 5\n30 color 0, 255, 0\n40 plot x+5, x*4\n",
     RC_END,
     {{10, 20, 0, 255, 0}}},
    {"SignedArgument",
     "10 color 0, 255, 0\n20 plot -3, 4\n30 plot -(-3), 4\n",
     RC_END,
     {{3, 4, 0, 255, 0}}},
    {"LastArgumentNumberAlone",
     "10 color 0, 255, 0\n20 plot 1, 2+3\n",
     RC_END,
     {{1, 2, 0, 255, 0}, kept(1, 5)}},
    {"StrayNumberAfterArguments",
     "10 color 0, 255, 0\n20 plot 1, 2 3\n",
     RC_END,
     {{1, 2, 0, 255, 0}}},
    {"UndeclaredArgument", "10 color 0, 255, 0\n20 plot 4, q\n", RC_VAR_ASSIGN, {kept(4, 0)}},
    {"DefaultColourBeforeColor", "10 plot 7, 7\n", RC_END, {{7, 7, 255, 255, 255}}},
    {"FillBox",
     "10 color 0, 255, 0\n20 fillbox 20, 30, 22, 31\n",
     RC_END,
     {{20, 30, 0, 255, 0}, {21, 30, 0, 255, 0}, {22, 31, 0, 255, 0}, kept(23, 31), kept(20, 32)}},
    {"BoxOutline",
     "10 color 0, 0, 255\n20 box 20, 30, 24, 34\n",
     RC_END,
     {{20, 30, 0, 0, 255},
      {22, 30, 0, 0, 255},
      {24, 34, 0, 0, 255},
      {20, 32, 0, 0, 255},
      kept(22, 32)}},
    {"Circle",
     "10 color 255, 0, 255\n20 circle 50, 50, 10\n",
     RC_END,
     {{60, 50, 255, 0, 255},
      {40, 50, 255, 0, 255},
      {50, 60, 255, 0, 255},
      {50, 40, 255, 0, 255},
      kept(50, 50)}},
    {"ArgumentsInALoop",
     "10 dim i\n20 color 9, 9, 9\n30 for i = 0 to 3\n40 plot i * 2, 0\n50 next\n",
     RC_END,
     {{0, 0, 9, 9, 9}, {2, 0, 9, 9, 9}, {6, 0, 9, 9, 9}, kept(1, 0), kept(8, 0)}},
    {"HugeValuesAreHarmless",
     "10 color 1, 2, 3\n20 line -2147483647, 0, 2147483647, 0\n30 circle 5, 5, 2147483647\n"
     "40 fillbox 2147483647, 2147483647, -2147483647, -2147483647\n50 plot 0, 111\n",
     RC_END,
     {{0, 111, 1, 2, 3}}},
};

INSTANTIATE_TEST_SUITE_P(Programs, StatementGraphicsTest, ::testing::ValuesIn(kGraphics),
                         [](const ::testing::TestParamInfo<GraphicsCase>& param_info) {
                             return std::string(param_info.param.name);
                         });

} // namespace
