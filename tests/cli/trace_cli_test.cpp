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
void cycle(trace_t* tr, long long t, bool rs, bool rw, unsigned value, int width) {
    tr->at(t, std::string(rs ? "1" : "0") + "r\n" + (rw ? "1" : "0") + "w\nb" +
                  bits(width == 4 ? value >> 4 : value, width) + " D");
    tr->at(t + 100, "1E");
    tr->at(t + 600, "0E");
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
    return a + std::string(16 - a.size(), ' ') + "\n" + b + std::string(16 - b.size(), ' ') +
           "\n" + status;
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

    run_cases(dir,
              {
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
                  {"x and z", unknown.text, {"--pins", PINS8}, rows("Q", ""),
                   "FILE: 3 x or z values read as low\n", 0},
              });
}

} // namespace
