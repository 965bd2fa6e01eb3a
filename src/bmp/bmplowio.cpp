#include "bmp/bmplowio.hpp"

#include <array>
#include <climits>
#include <cstdint>

namespace vimbra {

namespace {

// The only place where multi-byte fields are joined: the first byte lowest, whatever the
// host's byte order.
std::uint16_t get_u16(const std::array<std::uint8_t, 2>& in) {
    return static_cast<std::uint16_t>(in[0] | (in[1] << 8));
}

std::uint32_t get_u32(const std::array<std::uint8_t, 4>& in) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < in.size(); ++i) {
        value |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    }
    return value;
}

// One stream call each; the destination is untouched when the stream fails.
int fread_uint16_t(std::uint16_t* dest, bmpfile_read_func_t func, void* ctx) {
    std::array<std::uint8_t, 2> bytes{};
    if (func(bytes.data(), bytes.size(), ctx) == 0) {
        return -1;
    }
    *dest = get_u16(bytes);
    return 0;
}

int fread_uint32_t(std::uint32_t* dest, bmpfile_read_func_t func, void* ctx) {
    std::array<std::uint8_t, 4> bytes{};
    if (func(bytes.data(), bytes.size(), ctx) == 0) {
        return -1;
    }
    *dest = get_u32(bytes);
    return 0;
}

// Signed header fields travel as their 32-bit two's complement pattern.
int fread_int32(std::int32_t* dest, bmpfile_read_func_t func, void* ctx) {
    auto raw = static_cast<std::uint32_t>(*dest);
    const int result = fread_uint32_t(&raw, func, ctx);
    *dest = static_cast<std::int32_t>(raw);
    return result;
}

// Bytes one row takes in the file as this layer reads and writes it: the pixels only
// for 24 bits, the padding always.
std::int64_t row_bytes(int bit_count, std::int64_t width) {
    return (bit_count == 24 ? 3 * width : 0) + bmplowio_row_padding(bit_count, width);
}

} // namespace

int bmplowio_header_init(bmp_file_header_t* fh, bmp_info_header_t* ih) {
    *fh = bmp_file_header_t{};
    *ih = bmp_info_header_t{};
    return 0;
}

int bmplowio_header_write(bmpfile_write_func_t func, void* ctx, const bmp_file_header_t* fh,
                          const bmp_info_header_t* ih) {
    bmplowio_byte_sink_t write{func, ctx};
    bmplowio_header_write_with(fh, ih, write);
    return 0;
}

// Stops at the first field the stream fails to deliver: once a stream has failed, later
// bytes could only land in the wrong fields.
int bmplowio_header_read(bmpfile_read_func_t func, void* ctx, bmp_file_header_t* fh,
                         bmp_info_header_t* ih) {
    (void)(fread_uint16_t(&fh->bfType, func, ctx) == 0 &&
           fread_uint32_t(&fh->bfSize, func, ctx) == 0 &&
           fread_uint16_t(&fh->bfReserved1, func, ctx) == 0 &&
           fread_uint16_t(&fh->bfReserved2, func, ctx) == 0 &&
           fread_uint32_t(&fh->bfOffBits, func, ctx) == 0 &&
           fread_uint32_t(&ih->biSize, func, ctx) == 0 &&
           fread_int32(&ih->biWidth, func, ctx) == 0 &&
           fread_int32(&ih->biHeight, func, ctx) == 0 &&
           fread_uint16_t(&ih->biPlanes, func, ctx) == 0 &&
           fread_uint16_t(&ih->biBitCount, func, ctx) == 0 &&
           fread_uint32_t(&ih->biCompression, func, ctx) == 0 &&
           fread_uint32_t(&ih->biSizeImage, func, ctx) == 0 &&
           fread_uint32_t(&ih->biXPelsPerMeter, func, ctx) == 0 &&
           fread_uint32_t(&ih->biYPelsPerMeter, func, ctx) == 0 &&
           fread_uint32_t(&ih->biClrUsed, func, ctx) == 0 &&
           fread_uint32_t(&ih->biClrImportant, func, ctx) == 0);
    return 0;
}

