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
// After each byte they wait for the controller: 50 us (it needs 37 us, more on a slow
// oscillator), and 2 ms after clear and home.
constexpr std::uint64_t PIN_WRITE_US = 4;
constexpr std::uint64_t PINS_8BIT_BYTE_US = (1 + 8 + 2) * PIN_WRITE_US;
constexpr std::uint64_t PINS_4BIT_BYTE_US = (1 + 2 * (4 + 2)) * PIN_WRITE_US;
constexpr std::uint64_t EXPANDER_WRITES_PER_BYTE = 6;
constexpr std::uint64_t BITS_PER_EXPANDER_WRITE = 20;
constexpr std::uint64_t EXECUTION_US = 50;
constexpr std::uint64_t CLEAR_HOME_US = 2000;
// Reset by instruction, as the datasheet asks: power up, then function set three times
// with these waits after the first two.
constexpr std::uint64_t POWER_UP_US = 50000;
constexpr std::uint64_t RESET_WAITS_US[3] = {4500, 150, 0};

std::uint64_t expander_write_us() {
    return BITS_PER_EXPANDER_WRITE * 1000000ULL / Wire.clock();
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
    arduhost_spend(POWER_UP_US);
    for (const std::uint64_t wait_us : RESET_WAITS_US) {
        shim_.command_all(LCD_FUNCTIONSET | LCD_8BITMODE);
        arduhost_spend(wait_us);
    }
    const bool four_bit = bus_ != lcd_bus::pins_8bit;
    if (four_bit) {
        shim_.command_all(LCD_FUNCTIONSET | LCD_4BITMODE);
    }
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
    shim_.backlight(on);
    arduhost_spend(expander_write_us());
}

void lcd_driver::sink(const lcd_event& event, void* context) {
    arduhost_log(event);
    if (event.kind != lcd_event_kind::instruction && event.kind != lcd_event_kind::data) {
        return;
    }
    const auto* driver = static_cast<const lcd_driver*>(context);
    std::uint64_t byte_us = driver->rw_pin_ ? PIN_WRITE_US : 0;
    switch (driver->bus_) {
    case lcd_bus::pins_8bit:
        byte_us += PINS_8BIT_BYTE_US;
        break;
    case lcd_bus::pins_4bit:
        byte_us += PINS_4BIT_BYTE_US;
        break;
    case lcd_bus::i2c:
        byte_us = EXPANDER_WRITES_PER_BYTE * expander_write_us();
        break;
    }
    std::uint64_t total_us = 0;
    for (std::size_t i = 0; i < event.count; ++i) {
        const bool slow =
            event.kind == lcd_event_kind::instruction &&
            (event.bytes[i] == LCD_CLEARDISPLAY || (event.bytes[i] & 0xFE) == LCD_RETURNHOME);
        total_us += byte_us + (slow ? CLEAR_HOME_US : EXECUTION_US);
    }
    arduhost_spend(total_us);
}

} // namespace vimbra::arduino

void TwoWire::beginTransmission(uint8_t address) {
    (void)address;
    transmitting_ = true;
    pending_ = 0;
}

uint8_t TwoWire::endTransmission(bool stop) {
    (void)stop;
    // Start, the address and each byte with its acknowledge bit, stop.
    arduhost_spend((2 + 9 * (1 + static_cast<std::uint64_t>(pending_))) * 1000000ULL / clock_hz_);
    transmitting_ = false;
    pending_ = 0;
    return 0;
}

uint8_t TwoWire::requestFrom(uint8_t address, uint8_t quantity, bool stop) {
    (void)address, (void)quantity, (void)stop;
    arduhost_spend(20 * 1000000ULL / clock_hz_); // the address, answered by no one
    return 0;
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
