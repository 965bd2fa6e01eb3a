// The designer's entry points into the library, called from its Web Worker. The worker
// writes the texts into the in-memory file system; a render then runs the command line's
// steps over them and leaves a session open (the image, and the replayed log when the Log
// pane holds one) so that the page can read its pixels and ask for other moments.
#include <emscripten/emscripten.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "job/job.hpp"
#include "bmp/giffile.hpp"
#include "chip/tracedec.hpp"
#include "lcd/animate.hpp"
#include "lcd/charset.hpp"
#include "lcd/cmdlog.hpp"
#include "lcd/controller.hpp"
#include "lcd/fontedit.hpp"
#include "lcd/lcdimg.hpp"
#include "lcd/lcdprof.hpp"

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

bool file_is_empty(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return true;
    }
    const bool empty = std::fgetc(file) == EOF;
    std::fclose(file);
    return empty;
}

// Splits the rows file at its NUL bytes: one text per display row, like argv's.
std::vector<std::string> read_rows() {
    std::vector<std::string> rows;
    const std::string all = read_file(ROWS_PATH);
    std::size_t start = 0;
    while (start < all.size()) {
        const std::size_t end = all.find('\0', start);
        if (end == std::string::npos) {
            rows.push_back(all.substr(start));
            break;
        }
        rows.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return rows;
}

// The script pane stands for the profile's script: when it holds text it is run as if
// SCRIPT named it, and the profile's own SCRIPT path is never read.
void use_script_pane(lcdimg_t* img) {
    img->script_path.fill('\0');
    if (!file_is_empty(SCRIPT_PATH)) {
        std::strncpy(img->script_path.data(), SCRIPT_PATH, img->script_path.size() - 1);
    }
}

struct picture_size_t {
    int width;
    int height;
};

// Reads the profile into a scratch record, with lcdimg_open's check run silently (lcdimg_open
// prints its refusal itself), and copies CHARSET as written into `charset`
// (LCDIMG_TEXT_CAPACITY bytes). The picture's size when the settings are sound, else 0 x 0.
picture_size_t probe_profile(char* charset) {
    charset[0] = '\0';
    picture_size_t size{0, 0};
    auto* probe = new (std::nothrow) lcdimg_t{};
    if (probe == nullptr) {
        return size; // lcdimg_open meets the same shortage and reports it
    }
    lcdimg_set_defaults(probe);
    (void)lcdprof_read(PROFILE_PATH, probe, 0);
    probe->charset_name.back() = '\0';
    std::memcpy(charset, probe->charset_name.data(), probe->charset_name.size());
    std::freopen("/dev/null", "w", stdout);
    if (lcdimg_check_settings(probe) == 0) {
        calc_canvas_size(probe, &size.width, &size.height);
    }
    delete probe;
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
        std::printf("The page gives a script %g s; vimbracli runs it to its end.\n",
                    budget.budget_ms / 1000);
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

// Messages are printed, each on a line of its own.
void print_line(const char* line, void*) {
    std::puts(line);
}
constexpr job_messages_t MESSAGES{print_line, nullptr};

// Replays the log to `at_us` and shows that moment in the image. 0, or -1 with the message
// printed.
int show_moment(session_t* session, std::int64_t at_us) {
    return job_log_show(&session->job, session->img, at_us, "", &MESSAGES, nullptr) == JOB_DONE
               ? 0
               : -1;
}

// Adds a moment's start to the session's list; refuses one beyond an animation's most.
int take_moment(const replay_t* /*replay*/, std::int64_t start_us, std::int64_t /*end_us*/,
                void* ctx) {
    auto& moments = static_cast<session_t*>(ctx)->moments;
    if (static_cast<std::int64_t>(moments.size()) >= ANIMATE_MAX_MOMENTS) {
        return ANIMATE_REFUSED;
    }
    moments.push_back(static_cast<double>(start_us));
    return ANIMATE_OK;
}

// The start of every moment from 0 to the log's end plus the hold, as the animation draws
// them (the animation driver's walk); none when there are more than an animation may have.
// The log has replayed to its end without refusal.
void list_moments(session_t* session) {
    std::array<char, CMDLOG_MESSAGE_CAPACITY> message{};
    job_log_t& job = session->job;
    if (animate_each_moment(&job.replay, &job.module, session->img, &job.log,
                            job.log.end_us + session->hold_us, take_moment, session,
                            message.data(), static_cast<int>(message.size())) != ANIMATE_OK) {
        session->moments.clear();
    }
}

// The Log pane's text replayed: the command line's --replay steps (a CHARSET of A00 when the
// profile names none; the whole log replayed first, so that a bad line anywhere refuses it).
// A designer_status; messages are printed as the command line's, without its file name.
int replay_log(session_t* session, std::int64_t at_us) {
    lcdimg_t* img = session->img;
    if (img->charset == nullptr && lcdimg_use_charset(img, charset_find("A00"), FONT_PATH) != 0) {
        std::puts("The font could not be read.");
        return DESIGNER_BAD_CONFIGURATION;
    }
    const std::string text = read_file(LOG_PATH);
    auto* owned = static_cast<char*>(std::malloc(text.empty() ? 1 : text.size()));
    if (owned == nullptr) {
        std::puts("Memory Allocation Error.");
        return DESIGNER_BAD_CONFIGURATION;
    }
    std::memcpy(owned, text.data(), text.size());
    if (const job_status_t read = job_log_read(&session->job, img, owned, text.size(), "", &MESSAGES);
        read != JOB_DONE) {
        return job_exit_status(read);
    }
    const cmdlog_t& log = session->job.log;
    if (log.module_line != 0 &&
        (log.module_columns != img->chcnt_x || log.module_rows != img->chcnt_y)) {
        std::printf("[Warning]: the log's module is %dx%d, the profile's %dx%d\n",
                    log.module_columns, log.module_rows, img->chcnt_x, img->chcnt_y);
    }
    session->replaying = true;
    if (const job_status_t checked = job_log_check(&session->job, img, false, "", &MESSAGES);
        checked != JOB_DONE) {
        return job_exit_status(checked);
    }
    list_moments(session);
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

// A byte sink into a file of the in-memory file system.
int write_to_file(const void* data, std::uint32_t size, void* ctx) {
    return std::fwrite(data, 1, size, static_cast<std::FILE*>(ctx)) == size ? 1 : 0;
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
    const picture_size_t size = probe_profile(charset);
    std::freopen(MESSAGES_PATH, "w", stdout);
    std::freopen(STDIN_PATH, "r", stdin);
    *status = DESIGNER_BAD_CONFIGURATION;
    auto* session = new (std::nothrow) session_t{};
    if (session == nullptr) {
        std::puts("Memory Allocation Error.");
        std::fflush(stdout);
        return nullptr;
    }
    session->hold_us = ANIMATE_DEFAULT_HOLD_US;
    const bool too_large = std::int64_t{size.width} * size.height > PAGE_PIXEL_LIMIT;
    session->img = too_large ? nullptr : lcdimg_open(PROFILE_PATH, FONT_PATH);
    if (too_large) {
        std::printf("Picture too large for the page: %d x %d pixels, more than its %lld; "
                    "vimbracli draws it from the same files.\n",
                    size.width, size.height, static_cast<long long>(PAGE_PIXEL_LIMIT));
    } else if (session->img == nullptr) {
        std::puts("Illegal configuration found.");
    } else if (!file_is_empty(LOG_PATH) && hold[0] != '\0' &&
               cmdlog_parse_time(hold, &session->hold_us) != 0) {
        std::printf("Hold: not a time: '%s' (e.g. 2s, 500ms)\n", hold);
        *status = DESIGNER_BAD_FORMAT;
    } else {
        use_script_pane(session->img);
        // Any time of a log is a whole number of microseconds that a double holds exactly;
        // anything else (NaN too) stands for the log's end.
        const bool is_time = at_us >= 0 && at_us <= static_cast<double>(CMDLOG_MAX_TIME_US);
        const std::int64_t at = is_time ? static_cast<std::int64_t>(at_us) : -1;
        *status = file_is_empty(LOG_PATH) ? place_rows(session->img) : replay_log(session, at);
        if (*status == DESIGNER_DONE) {
            const int written = draw_picture(session, output_path, budget_ms);
            if (written == JOB_NO_MEMORY) {
                std::puts("Memory Allocation Error.");
                *status = DESIGNER_BAD_CONFIGURATION;
            } else if (written != JOB_DONE) {
                std::printf("Output file could not be written. (%s)\n", output_path);
                *status = DESIGNER_OUTPUT_FAILED;
            }
        }
    }
    std::fflush(stdout);
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
    std::freopen(MESSAGES_PATH, "w", stdout);
    std::freopen(STDIN_PATH, "r", stdin);
    int status = DESIGNER_BAD_FORMAT;
    const double last = static_cast<double>(session->job.log.end_us + session->hold_us);
    if (!session->replaying || !(at_us >= 0 && at_us <= last)) {
        std::puts("No such moment of the log."); // the page asks only for its slider's
    } else if (show_moment(session, static_cast<std::int64_t>(at_us)) == 0) {
        status = draw_picture(session, "", budget_ms);
    }
    std::fflush(stdout);
    return status;
}

// Writes the session's log (or, without one, its rows as one frame) as the command line's
// animation to `path`: a GIF (`format` 0) or an APNG (1), played `plays` times (0: forever),
// its scripts within `budget_ms` all together. A script stopped by the budget would make
// frames the command line does not make, so it refuses the file. The command line's exit
// status, with the messages printed.
EMSCRIPTEN_KEEPALIVE int designer_animation(session_t* session, const char* path, int format,
                                            int plays, double budget_ms) {
    // The messages are a device that keeps every write: opening it anew loses nothing, while
    // appending would have it seek, which a device cannot.
    std::freopen(MESSAGES_PATH, "w", stdout);
    std::freopen(STDIN_PATH, "r", stdin);
    if (plays < 0 || plays > GIFFILE_MAX_PLAYS) {
        std::printf("Loop: %d is not a number of plays from 0 (forever) to %d.\n", plays,
                    GIFFILE_MAX_PLAYS);
        std::fflush(stdout);
        return DESIGNER_BAD_FORMAT;
    }
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::printf("Output file could not be written. (%s)\n", path);
        std::fflush(stdout);
        return DESIGNER_OUTPUT_FAILED;
    }
    lcdimg_t* img = session->img;
    job_budget_limit(img, &session->budget, budget_ms);
    const animate_options_t options{
        format == 1 ? ANIMATE_APNG : ANIMATE_GIF, session->hold_us, plays, nullptr, nullptr, 1};
    std::array<char, ANIMATE_MESSAGE_CAPACITY> message{};
    const int result =
        animate_write(img, &session->job.module, session->replaying ? &session->job.log : nullptr,
                      &options,
                      write_to_file, file, message.data(), static_cast<int>(message.size()));
    const bool closed = std::fclose(file) == 0;
    if (session->replaying) { // the replay now stands at the end: start it again
        replay_start(&session->job.replay, &session->job.module, img, &session->job.log);
    }
    int status = DESIGNER_DONE;
    if (result == ANIMATE_REFUSED || result == ANIMATE_NO_MEMORY) {
        std::puts(message.data());
        status = result == ANIMATE_NO_MEMORY ? DESIGNER_BAD_CONFIGURATION : DESIGNER_OUTPUT_FAILED;
    } else if (result != ANIMATE_OK || !closed) {
        std::printf("Output file could not be written. (%s)\n", path);
        status = DESIGNER_OUTPUT_FAILED;
    } else if (session->budget.spent) {
        std::printf("The page gives the scripts of an animation %g s in all; vimbracli draws "
                    "it from the same files.\n",
                    budget_ms / 1000);
        status = DESIGNER_OUTPUT_FAILED;
    }
    std::fflush(stdout);
    return status;
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
    const unsigned char* rgb = img->pixels;
    for (std::size_t i = 0; i < count; ++i) {
        rgba[4 * i] = rgb[3 * i];
        rgba[4 * i + 1] = rgb[3 * i + 1];
        rgba[4 * i + 2] = rgb[3 * i + 2];
        rgba[4 * i + 3] = 255;
    }
    return rgba;
}

// Toggles dot (`row`, `column`) of glyph `code` in the font text at `path` (fontedit_toggle)
// and writes the new text in its place; 0 when it did, -1 (the file untouched) when the
// arguments are out of range or the file could not be read or written.
EMSCRIPTEN_KEEPALIVE int designer_glyph_toggle(const char* path, int code, int row, int column,
                                               unsigned char* glyph) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return -1;
    }
    std::fclose(file);
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
                                       CONTROLLER_CGRAM_BYTES,
                                       static_cast<int>(LCDIMG_TEXT_CAPACITY)};
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
// log to `log_path`, for the Log pane. Messages (the trace's refusal, warnings) go to
// MESSAGES_PATH, named after `name`. Returns the command line's exit status: 0, 1 (memory,
// unreadable) or 2 (malformed trace, bad pins); the log is written only on 0.
EMSCRIPTEN_KEEPALIVE int designer_trace(const char* trace_path, const char* name, const char* pins,
                                        const char* log_path) {
    std::freopen(MESSAGES_PATH, "w", stdout);
    struct run_t {
        std::FILE* out;
        tracedec_log_t log;
        const char* name;
    };
    run_t run{nullptr, {0, 0, false}, name};
    tracedec_options_t options = tracedec_defaults();
    options.pins = pins;
    options.chip_count = CMDLOG_MAX_CHIPS; // a log for two on a one-chip module refuses itself
    const auto byte = [](const timing_byte_t* b, void* ctx) {
        auto* r = static_cast<run_t*>(ctx);
        std::array<char, TRACEDEC_LOG_LINE_CAPACITY> lines{};
        tracedec_log_byte(&r->log, b, lines.data());
        std::fputs(lines.data(), r->out);
    };
    const auto warning = [](const char* text, void* ctx) {
        std::printf("%s: %s\n", static_cast<run_t*>(ctx)->name, text);
    };
    const tracedec_callbacks_t callbacks{byte, nullptr, warning, &run};
    int status = DESIGNER_BAD_CONFIGURATION;
    std::FILE* in = std::fopen(trace_path, "rb");
    run.out = std::fopen(log_path, "wb");
    tracedec_t* dec = tracedec_open(&options, &callbacks);
    if (in == nullptr || run.out == nullptr || dec == nullptr) {
        std::puts(dec == nullptr ? "Memory Allocation Error." : "The trace could not be read.");
    } else {
        std::array<char, 65536> chunk{};
        std::fprintf(run.out, "# the bus of %s as the controller took it\n", name);
        int read = TRACEDEC_OK;
        for (std::size_t n; read == TRACEDEC_OK && (n = std::fread(chunk.data(), 1, chunk.size(), in)) > 0;) {
            read = tracedec_feed(dec, chunk.data(), n);
        }
        if (read == TRACEDEC_OK) {
            read = tracedec_finish(dec);
        }
        if (read == TRACEDEC_OK) {
            std::array<char, TRACEDEC_LOG_LINE_CAPACITY> line{};
            tracedec_log_end(&run.log, tracedec_end_ps(dec) / 1000000, line.data());
            std::fputs(line.data(), run.out);
            if (tracedec_not_taken(dec) > 0) {
                const unsigned long long lost = tracedec_not_taken(dec);
                std::printf("%s: %llu byte%s not taken: sent while the controller was busy "
                            "(comments in the log)\n",
                            name, lost, lost == 1 ? "" : "s");
            }
            status = DESIGNER_DONE;
        } else {
            std::printf("%s: %s\n", name, tracedec_message(dec));
            status = read == TRACEDEC_NO_MEMORY ? DESIGNER_BAD_CONFIGURATION : DESIGNER_BAD_FORMAT;
        }
    }
    tracedec_close(dec);
    if (in != nullptr) {
        std::fclose(in);
    }
    if (run.out != nullptr && std::fclose(run.out) != 0 && status == DESIGNER_DONE) {
        std::puts("The log could not be written.");
        status = DESIGNER_BAD_CONFIGURATION;
    }
    std::fflush(stdout);
    return status;
}

} // extern "C"
