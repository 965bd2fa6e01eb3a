// The library's own files take Arduino.h without the reference that links main().
#define VIMBRA_ARDUINO_NO_MAIN
#include "arduino/arduhost.hpp"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vimbra/arduino/Arduino.h"

namespace {

// What the calls cost on a 16 MHz board, in microseconds: a pin or clock call takes a few,
// an analog read about a hundred (its conversion), and one pass of loop() the main loop's
// own work. Every call costs something, so a sketch that waits for a pin or for millis()
// in a loop of its own still reaches the time limit.
constexpr std::uint64_t CALL_US = 4;
constexpr std::uint64_t ANALOG_READ_US = 100;

struct host_t {
    std::FILE* log = nullptr;
    void (*at_limit)() = nullptr;
    std::uint64_t now_us = 0;
    std::uint64_t limit_us = ARDUHOST_MAX_RUN_US;
    std::uint64_t written_us = 0; // the time of the log's last line
    bool lost = false;            // a line could not be written
    bool ending = false;
    std::array<int, ARDUHOST_ANALOG_PINS> analog{};
    std::array<bool, ARDUHOST_PINS> digital_set{};
    std::array<int, ARDUHOST_PINS> digital{};
    std::array<std::uint8_t, ARDUHOST_PINS> mode{};
    std::array<std::uint8_t, ARDUHOST_PINS> level{};
    std::uint64_t random_state = 0x2545F4914F6CDD1DULL;
};
// Constant-initialised, so that a sketch's global objects may use it while they are built.
constinit host_t host;

void write_text(const char* text, std::size_t size) {
    if (host.log != nullptr && std::fwrite(text, 1, size, host.log) != size) {
        host.lost = true;
    }
}

void write_wait_to_now() {
    if (host.now_us > host.written_us) {
        char line[40];
        const int n = std::snprintf(line, sizeof line, "wait %lluus\n",
                                    static_cast<unsigned long long>(host.now_us - host.written_us));
        write_text(line, static_cast<std::size_t>(n));
        host.written_us = host.now_us;
    }
}

bool parse_whole(const char* text, long max, long* value) {
    long v = 0;
    if (text == nullptr || *text == '\0') {
        return false;
    }
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
        v = v * 10 + (*p - '0');
        if (v > max) {
            return false;
        }
    }
    *value = v;
    return true;
}

// "PIN=VALUE" of --analog and --digital: the pin as a number or A0 to A7, split off.
bool split_pin(const std::string& given, long* pin, std::string* value) {
    const std::size_t equals = given.find('=');
    if (equals == std::string::npos) {
        return false;
    }
    std::string name = given.substr(0, equals);
    *value = given.substr(equals + 1);
    if (name.size() == 2 && (name[0] == 'A' || name[0] == 'a') && name[1] >= '0' &&
        name[1] < '0' + ARDUHOST_ANALOG_PINS) {
        *pin = ARDUHOST_FIRST_ANALOG_PIN + (name[1] - '0');
        return true;
    }
    return parse_whole(name.c_str(), ARDUHOST_PINS - 1, pin);
}

int set_analog(const std::string& given, arduhost_options_t* options, std::string* message) {
    long pin = 0;
    long value = 0;
    std::string text;
    if (!split_pin(given, &pin, &text) || !parse_whole(text.c_str(), 1023, &value)) {
        *message = "--analog: not PIN=VALUE with a value from 0 to 1023: '" + given + "'";
        return 2;
    }
    if (pin >= ARDUHOST_FIRST_ANALOG_PIN) {
        pin -= ARDUHOST_FIRST_ANALOG_PIN;
    }
    if (pin >= ARDUHOST_ANALOG_PINS) {
        *message = "--analog: no analog input " + given.substr(0, given.find('=')) +
                   " (A0 to A7, or 0 to 7)";
        return 2;
    }
    options->analog[static_cast<std::size_t>(pin)] = static_cast<int>(value);
    return 0;
}

