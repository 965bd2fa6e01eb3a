// The project's own ATmega328P firmware (examples/firmware/avr), traced in simulation as a
// logic analyser would record it: the trace must show the screen the firmware wrote, and each
// timing fault planted in a build of it must be found at the time it was planted.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/tool_runner.hpp"
#include "support/temp_dir.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const fs::path SOURCE = VIMBRA_SOURCE_DIR;
const std::string PROFILE = (SOURCE / "examples/profiles/default.prof").string();
// The wiring in the firmware: RS on PB0, E on PB1, RW on PB2, D4..D7 on PD4..PD7.
const std::string PINS = "rs=PB0,e=PB1,rw=PB2,d4=PD4,d5=PD5,d6=PD6,d7=PD7";

#define SKIP_WITHOUT_SIMULATOR()                                                                   \
    if (!simulator_built()) {                                                                      \
        GTEST_SKIP() << "avr-gcc or libsimavr was not found when this was built";                  \
    }

bool simulator_built() {
#ifdef VIMBRA_AVR_TRACE
    return true;
#else
    return false;
#endif
}

// Runs one build of the firmware ("clean" or a planted fault's name) for 100 ms of simulated
// time at 16 MHz, and returns its trace's path ("" when the simulation failed).
std::string trace_of(const temp_dir_t& dir, const std::string& build) {
#ifdef VIMBRA_AVR_TRACE
    const std::string vcd = dir.file(build + ".vcd");
    std::vector<std::string> args = {VIMBRA_AVR_TRACE,
                                     std::string(VIMBRA_AVR_FIRMWARE_DIR) + "/hello-" + build +
                                         ".elf",
                                     vcd,
                                     "atmega328p",
                                     "16000000",
                                     "100"};
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    int status = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0 ||
        waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return "";
    }
    return vcd;
#else
    (void)dir;
    (void)build;
    return "";
#endif
}

struct fault_t {
    double ms;
    std::string what;
};

// The `FILE: T ms: what` lines of standard error (T is -1 when it is no number); other lines,
// such as warnings, are left out.
std::vector<fault_t> faults_in(const std::string& err, const std::string& file) {
    std::vector<fault_t> faults;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        const std::string head = file + ": ";
        const std::size_t unit = line.find(" ms: ");
        if (line.rfind(head, 0) != 0 || unit == std::string::npos) {
            continue; // a warning, not a fault
        }
        const std::string time = line.substr(head.size(), unit - head.size());
        char* end = nullptr;
        const double ms = std::strtod(time.c_str(), &end);
        faults.push_back({end == time.c_str() + time.size() ? ms : -1.0, line.substr(unit + 5)});
    }
    return faults;
}

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// The screens the traces show, as `--text` prints them: two rows and the state line.
struct screen_case {
    const char* build;
    std::vector<std::string> options;
    const char* text;
};

TEST(AvrFirmwareTrace, ShowsTheScreenTheModuleWouldShow) {
    SKIP_WITHOUT_SIMULATOR();
    const std::vector<screen_case> cases = {
        {"clean",
         {},
         "Hello from AVR  \nATmega328P 4-bit\nno cursor, display on, cursor off, blink off\n"},
        // The chip timing of a trace is the default, and at 5 V with the slowest oscillator
        // the firmware's waits still hold.
        {"clean",
         {"--timing", "chip", "--fosc", "190"},
         "Hello from AVR  \nATmega328P 4-bit\n"
         "no cursor, display on, cursor off, blink off\n"},
        // Line 1 follows a clear with no wait: all of it arrives within the clear's 1.52 ms, so
        // the chip takes none of it; replayed as if every byte executed, it is there.
        {"NO_CLEAR_WAIT",
         {},
         "                \nATmega328P 4-bit\nno cursor, display on, cursor off, blink off\n"},
        {"NO_CLEAR_WAIT",
         {"--timing", "ideal"},
         "Hello from AVR  \nATmega328P 4-bit\n"
         "no cursor, display on, cursor off, blink off\n"},
        // A too-short reset wait and a too-early start are faults to the checker only.
        {"SHORT_RESET_WAIT",
         {},
         "Hello from AVR  \nATmega328P 4-bit\n"
         "no cursor, display on, cursor off, blink off\n"},
    };
    temp_dir_t dir;
    for (const screen_case& c : cases) {
        const std::string vcd = trace_of(dir, c.build);
        ASSERT_FALSE(vcd.empty()) << c.build;
        const tool_io_result_t r = run_tool_io(
            with({"--replay", vcd, "--pins", PINS, "-p", PROFILE, "--text"}, c.options));
        EXPECT_EQ(r.status, 0) << c.build << ": " << r.err;
        EXPECT_EQ(r.out, c.text) << c.build;
    }
}

