#include "app/cli.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "app/animout.hpp"
#include "app/iopaths.hpp"
#include "app/refpic.hpp"
#include "app/screen.hpp"
#include "app/snapshot.hpp"
#include "app/tracerun.hpp"
#include "app/version.hpp"
#include "bmp/giffile.hpp"
#include "bmp/outfile.hpp"
#include "job/job.hpp"
#include "lcd/animate.hpp"
#include "lcd/charset.hpp"
#include "lcd/cmdlog.hpp"
#include "lcd/lcdimg.hpp"
#include "lcd/replay.hpp"

namespace {

enum exit_status : int {
    EXIT_DONE = 0,
    EXIT_BAD_CONFIGURATION = 1, // also unreadable input and memory
    EXIT_BAD_FORMAT = 2,        // malformed rows or log, and usage errors
    EXIT_OUTPUT_FAILED = 3,
    EXIT_DIFFERENT = 4,
    EXIT_TIMING_FAULTS = TRACERUN_TIMING_FAULTS,
};

// ---------------------------------------------------------------- positional form

constexpr int FIRST_ROW_ARG = 4;

void print_banner(const version_info_t& info) {
    const char* rule = "=================================================";
    std::puts(rule);
    std::printf(" %s (Version %d.%d.%d)\n", info.product_name.data(), info.major, info.minor,
                info.revision);
    std::printf(" %s\n", info.notice.data());
    std::puts(rule);
    std::puts("");
    std::puts(" vimbracli [LCD Profile] [LCD Font] [BMP Output File Name] [Line 1] [Line 2] ...");
    std::puts("");
}

int positional_run(char** argv, int argc);

int positional_main(int argc, char** argv) {
    version_info_t info;
    version_info(&info);
    if (argc <= FIRST_ROW_ARG) {
        print_banner(info);
        return EXIT_DONE;
    }
    if (!iopaths_is_stdout(argv[3], STDOUT_FILENO)) {
        return positional_run(argv, argc);
    }
    // The picture goes to standard output: the messages go to standard error meanwhile, so
    // that no warning lands among the picture's bytes.
    std::fflush(stdout);
    const int out_fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (out_fd < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        return positional_run(argv, argc);
    }
    outfile_use_stdout(out_fd);
    const int status = positional_run(argv, argc);
    std::fflush(stdout);
    outfile_use_stdout(STDOUT_FILENO);
    ::dup2(out_fd, STDOUT_FILENO);
    ::close(out_fd);
    return status;
}

int positional_run(char** argv, int argc) {
    lcdimg_t* img = lcdimg_open(argv[1], argv[2]);
    if (img == nullptr) {
        std::puts("Illegal configuration found.");
        return EXIT_BAD_CONFIGURATION;
    }
    const job_messages_t messages{[](const char* line, void*) { std::puts(line); }, nullptr};
    int status = job_exit_status(
        job_place_rows(img, argv + FIRST_ROW_ARG, argc - FIRST_ROW_ARG, &messages));
    if (status != EXIT_DONE) {
    } else if (const int written = lcdimg_write_file(img, argv[3]); written == OUTFILE_NO_MEMORY) {
        std::puts("Memory Allocation Error.");
        status = EXIT_BAD_CONFIGURATION;
    } else if (written != 0) {
        std::printf("Output file could not be written. (%s)\n", argv[3]);
        status = EXIT_OUTPUT_FAILED;
    }
    lcdimg_close(img);
    return status;
}

// ---------------------------------------------------------------- option form

constexpr const char* STDIO_NAME = "-";
constexpr int REPORT_CELLS = 10;                              // cells named in a difference report

enum picture_format_t { FORMAT_BY_NAME, FORMAT_BMP, FORMAT_PNG };

struct options_t {
    std::string profile;
    std::string font;
    std::string replay;
    std::string at;
    std::string output;
    std::string format;
    std::string compare;
    std::string diff;
    bool update = false; // --update, or VIMBRA_UPDATE=1: write REF when missing or different
    bool text = false;
    int scale = 1;
    std::int64_t max_steps = 0;
    std::string hold;
    int loop = 0;
    std::vector<std::string> args; // the positional arguments
    trace_options_t trace;
    // Worked out from the above by settle_options.
    bool has_profile = false;
    bool has_font = false;
    bool has_replay = false;
    bool has_output = false;
    bool has_compare = false;
    bool has_diff = false;
    std::vector<std::string> rows;
    std::int64_t at_us = -1; // -1: the log's end
    std::string at_mark;     // --at names a mark: its moment is known once the log is read
    picture_format_t picture_format = FORMAT_BY_NAME;
    bool animation = false; // the output is a GIF or APNG of the whole log
    animate_format_t animation_format = ANIMATE_GIF;
    std::int64_t hold_us = ANIMATE_DEFAULT_HOLD_US;
};

// A refused command line: the message, then where help is.
struct usage_error_t {
    std::string message;
};

// Messages and the script's console go to standard error in this form: standard output
// carries only what was asked of it (a picture written to "-", or the text of --text).
struct run_t {
    const options_t* options;
    int out_fd; // the process's standard output; descriptor 1 is standard error meanwhile
    lcdimg_t* img;
    bool have_status;
    replay_status_t status;
    unsigned char* scaled; // the picture at --scale, when above 1; owned
    job_log_t log;         // the log replayed, kept for an animation
    const unsigned char* rgb;
    int width;
    int height;
    bool timing_faults; // --check-timing found some
};

// One message line on standard error, after whatever the library has printed.
void say(const std::string& line) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", line.c_str());
}

