#include "arduino/ardustim.hpp"

#include <algorithm>
#include <cstdio>
#include <new>

namespace vimbra::arduino {

namespace {

constexpr const char* TIME_HINT = "(0, 40us, 250ms, 1.5s; at most 3600s)";

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// A whole decimal number of at most `max`, no sign.
bool parse_whole(std::string_view text, long max, long* value) {
    if (text.empty()) {
        return false;
    }
    long v = 0;
    for (const char c : text) {
        if (!is_digit(c)) {
            return false;
        }
        v = v * 10 + (c - '0');
        if (v > max) {
            return false;
        }
    }
    *value = v;
    return true;
}

bool equals_lower(std::string_view text, std::string_view word) {
    if (text.size() != word.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
        if (c != word[i]) {
            return false;
        }
    }
    return true;
}

// One line cut into words, the double-quoted text of `serial` kept whole (quotes included).
struct line_reader {
    std::string_view text;
    std::size_t at = 0;

    void skip_blanks() {
        while (at < text.size() && is_blank(text[at])) {
            ++at;
        }
    }
    // The next word, empty at the end of the line or at a comment.
    std::string_view word() {
        skip_blanks();
        if (at >= text.size() || text[at] == '#') {
            return {};
        }
        const std::size_t start = at;
        while (at < text.size() && !is_blank(text[at]) && text[at] != '#') {
            ++at;
        }
        return text.substr(start, at - start);
    }
    bool at_quote() {
        skip_blanks();
        return at < text.size() && text[at] == '"';
    }
};

int hex_digit(char c) {
    if (is_digit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The double-quoted text at the reader's position, escapes resolved, appended to `out`.
// Returns an empty string, or why the text was refused.
std::string read_quoted(line_reader* line, std::string* out) {
    const std::string_view text = line->text;
    std::size_t i = line->at + 1;
    while (i < text.size() && text[i] != '"') {
        if (text[i] != '\\') {
            out->push_back(text[i++]);
            continue;
        }
        if (i + 1 >= text.size()) {
            break;
        }
        const char e = text[i + 1];
        i += 2;
        switch (e) {
        case '\\':
        case '"':
            out->push_back(e);
            continue;
        case 'r':
            out->push_back('\r');
            continue;
        case 'n':
            out->push_back('\n');
            continue;
        case 't':
            out->push_back('\t');
            continue;
        case '0':
            out->push_back('\0');
            continue;
        case 'x':
            if (i + 1 < text.size() && hex_digit(text[i]) >= 0 && hex_digit(text[i + 1]) >= 0) {
                out->push_back(static_cast<char>(hex_digit(text[i]) * 16 + hex_digit(text[i + 1])));
                i += 2;
                continue;
            }
            break;
        default:
            break;
        }
        return "serial: " +
               stim_quote(text.substr(i - 2, std::min<std::size_t>(4, text.size() - (i - 2)))) +
               " is not an escape (\\\\, \\\", \\r, \\n, \\t, \\0, \\xHH)";
    }
    if (i >= text.size()) {
        return "serial: the text has no closing double quote";
    }
    line->at = i + 1;
    return {};
}

// What one line says, or why not. `previous_us` is the time of the line before (for `+`).
struct line_result {
    std::string error;
    bool empty = true;
};

std::string expect_end(line_reader* line) {
    const std::string_view rest = line->word();
    if (!rest.empty()) {
        return "unexpected " + stim_quote(rest) + " at the end of the line";
    }
    return {};
}

std::string parse_level_event(line_reader* line, std::uint64_t at_us, bool press, stimulus* out) {
    const std::string_view pin_word = line->word();
    const int pin = stim_parse_pin(pin_word);
    if (pin < 0) {
        return pin_word.empty() ? "a pin is missing (0 to 63, or A0 to A7)"
                                : stim_quote(pin_word) + " is not a pin from 0 to 63 (or A0 to A7)";
    }
    stim_level level = stim_level::low;
    if (!press) {
        const std::string_view level_word = line->word();
        if (equals_lower(level_word, "high") || level_word == "1") {
            level = stim_level::high;
        } else if (equals_lower(level_word, "low") || level_word == "0") {
            level = stim_level::low;
        } else if (equals_lower(level_word, "open")) {
            level = stim_level::open;
        } else {
            return level_word.empty()
                       ? "a level is missing: high, low or open"
                       : stim_quote(level_word) + " is not a level: high, low or open";
        }
    }
    std::uint64_t for_us = 0;
    const std::string_view for_word = line->word();
    if (!for_word.empty()) {
        if (for_word != "for") {
            return "unexpected " + stim_quote(for_word) + " at the end of the line";
        }
        const std::string_view duration = line->word();
        if (!stim_parse_time(duration, &for_us) || for_us == 0) {
            return "for: " +
                   (duration.empty() ? std::string("a duration is missing")
                                     : stim_quote(duration) + " is not a duration") +
                   " (40us, 250ms, 1.5s; at least 1us)";
        }
        if (std::string error = expect_end(line); !error.empty()) {
            return error;
        }
    } else if (press) {
        return "press needs 'for DURATION' (e.g. press 2 for 100ms)";
    } else if (level == stim_level::open) {
        // nothing more to check
    }
    stim_event event;
    event.at_us = at_us;
    event.kind = stim_kind::level;
    event.pin = static_cast<std::uint8_t>(pin);
    event.value = static_cast<std::uint16_t>(level);
    out->events.push_back(event);
    if (for_us > 0) {
        event.at_us = at_us + for_us; // both at most STIM_MAX_US: no overflow
        event.value = static_cast<std::uint16_t>(stim_level::open);
        out->events.push_back(event);
    }
    return {};
}

std::string parse_analog_event(line_reader* line, std::uint64_t at_us, stimulus* out) {
    const std::string_view pin_word = line->word();
    const int pin = stim_parse_analog_pin(pin_word);
    if (pin < 0) {
        return pin_word.empty() ? "an analog input is missing (A0 to A7)"
                                : stim_quote(pin_word) + " is not an analog input (A0 to A7)";
    }
    const std::string_view value_word = line->word();
    long value = 0;
    if (!parse_whole(value_word, STIM_ANALOG_MAX, &value)) {
        return value_word.empty()
                   ? "an analog value is missing (0 to 1023)"
                   : stim_quote(value_word) + " is not an analog value from 0 to 1023";
    }
    if (std::string error = expect_end(line); !error.empty()) {
        return error;
    }
    stim_event event;
    event.at_us = at_us;
    event.kind = stim_kind::analog;
    event.pin = static_cast<std::uint8_t>(pin);
    event.value = static_cast<std::uint16_t>(value);
    out->events.push_back(event);
    return {};
}

std::string parse_serial_event(line_reader* line, std::uint64_t at_us, stimulus* out) {
    if (!line->at_quote()) {
        return "serial: expected a text in double quotes (e.g. serial \"AT\\r\\n\")";
    }
    const std::size_t start = out->bytes.size();
    if (std::string error = read_quoted(line, &out->bytes); !error.empty()) {
        return error;
    }
    if (std::string error = expect_end(line); !error.empty()) {
        return error;
    }
    stim_event event;
    event.at_us = at_us;
    event.kind = stim_kind::serial;
    event.text_at = start;
    event.text_size = out->bytes.size() - start;
    if (event.text_size > 0) {
        out->events.push_back(event);
    }
    return {};
}

// One line: empty, a comment, or `at|from TIME ACTION ...` or `+TIME ACTION ...`.
std::string parse_line(std::string_view text, std::uint64_t* previous_us, stimulus* out) {
    line_reader line{text};
    std::string_view first = line.word();
    if (first.empty()) {
        return {};
    }
    std::string_view time_word;
    bool relative = false;
    if (first == "at" || first == "from") {
        time_word = line.word();
        if (time_word.empty()) {
            return std::string(first) + " needs a time " + TIME_HINT;
        }
    } else if (first[0] == '+') {
        time_word = first.substr(1);
        relative = true;
    } else {
        return "expected 'at TIME', 'from TIME' or '+TIME' at the start of the line, not " +
               stim_quote(first);
    }
    std::uint64_t at_us = 0;
    if (!stim_parse_time(time_word, &at_us)) {
        return stim_quote(time_word) + " is not a time " + TIME_HINT;
    }
    if (relative) {
        at_us += *previous_us;
        if (at_us > STIM_MAX_US) {
            return stim_quote(first) + " after the line before is past 3600s";
        }
    }
    *previous_us = at_us;
    const std::string_view action = line.word();
    if (action == "pin") {
        return parse_level_event(&line, at_us, false, out);
    }
    if (action == "press") {
        return parse_level_event(&line, at_us, true, out);
    }
    if (action == "analog") {
        return parse_analog_event(&line, at_us, out);
    }
    if (action == "serial") {
        return parse_serial_event(&line, at_us, out);
    }
    return action.empty()
               ? "nothing happens: pin, press, analog or serial is missing after the time"
               : "expected pin, press, analog or serial after the time, not " + stim_quote(action);
}

} // namespace

bool stim_parse_time(std::string_view text, std::uint64_t* us) {
    if (text == "0") {
        *us = 0;
        return true;
    }
    std::size_t i = 0;
    std::uint64_t whole = 0;
    for (; i < text.size() && is_digit(text[i]); ++i) {
        if (whole > STIM_MAX_US) { // stays far from overflow
            return false;
        }
        whole = whole * 10 + static_cast<std::uint64_t>(text[i] - '0');
    }
    if (i == 0) {
        return false;
    }
    std::string_view fraction;
    if (i < text.size() && text[i] == '.') {
        const std::size_t start = ++i;
        while (i < text.size() && is_digit(text[i])) {
            ++i;
        }
        fraction = text.substr(start, i - start);
        if (fraction.empty()) {
            return false;
        }
    }
    const std::string_view unit = text.substr(i);
    std::uint64_t scale = 0;
    std::size_t places = 0; // decimal places that are still whole microseconds
    if (unit == "s") {
        scale = 1000000;
        places = 6;
    } else if (unit == "ms") {
        scale = 1000;
        places = 3;
    } else if (unit == "us") {
        scale = 1;
    } else {
        return false;
    }
    if (whole > STIM_MAX_US / scale) {
        return false;
    }
    std::uint64_t part = 0;
    for (std::size_t k = 0; k < places; ++k) {
        part =
            part * 10 + (k < fraction.size() ? static_cast<std::uint64_t>(fraction[k] - '0') : 0);
    }
    for (std::size_t k = places; k < fraction.size(); ++k) {
        if (fraction[k] != '0') {
            return false; // a fraction of a microsecond
        }
    }
    const std::uint64_t total = whole * scale + part;
    if (total > STIM_MAX_US) {
        return false;
    }
    *us = total;
    return true;
}

int stim_parse_pin(std::string_view text) {
    if (text.size() == 2 && (text[0] == 'A' || text[0] == 'a') && text[1] >= '0' &&
        text[1] < '0' + STIM_ANALOG_PINS) {
        return STIM_FIRST_ANALOG_PIN + (text[1] - '0');
    }
    long pin = 0;
    return parse_whole(text, STIM_PINS - 1, &pin) ? static_cast<int>(pin) : -1;
}

int stim_parse_analog_pin(std::string_view text) {
    int pin = stim_parse_pin(text);
    if (pin >= STIM_FIRST_ANALOG_PIN) {
        pin -= STIM_FIRST_ANALOG_PIN;
    }
    return pin >= 0 && pin < STIM_ANALOG_PINS ? pin : -1;
}

std::string stim_quote(std::string_view text) {
    constexpr std::size_t MOST = 40;
    std::string out = "'";
    for (std::size_t i = 0; i < text.size() && i < MOST; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(c));
            out += hex;
        }
    }
    if (text.size() > MOST) {
        out += "...";
    }
    return out + "'";
}

bool stim_parse(std::string_view text, std::string_view name, stimulus* out, std::string* message) {
    try {
        stimulus parsed;
        std::uint64_t previous_us = 0;
        std::size_t number = 0;
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = start;
            while (end < text.size() && text[end] != '\n' && text[end] != '\r') {
                ++end;
            }
            ++number;
            const std::string error =
                parse_line(text.substr(start, end - start), &previous_us, &parsed);
            if (!error.empty()) {
                *message = std::string(name) + ":" + std::to_string(number) + ": " + error;
                return false;
            }
            // CR LF is one line end; a lone CR or LF is one too.
            start = end + 1;
            if (end < text.size() && text[end] == '\r' && start < text.size() &&
                text[start] == '\n') {
                ++start;
            }
        }
        std::stable_sort(
            parsed.events.begin(), parsed.events.end(),
            [](const stim_event& a, const stim_event& b) { return a.at_us < b.at_us; });
        *out = std::move(parsed);
        return true;
    } catch (const std::bad_alloc&) {
        *message = std::string(name) + ": memory ran out reading the stimulus";
        return false;
    }
}

} // namespace vimbra::arduino
