// bmpfile_read through a canvas of fixed size, on any bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "bmp/bmpimg.hpp"

using namespace vimbra;

namespace {

constexpr int kWidth = 13;
constexpr int kHeight = 7;

struct source_t {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
};

int read_bytes(void* out, std::uint32_t size, void* ctx) {
    auto* src = static_cast<source_t*>(ctx);
    if (src->size - src->pos < size) return 0;
    std::memcpy(out, src->data + src->pos, size);
    src->pos += size;
    return 1;
}

// A writer that traps on any pixel the canvas should have dropped.
void write_pixel(int x, int y, unsigned char r, unsigned char g, unsigned char b, void* ctx) {
    if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) __builtin_trap();
    auto* pixels = static_cast<std::array<unsigned char, kWidth * kHeight * 3>*>(ctx);
    std::size_t at = (static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x)) * 3;
    (*pixels)[at] = r;
    (*pixels)[at + 1] = g;
    (*pixels)[at + 2] = b;
}

void read_pixel(int, int, unsigned char* r, unsigned char* g, unsigned char* b, void*) {
    *r = *g = *b = 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::array<unsigned char, kWidth * kHeight * 3> pixels{};
    bmpimg_t canvas;
    bmpimg_open(&canvas, kWidth, kHeight, write_pixel, &pixels, read_pixel, nullptr);
    source_t src{data, size, 0};
    bmpimg_bmp_read(&canvas, read_bytes, &src);
    return 0;
}
