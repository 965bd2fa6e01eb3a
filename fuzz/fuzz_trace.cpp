// A VCD of any bytes, read in pieces of a size the input chooses, its signals taken as a
// parallel bus (one or two enables) or as I2C to a backpack, by name or by a pin map, and
// decoded into bytes with every timing check on.
#include <cstddef>
#include <cstdint>

#include <algorithm>
#include <array>
#include <cstring>

#include "chip/tracedec.hpp"
#include "chip/vcd.hpp"

using namespace vimbra;

namespace {

// Pin maps for the fuzzer's traces: by name, vector bits, two enables, I2C.
constexpr std::array<const char*, 4> PIN_MAPS{
    "", "rs=rs,rw=rw,e=e,d4=bus[4],d5=bus[5],d6=bus[6],d7=bus[7]",
    "rs=rs,e1=e,e2=e2,d0=bus[0],d1=bus[1],d2=bus[2],d3=bus[3],d4=bus[4],d5=bus[5],d6=bus[6],"
    "d7=bus[7]",
    "sda=sda,scl=scl"};

void on_byte(const chip_byte_t* byte, void* ctx) {
    *static_cast<std::uint64_t*>(ctx) += byte->value;
}

void on_fault(std::int64_t, std::uint32_t, const char* text, void*) {
    (void)std::strlen(text);
}

void on_warning(const char* text, void*) {
    (void)std::strlen(text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const unsigned mode = data[0];
    const std::size_t piece = 1 + data[1] % 97;
    data += 2;
    size -= 2;
    tracedec_options_t options = tracedec_defaults();
    options.pins = PIN_MAPS[mode & 3];
    options.low_voltage = (mode & 4) != 0;
    options.chip_timing = (mode & 8) != 0;
    options.power_on = (mode & 16) != 0;
    options.check = (mode & 32) == 0;
    options.chip_count = (mode & 64) != 0 ? 1 : 2;
    options.i2c_address = (mode & 128) != 0 ? 0x27 : -1;
    options.fosc_khz = 190 + static_cast<int>(mode & 7) * 20;
    std::uint64_t sum = 0;
    const tracedec_callbacks_t callbacks{on_byte, on_fault, on_warning, &sum};
    tracedec_t* dec = tracedec_open(&options, &callbacks);
    if (dec == nullptr) return 0;
    (void)vcd_sniff(reinterpret_cast<const char*>(data), size);
    int status = TRACEDEC_OK;
    for (std::size_t i = 0; i < size && status == TRACEDEC_OK; i += piece) {
        status =
            tracedec_feed(dec, reinterpret_cast<const char*>(data) + i, std::min(piece, size - i));
    }
    if (status == TRACEDEC_OK) {
        status = tracedec_finish(dec);
    }
    (void)std::strlen(tracedec_message(dec));
    (void)tracedec_end_ps(dec);
    (void)tracedec_not_taken(dec);
    tracedec_close(dec);
    return 0;
}
