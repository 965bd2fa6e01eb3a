#include "bmp/outfile.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bmp/bmpfile.hpp"
#include "bmp/pngfile.hpp"

namespace vimbra {

namespace {

using path_t = outfile_path_t;
constexpr int MAX_SYMLINK_HOPS = 40; // the kernel's own limit

// The program's watch over temporary files (outfile_watch_temps); none by default.
outfile_watch_t temp_watch{nullptr, nullptr, nullptr};

void watch_hold() {
    if (temp_watch.hold != nullptr) {
        temp_watch.hold(temp_watch.ctx);
    }
}

void watch_release(const char* made, const char* gone) {
    if (temp_watch.release != nullptr) {
        const int saved = errno;
        temp_watch.release(made, gone, temp_watch.ctx);
        errno = saved;
    }
}

int fail(int error) {
    errno = error;
    return -1;
}

bool copy_path(path_t* out, const char* path) {
    const std::size_t length = std::strlen(path);
    if (length >= out->size()) {
        return false;
    }
    std::memcpy(out->data(), path, length + 1);
    return true;
}

bool write_all(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO;
            }
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
        sink->error = errno;
    }
    sink->fill = 0;
    return !sink->failed;
}

// Runs the producer on fd: 0, -1 or OUTFILE_NO_MEMORY, with errno saying why it failed.
int run_producer(int fd, outfile_producer_t produce, void* ctx) {
    errno = 0;
    const int status = produce(fd, ctx);
    if (status == 0) {
        return 0;
    }
    if (status == OUTFILE_NO_MEMORY) {
        errno = ENOMEM;
        return OUTFILE_NO_MEMORY;
    }
    return fail(errno != 0 ? errno : EIO);
}

// Closes fd; a failed close (a write the system put off) fails a successful status.
int close_keeping(int fd, int status) {
    const int saved = errno;
    if (::close(fd) != 0 && status == 0) {
        return -1;
    }
    errno = saved;
    return status;
}

// True when fd is still the file that was looked at, not one swapped in meanwhile.
bool same_file(int fd, const struct stat& seen) {
    struct stat now {};
    return ::fstat(fd, &now) == 0 && now.st_dev == seen.st_dev && now.st_ino == seen.st_ino;
}

// The number a name of all decimal digits (at most 9) spells; -1 for any other name.
int parse_fd(const char* digits) {
    int value = 0;
    int count = 0;
    for (; *digits != '\0'; ++digits) {
        if (*digits < '0' || *digits > '9' || ++count > 9) {
            return -1;
        }
        value = value * 10 + (*digits - '0');
    }
    return count > 0 ? value : -1;
}

// True when `real` is this process's descriptor folder: /proc/<pid>/fd or
// /proc/<pid>/task/<tid>/fd.
bool is_own_fd_folder(const char* real) {
    std::array<char, 64> own{};
    std::snprintf(own.data(), own.size(), "/proc/%ld/", static_cast<long>(::getpid()));
    const std::size_t own_length = std::strlen(own.data());
    if (std::strncmp(real, own.data(), own_length) != 0) {
        return false;
    }
    const char* rest = real + own_length;
    if (std::strcmp(rest, "fd") == 0) {
        return true;
    }
    if (std::strncmp(rest, "task/", 5) != 0) {
        return false;
    }
    rest += 5;
    const char* digits = rest;
    while (*rest >= '0' && *rest <= '9') {
        ++rest;
    }
    return rest > digits && std::strcmp(rest, "/fd") == 0;
}

// The folder part of a path: "." when it has none, "/" for a name in the root.
void folder_of(const char* path, path_t* folder) {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        (*folder)[0] = '.';
        (*folder)[1] = '\0';
        return;
    }
    const std::size_t length = slash == path ? 1 : static_cast<std::size_t>(slash - path);
    std::memcpy(folder->data(), path, length); // shorter than path, which fits
    (*folder)[length] = '\0';
}

// A descriptor name whose folder is spelled another way ("/dev/./fd/1", "/proc/<pid>/fd/1"):
// its number when the folder's real path is this process's descriptor folder, else -1.
int descriptor_in_proc(const char* path) {
    const char* slash = std::strrchr(path, '/');
    const int fd = parse_fd(slash != nullptr ? slash + 1 : path);
    if (fd < 0) {
        return -1;
    }
    path_t folder{};
    folder_of(path, &folder);
    char* real = ::realpath(folder.data(), nullptr);
    if (real == nullptr) {
        return -1;
    }
    const bool ours = is_own_fd_folder(real);
    std::free(real);
    return ours ? fd : -1;
}

