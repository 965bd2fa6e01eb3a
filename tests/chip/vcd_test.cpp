// The VCD reader on whole dumps: what it reports for the watched bits, how it names signals,
// and the one line it gives for a malformed dump.
#include "chip/vcd.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace vimbra;

namespace {

struct watch_spec_t {
    const char* name;
    int slot;
};

struct seen_t {
    std::vector<watch_spec_t> watches;
    std::vector<std::string> steps; // "time:changed/levels/fresh" in hex masks
    std::vector<std::string> names;
    bool unresolved = false;
};

int on_header(vcd_reader_t* reader, void* ctx) {
    auto* seen = static_cast<seen_t*>(ctx);
    for (int i = 0; i < vcd_signal_count(reader); ++i) {
        seen->names.emplace_back(vcd_signal_name(reader, i));
    }
    for (const watch_spec_t& w : seen->watches) {
        int signal = 0;
        int bit = 0;
        if (vcd_find(reader, w.name, &signal, &bit) != 0 ||
            vcd_watch(reader, signal, bit, w.slot) != 0) {
            seen->unresolved = true;
        }
    }
    return 0;
}

int on_step(const vcd_step_t* step, void* ctx) {
    char text[96];
    std::snprintf(text, sizeof text, "%lld:%x/%x/%x", static_cast<long long>(step->time_ps),
                  step->changed, step->levels, step->fresh);
    static_cast<seen_t*>(ctx)->steps.emplace_back(text);
    return 0;
}

// Reads `text` in pieces of `piece` bytes; the status of the finish (or of the failing feed).
int read_all(const std::string& text, std::size_t piece, seen_t* seen, std::string* message,
             std::uint64_t* unknown = nullptr) {
    const vcd_callbacks_t callbacks{on_header, on_step, seen};
    vcd_reader_t* reader = vcd_open(&callbacks);
    int status = VCD_OK;
    for (std::size_t i = 0; i < text.size() && status == VCD_OK; i += piece) {
        status = vcd_feed(reader, text.data() + i, std::min(piece, text.size() - i));
    }
    if (status == VCD_OK) {
        status = vcd_finish(reader);
    }
    *message = vcd_message(reader);
    if (unknown != nullptr) {
        *unknown = vcd_unknown_count(reader);
    }
    vcd_close(reader);
    return status;
}

std::string repeated(const std::string& text, int times) {
    std::string out;
    out.reserve(text.size() * static_cast<std::size_t>(times));
    for (int i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

const std::string HEADER = "$date today $end\n"
                           "$timescale 1ns $end\n"
                           "$scope module top $end\n"
                           "$var wire 1 ! e $end\n"
                           "$var wire 4 \" d [7:4] $end\n"
                           "$upscope $end\n"
                           "$enddefinitions $end\n";

TEST(VcdTest, ReportsEachInstantOfTheWatchedBits) {
    struct case_t {
        const char* what;
        std::string text;
        std::vector<watch_spec_t> watches;
        std::vector<std::string> steps;
    };
    const std::vector<case_t> cases = {
        {"scalar and vector bits; first values are fresh",
         HEADER + "$dumpvars 0! b0000 \" $end\n#10\n1!\n#20\n0!\nb1010 \"\n",
         {{"e", 0}, {"d[5]", 1}, {"d[7]", 2}},
         {"0:0/0/7", "10000:1/1/0", "20000:7/6/0"}},
        {"a change and its undoing in one instant is no change",
         HEADER + "#0\n0!\n#5\n1!\n0!\n#6\n1!\n",
         {{"e", 0}},
         {"0:0/0/1", "6000:1/1/0"}},
        {"x and z read low; short vectors pad with 0, x pads with x",
         HEADER + "#0\nb1111 \"\n#1\nbx1 \"\n#2\nb1 \"\n",
         {{"d[4]", 0}, {"d[7]", 1}},
         {"0:3/3/3", "1000:2/1/0"}},
        {"timescale 10 us; a comment and dumpoff's values are ignored",
         "$timescale 10 us $end $var wire 1 ! e $end $enddefinitions $end\n"
         "#0 1! #3 $comment 0! $end $dumpoff x! $end #4 0!\n",
         {{"e", 0}},
         {"0:1/1/1", "40000000:1/0/0"}},
        {"femtoseconds round down to picoseconds",
         "$timescale 100fs $end $var wire 1 ! e $end $enddefinitions $end #0 0! #25 1!\n",
         {{"e", 0}},
         {"0:0/0/1", "2:1/1/0"}},
        {"an identifier code shared by two scopes drives both names",
         "$scope module a $end $var wire 1 % clk $end $upscope $end "
         "$scope module b $end $var wire 1 % clk $end $upscope $end $enddefinitions $end "
         "#0 0% #7 1%\n",
         {{"a.clk", 0}, {"b.clk", 1}},
         {"0:0/0/3", "7000:3/3/0"}},
        {"long identifier codes and an ascending range",
         "$var wire 1 abc e $end $var reg 2 {{ q [0:1] $end $enddefinitions $end "
         "#0 0abc b10 {{ #1 1abc\n",
         {{"e", 0}, {"q[0]", 1}, {"q[1]", 2}},
         {"0:2/2/7", "1000:1/3/0"}},
    };
    for (const case_t& c : cases) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
            seen_t seen;
            seen.watches = c.watches;
            std::string message;
            EXPECT_EQ(read_all(c.text, piece, &seen, &message), VCD_OK) << c.what << message;
            EXPECT_FALSE(seen.unresolved) << c.what;
            EXPECT_EQ(seen.steps, c.steps) << c.what << " in pieces of " << piece;
        }
    }
}

TEST(VcdTest, NamesSignalsByTheirLastPartUnlessThatIsShared) {
    const std::string text = "$scope module top $end $scope module lcd $end "
                             "$var wire 1 ! e $end $var wire 1 \" rs $end $upscope $end "
                             "$scope module led $end $var wire 1 # e $end $upscope $end "
                             "$var wire 8 $ bus $end $var wire 1 % data[2] $end "
                             "$upscope $end $enddefinitions $end";
    seen_t seen;
    seen.watches = {{"top.lcd.e", 0}, {"bus[7]", 1}, {"data[2]", 2}, {"rs", 3}};
    std::string message;
    ASSERT_EQ(read_all(text, 1000, &seen, &message), VCD_OK) << message;
    EXPECT_EQ(seen.names,
              (std::vector<std::string>{"top.lcd.e", "rs", "top.led.e", "bus", "data[2]"}));
    EXPECT_FALSE(seen.unresolved);
    for (const char* missing : {"e", "bus", "bus[8]", "nothing", "data"}) {
        seen_t other;
        other.watches = {{missing, 0}};
        read_all(text, 1000, &other, &message);
        EXPECT_TRUE(other.unresolved) << missing;
    }
}

// Signals of one identifier code are one: their watches all follow it, however many there
// are and wherever they were watched. A name on two codes is ambiguous and found as none.
TEST(VcdTest, FindsSignalsThroughAliasesAndRefusesTwoOfOneName) {
    std::string text = "$scope module top $end $scope module lcd $end "
                       "$var wire 1 ! rs $end $var wire 1 # e $end $var wire 2 & d [1:0] $end "
                       "$upscope $end $scope module bus $end $var wire 1 ! rs $end "
                       "$var wire 1 $ e $end $var wire 2 % d [1:0] $end $upscope $end ";
    for (int i = 0; i < 1000; ++i) { // the same wire under a thousand names
        text += "$var wire 1 ! a" + std::to_string(i) + " $end ";
    }
    text += "$upscope $end $var wire 1 \" rs $end $var wire 1 ' rs $end $enddefinitions $end\n"
            "#0 0! 0# b00 & b00 % 0$ 0\" 0'\n#1 1! 1# b11 &\n";
    struct case_t {
        std::vector<watch_spec_t> watches;
        std::string step; // the last step; empty when a name is not found
    };
    // d of lcd is & (11 at #1), d of bus is % (00 throughout); e of bus never changes.
    const std::vector<case_t> cases = {
        {{{"top.lcd.rs", 0}, {"top.bus.rs", 1}, {"top.a999", 2}}, "1000:7/7/0"},
        {{{"top.lcd.e", 0}, {"top.bus.e", 1}}, "1000:1/1/0"},
        {{{"top.lcd.d[1]", 0}, {"top.bus.d[0]", 1}}, "1000:1/1/0"},
        {{{"rs", 0}}, ""}, // two codes at the top
        {{{"e", 0}}, ""},  // shared: only by its path
        {{{"top.lcd", 0}}, ""},
        {{{"top.lcd.rs.x", 0}}, ""},
        {{{"op.lcd.rs", 0}}, ""},
    };
    for (const case_t& c : cases) {
        seen_t seen;
        seen.watches = c.watches;
        std::string message;
        ASSERT_EQ(read_all(text, 100, &seen, &message), VCD_OK) << message;
        EXPECT_EQ(seen.unresolved, c.step.empty()) << c.watches[0].name;
        EXPECT_EQ(seen.steps.empty() ? "" : seen.steps.back(), c.step) << c.watches[0].name;
    }
}

TEST(VcdTest, CountsUnknownValuesOfWatchedBits) {
    seen_t seen;
    seen.watches = {{"e", 0}};
    std::string message;
    std::uint64_t unknown = 0;
    // d is not watched: its x values do not count.
    ASSERT_EQ(
        read_all(HEADER + "#0 x! bxxxx \" #1 1! #2 z! #3 Z!\n", 64, &seen, &message, &unknown),
        VCD_OK);
    EXPECT_EQ(unknown, 3u);
}

TEST(VcdTest, RefusesMalformedDumpsNamingTheLine) {
    const std::string long_line = "$comment " + std::string(1 << 20, 'c') + " $end\n";
    struct case_t {
        std::string text;
        std::string message;
    };
    const std::vector<case_t> cases = {
        {"$date\n today\n$end\n$var wire 1 ! e $end\n",
         "line 5: the header ends without $enddefinitions"},
        {"$var wire 1 ! e $end\n$enddefinitions $end\n#0\n1!\n1?\n",
         "line 5: unknown identifier code '?'"},
        {HEADER + "#10\n1!\n#9\n0!\n", "line 10: time goes backwards: #9 after #10"},
        {HEADER + "#0\n#9223372036854775808\n",
         "line 9: time stamp beyond 2^63: '#9223372036854775808'"},
        {HEADER + "#9223372036854775807\n",
         "line 8: time #9223372036854775807 is beyond 2^63 picoseconds (about 106 days)"},
        {HEADER + long_line, "line 8: longer than 65536 bytes"},
        {"$timescale 3 ns $end\n", "line 1: $timescale: not 1, 10 or 100 of a unit: '3ns'"},
        {"$timescale 1 hours $end\n",
         "line 1: $timescale: unknown unit 'hours' (s, ms, us, ns, ps, fs)"},
        {"$var wire 1 ! $end\n", "line 1: $var needs a type, a width, a code and a name"},
        {"$var wire 0 ! e $end\n", "line 1: $var e: bad width '0'"},
        {"$var wire 4 ! d [3:1] $end\n", "line 1: $var d[3:1]: the range does not match width 4"},
        {"wire\n", "line 1: 'wire' in the header, where a $ keyword belongs"},
        {HEADER + "#1\nb102 \"\n", "line 9: bad vector value 'b102'"},
        {HEADER + "#1\n1\n", "line 9: value '1' without an identifier code"},
        {HEADER + "#1x\n", "line 8: bad time stamp '#1x'"},
        {HEADER + "#1\nhello\n", "line 9: unexpected 'hello'"},
        {HEADER + "#1\nb1 ", "line 9: a value without its identifier code"},
        {HEADER + "$dumpvars 0!\n", "line 9: a section without $end"},
        // A definition that runs into the next keyword, with any line end.
        {"$scope module lcd $end\n$var wire 1 ! rs\n$upscope $end\n",
         "line 3: $var: '$upscope' before $end"},
        {"$scope module lcd\r$var wire 1 ! rs $end\r", "line 2: $scope: '$var' before $end"},
        {"$timescale 1ns\r\n$enddefinitions $end\r\n",
         "line 2: $timescale: '$enddefinitions' before $end"},
        {HEADER + "#1\r\n\r\n#0\r\n", "line 10: time goes backwards: #0 after #1"},
        // Words are shown escaped and shortened, never with their control bytes.
        {HEADER + "#1\nh\x01\x7f" + std::string(1, '\0') + "llo\n",
         "line 9: unexpected 'h\\x01\\x7F\\x00llo'"},
        {HEADER + "#1\n" + std::string(100, 'w') + "\n",
         "line 9: unexpected '" + std::string(40, 'w') + "...'"},
        // The header's bounds.
        {repeated("$scope module m $end\n", 1001), "line 1001: scopes nested deeper than 1000"},
        {repeated("$var wire 1 ! s $end\n", VCD_MAX_SIGNALS + 1),
         "line 250001: more than 250000 signals"},
        {repeated("$comment " + std::string(60000, 'c') + " $end\n", 300),
         "line 280: a header of more than 16 MiB"},
    };
    for (const case_t& c : cases) {
        seen_t seen;
        std::string message;
        EXPECT_EQ(read_all(c.text, 4096, &seen, &message), VCD_MALFORMED) << c.message;
        EXPECT_EQ(message, c.message);
    }
}

// Stamps of every length and codes at both ends of the one- and two-character range, cut at
// every place: pieces of 1 to 40 bytes and whole.
TEST(VcdTest, ReadsLongStampsAndShortCodesCutAnywhere) {
    const std::string header = "$timescale 1ps $end\n"
                               "$var wire 1 ! a $end\n$var wire 1 ~ b $end\n"
                               "$var wire 1 !! c $end\n$var wire 1 ~~ d $end\n"
                               "$var wire 1 \" unwatched $end\n$enddefinitions $end\n";
    const std::string body = "#0\n0!\n0~\n0!!\n0~~\n0\"\n"
                             "#7\n1!\n#8\n1\"\n"
                             "#12345678\n1~\n"
                             "#123456789\n1!!\n"
                             "#1234567890123456\n1~~\n"
                             "#12345678901234567\n0!\n"
                             "#123456789012345678\n0~\n"
                             "#1234567890123456789\n1~\n"
                             "#01234567890123456789\n0\"\n";
    const std::vector<std::string> all = {"0:0/0/f",
                                          "7:1/1/0",
                                          "12345678:2/3/0",
                                          "123456789:4/7/0",
                                          "1234567890123456:8/f/0",
                                          "12345678901234567:1/e/0",
                                          "123456789012345678:2/c/0",
                                          "1234567890123456789:2/e/0"};
    std::string crlf;
    for (char c : body) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    struct case_t {
        const char* what;
        std::string text;
        int status;
        std::vector<std::string> steps; // when read
        std::string message;            // when refused
    };
    const std::vector<case_t> cases = {
        {"line ends", header + body, VCD_OK, all, ""},
        {"carriage returns and spaces",
         header + crlf + "#1234567890123456790 1! 0~ \t#1234567890123456791 0!  ", VCD_OK,
         [&] {
             std::vector<std::string> more = all;
             more.emplace_back("1234567890123456790:3/d/0");
             more.emplace_back("1234567890123456791:1/c/0");
             return more;
         }(),
         ""},
        {"a long stamp going back",
         header + "#123456789012\n1!\n#123456789011\n",
         VCD_MALFORMED,
         {"0:0/1/1"},
         "line 10: time goes backwards: #123456789011 after #123456789012"},
        {"a letter among sixteen digits",
         header + "#0\n#12345678x9012345\n",
         VCD_MALFORMED,
         {},
         "line 9: bad time stamp '#12345678x9012345'"},
        {"a short code past the table",
         header + "#0\n1!!!\n",
         VCD_MALFORMED,
         {},
         "line 9: unknown identifier code '!!!'"},
        {"a change of an unknown short code",
         header + "#0\n1~!\n",
         VCD_MALFORMED,
         {},
         "line 9: unknown identifier code '~!'"},
        {"a change ending a line of 65536 bytes",
         header + std::string(65534, ' ') + "1!\n#5\n",
         VCD_OK,
         {"0:1/1/1"},
         ""},
        {"a change ending a line of 65537 bytes",
         header + std::string(65535, ' ') + "1!\n#5\n",
         VCD_MALFORMED,
         {},
         "line 8: longer than 65536 bytes"},
        {"a stamp ending a line of 65537 bytes",
         header + "#0 " + std::string(65525, ' ') + "#123456789\n",
         VCD_MALFORMED,
         {},
         "line 8: longer than 65536 bytes"},
    };
    std::vector<std::size_t> pieces;
    for (std::size_t piece = 1; piece <= 40; ++piece) {
        pieces.push_back(piece);
    }
    pieces.push_back(1 << 20);
    for (const case_t& c : cases) {
        for (std::size_t piece : pieces) {
            seen_t seen;
            seen.watches = {{"a", 0}, {"b", 1}, {"c", 2}, {"d", 3}};
            std::string message;
            ASSERT_EQ(read_all(c.text, piece, &seen, &message), c.status)
                << c.what << " in pieces of " << piece << ": " << message;
            if (c.status == VCD_OK) {
                ASSERT_EQ(seen.steps, c.steps) << c.what << " in pieces of " << piece;
            } else {
                ASSERT_EQ(message, c.message) << c.what << " in pieces of " << piece;
            }
        }
    }
}

struct report_t {
    std::uint32_t rises;
    std::uint32_t falls;
    bool all;
    bool batch;
    long stop_at; // the client stops at this step (counting from 0); -1: never
};

struct reported_t {
    report_t report{};
    std::vector<std::string> steps; // "time:changed/levels/fresh<before"
};

int on_reported_header(vcd_reader_t* reader, void* ctx) {
    const auto* seen = static_cast<reported_t*>(ctx);
    int signal = 0;
    int bit = 0;
    for (const auto& [name, slot] : {std::pair{"e", 0}, std::pair{"rs", 1}}) {
        if (vcd_find(reader, name, &signal, &bit) == 0) {
            vcd_watch(reader, signal, bit, slot);
        }
    }
    if (!seen->report.all) {
        vcd_report(reader, seen->report.rises, seen->report.falls);
    }
    return 0;
}

int on_reported(const vcd_step_t* step, void* ctx) {
    auto* seen = static_cast<reported_t*>(ctx);
    if (static_cast<long>(seen->steps.size()) == seen->report.stop_at) {
        seen->steps.emplace_back("stop");
        return 1;
    }
    char text[96];
    std::snprintf(text, sizeof text, "%lld:%x/%x/%x<%x", static_cast<long long>(step->time_ps),
                  step->changed, step->levels, step->fresh, step->before);
    seen->steps.emplace_back(text);
    return 0;
}

int on_reported_run(const vcd_step_t* steps, std::size_t count, void* ctx) {
    EXPECT_GT(count, 0u);
    for (std::size_t i = 0; i < count; ++i) {
        if (on_reported(&steps[i], ctx) != 0) {
            return 1;
        }
    }
    return 0;
}

int read_reported(const std::string& text, std::size_t piece, reported_t* seen,
                  std::string* message) {
    const vcd_callbacks_t callbacks{on_reported_header, on_reported, seen};
    vcd_reader_t* reader = vcd_open(&callbacks);
    if (seen->report.batch) {
        vcd_batch(reader, on_reported_run);
    }
    int status = VCD_OK;
    for (std::size_t i = 0; i < text.size() && status == VCD_OK; i += piece) {
        status = vcd_feed(reader, text.data() + i, std::min(piece, text.size() - i));
    }
    if (status == VCD_OK) {
        status = vcd_finish(reader);
    }
    *message = vcd_message(reader);
    vcd_close(reader);
    return status;
}

std::vector<std::size_t> every_piece() {
    std::vector<std::size_t> pieces;
    for (std::size_t piece = 1; piece <= 64; ++piece) {
        pieces.push_back(piece);
    }
    pieces.push_back(1 << 20);
    return pieces;
}

// Instants given only where the slots asked for rose or fell, each with what held before
// it; a pulse within one instant is no edge. One by one and in runs, cut anywhere.
TEST(VcdTest, GivesOnlyTheInstantsAskedForWithTheLevelsBefore) {
    const std::string text = "$timescale 1ns $end $var wire 1 ! e $end $var wire 1 \" rs $end "
                             "$enddefinitions $end\n"
                             "#0\n0!\n0\"\n#10\n1\"\n#20\n1!\n#30\n0!\n#40\n0\"\n"
                             "#50\n1!\n0\"\n#60\n0!\n1\"\n#70\n1!\n0!\n#80\n";
    struct case_t {
        const char* what;
        report_t report;
        std::vector<std::string> steps;
    };
    const std::vector<case_t> cases = {
        {"every instant",
         {0, 0, true, false, -1},
         {"0:0/0/3<0", "10000:2/2/0<0", "20000:1/3/0<2", "30000:1/2/0<3", "40000:2/0/0<2",
          "50000:1/1/0<0", "60000:3/2/0<1"}},
        {"falls of e", {0, 1, false, false, -1}, {"30000:1/2/0<3", "60000:3/2/0<1"}},
        {"rises of rs", {2, 0, false, false, -1}, {"10000:2/2/0<0", "60000:3/2/0<1"}},
        {"rises of e and falls of rs",
         {1, 2, false, false, -1},
         {"20000:1/3/0<2", "40000:2/0/0<2", "50000:1/1/0<0"}},
        {"nothing", {0, 0, false, false, -1}, {}},
        {"falls of e in runs", {0, 1, false, true, -1}, {"30000:1/2/0<3", "60000:3/2/0<1"}},
        {"every instant in runs",
         {0, 0, true, true, -1},
         {"0:0/0/3<0", "10000:2/2/0<0", "20000:1/3/0<2", "30000:1/2/0<3", "40000:2/0/0<2",
          "50000:1/1/0<0", "60000:3/2/0<1"}},
    };
    for (const case_t& c : cases) {
        for (std::size_t piece : every_piece()) {
            reported_t seen;
            seen.report = c.report;
            std::string message;
            ASSERT_EQ(read_reported(text, piece, &seen, &message), VCD_OK) << c.what << message;
            ASSERT_EQ(seen.steps, c.steps) << c.what << " in pieces of " << piece;
        }
    }
}

// A client that stops is given no later step, in runs as one by one, and the steps before a
// refusal reach it first.
TEST(VcdTest, StopsWhereTheClientStopsAndGivesTheStepsBeforeARefusal) {
    const std::string text = "$var wire 1 ! e $end $enddefinitions $end\n"
                             "#1\n1!\n#2\n0!\n#3\n1!\n#4\n0!\n#5\n1!\n#6\nhello\n";
    const std::vector<std::string> all = {"1000:1/1/1<0", "2000:1/0/0<1", "3000:1/1/0<0",
                                          "4000:1/0/0<1", "5000:1/1/0<0"};
    for (bool batch : {false, true}) {
        for (long stop_at = 0; stop_at <= 5; ++stop_at) {
            for (std::size_t piece : every_piece()) {
                reported_t seen;
                seen.report = report_t{0, 0, true, batch, stop_at};
                std::string message;
                const int status = read_reported(text, piece, &seen, &message);
                std::vector<std::string> expected(all.begin(), all.begin() + stop_at);
                if (stop_at < 5) {
                    expected.emplace_back("stop");
                    EXPECT_EQ(status, VCD_STOPPED) << stop_at << " in pieces of " << piece;
                } else {
                    EXPECT_EQ(status, VCD_MALFORMED);
                    EXPECT_EQ(message, "line 13: unexpected 'hello'");
                }
                ASSERT_EQ(seen.steps, expected)
                    << stop_at << (batch ? " in runs" : " one by one") << " in pieces of " << piece;
            }
        }
    }
}

// Stamps of one length after another, longer and shorter ones, equal values written
// differently, the longest read by their digits, limits of coarse and fine time scales and
// other line ends, cut anywhere.
TEST(VcdTest, ReadsStampsByTheirDigitsCutAnywhere) {
    const auto header = [](const char* scale) {
        return std::string("$timescale ") + scale +
               " $end $var wire 1 ! a $end $enddefinitions $end\n";
    };
    struct case_t {
        const char* what;
        std::string text;
        std::vector<std::string> steps;
        std::string message; // empty: read
    };
    const std::vector<case_t> cases = {
        {"one length, then longer, then shorter and back",
         header("1ps") + "#100\n1!\n#100\n0!\n#101\n1!\n#999\n0!\n#1000\n1!\n#998\n",
         {"100:0/0/1", "101:1/1/0", "999:1/0/0"},
         "line 12: time goes backwards: #998 after #1000"},
        {"one length and back",
         header("1ps") + "#1234\n1!\n#1233\n",
         {},
         "line 4: time goes backwards: #1233 after #1234"},
        {"leading zeros",
         header("1ps") + "#5\n1!\n#05\n0!\n#6\n1!\n#0006\n#7\n0!\n#10\n",
         {"5:0/0/1", "6:1/1/0", "7:1/0/0"},
         ""},
        {"fifteen and sixteen digits",
         header("1ps") + "#999999999999999\n1!\n#1000000000000000\n0!\n#1000000000000001\n1!\n"
                         "#1000000000000001\n",
         {"999999999999999:1/1/1", "1000000000000000:1/0/0", "1000000000000001:1/1/0"},
         ""},
        {"the last stamp of a coarse time scale",
         header("100 s") + "#9999\n1!\n#92233\n0!\n#92234\n",
         {"999900000000000000:1/1/1"},
         "line 6: time #92234 is beyond 2^63 picoseconds (about 106 days)"},
        {"femtoseconds falling in one picosecond",
         header("1 fs") + "#1000\n1!\n#1999\n0!\n#2000\n1!\n#2001\n",
         {"1:0/0/1", "2:1/1/0"},
         ""},
        {"carriage returns and blanks after stamps",
         header("1ps") + "#10\r\n1!\r\n#11 0!\n#12\t1!\n#13\n",
         {"10:1/1/1", "11:1/0/0", "12:1/1/0"},
         ""},
        {"a letter in a stamp as long as the last",
         header("1ps") + "#1234\n1!\n#12x4\n0!\n",
         {},
         "line 4: bad time stamp '#12x4'"},
    };
    for (const case_t& c : cases) {
        for (std::size_t piece : every_piece()) {
            seen_t seen;
            seen.watches = {{"a", 0}};
            std::string message;
            const int status = read_all(c.text, piece, &seen, &message);
            ASSERT_EQ(status, c.message.empty() ? VCD_OK : VCD_MALFORMED)
                << c.what << " in pieces of " << piece << ": " << message;
            if (!c.message.empty()) {
                ASSERT_EQ(message, c.message) << c.what << " in pieces of " << piece;
            }
            ASSERT_EQ(seen.steps, c.steps) << c.what << " in pieces of " << piece;
        }
    }
}

TEST(VcdTest, TellsADumpFromACommandLog) {
    EXPECT_TRUE(vcd_sniff("$date x $end", 12));
    EXPECT_TRUE(vcd_sniff("\n\t $timescale", 13));
    EXPECT_FALSE(vcd_sniff("# a log\ncmd 0x01\n", 17));
    EXPECT_FALSE(vcd_sniff("   ", 3));
    EXPECT_FALSE(vcd_sniff("init", 4));
}

} // namespace

