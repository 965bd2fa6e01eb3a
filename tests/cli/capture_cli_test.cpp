// Captures as users save them, replayed as a user runs the tool: the shipped VCD example as a
// sigrok session (written here and by sigrok-cli) and as both Saleae Logic 2 exports, captures
// too coarse for --check-timing, and files that are none of the kinds the tool reads.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/tool_runner.hpp"
#include "support/capture_build.hpp"
#include "support/temp_dir.hpp"

namespace cb = capture_build;

namespace {

const std::filesystem::path SOURCE = VIMBRA_SOURCE_DIR;
const std::string EXAMPLE = (SOURCE / "examples/traces/no-clear-wait.vcd").string();
// The example's lines, in the order of the channels the captures here give them.
const std::vector<std::string> LINES = {"PB0", "PB1", "PB2", "PD4", "PD5", "PD6", "PD7"};
const std::vector<std::string> ROLES = {"rs", "e", "rw", "d4", "d5", "d6", "d7"};

bool have_sigrok() {
    return std::system("sigrok-cli --version > /dev/null 2>&1") == 0;
}

#define SKIP_WITHOUT_SIGROK()                                                                      \
    if (!have_sigrok()) {                                                                          \
        GTEST_SKIP() << "sigrok-cli is not installed (CI installs it)";                            \
    }

// The changes of the named 1-bit signals of a VCD with a time scale of 1 ps, as levels with
// signal i at bit i.
std::vector<cb::change_t> changes_of(const std::string& vcd,
                                     const std::vector<std::string>& names) {
    std::istringstream in(read_file(vcd));
    std::map<std::string, int> ids;
    std::vector<cb::change_t> out;
    std::uint64_t levels = 0;
    std::int64_t t = 0;
    for (std::string word; in >> word;) {
        if (word == "$var") {
            std::string type, size, id, name;
            in >> type >> size >> id >> name;
            for (std::size_t i = 0; i < names.size(); ++i) {
                if (names[i] == name) {
                    ids[id] = static_cast<int>(i);
                }
            }
        } else if (word[0] == '#') {
            t = std::stoll(word.substr(1));
        } else if ((word[0] == '0' || word[0] == '1') && ids.count(word.substr(1)) != 0) {
            const std::uint64_t bit = std::uint64_t{1} << ids[word.substr(1)];
            levels = word[0] == '1' ? levels | bit : levels & ~bit;
            if (!out.empty() && out.back().first == t) {
                out.back().second = levels;
            } else {
                out.emplace_back(t, levels);
            }
        }
    }
    return out;
}

// The pins option naming channel i `name(i)`.
std::string pins(const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t i = 0; i < ROLES.size(); ++i) {
        out += (i == 0 ? "" : ",") + ROLES[i] + "=" + names[i];
    }
    return out;
}

std::vector<std::string> channels(int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        names.push_back("Channel " + std::to_string(i));
    }
    return names;
}

// A Saleae binary export of the changes in `folder`: one file per channel.
void write_saleae(const temp_dir_t& dir, const std::string& folder,
                  const std::vector<cb::change_t>& changes, int count, std::int64_t end_ps) {
    std::filesystem::create_directory(dir.file(folder));
    for (int i = 0; i < count; ++i) {
        std::vector<double> times;
        unsigned level = (changes.front().second >> i) & 1;
        const unsigned initial = level;
        for (const auto& [ps, levels] : changes) {
            if (((levels >> i) & 1) != level) {
                level ^= 1;
                times.push_back(static_cast<double>(ps) / 1e12);
            }
        }
        dir.write(folder + "/digital_" + std::to_string(i) + ".bin",
                  cb::saleae(initial, 0, static_cast<double>(end_ps) / 1e12, times));
    }
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t p = 0; (p = text.find(from, p)) != std::string::npos; p += to.size()) {
        text.replace(p, from.size(), to);
    }
    return text;
}

