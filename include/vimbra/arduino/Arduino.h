// The host Arduino environment: a sketch's setup() and loop() built into a host program, on
// a simulated clock, with the display it drives written as a vimbracli command log.
//
//     c++ -x c++ $(pkg-config --cflags vimbra-arduino) sketch.ino
//         $(pkg-config --libs vimbra-arduino) -o sketch      (one command)
//     ./sketch --run 5s --input buttons.stim --log sketch.log
//
// The library's main() runs setup() once, then loop() until the clock reaches the time
// limit. This header defines that main(), weak: a program's own main() replaces it. Define
// VIMBRA_ARDUINO_NO_MAIN before including it in a program whose main() comes from a library
// (a GoogleTest test that runs sketches through vimbra_sketch.h).
//
// Time: delay, delayMicroseconds, millis and micros read and move the clock, and every call
// below costs about what it takes on a 16 MHz board (see the host environment's guide), so
// that a sketch that only draws, or waits in a loop for an input, still moves on. Inputs
// follow the stimulus (--input): pins, analog values and Serial's bytes over time, with
// interrupt handlers run when their pin changes.
#pragma once

#include <limits.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "Print.h"
#include "Stream.h"
#include "WString.h"
#include "binary.h"

#define VIMBRA_HOST 1

typedef uint8_t byte;
typedef bool boolean;
typedef unsigned int word;

#define HIGH 0x1
#define LOW 0x0
#define INPUT 0x0
#define OUTPUT 0x1
#define INPUT_PULLUP 0x2
#define LED_BUILTIN 13

// Interrupt modes, as an AVR numbers them (LOW is the level above).
#define CHANGE 1
#define FALLING 2
#define RISING 3
#define NOT_AN_INTERRUPT -1
// An Uno's: pin 2 is interrupt 0 and pin 3 interrupt 1.
#define digitalPinToInterrupt(pin) ((pin) == 2 ? 0 : ((pin) == 3 ? 1 : NOT_AN_INTERRUPT))

// The analog inputs of an Uno, which analogRead also takes as 0 to 7.
constexpr uint8_t A0 = 14;
constexpr uint8_t A1 = 15;
constexpr uint8_t A2 = 16;
constexpr uint8_t A3 = 17;
constexpr uint8_t A4 = 18;
constexpr uint8_t A5 = 19;
constexpr uint8_t A6 = 20;
constexpr uint8_t A7 = 21;

#define PI 3.1415926535897932384626433832795
#define HALF_PI 1.5707963267948966192313216916398
#define TWO_PI 6.283185307179586476925286766559
#define DEG_TO_RAD 0.017453292519943295769236907684886
#define RAD_TO_DEG 57.295779513082320876798154814105

#define bit(b) (1UL << (b))
#define bitRead(value, b) (((value) >> (b)) & 0x01)
#define bitSet(value, b) ((value) |= (1UL << (b)))
#define bitClear(value, b) ((value) &= ~(1UL << (b)))
#define bitWrite(value, b, on) ((on) ? bitSet(value, b) : bitClear(value, b))
#define lowByte(w) ((uint8_t)((w)&0xff))
#define highByte(w) ((uint8_t)((w) >> 8))

// Flash memory is memory here.
#define PROGMEM
#define pgm_read_byte(address) (*reinterpret_cast<const uint8_t*>(address))
#define pgm_read_word(address) (*reinterpret_cast<const uint16_t*>(address))

// The sketch's two functions.
void setup();
void loop();

// Time on the simulated clock. millis and micros wrap at 32 bits, as on the boards.
unsigned long millis();
unsigned long micros();
void delay(unsigned long ms);
void delayMicroseconds(unsigned int us);
void yield();
// Handlers wait while interrupts are off, and run when they are on again.
void noInterrupts();
void interrupts();
// `handler` runs when the pin of `interrupt` (digitalPinToInterrupt) changes as `mode` says:
// RISING, FALLING, CHANGE, or LOW (at every call that takes time while the pin is low).
void attachInterrupt(uint8_t interrupt, void (*handler)(), int mode);
void detachInterrupt(uint8_t interrupt);

// Pin stand-ins: pins 0 to 63, any other pin reads 0 and keeps nothing.
void pinMode(uint8_t pin, uint8_t mode);
void digitalWrite(uint8_t pin, uint8_t value);
int digitalRead(uint8_t pin);
int analogRead(uint8_t pin); // 0 to 1023
void analogWrite(uint8_t pin, int value);
void analogReference(uint8_t mode);
// No sound here: they take no time and change nothing.
void tone(uint8_t pin, unsigned int frequency, unsigned long duration = 0);
void noTone(uint8_t pin);

// The same pseudo-random numbers in every run: xorshift64 (shifts 13, 7, 17) from the seed
// 0x2545F4914F6CDD1D, or from randomSeed's (0 changes nothing); random(max) is the state
// modulo max.
long random(long max);
long random(long min, long max);
void randomSeed(unsigned long seed);

// x from one range to another, in whole numbers; an empty input range gives out_min.
long map(long x, long in_min, long in_max, long out_min, long out_max);

template <typename T, typename U> constexpr auto min(const T& a, const U& b) {
    return b < a ? b : a;
}
template <typename T, typename U> constexpr auto max(const T& a, const U& b) {
    return a < b ? b : a;
}
template <typename T, typename L, typename H>
constexpr T constrain(const T& x, const L& low, const H& high) {
    return x < low ? static_cast<T>(low) : (high < x ? static_cast<T>(high) : x);
}
template <typename T> constexpr auto sq(const T& x) {
    return x * x;
}
constexpr double radians(double degrees) {
    return degrees * DEG_TO_RAD;
}
constexpr double degrees(double radians) {
    return radians * RAD_TO_DEG;
}

// avr-libc's: `value` with `precision` decimals, right-aligned in `width` characters (left
// for a negative width), into `out`, which must hold them.
char* dtostrf(double value, signed char width, unsigned char precision, char* out);

// Serial: what the sketch prints goes to standard error (in-process runs: to the result),
// and bytes arrive as the stimulus says, at the rate of begin (9600 bit/s unless given).
class HardwareSerial : public Stream {
  public:
    void begin(unsigned long baud, uint8_t config = 0);
    void end() {}
    int available() override;
    int read() override;
    int peek() override;
    int availableForWrite() override { return 63; }
    void flush() override;
    explicit operator bool();
    size_t write(uint8_t value) override;
    size_t write(const uint8_t* buffer, size_t size) override;
    using Print::write;
};
extern HardwareSerial Serial;

namespace vimbra {
// Writes `mark NAME` to the command log now: a moment that a replay can be asked for by name
// (`--at NAME`). A name that is not 1 to 64 letters, digits, '_', '-' or '.' is not written:
// the result is false and standard error says why.
bool mark(const char* name);

namespace arduino {
// Runs the sketch: setup() once, then loop() until the time limit; the status of the run.
int run_sketch(int argc, char** argv);
} // namespace arduino
} // namespace vimbra

#ifndef VIMBRA_ARDUINO_NO_MAIN
// Weak, so that every file of a sketch may include this header and a program's own main()
// still wins.
[[gnu::weak]] int main(int argc, char** argv) {
    return vimbra::arduino::run_sketch(argc, argv);
}
#endif

#ifndef VIMBRA_NO_GLOBAL_MARK
// mark("menu") in a sketch; define VIMBRA_NO_GLOBAL_MARK when the sketch has a mark of its own.
inline bool mark(const char* name) {
    return vimbra::mark(name);
}
#endif