struct fd_name_t {
    const char* name;
    int fd; // -1: the name is a prefix, the number follows
};

constexpr std::array<fd_name_t, 6> FD_NAMES{{
    {"/dev/stdin", 0},
    {"/dev/stdout", 1},
    {"/dev/stderr", 2},
    {"/dev/fd/", -1},
    {"/proc/self/fd/", -1},
    {"/proc/thread-self/fd/", -1},
}};

// The descriptor a name stands for, or -1. These names are caught before any symlink is
// followed: /proc/self/fd/1 leads to the file behind standard output, which must be written
// at its offset and in its append mode, never replaced.
int descriptor_named(const char* path) {
    for (const fd_name_t& entry : FD_NAMES) {
        const std::size_t length = std::strlen(entry.name);
        if (std::strncmp(path, entry.name, length) != 0) {
            continue;
        }
        if (entry.fd < 0) {
            return parse_fd(path + length);
        }
        if (path[length] == '\0') {
            return entry.fd;
        }
    }
    return descriptor_in_proc(path);
}

enum target_kind_t { TARGET_NEW, TARGET_REGULAR, TARGET_OTHER, TARGET_DESCRIPTOR };

struct target_t {
    path_t path; // symlinks followed
    target_kind_t kind;
    struct stat seen; // TARGET_REGULAR and TARGET_OTHER
    int fd;           // TARGET_DESCRIPTOR
};

// Replaces `path` (a symlink) with the link's target, read relative to the link's folder.
bool follow_link(path_t* path, const char* link) {
    if (link[0] == '/') {
        return copy_path(path, link);
    }
    const char* slash = std::strrchr(path->data(), '/');
    const std::size_t folder =
        slash != nullptr ? static_cast<std::size_t>(slash - path->data()) + 1 : 0;
    const std::size_t length = std::strlen(link);
    if (folder + length >= path->size()) {
        return false;
    }
    std::memcpy(path->data() + folder, link, length + 1);
    return true;
}

// The kernel's protected_symlinks rule: in a sticky, world-writable folder (/tmp), a link is
// followed only when it belongs to this user or to the folder's owner, so that another user
// cannot aim a planted link at a file of ours.
bool may_follow(const char* link_path, const struct stat& link) {
    path_t folder{};
    folder_of(link_path, &folder);
    struct stat st {};
    if (::stat(folder.data(), &st) != 0) {
        return false;
    }
    const bool shared = (st.st_mode & S_ISVTX) != 0 && (st.st_mode & S_IWOTH) != 0;
    return !shared || link.st_uid == ::geteuid() || link.st_uid == st.st_uid;
}

// Follows the name's symlinks, one by one, to what is to be written.
int resolve_target(const char* path, target_t* t) {
    if (!copy_path(&t->path, path)) {
        return fail(ENAMETOOLONG);
    }
    for (int hop = 0; hop <= MAX_SYMLINK_HOPS; ++hop) {
        t->fd = descriptor_named(t->path.data());
        if (t->fd >= 0) {
            t->kind = TARGET_DESCRIPTOR;
            return 0;
        }
        if (::lstat(t->path.data(), &t->seen) != 0) {
            if (errno != ENOENT) {
                return -1;
            }
            t->kind = TARGET_NEW;
            return 0;
        }
        if (S_ISDIR(t->seen.st_mode)) {
            return fail(EISDIR);
        }
        if (!S_ISLNK(t->seen.st_mode)) {
            t->kind = S_ISREG(t->seen.st_mode) ? TARGET_REGULAR : TARGET_OTHER;
            return 0;
        }
        if (!may_follow(t->path.data(), t->seen)) {
            return fail(EACCES);
        }
        path_t link{};
        const ssize_t length = ::readlink(t->path.data(), link.data(), link.size() - 1);
        if (length < 0) {
            return -1;
        }
        if (static_cast<std::size_t>(length) >= link.size() - 1) {
            return fail(ENAMETOOLONG);
        }
        if (!follow_link(&t->path, link.data())) {
            return fail(ENAMETOOLONG);
        }
    }
    return fail(ELOOP);
}

// ".<name>.vimbracli-XXXXXX" beside `path`, or ".vimbracli-XXXXXX" when that name would be
// too long for the folder. Returns false when the path does not fit.
bool make_temp_template(const char* path, bool short_name, path_t* out) {
    const char* slash = std::strrchr(path, '/');
    const int folder = slash != nullptr ? static_cast<int>(slash - path) + 1 : 0;
    const int length =
        short_name ? std::snprintf(out->data(), out->size(), "%.*s.vimbracli-XXXXXX", folder, path)
                   : std::snprintf(out->data(), out->size(), "%.*s.%s.vimbracli-XXXXXX", folder,
                                   path, path + folder);
    return length > 0 && static_cast<std::size_t>(length) < out->size();
}

