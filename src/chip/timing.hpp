// The controller's time: bus cycles paired into bytes as the chip pairs them (8-bit bus after
// reset, 4-bit after a function set says so), each instruction and data write keeping the
// chip busy for its execution time, and the waits firmware owes it. A byte completed while
// the chip is busy is not taken: it runs nothing and starts no busy time.
#pragma once

#include <array>
#include <cstdint>

namespace vimbra {

inline constexpr int TIMING_CHIPS = 2;
inline constexpr int TIMING_DEFAULT_FOSC_KHZ = 270;
inline constexpr int TIMING_MIN_FOSC_KHZ = 10;
inline constexpr int TIMING_MAX_FOSC_KHZ = 10000;

enum timing_kind : unsigned char {
    TIMING_INSTRUCTION = 0,
    TIMING_DATA = 1,
    TIMING_READ_BUSY = 2,
    TIMING_READ_DATA = 3,
};

// One whole byte as the chip received it.
struct timing_byte_t {
    std::int64_t time_ps; // the edge that completed it
    std::uint32_t line;
    int chip;
    unsigned char kind; // timing_kind
    unsigned char value;
    bool taken; // executed: the chip took it, or ideal timing runs every byte
};

struct timing_config_t {
    bool chip_timing; // false: every byte runs (faults are still judged as the chip sees them)
    int fosc_khz;
    bool power_on; // time 0 is power-on: the first cycle must wait 40 ms
    bool two_chips;
};

struct timing_callbacks_t {
    void (*byte)(const timing_byte_t* byte, void* ctx);
    // A timing fault: one line of text. Null: faults are not judged.
    void (*fault)(std::int64_t time_ps, std::uint32_t line, const char* text, void* ctx);
    void* ctx;
};

struct timing_chip_t {
    bool eight_bit;
    bool nibble_pending;
    unsigned char high_nibble;
    bool pending_rs;
    bool pending_rw;
    std::int64_t busy_until;
    std::int64_t busy_for;
    unsigned char busy_with; // the instruction byte, or 0xFF... for data (see busy_data)
    bool busy_data;
    int reset_sets;            // function sets with DL = 1 in a row
    std::int64_t reset_set_at; // the last of them
};

struct timing_t {
    timing_config_t config;
    timing_callbacks_t callbacks;
    std::array<timing_chip_t, TIMING_CHIPS> chips;
    bool cycle_seen;
    std::uint64_t not_taken; // bytes the chip refused while busy
    // Execution times at the configured fosc, worked out once: a division per byte costs.
    std::int64_t short_ps;
    std::int64_t long_ps;
};

void timing_start(timing_t* timing, const timing_config_t* config,
                  const timing_callbacks_t* callbacks);
// One E falling edge (RS, RW, D7..D0): on a 4-bit bus, every second one completes a byte.
void timing_cycle(timing_t* timing, std::int64_t time_ps, std::uint32_t line, int chip, bool rs,
                  bool rw, unsigned char data);
// One whole byte, whatever the bus width (a command log's cmd, data and read lines).
void timing_whole(timing_t* timing, std::int64_t time_ps, std::uint32_t line, int chip,
                  unsigned char kind, unsigned char value);
// Execution time of an instruction (or of a data write when `data`) at fosc, in picoseconds.
std::int64_t timing_execution_ps(unsigned char instruction, bool data, int fosc_khz);
// Times in messages: "64.874 ms" and "37 us", to at most three decimals ("%.6f" for a fault's
// own time is the caller's).
void timing_format_ms(std::int64_t ps, int decimals, char* out, int capacity);

} // namespace vimbra
