#include "chip/saleae.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace vimbra {

namespace {

constexpr std::size_t TIMES_AT_ONCE = 1024; // float64 times read from a channel file at once
constexpr std::size_t CSV_READ = std::size_t{1} << 16;
constexpr double MAX_SECONDS = 9.0e6; // about 104 days: picoseconds stay within 63 bits
constexpr std::int64_t NEVER = INT64_MAX;

struct channel_t {
    capin_t* in = nullptr;
    std::string file;
    std::string name;
    unsigned initial = 0;
    double begin = 0;
    double end = 0;
    std::uint64_t count = 0;
    // While running: the times read ahead and the next transition.
    std::uint32_t roles = 0; // the lines this channel drives
    std::vector<double> times;
    std::size_t at = 0;
    std::uint64_t taken = 0;
    double last = 0;
    std::int64_t next_ps = NEVER;
};

} // namespace

struct saleae_t {
    bool csv = false;
    std::vector<channel_t> channels;
    double origin = 0;              // seconds subtracted from every time of a binary export
    std::int64_t csv_origin_ps = 0; // picoseconds subtracted from every time of a CSV export
    std::int64_t end_ps = 0;
    // The CSV export.
    capin_t* in = nullptr;
    std::vector<char> pending; // bytes read but not yet taken
    std::size_t pending_at = 0;
    std::uint32_t line = 0;
};

namespace {

int refuse(int* status, char* message, int capacity, const std::string& text) {
    *status = CAPTURE_MALFORMED;
    std::snprintf(message, static_cast<std::size_t>(capacity), "%s", text.c_str());
    return CAPTURE_MALFORMED;
}

std::string quoted(const std::string& text) {
    std::array<char, 96> out{};
    capture_quote(text.data(), text.size(), 40, out.data(), static_cast<int>(out.size()));
    return out.data();
}

std::uint64_t le(const unsigned char* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        v = (v << 8) | p[i];
    }
    return v;
}

double le_double(const unsigned char* p) {
    const std::uint64_t bits = le(p, 8);
    double v = 0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// "digital_3.bin" is "Channel 3", as Logic 2 names it in a CSV export; another file is its
// name without ".bin".
std::string channel_name(const std::string& file) {
    const std::string stem = file.size() > 4 && file.compare(file.size() - 4, 4, ".bin") == 0
                                 ? file.substr(0, file.size() - 4)
                                 : file;
    const std::string digits =
        stem.size() > 8 && stem.compare(0, 8, "digital_") == 0 ? stem.substr(8) : "";
    if (!digits.empty() && digits.size() < 4 &&
        digits.find_first_not_of("0123456789") == std::string::npos) {
        return "Channel " + digits;
    }
    return stem;
}

// One channel file's header. 1: an analog file, left out.
int read_header(channel_t* c, int* status, char* message, int capacity) {
    std::array<unsigned char, SALEAE_HEADER_BYTES> h{};
    const std::size_t n = capin_read(c->in, h.data(), h.size());
    if (c->in->failed) {
        *status = CAPTURE_UNREADABLE;
        return CAPTURE_UNREADABLE;
    }
    const std::string where = quoted(c->file) + ": ";
    if (n < 8 || std::memcmp(h.data(), "<SALEAE>", 8) != 0) {
        return refuse(status, message, capacity,
                      where + "not a Saleae binary export (no '<SALEAE>' at its start)");
    }
    if (n < h.size()) {
        return refuse(status, message, capacity,
                      where + "the header ends after " + std::to_string(n) + " of " +
                          std::to_string(h.size()) + " bytes");
    }
    const auto version = static_cast<std::int32_t>(le(h.data() + 8, 4));
    const auto type = static_cast<std::int32_t>(le(h.data() + 12, 4));
    if (version != 0) {
        return refuse(status, message, capacity,
                      where + "version " + std::to_string(version) +
                          ": this reader takes Saleae binary exports of version 0");
    }
    if (type == 1) {
        return 1;
    }
    if (type != 0) {
        return refuse(status, message, capacity,
                      where + "type " + std::to_string(type) +
                          " is neither digital (0) nor analog (1)");
    }
    c->initial = static_cast<unsigned>(le(h.data() + 16, 4));
    c->begin = le_double(h.data() + 20);
    c->end = le_double(h.data() + 28);
    c->count = le(h.data() + 36, 8);
    if (c->initial > 1) {
        return refuse(status, message, capacity,
                      where + "initial state " + std::to_string(c->initial) +
                          " is neither 0 nor 1");
    }
    if (!std::isfinite(c->begin) || !std::isfinite(c->end) || c->begin > c->end ||
        std::fabs(c->begin) > MAX_SECONDS || std::fabs(c->end) > MAX_SECONDS) {
        return refuse(status, message, capacity,
                      where + "begin and end times are not an interval of at most 100 days");
    }
    if (c->in->fp == nullptr && c->count > (c->in->size - c->in->pos) / 8) {
        return refuse(status, message, capacity,
                      where + std::to_string(c->count) + " transitions announced, " +
                          std::to_string((c->in->size - c->in->pos) / 8) + " there");
    }
    return CAPTURE_OK;
}

std::int64_t to_ps(double seconds, double origin) {
    return std::llround((seconds - origin) * 1e12);
}

// The channel's next transition, or NEVER after its last.
int advance(channel_t* c, double origin, int* status, char* message, int capacity) {
    if (c->taken == c->count) {
        c->next_ps = NEVER;
        return CAPTURE_OK;
    }
    if (c->at == c->times.size()) {
        const std::uint64_t left = c->count - c->taken;
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(left, TIMES_AT_ONCE));
        std::array<unsigned char, TIMES_AT_ONCE * 8> raw{};
        const std::size_t n = capin_read(c->in, raw.data(), want * 8);
        if (c->in->failed) {
            *status = CAPTURE_UNREADABLE;
            return CAPTURE_UNREADABLE;
        }
        if (n < want * 8) {
            return refuse(status, message, capacity,
                          quoted(c->file) + ": " + std::to_string(c->count) +
                              " transitions announced, " + std::to_string(c->taken + n / 8) +
                              " there");
        }
        c->times.resize(want);
        for (std::size_t i = 0; i < want; ++i) {
            c->times[i] = le_double(raw.data() + 8 * i);
        }
        c->at = 0;
    }
    const double t = c->times[c->at++];
    if (!std::isfinite(t) || t < c->last || t < c->begin || std::fabs(t) > MAX_SECONDS) {
        std::array<char, 64> shown{};
        std::snprintf(shown.data(), shown.size(), "%.12g", t);
        return refuse(status, message, capacity,
                      quoted(c->file) + ": transition " + std::to_string(c->taken + 1) + " at " +
                          shown.data() + " s is out of order or out of range");
    }
    c->last = t;
    ++c->taken;
    c->next_ps = to_ps(t, origin);
    return CAPTURE_OK;
}

