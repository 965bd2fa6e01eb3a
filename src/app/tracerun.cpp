#include "app/tracerun.hpp"

#include <CLI/CLI.hpp>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "chip/i2cbus.hpp"
#include "chip/parbus.hpp"
#include "chip/timing.hpp"
#include "chip/vcd.hpp"

namespace {

constexpr int DONE = 0;
constexpr int BAD_INPUT = 1; // unreadable, memory
constexpr int BAD_FORMAT = 2;
constexpr std::int64_t PS_PER_US = 1000000;
constexpr std::size_t BATCH_EVENTS = 4096;
constexpr std::size_t CHUNK_BYTES = 1 << 16;
constexpr std::size_t LISTED_SIGNALS = 40;

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

void say(const std::string& line) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", line.c_str());
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
            return "--pins: '" + item + "' is not ROLE=SIGNAL";
        }
        const std::string role = lower(item.substr(0, eq));
        int found = -1;
        for (const role_name_t& r : ROLE_NAMES) {
            if (role == r.name) {
                found = r.role;
            }
        }
        if (found < 0) {
            return "--pins: unknown role '" + role + "' (rs, rw, e, e1, e2, d0-d7, sda, scl)";
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

bool parse_number(const std::string& text, long max, long* value) {
    if (text.empty() || text.size() > 12) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v < 0 || v > max || text[0] == '-' || text[0] == '+') {
        return false;
    }
    *value = v;
    return true;
}

// "RS RW E BL D4 D5 D6 D7" pins, blanks or commas between; all different, 0 to 7.
bool parse_wiring(const std::string& text, std::array<int, 8>* wiring) {
    std::string spaced = text;
    for (char& c : spaced) {
        c = c == ',' || c == '\t' ? ' ' : c;
    }
    std::size_t count = 0;
    unsigned seen = 0;
    std::size_t i = 0;
    while (i < spaced.size()) {
        if (spaced[i] == ' ') {
            ++i;
            continue;
        }
        const std::size_t end = std::min(spaced.find(' ', i), spaced.size());
        long pin = 0;
        if (count == 8 || !parse_number(spaced.substr(i, end - i), 7, &pin) ||
            ((seen >> pin) & 1) != 0) {
            return false;
        }
        seen |= 1u << pin;
        (*wiring)[count++] = static_cast<int>(pin);
        i = end;
    }
    return count == 8;
}

// ---------------------------------------------------------------- the emitted log

struct emit_t {
    std::FILE* fp = nullptr;
    std::string path;
    std::string part; // written here, renamed at the end so that no half log is left
    std::int64_t last_us = 0;
    int chip = 0;
    bool two_chips = false;
};

bool emit_open(emit_t* e, const std::string& path, const std::string& source, bool two_chips) {
    e->path = path;
    e->part = path + ".part";
    e->two_chips = two_chips;
    e->fp = std::fopen(e->part.c_str(), "wb");
    if (e->fp == nullptr) {
        return false;
    }
    std::fprintf(e->fp, "# the bus of %s as the controller took it\n", source.c_str());
    return true;
}

void emit_wait(emit_t* e, std::int64_t time_us) {
    if (time_us > e->last_us) {
        std::fprintf(e->fp, "wait %lldus\n", static_cast<long long>(time_us - e->last_us));
        e->last_us = time_us;
    }
}

void emit_byte(emit_t* e, const timing_byte_t* b) {
    if (e->fp == nullptr) {
        return;
    }
    emit_wait(e, b->time_ps / PS_PER_US);
    if (e->two_chips && b->chip != e->chip && b->taken) {
        e->chip = b->chip;
        std::fprintf(e->fp, "controller %d\n", b->chip + 1);
    }
    const char* comment = b->taken ? "" : "# not taken, busy: ";
    switch (b->kind) {
    case TIMING_INSTRUCTION:
        std::fprintf(e->fp, "%scmd 0x%02X\n", comment, b->value);
        break;
    case TIMING_DATA:
        std::fprintf(e->fp, "%sdata 0x%02X\n", comment, b->value);
        break;
    case TIMING_READ_BUSY:
        std::fprintf(e->fp, "%sread busy\n", comment);
        break;
    default:
        std::fprintf(e->fp, "%sread data\n", comment);
        break;
    }
}

