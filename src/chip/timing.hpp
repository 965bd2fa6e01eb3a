// A source's bytes through the module's chips, with their faults named: the chips (src/chip/chip)
// pair, judge and run every event; here the module adds what concerns it as a whole (the
// power-on wait before its first bus cycle, which controller a fault is on, its log line) and
// counts the bytes refused.
#pragma once

#include <array>
#include <cstdint>

#include "chip/chip.hpp"

namespace vimbra {

inline constexpr int TIMING_CHIPS = 2;

struct timing_config_t {
    bool chip_timing; // false: every byte runs (faults are still judged as the chip sees them)
    int fosc_khz;
    bool power_on; // time 0 is power-on: the first cycle must wait 40 ms
    bool two_chips;
};

struct timing_callbacks_t {
    void (*byte)(const chip_byte_t* byte, void* ctx);
    // A timing fault: one line of text. Null: faults are not judged.
    void (*fault)(std::int64_t time_ps, std::uint32_t line, const char* text, void* ctx);
    void* ctx;
};

struct timing_t {
    timing_config_t config;
    timing_callbacks_t callbacks;
    std::array<chip_t, TIMING_CHIPS> chips;
    bool cycle_seen;
    std::uint64_t not_taken; // bytes the chips refused while busy
};

void timing_start(timing_t* timing, const timing_config_t* config,
                  const timing_callbacks_t* callbacks);
// One event for controller `event->chip` (0 or 1; anything else is 0): a bus cycle (on a 4-bit
// bus every second one completes a byte) or a whole byte (a command log's cmd, data and read
// lines). Each byte completed goes to the byte callback.
void timing_event(timing_t* timing, const chip_event_t* event);

} // namespace vimbra
