// Whole BMP files: one writer, one reader.
#pragma once

#include "bmp/bmptypes.hpp"

// Writes a complete uncompressed 24-bit file of the given size. Returns 0.
int bmpfile_write(int width, int height, bmpfile_write_func_t func, void* ctx,
                  bmpimg_pixel_reader_t reader, void* reader_ctx);
// Reads a file and hands every decoded 24-bit pixel to the writer. Returns 0.
int bmpfile_read(bmpfile_read_func_t func, void* ctx, bmpimg_pixel_writer_t writer,
                 void* writer_ctx);
