// Traces replayed as a user runs them: small VCDs of a display's bus, written edge by edge,
// and what the tool shows, names and returns for them.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "cli/tool_runner.hpp"
#include "support/temp_dir.hpp"


namespace {

// A VCD written by hand: a header, then changes at times in nanoseconds.
struct trace_t {
    std::string text;
    long long last = -1;
    explicit trace_t(std::string header) : text(std::move(header)) {}
    trace_t& at(long long ns, const std::string& changes) {
        if (ns != last) {
            text += "#" + std::to_string(ns) + "\n";
            last = ns;
        }
        text += changes + "\n";
        return *this;
    }
};

std::string bits(unsigned value, int count) {
    std::string out;
    for (int i = count - 1; i >= 0; --i) {
        out += ((value >> i) & 1) != 0 ? '1' : '0';
    }
    return out;
}

// Signals named like the lines: rs r, rw w, e E, d[7:4] or d[7:0] as D.
const std::string HEADER4 = "$timescale 1ns $end\n$scope module board $end\n"
                            "$var wire 1 r RS $end\n$var wire 1 w RW $end\n$var wire 1 E e $end\n"
                            "$var wire 4 D d [7:4] $end\n$upscope $end\n$enddefinitions $end\n"
                            "$dumpvars 0r 0w 0E b0000 D $end\n";
const std::string HEADER8 = "$timescale 1ns $end\n"
                            "$var wire 1 r rs $end\n$var wire 1 w rw $end\n$var wire 1 E e $end\n"
                            "$var wire 8 D data [7:0] $end\n$enddefinitions $end\n"
                            "#0\n0r 0w 0E b00000000 D\n";
const std::string PINS4 = "rs=RS,rw=RW,e=e,d4=d[4],d5=d[5],d6=d[6],d7=d[7]";
const std::string PINS8 = "rs=rs,rw=rw,e=e,d0=data[0],d1=data[1],d2=data[2],d3=data[3],"
                          "d4=data[4],d5=data[5],d6=data[6],d7=data[7]";

// One bus cycle starting at `t`: RS, RW and the data lines set, E high 100 ns later for
// 500 ns. Within the datasheet's times at both voltages.
void cycle(trace_t* tr, long long t, bool rs, bool rw, unsigned value, int width,
           const std::string& e = "E") {
    tr->at(t, std::string(rs ? "1" : "0") + "r\n" + (rw ? "1" : "0") + "w\nb" +
                  bits(width == 4 ? value >> 4 : value, width) + " D");
    tr->at(t + 100, "1" + e);
    tr->at(t + 600, "0" + e);
}

// A byte on the 4-bit bus: two cycles 1 us apart.
void byte4(trace_t* tr, long long t, bool rs, unsigned value) {
    cycle(tr, t, rs, false, value, 4);
    cycle(tr, t + 1000, rs, false, (value & 0x0F) << 4, 4);
}

// The entry into 4-bit mode at 50 ms with the datasheet's waits, then 0x28, 0x0C, 0x01 and
// entry mode 0x06; ready for data at 55 ms.
trace_t entry4() {
    trace_t tr(HEADER4);
    const long long starts[] = {50000000, 54200000, 54400000, 54600000};
    const unsigned nibbles[] = {0x30, 0x30, 0x30, 0x20};
    for (int i = 0; i < 4; ++i) {
        cycle(&tr, starts[i], false, false, nibbles[i], 4);
    }
    byte4(&tr, 54700000, false, 0x28);
    byte4(&tr, 54800000, false, 0x0C);
    byte4(&tr, 54900000, false, 0x06);
    byte4(&tr, 55000000, false, 0x01);
    return tr;
}

// Text bytes every 50 us from `t`.
long long text4(trace_t* tr, long long t, const std::string& text) {
    for (unsigned char c : text) {
        byte4(tr, t, true, c);
        t += 50000;
    }
    return t;
}

// I2C to a PCF8574 backpack (usual wiring, backlight on): SCL periods of 10 us.
struct i2c_t {
    trace_t tr{"$timescale 1ns $end\n$var wire 1 s SDA $end\n$var wire 1 c SCL $end\n"
               "$enddefinitions $end\n#0\n1s\n1c\n"};
    long long t = 1000;
    void start() {
        tr.at(t, "0s");
        tr.at(t + 2000, "0c");
        t += 5000;
    }
    void stop() {
        tr.at(t, "0s");
        tr.at(t + 2000, "1c");
        tr.at(t + 4000, "1s");
        t += 10000;
    }
    void clock_bit(bool bit) {
        tr.at(t, bit ? "1s" : "0s");
        tr.at(t + 2500, "1c");
        tr.at(t + 7500, "0c");
        t += 10000;
    }
    void write_byte(unsigned value, bool ack) {
        for (int i = 7; i >= 0; --i) {
            clock_bit(((value >> i) & 1) != 0);
        }
        clock_bit(!ack);
    }
    // One transfer: address (write), then the bytes.
    void transfer(unsigned address, const std::vector<unsigned>& bytes, bool ack = true) {
        start();
        write_byte(address << 1, ack);
        for (unsigned b : bytes) {
            write_byte(b, ack);
        }
        stop();
    }
    // A byte for the display, 4 bits at a time, each nibble with E high then low.
    void display_byte(unsigned address, bool rs, unsigned value, bool ack = true) {
        std::vector<unsigned> bytes;
        for (unsigned nibble : {value & 0xF0, (value & 0x0F) << 4}) {
            const unsigned pins = nibble | 0x08 | (rs ? 0x01 : 0x00);
            bytes.push_back(pins | 0x04);
            bytes.push_back(pins);
        }
        transfer(address, bytes, ack);
    }
    void entry_nibble(unsigned address, unsigned nibble) {
        transfer(address, {nibble | 0x0C, nibble | 0x08});
        t += 5000000;
    }
};

// 8-bit writes (RS, value) at the given times in nanoseconds.
trace_t writes8(const std::vector<std::tuple<long long, bool, unsigned>>& writes) {
    trace_t tr(HEADER8);
    for (const auto& [t, rs, value] : writes) {
        cycle(&tr, t, rs, false, value, 8);
    }
    return tr;
}

class TraceCliTest : public ::testing::Test {
  protected:
    temp_dir_t dir{"vimbra_trace"};
    std::string f(const std::string& name) const { return dir.file(name); }
};

struct replay_case_t {
    const char* what;
    std::string trace;
    std::vector<std::string> args;
    std::string text; // what --text prints
    std::string err;  // standard error, whole
    int status;
};

void run_cases(const temp_dir_t& dir, const std::vector<replay_case_t>& cases) {
    for (const replay_case_t& c : cases) {
        const std::string path = dir.write("t.vcd", c.trace);
        std::vector<std::string> args = {"--replay", path, "--text"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const tool_io_result_t run = run_tool_io(args);
        EXPECT_EQ(run.status, c.status) << c.what << "\n" << run.err;
        EXPECT_EQ(run.out, c.text) << c.what;
        std::string err = c.err;
        for (std::size_t p; (p = err.find("FILE")) != std::string::npos;) {
            err.replace(p, 4, path);
        }
        EXPECT_EQ(run.err, err) << c.what;
    }
}

const std::string STATUS_ON = "no cursor, display on, cursor off, blink off\n";
const std::string STATUS_OFF = "no cursor, display off, cursor off, blink off\n";

// What --text prints for a 16 x 2 module.
std::string rows(const std::string& a, const std::string& b,
                 const std::string& status = STATUS_ON) {
    return a + std::string(16 - a.size(), ' ') + "\n" + b + std::string(16 - b.size(), ' ') + "\n" +
           status;
}

TEST_F(TraceCliTest, ShowsWhatTheBusSentTheModule) {
    // 4-bit: entry, "Hi", then a second line.
    trace_t hi = entry4();
    long long t = text4(&hi, 57000000, "Hi");
    byte4(&hi, t, false, 0xC0);
    text4(&hi, t + 50000, "there");
    // 8-bit with RW: "AB", back to 0x00, read data (the counter steps), 'X' lands on B.
    // The firmware polls the busy flag (reads with RS low) between writes.
    trace_t rw(HEADER8);
    t = 1000000;
    for (const auto& [rs, rw_bit, value] :
         std::vector<std::tuple<bool, bool, unsigned>>{{false, false, 0x38},
                                                       {false, true, 0x80},
                                                       {false, true, 0x00},
                                                       {false, false, 0x0C},
                                                       {true, false, 'A'},
                                                       {false, true, 0x00},
                                                       {true, false, 'B'},
                                                       {false, false, 0x80},
                                                       {true, true, 0x00},
                                                       {true, false, 'X'}}) {
        cycle(&rw, t, rs, rw_bit, value, 8);
        t += rw_bit ? 2000 : 40000;
    }
    // The same bits in a 4-bit trace whose data is read as a vector's bits by --pins.
    trace_t named(HEADER4);
    cycle(&named, 1000000, false, false, 0x20, 4);
    byte4(&named, 1100000, false, 0x0C);
    byte4(&named, 1200000, true, 'q');
    // I2C backpack at 0x27: entry, function set, display on, "ok"; a write to 0x3F and one
    // that nobody acknowledges change nothing.
    i2c_t i2c;
    i2c.t = 41000000;
    for (unsigned n : {0x30u, 0x30u, 0x30u, 0x20u}) {
        i2c.entry_nibble(0x27, n);
    }
    for (unsigned b : {0x28u, 0x0Cu, 0x01u}) {
        i2c.display_byte(0x27, false, b);
        i2c.t += 2000000;
    }
    i2c.display_byte(0x27, true, 'o');
    i2c.display_byte(0x3F, true, 'X');
    i2c.display_byte(0x27, true, 'Y', false);
    i2c.display_byte(0x27, true, 'k');
    // A backpack wired RS=P6 RW=P5 E=P4, D4..D7 on P0..P3, at 0x20 given.
    i2c_t odd;
    const auto odd_byte = [&odd](bool rs, unsigned value) {
        std::vector<unsigned> bytes;
        for (unsigned nibble : {value >> 4, value & 0x0F}) {
            const unsigned pins = nibble | (rs ? 0x40 : 0x00);
            bytes.push_back(pins | 0x10);
            bytes.push_back(pins);
        }
        odd.transfer(0x20, bytes);
        odd.t += 2000000;
    };
    odd.transfer(0x20, {0x12, 0x02}); // 0x2 alone: 4-bit bus
    odd.t += 1000000;
    odd_byte(false, 0x0C);
    odd_byte(true, 'w');
    // Nothing but a clock: no E edge.
    trace_t idle("$timescale 1us $end $var wire 1 ! e $end $var wire 1 \" rs $end "
                 "$var wire 1 # d4 $end $var wire 1 $ d5 $end $var wire 1 % d6 $end "
                 "$var wire 1 & d7 $end $enddefinitions $end #0 0! 0\" 0# 0$ 0% 0& #5 1\"\n");
    // x and z read low: the x on E is a fall, so "Q" gets written (three unknowns in all).
    trace_t unknown(HEADER8);
    cycle(&unknown, 1000, false, false, 0x0C, 8);
    unknown.at(100000, "1r\nb01010001 D\nzw");
    unknown.at(100100, "1E");
    unknown.at(100600, "xE");
    unknown.at(200000, "xr");

    run_cases(dir, {
                       {"4-bit", hi.text, {"--pins", PINS4}, rows("Hi", "there"), "", 0},
                       {"4-bit, --timing ideal",
                        hi.text,
                        {"--pins", PINS4, "--timing", "ideal"},
                        rows("Hi", "there"),
                        "",
                        0},
                       {"8-bit with RW", rw.text, {"--pins", PINS8}, rows("AX", ""), "", 0},
                       {"vector bits named", named.text, {"--pins", PINS4}, rows("q", ""), "", 0},
                       {"I2C",
                        i2c.tr.text,
                        {},
                        rows("ok", ""),
                        "FILE: writes to I2C address 0x3F ignored: the display is at 0x27\n",
                        0},
                       {"I2C, address and wiring given",
                        odd.tr.text,
                        {"--i2c-address", "0x20", "--wiring", "6 5 4 7 0 1 2 3"},
                        rows("w", ""),
                        "",
                        0},
                       {"no E edge",
                        idle.text,
                        {},
                        rows("", "", STATUS_OFF),
                        "FILE: no falling edge of E: the display stays as reset left it\n",
                        0},
                       {"x and z",
                        unknown.text,
                        {"--pins", PINS8},
                        rows("Q", ""),
                        "FILE: 3 x or z values read as low\n",
                        0},
                   });
}

// The same 8-bit bus with two enables (E1 "E", E2 "F") for a 40 x 4 module.
const std::string HEADER_TWO = "$timescale 1ns $end\n"
                               "$var wire 1 r rs $end\n$var wire 1 w rw $end\n"
                               "$var wire 1 E e1 $end\n$var wire 1 F e2 $end\n"
                               "$var wire 8 D data [7:0] $end\n$enddefinitions $end\n"
                               "#0\n0r 0w 0E 0F b00000000 D\n";
const std::string PINS_TWO = "rs=rs,rw=rw,e1=e1,e2=e2,d0=data[0],d1=data[1],d2=data[2],"
                             "d3=data[3],d4=data[4],d5=data[5],d6=data[6],d7=data[7]";
const std::string PROFILE_40X4 = "CHCNT_X = 40\nCHCNT_Y = 4\n";

trace_t two_chips() {
    trace_t tr(HEADER_TWO);
    long long t = 1000000;
    for (unsigned b : {0x38u, 0x0Cu}) {
        cycle(&tr, t, false, false, b, 8, "E");
        cycle(&tr, t + 1000, false, false, b, 8, "F");
        t += 50000;
    }
    cycle(&tr, t, true, false, 'A', 8, "E");
    cycle(&tr, t + 1000, true, false, 'B', 8, "F");
    cycle(&tr, t + 11000, true, false, 'C', 8, "F"); // 10 us after B: controller 2 is busy
    cycle(&tr, t + 60000, true, false, 'D', 8, "F");
    return tr;
}

// 8-bit: function set, display on, clear; 'a' during the clear, 'b' after it.
trace_t busy_clear() {
    return writes8({{1000000, false, 0x38},
                    {1100000, false, 0x0C},
                    {1200000, false, 0x01},
                    {1300000, true, 'a'},
                    {3000000, true, 'b'}});
}

std::string row40(const std::string& text) {
    return text + std::string(40 - text.size(), ' ') + "\n";
}

TEST_F(TraceCliTest, NamesEachTimingFaultAtItsTime) {
    const std::string busy_line =
        "FILE: 1.300600 ms: data 0x61 while busy with clear until 2.72 ms (1.52 ms)\n";
    const trace_t fosc = writes8(
        {{800000, false, 0x38}, {900000, false, 0x0C}, {1050000, true, 'x'}, {1100000, true, 'y'}});
    // Bus cycles drawn by hand, from 1 ms on, after the display was switched on.
    const auto bus = [](const std::vector<std::pair<long long, std::string>>& edges) {
        trace_t tr(HEADER8);
        cycle(&tr, 100000, false, false, 0x0C, 8);
        for (const auto& [ns, change] : edges) {
            tr.at(1000000 + ns, change);
        }
        return tr.text;
    };
    const std::string short_pulse = bus({{0, "1r\nb01000001 D"}, {100, "1E"}, {200, "0E"}});
    const std::string pulse_300 = bus({{0, "1r\nb01000001 D"}, {100, "1E"}, {400, "0E"}});
    const std::string fast_reads =
        bus({{0, "1w"}, {100, "1E"}, {350, "0E"}, {500, "1E"}, {750, "0E"}});
    const std::string rs_late = bus({{0, "b01000001 D"}, {80, "1r"}, {100, "1E"}, {600, "0E"}});
    const std::string data_late = bus({{0, "1r"}, {100, "1E"}, {470, "b01000001 D"}, {520, "0E"}});
    const std::string no_hold =
        bus({{0, "1r\nb01000001 D"}, {100, "1E"}, {600, "0E\nb00000000 D"}, {605, "0r"}});
    const std::string rs_while_high =
        bus({{0, "b01000001 D"}, {100, "1E"}, {300, "1r"}, {600, "0E"}});
    const trace_t reset = writes8({{50000000, false, 0x30},
                                   {51000000, false, 0x30},
                                   {51050000, false, 0x30},
                                   {51200000, false, 0x38}});
    const trace_t early = writes8({{10000000, false, 0x0C}});
    run_cases(
        dir,
        {
            {"busy, chip timing: the byte is lost, one warning",
             busy_clear().text,
             {"--pins", PINS8},
             rows("b", ""),
             "FILE: 1 byte not taken: sent while the controller was busy (--check-timing names "
             "them)\n",
             0},
            {"busy, checked",
             busy_clear().text,
             {"--pins", PINS8, "--check-timing"},
             rows("b", ""),
             busy_line,
             5},
            {"busy, checked under ideal timing: the byte shows",
             busy_clear().text,
             {"--pins", PINS8, "--check-timing", "--timing", "ideal"},
             rows("ab", ""),
             busy_line,
             5},
            {"fast enough at 270 kHz",
             fosc.text,
             {"--pins", PINS8, "--check-timing"},
             rows("xy", ""),
             "",
             0},
            {"too fast at 190 kHz",
             fosc.text,
             {"--pins", PINS8, "--check-timing", "--fosc", "190"},
             rows("x", ""),
             "FILE: 1.100600 ms: data 0x79 while busy with data until 1.103 ms (52.57 us)\n",
             5},
            {"E pulse",
             short_pulse,
             {"--pins", PINS8, "--check-timing"},
             rows("A", ""),
             "FILE: 1.000200 ms: E high 100 ns, under PWEH 230 ns\n",
             5},
            {"E pulse of 300 ns at 5 V",
             pulse_300,
             {"--pins", PINS8, "--check-timing"},
             rows("A", ""),
             "",
             0},
            {"E pulse of 300 ns at 3.3 V",
             pulse_300,
             {"--pins", PINS8, "--check-timing", "--vcc", "3.3"},
             rows("A", ""),
             "FILE: 1.000400 ms: E high 300 ns, under PWEH 450 ns\n",
             5},
            {"E cycle",
             fast_reads,
             {"--pins", PINS8, "--check-timing"},
             rows("", ""),
             "FILE: 1.000500 ms: E rise to rise 400 ns, under tcycE 500 ns\n",
             5},
            {"RS set-up",
             rs_late,
             {"--pins", PINS8, "--check-timing"},
             rows("A", ""),
             "FILE: 1.000100 ms: RS set-up before E rises 20 ns, under tAS 40 ns\n",
             5},
            {"data set-up",
             data_late,
             {"--pins", PINS8, "--check-timing"},
             rows("A", ""),
             "FILE: 1.000520 ms: data set-up before E falls 50 ns, under tDSW 80 ns\n",
             5},
            {"holds: a change in the instant of the fall is too early",
             no_hold,
             {"--pins", PINS8, "--check-timing"},
             rows("A", ""),
             "FILE: 1.000600 ms: data hold after E falls 0 ns, under tH 10 ns\n"
             "FILE: 1.000605 ms: RS hold after E falls 5 ns, under tAH 10 ns\n",
             5},
            {"RS moving while E is high",
             rs_while_high,
             {"--pins", PINS8, "--check-timing"},
             rows("A", ""),
             "FILE: 1.000600 ms: RS changed while E was high, set-up -200 ns, under tAS 40 ns\n",
             5},
            {"reset by instruction",
             reset.text,
             {"--pins", PINS8, "--check-timing"},
             rows("", "", STATUS_OFF),
             "FILE: 51.000600 ms: reset by instruction: function set 2 came 1 ms after the "
             "first, under 4.1 ms\n"
             "FILE: 51.050600 ms: reset by instruction: function set 3 came 50 us after the "
             "second, under 100 us\n"
             "FILE: warning: the display was never switched on (display on, or cmd 0x0C)\n",
             5},
            {"power-on",
             early.text,
             {"--pins", PINS8, "--check-timing", "--power-on"},
             rows("", ""),
             "FILE: 10.000600 ms: first cycle 10 ms after power-on, under 40 ms\n",
             5},
            {"no power-on said",
             early.text,
             {"--pins", PINS8, "--check-timing"},
             rows("", ""),
             "",
             0},
        });
}

TEST_F(TraceCliTest, TwoControllersEachKeepTheirOwnTime) {
    const std::string path = dir.write("two.vcd", two_chips().text);
    const std::string profile = dir.write("w.prof", PROFILE_40X4);
    const tool_io_result_t run = run_tool_io(
        {"-p", profile, "--replay", path, "--pins", PINS_TWO, "--check-timing", "--text"});
    EXPECT_EQ(run.status, 5);
    EXPECT_EQ(run.out, row40("A") + row40("") + row40("BD") + row40("") + STATUS_ON);
    EXPECT_EQ(run.err, path + ": 1.111600 ms: controller 2: data 0x43 while busy with data "
                              "until 1.138 ms (37 us)\n");
    // A one-controller module has no E2.
    const tool_io_result_t one = run_tool_io({"--replay", path, "--pins", PINS_TWO, "--text"});
    EXPECT_EQ(one.status, 2);
    EXPECT_EQ(one.err, "vimbracli: " + path + ": --pins: e2: this module has one controller\n");
}

TEST_F(TraceCliTest, ManyFaultsEndInACount) {
    trace_t tr(HEADER8);
    for (int i = 0; i < 150; ++i) { // read cycles with E high 100 ns: PWEH each time
        const long long t = 1000000 + 10000LL * i;
        tr.at(t, "1w");
        tr.at(t + 100, "1E");
        tr.at(t + 200, "0E");
    }
    const std::string path = dir.write("many.vcd", tr.text);
    const tool_io_result_t run =
        run_tool_io({"--replay", path, "--pins", PINS8, "--check-timing", "--text"});
    EXPECT_EQ(run.status, 5);
    std::vector<std::string> lines;
    for (std::size_t p = 0, n; (n = run.err.find('\n', p)) != std::string::npos; p = n + 1) {
        lines.push_back(run.err.substr(p, n - p));
    }
    ASSERT_EQ(lines.size(), 102u);
    EXPECT_EQ(lines[99], path + ": 1.990200 ms: E high 100 ns, under PWEH 230 ns");
    // Reads alone never switch the display on: the warning a log gets, before the count.
    EXPECT_EQ(lines[100],
              path + ": warning: the display was never switched on (display on, or cmd 0x0C)");
    EXPECT_EQ(lines[101], path + ": 50 more timing faults (150 in all)");
}

TEST_F(TraceCliTest, EmittedLogGivesTheSamePictures) {
    trace_t hi = entry4();
    text4(&hi, 57000000, "Hi");
    hi.at(59000000, "1r"); // the trace lasts past its last byte
    const std::string profile = dir.write("w.prof", PROFILE_40X4);
    struct case_t {
        std::string trace;
        std::vector<std::string> args;
        std::vector<std::string> moments;
        std::string log_line; // a line the log must have
    };
    const std::vector<case_t> cases = {
        {hi.text, {"--pins", PINS4}, {"0s", "54ms", "55000us", "56ms", "57050us"}, "wait 4200us"},
        {busy_clear().text,
         {"--pins", PINS8},
         {"1ms", "2ms", "3ms"},
         "# not taken, busy: data 0x61"},
        {two_chips().text, {"--pins", PINS_TWO, "-p", profile}, {"1ms", "1200us"}, "controller 2"},
    };
    for (const case_t& c : cases) {
        const std::string trace = dir.write("t.vcd", c.trace);
        const std::string log = f("t.log");
        std::vector<std::string> args = {"--replay", trace, "--emit-log", log, "-o", f("t.bmp")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ASSERT_EQ(run_tool_io(args).status, 0) << c.log_line;
        const std::string text = read_file(log);
        EXPECT_NE(text.find("\n" + c.log_line + "\n"), std::string::npos) << text;
        std::vector<std::string> profile_args;
        if (c.args.size() > 2) {
            profile_args = {"-p", profile};
        }
        std::vector<std::string> moments = c.moments;
        moments.emplace_back(""); // the end
        for (const std::string& at : moments) {
            std::vector<std::string> from_trace = {"--replay", trace, "-o", f("a.bmp")};
            from_trace.insert(from_trace.end(), c.args.begin(), c.args.end());
            std::vector<std::string> from_log = {"--replay", log,  "--timing",
                                                 "ideal",    "-o", f("b.bmp")};
            from_log.insert(from_log.end(), profile_args.begin(), profile_args.end());
            if (!at.empty()) {
                for (auto* list : {&from_trace, &from_log}) {
                    list->insert(list->end(), {"--at", at});
                }
            }
            ASSERT_EQ(run_tool_io(from_trace).status, 0) << at;
            ASSERT_EQ(run_tool_io(from_log).status, 0) << at;
            EXPECT_EQ(read_file(f("a.bmp")), read_file(f("b.bmp"))) << c.log_line << " at " << at;
        }
    }
}

TEST_F(TraceCliTest, RefusesMalformedTracesWithoutWritingAnything) {
    const std::string head = "$timescale 1ns $end\n$var wire 1 ! e $end\n$var wire 1 \" rs $end\n"
                             "$var wire 1 # d4 $end\n$var wire 1 $ d5 $end\n"
                             "$var wire 1 % d6 $end\n$var wire 1 & d7 $end\n"
                             "$enddefinitions $end\n";
    struct case_t {
        std::string trace;
        std::vector<std::string> args;
        std::string err; // FILE stands for the trace's name
    };
    const std::vector<case_t> cases = {
        {"$date\nnow\n$end\n$var wire 1 ! e $end\n",
         {},
         "FILE: line 5: the header ends without $enddefinitions\n"},
        {head + "#0\n0!\n1(\n", {}, "FILE: line 11: unknown identifier code '('\n"},
        {head + "#5\n1!\n#4\n0!\n", {}, "FILE: line 11: time goes backwards: #4 after #5\n"},
        {head + "#99999999999999999999\n",
         {},
         "FILE: line 9: time stamp beyond 2^63: '#99999999999999999999'\n"},
        {head + "#0\n" + std::string(1 << 20, '0') + "!\n",
         {},
         "FILE: line 10: longer than 65536 bytes\n"},
        {head,
         {"--pins", "e=clock,rs=rs,d4=d4,d5=d5,d6=d6,d7=d7"},
         "vimbracli: FILE: --pins: the trace has no signal 'clock' (its signals: e, rs, d4, d5, "
         "d6, d7)\n"},
        {head,
         {"--pins", "e=e,rs=rs,d4=d4"},
         "vimbracli: FILE: --pins: no signal for d5 (the trace's signals: e, rs, d4, d5, d6, "
         "d7)\n"},
    };
    for (const case_t& c : cases) {
        const std::string trace = dir.write("bad.vcd", c.trace);
        std::vector<std::string> args = {"--replay",   trace,        "-o",
                                         f("out.png"), "--emit-log", f("out.log")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const tool_io_result_t run = run_tool_io(args);
        EXPECT_EQ(run.status, 2) << c.err;
        std::string err = c.err;
        err.replace(err.find("FILE"), 4, trace);
        EXPECT_EQ(run.err, err);
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"bad.vcd"}) << c.err;
    }
}

TEST_F(TraceCliTest, CommandLogsTakeTheChipsTimingFromTheirWaits) {
    const std::string log = dir.write("t.log", "cmd 0x38\nwait 40us\ncmd 0x0C\nwait 40us\n"
                                               "cmd 0x01\ndata 0x41\nwait 2ms\ndata 0x42\n");
    const std::string fault =
        log + ":6: 0.080000 ms: data 0x41 while busy with clear until 1.6 ms (1.52 ms)\n";
    struct case_t {
        std::vector<std::string> args;
        std::string text;
        std::string err;
        int status;
    };
    const std::vector<case_t> cases = {
        {{}, rows("AB", ""), "", 0},
        {{"--timing", "chip"},
         rows("B", ""),
         log + ": 1 byte not taken: sent while the controller was busy (--check-timing names "
               "them)\n",
         0},
        {{"--check-timing"}, rows("AB", ""), fault, 5},
        {{"--check-timing", "--timing", "chip"}, rows("B", ""), fault, 5},
    };
    for (const case_t& c : cases) {
        std::vector<std::string> args = {"--replay", log, "--text"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const tool_io_result_t run = run_tool_io(args);
        EXPECT_EQ(run.status, c.status) << c.err;
        EXPECT_EQ(run.out, c.text);
        EXPECT_EQ(run.err, c.err);
    }
}

TEST_F(TraceCliTest, TimesNearTheEndOfTimeAreHarmless) {
    // A clear 1 ms before the last picosecond a trace can have, and a log 30 years long.
    const std::string trace = dir.write(
        "late.vcd", "$timescale 1 ps $end $var wire 1 ! e $end $var wire 1 \" rs $end "
                    "$var wire 8 # d [7:0] $end $enddefinitions $end "
                    "#0 0! 0\" b00000001 # #9223372036853000000 1! #9223372036854775000 0!\n");
    const std::string log =
        dir.write("late.log", "cmd 0x38\nwait 1000000000s\ncmd 0x0C\ndata 0x41\n");
    // The trace only clears the display, which stays off: the warning a log gets.
    for (const auto& [args, err] :
         {std::pair{std::vector<std::string>{"--replay", trace, "--pins",
                                             "rs=rs,e=e,d0=d[0],d1=d[1],d2=d[2],d3=d[3],d4=d[4],"
                                             "d5=d[5],d6=d[6],d7=d[7]",
                                             "--check-timing", "--text"},
                    trace + ": warning: the display was never switched on (display on, or cmd "
                            "0x0C)\n"},
          std::pair{std::vector<std::string>{"--replay", log, "--timing", "chip",
                                             "--check-timing", "--text"},
                    std::string()}}) {
        const tool_io_result_t run = run_tool_io(args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, err);
    }
}

TEST_F(TraceCliTest, RefusesTraceOptionsThatMeanNothing) {
    const std::string trace = dir.write("t.vcd", entry4().text);
    const std::string help = "\nRun 'vimbracli --help' for usage.\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--pins", "x=rs"}, "--pins: unknown role 'x' (rs, rw, e, e1, e2, d0-d7, sda, scl)"},
        {{"--pins", "rs=a,rs=b"}, "--pins: rs is given twice"},
        {{"--pins", "rs"}, "--pins: 'rs' is not ROLE=SIGNAL"},
        {{"--wiring", "0 1 2"},
         "--wiring: give the pins (0 to 7, all different) of RS RW E BL D4 D5 D6 D7: '0 1 2'"},
        {{"--wiring", "0 1 2 3 4 5 6 6"},
         "--wiring: give the pins (0 to 7, all different) of RS RW E BL D4 D5 D6 D7: "
         "'0 1 2 3 4 5 6 6'"},
        {{"--i2c-address", "0x80"}, "--i2c-address: not an address 0x00 to 0x7F: '0x80'"},
        {{"--emit-log", "-"}, "--emit-log: give a file name"},
    };
    for (const auto& [extra, message] : cases) {
        std::vector<std::string> args = {"--replay", trace, "--text"};
        args.insert(args.end(), extra.begin(), extra.end());
        const tool_io_result_t run = run_tool_io(args);
        EXPECT_EQ(run.status, 2) << message;
        EXPECT_EQ(run.err, "vimbracli: " + message + help);
    }
    const tool_io_result_t alone = run_tool_io({"--check-timing", "--text"});
    EXPECT_EQ(alone.status, 2);
    EXPECT_EQ(alone.err, "vimbracli: --check-timing needs --replay" + help);
}

} // namespace
