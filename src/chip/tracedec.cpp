#include "chip/tracedec.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "base/shown.hpp"
#include "chip/i2cbus.hpp"
#include "chip/parbus.hpp"
#include "chip/vcd.hpp"

namespace vimbra {

namespace {

constexpr std::size_t LISTED_SIGNALS = 40;
constexpr std::size_t MAX_ROLE_NAME = 3; // "sda"

struct role_name_t {
    const char* name;
    int role;
};
constexpr std::array<role_name_t, 15> ROLE_NAMES{{{"rs", BUS_RS},
                                                  {"rw", BUS_RW},
                                                  {"e", BUS_E1},
                                                  {"e1", BUS_E1},
                                                  {"e2", BUS_E2},
                                                  {"d0", BUS_D0},
                                                  {"d1", BUS_D0 + 1},
                                                  {"d2", BUS_D0 + 2},
                                                  {"d3", BUS_D0 + 3},
                                                  {"d4", BUS_D0 + 4},
                                                  {"d5", BUS_D0 + 5},
                                                  {"d6", BUS_D0 + 6},
                                                  {"d7", BUS_D0 + 7},
                                                  {"sda", BUS_SDA},
                                                  {"scl", BUS_SCL}}};

const char* role_label(int role) {
    for (const role_name_t& r : ROLE_NAMES) {
        if (r.role == role && std::strcmp(r.name, "e1") != 0) {
            return r.name;
        }
    }
    return "?";
}

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// "rs=A,e=B": the signal name of each role (empty: not given). Empty string or the error.
std::string parse_pins(const std::string& text, std::array<std::string, BUS_ROLES>* names) {
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string item = text.substr(start, end - start);
        const std::size_t eq = item.find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == item.size()) {
            return "--pins: '" + shown_text(item) + "' is not ROLE=SIGNAL";
        }
        const std::string role = lower(item.substr(0, eq));
        int found = -1;
        for (const role_name_t& r : ROLE_NAMES) {
            if (role == r.name) {
                found = r.role;
            }
        }
        if (found < 0) {
            return "--pins: unknown role '" + shown_text(role) +
                   "' (rs, rw, e, e1, e2, d0-d7, sda, scl)";
        }
        std::string& slot = (*names)[static_cast<std::size_t>(found)];
        if (!slot.empty()) {
            return "--pins: " + role + " is given twice";
        }
        slot = item.substr(eq + 1);
        start = end + 1;
    }
    return "";
}

enum bus_mode_t { MODE_PARALLEL, MODE_I2C };

} // namespace

struct tracedec_t {
    tracedec_options_t options{};
    std::string pins;
    tracedec_callbacks_t callbacks{};
    int status = TRACEDEC_OK;
    std::array<char, TRACEDEC_MESSAGE_CAPACITY> message{};
    bus_mode_t mode = MODE_PARALLEL;
    bool two_chips = false;
    bool falls_only = false; // the reader gives only the instants at which E falls
    vcd_reader_t* reader = nullptr;
    parbus_t parbus{};
    i2cbus_t i2c{};
    timing_t timing{};
};

