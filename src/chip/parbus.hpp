// The controller's parallel bus as the chip sees it: edges of RS, RW, E (one or two) and the
// data lines become bus cycles, each latched on E's falling edge from the levels that held
// before that instant, and the edges' timing is judged against the datasheet's minimums.
#pragma once

#include <array>
#include <cstdint>

namespace vimbra {

// The lines, each one bit of a step's masks.
enum bus_role : int {
    BUS_RS = 0,
    BUS_RW = 1,
    BUS_E1 = 2, // E, or E1 of a module with two controllers
    BUS_E2 = 3,
    BUS_D0 = 4, // D0..D7 are bits 4..11
    BUS_SDA = 12,
    BUS_SCL = 13,
    BUS_ROLES = 14,
};
inline constexpr std::uint32_t BUS_DATA_MASK = 0xFFu << BUS_D0;

// One instant of the bus: the lines that changed and every line's level after it. `fresh`
// lines got their first level here: no edge, nothing to time.
struct bus_step_t {
    std::int64_t time_ps;
    std::uint32_t line; // where in the input the instant is (a trace line), for messages
    std::uint32_t changed;
    std::uint32_t levels;
    std::uint32_t fresh;
};

// The datasheet's minimum bus times in picoseconds.
struct bus_limits_t {
    std::int64_t cycle;      // tcycE, E rise to rise
    std::int64_t pulse;      // PWEH, E high
    std::int64_t addr_setup; // tAS, RS and RW before E rises
    std::int64_t addr_hold;  // tAH, RS and RW after E falls
    std::int64_t data_setup; // tDSW, data before E falls
    std::int64_t data_hold;  // tH, data after E falls
};
// The column for 4.5 to 5.5 V, or for 2.7 to 4.5 V when `low_voltage`.
bus_limits_t parbus_limits(bool low_voltage);

struct bus_cycle_t {
    std::int64_t time_ps; // E's falling edge
    std::uint32_t line;
    int chip; // 0: E or E1, 1: E2
    bool rs;
    bool rw;
    unsigned char data; // D7..D0; lines not wired read 0
};

struct parbus_callbacks_t {
    void (*cycle)(const bus_cycle_t* cycle, void* ctx);
    // A timing fault at `time_ps`: one line of text. Null: faults are not judged.
    void (*fault)(std::int64_t time_ps, std::uint32_t line, const char* text, void* ctx);
    void* ctx;
};

struct parbus_t {
    parbus_callbacks_t callbacks;
    bus_limits_t limits;
    bool two_chips;
    std::uint32_t levels;
    // Times of the last edges; INT64_MIN while there was none.
    std::array<std::int64_t, 2> rise;
    std::int64_t last_fall;
    bool last_fall_wrote; // the cycle of last_fall was a write: the data lines must hold
    std::int64_t rs_change;
    std::int64_t rw_change;
    std::int64_t data_change;
    std::uint64_t falls; // falling edges of E seen
};

void parbus_start(parbus_t* bus, const parbus_callbacks_t* callbacks, const bus_limits_t* limits,
                  bool two_chips);
void parbus_step(parbus_t* bus, const bus_step_t* step);
// A fall of E (chip 0) or E2 (chip 1) while faults are not judged, when all that counts: the
// cycle it latches from `before`, the lines' levels until the instant. For a client that
// gives only the instants at which E falls, in place of parbus_step. Inline: a trace may
// have millions.
inline bus_cycle_t parbus_fall(parbus_t* bus, std::int64_t time_ps, std::uint32_t line, int chip,
                               std::uint32_t before) {
    ++bus->falls;
    return bus_cycle_t{time_ps,
                       line,
                       chip,
                       ((before >> BUS_RS) & 1) != 0,
                       ((before >> BUS_RW) & 1) != 0,
                       static_cast<unsigned char>((before & BUS_DATA_MASK) >> BUS_D0)};
}
// Times for messages: nanoseconds to at most three decimals ("62.5 ns").
void parbus_format_ns(std::int64_t ps, char* out, int capacity);

} // namespace vimbra
