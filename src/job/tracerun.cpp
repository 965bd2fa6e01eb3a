#include "job/tracerun.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "bmp/outfile.hpp"
#include "chip/loghint.hpp"
#include "chip/timing.hpp"
#include "chip/tracedec.hpp"
#include "job/animate.hpp"

namespace vimbra {

namespace {

constexpr job_status_t DONE = JOB_DONE;
constexpr job_status_t BAD_INPUT = JOB_BAD_INPUT; // unreadable, or not writable
constexpr job_status_t NO_MEMORY = JOB_NO_MEMORY;
constexpr job_status_t BAD_FORMAT = JOB_BAD_LOG;
constexpr job_status_t NOT_WRITTEN = JOB_WRITE_FAILED; // the decoded log
constexpr const char* NO_MEMORY_LINE = "Memory Allocation Error.";
constexpr std::int64_t PS_PER_US = CHIP_PS_PER_US;
constexpr std::size_t BATCH_EVENTS = 4096;
// Large reads: fewer calls, and the reader's loop stays hot.
constexpr std::size_t CHUNK_BYTES = 1 << 18;

void say(const tracerun_request_t* request, const std::string& line) {
    request->messages->say(line.c_str(), request->messages->ctx);
}

// "FILE: what: why", errno saying why.
std::string emit_failure(const std::string& path, const char* what) {
    return path + ": " + what + ": " + std::strerror(errno != 0 ? errno : EIO);
}

// ---------------------------------------------------------------- the emitted log

// Written through the output step: a temporary file renamed over the target at the end, so
// that no half log is left; a device or a descriptor is written as it is.
struct emit_t {
    bool open = false;
    outfile_t out{};
    outfile_sink_t sink{};
    tracedec_log_t log{};
};

// 0, or -1 with errno (ENOMEM when the sink's buffer cannot be had).
int emit_open(emit_t* e, const std::string& path, const std::string& source, bool two_chips) {
    e->log.two_chips = two_chips;
    const int opened = outfile_open(&e->out, path.c_str(), -1);
    if (opened != 0) {
        return -1;
    }
    if (outfile_sink_open(&e->sink, e->out.fd) != 0) {
        outfile_discard(&e->out);
        errno = ENOMEM;
        return -1;
    }
    e->open = true;
    const std::string head = "# the bus of " + source + " as the controller took it\n";
    outfile_sink_write(head.data(), static_cast<std::uint32_t>(head.size()), &e->sink);
    return 0;
}

void emit_text(emit_t* e, const char* text) {
    outfile_sink_write(text, static_cast<std::uint32_t>(std::strlen(text)), &e->sink);
}

void emit_byte(emit_t* e, const chip_byte_t* b) {
    if (!e->open) {
        return;
    }
    std::array<char, TRACEDEC_LOG_LINE_CAPACITY> lines{};
    tracedec_log_byte(&e->log, b, lines.data());
    emit_text(e, lines.data());
}

// 0, or -1 with errno; the temporary file goes either way.
int emit_close(emit_t* e, bool keep, std::int64_t end_us) {
    if (!e->open) {
        return 0;
    }
    e->open = false;
    if (keep) {
        std::array<char, TRACEDEC_LOG_LINE_CAPACITY> line{};
        tracedec_log_end(&e->log, end_us, line.data());
        emit_text(e, line.data());
    }
    const bool written = outfile_sink_close(&e->sink) == 0;
    if (!keep || !written) {
        errno = e->sink.error;
        outfile_discard(&e->out);
        return keep ? -1 : 0;
    }
    return outfile_commit(&e->out);
}

// ---------------------------------------------------------------- one run

// Whether some controller's display is on, from the display control instructions taken.
struct display_t {
    std::array<bool, 2> on{};
    bool ever_on = false;
    bool any_byte = false;
};

void track_display(display_t* d, const chip_byte_t* b) {
    d->any_byte = true;
    if (b->kind == CHIP_INSTRUCTION && (b->value & 0xF8) == 0x08) { // display on/off control
        d->on[static_cast<std::size_t>(b->chip & 1)] = (b->value & 0x04) != 0;
        d->ever_on = d->ever_on || (b->value & 0x04) != 0;
    }
}

struct session_t {
    const tracerun_request_t* request;
    const trace_options_t* o;
    job_status_t status = DONE;
    std::string message; // the line that ended the run
    std::uint64_t faults = 0;
    tracedec_t* dec = nullptr;
    timing_t timing{}; // a log's
    replay_t replay{};
    std::vector<chip_event_t> batch; // taken bytes not yet applied to the still
    // The bytes taken, kept as command-log text: a trace's for an animation, or a log's under
    // chip timing, which becomes the log replayed.
    bool keep_text = false;
    std::string kept;
    std::int64_t kept_until_us = -1; // the last kept byte's time
    std::int64_t kept_moments = 0;   // distinct times of the bytes kept
    tracedec_log_t kept_log{};
    bool kept_started = false;
    emit_t emit;
    bool emit_started = false;
    bool in_log = false; // faults name a log's lines
    display_t display;   // a trace's
};

void report_fault(std::int64_t time_ps, std::uint32_t line, const char* text, void* ctx) {
    auto* s = static_cast<session_t*>(ctx);
    if (s->faults++ >= TRACERUN_MAX_FAULT_LINES) {
        return;
    }
    std::array<char, 48> at{};
    chip_format_ms(time_ps, 6, at.data(), static_cast<int>(at.size()));
    const std::string where =
        s->in_log ? s->request->name + ":" + std::to_string(line) : s->request->name;
    say(s->request, where + ": " + at.data() + ": " + text);
}

bool keep_byte(session_t* s, const chip_byte_t* b, bool two_chips) {
    if (!s->kept_started) {
        s->kept_started = true;
        s->kept_log.two_chips = two_chips;
    }
    std::array<char, TRACEDEC_LOG_LINE_CAPACITY> lines{};
    tracedec_log_byte(&s->kept_log, b, lines.data());
    try {
        s->kept += lines.data();
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// The kept text read as a log for `module`: DONE, or the failure with the line to say in
// `message`.
job_status_t read_kept(session_t* s, std::int64_t end_us, const cmdlog_module_t* module,
                       cmdlog_t* log, std::string* message) {
    std::array<char, TRACEDEC_LOG_LINE_CAPACITY> line{};
    tracedec_log_end(&s->kept_log, end_us, line.data());
    std::array<char, CMDLOG_MESSAGE_CAPACITY> why{};
    int read = CMDLOG_NO_MEMORY;
    try {
        s->kept += line.data();
        read = cmdlog_read(s->kept.data(), s->kept.size(), module, log, why.data(),
                           static_cast<int>(why.size()));
    } catch (const std::bad_alloc&) {
    }
    std::string().swap(s->kept);
    if (read == 0) {
        return DONE;
    }
    *message = read == CMDLOG_NO_MEMORY ? NO_MEMORY_LINE : s->request->name + ": " + why.data();
    return read == CMDLOG_NO_MEMORY ? NO_MEMORY : BAD_FORMAT;
}

void stop(session_t* s, job_status_t status, const std::string& message) {
    if (s->status == DONE) {
        s->status = status;
        s->message = message;
        if (s->dec != nullptr) {
            tracedec_stop(s->dec);
        }
    }
}

// The events gathered so far go to the controllers.
void flush_batch(session_t* s) {
    if (s->batch.empty() || s->status != DONE) {
        s->batch.clear();
        return;
    }
    std::array<char, CMDLOG_MESSAGE_CAPACITY> message{};
    if (replay_apply(&s->replay, s->batch.data(), s->batch.size(),
                     s->batch.back().time_ps / PS_PER_US, message.data(),
                     static_cast<int>(message.size())) != 0) {
        stop(s, BAD_FORMAT, s->request->name + ": " + message.data());
    }
    s->batch.clear();
}

// An animation of a trace is refused at the first byte it could not hold, rather than once
// the whole trace lies in memory: each new time of a byte starts a moment (but for time 0 and
// the end), and the text kept is bounded as a log read from a file is.
bool within_animation(session_t* s, std::int64_t time_us) {
    if (time_us != s->kept_until_us) {
        s->kept_until_us = time_us;
        ++s->kept_moments;
    }
    const std::string& name = s->request->animation;
    if (s->kept_moments > ANIMATE_MAX_MOMENTS + 2) {
        std::array<char, ANIMATE_MESSAGE_CAPACITY> line{};
        std::snprintf(line.data(), line.size(), ANIMATE_TOO_MANY_MOMENTS,
                      static_cast<long long>(ANIMATE_MAX_MOMENTS));
        stop(s, NOT_WRITTEN, name + ": " + line.data());
        return false;
    }
    if (s->kept.size() > TRACERUN_MAX_KEPT_BYTES) {
        stop(s, NOT_WRITTEN,
             name + ": The trace's bytes would make a log of more than " +
                 std::to_string(TRACERUN_MAX_KEPT_BYTES >> 20) +
                 " MiB, too much for an animation.");
        return false;
    }
    return true;
}

void take_byte(const chip_byte_t* b, void* ctx) {
    auto* s = static_cast<session_t*>(ctx);
    if (!s->emit.open && !s->emit_started && !s->o->emit_log.empty()) {
        s->emit_started = true; // the pins are known now: two controllers or one
        const bool two =
            s->dec != nullptr ? tracedec_two_chips(s->dec) : s->request->module->chip_count > 1;
        if (emit_open(&s->emit, s->o->emit_log, s->request->name, two) != 0) {
            stop(s, NOT_WRITTEN, emit_failure(s->o->emit_log, "cannot be written"));
            return;
        }
    }
    emit_byte(&s->emit, b);
    if (!b->taken) {
        return;
    }
    track_display(&s->display, b);
    if (s->keep_text) {
        const bool two =
            s->dec != nullptr ? tracedec_two_chips(s->dec) : s->request->module->chip_count > 1;
        // A trace's bytes are kept for an animation; a log's, under chip timing, for any run.
        if (!s->in_log && !within_animation(s, b->time_ps / PS_PER_US)) {
            return;
        }
        if (!keep_byte(s, b, two)) {
            stop(s, NO_MEMORY, NO_MEMORY_LINE);
            return;
        }
    }
    if (s->in_log || s->request->img == nullptr) {
        return;
    }
    // The byte as the chip took it, whole: the replay's chip runs it at once.
    const chip_event_t event{
        b->time_ps, b->line, b->kind, b->value, static_cast<unsigned char>(b->chip), 0};
    const std::int64_t at = s->request->at_us;
    if (at < 0 || b->time_ps / PS_PER_US <= at) {
        s->batch.push_back(event); // never grows: flushed when full
        if (s->batch.size() == BATCH_EVENTS) {
            flush_batch(s);
        }
    }
}

void take_warning(const char* text, void* ctx) {
    say(static_cast<session_t*>(ctx)->request,
        static_cast<session_t*>(ctx)->request->name + ": " + text);
}

bool chip_timing(const trace_options_t& o, bool trace) {
    return o.timing == "chip" || (o.timing.empty() && trace);
}

// Bytes the chip did not take, named or counted; the fault count past the lines shown.
void summarise(session_t* s, std::uint64_t not_taken, bool chip) {
    const std::string& name = s->request->name;
    if (s->o->check) {
        if (s->faults > TRACERUN_MAX_FAULT_LINES) {
            say(s->request, name + ": " + std::to_string(s->faults - TRACERUN_MAX_FAULT_LINES) +
                                " more timing faults (" + std::to_string(s->faults) + " in all)");
        }
    } else if (not_taken > 0 && chip) {
        say(s->request, name + ": " + std::to_string(not_taken) + " byte" +
                            (not_taken == 1 ? "" : "s") +
                            " not taken: sent while the controller was busy " +
                            (s->request->img != nullptr ? "(--check-timing names them)"
                                                        : "(comments in the log)"));
    }
}

} // namespace

void tracerun_warn_ignored(const trace_options_t* o, bool trace, const std::string& name,
                           const job_messages_t* messages) {
    const auto warn = [&](const char* option, const char* why) {
        const std::string line = name + ": " + option + " ignored: " + why;
        messages->say(line.c_str(), messages->ctx);
    };
    if (!trace) {
        if (!o->pins.empty()) {
            warn("--pins", "a command log has no signals");
        }
        if (!o->i2c_address.empty()) {
            warn("--i2c-address", "a command log has no I2C bus");
        }
        if (!o->wiring.empty()) {
            warn("--wiring", "a command log has no I2C bus");
        }
        if (o->vcc_given) {
            warn("--vcc", "a command log has no bus times");
        }
    } else if (o->vcc_given && !o->check) {
        warn("--vcc", "only --check-timing judges the bus times");
    }
    if (o->power_on && !o->check) {
        warn("--power-on", "only --check-timing judges the first cycle");
    }
    if (o->fosc_given && !chip_timing(*o, trace) && !o->check) {
        warn("--fosc", "under --timing ideal only --check-timing judges the busy times");
    }
}

// A decimal or 0x number from 0 to `max`.
bool tracerun_parse_number(const std::string& text, long max, long* value) {
    if (text.empty() || text.size() > 12) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const long v = std::strtol(text.c_str(), &end, hex ? 16 : 10); // decimal or 0x, as in logs
    if (errno != 0 || *end != '\0' || v < 0 || v > max || text[0] == '-' || text[0] == '+') {
        return false;
    }
    *value = v;
    return true;
}

// "RS RW E BL D4 D5 D6 D7" pins, blanks or commas between; all different, 0 to 7.
bool tracerun_parse_wiring(const std::string& text, std::array<int, 8>* wiring) {
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
        if (count == 8 || !tracerun_parse_number(spaced.substr(i, end - i), 7, &pin) ||
            ((seen >> pin) & 1) != 0) {
            return false;
        }
        seen |= 1u << pin;
        (*wiring)[count++] = static_cast<int>(pin);
        i = end;
    }
    return count == 8;
}

namespace {

// A display never switched on, or switched off and left off, as a log's replay warns of it.
void warn_dark(const session_t& s) {
    if (!s.display.any_byte || s.display.on[0] || s.display.on[1]) {
        return;
    }
    std::array<char, LOGHINT_MESSAGE_CAPACITY> text{};
    if (s.display.ever_on) {
        std::snprintf(text.data(), text.size(),
                      "warning: the display was switched off and left off (display on, or cmd "
                      "0x0C)");
    } else {
        const cmdlog_t none{};
        loghint_warning(&none, false, text.data(), static_cast<int>(text.size()));
    }
    say(s.request, s.request->name + ": " + text.data());
}

// Lines before a VCD's header are read as blank lines, so that the reader's line numbers stay
// the file's; one warning names them.
std::string blank_stray_lines(const tracerun_request_t* request, const tracerun_source_t* source) {
    if (source->sniff.stray_lines == 0) {
        return source->head;
    }
    std::array<char, 160> named{};
    capture_stray_text(source->head.data(), &source->sniff, named.data(),
                       static_cast<int>(named.size()));
    say(request,
        request->name + ": " + named.data() + " skipped: not part of the VCD that follows");
    std::string head = std::string(static_cast<std::size_t>(source->sniff.stray_lines), '\n');
    head.append(source->head, std::min(source->sniff.stray_bytes, source->head.size()),
                std::string::npos);
    return head;
}

// A VCD through the decoder, piece by piece. The decoder's status.
int decode_vcd(session_t* s, const tracerun_source_t* source, std::vector<char>* chunk) {
    const tracerun_request_t* request = s->request;
    const std::string head = blank_stray_lines(request, source);
    int read = tracedec_feed(s->dec, head.data(), head.size());
    while (read == TRACEDEC_OK) {
        const std::size_t n = std::fread(chunk->data(), 1, chunk->size(), source->fp);
        if (n == 0) {
            if (std::ferror(source->fp)) {
                stop(s, BAD_INPUT,
                     request->name + ": cannot read the trace: " + std::strerror(errno));
            } else {
                read = tracedec_finish(s->dec);
            }
            break;
        }
        read = tracedec_feed(s->dec, chunk->data(), n);
    }
    return read;
}

// The files of a Saleae binary export's folder: its .bin files, named by their names.
struct folder_files_t {
    std::vector<std::FILE*> fps;
    std::vector<capin_t> ins;
    std::vector<std::string> names;
    ~folder_files_t() {
        for (std::FILE* fp : fps) {
            std::fclose(fp);
        }
    }
};

// DONE, or the failure with the line to say: BAD_INPUT when a file cannot be read,
// BAD_FORMAT when the folder holds no export.
job_status_t open_folder(const std::string& folder, folder_files_t* files, std::string* why) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        *why = std::string("cannot read the folder: ") + std::strerror(errno);
        return BAD_INPUT;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bin") == 0) {
            names.push_back(name);
        }
        if (names.size() > 4 * static_cast<std::size_t>(CAPTURE_MAX_CHANNELS)) {
            break;
        }
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        std::FILE* fp = std::fopen((folder + "/" + name).c_str(), "rb");
        if (fp == nullptr) {
            *why = name + ": cannot be read: " + std::strerror(errno);
            return BAD_INPUT;
        }
        files->fps.push_back(fp);
        files->names.push_back(name);
    }
    if (files->fps.empty()) {
        *why = std::string("a folder of no .bin files: ") + TRACERUN_KINDS;
        return BAD_FORMAT;
    }
    for (std::FILE* fp : files->fps) {
        files->ins.push_back(capin_file(fp));
    }
    return DONE;
}

