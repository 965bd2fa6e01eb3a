// PNG files: indexed colour at the smallest bit depth that holds the picture's colours, or
// truecolour past 256 of them; rows deflated by zlib as they are made.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "bmp/bmptypes.hpp"

namespace vimbra {

inline constexpr int PNGFILE_MAX_PALETTE = 256;

// Writes an RGB picture (3 bytes a pixel, top row first) as a complete PNG file through
// `func`; the same picture always gives the same bytes. Returns 0, BMP_NO_MEMORY when memory
// (its own or zlib's) was short, or -1 when the stream refused bytes or the size is not a
// picture (a side below 1).
int pngfile_write_rgb(const unsigned char* rgb, int width, int height, bmpfile_write_func_t func,
                      void* ctx);

// The pieces below are shared with the animated PNG writer.

// Colours in order of first appearance, up to 256, with a small open-addressing table from
// colour to palette index. Zeroed, it is empty.
struct pngfile_palette_t {
    static constexpr std::size_t SLOTS = 1024;             // a power of two, at most a quarter used
    std::array<std::uint32_t, PNGFILE_MAX_PALETTE> colors; // 0xRRGGBB
    int count;                             // PNGFILE_MAX_PALETTE + 1 once more colours were seen
    std::array<std::uint32_t, SLOTS> keys; // colour + 1; 0 marks a free slot
    std::array<unsigned char, SLOTS> index;
};

// Adds the colours of an RGB picture; stops early once past 256.
void pngfile_palette_gather(pngfile_palette_t* palette, const unsigned char* rgb, int width,
                            int height);
// The index of one RGB pixel's colour, added when new; -1 once past 256 colours.
int pngfile_palette_index(pngfile_palette_t* palette, const unsigned char* pixel);
// The signature, IHDR and, for a palette of at most 256 colours, PLTE; with no palette or an
// overflowed one the file is truecolour. 0, or -1 when the stream refused bytes.
int pngfile_write_head(int width, int height, pngfile_palette_t* palette, bmpfile_write_func_t func,
                       void* ctx);
// One chunk of four-letter `type`. 0, or -1 when the stream refused bytes.
int pngfile_write_chunk(const char* type, const unsigned char* data, std::size_t size,
                        bmpfile_write_func_t func, void* ctx);
// An RGB picture's rows filtered and deflated in the head's format (the same palette): IDAT
// chunks, or with a `sequence` fdAT chunks numbered from *sequence on, which is advanced.
// 0, BMP_NO_MEMORY when memory was short, or -1 when the stream refused bytes.
int pngfile_write_pixels(const unsigned char* rgb, int width, int height,
                         pngfile_palette_t* palette, std::uint32_t* sequence,
                         bmpfile_write_func_t func, void* ctx);

} // namespace vimbra