int bmplowio_palette_write(bmpfile_write_func_t func, void* ctx, const bmp_rgbquad_t* palette,
                           int count) {
    for (int i = 0; i < count; ++i) {
        const bmp_rgbquad_t& entry = palette[i];
        func(&entry.blue, 1, ctx);
        func(&entry.green, 1, ctx);
        func(&entry.red, 1, ctx);
        func(&entry.reserved, 1, ctx);
    }
    return 0;
}

int bmplowio_palette_read(bmpfile_read_func_t func, void* ctx, bmp_rgbquad_t* palette, int count) {
    for (int i = 0; i < count; ++i) {
        bmp_rgbquad_t& entry = palette[i];
        if (func(&entry.blue, 1, ctx) == 0 || func(&entry.green, 1, ctx) == 0 ||
            func(&entry.red, 1, ctx) == 0 || func(&entry.reserved, 1, ctx) == 0) {
            return 0;
        }
    }
    return 0;
}

int bmplowio_image_write(bmpfile_write_func_t func, void* ctx, const bmp_file_header_t* fh,
                         const bmp_info_header_t* ih, bmpimg_pixel_reader_t reader,
                         void* reader_ctx) {
    (void)fh;
    bmplowio_byte_sink_t write{func, ctx};
    bmplowio_pixel_source_t read{reader, reader_ctx};
    bmplowio_image_write_with(ih, write, read);
    return 0;
}

// Stops at the first byte the stream fails to deliver, so no pixel is ever made of bytes
// that were not read.
int bmplowio_image_read(bmpfile_read_func_t func, void* ctx, const bmp_file_header_t* fh,
                        const bmp_info_header_t* ih, bmpimg_pixel_writer_t writer,
                        void* writer_ctx) {
    (void)fh;
    auto read = [func, ctx](unsigned char* byte, std::uint32_t size) {
        return func(byte, size, ctx) != 0;
    };
    auto write = [writer, writer_ctx](int x, int y, unsigned char r, unsigned char g,
                                      unsigned char b) { writer(x, y, r, g, b, writer_ctx); };
    bmplowio_image_read_with(ih, read, write);
    return 0;
}

int bmplowio_have_palette(int bit_count) {
    return bit_count == 1 || bit_count == 2 || bit_count == 4 || bit_count == 8 ? 1 : 0;
}

// Computed in 64 bits; a size that does not fit an int is reported like an unsupported
// bit count, as -1.
int bmplowio_calc_framebytesize(int bit_count, int width, int height) {
    if (bit_count != 1 && bit_count != 2 && bit_count != 4 && bit_count != 8 && bit_count != 24 &&
        bit_count != 32) {
        return -1;
    }
    const std::int64_t bits = static_cast<std::int64_t>(bit_count) * width;
    const std::int64_t stride = (bits + 31) / 32 * 4; // |stride| < 2^34
    const std::int64_t stride_abs = stride < 0 ? -stride : stride;
    if (height != 0 && stride_abs > (std::int64_t{1} << 31)) {
        return -1; // |stride x height| > 2^31, and below that bound the product fits 64 bits
    }
    const std::int64_t size = stride * height;
    return size >= INT_MIN && size <= INT_MAX ? static_cast<int>(size) : -1;
}

std::int64_t bmplowio_row_padding(int bit_count, std::int64_t width) {
    const std::int64_t bits = bit_count * width;
    return (bits + 31) / 32 * 4 - (bits + 7) / 8;
}

bool bmplowio_rows_move_bytes(const bmp_info_header_t* ih) {
    return ih->biWidth >= 0 && ih->biHeight > 0 && row_bytes(ih->biBitCount, ih->biWidth) > 0;
}

} // namespace vimbra
