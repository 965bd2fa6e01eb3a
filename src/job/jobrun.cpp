#include "job/jobrun.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "base/shown.hpp"
#include "job/animout.hpp"
#include "job/iopaths.hpp"
#include "job/refpic.hpp"
#include "job/screen.hpp"
#include "job/snapshot.hpp"
#include "lcd/lcdimg.hpp"

namespace vimbra {

namespace {

constexpr const char* STDIO_NAME = "-";
constexpr const char* NO_MEMORY_LINE = "Memory Allocation Error.";

// One run's state: what it was asked, what it has made so far.
struct run_t {
    const jobrun_request_t* request;
    const job_messages_t* messages;
    jobrun_result_t* result;
    lcdimg_t* img;
    bool have_status;
    replay_status_t status;
    unsigned char* scaled; // the picture at the scale asked for, when above 1; owned
    job_log_t log;         // the log replayed, kept for an animation
    const unsigned char* rgb;
    int width;
    int height;
    bool timing_faults;
    bool too_coarse; // --check-timing could not see some bus times
};

void say(const run_t& run, const std::string& line) {
    run.messages->say(line.c_str(), run.messages->ctx);
}

job_status_t no_memory(const run_t& run) {
    say(run, NO_MEMORY_LINE);
    return JOB_NO_MEMORY;
}

bool given(const char* name) {
    return name != nullptr;
}

std::string file_label(const char* path, const char* stdio = "standard input") {
    return std::strcmp(path, STDIO_NAME) == 0 ? stdio : path;
}

std::string reason(int error) {
    return error != 0 ? std::strerror(error) : "unknown error";
}

// The image of the profile and the font, both optional here; a named file must be readable.
job_status_t open_image(run_t* run) {
    const jobrun_request_t& r = *run->request;
    std::array<char, LCDIMG_SETTING_MESSAGE_CAPACITY> message{};
    const int status = lcdimg_open_checked(r.profile, r.font, &run->img, message.data(),
                                           static_cast<int>(message.size()));
    const int error = errno;
    switch (status) {
    case LCDIMG_OPENED:
        run->img->console = r.console;
        return JOB_DONE;
    case LCDIMG_OPEN_PROFILE_UNREADABLE:
        say(*run, std::string(r.profile) + ": cannot read the profile: " + reason(error));
        break;
    case LCDIMG_OPEN_FONT_UNREADABLE:
        say(*run, std::string(r.font) + ": cannot read the font: " + reason(error));
        break;
    case LCDIMG_OPEN_BAD_SETTING:
        say(*run, std::string(r.profile) + ": " + message.data());
        break;
    default:
        say(*run, message.data());
        break;
    }
    return JOB_BAD_INPUT;
}

// The moment of the mark asked for; a missing one is a usage error that lists the marks.
job_status_t find_mark(run_t* run, const std::string& name, std::int64_t* at) {
    const char* mark = run->request->at_mark;
    if (job_log_mark(&run->log, mark, at) == JOB_DONE) {
        return JOB_DONE;
    }
    std::string message;
    if (snapshot_missing_mark(run->log.log.marks, run->log.log.mark_count, mark, name, &message) !=
        0) {
        return no_memory(*run);
    }
    run->result->usage = "--at: " + message;
    return JOB_NO_MARK;
}

// A trace, decoded straight into the moment asked for (and, for an animation, into the log).
job_status_t replay_trace(run_t* run, const tracerun_request_t& request,
                          const tracerun_source_t& source) {
    lcdimg_module_of(run->img, &run->log.module);
    if (given(run->request->at_mark)) {
        // A mark's name that starts with a digit was meant as a time that is none.
        const char* at = run->request->at_mark;
        say(*run, request.name + ": --at: " +
                      (at[0] >= '0' && at[0] <= '9'
                           ? "not a time: '" + shown_text(at) +
                                 "' (whole microseconds up to 2^50 us, e.g. 1.5s, 250ms, 40us); "
                                 "a trace has no marks"
                           : std::string("a trace has no marks; give a time")));
        return JOB_BAD_LOG;
    }
    if (source.sniff.kind == CAPTURE_UNKNOWN) {
        say(*run, request.name + ": " + TRACERUN_KINDS);
        return JOB_BAD_LOG;
    }
    if (source.sniff.kind == CAPTURE_SALEAE_BINARY && source.folder.empty()) {
        say(*run, request.name +
                      ": one channel of a Saleae binary export: give --replay its folder");
        return JOB_BAD_LOG;
    }
    tracerun_result_t traced{};
    const job_status_t status = tracerun_trace(
        &request, &source, run->request->animation ? &run->log.log : nullptr, &traced);
    run->status = traced.status;
    run->have_status = status == JOB_DONE;
    run->timing_faults = traced.faults;
    run->too_coarse = traced.too_coarse;
    return status;
}

// Replays the log into the image: first all of it, so that a bad line anywhere refuses the
// run, then again up to the moment asked for.
job_status_t replay_log(run_t* run) {
    const jobrun_request_t& r = *run->request;
    const std::string name = file_label(r.replay);
    lcdimg_t* img = run->img;
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* trace = nullptr;
    tracerun_source_t source{};
    struct stat st {};
    if (std::strcmp(r.replay, STDIO_NAME) != 0 && ::stat(r.replay, &st) == 0 &&
        S_ISDIR(st.st_mode)) {
        // A folder: a Saleae binary export, one file per channel.
        if (tracerun_open(r.replay, &source) != 0) {
            say(*run, name + ": cannot read the log: " + reason(errno));
            return JOB_BAD_INPUT;
        }
    } else if (iopaths_read_log(r.replay, &text, &size, &trace, &source.sniff) != 0) {
        say(*run, name + ": cannot read the log: " + reason(errno));
        return JOB_BAD_INPUT;
    }
    std::unique_ptr<char, decltype(&std::free)> owned(text, &std::free);
    // A trace has no module line: only the character ROM is readied for it.
    const lcdimg_source_t font{r.font, nullptr, 0};
    if (const job_status_t status =
            job_log_prepare(img, given(r.font) ? &font : nullptr, r.profile, text,
                            trace != nullptr || !source.folder.empty() ? 0 : size, name,
                            run->messages);
        status != JOB_DONE) {
        if (trace != nullptr && trace != stdin) {
            std::fclose(trace);
        }
        return status;
    }
    const trace_options_t defaults{};
    const trace_options_t& options = r.trace != nullptr ? *r.trace : defaults;
    tracerun_request_t request{&options, name,          &run->log.module, img,
                               r.at_us,  run->messages, "vimbracli: "};
    if (r.animation && given(r.output)) {
        request.animation = file_label(r.output, "standard output");
    }
    tracerun_warn_ignored(&options, trace != nullptr || !source.folder.empty(), name,
                          run->messages);
    if (!source.folder.empty()) {
        return replay_trace(run, request, source);
    }
    if (trace != nullptr) {
        source.fp = trace;
        source.head.assign(text, size);
        const job_status_t status = replay_trace(run, request, source);
        if (trace != stdin) {
            std::fclose(trace);
        }
        return status;
    }
    if (const job_status_t read =
            job_log_read(&run->log, img, owned.release(), size, name, run->messages);
        read != JOB_DONE) {
        return read;
    }
    tracerun_result_t traced{};
    if (const job_status_t status = tracerun_log(&request, &run->log.log, &traced);
        status != JOB_DONE) {
        return status;
    }
    run->timing_faults = traced.faults;
    if (const job_status_t checked = job_log_check(&run->log, img, true, name, run->messages);
        checked != JOB_DONE) {
        return checked;
    }
    std::int64_t at = r.at_us;
    if (given(r.at_mark)) {
        if (const job_status_t found = find_mark(run, name, &at); found != JOB_DONE) {
            return found;
        }
    }
    run->have_status = true;
    return job_log_show(&run->log, img, at, name, run->messages, &run->status);
}

// Fills the display from the rows or the log, renders it and scales it.
job_status_t make_picture(run_t* run) {
    const jobrun_request_t& r = *run->request;
    lcdimg_t* img = run->img;
    const job_status_t filled =
        given(r.replay) ? replay_log(run) : job_place_rows(img, r.rows, r.row_count, run->messages);
    if (filled != JOB_DONE) {
        return filled;
    }
    img->script_step_limit = r.max_steps;
    img->script_messages_named = true;
    lcdimg_render(img);
    run->rgb = img->pixels;
    run->width = img->canvas_width;
    run->height = img->canvas_height;
    if (r.scale <= 1) {
        return JOB_DONE;
    }
    if (!screen_scale_fits(run->width, run->height, r.scale)) {
        say(*run, "Picture too large: " + std::to_string(std::int64_t{run->width} * r.scale) +
                      " x " + std::to_string(std::int64_t{run->height} * r.scale) +
                      " pixels at scale " + std::to_string(r.scale) +
                      " (at most 65535 x 65535 and 2 GiB).");
        return JOB_BAD_INPUT;
    }
    run->scaled = screen_scale(img->pixels, img->canvas_width, img->canvas_height, r.scale);
    if (run->scaled == nullptr) {
        return no_memory(*run);
    }
    run->rgb = run->scaled;
    run->width *= r.scale;
    run->height *= r.scale;
    return JOB_DONE;
}

bool write_all(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The rows as row arguments, then the cursor and the display modes.
job_status_t print_text(const run_t& run) {
    std::string out;
    if (screen_text(run.img, run.have_status ? &run.status : nullptr, &out) != 0) {
        return no_memory(run);
    }
    if (!write_all(run.request->out_fd, out)) {
        say(run, "standard output: could not be written: " + reason(errno));
        return JOB_WRITE_FAILED;
    }
    return JOB_DONE;
}

// Writes one picture of `width` pixels a row to `path` ("-": standard output), in the
// format asked for; on failure says why.
job_status_t write_picture(const run_t& run, const char* path, const unsigned char* rgb,
                           int width) {
    const jobrun_format_t format = run.request->format;
    const bool to_stdout = std::strcmp(path, STDIO_NAME) == 0;
    const job_format_t encoding = format == JOBRUN_FORMAT_PNG       ? JOB_FORMAT_PNG
                                  : format == JOBRUN_FORMAT_BY_NAME ? job_format_of_name(path)
                                                                    : JOB_FORMAT_BMP;
    const job_status_t status = job_write_picture(encoding, rgb, width, run.height, path,
                                                  to_stdout ? run.request->out_fd : -1);
    const int error = errno;
    if (status == JOB_NO_MEMORY) {
        return no_memory(run);
    }
    if (status != JOB_DONE) {
        say(run, (to_stdout ? std::string("standard output") : std::string(path)) +
                     ": could not be written: " + reason(error));
    }
    return status;
}

// Reads the reference, of whatever size. With an update asked for, a missing reference is
// no error: `missing` is set and the reference gets written.
job_status_t read_reference(const run_t& run, refpic_t* ref, bool* missing) {
    const char* path = run.request->compare;
    std::array<char, REFPIC_MESSAGE_CAPACITY> message{};
    const int status = refpic_read(path, run.width, run.height, ref, message.data(),
                                   static_cast<int>(message.size()));
    const int error = errno;
    switch (status) {
    case REFPIC_OK:
        return JOB_DONE;
    case REFPIC_UNREADABLE:
        if (error == ENOENT && run.request->update) {
            *missing = true;
            return JOB_DONE;
        }
        say(run, std::string(path) + ": cannot read the reference: " + reason(error) +
                     (error == ENOENT ? " (--update writes it)" : ""));
        return JOB_BAD_INPUT;
    case REFPIC_REFUSED:
        say(run, std::string(path) + ": " + message.data());
        return JOB_BAD_INPUT;
    default:
        return no_memory(run);
    }
}

// Writes the picture as the reference (PNG for a .png name, else BMP).
job_status_t update_reference(const run_t& run) {
    const char* path = run.request->compare;
    const job_status_t status =
        job_write_picture(job_format_of_name(path), run.rgb, run.width, run.height, path, -1);
    const int error = errno;
    if (status == JOB_NO_MEMORY) {
        return no_memory(run);
    }
    say(run, std::string(path) +
                 (status == JOB_DONE ? ": updated" : ": could not be written: " + reason(error)));
    return status;
}

// The diff picture: the reference, the picture with its differing cells marked, and the
// picture, side by side.
job_status_t write_diff(const run_t& run, const screen_layout_t& layout, const screen_diff_t& diff,
                        const refpic_t& ref) {
    const std::int64_t width = std::int64_t{run.width} * 3 + 2 * SCREEN_PANEL_GAP;
    if (!screen_scale_fits(static_cast<int>(std::min<std::int64_t>(width, INT32_MAX)), run.height,
                           1)) {
        say(run, std::string(run.request->diff) + ": could not be written: three panels of " +
                     std::to_string(run.width) + " x " + std::to_string(run.height) +
                     " pixels are too large a picture");
        return JOB_WRITE_FAILED;
    }
    const std::size_t bytes =
        static_cast<std::size_t>(run.width) * static_cast<std::size_t>(run.height) * 3;
    auto* marked = static_cast<unsigned char*>(std::malloc(bytes));
    unsigned char* panels = nullptr;
    if (marked != nullptr) {
        std::memcpy(marked, run.rgb, bytes);
        screen_mark(&layout, &diff, marked, ref.rgb, run.width, run.height);
        panels = screen_panels(ref.rgb, marked, run.rgb, run.width, run.height);
    }
    std::free(marked);
    if (panels == nullptr) {
        return no_memory(run);
    }
    const job_status_t status =
        write_picture(run, run.request->diff, panels, static_cast<int>(width));
    std::free(panels);
    return status;
}

// Compares with the reference, reports a difference and writes the diff picture; with an
// update asked for, a reference that differs or is missing is written instead of reported.
job_status_t compare_with(const run_t& run, const refpic_t& ref, bool missing) {
    const jobrun_request_t& r = *run.request;
    if (missing) {
        return update_reference(run);
    }
    if (ref.width != run.width || ref.height != run.height) {
        if (r.update) {
            return update_reference(run);
        }
        say(run, std::string(r.compare) + ": sizes differ: the picture is " +
                     std::to_string(run.width) + " x " + std::to_string(run.height) +
                     ", the reference " + std::to_string(ref.width) + " x " +
                     std::to_string(ref.height));
        return JOB_DIFFERENT;
    }
    screen_layout_t layout{};
    screen_layout_of(run.img, r.scale, &layout);
    screen_diff_t diff{};
    std::string report;
    if (screen_compare(&layout, run.rgb, ref.rgb, run.width, run.height, &diff) != 0 ||
        screen_diff_report(&layout, &diff, JOBRUN_REPORT_CELLS, &report) != 0) {
        screen_diff_free(&diff);
        return no_memory(run);
    }
    job_status_t status = report.empty() ? JOB_DONE : JOB_DIFFERENT;
    if (given(r.diff)) {
        const job_status_t written = write_diff(run, layout, diff, ref);
        status = written != JOB_DONE ? written : status;
    }
    screen_diff_free(&diff);
    if (status == JOB_DIFFERENT && r.update) {
        return update_reference(run);
    }
    if (!report.empty()) {
        say(run, std::string(r.compare) + ": " + report);
    }
    return status;
}

// Writes the whole log (or the rows) as an animation; on failure says why.
job_status_t write_animation(const run_t& run) {
    const jobrun_request_t& r = *run.request;
    const int fd = std::strcmp(r.output, STDIO_NAME) == 0 ? r.out_fd : -1;
    const animout_request_t request{r.output, fd, r.animation_format, r.hold_us, r.plays, r.scale};
    std::string message;
    const int status =
        animout_write(&request, run.img, given(r.replay) ? &run.log.log : nullptr, &message);
    if (status != ANIMOUT_OK) {
        say(run, message);
    }
    return status == ANIMOUT_NO_MEMORY ? JOB_NO_MEMORY
           : status != ANIMOUT_OK      ? JOB_WRITE_FAILED
                                       : JOB_DONE;
}

// After the picture: the reference is read first, so that a bad one writes nothing.
job_status_t deliver(run_t* run) {
    const jobrun_request_t& r = *run->request;
    refpic_t ref{};
    bool missing = false;
    job_status_t status = given(r.compare) ? read_reference(*run, &ref, &missing) : JOB_DONE;
    if (status == JOB_DONE && r.text) {
        status = print_text(*run);
    }
    if (status == JOB_DONE && given(r.output)) {
        status = r.animation ? write_animation(*run)
                             : write_picture(*run, r.output, run->rgb, run->width);
    }
    if (status == JOB_DONE && given(r.compare)) {
        status = compare_with(*run, ref, missing);
    }
    refpic_free(&ref);
    return status;
}

// Two names of one file, one of them written, would overwrite an input or an output with
// another: refused before anything is read or written.
job_status_t refuse_same_files(const run_t& run) {
    const jobrun_request_t& r = *run.request;
    std::vector<iopaths_entry_t> files;
    for (const iopaths_entry_t& file :
         {iopaths_entry_t{"-o", r.output, true}, iopaths_entry_t{"--diff", r.diff, true},
          iopaths_entry_t{"--compare", r.compare, false},
          iopaths_entry_t{"--replay", r.replay, false},
          iopaths_entry_t{"--profile", r.profile, false}, iopaths_entry_t{"--font", r.font, false},
          iopaths_entry_t{"--emit-log",
                          r.trace != nullptr && !r.trace->emit_log.empty()
                              ? r.trace->emit_log.c_str()
                              : nullptr,
                          true}}) {
        if (given(file.path) && std::strcmp(file.path, STDIO_NAME) != 0) {
            files.push_back(file);
        }
    }
    int a = 0;
    int b = 0;
    if (!iopaths_find_same(files.data(), static_cast<int>(files.size()), &a, &b)) {
        return JOB_DONE;
    }
    const iopaths_entry_t& first = files[static_cast<std::size_t>(a)];
    const iopaths_entry_t& second = files[static_cast<std::size_t>(b)];
    say(run, std::string(second.path) + ": " + first.option + " and " + second.option +
                 " name the same file");
    return JOB_USAGE;
}

} // namespace

job_status_t jobrun_run(const jobrun_request_t* request, const job_messages_t* messages,
                        jobrun_result_t* result) {
    run_t run{};
    run.request = request;
    run.messages = messages;
    run.result = result;
    job_status_t status = refuse_same_files(run);
    if (status == JOB_DONE) {
        status = open_image(&run);
    }
    if (status == JOB_DONE) {
        status = make_picture(&run);
    }
    if (status == JOB_DONE) {
        status = deliver(&run);
    }
    if (status == JOB_DONE && run.timing_faults) {
        status = JOB_TIMING_FAULTS;
    } else if (status == JOB_DONE && run.too_coarse) {
        status = JOB_TOO_COARSE;
    }
    std::free(run.scaled);
    job_log_free(&run.log);
    lcdimg_close(run.img);
    return status;
}

} // namespace vimbra
