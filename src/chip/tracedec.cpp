#include "chip/tracedec.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "base/shown.hpp"
#include "chip/capture.hpp"
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
    bool from_capture = false; // a capture's channels instead of the VCD
    std::int64_t capture_end_ps = 0;
    std::int64_t rate_hz = 0;     // the sample rate the input states; 0: none
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

// The named signals of the input, a VCD's or a capture's channels.
struct signals_t {
    vcd_reader_t* vcd;
    capture_t* capture;
    int count() const {
        return vcd != nullptr ? vcd_signal_count(vcd) : capture_channel_count(capture);
    }
    std::string_view name(int i) const {
        return vcd != nullptr ? vcd_signal_name(vcd, i)
                              : std::string_view(capture_channel_name(capture, i));
    }
    std::size_t name_size(int i) const {
        return vcd != nullptr ? vcd_signal_name_size(vcd, i) : name(i).size();
    }
    // 0; 1 when there is no such signal; 2 when memory is short; VCD_FIND_AMBIGUOUS when two
    // of a VCD's signals share the name, their codes then in `codes`.
    int watch(const std::string& signal_name, int role, std::string* codes) const {
        if (vcd == nullptr) {
            const int channel = capture_find(capture, signal_name.c_str());
            return channel < 0 ? 1 : capture_watch(capture, channel, role) == 0 ? 0 : 2;
        }
        int signal = 0;
        int bit = 0;
        int other = -1;
        const int found = vcd_find(vcd, signal_name.c_str(), &signal, &bit, &other);
        if (found == VCD_FIND_AMBIGUOUS) {
            codes->assign(1, '\'');
            codes->append(shown_text(vcd_signal_code(vcd, signal)));
            codes->append("' and '");
            codes->append(shown_text(vcd_signal_code(vcd, other)));
            codes->push_back('\'');
            return VCD_FIND_AMBIGUOUS;
        }
        if (found != 0) {
            return 1;
        }
        return vcd_watch(vcd, signal, bit, role) == 0 ? 0 : 2;
    }
};