// Creates the temporary file, made known to the watch (when there is one) as it is made.
int open_temp(const char* path, path_t* temp) {
    if (!make_temp_template(path, false, temp)) {
        return fail(ENAMETOOLONG);
    }
    watch_hold();
    int fd = ::mkostemp(temp->data(), O_CLOEXEC);
    if (fd < 0 && errno == ENAMETOOLONG && make_temp_template(path, true, temp)) {
        fd = ::mkostemp(temp->data(), O_CLOEXEC);
    }
    watch_release(fd >= 0 ? temp->data() : nullptr, nullptr);
    return fd;
}

// Removes the temporary file, which the watch then forgets. errno is kept.
void remove_temp(const path_t& temp) {
    const int saved = errno;
    watch_hold();
    ::unlink(temp.data());
    watch_release(nullptr, temp.data());
    errno = saved;
}

// Renames the temporary file over `target`: 0, after which the watch forgets it, or -1 with
// errno and the file still there.
int rename_temp(const path_t& temp, const char* target) {
    watch_hold();
    const int status = std::rename(temp.data(), target);
    watch_release(nullptr, status == 0 ? temp.data() : nullptr);
    return status;
}

// The mode a plain new file would get.
mode_t new_file_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

// The replacement takes the old file's owner and group where the process may set them, and
// its permission bits; a set-id bit only with the owner or group it was set for.
void keep_owner_and_mode(int fd, const struct stat& old) {
    struct stat now {};
    if (::fstat(fd, &now) != 0) {
        return;
    }
    if (now.st_uid != old.st_uid || now.st_gid != old.st_gid) {
        if (::fchown(fd, old.st_uid, old.st_gid) == 0) {
            now.st_uid = old.st_uid;
            now.st_gid = old.st_gid;
        } else if (::fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0) {
            now.st_gid = old.st_gid;
        } // else the new file keeps this process's owner and group
    }
    mode_t mode = old.st_mode & 07777;
    if (now.st_uid != old.st_uid) {
        mode &= static_cast<mode_t>(~S_ISUID);
    }
    if (now.st_gid != old.st_gid) {
        mode &= static_cast<mode_t>(~S_ISGID);
    }
    if ((now.st_mode & 07777) != mode) {
        (void)::fchmod(fd, mode);
    }
}

// True when a file of `size` bytes is within the process's file size limit.
bool within_size_limit(std::int64_t size) {
    struct rlimit limit {};
    return ::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
           static_cast<rlim_t>(size) <= limit.rlim_cur;
}

// Takes the room for `size` bytes, so that a full disk or a quota shows before the first
// byte. 0, or the error; a file system that cannot reserve room is no error.
int reserve_room(int fd, std::int64_t size) {
    if (size <= 0) {
        return 0;
    }
    if (!within_size_limit(size)) {
        return EFBIG;
    }
    const int error = ::posix_fallocate(fd, 0, static_cast<off_t>(size));
    return error == EOPNOTSUPP || error == EINVAL || error == ENOSYS ? 0 : error;
}

// Memory the bytes gather in before they go over an existing file's.
int open_memory() {
#ifdef __EMSCRIPTEN__
    return fail(ENOSYS); // the page writes no files
#else
    return ::memfd_create("vimbracli", MFD_CLOEXEC);
#endif
}

// Copies `size` bytes from the start of `from` over the start of `to`.
bool copy_bytes(int from, int to, off_t size) {
    std::array<unsigned char, 64 * 1024> chunk{};
    for (off_t at = 0; at < size;) {
        const ssize_t n = ::pread(from, chunk.data(), chunk.size(), at);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            errno = n == 0 ? EIO : errno;
            return false;
        }
        if (::lseek(to, at, SEEK_SET) < 0 || !write_all(to, chunk.data(), static_cast<size_t>(n))) {
            return false;
        }
        at += n;
    }
    return true;
}

