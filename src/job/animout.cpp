#include "job/animout.hpp"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "bmp/outfile.hpp"
#include "chip/cmdlog.hpp"
#include "job/screen.hpp"
#include "lcd/lcdimg.hpp"

namespace vimbra {

namespace {

struct job_t {
    const animout_request_t* request;
    lcdimg_t* img;
    const cmdlog_t* log;
    int status; // an animate_result
    std::array<char, ANIMATE_MESSAGE_CAPACITY> message;
};

int produce(int fd, void* ctx) {
    auto* job = static_cast<job_t*>(ctx);
    const animout_request_t& r = *job->request;
    outfile_sink_t sink{};
    if (outfile_sink_open(&sink, fd) != 0) {
        job->status = ANIMATE_NO_MEMORY;
        std::strcpy(job->message.data(), "Memory Allocation Error.");
        return -1;
    }
    // At --scale, the pictures are drawn and compared at their own size; the writer
    // enlarges only the frames it keeps, as it writes them.
    const animate_options_t options{r.format, r.hold_us, r.plays, nullptr, nullptr, r.scale};
    cmdlog_module_t module{};
    lcdimg_module_of(job->img, &module);
    job->status = animate_write(job->img, &module, job->log, &options, outfile_sink_write, &sink,
                                job->message.data(), static_cast<int>(job->message.size()));
    const int error = errno;
    const int closed = outfile_sink_close(&sink);
    if (closed == 0) {
        errno = error;
    }
    return job->status == ANIMATE_OK && closed == 0 ? 0 : -1;
}

} // namespace

int animout_write(const animout_request_t* request, lcdimg_t* img, const cmdlog_t* log,
                  std::string* message) {
    job_t job{request, img, log, ANIMATE_OK, {}};
    const bool to_stdout = std::strcmp(request->path, "-") == 0;
    errno = 0;
    const int status = request->out_fd >= 0 ? produce(request->out_fd, &job)
                                            : outfile_write(request->path, produce, &job);
    const int error = errno;
    if (status == 0) {
        return ANIMOUT_OK;
    }
    if (job.status == ANIMATE_NO_MEMORY) {
        *message = job.message.data();
        return ANIMOUT_NO_MEMORY;
    }
    const std::string name = to_stdout ? std::string("standard output") : request->path;
    *message = name + ": " +
               (job.status == ANIMATE_REFUSED
                    ? std::string(job.message.data())
                    : "could not be written: " +
                          std::string(error != 0 ? std::strerror(error) : "unknown error"));
    return ANIMOUT_NOT_WRITTEN;
}

} // namespace vimbra