TEST(AvrFirmwareTrace, CleanTraceDrawsTheCommittedPictureWithNoTimingFault) {
    SKIP_WITHOUT_SIMULATOR();
    temp_dir_t dir;
    const std::string vcd = trace_of(dir, "clean");
    ASSERT_FALSE(vcd.empty());
    const std::string picture = (SOURCE / "examples/firmware/avr/hello.png").string();
    const tool_io_result_t r =
        run_tool_io({"--replay", vcd, "--pins", PINS, "-p", PROFILE, "--compare", picture});
    EXPECT_EQ(r.status, 0) << r.err;
    // Every check the chip's figures allow: both supply columns, the slowest oscillator and
    // the power-on wait.
    const std::vector<std::vector<std::string>> checks = {
        {}, {"--vcc", "3.3"}, {"--fosc", "190"}, {"--power-on", "--vcc", "3.3", "--fosc", "190"}};
    for (const std::vector<std::string>& options : checks) {
        const tool_io_result_t c = run_tool_io(with(
            {"--replay", vcd, "--pins", PINS, "-p", PROFILE, "--text", "--check-timing"}, options));
        EXPECT_EQ(c.status, 0) << ::testing::PrintToString(options) << ": " << c.err;
        EXPECT_TRUE(faults_in(c.err, vcd).empty()) << c.err;
    }
}

// The decoded cycles as a command log, replayed with every byte executed, must show what the
// trace shows with the chip's timing at each moment: during the set-up, just after the clear
// at 70 ms, during line 2 and at the end; the builds that lose bytes show it too.
TEST(AvrFirmwareTrace, EmittedLogShowsWhatTheTraceShowsAtEachMoment) {
    SKIP_WITHOUT_SIMULATOR();
    temp_dir_t dir;
    for (const char* build : {"clean", "NO_CLEAR_WAIT", "FAST_DATA"}) {
        const std::string vcd = trace_of(dir, build);
        ASSERT_FALSE(vcd.empty()) << build;
        const std::string log = dir.file(std::string(build) + ".log");
        const tool_io_result_t emitted = run_tool_io(
            {"--replay", vcd, "--pins", PINS, "-p", PROFILE, "--emit-log", log, "--text"});
        ASSERT_EQ(emitted.status, 0) << build << ": " << emitted.err;
        for (const char* moment : {"56ms", "70.5ms", "80.1ms", "80.5ms", "100ms"}) {
            const tool_io_result_t traced = run_tool_io(
                {"--replay", vcd, "--pins", PINS, "-p", PROFILE, "--at", moment, "--text"});
            const tool_io_result_t replayed = run_tool_io(
                {"--replay", log, "--timing", "ideal", "-p", PROFILE, "--at", moment, "--text"});
            EXPECT_EQ(traced.status, 0) << build << " at " << moment << ": " << traced.err;
            EXPECT_EQ(replayed.status, 0) << build << " at " << moment << ": " << replayed.err;
            EXPECT_EQ(replayed.out, traced.out) << build << " at " << moment;
        }
    }
}

// Each planted fault: the first fault line must fall in a window worked out from the
// firmware's schedule (each step starts on Timer1 within 1 us of its time) and its own waits
// (1 us of set-up before E rises, 1 us high, 1 us low, 60 us after a byte, 10 us between the
// fast characters). The window's start is the faulty nibble's E rise with no time for the
// instructions; its end adds the 1 us of E high and 6 us for each nibble sent in the step
// (the nibble routine, its call and the wait loop take fewer than 96 cycles at 16 MHz).
struct planted_case {
    const char* build;
    std::vector<std::string> options;
    double earliest_ms;
    double latest_ms;
    const char* what; // a word the fault's description must have
};

