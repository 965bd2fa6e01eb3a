// What a replay says besides the picture: where a log is wrong, and why a screen that replayed
// without fault may still be blank; the small spellings a log and --at accept.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/tool_runner.hpp"
#include "support/temp_dir.hpp"

namespace {

const std::string OFF_WARNING = "warning: the display was never switched on (display on, or cmd "
                                "0x0C)\n";
const std::string BLANK_ROW(16, ' ');

TEST(ReplayMessagesCliTest, LogsGiveTheirStatusAndMessages) {
    const temp_dir_t dir{"replay_messages"};
    struct case_t {
        std::string log;
        std::vector<std::string> args; // after --replay LOG
        std::string input;             // standard input, for LOG "-"
        int status;
        std::string err; // the whole of standard error, after the log's name and ": "
        std::string out; // the whole of standard output
    };
    const std::string hi = "Hi" + std::string(14, ' ') + "\n" + BLANK_ROW + "\n";
    const std::string hi_status = "no cursor, display on, cursor off, blink off\n";
    const std::vector<case_t> cases{
        {"init\nprint \"Hi\"\n", {"--text"}, "", 0, "", hi + hi_status},
        // The fourth dot row, on line 6, has six dots.
        {"init\ndefine 0x01\n.....\n.....\n.....\n.o.o.o\n.....\n.....\n.....\n.....\n",
         {"--text"},
         "",
         2,
         "line 6: a dot row has five characters, found 6 (row 4 of define 0x01 on line 2)\n",
         ""},
        {"cmd 0x38 0x01\nprint \"Hi\"\n",
         {"--text"},
         "",
         0,
         OFF_WARNING,
         BLANK_ROW + "\n" + BLANK_ROW + "\n" + "no cursor, display off, cursor off, blink off\n"},
        // E wired to pin 6, which the firmware's bytes never raise.
        {"wiring 0 1 6 3 4 5 2 7\ni2c 0x27 0x3C 0x38 0x3C 0x38\ni2c 0x27 0x2C 0x28\n",
         {"--text"},
         "",
         0,
         "warning: no E pulse in 6 i2c bytes (E never fell: check the wiring line)\n",
         BLANK_ROW + "\n" + BLANK_ROW + "\n" + "no cursor, display off, cursor off, blink off\n"},
        {"", {"--text"}, "cmd 0x01\n", 0, OFF_WARNING, "*"},
        // Zero needs no unit; the moment before the text is printed.
        {"init\nwait 1s\nprint \"Hi\"\n",
         {"--at", "0", "--text"},
         "",
         0,
         "",
         BLANK_ROW + "\n" + BLANK_ROW + "\n" + "no cursor, display on, cursor off, blink off\n"},
        // A byte-order mark, as some editors save UTF-8.
        {"\xEF\xBB\xBFinit\nprint \"Hi\"\n", {"--text"}, "", 0, "", hi + hi_status},
        {"\xEF\xBB\xBF\xEF\xBB\xBFinit\n",
         {"--text"},
         "",
         2,
         "line 1: unknown keyword '\\xEF\\xBB\\xBFinit'\n",
         ""},
    };
    for (const case_t& c : cases) {
        std::vector<std::string> args{"--replay"};
        std::string label = "standard input";
        if (c.input.empty()) {
            label = dir.write("case.log", c.log);
            args.push_back(label);
        } else {
            args.push_back("-");
        }
        args.insert(args.end(), c.args.begin(), c.args.end());
        const tool_io_result_t run = run_tool_io(args, c.input);
        EXPECT_EQ(run.status, c.status) << c.log << c.input;
        EXPECT_EQ(run.err, c.err.empty() ? "" : label + ": " + c.err) << c.log << c.input;
        if (c.out != "*") {
            EXPECT_EQ(run.out, c.out) << c.log << c.input;
        }
    }
}

// The warning goes with a picture written as usual.
TEST(ReplayMessagesCliTest, WarnedRunsWriteTheirPicture) {
    const temp_dir_t dir{"replay_messages"};
    const std::string log = dir.write("off.log", "cmd 0x38\nprint \"Hi\"\n");
    const tool_io_result_t run = run_tool_io({"--replay", log, dir.file("off.png")});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, log + ": " + OFF_WARNING);
    EXPECT_EQ(read_file(dir.file("off.png")).substr(1, 3), "PNG");
}

// --format names every output it picks by the name's ending.
TEST(ReplayMessagesCliTest, HelpNamesEveryFormatChosenByName) {
    const tool_io_result_t run = run_tool_io({"--help"});
    ASSERT_EQ(run.status, 0);
    std::istringstream lines(run.out);
    std::string line;
    std::string format_line;
    while (std::getline(lines, line)) {
        if (line.find("--format") != std::string::npos) {
            format_line = line;
        }
    }
    for (const char* ending : {".png", ".gif", ".apng", "BMP"}) {
        EXPECT_NE(format_line.find(ending), std::string::npos) << ending << " in " << format_line;
    }
}

} // namespace
