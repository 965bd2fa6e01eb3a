// The pieces of a BMP file, field by field, through caller-supplied byte streams.
#pragma once

#include <cstdint>

#include "bmp/bmptypes.hpp"

struct bmp_file_header_t {
    std::uint16_t bfType;
    std::uint32_t bfSize;
    std::uint16_t bfReserved1;
    std::uint16_t bfReserved2;
    std::uint32_t bfOffBits;
};

struct bmp_info_header_t {
    std::uint32_t biSize;
    std::int32_t biWidth;
    std::int32_t biHeight;
    std::uint16_t biPlanes;
    std::uint16_t biBitCount;
    std::uint32_t biCompression;
    std::uint32_t biSizeImage;
    std::uint32_t biXPelsPerMeter;
    std::uint32_t biYPelsPerMeter;
    std::uint32_t biClrUsed;
    std::uint32_t biClrImportant;
};

// One palette entry; stored in a file as blue, green, red, reserved.
struct bmp_rgbquad_t {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
    std::uint8_t reserved;
};

inline constexpr std::uint32_t BMP_HEADER_BYTES = 54; // file header 14 + info header 40

// Sets every field of both headers to 0.
int bmplowio_header_init(bmp_file_header_t* fh, bmp_info_header_t* ih);
// Writes the 54 header bytes, one stream call per field.
int bmplowio_header_write(bmpfile_write_func_t func, void* ctx, const bmp_file_header_t* fh,
                          const bmp_info_header_t* ih);
// Fills both headers from the next 54 bytes; fields not delivered keep their values.
int bmplowio_header_read(bmpfile_read_func_t func, void* ctx, bmp_file_header_t* fh,
                         bmp_info_header_t* ih);
// Writes `count` palette entries, four one-byte calls each.
int bmplowio_palette_write(bmpfile_write_func_t func, void* ctx, const bmp_rgbquad_t* palette,
                           int count);
// Reads `count` palette entries.
int bmplowio_palette_read(bmpfile_read_func_t func, void* ctx, bmp_rgbquad_t* palette, int count);
// Writes all pixel rows bottom-up, asking the reader for every pixel.
int bmplowio_image_write(bmpfile_write_func_t func, void* ctx, const bmp_file_header_t* fh,
                         const bmp_info_header_t* ih, bmpimg_pixel_reader_t reader,
                         void* reader_ctx);
// Reads all pixel rows and hands every decoded pixel to the writer.
int bmplowio_image_read(bmpfile_read_func_t func, void* ctx, const bmp_file_header_t* fh,
                        const bmp_info_header_t* ih, bmpimg_pixel_writer_t writer,
                        void* writer_ctx);
// 1 for the bit counts that carry a palette (1, 2, 4, 8), else 0.
int bmplowio_have_palette(int bit_count);
// Image data size, stride x height; -1 for an unsupported bit count.
int bmplowio_calc_framebytesize(int bit_count, int width, int height);
