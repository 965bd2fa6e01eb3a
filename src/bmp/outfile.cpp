#include "bmp/outfile.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bmp/bmpfile.hpp"
#include "bmp/pngfile.hpp"

namespace vimbra {

namespace {

// Long enough for any path the tool takes (its texts hold 8192 bytes), a symlink's target
// joined to its folder, and what a temporary name adds.
constexpr std::size_t PATH_CAPACITY = 8192 + 4096 + 64;
using path_t = std::array<char, PATH_CAPACITY>;
constexpr int MAX_SYMLINK_HOPS = 40; // the kernel's own limit
// Every signal whose default action ends the process, but for those a fault raises (a
// sanitizer or a debugger owns them) and the real-time ones, which are added where the
// set is made.
constexpr std::array<int, 13> CLEANUP_SIGNALS{SIGHUP,  SIGINT,    SIGQUIT,   SIGTERM, SIGUSR1,
                                              SIGUSR2, SIGALRM,   SIGVTALRM, SIGPROF, SIGXCPU,
                                              SIGIO,   SIGSTKFLT, SIGPWR};

// The temporary file being written. A signal handler sees nothing but statics, so the path
// waits here; it is set and cleared with the cleanup signals blocked.
path_t pending_temp{};
volatile std::sig_atomic_t pending_valid = 0;

void on_cleanup_signal(int sig) {
    if (pending_valid != 0) {
        ::unlink(pending_temp.data());
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig); // delivered, with the default action, as the handler returns
}

sigset_t cleanup_signal_set() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : CLEANUP_SIGNALS) {
        sigaddset(&set, sig);
    }
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) {
        sigaddset(&set, sig);
    }
    return set;
}

sigset_t block_cleanup_signals() {
    const sigset_t set = cleanup_signal_set();
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &set, &old);
    return old;
}

void restore_signals(const sigset_t& old) {
    const int saved = errno;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = saved;
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

// A descriptor name whose folder is spelled another way ("/dev/./fd/1", "/proc/<pid>/fd/1"):
// its number when the folder's real path is this process's descriptor folder, else -1.
int descriptor_in_proc(const char* path) {
    const char* slash = std::strrchr(path, '/');
    const int fd = parse_fd(slash != nullptr ? slash + 1 : path);
    if (fd < 0) {
        return -1;
    }
    path_t folder{};
    if (slash == nullptr) {
        folder[0] = '.';
    } else {
        const std::size_t length = slash == path ? 1 : static_cast<std::size_t>(slash - path);
        std::memcpy(folder.data(), path, length); // shorter than path, which fits
    }
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

// Creates the temporary file and registers it for the signal handler, both or neither.
int open_temp(const char* path, path_t* temp) {
    if (!make_temp_template(path, false, temp)) {
        return fail(ENAMETOOLONG);
    }
    const sigset_t old = block_cleanup_signals();
    int fd = ::mkostemp(temp->data(), O_CLOEXEC);
    if (fd < 0 && errno == ENAMETOOLONG && make_temp_template(path, true, temp)) {
        fd = ::mkostemp(temp->data(), O_CLOEXEC);
    }
    if (fd >= 0) {
        pending_temp = *temp;
        pending_valid = 1;
    }
    restore_signals(old);
    return fd;
}

// Renames the temporary file over `target`, or removes it when target is null or the rename
// fails; either way it is no longer registered. 0 when renamed; errno is kept otherwise.
int settle_temp(const path_t& temp, const char* target) {
    int saved = errno;
    const sigset_t old = block_cleanup_signals();
    int status = -1;
    if (target != nullptr) {
        status = std::rename(temp.data(), target);
        saved = status == 0 ? saved : errno;
    }
    if (status != 0) {
        ::unlink(temp.data());
    }
    pending_valid = 0;
    restore_signals(old);
    errno = saved;
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
    if (::fchown(fd, old.st_uid, old.st_gid) != 0 &&
        ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
        // Neither may be set here: the new file keeps this process's owner and group.
    }
    mode_t mode = old.st_mode & 07777;
    struct stat now {};
    if (::fstat(fd, &now) != 0 || now.st_uid != old.st_uid) {
        mode &= static_cast<mode_t>(~S_ISUID);
    }
    if (now.st_gid != old.st_gid) {
        mode &= static_cast<mode_t>(~S_ISGID);
    }
    (void)::fchmod(fd, mode);
}

// Why a replacement may fall back to writing in place: the folder refuses a new file for
// lack of permission, or the finished file may not take the old one's place (a sticky
// folder, a mounted file). A full disk, a quota or a file size limit refuses the picture.
enum replace_failure_t { REPLACE_NO_TEMP, REPLACE_NO_RENAME, REPLACE_OTHER };

// An existing picture is replaced only by a complete one: write beside it, then rename.
int write_replacing(const char* path, const struct stat* old, outfile_producer_t produce, void* ctx,
                    replace_failure_t* failure) {
    *failure = REPLACE_OTHER;
    path_t temp{};
    const int fd = open_temp(path, &temp);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM || errno == EROFS) {
            *failure = REPLACE_NO_TEMP;
        }
        return -1;
    }
    if (old != nullptr) {
        keep_owner_and_mode(fd, *old);
    } else {
        (void)::fchmod(fd, new_file_mode());
    }
    const int status = close_keeping(fd, run_producer(fd, produce, ctx));
    if (status != 0) {
        settle_temp(temp, nullptr);
        return status;
    }
    if (settle_temp(temp, path) != 0) {
        *failure =
            errno == EACCES || errno == EPERM || errno == EBUSY ? REPLACE_NO_RENAME : REPLACE_OTHER;
        return -1;
    }
    return 0;
}