void say_line(const char* line, void*) {
    say(line);
}
constexpr job_messages_t MESSAGES{say_line, nullptr};

std::string file_label(const std::string& path) {
    return path == STDIO_NAME ? "standard input" : path;
}

std::string reason(int error) {
    return error != 0 ? std::strerror(error) : "unknown error";
}

// The usage lines of both forms in place of the generated one, which knows only the options.
class usage_formatter_t : public CLI::Formatter {
  public:
    std::string make_usage(const CLI::App*, std::string) const override {
        return "Usage: vimbracli [options] OUTPUT [ROW...]\n"
               "       vimbracli [options] (-o OUTPUT | --compare REF | --text) [ROW...]\n"
               "       vimbracli PROFILE FONT OUTPUT ROW...   (the positional form)\n\n"
               "Draws a picture of a character LCD module; see vimbracli(1).\n";
    }
};

void build_parser(CLI::App* app, options_t* o) {
    app->formatter(std::make_shared<usage_formatter_t>());
    app->add_option("-p,--profile", o->profile, "LCD profile (default: the built-in settings)")
        ->option_text("FILE");
    app->add_option("-f,--font", o->font, "LCD font file (default: the built-in glyphs)")
        ->option_text("FILE");
    app->add_option("--replay", o->replay,
                    "command log or VCD trace to replay ('-': standard input)")
        ->option_text("LOG|VCD");
    app->add_option("--at", o->at,
                    "moment of the log to show: a time (1.5s) or a mark's name (default: its end)")
        ->option_text("TIME|MARK");
    app->add_option("-o,--output", o->output, "picture to write ('-': standard output)")
        ->option_text("FILE");
    app->add_option("--format", o->format, "format (default by name: .png, .gif, .apng, else BMP)")
        ->check(CLI::IsMember({"bmp", "png", "gif", "apng"}))
        ->option_text("bmp|png|gif|apng");
    app->add_option("--compare", o->compare,
                    "compare with a PNG or BMP picture (status 4: differs)")
        ->option_text("REF");
    app->add_option("--diff", o->diff,
                    "with --compare: write the reference, the marked cells and the picture")
        ->option_text("FILE");
    app->add_flag("--update", o->update,
                  "with --compare: write REF when missing or different (or VIMBRA_UPDATE=1)");
    app->add_flag("--text", o->text, "print the display as row arguments and its cursor state");
    app->add_option("--scale", o->scale, "each pixel as N x N pixels")
        ->check(CLI::Range(1, SCREEN_MAX_SCALE))
        ->option_text("N (1-16)");
    app->add_option("--max-steps", o->max_steps, "stop the profile's script after N steps")
        ->check(CLI::Range(std::int64_t{1}, INT64_MAX))
        ->option_text("N");
    app->add_option("--hold", o->hold, "animation: how long the end stays, e.g. 2s (default: 1s)")
        ->option_text("TIME");
    app->add_option("--loop", o->loop, "animation: play it N times (default, or 0: forever)")
        ->check(CLI::Range(0, GIFFILE_MAX_PLAYS))
        ->option_text("N");
    tracerun_add_options(app, &o->trace);
    app->add_option("OUTPUT", o->args, "the picture, then one text per display row")
        ->option_text("ROW...");
    version_info_t info;
    version_info(&info);
    app->set_version_flag("--version", "vimbracli " + std::to_string(info.major) + "." +
                                           std::to_string(info.minor) + "." +
                                           std::to_string(info.revision));
    app->footer("Rows: \\\\ places a backslash, \\xHH any code; with the profile's CHARSET, text "
                "is UTF-8.\n"
                "A row that begins with '-' follows '--'. Messages go to standard error.\n"
                "Logs name moments with 'mark NAME' (for --at NAME), their grid with\n"
                "'module 20x4' (used without -p) and the backlight with 'backlight on|off'.\n"
                "Exit status: 0 done, 1 bad configuration or unreadable input, 2 usage error or\n"
                "malformed row, log or trace, 3 a picture not written,\n"
                "4 --compare found a difference, 5 --check-timing found a timing fault.");
}