namespace {

void refuse(tracedec_t* d, int status, const std::string& text) {
    if (d->status == TRACEDEC_OK) {
        d->status = status;
        std::snprintf(d->message.data(), d->message.size(), "%s", text.c_str());
    }
}

// A bus cycle as the chip's event.
void cycle_to_chip(tracedec_t* d, const bus_cycle_t& c) {
    const chip_event_t event{
        c.time_ps,
        c.line,
        CHIP_BUS,
        c.data,
        static_cast<unsigned char>(c.chip),
        static_cast<unsigned char>((c.rs ? CHIP_FLAG_RS : 0) | (c.rw ? CHIP_FLAG_RW : 0))};
    timing_event(&d->timing, &event);
}

void take_cycle(const bus_cycle_t* c, void* ctx) {
    cycle_to_chip(static_cast<tracedec_t*>(ctx), *c);
}

void forward_fault(std::int64_t time_ps, std::uint32_t line, const char* text, void* ctx) {
    const auto* d = static_cast<const tracedec_t*>(ctx);
    d->callbacks.fault(time_ps, line, text, d->callbacks.ctx);
}

void forward_warning(const char* text, void* ctx) {
    const auto* d = static_cast<const tracedec_t*>(ctx);
    if (d->callbacks.warning != nullptr) {
        d->callbacks.warning(text, d->callbacks.ctx);
    }
}

void take_pins(const bus_step_t* step, void* ctx) {
    parbus_step(&static_cast<tracedec_t*>(ctx)->parbus, step);
}

// The cycles of an instant at which E fell, straight to the chip's timing.
void take_falls(tracedec_t* d, const vcd_step_t& step) {
    const std::uint32_t falls = step.changed & ~step.levels;
    for (int chip = 0; chip < 2; ++chip) {
        if ((falls & (1u << (chip == 0 ? BUS_E1 : BUS_E2))) != 0) {
            const bus_cycle_t c =
                parbus_fall(&d->parbus, step.time_ps, step.line, chip, step.before);
            cycle_to_chip(d, c);
        }
    }
}

int take_steps(const vcd_step_t* steps, std::size_t count, void* ctx) {
    auto* d = static_cast<tracedec_t*>(ctx);
    for (std::size_t i = 0; i < count && d->status == TRACEDEC_OK; ++i) {
        const vcd_step_t& step = steps[i];
        if (d->falls_only) {
            take_falls(d, step);
            continue;
        }
        const bus_step_t bus{step.time_ps, step.line, step.changed, step.levels, step.fresh};
        if (d->mode == MODE_I2C) {
            i2cbus_step(&d->i2c, &bus);
        } else {
            parbus_step(&d->parbus, &bus);
        }
    }
    return d->status == TRACEDEC_OK ? 0 : 1;
}

std::string signal_list(vcd_reader_t* reader) {
    std::string list;
    const int count = vcd_signal_count(reader);
    for (int i = 0; i < count; ++i) {
        if (static_cast<std::size_t>(i) == LISTED_SIGNALS) {
            list += ", ... (" + std::to_string(count) + " in all)";
            break;
        }
        list += (i == 0 ? "" : ", ") + shown_text(vcd_signal_name(reader, i), SHOWN_WORD, true);
    }
    return list.empty() ? "none" : list;
}

// Roles given with --pins that the bus read does not use (rs on an I2C bus): one warning.
void warn_unused(tracedec_t* d, const std::array<std::string, BUS_ROLES>& names,
                 const std::vector<int>& needed) {
    if (d->pins.empty() || d->callbacks.warning == nullptr) {
        return;
    }
    std::string unused;
    for (int role = 0; role < BUS_ROLES; ++role) {
        if (!names[static_cast<std::size_t>(role)].empty() &&
            std::find(needed.begin(), needed.end(), role) == needed.end()) {
            unused += (unused.empty() ? "" : ", ") + std::string(role_label(role));
        }
    }
    if (!unused.empty()) {
        const std::string text = "--pins: " + unused + " ignored: the trace is read as " +
                                 (d->mode == MODE_I2C ? "an I2C bus (sda, scl)" : "a parallel bus");
        d->callbacks.warning(text.c_str(), d->callbacks.ctx);
    }
}

// Which signal is which line: the pins given, else signals named like the roles.
int choose_pins(tracedec_t* d, vcd_reader_t* reader) {
    std::array<std::string, BUS_ROLES> names{};
    if (!d->pins.empty()) {
        const std::string error = parse_pins(d->pins, &names);
        if (!error.empty()) {
            refuse(d, TRACEDEC_BAD_PINS, error);
            return 1;
        }
    } else {
        for (int i = 0; i < vcd_signal_count(reader); ++i) {
            if (vcd_signal_name_size(reader, i) > MAX_ROLE_NAME) {
                continue; // a long path is no role's name: not worth making
            }
            const std::string name = lower(std::string(vcd_signal_name(reader, i)));
            for (const role_name_t& r : ROLE_NAMES) {
                std::string& slot = names[static_cast<std::size_t>(r.role)];
                if (name == r.name && slot.empty()) {
                    slot = vcd_signal_name(reader, i);
                }
            }
        }
    }
    const auto given = [&](int role) { return !names[static_cast<std::size_t>(role)].empty(); };
    std::vector<int> needed;
    if (given(BUS_SDA) || given(BUS_SCL)) {
        d->mode = MODE_I2C;
        needed = {BUS_SDA, BUS_SCL};
    } else {
        const bool eight =
            given(BUS_D0) || given(BUS_D0 + 1) || given(BUS_D0 + 2) || given(BUS_D0 + 3);
        needed = {BUS_RS, BUS_E1};
        for (int bit = eight ? 0 : 4; bit < 8; ++bit) {
            needed.push_back(BUS_D0 + bit);
        }
        if (given(BUS_RW)) {
            needed.push_back(BUS_RW);
        }
        d->two_chips = given(BUS_E2);
        if (d->two_chips) {
            needed.push_back(BUS_E2);
        }
    }
    warn_unused(d, names, needed);
    for (int role : needed) {
        const std::string& name = names[static_cast<std::size_t>(role)];
        if (name.empty()) {
            refuse(d, TRACEDEC_BAD_PINS,
                   std::string("--pins: no signal for ") +
                       (role == BUS_E1 && d->two_chips ? "e1" : role_label(role)) +
                       " (the trace's signals: " + signal_list(reader) + ")");
            return 1;
        }
        int signal = 0;
        int bit = 0;
        int other = -1;
        const int found = vcd_find(reader, name.c_str(), &signal, &bit, &other);
        if (found == VCD_FIND_AMBIGUOUS) {
            refuse(d, TRACEDEC_BAD_PINS,
                   "--pins: " + std::string(role_label(role)) + ": two signals are called '" +
                       shown_text(name) + "', on codes '" +
                       shown_text(vcd_signal_code(reader, signal)) + "' and '" +
                       shown_text(vcd_signal_code(reader, other)) +
                       "' (give one by its path or rename one)");
            return 1;
        }
        if (found != 0) {
            refuse(d, TRACEDEC_BAD_PINS,
                   "--pins: the trace has no signal '" + shown_text(name) +
                       "' (its signals: " + signal_list(reader) + ")");
            return 1;
        }
        if (vcd_watch(reader, signal, bit, role) != 0) {
            refuse(d, TRACEDEC_NO_MEMORY, "Memory Allocation Error.");
            return 1;
        }
    }
    if (d->two_chips && d->options.chip_count < 2) {
        refuse(d, TRACEDEC_BAD_PINS, "--pins: e2: this module has one controller");
        return 1;
    }
    return 0;
}

int header_ready(vcd_reader_t* reader, void* ctx) {
    auto* d = static_cast<tracedec_t*>(ctx);
    try {
        if (choose_pins(d, reader) != 0) {
            return 1;
        }
    } catch (const std::bad_alloc&) {
        refuse(d, TRACEDEC_NO_MEMORY, "Memory Allocation Error.");
        return 1;
    }
    const tracedec_options_t& o = d->options;
    const bool judge = o.check && d->callbacks.fault != nullptr;
    auto* fault = judge ? d->callbacks.fault : nullptr;
    const parbus_callbacks_t bus_callbacks{take_cycle, judge ? forward_fault : nullptr, d};
    const bus_limits_t limits = parbus_limits(o.low_voltage);
    parbus_start(&d->parbus, &bus_callbacks, &limits, d->two_chips);
    const timing_config_t config{o.chip_timing, o.fosc_khz, o.power_on, d->two_chips};
    const timing_callbacks_t timing_callbacks{d->callbacks.byte, fault, d->callbacks.ctx};
    timing_start(&d->timing, &config, &timing_callbacks);
    if (d->mode == MODE_I2C) {
        const i2cbus_callbacks_t i2c_callbacks{take_pins, forward_warning, d};
        i2cbus_start(&d->i2c, &i2c_callbacks, o.wiring, o.i2c_address);
    } else if (!judge) {
        // Unjudged, the parallel bus has nothing to do between E's falls: most instants of a
        // trace are then no step at all.
        d->falls_only = true;
        vcd_report(reader, 0, (1u << BUS_E1) | (1u << BUS_E2));
    }
    return 0;
}

// The reader's status as the decoder's.
int take_status(tracedec_t* d, int read) {
    if (read != VCD_OK && d->status == TRACEDEC_OK) {
        refuse(d, read == VCD_NO_MEMORY ? TRACEDEC_NO_MEMORY : TRACEDEC_MALFORMED,
               vcd_message(d->reader));
    }
    return d->status;
}

} // namespace

