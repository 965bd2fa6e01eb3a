// The I2C bus of the host Arduino environment, a stand-in: transmissions take the time they
// take at the bus clock and reach no device (every one succeeds, nothing is ever read).
// LiquidCrystal_I2C takes its clock for the time it spends on the bus.
#pragma once

#include "Arduino.h"

class TwoWire : public Print {
  public:
    void begin() {}
    void begin(uint8_t address) { (void)address; }
    void end() {}
    // The bus clock in Hz (100000 at first); 0 is taken as 100000.
    void setClock(uint32_t hz) { clock_hz_ = hz == 0 ? 100000 : hz; }
    uint32_t clock() const { return clock_hz_; }
    void beginTransmission(uint8_t address);
    void beginTransmission(int address) { beginTransmission(static_cast<uint8_t>(address)); }
    // Sends the bytes written since beginTransmission: 0, success.
    uint8_t endTransmission(bool stop = true);
    uint8_t requestFrom(uint8_t address, uint8_t quantity, bool stop = true);
    uint8_t requestFrom(int address, int quantity, int stop = 1) {
        return requestFrom(static_cast<uint8_t>(address), static_cast<uint8_t>(quantity),
                           stop != 0);
    }
    int available() { return 0; }
    int read() { return -1; }
    int peek() { return -1; }
    size_t write(uint8_t value) override;
    size_t write(const uint8_t* buffer, size_t size) override;
    using Print::write;

  private:
    uint32_t clock_hz_ = 100000;
    size_t pending_ = 0; // bytes since beginTransmission
    bool transmitting_ = false;
};
extern TwoWire Wire;
