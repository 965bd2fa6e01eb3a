// The board under a host Arduino sketch: the simulated clock and its time limit, the pins and
// what the stimulus does to them, interrupts, the analog inputs, Serial's receive buffer, the
// EEPROM, and the command log that the display calls and the marks go to. The Arduino
// functions are global by their nature, so this state is one record that the run starts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "arduino/ardustim.hpp"
#include "chip/chip.hpp"
#include "vimbra/lcd_shim.hpp"

namespace vimbra::arduino {

// How long a run lasts at most: an hour of the sketch's time (a loop() that does nothing
// takes seconds for that).
inline constexpr std::uint64_t HOST_MAX_RUN_US = STIM_MAX_US;
inline constexpr std::size_t HOST_EEPROM_SIZE = 1024; // an ATmega328P's
inline constexpr int HOST_INTERRUPTS = 2;             // an Uno's: pins 2 and 3
// What the calls cost on a 16 MHz board, in microseconds: a pin, clock or buffer call a few,
// so that every call a sketch can spin on moves the clock.
inline constexpr std::uint64_t HOST_CALL_US = 4;

// What the board starts from.
struct host_setup {
    std::uint64_t run_us = 10000000; // the time limit
    std::uint64_t start_us = 0;      // what the clock reads at the start (micros, millis)
    std::array<int, STIM_ANALOG_PINS> analog{};
    std::array<std::int8_t, STIM_PINS> digital{}; // a level driven from the start, or -1
    const stimulus* stim = nullptr;               // null: nothing happens
    std::array<std::uint8_t, HOST_EEPROM_SIZE> eeprom{};
    host_setup() {
        digital.fill(-1);
        eeprom.fill(0xFF); // erased
    }
};

// The streams a run writes.
enum class host_stream : std::uint8_t { log = 0, serial = 1, warning = 2 };

// Where a run's output goes; `flush` asks for what was written so far to reach its reader
// (at each mark); `at_limit` is called when the clock reaches the limit and must not return
// (null: the clock stays at the limit).
struct host_sink {
    void (*write)(host_stream stream, const char* text, std::size_t size, void* context) = nullptr;
    void (*flush)(void* context) = nullptr;
    void (*at_limit)(void* context) = nullptr;
    void* context = nullptr;
};

// Starts a run at time 0.
void host_start(const host_setup& setup, const host_sink& sink);
// Microseconds since the start, and what the board's clock reads (the start added).
std::uint64_t host_now();
std::uint64_t host_clock();
std::uint64_t host_limit();
// Moves the clock on by `us` (to the limit at most); what the stimulus does meanwhile
// happens at its time, and interrupt handlers run then.
void host_spend(std::uint64_t us);
// One event into the log at the clock's time: the time since the last line goes before it
// as a wait line, so a wait event itself writes nothing.
void host_log(const vimbra::lcd_event& event);
// A line of the log's own (a read), line end included, at the clock's time.
void host_log_text(const char* line);
// Writes the wait up to the clock; the log's last line.
void host_end_log();
// The display's controllers (0, or 1 on a module of two), powered on at the run's start and
// kept in the chip's time: a byte the display library sends now, and a read, which answers
// BF and the address counter or the data at it, as the chip does.
void host_chip_write(int chip, bool data, std::uint8_t value);
std::uint8_t host_chip_read(int chip, bool data);
// Text to Serial's reader, or a warning line (no line end given: one is added).
void host_serial_out(const char* text, std::size_t size);
void host_warn(const char* text);

// The pins: out of range reads 0 and keeps nothing.
void host_pin_mode(int pin, int mode);
void host_digital_write(int pin, int value);
int host_digital_read(int pin);
int host_analog_read(int pin);
// Interrupt `number` (0: pin 2, 1: pin 3) runs `handler` at each change `mode` names (LOW,
// CHANGE, FALLING, RISING); null or another number detaches.
void host_attach_interrupt(int number, void (*handler)(), int mode);
void host_detach_interrupt(int number);
void host_interrupts(bool on);

// Serial's receive buffer: bytes arrive at the serial rate from the stimulus's time.
void host_serial_baud(unsigned long baud);
unsigned long host_serial_baud();
int host_serial_available();
int host_serial_read();
int host_serial_peek();

// The EEPROM, addresses wrapping at its size.
std::uint8_t host_eeprom_read(std::size_t address);
void host_eeprom_write(std::size_t address, std::uint8_t value);
const std::array<std::uint8_t, HOST_EEPROM_SIZE>& host_eeprom();

// I2C devices that answer: an expander behind a display declares its address.
void host_i2c_declare(std::uint8_t address);
bool host_i2c_answers(std::uint8_t address);

} // namespace vimbra::arduino
