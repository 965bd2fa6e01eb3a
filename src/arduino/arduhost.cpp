// The library's own files take Arduino.h without the reference that links main().
#define VIMBRA_ARDUINO_NO_MAIN
#include "arduino/arduhost.hpp"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "vimbra/arduino/Arduino.h"
#include "vimbra/arduino/EEPROM.h"

namespace vimbra::arduino {

namespace {

constexpr std::uint64_t ANALOG_READ_US = 100; // the conversion
constexpr std::size_t SERIAL_BUFFER = 64;     // the receive buffer of an Uno's core
constexpr int INTERRUPT_PINS[HOST_INTERRUPTS] = {2, 3};
constexpr std::size_t NO_EVENT = SIZE_MAX;

struct interrupt_t {
    void (*handler)() = nullptr;
    int mode = CHANGE;
    bool pending = false;
};

struct host_t {
    host_sink sink;
    std::uint64_t now_us = 0;
    std::uint64_t start_us = 0;
    std::uint64_t limit_us = HOST_MAX_RUN_US;
    std::uint64_t written_us = 0; // the time of the log's last line
    bool ending = false;
    const stimulus* stim = nullptr;
    std::size_t next_event = 0;
    std::array<int, STIM_ANALOG_PINS> analog{};
    std::array<std::uint8_t, STIM_PINS> mode{};
    std::array<std::uint8_t, STIM_PINS> written{};
    std::array<std::uint8_t, STIM_PINS> driven{}; // stim_level: what the world does
    std::array<std::uint8_t, STIM_PINS> level{};  // as last read: for edges
    std::array<interrupt_t, HOST_INTERRUPTS> interrupts{};
    bool interrupts_on = true;
    int in_handler = 0;
    unsigned long baud = 9600;
    std::array<std::uint8_t, SERIAL_BUFFER> rx{};
    std::size_t rx_first = 0;
    std::size_t rx_count = 0;
    // The serial event whose bytes are on their way (NO_EVENT: none), the next of its bytes,
    // and when that byte is complete.
    std::size_t serial_event = NO_EVENT;
    std::size_t serial_offset = 0;
    std::uint64_t serial_due_us = 0;
    bool rx_overflow_told = false;
    std::array<std::uint8_t, HOST_EEPROM_SIZE> eeprom{};
    std::uint64_t random_state = 0x2545F4914F6CDD1DULL;
    std::array<vimbra::chip_t, 2> chips{};
};
// Constant-initialised, so that a sketch's global objects may use it while they are built.
constinit host_t host;
// Devices on the I2C bus, declared by the displays' constructors before any run starts.
constinit std::array<bool, 128> i2c_devices{};

void write_out(host_stream stream, const char* text, std::size_t size) {
    if (host.sink.write != nullptr && size > 0) {
        host.sink.write(stream, text, size, host.sink.context);
    }
}

void write_wait_to_now() {
    if (host.now_us > host.written_us) {
        char line[40];
        const int n = std::snprintf(line, sizeof line, "wait %lluus\n",
                                    static_cast<unsigned long long>(host.now_us - host.written_us));
        write_out(host_stream::log, line, static_cast<std::size_t>(n));
        host.written_us = host.now_us;
    }
}

bool valid_pin(int pin) {
    return pin >= 0 && pin < STIM_PINS;
}

// What digitalRead gives: the world's level where it drives the pin, else an output's own
// level, else the pull-up's (INPUT_PULLUP, or HIGH written to an input, as on an AVR), else
// LOW for a floating input.
std::uint8_t pin_level(std::size_t pin) {
    if (host.driven[pin] != static_cast<std::uint8_t>(stim_level::open)) {
        return host.driven[pin];
    }
    return host.written[pin] != LOW ? HIGH : LOW;
}

void run_pending_handlers();

// After anything that may change a pin: its new level, and the interrupt it raises.
void pin_changed(std::size_t pin) {
    const std::uint8_t before = host.level[pin];
    const std::uint8_t after = pin_level(pin);
    host.level[pin] = after;
    if (before == after) {
        return;
    }
    for (int i = 0; i < HOST_INTERRUPTS; ++i) {
        interrupt_t& irq = host.interrupts[static_cast<std::size_t>(i)];
        if (INTERRUPT_PINS[i] != static_cast<int>(pin) || irq.handler == nullptr) {
            continue;
        }
        if (irq.mode == CHANGE || (irq.mode == RISING && after == HIGH) ||
            (irq.mode == FALLING && after == LOW)) {
            irq.pending = true;
        }
    }
}

// Handlers run one at a time, with interrupts off, as on the board: one raised while another
// runs waits for it.
void run_pending_handlers() {
    if (!host.interrupts_on || host.in_handler > 0) {
        return;
    }
    for (int i = 0; i < HOST_INTERRUPTS; ++i) {
        interrupt_t& irq = host.interrupts[static_cast<std::size_t>(i)];
        const bool low_level = irq.handler != nullptr && irq.mode == LOW &&
                               host.level[static_cast<std::size_t>(INTERRUPT_PINS[i])] == LOW;
        if ((!irq.pending && !low_level) || irq.handler == nullptr) {
            continue;
        }
        irq.pending = false;
        ++host.in_handler;
        irq.handler();
        --host.in_handler;
    }
}

std::uint64_t serial_byte_us() {
    // Ten bits a byte: start, eight data bits, stop.
    return 10000000ULL / host.baud;
}

// The serial event after `after` that has happened (its time has come), or NO_EVENT.
std::size_t next_serial_event(std::size_t after) {
    for (std::size_t i = after + 1; i < host.next_event; ++i) {
        if (host.stim->events[i].kind == stim_kind::serial) {
            return i;
        }
    }
    return NO_EVENT;
}

// Bytes whose time has come move into the receive buffer, one after another at the serial
// rate; a full buffer drops them, as the board's does.
void receive_serial() {
    while (host.serial_event != NO_EVENT && host.serial_due_us <= host.now_us) {
        const stim_event& event = host.stim->events[host.serial_event];
        if (host.rx_count < SERIAL_BUFFER) {
            host.rx[(host.rx_first + host.rx_count) % SERIAL_BUFFER] =
                static_cast<std::uint8_t>(host.stim->bytes[event.text_at + host.serial_offset]);
            ++host.rx_count;
        } else if (!host.rx_overflow_told) {
            host.rx_overflow_told = true;
            host_warn("Serial: the receive buffer (64 bytes) was full: bytes were lost");
        }
        if (++host.serial_offset < event.text_size) {
            host.serial_due_us += serial_byte_us();
            continue;
        }
        // The next text starts when it comes, or as the line is free.
        const std::uint64_t free_us = host.serial_due_us;
        host.serial_event = next_serial_event(host.serial_event);
        host.serial_offset = 0;
        if (host.serial_event != NO_EVENT) {
            const std::uint64_t at_us = host.stim->events[host.serial_event].at_us;
            host.serial_due_us = (at_us > free_us ? at_us : free_us) + serial_byte_us();
        }
    }
}

// The event at `index` of the stimulus, as its time comes.
void apply(std::size_t index) {
    const stim_event& event = host.stim->events[index];
    switch (event.kind) {
    case stim_kind::level:
        host.driven[event.pin] = static_cast<std::uint8_t>(event.value);
        pin_changed(event.pin);
        return;
    case stim_kind::analog:
        host.analog[event.pin] = event.value;
        return;
    case stim_kind::serial:
        receive_serial();
        if (host.serial_event == NO_EVENT) { // else it follows the bytes on their way
            host.serial_event = index;
            host.serial_offset = 0;
            host.serial_due_us = event.at_us + serial_byte_us();
        }
        return;
    }
}

} // namespace

void host_start(const host_setup& setup, const host_sink& sink) {
    host.sink = sink;
    host.now_us = 0;
    host.written_us = 0;
    host.ending = false;
    host.start_us = setup.start_us;
    host.limit_us = setup.run_us < HOST_MAX_RUN_US ? setup.run_us : HOST_MAX_RUN_US;
    host.stim = setup.stim;
    host.next_event = 0;
    host.analog = setup.analog;
    host.mode = {};
    host.written = {};
    for (std::size_t pin = 0; pin < host.driven.size(); ++pin) {
        const int level = setup.digital[pin];
        host.driven[pin] = static_cast<std::uint8_t>(level < 0      ? stim_level::open
                                                     : level == LOW ? stim_level::low
                                                                    : stim_level::high);
        host.level[pin] = pin_level(pin);
    }
    host.interrupts = {};
    host.interrupts_on = true;
    host.in_handler = 0;
    host.rx_first = host.rx_count = 0;
    host.serial_event = NO_EVENT;
    host.serial_offset = 0;
    host.eeprom = setup.eeprom;
    host.random_state = host_t{}.random_state;
    host.baud = 9600;
    host.rx_overflow_told = false;
    // The module powers on with the board: the chip's own time, at its usual oscillator.
    const vimbra::chip_config_t chip_config{true, vimbra::CHIP_DEFAULT_FOSC_KHZ, nullptr, nullptr};
    for (vimbra::chip_t& chip : host.chips) {
        vimbra::chip_reset(&chip, &chip_config);
    }
    // What happens at time 0 has happened when setup() starts.
    host_spend(0);
}

std::uint64_t host_now() {
    return host.now_us;
}

std::uint64_t host_clock() {
    return host.start_us + host.now_us; // wraps as an unsigned sum, which the readers cut
}

std::uint64_t host_limit() {
    return host.limit_us;
}

void host_spend(std::uint64_t us) {
    const std::uint64_t target =
        us < host.limit_us - host.now_us ? host.now_us + us : host.limit_us;
    while (host.stim != nullptr && host.next_event < host.stim->events.size() &&
           host.stim->events[host.next_event].at_us <= target) {
        const std::size_t index = host.next_event++;
        if (host.stim->events[index].at_us > host.now_us) {
            host.now_us = host.stim->events[index].at_us;
        }
        apply(index);
        run_pending_handlers();
    }
    // A handler that took time may have moved the clock past the target.
    if (target > host.now_us) {
        host.now_us = target;
    }
    run_pending_handlers();
    if (host.now_us >= host.limit_us) {
        host.now_us = host.limit_us;
        if (host.sink.at_limit != nullptr && !host.ending) {
            host.ending = true;
            host.sink.at_limit(host.sink.context);
        }
    }
}

void host_log(const vimbra::lcd_event& event) {
    if (event.kind == vimbra::lcd_event_kind::wait) {
        return;
    }
    std::string line;
    vimbra::lcd_event_text(event, line);
    if (!line.empty()) {
        write_wait_to_now();
        write_out(host_stream::log, line.data(), line.size());
    }
    if (event.kind == vimbra::lcd_event_kind::mark && host.sink.flush != nullptr) {
        host.sink.flush(host.sink.context);
    }
}

void host_log_text(const char* line) {
    write_wait_to_now();
    write_out(host_stream::log, line, std::strlen(line));
}

namespace {

vimbra::chip_t& chip_at(int chip) {
    return host.chips[chip == 1 ? 1 : 0];
}

// One whole byte into the chip at the clock's time; the chip's view of it.
vimbra::chip_byte_t chip_apply(int chip, unsigned char kind, std::uint8_t value) {
    vimbra::chip_event_t event{};
    event.time_ps = vimbra::chip_ps_of_us(static_cast<std::int64_t>(host.now_us));
    event.kind = kind;
    event.value = value;
    event.chip = static_cast<unsigned char>(chip == 1 ? 1 : 0);
    vimbra::chip_byte_t byte{};
    vimbra::chip_event(&chip_at(chip), &event, &byte);
    return byte;
}

} // namespace

void host_chip_write(int chip, bool data, std::uint8_t value) {
    chip_apply(chip, data ? vimbra::CHIP_DATA : vimbra::CHIP_INSTRUCTION, value);
}

std::uint8_t host_chip_read(int chip, bool data) {
    return chip_apply(chip, data ? vimbra::CHIP_READ_DATA : vimbra::CHIP_READ_BUSY, 0).answer;
}

void host_end_log() {
    write_wait_to_now();
}

void host_serial_out(const char* text, std::size_t size) {
    write_out(host_stream::serial, text, size);
}

void host_warn(const char* text) {
    std::string line = text;
    line += '\n';
    write_out(host_stream::warning, line.data(), line.size());
}

void host_pin_mode(int pin, int mode) {
    if (!valid_pin(pin)) {
        return;
    }
    const auto i = static_cast<std::size_t>(pin);
    host.mode[i] = static_cast<std::uint8_t>(mode);
    // As on an AVR: INPUT_PULLUP sets the pull-up, INPUT clears it.
    if (mode == INPUT_PULLUP) {
        host.written[i] = HIGH;
    } else if (mode == INPUT) {
        host.written[i] = LOW;
    }
    pin_changed(i);
    run_pending_handlers();
}

void host_digital_write(int pin, int value) {
    if (!valid_pin(pin)) {
        return;
    }
    const auto i = static_cast<std::size_t>(pin);
    host.written[i] = value != LOW ? HIGH : LOW;
    pin_changed(i);
    run_pending_handlers();
}

int host_digital_read(int pin) {
    return valid_pin(pin) ? pin_level(static_cast<std::size_t>(pin)) : LOW;
}

int host_analog_read(int pin) {
    if (pin >= STIM_FIRST_ANALOG_PIN) {
        pin -= STIM_FIRST_ANALOG_PIN;
    }
    if (pin < 0 || pin >= STIM_ANALOG_PINS) {
        return 0;
    }
    return host.analog[static_cast<std::size_t>(pin)];
}

void host_attach_interrupt(int number, void (*handler)(), int mode) {
    if (number < 0 || number >= HOST_INTERRUPTS) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "attachInterrupt: no interrupt %d (an Uno's are 0 and 1, on pins 2 and 3): "
                      "not attached",
                      number);
        host_warn(text);
        return;
    }
    interrupt_t& irq = host.interrupts[static_cast<std::size_t>(number)];
    irq.handler = handler;
    irq.mode = mode;
    irq.pending = false;
}