// An animation is asked for by --format gif|apng or, without --format, by the output's name.
void settle_animation(const CLI::App& app, options_t* o) {
    if (o->format == "gif" || o->format == "apng") {
        o->animation = o->has_output;
        o->animation_format = o->format == "gif" ? ANIMATE_GIF : ANIMATE_APNG;
    } else if (o->format.empty() && o->has_output) {
        o->animation = animate_format_of(o->output.c_str(), &o->animation_format) != 0;
    }
    const bool hold = app.count("--hold") > 0;
    if ((hold || app.count("--loop") > 0) && (!o->animation || !o->has_replay)) {
        throw usage_error_t{std::string(hold ? "--hold" : "--loop") +
                            " needs --replay and a .gif or .apng output"};
    }
    if (hold && cmdlog_parse_time(o->hold.c_str(), &o->hold_us) != 0) {
        throw usage_error_t{"--hold: not a time: '" + o->hold + "' (e.g. 2s, 500ms)"};
    }
    if (o->animation && app.count("--at") > 0) {
        throw usage_error_t{"--at shows one moment: an animation (.gif, .apng) shows them all"};
    }
}

// --at is a time when it reads as one, else the name of a mark looked up in the log.
void settle_at(options_t* o) {
    if (cmdlog_parse_time(o->at.c_str(), &o->at_us) == 0) {
        return;
    }
    if (!cmdlog_is_mark_name(o->at.c_str())) {
        throw usage_error_t{"--at: not a time or a mark name: '" + o->at +
                            "' (e.g. 1.5s, 250ms, 40us, or a mark such as main-menu)"};
    }
    o->at_mark = o->at;
}

// --update asks for --compare; VIMBRA_UPDATE=1 switches it on wherever --compare is given.
void settle_update(const CLI::App& app, options_t* o) {
    if (app.count("--update") > 0 && !o->has_compare) {
        throw usage_error_t{"--update needs --compare"};
    }
    if (o->has_compare) {
        o->update = snapshot_update_asked(o->update);
    }
}

