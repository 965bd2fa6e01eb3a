// Animated PNG files: acTL, then per frame an fcTL and the rectangle that changed as IDAT
// (the first frame, which is also the default image) or fdAT chunks, on the PNG writer's
// chunks, palette and deflate. Frames are replaced in place (blend "source") and left
// for the next one (dispose "none"), so each shows exactly the picture it was given.
#pragma once

#include <cstdint>

#include "bmp/animframes.hpp"
#include "bmp/bmptypes.hpp"

namespace vimbra {

struct apngfile_t {
    animframes_t frames;
    int plays; // 0: forever
    bmpfile_write_func_t func;
    void* ctx;
};

// Starts an APNG of `width` x `height` pixels played `plays` times (0 or less: forever),
// written through `func` at apngfile_end. Times are kept in milliseconds. An
// animframes_result.
int apngfile_begin(apngfile_t* apng, int width, int height, int plays, bmpfile_write_func_t func,
                   void* ctx);
// Adds a picture (RGB, top row first) shown for `duration_us`; see animframes_add for the
// rounding and merging. An animframes_result.
int apngfile_add_frame(apngfile_t* apng, const unsigned char* rgb, std::int64_t duration_us);
// Writes the whole file and releases the memory. An animframes_result.
int apngfile_end(apngfile_t* apng);
// Releases the memory without writing.
void apngfile_discard(apngfile_t* apng);

} // namespace vimbra
