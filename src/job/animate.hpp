// A replayed command log as an animation: one frame per moment the display may change (each
// log event, each blink edge), drawn like a still (the profile's script included), from time
// 0 to the log's end plus a hold, written as an animated GIF or APNG.
#pragma once

#include <cstdint>

#include "bmp/bmptypes.hpp"

namespace vimbra {

struct cmdlog_module_t;
struct cmdlog_t;
struct lcdimg_t;
struct replay_t;

enum animate_format_t : int { ANIMATE_GIF, ANIMATE_APNG };

// Longest animation, log and hold together, and most moments drawn: beyond these an
// animation would take minutes to draw or gigabytes to hold.
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
inline constexpr std::int64_t ANIMATE_MAX_US = INT64_C(3600000000); // one hour
inline constexpr std::int64_t ANIMATE_MAX_MOMENTS = 50000;
#else
inline constexpr std::int64_t ANIMATE_MAX_US = INT64_C(60000000);
inline constexpr std::int64_t ANIMATE_MAX_MOMENTS = 200;
#endif
inline constexpr std::int64_t ANIMATE_DEFAULT_HOLD_US = 1000000;
// The refusal of a log of too many moments, for printf with ANIMATE_MAX_MOMENTS (long long).
inline constexpr const char* ANIMATE_TOO_MANY_MOMENTS =
    "The log changes the display more than %lld times, too often for an animation.";
inline constexpr int ANIMATE_MESSAGE_CAPACITY = 512;

// Gives the picture to encode for a drawn one (a larger copy, say); nullptr when it cannot.
// The result stays valid until the next call.
using animate_filter_t = const unsigned char* (*)(const unsigned char* rgb, int width, int height,
                                                  int* out_width, int* out_height, void* ctx);

struct animate_options_t {
    animate_format_t format;
    std::int64_t hold_us;    // the final state, blinking on, after the log's end
    int plays;               // 0: forever
    animate_filter_t filter; // nullptr: the drawn pictures as they are
    void* filter_ctx;
    int scale; // each pixel of the (filtered) pictures as scale x scale in the file; 1: as is
};

enum animate_result : int {
    ANIMATE_OK = 0,
    ANIMATE_WRITE_ERROR = -1, // the byte sink refused bytes
    ANIMATE_REFUSED = -2,     // `message` says why: the log, the length or the colours
    ANIMATE_NO_MEMORY = -3,   // `message` is "Memory Allocation Error."
};

// Called for each moment of an animation in time order, the replay advanced to its start:
// the moment lasts from `start_us` to `end_us`. An animate_result: other than ANIMATE_OK
// stops the walk and is returned.
using animate_moment_func_t = int (*)(const replay_t* replay, std::int64_t start_us,
                                      std::int64_t end_us, void* ctx);

// Walks the moments an animation draws, from 0 to `end_us` (the log's end plus the hold):
// each lasts until the display may next look different (an event, a blink edge). `replay`
// is started afresh. ANIMATE_OK, `func`'s other result, or ANIMATE_REFUSED when an event
// cannot be replayed (`message` then gets its line).
int animate_each_moment(replay_t* replay, const cmdlog_module_t* module, const lcdimg_t* img,
                        const cmdlog_t* log, std::int64_t end_us, animate_moment_func_t func,
                        void* ctx, char* message, int message_capacity);
// Writes the animation of `log` replayed on `img` for `module` through `func`; with a null
// log, one still frame of the image's text grid as it stands. The log must have replayed
// to its end without refusal. An animate_result; on ANIMATE_REFUSED and ANIMATE_NO_MEMORY
// `message` gets one line without a line end.
int animate_write(lcdimg_t* img, const cmdlog_module_t* module, const cmdlog_t* log,
                  const animate_options_t* options, bmpfile_write_func_t func, void* ctx,
                  char* message, int message_capacity);
// The format a file name asks for: 1 and `format` set for a name ending in ".gif" or
// ".apng" (in any case), else 0.
int animate_format_of(const char* path, animate_format_t* format);

} // namespace vimbra
