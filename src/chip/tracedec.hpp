// A whole trace decoded: the VCD read in pieces, its signals chosen as the display's lines,
// the parallel or I2C bus decoded and the chip's time applied, giving the bytes the
// controllers received, the timing faults and the warnings. The front ends turn the bytes
// into pictures or a command log.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "chip/timing.hpp"

namespace vimbra {

inline constexpr int TRACEDEC_MESSAGE_CAPACITY = 1024;

enum tracedec_status : int {
    TRACEDEC_OK = 0,
    TRACEDEC_MALFORMED = -1, // the message: "line N: what"
    TRACEDEC_NO_MEMORY = -2,
    TRACEDEC_BAD_PINS = -3, // the message: "--pins: what (the trace's signals: ...)"
    TRACEDEC_STOPPED = -4,  // tracedec_stop was called
    TRACEDEC_UNREADABLE = -5, // a capture's file could not be read (errno)
};

struct capture_t;

struct tracedec_options_t {
    const char* pins;          // "ROLE=SIGNAL,...", or empty: signals named like the roles
    int i2c_address;           // -1: the first acknowledged write's
    std::array<int, 8> wiring; // backpack pins of RS, RW, E, backlight, D4..D7
    bool chip_timing;
    int fosc_khz;
    bool low_voltage; // the 2.7 to 4.5 V bus times
    bool power_on;
    bool check;     // judge the bus times and the chip's waits
    int chip_count; // controllers of the module: 1 refuses e2
    std::int64_t rate_hz; // the sample rate a VCD states it was taken at; 0: none (exact times)
};

struct tracedec_callbacks_t {
    void (*byte)(const chip_byte_t* byte, void* ctx);
    void (*fault)(std::int64_t time_ps, std::uint32_t line, const char* text, void* ctx);
    void (*warning)(const char* text, void* ctx); // one line
    void* ctx;
};

struct tracedec_t;

// The usual options: pins by name, backpack wiring 0..7, chip timing at 270 kHz and 5 V.
tracedec_options_t tracedec_defaults();
// Null when memory is short.
tracedec_t* tracedec_open(const tracedec_options_t* options, const tracedec_callbacks_t* callbacks);
void tracedec_close(tracedec_t* dec);
// The next bytes of the trace. TRACEDEC_OK or the status that ended decoding (sticky).
int tracedec_feed(tracedec_t* dec, const char* data, std::size_t length);
// The trace's end: refusals of a truncated trace, then the warnings (x and z, no E edge).
int tracedec_finish(tracedec_t* dec);
// Decodes a whole capture instead of a fed VCD: its channels chosen as the lines, then every
// instant, then the warnings of tracedec_finish. TRACEDEC_OK or the status that ended it.
int tracedec_capture(tracedec_t* dec, capture_t* capture);
// When the input states a sample rate too low to see a bus time that --check-timing judges
// (PWEH, tAS, tAH, tDSW, tH at the voltage chosen): true, with one line in `out` naming them
// and the rate they need. A trace with exact times (a VCD that states no rate, a Saleae
// export) never is.
bool tracedec_too_coarse(const tracedec_t* dec, char* out, int capacity);
// Ends decoding from a callback: later feeds return TRACEDEC_STOPPED.
void tracedec_stop(tracedec_t* dec);
const char* tracedec_message(const tracedec_t* dec);
// The last time stamp, in picoseconds.
std::int64_t tracedec_end_ps(const tracedec_t* dec);
// Bytes the chip refused while busy.
std::uint64_t tracedec_not_taken(const tracedec_t* dec);
// Whether the trace drives two controllers (e1 and e2).
bool tracedec_two_chips(const tracedec_t* dec);
// Whether the trace is read as an I2C bus (sda and scl), once its header is read.
bool tracedec_i2c(const tracedec_t* dec);
// Writing the bytes as a command log: the time and controller of the last line.
struct tracedec_log_t {
    std::int64_t last_us;
    int chip;
    bool two_chips;
};
inline constexpr int TRACEDEC_LOG_LINE_CAPACITY = 96;
// The lines for one byte (a wait, a controller, the byte; one not taken as a comment) into
// `out`, TRACEDEC_LOG_LINE_CAPACITY bytes. Times are cut to whole microseconds.
void tracedec_log_byte(tracedec_log_t* log, const chip_byte_t* byte, char* out);
// The wait to the trace's end, or nothing.
void tracedec_log_end(tracedec_log_t* log, std::int64_t end_us, char* out);
// Checks a --pins text; 0, or -1 with the reason in `message`.
int tracedec_check_pins(const char* pins, char* message, int capacity);

} // namespace vimbra
