// Traces in a run: the options that say how a VCD's signals are wired and timed, the trace
// decoded into the controllers' events (a still, the events of an
// animation, a command log written out), and the chip's timing applied to a command log.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "chip/capture.hpp"
#include "chip/cmdlog.hpp"
#include "chip/replay.hpp"
#include "job/job.hpp"

namespace vimbra {

struct lcdimg_t;

inline constexpr int TRACERUN_MAX_FAULT_LINES = 100;

struct trace_options_t {
    std::string pins;
    std::string i2c_address;
    std::string wiring;
    std::string timing; // "chip", "ideal", or empty: chip for traces, ideal for logs
    int fosc_khz = 270;
    double vcc = 5.0;
    bool power_on = false;
    bool check = false;
    std::string emit_log;
    bool fosc_given = false; // --fosc and --vcc were given, not their defaults taken
    bool vcc_given = false;
};

// One line through `messages` for each trace option that a run of this kind of input
// ignores ("FILE: --pins ignored: a command log has no signals"); the run goes on.
void tracerun_warn_ignored(const trace_options_t* options, bool trace, const std::string& name,
                           const job_messages_t* messages);

// A decimal or 0x number from 0 to `max`.
bool tracerun_parse_number(const std::string& text, long max, long* value);
// "RS RW E BL D4 D5 D6 D7" pins, blanks or commas between; all different, 0 to 7.
bool tracerun_parse_wiring(const std::string& text, std::array<int, 8>* wiring);

struct tracerun_request_t {
    const trace_options_t* options;
    std::string name; // the file as messages name it
    const cmdlog_module_t* module;
    lcdimg_t* img;      // null: only the log (--emit-log) is made
    std::int64_t at_us; // -1: the end
    const job_messages_t* messages;
    std::string usage_prefix;   // before a refusal of the pins: the front end's name
    std::string animation = {}; // with a log for an animation: its file, as messages name it
};

// The most bytes of command-log text a trace's animation keeps: a log read from a file may
// not be larger either.
inline constexpr std::size_t TRACERUN_MAX_KEPT_BYTES = std::size_t{256} << 20;

struct tracerun_result_t {
    replay_status_t status;
    bool faults; // --check-timing found some: JOB_TIMING_FAULTS once all else is done
    bool too_coarse; // --check-timing could not see some bus times: JOB_TOO_COARSE, unless faults
};

// A trace as --replay names it: a file of a known kind, or a folder of a Saleae binary export.
struct tracerun_source_t {
    capture_sniff_t sniff; // CAPTURE_VCD, CAPTURE_SESSION, CAPTURE_SALEAE_CSV; for a folder
                           // CAPTURE_SALEAE_BINARY
    std::FILE* fp;         // the open file, its first bytes `head` read (not closed here)
    std::string head;
    std::string folder; // a Saleae binary export's folder
};

// Decodes the trace and draws the moment asked for into the image. `log`, when not null,
// receives every event (for an animation): reading stops at the first moment beyond an
// animation's limit, or at more than TRACERUN_MAX_KEPT_BYTES of its text, with
// JOB_WRITE_FAILED and the animation's line. JOB_DONE, JOB_NO_MEMORY, JOB_BAD_INPUT
// (unreadable), JOB_WRITE_FAILED (the --emit-log file not written) or JOB_BAD_LOG (malformed,
// or pins the trace does not have).
job_status_t tracerun_trace(const tracerun_request_t* request, const tracerun_source_t* source,
                            cmdlog_t* log, tracerun_result_t* result);
// A VCD whose first bytes `head` were already read from `fp`: tracerun_trace of that source.
job_status_t tracerun_vcd(const tracerun_request_t* request, std::FILE* fp, const std::string& head,
                          cmdlog_t* log, tracerun_result_t* result);
// The file at `path` told by its content, for tracerun_trace: 0 with `source` filled (the file
// open with its first bytes in `head`, or the folder named), or -1 with errno.
int tracerun_open(const char* path, tracerun_source_t* source);
// The message for a file of no kind --replay reads, after "NAME: ".
inline constexpr const char* TRACERUN_KINDS =
    "none of the kinds --replay reads: a command log, a VCD, a sigrok session (.sr), a Saleae "
    "Logic 2 export (a folder of binary files, or CSV)";
// The chip's timing on a command log just read: with --timing chip, bytes it would not take
// leave the log; with --check-timing every fault is named; --emit-log writes it out. A job
// status as above.
job_status_t tracerun_log(const tracerun_request_t* request, cmdlog_t* log,
                          tracerun_result_t* result);

} // namespace vimbra
