// A whole run of the tool from named files: the module opened, rows placed or a log or trace
// replayed to a moment, and the picture delivered as a still, an animation, the text of the
// display or a comparison with a reference. The command line's option form is a parser in
// front of this; messages go to the request's sink, pictures and text to files or `out_fd`.
#pragma once

#include <cstdint>
#include <string>

#include "base/console.hpp"
#include "job/animate.hpp"
#include "job/job.hpp"
#include "job/tracerun.hpp"

namespace vimbra {

inline constexpr int JOBRUN_REPORT_CELLS = 10; // differing cells named in a comparison

enum jobrun_format_t : int { JOBRUN_FORMAT_BY_NAME, JOBRUN_FORMAT_BMP, JOBRUN_FORMAT_PNG };

// What to do. A null name is an input or output not asked for; "-" is standard input for
// `replay` and standard output (`out_fd`) for `output` and `diff`.
struct jobrun_request_t {
    const char* profile = nullptr; // null: the built-in settings
    const char* font = nullptr;    // null: the built-in glyphs
    const char* replay = nullptr;  // a command log or a VCD; null: the rows
    const char* const* rows = nullptr;
    int row_count = 0;
    std::int64_t at_us = -1;       // -1: the log's end
    const char* at_mark = nullptr; // a mark's name instead of a time
    int scale = 1;                 // each pixel as scale x scale pixels
    std::int64_t max_steps = 0;    // the script's step limit; 0: none
    const char* output = nullptr;  // the picture, or the animation
    jobrun_format_t format = JOBRUN_FORMAT_BY_NAME;
    bool animation = false; // the output shows the whole log
    animate_format_t animation_format = ANIMATE_GIF;
    std::int64_t hold_us = ANIMATE_DEFAULT_HOLD_US;
    int plays = 0;                          // 0: forever
    const char* compare = nullptr;          // a reference picture
    const char* diff = nullptr;             // the comparison's three panels
    bool update = false;                    // write the reference when missing or different
    bool text = false;                      // the display as row arguments, on out_fd
    const trace_options_t* trace = nullptr; // null: the defaults
    int out_fd = 1;
    console_t console{}; // the image's: its messages and its script's output and input
};

// How the run ended, beyond its status: a refusal of the request itself, for the front end
// to show as its usage error (empty when there is none).
struct jobrun_result_t {
    std::string usage;
};

// Runs the request, saying every message through `messages`. JOB_DONE, or the first
// failure; JOB_DIFFERENT and JOB_TIMING_FAULTS once everything asked for is done.
job_status_t jobrun_run(const jobrun_request_t* request, const job_messages_t* messages,
                        jobrun_result_t* result);

} // namespace vimbra
