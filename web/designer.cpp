// The designer's entry points into the library, called from its Web Worker. The worker
// writes the texts into the in-memory file system; a render then runs the command line's
// steps over them, its messages going to the worker's message device, and leaves a session open
// (the image, and the replayed log when the Log pane holds one) so that the page can read its
// pixels and ask for other moments.
#include <emscripten/emscripten.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "base/console.hpp"
#include "bmp/giffile.hpp"
#include "chip/chip.hpp"
#include "chip/cmdlog.hpp"
#include "job/animate.hpp"
#include "job/animout.hpp"
#include "job/job.hpp"
#include "job/tracerun.hpp"
#include "lcd/fontedit.hpp"
#include "lcd/lcdimg.hpp"
#include "lcd/lcdprof.hpp"

using namespace vimbra;

namespace {

constexpr const char* PROFILE_PATH = "/designer/profile.prof";
constexpr const char* FONT_PATH = "/designer/font.fnt";
constexpr const char* SCRIPT_PATH = "/designer/script.bas";
constexpr const char* ROWS_PATH = "/designer/rows"; // row texts, each ended by a NUL byte
constexpr const char* STDIN_PATH = "/designer/stdin.txt";
constexpr const char* MESSAGES_PATH = "/designer/messages.txt";
constexpr const char* LOG_PATH = "/designer/log.txt";

// The most pixels the page draws, 4096 x 4096: its three copies of a picture (RGB, RGBA and
// the canvas's) stay within a few hundred megabytes and a render within about a second.
constexpr std::int64_t PAGE_PIXEL_LIMIT = std::int64_t{1} << 24;

// Statuses, as the command line's exit statuses.
enum designer_status : int {
    DESIGNER_DONE = 0,
    DESIGNER_BAD_CONFIGURATION = 1,
    DESIGNER_BAD_FORMAT = 2,
    DESIGNER_OUTPUT_FAILED = 3,
};

// Each request's messages and script input: the worker's message device, opened anew for
// every request (a device cannot seek, so appending would fail), and the input pane's text.
struct request_io_t {
    std::FILE* out;
    std::FILE* in;
};
request_io_t io{};

// Also makes them those of the image, when there is one.
void begin_request(lcdimg_t* img = nullptr) {
    io = {std::fopen(MESSAGES_PATH, "w"), std::fopen(STDIN_PATH, "r")};
    if (img != nullptr) {
        img->console = console_on(io.out, io.in);
    }
}

int end_request(int status) {
    for (std::FILE* file : {io.out, io.in}) {
        if (file != nullptr) {
            std::fclose(file);
        }
    }
    io = {};
    return status;
}

// One message line.
__attribute__((format(printf, 1, 2))) void say(const char* format, ...) {
    if (io.out == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::vfprintf(io.out, format, args);
    va_end(args);
    std::fputc('\n', io.out);
}

void say_line(const char* line, void*) {
    say("%s", line);
}
constexpr job_messages_t MESSAGES{say_line, nullptr};

// The whole file, or an empty text when it cannot be read.
std::string read_file(const char* path) {
    std::string text;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return text;
    }
    std::array<char, 4096> chunk{};
    std::size_t n = 0;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), file)) > 0) {
        text.append(chunk.data(), n);
    }
    std::fclose(file);
    return text;
}

