// The library's own files take Arduino.h without the reference that links main().
#define VIMBRA_ARDUINO_NO_MAIN
#include "arduino/ardurun.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace vimbra::arduino {

namespace {

// One pass of loop() also costs the board's main loop its own few microseconds.
constexpr std::uint64_t LOOP_PASS_US = 4;

// The pipe carries records: a tag byte, the payload's size (4 bytes, little-endian), the
// payload. 'L' log text, 'S' Serial's text, 'W' a warning, 'E' the end: how (end_kind), the
// code (4 bytes), the clock (8 bytes), whether the EEPROM follows (1 byte) and its bytes.
constexpr std::size_t HEADER = 5;
constexpr std::size_t PAYLOAD = 65536;
constexpr std::size_t END_PAYLOAD = 1 + 4 + 8 + 1 + HOST_EEPROM_SIZE;

enum end_kind : std::uint8_t { END_LIMIT = 0, END_EXIT = 1, END_SIGNAL = 2 };

void put_le(char* at, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        at[i] = static_cast<char>((value >> (8 * i)) & 0xFFU);
    }
}

std::uint64_t get_le(const char* at, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(at[i]);
    }
    return value;
}

// --- the child --------------------------------------------------------------------------

struct out_buffer {
    char tag = 'L';
    std::size_t size = 0; // payload bytes held
    std::array<char, HEADER + PAYLOAD> bytes{};
};

struct child_t {
    int fd = -1;
    out_buffer log{'L'};
    out_buffer serial{'S'};
    out_buffer warning{'W'};
    volatile sig_atomic_t writing = 0; // a record is on its way: a signal handler sends nothing
    volatile sig_atomic_t ended = 0;
};
constinit child_t child;
// The signal handlers' own stack, so that a stack overflow is reported too.
constinit std::array<char, 65536> alternate_stack{};

constexpr int CRASH_SIGNALS[] = {SIGSEGV, SIGBUS,  SIGFPE, SIGILL, SIGABRT, SIGTRAP,
                                 SIGSYS,  SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGXCPU};