// A sigrok session or a Saleae export through the decoder. The decoder's status, or
// TRACEDEC_STOPPED once the session is stopped with the reason.
int decode_capture(session_t* s, const tracerun_source_t* source) {
    const tracerun_request_t* request = s->request;
    std::array<char, CAPTURE_MESSAGE_CAPACITY> why{};
    const int capacity = static_cast<int>(why.size());
    int status = CAPTURE_OK;
    capture_t* capture = nullptr;
    capin_t in = capin_file(source->fp);
    folder_files_t files;
    std::vector<const char*> names;
    if (source->sniff.kind == CAPTURE_SALEAE_BINARY) {
        std::string line;
        if (const job_status_t opened = open_folder(source->folder, &files, &line);
            opened != DONE) {
            stop(s, opened, request->name + ": " + line);
            return TRACEDEC_STOPPED;
        }
        for (const std::string& name : files.names) {
            names.push_back(name.c_str());
        }
        capture = capture_open_saleae(files.ins.data(), names.data(),
                                      static_cast<int>(names.size()), &status, why.data(),
                                      capacity);
    } else if (source->sniff.kind == CAPTURE_SESSION) {
        if (std::fseek(source->fp, 0, SEEK_SET) != 0) {
            stop(s, BAD_INPUT,
                 request->name + ": a sigrok session is read from a file, not a pipe");
            return TRACEDEC_STOPPED;
        }
        capture = capture_open_session(&in, &status, why.data(), capacity);
    } else {
        if (std::fseek(source->fp, 0, SEEK_SET) != 0) {
            in.data = reinterpret_cast<const unsigned char*>(source->head.data());
            in.size = source->head.size(); // a pipe: the head read already, then the rest
        }
        capture = capture_open_csv(&in, &status, why.data(), capacity);
    }
    if (capture == nullptr) {
        const bool unreadable = status == CAPTURE_UNREADABLE;
        stop(s, status == CAPTURE_NO_MEMORY ? NO_MEMORY : unreadable ? BAD_INPUT : BAD_FORMAT,
             status == CAPTURE_NO_MEMORY ? std::string(NO_MEMORY_LINE)
             : unreadable ? request->name + ": cannot read the trace: " + std::strerror(errno)
                          : request->name + ": " + why.data());
        return TRACEDEC_STOPPED;
    }
    const int read = tracedec_capture(s->dec, capture);
    capture_close(capture);
    return read;
}

} // namespace