// The bytes gathered in `from` go over the old ones of the target: the file is opened as it
// was seen, its room taken and the size limit checked before the first byte, so that a full
// disk or a size limit leaves the old file whole; the rest is cut off.
int write_over(const outfile_t& out, int from) {
    const off_t size = ::lseek(from, 0, SEEK_END);
    if (size < 0) {
        return -1;
    }
    const int fd = ::open(out.target.data(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (!same_file(fd, out.seen)) {
        return close_keeping(fd, fail(EAGAIN));
    }
    if (const int error = reserve_room(fd, size); error != 0) {
        return close_keeping(fd, fail(error));
    }
    const int status = copy_bytes(from, fd, size) && ::ftruncate(fd, size) == 0 ? 0 : -1;
    return close_keeping(fd, status);
}

// An output that gathers in memory, for a writable file whose folder takes no temporary file.
int open_in_place(outfile_t* out) {
    if (out->size >= 0 && !within_size_limit(out->size)) {
        return fail(EFBIG);
    }
    out->fd = open_memory();
    if (out->fd < 0) {
        return errno == ENOMEM ? (errno = ENOMEM, OUTFILE_NO_MEMORY) : -1;
    }
    out->way = OUTFILE_IN_PLACE;
    return 0;
}

// A temporary file beside the target, with the old file's mode and room for the bytes.
// `fallback` is set when the folder refuses a new file for lack of permission.
int open_replacing(outfile_t* out, const struct stat* old, bool* fallback) {
    *fallback = false;
    out->fd = open_temp(out->target.data(), &out->temp);
    if (out->fd < 0) {
        *fallback = old != nullptr && (errno == EACCES || errno == EPERM || errno == EROFS);
        return -1;
    }
    out->existed = old != nullptr;
    out->way = OUTFILE_REPLACE;
    if (old != nullptr) {
        keep_owner_and_mode(out->fd, *old);
    } else if (const mode_t mode = new_file_mode(); mode != 0600) {
        (void)::fchmod(out->fd, mode);
    }
    if (const int error = reserve_room(out->fd, out->size); error != 0) {
        outfile_discard(out);
        return fail(error);
    }
    return 0;
}

// Closes the finished temporary file, cut to what was written (a reservation beyond it would
// leave zeros at the end). 0, or -1 with errno and the file removed.
int finish_temp(outfile_t* out) {
    const off_t end = ::lseek(out->fd, 0, SEEK_CUR);
    const bool cut =
        end >= 0 && (out->size < 0 || end == out->size || ::ftruncate(out->fd, end) == 0);
    const int status = close_keeping(out->fd, cut ? 0 : -1);
    out->fd = -1;
    if (status != 0) {
        remove_temp(out->temp);
    }
    return status;
}

} // namespace

int outfile_open(outfile_t* out, const char* path, std::int64_t size) {
    out->fd = -1;
    out->way = OUTFILE_REPLACE;
    out->temp[0] = '\0';
    out->size = size;
    out->existed = false;
    if (path == nullptr || path[0] == '\0') {
        return fail(ENOENT);
    }
    if (path[std::strlen(path) - 1] == '/') {
        return fail(EISDIR);
    }
    target_t target{};
    if (resolve_target(path, &target) != 0) {
        return -1;
    }
    out->target = target.path;
    out->seen = target.seen;
    bool fallback = false;
    switch (target.kind) {
    case TARGET_DESCRIPTOR:
        out->way = OUTFILE_DIRECT;
        out->fd = ::fcntl(target.fd, F_DUPFD_CLOEXEC, 0); // shares its offset and append mode
        return out->fd >= 0 ? 0 : -1;
    case TARGET_OTHER:
        out->way = OUTFILE_DIRECT;
        out->fd = ::open(out->target.data(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
        if (out->fd >= 0 && !same_file(out->fd, target.seen)) {
            out->fd = close_keeping(out->fd, fail(EAGAIN));
        }
        return out->fd >= 0 ? 0 : -1;
    case TARGET_NEW:
        return open_replacing(out, nullptr, &fallback);
    case TARGET_REGULAR:
        break;
    }
    // A file the process may not write is refused, as opening it for writing would be,
    // rather than replaced behind its protection.
    if (::faccessat(AT_FDCWD, out->target.data(), W_OK, AT_EACCESS) != 0 && errno == EACCES) {
        return -1;
    }
    if (open_replacing(out, &target.seen, &fallback) == 0) {
        return 0;
    }
    return fallback ? open_in_place(out) : -1;
}

int outfile_commit(outfile_t* out) {
    const int fd = out->fd;
    switch (out->way) {
    case OUTFILE_DIRECT:
        out->fd = -1;
        return fd >= 0 ? close_keeping(fd, 0) : fail(EBADF);
    case OUTFILE_IN_PLACE: {
        const int status = write_over(*out, fd);
        out->fd = -1;
        return close_keeping(fd, status);
    }
    case OUTFILE_REPLACE:
        break;
    }
    if (finish_temp(out) != 0) {
        return -1;
    }
    if (rename_temp(out->temp, out->target.data()) == 0) {
        out->temp[0] = '\0';
        return 0;
    }
    int status = -1;
    if (out->existed && (errno == EACCES || errno == EPERM || errno == EBUSY)) {
        // The folder keeps the old file where it is: its bytes are replaced instead.
        const int from = ::open(out->temp.data(), O_RDONLY | O_CLOEXEC);
        status = from >= 0 ? close_keeping(from, write_over(*out, from)) : -1;
    }
    remove_temp(out->temp);
    out->temp[0] = '\0';
    return status;
}

void outfile_discard(outfile_t* out) {
    const int saved = errno;
    if (out->fd >= 0) {
        ::close(out->fd);
        out->fd = -1;
    }
    if (out->way == OUTFILE_REPLACE && out->temp[0] != '\0') {
        remove_temp(out->temp);
        out->temp[0] = '\0';
    }
    errno = saved;
}

void outfile_watch_temps(const outfile_watch_t* watch) {
    temp_watch = watch != nullptr ? *watch : outfile_watch_t{nullptr, nullptr, nullptr};
}

int outfile_write_sized(const char* path, std::int64_t size, outfile_producer_t produce,
                        void* ctx) {
    outfile_t out{};
    if (const int opened = outfile_open(&out, path, size); opened != 0) {
        return opened;
    }
    const int status = run_producer(out.fd, produce, ctx);
    if (status != 0) {
        outfile_discard(&out);
        return status;
    }
    return outfile_commit(&out);
}

int outfile_write(const char* path, outfile_producer_t produce, void* ctx) {
    return outfile_write_sized(path, -1, produce, ctx);
}

namespace {

struct picture_t {
    const unsigned char* rgb;
    int width;
    int height;
};

using encoder_fn_t = int (*)(const unsigned char* rgb, int width, int height,
                             bmpfile_write_func_t func, void* ctx);

// Runs one encoder over a sink on `fd` (buffered, or direct for the BMP writer's large
// chunks); 0 when every byte was written, else -1 with errno from the failed write, or
// OUTFILE_NO_MEMORY.
int produce(int fd, const picture_t* picture, encoder_fn_t encoder) {
    outfile_sink_t sink{};
    if (encoder == bmpfile_write_rgb) {
        outfile_sink_open_direct(&sink, fd);
    } else if (outfile_sink_open(&sink, fd) != 0) {
        return OUTFILE_NO_MEMORY;
    }
    const int status =
        encoder(picture->rgb, picture->width, picture->height, outfile_sink_write, &sink);
    const int closed = outfile_sink_close(&sink);
    if (status == BMP_NO_MEMORY) {
        return OUTFILE_NO_MEMORY;
    }
    if (status == 0 && closed == 0) {
        return 0;
    }
    errno = sink.error;
    return -1;
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
    sink->error = sink->failed ? ENOMEM : 0;
    return sink->failed ? OUTFILE_NO_MEMORY : 0;
}

void outfile_sink_open_direct(outfile_sink_t* sink, int fd) {
    *sink = outfile_sink_t{};
    sink->fd = fd;
    sink->direct = true;
}

int outfile_sink_write(const void* data, std::uint32_t size, void* ctx) {
    auto* sink = static_cast<outfile_sink_t*>(ctx);
    if (sink->failed) {
        return 0;
    }
    if (sink->direct) {
        if (!write_all(sink->fd, data, size)) {
            sink->failed = true;
            sink->error = errno;
            return 0;
        }
        return 1;
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
            sink->error = errno;
            return 0;
        }
        return 1;
    }
    std::memcpy(sink->buffer, data, size);
    sink->fill = size;
    return 1;
}

int outfile_sink_close(outfile_sink_t* sink) {
    const bool flushed = sink->direct ? !sink->failed : sink->buffer != nullptr && sink_flush(sink);
    std::free(sink->buffer);
    sink->buffer = nullptr;
    sink->failed = true;
    return flushed ? 0 : -1;
}

int outfile_descriptor_of(const char* path) {
    target_t target{};
    if (path == nullptr || path[0] == '\0' || resolve_target(path, &target) != 0) {
        return -1;
    }
    return target.kind == TARGET_DESCRIPTOR ? target.fd : -1;
}

int outfile_write_picture(const char* path, const unsigned char* rgb, int width, int height) {
    if (path == nullptr || rgb == nullptr || width < 0 || height < 0) {
        return fail(EINVAL);
    }
    picture_t picture{rgb, width, height};
    if (names_png(path)) {
        return outfile_write(path, produce_png, &picture);
    }
    const std::int64_t size = bmpfile_size(width, height);
    return size < 0 ? fail(EFBIG) : outfile_write_sized(path, size, produce_bmp, &picture);
}

} // namespace vimbra
