// A small sketch whose whole log is worked out by hand in the tests: an 8-bit bus with RW
// on a pin, a one-row module, Serial, the pins and a mark with a name that is refused.
#include <Arduino.h>
#include <LiquidCrystal.h>

// RS, RW, E, D0 to D7.
LiquidCrystal lcd(12, 11, 10, 2, 3, 4, 5, 6, 7, 8, 9);

void setup() {
  lcd.begin(8, 1);
  lcd.print("Hi");
  Serial.begin(115200);
  Serial.print(analogRead(A1));
  Serial.print(' ');
  Serial.println(digitalRead(3));
  mark("bad name!");
  mark("greeting");
  delay(2);
}

void loop() {
  lcd.home();
  delay(1000);
}
