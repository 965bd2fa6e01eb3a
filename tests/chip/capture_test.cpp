// Captures as analysers save them, read whole: sigrok sessions, Saleae binary and CSV exports
// written by the tests, and the instants they give for the lines watched.
#include "chip/capture.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/capture_build.hpp"

using namespace vimbra;
namespace cb = capture_build;

namespace {

constexpr std::int64_t US = 1000000; // picoseconds
const std::vector<int> ROLES = {BUS_RS, BUS_E1, BUS_D0 + 4, BUS_D0 + 5};

// The steps as "time_ps:levels" with one digit per watched line in watch order, the first
// marked "*" when all its lines are fresh.
int collect(const bus_step_t* steps, std::size_t count, void* ctx) {
    auto* out = static_cast<std::string*>(ctx);
    for (std::size_t i = 0; i < count; ++i) {
        if (!out->empty()) {
            out->push_back(' ');
        }
        out->append(std::to_string(steps[i].time_ps));
        out->push_back(':');
        for (int role : ROLES) {
            *out += ((steps[i].levels >> role) & 1) != 0 ? '1' : '0';
        }
        *out += steps[i].fresh != 0 ? "*" : "";
    }
    return 0;
}

struct case_t {
    const char* what;
    std::vector<std::string> watch; // channel names, in the order of ROLES
    std::string steps;              // or, when reading fails,
    std::string error;              // the message
};

// Watches, runs and returns the steps or the message of the failure.
std::string run(capture_t* c, const std::vector<std::string>& watch, std::string* error) {
    std::string steps;
    for (std::size_t i = 0; i < watch.size(); ++i) {
        const int channel = capture_find(c, watch[i].c_str());
        if (channel < 0 || capture_watch(c, channel, ROLES[i]) != 0) {
            *error = "no channel " + watch[i];
            return "";
        }
    }
    if (capture_run(c, collect, &steps) != CAPTURE_OK) {
        *error = capture_message(c);
    }
    return steps;
}

void check_session(const case_t& c, const std::string& bytes) {
    capin_t in = capin_memory(bytes.data(), bytes.size());
    std::array<char, CAPTURE_MESSAGE_CAPACITY> message{};
    int status = 0;
    capture_t* capture = capture_open_session(&in, &status, message.data(), message.size());
    std::string error = capture == nullptr ? message.data() : "";
    const std::string steps = capture != nullptr ? run(capture, c.watch, &error) : "";
    EXPECT_EQ(error, c.error) << c.what;
    if (c.steps != "?") { // a damaged stream gives what inflated before the damage showed
        EXPECT_EQ(steps, c.steps) << c.what;
    }
    capture_close(capture);
}

TEST(CaptureSession, GivesAnInstantWhereAWatchedLineChanges) {
    // RS, E, D4 and an unwatched line: E pulses at 2 and 4 us, RS at 3 us, the unwatched line
    // alone at 5 us.
    const std::vector<cb::change_t> bus = {
        {0, 0b0000}, {2 * US, 0b0010}, {3 * US, 0b0101}, {4 * US, 0b0111}, {5 * US, 0b1111}};
    const std::string one = cb::samples(bus, 1000000, 6 * US, 1);
    // 16 channels in two bytes: E on channel 9, RS on channel 15, D4 on channel 0.
    std::vector<cb::change_t> wide;
    for (const auto& [t, v] : bus) {
        wide.emplace_back(t, ((v & 1) << 15) | ((v & 2) << 8) | ((v >> 2) & 1));
    }
    std::vector<std::string> sixteen;
    for (int i = 0; i < 16; ++i) {
        sixteen.push_back("D" + std::to_string(i));
    }
    const std::string two = cb::samples(wide, 1000000, 6 * US, 2);
    const std::string expected = "0:0000* 2000000:0100 3000000:1010 4000000:1110";
    struct session_case_t {
        case_t c;
        std::string bytes;
    };
    const std::vector<session_case_t> cases = {
        {{"unitsize 1", {"rs", "e", "d4"}, expected, ""},
         cb::session("1 MHz", 1, {"rs", "e", "d4", "x"}, one)},
        {{"16 channels, unitsize 2", {"D15", "D9", "D0"}, expected, ""},
         cb::session("1 MHz", 2, sixteen, two)},
        {{"unitsize 3, sample by sample", {"D15", "D9", "D0"}, expected, ""},
         cb::session("1 MHz", 3, sixteen, cb::samples(wide, 1000000, 6 * US, 3))},
        {{"samples split between chunks", {"D15", "D9", "D0"}, expected, ""},
         cb::session("1000 kHz", 2, sixteen, two, 3)},
        {{"stored, one member named as the capture file",
          {"rs", "e"},
          "0:0000* 2000000:0100 3000000:1000 4000000:1100",
          ""},
         cb::zip({{"version", "2\n", false},
                  {"metadata",
                   "[device 1]\ncapturefile=logic-1\ntotal probes=2\nsamplerate=1 MHz\n"
                   "probe1=rs\nprobe2=e\nunitsize=1\n",
                   false},
                  {"logic-1", one, false}})},
        // Sample k is at k / rate, cut to whole picoseconds: 333333 ps at 3 MHz.
        {{"3 MHz", {"rs", "e"}, "0:0000* 333333:0100 666666:0000", ""},
         cb::session("3 MHz", 1, {"rs", "e"}, std::string("\0\2\0", 3))},
    };
    for (const session_case_t& s : cases) {
        check_session(s.c, s.bytes);
    }
}

TEST(CaptureSession, RefusesWhatIsNoSessionInOneLine) {
    const std::string data(8, '\0');
    const auto meta = [](const std::string& device) {
        return cb::session("1 MHz", 1, {"e"}, std::string(8, '\0'), 1 << 20,
                           "[device 1]\ncapturefile=logic-1\n" + device);
    };
    std::string damaged = cb::session("1 MHz", 1, {"e"}, std::string(4096, '\1'));
    damaged[damaged.find("logic-1-1") + 12] ^= 0x55; // inside the deflated samples
    const std::vector<std::pair<std::string, std::string>> cases = {
        {std::string("PK\3\4 not a zip at all"),
         "not a zip archive that can be read (a sigrok session is one)"},
        {cb::zip({{"metadata", "[device 1]\n"}}),
         "the zip archive has no 'version': not a sigrok session"},
        {cb::zip({{"version", "1"}, {"metadata", "x"}}),
         "version '1': this reader takes sigrok sessions of version 2"},
        {cb::zip({{"version", "2"}}), "the zip archive has no 'metadata': not a sigrok session"},
        {cb::zip({{"version", "2", true, true}, {"metadata", ""}}),
         "version: encrypted (a sigrok session never is)"},
        {cb::session("1 MHz", 1, {"e"}, data, 1 << 20, "[device 2]\n"),
         "metadata: no [device 1] section"},
        {meta("total probes=1\nunitsize=1\n"), "metadata: no samplerate"},
        {meta("samplerate=fast\ntotal probes=1\nunitsize=1\n"),
         "metadata: samplerate 'fast' is not a rate from 1 Hz to 1 THz (for example '1 MHz')"},
        {meta("samplerate=0 Hz\ntotal probes=1\nunitsize=1\n"),
         "metadata: samplerate '0 Hz' is not a rate from 1 Hz to 1 THz (for example '1 MHz')"},
        {meta("samplerate=2000 GHz\ntotal probes=1\nunitsize=1\n"),
         "metadata: samplerate '2000 GHz' is not a rate from 1 Hz to 1 THz (for example '1 "
         "MHz')"},
        {meta("samplerate=1 MHz\ntotal probes=1\nunitsize=9\n"),
         "metadata: unitsize '9' is not 1 to 8"},
        {meta("samplerate=1 MHz\ntotal probes=12\nunitsize=1\n"),
         "metadata: 12 probes do not fit in unitsize 1"},
        {meta("samplerate=1 MHz\ntotal probes=0\nunitsize=1\n"),
         "metadata: no logic channels (total probes = 0)"},
        {cb::session("1 MHz", 1, {"e"}, data, 1 << 20,
                     "[device 1]\nsamplerate=1 MHz\ntotal probes=1\nunitsize=1\n"),
         "metadata: no capturefile"},
        {cb::zip({{"version", "2"},
                  {"metadata", "[device 1]\ncapturefile=logic-1\ntotal probes=1\n"
                               "samplerate=1 MHz\nunitsize=1\n"},
                  {"logic-1-1", data},
                  {"logic-1-3", data}}),
         "logic-1-2 is missing (logic-1-3 is there)"},
    };
    for (const auto& [bytes, error] : cases) {
        check_session({error.c_str(), {}, "", error}, bytes);
    }
    // Faults found while the samples stream.
    check_session({"damaged", {"e"}, "?", "logic-1-1: the zip data is damaged"}, damaged);
    check_session({"cut sample", {"D0"}, "0:0000*", "the samples end inside a sample of 2 bytes"},
                  cb::session("1 MHz", 2, {"D0"}, std::string(3, '\0')));
}

// ---------------------------------------------------------------- Saleae

void check_saleae(const case_t& c, const std::vector<std::pair<std::string, std::string>>& files) {
    std::vector<capin_t> ins;
    std::vector<const char*> names;
    for (const auto& [name, bytes] : files) {
        ins.push_back(capin_memory(bytes.data(), bytes.size()));
        names.push_back(name.c_str());
    }
    std::array<char, CAPTURE_MESSAGE_CAPACITY> message{};
    int status = 0;
    capture_t* capture = capture_open_saleae(ins.data(), names.data(), static_cast<int>(ins.size()),
                                             &status, message.data(), message.size());
    std::string error = capture == nullptr ? message.data() : "";
    const std::string steps = capture != nullptr ? run(capture, c.watch, &error) : "";
    EXPECT_EQ(error, c.error) << c.what;
    EXPECT_EQ(steps, c.steps) << c.what;
    capture_close(capture);
}

TEST(CaptureSaleae, MergesTheChannelsInTimeOrder) {
    // RS high from 3 us; E pulses 2 to 4 us and 5 to 5.5 us, starting high in one case.
    const std::string rs = cb::saleae(0, 0, 0.01, {3e-6});
    const std::string e = cb::saleae(0, 0, 0.01, {2e-6, 4e-6, 5e-6, 5.5e-6});
    const std::string analog = cb::saleae(0, 0, 0.01, {}, 0, 1);
    const std::vector<std::pair<case_t, std::vector<std::pair<std::string, std::string>>>> cases = {
        {{"two files",
          {"Channel 0", "Channel 1"},
          "0:0000* 2000000:0100 3000000:1100 4000000:1000 5000000:1100 5500000:1000",
          ""},
         {{"digital_1.bin", e}, {"digital_0.bin", rs}, {"analog_0.bin", analog}}},
        {{"named by file, E and RS at once", {"rs", "e.bin"}, "0:0100* 3000000:1000", ""},
         {{"rs.bin", rs}, {"e.bin", cb::saleae(1, 0, 1, {3e-6})}}},
        {{"a pre-roll moves the start to 0", {"Channel 0"}, "0:0000* 1000000:1000", ""},
         {{"digital_0.bin", cb::saleae(0, -1e-6, 1, {0.0})}}},
        {{"no magic",
          {},
          "",
          "digital_0.bin: not a Saleae binary export (no '<SALEAE>' at its start)"},
         {{"digital_0.bin", "<SALEAF>" + rs.substr(8)}}},
        {{"short header", {}, "", "digital_0.bin: the header ends after 20 of 44 bytes"},
         {{"digital_0.bin", rs.substr(0, 20)}}},
        {{"version",
          {},
          "",
          "digital_0.bin: version 1: this reader takes Saleae binary exports of version 0"},
         {{"digital_0.bin", cb::saleae(0, 0, 1, {}, 1)}}},
        {{"type", {}, "", "digital_0.bin: type 7 is neither digital (0) nor analog (1)"},
         {{"digital_0.bin", cb::saleae(0, 0, 1, {}, 0, 7)}}},
        {{"initial state", {}, "", "digital_0.bin: initial state 2 is neither 0 nor 1"},
         {{"digital_0.bin", cb::saleae(2, 0, 1, {})}}},
        {{"begin after end",
          {},
          "",
          "digital_0.bin: begin and end times are not an interval of at most 100 days"},
         {{"digital_0.bin", cb::saleae(0, 2, 1, {})}}},
        {{"transitions missing", {}, "", "digital_0.bin: 4 transitions announced, 3 there"},
         {{"digital_0.bin", e.substr(0, e.size() - 8)}}},
        {{"only analog", {}, "", "no digital channel among the export's files"},
         {{"analog_0.bin", analog}}},
        {{"time going back",
          {"Channel 0"},
          "0:0000*",
          "digital_0.bin: transition 2 at 1e-06 s is out of order or out of range"},
         {{"digital_0.bin", cb::saleae(0, 0, 1, {2e-6, 1e-6})}}},
        {{"not a number",
          {"Channel 0"},
          "",
          "digital_0.bin: transition 1 at nan s is out of order or out of range"},
         {{"digital_0.bin", cb::saleae(0, 0, 1, {std::nan("")})}}},
    };
    for (const auto& [c, files] : cases) {
        check_saleae(c, files);
    }
}

void check_csv(const case_t& c, const std::string& text) {
    capin_t in = capin_memory(text.data(), text.size());
    std::array<char, CAPTURE_MESSAGE_CAPACITY> message{};
    int status = 0;
    capture_t* capture = capture_open_csv(&in, &status, message.data(), message.size());
    std::string error = capture == nullptr ? message.data() : "";
    const std::string steps = capture != nullptr ? run(capture, c.watch, &error) : "";
    EXPECT_EQ(error, c.error) << c.what;
    EXPECT_EQ(steps, c.steps) << c.what;
    capture_close(capture);
}

TEST(CaptureCsv, ReadsOneRowPerChange) {
    const std::string head = "Time [s],Channel 0,Channel 1,Channel 2\n";
    const std::vector<std::pair<case_t, std::string>> cases = {
        {{"rows", {"Channel 1", "Channel 0"}, "0:0000* 2000000:0100 3500000:1100", ""},
         cb::csv({{0, 0}, {2 * US, 1}, {3500000, 3}, {4 * US, 7}}, 3)},
        {{"quoted names, CR LF, exponent, a pre-roll",
          {"RS, the line", "E"},
          "0:0000* 1500000:0100",
          ""},
         "\xEF\xBB\xBFTime [s],\"RS, the line\",E\r\n-1e-06,0,0\r\n5e-7,0,1\r\n"},
        {{"rows at one time merge", {"Channel 0"}, "0:0000* 1000000:1000", ""},
         head + "0,0,0,0\n0.000001,0,0,0\n0.000001,1,0,0\n"},
        {{"header",
          {},
          "",
          "line 1: a Saleae CSV export starts 'Time [s],Channel 0,...', not 'Time,D0'"},
         "Time,D0\n"},
        {{"no channels", {}, "", "line 1: 0 channels in the header; 1 to 64 are read"},
         "Time [s]\n0\n"},
        {{"columns", {"Channel 0"}, "", "line 3: not a row of a time and 3 levels: '0.1,1,1'"},
         head + "0,0,0,0\n0.1,1,1\n"},
        {{"level", {"Channel 0"}, "", "line 2: level '2' of Channel 0 is neither 0 nor 1"},
         head + "0,2,0,0\n"},
        {{"time", {"Channel 0"}, "", "line 2: 'soon' is not a time in seconds"},
         head + "soon,0,0,0\n"},
        {{"backwards", {"Channel 0"}, "", "line 3: time goes backwards: 0.5 after 1"},
         head + "1,0,0,0\n0.5,1,0,0\n"},
    };
    for (const auto& [c, text] : cases) {
        check_csv(c, text);
    }
}

// ---------------------------------------------------------------- kinds, rates, times

TEST(CaptureSniff, TellsTheKindByContent) {
    struct sniff_case_t {
        std::string head;
        capture_kind kind;
        int stray;
        std::int64_t rate;
    };
    const std::vector<sniff_case_t> cases = {
        {"$date today $end", CAPTURE_VCD, 0, 0},
        {"\n\n  $timescale 1ns $end", CAPTURE_VCD, 0, 0},
        {"META samplerate: 500000\n$timescale 1 us $end\n", CAPTURE_VCD, 1, 500000},
        {"x\ny\n\n$date\n", CAPTURE_VCD, 2, 0},
        {"$date x $end\n$comment\n  Acquisition with 4/4 channels at 4 MHz\n$end\n", CAPTURE_VCD, 0,
         4000000},
        {"$comment at 4 MHz $end\n$enddefinitions $end\n$comment Acquisition with 1 at 2 MHz $end",
         CAPTURE_VCD, 0, 0},
        {std::string("PK\3\4rest", 8), CAPTURE_SESSION, 0, 0},
        {"<SALEAE>", CAPTURE_SALEAE_BINARY, 0, 0},
        {"Time [s],Channel 0\n", CAPTURE_SALEAE_CSV, 0, 0},
        {"init\nprint \"$5\"\n", CAPTURE_TEXT, 0, 0},
        {"", CAPTURE_TEXT, 0, 0},
        {std::string("\x7F"
                     "ELF\2\1\1\0",
                     8),
         CAPTURE_UNKNOWN, 0, 0},
    };
    for (const sniff_case_t& c : cases) {
        const capture_sniff_t s = capture_sniff(c.head.data(), c.head.size());
        EXPECT_EQ(s.kind, c.kind) << c.head;
        EXPECT_EQ(s.stray_lines, c.stray) << c.head;
        EXPECT_EQ(s.rate_hz, c.rate) << c.head;
    }
    const std::string head = "META samplerate: 500000\nMORE\n$date\n";
    const capture_sniff_t s = capture_sniff(head.data(), head.size());
    std::array<char, 96> text{};
    capture_stray_text(head.data(), &s, text.data(), text.size());
    EXPECT_STREQ(text.data(), "lines 1 to 2 ('META samplerate: 500000', ...)");
    EXPECT_EQ(head.substr(s.stray_bytes), "$date\n");
}

TEST(CaptureSniff, ReadsRatesAndTimesExactly) {
    const std::vector<std::pair<std::string, std::int64_t>> rates = {{"1 MHz", 1000000},
                                                                     {"24 MHz", 24000000},
                                                                     {"500 kHz", 500000},
                                                                     {"1.5 GHz", 1500000000},
                                                                     {"12.5 kHz", 12500},
                                                                     {" 500000 ", 500000},
                                                                     {"1 Hz", 1},
                                                                     {"1000 GHz", 1000000000000},
                                                                     {"0.5 Hz", -1},
                                                                     {"0 Hz", -1},
                                                                     {"1001 GHz", -1},
                                                                     {"fast", -1},
                                                                     {"1 MHzz", -1},
                                                                     {"", -1},
                                                                     {"1.0000000000001 MHz", -1}};
    for (const auto& [text, hz] : rates) {
        std::int64_t got = -1;
        EXPECT_EQ(capture_parse_rate(text.data(), text.size(), &got), hz >= 0) << text;
        EXPECT_EQ(got, hz) << text;
    }
    const std::vector<std::pair<std::string, std::int64_t>> times = {{"0", 0},
                                                                     {"0.000001250", 1250000},
                                                                     {"1.25e-06", 1250000},
                                                                     {"-0.5", -500000000000},
                                                                     {"0.0000000000004", 0},
                                                                     {"0.0000000000005", 1},
                                                                     {"3E2", 300000000000000},
                                                                     {"1e7", -2},
                                                                     {"x", -2},
                                                                     {"1e", -2},
                                                                     {"", -2}};
    for (const auto& [text, ps] : times) {
        std::int64_t got = -2;
        EXPECT_EQ(capture_parse_seconds(text.data(), text.size(), &got), ps != -2) << text;
        EXPECT_EQ(got, ps) << text;
    }
}

} // namespace