tracedec_options_t tracedec_defaults() {
    return tracedec_options_t{
        "", -1, {0, 1, 2, 3, 4, 5, 6, 7}, true, CHIP_DEFAULT_FOSC_KHZ, false, false, false, 1};
}

tracedec_t* tracedec_open(const tracedec_options_t* options,
                          const tracedec_callbacks_t* callbacks) {
    auto* d = new (std::nothrow) tracedec_t;
    if (d == nullptr) {
        return nullptr;
    }
    d->options = *options;
    d->callbacks = *callbacks;
    try {
        d->pins = options->pins != nullptr ? options->pins : "";
    } catch (const std::bad_alloc&) {
        delete d;
        return nullptr;
    }
    d->options.pins = nullptr; // the copy above is the one kept
    const vcd_callbacks_t reader_callbacks{header_ready, nullptr, d};
    d->reader = vcd_open(&reader_callbacks);
    if (d->reader == nullptr) {
        delete d;
        return nullptr;
    }
    vcd_batch(d->reader, take_steps);
    return d;
}

void tracedec_close(tracedec_t* dec) {
    if (dec != nullptr) {
        vcd_close(dec->reader);
        delete dec;
    }
}

int tracedec_feed(tracedec_t* d, const char* data, std::size_t length) {
    if (d->status != TRACEDEC_OK) {
        return d->status;
    }
    return take_status(d, vcd_feed(d->reader, data, length));
}

