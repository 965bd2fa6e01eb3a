#include "chip/timing.hpp"

#include <array>
#include <cstdio>
#include <cstring>

namespace vimbra {

namespace {

constexpr std::int64_t US = 1000000; // picoseconds
constexpr std::int64_t MS = 1000 * US;
constexpr std::int64_t NEVER = INT64_MIN;
// Execution times at fOSC = 270 kHz (HD44780U datasheet; clear from the compatible chips).
constexpr std::int64_t SHORT_EXECUTION_PS = 37 * US;
constexpr std::int64_t LONG_EXECUTION_PS = 1520 * US;
constexpr int DATASHEET_FOSC_KHZ = 270;
// Power-on and reset by instruction.
constexpr std::int64_t POWER_ON_WAIT_PS = 40 * MS;
constexpr std::int64_t FIRST_RESET_WAIT_PS = 4100 * US;
constexpr std::int64_t SECOND_RESET_WAIT_PS = 100 * US;

const char* instruction_name(unsigned char b) {
    if (b & 0x80) {
        return "set DDRAM address";
    }
    if (b & 0x40) {
        return "set CGRAM address";
    }
    if (b & 0x20) {
        return "function set";
    }
    if (b & 0x10) {
        return "shift";
    }
    if (b & 0x08) {
        return "display control";
    }
    if (b & 0x04) {
        return "entry mode set";
    }
    if (b & 0x02) {
        return "home";
    }
    return b == 1 ? "clear" : "no instruction";
}

void fault(timing_t* t, std::int64_t time, std::uint32_t line, int chip, const char* text) {
    if (t->callbacks.fault == nullptr) {
        return;
    }
    std::array<char, 256> full{};
    if (t->config.two_chips) {
        std::snprintf(full.data(), full.size(), "controller %d: %s", chip + 1, text);
        text = full.data();
    }
    t->callbacks.fault(time, line, text, t->callbacks.ctx);
}

void format_span(std::int64_t ps, char* out, int capacity) {
    if (ps >= MS) {
        timing_format_ms(ps, 3, out, capacity);
        return;
    }
    // Microseconds to two decimals, trailing zeros dropped.
    std::snprintf(out, static_cast<std::size_t>(capacity), "%lld.%02lld",
                  static_cast<long long>(ps / US), static_cast<long long>(ps % US / 10000));
    std::size_t n = std::strlen(out);
    while (out[n - 1] == '0') {
        out[--n] = '\0';
    }
    if (out[n - 1] == '.') {
        out[--n] = '\0';
    }
    std::strncat(out, " us", static_cast<std::size_t>(capacity) - n - 1);
}

// The faults' messages stay out of line, so that a byte taken in time needs no frame for
// their text.
[[gnu::noinline]] void busy_fault(timing_t* t, const timing_byte_t& b, const timing_chip_t& chip) {
    std::array<char, 32> until{};
    std::array<char, 32> span{};
    timing_format_ms(chip.busy_until, 3, until.data(), static_cast<int>(until.size()));
    format_span(chip.busy_for, span.data(), static_cast<int>(span.size()));
    std::array<char, 200> text{};
    std::snprintf(text.data(), text.size(), "%s 0x%02X while busy with %s until %s (%s)",
                  b.kind == TIMING_DATA ? "data" : instruction_name(b.value), b.value,
                  chip.busy_data ? "data" : instruction_name(chip.busy_with), until.data(),
                  span.data());
    fault(t, b.time_ps, b.line, b.chip, text.data());
}

[[gnu::noinline]] void reset_fault(timing_t* t, const timing_chip_t& chip, const timing_byte_t& b,
                                   std::int64_t gap, std::int64_t need) {
    std::array<char, 32> got{};
    std::array<char, 32> want{};
    format_span(gap, got.data(), static_cast<int>(got.size()));
    format_span(need, want.data(), static_cast<int>(want.size()));
    std::array<char, 200> text{};
    std::snprintf(text.data(), text.size(),
                  "reset by instruction: function set %d came %s after the %s, under %s",
                  chip.reset_sets + 1, got.data(), chip.reset_sets == 1 ? "first" : "second",
                  want.data());
    fault(t, b.time_ps, b.line, b.chip, text.data());
}

[[gnu::noinline]] void power_on_fault(timing_t* t, std::int64_t time_ps, std::uint32_t line,
                                      int chip) {
    std::array<char, 32> at{};
    timing_format_ms(time_ps, 3, at.data(), static_cast<int>(at.size()));
    std::array<char, 120> text{};
    std::snprintf(text.data(), text.size(), "first cycle %s after power-on, under 40 ms",
                  at.data());
    fault(t, time_ps, line, chip, text.data());
}

// The reset by instruction: function sets with DL = 1 in a row must be 4.1 ms, then 100 us
// apart.
void check_reset(timing_t* t, timing_chip_t& chip, const timing_byte_t& b) {
    const bool eight_bit_set = b.kind == TIMING_INSTRUCTION && (b.value & 0xF0) == 0x30;
    if (!eight_bit_set) {
        if (b.kind == TIMING_INSTRUCTION) {
            chip.reset_sets = 0;
        }
        return;
    }
    if (chip.reset_sets == 1 || chip.reset_sets == 2) {
        const std::int64_t gap = b.time_ps - chip.reset_set_at;
        const std::int64_t need = chip.reset_sets == 1 ? FIRST_RESET_WAIT_PS : SECOND_RESET_WAIT_PS;
        if (gap < need) {
            reset_fault(t, chip, b, gap, need);
        }
    }
    ++chip.reset_sets;
    chip.reset_set_at = b.time_ps;
}

// Clear and home take long; every other instruction and data write takes the short time.
bool long_execution(unsigned char instruction, bool data) {
    return !data && (instruction == 0x01 || (instruction & 0xFE) == 0x02);
}

void complete(timing_t* t, timing_byte_t b) {
    timing_chip_t& chip = t->chips[static_cast<std::size_t>(b.chip)];
    const bool writes = b.kind == TIMING_INSTRUCTION || b.kind == TIMING_DATA;
    bool accepted = true;
    if (writes && b.time_ps < chip.busy_until) {
        accepted = false;
        ++t->not_taken;
        busy_fault(t, b, chip);
    }
    if (accepted) {
        check_reset(t, chip, b);
    }
    if (accepted && writes) {
        chip.busy_for = long_execution(b.value, b.kind == TIMING_DATA) ? t->long_ps : t->short_ps;
        // A trace may end near the largest time: busy then lasts to its end.
        chip.busy_until =
            b.time_ps > INT64_MAX - chip.busy_for ? INT64_MAX : b.time_ps + chip.busy_for;
        chip.busy_with = b.value;
        chip.busy_data = b.kind == TIMING_DATA;
    }
    b.taken = accepted || !t->config.chip_timing;
    if (b.taken && b.kind == TIMING_INSTRUCTION && (b.value & 0xE0) == 0x20) {
        chip.eight_bit = (b.value & 0x10) != 0;
        if (chip.eight_bit) {
            chip.nibble_pending = false; // no half byte survives a switch to the 8-bit bus
        }
    }
    t->callbacks.byte(&b, t->callbacks.ctx);
}

} // namespace

void timing_start(timing_t* timing, const timing_config_t* config,
                  const timing_callbacks_t* callbacks) {
    *timing = timing_t{};
    timing->config = *config;
    if (timing->config.fosc_khz < TIMING_MIN_FOSC_KHZ ||
        timing->config.fosc_khz > TIMING_MAX_FOSC_KHZ) {
        timing->config.fosc_khz = TIMING_DEFAULT_FOSC_KHZ;
    }
    timing->callbacks = *callbacks;
    timing->short_ps = timing_execution_ps(0x80, false, timing->config.fosc_khz);
    timing->long_ps = timing_execution_ps(0x01, false, timing->config.fosc_khz);
    for (timing_chip_t& chip : timing->chips) {
        chip.eight_bit = true;
        chip.busy_until = NEVER;
        chip.reset_set_at = NEVER;
    }
}

void timing_cycle(timing_t* t, std::int64_t time_ps, std::uint32_t line, int chip_index, bool rs,
                  bool rw, unsigned char data) {
    chip_index = chip_index == 1 ? 1 : 0;
    if (!t->cycle_seen) {
        t->cycle_seen = true;
        if (t->config.power_on && time_ps < POWER_ON_WAIT_PS) {
            power_on_fault(t, time_ps, line, chip_index);
        }
    }
    timing_chip_t& chip = t->chips[static_cast<std::size_t>(chip_index)];
    if (!chip.eight_bit) {
        if (!chip.nibble_pending) {
            chip.nibble_pending = true;
            chip.high_nibble = static_cast<unsigned char>(data >> 4);
            chip.pending_rs = rs;
            chip.pending_rw = rw;
            return;
        }
        chip.nibble_pending = false;
        data = static_cast<unsigned char>((chip.high_nibble << 4) | (data >> 4));
        rs = chip.pending_rs;
        rw = chip.pending_rw;
    }
    const unsigned char kind =
        rw ? (rs ? TIMING_READ_DATA : TIMING_READ_BUSY) : (rs ? TIMING_DATA : TIMING_INSTRUCTION);
    complete(t, timing_byte_t{time_ps, line, chip_index, kind, data, false});
}

void timing_whole(timing_t* t, std::int64_t time_ps, std::uint32_t line, int chip,
                  unsigned char kind, unsigned char value) {
    complete(t, timing_byte_t{time_ps, line, chip == 1 ? 1 : 0, kind, value, false});
}

std::int64_t timing_execution_ps(unsigned char instruction, bool data, int fosc_khz) {
    const bool long_one = long_execution(instruction, data);
    const std::int64_t at_270 = long_one ? LONG_EXECUTION_PS : SHORT_EXECUTION_PS;
    return at_270 * DATASHEET_FOSC_KHZ / fosc_khz;
}

void timing_format_ms(std::int64_t ps, int decimals, char* out, int capacity) {
    // ps to milliseconds; the digits are cut, not rounded, so a time never moves later.
    const bool negative = ps < 0;
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(ps) : static_cast<std::uint64_t>(ps);
    const std::uint64_t whole = magnitude / 1000000000u;
    std::array<char, 16> fraction{};
    std::snprintf(fraction.data(), fraction.size(), "%09llu",
                  static_cast<unsigned long long>(magnitude % 1000000000u));
    fraction[static_cast<std::size_t>(decimals < 1 ? 1 : decimals > 9 ? 9 : decimals)] = '\0';
    std::snprintf(out, static_cast<std::size_t>(capacity), "%s%llu.%s", negative ? "-" : "",
                  static_cast<unsigned long long>(whole), fraction.data());
    if (decimals <= 3) { // spans: trailing zeros go
        std::size_t n = std::strlen(out);
        while (n > 0 && out[n - 1] == '0') {
            out[--n] = '\0';
        }
        if (n > 0 && out[n - 1] == '.') {
            out[--n] = '\0';
        }
    }
    const std::size_t n = std::strlen(out);
    if (n + 4 < static_cast<std::size_t>(capacity)) {
        std::strcat(out, " ms");
    }
}

} // namespace vimbra
