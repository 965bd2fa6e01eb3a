// The EEPROM of the host Arduino environment: an Uno's 1024 bytes, in memory, erased (0xFF)
// unless the run starts from a file (--eeprom FILE, which keeps them at the end). The calls
// of the Arduino reference: read, write, update, get, put, EEPROM[] and length. Addresses wrap
// at 1024, as the chip's address register does. A write that changes the byte takes 3.3 ms,
// as on the chip.
#pragma once

#include "Arduino.h"

namespace vimbra::arduino {
uint8_t eeprom_read(unsigned address);
// Writes when the byte differs (the chip's time), or only takes a call's time.
void eeprom_update(unsigned address, uint8_t value);
// Writes whatever the byte holds.
void eeprom_write(unsigned address, uint8_t value);
} // namespace vimbra::arduino

// One byte of the EEPROM, as EEPROM[address] gives it: it reads and writes through.
class EERef {
  public:
    explicit EERef(unsigned address) : address_(address) {}
    operator uint8_t() const { return vimbra::arduino::eeprom_read(address_); }
    uint8_t operator*() const { return *this; }
    EERef& operator=(uint8_t value) {
        vimbra::arduino::eeprom_write(address_, value);
        return *this;
    }
    EERef& operator=(const EERef& other) { return *this = static_cast<uint8_t>(other); }
    EERef& update(uint8_t value) {
        vimbra::arduino::eeprom_update(address_, value);
        return *this;
    }
    EERef& operator+=(uint8_t v) { return *this = static_cast<uint8_t>(*this + v); }
    EERef& operator-=(uint8_t v) { return *this = static_cast<uint8_t>(*this - v); }
    EERef& operator*=(uint8_t v) { return *this = static_cast<uint8_t>(*this * v); }
    EERef& operator/=(uint8_t v) { return *this = static_cast<uint8_t>(*this / v); }
    EERef& operator%=(uint8_t v) { return *this = static_cast<uint8_t>(*this % v); }
    EERef& operator&=(uint8_t v) { return *this = static_cast<uint8_t>(*this & v); }
    EERef& operator|=(uint8_t v) { return *this = static_cast<uint8_t>(*this | v); }
    EERef& operator^=(uint8_t v) { return *this = static_cast<uint8_t>(*this ^ v); }
    EERef& operator++() { return *this += 1; }
    EERef& operator--() { return *this -= 1; }
    uint8_t operator++(int) {
        const uint8_t before = *this;
        ++*this;
        return before;
    }
    uint8_t operator--(int) {
        const uint8_t before = *this;
        --*this;
        return before;
    }

  private:
    unsigned address_;
};

class EEPROMClass {
  public:
    uint8_t read(int address) {
        return vimbra::arduino::eeprom_read(static_cast<unsigned>(address));
    }
    void write(int address, uint8_t value) {
        vimbra::arduino::eeprom_write(static_cast<unsigned>(address), value);
    }
    void update(int address, uint8_t value) {
        vimbra::arduino::eeprom_update(static_cast<unsigned>(address), value);
    }
    EERef operator[](int address) { return EERef(static_cast<unsigned>(address)); }
    uint16_t length() { return 1024; }
    // The bytes of `value` from `address` on, in the host's order (little-endian, as an AVR's).
    template <typename T> T& get(int address, T& value) {
        auto* bytes = reinterpret_cast<uint8_t*>(&value);
        for (size_t i = 0; i < sizeof(T); ++i) {
            bytes[i] = vimbra::arduino::eeprom_read(static_cast<unsigned>(address) +
                                                    static_cast<unsigned>(i));
        }
        return value;
    }
    // Writes the bytes of `value` that differ, as update does.
    template <typename T> const T& put(int address, const T& value) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
        for (size_t i = 0; i < sizeof(T); ++i) {
            vimbra::arduino::eeprom_update(
                static_cast<unsigned>(address) + static_cast<unsigned>(i), bytes[i]);
        }
        return value;
    }
};

// Inline, so that a sketch that includes this header gets it without a definition elsewhere.
inline EEPROMClass EEPROM;