TEST(CaptureCli, TheExampleSavedByAnAnalyserShowsTheSameScreenAndFaults) {
    temp_dir_t dir{"vimbra_capture"};
    const std::vector<cb::change_t> changes = changes_of(EXAMPLE, LINES);
    ASSERT_GT(changes.size(), 200u);
    const std::int64_t end = 100000000000; // the example's last time stamp is at 100 ms
    // 160 MHz: a sample every 6.25 ns, fine enough for every bus time and on the example's
    // 62.5 ns grid, so that every edge keeps its time.
    const std::string samples = cb::samples(changes, 160000000, end, 1);
    struct form_t {
        std::string what;
        std::string path;
        std::string pins;
    };
    std::vector<form_t> forms = {
        {"sigrok session",
         dir.write("board.sr", cb::session("160 MHz", 1, LINES, samples, 4 << 20)), pins(LINES)},
        {"Saleae CSV", dir.write("board.csv", cb::csv(changes, 7)), pins(channels(7))},
    };
    write_saleae(dir, "export", changes, 7, end);
    forms.push_back({"Saleae binary", dir.file("export"), pins(channels(7))});
    if (have_sigrok()) {
        dir.write("board.raw", samples);
        const std::string made = "sigrok-cli -I binary:numchannels=7:samplerate=160000000 -i " +
                                 dir.file("board.raw") + " -o " + dir.file("sigrok.sr");
        ASSERT_EQ(std::system(made.c_str()), 0);
        forms.push_back({"sigrok-cli's session", dir.file("sigrok.sr"),
                         pins({"0", "1", "2", "3", "4", "5", "6"})});
    }
    const std::vector<std::string> common = {
        "-p", (SOURCE / "examples/profiles/blue-16x2.prof").string()};
    const auto run = [&](const std::string& trace, const std::string& pin_map,
                         std::vector<std::string> extra) {
        std::vector<std::string> args = {"--replay", trace, "--pins", pin_map};
        args.insert(args.end(), common.begin(), common.end());
        args.insert(args.end(), extra.begin(), extra.end());
        return run_tool_io(args);
    };
    const std::string vcd_pins = pins(LINES);
    const tool_io_result_t checked = run(EXAMPLE, vcd_pins, {"--check-timing", "--text"});
    ASSERT_EQ(checked.status, 5) << checked.err;
    ASSERT_NE(checked.err.find(EXAMPLE + ": 70.079187 ms: set DDRAM address 0x80 while busy "
                                         "with clear until 71.529 ms (1.52 ms)\n"),
              std::string::npos)
        << checked.err;
    const tool_io_result_t pictured = run(EXAMPLE, vcd_pins, {"-o", dir.file("vcd.bmp")});
    ASSERT_EQ(pictured.status, 0) << pictured.err;
    for (const form_t& form : forms) {
        const tool_io_result_t c = run(form.path, form.pins, {"--check-timing", "--text"});
        EXPECT_EQ(c.status, 5) << form.what << ": " << c.err;
        EXPECT_EQ(c.out, checked.out) << form.what;
        EXPECT_EQ(replace_all(c.err, form.path, EXAMPLE), checked.err) << form.what;
        const tool_io_result_t p = run(form.path, form.pins, {"-o", dir.file("form.bmp")});
        EXPECT_EQ(p.status, 0) << form.what << ": " << p.err;
        EXPECT_EQ(replace_all(p.err, form.path, EXAMPLE), pictured.err) << form.what;
        EXPECT_EQ(read_file(dir.file("form.bmp")), read_file(dir.file("vcd.bmp"))) << form.what;
    }
}

// 4-bit bus with E pulses of `pulse` ns, each 1.1 us after RS and data are set (between the
// samples of a 4 MHz capture): the entry, display on, then "Hi".
std::vector<cb::change_t> short_e_bus(std::int64_t pulse_ns) {
    std::vector<cb::change_t> out = {{0, 0}};
    std::int64_t t = 50000; // ns
    const auto nibble = [&](unsigned rs, unsigned value) {
        const std::uint64_t lines = rs | (std::uint64_t{value} << 2); // rs, e, d4..d7
        out.emplace_back(t * 1000, lines);
        out.emplace_back((t + 1100) * 1000, lines | 2);
        out.emplace_back((t + 1100 + pulse_ns) * 1000, lines);
        t += 10000;
    };
    for (unsigned v : {3u, 3u, 3u, 2u}) {
        nibble(0, v);
        t += 5000000;
    }
    for (const auto& [rs, byte] : std::vector<std::pair<unsigned, unsigned>>{
             {0, 0x28}, {0, 0x0C}, {0, 0x01}, {1, 'H'}, {1, 'i'}}) {
        nibble(rs, byte >> 4);
        nibble(rs, byte & 15);
        t += 2000000;
    }
    return out;
}

