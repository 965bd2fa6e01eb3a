#include "job/iopaths.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bmp/outfile.hpp"

namespace vimbra {

namespace {

constexpr int MAX_SYMLINK_HOPS = 40;

struct identity_t {
    bool known;
    dev_t dev;
    ino_t ino;
    std::string name; // for a file yet to be made: its name in the folder `dev`/`ino`
};

// The folder part of a path ("." when it has none) and its last name.
void split(const std::string& path, std::string* folder, std::string* name) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        folder->assign(1, '.');
        name->assign(path.data(), path.size());
        return;
    }
    folder->assign(path.data(), slash == 0 ? 1 : slash);
    name->assign(path.data() + slash + 1, path.size() - slash - 1);
}

// What a path is as a file; unknown for non-regular files and names that cannot be looked
// at (a later open says why).
identity_t identity_of(const char* given) {
    identity_t id{false, 0, 0, ""};
    std::string path = given;
    for (int hop = 0; hop <= MAX_SYMLINK_HOPS; ++hop) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            if (S_ISREG(st.st_mode)) {
                id = identity_t{true, st.st_dev, st.st_ino, ""};
            }
            return id;
        }
        if (errno != ENOENT || ::lstat(path.c_str(), &st) != 0) {
            break; // no such name: a file yet to be made
        }
        if (!S_ISLNK(st.st_mode)) {
            return id;
        }
        std::array<char, 4096> link{};
        const ssize_t n = ::readlink(path.c_str(), link.data(), link.size() - 1);
        if (n <= 0) {
            return id;
        }
        const std::string target(link.data(), static_cast<std::size_t>(n));
        std::string folder;
        std::string name;
        split(path, &folder, &name);
        if (target[0] != '/') {
            folder.push_back('/');
            folder.append(target);
            path.swap(folder);
        } else {
            path = target;
        }
    }
    std::string folder;
    std::string name;
    split(path, &folder, &name);
    struct stat st {};
    if (!name.empty() && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        id = identity_t{true, st.st_dev, st.st_ino, name};
    }
    return id;
}

} // namespace

bool iopaths_find_same(const iopaths_entry_t* entries, int count, int* first, int* second) {
    std::array<identity_t, 16> ids{};
    const int n = count < static_cast<int>(ids.size()) ? count : static_cast<int>(ids.size());
    for (int i = 0; i < n; ++i) {
        ids[static_cast<std::size_t>(i)] = identity_of(entries[i].path);
    }
    for (int i = 0; i < n; ++i) {
        const identity_t& a = ids[static_cast<std::size_t>(i)];
        for (int j = i + 1; j < n && a.known; ++j) {
            const identity_t& b = ids[static_cast<std::size_t>(j)];
            if ((entries[i].written || entries[j].written) && b.known && a.dev == b.dev &&
                a.ino == b.ino && a.name == b.name) {
                *first = i;
                *second = j;
                return true;
            }
        }
    }
    return false;
}

bool iopaths_is_stdout(const char* path, int stdout_fd) {
    if (outfile_descriptor_of(path) == STDOUT_FILENO) {
        return true;
    }
    struct stat named {};
    struct stat out {};
    return ::stat(path, &named) == 0 && ::fstat(stdout_fd, &out) == 0 &&
           (S_ISFIFO(named.st_mode) || S_ISSOCK(named.st_mode)) && named.st_dev == out.st_dev &&
           named.st_ino == out.st_ino;
}

void iopaths_fill_closed_stdio() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) {
            continue;
        }
        const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
}

namespace {
constexpr std::size_t MAX_LOG_BYTES = std::size_t{256} << 20; // a log is text: far below this
} // namespace

int iopaths_read_log(const char* path, char** text, std::size_t* size, std::FILE** trace,
                     capture_sniff_t* kind) {
    std::FILE* fp = std::strcmp(path, "-") == 0 ? stdin : std::fopen(path, "rb");
    if (fp == nullptr) {
        return -1;
    }
    struct stat st {};
    std::size_t room = ::fstat(fileno(fp), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0
                           ? static_cast<std::size_t>(st.st_size) + 1
                           : 65536;
    room = std::min(room, MAX_LOG_BYTES + 1);
    *text = nullptr;
    *size = 0;
    int status = 0;
    for (;;) {
        if (*size == room || *text == nullptr) {
            room = *text == nullptr ? room : std::min(room * 2, MAX_LOG_BYTES + 1);
            auto* grown = static_cast<char*>(std::realloc(*text, room));
            if (grown == nullptr) {
                errno = ENOMEM;
                status = -1;
                break;
            }
            *text = grown;
        }
        // The first read is short: a trace is told by its head and then streamed, never held.
        const std::size_t want = *size == 0 ? std::min<std::size_t>(room, 65536) : room - *size;
        const std::size_t n = std::fread(*text + *size, 1, want, fp);
        if (n == 0) {
            status = std::ferror(fp) ? -1 : 0;
            break;
        }
        if (*size == 0) {
            *kind = capture_sniff(*text, n);
            if (kind->kind != CAPTURE_TEXT) {
                *size = n;
                *trace = fp;
                return 0;
            }
        }
        *size += n;
        if (*size > MAX_LOG_BYTES) {
            errno = EFBIG;
            status = -1;
            break;
        }
    }
    const int error = errno;
    if (fp != stdin) {
        std::fclose(fp);
    }
    if (status != 0) {
        std::free(*text);
        *text = nullptr;
    }
    errno = error;
    return status;
}

} // namespace vimbra