// 0, or -1 with errno; the part file goes either way.
int emit_close(emit_t* e, bool keep, std::int64_t end_us) {
    if (e->fp == nullptr) {
        return 0;
    }
    if (keep) {
        emit_wait(e, end_us);
    }
    const bool flushed = std::fflush(e->fp) == 0 && std::ferror(e->fp) == 0;
    int error = errno;
    const bool closed = std::fclose(e->fp) == 0;
    error = closed ? error : errno;
    e->fp = nullptr;
    if (keep && flushed && closed && std::rename(e->part.c_str(), e->path.c_str()) == 0) {
        return 0;
    }
    error = keep && flushed && closed ? errno : error;
    std::remove(e->part.c_str());
    errno = error;
    return keep ? -1 : 0;
}

// ---------------------------------------------------------------- one run

enum bus_mode_t { MODE_PARALLEL, MODE_I2C };

struct session_t {
    const tracerun_request_t* request;
    const trace_options_t* o;
    int status = DONE;
    std::string message; // the line that ended the run
    std::uint64_t faults = 0;
    bus_mode_t mode = MODE_PARALLEL;
    bool two_chips = false;
    vcd_reader_t* reader = nullptr;
    parbus_t parbus{};
    i2cbus_t i2c{};
    timing_t timing{};
    replay_t replay{};
    cmdlog_t batch{};
    cmdlog_t* log = nullptr; // every event, for an animation
    emit_t emit;
    bool in_log = false; // faults name a log's lines
    // A log under chip timing: the bytes taken, written back over the log's events.
    cmdlog_t* rewrite = nullptr;
    std::size_t rewritten = 0;
};

void report_fault(std::int64_t time_ps, std::uint32_t line, const char* text, void* ctx) {
    auto* s = static_cast<session_t*>(ctx);
    if (s->faults++ >= TRACERUN_MAX_FAULT_LINES) {
        return;
    }
    std::array<char, 48> at{};
    timing_format_ms(time_ps, 6, at.data(), static_cast<int>(at.size()));
    const std::string where =
        s->in_log ? s->request->name + ":" + std::to_string(line) : s->request->name;
    say(where + ": " + at.data() + ": " + text);
}

bool append(cmdlog_t* log, const cmdlog_event_t& event) {
    if (log->count == log->capacity) {
        const std::size_t capacity = log->capacity == 0 ? 256 : log->capacity * 2;
        void* grown = std::realloc(log->events, capacity * sizeof(cmdlog_event_t));
        if (grown == nullptr) {
            return false;
        }
        log->events = static_cast<cmdlog_event_t*>(grown);
        log->capacity = capacity;
    }
    log->events[log->count++] = event;
    return true;
}

void stop(session_t* s, int status, const std::string& message) {
    if (s->status == DONE) {
        s->status = status;
        s->message = message;
    }
}

// The events gathered so far go to the controllers.
void flush_batch(session_t* s) {
    if (s->batch.count == 0 || s->status != DONE) {
        s->batch.count = 0;
        return;
    }
    std::array<char, CMDLOG_MESSAGE_CAPACITY> message{};
    s->replay.log = &s->batch;
    s->replay.applied = 0;
    if (replay_advance(&s->replay, s->batch.events[s->batch.count - 1].time_us, message.data(),
                       static_cast<int>(message.size())) != 0) {
        stop(s, BAD_FORMAT, s->request->name + ": " + message.data());
    }
    s->replay.log = nullptr;
    s->batch.count = 0;
}

