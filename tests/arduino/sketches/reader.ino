// Reads the display back where the RW line is wired: the address counter after text and a
// cursor move, the text itself, on a 4-bit bus with RW on a pin.
#include <LiquidCrystal.h>

// RS, RW, E, D4 to D7.
LiquidCrystal lcd(12, 11, 10, 5, 4, 3, 2);

void setup() {
  Serial.begin(115200);
  lcd.begin(16, 2);
  lcd.print("AB");
  Serial.println(lcd.status(), HEX); // 2: after "AB", not busy
  lcd.setCursor(3, 1);
  Serial.println(lcd.status(), HEX); // 43
  lcd.setCursor(0, 0);
  int first = lcd.read();
  int second = lcd.read();
  Serial.write(first);
  Serial.write(second);
  Serial.println();
  Serial.println(lcd.status(), HEX); // 2: each read steps the counter
  lcd.print('C');                    // at address 2
  mark("read");
}

void loop() {
}