// The producer's bytes in memory, so that their length is known before a byte of the old
// file is touched. -1 (errno set) or OUTFILE_NO_MEMORY when they cannot be had.
int produce_in_memory(outfile_producer_t produce, void* ctx, int* memory_fd, off_t* size) {
#ifdef __EMSCRIPTEN__
    const int fd = fail(ENOSYS); // the page writes no files
#else
    const int fd = ::memfd_create("vimbracli", MFD_CLOEXEC);
#endif
    if (fd < 0) {
        return errno == ENOMEM ? (errno = ENOMEM, OUTFILE_NO_MEMORY) : -1;
    }
    const int status = run_producer(fd, produce, ctx);
    *size = ::lseek(fd, 0, SEEK_END);
    if (status != 0 || *size < 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return status != 0 ? status : -1;
    }
    *memory_fd = fd;
    return 0;
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

// True when a file of `size` bytes is within the process's file size limit.
bool within_size_limit(off_t size) {
    struct rlimit limit {};
    return ::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
           static_cast<rlim_t>(size) <= limit.rlim_cur;
}

// A writable file whose folder takes no temporary file: the new bytes go over the old ones
// and the rest is cut off. The whole picture is made first and its room taken before the
// first byte is written, so a full disk or a size limit leaves the old picture whole.
int write_in_place(const char* path, const struct stat& seen, outfile_producer_t produce,
                   void* ctx) {
    const int fd = ::open(path, O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (!same_file(fd, seen)) {
        return close_keeping(fd, fail(EAGAIN));
    }
    int bytes = -1;
    off_t size = 0;
    int status = produce_in_memory(produce, ctx, &bytes, &size);
    if (status == 0 && !within_size_limit(size)) {
        status = fail(EFBIG);
    }
    if (status == 0 && size > 0) {
        const int error = ::posix_fallocate(fd, 0, size);
        if (error != 0) {
            status = fail(error);
        }
    }
    if (status == 0 && (!copy_bytes(bytes, fd, size) || ::ftruncate(fd, size) != 0)) {
        status = -1;
    }
    if (bytes >= 0) {
        const int saved = errno;
        ::close(bytes);
        errno = saved;
    }
    return close_keeping(fd, status);
}

// Devices, FIFOs and the like are written where they are, never truncated.
int write_direct(const char* path, const struct stat& seen, outfile_producer_t produce, void* ctx) {
    const int fd = ::open(path, O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (!same_file(fd, seen)) {
        return close_keeping(fd, fail(EAGAIN));
    }
    return close_keeping(fd, run_producer(fd, produce, ctx));
}

// An open descriptor is written as it is: a copy shares its offset and append mode.
int write_descriptor(int fd, outfile_producer_t produce, void* ctx) {
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        return -1;
    }
    return close_keeping(copy, run_producer(copy, produce, ctx));
}

struct picture_t {
    const unsigned char* rgb;
    int width;
    int height;
};

using encoder_fn_t = int (*)(const unsigned char* rgb, int width, int height,
                             bmpfile_write_func_t func, void* ctx);

// Runs one encoder over a buffered sink on `fd`; 0 when every byte was written, else -1
// with errno from the failed write, or OUTFILE_NO_MEMORY.
int produce(int fd, const picture_t* picture, encoder_fn_t encoder) {
    outfile_sink_t sink{};
    if (outfile_sink_open(&sink, fd) != 0) {
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
    const bool flushed = sink->buffer != nullptr && sink_flush(sink);
    std::free(sink->buffer);
    sink->buffer = nullptr;
    sink->failed = true;
    return flushed ? 0 : -1;
}

int outfile_write(const char* path, outfile_producer_t produce, void* ctx) {
    if (path == nullptr || path[0] == '\0') {
        return fail(ENOENT);
    }
    target_t target{};
    if (resolve_target(path, &target) != 0) {
        return -1;
    }
    const char* real = target.path.data();
    replace_failure_t failure = REPLACE_OTHER;
    switch (target.kind) {
    case TARGET_DESCRIPTOR:
        return write_descriptor(target.fd, produce, ctx);
    case TARGET_OTHER:
        return write_direct(real, target.seen, produce, ctx);
    case TARGET_NEW:
        return write_replacing(real, nullptr, produce, ctx, &failure);
    case TARGET_REGULAR:
        break;
    }
    // A file the process may not write is refused, as opening it for writing would be,
    // rather than replaced behind its protection.
    if (::faccessat(AT_FDCWD, real, W_OK, AT_EACCESS) != 0 && errno == EACCES) {
        return -1;
    }
    const int status = write_replacing(real, &target.seen, produce, ctx, &failure);
    if (status != 0 && failure != REPLACE_OTHER) {
        return write_in_place(real, target.seen, produce, ctx);
    }
    return status;
}

void outfile_install_signal_handlers() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN); // past the file size limit, a write fails with EFBIG
    const sigset_t all = cleanup_signal_set();
    for (int sig = 1; sig <= SIGRTMAX; ++sig) {
        struct sigaction old {};
        if (sigismember(&all, sig) != 1 || ::sigaction(sig, nullptr, &old) != 0 ||
            old.sa_handler != SIG_DFL) {
            continue; // nohup and background jobs keep ignoring what they ignore
        }
        struct sigaction action {};
        action.sa_handler = on_cleanup_signal;
        action.sa_mask = all;
        ::sigaction(sig, &action, nullptr);
    }
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
    return outfile_write(path, names_png(path) ? produce_png : produce_bmp, &picture);
}

} // namespace vimbra