constexpr std::array<unsigned char, 4> EVENT_KINDS{CMDLOG_INSTRUCTION, CMDLOG_DATA,
                                                   CMDLOG_READ_BUSY, CMDLOG_READ_DATA};

void take_byte(const timing_byte_t* b, void* ctx) {
    auto* s = static_cast<session_t*>(ctx);
    emit_byte(&s->emit, b);
    if (!b->taken) {
        return;
    }
    const cmdlog_event_t event{b->time_ps / PS_PER_US, b->line, EVENT_KINDS[b->kind & 3],
                               b->value, static_cast<unsigned char>(b->chip), 0};
    if (s->rewrite != nullptr) {
        s->rewrite->events[s->rewritten++] = event;
    }
    if (s->in_log) {
        return;
    }
    if (s->log != nullptr && !append(s->log, event)) {
        stop(s, BAD_INPUT, "Memory Allocation Error.");
    }
    const std::int64_t at = s->request->at_us;
    if (at < 0 || event.time_us <= at) {
        s->batch.events[s->batch.count++] = event;
        if (s->batch.count == s->batch.capacity) {
            flush_batch(s);
        }
    }
}

void take_cycle(const bus_cycle_t* c, void* ctx) {
    auto* s = static_cast<session_t*>(ctx);
    timing_cycle(&s->timing, c->time_ps, c->line, c->chip, c->rs, c->rw, c->data);
}

void take_pins(const bus_step_t* step, void* ctx) {
    parbus_step(&static_cast<session_t*>(ctx)->parbus, step);
}

void take_warning(const char* text, void* ctx) {
    say(static_cast<session_t*>(ctx)->request->name + ": " + text);
}

int take_step(const vcd_step_t* step, void* ctx) {
    auto* s = static_cast<session_t*>(ctx);
    const bus_step_t bus{step->time_ps, step->line, step->changed, step->levels, step->fresh};
    if (s->mode == MODE_I2C) {
        i2cbus_step(&s->i2c, &bus);
    } else {
        parbus_step(&s->parbus, &bus);
    }
    return s->status == DONE ? 0 : 1;
}

std::string signal_list(const vcd_reader_t* reader) {
    std::string list;
    const int count = vcd_signal_count(reader);
    for (int i = 0; i < count; ++i) {
        if (static_cast<std::size_t>(i) == LISTED_SIGNALS) {
            list += ", ... (" + std::to_string(count) + " in all)";
            break;
        }
        list += (i == 0 ? "" : ", ") + std::string(vcd_signal_name(reader, i));
    }
    return list.empty() ? "none" : list;
}