int set_digital(const std::string& given, arduhost_options_t* options, std::string* message) {
    long pin = 0;
    std::string text;
    int level = -1;
    if (split_pin(given, &pin, &text)) {
        if (text == "HIGH" || text == "high" || text == "1") {
            level = HIGH;
        } else if (text == "LOW" || text == "low" || text == "0") {
            level = LOW;
        }
    }
    if (level < 0) {
        *message = "--digital: not PIN=HIGH or PIN=LOW with a pin from 0 to 63: '" + given + "'";
        return 2;
    }
    options->digital_set[static_cast<std::size_t>(pin)] = true;
    options->digital[static_cast<std::size_t>(pin)] = level;
    return 0;
}

int set_run(const char* text, const char* source, arduhost_options_t* options,
            std::string* message) {
    if (!arduhost_parse_time(text, &options->run_us)) {
        *message = std::string(source) + ": not a time from 1us to 3600s: '" + text +
                   "' (e.g. 5s, 1500ms)";
        return 2;
    }
    return 0;
}

bool valid_pin(int pin) {
    return pin >= 0 && pin < ARDUHOST_PINS;
}

} // namespace

const char* arduhost_usage() {
    return "Runs the sketch's setup() once, then loop() until the time limit, on a simulated\n"
           "clock, and writes the command log of the display it drives.\n"
           "\n"
           "Options:\n"
           "  --run TIME         stop at this time of the sketch's clock (default 10s; e.g.\n"
           "                     5s, 1500ms); VIMBRA_RUN in the environment does the same\n"
           "  --log FILE         write the command log to FILE (default: standard output)\n"
           "  --analog PIN=N     analogRead(PIN) returns N, 0 to 1023 (PIN: A0 to A7)\n"
           "  --digital PIN=L    digitalRead(PIN) returns L, HIGH or LOW (PIN: 0 to 63)\n"
           "  --help             show this help\n"
           "\n"
           "Serial prints to standard error.\n";
}

bool arduhost_parse_time(const char* text, std::uint64_t* us) {
    if (text == nullptr) {
        return false;
    }
    const char* p = text;
    std::uint64_t whole = 0;
    const char* digits = p;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (whole > ARDUHOST_MAX_RUN_US) { // stays far from overflow
            return false;
        }
        whole = whole * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    if (p == digits) {
        return false;
    }
    const char* fraction = p;
    std::size_t fraction_digits = 0;
    if (*p == '.') {
        fraction = ++p;
        for (; *p >= '0' && *p <= '9'; ++p) {
            ++fraction_digits;
        }
        if (fraction_digits == 0) {
            return false;
        }
    }
    std::uint64_t scale = 0;
    std::size_t places = 0; // decimal places that are still whole microseconds
    if (std::strcmp(p, "s") == 0) {
        scale = 1000000;
        places = 6;
    } else if (std::strcmp(p, "ms") == 0) {
        scale = 1000;
        places = 3;
    } else if (std::strcmp(p, "us") == 0) {
        scale = 1;
    } else {
        return false;
    }
    if (whole > ARDUHOST_MAX_RUN_US / scale) {
        return false;
    }
    std::uint64_t part = 0;
    for (std::size_t i = 0; i < places; ++i) {
        part =
            part * 10 + (i < fraction_digits ? static_cast<std::uint64_t>(fraction[i] - '0') : 0);
    }
    for (std::size_t i = places; i < fraction_digits; ++i) {
        if (fraction[i] != '0') {
            return false; // a fraction of a microsecond
        }
    }
    const std::uint64_t total = whole * scale + part;
    if (total == 0 || total > ARDUHOST_MAX_RUN_US) {
        return false;
    }
    *us = total;
    return true;
}

