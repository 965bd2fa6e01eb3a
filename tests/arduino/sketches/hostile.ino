// A sketch that misbehaves on purpose, in the way the stimulus picks through analogRead(A0):
// each run must still end cleanly, with whole log lines, and never take the test with it.
#include <Arduino.h>
#include <LiquidCrystal_I2C.h>
#include <Wire.h>
#include <signal.h>

LiquidCrystal_I2C lcd(0x27, 16, 2);

enum Misdeed {
  DRAW_FOREVER = 0,   // loop() draws the time, mark after mark
  WAIT_SERIAL = 1,    // spins until a byte arrives
  WAIT_WIRE = 2,      // spins on a device that never answers
  LONG_PRINT = 3,     // prints two million bytes, far more than the run can send
  RAISE_SEGV = 4,     // a fault, as a write through a null pointer gives one
  ABORT = 5,          // aborts
  EXIT_ONE = 6,       // exit(1)
  EXIT_ZERO = 7,      // exit(0): halts, as on the board
  SPIN = 8,           // a loop that calls nothing of the board
  CLOCK_WRAP = 9,     // reads micros() and millis() now and 2 s later
  PRINT_MARK = 10,    // prints, marks, then clears at once
};

volatile int sink;
int misdeed = 0;

void setup() {
  Serial.begin(115200);
  lcd.init();
  lcd.print("ready");
  mark("ready");
  misdeed = analogRead(A0);
  switch (misdeed) {
  case WAIT_SERIAL:
    while (!Serial.available()) {
    }
    Serial.print("got ");
    Serial.println(char(Serial.read()));
    mark("got");
    break;
  case WAIT_WIRE:
    Wire.requestFrom(0x50, 2);
    while (Wire.available() < 2) {
    }
    break;
  case LONG_PRINT: {
    String text;
    for (long i = 0; i < 2000000; ++i) {
      text += 'x';
    }
    lcd.print(text);
    break;
  }
  case RAISE_SEGV:
    raise(SIGSEGV);
    break;
  case ABORT:
    abort();
  case EXIT_ONE:
    exit(1);
  case EXIT_ZERO:
    exit(0);
  case SPIN:
    for (;;) {
      sink = sink + 1;
    }
  case CLOCK_WRAP: {
    // uint32_t, which is a board's unsigned long: differences wrap as they do there.
    uint32_t before = micros();
    uint32_t beforeMs = millis();
    delay(2000);
    uint32_t after = micros();
    uint32_t afterMs = millis();
    Serial.println(before > after ? "micros wrapped" : "micros did not wrap");
    Serial.println(static_cast<uint32_t>(after - before));
    Serial.println(beforeMs > afterMs ? "millis wrapped" : "millis did not wrap");
    break;
  }
  case PRINT_MARK:
    lcd.clear();
    lcd.print("shown");
    mark("shown");
    lcd.clear();
    break;
  }
}

void loop() {
  lcd.setCursor(0, 1);
  lcd.print(millis());
  mark("drawn");
}
