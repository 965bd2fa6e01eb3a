#include "app/cli.hpp"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "app/traceopts.hpp"
#include "app/version.hpp"
#include "base/console.hpp"
#include "base/shown.hpp"
#include "bmp/giffile.hpp"
#include "bmp/outfile.hpp"
#include "chip/cmdlog.hpp"
#include "job/animate.hpp"
#include "job/iopaths.hpp"
#include "job/jobrun.hpp"
#include "job/screen.hpp"
#include "job/snapshot.hpp"
#include "lcd/lcdimg.hpp"

namespace vimbra {

namespace {

enum exit_status : int {
    EXIT_DONE = 0,
    EXIT_BAD_CONFIGURATION = 1, // also unreadable input and memory
    EXIT_BAD_FORMAT = 2,        // malformed rows or log, and usage errors
    EXIT_OUTPUT_FAILED = 3,
};

// ---------------------------------------------------------------- positional form

constexpr int FIRST_ROW_ARG = 4;

void say_on_console(const char* line, void* console) {
    console_puts(static_cast<const console_t*>(console), line);
}

int positional_main(int argc, char** argv) {
    if (argc <= FIRST_ROW_ARG) {
        version_print_banner();
        return EXIT_DONE;
    }
    // When the picture goes to standard output the messages go to standard error, so that
    // no warning lands among the picture's bytes.
    console_t console =
        iopaths_is_stdout(argv[3], STDOUT_FILENO) ? console_on(stderr, stdin) : console_standard();
    lcdimg_t* img = lcdimg_open_to(argv[1], argv[2], &console);
    if (img == nullptr) {
        console_puts(&console, "Illegal configuration found.");
        return EXIT_BAD_CONFIGURATION;
    }
    const job_messages_t messages{say_on_console, &console};
    int status =
        job_exit_status(job_place_rows(img, argv + FIRST_ROW_ARG, argc - FIRST_ROW_ARG, &messages));
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

// What the parser fills: the names as given, and the request they become.
struct options_t {
    std::string profile;
    std::string font;
    std::string replay;
    std::string at;
    std::string output;
    std::string format;
    std::string compare;
    std::string diff;
    std::string hold;
    std::vector<std::string> args; // the positional arguments
    std::vector<std::string> rows;
    std::vector<const char*> row_texts;
    trace_options_t trace;
    jobrun_request_t request; // names point into the strings above
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
                    "command log or capture to replay, told by its content: a VCD, a sigrok "
                    "session (.sr), a Saleae Logic 2 CSV export or binary export's folder "
                    "('-': standard input)")
        ->option_text("LOG|CAPTURE");
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
    app->add_flag("--update", o->request.update,
                  "with --compare: write REF when missing or different (or VIMBRA_UPDATE=1)");
    app->add_flag("--text", o->request.text,
                  "print the display as row arguments and its cursor state");
    app->add_option("--scale", o->request.scale, "each pixel as N x N pixels")
        ->check(traceopts_number_in(1, SCREEN_MAX_SCALE))
        ->option_text("N (1-16)");
    app->add_option("--max-steps", o->request.max_steps, "stop the profile's script after N steps")
        ->check(traceopts_number_in(std::int64_t{1}, INT64_MAX))
        ->option_text("N");
    app->add_option("--hold", o->hold, "animation: how long the end stays, e.g. 2s (default: 1s)")
        ->option_text("TIME");
    app->add_option("--loop", o->request.plays,
                    "animation: play it N times (default, or 0: forever)")
        ->check(traceopts_number_in(0, GIFFILE_MAX_PLAYS))
        ->option_text("N");
    traceopts_add(app, &o->trace);
    app->add_option("OUTPUT", o->args, "the picture, then one text per display row")
        ->option_text("ROW...");
    app->set_version_flag("--version", "vimbracli " + version_number());
    app->footer("Rows: \\\\ places a backslash, \\xHH any code; with the profile's CHARSET, text "
                "is UTF-8.\n"
                "A row that begins with '-' follows '--'. Messages go to standard error.\n"
                "Logs name moments with 'mark NAME' (for --at NAME), their grid with\n"
                "'module 20x4' (used without -p) and the backlight with 'backlight on|off'.\n"
                "Exit status: 0 done, 1 bad configuration or unreadable input, 2 usage error or\n"
                "malformed row, log or trace, 3 a picture not written,\n"
                "4 --compare found a difference, 5 --check-timing found a timing fault,\n"
                "6 --check-timing could not judge the bus times: the capture's sample rate is "
                "too low.");
}

// An animation is asked for by --format gif|apng or, without --format, by the output's name.
void settle_animation(const CLI::App& app, options_t* o) {
    jobrun_request_t& r = o->request;
    if (o->format == "gif" || o->format == "apng") {
        r.animation = r.output != nullptr;
        r.animation_format = o->format == "gif" ? ANIMATE_GIF : ANIMATE_APNG;
    } else if (o->format.empty() && r.output != nullptr) {
        r.animation = animate_format_of(r.output, &r.animation_format) != 0;
    }
    const bool hold = app.count("--hold") > 0;
    if ((hold || app.count("--loop") > 0) && (!r.animation || r.replay == nullptr)) {
        throw usage_error_t{std::string(hold ? "--hold" : "--loop") +
                            " needs --replay and a .gif or .apng output"};
    }
    if (hold && cmdlog_parse_time(o->hold.c_str(), &r.hold_us) != 0) {
        throw usage_error_t{"--hold: not a time: '" + shown_text(o->hold) + "' (e.g. 2s, 500ms)"};
    }
    if (r.animation && app.count("--at") > 0) {
        throw usage_error_t{"--at shows one moment: an animation (.gif, .apng) shows them all"};
    }
}

// --at is a time when it reads as one, else the name of a mark looked up in the log.
void settle_at(options_t* o) {
    if (cmdlog_parse_time(o->at.c_str(), &o->request.at_us) == 0) {
        return;
    }
    if (!cmdlog_is_mark_name(o->at.c_str())) {
        throw usage_error_t{"--at: not a time or a mark name: '" + shown_text(o->at) +
                            "' (e.g. 1.5s, 250ms, 40us, or a mark such as main-menu)"};
    }
    o->request.at_mark = o->at.c_str();
}

// "-" and the names of descriptor 1 (/dev/stdout, ...) alike.
bool for_stdout(const char* path) {
    return path != nullptr && (std::strcmp(path, STDIO_NAME) == 0 ||
                               (path[0] != '\0' && outfile_descriptor_of(path) == 1));
}

// Works out what the positional arguments are and refuses combinations that mean nothing.
void settle_options(const CLI::App& app, options_t* o) {
    jobrun_request_t& r = o->request;
    const auto named = [&app](const char* option, const std::string& path) {
        return app.count(option) > 0 ? path.c_str() : nullptr;
    };
    r.profile = named("--profile", o->profile);
    r.font = named("--font", o->font);
    r.replay = named("--replay", o->replay);
    r.compare = named("--compare", o->compare);
    r.diff = named("--diff", o->diff);
    o->rows = o->args;
    if (app.count("--output") == 0 && r.compare == nullptr && !r.text) {
        if (o->rows.empty()) {
            throw usage_error_t{"no output named (give OUTPUT, -o FILE, --compare or --text)"};
        }
        o->output = o->rows.front();
        o->rows.erase(o->rows.begin());
    }
    r.output =
        app.count("--output") > 0 || o->args.size() > o->rows.size() ? o->output.c_str() : nullptr;
    if (const std::string error = traceopts_settle(app, &o->trace, r.replay != nullptr);
        !error.empty()) {
        throw usage_error_t{error};
    }
    if (const std::string error = traceopts_flag_values(app, {"--update", "--text"});
        !error.empty()) {
        throw usage_error_t{error};
    }
    if (r.replay != nullptr && !o->rows.empty()) {
        throw usage_error_t{"rows and --replay cannot be combined"};
    }
    if (app.count("--at") > 0) {
        if (r.replay == nullptr) {
            throw usage_error_t{"--at needs --replay"};
        }
        settle_at(o);
    }
    if (r.diff != nullptr && r.compare == nullptr) {
        throw usage_error_t{"--diff needs --compare"};
    }
    // --update asks for --compare; VIMBRA_UPDATE=1 switches it on wherever --compare is given.
    if (app.count("--update") > 0 && r.compare == nullptr) {
        throw usage_error_t{"--update needs --compare"};
    }
    r.update = r.compare != nullptr && snapshot_update_asked(r.update);
    const bool log_out = !o->trace.emit_log.empty() && for_stdout(o->trace.emit_log.c_str());
    if (int{for_stdout(r.output)} + int{for_stdout(r.diff)} + int{r.text} + int{log_out} > 1) {
        throw usage_error_t{log_out ? "only one of the picture, the --diff picture, --text and "
                                      "the --emit-log log can go to standard output"
                                    : "only one of the picture, the --diff picture and --text "
                                      "can go to standard output"};
    }
    if (r.output != nullptr && r.output[0] == '\0') {
        throw usage_error_t{"empty output name"};
    }
    for (const auto& [path, option] :
         {std::pair{r.profile, "--profile"}, std::pair{r.font, "--font"},
          std::pair{r.replay, "--replay"}, std::pair{r.compare, "--compare"},
          std::pair{r.diff, "--diff"}}) {
        if (path != nullptr && path[0] == '\0') {
            throw usage_error_t{std::string(option) + ": empty file name"};
        }
    }
    if (o->format == "png" || o->format == "bmp") { // gif and apng name animations
        r.format = o->format == "png" ? JOBRUN_FORMAT_PNG : JOBRUN_FORMAT_BMP;
    }
    settle_animation(app, o);
    for (const std::string& row : o->rows) {
        o->row_texts.push_back(row.c_str());
    }
    r.rows = o->row_texts.data();
    r.row_count = static_cast<int>(o->row_texts.size());
    r.trace = &o->trace;
}

int usage_error(const std::string& message) {
    std::fprintf(stderr, "vimbracli: %s\nRun 'vimbracli --help' for usage.\n", message.c_str());
    return EXIT_BAD_FORMAT;
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
        return usage_error(e.message);
    }
    // The library's messages and the script's output go to standard error: standard output
    // carries only the picture or the text asked for.
    o.request.console = console_on(stderr, stdin);
    const job_messages_t messages{say_line, nullptr};
    jobrun_result_t result;
    const job_status_t status = jobrun_run(&o.request, &messages, &result);
    return result.usage.empty() ? job_exit_status(status) : usage_error(result.usage);
}

} // namespace

int cli_main(int argc, char** argv) {
    iopaths_fill_closed_stdio();
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

} // namespace vimbra
