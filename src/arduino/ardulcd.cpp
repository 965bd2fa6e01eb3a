// The library's own files take Arduino.h without the reference that links main().
#define VIMBRA_ARDUINO_NO_MAIN
#include "vimbra/arduino/LiquidCrystal.h"
#include "vimbra/arduino/LiquidCrystal_I2C.h"
#include "vimbra/arduino/Wire.h"

#include "arduino/arduhost.hpp"

TwoWire Wire;

namespace vimbra::arduino {

namespace {

// What the usual libraries spend on a byte, in microseconds. On pins, each pin write is a
// digitalWrite of about 4 us on a 16 MHz board: RS, the data lines and the E pulse (high,
// then low), per byte on an 8-bit bus and per half on a 4-bit one, and RW when it is on a
// pin. Behind a PCF8574 each half takes three expander writes (the lines, E high, E low),
// each a transmission of 20 bit times (start, address, data, stop) at the Wire clock.
// The byte reaches the controller at the fall of E that ends it; then they wait for the
// controller as long as the chip model says it executes on the slowest usual oscillator,
// 190 kHz, as firmware that must work on every module does: 53 us, 2.16 ms after clear and
// home.
constexpr std::uint64_t PIN_WRITE_US = 4;
constexpr std::uint64_t PINS_PER_HALF = 4 + 2;
constexpr std::uint64_t PINS_8BIT = 8 + 2;
constexpr std::uint64_t EXPANDER_WRITES_PER_HALF = 3;
constexpr std::uint64_t BITS_PER_EXPANDER_WRITE = 20;
constexpr int LIBRARY_FOSC_KHZ = 190;
// Reset by instruction, as the datasheet asks: power up, then function set three times
// with these waits after the first two (beyond the execution time).
constexpr std::uint64_t POWER_UP_US = 50000;
constexpr std::uint64_t RESET_WAITS_US[3] = {4500, 150, 0};

std::uint64_t expander_write_us() {
    return BITS_PER_EXPANDER_WRITE * 1000000ULL / Wire.clock();
}

// The controller's execution time of a byte at that oscillator, in whole microseconds up.
std::uint64_t execution_us(bool data, std::uint8_t byte) {
    const std::int64_t ps = vimbra::chip_execution_ps(byte, data, LIBRARY_FOSC_KHZ);
    return static_cast<std::uint64_t>((ps + vimbra::CHIP_PS_PER_US - 1) / vimbra::CHIP_PS_PER_US);
}

} // namespace

lcd_driver::lcd_driver(lcd_bus bus, bool rw_pin)
    : shim_(&lcd_driver::sink, this), bus_(bus), rw_pin_(rw_pin) {}

void lcd_driver::begin(uint8_t cols, uint8_t rows, uint8_t charsize) {
    shim_.configure(cols, rows);
    shim_.announce_module();
    if (backlight_ >= 0) {
        set_backlight(backlight_ == 1);
    }
    host_spend(POWER_UP_US);
    const bool four_bit = bus_ != lcd_bus::pins_8bit;
    nibbles_ = four_bit;
    for (const std::uint64_t wait_us : RESET_WAITS_US) {
        shim_.command_all(LCD_FUNCTIONSET | LCD_8BITMODE);
        host_spend(wait_us);
    }
    if (four_bit) {
        shim_.command_all(LCD_FUNCTIONSET | LCD_4BITMODE);
    }
    nibbles_ = false;
    unsigned function_set = LCD_FUNCTIONSET | (four_bit ? LCD_4BITMODE : LCD_8BITMODE);
    if (shim_.rows() > 1) {
        function_set |= LCD_2LINE;
    } else if (charsize != LCD_5x8DOTS) {
        function_set |= LCD_5x10DOTS; // tall dots only work on one line
    }
    shim_.begin(cols, rows, static_cast<std::uint8_t>(function_set));
}

void lcd_driver::set_backlight(bool on) {
    backlight_ = on ? 1 : 0;
    host_spend(expander_write_us()); // the pin changes as the expander write ends
    shim_.backlight(on);
}

// A read takes as long as a write: the lines set, E up, the data lines read instead of
// written, E down.
uint64_t lcd_driver::bus_us() const {
    const std::uint64_t halves = nibbles_ ? 1 : 2;
    const std::uint64_t rw = rw_pin_ ? 1 : 0;
    switch (bus_) {
    case lcd_bus::pins_8bit:
        return (1 + rw + PINS_8BIT) * PIN_WRITE_US;
    case lcd_bus::pins_4bit:
        return (1 + rw + halves * PINS_PER_HALF) * PIN_WRITE_US;
    case lcd_bus::i2c:
        return halves * EXPANDER_WRITES_PER_HALF * expander_write_us();
    }
    return 0;
}

void lcd_driver::sink(const lcd_event& event, void* context) {
    if (event.kind != lcd_event_kind::instruction && event.kind != lcd_event_kind::data) {
        host_log(event);
        return;
    }
    auto* driver = static_cast<lcd_driver*>(context);
    const std::uint64_t bus_us = driver->bus_us();
    const bool data = event.kind == lcd_event_kind::data;
    driver->chip_ = event.chip;
    // One line a byte, at the moment the controller takes it.
    lcd_event one = event;
    one.count = 1;
    for (std::size_t i = 0; i < event.count; ++i) {
        host_spend(bus_us);
        host_chip_write(event.chip - 1, data, event.bytes[i]);
        one.bytes = event.bytes + i;
        host_log(one);
        host_spend(execution_us(data, event.bytes[i]));
    }
}

int lcd_driver::read_byte(bool data) {
    if (bus_ != lcd_bus::i2c && !rw_pin_) {
        return -1; // RW tied low: the module cannot answer
    }
    host_spend(bus_us());
    const std::uint8_t answer = host_chip_read(chip_ - 1, data);
    host_log_text(data ? "read data\n" : "read busy\n");
    return answer;
}

void declare_i2c_device(uint8_t address) {
    host_i2c_declare(address);
}

} // namespace vimbra::arduino

