// An I2C bus to a PCF8574 backpack: START, repeated START, STOP, the 7-bit address with R/W
// and the acknowledge, read from SDA and SCL. Every acknowledged byte written to the
// display's address sets the expander's eight pins, which the wiring maps to the display's
// lines: one parallel-bus step.
#pragma once

#include <array>
#include <cstdint>

#include "chip/parbus.hpp"

namespace vimbra {

struct i2cbus_callbacks_t {
    // The display's lines after an expander write (roles of bus_role; D0..D3 stay low).
    void (*pins)(const bus_step_t* step, void* ctx);
    // One line, said once: acknowledged writes to an address other than the display's.
    void (*warning)(const char* text, void* ctx);
    void* ctx;
};

struct i2cbus_t {
    i2cbus_callbacks_t callbacks;
    std::array<int, 8> pin_role; // expander pin P0..P7 -> bus_role, -1: not a display line
    int address;                 // the display's bus address; -1: the first acknowledged write
    bool sda;
    bool scl;
    bool known; // both lines have a level
    // The transfer in progress.
    bool in_transfer;
    int bits; // bits of the byte so far, 8 while waiting for the acknowledge
    unsigned byte;
    bool address_phase;
    bool to_display; // this transfer writes to the display's address
    std::uint32_t pin_levels;
    bool pins_set;
    bool warned;
    std::uint64_t bytes; // acknowledged bytes written to the display
};

// `wiring`: the expander pins of RS, RW, E, backlight, D4, D5, D6, D7 (as the log's wiring line).
void i2cbus_start(i2cbus_t* bus, const i2cbus_callbacks_t* callbacks,
                  const std::array<int, 8>& wiring, int address);
// One instant of SDA and SCL (roles BUS_SDA and BUS_SCL of the step).
void i2cbus_step(i2cbus_t* bus, const bus_step_t* step);

} // namespace vimbra
