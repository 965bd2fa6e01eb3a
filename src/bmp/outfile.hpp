// Output files: a buffered byte sink over a descriptor, the write-beside-and-rename step, and
// the choice of encoder by the file name.
#pragma once

#include <cstddef>
#include <cstdint>

// Produces a file's bytes on an open descriptor; 0 when every byte was written.
using outfile_producer_t = int (*)(int fd, void* ctx);

// Creates the file at `path` with the bytes of `produce`. A new or regular target is written
// to a temporary file beside it and renamed over it once complete; anything else (a symlink,
// a device, a FIFO) is opened and written directly. Returns 0, or -1 on any failure, after
// which no temporary file remains.
int outfile_write(const char* path, outfile_producer_t produce, void* ctx);

inline constexpr std::size_t OUTFILE_BUFFER_BYTES = 64 * 1024;

// A buffered byte sink over a file descriptor. The first failure sticks: every later call
// refuses its bytes, so an encoder may check once at the end.
struct outfile_sink_t {
    unsigned char* buffer; // OUTFILE_BUFFER_BYTES, on the heap
    std::size_t fill;
    bool failed;
    int fd;
};

// Opens a sink over `fd`; -1 when its buffer cannot be had.
int outfile_sink_open(outfile_sink_t* sink, int fd);
// The byte sink, of the bmpfile_write_func_t shape; ctx is the outfile_sink_t. 1 when the
// bytes were taken, 0 when not.
int outfile_sink_write(const void* data, std::uint32_t size, void* ctx);
// Writes out what is buffered and releases the buffer; 0 when every byte was written.
int outfile_sink_close(outfile_sink_t* sink);

// Writes an RGB picture (3 bytes a pixel, top row first) to `path` through outfile_write:
// as PNG when the name ends in ".png" in any case, as a 24-bit BMP otherwise. Returns 0, or
// -1 on any failure.
int outfile_write_picture(const char* path, const unsigned char* rgb, int width, int height);