void host_detach_interrupt(int number) {
    if (number >= 0 && number < HOST_INTERRUPTS) {
        host.interrupts[static_cast<std::size_t>(number)] = interrupt_t{};
    }
}

void host_interrupts(bool on) {
    host.interrupts_on = on;
    run_pending_handlers();
}

void host_serial_baud(unsigned long baud) {
    host.baud = baud == 0 ? 9600 : baud;
}

unsigned long host_serial_baud() {
    return host.baud;
}

int host_serial_available() {
    receive_serial();
    return static_cast<int>(host.rx_count);
}

int host_serial_peek() {
    receive_serial();
    return host.rx_count == 0 ? -1 : host.rx[host.rx_first];
}

int host_serial_read() {
    const int value = host_serial_peek();
    if (value >= 0) {
        host.rx_first = (host.rx_first + 1) % SERIAL_BUFFER;
        --host.rx_count;
    }
    return value;
}

std::uint8_t host_eeprom_read(std::size_t address) {
    return host.eeprom[address % HOST_EEPROM_SIZE];
}

void host_eeprom_write(std::size_t address, std::uint8_t value) {
    host.eeprom[address % HOST_EEPROM_SIZE] = value;
}

const std::array<std::uint8_t, HOST_EEPROM_SIZE>& host_eeprom() {
    return host.eeprom;
}

