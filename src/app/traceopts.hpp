// The command line's trace options: how a VCD's signals are wired and timed.
#pragma once

#include <string>
#include <type_traits>
#include <vector>

#include "job/tracerun.hpp"

#include <CLI/CLI.hpp>

namespace vimbra {

// Why `text` is no number ("not a number: 'X'"), or an empty string.
std::string traceopts_number_error(const std::string& text, bool whole);

// A check for a number option from `min` to `max` (an integer type takes whole numbers only): a
// value that is no number, NaN and infinities included, is "not a number: 'X'" ("not a whole
// number" for a fraction of an integer option); one out of range keeps CLI11's own line.
template <class T> CLI::Validator traceopts_number_in(T min, T max) {
    const CLI::Range range(min, max);
    return CLI::Validator(
        [range](std::string& text) -> std::string {
            std::string copy = text;
            const std::string error = traceopts_number_error(copy, std::is_integral_v<T>);
            return !error.empty() ? error : range(copy);
        },
        range.get_description());
}
// Refuses a value given to a flag ("--power-on=40ms"): an empty string or the usage error.
std::string traceopts_flag_values(const CLI::App& app, const std::vector<const char*>& flags);

// Adds the trace options to the parser.
void traceopts_add(CLI::App* app, trace_options_t* options);
// Checks what the parser cannot; returns an empty string or the usage error's text.
// Notes which options were given.
std::string traceopts_settle(const CLI::App& app, trace_options_t* options, bool has_replay);

} // namespace vimbra