TEST(AvrFirmwareTrace, FindsEachPlantedFaultWhereItWasPlanted) {
    SKIP_WITHOUT_SIMULATOR();
    const std::vector<planted_case> cases = {
        // The first nibble at 20 ms after power-on: 20 + 0.001, one nibble.
        {"EARLY_START", {"--power-on"}, 20.001, 20.001 + 0.001 + 0.006, "40 ms"},
        // Reset at 50 ms: a nibble (3 us), 1 ms, the second 0x3's set-up (1 us).
        {"SHORT_RESET_WAIT", {}, 51.004, 51.004 + 0.001 + 2 * 0.006, "4.1 ms"},
        // Clear at 70 ms (two nibbles, 6 us), 60 us, then 0x80: its first E rise, or its
        // second 3 us later; four nibbles.
        {"NO_CLEAR_WAIT", {}, 70.067, 70.067 + 0.003 + 0.001 + 4 * 0.006, "busy with clear"},
        // Line 2 at 80 ms: 0xC0 (6 us + 60 us), 'A' (6 us + 10 us), then 'T' while 'A' runs.
        {"FAST_DATA", {}, 80.083, 80.083 + 0.003 + 0.001 + 6 * 0.006, "busy with data"},
        // Line 2 at 80 ms: 0xC0's first E pulse is two cycles (125 ns) long.
        {"SHORT_E", {}, 80.001, 80.001 + 0.001 + 0.006, "PWEH"},
    };
    temp_dir_t dir;
    for (const planted_case& c : cases) {
        const std::string vcd = trace_of(dir, c.build);
        ASSERT_FALSE(vcd.empty()) << c.build;
        const tool_io_result_t r = run_tool_io(
            with({"--replay", vcd, "--pins", PINS, "-p", PROFILE, "--text", "--check-timing"},
                 c.options));
        EXPECT_EQ(r.status, 5) << c.build << ": " << r.err;
        const std::vector<fault_t> faults = faults_in(r.err, vcd);
        ASSERT_FALSE(faults.empty()) << c.build << ": " << r.err;
        EXPECT_GE(faults[0].ms, c.earliest_ms) << c.build << ": " << r.err;
        EXPECT_LE(faults[0].ms, c.latest_ms) << c.build << ": " << r.err;
        EXPECT_NE(faults[0].what.find(c.what), std::string::npos) << c.build << ": " << r.err;
        // Without --check-timing the same trace is no failure.
        const tool_io_result_t quiet = run_tool_io(
            with({"--replay", vcd, "--pins", PINS, "-p", PROFILE, "--text"}, c.options));
        EXPECT_EQ(quiet.status, 0) << c.build << ": " << quiet.err;
    }
}

// The trace shipped as an example: the same firmware with no wait after the clear at 70 ms.
// Needs no simulator.
TEST(ShippedTrace, ShowsTheLostLineAndNamesEachByteSentWhileBusy) {
    const std::string vcd = (SOURCE / "examples/traces/no-clear-wait.vcd").string();
    const std::string picture = (SOURCE / "examples/traces/no-clear-wait.png").string();
    const tool_io_result_t r =
        run_tool_io({"--replay", vcd, "--pins", PINS, "-p", PROFILE, "--compare", picture});
    EXPECT_EQ(r.status, 0) << r.err;
    const tool_io_result_t c = run_tool_io(
        {"--replay", vcd, "--pins", PINS, "-p", PROFILE, "--compare", picture, "--check-timing"});
    EXPECT_EQ(c.status, 5) << c.err;
    // 0x80 and the 14 characters of line 1 come 65 us apart or less, all within the clear's
    // 1.52 ms; line 2, 10 ms later, is taken.
    const std::vector<fault_t> faults = faults_in(c.err, vcd);
    ASSERT_EQ(faults.size(), 15u) << c.err;
    EXPECT_GE(faults.front().ms, 70.067) << c.err;
    EXPECT_LE(faults.front().ms, 70.095) << c.err;
    EXPECT_LE(faults.back().ms, 70.0 + 1.52) << c.err;
    for (const fault_t& f : faults) {
        EXPECT_NE(f.what.find("clear"), std::string::npos) << c.err;
    }
}

} // namespace
