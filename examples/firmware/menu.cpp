// A 16 x 2 menu as firmware would drive it, built against the host-side shim: its command
// log goes to standard output, ready for vimbracli to replay.
//
//     firmware_menu > menu.log
//
// The clock is simulated: `delay` moves it on, as the firmware's delay would take time.
// The marks name the screens, so that a check asks for a screen, not for a moment:
//
//     firmware_menu | vimbracli --replay - --at settings -p blue-16x2.prof --compare menu.png
#include <cstdint>
#include <iostream>

#include "vimbra/lcd_shim.hpp"

namespace {

constexpr std::uint8_t ARROW = 0; // user glyph 0
constexpr std::uint8_t ARROW_ROWS[8] = {
    0b00000, 0b01000, 0b01100, 0b01110, 0b01100, 0b01000, 0b00000, 0b00000,
};
constexpr int ENTRY_COUNT = 3;
constexpr const char* ENTRIES[ENTRY_COUNT] = {"Start", "Settings", "About"};
constexpr std::uint8_t ROWS = 2;

// The entries from `top` on, the arrow before `selected`.
void draw(vimbra::lcd_shim& lcd, int top, int selected) {
    lcd.clear();
    for (std::uint8_t row = 0; row < ROWS && top + row < ENTRY_COUNT; ++row) {
        lcd.setCursor(0, row);
        lcd.write(top + row == selected ? ARROW : static_cast<std::uint8_t>(' '));
        lcd.print(ENTRIES[top + row]);
    }
}

} // namespace

int main() {
    std::uint64_t now_us = 0;
    const auto delay = [&now_us](std::uint64_t ms) { now_us += ms * 1000; };
    std::cout << "# A 16 x 2 menu: an arrow glyph moves over three entries, then About opens.\n";
    vimbra::lcd_shim lcd(std::cout, [&now_us] { return now_us; });

    lcd.begin(16, ROWS);
    lcd.createChar(ARROW, ARROW_ROWS);
    draw(lcd, 0, 0);
    lcd.mark("start");
    delay(1000);
    // Down: the arrow moves to the second row.
    lcd.setCursor(0, 0);
    lcd.write(' ');
    lcd.setCursor(0, 1);
    lcd.write(ARROW);
    lcd.mark("settings");
    delay(1000);
    // Down again: the list scrolls by one entry.
    draw(lcd, 1, 2);
    lcd.mark("scrolled");
    delay(1500);
    // Select: About, with a counter of seconds and a blinking cursor after it.
    lcd.clear();
    lcd.print("vimbra menu demo");
    lcd.setCursor(0, 1);
    lcd.print("up ");
    lcd.blink();
    for (int seconds = 3; seconds <= 5; ++seconds) {
        lcd.setCursor(3, 1);
        lcd.print(seconds);
        lcd.print(" s");
        if (seconds == 3) {
            lcd.mark("about");
        }
        delay(1000);
    }
    lcd.noBlink();
    delay(500);
    lcd.sync();
    return 0;
}