// write() until done; false when the reader has gone.
bool write_all(int fd, const char* text, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, text, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        text += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void send_buffer(out_buffer& buffer) {
    if (buffer.size == 0) {
        return;
    }
    buffer.bytes[0] = buffer.tag;
    put_le(&buffer.bytes[1], buffer.size, 4);
    child.writing = 1;
    write_all(child.fd, buffer.bytes.data(), HEADER + buffer.size);
    child.writing = 0;
    buffer.size = 0;
}

void append(out_buffer& buffer, const char* text, std::size_t size) {
    while (size > 0) {
        if (buffer.size == PAYLOAD) {
            send_buffer(buffer);
        }
        const std::size_t n = size < PAYLOAD - buffer.size ? size : PAYLOAD - buffer.size;
        std::memcpy(buffer.bytes.data() + HEADER + buffer.size, text, n);
        buffer.size += n; // after the copy: a signal handler sends only whole copies
        text += n;
        size -= n;
    }
}

void send_end(end_kind kind, int code, bool with_eeprom) {
    static std::array<char, HEADER + END_PAYLOAD> record{};
    record[0] = 'E';
    put_le(&record[1], END_PAYLOAD, 4);
    record[HEADER] = static_cast<char>(kind);
    put_le(&record[HEADER + 1], static_cast<std::uint32_t>(code), 4);
    put_le(&record[HEADER + 5], host_now(), 8);
    record[HEADER + 13] = with_eeprom ? 1 : 0;
    if (with_eeprom) {
        std::memcpy(&record[HEADER + 14], host_eeprom().data(), HOST_EEPROM_SIZE);
    }
    write_all(child.fd, record.data(), record.size());
}

void child_write(host_stream stream, const char* text, std::size_t size, void*) {
    switch (stream) {
    case host_stream::log:
        append(child.log, text, size);
        return;
    case host_stream::serial:
        append(child.serial, text, size);
        // A line of Serial reaches its reader at once.
        if (std::memchr(text, '\n', size) != nullptr) {
            send_buffer(child.serial);
        }
        return;
    case host_stream::warning:
        append(child.warning, text, size);
        send_buffer(child.warning);
        return;
    }
}

void child_flush(void*) {
    send_buffer(child.log);
    send_buffer(child.serial);
    send_buffer(child.warning);
}

[[noreturn]] void child_finish(end_kind kind, int code) {
    child.ended = 1;
    std::fflush(nullptr); // what the sketch printed with stdio
    child_flush(nullptr);
    send_end(kind, code, true);
    _exit(code & 0xFF);
}

void child_at_limit(void*) {
    child_finish(END_LIMIT, 0);
}

// exit() from the sketch: on a board it halts there.
void child_on_exit(int status, void*) {
    if (child.ended == 0) {
        child_finish(END_EXIT, status);
    }
}

void child_on_signal(int signal_number) {
    if (child.ended == 0) {
        child.ended = 1;
        if (child.writing == 0) {
            child_flush(nullptr);
            send_end(END_SIGNAL, signal_number, false);
        }
    }
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
}

[[noreturn]] void child_main(const run_request& request, int fd, pid_t parent) {
    child.fd = fd;
    // A run never outlives the process that asked for it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) {
        _exit(127);
    }
    // What the sketch prints with stdio goes where Serial's text goes, never into a log on
    // standard output.
    dup2(STDERR_FILENO, STDOUT_FILENO);
    stack_t stack{};
    stack.ss_sp = alternate_stack.data();
    stack.ss_size = alternate_stack.size();
    sigaltstack(&stack, nullptr);
    struct sigaction action {};
    action.sa_handler = child_on_signal;
    action.sa_flags = SA_ONSTACK | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (const int signal_number : CRASH_SIGNALS) {
        sigaction(signal_number, &action, nullptr);
    }
    ::signal(SIGPIPE, SIG_DFL);
    on_exit(child_on_exit, nullptr);
    host_sink sink;
    sink.write = child_write;
    sink.flush = child_flush;
    sink.at_limit = child_at_limit;
    host_start(request.setup, sink);
    request.code->setup();
    for (;;) {
        request.code->loop();
        host_spend(LOOP_PASS_US);
    }
}

// --- this process -----------------------------------------------------------------------

volatile sig_atomic_t forward_to = 0; // the child's process id while signals are forwarded
volatile sig_atomic_t forwarded = 0;

void forward_signal(int signal_number) {
    forwarded = signal_number;
    if (forward_to > 0) {
        ::kill(static_cast<pid_t>(forward_to), signal_number);
    }
}

constexpr int FORWARDED_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

struct reader_t {
    const run_receiver* receiver = nullptr;
    std::string pending; // bytes of records not yet whole
    std::string partial; // log text after its last line end
    std::uint64_t log_us = 0;
    bool ended = false;
    end_kind kind = END_LIMIT;
    int code = 0;
    std::uint64_t end_us = 0;
    bool eeprom_valid = false;
    std::array<std::uint8_t, HOST_EEPROM_SIZE> eeprom{};
};

// The time the lines add up to: only wait lines move it.
void count_waits(reader_t* reader, const char* text, std::size_t size) {
    std::size_t at = 0;
    while (at < size) {
        const char* end = static_cast<const char*>(std::memchr(text + at, '\n', size - at));
        const std::size_t line_end = end == nullptr ? size : static_cast<std::size_t>(end - text);
        if (line_end - at > 5 && std::memcmp(text + at, "wait ", 5) == 0) {
            std::uint64_t us = 0;
            for (std::size_t i = at + 5; i < line_end && text[i] >= '0' && text[i] <= '9'; ++i) {
                us = us * 10 + static_cast<std::uint64_t>(text[i] - '0');
            }
            reader->log_us += us;
        }
        at = line_end + 1;
    }
}