// Works out what the positional arguments are and refuses combinations that mean nothing.
void settle_options(const CLI::App& app, options_t* o) {
    o->has_profile = app.count("--profile") > 0;
    o->has_font = app.count("--font") > 0;
    o->has_replay = app.count("--replay") > 0;
    o->has_output = app.count("--output") > 0;
    o->has_compare = app.count("--compare") > 0;
    o->has_diff = app.count("--diff") > 0;
    o->rows = o->args;
    if (!o->has_output && !o->has_compare && !o->text) {
        if (o->rows.empty()) {
            throw usage_error_t{"no output named (give OUTPUT, -o FILE, --compare or --text)"};
        }
        o->output = o->rows.front();
        o->has_output = true;
        o->rows.erase(o->rows.begin());
    }
    if (const std::string error = tracerun_settle(app, &o->trace, o->has_replay); !error.empty()) {
        throw usage_error_t{error};
    }
    if (o->has_replay && !o->rows.empty()) {
        throw usage_error_t{"rows and --replay cannot be combined"};
    }
    if (app.count("--at") > 0) {
        if (!o->has_replay) {
            throw usage_error_t{"--at needs --replay"};
        }
        settle_at(o);
    }
    if (o->has_diff && !o->has_compare) {
        throw usage_error_t{"--diff needs --compare"};
    }
    settle_update(app, o);
    // "-" and the names of descriptor 1 (/dev/stdout, ...) alike.
    const auto for_stdout = [](const std::string& path) {
        return path == STDIO_NAME || (!path.empty() && outfile_descriptor_of(path.c_str()) == 1);
    };
    const int on_stdout = (o->has_output && for_stdout(o->output) ? 1 : 0) +
                          (o->has_diff && for_stdout(o->diff) ? 1 : 0) + (o->text ? 1 : 0);
    if (on_stdout > 1) {
        throw usage_error_t{"only one of the picture, the --diff picture and --text can go to "
                            "standard output"};
    }
    if (o->has_output && o->output.empty()) {
        throw usage_error_t{"empty output name"};
    }
    for (const auto& [given, name, option] : {std::tuple{o->has_profile, &o->profile, "--profile"},
                                              std::tuple{o->has_font, &o->font, "--font"},
                                              std::tuple{o->has_replay, &o->replay, "--replay"},
                                              std::tuple{o->has_compare, &o->compare, "--compare"},
                                              std::tuple{o->has_diff, &o->diff, "--diff"}}) {
        if (given && name->empty()) {
            throw usage_error_t{std::string(option) + ": empty file name"};
        }
    }
    if (o->format == "png" || o->format == "bmp") { // gif and apng name animations
        o->picture_format = o->format == "png" ? FORMAT_PNG : FORMAT_BMP;
    }
    settle_animation(app, o);
}

// The image of the profile and the font, both optional here; a named file must be readable.
int open_image(const options_t& o, lcdimg_t** img) {
    std::array<char, LCDIMG_SETTING_MESSAGE_CAPACITY> message{};
    const int status = lcdimg_open_checked(o.has_profile ? o.profile.c_str() : nullptr,
                                           o.has_font ? o.font.c_str() : nullptr, img,
                                           message.data(), static_cast<int>(message.size()));
    const int error = errno;
    switch (status) {
    case LCDIMG_OPENED:
        return EXIT_DONE;
    case LCDIMG_OPEN_PROFILE_UNREADABLE:
        say(o.profile + ": cannot read the profile: " + reason(error));
        break;
    case LCDIMG_OPEN_FONT_UNREADABLE:
        say(o.font + ": cannot read the font: " + reason(error));
        break;
    case LCDIMG_OPEN_BAD_SETTING:
        say(o.profile + ": " + message.data());
        break;
    default:
        say(message.data());
        break;
    }
    return EXIT_BAD_CONFIGURATION;
}

// The log's module line: the geometry without a profile, a warning when the profile differs.
int use_log_module(const options_t& o, const char* text, std::size_t size, lcdimg_t* img) {
    int columns = 0;
    int rows = 0;
    if (!cmdlog_scan_module(text, size, &columns, &rows) ||
        (columns == img->chcnt_x && rows == img->chcnt_y)) {
        return EXIT_DONE;
    }
    const std::string geometry = std::to_string(columns) + "x" + std::to_string(rows);
    if (o.has_profile) {
        say("[Warning]: " + file_label(o.replay) + ": the log's module is " + geometry +
            ", the profile's " + std::to_string(img->chcnt_x) + "x" + std::to_string(img->chcnt_y) +
            " (" + o.profile + ")");
        return EXIT_DONE;
    }
    std::array<char, LCDIMG_SETTING_MESSAGE_CAPACITY> message{};
    const int status =
        lcdimg_set_grid(img, columns, rows, message.data(), static_cast<int>(message.size()));
    if (status != LCDIMG_OPENED) {
        say(message.data());
        return EXIT_BAD_CONFIGURATION;
    }
    return EXIT_DONE;
}