int run_binary(saleae_t* s, const std::array<int, BUS_ROLES>& channel_of_role, capture_emit_t* emit,
               char* message, int capacity) {
    std::vector<channel_t*> used;
    for (int role = 0; role < BUS_ROLES; ++role) {
        const int index = channel_of_role[static_cast<std::size_t>(role)];
        if (index < 0) {
            continue;
        }
        channel_t& c = s->channels[static_cast<std::size_t>(index)];
        if (c.roles == 0) {
            used.push_back(&c);
        }
        c.roles |= 1u << role;
    }
    int status = CAPTURE_OK;
    std::uint32_t levels = 0;
    std::uint32_t all = 0;
    double start = MAX_SECONDS;
    for (channel_t* c : used) {
        levels |= c->initial != 0 ? c->roles : 0;
        all |= c->roles;
        c->last = c->begin;
        start = std::min(start, c->begin);
        s->end_ps = std::max(s->end_ps, to_ps(c->end, s->origin));
        if (advance(c, s->origin, &status, message, capacity) != CAPTURE_OK) {
            return status;
        }
    }
    if (used.empty()) {
        return CAPTURE_OK;
    }
    std::uint32_t step_index = 0;
    if (!capture_emit(emit,
                      bus_step_t{to_ps(start, s->origin), step_index++, levels, levels, all})) {
        return CAPTURE_STOPPED;
    }
    for (;;) {
        std::int64_t now = NEVER;
        for (const channel_t* c : used) {
            now = std::min(now, c->next_ps);
        }
        if (now == NEVER) {
            break;
        }
        std::uint32_t next = levels;
        for (channel_t* c : used) {
            while (c->next_ps == now) {
                next ^= c->roles;
                if (advance(c, s->origin, &status, message, capacity) != CAPTURE_OK) {
                    return status;
                }
            }
        }
        if (next != levels &&
            !capture_emit(emit, bus_step_t{now, step_index++, next ^ levels, next, 0})) {
            return CAPTURE_STOPPED;
        }
        levels = next;
        s->end_ps = std::max(s->end_ps, now);
    }
    return CAPTURE_OK;
}

// ---------------------------------------------------------------- CSV