void deliver_lines(reader_t* reader, const char* text, std::size_t size) {
    if (reader->receiver->log == nullptr) {
        return;
    }
    reader->receiver->log(text, size, reader->receiver->context);
}

// Log text: only whole lines go on; a tail waits for its line end.
void take_log(reader_t* reader, const char* text, std::size_t size) {
    const char* last = static_cast<const char*>(memrchr(text, '\n', size));
    if (last == nullptr) {
        reader->partial.append(text, size);
        return;
    }
    const std::size_t whole = static_cast<std::size_t>(last - text) + 1;
    if (!reader->partial.empty()) {
        reader->partial.append(text, whole);
        count_waits(reader, reader->partial.data(), reader->partial.size());
        deliver_lines(reader, reader->partial.data(), reader->partial.size());
        reader->partial.clear();
    } else {
        count_waits(reader, text, whole);
        deliver_lines(reader, text, whole);
    }
    reader->partial.assign(text + whole, size - whole);
}

void take_end(reader_t* reader, const char* payload, std::size_t size) {
    if (size != END_PAYLOAD) {
        return;
    }
    reader->ended = true;
    reader->kind = static_cast<end_kind>(payload[0]);
    reader->code = static_cast<int>(static_cast<std::int32_t>(get_le(payload + 1, 4)));
    reader->end_us = get_le(payload + 5, 8);
    reader->eeprom_valid = payload[13] != 0;
    std::memcpy(reader->eeprom.data(), payload + 14, HOST_EEPROM_SIZE);
}

// Every whole record in `pending`; at the end, what arrived of a cut log record too.
void take_records(reader_t* reader, bool at_end) {
    std::size_t at = 0;
    const std::string& pending = reader->pending;
    const run_receiver& receiver = *reader->receiver;
    while (pending.size() - at >= HEADER) {
        const char tag = pending[at];
        const std::size_t size = static_cast<std::size_t>(get_le(&pending[at + 1], 4));
        const bool whole = pending.size() - at - HEADER >= size;
        if (!whole && !(at_end && tag == 'L')) {
            break;
        }
        const char* payload = pending.data() + at + HEADER;
        const std::size_t available = whole ? size : pending.size() - at - HEADER;
        if (tag == 'L') {
            take_log(reader, payload, available);
        } else if (tag == 'S' && receiver.serial != nullptr) {
            receiver.serial(payload, available, receiver.context);
        } else if (tag == 'W' && receiver.warning != nullptr) {
            receiver.warning(payload, available, receiver.context);
        } else if (tag == 'E') {
            take_end(reader, payload, available);
        }
        at += HEADER + available;
    }
    reader->pending.erase(0, at);
}

std::int64_t monotonic_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Reads until the child closes the pipe; false when the wall-clock limit stopped it.
bool read_child(int fd, pid_t pid, std::uint32_t wall_limit_ms, reader_t* reader) {
    const std::int64_t deadline = monotonic_ms() + static_cast<std::int64_t>(wall_limit_ms);
    bool stopped = false;
    std::array<char, 65536> chunk;
    for (;;) {
        int timeout = -1;
        if (wall_limit_ms > 0 && !stopped) {
            const std::int64_t left = deadline - monotonic_ms();
            if (left <= 0) {
                ::kill(pid, SIGKILL);
                stopped = true;
                continue;
            }
            timeout = left > 1000000 ? 1000000 : static_cast<int>(left);
        }
        pollfd poll_fd{fd, POLLIN, 0};
        const int ready = ::poll(&poll_fd, 1, timeout);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready <= 0) {
            continue;
        }
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            break;
        }
        if (n == 0) {
            break;
        }
        reader->pending.append(chunk.data(), static_cast<std::size_t>(n));
        take_records(reader, false);
    }
    take_records(reader, true);
    return !stopped;
}