void host_i2c_declare(std::uint8_t address) {
    i2c_devices[address & 0x7FU] = true;
}

bool host_i2c_answers(std::uint8_t address) {
    return i2c_devices[address & 0x7FU];
}

} // namespace vimbra::arduino

namespace board = vimbra::arduino;

// The Arduino functions over the host.

unsigned long millis() {
    board::host_spend(board::HOST_CALL_US);
    return static_cast<unsigned long>((board::host_clock() / 1000) & 0xFFFFFFFFULL);
}

unsigned long micros() {
    board::host_spend(board::HOST_CALL_US);
    return static_cast<unsigned long>(board::host_clock() & 0xFFFFFFFFULL);
}

void delay(unsigned long ms) {
    // Past the limit is the limit: no product that could overflow.
    board::host_spend(ms > board::HOST_MAX_RUN_US / 1000 ? board::HOST_MAX_RUN_US : ms * 1000ULL);
}

void delayMicroseconds(unsigned int us) {
    board::host_spend(us);
}

// Weak, as on the boards: a sketch may have a yield() of its own.
[[gnu::weak]] void yield() {
    board::host_spend(board::HOST_CALL_US);
}

void pinMode(uint8_t pin, uint8_t mode) {
    board::host_pin_mode(pin, mode);
    board::host_spend(board::HOST_CALL_US);
}

