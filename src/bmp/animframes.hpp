// The frames of an animation as its writers store them: each picture's difference from the
// one before as a rectangle, with its time in the file's unit (GIF: hundredths of a second,
// APNG: milliseconds). Both writers keep the frames here and write the file at the end,
// since the colour table and the frame count come before the first frame's data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vimbra {

struct animframes_frame_t {
    int x; // the changed rectangle: the whole picture for the first frame
    int y;
    int width;
    int height;
    std::int64_t ticks; // how long the frame shows, in ticks of the writer's unit
    std::size_t offset; // where its RGB pixels start in animframes_t::pixels
};

struct animframes_t {
    int width; // of the stored pictures; the file's are `scale` times as large
    int height;
    int scale = 1;                          // each stored pixel is scale x scale pixels of the file
    int max_side = 0;                       // of the file
    std::int64_t tick_us;                   // the file's unit of time
    std::int64_t elapsed_us;                // the durations given so far, summed
    std::vector<unsigned char> last;        // the last stored picture, RGB
    std::vector<unsigned char> latest;      // the last picture left out before the first frame
    std::vector<animframes_frame_t> frames; // in order; the first covers the picture
    std::vector<unsigned char> pixels;      // each frame's rectangle, RGB, rows top first
};

// Results of the animation writers.
enum animframes_result : int {
    ANIMFRAMES_OK = 0,
    ANIMFRAMES_WRITE_ERROR = -1, // the byte sink refused bytes
    ANIMFRAMES_NO_MEMORY = -2,
    ANIMFRAMES_TOO_MANY_COLORS = -3, // a GIF holds at most 256
    ANIMFRAMES_BAD_SIZE = -4,        // a side below 1 or beyond the format's limit
    ANIMFRAMES_TOO_LARGE = -5,       // the frames' rectangles past ANIMFRAMES_MAX_BYTES
};

// Most bytes the frames' rectangles may take together: an animation that changes a large
// picture everywhere many times is refused before it takes all memory.
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
inline constexpr std::size_t ANIMFRAMES_MAX_BYTES = std::size_t{1} << 30;
#else
inline constexpr std::size_t ANIMFRAMES_MAX_BYTES = std::size_t{1} << 22;
#endif

// Starts an empty animation of `width` x `height` pixels (each 1..max_side) timed in units of
// `tick_us`. ANIMFRAMES_OK, ANIMFRAMES_BAD_SIZE or ANIMFRAMES_NO_MEMORY.
int animframes_begin(animframes_t* frames, int width, int height, int max_side,
                     std::int64_t tick_us);
inline constexpr std::int64_t ANIMFRAMES_MAX_TIME_US = INT64_C(1) << 50; // all frames together

// Makes each stored pixel `scale` x `scale` pixels of the file (before any picture is added):
// the pictures are compared and kept at their own size, the limits count the file's, and
// animframes_finish enlarges the frames. ANIMFRAMES_OK, or ANIMFRAMES_BAD_SIZE when the file's
// sides would pass max_side.
int animframes_set_scale(animframes_t* frames, int scale);
// Adds a picture (RGB, top row first) shown for `duration_us` (0 or more; the frames
// together at most ANIMFRAMES_MAX_TIME_US, else ANIMFRAMES_BAD_SIZE). Frame times are
// rounded with the error carried on: a frame ends at its exact end time rounded to the nearest
// tick, so the total stays exact to half a tick. A picture equal to the last stored one adds
// its time to that frame; one that rounds to no time at all is left out (the next frame is
// then its difference from the last stored picture). ANIMFRAMES_OK, ANIMFRAMES_BAD_SIZE,
// ANIMFRAMES_TOO_LARGE or ANIMFRAMES_NO_MEMORY.
int animframes_add(animframes_t* frames, const unsigned char* rgb, std::int64_t duration_us);
// Completes the list: when every picture was left out, the last one becomes the only frame,
// of no time; at a scale above 1 the frames are then enlarged to the file's size.
// ANIMFRAMES_OK or ANIMFRAMES_NO_MEMORY.
int animframes_finish(animframes_t* frames);
// Releases the memory; the record is then empty.
void animframes_free(animframes_t* frames);

// Copies the RGB rectangle of frame `index` onto `canvas` (a whole picture, RGB).
void animframes_compose(const animframes_t* frames, std::size_t index, unsigned char* canvas);

} // namespace vimbra
