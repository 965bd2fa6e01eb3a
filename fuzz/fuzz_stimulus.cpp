// A stimulus of any bytes: read, and when accepted, its events in time order within the
// longest run, then played on the board to the end of the longest run with a handler on
// both interrupts and Serial read as it fills.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#define VIMBRA_ARDUINO_NO_MAIN
#include "arduino/arduhost.hpp"
#include "arduino/ardustim.hpp"
#include "vimbra/arduino/Arduino.h"

namespace board = vimbra::arduino;

namespace {

volatile int edges = 0;

void on_edge() {
    edges = edges + 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    board::stimulus stim;
    std::string message;
    if (!board::stim_parse(text, "fuzz.stim", &stim, &message)) {
        if (message.rfind("fuzz.stim:", 0) != 0) {
            std::abort(); // every refusal names the file and the line
        }
        return 0;
    }
    std::uint64_t last = 0;
    for (const board::stim_event& event : stim.events) {
        if (event.at_us < last || event.at_us > board::STIM_MAX_US ||
            event.pin >= board::STIM_PINS || event.text_at + event.text_size > stim.bytes.size()) {
            std::abort();
        }
        last = event.at_us;
    }
    board::host_setup setup;
    setup.stim = &stim;
    setup.run_us = board::HOST_MAX_RUN_US;
    board::host_start(setup, board::host_sink{});
    attachInterrupt(0, on_edge, CHANGE);
    attachInterrupt(1, on_edge, FALLING);
    for (int step = 0; step < 64; ++step) {
        while (Serial.available() > 0) {
            Serial.read();
        }
        board::host_spend(board::HOST_MAX_RUN_US / 64);
    }
    board::host_start(board::host_setup{}, board::host_sink{});
    return 0;
}
