// Whole BMP files: one writer, one reader.
#pragma once

#include <cstdint>

#include "bmp/bmplowio.hpp"
#include "bmp/bmptypes.hpp"

namespace vimbra {

// Writes a complete uncompressed 24-bit file of the given size. Returns 0.
int bmpfile_write(int width, int height, bmpfile_write_func_t func, void* ctx,
                  bmpimg_pixel_reader_t reader, void* reader_ctx);
// Reads a file and hands every decoded 24-bit pixel to the writer. Returns 0.
int bmpfile_read(bmpfile_read_func_t func, void* ctx, bmpimg_pixel_writer_t writer,
                 void* writer_ctx);

// Writes the same file as bmpfile_write from an RGB buffer (3 bytes a pixel, top row first),
// one padded row per stream call. Returns 0, -1 when the stream refused bytes, or
// BMP_NO_MEMORY when the row buffer could not be had.
int bmpfile_write_rgb(const unsigned char* rgb, int width, int height, bmpfile_write_func_t func,
                      void* ctx);

// The reading counterpart of bmpfile_write_rgb: the rows of an uncompressed 24-bit file of
// the given size, whose headers have been read already, into an RGB buffer (3 bytes a pixel,
// top row first), one padded row per stream call. Returns 0, -1 when the stream ran short
// (the rows read so far are stored), or BMP_NO_MEMORY when the row buffer could not be had.
int bmpfile_read_rgb(bmpfile_read_func_t func, void* ctx, int width, int height,
                     unsigned char* rgb);

// The length of the 24-bit file of a width x height picture, headers included; -1 beyond
// what the format's size fields hold (2 GiB of rows).
std::int64_t bmpfile_size(int width, int height);

// Fills in both headers of an uncompressed 24-bit file of the given size.
void bmpfile_make_headers(int width, int height, bmp_file_header_t* fh, bmp_info_header_t* ih);

// bmpfile_write with the byte sink and the pixel reader given as callables (see
// bmplowio.hpp); bmpfile_write runs it over its function pointers. A 24-bit file carries no
// palette, so nothing goes between the headers and the rows.
template <class Write, class Read>
int bmpfile_write_with(int width, int height, Write write, Read read) {
    bmp_file_header_t fh{};
    bmp_info_header_t ih{};
    bmpfile_make_headers(width, height, &fh, &ih);
    bmplowio_header_write_with(&fh, &ih, write);
    bmplowio_image_write_with(&ih, write, read);
    return 0;
}

} // namespace vimbra