void digitalWrite(uint8_t pin, uint8_t value) {
    board::host_digital_write(pin, value);
    board::host_spend(board::HOST_CALL_US);
}

int digitalRead(uint8_t pin) {
    board::host_spend(board::HOST_CALL_US);
    return board::host_digital_read(pin);
}

int analogRead(uint8_t pin) {
    board::host_spend(board::ANALOG_READ_US);
    return board::host_analog_read(pin);
}

void analogWrite(uint8_t pin, int value) {
    board::host_pin_mode(pin, OUTPUT);
    board::host_digital_write(pin, value > 0 ? HIGH : LOW);
    board::host_spend(board::HOST_CALL_US);
}

void analogReference(uint8_t) {}

void attachInterrupt(uint8_t interrupt, void (*handler)(), int mode) {
    board::host_attach_interrupt(interrupt == 0xFF ? -1 : interrupt, handler, mode);
}

void detachInterrupt(uint8_t interrupt) {
    board::host_detach_interrupt(interrupt);
}

// A microsecond, so that a loop that only reads what handlers set, between noInterrupts()
// and interrupts(), still lets the clock (and the handlers) move on.
void interrupts() {
    board::host_interrupts(true);
    board::host_spend(1);
}

void noInterrupts() {
    board::host_interrupts(false);
}

