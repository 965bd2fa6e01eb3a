#include "app/cli.hpp"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "app/traceopts.hpp"
#include "app/version.hpp"
#include "base/console.hpp"
#include "bmp/giffile.hpp"
#include "bmp/outfile.hpp"
#include "job/iopaths.hpp"
#include "job/jobrun.hpp"
#include "job/screen.hpp"
#include "job/snapshot.hpp"
#include "lcd/animate.hpp"
#include "lcd/cmdlog.hpp"
#include "lcd/lcdimg.hpp"

namespace {

enum exit_status : int {
    EXIT_DONE = 0,
    EXIT_BAD_CONFIGURATION = 1, // also unreadable input and memory
    EXIT_BAD_FORMAT = 2,        // malformed rows or log, and usage errors
    EXIT_OUTPUT_FAILED = 3,
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

void say_on_console(const char* line, void* console) {
    console_puts(static_cast<const console_t*>(console), line);
}

int positional_main(int argc, char** argv) {
    if (argc <= FIRST_ROW_ARG) {
        version_info_t info;
        version_info(&info);
        print_banner(info);
        return EXIT_DONE;
    }
    // When the picture goes to standard output the messages go to standard error, so that
    // no warning lands among the picture's bytes.
    const console_t console = iopaths_is_stdout(argv[3], STDOUT_FILENO) ? console_on(stderr, stdin)
                                                                        : console_standard();
    lcdimg_t* img = lcdimg_open_to(argv[1], argv[2], &console);
    if (img == nullptr) {
        console_puts(&console, "Illegal configuration found.");
        return EXIT_BAD_CONFIGURATION;
    }
    const job_messages_t messages{say_on_console, const_cast<console_t*>(&console)};
    int status = job_exit_status(
        job_place_rows(img, argv + FIRST_ROW_ARG, argc - FIRST_ROW_ARG, &messages));
    if (status != EXIT_DONE) {
    } else if (const int written = lcdimg_write_file(img, argv[3]); written == OUTFILE_NO_MEMORY) {
        console_puts(&console, "Memory Allocation Error.");
        status = EXIT_BAD_CONFIGURATION;
    } else if (written != 0) {
        console_printf(&console, "Output file could not be written. (%s)\n", argv[3]);
        status = EXIT_OUTPUT_FAILED;
    }
    lcdimg_close(img);
    return status;
}

// ---------------------------------------------------------------- option form

constexpr const char* STDIO_NAME = "-";

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
    jobrun_format_t picture_format = JOBRUN_FORMAT_BY_NAME;
    bool animation = false; // the output is a GIF or APNG of the whole log
    animate_format_t animation_format = ANIMATE_GIF;
    std::int64_t hold_us = ANIMATE_DEFAULT_HOLD_US;
};

// A refused command line: the message, then where help is.
struct usage_error_t {
    std::string message;
};

// One message line on standard error: in this form standard output carries only what was
// asked of it (a picture written to "-", or the text of --text).
void say_line(const char* line, void*) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", line);
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
    traceopts_add(app, &o->trace);
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
    if (const std::string error = traceopts_settle(app, &o->trace, o->has_replay); !error.empty()) {
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
        o->picture_format = o->format == "png" ? JOBRUN_FORMAT_PNG : JOBRUN_FORMAT_BMP;
    }
    settle_animation(app, o);
}

// The options as a request to the render job; the library's messages and the script's
// output go to standard error, the picture or the text to standard output.
int run_options(const options_t& o) {
    const auto name = [](bool given, const std::string& path) {
        return given ? path.c_str() : nullptr;
    };
    std::vector<const char*> rows;
    for (const std::string& row : o.rows) {
        rows.push_back(row.c_str());
    }
    jobrun_request_t request;
    request.profile = name(o.has_profile, o.profile);
    request.font = name(o.has_font, o.font);
    request.replay = name(o.has_replay, o.replay);
    request.rows = rows.data();
    request.row_count = static_cast<int>(rows.size());
    request.at_us = o.at_us;
    request.at_mark = name(!o.at_mark.empty(), o.at_mark);
    request.scale = o.scale;
    request.max_steps = o.max_steps;
    request.output = name(o.has_output, o.output);
    request.format = o.picture_format;
    request.animation = o.animation;
    request.animation_format = o.animation_format;
    request.hold_us = o.hold_us;
    request.plays = o.loop;
    request.compare = name(o.has_compare, o.compare);
    request.diff = name(o.has_diff, o.diff);
    request.update = o.update;
    request.text = o.text;
    request.trace = &o.trace;
    request.console = console_on(stderr, stdin);
    const job_messages_t messages{say_line, nullptr};
    jobrun_result_t result;
    const job_status_t status = jobrun_run(&request, &messages, &result);
    if (!result.usage.empty()) {
        std::fprintf(stderr, "vimbracli: %s\nRun 'vimbracli --help' for usage.\n",
                     result.usage.c_str());
    }
    return job_exit_status(status);
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
