// LiquidCrystal of the host Arduino environment: a module on the board's pins, with the
// constructors of the usual library. The pins only set the bus width (and whether RW is
// driven), which sets how long each byte takes; the bytes go to the command log.
#pragma once

#include "vimbra_lcd.h"

class LiquidCrystal : public vimbra::arduino::lcd_driver {
  public:
    // 8-bit bus.
    LiquidCrystal(uint8_t rs, uint8_t enable, uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3,
                  uint8_t d4, uint8_t d5, uint8_t d6, uint8_t d7)
        : lcd_driver(vimbra::arduino::lcd_bus::pins_8bit, false) {
        (void)rs, (void)enable, (void)d0, (void)d1, (void)d2, (void)d3, (void)d4, (void)d5,
            (void)d6, (void)d7;
    }
    LiquidCrystal(uint8_t rs, uint8_t rw, uint8_t enable, uint8_t d0, uint8_t d1, uint8_t d2,
                  uint8_t d3, uint8_t d4, uint8_t d5, uint8_t d6, uint8_t d7)
        : lcd_driver(vimbra::arduino::lcd_bus::pins_8bit, true) {
        (void)rs, (void)rw, (void)enable, (void)d0, (void)d1, (void)d2, (void)d3, (void)d4,
            (void)d5, (void)d6, (void)d7;
    }
    // 4-bit bus, D4 to D7 of the module on the four data pins.
    LiquidCrystal(uint8_t rs, uint8_t rw, uint8_t enable, uint8_t d4, uint8_t d5, uint8_t d6,
                  uint8_t d7)
        : lcd_driver(vimbra::arduino::lcd_bus::pins_4bit, true) {
        (void)rs, (void)rw, (void)enable, (void)d4, (void)d5, (void)d6, (void)d7;
    }
    LiquidCrystal(uint8_t rs, uint8_t enable, uint8_t d4, uint8_t d5, uint8_t d6, uint8_t d7)
        : lcd_driver(vimbra::arduino::lcd_bus::pins_4bit, false) {
        (void)rs, (void)enable, (void)d4, (void)d5, (void)d6, (void)d7;
    }
    // 4-bit bus with two enable lines, as the 40 x 4 libraries wire a module with two
    // controllers: E1 for rows 1 and 2, E2 for rows 3 and 4.
    LiquidCrystal(uint8_t rs, uint8_t rw, uint8_t enable1, uint8_t enable2, uint8_t d4, uint8_t d5,
                  uint8_t d6, uint8_t d7)
        : lcd_driver(vimbra::arduino::lcd_bus::pins_4bit, true) {
        (void)rs, (void)rw, (void)enable1, (void)enable2, (void)d4, (void)d5, (void)d6, (void)d7;
    }
};
