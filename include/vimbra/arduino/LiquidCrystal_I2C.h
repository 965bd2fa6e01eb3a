// LiquidCrystal_I2C of the host Arduino environment: a module behind a PCF8574 backpack at
// an I2C address, with the calls of the usual library. Every byte costs the expander writes
// at the Wire clock; the backlight pin's state goes to the log as `backlight on|off`.
#pragma once

#include "Wire.h"
#include "vimbra_lcd.h"

#define LCD_BACKLIGHT 0x08
#define LCD_NOBACKLIGHT 0x00

class LiquidCrystal_I2C : public vimbra::arduino::lcd_driver {
  public:
    LiquidCrystal_I2C(uint8_t address, uint8_t cols, uint8_t rows, uint8_t charsize = LCD_5x8DOTS)
        : lcd_driver(vimbra::arduino::lcd_bus::i2c, false), cols_(cols), rows_(rows),
          charsize_(charsize) {
        vimbra::arduino::declare_i2c_device(address);
        backlight_ = 1; // the library starts with the backlight on
    }
    // begin with the constructor's geometry; the backlight pin keeps its state.
    void begin() { begin(cols_, rows_, charsize_); }
    void init() { begin(); }
    void begin(uint8_t cols, uint8_t rows, uint8_t charsize = LCD_5x8DOTS) {
        lcd_driver::begin(cols, rows, charsize);
    }
    void backlight() { setBacklight(1); }
    void noBacklight() { setBacklight(0); }
    // Any value but 0 is on.
    void setBacklight(uint8_t on) { set_backlight(on != 0); }
    bool getBacklight() const { return backlight_ == 1; }
    // The older names of the same calls.
    void cursor_on() { cursor(); }
    void cursor_off() { noCursor(); }
    void blink_on() { blink(); }
    void blink_off() { noBlink(); }
    void load_custom_character(uint8_t location, const uint8_t rows[]) {
        createChar(location, rows);
    }
    void printstr(const char text[]) { print(text); }

  private:
    uint8_t cols_;
    uint8_t rows_;
    uint8_t charsize_;
};