// Which signal is which line: --pins, else signals named like the roles.
int choose_pins(session_t* s, vcd_reader_t* reader) {
    std::array<std::string, BUS_ROLES> names{};
    if (!s->o->pins.empty()) {
        const std::string error = parse_pins(s->o->pins, &names);
        if (!error.empty()) {
            stop(s, BAD_FORMAT, "vimbracli: " + error);
            return 1;
        }
    } else {
        for (int i = 0; i < vcd_signal_count(reader); ++i) {
            const std::string name = lower(vcd_signal_name(reader, i));
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
        s->mode = MODE_I2C;
        needed = {BUS_SDA, BUS_SCL};
    } else {
        const bool eight = given(BUS_D0) || given(BUS_D0 + 1) || given(BUS_D0 + 2) ||
                           given(BUS_D0 + 3);
        needed = {BUS_RS, BUS_E1};
        for (int d = eight ? 0 : 4; d < 8; ++d) {
            needed.push_back(BUS_D0 + d);
        }
        if (given(BUS_RW)) {
            needed.push_back(BUS_RW);
        }
        s->two_chips = given(BUS_E2);
        if (s->two_chips) {
            needed.push_back(BUS_E2);
        }
    }
    const std::string usage = "vimbracli: " + s->request->name + ": --pins: ";
    for (int role : needed) {
        const std::string& name = names[static_cast<std::size_t>(role)];
        if (name.empty()) {
            stop(s, BAD_FORMAT,
                 usage + "no signal for " + (role == BUS_E1 && s->two_chips ? "e1" : role_label(role)) +
                     " (the trace's signals: " + signal_list(reader) + ")");
            return 1;
        }
        int signal = 0;
        int bit = 0;
        if (vcd_find(reader, name.c_str(), &signal, &bit) != 0) {
            stop(s, BAD_FORMAT,
                 usage + "the trace has no signal '" + name +
                     "' (its signals: " + signal_list(reader) + ")");
            return 1;
        }
        if (vcd_watch(reader, signal, bit, role) != 0) {
            stop(s, BAD_INPUT, "Memory Allocation Error.");
            return 1;
        }
    }
    if (s->two_chips && s->request->module->chip_count < 2) {
        stop(s, BAD_FORMAT, usage + "e2: this module has one controller");
        return 1;
    }
    return 0;
}

void start_timing(session_t* s, bool trace);

int header_ready(vcd_reader_t* reader, void* ctx) {
    auto* s = static_cast<session_t*>(ctx);
    if (choose_pins(s, reader) != 0) {
        return 1;
    }
    const trace_options_t& o = *s->o;
    const bool judge = o.check;
    const parbus_callbacks_t bus_callbacks{take_cycle, judge ? report_fault : nullptr, s};
    const bus_limits_t limits = parbus_limits(o.vcc < 4.5);
    parbus_start(&s->parbus, &bus_callbacks, &limits, s->two_chips);
    start_timing(s, true); // again, now that the pins tell how many controllers there are
    if (s->mode == MODE_I2C) {
        std::array<int, 8> wiring{0, 1, 2, 3, 4, 5, 6, 7};
        long address = -1;
        if (!o.wiring.empty()) {
            parse_wiring(o.wiring, &wiring); // checked with the options
        }
        if (!o.i2c_address.empty()) {
            parse_number(o.i2c_address, 0x7F, &address);
        }
        const i2cbus_callbacks_t i2c_callbacks{take_pins, take_warning, s};
        i2cbus_start(&s->i2c, &i2c_callbacks, wiring, static_cast<int>(address));
    }
    if (!o.emit_log.empty() && !emit_open(&s->emit, o.emit_log, s->request->name, s->two_chips)) {
        stop(s, BAD_INPUT, o.emit_log + ": cannot be written: " + std::strerror(errno));
        return 1;
    }
    return 0;
}

void start_timing(session_t* s, bool trace) {
    const trace_options_t& o = *s->o;
    const bool chip = o.timing == "chip" || (o.timing.empty() && trace);
    const timing_config_t config{chip, o.fosc_khz, o.power_on, s->two_chips};
    const timing_callbacks_t callbacks{take_byte, o.check ? report_fault : nullptr, s};
    timing_start(&s->timing, &config, &callbacks);
}

// What the run learnt besides the picture: x and z, no cycle, bytes not taken, fault count.
void summarise(session_t* s, bool trace) {
    const std::string& name = s->request->name;
    if (trace) {
        const std::uint64_t unknown = vcd_unknown_count(s->reader);
        if (unknown > 0) {
            say(name + ": " + std::to_string(unknown) + " x or z value" +
                (unknown == 1 ? "" : "s") + " read as low");
        }
        if (s->mode == MODE_PARALLEL && s->parbus.falls == 0) {
            say(name + ": no falling edge of E: the display stays as reset left it");
        } else if (s->mode == MODE_I2C && s->i2c.bytes == 0) {
            say(name + ": no byte written to the display's I2C address: it stays as reset "
                       "left it");
        }
    }
    if (s->o->check) {
        if (s->faults > TRACERUN_MAX_FAULT_LINES) {
            say(name + ": " + std::to_string(s->faults - TRACERUN_MAX_FAULT_LINES) +
                " more timing faults (" + std::to_string(s->faults) + " in all)");
        }
    } else if (s->timing.not_taken > 0 && s->timing.config.chip_timing) {
        say(name + ": " + std::to_string(s->timing.not_taken) + " byte" +
            (s->timing.not_taken == 1 ? "" : "s") +
            " sent while the controller was busy were not taken (--check-timing names them)");
    }
}

} // namespace

