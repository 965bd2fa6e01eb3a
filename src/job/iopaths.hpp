// The files a run touches, seen as files rather than names: which two are one file, and
// whether an output name is the process's standard output.
#pragma once

#include <cstddef>
#include <cstdio>

#include "chip/capture.hpp"

namespace vimbra {

// A file a run reads or writes, named on its command line.
struct iopaths_entry_t {
    const char* option; // how the command line named it: "-o", "--compare", ...
    const char* path;
    bool written;
};

// Finds two entries that are the same file (device and inode, symlinks followed; a file
// yet to be made is its folder and its name), at least one of them written. Only regular
// files and files yet to be made count: reading and writing one terminal or pipe is no
// overwrite. Returns true with `first` < `second` set to their places.
bool iopaths_find_same(const iopaths_entry_t* entries, int count, int* first, int* second);

// True when writing `path` writes the process's standard output (descriptor `stdout_fd`):
// a name of descriptor 1 (/dev/stdout, /dev/fd/1, /proc/self/fd/1, a symlink to one), or the
// same pipe or socket as `stdout_fd` (a terminal or /dev/null so named is left as it was).
bool iopaths_is_stdout(const char* path, int stdout_fd);

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that no file the
// run opens takes the place of a standard stream.
void iopaths_fill_closed_stdio();

// The whole log file at `path`, or standard input for "-", in a malloc'ed buffer (`*text`,
// `*size`; null when empty): a regular file's size is taken at once, so the log lies in
// memory once. -1 with errno, or with EFBIG past 256 MiB. A file whose first bytes are not
// text of a log (a VCD, a capture, or nothing known: `kind` says) is left open for streaming
// instead: `trace` gets the file, `text` its first bytes.
int iopaths_read_log(const char* path, char** text, std::size_t* size, std::FILE** trace,
                     capture_sniff_t* kind);

} // namespace vimbra
