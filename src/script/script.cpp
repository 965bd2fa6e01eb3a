// The script runner: load, optionally list, run, report.
#include "script/script.hpp"

#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "base/console.hpp"
#include "base/linesrc.hpp"
#include "base/shown.hpp"
#include "script/core.hpp"
#include "script/kestbasic.hpp"
#include "script/kestlibc.hpp"

namespace vimbra {

namespace {

constexpr int LINE_BUFFER_SIZE = 8192;
constexpr int MESSAGE_SIZE = 8192;

void print_listing(const progedit_t* store, int lines_read, const console_t* console) {
    console_puts(console, "[Program list]");
    const int lines_stored = print_program(store, console);
    console_puts(console, "");
    console_puts(console, "[Program information]");
    console_printf(console, "  %d lines readed.\n", lines_read);
    console_printf(console, "  %d lines stored.\n", lines_stored);
    console_printf(console, "  %d bytes.\n", kestlibc_strlen(store->text.data()));
    console_puts(console, "");
}

// Steps the program to its end; the final result (RC_END on a normal end), or
// RC_STEP_LIMIT when a positive step limit ran out or the stop callback said so first.
int run_program(kestbasic_t* kb, const progedit_t* store, lcdimg_t* lcdimg,
                const script_limits_t& limits, const console_t* console) {
    int rc = kestbasic_setup(kb, store->text.data(), lcdimg);
    kb->hal.console = console;
    const std::int64_t limit = limits.step_limit > 0 ? limits.step_limit : INT64_MAX;
    std::int64_t next_ask = SCRIPT_STOP_STRIDE;
    for (std::int64_t steps = 0; rc == RC_OK; ++steps) {
        if (steps == limit) {
            return RC_STEP_LIMIT;
        }
        if (steps == next_ask) {
            if (limits.should_stop != nullptr && limits.should_stop(limits.stop_ctx)) {
                return RC_STEP_LIMIT;
            }
            next_ask += SCRIPT_STOP_STRIDE;
        }
        rc = kestbasic_execute(kb);
    }
    return rc;
}

// Lists and runs a loaded program; the interpreter's record (about 110 KB with its token
// cache) is taken from the heap, so that no caller's stack must make room for it.
void run_loaded(const progedit_t* store, int lines_read, const script_run_t& run) {
    if (run.listing != 0) {
        print_listing(store, lines_read, run.console);
    }
    const std::unique_ptr<kestbasic_t> kb(new (std::nothrow) kestbasic_t);
    if (kb == nullptr) {
        console_printf(run.console, "%s%sMemory Allocation Error.\n", run.file, run.separator);
        return;
    }
    const int rc = run_program(kb.get(), store, run.lcdimg, *run.limits, run.console);
    if (rc != RC_END) {
        std::array<char, MESSAGE_SIZE> message{};
        kestbasic_get_error_message(kb.get(), rc, message.data(), MESSAGE_SIZE);
        console_printf(run.console, "%s%sScript error: %s\n", run.file, run.separator,
                       message.data());
    }
}

int load_lines(progedit_t* store, linesrc_t* src, const console_t* console) {
    std::array<char, LINE_BUFFER_SIZE> line{};
    int count = 0;
    while (linesrc_next(src, line.data(), LINE_BUFFER_SIZE)) {
        count += count < INT_MAX ? 1 : 0; // a count that cannot grow stays non-negative
        if (progedit_insert(store, line.data()) != 0) {
            console_printf(console, "Insert failed.\nline=%d:%s\n", count, line.data());
        }
    }
    // A folder opens but cannot be read: like a missing file, it is no script. A read
    // error after some lines keeps what was read.
    return count == 0 && linesrc_failed(src) ? -1 : count;
}

} // namespace

int script_execute(const char* path, lcdimg_t* lcdimg, int listing, std::int64_t step_limit,
                   bool name_file) {
    const script_limits_t limits{step_limit, nullptr, nullptr};
    return script_execute_limited(path, lcdimg, listing, &limits, name_file);
}

int script_execute_limited(const char* path, lcdimg_t* lcdimg, int listing,
                           const script_limits_t* limits, bool name_file,
                           const console_t* console) {
    // The path comes from a profile: shown escaped and shortened, as names from inputs are.
    std::string shown_path;
    try {
        shown_path = name_file && path != nullptr ? shown_text(path, SHOWN_NAME) : "";
    } catch (const std::bad_alloc&) {
        shown_path.clear();
    }
    const script_run_t run{lcdimg,
                           listing,
                           limits,
                           console,
                           shown_path.c_str(),
                           name_file && path != nullptr ? ": " : ""};
    progedit_t store;
    progedit_init(&store);
    const int lines_read = load_program(&store, path, console);
    if (lines_read < 0) {
        console_printf(console, "%s%sScript read failed.\n", run.file, run.separator);
        return 2;
    }
    run_loaded(&store, lines_read, run);
    return 0;
}

int script_execute_text(const char* text, std::size_t length, const script_run_t* run) {
    progedit_t store;
    progedit_init(&store);
    const int lines_read = load_program_text(&store, text, length, run->console);
    run_loaded(&store, lines_read, *run);
    return 0;
}

int load_program(progedit_t* store, const char* path, const console_t* console) {
    std::FILE* file = path != nullptr ? std::fopen(path, "rb") : nullptr;
    if (file == nullptr) {
        return -1;
    }
    linesrc_t src = linesrc_file(file);
    const int count = load_lines(store, &src, console);
    std::fclose(file);
    return count;
}

int load_program_text(progedit_t* store, const char* text, std::size_t length,
                      const console_t* console) {
    linesrc_t src = linesrc_text(text, length);
    return load_lines(store, &src, console);
}

int print_program(const progedit_t* store, const console_t* console) {
    std::array<char, LINE_BUFFER_SIZE> line{};
    int count = 0;
    while (progedit_fetch(store, count, line.data(), LINE_BUFFER_SIZE) == 0) {
        ++count;
        console_printf(console, "  %d: [%s]\n", count, line.data());
    }
    return count;
}

} // namespace vimbra