// The moment of the mark --at names; a missing one is a usage error that lists the marks.
int find_mark(const job_log_t& log, const std::string& mark, const std::string& name,
              std::int64_t* at) {
    if (job_log_mark(&log, mark.c_str(), at) == JOB_DONE) {
        return 0;
    }
    std::string message;
    if (snapshot_missing_mark(log.log.marks, log.log.mark_count, mark.c_str(), name, &message) !=
        0) {
        message = "Memory Allocation Error.";
    }
    say("vimbracli: --at: " + message + "\nRun 'vimbracli --help' for usage.");
    return -1;
}

// Replays the log into the image: first all of it, so that a bad line anywhere refuses the
// run, then again up to the moment asked for.
int replay_log(run_t* run, job_log_t* job) {
    const options_t& o = *run->options;
    const std::string name = file_label(o.replay);
    lcdimg_t* img = run->img;
    // Every controller has a character ROM: without a CHARSET, the log shows A00.
    if (img->charset == nullptr &&
        lcdimg_use_charset(img, charset_find("A00"), o.has_font ? o.font.c_str() : nullptr) != 0) {
        say(o.font + ": cannot read the font: " + reason(errno));
        return EXIT_BAD_CONFIGURATION;
    }
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* trace = nullptr;
    if (iopaths_read_log(o.replay.c_str(), &text, &size, &trace) != 0) {
        say(name + ": cannot read the log: " + reason(errno));
        return EXIT_BAD_CONFIGURATION;
    }
    std::unique_ptr<char, decltype(&std::free)> owned(text, &std::free);
    const tracerun_request_t request{&o.trace, name, &job->module, img, o.at_us};
    tracerun_result_t traced{};
    if (trace != nullptr) {
        cmdlog_module_of(img, &job->module);
        if (!o.at_mark.empty()) {
            say(name + ": --at: a trace has no marks; give a time");
            if (trace != stdin) {
                std::fclose(trace);
            }
            return EXIT_BAD_FORMAT;
        }
        const int status = tracerun_vcd(&request, trace, std::string(text, size),
                                        o.animation ? &job->log : nullptr, &traced);
        if (trace != stdin) {
            std::fclose(trace);
        }
        run->status = traced.status;
        run->have_status = status == EXIT_DONE;
        run->timing_faults = traced.faults;
        return status;
    }
    if (const int status = use_log_module(o, text, size, img); status != EXIT_DONE) {
        return status;
    }
    if (const job_status_t read = job_log_read(job, img, owned.release(), size, name, &MESSAGES);
        read != JOB_DONE) {
        return job_exit_status(read);
    }
    if (const int status = tracerun_log(&request, &job->log, &traced); status != EXIT_DONE) {
        return status;
    }
    run->timing_faults = traced.faults;
    if (const job_status_t checked = job_log_check(job, img, true, name, &MESSAGES);
        checked != JOB_DONE) {
        return job_exit_status(checked);
    }
    std::int64_t at = o.at_us;
    if (!o.at_mark.empty() && find_mark(*job, o.at_mark, name, &at) != 0) {
        return EXIT_BAD_FORMAT;
    }
    run->have_status = true;
    return job_exit_status(job_log_show(job, img, at, name, &MESSAGES, &run->status));
}

