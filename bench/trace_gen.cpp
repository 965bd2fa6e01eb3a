// Writes a VCD of a 16 x 2 module's 4-bit bus, of at least the given size, to standard
// output: power-on, the reset by instruction, set-up, then both lines rewritten with a
// count, over and over. Every wait is the chip's, so the trace has no timing fault.
// Signals rs, rw, e, d4..d7, so that no pin map is needed; time in ns, every edge on a
// multiple of 500 ns, so that a sampling reader can take one sample per 500 ns.
// Usage: trace_gen MEGABYTES
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int RS = 0;
constexpr int RW = 1;
constexpr int E = 2;
constexpr int D4 = 3; // d4..d7 are 3..6
constexpr std::array<const char*, 7> NAMES = {"rs", "rw", "e", "d4", "d5", "d6", "d7"};

struct writer_t {
    std::string buffer;
    std::uint64_t written = 0;
    std::uint64_t now = 0; // ns
    std::array<int, 7> level{};
    bool stamped = false; // `now` is written already
};

void flush(writer_t* w) {
    if (std::fwrite(w->buffer.data(), 1, w->buffer.size(), stdout) != w->buffer.size()) {
        std::perror("trace_gen");
        std::exit(1);
    }
    w->written += w->buffer.size();
    w->buffer.clear();
}

void advance(writer_t* w, std::uint64_t ns) {
    w->now += ns;
    w->stamped = false;
}

void set(writer_t* w, int signal, int level) {
    if (w->level[static_cast<std::size_t>(signal)] == level) {
        return;
    }
    w->level[static_cast<std::size_t>(signal)] = level;
    if (!w->stamped) {
        w->buffer += '#';
        w->buffer += std::to_string(w->now);
        w->buffer += '\n';
        w->stamped = true;
    }
    w->buffer += static_cast<char>('0' + level);
    w->buffer += static_cast<char>('!' + signal);
    w->buffer += '\n';
}

// One E pulse: RS and the nibble at once, E up 500 ns later, down 500 ns after that, then
// 500 ns low before anything else.
void nibble(writer_t* w, int rs, unsigned bits) {
    set(w, RS, rs);
    for (int i = 0; i < 4; ++i) {
        set(w, D4 + i, static_cast<int>(bits >> i & 1u));
    }
    advance(w, 500);
    set(w, E, 1);
    advance(w, 500);
    set(w, E, 0);
    advance(w, 500);
}

// A byte and the wait after it: 40 us covers the 37 us of an instruction; clear gets 2 ms.
void byte(writer_t* w, int rs, unsigned value) {
    nibble(w, rs, value >> 4);
    nibble(w, rs, value & 0xFu);
    advance(w, rs == 0 && value == 0x01 ? 2000000 : 40000);
}

} // namespace

int main(int argc, char** argv) {
    char* end = nullptr;
    const unsigned long megabytes = argc == 2 ? std::strtoul(argv[1], &end, 10) : 0;
    if (argc != 2 || end == argv[1] || *end != '\0' || megabytes == 0 || megabytes > 100000) {
        std::fprintf(stderr, "usage: trace_gen MEGABYTES\n");
        return 2;
    }
    const std::uint64_t target = static_cast<std::uint64_t>(megabytes) * 1000000;
    writer_t w;
    w.buffer.reserve(1 << 20);
    w.buffer += "$timescale 1ns $end\n$scope module board $end\n";
    for (std::size_t i = 0; i < NAMES.size(); ++i) {
        w.buffer += "$var wire 1 ";
        w.buffer += static_cast<char>('!' + i);
        w.buffer += ' ';
        w.buffer += NAMES[i];
        w.buffer += " $end\n";
    }
    w.buffer += "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n";
    for (std::size_t i = 0; i < NAMES.size(); ++i) {
        w.buffer += '0';
        w.buffer += static_cast<char>('!' + i);
        w.buffer += '\n';
    }
    w.buffer += "$end\n";
    w.stamped = true;
    advance(&w, 50000000); // power-on
    nibble(&w, 0, 0x3);
    advance(&w, 4500000);
    nibble(&w, 0, 0x3);
    advance(&w, 150000);
    nibble(&w, 0, 0x3);
    advance(&w, 150000);
    nibble(&w, 0, 0x2);
    advance(&w, 40000);
    for (unsigned command : {0x28u, 0x0Cu, 0x01u, 0x06u}) {
        byte(&w, 0, command);
    }
    for (std::uint64_t count = 0; w.written + w.buffer.size() < target; ++count) {
        char line[32];
        std::snprintf(line, sizeof line, "trace %10llu", static_cast<unsigned long long>(count));
        byte(&w, 0, (count & 1) != 0 ? 0xC0 : 0x80);
        for (const char* c = line; *c != '\0'; ++c) {
            byte(&w, 1, static_cast<unsigned char>(*c));
        }
        if (w.buffer.size() >= (1u << 20)) {
            flush(&w);
        }
    }
    // A last instant after the last edge, so that the whole wait is in the trace.
    w.buffer += '#';
    w.buffer += std::to_string(w.now);
    w.buffer += '\n';
    flush(&w);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