void tone(uint8_t pin, unsigned int frequency, unsigned long duration) {
    (void)pin, (void)frequency, (void)duration;
}

void noTone(uint8_t pin) {
    (void)pin;
}

// xorshift64 (Marsaglia's shifts 13, 7, 17) from the seed 0x2545F4914F6CDD1D, or the one
// randomSeed gives: the same numbers in every run.
long random(long max) {
    if (max <= 0) {
        return 0;
    }
    std::uint64_t x = board::host.random_state;
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    board::host.random_state = x;
    return static_cast<long>(x % static_cast<std::uint64_t>(max));
}

long random(long min, long max) {
    if (min >= max) {
        return min;
    }
    // The span may not fit in a long; in unsigned arithmetic it always does.
    const std::uint64_t span = static_cast<std::uint64_t>(max) - static_cast<std::uint64_t>(min);
    const std::uint64_t r = span > static_cast<std::uint64_t>(LONG_MAX)
                                ? static_cast<std::uint64_t>(random(LONG_MAX))
                                : static_cast<std::uint64_t>(random(static_cast<long>(span)));
    return static_cast<long>(static_cast<std::uint64_t>(min) + r);
}

void randomSeed(unsigned long seed) {
    if (seed != 0) {
        board::host.random_state = seed;
    }
}

long map(long x, long in_min, long in_max, long out_min, long out_max) {
    if (in_max == in_min) {
        return out_min;
    }
    long dx = 0;
    long span_in = 0;
    long span_out = 0;
    long product = 0;
    long result = 0;
    // Each step only when the ones before it fitted in a long.
    if (__builtin_sub_overflow(x, in_min, &dx) ||
        __builtin_sub_overflow(in_max, in_min, &span_in) ||
        __builtin_sub_overflow(out_max, out_min, &span_out) ||
        __builtin_mul_overflow(dx, span_out, &product) || (product == LONG_MIN && span_in == -1) ||
        __builtin_add_overflow(product / span_in, out_min, &result)) {
        // Beyond a long's range: in floating point, clamped.
        const double wide = (static_cast<double>(x) - static_cast<double>(in_min)) *
                                (static_cast<double>(out_max) - static_cast<double>(out_min)) /
                                (static_cast<double>(in_max) - static_cast<double>(in_min)) +
                            static_cast<double>(out_min);
        return wide >= static_cast<double>(LONG_MAX)
                   ? LONG_MAX
                   : (wide <= static_cast<double>(LONG_MIN) ? LONG_MIN : static_cast<long>(wide));
    }
    return result;
}

char* dtostrf(double value, signed char width, unsigned char precision, char* out) {
    char text[640]; // the widest double with 255 decimals fits
    std::snprintf(text, sizeof text, "%*.*f", static_cast<int>(width), static_cast<int>(precision),
                  value);
    std::memcpy(out, text, std::strlen(text) + 1);
    return out;
}

bool vimbra::mark(const char* name) {
    if (!vimbra::lcd_mark_name_ok(name)) {
        const std::string quoted = name == nullptr ? "''" : vimbra::arduino::stim_quote(name);
        const std::string text = "mark: " + quoted +
                                 " is not a name (1 to 64 letters, digits, '_', '-' and '.'): "
                                 "not written";
        board::host_warn(text.c_str());
        return false;
    }
    vimbra::lcd_event event;
    event.kind = vimbra::lcd_event_kind::mark;
    event.name = name;
    board::host_log(event);
    return true;
}

namespace vimbra::arduino {

namespace {
constexpr std::uint64_t EEPROM_WRITE_US = 3300; // an AVR's erase and write
} // namespace

uint8_t eeprom_read(unsigned address) {
    host_spend(HOST_CALL_US);
    return host_eeprom_read(address);
}

void eeprom_write(unsigned address, uint8_t value) {
    host_eeprom_write(address, value);
    host_spend(EEPROM_WRITE_US);
}

void eeprom_update(unsigned address, uint8_t value) {
    if (host_eeprom_read(address) != value) {
        eeprom_write(address, value);
    } else {
        host_spend(HOST_CALL_US);
    }
}

} // namespace vimbra::arduino
