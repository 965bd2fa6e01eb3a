// Output files: a buffered byte sink over a descriptor, the write-beside-and-rename step, and
// the choice of encoder by the file name.
#pragma once

#include <sys/stat.h>

#include <array>
#include <cstddef>
#include <cstdint>

namespace vimbra {

// The result for memory that could not be had, beside -1 for every other failure.
inline constexpr int OUTFILE_NO_MEMORY = -2;

// Long enough for any path the tool takes (its texts hold 8192 bytes), a symlink's target
// joined to its folder, and what a temporary name adds.
inline constexpr std::size_t OUTFILE_PATH_CAPACITY = 8192 + 4096 + 64;
using outfile_path_t = std::array<char, OUTFILE_PATH_CAPACITY>;

// How an output reaches its target.
enum outfile_way_t : int {
    OUTFILE_REPLACE = 0,  // a temporary file beside the target, renamed over it when complete
    OUTFILE_IN_PLACE = 1, // gathered in memory, then written over the target's bytes
    OUTFILE_DIRECT = 2,   // a device, a FIFO or an open descriptor, written as it is
};

// An output being written: outfile_open, bytes to `fd`, then outfile_commit or
// outfile_discard.
struct outfile_t {
    int fd; // where the bytes go; -1 once closed
    outfile_way_t way;
    outfile_path_t target; // symlinks followed
    outfile_path_t temp;   // OUTFILE_REPLACE: the temporary file
    struct stat seen;      // the existing target (OUTFILE_IN_PLACE, or a replaced file)
    bool existed;          // the target was a regular file already
    std::int64_t size;     // the bytes announced at the opening; -1: not known
};

// Opens the output for the file at `path`; `size` is the whole file's length when known
// (-1 when not), checked then against the file size limit and reserved on the disk
// (posix_fallocate) before a byte is written. Never leaves an existing file half written:
// - a new or regular target (after following symlinks to the real file) gets a temporary
//   file ".<name>.vimbracli-XXXXXX" beside it (mkostemp), renamed over it on commit; the new
//   file keeps the old one's permission bits, and its owner and group where the process may
//   set them. A hard link to the old file keeps the old bytes.
// - an existing file the process may not write is refused (EACCES), as opening it would be.
// - a symlink in a sticky, world-writable folder is followed only when it belongs to the
//   process's user or to the folder's owner (EACCES otherwise), as the kernel's
//   protected_symlinks rule has it.
// - when its folder refuses a temporary file for lack of permission (EACCES, EPERM, EROFS),
//   or the finished file may not replace it (a sticky folder, a mounted file), the bytes are
//   gathered in memory and, on commit, written over the old ones once their room is taken
//   (posix_fallocate) and the file size limit checked; the rest is cut off. A full disk or a
//   size limit leaves the old file as it was.
// - /dev/stdin, /dev/stdout, /dev/stderr, /dev/fd/N and /proc/self/fd/N are written through
//   the open descriptor as it is, at its offset and in its append mode; other non-regular
//   targets (devices, FIFOs) are opened and written without truncating, never replaced.
// - a name that ends in '/' or names a folder is refused (EISDIR).
// 0, or -1 (errno says why) or OUTFILE_NO_MEMORY, with nothing left behind.
int outfile_open(outfile_t* out, const char* path, std::int64_t size);
// Puts the bytes written in place: 0, or -1 with errno, after which nothing is left behind
// and an existing target is as it was (but for a device or a descriptor).
int outfile_commit(outfile_t* out);
// Gives the output up: the temporary file goes, the target stays as it was. errno is kept.
void outfile_discard(outfile_t* out);

// Produces a file's bytes on an open descriptor; 0 when every byte was written, -1 when not,
// OUTFILE_NO_MEMORY when memory ran short.
using outfile_producer_t = int (*)(int fd, void* ctx);

// Creates the file at `path` with the bytes of `produce`, of `size` bytes when known (-1:
// not known), through outfile_open and outfile_commit. Returns 0, -1 on failure or
// OUTFILE_NO_MEMORY, after which no temporary file remains and errno tells why (EIO when the
// producer failed without saying).
int outfile_write_sized(const char* path, std::int64_t size, outfile_producer_t produce, void* ctx);
// outfile_write_sized of a size not known beforehand.
int outfile_write(const char* path, outfile_producer_t produce, void* ctx);

// A program that removes temporary files when a signal ends it watches them here. `hold`
// runs before a temporary file is made or settled, `release` after, with the file's path
// when it was just made (`made`) or just renamed or removed (`gone`); between the two the
// program keeps its signal handlers from running. One watch per process (null: none); the
// library itself installs no handlers.
struct outfile_watch_t {
    void (*hold)(void* ctx);
    void (*release)(const char* made, const char* gone, void* ctx);
    void* ctx;
};
void outfile_watch_temps(const outfile_watch_t* watch);

// The descriptor that `path` names once its symlinks are followed (/dev/stdout: 1), or -1.
int outfile_descriptor_of(const char* path);

inline constexpr std::size_t OUTFILE_BUFFER_BYTES = 64 * 1024;

// A buffered byte sink over a file descriptor. The first failure sticks: every later call
// refuses its bytes, so an encoder may check once at the end.
struct outfile_sink_t {
    unsigned char* buffer; // OUTFILE_BUFFER_BYTES, on the heap; null for a direct sink
    std::size_t fill;
    bool failed;
    int error; // errno of the failure that stuck
    int fd;
    bool direct; // every call's bytes go to the descriptor at once
};

// Opens a sink over `fd`; OUTFILE_NO_MEMORY when its buffer cannot be had.
int outfile_sink_open(outfile_sink_t* sink, int fd);
// A sink with no buffer, for a writer that hands over large pieces itself (the BMP writer's
// chunks): no copy, and no memory to take.
void outfile_sink_open_direct(outfile_sink_t* sink, int fd);
// The byte sink, of the bmpfile_write_func_t shape; ctx is the outfile_sink_t. 1 when the
// bytes were taken, 0 when not.
int outfile_sink_write(const void* data, std::uint32_t size, void* ctx);
// Writes out what is buffered and releases the buffer; 0 when every byte was written.
int outfile_sink_close(outfile_sink_t* sink);

// Writes an RGB picture (3 bytes a pixel, top row first) to `path` through outfile_write:
// as PNG when the name ends in ".png" in any case, as a 24-bit BMP otherwise. Returns 0,
// OUTFILE_NO_MEMORY when an encoder ran out of memory, or -1 on any other failure (errno
// tells why, as for outfile_write; EFBIG for a BMP beyond the format's 2 GiB).
int outfile_write_picture(const char* path, const unsigned char* rgb, int width, int height);

} // namespace vimbra
