// Host sketches run from a test, in-process: each run is a child process of its own, so that
// every run starts from fresh globals, and a sketch that calls exit(), aborts, crashes or
// hangs fails its run, never the test program. The run's command log, Serial output and
// marks come back; vimbra::module::read_log (vimbra.hpp) turns the log into screens.
//
// Several sketches live in one program when each is compiled in a namespace of its own: the
// CMake function vimbra_add_sketch (from find_package(vimbra)) does that and defines
// `vimbra::sketches::NAME`, which a test declares with VIMBRA_DECLARE_SKETCH(NAME):
//
//     VIMBRA_DECLARE_SKETCH(menu)
//     vimbra::arduino::run_options options;
//     options.run_us = 25000000;
//     options.stimulus = "at 2s press 2 for 100ms\n";
//     const vimbra::arduino::run_result run = vimbra::arduino::run(vimbra::sketches::menu,
//     options); ASSERT_TRUE(run.ok()) << run.message;
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace vimbra::arduino {

// A sketch's two functions and its name for messages.
struct sketch {
    const char* name;
    void (*setup)();
    void (*loop)();
};

struct run_options {
    uint64_t run_us = 10000000;             // the time limit on the sketch's clock: 1 us to 3600 s
    uint64_t start_us = 0;                  // what micros() reads at the start
    std::string stimulus;                   // the stimulus's text (docs/host-arduino.md)
    std::string stimulus_name = "stimulus"; // its name in messages
    std::vector<uint8_t> eeprom;            // the EEPROM at the start, at most 1024 bytes; the rest
                                            // erased (0xFF)
    uint32_t wall_limit_ms = 60000;         // stops a run that takes longer in real time; 0: never
};

enum class run_status : int {
    ok = 0, // the clock reached the time limit (or the sketch called exit(0), which halts it)
    bad_input = 1, // the options or the stimulus were refused: nothing ran
    exited = 2,    // the sketch called exit() with another status (`code`)
    crashed = 3,   // a signal ended it (`code`): abort(), a fault, a kill
    hung = 4,      // it did not reach the time limit within wall_limit_ms
    failed = 5,    // the run could not be started (no process, no memory)
};

struct run_result {
    run_status status = run_status::failed;
    int code = 0;         // exited: the status given to exit(); crashed: the signal
    std::string message;  // one line, unless ok
    std::string log;      // the command log: whole lines, and a wait to the run's end
    std::string serial;   // what the sketch wrote to Serial
    std::string warnings; // the environment's warnings, a line each (a mark name refused, ...)
    std::vector<std::string> marks; // the log's marks in order, each once
    std::vector<uint8_t> eeprom;    // its 1024 bytes at the end, when the run reached it
    uint64_t end_us = 0;            // the sketch's clock at the end, from the start
    bool ok() const noexcept { return status == run_status::ok; }
};

// Runs `s` for options.run_us of its clock with the stimulus. Never ends this process and
// never throws.
run_result run(const sketch& s, const run_options& options);

} // namespace vimbra::arduino

// Declares the sketch that vimbra_add_sketch(NAME ...) compiled into the program.
#define VIMBRA_DECLARE_SKETCH(NAME)                                                                \
    namespace vimbra::sketches {                                                                   \
    extern const ::vimbra::arduino::sketch NAME;                                                   \
    }