// Splits the rows file at its NUL bytes: one text per display row, like argv's.
std::vector<std::string> read_rows() {
    std::vector<std::string> rows;
    const std::string all = read_file(ROWS_PATH);
    for (std::size_t start = 0; start < all.size();) {
        const std::size_t end = std::min(all.find('\0', start), all.size());
        rows.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return rows;
}

// The picture's size when the profile's settings are sound, else 0 x 0, found without a word
// or an allocation: the image is made only when the page can hold it. `charset`
// (LCDIMG_TEXT_CAPACITY bytes) gets CHARSET as written.
std::pair<int, int> probe_profile(const std::string& profile, char* charset) {
    charset[0] = '\0';
    std::pair<int, int> size{0, 0};
    auto probe = std::unique_ptr<lcdimg_t>(new (std::nothrow) lcdimg_t{});
    if (probe == nullptr) {
        return size; // opening the image meets the same shortage and says so
    }
    lcdimg_set_defaults(probe.get());
    (void)lcdprof_read_text(profile.data(), profile.size(), probe.get(), 0);
    probe->charset_name.back() = '\0';
    std::memcpy(charset, probe->charset_name.data(), probe->charset_name.size());
    std::array<char, LCDIMG_SETTING_MESSAGE_CAPACITY> message{};
    if (lcdimg_check_settings_message(probe.get(), message.data(),
                                      static_cast<int>(message.size())) == 0) {
        calc_canvas_size(probe.get(), &size.first, &size.second);
    }
    return size;
}

// What the page keeps between requests: the image as the last render left it and, when the
// Log pane held a log, the log, its replay and the start of every distinct moment.
struct session_t {
    lcdimg_t* img;
    job_budget_t budget;
    bool replaying;
    job_log_t job;
    std::int64_t hold_us;
    std::vector<double> moments; // microseconds; empty when there are too many to list
    std::string marks_text;      // designer_marks's answer
};

void budget_note(const job_budget_t& budget) {
    if (budget.spent) {
        say("The page gives a script %g s; vimbracli runs it to its end.", budget.budget_ms / 1000);
    }
}

// Paints the image and runs its script within the budget (lcdimg_render), then writes the
// file when `path` names one, since a preview is read from the pixels. A job status.
int draw_picture(session_t* session, const char* path, double budget_ms) {
    lcdimg_t* img = session->img;
    job_budget_limit(img, &session->budget, budget_ms);
    lcdimg_render(img);
    budget_note(session->budget);
    if (path[0] == '\0') {
        return 0;
    }
    return job_write_picture(job_format_of_name(path), img->pixels, img->canvas_width,
                             img->canvas_height, path, -1);
}

// Replays the log to `at_us` and shows that moment in the image. 0, or -1 with the message
// printed.
int show_moment(session_t* session, std::int64_t at_us) {
    return job_log_show(&session->job, session->img, at_us, "", &MESSAGES, nullptr) == JOB_DONE
               ? 0
               : -1;
}

// The Log pane's text replayed as the command line replays a log, the whole of it first so
// that a bad line anywhere refuses it, with the start of every moment to its end and the
// hold (none when there are more than an animation may have). A designer_status.
int replay_log(session_t* session, const std::string& font, const std::string& text,
               std::int64_t at_us) {
    const lcdimg_source_t font_text{nullptr, font.data(), font.size()};
    const job_status_t loaded = job_log_load(&session->job, session->img, &font_text, "",
                                             text.data(), text.size(), false, "", &MESSAGES);
    session->replaying = loaded == JOB_DONE;
    if (loaded != JOB_DONE) {
        return job_exit_status(loaded);
    }
    std::vector<std::int64_t> starts;
    job_log_moments(&session->job, session->img, session->job.log.end_us + session->hold_us,
                    &starts);
    session->moments.assign(starts.begin(), starts.end());
    return show_moment(session, at_us) == 0 ? DESIGNER_DONE : DESIGNER_BAD_FORMAT;
}

// The rows pane's texts placed as the command line places its row arguments.
int place_rows(lcdimg_t* img) {
    const std::vector<std::string> texts = read_rows();
    std::vector<const char*> rows;
    for (const std::string& text : texts) {
        rows.push_back(text.c_str());
    }
    return job_exit_status(
        job_place_rows(img, rows.data(), static_cast<int>(rows.size()), &MESSAGES));
}

// The image of the profile and font panes' texts, its messages those of the request; null,
// with the refusal said, when it cannot be made.
lcdimg_t* open_image(const std::string& profile, const std::string& font) {
    const lcdimg_source_t profile_text{nullptr, profile.data(), profile.size()};
    const lcdimg_source_t font_text{nullptr, font.data(), font.size()};
    std::array<char, LCDIMG_SETTING_MESSAGE_CAPACITY> message{};
    lcdimg_t* img = nullptr;
    if (lcdimg_open_from(&profile_text, &font_text, &img, message.data(),
                         static_cast<int>(message.size())) != LCDIMG_OPENED) {
        if (message[0] != '\0') {
            say("%s", message.data());
        }
        say("Illegal configuration found.");
        return nullptr;
    }
    img->console = console_on(io.out, io.in);
    // The script pane stands for the profile's script: when it holds text it is run as if
    // SCRIPT named it, and the profile's own SCRIPT path is never read.
    img->script_path.fill('\0');
    if (!read_file(SCRIPT_PATH).empty()) {
        std::strncpy(img->script_path.data(), SCRIPT_PATH, img->script_path.size() - 1);
    }
    return img;
}

bool write_text(const char* path, const std::string& text) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

} // namespace