std::string signal_text(int signal_number) {
    const char* name = strsignal(signal_number);
    return std::string(name != nullptr ? name : "unknown signal") + " (signal " +
           std::to_string(signal_number) + ")";
}

// How the run ended, from its last record and the child's status.
void judge(const run_request& request, const reader_t& reader, bool in_time, int status,
           run_end* end) {
    const std::string at =
        reader.ended ? " at " + run_format_seconds(reader.end_us) + " of its clock" : std::string();
    end->end_us = reader.ended ? reader.end_us : reader.log_us;
    if (!in_time) {
        end->status = run_status::hung;
        end->message = "the sketch did not reach its time limit (" +
                       run_format_seconds(request.setup.run_us) + " of its clock) in " +
                       run_format_seconds(std::uint64_t{request.wall_limit_ms} * 1000) +
                       " of real time, and was stopped: a loop that calls nothing of the "
                       "board never moves the clock";
        return;
    }
    if (reader.ended && reader.kind == END_LIMIT) {
        end->status = run_status::ok;
    } else if (reader.ended && reader.kind == END_EXIT) {
        end->code = reader.code;
        end->status = reader.code == 0 ? run_status::ok : run_status::exited;
        if (reader.code == 0) {
            end->end_us = request.setup.run_us; // halted: the display stays as it was
        } else {
            end->message = "the sketch called exit(" + std::to_string(reader.code) + ")" + at;
        }
    } else if (reader.ended && reader.kind == END_SIGNAL) {
        end->status = run_status::crashed;
        end->code = reader.code;
        end->message = "the sketch was ended" + at + " by " + signal_text(reader.code);
    } else if (WIFSIGNALED(status)) {
        end->status = run_status::crashed;
        end->code = WTERMSIG(status);
        end->message = "the sketch was ended by " + signal_text(end->code);
    } else {
        end->status = run_status::exited;
        end->code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        end->message =
            "the sketch ended with status " + std::to_string(end->code) + " before its time limit";
    }
    if (reader.eeprom_valid && end->status == run_status::ok) {
        end->eeprom_valid = true;
        end->eeprom = reader.eeprom;
    }
}

} // namespace

std::string run_format_seconds(std::uint64_t us) {
    char text[48];
    std::snprintf(text, sizeof text, "%llu.%06llu", static_cast<unsigned long long>(us / 1000000),
                  static_cast<unsigned long long>(us % 1000000));
    std::string out = text;
    while (out.back() == '0') {
        out.pop_back();
    }
    if (out.back() == '.') {
        out.pop_back();
    }
    return out + "s";
}

run_end run_forked(const run_request& request, const run_receiver& receiver) {
    run_end end;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        end.message = std::string("the run could not start: ") + std::strerror(errno);
        return end;
    }
    std::fflush(nullptr); // else the child would write this process's buffered output again
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        end.message = std::string("the run could not start: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return end;
    }
    if (pid == 0) {
        ::close(fds[0]);
        child_main(request, fds[1], parent);
    }
    ::close(fds[1]);
    struct sigaction saved[std::size(FORWARDED_SIGNALS)];
    if (request.forward_signals) {
        forwarded = 0;
        forward_to = static_cast<sig_atomic_t>(pid);
        struct sigaction action {};
        action.sa_handler = forward_signal;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(FORWARDED_SIGNALS); ++i) {
            sigaction(FORWARDED_SIGNALS[i], &action, &saved[i]);
        }
    }
    reader_t reader;
    reader.receiver = &receiver;
    bool in_time = true;
    try {
        in_time = read_child(fds[0], pid, request.wall_limit_ms, &reader);
    } catch (const std::bad_alloc&) {
        ::kill(pid, SIGKILL);
        end.message = "memory ran out taking in the run's output";
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (request.forward_signals) {
        forward_to = 0;
        for (std::size_t i = 0; i < std::size(FORWARDED_SIGNALS); ++i) {
            sigaction(FORWARDED_SIGNALS[i], &saved[i], nullptr);
        }
        end.forwarded_signal = forwarded;
    }
    if (!end.message.empty()) {
        return end;
    }
    judge(request, reader, in_time, status, &end);
    // The log lasts until the run's end: the limit, the halt, or the moment of the crash.
    if (in_time && reader.ended && end.end_us > reader.log_us && receiver.log != nullptr) {
        const std::string wait = "wait " + std::to_string(end.end_us - reader.log_us) + "us\n";
        receiver.log(wait.data(), wait.size(), receiver.context);
    }
    return end;
}