void tracerun_add_options(CLI::App* app, trace_options_t* o) {
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
        ->check(CLI::Range(TIMING_MIN_FOSC_KHZ, TIMING_MAX_FOSC_KHZ))
        ->option_text("KHZ");
    app->add_option("--vcc", o->vcc, "supply voltage: below 4.5 the 2.7-4.5 V bus times apply")
        ->check(CLI::Range(2.7, 5.5))
        ->option_text("VOLTS");
    app->add_flag("--power-on", o->power_on, "time 0 is power-on: the first cycle waits 40 ms");
    app->add_flag("--check-timing", o->check,
                  "name every timing fault on standard error (status 5: some)");
    app->add_option("--emit-log", o->emit_log, "write the decoded bus as a command log")
        ->option_text("FILE");
}

std::string tracerun_settle(const CLI::App& app, const trace_options_t* o, bool has_replay) {
    for (const char* option : {"--pins", "--i2c-address", "--wiring", "--timing", "--fosc",
                               "--vcc", "--power-on", "--check-timing", "--emit-log"}) {
        if (app.count(option) > 0 && !has_replay) {
            return std::string(option) + " needs --replay";
        }
    }
    if (!o->pins.empty()) {
        std::array<std::string, BUS_ROLES> names{};
        const std::string error = parse_pins(o->pins, &names);
        if (!error.empty()) {
            return error;
        }
    } else if (app.count("--pins") > 0) {
        return "--pins: empty";
    }
    long address = 0;
    if (app.count("--i2c-address") > 0 && !parse_number(o->i2c_address, 0x7F, &address)) {
        return "--i2c-address: not an address 0x00 to 0x7F: '" + o->i2c_address + "'";
    }
    std::array<int, 8> wiring{};
    if (app.count("--wiring") > 0 && !parse_wiring(o->wiring, &wiring)) {
        return "--wiring: give the pins (0 to 7, all different) of RS RW E BL D4 D5 D6 D7: '" +
               o->wiring + "'";
    }
    if (app.count("--emit-log") > 0 && (o->emit_log.empty() || o->emit_log == "-")) {
        return "--emit-log: give a file name";
    }
    return "";
}

