#include "bmp/outfile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bmp/bmpfile.hpp"
#include "bmp/pngfile.hpp"

namespace {

bool write_all(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool sink_flush(outfile_sink_t* sink) {
    if (sink->failed) {
        return false;
    }
    if (!write_all(sink->fd, sink->buffer, sink->fill)) {
        sink->failed = true;
    }
    sink->fill = 0;
    return !sink->failed;
}

int finish_fd(int fd, int status) {
    if (::close(fd) != 0) {
        return -1;
    }
    return status;
}

// Symlinks, devices and FIFOs are written where they lead, never replaced.
int write_direct(const char* path, outfile_producer_t produce, void* ctx) {
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return -1;
    }
    return finish_fd(fd, produce(fd, ctx));
}

// Long enough for any path the tool takes (its texts hold 8192 bytes) and the suffix.
constexpr std::size_t TEMP_PATH_CAPACITY = 8192 + 32;
using temp_path_t = std::array<char, TEMP_PATH_CAPACITY>;

// A temporary file's path: "<path>.XXXXXX", or, when that name would be too long for the
// folder, a short name in the same folder. Returns false when the path does not fit.
bool make_temp_template(const char* path, bool short_name, temp_path_t* out) {
    int length = 0;
    if (!short_name) {
        length = std::snprintf(out->data(), out->size(), "%s.XXXXXX", path);
    } else {
        const char* slash = std::strrchr(path, '/');
        const int folder = slash != nullptr ? static_cast<int>(slash - path) + 1 : 0;
        length = std::snprintf(out->data(), out->size(), "%.*s.vimbracli-XXXXXX", folder, path);
    }
    return length > 0 && static_cast<std::size_t>(length) < out->size();
}

int open_temp(const char* path, temp_path_t* temp) {
    if (!make_temp_template(path, false, temp)) {
        return -1;
    }
    int fd = ::mkstemp(temp->data());
    if (fd < 0 && errno == ENAMETOOLONG && make_temp_template(path, true, temp)) {
        fd = ::mkstemp(temp->data());
    }
    return fd;
}

// The mode a plain new file would get.
mode_t new_file_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

// An existing picture is replaced only by a complete one: write beside it, then rename.
int write_replacing(const char* path, outfile_producer_t produce, void* ctx) {
    temp_path_t temp{};
    const int fd = open_temp(path, &temp);
    if (fd < 0) {
        return -1;
    }
    (void)::fchmod(fd, new_file_mode());
    int status = finish_fd(fd, produce(fd, ctx));
    if (status == 0 && std::rename(temp.data(), path) != 0) {
        status = -1;
    }
    if (status != 0) {
        ::unlink(temp.data());
    }
    return status;
}

struct picture_t {
    const unsigned char* rgb;
    int width;
    int height;
};

using encoder_fn_t = int (*)(const unsigned char* rgb, int width, int height,
                             bmpfile_write_func_t func, void* ctx);

// Runs one encoder over a buffered sink on `fd`; 0 when every byte was written.
int produce(int fd, const picture_t* picture, encoder_fn_t encoder) {
    outfile_sink_t sink{};
    if (outfile_sink_open(&sink, fd) != 0) {
        return -1;
    }
    const int status =
        encoder(picture->rgb, picture->width, picture->height, outfile_sink_write, &sink);
    const int closed = outfile_sink_close(&sink);
    return status == 0 && closed == 0 ? 0 : -1;
}

int produce_bmp(int fd, void* ctx) {
    return produce(fd, static_cast<const picture_t*>(ctx), bmpfile_write_rgb);
}

int produce_png(int fd, void* ctx) {
    return produce(fd, static_cast<const picture_t*>(ctx), pngfile_write_rgb);
}

// True when the name ends in ".png", in any mix of cases.
bool names_png(const char* path) {
    const std::size_t length = std::strlen(path);
    if (length < 4) {
        return false;
    }
    const char* ext = path + length - 4;
    return ext[0] == '.' && (ext[1] | 0x20) == 'p' && (ext[2] | 0x20) == 'n' &&
           (ext[3] | 0x20) == 'g';
}

} // namespace

int outfile_sink_open(outfile_sink_t* sink, int fd) {
    *sink = outfile_sink_t{};
    sink->fd = fd;
    sink->buffer = static_cast<unsigned char*>(std::malloc(OUTFILE_BUFFER_BYTES));
    sink->failed = sink->buffer == nullptr;
    return sink->failed ? -1 : 0;
}

int outfile_sink_write(const void* data, std::uint32_t size, void* ctx) {
    auto* sink = static_cast<outfile_sink_t*>(ctx);
    if (sink->failed) {
        return 0;
    }
    if (size <= OUTFILE_BUFFER_BYTES - sink->fill) {
        std::memcpy(sink->buffer + sink->fill, data, size);
        sink->fill += size;
        return 1;
    }
    if (!sink_flush(sink)) {
        return 0;
    }
    if (size >= OUTFILE_BUFFER_BYTES) {
        if (!write_all(sink->fd, data, size)) {
            sink->failed = true;
            return 0;
        }
        return 1;
    }
    std::memcpy(sink->buffer, data, size);
    sink->fill = size;
    return 1;
}

int outfile_sink_close(outfile_sink_t* sink) {
    const bool flushed = sink->buffer != nullptr && sink_flush(sink);
    std::free(sink->buffer);
    sink->buffer = nullptr;
    sink->failed = true;
    return flushed ? 0 : -1;
}

int outfile_write(const char* path, outfile_producer_t produce, void* ctx) {
    if (path == nullptr || path[0] == '\0') {
        return -1;
    }
    struct stat status {};
    if (::lstat(path, &status) == 0 && !S_ISREG(status.st_mode)) {
        return write_direct(path, produce, ctx);
    }
    return write_replacing(path, produce, ctx);
}

int outfile_write_picture(const char* path, const unsigned char* rgb, int width, int height) {
    if (path == nullptr || rgb == nullptr || width < 0 || height < 0) {
        return -1;
    }
    picture_t picture{rgb, width, height};
    return outfile_write(path, names_png(path) ? produce_png : produce_bmp, &picture);
}
