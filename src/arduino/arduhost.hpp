// The board under a host Arduino sketch: the simulated clock and its time limit, the pins,
// and the command log that the display calls and the marks go to. The Arduino functions are
// global by their nature, so this state is one record that the run starts.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "vimbra/lcd_shim.hpp"

// How long a run lasts at most: an hour of the sketch's time (a loop() that does nothing
// takes seconds for that).
inline constexpr std::uint64_t ARDUHOST_MAX_RUN_US = 3600ULL * 1000000ULL;
inline constexpr int ARDUHOST_PINS = 64;
inline constexpr int ARDUHOST_ANALOG_PINS = 8;
inline constexpr int ARDUHOST_FIRST_ANALOG_PIN = 14; // A0 on an Uno

// What the host program's command line (and the environment) asked for.
struct arduhost_options_t {
    std::uint64_t run_us = 10000000;                // the time limit: 10 s unless asked
    std::string log_path;                           // empty or "-": standard output
    std::array<int, ARDUHOST_ANALOG_PINS> analog{}; // what analogRead returns, 0 to 1023
    std::array<bool, ARDUHOST_PINS> digital_set{};  // --digital gave the pin's level
    std::array<int, ARDUHOST_PINS> digital{};       // that level, LOW or HIGH
    bool help = false;
};

// Reads `env_run` (VIMBRA_RUN's value, or null) and then the arguments. Returns 0, or 2 for
// a usage error with one line in `message` (no line end).
int arduhost_parse(int argc, const char* const* argv, const char* env_run,
                   arduhost_options_t* options, std::string* message);
// The command line's help text.
const char* arduhost_usage();
// A time as a log's wait lines write it: "5s", "1.5s", "250ms", "40us", whole microseconds
// from 1 us to ARDUHOST_MAX_RUN_US. Returns false for anything else.
bool arduhost_parse_time(const char* text, std::uint64_t* us);

// Starts a run at time 0: log lines go to `log` (null: nowhere) and, when the clock reaches
// options.run_us, `at_limit` is called, which must not return (the run's end; without one
// the clock stays at the limit).
void arduhost_start(const arduhost_options_t& options, std::FILE* log, void (*at_limit)());
// Microseconds since the start.
std::uint64_t arduhost_now();
// Moves the clock on by `us`, to the limit at most.
void arduhost_spend(std::uint64_t us);
// One event into the log at the clock's time: the time since the last line goes before it
// as a wait line, so a wait event itself writes nothing.
void arduhost_log(const vimbra::lcd_event& event);
// Writes the wait up to the clock and flushes the log; false when some line was lost.
bool arduhost_end_log();

// The pins, for the Arduino functions: pin numbers out of range read 0 and keep nothing.
void arduhost_pin_mode(int pin, int mode);
void arduhost_digital_write(int pin, int value);
int arduhost_digital_read(int pin);
int arduhost_analog_read(int pin);
