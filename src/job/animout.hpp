// The option form's animated output: the replayed log (or the rows as one frame) written as
// GIF or APNG to a file, through the write-beside-and-rename step, or to standard output.
#pragma once

#include <cstdint>
#include <string>

#include "job/animate.hpp"

namespace vimbra {

struct cmdlog_t;
struct lcdimg_t;

struct animout_request_t {
    const char* path; // "-": standard output; with `out_fd`, only the name in messages
    int out_fd;       // not negative: written there, as it is

    animate_format_t format;
    std::int64_t hold_us;
    int plays; // 0: forever
    int scale; // each pixel as scale x scale pixels
};

enum animout_result : int {
    ANIMOUT_OK = 0,
    ANIMOUT_NO_MEMORY = 1,   // message: "Memory Allocation Error."
    ANIMOUT_NOT_WRITTEN = 3, // message: why, in one line; nothing was left behind
};

// Writes the animation of `log` (null: one frame of the image's rows) on `img`, whose log
// has replayed to its end without refusal. An animout_result, with `message` set when not
// ANIMOUT_OK.
int animout_write(const animout_request_t* request, lcdimg_t* img, const cmdlog_t* log,
                  std::string* message);

} // namespace vimbra
