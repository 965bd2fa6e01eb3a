// The I2C bus of the host Arduino environment: transmissions take the time they take at the
// bus clock, and only the devices on the bus answer: the expander behind each
// LiquidCrystal_I2C display, at its address. A scan finds them (endTransmission gives 0 there
// and 2, address not acknowledged, elsewhere). A read from an expander gives 0xFF a byte.
// LiquidCrystal_I2C takes the clock for the time it spends on the bus.
#pragma once

#include "Arduino.h"

class TwoWire : public Stream {
  public:
    void begin() {}
    void begin(uint8_t address) { (void)address; }
    void end() {}
    // The bus clock in Hz (100000 at first); 0 is taken as 100000.
    void setClock(uint32_t hz) { clock_hz_ = hz == 0 ? 100000 : hz; }
    uint32_t clock() const { return clock_hz_; }
    void beginTransmission(uint8_t address);
    void beginTransmission(int address) { beginTransmission(static_cast<uint8_t>(address)); }
    // Sends the bytes written since beginTransmission: 0, or 2 when no device has the address.
    uint8_t endTransmission(bool stop = true);
    // Asks a device for `quantity` bytes (32 at most): how many arrived.
    uint8_t requestFrom(uint8_t address, uint8_t quantity, bool stop = true);
    uint8_t requestFrom(int address, int quantity, int stop = 1) {
        return requestFrom(static_cast<uint8_t>(address), static_cast<uint8_t>(quantity),
                           stop != 0);
    }
    int available() override;
    int read() override;
    int peek() override;
    size_t write(uint8_t value) override;
    size_t write(const uint8_t* buffer, size_t size) override;
    using Print::write;

  private:
    uint32_t clock_hz_ = 100000;
    uint8_t address_ = 0;
    size_t pending_ = 0; // bytes since beginTransmission
    bool transmitting_ = false;
    size_t received_ = 0; // bytes of the last requestFrom not read yet
};
extern TwoWire Wire;
