// The render job: the steps both front ends take between their inputs and their outputs,
// rows placed or a command log read, checked and shown at a moment, the picture encoded by
// format, the display spelt as text. It reports through a sink and typed statuses; how a
// front end shows them (exit statuses, stdout or a page) is its own affair.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "chip/cmdlog.hpp"
#include "chip/replay.hpp"

namespace vimbra {

struct lcdimg_t;
struct lcdimg_source_t;

enum job_status_t : int {
    JOB_DONE = 0,
    JOB_NO_MEMORY,
    JOB_BAD_ROWS,     // a row argument that cannot be placed
    JOB_BAD_LOG,      // a malformed log, or one that cannot be replayed
    JOB_NO_MARK,      // the mark asked for is not in the log
    JOB_WRITE_FAILED, // the output could not be written (errno says why)
    JOB_BAD_INPUT,    // an input that cannot be read, or a refused reference
    JOB_BAD_SETTING,  // a refused setting: a grid whose picture would be too large
    JOB_USAGE,        // a request that cannot be carried out as asked
    JOB_DIFFERENT,    // a comparison found a difference
    JOB_TIMING_FAULTS // the timing check found faults
};

// The command line's exit status for a job status.
int job_exit_status(job_status_t status);

// Takes each message line, without a line end.
using job_sink_t = void (*)(const char* line, void* ctx);
struct job_messages_t {
    job_sink_t say;
    void* ctx;
};

// Places the rows as the row arguments of the command line.
job_status_t job_place_rows(lcdimg_t* img, const char* const* rows, int count,
                            const job_messages_t* messages);

// A command log and its replay, kept for further moments. Zero-initialise; job_log_free.
struct job_log_t {
    cmdlog_module_t module;
    cmdlog_t log;
    replay_t replay;
};

// Readies the image for a log: without a CHARSET the controller's A00 ROM, with `font` (null:
// none) on top again; then the log's module line, which gives the image its grid when
// `profile` is null and otherwise, when they differ, a warning naming the profile (when not
// empty).
job_status_t job_log_prepare(lcdimg_t* img, const lcdimg_source_t* font, const char* profile,
                             const char* text, std::size_t size, const std::string& name,
                             const job_messages_t* messages);
// A log given as text, made ready, read and checked in one: job_log_prepare, job_log_read
// on a copy of the text, job_log_check.
job_status_t job_log_load(job_log_t* job, lcdimg_t* img, const lcdimg_source_t* font,
                          const char* profile, const char* text, std::size_t size, bool hints,
                          const std::string& name, const job_messages_t* messages);
// Adds the start of every moment from 0 to `until_us`, as an animation draws them, to
// `starts`, the log having replayed to its end without refusal (job_log_check). JOB_DONE;
// JOB_BAD_LOG, with `starts` emptied, when there are more than an animation may have.
job_status_t job_log_moments(job_log_t* job, lcdimg_t* img, std::int64_t until_us,
                             std::vector<std::int64_t>* starts);
// Reads the log text (malloc'ed, owned from here on) for the image's module. Messages are
// prefixed "NAME: " when `name` is not empty, except the shortage of memory.
job_status_t job_log_read(job_log_t* job, const lcdimg_t* img, char* text, std::size_t size,
                          const std::string& name, const job_messages_t* messages);
// Replays the whole log once, so that a bad event anywhere refuses the run; with `hints`, a
// log that leaves the display dark gets a warning.
job_status_t job_log_check(job_log_t* job, const lcdimg_t* img, bool hints, const std::string& name,
                           const job_messages_t* messages);
// The moment of mark `mark`; JOB_NO_MARK (nothing said) when the log has none so named.
job_status_t job_log_mark(const job_log_t* job, const char* mark, std::int64_t* at_us);
// Shows the moment `at_us` (-1: the log's end) in the image's text grid, replaying from the
// start when it lies before the replay's; `status` (when not null) gets the cursor state.
job_status_t job_log_show(job_log_t* job, lcdimg_t* img, std::int64_t at_us,
                          const std::string& name, const job_messages_t* messages,
                          replay_status_t* status);
void job_log_free(job_log_t* job);
// Starts a replay of `log` (null: events applied later) for the image's picture: CGRAM from
// its font's glyphs 0..7; the chips under `config`'s timing (null: ideal).
void job_replay_start(replay_t* replay, const cmdlog_module_t* module, const lcdimg_t* img,
                      const cmdlog_t* log, const chip_config_t* config = nullptr);
// Draws the replay's screen at `time_us` into the image. 0, or -1 when memory is short.
int job_replay_show(const replay_t* replay, lcdimg_t* img, std::int64_t time_us);

enum job_format_t : int { JOB_FORMAT_BMP, JOB_FORMAT_PNG };

// PNG for a name ending in .png (any case), else BMP.
job_format_t job_format_of_name(const std::string& path);
// Encodes an RGB picture (top row first) into `out`.
job_status_t job_encode(job_format_t format, const unsigned char* rgb, int width, int height,
                        std::string* out);
// Writes the picture to `path` behind the output step's temporary file, or to descriptor
// `fd` when it is not negative. JOB_WRITE_FAILED leaves errno set.
job_status_t job_write_picture(job_format_t format, const unsigned char* rgb, int width, int height,
                               const char* path, int fd);

// A clock budget for the script runs of one request, a limit of the page: the image's
// script_should_stop, asked by the script runner every few steps: a step may be a jump or a fill of
// the whole picture. The clock is read every `stride` questions, the stride doubling up to 256
// while reads come less than a millisecond apart and halving otherwise.
struct job_budget_t {
    using clock = std::chrono::steady_clock;
    clock::time_point start;
    clock::time_point last;
    double budget_ms;
    std::int64_t stride;
    std::int64_t countdown;
    bool spent; // a script was stopped by it
};
void job_budget_start(job_budget_t* budget, double budget_ms);
// The stop question: true once the budget is spent.
bool job_budget_is_spent(void* ctx);
// Starts the budget and has the image's script runs ask it.
void job_budget_limit(lcdimg_t* img, job_budget_t* budget, double budget_ms);

} // namespace vimbra
