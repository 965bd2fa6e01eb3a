// Runs the script that a profile names, drawing on the finished picture.
#pragma once

#include <cstdint>

#include <cstddef>

#include "script/progedit.hpp"

namespace vimbra {

struct console_t;
struct lcdimg_t;

// Asked while a script runs whether to stop it now (a clock, a cancel button); true stops it.
using script_stop_func_t = bool (*)(void* ctx);

// When a script stops before its end; every stop is reported as "step limit reached".
struct script_limits_t {
    std::int64_t step_limit; // positive: the most interpreter steps; 0: no limit
    // nullptr, or asked after every SCRIPT_STOP_STRIDE steps: a step may be a jump of a few
    // nanoseconds or a fill of the whole picture, so the stride is small and the check cheap.
    script_stop_func_t should_stop;
    void* stop_ctx;
};
inline constexpr std::int64_t SCRIPT_STOP_STRIDE = 16;

// Loads, optionally lists, and runs the script at `path`, its messages, listing and console
// on `console` (null: the standard streams); 2 when it cannot be read, else 0.
// A positive `step_limit` stops the program after that many interpreter steps, reported as
// the script error "step limit reached"; 0 lets it run to its end, however long it takes.
// With `name_file` the runner's own messages begin with the path and ": ", so that a user
// who gave several files sees which one is meant.
int script_execute(const char* path, lcdimg_t* lcdimg, int listing, std::int64_t step_limit = 0,
                   bool name_file = false);
// script_execute with a stop callback besides the step limit.
int script_execute_limited(const char* path, lcdimg_t* lcdimg, int listing,
                           const script_limits_t* limits, bool name_file = false,
                           const console_t* console = nullptr);
// One run of a script given as text.
struct script_run_t {
    lcdimg_t* lcdimg; // drawn on; null: nothing is drawn
    int listing;      // nonzero: the program is listed first
    const script_limits_t* limits;
    const console_t* console; // null: the standard streams
    const char* file;         // what the runner's messages begin with ("" for nothing)
    const char* separator;    // and what follows it (": ", or "")
};
// Loads `length` bytes of program text, line by line as the file would be, and runs it like
// script_execute_limited. Returns 0.
int script_execute_text(const char* text, std::size_t length, const script_run_t* run);
// Adds every line of the file to the store; the number of lines read, or -1. A line the
// store refuses is reported on `console`.
int load_program(progedit_t* store, const char* path, const console_t* console = nullptr);
// load_program over `length` bytes of text; the number of lines read.
int load_program_text(progedit_t* store, const char* text, std::size_t length,
                      const console_t* console = nullptr);
// Prints the stored lines on `console`; the number printed.
int print_program(const progedit_t* store, const console_t* console = nullptr);

} // namespace vimbra
