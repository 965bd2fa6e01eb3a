// The stimulus of a host sketch: whole texts, read into their events in time order or
// refused with the line and the reason.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>

#include "arduino/ardustim.hpp"

namespace {

using vimbra::arduino::stim_kind;
using vimbra::arduino::stimulus;

// The events as one line each: "TIME pin P LEVEL", "TIME analog N VALUE", "TIME serial HEX".
std::string describe(const stimulus& stim) {
    static const char* const LEVELS[] = {"low", "high", "open"};
    std::string out;
    for (const auto& event : stim.events) {
        out += std::to_string(event.at_us) + " ";
        switch (event.kind) {
        case stim_kind::level:
            out += "pin " + std::to_string(event.pin) + " " + LEVELS[event.value % 3];
            break;
        case stim_kind::analog:
            out += "analog " + std::to_string(event.pin) + " " + std::to_string(event.value);
            break;
        case stim_kind::serial:
            out += "serial";
            for (std::size_t i = 0; i < event.text_size; ++i) {
                char hex[4];
                std::snprintf(hex, sizeof hex, " %02X",
                              static_cast<unsigned char>(stim.bytes[event.text_at + i]));
                out += hex;
            }
            break;
        }
        out += "\n";
    }
    return out;
}

struct stim_case {
    const char* name;
    std::string text;
    std::string expected; // the events, or the message of a refusal
};

void PrintTo(const stim_case& c, std::ostream* out) {
    *out << c.name;
}

class StimulusTable : public ::testing::TestWithParam<stim_case> {};

TEST_P(StimulusTable, ReadsOrRefuses) {
    stimulus stim;
    std::string message;
    const bool ok = vimbra::arduino::stim_parse(GetParam().text, "buttons.stim", &stim, &message);
    EXPECT_EQ(ok ? describe(stim) : message, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StimulusTable,
    ::testing::Values(
        stim_case{"Empty", "", ""},
        stim_case{"CommentsAndBlanks", "# nothing\n\n   \t# at 1s pin 2 low\n", ""},
        // A press is the pin low, then let go; A0 is pin 14 and analog input 0.
        stim_case{"PressAndRelease", "at 2s press 2 for 100ms\n",
                  "2000000 pin 2 low\n2100000 pin 2 open\n"},
        stim_case{"LevelsInEveryForm",
                  "at 0 pin 7 HIGH\nat 1us pin 7 0\nat 2us pin A0 open\nat 3us pin 63 1\n",
                  "0 pin 7 high\n1 pin 7 low\n2 pin 14 open\n3 pin 63 high\n"},
        stim_case{"AnalogFromATime", "from 3s analog A0 512\nat 1.5s analog 7 1023\n",
                  "1500000 analog 7 1023\n3000000 analog 0 512\n"},
        stim_case{"AnalogByPinNumber", "at 0 analog 21 0\n", "0 analog 7 0\n"},
        // Lines sort by time; lines at one time keep their order.
        stim_case{"SortedStably",
                  "at 2s pin 1 high\nat 1s pin 2 low\nat 2s pin 3 low\nat 1s pin 4 high\n",
                  "1000000 pin 2 low\n1000000 pin 4 high\n2000000 pin 1 high\n"
                  "2000000 pin 3 low\n"},
        // + counts from the line before; a press's release does not move it.
        stim_case{"RelativeTimes", "at 1s press 2 for 50ms\n+2ms pin 3 low\n+250us pin 3 open\n",
                  "1000000 pin 2 low\n1002000 pin 3 low\n1002250 pin 3 open\n"
                  "1050000 pin 2 open\n"},
        stim_case{"SerialEscapes", "at 4s serial \"AT\\r\\n\\x7f\\\\\\\"\\t\\0#\" # a comment\n",
                  "4000000 serial 41 54 0D 0A 7F 5C 22 09 00 23\n"},
        stim_case{"EmptySerialIsNothing", "at 1s serial \"\"\n", ""},
        stim_case{"LineEnds", "at 1s pin 2 low\r\nat 2s pin 2 high\rat 3s pin 2 open",
                  "1000000 pin 2 low\n2000000 pin 2 high\n3000000 pin 2 open\n"},
        stim_case{"FractionsOfUnits", "at 1.000001s pin 1 low\nat 0.5ms pin 1 high\n",
                  "500 pin 1 high\n1000001 pin 1 low\n"},
        stim_case{"TheLongestTime", "at 3600s pin 1 low\n", "3600000000 pin 1 low\n"},
        // Refusals: the line's number and the reason, the word quoted and made printable.
        stim_case{"UnknownStart", "at 1s pin 2 low\nwhen 2s pin 2 low\n",
                  "buttons.stim:2: expected 'at TIME', 'from TIME' or '+TIME' at the start of "
                  "the line, not 'when'"},
        stim_case{"TimeWithoutUnit", "at 5 pin 2 low\n",
                  "buttons.stim:1: '5' is not a time (0, 40us, 250ms, 1.5s; at most 3600s)"},
        stim_case{"PartOfAMicrosecond", "at 1.5us pin 2 low\n",
                  "buttons.stim:1: '1.5us' is not a time (0, 40us, 250ms, 1.5s; at most 3600s)"},
        stim_case{"PastTheLongestRun", "at 3600.000001s pin 2 low\n",
                  "buttons.stim:1: '3600.000001s' is not a time (0, 40us, 250ms, 1.5s; at most "
                  "3600s)"},
        stim_case{"RelativePastTheLongestRun", "at 3599s pin 1 low\n+2s pin 1 high\n",
                  "buttons.stim:2: '+2s' after the line before is past 3600s"},
        stim_case{"AtWithoutTime", "at\n",
                  "buttons.stim:1: at needs a time (0, 40us, 250ms, 1.5s; at most 3600s)"},
        stim_case{"NoAction", "at 1s\n",
                  "buttons.stim:1: nothing happens: pin, press, analog or serial is missing "
                  "after the time"},
        stim_case{"UnknownAction", "at 1s toggle 2\n",
                  "buttons.stim:1: expected pin, press, analog or serial after the time, not "
                  "'toggle'"},
        stim_case{"PinTooHigh", "at 1s pin 64 low\n",
                  "buttons.stim:1: '64' is not a pin from 0 to 63 (or A0 to A7)"},
        stim_case{"PinMissing", "at 1s press\n",
                  "buttons.stim:1: a pin is missing (0 to 63, or A0 to A7)"},
        stim_case{"LevelUnknown", "at 1s pin 2 maybe\n",
                  "buttons.stim:1: 'maybe' is not a level: high, low or open"},
        stim_case{"PressWithoutDuration", "at 1s press 2\n",
                  "buttons.stim:1: press needs 'for DURATION' (e.g. press 2 for 100ms)"},
        stim_case{"ZeroDuration", "at 1s press 2 for 0\n",
                  "buttons.stim:1: for: '0' is not a duration (40us, 250ms, 1.5s; at least "
                  "1us)"},
        stim_case{"TrailingWords", "at 1s pin 2 low now\n",
                  "buttons.stim:1: unexpected 'now' at the end of the line"},
        stim_case{"AnalogTooHigh", "at 1s analog A0 1024\n",
                  "buttons.stim:1: '1024' is not an analog value from 0 to 1023"},
        stim_case{"NoSuchAnalogInput", "at 1s analog 9 100\n",
                  "buttons.stim:1: '9' is not an analog input (A0 to A7)"},
        stim_case{"SerialWithoutQuotes", "at 1s serial AT\n",
                  "buttons.stim:1: serial: expected a text in double quotes (e.g. serial "
                  "\"AT\\r\\n\")"},
        stim_case{"SerialUnclosed", "at 1s serial \"AT\n",
                  "buttons.stim:1: serial: the text has no closing double quote"},
        stim_case{"SerialBadEscape", "at 1s serial \"\\q\"\n",
                  "buttons.stim:1: serial: '\\q\"' is not an escape (\\\\, \\\", \\r, \\n, \\t, "
                  "\\0, \\xHH)"},
        stim_case{"SerialShortHex", "at 1s serial \"\\x4\"\n",
                  "buttons.stim:1: serial: '\\x4\"' is not an escape (\\\\, \\\", \\r, \\n, \\t, "
                  "\\0, \\xHH)"},
        // Bytes that are no text are shown as such, and a long word is cut.
        stim_case{"BinaryWord", std::string("at 1s pin \x01\xff\0 low\n", 15),
                  "buttons.stim:1: '\\x01\\xFF\\x00' is not a pin from 0 to 63 (or A0 to A7)"},
        stim_case{"LongWord", "at 1s " + std::string(100, 'z') + "\n",
                  "buttons.stim:1: expected pin, press, analog or serial after the time, not '" +
                      std::string(40, 'z') + "...'"},
        stim_case{"HugeNumber", "at 99999999999999999999999s pin 1 low\n",
                  "buttons.stim:1: '99999999999999999999999s' is not a time (0, 40us, 250ms, "
                  "1.5s; at most 3600s)"}),
    [](const ::testing::TestParamInfo<stim_case>& param) { return param.param.name; });

} // namespace
