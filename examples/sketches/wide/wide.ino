// A 40 x 4 module, which is two controllers behind one connector: rows 1 and 2 answer the
// first enable line, rows 3 and 4 the second. The sketch fills all four rows, then moves
// the blinking cursor from the last cell to the first, from one controller to the other.
//
//     g++ -x c++ -I/usr/include/vimbra/arduino wide.ino -lvimbra_arduino -o wide
//     ./wide --run 3s | vimbracli --replay - -p wide-40x4.prof --text
#include <LiquidCrystal.h>

#ifndef VIMBRA_HOST
#define mark(name) ((void)0)
#endif

// RS, RW, E1, E2, D4 to D7.
LiquidCrystal lcd(12, 11, 10, 9, 5, 4, 3, 2);

void setup() {
  lcd.begin(40, 4);
  for (int row = 0; row < 4; ++row) {
    lcd.setCursor(0, row);
    lcd.print("Row ");
    lcd.print(row + 1);
    lcd.print(' ');
    for (int col = 6; col < 40; ++col) {
      lcd.write('a' + (col + row) % 26);
    }
  }
  lcd.setCursor(39, 3);
  lcd.blink();
  mark("filled");
  delay(1000);
  lcd.setCursor(0, 0);
  mark("cursor-top");
  delay(1000);
}

// A spinner in the last cell of the first row.
void loop() {
  lcd.setCursor(39, 0);
  lcd.write("-|/"[millis() / 250 % 3]);
  delay(50);
}
