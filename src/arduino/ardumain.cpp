// The program of a host Arduino sketch, which the main() of Arduino.h calls. Only that
// reference brings this file (and its references to setup() and loop()) into a program: the
// library itself defines no main(), so programs that link it with a main() of their own, from
// any library, keep theirs.
#define VIMBRA_ARDUINO_NO_MAIN
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "arduino/arduopts.hpp"
#include "arduino/ardurun.hpp"
#include "vimbra/arduino/Arduino.h"

namespace vimbra::arduino {

namespace {

// Where the run's output goes: the log to its file, line by line as it comes, so that a run
// that is stopped leaves whole lines; Serial and warnings to standard error.
struct program_output {
    std::FILE* log = nullptr;
    bool lost = false;
};

void write_log(const char* text, std::size_t size, void* context) {
    auto* out = static_cast<program_output*>(context);
    if (std::fwrite(text, 1, size, out->log) != size || std::fflush(out->log) != 0) {
        out->lost = true;
    }
}

void write_error(const char* text, std::size_t size, void*) {
    std::fwrite(text, 1, size, stderr);
    std::fflush(stderr);
}

// The whole file; false with errno set when it cannot be read (ENOENT for none).
bool read_file(const std::string& path, std::string* text) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    char chunk[65536];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text->append(chunk, n);
    }
    const bool ok = std::ferror(file) == 0;
    const int saved = errno;
    std::fclose(file);
    errno = ok ? 0 : (saved != 0 ? saved : EIO);
    return ok;
}

// The EEPROM's bytes written beside `path` and renamed over it, so that a failed write
// leaves the old file whole; a link is followed and its target replaced. The mode of the
// file it replaces is kept.
bool write_eeprom(const std::string& path, const std::array<std::uint8_t, HOST_EEPROM_SIZE>& bytes,
                  std::string* why) {
    std::string target = path;
    char resolved[PATH_MAX];
    struct stat link_info {};
    if (lstat(path.c_str(), &link_info) == 0 && S_ISLNK(link_info.st_mode) &&
        realpath(path.c_str(), resolved) != nullptr) {
        target = resolved;
    }
    struct stat old_info {};
    const bool existed = stat(target.c_str(), &old_info) == 0;
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temporary = folder + "." + base + ".vimbra-XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        *why = std::strerror(errno);
        return false;
    }
    mode_t mode = 0;
    if (existed) {
        mode = old_info.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    std::size_t done = 0;
    bool ok = fchmod(fd, mode) == 0;
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        done += ok ? static_cast<std::size_t>(n) : 0;
    }
    ok = ok && fsync(fd) == 0;
    const int saved = errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && std::rename(temporary.c_str(), target.c_str()) == 0) {
        return true;
    }
    *why = std::strerror(ok ? errno : (saved != 0 ? saved : EIO));
    ::unlink(temporary.c_str());
    return false;
}

// The stimulus and the EEPROM's file into `request`; 0, or the status with its line given.
int load_inputs(const char* name, const host_options& options, stimulus* stim,
                run_request* request) {
    if (!options.input_path.empty()) {
        std::string text;
        if (!read_file(options.input_path, &text)) {
            std::fprintf(stderr, "%s: cannot read %s: %s\n", name, options.input_path.c_str(),
                         std::strerror(errno));
            return 1;
        }
        std::string message;
        if (!stim_parse(text, options.input_path, stim, &message)) {
            std::fprintf(stderr, "%s\n", message.c_str());
            return 2;
        }
        request->setup.stim = stim;
    }
    if (!options.eeprom_path.empty()) {
        std::string bytes;
        if (!read_file(options.eeprom_path, &bytes)) {
            if (errno != ENOENT) {
                std::fprintf(stderr, "%s: cannot read %s: %s\n", name, options.eeprom_path.c_str(),
                             std::strerror(errno));
                return 1;
            }
        } else if (bytes.size() > HOST_EEPROM_SIZE) {
            std::fprintf(stderr, "%s: %s: %zu bytes, more than the EEPROM's 1024\n", name,
                         options.eeprom_path.c_str(), bytes.size());
            return 2;
        }
        std::memcpy(request->setup.eeprom.data(), bytes.data(), bytes.size());
    }
    return 0;
}

} // namespace

} // namespace vimbra::arduino

int vimbra::arduino::run_sketch(int argc, char** argv) {
    const char* name = "sketch";
    if (argc > 0 && argv != nullptr && argv[0] != nullptr) {
        const char* slash = std::strrchr(argv[0], '/');
        name = slash != nullptr ? slash + 1 : argv[0];
    }
    host_options options;
    std::string message;
    if (host_parse_options(argc, argv, std::getenv("VIMBRA_RUN"), &options, &message) != 0) {
        std::fprintf(stderr, "%s: %s\n", name, message.c_str());
        return 2;
    }
    if (options.help) {
        std::printf("Usage: %s [--run TIME] [--log FILE] [--input FILE] [--eeprom FILE] "
                    "[--start-us N]\n       [--analog PIN=N] [--digital PIN=L]\n%s",
                    name, host_usage());
        return 0;
    }
    const sketch code{name, &::setup, &::loop};
    run_request request;
    request.code = &code;
    request.setup.run_us = options.run_us;
    request.setup.start_us = options.start_us;
    request.setup.analog = options.analog;
    request.setup.digital = options.digital;
    request.forward_signals = true;
    stimulus stim;
    if (const int status = load_inputs(name, options, &stim, &request); status != 0) {
        return status;
    }
    program_output out;
    out.log = stdout;
    const bool own_log = !options.log_path.empty() && options.log_path != "-";
    if (own_log) {
        out.log = std::fopen(options.log_path.c_str(), "wb");
        if (out.log == nullptr) {
            std::fprintf(stderr, "%s: cannot write %s: %s\n", name, options.log_path.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    run_receiver receiver;
    receiver.log = write_log;
    receiver.serial = write_error;
    receiver.warning = write_error;
    receiver.context = &out;
    const run_end end = run_forked(request, receiver);
    if (own_log && std::fclose(out.log) != 0) {
        out.lost = true;
    }
    int status = 0;
    if (end.status != run_status::ok) {
        std::fprintf(stderr, "%s: %s\n", name, end.message.c_str());
        status = 3;
    } else if (!options.eeprom_path.empty() && end.eeprom_valid &&
               !write_eeprom(options.eeprom_path, end.eeprom, &message)) {
        std::fprintf(stderr, "%s: the EEPROM could not be kept in %s: %s\n", name,
                     options.eeprom_path.c_str(), message.c_str());
        status = 1;
    }
    if (out.lost) {
        std::fprintf(stderr, "%s: the command log could not be written in full\n", name);
        status = status == 0 ? 1 : status;
    }
    if (end.forwarded_signal != 0) {
        // Stopped from outside: what the sketch sent is written; the process ends as asked.
        std::fflush(nullptr);
        ::signal(end.forwarded_signal, SIG_DFL);
        ::raise(end.forwarded_signal);
    }
    return status;
}
