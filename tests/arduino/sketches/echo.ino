// Serial's bytes back to Serial and onto the display, each as it arrives, with the pin 4
// level and analog input A1 beside them, and an EEPROM byte counted up at each start.
#include <Arduino.h>
#include <EEPROM.h>
#include <LiquidCrystal.h>
#include <Wire.h>

// RS, E, D0 to D7.
LiquidCrystal lcd(12, 11, 2, 3, 4, 5, 6, 7, 8, 9);

void setup() {
  Serial.begin(9600);
  pinMode(4, INPUT);
  lcd.begin(16, 2);
  EEPROM.write(0, EEPROM.read(0) + 1);
  Serial.print("start ");
  Serial.println(EEPROM.read(0));
  // The bus: only the backpack that another sketch declares would answer; here none.
  Wire.beginTransmission(0x3C);
  Serial.print("scan ");
  Serial.println(Wire.endTransmission());
  randomSeed(42);
  Serial.print("random ");
  Serial.println(random(1000));
  tone(9, 440, 100);
  noTone(9);
}

void loop() {
  String line = Serial.readStringUntil('\n');
  if (line.length() > 0) {
    lcd.clear();
    lcd.print(line);
    lcd.setCursor(0, 1);
    lcd.print(digitalRead(4));
    lcd.print(' ');
    lcd.print(analogRead(A1));
    Serial.println(line);
    mark(line.c_str());
  }
}