extern "C" {

// Renders the texts in /designer with the command line's messages going to MESSAGES_PATH
// and the script's input read from STDIN_PATH, both fresh for every run; a script gets
// `budget_ms` of time. When the Log pane (LOG_PATH) holds text it is replayed and shown at
// `at_us` (negative: its end), and the rows are not read; `hold` is the animation's hold
// (empty: one second), which the list of moments runs to. The picture is written to
// `output_path` (.bmp, or another name the library knows) when that is not empty. A
// picture above PAGE_PIXEL_LIMIT is refused before anything is drawn. *status gets the
// command line's exit status and `charset` (LCDIMG_TEXT_CAPACITY bytes) the profile's
// CHARSET as written; the session is returned open (null when memory is short) and must
// be given to designer_close. Its image is null when it could not be made.
EMSCRIPTEN_KEEPALIVE session_t* designer_render(const char* output_path, double budget_ms,
                                                double at_us, const char* hold, int* status,
                                                char* charset) {
    begin_request();
    const std::string profile = read_file(PROFILE_PATH);
    const std::string font = read_file(FONT_PATH);
    const std::string log = read_file(LOG_PATH);
    const auto [width, height] = probe_profile(profile, charset);
    *status = DESIGNER_BAD_CONFIGURATION;
    auto* session = new (std::nothrow) session_t{};
    if (session == nullptr) {
        say("Memory Allocation Error.");
        end_request(0);
        return nullptr;
    }
    session->hold_us = ANIMATE_DEFAULT_HOLD_US;
    if (std::int64_t{width} * height > PAGE_PIXEL_LIMIT) {
        say("Picture too large for the page: %d x %d pixels, more than its %lld; vimbracli draws "
            "it from the same files.",
            width, height, static_cast<long long>(PAGE_PIXEL_LIMIT));
    } else if ((session->img = open_image(profile, font)) == nullptr) {
    } else if (!log.empty() && hold[0] != '\0' && cmdlog_parse_time(hold, &session->hold_us) != 0) {
        say("Hold: not a time: '%s' (e.g. 2s, 500ms)", hold);
        *status = DESIGNER_BAD_FORMAT;
    } else {
        // Any time of a log is a whole number of microseconds that a double holds exactly;
        // anything else (NaN too) stands for the log's end.
        const bool is_time = at_us >= 0 && at_us <= static_cast<double>(CMDLOG_MAX_TIME_US);
        const std::int64_t at = is_time ? static_cast<std::int64_t>(at_us) : -1;
        *status = log.empty() ? place_rows(session->img) : replay_log(session, font, log, at);
        if (*status == DESIGNER_DONE) {
            const int written = draw_picture(session, output_path, budget_ms);
            if (written == JOB_NO_MEMORY) {
                say("Memory Allocation Error.");
                *status = DESIGNER_BAD_CONFIGURATION;
            } else if (written != JOB_DONE) {
                say("Output file could not be written. (%s)", output_path);
                *status = DESIGNER_OUTPUT_FAILED;
            }
        }
    }
    end_request(0);
    return session;
}

// The session's image (null when it could not be made), for the accessors below.
EMSCRIPTEN_KEEPALIVE lcdimg_t* designer_image(const session_t* session) {
    return session->img;
}

// The log's end in microseconds, or -1 when the session draws rows.
EMSCRIPTEN_KEEPALIVE double designer_log_end(const session_t* session) {
    return session->replaying ? static_cast<double>(session->job.log.end_us) : -1;
}

// The hold in microseconds.
EMSCRIPTEN_KEEPALIVE double designer_hold(const session_t* session) {
    return static_cast<double>(session->hold_us);
}

// The start of every distinct moment, in microseconds, ascending; *count of them (0 when
// there are too many, or no log).
EMSCRIPTEN_KEEPALIVE const double* designer_moments(const session_t* session, int* count) {
    *count = static_cast<int>(session->moments.size());
    return session->moments.data();
}

// The marks of the session's log, one "NAME TIME_US" line each in log order; empty without
// a log or marks. Valid until the next call or designer_close.
EMSCRIPTEN_KEEPALIVE const char* designer_marks(session_t* session) {
    session->marks_text.clear();
    for (std::size_t i = 0; session->replaying && i < session->job.log.mark_count; ++i) {
        const cmdlog_mark_t& mark = session->job.log.marks[i];
        session->marks_text.append(mark.name.data()).append(" ");
        session->marks_text.append(std::to_string(mark.time_us)).append("\n");
    }
    return session->marks_text.c_str();
}

// The first controller's CGRAM at the moment shown (64 row bytes, bit 4 the leftmost dot):
// the glyphs the log has defined. Null when the session draws rows.
EMSCRIPTEN_KEEPALIVE const unsigned char* designer_cgram(const session_t* session) {
    return session->replaying ? session->job.replay.chips[0].cgram.data() : nullptr;
}

// Shows the replayed log of a session that rendered without refusal at `at_us`, its script
// run within `budget_ms`, with fresh messages and input as designer_render's. The command
// line's exit status.
EMSCRIPTEN_KEEPALIVE int designer_frame(session_t* session, double at_us, double budget_ms) {
    begin_request(session->img);
    int status = DESIGNER_BAD_FORMAT;
    const double last = static_cast<double>(session->job.log.end_us + session->hold_us);
    if (!session->replaying || !(at_us >= 0 && at_us <= last)) {
        say("No such moment of the log."); // the page asks only for its slider's
    } else if (show_moment(session, static_cast<std::int64_t>(at_us)) == 0) {
        status = draw_picture(session, "", budget_ms);
    }
    return end_request(status);
}

// Writes the session's log (or, without one, its rows as one frame) as the command line's
// animation to `path`: a GIF (`format` 0) or an APNG (1), played `plays` times (0: forever),
// its scripts within `budget_ms` all together. A script stopped by the budget would make
// frames the command line does not make, so it refuses the file. The command line's exit
// status, with the messages printed.
EMSCRIPTEN_KEEPALIVE int designer_animation(session_t* session, const char* path, int format,
                                            int plays, double budget_ms) {
    begin_request(session->img);
    if (plays < 0 || plays > GIFFILE_MAX_PLAYS) {
        say("Loop: %d is not a number of plays from 0 (forever) to %d.", plays, GIFFILE_MAX_PLAYS);
        return end_request(DESIGNER_BAD_FORMAT);
    }
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        say("Output file could not be written. (%s)", path);
        return end_request(DESIGNER_OUTPUT_FAILED);
    }
    job_budget_limit(session->img, &session->budget, budget_ms);
    const animout_request_t request{
        "Animation", fd, format == 1 ? ANIMATE_APNG : ANIMATE_GIF, session->hold_us, plays, 1};
    std::string message;
    const int result = animout_write(&request, session->img,
                                     session->replaying ? &session->job.log : nullptr, &message);
    const bool closed = ::close(fd) == 0;
    if (session->replaying) { // the replay now stands at the end: start it again
        job_replay_start(&session->job.replay, &session->job.module, session->img,
                         &session->job.log);
    }
    int status = result == ANIMOUT_NO_MEMORY       ? DESIGNER_BAD_CONFIGURATION
                 : result != ANIMOUT_OK || !closed ? DESIGNER_OUTPUT_FAILED
                                                   : DESIGNER_DONE;
    if (result != ANIMOUT_OK) {
        say("%s", message.c_str());
    } else if (!closed) {
        say("Output file could not be written. (%s)", path);
    } else if (session->budget.spent) {
        say("The page gives the scripts of an animation %g s in all; vimbracli draws it from "
            "the same files.",
            budget_ms / 1000);
        status = DESIGNER_OUTPUT_FAILED;
    }
    return end_request(status);
}

