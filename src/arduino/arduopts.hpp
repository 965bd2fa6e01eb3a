// The command line of a host sketch's program: the time limit, the clock's start, the log,
// the stimulus, the EEPROM's file and fixed levels of inputs.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "arduino/ardustim.hpp"

namespace vimbra::arduino {

struct host_options {
    std::uint64_t run_us = 10000000;              // the time limit: 10 s unless asked
    std::uint64_t start_us = 0;                   // what the clock reads at the start
    std::string log_path;                         // empty or "-": standard output
    std::string input_path;                       // the stimulus; empty: none
    std::string eeprom_path;                      // empty: the EEPROM starts erased and is not kept
    std::array<int, STIM_ANALOG_PINS> analog{};   // what analogRead returns, 0 to 1023
    std::array<std::int8_t, STIM_PINS> digital{}; // a level from --digital, or -1
    bool help = false;
    host_options() { digital.fill(-1); }
};

// Reads the arguments, then `env_run` (VIMBRA_RUN's value, or null) when no --run was given:
// the option wins over the environment. Returns 0, or 2 for a usage error with one line in
// `message` (no line end).
int host_parse_options(int argc, const char* const* argv, const char* env_run,
                       host_options* options, std::string* message);
// The command line's help text.
const char* host_usage();
// A time limit: as stim_parse_time, from 1us.
bool host_parse_run_time(const char* text, std::uint64_t* us);

} // namespace vimbra::arduino
