// The stimulus of a host sketch: what the world does to the board and when (pins driven high,
// low or let go, buttons pressed, analog values, bytes arriving on Serial), read from a text
// of one event a line:
//
//     at 2s press 2 for 100ms      # a button to ground, held 100 ms
//     at 2.5s pin 7 high
//     +1ms pin 7 open              # 1 ms after the line before
//     from 3s analog A0 512
//     at 4s serial "AT\r\n"
//
// Times are a command log's (`0`, `40us`, `250ms`, `1.5s`), from the run's start, at most
// STIM_MAX_US. Every malformed line is refused with its number and why.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vimbra::arduino {

inline constexpr std::uint64_t STIM_MAX_US = 3600ULL * 1000000ULL;
inline constexpr int STIM_PINS = 64;
inline constexpr int STIM_ANALOG_PINS = 8;
inline constexpr int STIM_FIRST_ANALOG_PIN = 14; // A0 on an Uno
inline constexpr int STIM_ANALOG_MAX = 1023;

enum class stim_kind : std::uint8_t {
    level = 0,  // `pin` drives a pin to `value` (stim_level)
    analog = 1, // analogRead(`pin`, 0 to 7) gives `value` from now on
    serial = 2, // the bytes `text` start to arrive on Serial
};

enum class stim_level : std::uint8_t { low = 0, high = 1, open = 2 };

struct stim_event {
    std::uint64_t at_us = 0;
    stim_kind kind = stim_kind::level;
    std::uint8_t pin = 0;
    std::uint16_t value = 0;
    std::size_t text_at = 0; // serial: where its bytes start in stimulus::bytes
    std::size_t text_size = 0;
};

// The events in time order (the order of the lines among those at one time).
struct stimulus {
    std::vector<stim_event> events;
    std::string bytes; // the serial texts, one after another
};

// A time as a command log's wait writes it: "0", or a decimal number and s, ms or us in whole
// microseconds, at most STIM_MAX_US. False for anything else.
bool stim_parse_time(std::string_view text, std::uint64_t* us);
// The pin of a word: 0 to 63, or A0 to A7 (14 to 21). -1 for anything else.
int stim_parse_pin(std::string_view text);
// An analog input of a word: A0 to A7, 0 to 7, or 14 to 21, as 0 to 7. -1 for anything else.
int stim_parse_analog_pin(std::string_view text);
// A word for a message: printable ASCII as it is, other bytes as \xHH, at most 40 characters
// (then "...").
std::string stim_quote(std::string_view text);

// Reads `text`. Returns true, or false with "NAME:LINE: what" in `message` (no line end).
// Lines end at LF, CR LF or a lone CR. `out` is only changed when the text is accepted.
bool stim_parse(std::string_view text, std::string_view name, stimulus* out, std::string* message);

} // namespace vimbra::arduino