std::string signal_list(const signals_t& reader) {
    std::string list;
    const int count = reader.count();
    for (int i = 0; i < count; ++i) {
        if (static_cast<std::size_t>(i) == LISTED_SIGNALS) {
            list += ", ... (" + std::to_string(count) + " in all)";
            break;
        }
        list += (i == 0 ? "" : ", ") + shown_text(reader.name(i), SHOWN_WORD, true);
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
int choose_pins(tracedec_t* d, const signals_t& reader) {
    std::array<std::string, BUS_ROLES> names{};
    if (!d->pins.empty()) {
        const std::string error = parse_pins(d->pins, &names);
        if (!error.empty()) {
            refuse(d, TRACEDEC_BAD_PINS, error);
            return 1;
        }
    } else {
        for (int i = 0; i < reader.count(); ++i) {
            if (reader.name_size(i) > MAX_ROLE_NAME) {
                continue; // a long path is no role's name: not worth making
            }
            const std::string name = lower(std::string(reader.name(i)));
            for (const role_name_t& r : ROLE_NAMES) {
                std::string& slot = names[static_cast<std::size_t>(r.role)];
                if (name == r.name && slot.empty()) {
                    slot = reader.name(i);
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
        std::string codes;
        const int watched = reader.watch(name, role, &codes);
        if (watched == VCD_FIND_AMBIGUOUS) {
            refuse(d, TRACEDEC_BAD_PINS,
                   "--pins: " + std::string(role_label(role)) + ": two signals are called '" +
                       shown_text(name) + "', on codes " + codes +
                       " (give one by its path or rename one)");
            return 1;
        }
        if (watched == 1) {
            refuse(d, TRACEDEC_BAD_PINS,
                   "--pins: the trace has no signal '" + shown_text(name) +
                       "' (its signals: " + signal_list(reader) + ")");
            return 1;
        }
        if (watched == 2) {
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

// The lines chosen, the bus decoders and the chip's timing started. Nonzero: refused.
int start_decoding(tracedec_t* d, const signals_t& reader) {
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
    } else if (!judge && reader.vcd != nullptr) {
        // Unjudged, the parallel bus has nothing to do between E's falls: most instants of a
        // trace are then no step at all.
        d->falls_only = true;
        vcd_report(reader.vcd, 0, (1u << BUS_E1) | (1u << BUS_E2));
    }
    return 0;
}

int header_ready(vcd_reader_t* reader, void* ctx) {
    return start_decoding(static_cast<tracedec_t*>(ctx), signals_t{reader, nullptr});
}

// A capture's steps, on to the bus decoder.
int take_capture_steps(const bus_step_t* steps, std::size_t count, void* ctx) {
    auto* d = static_cast<tracedec_t*>(ctx);
    for (std::size_t i = 0; i < count && d->status == TRACEDEC_OK; ++i) {
        if (d->mode == MODE_I2C) {
            i2cbus_step(&d->i2c, &steps[i]);
        } else {
            parbus_step(&d->parbus, &steps[i]);
        }
    }
    return d->status == TRACEDEC_OK ? 0 : 1;
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
        "", -1, {0, 1, 2, 3, 4, 5, 6, 7}, true, CHIP_DEFAULT_FOSC_KHZ, false, false, false, 1, 0};
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
    d->rate_hz = options->rate_hz;
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

namespace {

// The warnings of a trace read to its end: x and z, no E edge or no byte for the display.
int end_warnings(tracedec_t* d) {
    if (d->callbacks.warning == nullptr) {
        return TRACEDEC_OK;
    }
    const std::uint64_t unknown = d->reader != nullptr ? vcd_unknown_count(d->reader) : 0;
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

} // namespace

int tracedec_finish(tracedec_t* d) {
    if (d->status != TRACEDEC_OK || take_status(d, vcd_finish(d->reader)) != TRACEDEC_OK) {
        return d->status;
    }
    return end_warnings(d);
}

int tracedec_capture(tracedec_t* d, capture_t* capture) {
    if (d->status != TRACEDEC_OK) {
        return d->status;
    }
    d->from_capture = true;
    d->rate_hz = capture_rate_hz(capture);
    if (start_decoding(d, signals_t{nullptr, capture}) != 0) {
        return d->status;
    }
    const int read = capture_run(capture, take_capture_steps, d);
    d->capture_end_ps = capture_end_ps(capture);
    if (read != CAPTURE_OK && d->status == TRACEDEC_OK) {
        refuse(d,
               read == CAPTURE_NO_MEMORY    ? TRACEDEC_NO_MEMORY
               : read == CAPTURE_UNREADABLE ? TRACEDEC_UNREADABLE
                                            : TRACEDEC_MALFORMED,
               capture_message(capture));
    }
    return d->status != TRACEDEC_OK ? d->status : end_warnings(d);
}

bool tracedec_too_coarse(const tracedec_t* d, char* out, int capacity) {
    const std::int64_t rate = d->rate_hz;
    if (rate <= 0 || d->mode != MODE_PARALLEL) {
        return false;
    }
    const bus_limits_t l = parbus_limits(d->options.low_voltage);
    struct limit_t {
        const char* name;
        std::int64_t ps;
    };
    const std::array<limit_t, 5> limits{{{"PWEH", l.pulse},
                                         {"tAS", l.addr_setup},
                                         {"tAH", l.addr_hold},
                                         {"tDSW", l.data_setup},
                                         {"tH", l.data_hold}}};
    // A limit is unseen when a sample period, 10^12 / rate picoseconds, is longer than it.
    constexpr std::int64_t PS_PER_S = 1000000000000;
    std::string unseen;
    std::int64_t finest = INT64_MAX;
    int count = 0;
    for (const limit_t& limit : limits) {
        if (limit.ps * rate < PS_PER_S) { // rate <= 10^12 and a limit below 10^6 ps: no overflow
            std::array<char, 32> ns{};
            parbus_format_ns(limit.ps, ns.data(), static_cast<int>(ns.size()));
            unseen += std::string(count == 0 ? "" : ", ") + limit.name + " " + ns.data();
            finest = std::min(finest, limit.ps);
            ++count;
        }
    }
    if (count == 0) {
        return false;
    }
    const std::size_t last = unseen.rfind(", ");
    if (last != std::string::npos) {
        unseen.replace(last, 2, " and ");
    }
    std::array<char, 32> period{};
    parbus_format_ns(PS_PER_S / rate, period.data(), static_cast<int>(period.size()));
    const std::int64_t needed = (PS_PER_S + finest - 1) / finest; // hertz
    std::array<char, 32> need{};
    if (needed % 1000000 == 0) {
        std::snprintf(need.data(), need.size(), "%lld MHz",
                      static_cast<long long>(needed / 1000000));
    } else {
        std::snprintf(need.data(), need.size(), "%lld kHz",
                      static_cast<long long>((needed + 999) / 1000));
    }
    std::snprintf(out, static_cast<std::size_t>(capacity),
                  "samples %s apart are too coarse to judge %s: --check-timing needs %s or "
                  "faster",
                  period.data(), unseen.c_str(), need.data());
    return true;
}

void tracedec_stop(tracedec_t* d) {
    refuse(d, TRACEDEC_STOPPED, "stopped");
}

const char* tracedec_message(const tracedec_t* d) {
    return d->message.data();
}

std::int64_t tracedec_end_ps(const tracedec_t* d) {
    return d->from_capture ? d->capture_end_ps : vcd_end_time(d->reader);
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