int arduhost_parse(int argc, const char* const* argv, const char* env_run,
                   arduhost_options_t* options, std::string* message) {
    if (env_run != nullptr && set_run(env_run, "VIMBRA_RUN", options, message) != 0) {
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options->help = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.rfind("--", 0) == 0 ? arg.substr(0, equals) : arg;
        if (name != "--run" && name != "--log" && name != "--analog" && name != "--digital") {
            *message = "unknown option '" + arg + "' (--help lists them)";
            return 2;
        }
        std::string value;
        if (equals != std::string::npos && name.size() == equals) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            *message = name + " needs a value";
            return 2;
        }
        int status = 0;
        if (name == "--run") {
            status = set_run(value.c_str(), "--run", options, message);
        } else if (name == "--log") {
            if (value.empty()) {
                *message = "--log needs a file name ('-': standard output)";
                return 2;
            }
            options->log_path = value;
        } else if (name == "--analog") {
            status = set_analog(value, options, message);
        } else {
            status = set_digital(value, options, message);
        }
        if (status != 0) {
            return status;
        }
    }
    return 0;
}

void arduhost_start(const arduhost_options_t& options, std::FILE* log, void (*at_limit)()) {
    host = host_t{};
    host.log = log;
    host.at_limit = at_limit;
    host.limit_us = options.run_us;
    host.analog = options.analog;
    host.digital_set = options.digital_set;
    host.digital = options.digital;
}

std::uint64_t arduhost_now() {
    return host.now_us;
}

void arduhost_spend(std::uint64_t us) {
    if (us < host.limit_us - host.now_us) {
        host.now_us += us;
        return;
    }
    host.now_us = host.limit_us;
    if (host.at_limit != nullptr && !host.ending) {
        host.ending = true;
        host.at_limit();
    }
}

void arduhost_log(const vimbra::lcd_event& event) {
    if (event.kind == vimbra::lcd_event_kind::wait) {
        return;
    }
    std::string line;
    vimbra::lcd_event_text(event, line);
    if (!line.empty()) {
        write_wait_to_now();
        write_text(line.data(), line.size());
    }
}

bool arduhost_end_log() {
    write_wait_to_now();
    if (host.log != nullptr && (std::fflush(host.log) != 0 || std::ferror(host.log) != 0)) {
        host.lost = true;
    }
    return !host.lost;
}

void arduhost_pin_mode(int pin, int mode) {
    if (valid_pin(pin)) {
        host.mode[static_cast<std::size_t>(pin)] = static_cast<std::uint8_t>(mode);
    }
}

void arduhost_digital_write(int pin, int value) {
    if (valid_pin(pin)) {
        host.level[static_cast<std::size_t>(pin)] = value != LOW ? HIGH : LOW;
    }
}

int arduhost_digital_read(int pin) {
    if (!valid_pin(pin)) {
        return LOW;
    }
    const auto i = static_cast<std::size_t>(pin);
    if (host.digital_set[i]) {
        return host.digital[i];
    }
    if (host.mode[i] == OUTPUT) {
        return host.level[i];
    }
    return host.mode[i] == INPUT_PULLUP ? HIGH : LOW;
}

int arduhost_analog_read(int pin) {
    if (pin >= ARDUHOST_FIRST_ANALOG_PIN) {
        pin -= ARDUHOST_FIRST_ANALOG_PIN;
    }
    if (pin < 0 || pin >= ARDUHOST_ANALOG_PINS) {
        return 0;
    }
    return host.analog[static_cast<std::size_t>(pin)];
}

// The Arduino functions over the host.

unsigned long millis() {
    arduhost_spend(CALL_US);
    return static_cast<unsigned long>((arduhost_now() / 1000) & 0xFFFFFFFFULL);
}

unsigned long micros() {
    arduhost_spend(CALL_US);
    return static_cast<unsigned long>(arduhost_now() & 0xFFFFFFFFULL);
}

void delay(unsigned long ms) {
    // Past the limit is the limit: no product that could overflow.
    arduhost_spend(ms > ARDUHOST_MAX_RUN_US / 1000 ? ARDUHOST_MAX_RUN_US : ms * 1000ULL);
}

void delayMicroseconds(unsigned int us) {
    arduhost_spend(us);
}