// The picture as RGBA, top row first, for the page's canvas: a buffer to be given to free,
// or null when memory is short.
EMSCRIPTEN_KEEPALIVE unsigned char* designer_rgba(const lcdimg_t* img) {
    const std::size_t count =
        static_cast<std::size_t>(img->canvas_width) * static_cast<std::size_t>(img->canvas_height);
    auto* rgba = static_cast<unsigned char*>(std::malloc(count * 4));
    if (rgba == nullptr) {
        return nullptr;
    }
    for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(rgba + 4 * i, img->pixels + 3 * i, 3);
        rgba[4 * i + 3] = 255;
    }
    return rgba;
}

// Toggles dot (`row`, `column`) of glyph `code` in the font text at `path` (fontedit_toggle)
// and writes the new text in its place; 0 when it did, -1 (the file untouched) when the
// arguments are out of range or the file could not be read or written.
EMSCRIPTEN_KEEPALIVE int designer_glyph_toggle(const char* path, int code, int row, int column,
                                               unsigned char* glyph) {
    if (::access(path, R_OK) != 0) {
        return -1;
    }
    std::string text = read_file(path);
    std::array<unsigned char, LCDIMG_GLYPH_BYTES> columns{};
    std::memcpy(columns.data(), glyph, columns.size());
    const std::string next = std::string(path) + ".next";
    if (fontedit_toggle(&text, code, row, column, columns.data()) != 0 ||
        !write_text(next.c_str(), text) || std::rename(next.c_str(), path) != 0) {
        std::remove(next.c_str());
        return -1;
    }
    std::memcpy(glyph, columns.data(), columns.size());
    return 0;
}

