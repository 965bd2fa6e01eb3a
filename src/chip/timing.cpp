#include "chip/timing.hpp"

#include <array>
#include <cstdio>

namespace vimbra {

namespace {

constexpr std::int64_t POWER_ON_WAIT_PS = 40000 * CHIP_PS_PER_US;

void say_fault(const timing_t* t, std::int64_t time_ps, std::uint32_t line, int chip,
               const char* text) {
    std::array<char, 256> full{};
    if (t->config.two_chips) {
        std::snprintf(full.data(), full.size(), "controller %d: %s", chip + 1, text);
        text = full.data();
    }
    t->callbacks.fault(time_ps, line, text, t->callbacks.ctx);
}

void chip_fault(const chip_byte_t* byte, const char* text, void* ctx) {
    say_fault(static_cast<const timing_t*>(ctx), byte->time_ps, byte->line, byte->chip, text);
}

[[gnu::noinline]] void power_on_fault(const timing_t* t, std::int64_t time_ps, std::uint32_t line,
                                      int chip) {
    std::array<char, 32> at{};
    chip_format_ms(time_ps, 3, at.data(), static_cast<int>(at.size()));
    std::array<char, 120> text{};
    std::snprintf(text.data(), text.size(), "first cycle %s after power-on, under 40 ms",
                  at.data());
    say_fault(t, time_ps, line, chip, text.data());
}

} // namespace

void timing_start(timing_t* timing, const timing_config_t* config,
                  const timing_callbacks_t* callbacks) {
    *timing = timing_t{};
    timing->config = *config;
    timing->callbacks = *callbacks;
    const chip_config_t chip_config{config->chip_timing, config->fosc_khz,
                                    callbacks->fault != nullptr ? chip_fault : nullptr, timing};
    for (chip_t& chip : timing->chips) {
        chip_reset(&chip, &chip_config);
    }
    timing->config.fosc_khz = timing->chips[0].config.fosc_khz;
}

void timing_event(timing_t* t, const chip_event_t* event) {
    chip_event_t e = *event;
    e.chip = e.chip == 1 ? 1 : 0;
    if (e.kind == CHIP_BUS && !t->cycle_seen) {
        t->cycle_seen = true;
        if (t->config.power_on && e.time_ps < POWER_ON_WAIT_PS && t->callbacks.fault != nullptr) {
            power_on_fault(t, e.time_ps, e.line, e.chip);
        }
    }
    chip_byte_t byte{};
    if (!chip_event(&t->chips[e.chip], &e, &byte)) {
        return;
    }
    if (byte.while_busy) {
        ++t->not_taken;
    }
    t->callbacks.byte(&byte, t->callbacks.ctx);
}

} // namespace vimbra