int tracerun_vcd(const tracerun_request_t* request, std::FILE* fp, const std::string& head,
                 cmdlog_t* log, tracerun_result_t* result) {
    session_t s;
    s.request = request;
    s.o = request->options;
    s.log = log;
    s.batch.events = static_cast<cmdlog_event_t*>(std::malloc(BATCH_EVENTS * sizeof(cmdlog_event_t)));
    s.batch.capacity = BATCH_EVENTS;
    std::vector<char> chunk;
    const vcd_callbacks_t callbacks{header_ready, take_step, &s};
    s.reader = vcd_open(&callbacks);
    try {
        chunk.resize(CHUNK_BYTES);
    } catch (const std::bad_alloc&) {
        s.status = BAD_INPUT;
    }
    if (s.batch.events == nullptr || s.reader == nullptr || s.status != DONE) {
        std::free(s.batch.events);
        vcd_close(s.reader);
        say("Memory Allocation Error.");
        return BAD_INPUT;
    }
    replay_start(&s.replay, request->module, request->img, nullptr);
    start_timing(&s, true);
    int read = vcd_feed(s.reader, head.data(), head.size());
    while (read == VCD_OK) {
        const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), fp);
        if (n == 0) {
            if (std::ferror(fp)) {
                stop(&s, BAD_INPUT, request->name + ": cannot read the trace: " +
                                        std::strerror(errno));
            } else {
                read = vcd_finish(s.reader);
            }
            break;
        }
        read = vcd_feed(s.reader, chunk.data(), n);
    }
    if (s.status == DONE && read != VCD_OK) {
        const bool memory = read == VCD_NO_MEMORY;
        stop(&s, memory ? BAD_INPUT : BAD_FORMAT,
             memory ? std::string(vcd_message(s.reader))
                    : request->name + ": " + vcd_message(s.reader));
    }
    flush_batch(&s);
    const std::int64_t end_us = vcd_end_time(s.reader) / PS_PER_US;
    if (log != nullptr) {
        log->end_us = end_us;
    }
    if (s.status == DONE) {
        const std::int64_t at = request->at_us >= 0 ? request->at_us : end_us;
        std::array<char, CMDLOG_MESSAGE_CAPACITY> message{};
        if (replay_advance(&s.replay, at, message.data(), static_cast<int>(message.size())) != 0) {
            stop(&s, BAD_FORMAT, request->name + ": " + message.data());
        } else if (replay_show(&s.replay, request->img, at) != 0) {
            stop(&s, BAD_INPUT, "Memory Allocation Error.");
        }
        replay_status(&s.replay, &result->status);
    }
    if (emit_close(&s.emit, s.status == DONE, end_us) != 0) {
        stop(&s, BAD_INPUT, request->options->emit_log + ": could not be written: " +
                                std::strerror(errno));
    }
    if (s.status == DONE) {
        summarise(&s, true);
    } else {
        say(s.message);
    }
    result->faults = s.faults > 0;
    std::free(s.batch.events);
    vcd_close(s.reader);
    return s.status;
}

int tracerun_log(const tracerun_request_t* request, cmdlog_t* log, tracerun_result_t* result) {
    const trace_options_t& o = *request->options;
    const bool chip = o.timing == "chip";
    result->faults = false;
    if (!chip && !o.check && o.emit_log.empty()) {
        return DONE;
    }
    session_t s;
    s.request = request;
    s.o = &o;
    s.in_log = true;
    s.two_chips = request->module->chip_count > 1;
    start_timing(&s, false);
    if (!o.emit_log.empty() && !emit_open(&s.emit, o.emit_log, request->name, s.two_chips)) {
        say(o.emit_log + ": cannot be written: " + std::strerror(errno));
        return BAD_INPUT;
    }
    // Under chip timing the log keeps only what the chip took, each byte whole.
    s.rewrite = chip ? log : nullptr;
    for (std::size_t i = 0; i < log->count; ++i) {
        const cmdlog_event_t e = log->events[i];
        const std::int64_t ps = e.time_us * PS_PER_US;
        switch (e.kind) {
        case CMDLOG_BUS:
            timing_cycle(&s.timing, ps, e.line, e.chip, (e.flags & CMDLOG_FLAG_RS) != 0,
                         (e.flags & CMDLOG_FLAG_RW) != 0, e.value);
            break;
        case CMDLOG_INSTRUCTION:
        case CMDLOG_DATA:
        case CMDLOG_READ_BUSY:
        case CMDLOG_READ_DATA: {
            static constexpr std::array<unsigned char, 5> KINDS{
                TIMING_INSTRUCTION, TIMING_DATA, 0, TIMING_READ_BUSY, TIMING_READ_DATA};
            timing_whole(&s.timing, ps, e.line, e.chip, KINDS[e.kind], e.value);
            break;
        }
        default:
            if (s.rewrite != nullptr) {
                log->events[s.rewritten++] = e;
            }
            break;
        }
    }
    if (s.rewrite != nullptr) {
        log->count = s.rewritten;
    }
    if (emit_close(&s.emit, true, log->end_us) != 0) {
        say(o.emit_log + ": could not be written: " + std::strerror(errno));
        return BAD_INPUT;
    }
    summarise(&s, false);
    result->faults = s.faults > 0;
    return DONE;
}