job_status_t tracerun_trace(const tracerun_request_t* request, const tracerun_source_t* source,
                            cmdlog_t* log, tracerun_result_t* result) {
    const trace_options_t& o = *request->options;
    session_t s;
    s.request = request;
    s.o = &o;
    s.keep_text = log != nullptr;
    result->faults = false;
    result->too_coarse = false;
    tracedec_options_t options = tracedec_defaults();
    options.pins = o.pins.c_str();
    long address = -1;
    if (!o.i2c_address.empty()) {
        tracerun_parse_number(o.i2c_address, 0x7F, &address); // checked with the options
    }
    options.i2c_address = static_cast<int>(address);
    if (!o.wiring.empty()) {
        tracerun_parse_wiring(o.wiring, &options.wiring);
    }
    options.chip_timing = chip_timing(o, true);
    options.fosc_khz = o.fosc_khz;
    options.low_voltage = o.vcc < 4.5;
    options.power_on = o.power_on;
    options.check = o.check;
    options.chip_count = request->module->chip_count;
    options.rate_hz = source->sniff.kind == CAPTURE_VCD ? source->sniff.rate_hz : 0;
    const tracedec_callbacks_t callbacks{take_byte, report_fault, take_warning, &s};
    s.dec = tracedec_open(&options, &callbacks);
    std::vector<char> chunk;
    try {
        chunk.resize(source->sniff.kind == CAPTURE_VCD ? CHUNK_BYTES : 0);
        s.batch.reserve(BATCH_EVENTS);
    } catch (const std::bad_alloc&) {
        s.status = NO_MEMORY;
    }
    if (s.dec == nullptr || s.status != DONE) {
        tracedec_close(s.dec);
        say(request, NO_MEMORY_LINE);
        return NO_MEMORY;
    }
    if (request->img != nullptr) {
        job_replay_start(&s.replay, request->module, request->img, nullptr);
    }
    const int read = source->sniff.kind == CAPTURE_VCD ? decode_vcd(&s, source, &chunk)
                                                       : decode_capture(&s, source);
    if (s.status == DONE && read != TRACEDEC_OK) {
        const std::string why = tracedec_message(s.dec);
        stop(&s,
             read == TRACEDEC_NO_MEMORY     ? NO_MEMORY
             : read == TRACEDEC_UNREADABLE ? BAD_INPUT
                                           : BAD_FORMAT,
             read == TRACEDEC_NO_MEMORY    ? why
             : read == TRACEDEC_BAD_PINS   ? request->usage_prefix + request->name + ": " + why
             : read == TRACEDEC_UNREADABLE ? request->name + ": cannot read the trace: " +
                                                 std::strerror(errno)
                                           : request->name + ": " + why);
    }
    flush_batch(&s);
    const std::int64_t end_us = tracedec_end_ps(s.dec) / PS_PER_US;
    if (log != nullptr && s.status == DONE) {
        std::string why;
        if (const job_status_t kept = read_kept(&s, end_us, request->module, log, &why);
            kept != DONE) {
            stop(&s, kept, why);
        }
    }
    if (s.status == DONE && request->img != nullptr) {
        const std::int64_t at = request->at_us >= 0 ? request->at_us : end_us;
        std::array<char, CMDLOG_MESSAGE_CAPACITY> message{};
        if (replay_advance(&s.replay, at, message.data(), static_cast<int>(message.size())) != 0) {
            stop(&s, BAD_FORMAT, request->name + ": " + message.data());
        } else if (job_replay_show(&s.replay, request->img, at) != 0) {
            stop(&s, NO_MEMORY, NO_MEMORY_LINE);
        }
        replay_status(&s.replay, &result->status);
    }
    if (s.status == DONE && !o.emit_log.empty() && !s.emit.open && !s.emit_started &&
        emit_open(&s.emit, o.emit_log, request->name, tracedec_two_chips(s.dec)) != 0) {
        stop(&s, NOT_WRITTEN, emit_failure(o.emit_log, "cannot be written"));
    }
    if (emit_close(&s.emit, s.status == DONE, end_us) != 0) {
        stop(&s, NOT_WRITTEN, emit_failure(o.emit_log, "could not be written"));
    }
    if (s.status == DONE) {
        if (!tracedec_i2c(s.dec)) {
            for (const auto& [given, option] : {std::pair{!o.i2c_address.empty(), "--i2c-address"},
                                                std::pair{!o.wiring.empty(), "--wiring"}}) {
                if (given) {
                    say(request, request->name + ": " + option +
                                     " ignored: the trace is read as a parallel bus");
                }
            }
        }
        std::array<char, 320> coarse{};
        if (tracedec_too_coarse(s.dec, coarse.data(), static_cast<int>(coarse.size()))) {
            say(request, request->name + ": " + (o.check ? "" : "warning: ") + coarse.data());
            result->too_coarse = o.check;
        }
        if (request->img != nullptr) {
            warn_dark(s);
        }
        summarise(&s, tracedec_not_taken(s.dec), options.chip_timing);
    } else {
        say(request, s.message);
    }
    result->faults = s.faults > 0;
    tracedec_close(s.dec);
    return s.status;
}