// The next line of the export, without its line end; false at the end.
bool next_line(saleae_t* s, std::string* line, bool* too_long) {
    line->clear();
    *too_long = false;
    for (;;) {
        if (s->pending_at == s->pending.size()) {
            s->pending.resize(CSV_READ);
            const std::size_t n = capin_read(s->in, s->pending.data(), CSV_READ);
            s->pending.resize(n);
            s->pending_at = 0;
            if (n == 0) {
                if (!line->empty()) {
                    ++s->line;
                    return true;
                }
                return false;
            }
        }
        const char* p = s->pending.data() + s->pending_at;
        const std::size_t left = s->pending.size() - s->pending_at;
        const auto* nl = static_cast<const char*>(std::memchr(p, '\n', left));
        const std::size_t take = nl != nullptr ? static_cast<std::size_t>(nl - p) : left;
        if (line->size() + take > static_cast<std::size_t>(SALEAE_MAX_LINE)) {
            *too_long = true;
            ++s->line;
            return true;
        }
        line->append(p, take);
        s->pending_at += take + (nl != nullptr ? 1 : 0);
        if (nl != nullptr) {
            ++s->line;
            if (!line->empty() && line->back() == '\r') {
                line->pop_back();
            }
            return true;
        }
    }
}

// Comma-separated fields; a field in double quotes may hold commas and "" for a quote.
bool split_fields(const std::string& line, std::vector<std::string>* fields) {
    fields->clear();
    std::size_t i = 0;
    for (;;) {
        std::string field;
        if (i < line.size() && line[i] == '"') {
            ++i;
            for (;;) {
                if (i >= line.size()) {
                    return false;
                }
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line[i++];
            }
            if (i < line.size() && line[i] != ',') {
                return false;
            }
        } else {
            const std::size_t comma = line.find(',', i);
            const std::size_t end = comma == std::string::npos ? line.size() : comma;
            field = line.substr(i, end - i);
            i = end;
        }
        fields->push_back(field);
        if (i >= line.size()) {
            return true;
        }
        ++i; // the comma
    }
}

int open_csv(saleae_t* s, int* status, char* message, int capacity) {
    std::string line;
    bool too_long = false;
    if (!next_line(s, &line, &too_long) || too_long) {
        return refuse(status, message, capacity,
                      s->in->failed ? "cannot be read" : "line 1: no CSV header");
    }
    if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        line.erase(0, 3);
    }
    std::vector<std::string> fields;
    if (!split_fields(line, &fields) || fields.empty() || fields[0] != "Time [s]") {
        return refuse(status, message, capacity,
                      "line 1: a Saleae CSV export starts 'Time [s],Channel 0,...', not '" +
                          quoted(line) + "'");
    }
    if (fields.size() < 2 || fields.size() > static_cast<std::size_t>(CAPTURE_MAX_CHANNELS) + 1) {
        return refuse(status, message, capacity,
                      "line 1: " + std::to_string(fields.size() - 1) +
                          " channels in the header; 1 to 64 are read");
    }
    for (std::size_t i = 1; i < fields.size(); ++i) {
        if (fields[i].empty()) {
            return refuse(status, message, capacity,
                          "line 1: column " + std::to_string(i + 1) +
                              " of the header names no channel");
        }
        channel_t c;
        c.name = fields[i];
        c.file = fields[i];
        s->channels.push_back(c);
    }
    return CAPTURE_OK;
}

int run_csv(saleae_t* s, const std::array<int, BUS_ROLES>& channel_of_role, capture_emit_t* emit,
            char* message, int capacity) {
    int status = CAPTURE_OK;
    std::string line;
    std::vector<std::string> fields;
    bool too_long = false;
    bool first = true;
    bool have_pending = false;
    bus_step_t pending{};
    std::uint32_t emitted = 0;
    std::uint32_t all = 0;
    std::int64_t previous = 0;
    std::string previous_text;
    for (int role = 0; role < BUS_ROLES; ++role) {
        all |= channel_of_role[static_cast<std::size_t>(role)] >= 0 ? 1u << role : 0;
    }
    const auto flush = [&]() {
        if (!have_pending) {
            return true;
        }
        if (first || pending.levels != emitted) {
            pending.changed = pending.levels ^ emitted; // from all low, at the first
            pending.fresh = first ? all : 0;
            emitted = pending.levels;
            first = false;
            return capture_emit(emit, pending);
        }
        return true;
    };
    while (next_line(s, &line, &too_long)) {
        const std::string where = "line " + std::to_string(s->line) + ": ";
        if (too_long) {
            return refuse(&status, message, capacity,
                          where + "longer than " + std::to_string(SALEAE_MAX_LINE) + " bytes");
        }
        if (line.empty()) {
            continue;
        }
        if (!split_fields(line, &fields) || fields.size() != s->channels.size() + 1) {
            return refuse(&status, message, capacity,
                          where + "not a row of a time and " + std::to_string(s->channels.size()) +
                              " levels: '" + quoted(line) + "'");
        }
        std::int64_t ps = 0;
        if (!capture_parse_seconds(fields[0].data(), fields[0].size(), &ps) || ps > INT64_MAX / 2 ||
            ps < -(INT64_MAX / 2)) {
            return refuse(&status, message, capacity,
                          where + "'" + quoted(fields[0]) + "' is not a time in seconds");
        }
        if (!have_pending && ps < 0) {
            s->csv_origin_ps = ps; // a pre-roll: the first row is time 0
        }
        const std::int64_t at = ps - s->csv_origin_ps;
        if (have_pending && at < previous) {
            return refuse(&status, message, capacity,
                          where + "time goes backwards: " + quoted(fields[0]) + " after " +
                              quoted(previous_text));
        }
        std::uint32_t levels = 0;
        for (int role = 0; role < BUS_ROLES; ++role) {
            const int channel = channel_of_role[static_cast<std::size_t>(role)];
            if (channel < 0) {
                continue;
            }
            const std::string& v = fields[static_cast<std::size_t>(channel) + 1];
            if (v != "0" && v != "1") {
                return refuse(&status, message, capacity,
                              where + "level '" + quoted(v) + "' of " +
                                  quoted(s->channels[static_cast<std::size_t>(channel)].name) +
                                  " is neither 0 nor 1");
            }
            levels |= v == "1" ? 1u << role : 0;
        }
        if (!have_pending || at != pending.time_ps) {
            if (!flush()) {
                return CAPTURE_STOPPED;
            }
            pending = bus_step_t{at, s->line, 0, levels, 0};
            have_pending = true;
        } else {
            pending.levels = levels;
        }
        previous = at;
        previous_text = fields[0];
        s->end_ps = at;
    }
    if (s->in->failed) {
        return CAPTURE_UNREADABLE;
    }
    return flush() ? CAPTURE_OK : CAPTURE_STOPPED;
}

} // namespace

