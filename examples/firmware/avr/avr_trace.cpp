// Runs an AVR firmware image in simulation (libsimavr) for a fixed time and records the pins
// of ports B, C and D as a value change dump, as a logic analyser on those pins would.
// Usage: avr_trace FIRMWARE.elf OUT.vcd [MCU [HZ [MS]]]   (atmega328p, 16000000, 100)
#include <avr_ioport.h>
#include <sim_avr.h>
#include <sim_elf.h>
#include <sim_irq.h>

#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr std::array<char, 3> PORTS = {'B', 'C', 'D'};
constexpr int PINS = static_cast<int>(PORTS.size()) * 8;
constexpr std::uint64_t PS_PER_S = 1000000000000ULL;

struct vcd_writer_t {
    std::FILE* out = nullptr;
    avr_t* avr = nullptr;
    std::uint64_t ps_per_cycle = 0;
    std::uint64_t last_time = 0;
    std::array<std::uint8_t, PINS> level{}; // every pin is low after reset
};

struct pin_t {
    vcd_writer_t* writer;
    int index;
};

// VCD identifier codes: one printable character per pin, from '!'.
char pin_code(int index) {
    return static_cast<char>('!' + index);
}

void on_pin(avr_irq_t* /*irq*/, std::uint32_t value, void* context) {
    const auto* pin = static_cast<pin_t*>(context);
    vcd_writer_t* w = pin->writer;
    const std::uint8_t level = value != 0 ? 1 : 0;
    if (w->level[static_cast<std::size_t>(pin->index)] == level) {
        return;
    }
    w->level[static_cast<std::size_t>(pin->index)] = level;
    const std::uint64_t time = w->avr->cycle * w->ps_per_cycle;
    if (time != w->last_time) {
        std::fprintf(w->out, "#%" PRIu64 "\n", time);
        w->last_time = time;
    }
    std::fprintf(w->out, "%c%c\n", level != 0 ? '1' : '0', pin_code(pin->index));
}

void write_header(std::FILE* out, const char* mcu) {
    std::fprintf(out, "$comment %s in simulation $end\n$timescale 1ps $end\n", mcu);
    std::fprintf(out, "$scope module %s $end\n", mcu);
    for (int i = 0; i < PINS; ++i) {
        std::fprintf(out, "$var wire 1 %c P%c%d $end\n", pin_code(i),
                     PORTS[static_cast<std::size_t>(i / 8)], i % 8);
    }
    std::fprintf(out, "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n");
    for (int i = 0; i < PINS; ++i) {
        std::fprintf(out, "0%c\n", pin_code(i));
    }
    std::fprintf(out, "$end\n");
}

// Only the simulator's errors and warnings, on standard error: the VCD may go to standard
// output some day, and the load messages are noise.
void log_quietly(avr_t* /*avr*/, const int level, const char* format, va_list ap) {
    if (level == LOG_ERROR || level == LOG_WARNING) {
        std::vfprintf(stderr, format, ap);
    }
}

bool parse_number(const char* text, std::uint64_t max, std::uint64_t* value) {
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || v == 0 || v > max) {
        return false;
    }
    *value = v;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 6) {
        std::fprintf(stderr, "usage: avr_trace FIRMWARE.elf OUT.vcd [MCU [HZ [MS]]]\n");
        return 2;
    }
    const char* mcu = argc > 3 ? argv[3] : "atmega328p";
    std::uint64_t hz = 16000000;
    std::uint64_t ms = 100;
    if ((argc > 4 && !parse_number(argv[4], 100000000, &hz)) || PS_PER_S % hz != 0) {
        std::fprintf(stderr, "avr_trace: the clock must be a whole number of picoseconds\n");
        return 2;
    }
    if (argc > 5 && !parse_number(argv[5], 600000, &ms)) {
        std::fprintf(stderr, "avr_trace: the time must be 1 to 600000 ms\n");
        return 2;
    }
    avr_global_logger_set(log_quietly);
    static elf_firmware_t firmware; // large; zeroed as a static
    if (elf_read_firmware(argv[1], &firmware) != 0 || firmware.flashsize == 0) {
        std::fprintf(stderr, "avr_trace: %s: not a firmware image\n", argv[1]);
        std::free(firmware.flash);
        return 1;
    }
    avr_t* avr = avr_make_mcu_by_name(mcu);
    if (avr == nullptr) {
        std::fprintf(stderr, "avr_trace: unknown microcontroller %s\n", mcu);
        std::free(firmware.flash);
        return 2;
    }
    avr_init(avr);
    firmware.frequency = static_cast<std::uint32_t>(hz);
    avr_load_firmware(avr, &firmware);
    avr->frequency = static_cast<std::uint32_t>(hz);

    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "avr_trace: %s: %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    vcd_writer_t writer;
    writer.out = out;
    writer.avr = avr;
    writer.ps_per_cycle = PS_PER_S / hz;
    write_header(out, mcu);
    std::array<pin_t, PINS> pins{};
    for (int i = 0; i < PINS; ++i) {
        pins[static_cast<std::size_t>(i)] = {&writer, i};
        avr_irq_t* irq = avr_io_getirq(
            avr, AVR_IOCTL_IOPORT_GETIRQ(PORTS[static_cast<std::size_t>(i / 8)]), i % 8);
        if (irq != nullptr) {
            avr_irq_register_notify(irq, on_pin, &pins[static_cast<std::size_t>(i)]);
        }
    }

    const std::uint64_t cycles = hz / 1000 * ms;
    int state = cpu_Running;
    while (avr->cycle < cycles && state != cpu_Done && state != cpu_Crashed) {
        state = avr_run(avr);
    }
    // The dump ends at the end of the run, so a reader sees the whole time.
    std::fprintf(out, "#%" PRIu64 "\n", cycles * writer.ps_per_cycle);
    const bool written = std::fclose(out) == 0;
    avr_terminate(avr);
    std::free(firmware.flash);
    if (!written) {
        std::fprintf(stderr, "avr_trace: %s: cannot write\n", argv[2]);
        return 1;
    }
    if (state == cpu_Crashed) {
        std::fprintf(stderr, "avr_trace: the firmware crashed\n");
        return 1;
    }
    return 0;
}