// Weak, as on the boards: a sketch may have a yield() of its own.
[[gnu::weak]] void yield() {
    arduhost_spend(CALL_US);
}

void pinMode(uint8_t pin, uint8_t mode) {
    arduhost_pin_mode(pin, mode);
    arduhost_spend(CALL_US);
}

void digitalWrite(uint8_t pin, uint8_t value) {
    arduhost_digital_write(pin, value);
    arduhost_spend(CALL_US);
}

int digitalRead(uint8_t pin) {
    arduhost_spend(CALL_US);
    return arduhost_digital_read(pin);
}

int analogRead(uint8_t pin) {
    arduhost_spend(ANALOG_READ_US);
    return arduhost_analog_read(pin);
}

void analogWrite(uint8_t pin, int value) {
    arduhost_pin_mode(pin, OUTPUT);
    arduhost_digital_write(pin, value > 0 ? HIGH : LOW);
    arduhost_spend(CALL_US);
}

void analogReference(uint8_t) {}

// xorshift64: the same numbers in every run.
long random(long max) {
    if (max <= 0) {
        return 0;
    }
    std::uint64_t x = host.random_state;
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    host.random_state = x;
    return static_cast<long>(x % static_cast<std::uint64_t>(max));
}

long random(long min, long max) {
    if (min >= max) {
        return min;
    }
    // The span may not fit in a long; in unsigned arithmetic it always does.
    const std::uint64_t span = static_cast<std::uint64_t>(max) - static_cast<std::uint64_t>(min);
    const std::uint64_t r = span > static_cast<std::uint64_t>(LONG_MAX)
                                ? static_cast<std::uint64_t>(random(LONG_MAX))
                                : static_cast<std::uint64_t>(random(static_cast<long>(span)));
    return static_cast<long>(static_cast<std::uint64_t>(min) + r);
}

void randomSeed(unsigned long seed) {
    if (seed != 0) {
        host.random_state = seed;
    }
}

long map(long x, long in_min, long in_max, long out_min, long out_max) {
    if (in_max == in_min) {
        return out_min;
    }
    long dx = 0;
    long span_in = 0;
    long span_out = 0;
    long product = 0;
    long result = 0;
    // Each step only when the ones before it fitted in a long.
    if (__builtin_sub_overflow(x, in_min, &dx) ||
        __builtin_sub_overflow(in_max, in_min, &span_in) ||
        __builtin_sub_overflow(out_max, out_min, &span_out) ||
        __builtin_mul_overflow(dx, span_out, &product) || (product == LONG_MIN && span_in == -1) ||
        __builtin_add_overflow(product / span_in, out_min, &result)) {
        // Beyond a long's range: in floating point, clamped.
        const double wide = (static_cast<double>(x) - static_cast<double>(in_min)) *
                                (static_cast<double>(out_max) - static_cast<double>(out_min)) /
                                (static_cast<double>(in_max) - static_cast<double>(in_min)) +
                            static_cast<double>(out_min);
        return wide >= static_cast<double>(LONG_MAX)
                   ? LONG_MAX
                   : (wide <= static_cast<double>(LONG_MIN) ? LONG_MIN : static_cast<long>(wide));
    }
    return result;
}

char* dtostrf(double value, signed char width, unsigned char precision, char* out) {
    char text[640]; // the widest double with 255 decimals fits
    std::snprintf(text, sizeof text, "%*.*f", static_cast<int>(width), static_cast<int>(precision),
                  value);
    std::memcpy(out, text, std::strlen(text) + 1);
    return out;
}

bool vimbra::mark(const char* name) {
    if (!vimbra::lcd_mark_name_ok(name)) {
        std::fprintf(stderr,
                     "mark: '%.80s' is not a name (1 to 64 letters, digits, '_', '-' "
                     "and '.'): not written\n",
                     name == nullptr ? "" : name);
        return false;
    }
    vimbra::lcd_event event;
    event.kind = vimbra::lcd_event_kind::mark;
    event.name = name;
    arduhost_log(event);
    return true;
}
