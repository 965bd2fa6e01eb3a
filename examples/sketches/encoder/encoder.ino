// A rotary encoder on the two interrupt pins of an Uno, read in its interrupt handlers, and a
// 16 x 2 module on a 4-bit bus showing the volume it sets: a number and a bar. The encoder's
// push button sets the volume back to 0.
//
// It builds unchanged for a board and, with vimbracli's host environment, into a program that
// writes the command log of what it shows; encoder.stim turns the knob:
//
//     c++ -x c++ $(pkg-config --cflags vimbra-arduino) encoder.ino
//         $(pkg-config --libs vimbra-arduino) -o encoder            (one command)
//     ./encoder --run 4s --input encoder.stim | vimbracli --replay - --at volume3 --text
//
// The encoder's contacts A and B go to ground on pins 2 and 3 (a closed contact reads LOW);
// a detent clockwise closes A, then B, then opens A, then B.
#include <LiquidCrystal.h>

#ifndef VIMBRA_HOST
#define mark(name) ((void)0) // marks are for the host's log only
#endif

// RS, E, D4 to D7.
LiquidCrystal lcd(12, 11, 7, 6, 5, 4);

const int ENCODER_A = 2;
const int ENCODER_B = 3;
const int BUTTON = 8;

// Quarter steps, counted by the handlers; four make a detent.
volatile long quarters = 0;
volatile byte lastState = 0;

// The change of each move of the two contacts (the old state times four and the new one):
// +1 clockwise, -1 anticlockwise, 0 for none or a skipped state.
const int8_t MOVES[16] = {0, -1, 1, 0, 1, 0, 0, -1, -1, 0, 0, 1, 0, 1, -1, 0};

void onContact() {
  byte state = digitalRead(ENCODER_A) << 1 | digitalRead(ENCODER_B);
  quarters += MOVES[lastState << 2 | state];
  lastState = state;
}

long shown = -1000;

void show(long volume) {
  lcd.setCursor(12, 0);
  if (volume >= 0 && volume < 10) {
    lcd.print("  ");
  } else if (volume > -10 && volume < 100) {
    lcd.print(' ');
  }
  lcd.print(volume);
  lcd.setCursor(0, 1);
  for (int i = 0; i < 16; ++i) {
    lcd.write(i < volume ? byte(0xFF) : byte(' '));
  }
  shown = volume;
  String name = String("volume") + volume;
  mark(name.c_str());
}

void setup() {
  pinMode(ENCODER_A, INPUT_PULLUP);
  pinMode(ENCODER_B, INPUT_PULLUP);
  pinMode(BUTTON, INPUT_PULLUP);
  lastState = digitalRead(ENCODER_A) << 1 | digitalRead(ENCODER_B);
  attachInterrupt(digitalPinToInterrupt(ENCODER_A), onContact, CHANGE);
  attachInterrupt(digitalPinToInterrupt(ENCODER_B), onContact, CHANGE);
  lcd.begin(16, 2);
  lcd.print("Volume");
  show(0);
}

void loop() {
  if (digitalRead(BUTTON) == LOW) {
    noInterrupts();
    quarters = 0;
    interrupts();
    if (shown != 0) {
      show(0);
      mark("reset");
    }
  }
  noInterrupts();
  long volume = quarters / 4;
  interrupts();
  if (volume != shown) {
    show(volume);
  }
  delay(5);
}
