// Reference pictures for a comparison: a PNG or a 24-bit BMP file, recognised by its first
// bytes, read into RGB (3 bytes a pixel, top row first).
#pragma once

#include <cstddef>

namespace vimbra {

inline constexpr int REFPIC_MESSAGE_CAPACITY = 256;

struct refpic_t {
    int width;
    int height;
    unsigned char* rgb; // malloc'ed; null unless the pixels were asked for and read
};

enum refpic_status : int {
    REFPIC_OK = 0,
    REFPIC_UNREADABLE = 1, // the file cannot be read: errno says why
    REFPIC_REFUSED = 2,    // not a picture this tool reads: `message` says why
    REFPIC_NO_MEMORY = 3,
};

// Reads the size of the picture at `path`, and its pixels too when that size is
// want_width x want_height (a picture of another size is never decoded, however large it
// claims to be). On REFPIC_REFUSED `message` gets one line, no line end. Release with
// refpic_free, whatever the result.
int refpic_read(const char* path, int want_width, int want_height, refpic_t* pic, char* message,
                int message_capacity);
void refpic_free(refpic_t* pic);

// Takes up to `size` bytes of a file into `data`: how many, 0 at its end or on an error.
using refpic_read_func_t = std::size_t (*)(unsigned char* data, std::size_t size, void* ctx);

// The PNG half, in a source file of its own (libpng is linked only where it is built).
// Decodes a PNG file streamed through `read` like refpic_read: whatever chunks come before
// the image data are skipped as they stream by, so memory stays near the picture's size.
// Samples are taken as stored (no gamma or colour correction); 16-bit ones are scaled to 8
// bits rounded to the nearest (v * 255 / 65535, so 257 * k reads as k); a transparent pixel
// is seen over black (each colour sample times alpha, rounded, before that scaling).
int refpic_read_png(refpic_read_func_t read, void* ctx, int want_width, int want_height,
                    refpic_t* pic, char* message, int message_capacity);

} // namespace vimbra
