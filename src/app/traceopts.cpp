#include "app/traceopts.hpp"

#include <CLI/CLI.hpp>
#include <array>

#include "base/shown.hpp"
#include "chip/timing.hpp"
#include "chip/tracedec.hpp"

namespace vimbra {

namespace {

// A decimal number as a person writes one: a sign, digits, a point, an exponent; not hex,
// not "nan" or "inf". `whole`: digits alone, after an optional sign.
bool is_number_text(const std::string& text, bool whole) {
    std::size_t i = text.empty() || (text[0] != '-' && text[0] != '+') ? 0 : 1;
    const auto digits = [&] {
        const std::size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            ++i;
        }
        return i - start;
    };
    std::size_t count = digits();
    if (!whole && i < text.size() && text[i] == '.') {
        ++i;
        count += digits();
    }
    if (count == 0) {
        return false;
    }
    if (!whole && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        i += i < text.size() && (text[i] == '-' || text[i] == '+') ? 1 : 0;
        if (digits() == 0) {
            return false;
        }
    }
    return i == text.size();
}

} // namespace

std::string traceopts_number_error(const std::string& text, bool whole) {
    if (is_number_text(text, whole)) {
        return "";
    }
    return (is_number_text(text, false) ? "not a whole number: '" : "not a number: '") +
           shown_text(text) + "'";
}

std::string traceopts_flag_values(const CLI::App& app, const std::vector<const char*>& flags) {
    for (const char* flag : flags) {
        for (const std::string& value : app.get_option(flag)->results()) {
            if (value != "true") { // CLI11's result for the flag alone
                return std::string(flag) + " takes no value: '" + shown_text(value) + "'";
            }
        }
    }
    return "";
}

void traceopts_add(CLI::App* app, trace_options_t* o) {
    app->add_option("--pins", o->pins,
                    "trace: which signal is which line, e.g. rs=PB0,e=PB1,d4=PD4 (default: "
                    "signals named like the lines)")
        ->option_text("ROLE=SIGNAL,...");
    app->add_option("--i2c-address", o->i2c_address,
                    "trace: the backpack's I2C address (default: the first written to)")
        ->option_text("ADDR");
    app->add_option("--wiring", o->wiring,
                    "trace: backpack pins of RS RW E BL D4 D5 D6 D7 (default: '0 1 2 3 4 5 6 7')")
        ->option_text("PINS");
    app->add_option("--timing", o->timing,
                    "chip: bytes sent while busy are lost (traces' default); ideal: all run")
        ->check(CLI::IsMember({"chip", "ideal"}))
        ->option_text("chip|ideal");
    app->add_option("--fosc", o->fosc_khz, "the controller's oscillator (default: 270)")
        ->check(traceopts_number_in(CHIP_MIN_FOSC_KHZ, CHIP_MAX_FOSC_KHZ))
        ->option_text("KHZ");
    app->add_option("--vcc", o->vcc, "supply voltage: below 4.5 the 2.7-4.5 V bus times apply")
        ->check(traceopts_number_in(2.7, 5.5))
        ->option_text("VOLTS");
    app->add_flag("--power-on", o->power_on, "time 0 is power-on: the first cycle waits 40 ms");
    app->add_flag("--check-timing", o->check,
                  "name every timing fault on standard error (status 5: some)");
    app->add_option("--emit-log", o->emit_log, "write the decoded bus as a command log")
        ->option_text("FILE");
}

std::string traceopts_settle(const CLI::App& app, trace_options_t* o, bool has_replay) {
    o->fosc_given = app.count("--fosc") > 0;
    o->vcc_given = app.count("--vcc") > 0;
    if (const std::string error = traceopts_flag_values(app, {"--power-on", "--check-timing"});
        !error.empty()) {
        return error;
    }
    for (const char* option : {"--pins", "--i2c-address", "--wiring", "--timing", "--fosc", "--vcc",
                               "--power-on", "--check-timing", "--emit-log"}) {
        if (app.count(option) > 0 && !has_replay) {
            return std::string(option) + " needs --replay";
        }
    }
    if (!o->pins.empty()) {
        std::array<char, TRACEDEC_MESSAGE_CAPACITY> message{};
        if (tracedec_check_pins(o->pins.c_str(), message.data(),
                                static_cast<int>(message.size())) != 0) {
            return message.data();
        }
    } else if (app.count("--pins") > 0) {
        return "--pins: empty";
    }
    long address = 0;
    if (app.count("--i2c-address") > 0 && !tracerun_parse_number(o->i2c_address, 0x7F, &address)) {
        return "--i2c-address: not an address 0x00 to 0x7F: '" + o->i2c_address + "'";
    }
    std::array<int, 8> wiring{};
    if (app.count("--wiring") > 0 && !tracerun_parse_wiring(o->wiring, &wiring)) {
        return "--wiring: give the pins (0 to 7, all different) of RS RW E BL D4 D5 D6 D7: '" +
               o->wiring + "'";
    }
    if (app.count("--emit-log") > 0 && (o->emit_log.empty() || o->emit_log == "-")) {
        return "--emit-log: give a file name";
    }
    return "";
}

} // namespace vimbra
