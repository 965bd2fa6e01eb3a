#include "script/script.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lcd/lcdimg.hpp"
#include "script/script_harness.hpp"
#include "support/temp_dir.hpp"

using namespace vimbra;

namespace {

using script_test::StdoutCapture;

// A fresh temporary directory holding the files a test writes; removed afterwards.
class ScriptTest : public ::testing::Test {
  protected:
    std::string write_file(const std::string& name, const std::string& text) {
        const std::string path = dir + "/" + name;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (f != nullptr) {
            std::fwrite(text.data(), 1, text.size(), f);
            std::fclose(f);
        }
        files.push_back(path);
        return path;
    }

    // Runs the script file and returns what it printed; *rc gets the runner's result.
    std::string run(const std::string& text, int listing = 0, int* rc = nullptr,
                    lcdimg_t* img = nullptr) {
        const std::string path = write_file("s.bas", text);
        StdoutCapture capture;
        const int result = script_execute(path.c_str(), img, listing);
        if (rc != nullptr) {
            *rc = result;
        }
        return capture.finish();
    }

    temp_dir_t temp_{"script"};
    std::string dir = temp_.path();
    std::vector<std::string> files;
};

TEST_F(ScriptTest, MissingFileIsReported) {
    StdoutCapture capture;
    const int rc = script_execute((dir + "/missing.bas").c_str(), nullptr, 0);
    EXPECT_EQ(capture.finish(), "Script read failed.\n");
    EXPECT_EQ(rc, 2);
    progedit_t store;
    progedit_init(&store);
    EXPECT_EQ(load_program(&store, (dir + "/missing.bas").c_str()), -1);
}

TEST_F(ScriptTest, EmptyFileEndsQuietly) {
    int rc = -1;
    EXPECT_EQ(run("", 0, &rc), "");
    EXPECT_EQ(rc, 0);
}

TEST_F(ScriptTest, ErrorIsReportedWithItsLine) {
    int rc = -1;
    EXPECT_EQ(run("10 print 1\n20 return\n30 print 3\n", 0, &rc),
              "1\r\nScript error: RETURN without GOSUB(Line:2)\n");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(run("10 dim x\n20 x = 7 / (x - x)\n"), "Script error: division by zero(Line:3)\n");
}

TEST_F(ScriptTest, StepLimitStopsAnEndlessProgramOnly) {
    const std::string endless = write_file("endless.bas", "10 goto 10\n");
    const std::string finite = write_file("finite.bas", "10 print 1\n20 print 2\n");
    struct Case {
        const std::string* path;
        std::int64_t limit;
        const char* out;
    };
    for (const Case& c : {Case{&endless, 1000, "Script error: step limit reached(Line:1)\n"},
                          Case{&endless, 1, "Script error: step limit reached(Line:1)\n"},
                          Case{&finite, 1000, "1\r\n2\r\n"}, Case{&finite, 0, "1\r\n2\r\n"}}) {
        StdoutCapture capture;
        EXPECT_EQ(script_execute(c.path->c_str(), nullptr, 0, c.limit), 0);
        EXPECT_EQ(capture.finish(), c.out) << *c.path << " limit " << c.limit;
    }
}

// Says stop at its `stop_at`th question (0: never).
bool stop_at_question(void* ctx) {
    auto* asked = static_cast<std::array<int, 2>*>(ctx);
    ++(*asked)[0];
    return (*asked)[0] == (*asked)[1];
}

TEST_F(ScriptTest, StopCallbackIsAskedEverySixteenStepsBesideTheLimit) {
    // A print line takes two interpreter steps (a limit of 20 prints ten lines, as the
    // command line's --max-steps does): the numbers printed are half the steps taken.
    std::string program;
    std::string all;
    for (int n = 1; n <= 40; ++n) {
        program += std::to_string(n * 10) + " print " + std::to_string(n) + "\n";
        all += std::to_string(n) + "\r\n";
    }
    const std::string path = write_file("forty.bas", program);
    const auto first = [&all](int n) {
        return all.substr(0, all.find(std::to_string(n + 1) + "\r"));
    };
    const std::string stopped = "Script error: step limit reached(Line:";
    struct Case {
        std::int64_t limit;
        int stop_at;
        std::string out;
        int questions;
    };
    for (const Case& c :
         {Case{0, 1, first(8) + stopped + "9)\n", 1}, Case{0, 2, first(16) + stopped + "17)\n", 2},
          Case{20, 0, first(10) + stopped + "11)\n", 1}, Case{0, 6, all, 5}}) {
        std::array<int, 2> asked{0, c.stop_at};
        const script_limits_t limits{c.limit, stop_at_question, &asked};
        StdoutCapture capture;
        EXPECT_EQ(script_execute_limited(path.c_str(), nullptr, 0, &limits), 0);
        EXPECT_EQ(capture.finish(), c.out) << "limit " << c.limit << ", stop at " << c.stop_at;
        EXPECT_EQ(asked[0], c.questions);
    }
}

TEST_F(ScriptTest, LinesRunInNumberOrder) {
    EXPECT_EQ(run("30 print 3\n10 print 1\n20 print 2\n"), "1\r\n2\r\n3\r\n");
}

TEST_F(ScriptTest, CrLfAndMissingFinalLineFeed) {
    EXPECT_EQ(run("10 print 1\r\n20 print 2"), "1\r\n2\r\n");
}

TEST_F(ScriptTest, OverlongLineIsReportedAndSkipped) {
    std::string third = "30 rem ";
    third += std::string(85 - third.size(), 'x');
    ASSERT_EQ(third.size(), 85U);
    const std::string out = run("10 print 1\n20 print 2\n" + third + "\n40 print 4\n");
    EXPECT_EQ(out, "Insert failed.\nline=3:" + third + "\n\n1\r\n2\r\n4\r\n");
}

TEST_F(ScriptTest, ListingCountsLinesReadAndStored) {
    const std::string out = run("10 dim x\n20 x = 1\n30 print x\n40 print 2\n30\n", 1);
    EXPECT_EQ(out, "[Program list]\n"
                   "  1: [10 dim x]\n"
                   "  2: [20 x = 1]\n"
                   "  3: [40 print 2]\n"
                   "\n"
                   "[Program information]\n"
                   "  5 lines readed.\n"
                   "  3 lines stored.\n"
                   "  29 bytes.\n"
                   "\n"
                   "2\r\n");
}

TEST_F(ScriptTest, LabelTableFullStopsBeforeRunning) {
    std::string text;
    for (int n = 1; n <= 201; ++n) {
        text += std::to_string(n) + " print 1\n";
    }
    EXPECT_EQ(run(text), "Script error: Label table full(Line:201)\n");
}

TEST_F(ScriptTest, VeryLongLineArrivesInPieces) {
    const std::string path =
        write_file("long.bas", "10 print 1\n" + std::string(9000, 'x') + "\n20 print 2\n");
    progedit_t store;
    progedit_init(&store);
    StdoutCapture capture;
    const int lines = load_program(&store, path.c_str());
    const std::string out = capture.finish();
    EXPECT_EQ(lines, 4); // the 9001 characters come as 8191 and 810
    EXPECT_EQ(out.find("Insert failed.\nline=2:"), 0U);
    EXPECT_NE(out.find("Insert failed.\nline=3:"), std::string::npos);
}

TEST_F(ScriptTest, PrintProgramNumbersTheStoredLines) {
    progedit_t store;
    progedit_init(&store);
    ASSERT_EQ(progedit_insert(&store, "20 print 2\n"), 0);
    ASSERT_EQ(progedit_insert(&store, "10 print 1\n"), 0);
    StdoutCapture capture;
    EXPECT_EQ(print_program(&store), 2);
    EXPECT_EQ(capture.finish(), "  1: [10 print 1]\n  2: [20 print 2]\n");
    progedit_init(&store);
    StdoutCapture empty;
    EXPECT_EQ(print_program(&store), 0);
    EXPECT_EQ(empty.finish(), "");
}

// What a script drew before it failed stays in the picture; nothing after the failure is drawn.
TEST_F(ScriptTest, DrawingBeforeAFailureStays) {
    lcdimg_t* img = nullptr;
    {
        StdoutCapture quiet;
        img = lcdimg_open("", "");
    }
    ASSERT_NE(img, nullptr);
    std::memset(img->pixels, 0, static_cast<std::size_t>(img->canvas_width) * 3U * 2U);
    const std::string out =
        run("10 color 255, 0, 0\n20 plot 5, 0\n30 print 1 / 0;\n40 plot 6, 0\n", 0, nullptr, img);
    EXPECT_EQ(out, "Script error: division by zero(Line:3)\n");
    const unsigned char* row = img->pixels;
    EXPECT_EQ(row[5 * 3 + 0], 255);
    EXPECT_EQ(row[5 * 3 + 1], 0);
    EXPECT_EQ(row[6 * 3 + 0], 0);
    lcdimg_close(img);
}

} // namespace