job_status_t tracerun_vcd(const tracerun_request_t* request, std::FILE* fp, const std::string& head,
                          cmdlog_t* log, tracerun_result_t* result) {
    tracerun_source_t source{capture_sniff(head.data(), head.size()), fp, head, ""};
    source.sniff.kind = CAPTURE_VCD;
    return tracerun_trace(request, &source, log, result);
}

int tracerun_open(const char* path, tracerun_source_t* source) {
    struct stat st {};
    if (::stat(path, &st) == 0 && S_ISDIR(st.st_mode)) {
        source->sniff = capture_sniff_t{CAPTURE_SALEAE_BINARY, 0, 0, 0};
        source->fp = nullptr;
        source->folder = path;
        return 0;
    }
    source->fp = std::fopen(path, "rb");
    if (source->fp == nullptr) {
        return -1;
    }
    std::array<char, 65536> head{};
    const std::size_t n = std::fread(head.data(), 1, head.size(), source->fp);
    if (n == 0 && std::ferror(source->fp)) {
        const int error = errno;
        std::fclose(source->fp);
        source->fp = nullptr;
        errno = error;
        return -1;
    }
    source->head.assign(head.data(), n);
    source->sniff = capture_sniff(head.data(), n);
    return 0;
}

namespace {

// One event of a log through the chips, as a trace's cycles go.
int time_event(const chip_event_t* event, void* ctx) {
    auto* s = static_cast<session_t*>(ctx);
    timing_event(&s->timing, event);
    return s->status == DONE ? 0 : 1;
}

// The log read again from what the chip took; what its own lines said besides bytes (marks,
// backlight, module, i2c counts) carries over.
job_status_t replace_log(session_t* s, cmdlog_t* log) {
    cmdlog_t taken{};
    std::string why;
    if (const job_status_t read = read_kept(s, log->end_us, &log->module, &taken, &why);
        read != DONE) {
        say(s->request, why);
        return read;
    }
    std::swap(taken.marks, log->marks);
    std::swap(taken.mark_count, log->mark_count);
    std::swap(taken.mark_capacity, log->mark_capacity);
    std::swap(taken.backlight, log->backlight);
    std::swap(taken.backlight_count, log->backlight_count);
    std::swap(taken.backlight_capacity, log->backlight_capacity);
    taken.module_columns = log->module_columns;
    taken.module_rows = log->module_rows;
    taken.module_line = log->module_line;
    taken.expander_bytes = log->expander_bytes;
    taken.expander_edges = log->expander_edges;
    taken.end_us = std::max(taken.end_us, log->end_us);
    cmdlog_free(log);
    *log = taken;
    return DONE;
}

} // namespace

