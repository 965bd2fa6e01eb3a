// A menu on a 16 x 2 module behind an I2C backpack, driven by two buttons: NEXT moves the
// arrow down the entries, SELECT opens the one it points at and, in an entry, goes back to
// the menu (NEXT does something in some entries). 'n' and 's' on Serial press them too. After
// 20 s without a press the backlight goes out, and the next press only lights it again. The
// counter keeps its count in the EEPROM.
//
// It builds unchanged for a board and, with vimbracli's host environment, into a program
// that writes the command log of what it shows; menu.stim presses the buttons so that every
// screen is shown, each named by a mark:
//
//     c++ -x c++ $(pkg-config --cflags vimbra-arduino) menu.ino
//         $(pkg-config --libs vimbra-arduino) -o menu              (one command)
//     ./menu --run 40s --input menu.stim --log menu.log
//     vimbracli --replay menu.log --at temperature -o temperature.png
//
// A temperature sensor (an LM35, 10 mV a degree) is on A0; the buttons go to ground on pins
// 2 and 3.
#include <EEPROM.h>
#include <LiquidCrystal_I2C.h>
#include <Wire.h>

#ifdef VIMBRA_HOST
#include <string>
#else
#define mark(name) ((void)0) // marks are for the host's log only
#endif

const uint8_t ADDRESS = 0x27;
LiquidCrystal_I2C lcd(ADDRESS, 16, 2);

const int SENSOR = A0;
const int NEXT = 2;   // LOW while pressed
const int SELECT = 3; // LOW while pressed
const unsigned long IDLE_MS = 20000;
const int COUNT_ADDRESS = 0; // the counter's byte in the EEPROM

byte arrow[8] = {B00000, B01000, B01100, B01110, B01100, B01000, B00000, B00000};
byte degree[8] = {B01100, B10010, B10010, B01100, B00000, B00000, B00000, B00000};

enum Entry { TEMPERATURE, COUNTER, SET_POINT, SCROLLING, DIRECTIONS, NUMBERS, DISPLAY_TEST };
const char* const ENTRIES[] = {"Temperature", "Counter", "Set point", "Scrolling",
                               "Directions",  "Numbers", "Display off"};
// The mark of the menu with the arrow on each entry.
const char* const MENU_MARKS[] = {"menu",       "menu-counter",    "menu-setpoint",
                                  "menu-scrolling", "menu-directions", "menu-numbers",
                                  "menu-display"};
const int ENTRY_COUNT = 7;

int selected = 0;
int top = 0;
bool inEntry = false;
bool asleep = false;
// A board's unsigned long is 32 bits, a host's 64: uint32_t keeps `now - lastPress` right
// across millis()'s wrap on both.
uint32_t lastPress = 0;
int lastNext = HIGH;
int lastSelect = HIGH;
float setPoint = 22.75;

// True once for each press: the pin going from HIGH to LOW.
bool pressed(int pin, int& last) {
  int now = digitalRead(pin);
  bool press = last == HIGH && now == LOW;
  last = now;
  return press;
}

// The two entries from `top` on, the arrow before the selected one.
void drawMenu() {
  if (selected < top) {
    top = selected;
  } else if (selected > top + 1) {
    top = selected - 1;
  }
  lcd.clear();
  for (int row = 0; row < 2 && top + row < ENTRY_COUNT; ++row) {
    lcd.setCursor(0, row);
    lcd.write(top + row == selected ? byte(0) : byte(' '));
    lcd.print(ENTRIES[top + row]);
  }
  mark(MENU_MARKS[selected]);
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
  mark("temperature");
}

// An erased EEPROM reads 255: a count of 0.
int count() {
  byte stored = EEPROM.read(COUNT_ADDRESS);
  return stored == 255 ? 0 : stored;
}

void showCount() {
  lcd.setCursor(0, 1);
  lcd.print("count ");
  lcd.print(count());
  lcd.print("   ");
}

void showSetPoint() {
  lcd.setCursor(0, 1);
  lcd.print(setPoint, 1);
  lcd.print(' ');
  lcd.setCursor(4, 1);
}

// Right to left from the last column; then text that pushes the display left as it comes.
void showDirections() {
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
}

// Numbers of the other kinds: a negative int, octal, a double with the default two decimals,
// a long, an unsigned in hex, no decimals (rounded half up).
void showNumbers() {
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
}

void openEntry(int entry) {
  switch (entry) {
  case TEMPERATURE:
    showTemperature();
    break;
  case COUNTER:
    lcd.clear();
    lcd.print("Counter");
#ifdef VIMBRA_HOST
    lcd.print(std::string(" (host)"));
#endif
    showCount();
    mark("counter");
    break;
  case SET_POINT:
    // A value being edited: the underline cursor after it; NEXT adds half a degree, and
    // the cursor blinks from then on.
    lcd.clear();
    lcd.print("Set point:");
    showSetPoint();
    lcd.cursor();
    mark("edit");
    break;
  case SCROLLING:
    lcd.clear();
    lcd.print("<< scrolling >>");
    for (int i = 0; i < 3; ++i) {
      lcd.scrollDisplayLeft();
      delay(300);
    }
    mark("scrolled");
    break;
  case DIRECTIONS:
    showDirections();
    break;
  case NUMBERS:
    showNumbers();
    break;
  case DISPLAY_TEST:
    lcd.clear();
    lcd.print("Display test");
    lcd.noDisplay();
    mark("display-off");
    delay(500);
    lcd.display();
    mark("display-on");
    break;
  }
}

// NEXT inside an entry.
void nextInEntry() {
  if (selected == COUNTER) {
    EEPROM.update(COUNT_ADDRESS, (count() + 1) % 255);
    showCount();
    mark("counted");
  } else if (selected == SET_POINT) {
    setPoint += 0.5;
    lcd.noCursor();
    showSetPoint();
    lcd.blink();
    mark("edit-up");
  }
}

void press(bool next) {
  lastPress = millis();
  if (asleep) {
    asleep = false;
    lcd.backlight();
    mark("awake");
    return;
  }
  if (inEntry && next) {
    nextInEntry();
  } else if (inEntry) {
    inEntry = false;
    lcd.noCursor();
    lcd.noBlink();
    drawMenu();
  } else if (next) {
    selected = (selected + 1) % ENTRY_COUNT;
    drawMenu();
  } else {
    inEntry = true;
    openEntry(selected);
  }
}

void setup() {
  Serial.begin(9600);
  pinMode(NEXT, INPUT_PULLUP);
  pinMode(SELECT, INPUT_PULLUP);
  Wire.begin();
  Wire.beginTransmission(ADDRESS);
  if (Wire.endTransmission() != 0) {
    Serial.println("no display at 0x27");
  }
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
  drawMenu();
  lastPress = millis();
}

void loop() {
  bool next = pressed(NEXT, lastNext);
  bool select = pressed(SELECT, lastSelect);
  while (Serial.available() > 0) {
    int c = Serial.read();
    next = next || c == 'n';
    select = select || c == 's';
  }
  if (next) {
    press(true);
  } else if (select) {
    press(false);
  }
  uint32_t now = millis();
  if (!asleep && now - lastPress >= IDLE_MS) {
    asleep = true;
    lcd.noBacklight();
    mark("asleep");
  }
  delay(10);
}
