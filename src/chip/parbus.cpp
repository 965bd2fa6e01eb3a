#include "chip/parbus.hpp"

#include <array>
#include <cstdio>
#include <cstring>

namespace vimbra {

namespace {

constexpr std::int64_t NS = 1000;
constexpr std::int64_t NEVER = INT64_MIN;

// HD44780U datasheet, bus timing characteristics (write; a read has the same E figures).
constexpr bus_limits_t LIMITS_5V{500 * NS, 230 * NS, 40 * NS, 10 * NS, 80 * NS, 10 * NS};
constexpr bus_limits_t LIMITS_3V{1000 * NS, 450 * NS, 60 * NS, 20 * NS, 195 * NS, 10 * NS};

bool high(std::uint32_t levels, int role) {
    return ((levels >> role) & 1) != 0;
}

void report(parbus_t* bus, std::int64_t time, std::uint32_t line, const char* what,
            std::int64_t measured, const char* limit_name, std::int64_t limit) {
    std::array<char, 32> got{};
    std::array<char, 32> need{};
    parbus_format_ns(measured, got.data(), static_cast<int>(got.size()));
    parbus_format_ns(limit, need.data(), static_cast<int>(need.size()));
    std::array<char, 160> text{};
    std::snprintf(text.data(), text.size(), "%s %s, under %s %s", what, got.data(), limit_name,
                  need.data());
    bus->callbacks.fault(time, line, text.data(), bus->callbacks.ctx);
}

const char* e_name(const parbus_t* bus, int chip) {
    if (!bus->two_chips) {
        return "E";
    }
    return chip == 0 ? "E1" : "E2";
}

// Set-up before E rises, for RS and RW. The checks stay out of line, so that the step itself
// needs no frame for their messages.
[[gnu::noinline]] void check_rise(parbus_t* bus, const bus_step_t* step, int chip) {
    const std::int64_t t = step->time_ps;
    std::array<char, 48> what{};
    if (bus->rise[static_cast<std::size_t>(chip)] != NEVER &&
        t - bus->rise[static_cast<std::size_t>(chip)] < bus->limits.cycle) {
        std::snprintf(what.data(), what.size(), "%s rise to rise", e_name(bus, chip));
        report(bus, t, step->line, what.data(), t - bus->rise[static_cast<std::size_t>(chip)],
               "tcycE", bus->limits.cycle);
    }
    for (const auto& [change, name] :
         {std::pair{bus->rs_change, "RS"}, std::pair{bus->rw_change, "RW"}}) {
        if (change != NEVER && t - change < bus->limits.addr_setup) {
            std::snprintf(what.data(), what.size(), "%s set-up before %s rises", name,
                          e_name(bus, chip));
            report(bus, t, step->line, what.data(), t - change, "tAS", bus->limits.addr_setup);
        }
    }
}

[[gnu::noinline]] void check_fall(parbus_t* bus, const bus_step_t* step, int chip, bool write) {
    const std::int64_t t = step->time_ps;
    const std::int64_t rose = bus->rise[static_cast<std::size_t>(chip)];
    std::array<char, 48> what{};
    if (rose != NEVER) {
        if (t - rose < bus->limits.pulse) {
            std::snprintf(what.data(), what.size(), "%s high", e_name(bus, chip));
            report(bus, t, step->line, what.data(), t - rose, "PWEH", bus->limits.pulse);
        }
        for (const auto& [change, name] :
             {std::pair{bus->rs_change, "RS"}, std::pair{bus->rw_change, "RW"}}) {
            if (change != NEVER && change > rose) {
                std::snprintf(what.data(), what.size(), "%s changed while %s was high, set-up",
                              name, e_name(bus, chip));
                report(bus, t, step->line, what.data(), rose - change, "tAS",
                       bus->limits.addr_setup);
            }
        }
    }
    if (write && bus->data_change != NEVER && t - bus->data_change < bus->limits.data_setup) {
        std::snprintf(what.data(), what.size(), "data set-up before %s falls", e_name(bus, chip));
        report(bus, t, step->line, what.data(), t - bus->data_change, "tDSW",
               bus->limits.data_setup);
    }
}

// Hold after the last fall, for lines that changed in this step.
[[gnu::noinline]] void check_hold(parbus_t* bus, const bus_step_t* step, std::uint32_t changed) {
    if (bus->last_fall == NEVER) {
        return;
    }
    const std::int64_t since = step->time_ps - bus->last_fall;
    if ((changed & (1u << BUS_RS)) != 0 && since < bus->limits.addr_hold) {
        report(bus, step->time_ps, step->line, "RS hold after E falls", since, "tAH",
               bus->limits.addr_hold);
    }
    if ((changed & (1u << BUS_RW)) != 0 && since < bus->limits.addr_hold) {
        report(bus, step->time_ps, step->line, "RW hold after E falls", since, "tAH",
               bus->limits.addr_hold);
    }
    if ((changed & BUS_DATA_MASK) != 0 && bus->last_fall_wrote && since < bus->limits.data_hold) {
        report(bus, step->time_ps, step->line, "data hold after E falls", since, "tH",
               bus->limits.data_hold);
    }
}

} // namespace

bus_limits_t parbus_limits(bool low_voltage) {
    return low_voltage ? LIMITS_3V : LIMITS_5V;
}

void parbus_start(parbus_t* bus, const parbus_callbacks_t* callbacks, const bus_limits_t* limits,
                  bool two_chips) {
    *bus = parbus_t{};
    bus->callbacks = *callbacks;
    bus->limits = *limits;
    bus->two_chips = two_chips;
    bus->rise = {NEVER, NEVER};
    bus->last_fall = NEVER;
    bus->rs_change = NEVER;
    bus->rw_change = NEVER;
    bus->data_change = NEVER;
}

namespace {

// The falling edges of E among `falls`: each latches what held before the instant. Out of
// line, so that the many steps without one need no frame for the cycle.
[[gnu::noinline]] void take_falls(parbus_t* bus, const bus_step_t* step, std::uint32_t falls,
                                  std::uint32_t edges, bool judge) {
    const std::uint32_t before = bus->levels;
    bool fell = false;
    for (int chip = 0; chip < 2; ++chip) {
        const int role = chip == 0 ? BUS_E1 : BUS_E2;
        if ((falls & (1u << role)) == 0) {
            continue;
        }
        const bus_cycle_t cycle{step->time_ps,
                                step->line,
                                chip,
                                high(before, BUS_RS),
                                high(before, BUS_RW),
                                static_cast<unsigned char>((before & BUS_DATA_MASK) >> BUS_D0)};
        const bool edge = (edges & (1u << role)) != 0;
        if (judge && edge) {
            check_fall(bus, step, chip, !cycle.rw);
        }
        ++bus->falls;
        bus->callbacks.cycle(&cycle, bus->callbacks.ctx);
        if (!fell || !cycle.rw) {
            bus->last_fall_wrote = !cycle.rw;
        }
        fell = true;
        bus->last_fall = step->time_ps;
    }
}

} // namespace

void parbus_step(parbus_t* bus, const bus_step_t* step) {
    const std::uint32_t edges = step->changed & ~step->fresh;
    const bool judge = bus->callbacks.fault != nullptr;
    constexpr std::uint32_t ENABLES = (1u << BUS_E1) | (1u << BUS_E2);
    // The falls first: they latch what held before this instant.
    const std::uint32_t falls = step->changed & ~step->levels & ENABLES;
    if (falls != 0) {
        take_falls(bus, step, falls, edges, judge);
    }
    if (judge) {
        check_hold(bus, step, edges);
    }
    if ((edges & (1u << BUS_RS)) != 0) {
        bus->rs_change = step->time_ps;
    }
    if ((edges & (1u << BUS_RW)) != 0) {
        bus->rw_change = step->time_ps;
    }
    if ((edges & BUS_DATA_MASK) != 0) {
        bus->data_change = step->time_ps;
    }
    const std::uint32_t rises = edges & step->levels & ENABLES;
    for (int chip = 0; rises != 0 && chip < 2; ++chip) {
        const int role = chip == 0 ? BUS_E1 : BUS_E2;
        if ((rises & (1u << role)) != 0) {
            if (judge) {
                check_rise(bus, step, chip);
            }
            bus->rise[static_cast<std::size_t>(chip)] = step->time_ps;
        }
    }
    bus->levels = step->levels;
}

void parbus_format_ns(std::int64_t ps, char* out, int capacity) {
    const bool negative = ps < 0;
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(ps) : static_cast<std::uint64_t>(ps);
    std::snprintf(out, static_cast<std::size_t>(capacity), "%s%llu.%03u", negative ? "-" : "",
                  static_cast<unsigned long long>(magnitude / 1000),
                  static_cast<unsigned>(magnitude % 1000));
    // Trailing zeros and a bare point go.
    std::size_t n = std::strlen(out);
    while (n > 0 && out[n - 1] == '0') {
        out[--n] = '\0';
    }
    if (n > 0 && out[n - 1] == '.') {
        out[--n] = '\0';
    }
    if (n + 4 < static_cast<std::size_t>(capacity)) {
        std::strcat(out, " ns");
    }
}

} // namespace vimbra