job_status_t tracerun_log(const tracerun_request_t* request, cmdlog_t* log,
                          tracerun_result_t* result) {
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
    s.keep_text = chip; // under chip timing the log keeps only what the chip took
    const bool two = request->module->chip_count > 1;
    const timing_config_t config{chip, o.fosc_khz, o.power_on, two};
    const timing_callbacks_t callbacks{take_byte, o.check ? report_fault : nullptr, &s};
    timing_start(&s.timing, &config, &callbacks);
    s.emit_started = true;
    if (!o.emit_log.empty() && emit_open(&s.emit, o.emit_log, request->name, two) != 0) {
        say(request, emit_failure(o.emit_log, "cannot be written"));
        return NOT_WRITTEN;
    }
    if (cmdlog_each_event(log, time_event, &s) < 0) {
        stop(&s, NO_MEMORY, NO_MEMORY_LINE);
    }
    if (emit_close(&s.emit, s.status == DONE, log->end_us) != 0) {
        say(request, emit_failure(o.emit_log, "could not be written"));
        return NOT_WRITTEN;
    }
    if (s.status != DONE) {
        say(request, s.message);
        return s.status;
    }
    if (chip) {
        if (const job_status_t status = replace_log(&s, log); status != DONE) {
            return status;
        }
    }
    summarise(&s, s.timing.not_taken, chip);
    result->faults = s.faults > 0;
    return DONE;
}

} // namespace vimbra
