// Reference pictures for a comparison: a PNG or a 24-bit BMP file, recognised by its first
// bytes, read into RGB (3 bytes a pixel, top row first).
#pragma once

#include <cstddef>

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

// The PNG half, in a source file of its own (libpng is linked only where it is built).
// Decodes `size` bytes of a PNG file like refpic_read.
int refpic_read_png(const unsigned char* data, std::size_t size, int want_width, int want_height,
                    refpic_t* pic, char* message, int message_capacity);
