// A sigrok session, a Saleae binary export (its channel files split where "<SALEAE>" starts
// one) or a Saleae CSV export of any bytes, read from memory, its channels taken as a parallel
// bus or as I2C by name or by a pin map, and decoded into bytes with every timing check on.
#include <cstddef>
#include <cstdint>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "chip/capture.hpp"
#include "chip/tracedec.hpp"

using namespace vimbra;

namespace {

// Pin maps for the fuzzer's captures: by name, by sigrok's numbered probes, by Saleae's
// channels, I2C.
constexpr std::array<const char*, 4> PIN_MAPS{
    "", "rs=0,e=1,rw=2,d4=3,d5=4,d6=5,d7=6",
    "rs=Channel 0,e=Channel 1,d4=Channel 2,d5=Channel 3,d6=Channel 4,d7=Channel 5",
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

// The channel files of a binary export: a new one wherever "<SALEAE>" starts.
std::vector<std::string> split_files(const std::string& bytes) {
    std::vector<std::string> files;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t next = bytes.find("<SALEAE>", start + 1);
        next = next == std::string::npos ? bytes.size() : next;
        files.push_back(bytes.substr(start, next - start));
        start = next;
    }
    return files;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const unsigned mode = data[0];
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    tracedec_options_t options = tracedec_defaults();
    options.pins = PIN_MAPS[mode & 3];
    options.low_voltage = (mode & 4) != 0;
    options.chip_timing = (mode & 8) != 0;
    options.check = (mode & 16) == 0;
    options.chip_count = 2;
    std::uint64_t sum = 0;
    const tracedec_callbacks_t callbacks{on_byte, on_fault, on_warning, &sum};
    std::array<char, CAPTURE_MESSAGE_CAPACITY> message{};
    int status = CAPTURE_OK;
    capture_t* capture = nullptr;
    capin_t in = capin_memory(bytes.data(), bytes.size());
    const std::vector<std::string> files = split_files(bytes);
    std::vector<capin_t> ins;
    std::vector<std::string> names;
    std::vector<const char*> name_ptrs;
    const capture_sniff_t sniff = capture_sniff(bytes.data(), bytes.size());
    switch ((mode >> 5) % 3) {
    case 0:
        capture = capture_open_session(&in, &status, message.data(), message.size());
        break;
    case 1:
        for (std::size_t i = 0; i < files.size() && i < 80; ++i) {
            ins.push_back(capin_memory(files[i].data(), files[i].size()));
            names.push_back("digital_" + std::to_string(i) + ".bin");
        }
        for (const std::string& name : names) {
            name_ptrs.push_back(name.c_str());
        }
        capture = capture_open_saleae(ins.data(), name_ptrs.data(), static_cast<int>(ins.size()),
                                      &status, message.data(), message.size());
        break;
    default:
        capture = capture_open_csv(&in, &status, message.data(), message.size());
        break;
    }
    (void)std::strlen(message.data());
    (void)sniff;
    if (capture == nullptr) return 0;
    tracedec_t* dec = tracedec_open(&options, &callbacks);
    if (dec != nullptr) {
        (void)tracedec_capture(dec, capture);
        std::array<char, 320> coarse{};
        (void)tracedec_too_coarse(dec, coarse.data(), static_cast<int>(coarse.size()));
        (void)std::strlen(tracedec_message(dec));
        (void)tracedec_end_ps(dec);
        tracedec_close(dec);
    }
    capture_close(capture);
    return 0;
}