int tracedec_finish(tracedec_t* d) {
    if (d->status != TRACEDEC_OK || take_status(d, vcd_finish(d->reader)) != TRACEDEC_OK) {
        return d->status;
    }
    if (d->callbacks.warning == nullptr) {
        return TRACEDEC_OK;
    }
    const std::uint64_t unknown = vcd_unknown_count(d->reader);
    std::array<char, 160> text{};
    if (unknown > 0) {
        std::snprintf(text.data(), text.size(), "%llu x or z value%s read as low",
                      static_cast<unsigned long long>(unknown), unknown == 1 ? "" : "s");
        d->callbacks.warning(text.data(), d->callbacks.ctx);
    }
    if (d->mode == MODE_PARALLEL && d->parbus.falls == 0) {
        d->callbacks.warning("no falling edge of E: the display stays as reset left it",
                             d->callbacks.ctx);
    } else if (d->mode == MODE_I2C && d->i2c.bytes == 0) {
        d->callbacks.warning(
            "no byte written to the display's I2C address: it stays as reset left it",
            d->callbacks.ctx);
    }
    return TRACEDEC_OK;
}

void tracedec_stop(tracedec_t* d) {
    refuse(d, TRACEDEC_STOPPED, "stopped");
}

const char* tracedec_message(const tracedec_t* d) {
    return d->message.data();
}

std::int64_t tracedec_end_ps(const tracedec_t* d) {
    return vcd_end_time(d->reader);
}

std::uint64_t tracedec_not_taken(const tracedec_t* d) {
    return d->timing.not_taken;
}

bool tracedec_two_chips(const tracedec_t* d) {
    return d->two_chips;
}

bool tracedec_i2c(const tracedec_t* d) {
    return d->mode == MODE_I2C;
}

int tracedec_check_pins(const char* pins, char* message, int capacity) {
    try {
        std::array<std::string, BUS_ROLES> names{};
        const std::string error = parse_pins(pins, &names);
        if (error.empty()) {
            return 0;
        }
        std::snprintf(message, static_cast<std::size_t>(capacity), "%s", error.c_str());
    } catch (const std::bad_alloc&) {
        std::snprintf(message, static_cast<std::size_t>(capacity), "Memory Allocation Error.");
    }
    return -1;
}

void tracedec_log_end(tracedec_log_t* log, std::int64_t end_us, char* out) {
    out[0] = '\0';
    if (end_us > log->last_us) {
        std::snprintf(out, TRACEDEC_LOG_LINE_CAPACITY, "wait %lldus\n",
                      static_cast<long long>(end_us - log->last_us));
        log->last_us = end_us;
    }
}

void tracedec_log_byte(tracedec_log_t* log, const chip_byte_t* byte, char* out) {
    tracedec_log_end(log, byte->time_ps / 1000000, out);
    std::size_t n = std::strlen(out);
    const auto room = [&] { return static_cast<std::size_t>(TRACEDEC_LOG_LINE_CAPACITY) - n; };
    if (log->two_chips && byte->chip != log->chip && byte->taken) {
        log->chip = byte->chip;
        n += static_cast<std::size_t>(
            std::snprintf(out + n, room(), "controller %d\n", byte->chip + 1));
    }
    const char* comment = byte->taken ? "" : "# not taken, busy: ";
    switch (byte->kind) {
    case CHIP_INSTRUCTION:
        std::snprintf(out + n, room(), "%scmd 0x%02X\n", comment, byte->value);
        break;
    case CHIP_DATA:
        std::snprintf(out + n, room(), "%sdata 0x%02X\n", comment, byte->value);
        break;
    case CHIP_READ_BUSY:
        std::snprintf(out + n, room(), "%sread busy\n", comment);
        break;
    default:
        std::snprintf(out + n, room(), "%sread data\n", comment);
        break;
    }
}

} // namespace vimbra
