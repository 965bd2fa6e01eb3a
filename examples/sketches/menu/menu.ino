// A menu on a 16 x 2 module behind an I2C backpack: an Arduino sketch that builds unchanged
// for a board and, with vimbracli's host environment, into a program that writes the command
// log of what it shows.
//
//     g++ -x c++ -I/usr/include/vimbra/arduino menu.ino -lvimbra_arduino -o menu
//     ./menu --run 25s --analog A0=44 --log menu.log
//     vimbracli --replay menu.log --at temperature -o temperature.png
//
// The marks name its screens, so a check of a screen does not depend on how long the
// screens before it took. A temperature sensor (an LM35, 10 mV a degree) is on A0 and a
// button to ground on pin 2.
#include <LiquidCrystal_I2C.h>
#include <Wire.h>

#ifdef VIMBRA_HOST
#include <string>
#else
#define mark(name) ((void)0) // marks are for the host's log only
#endif

LiquidCrystal_I2C lcd(0x27, 16, 2);

const int SENSOR = A0;
const int BUTTON = 2; // LOW while pressed

byte arrow[8] = {B00000, B01000, B01100, B01110, B01100, B01000, B00000, B00000};
byte degree[8] = {B01100, B10010, B10010, B01100, B00000, B00000, B00000, B00000};

const char* const ENTRIES[] = {"Temperature", "Counter", "About"};
const int ENTRY_COUNT = 3;

bool asleep = false;

// The entries from `top` on, the arrow before `selected`.
void drawMenu(int top, int selected) {
  lcd.clear();
  for (int row = 0; row < 2 && top + row < ENTRY_COUNT; ++row) {
    lcd.setCursor(0, row);
    lcd.write(top + row == selected ? byte(0) : byte(' '));
    lcd.print(ENTRIES[top + row]);
  }
}

void showTemperature() {
  int reading = analogRead(SENSOR);
  float celsius = reading * 500.0 / 1024;
  lcd.clear();
  lcd.print(F("Temp "));
  lcd.print(celsius, 1);
  lcd.write(byte(1));
  lcd.print('C');
  lcd.setCursor(0, 1);
  lcd.print("raw 0x");
  lcd.print(reading, HEX);
  lcd.print(" b");
  lcd.print(reading & 7, BIN);
  Serial.print("celsius ");
  Serial.println(celsius);
}

void setup() {
  Serial.begin(9600);
  pinMode(BUTTON, INPUT_PULLUP);
  Wire.begin();
  lcd.init();
  lcd.backlight();
  lcd.createChar(0, arrow);
  lcd.createChar(1, degree);
  lcd.home();
  lcd.print("vimbra menu");
  lcd.setCursor(0, 1);
  lcd.print(String("v") + 1 + "." + 2);
  mark("splash");
  delay(1500);

  drawMenu(0, 0);
  mark("menu");
  delay(1000);
  // Down: the arrow moves to the second entry.
  lcd.setCursor(0, 0);
  lcd.write(' ');
  lcd.setCursor(0, 1);
  lcd.write(byte(0));
  mark("menu-counter");
  delay(1000);

  showTemperature();
  mark("temperature");
  delay(2000);

  // A value being edited: the underline cursor after it, then the blinking one.
  lcd.clear();
  lcd.print("Set point:");
  lcd.setCursor(0, 1);
  lcd.print(22.75, 1);
  lcd.cursor();
  mark("edit");
  delay(1000);
  lcd.noCursor();
  lcd.blink();
  delay(1000);
  lcd.noBlink();

  lcd.clear();
  lcd.print("<< scrolling >>");
  for (int i = 0; i < 3; ++i) {
    lcd.scrollDisplayLeft();
    delay(300);
  }
  mark("scrolled");
  delay(500);
  for (int i = 0; i < 3; ++i) {
    lcd.scrollDisplayRight();
  }

  // Right to left from the last column; then text that pushes the display left as it comes.
  lcd.clear();
  lcd.setCursor(15, 0);
  lcd.rightToLeft();
  lcd.print("olleh");
  lcd.leftToRight();
  lcd.setCursor(16, 1);
  lcd.autoscroll();
  lcd.print("ab");
  lcd.noAutoscroll();
  mark("directions");
  delay(1000);

  lcd.noDisplay();
  mark("display-off");
  delay(500);
  lcd.display();

  // Numbers of the other kinds: a negative int, octal, a double with the default two
  // decimals, a long, an unsigned in hex, no decimals (rounded half up).
  lcd.clear();
  lcd.print(-273);
  lcd.print(' ');
  lcd.print(255, OCT);
  lcd.print(' ');
  lcd.print(3.14159);
  lcd.setCursor(0, 1);
  lcd.print(100000L);
  lcd.print(' ');
  lcd.print(40000U, HEX);
  lcd.print(' ');
  lcd.print(2.5, 0);
  mark("numbers");
  delay(1000);

  lcd.clear();
  lcd.print("Counter");
#ifdef VIMBRA_HOST
  lcd.print(std::string(" (host)"));
#endif
  mark("counter");
  delay(1000);
}

// Seconds since the start; the button shows that it is pressed. After 20 s the backlight
// goes out. Drawing alone moves the clock on, as on the board.
void loop() {
  unsigned long now = millis();
  lcd.setCursor(0, 1);
  lcd.print(now / 1000);
  lcd.print(" s ");
  lcd.print(digitalRead(BUTTON) == LOW ? "pressed" : "       ");
  if (!asleep && now >= 20000) {
    asleep = true;
    lcd.noBacklight();
    mark("asleep");
    delay(1000);
    lcd.setBacklight(1);
    mark("awake");
  }
}
