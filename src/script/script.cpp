// The script runner: load, optionally list, run, report.
#include "script/script.hpp"

#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>

#include "script/core.hpp"
#include "script/kestbasic.hpp"
#include "script/kestlibc.hpp"

namespace {

constexpr int LINE_BUFFER_SIZE = 8192;
constexpr int MESSAGE_SIZE = 8192;

void print_listing(const progedit_t* store, int lines_read) {
    std::puts("[Program list]");
    const int lines_stored = print_program(store);
    std::puts("");
    std::puts("[Program information]");
    std::printf("  %d lines readed.\n", lines_read);
    std::printf("  %d lines stored.\n", lines_stored);
    std::printf("  %d bytes.\n", kestlibc_strlen(store->text.data()));
    std::puts("");
}

// Steps the program to its end; the final result (RC_END on a normal end), or
// RC_STEP_LIMIT when a positive step limit ran out or the stop callback said so first.
int run_program(kestbasic_t* kb, const progedit_t* store, lcdimg_t* lcdimg,
                const script_limits_t& limits) {
    int rc = kestbasic_setup(kb, store->text.data(), lcdimg);
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

} // namespace

int script_execute(const char* path, lcdimg_t* lcdimg, int listing, std::int64_t step_limit,
                   bool name_file) {
    const script_limits_t limits{step_limit, nullptr, nullptr};
    return script_execute_limited(path, lcdimg, listing, &limits, name_file);
}

int script_execute_limited(const char* path, lcdimg_t* lcdimg, int listing,
                           const script_limits_t* limits, bool name_file) {
    const char* file = name_file && path != nullptr ? path : "";
    const char* separator = name_file && path != nullptr ? ": " : "";
    progedit_t store;
    progedit_init(&store);
    const int lines_read = load_program(&store, path);
    if (lines_read < 0) {
        std::printf("%s%sScript read failed.\n", file, separator);
        return 2;
    }
    if (listing != 0) {
        print_listing(&store, lines_read);
    }
    kestbasic_t kb;
    const int rc = run_program(&kb, &store, lcdimg, *limits);
    if (rc != RC_END) {
        std::array<char, MESSAGE_SIZE> message{};
        kestbasic_get_error_message(&kb, rc, message.data(), MESSAGE_SIZE);
        std::printf("%s%sScript error: %s\n", file, separator, message.data());
    }
    return 0;
}

int load_program(progedit_t* store, const char* path) {
    std::FILE* file = path != nullptr ? std::fopen(path, "rb") : nullptr;
    if (file == nullptr) {
        return -1;
    }
    std::array<char, LINE_BUFFER_SIZE> line{};
    int count = 0;
    while (std::fgets(line.data(), LINE_BUFFER_SIZE, file) != nullptr) {
        count += count < INT_MAX ? 1 : 0; // a count that cannot grow stays non-negative
        if (progedit_insert(store, line.data()) != 0) {
            std::printf("Insert failed.\nline=%d:%s\n", count, line.data());
        }
    }
    // A folder opens but cannot be read: like a missing file, it is no script. A read
    // error after some lines keeps what was read.
    const bool unreadable = count == 0 && std::ferror(file) != 0;
    std::fclose(file);
    return unreadable ? -1 : count;
}

int print_program(const progedit_t* store) {
    std::array<char, LINE_BUFFER_SIZE> line{};
    int count = 0;
    while (progedit_fetch(store, count, line.data(), LINE_BUFFER_SIZE) == 0) {
        ++count;
        std::printf("  %d: [%s]\n", count, line.data());
    }
    return count;
}