// Fills the display from the rows or the log, renders it and scales it.
int make_picture(run_t* run) {
    const options_t& o = *run->options;
    lcdimg_t* img = run->img;
    if (o.has_replay) {
        const int status = replay_log(run, &run->log);
        if (status != EXIT_DONE) {
            return status;
        }
    } else {
        std::vector<const char*> rows;
        for (const std::string& row : o.rows) {
            rows.push_back(row.c_str());
        }
        const job_status_t placed =
            job_place_rows(img, rows.data(), static_cast<int>(rows.size()), &MESSAGES);
        if (placed != JOB_DONE) {
            return job_exit_status(placed);
        }
    }
    img->script_step_limit = o.max_steps;
    img->script_messages_named = true;
    lcdimg_render(img);
    run->rgb = img->pixels;
    run->width = img->canvas_width;
    run->height = img->canvas_height;
    if (o.scale > 1) {
        if (!screen_scale_fits(run->width, run->height, o.scale)) {
            say("Picture too large: " + std::to_string(std::int64_t{run->width} * o.scale) + " x " +
                std::to_string(std::int64_t{run->height} * o.scale) + " pixels at scale " +
                std::to_string(o.scale) + " (at most 65535 x 65535 and 2 GiB).");
            return EXIT_BAD_CONFIGURATION;
        }
        run->scaled = screen_scale(img->pixels, img->canvas_width, img->canvas_height, o.scale);
        if (run->scaled == nullptr) {
            say("Memory Allocation Error.");
            return EXIT_BAD_CONFIGURATION;
        }
        run->rgb = run->scaled;
        run->width *= o.scale;
        run->height *= o.scale;
    }
    return EXIT_DONE;
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
int print_text(const run_t& run) {
    std::string out;
    if (screen_text(run.img, run.have_status ? &run.status : nullptr, &out) != 0) {
        say("Memory Allocation Error.");
        return EXIT_BAD_CONFIGURATION;
    }
    if (!write_all(run.out_fd, out)) {
        say("standard output: could not be written: " + reason(errno));
        return EXIT_OUTPUT_FAILED;
    }
    return EXIT_DONE;
}

// Writes one picture to `path` ("-": standard output); on failure says why and returns 3.
int write_picture(const run_t& run, const std::string& path, const unsigned char* rgb) {
    const picture_format_t format = run.options->picture_format;
    const job_format_t encoding = format == FORMAT_PNG      ? JOB_FORMAT_PNG
                                  : format == FORMAT_BY_NAME ? job_format_of_name(path)
                                                             : JOB_FORMAT_BMP;
    const job_status_t status =
        job_write_picture(encoding, rgb, run.width, run.height, path.c_str(),
                          path == STDIO_NAME ? run.out_fd : -1);
    const int error = errno;
    if (status == JOB_DONE) {
        return EXIT_DONE;
    }
    if (status == JOB_NO_MEMORY) {
        say("Memory Allocation Error.");
        return EXIT_BAD_CONFIGURATION;
    }
    say((path == STDIO_NAME ? std::string("standard output") : path) +
        ": could not be written: " + reason(error));
    return EXIT_OUTPUT_FAILED;
}

// Reads the reference; 0 when it could be read (of whatever size), else the exit status.
// With --update a missing reference is no error: `missing` is set and REF gets written.
int read_reference(const run_t& run, refpic_t* ref, bool* missing) {
    const std::string& path = run.options->compare;
    std::array<char, REFPIC_MESSAGE_CAPACITY> message{};
    const int status = refpic_read(path.c_str(), run.width, run.height, ref, message.data(),
                                   static_cast<int>(message.size()));
    const int error = errno;
    switch (status) {
    case REFPIC_OK:
        return EXIT_DONE;
    case REFPIC_UNREADABLE:
        if (error == ENOENT && run.options->update) {
            *missing = true;
            return EXIT_DONE;
        }
        say(path + ": cannot read the reference: " + reason(error) +
            (error == ENOENT ? " (--update writes it)" : ""));
        break;
    case REFPIC_REFUSED:
        say(path + ": " + message.data());
        break;
    default:
        say("Memory Allocation Error.");
        break;
    }
    return EXIT_BAD_CONFIGURATION;
}

// Writes the picture as the reference (PNG for a .png name, else BMP), for --update.
int update_reference(const run_t& run) {
    const std::string& path = run.options->compare;
    const job_status_t status = job_write_picture(job_format_of_name(path), run.rgb, run.width,
                                                  run.height, path.c_str(), -1);
    const int error = errno;
    if (status == JOB_NO_MEMORY) {
        say("Memory Allocation Error.");
        return EXIT_BAD_CONFIGURATION;
    }
    if (status != JOB_DONE) {
        say(path + ": could not be written: " + reason(error));
        return EXIT_OUTPUT_FAILED;
    }
    say(path + ": updated");
    return EXIT_DONE;
}

// The --diff picture: the reference, the picture with its differing cells marked, and the
// picture, side by side.
int write_diff(const run_t& run, const screen_layout_t& layout, const screen_diff_t& diff,
               const refpic_t& ref) {
    const options_t& o = *run.options;
    const std::int64_t width = std::int64_t{run.width} * 3 + 2 * SCREEN_PANEL_GAP;
    if (!screen_scale_fits(static_cast<int>(std::min<std::int64_t>(width, INT32_MAX)), run.height,
                           1)) {
        say(o.diff + ": could not be written: three panels of " + std::to_string(run.width) +
            " x " + std::to_string(run.height) + " pixels are too large a picture");
        return EXIT_OUTPUT_FAILED;
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
        say("Memory Allocation Error.");
        return EXIT_BAD_CONFIGURATION;
    }
    run_t wide = run;
    wide.width = static_cast<int>(width);
    const int status = write_picture(wide, o.diff, panels);
    std::free(panels);
    return status;
}

// Compares with the reference, reports a difference and writes the --diff picture; with
// --update, a reference that differs or is missing is written instead of reported.
int compare_with(const run_t& run, const refpic_t& ref, bool missing) {
    const options_t& o = *run.options;
    if (missing) {
        return update_reference(run);
    }
    if (ref.width != run.width || ref.height != run.height) {
        if (o.update) {
            return update_reference(run);
        }
        say(o.compare + ": sizes differ: the picture is " + std::to_string(run.width) + " x " +
            std::to_string(run.height) + ", the reference " + std::to_string(ref.width) + " x " +
            std::to_string(ref.height));
        return EXIT_DIFFERENT;
    }
    screen_layout_t layout{};
    screen_layout_of(run.img, o.scale, &layout);
    screen_diff_t diff{};
    std::string report;
    if (screen_compare(&layout, run.rgb, ref.rgb, run.width, run.height, &diff) != 0 ||
        screen_diff_report(&layout, &diff, REPORT_CELLS, &report) != 0) {
        screen_diff_free(&diff);
        say("Memory Allocation Error.");
        return EXIT_BAD_CONFIGURATION;
    }
    int status = report.empty() ? EXIT_DONE : EXIT_DIFFERENT;
    if (o.has_diff) {
        const int written = write_diff(run, layout, diff, ref);
        status = written != EXIT_DONE ? written : status;
    }
    screen_diff_free(&diff);
    if (status == EXIT_DIFFERENT && o.update) {
        return update_reference(run);
    }
    if (!report.empty()) {
        say(o.compare + ": " + report);
    }
    return status;
}

// Writes the whole log (or the rows) as an animation; on failure says why.
int write_animation(const run_t& run) {
    const options_t& o = *run.options;
    const animout_request_t request{o.output.c_str(), run.out_fd, o.animation_format,
                                    o.hold_us,        o.loop,     o.scale};
    std::string message;
    const int status =
        animout_write(&request, run.img, o.has_replay ? &run.log.log : nullptr, &message);
    if (status != ANIMOUT_OK) {
        say(message);
    }
    return status == ANIMOUT_NO_MEMORY ? EXIT_BAD_CONFIGURATION
           : status != ANIMOUT_OK      ? EXIT_OUTPUT_FAILED
                                       : EXIT_DONE;
}

// After the picture: the reference is read first, so that a bad one writes nothing.
int deliver(run_t* run) {
    const options_t& o = *run->options;
    refpic_t ref{};
    bool missing = false;
    int status = o.has_compare ? read_reference(*run, &ref, &missing) : EXIT_DONE;
    if (status == EXIT_DONE && o.text) {
        status = print_text(*run);
    }
    if (status == EXIT_DONE && o.has_output) {
        status = o.animation ? write_animation(*run) : write_picture(*run, o.output, run->rgb);
    }
    if (status == EXIT_DONE && o.has_compare) {
        status = compare_with(*run, ref, missing);
    }
    refpic_free(&ref);
    return status;
}

// Two names of one file, one of them written, would overwrite an input or an output with
// another: refused before anything is read or written.
int refuse_same_files(const options_t& o) {
    std::vector<iopaths_entry_t> files;
    const auto add = [&files](bool given, const std::string& path, const char* option,
                              bool written) {
        if (given && path != STDIO_NAME) {
            files.push_back({option, path.c_str(), written});
        }
    };
    add(o.has_output, o.output, "-o", true);
    add(o.has_diff, o.diff, "--diff", true);
    add(o.has_compare, o.compare, "--compare", false);
    add(o.has_replay, o.replay, "--replay", false);
    add(o.has_profile, o.profile, "--profile", false);
    add(o.has_font, o.font, "--font", false);
    int a = 0;
    int b = 0;
    if (!iopaths_find_same(files.data(), static_cast<int>(files.size()), &a, &b)) {
        return EXIT_DONE;
    }
    const iopaths_entry_t& first = files[static_cast<std::size_t>(a)];
    const iopaths_entry_t& second = files[static_cast<std::size_t>(b)];
    say(std::string(second.path) + ": " + first.option + " and " + second.option +
        " name the same file");
    return EXIT_BAD_FORMAT;
}

int run_options(const options_t& o) {
    // Standard output is kept for the picture or the text; everything printed goes to
    // standard error, in order (line by line).
    std::fflush(stdout);
    const int out_fd = ::dup(STDOUT_FILENO);
    if (out_fd < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::fprintf(stderr, "vimbracli: standard output: %s\n", std::strerror(errno));
        return EXIT_BAD_CONFIGURATION;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    outfile_use_stdout(out_fd);
    run_t run{};
    run.options = &o;
    run.out_fd = out_fd;
    int status = refuse_same_files(o);
    if (status == EXIT_DONE) {
        status = open_image(o, &run.img);
    }
    if (status == EXIT_DONE) {
        status = make_picture(&run);
    }
    if (status == EXIT_DONE) {
        status = deliver(&run);
    }
    if (status == EXIT_DONE && run.timing_faults) {
        status = EXIT_TIMING_FAULTS;
    }
    std::free(run.scaled);
    job_log_free(&run.log);
    lcdimg_close(run.img);
    std::fflush(stdout);
    outfile_use_stdout(STDOUT_FILENO);
    ::dup2(out_fd, STDOUT_FILENO);
    ::close(out_fd);
    return status;
}

int option_main(int argc, char** argv) {
    CLI::App app{"", "vimbracli"};
    options_t o;
    try {
        build_parser(&app, &o);
        try {
            app.parse(argc, argv);
        } catch (const CLI::ParseError& e) {
            if (e.get_exit_code() == 0) {
                return app.exit(e); // --help and --version: standard output, status 0
            }
            throw usage_error_t{e.what()};
        }
        settle_options(app, &o);
    } catch (const usage_error_t& e) {
        std::fprintf(stderr, "vimbracli: %s\nRun 'vimbracli --help' for usage.\n",
                     e.message.c_str());
        return EXIT_BAD_FORMAT;
    }
    return run_options(o);
}

} // namespace

int cli_main(int argc, char** argv) {
    iopaths_fill_closed_stdio();
    outfile_install_signal_handlers();
    if (argc > 1 && argv[1][0] == '-') {
        try {
            return option_main(argc, argv);
        } catch (const std::bad_alloc&) {
            std::fflush(stdout);
            std::fprintf(stderr, "Memory Allocation Error.\n");
            return EXIT_BAD_CONFIGURATION;
        }
    }
    return positional_main(argc, argv);
}
