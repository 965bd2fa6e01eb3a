// The command line's trace options: how a VCD's signals are wired and timed.
#pragma once

#include <string>

#include "job/tracerun.hpp"

namespace CLI {
class App;
}

namespace vimbra {

// Adds the trace options to the parser.
void traceopts_add(CLI::App* app, trace_options_t* options);
// Checks what the parser cannot; returns an empty string or the usage error's text.
std::string traceopts_settle(const CLI::App& app, const trace_options_t* options, bool has_replay);

} // namespace vimbra
