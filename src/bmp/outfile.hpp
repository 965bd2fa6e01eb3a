// Output files: a buffered byte sink over a descriptor, the write-beside-and-rename step, and
// the choice of encoder by the file name.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vimbra {

// The result for memory that could not be had, beside -1 for every other failure.
inline constexpr int OUTFILE_NO_MEMORY = -2;

// Produces a file's bytes on an open descriptor; 0 when every byte was written, -1 when not,
// OUTFILE_NO_MEMORY when memory ran short. It may be called a second time, on another
// descriptor, when a finished temporary file could not replace the target.
using outfile_producer_t = int (*)(int fd, void* ctx);

// Creates the file at `path` with the bytes of `produce`, never leaving an existing picture
// half written:
// - a new or regular target (after following symlinks to the real file) is written to a
//   temporary file ".<name>.vimbracli-XXXXXX" beside it and renamed over it once complete;
//   the new file keeps the old one's permission bits, and its owner and group where the
//   process may set them. A hard link to the old file keeps the old picture.
// - an existing file the process may not write is refused (EACCES), as opening it would be.
// - when its folder refuses a temporary file for lack of permission (EACCES, EPERM, EROFS),
//   or the temporary file may not replace it (a sticky folder, a mounted file), the file is
//   written in place instead: the whole picture is made in memory, its room taken
//   (posix_fallocate) and the file size limit checked, then it goes over the old bytes and
//   the rest is cut off. A full disk or a size limit leaves the old file as it was.
// - /dev/stdin, /dev/stdout, /dev/stderr, /dev/fd/N and /proc/self/fd/N are written through
//   the open descriptor as it is, at its offset and in its append mode; other non-regular
//   targets (devices, FIFOs) are opened and written without truncating.
// Returns 0, -1 on failure or OUTFILE_NO_MEMORY, after which no temporary file remains and
// errno tells why (EIO when the producer failed without saying).
int outfile_write(const char* path, outfile_producer_t produce, void* ctx);

// For a tool: SIGPIPE and SIGXFSZ are ignored, so that writing to a closed pipe or past the
// file size limit is a failed write, and every other signal whose default action ends the
// process (SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGALRM, the real-time ones, ...; not those a
// fault raises), unless ignored or handled already, removes the temporary file being
// written before the process ends as the signal says. A library never calls this itself.
void outfile_install_signal_handlers();

// The descriptor that `path` names once its symlinks are followed (/dev/stdout: 1), or -1.
int outfile_descriptor_of(const char* path);

inline constexpr std::size_t OUTFILE_BUFFER_BYTES = 64 * 1024;

// A buffered byte sink over a file descriptor. The first failure sticks: every later call
// refuses its bytes, so an encoder may check once at the end.
struct outfile_sink_t {
    unsigned char* buffer; // OUTFILE_BUFFER_BYTES, on the heap
    std::size_t fill;
    bool failed;
    int error; // errno of the failure that stuck
    int fd;
};

// Opens a sink over `fd`; OUTFILE_NO_MEMORY when its buffer cannot be had.
int outfile_sink_open(outfile_sink_t* sink, int fd);
// The byte sink, of the bmpfile_write_func_t shape; ctx is the outfile_sink_t. 1 when the
// bytes were taken, 0 when not.
int outfile_sink_write(const void* data, std::uint32_t size, void* ctx);
// Writes out what is buffered and releases the buffer; 0 when every byte was written.
int outfile_sink_close(outfile_sink_t* sink);

// Writes an RGB picture (3 bytes a pixel, top row first) to `path` through outfile_write:
// as PNG when the name ends in ".png" in any case, as a 24-bit BMP otherwise. Returns 0,
// OUTFILE_NO_MEMORY when an encoder ran out of memory, or -1 on any other failure (errno
// tells why, as for outfile_write).
int outfile_write_picture(const char* path, const unsigned char* rgb, int width, int height);

} // namespace vimbra