namespace board = vimbra::arduino;

namespace {

// Start, stop and nine bits (eight and the acknowledge) for the address and each byte.
std::uint64_t transfer_us(std::uint64_t bytes, std::uint32_t clock_hz) {
    return (2 + 9 * (1 + bytes)) * 1000000ULL / clock_hz;
}

} // namespace

void TwoWire::beginTransmission(uint8_t address) {
    address_ = address;
    transmitting_ = true;
    pending_ = 0;
}

uint8_t TwoWire::endTransmission(bool stop) {
    (void)stop;
    const bool answered = board::host_i2c_answers(address_);
    // A device that does not acknowledge its address ends the transmission there.
    board::host_spend(transfer_us(answered ? pending_ : 0, clock_hz_));
    transmitting_ = false;
    pending_ = 0;
    return answered ? 0 : 2;
}

uint8_t TwoWire::requestFrom(uint8_t address, uint8_t quantity, bool stop) {
    (void)stop;
    const bool answered = board::host_i2c_answers(address);
    received_ = answered ? (quantity < 32 ? quantity : 32) : 0;
    board::host_spend(transfer_us(received_, clock_hz_));
    return static_cast<uint8_t>(received_);
}

int TwoWire::available() {
    board::host_spend(board::HOST_CALL_US);
    return static_cast<int>(received_);
}

int TwoWire::read() {
    board::host_spend(board::HOST_CALL_US);
    if (received_ == 0) {
        return -1;
    }
    --received_;
    return 0xFF; // an expander's pins read high
}

int TwoWire::peek() {
    board::host_spend(board::HOST_CALL_US);
    return received_ == 0 ? -1 : 0xFF;
}

size_t TwoWire::write(uint8_t value) {
    (void)value;
    if (!transmitting_ || pending_ >= 32) { // the library's buffer holds 32 bytes
        return 0;
    }
    ++pending_;
    return 1;
}

size_t TwoWire::write(const uint8_t* buffer, size_t size) {
    size_t n = 0;
    while (buffer != nullptr && n < size && write(buffer[n]) == 1) {
        ++n;
    }
    return n;
}