TEST(CaptureCli, ACaptureTooCoarseForTheBusTimesIsNoPass) {
    temp_dir_t dir{"vimbra_capture"};
    const std::vector<std::string> names = {"RS", "E", "D4", "D5", "D6", "D7"};
    const std::vector<cb::change_t> bus = short_e_bus(125);
    const std::int64_t end = bus.back().first + 1000000000;
    const std::string coarse =
        dir.write("coarse.sr", cb::session("4 MHz", 1, names, cb::samples(bus, 4000000, end, 1)));
    const std::string fine =
        dir.write("fine.sr", cb::session("100 MHz", 1, names, cb::samples(bus, 100000000, end, 1)));
    const std::string too_coarse =
        ": samples 250 ns apart are too coarse to judge PWEH 230 ns, tAS 40 ns, tAH 10 ns, tDSW "
        "80 ns and tH 10 ns: --check-timing needs 100 MHz or faster\n";
    const std::string vcd_head =
        "$timescale 1 us $end\n$var wire 1 ! E $end\n$var wire 1 \" RS $end\n"
        "$var wire 4 # D [7:4] $end\n$enddefinitions $end\n#0 0! 0\" b0 #\n";
    const std::string meta =
        dir.write("meta.vcd", "META samplerate: 500000\n" + vcd_head + "#1 1!\n#3 0!\n");
    struct case_t {
        std::string trace;
        std::vector<std::string> args;
        std::string err; // FILE is the trace
        int status;
    };
    const std::vector<case_t> cases = {
        // The 125 ns pulses fall between the samples: nothing to judge, and no pass.
        {coarse,
         {"--check-timing"},
         "FILE: no falling edge of E: the display stays as reset left it\nFILE" + too_coarse,
         6},
        {coarse,
         {},
         "FILE: no falling edge of E: the display stays as reset left it\nFILE: warning" +
             too_coarse,
         0},
        // At 100 MHz each one is seen, and is a fault.
        {fine, {"--check-timing"}, "", 5},
        // A VCD that sigrok resampled says its rate on a stray first line.
        {meta,
         {"--pins", "e=E,rs=RS,d4=D[4],d5=D[5],d6=D[6],d7=D[7]"},
         "FILE: line 1 ('META samplerate: 500000') skipped: not part of the VCD that follows\n"
         "FILE: warning: samples 2000 ns apart are too coarse to judge PWEH 230 ns, tAS 40 ns, tAH "
         "10 ns, tDSW 80 ns and tH 10 ns: --check-timing needs 100 MHz or faster\n"
         "FILE: warning: the display was never switched on (display on, or cmd 0x0C)\n",
         0},
    };
    for (const case_t& c : cases) {
        std::vector<std::string> args = {"--replay", c.trace, "--text"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const tool_io_result_t run = run_tool_io(args);
        EXPECT_EQ(run.status, c.status) << c.trace << "\n" << run.err;
        if (c.status == 5) {
            EXPECT_NE(run.err.find("under PWEH 230 ns"), std::string::npos) << run.err;
            EXPECT_EQ(run.err.find("too coarse"), std::string::npos) << run.err;
        } else {
            EXPECT_EQ(run.err, replace_all(c.err, "FILE", c.trace)) << c.trace;
        }
    }
}

TEST(CaptureCli, SigrokCliSessionsAndItsVcdOfThemAreJudgedByTheirRate) {
    SKIP_WITHOUT_SIGROK();
    temp_dir_t dir{"vimbra_capture"};
    const std::vector<cb::change_t> bus = short_e_bus(125);
    dir.write("bus.raw", cb::samples(bus, 4000000, bus.back().first + 1000000000, 1));
    const std::string session = dir.file("bus.sr");
    const std::string vcd = dir.file("bus.vcd");
    ASSERT_EQ(std::system(("sigrok-cli -I binary:numchannels=6:samplerate=4000000 -i " +
                           dir.file("bus.raw") + " -o " + session + " && sigrok-cli -i " + session +
                           " -O vcd -o " + vcd)
                              .c_str()),
              0);
    for (const std::string& trace : {session, vcd}) {
        const tool_io_result_t run =
            run_tool_io({"--replay", trace, "--pins", "rs=0,e=1,d4=2,d5=3,d6=4,d7=5",
                         "--check-timing", "--text"});
        EXPECT_EQ(run.status, 6) << trace << ": " << run.err;
        EXPECT_NE(run.err.find(trace + ": samples 250 ns apart are too coarse"), std::string::npos)
            << run.err;
    }
}

TEST(CaptureCli, WideSessionsAndPipedCsvWork) {
    temp_dir_t dir{"vimbra_capture"};
    // The bus on channels 8 to 13 of 16 (unit size 2), the other channels toggling beside it.
    std::vector<cb::change_t> wide;
    std::uint64_t noise = 0;
    for (const auto& [t, v] : short_e_bus(500)) {
        noise ^= 0x80FF;
        wide.emplace_back(t, (v << 8) | noise);
    }
    std::vector<std::string> names;
    for (int i = 0; i < 16; ++i) {
        names.push_back("D" + std::to_string(i));
    }
    const std::string sr = dir.write(
        "wide.sr",
        cb::session("2 MHz", 2, names, cb::samples(wide, 2000000, wide.back().first + 1000000, 2)));
    const std::string hi = "Hi              \n                \n"
                           "no cursor, display on, cursor off, blink off\n";
    const tool_io_result_t run =
        run_tool_io({"--replay", sr, "--pins", "rs=D8,e=D9,d4=D10,d5=D11,d6=D12,d7=D13", "--text"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, hi);
    // A CSV export on standard input.
    const tool_io_result_t piped =
        run_tool_io({"--replay", "-", "--pins", "rs=RS,e=E,d4=D4,d5=D5,d6=D6,d7=D7", "--text"},
                    cb::csv(short_e_bus(500), 6, {"RS", "E", "D4", "D5", "D6", "D7"}));
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, hi);
}

TEST(CaptureCli, RefusesMalformedCapturesInOneLineWritingNothing) {
    temp_dir_t dir{"vimbra_capture"};
    const std::string bad_rate = cb::session(
        "1 MHz", 1, {"e"}, std::string(16, '\0'), 1 << 20,
        "[device 1]\ncapturefile=logic-1\ntotal probes=1\nsamplerate=1 MHZ\nunitsize=1\n");
    std::filesystem::create_directory(dir.file("export"));
    dir.write("export/digital_0.bin", cb::saleae(0, 0, 1, {}));
    dir.write("export/digital_1.bin", cb::saleae(0, 0, 1, {}, 3));
    std::filesystem::create_directory(dir.file("empty"));
    struct case_t {
        std::string name;
        std::string bytes; // empty: the folder so named
        std::string err;   // after "NAME: "
    };
    const std::vector<case_t> cases = {
        {"zip.sr", "PK\3\4" + std::string(60, 'x'),
         "not a zip archive that can be read (a sigrok session is one)"},
        {"rate.sr", bad_rate,
         "metadata: samplerate '1 MHZ' is not a rate from 1 Hz to 1 THz (for example '1 MHz')"},
        {"export", "",
         "digital_1.bin: version 3: this reader takes Saleae binary exports of version 0"},
        {"empty", "",
         "a folder of no .bin files: none of the kinds --replay reads: a command log, a VCD, a "
         "sigrok session (.sr), a Saleae Logic 2 export (a folder of binary files, or CSV)"},
        {"one.bin", cb::saleae(0, 0, 1, {}),
         "one channel of a Saleae binary export: give --replay its folder"},
        {"header.csv", "Time [s],\n0,\n", "line 1: column 2 of the header names no channel"},
        {"image.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16),
         "none of the kinds --replay reads: a command log, a VCD, a sigrok session (.sr), a "
         "Saleae Logic 2 export (a folder of binary files, or CSV)"},
    };
    for (const case_t& c : cases) {
        const std::string path = c.bytes.empty() ? dir.file(c.name) : dir.write(c.name, c.bytes);
        const auto before = dir.entries();
        const tool_io_result_t run =
            run_tool_io({"--replay", path, "--pins", "e=e", "-o", dir.file("out.png"), "--emit-log",
                         dir.file("out.log")});
        EXPECT_EQ(run.status, 2) << c.name;
        EXPECT_EQ(run.err, path + ": " + c.err + "\n") << c.name;
        EXPECT_EQ(dir.entries(), before) << c.name;
    }
}

} // namespace