// Each instant names the line of its own time stamp, however the reading is cut and whichever
// way a stamp is read (by its digits, as a number, or with blanks after it).
TEST(VcdTest, NamesTheLineOfEachInstantsStamp) {
    const std::string text = "$timescale 1ns $end\n$var wire 1 ! e $end\n$enddefinitions $end\n"
                             "#0\n1!\n#5\n0!\n#7\n1!\n"           // lines 4, 6 and 8
                             "#1234567\n0!\n#1234568 1!\n"        // lines 10 and 12
                             "#1234569\r\n0!\r\n#20000000\n1!\n"; // lines 13 and 15
    const std::vector<std::string> want = {"0@4",           "5000@6",        "7000@8",
                                           "1234567000@10", "1234568000@12", "1234569000@13",
                                           "20000000000@15"};
    for (std::size_t piece : every_piece()) {
        std::vector<std::string> seen;
        const vcd_callbacks_t callbacks{[](vcd_reader_t* reader, void*) {
                                            int signal = 0;
                                            int bit = 0;
                                            return vcd_find(reader, "e", &signal, &bit) != 0
                                                       ? 1
                                                       : vcd_watch(reader, signal, bit, 0);
                                        },
                                        [](const vcd_step_t* step, void* ctx) {
                                            static_cast<std::vector<std::string>*>(ctx)->push_back(
                                                std::to_string(step->time_ps) + "@" +
                                                std::to_string(step->line));
                                            return 0;
                                        },
                                        &seen};
        vcd_reader_t* reader = vcd_open(&callbacks);
        int status = VCD_OK;
        for (std::size_t i = 0; i < text.size() && status == VCD_OK; i += piece) {
            status = vcd_feed(reader, text.data() + i, std::min(piece, text.size() - i));
        }
        EXPECT_EQ(status == VCD_OK ? vcd_finish(reader) : status, VCD_OK) << vcd_message(reader);
        vcd_close(reader);
        EXPECT_EQ(seen, want) << "in pieces of " << piece;
    }
}
