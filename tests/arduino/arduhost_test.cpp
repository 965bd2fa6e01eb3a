// The board's calls as the Arduino reference documents them: what they return for a given
// stimulus, and the time they take on the sketch's clock.
#define VIMBRA_ARDUINO_NO_MAIN // the test's main is GoogleTest's
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <string>

#include "arduino/arduhost.hpp"
#include "vimbra/arduino/Arduino.h"
#include "vimbra/arduino/EEPROM.h"
#include "vimbra/arduino/Wire.h"

namespace {

namespace board = vimbra::arduino;

struct call_case {
    const char* name;
    std::string stimulus;
    std::function<std::string()> call;
    std::string expected;
};

void PrintTo(const call_case& c, std::ostream* out) {
    *out << c.name;
}

// What the call printed or returned, with the time it took on the sketch's clock.
std::string timed(const std::function<std::string()>& call) {
    const std::uint64_t before = board::host_now();
    const std::string result = call();
    return result + " in " + std::to_string(board::host_now() - before) + "us";
}

class BoardCalls : public ::testing::TestWithParam<call_case> {};

TEST_P(BoardCalls, AsDocumented) {
    board::stimulus stim;
    std::string message;
    ASSERT_TRUE(board::stim_parse(GetParam().stimulus, "calls", &stim, &message)) << message;
    board::host_setup setup;
    setup.stim = &stim;
    board::host_start(setup, board::host_sink{});
    EXPECT_EQ(GetParam().call(), GetParam().expected);
    board::host_start(board::host_setup{}, board::host_sink{}); // nothing left pointing here
}

std::string n(long value) {
    return std::to_string(value);
}

// The values with blanks between; a braced list is evaluated from left to right.
std::string join(std::initializer_list<long> values) {
    std::string out;
    for (const long value : values) {
        if (!out.empty()) {
            out += ' ';
        }
        out += n(value);
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Calls, BoardCalls,
    ::testing::Values(
        // xorshift64 from 0x2545F4914F6CDD1D: its first three states modulo 100 are 51, 8, 35;
        // from the seed 42, the first modulo 1000 is 674.
        call_case{"RandomFromTheStart", "",
                  [] {
                      return join({random(100), random(100), random(100)});
                  },
                  "51 8 35"},
        call_case{"RandomSeeded", "",
                  [] {
                      randomSeed(42);
                      return n(random(1000));
                  },
                  "674"},
        call_case{"RandomSeedZeroChangesNothing", "",
                  [] {
                      randomSeed(0);
                      return n(random(100));
                  },
                  "51"},
        call_case{"RandomEmptyRanges", "",
                  [] { return n(random(0)) + " " + n(random(-5)) + " " + n(random(7, 7)); },
                  "0 0 7"},
        call_case{"RandomInARange", "", [] { return n(random(10, 20)); }, "11"},
        // Sound takes no time and changes nothing.
        call_case{"Tone", "",
                  [] {
                      return timed([] {
                          tone(9, 440, 100);
                          noTone(9);
                          return "";
                      });
                  },
                  " in 0us"},
        // The EEPROM starts erased; addresses wrap at 1024; put and get keep the bytes.
        call_case{"EepromErased", "", [] { return n(EEPROM.read(5)) + " " + n(EEPROM.length()); },
                  "255 1024"},
        call_case{"EepromWrite", "",
                  [] {
                      return timed([] {
                          EEPROM.write(1027, 7);
                          return n(EEPROM[3]);
                      });
                  },
                  "7 in 3304us"},
        call_case{"EepromUpdateSame", "",
                  [] {
                      EEPROM.write(3, 7);
                      return timed([] {
                          EEPROM.update(3, 7);
                          return "";
                      });
                  },
                  " in 4us"},
        call_case{"EepromPutGet", "",
                  [] {
                      EEPROM.put(10, std::int32_t{-2});
                      std::int32_t back = 0;
                      EEPROM.get(10, back);
                      return n(back) + " " + n(EEPROM.read(10)) + " " + n(EEPROM.read(14));
                  },
                  "-2 254 255"},
        call_case{"EepromReference", "",
                  [] {
                      EEPROM[0] = 10;
                      EEPROM[0] += 5;
                      ++EEPROM[0];
                      return n(EEPROM[0]);
                  },
                  "16"},
        // Only a declared device answers: 0, or 2 for an address nobody acknowledges.
        call_case{"WireScan", "",
                  [] {
                      board::host_i2c_declare(0x3F);
                      Wire.beginTransmission(0x3F);
                      Wire.write(1);
                      const int there = Wire.endTransmission();
                      Wire.beginTransmission(0x10);
                      return n(there) + " " + n(Wire.endTransmission());
                  },
                  "0 2"},
        call_case{"WireRead", "",
                  [] {
                      board::host_i2c_declare(0x3F);
                      return join({Wire.requestFrom(0x3F, 2), Wire.read(), Wire.available(),
                                   Wire.requestFrom(0x11, 2), Wire.read()});
                  },
                  "2 255 1 0 -1"},
        // Serial's bytes arrive one by one at the rate of begin: at 9600 bit/s, 1041 us each.
        call_case{"SerialArrives", "at 1ms serial \"ab\"\n",
                  [] {
                      Serial.begin(9600);
                      delay(2);
                      return join({Serial.available(), (delay(1), Serial.available()),
                                   Serial.read(), (delay(1), Serial.peek()), Serial.read(),
                                   Serial.read()});
                  },
                  "0 1 97 98 98 -1"},
        call_case{"SerialReadStringUntil", "at 0 serial \"one\\ntwo\"\n",
                  [] {
                      Serial.begin(115200);
                      const String first = Serial.readStringUntil('\n');
                      const String second = Serial.readStringUntil('\n'); // at its timeout
                      return std::string(first.c_str()) + "|" + second.c_str();
                  },
                  "one|two"},
        call_case{"SerialParse", "at 0 serial \"x-42;7.25 v\"\n",
                  [] {
                      Serial.begin(115200);
                      const long whole = Serial.parseInt();
                      const float part = Serial.parseFloat();
                      const long none = Serial.parseInt();
                      return n(whole) + " " + std::to_string(part) + " " + n(none);
                  },
                  "-42 7.250000 0"},
        // A timed read that gets nothing waits its timeout on the clock.
        call_case{"SerialTimeout", "",
                  [] {
                      Serial.setTimeout(50);
                      return timed([] { return n(Serial.parseInt()); });
                  },
                  "0 in 50004us"},
        // Pins: the stimulus drives them; an open input reads its pull-up, or LOW.
        call_case{"PinLevels", "at 0 pin 5 high\nat 0 pin 6 low\n",
                  [] {
                      pinMode(7, INPUT_PULLUP);
                      pinMode(8, INPUT);
                      pinMode(9, OUTPUT);
                      digitalWrite(9, HIGH);
                      pinMode(6, INPUT_PULLUP);
                      std::string levels;
                      for (const int pin : {5, 6, 7, 8, 9, 64}) {
                          levels += n(digitalRead(static_cast<uint8_t>(pin)));
                      }
                      return levels;
                  },
                  "101010"},
        call_case{"PressOverTime", "at 1ms press 4 for 2ms\n",
                  [] {
                      pinMode(4, INPUT_PULLUP);
                      std::string levels;
                      for (int i = 0; i < 4; ++i) {
                          levels += n(digitalRead(4));
                          delay(1);
                      }
                      return levels;
                  },
                  "1001"},
        call_case{"AnalogFromATime", "at 0 analog A2 100\nfrom 1ms analog A2 900\n",
                  [] {
                      const int before = analogRead(A2);
                      delay(1);
                      const int after = analogRead(2);
                      return n(before) + " " + n(after) + " " + n(analogRead(A7));
                  },
                  "100 900 0"},
        // The spin calls take time.
        call_case{"SpinCallsTakeTime", "",
                  [] {
                      return timed([] {
                          return n(Serial.available() + Wire.available() + digitalRead(2) +
                                   static_cast<int>(millis() * 0));
                      });
                  },
                  "0 in 16us"}),
    [](const ::testing::TestParamInfo<call_case>& param) { return param.param.name; });

struct interrupt_case {
    const char* name;
    std::string stimulus;
    int mode;
    bool disable;         // interrupts off for the first 5 ms
    std::string expected; // the handler's runs: the time of each in us
};

void PrintTo(const interrupt_case& c, std::ostream* out) {
    *out << c.name;
}

std::string* runs = nullptr;

void record_run() {
    *runs += std::to_string(board::host_now()) + " ";
}

class Interrupts : public ::testing::TestWithParam<interrupt_case> {};

// A handler on pin 2 runs at the moment of each edge its mode names, whatever the sketch is
// doing (here waiting 10 ms); while interrupts are off, at the moment they are on again.
TEST_P(Interrupts, RunAtTheirEdges) {
    board::stimulus stim;
    std::string message;
    ASSERT_TRUE(board::stim_parse(GetParam().stimulus, "edges", &stim, &message)) << message;
    board::host_setup setup;
    setup.stim = &stim;
    board::host_start(setup, board::host_sink{});
    std::string seen;
    runs = &seen;
    attachInterrupt(digitalPinToInterrupt(2), record_run, GetParam().mode);
    if (GetParam().disable) {
        noInterrupts();
        delayMicroseconds(5000);
        interrupts();
    }
    delay(10);
    detachInterrupt(0);
    EXPECT_EQ(seen, GetParam().expected);
    runs = nullptr;
    board::host_start(board::host_setup{}, board::host_sink{});
}

constexpr const char* EDGES = "at 1ms pin 2 high\nat 2ms pin 2 low\nat 3ms pin 2 low\n"
                              "at 6ms pin 2 high\n";

INSTANTIATE_TEST_SUITE_P(
    Modes, Interrupts,
    ::testing::Values(interrupt_case{"Change", EDGES, CHANGE, false, "1000 2000 6000 "},
                      interrupt_case{"Rising", EDGES, RISING, false, "1000 6000 "},
                      interrupt_case{"Falling", EDGES, FALLING, false, "2000 "},
                      // Raised twice while off: it runs once, when they are on again.
                      interrupt_case{"HeldWhileOff", EDGES, CHANGE, true, "5000 6000 "},
                      interrupt_case{"OtherPinsRaiseNothing", "at 1ms pin 4 high\n", CHANGE, false,
                                     ""}),
    [](const ::testing::TestParamInfo<interrupt_case>& param) { return param.param.name; });

} // namespace
