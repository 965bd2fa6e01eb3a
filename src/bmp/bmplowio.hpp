// The pieces of a BMP file, field by field, through caller-supplied byte streams.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "bmp/bmptypes.hpp"

namespace vimbra {

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
// Zero bytes that end a row of `width` pixels at the next multiple of 4 bytes.
std::int64_t bmplowio_row_padding(int bit_count, std::int64_t width);
// False when the rows of `ih` move no bytes at all (a negative size, no rows, or rows of
// no bytes), so that a header alone can never keep a row loop busy.
bool bmplowio_rows_move_bytes(const bmp_info_header_t* ih);

// The only place where multi-byte fields are split into bytes: lowest byte first, whatever
// the host's byte order.
inline std::array<std::uint8_t, 2> bmplowio_put_u16(std::uint16_t value) {
    return {static_cast<std::uint8_t>(value & 0xFFu), static_cast<std::uint8_t>(value >> 8)};
}
inline std::array<std::uint8_t, 4> bmplowio_put_u32(std::uint32_t value) {
    std::array<std::uint8_t, 4> out{};
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFFu);
    }
    return out;
}

// The callables of the two templates below: write(const void* data, std::uint32_t size)
// takes bytes like a bmpfile_write_func_t without its context; read(x, y, &r, &g, &b)
// reports a pixel like a bmpimg_pixel_reader_t. The templates let a caller whose callbacks
// the compiler can see have them inlined: a picture takes millions of these calls, and an
// indirect call costs more than the work behind it. The function-pointer operations run
// the same templates over the two records below, so each of the two loops exists once.

// A stream function with its context, as a write callable.
struct bmplowio_byte_sink_t {
    bmpfile_write_func_t func;
    void* ctx;
    int operator()(const void* data, std::uint32_t size) const { return func(data, size, ctx); }
};

// A pixel reader with its context, as a read callable.
struct bmplowio_pixel_source_t {
    bmpimg_pixel_reader_t reader;
    void* ctx;
    void operator()(int x, int y, unsigned char* r, unsigned char* g, unsigned char* b) const {
        reader(x, y, r, g, b, ctx);
    }
};

// The one header writer, bmplowio_header_write's: the sixteen fields in file order, each as
// one write call of 2 or 4 bytes.
template <class Write>
void bmplowio_header_write_with(const bmp_file_header_t* fh, const bmp_info_header_t* ih,
                                Write& write) {
    const auto u16 = [&write](std::uint16_t value) {
        const std::array<std::uint8_t, 2> bytes = bmplowio_put_u16(value);
        write(bytes.data(), std::uint32_t{2});
    };
    const auto u32 = [&write](std::uint32_t value) {
        const std::array<std::uint8_t, 4> bytes = bmplowio_put_u32(value);
        write(bytes.data(), std::uint32_t{4});
    };
    u16(fh->bfType);                               // 0
    u32(fh->bfSize);                               // 2
    u16(fh->bfReserved1);                          // 6
    u16(fh->bfReserved2);                          // 8
    u32(fh->bfOffBits);                            // 10
    u32(ih->biSize);                               // 14
    u32(static_cast<std::uint32_t>(ih->biWidth));  // 18
    u32(static_cast<std::uint32_t>(ih->biHeight)); // 22
    u16(ih->biPlanes);                             // 26
    u16(ih->biBitCount);                           // 28
    u32(ih->biCompression);                        // 30
    u32(ih->biSizeImage);                          // 34
    u32(ih->biXPelsPerMeter);                      // 38
    u32(ih->biYPelsPerMeter);                      // 42
    u32(ih->biClrUsed);                            // 46
    u32(ih->biClrImportant);                       // 50
}

// The one row loop of the writing direction, bmplowio_image_write's: rows bottom-up, each
// pixel asked of read and written as blue, green, red, then the row's zero padding, every
// byte its own one-byte write call.
template <class Write, class Read>
void bmplowio_image_write_with(const bmp_info_header_t* ih, Write& write, Read& read) {
    if (!bmplowio_rows_move_bytes(ih)) {
        return;
    }
    const int width = ih->biWidth;
    const int height = ih->biHeight;
    const std::int64_t padding = bmplowio_row_padding(ih->biBitCount, width);
    const int pixel_width = ih->biBitCount == 24 ? width : 0; // other bit counts: padding only
    const std::uint8_t zero = 0;
    for (int i = 0; i < height; ++i) {
        const int y = height - 1 - i; // bottom row first
        for (int x = 0; x < pixel_width; ++x) {
            unsigned char r = 0;
            unsigned char g = 0;
            unsigned char b = 0;
            read(x, y, &r, &g, &b);
            write(&b, 1);
            write(&g, 1);
            write(&r, 1);
        }
        for (std::int64_t p = 0; p < padding; ++p) {
            write(&zero, 1);
        }
    }
}

// The one row loop of the reading direction, bmplowio_image_read's: rows bottom-up, each
// pixel taken as three one-byte reads (blue, green, red) and handed to write, then the row's
// padding read past. Stops at the first failed read.
template <class Read, class Write>
void bmplowio_image_read_with(const bmp_info_header_t* ih, Read& read, Write& write) {
    if (!bmplowio_rows_move_bytes(ih)) {
        return;
    }
    const int width = ih->biWidth;
    const int height = ih->biHeight;
    const std::int64_t padding = bmplowio_row_padding(ih->biBitCount, width);
    const int pixel_width = ih->biBitCount == 24 ? width : 0; // other bit counts: padding only
    for (int i = 0; i < height; ++i) {
        const int y = height - 1 - i; // bottom row first
        for (int x = 0; x < pixel_width; ++x) {
            unsigned char r = 0;
            unsigned char g = 0;
            unsigned char b = 0;
            if (!read(&b, 1) || !read(&g, 1) || !read(&r, 1)) {
                return;
            }
            write(x, y, r, g, b);
        }
        for (std::int64_t p = 0; p < padding; ++p) {
            unsigned char dropped = 0;
            if (!read(&dropped, 1)) {
                return;
            }
        }
    }
}

} // namespace vimbra
