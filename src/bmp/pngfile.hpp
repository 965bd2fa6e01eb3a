// PNG files: indexed colour at the smallest bit depth that holds the picture's colours, or
// truecolour past 256 of them; rows deflated by zlib as they are made.
#pragma once

#include "bmp/bmptypes.hpp"

// Writes an RGB picture (3 bytes a pixel, top row first) as a complete PNG file through
// `func`; the same picture always gives the same bytes. Returns 0, BMP_NO_MEMORY when memory
// (its own or zlib's) was short, or -1 when the stream refused bytes or the size is not a
// picture (a side below 1).
int pngfile_write_rgb(const unsigned char* rgb, int width, int height, bmpfile_write_func_t func,
                      void* ctx);
