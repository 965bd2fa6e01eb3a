// Inputs and options that used to be taken wrongly or said unclearly: each gets one line that
// says what is wrong (or what is ignored), and its status.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/tool_runner.hpp"
#include "support/temp_dir.hpp"


namespace {

const std::string HELP = "\nRun 'vimbracli --help' for usage.\n";
const std::string NO_E = "no falling edge of E: the display stays as reset left it\n";

// A parallel bus with no byte on it, and an I2C bus with no transfer.
const std::string PARALLEL = "$timescale 1ns $end\n$var wire 1 ! rs $end\n$var wire 1 \" e $end\n"
                             "$var wire 1 # d4 $end\n$var wire 1 $ d5 $end\n"
                             "$var wire 1 % d6 $end\n$var wire 1 & d7 $end\n"
                             "$enddefinitions $end\n#0\n0! 0\" 0# 0$ 0% 0&\n#1000\n";
const std::string I2C = "$timescale 1ns $end\n$var wire 1 ! sda $end\n$var wire 1 \" scl $end\n"
                        "$enddefinitions $end\n#0\n1! 1\"\n";

// Data bytes on an 8-bit bus at `count` different microseconds, 40 us apart (the chip takes
// each), then a line no dump has.
std::string many_moments(int count) {
    std::string text = "$timescale 1ns $end\n$var wire 1 ! rs $end\n$var wire 1 \" e $end\n"
                       "$var wire 8 # d [7:0] $end\n$enddefinitions $end\n#0\n1! 0\" b01000001 #\n";
    for (long long i = 1; i <= count + 1; ++i) {
        text += '#';
        text += std::to_string(i * 40000);
        if (i > count) {
            break;
        }
        text += "\n1\"\n#";
        text += std::to_string(i * 40000 + 1000);
        text += "\n0\"\n";
    }
    return text + "\nhello\n";
}

// The text with every line feed a carriage return.
std::string crs(std::string text) {
    for (char& c : text) {
        c = c == '\n' ? '\r' : c;
    }
    return text;
}

// A log of `count` data bytes 40 us apart, each taken under chip timing.
std::string long_log(int count) {
    std::string text = "cmd 0x38\nwait 40us\ncmd 0x0C\nwait 40us\n";
    for (int i = 0; i < count; ++i) {
        text += "data 0x41\nwait 40us\n";
    }
    return text;
}

struct unclear_case_t {
    const char* what;
    std::vector<std::string> args; // @T the parallel trace, @I the I2C one, @L the log, @V
                                    // the trace of the case, @D a folder, @O an output
    std::string trace;              // the text of "V"
    int status;
    std::string err; // the whole of standard error, with the files as in `args`
};

TEST(UnclearInputCliTest, EachGetsOneClearLine) {
    const std::string long_name(10000, 'm');
    const std::vector<unclear_case_t> cases{
        // Numbers that are none are refused as such, NaN and infinity included.
        {"NaN volts", {"--replay", "@T", "--text", "--vcc", "nan"}, "", 2,
         "vimbracli: --vcc: not a number: 'nan'" + HELP},
        {"hex volts", {"--replay", "@T", "--text", "--vcc", "0x5"}, "", 2,
         "vimbracli: --vcc: not a number: '0x5'" + HELP},
        {"letters for kHz", {"--replay", "@T", "--text", "--fosc", "abc"}, "", 2,
         "vimbracli: --fosc: not a number: 'abc'" + HELP},
        {"a fraction of kHz", {"--replay", "@T", "--text", "--fosc", "1e3"}, "", 2,
         "vimbracli: --fosc: not a whole number: '1e3'" + HELP},
        {"a scale that is no number", {"--text", "--scale", "two", "x"}, "", 2,
         "vimbracli: --scale: not a number: 'two'" + HELP},
        // Flags take no value.
        {"power-on -1", {"--replay", "@T", "--text", "--power-on=-1"}, "", 2,
         "vimbracli: --power-on takes no value: '-1'" + HELP},
        {"power-on 40ms", {"--replay", "@T", "--text", "--power-on=40ms"}, "", 2,
         "vimbracli: --power-on takes no value: '40ms'" + HELP},
        {"text=0", {"--text=0", "-o", "@D/x.bmp", "x"}, "", 2,
         "vimbracli: --text takes no value: '0'" + HELP},
        // Options the kind of input ignores: one warning each, the run goes on.
        {"trace options on a log",
         {"--replay", "@L", "--text", "--pins", "rs=a,e=b,d4=c,d5=d,d6=e,d7=f", "--i2c-address",
          "0x27", "--wiring", "0 1 2 3 4 5 6 7", "--vcc", "3.3", "--fosc", "190"},
         "", 0,
         "@L: --pins ignored: a command log has no signals\n"
         "@L: --i2c-address ignored: a command log has no I2C bus\n"
         "@L: --wiring ignored: a command log has no I2C bus\n"
         "@L: --vcc ignored: a command log has no bus times\n"
         "@L: --fosc ignored: under --timing ideal only --check-timing judges the busy times\n"},
        {"backpack options on a parallel trace",
         {"--replay", "@T", "--text", "--i2c-address", "0x27", "--wiring", "0 1 2 3 4 5 6 7"}, "", 0,
         "@T: " + NO_E + "@T: --i2c-address ignored: the trace is read as a parallel bus\n"
         "@T: --wiring ignored: the trace is read as a parallel bus\n"},
        {"judging options without --check-timing",
         {"--replay", "@T", "--text", "--power-on", "--vcc", "3.3"}, "", 0,
         "@T: --vcc ignored: only --check-timing judges the bus times\n"
         "@T: --power-on ignored: only --check-timing judges the first cycle\n@T: " + NO_E},
        {"parallel pins on an I2C trace", {"--replay", "@I", "--text", "--pins", "sda=sda,scl=scl,rs=x"},
         "", 0,
         "@I: --pins: rs ignored: the trace is read as an I2C bus (sda, scl)\n"
         "@I: no byte written to the display's I2C address: it stays as reset left it\n"},
        // Two signals of one name, on different codes.
        {"two signals called rs",
         {"--replay", "@V", "--text"},
         "$var wire 1 ! rs $end $var wire 1 # rs $end $var wire 1 \" e $end "
         "$var wire 4 $ d [7:4] $end $enddefinitions $end #0 0! 0# 0\" b0000 $\n",
         2,
         "vimbracli: @V: --pins: rs: two signals are called 'rs', on codes '!' and '#' (give one "
         "by its path or rename one)\n"},
        // --at that is no time, on a trace that has no marks.
        {"nanoseconds", {"--replay", "@T", "--text", "--at", "1.5ns"}, "", 2,
         "@T: --at: not a time: '1.5ns' (whole microseconds up to 2^50 us, e.g. 1.5s, 250ms, "
         "40us); a trace has no marks\n"},
        {"beyond 2^63 microseconds",
         {"--replay", "@T", "--text", "--at", "9223372036854775808us"}, "", 2,
         "@T: --at: not a time: '9223372036854775808us' (whole microseconds up to 2^50 us, e.g. "
         "1.5s, 250ms, 40us); a trace has no marks\n"},
        {"a huge name", {"--replay", "@L", "--text", "--at", long_name}, "", 2,
         "vimbracli: --at: not a time or a mark name: '" + std::string(40, 'm') +
             "...' (e.g. 1.5s, 250ms, 40us, or a mark such as main-menu)" + HELP},
        // Names from inputs are escaped and shortened.
        {"control bytes and a NUL in signal names",
         {"--replay", "@V", "--text", "--pins", "rs=nope,e=r,d4=a,d5=b,d6=c,d7=d"},
         std::string("$var wire 1 ! r\x01s\n $end $var wire 1 \" a") + '\0' + "b $end "
             "$var wire 1 # " + std::string(100, 'x') + " $end $enddefinitions $end\n",
         2,
         "vimbracli: @V: --pins: the trace has no signal 'nope' (its signals: r\\x01s, a\\x00b, "
         "..." + std::string(40, 'x') + ")\n"},
        {"a control byte in a profile's script path", {"-p", "@V", "--text", "x"},
         "SCRIPT /missing\x01" "folder/s.bas\n", 0, "/missing\\x01folder/s.bas: Script read failed.\n"},
        {"a definition without $end",
         {"--replay", "@V", "--text"},
         "$scope module lcd $end\n$var wire 1 ! rs\n$upscope $end\n$enddefinitions $end\n", 2,
         "@V: line 3: $var: '$upscope' before $end\n"},
        // Line ends of every kind count.
        {"CR alone in a dump", {"--replay", "@V", "--text"}, crs(PARALLEL) + "#2000\r#1999\r", 2,
         "@V: line 13: time goes backwards: #1999 after #2000\n"},
        {"CR alone in a log", {"--replay", "@V", "--text"}, "cmd 0x38\rcmd 0x0C\rdata 0x4G\r", 2,
         "@V: line 3: not a number: '0x4G'\n"},
        // A folder for the decoded log.
        {"a folder for --emit-log", {"--replay", "@T", "--text", "--emit-log", "@D/"}, "", 3,
         "@T: " + NO_E + "@D/: cannot be written: Is a directory\n"},
        // An animation of a trace stops at its first moment too many: the line after it is
        // never read.
        {"too many moments",
         {"--replay", "@V", "--timing", "ideal", "-o", "@O", "--pins",
          "rs=rs,e=e,d0=d[0],d1=d[1],d2=d[2],d3=d[3],d4=d[4],d5=d[5],d6=d[6],d7=d[7]"},
         many_moments(50010), 3,
         "@O: The log changes the display more than 50000 times, too often for an animation.\n"},
        {"as many moments of a log, for a still", {"--replay", "@V", "--timing", "chip", "--text"},
         long_log(50010), 0, ""},
    };
    const temp_dir_t dir;
    const std::string parallel = dir.write("t.vcd", PARALLEL);
    const std::string i2c = dir.write("i.vcd", I2C);
    const std::string log = dir.write("a.log", "cmd 0x38\ncmd 0x0C\ndata 0x48\n");
    std::filesystem::create_directory(dir.file("logs"));
    const std::vector<std::pair<std::string, std::string>> names{
        {"@T", parallel}, {"@I", i2c}, {"@L", log}, {"@V", dir.file("v.vcd")},
        {"@D", dir.file("logs")}, {"@O", dir.file("out.gif")}};
    const auto named = [&names](std::string text) {
        for (const auto& [token, path] : names) {
            for (std::size_t at = 0; (at = text.find(token, at)) != std::string::npos;
                 at += path.size()) {
                text.replace(at, token.size(), path);
            }
        }
        return text;
    };
    for (const unclear_case_t& c : cases) {
        dir.write("v.vcd", c.trace);
        std::vector<std::string> args;
        for (const std::string& arg : c.args) {
            args.push_back(named(arg));
        }
        const std::string err = named(c.err);
        const tool_io_result_t run = run_tool_io(args);
        EXPECT_EQ(run.status, c.status) << c.what << ": " << run.err;
        EXPECT_EQ(run.err, err) << c.what;
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.gif"))) << c.what;
    }
}

} // namespace