namespace {

void append_text(const char* text, std::size_t size, void* context) {
    static_cast<std::string*>(context)->append(text, size);
}

struct collected {
    run_result* result;
};

void collect_log(const char* text, std::size_t size, void* context) {
    static_cast<collected*>(context)->result->log.append(text, size);
}
void collect_serial(const char* text, std::size_t size, void* context) {
    append_text(text, size, &static_cast<collected*>(context)->result->serial);
}
void collect_warning(const char* text, std::size_t size, void* context) {
    append_text(text, size, &static_cast<collected*>(context)->result->warnings);
}

// The names of the log's mark lines, in order, each once.
std::vector<std::string> marks_of(const std::string& log) {
    std::vector<std::string> marks;
    std::size_t at = 0;
    while (at < log.size()) {
        std::size_t end = log.find('\n', at);
        if (end == std::string::npos) {
            end = log.size();
        }
        if (log.compare(at, 5, "mark ") == 0) {
            std::string name = log.substr(at + 5, end - at - 5);
            bool seen = false;
            for (const std::string& mark : marks) {
                seen = seen || mark == name;
            }
            if (!seen) {
                marks.push_back(std::move(name));
            }
        }
        at = end + 1;
    }
    return marks;
}

run_result refuse(std::string message) {
    run_result result;
    result.status = run_status::bad_input;
    result.message = std::move(message);
    return result;
}

} // namespace

run_result run(const sketch& code, const run_options& options) {
    try {
        if (code.setup == nullptr || code.loop == nullptr) {
            return refuse("the sketch has no setup() or no loop()");
        }
        if (options.run_us == 0 || options.run_us > HOST_MAX_RUN_US) {
            return refuse("the time limit is not from 1us to 3600s: " +
                          std::to_string(options.run_us) + "us");
        }
        if (options.eeprom.size() > HOST_EEPROM_SIZE) {
            return refuse("the EEPROM holds 1024 bytes, not " +
                          std::to_string(options.eeprom.size()));
        }
        stimulus stim;
        std::string message;
        if (!stim_parse(options.stimulus, options.stimulus_name, &stim, &message)) {
            return refuse(message);
        }
        run_request request;
        request.code = &code;
        request.setup.run_us = options.run_us;
        request.setup.start_us = options.start_us;
        request.setup.stim = &stim;
        std::copy(options.eeprom.begin(), options.eeprom.end(), request.setup.eeprom.begin());
        request.wall_limit_ms = options.wall_limit_ms;
        run_result result;
        collected into{&result};
        run_receiver receiver;
        receiver.log = collect_log;
        receiver.serial = collect_serial;
        receiver.warning = collect_warning;
        receiver.context = &into;
        const run_end end = run_forked(request, receiver);
        result.status = end.status;
        result.code = end.code;
        result.end_us = end.end_us;
        if (!end.message.empty()) {
            result.message =
                std::string(code.name != nullptr ? code.name : "sketch") + ": " + end.message;
        }
        if (end.eeprom_valid) {
            result.eeprom.assign(end.eeprom.begin(), end.eeprom.end());
        }
        result.marks = marks_of(result.log);
        return result;
    } catch (const std::bad_alloc&) {
        run_result result;
        result.status = run_status::failed;
        result.message = "memory ran out";
        return result;
    }
}

} // namespace vimbra::arduino