saleae_t* saleae_open_binary(capin_t* files, const char* const* names, int count, int* status,
                             char* message, int capacity) {
    auto* s = new (std::nothrow) saleae_t;
    if (s == nullptr) {
        *status = CAPTURE_NO_MEMORY;
        return nullptr;
    }
    *status = CAPTURE_OK;
    try {
        for (int i = 0; i < count && *status == CAPTURE_OK; ++i) {
            channel_t c;
            c.in = &files[i];
            c.file = names[i];
            c.name = channel_name(c.file);
            const int read = read_header(&c, status, message, capacity);
            if (read == CAPTURE_OK) {
                if (s->channels.size() == static_cast<std::size_t>(CAPTURE_MAX_CHANNELS)) {
                    refuse(status, message, capacity, "more than 64 digital channels");
                }
                s->channels.push_back(c);
            }
        }
        if (*status == CAPTURE_OK && s->channels.empty()) {
            refuse(status, message, capacity, "no digital channel among the export's files");
        }
    } catch (const std::bad_alloc&) {
        *status = CAPTURE_NO_MEMORY;
    }
    if (*status != CAPTURE_OK) {
        delete s;
        return nullptr;
    }
    // Channels in the order of their names ("Channel 2" before "Channel 10"), whatever order
    // the folder lists them in.
    std::stable_sort(
        s->channels.begin(), s->channels.end(), [](const channel_t& a, const channel_t& b) {
            return a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
        });
    for (const channel_t& c : s->channels) {
        s->origin = std::min(s->origin, c.begin);
    }
    return s;
}

saleae_t* saleae_open_csv(capin_t* in, int* status, char* message, int capacity) {
    auto* s = new (std::nothrow) saleae_t;
    if (s == nullptr) {
        *status = CAPTURE_NO_MEMORY;
        return nullptr;
    }
    s->csv = true;
    s->in = in;
    *status = CAPTURE_OK;
    try {
        open_csv(s, status, message, capacity);
    } catch (const std::bad_alloc&) {
        *status = CAPTURE_NO_MEMORY;
    }
    if (*status != CAPTURE_OK) {
        delete s;
        return nullptr;
    }
    return s;
}

void saleae_close(saleae_t* saleae) {
    delete saleae;
}

int saleae_channel_count(const saleae_t* s) {
    return static_cast<int>(s->channels.size());
}

const char* saleae_channel_name(const saleae_t* s, int channel) {
    return s->channels[static_cast<std::size_t>(channel)].name.c_str();
}

int saleae_find_file(const saleae_t* s, const char* file) {
    for (std::size_t i = 0; i < s->channels.size(); ++i) {
        if (!s->csv && s->channels[i].file == file) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int saleae_run(saleae_t* s, const std::array<int, BUS_ROLES>& channel_of_role, capture_emit_t* emit,
               char* message, int capacity) {
    try {
        return s->csv ? run_csv(s, channel_of_role, emit, message, capacity)
                      : run_binary(s, channel_of_role, emit, message, capacity);
    } catch (const std::bad_alloc&) {
        std::snprintf(message, static_cast<std::size_t>(capacity), "Memory Allocation Error.");
        return CAPTURE_NO_MEMORY;
    }
}

std::int64_t saleae_end_ps(const saleae_t* s) {
    return s->end_ps;
}

} // namespace vimbra
