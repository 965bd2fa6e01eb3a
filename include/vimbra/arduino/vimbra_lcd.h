// What LiquidCrystal and LiquidCrystal_I2C share in the host Arduino environment: the LCD
// calls of the usual libraries, written to the command log through the firmware shim. Every
// byte is a log line at the moment it reaches the controller, after the time the library
// spends on the bus for it, and the controller's execution time passes before the next.
#pragma once

#include "../lcd_shim.hpp"
#include "Arduino.h"

// Instruction bits, from the controller's datasheet, for sketches that send their own.
#define LCD_CLEARDISPLAY 0x01
#define LCD_RETURNHOME 0x02
#define LCD_ENTRYMODESET 0x04
#define LCD_DISPLAYCONTROL 0x08
#define LCD_CURSORSHIFT 0x10
#define LCD_FUNCTIONSET 0x20
#define LCD_SETCGRAMADDR 0x40
#define LCD_SETDDRAMADDR 0x80
#define LCD_ENTRYRIGHT 0x00
#define LCD_ENTRYLEFT 0x02
#define LCD_ENTRYSHIFTINCREMENT 0x01
#define LCD_ENTRYSHIFTDECREMENT 0x00
#define LCD_DISPLAYON 0x04
#define LCD_DISPLAYOFF 0x00
#define LCD_CURSORON 0x02
#define LCD_CURSOROFF 0x00
#define LCD_BLINKON 0x01
#define LCD_BLINKOFF 0x00
#define LCD_DISPLAYMOVE 0x08
#define LCD_CURSORMOVE 0x00
#define LCD_MOVERIGHT 0x04
#define LCD_MOVELEFT 0x00
#define LCD_8BITMODE 0x10
#define LCD_4BITMODE 0x00
#define LCD_2LINE 0x08
#define LCD_1LINE 0x00
#define LCD_5x10DOTS 0x04
#define LCD_5x8DOTS 0x00

namespace vimbra::arduino {

// How the module is wired, which sets the time each byte takes.
enum class lcd_bus : uint8_t { pins_8bit, pins_4bit, i2c };

class lcd_driver : public Print {
  public:
    // Waits for the module to power up, resets it by instruction, then function set,
    // display on, clear and entry mode left to right; the log gets `module COLSxROWS`.
    // More than 80 cells (40 x 4) take two controllers.
    void begin(uint8_t cols, uint8_t rows, uint8_t charsize = LCD_5x8DOTS);
    void clear() { shim_.clear(); }
    void home() { shim_.home(); }
    void setCursor(uint8_t col, uint8_t row) { shim_.setCursor(col, row); }
    void setRowOffsets(int row0, int row1, int row2, int row3) {
        shim_.setRowOffsets(row0, row1, row2, row3);
    }
    // User glyph `location` (0 to 7) from eight rows of five dots, low bits, top first.
    void createChar(uint8_t location, const uint8_t rows[]) { shim_.createChar(location, rows); }
    void createChar(uint8_t location, const char rows[]) {
        createChar(location, reinterpret_cast<const uint8_t*>(rows));
    }
    void display() { shim_.display(); }
    void noDisplay() { shim_.noDisplay(); }
    void cursor() { shim_.cursor(); }
    void noCursor() { shim_.noCursor(); }
    void blink() { shim_.blink(); }
    void noBlink() { shim_.noBlink(); }
    void scrollDisplayLeft() { shim_.scrollDisplayLeft(); }
    void scrollDisplayRight() { shim_.scrollDisplayRight(); }
    void leftToRight() { shim_.leftToRight(); }
    void rightToLeft() { shim_.rightToLeft(); }
    void autoscroll() { shim_.autoscroll(); }
    void noAutoscroll() { shim_.noAutoscroll(); }
    void command(uint8_t value) { shim_.command(value); }
    size_t write(uint8_t code) override { return shim_.write(&code, 1); }
    size_t write(const uint8_t* codes, size_t count) override { return shim_.write(codes, count); }
    using Print::write;
    // A `mark NAME` line, as vimbra::mark writes it.
    bool mark(const char* name) { return vimbra::mark(name); }
    // Reads of the controller, where the RW line is wired (a LiquidCrystal with its RW pin,
    // or the backpack): the busy flag (bit 7) and the address counter, or the byte at the
    // address counter, which then steps; a `read busy` or `read data` line. -1 without RW.
    int status() { return read_byte(false); }
    int read() { return read_byte(true); }

    lcd_driver(const lcd_driver&) = delete; // the shim sends to this very object
    lcd_driver& operator=(const lcd_driver&) = delete;

  protected:
    lcd_driver(lcd_bus bus, bool rw_pin);
    // A `backlight on|off` line, and the expander write that sets the pin.
    void set_backlight(bool on);

    lcd_shim shim_;
    int backlight_ = -1; // the backlight pin: -1 none, else 0 off or 1 on

  private:
    static void sink(const lcd_event& event, void* context);
    // The bus time of one byte (one half of it for the reset's instructions on a 4-bit bus).
    uint64_t bus_us() const;
    int read_byte(bool data);

    lcd_bus bus_;
    bool rw_pin_;          // a parallel bus with the RW line on a pin, which the library drives too
    bool nibbles_ = false; // the reset's instructions: one half each on a 4-bit bus
    uint8_t chip_ = 1;     // the controller of the last byte sent, which reads ask (1 or 2)
};

// An I2C device at `address` from now on: Wire's transmissions to it are acknowledged.
void declare_i2c_device(uint8_t address);

} // namespace vimbra::arduino
