// Callback types shared by the canvas and the BMP file layer.
#pragma once

#include <cstdint>

namespace vimbra {

// Sets the pixel at column x, row y (row 0 is the top row).
using bmpimg_pixel_writer_t = void (*)(int x, int y, unsigned char r, unsigned char g,
                                       unsigned char b, void* ctx);
// Reports the colour of the pixel at column x, row y.
using bmpimg_pixel_reader_t = void (*)(int x, int y, unsigned char* r, unsigned char* g,
                                       unsigned char* b, void* ctx);

// Byte sinks and sources: nonzero when all `size` bytes were taken or delivered.
using bmpfile_write_func_t = int (*)(const void* data, std::uint32_t size, void* ctx);
using bmpfile_read_func_t = int (*)(void* data, std::uint32_t size, void* ctx);

// What an encoder returns when its memory could not be had, beside -1 for the stream.
inline constexpr int BMP_NO_MEMORY = -2;

} // namespace vimbra
