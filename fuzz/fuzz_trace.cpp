// A VCD of any bytes, read in pieces of a size the input chooses, its signals taken as a
// parallel bus (one or two enables) or as I2C to a backpack, decoded into bus cycles and bytes
// with every timing check on.
#include <cstddef>
#include <cstdint>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "chip/i2cbus.hpp"
#include "chip/parbus.hpp"
#include "chip/timing.hpp"
#include "chip/vcd.hpp"

namespace {

struct run_t {
    bool i2c;
    parbus_t bus;
    i2cbus_t backpack;
    timing_t timing;
    std::uint64_t bytes;
};

constexpr std::array<const char*, BUS_ROLES> ROLE_SIGNALS{
    "rs", "rw", "e", "e2", "d0", "d1", "d2", "d3", "d4", "d5", "d6", "d7", "sda", "scl"};

void on_fault(std::int64_t, std::uint32_t, const char* text, void*) {
    (void)std::strlen(text);
}

void on_byte(const timing_byte_t*, void* ctx) {
    ++static_cast<run_t*>(ctx)->bytes;
}

void on_cycle(const bus_cycle_t* c, void* ctx) {
    auto* run = static_cast<run_t*>(ctx);
    timing_cycle(&run->timing, c->time_ps, c->line, c->chip, c->rs, c->rw, c->data);
}

void on_pins(const bus_step_t* step, void* ctx) {
    parbus_step(&static_cast<run_t*>(ctx)->bus, step);
}

void on_warning(const char* text, void*) {
    (void)std::strlen(text);
}

int on_header(vcd_reader_t* reader, void* ctx) {
    (void)ctx;
    for (int role = 0; role < BUS_ROLES; ++role) {
        int signal = 0;
        int bit = 0;
        if (vcd_find(reader, ROLE_SIGNALS[static_cast<std::size_t>(role)], &signal, &bit) == 0 ||
            vcd_find(reader, (std::string("bus[") + std::to_string(role) + "]").c_str(), &signal,
                     &bit) == 0) {
            vcd_watch(reader, signal, bit, role);
        }
    }
    for (int i = 0; i < vcd_signal_count(reader); ++i) {
        (void)std::strlen(vcd_signal_name(reader, i));
    }
    return 0;
}

int on_step(const vcd_step_t* step, void* ctx) {
    auto* run = static_cast<run_t*>(ctx);
    const bus_step_t bus{step->time_ps, step->line, step->changed, step->levels, step->fresh};
    if (run->i2c) {
        i2cbus_step(&run->backpack, &bus);
    } else {
        parbus_step(&run->bus, &bus);
    }
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const unsigned mode = data[0];
    const std::size_t piece = 1 + data[1] % 97;
    data += 2;
    size -= 2;
    run_t run{};
    run.i2c = (mode & 1) != 0;
    const bus_limits_t limits = parbus_limits((mode & 2) != 0);
    const parbus_callbacks_t bus_callbacks{on_cycle, on_fault, &run};
    parbus_start(&run.bus, &bus_callbacks, &limits, (mode & 4) != 0);
    const timing_config_t config{(mode & 8) != 0, 150 + static_cast<int>(mode >> 4) * 20,
                                 (mode & 16) != 0, (mode & 4) != 0};
    const timing_callbacks_t timing_callbacks{on_byte, on_fault, &run};
    timing_start(&run.timing, &config, &timing_callbacks);
    const i2cbus_callbacks_t i2c_callbacks{on_pins, on_warning, &run};
    i2cbus_start(&run.backpack, &i2c_callbacks, {0, 1, 2, 3, 4, 5, 6, 7},
                 (mode & 32) != 0 ? 0x27 : -1);
    const vcd_callbacks_t callbacks{on_header, on_step, &run};
    vcd_reader_t* reader = vcd_open(&callbacks);
    if (reader == nullptr) return 0;
    (void)vcd_sniff(reinterpret_cast<const char*>(data), size);
    int status = VCD_OK;
    for (std::size_t i = 0; i < size && status == VCD_OK; i += piece) {
        status = vcd_feed(reader, reinterpret_cast<const char*>(data) + i,
                          std::min(piece, size - i));
    }
    if (status == VCD_OK) {
        status = vcd_finish(reader);
    }
    (void)std::strlen(vcd_message(reader));
    (void)vcd_end_time(reader);
    (void)vcd_unknown_count(reader);
    vcd_close(reader);
    return 0;
}
