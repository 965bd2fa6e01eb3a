// Animated GIF files (GIF89a): one global colour table, the NETSCAPE2.0 loop extension, and
// per frame a graphic control extension (delay in hundredths of a second, "leave in place"
// disposal) and only the rectangle that changed, LZW-coded. Unchanged pixels inside the
// rectangle become transparent when that codes smaller.
#pragma once

#include <cstdint>

#include "bmp/animframes.hpp"
#include "bmp/bmptypes.hpp"

namespace vimbra {

inline constexpr int GIFFILE_MAX_SIDE = 65535;
inline constexpr int GIFFILE_MAX_PLAYS = 65536; // the loop field counts the repeats

struct giffile_t {
    animframes_t frames;
    int plays; // 0: forever
    bmpfile_write_func_t func;
    void* ctx;
};

// Starts a GIF of `width` x `height` pixels (1..GIFFILE_MAX_SIDE each) played `plays` times
// (0 or more than GIFFILE_MAX_PLAYS: forever), written through `func` at giffile_end.
// An animframes_result.
int giffile_begin(giffile_t* gif, int width, int height, int plays, bmpfile_write_func_t func,
                  void* ctx);
// Adds a picture (RGB, top row first) shown for `duration_us`; see animframes_add for the
// rounding and merging. An animframes_result.
int giffile_add_frame(giffile_t* gif, const unsigned char* rgb, std::int64_t duration_us);
// Writes the whole file and releases the memory. A single frame of no time is written as a
// still picture: no loop extension, no delay. An animframes_result; on failure the bytes
// written so far are not a complete file.
int giffile_end(giffile_t* gif);
// Releases the memory without writing.
void giffile_discard(giffile_t* gif);

} // namespace vimbra
