// A whole trace decoded into the bytes the controllers took: judged and unjudged (the reader
// then gives only E's falls), cut anywhere, one controller or two, and a client that stops.
#include "chip/tracedec.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace vimbra;

namespace {

struct decoded_t {
    std::vector<std::string> bytes;  // "chip:kind:value" and "!" when not taken
    std::vector<std::string> faults; // "time_ps: text"
    std::size_t stop_after = 0;      // 0: never
    tracedec_t* dec = nullptr;
};

void on_byte(const chip_byte_t* b, void* ctx) {
    auto* d = static_cast<decoded_t*>(ctx);
    char text[48];
    std::snprintf(text, sizeof text, "%d:%u:%02X%s", b->chip, static_cast<unsigned>(b->kind),
                  static_cast<unsigned>(b->value), b->taken ? "" : "!");
    d->bytes.emplace_back(text);
    if (d->bytes.size() == d->stop_after) {
        tracedec_stop(d->dec);
    }
}

void on_fault(std::int64_t time_ps, std::uint32_t, const char* text, void* ctx) {
    static_cast<decoded_t*>(ctx)->faults.push_back(std::to_string(time_ps) + ": " + text);
}

int decode(const std::string& text, std::size_t piece, bool check, const char* pins, int chip_count,
           decoded_t* d) {
    tracedec_options_t options = tracedec_defaults();
    options.check = check;
    options.pins = pins;
    options.chip_count = chip_count;
    const tracedec_callbacks_t callbacks{on_byte, on_fault, nullptr, d};
    d->dec = tracedec_open(&options, &callbacks);
    int status = TRACEDEC_OK;
    for (std::size_t i = 0; i < text.size() && status == TRACEDEC_OK; i += piece) {
        status = tracedec_feed(d->dec, text.data() + i, std::min(piece, text.size() - i));
    }
    if (status == TRACEDEC_OK) {
        status = tracedec_finish(d->dec);
    }
    tracedec_close(d->dec);
    return status;
}

// A 4-bit bus (times in ns): a function set for 4 bits while the bus is 8 bits wide, 0x28 in
// two halves, data 0x41, then data 0x42 at once, while the chip is busy with 0x41 until
// 139.5 us. E2 pulses with E: a second controller takes the same cycles.
const std::string TRACE = "$timescale 1ns $end\n"
                          "$var wire 1 ! rs $end\n$var wire 1 \" rw $end\n$var wire 1 # e $end\n"
                          "$var wire 1 $ d4 $end\n$var wire 1 % d5 $end\n"
                          "$var wire 1 & d6 $end\n$var wire 1 ' d7 $end\n"
                          "$var wire 1 ( e2 $end\n$enddefinitions $end\n"
                          "#0\n$dumpvars\n0!\n0\"\n0#\n0$\n0%\n0&\n0'\n0(\n$end\n"
                          "#1000\n1%\n#1500\n1#\n1(\n#2000\n0#\n0(\n"
                          "#50500\n1#\n1(\n#51000\n0#\n0(\n#51500\n1'\n0%\n"
                          "#52000\n1#\n1(\n#52500\n0#\n0(\n"
                          "#100000\n1!\n0'\n1&\n#100500\n1#\n1(\n#101000\n0#\n0(\n"
                          "#101500\n0&\n1$\n#102000\n1#\n1(\n#102500\n0#\n0(\n"
                          "#103000\n0$\n1&\n#103500\n1#\n1(\n#104000\n0#\n0(\n"
                          "#104500\n0&\n1%\n#105000\n1#\n1(\n#105500\n0#\n0(\n"
                          "#200000\n";

TEST(TracedecTest, DecodesTheSameBytesJudgedOrNotCutAnywhere) {
    const char* one = "rs=rs,rw=rw,e=e,d4=d4,d5=d5,d6=d6,d7=d7";
    const char* two = "rs=rs,rw=rw,e1=e,e2=e2,d4=d4,d5=d5,d6=d6,d7=d7";
    const std::vector<std::string> first = {"0:0:20", "0:0:28", "0:1:41", "0:1:42!"};
    const std::vector<std::string> both = {"0:0:20", "1:0:20", "0:0:28",  "1:0:28",
                                           "0:1:41", "1:1:41", "0:1:42!", "1:1:42!"};
    const std::string busy = "105500000: data 0x42 while busy with data until 0.139 ms (37 us)";
    struct case_t {
        const char* what;
        const char* pins;
        int chips;
        bool check;
        std::vector<std::string> bytes;
        std::vector<std::string> faults;
    };
    const std::vector<case_t> cases = {
        {"one controller, unjudged", one, 1, false, first, {}},
        {"one controller, judged", one, 1, true, first, {busy}},
        {"two controllers, unjudged", two, 2, false, both, {}},
        {"two controllers, judged",
         two,
         2,
         true,
         both,
         {"105500000: controller 1: " + busy.substr(11),
          "105500000: controller 2: " + busy.substr(11)}},
    };
    for (const case_t& c : cases) {
        for (std::size_t piece = 1; piece <= 64; ++piece) {
            decoded_t d;
            ASSERT_EQ(decode(TRACE, piece, c.check, c.pins, c.chips, &d), TRACEDEC_OK) << c.what;
            ASSERT_EQ(d.bytes, c.bytes) << c.what << " in pieces of " << piece;
            ASSERT_EQ(d.faults, c.faults) << c.what << " in pieces of " << piece;
        }
    }
}

TEST(TracedecTest, TakesNoByteAfterTheClientStops) {
    for (bool check : {false, true}) {
        for (std::size_t stop_after = 1; stop_after <= 3; ++stop_after) {
            for (std::size_t piece : {std::size_t{1}, std::size_t{30}, TRACE.size()}) {
                decoded_t d;
                d.stop_after = stop_after;
                EXPECT_EQ(decode(TRACE, piece, check, "rs=rs,e=e,d4=d4,d5=d5,d6=d6,d7=d7", 1, &d),
                          TRACEDEC_STOPPED);
                EXPECT_EQ(d.bytes.size(), stop_after)
                    << (check ? "judged" : "unjudged") << " in pieces of " << piece;
            }
        }
    }
}

} // namespace
