#include "arduino/arduopts.hpp"

#include <cstring>

namespace vimbra::arduino {

namespace {

constexpr int HIGH_LEVEL = 1;
constexpr int LOW_LEVEL = 0;

bool parse_whole(const std::string& text, long max, long* value) {
    long v = 0;
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
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

// "PIN=VALUE" of --analog and --digital, split.
bool split_pin(const std::string& given, std::string* pin, std::string* value) {
    const std::size_t equals = given.find('=');
    if (equals == std::string::npos) {
        return false;
    }
    *pin = given.substr(0, equals);
    *value = given.substr(equals + 1);
    return true;
}

int set_analog(const std::string& given, host_options* options, std::string* message) {
    std::string pin_text;
    std::string text;
    long value = 0;
    const bool split = split_pin(given, &pin_text, &text);
    if (!split || stim_parse_pin(pin_text) < 0 || !parse_whole(text, STIM_ANALOG_MAX, &value)) {
        *message = "--analog: not PIN=VALUE with a value from 0 to 1023: " + stim_quote(given);
        return 2;
    }
    const int pin = stim_parse_analog_pin(pin_text);
    if (pin < 0) {
        // A pin's text, checked above: digits, or A and a digit.
        *message = "--analog: no analog input " + pin_text + " (A0 to A7, or 0 to 7)";
        return 2;
    }
    options->analog[static_cast<std::size_t>(pin)] = static_cast<int>(value);
    return 0;
}

int set_digital(const std::string& given, host_options* options, std::string* message) {
    std::string pin_text;
    std::string text;
    int level = -1;
    const int pin = split_pin(given, &pin_text, &text) ? stim_parse_pin(pin_text) : -1;
    if (pin >= 0) {
        if (text == "HIGH" || text == "high" || text == "1") {
            level = HIGH_LEVEL;
        } else if (text == "LOW" || text == "low" || text == "0") {
            level = LOW_LEVEL;
        }
    }
    if (level < 0) {
        *message =
            "--digital: not PIN=HIGH or PIN=LOW with a pin from 0 to 63: " + stim_quote(given);
        return 2;
    }
    options->digital[static_cast<std::size_t>(pin)] = static_cast<std::int8_t>(level);
    return 0;
}

int set_run(const char* text, const char* source, host_options* options, std::string* message) {
    if (!host_parse_run_time(text, &options->run_us)) {
        *message = std::string(source) + ": not a time from 1us to 3600s: " + stim_quote(text) +
                   " (e.g. 5s, 1500ms)";
        return 2;
    }
    return 0;
}

int set_start(const std::string& text, host_options* options, std::string* message) {
    std::uint64_t value = 0;
    bool ok = !text.empty() && text.size() <= 20;
    for (const char c : text) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (c < '0' || c > '9' || value > (UINT64_MAX - digit) / 10) {
            ok = false;
            break;
        }
        value = value * 10 + digit;
    }
    if (!ok) {
        *message = "--start-us: not a whole number of microseconds from 0 to "
                   "18446744073709551615: " +
                   stim_quote(text);
        return 2;
    }
    options->start_us = value;
    return 0;
}

constexpr const char* OPTIONS_WITH_VALUES[] = {"--run",      "--log",    "--input",  "--eeprom",
                                               "--start-us", "--analog", "--digital"};

bool takes_value(const std::string& name) {
    for (const char* known : OPTIONS_WITH_VALUES) {
        if (name == known) {
            return true;
        }
    }
    return false;
}

} // namespace

const char* host_usage() {
    return "Runs the sketch's setup() once, then loop() until the time limit, on a simulated\n"
           "clock, and writes the command log of the display it drives.\n"
           "\n"
           "Options:\n"
           "  --run TIME         stop at this time of the sketch's clock (default 10s; e.g.\n"
           "                     5s, 1500ms); VIMBRA_RUN in the environment when not given\n"
           "  --log FILE         write the command log to FILE (default: standard output)\n"
           "  --input FILE       the stimulus: pins, analog values and Serial's bytes over time\n"
           "  --eeprom FILE      the EEPROM starts from FILE and is kept there at the end\n"
           "  --start-us N       the clock reads N microseconds at the start (micros() wraps\n"
           "                     at 4294967296)\n"
           "  --analog PIN=N     analogRead(PIN) returns N, 0 to 1023 (PIN: A0 to A7)\n"
           "  --digital PIN=L    digitalRead(PIN) returns L, HIGH or LOW (PIN: 0 to 63)\n"
           "  --help             show this help\n"
           "\n"
           "Serial prints to standard error.\n";
}

bool host_parse_run_time(const char* text, std::uint64_t* us) {
    std::uint64_t value = 0;
    if (text == nullptr || !stim_parse_time(text, &value) || value == 0) {
        return false;
    }
    *us = value;
    return true;
}

int host_parse_options(int argc, const char* const* argv, const char* env_run,
                       host_options* options, std::string* message) {
    bool run_given = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i] == nullptr ? "" : argv[i];
        if (arg == "--help" || arg == "-h") {
            options->help = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.rfind("--", 0) == 0 ? arg.substr(0, equals) : arg;
        if (!takes_value(name)) {
            *message = "unknown option " + stim_quote(arg) + " (--help lists them)";
            return 2;
        }
        std::string value;
        if (equals != std::string::npos && name.size() == equals) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < argc && argv[i + 1] != nullptr) {
            value = argv[++i];
        } else {
            *message = name + " needs a value";
            return 2;
        }
        int status = 0;
        if (name == "--run") {
            run_given = true;
            status = set_run(value.c_str(), "--run", options, message);
        } else if (name == "--log" || name == "--input" || name == "--eeprom") {
            if (value.empty()) {
                *message = name + " needs a file name" +
                           (name == "--log" ? " ('-': standard output)" : "");
                return 2;
            }
            (name == "--log" ? options->log_path
                             : (name == "--input" ? options->input_path : options->eeprom_path)) =
                value;
        } else if (name == "--start-us") {
            status = set_start(value, options, message);
        } else if (name == "--analog") {
            status = set_analog(value, options, message);
        } else {
            status = set_digital(value, options, message);
        }
        if (status != 0) {
            return status;
        }
    }
    if (!run_given && env_run != nullptr) {
        return set_run(env_run, "VIMBRA_RUN", options, message);
    }
    return 0;
}

} // namespace vimbra::arduino
