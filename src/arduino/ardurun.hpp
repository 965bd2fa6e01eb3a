// One run of a host sketch in a child process: the child runs setup() and loop() on the
// board, and sends its log, Serial output and warnings through a pipe; this process takes
// them in whole lines and learns how the run ended (the time limit, exit(), a signal) and
// with which EEPROM. Nothing the sketch does ends this process.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "arduino/arduhost.hpp"
#include "vimbra/arduino/vimbra_sketch.h"

namespace vimbra::arduino {

// Receives the run's output as it comes: the log in whole lines (the run's last wait
// included), Serial's text and warnings as written.
struct run_receiver {
    void (*log)(const char* text, std::size_t size, void* context) = nullptr;
    void (*serial)(const char* text, std::size_t size, void* context) = nullptr;
    void (*warning)(const char* text, std::size_t size, void* context) = nullptr;
    void* context = nullptr;
};

struct run_request {
    const sketch* code = nullptr;
    host_setup setup;
    std::uint32_t wall_limit_ms = 0; // 0: no limit
    // SIGINT, SIGTERM and SIGHUP reach the child, and this process takes in what it sent
    // before run_forked returns (the program's main only: a library installs no handler).
    bool forward_signals = false;
};

struct run_end {
    run_status status = run_status::failed;
    int code = 0;
    std::string message; // without the sketch's name
    std::uint64_t end_us = 0;
    bool eeprom_valid = false;
    std::array<std::uint8_t, HOST_EEPROM_SIZE> eeprom{};
    int forwarded_signal = 0; // a signal this process was sent during the run
};

run_end run_forked(const run_request& request, const run_receiver& receiver);

// A time as the messages give it: "2.5s", "0.000004s".
std::string run_format_seconds(std::uint64_t us);

} // namespace vimbra::arduino
