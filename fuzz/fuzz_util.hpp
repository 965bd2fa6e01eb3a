// Small helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "base/console.hpp"
#include "job/job.hpp"
#include "lcd/lcdimg.hpp"

using namespace vimbra;

namespace fuzz {

// A file the code under test opens by path, rewritten per input. No folder holds it: it is
// an anonymous memory file (or, where those are missing, a /tmp file unlinked at once),
// named through /proc/self/fd. So nothing is left behind however the process ends, a crash
// or a timeout included, and parallel fuzzers never share one.
struct scratch_file {
    explicit scratch_file(const char* tag) : fd(memfd_create(tag, MFD_CLOEXEC)) {
        if (fd < 0) {
            char name[] = "/tmp/vimbra-fuzz-XXXXXX";
            fd = mkstemp(name);
            if (fd >= 0) unlink(name);
        }
        path = fd >= 0 ? "/proc/self/fd/" + std::to_string(fd) : std::string("/nonexistent");
    }
    scratch_file(const scratch_file&) = delete;
    scratch_file& operator=(const scratch_file&) = delete;
    ~scratch_file() {
        if (fd >= 0) close(fd);
    }

    // Replaces the content with `size` bytes; false when they could not all be stored.
    bool write(const std::uint8_t* data, std::size_t size) const {
        if (fd < 0 || ftruncate(fd, 0) != 0) return false;
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    bool write(const std::string& text) const {
        return write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    }

    int fd;
    std::string path;
};

// Splits bytes into lines the way fgets with an 8192-byte buffer does and hands each
// piece to `sink` (a NUL-terminated copy).
template <class Sink> void for_each_line(const std::uint8_t* data, std::size_t size, Sink&& sink) {
    constexpr std::size_t capacity = 8192;
    static char line[capacity];
    std::size_t start = 0;
    while (start < size) {
        std::size_t end = start;
        while (end < size && end - start < capacity - 1 && data[end] != '\n')
            ++end;
        if (end < size && data[end] == '\n' && end - start < capacity - 1) ++end;
        std::memcpy(line, data + start, end - start);
        line[end - start] = '\0';
        sink(line);
        start = end;
    }
}

// A console that keeps nothing and gives no input: what the library says stays out of the
// fuzzer's output.
inline console_t* quiet_console() {
    static console_t console{[](const char*, std::size_t, void*) { return 0; }, nullptr,
                             [](void*) { return -1; }, nullptr};
    return &console;
}

// Renders the image's picture and encodes it to memory, BMP or PNG: the job's statuses are
// the only outcomes.
inline void render_and_encode(lcdimg_t* img, job_format_t format) {
    img->console = *quiet_console();
    lcdimg_render(img);
    std::string bytes;
    const job_status_t encoded =
        job_encode(format, img->pixels, img->canvas_width, img->canvas_height, &bytes);
    if (encoded != JOB_DONE && encoded != JOB_NO_MEMORY) __builtin_trap();
}

} // namespace fuzz