// The picture's pixels, RGB, top row first, as the last render left them.
EMSCRIPTEN_KEEPALIVE unsigned char* designer_pixels(lcdimg_t* img) {
    return img->pixels;
}

constexpr int GEOMETRY_VALUES = 14;

// The sizes the page reads buffers by, so that it keeps no copies: out[0] the geometry's
// values, out[1] glyphs and out[2] bytes per glyph in the glyph table, out[3] CGRAM's bytes,
// out[4] the capacity of a profile text setting.
EMSCRIPTEN_KEEPALIVE void designer_sizes(int* out) {
    const std::array<int, 5> values = {GEOMETRY_VALUES, LCDIMG_GLYPH_COUNT, LCDIMG_GLYPH_BYTES,
                                       CHIP_CGRAM_BYTES, static_cast<int>(LCDIMG_TEXT_CAPACITY)};
    std::memcpy(out, values.data(), sizeof(int) * values.size());
}

// Fills out with width, height and the twelve geometry settings in their order.
EMSCRIPTEN_KEEPALIVE void designer_geometry(const lcdimg_t* img, int* out) {
    const std::array<int, GEOMETRY_VALUES> values = {
        img->canvas_width, img->canvas_height, img->chcnt_x, img->chcnt_y,  img->chofs_x,
        img->chofs_y,      img->chgap_x,       img->chgap_y, img->pixsiz_x, img->pixsiz_y,
        img->pixgap_x,     img->pixgap_y,      img->frame_x, img->frame_y};
    std::memcpy(out, values.data(), sizeof(int) * values.size());
}

// The glyph table (256 glyphs of 5 column bytes, bit 0 the top dot) after the font file.
EMSCRIPTEN_KEEPALIVE const unsigned char* designer_font(const lcdimg_t* img) {
    return img->font.data();
}

// The text grid's codes, CHCNT_X per row, rows top first.
EMSCRIPTEN_KEEPALIVE const unsigned char* designer_text(const lcdimg_t* img) {
    return img->text_grid;
}

EMSCRIPTEN_KEEPALIVE void designer_close(session_t* session) {
    if (session == nullptr) {
        return;
    }
    lcdimg_close(session->img);
    job_log_free(&session->job);
    delete session;
}

// Decodes the trace at `trace_path` (a VCD) with the pin map `pins` (empty: signals named
// like the lines) under the chip's timing, and writes what the controllers took as a command
// log to `log_path`, for the Log pane. Messages (the trace's refusal, warnings) are named
// after `name`. Returns the command line's exit status: 0, 1 (memory, unreadable) or 2
// (malformed trace, bad pins); the log is written only on 0.
EMSCRIPTEN_KEEPALIVE int designer_trace(const char* trace_path, const char* name, const char* pins,
                                        const char* log_path) {
    begin_request();
    trace_options_t options;
    options.pins = pins;
    options.emit_log = log_path;
    cmdlog_module_t module{};
    module.chip_count = CMDLOG_MAX_CHIPS; // a log for two on a one-chip module refuses itself
    const tracerun_request_t request{&options, name, &module, nullptr, -1, &MESSAGES, ""};
    std::FILE* in = std::fopen(trace_path, "rb");
    if (in == nullptr) {
        say("The trace could not be read.");
        return end_request(DESIGNER_BAD_CONFIGURATION);
    }
    tracerun_result_t result{};
    const job_status_t status = tracerun_vcd(&request, in, "", nullptr, &result);
    std::fclose(in);
    return end_request(job_exit_status(status));
}

} // extern "C"
