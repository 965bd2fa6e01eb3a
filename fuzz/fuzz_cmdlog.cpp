// A command log of any bytes through the render job, for two module shapes: loaded (read and
// replayed to its end), shown at a few of its moments, then written as an animation (GIF on
// one shape, APNG on the other) to /dev/null. Every refusal must be a typed status.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_util.hpp"
#include "job/animout.hpp"
#include "job/job.hpp"
#include "lcd/lcdimg.hpp"

using namespace vimbra;

namespace {

// Small pictures: one chip with row starts of its own, and a two-chip module.
lcdimg_t* open_image(const char* profile) {
    const lcdimg_source_t text{nullptr, profile, std::strlen(profile)};
    lcdimg_t* img = nullptr;
    if (lcdimg_open_from(&text, nullptr, &img, nullptr, 0) != LCDIMG_OPENED) return nullptr;
    img->console = *fuzz::quiet_console();
    return img;
}

// Says nothing, but a refusal must have said why.
void note(const char* line, void* ctx) {
    *static_cast<bool*>(ctx) = line[0] != '\0';
}

void replay_on(lcdimg_t* img, animate_format_t format, const std::uint8_t* data, std::size_t size) {
    if (img == nullptr) __builtin_trap();
    bool said = false;
    const job_messages_t messages{note, &said};
    job_log_t job{};
    const job_status_t loaded = job_log_load(
        &job, img, nullptr, "", reinterpret_cast<const char*>(data), size, true, "log", &messages);
    if (loaded != JOB_DONE && (!said || (loaded != JOB_BAD_LOG && loaded != JOB_NO_MEMORY)))
        __builtin_trap();
    if (loaded == JOB_DONE) {
        if (job.log.mark_count > 0) {
            std::int64_t at = -1;
            if (job_log_mark(&job, job.log.marks[0].name.data(), &at) != JOB_DONE) __builtin_trap();
        }
        std::vector<std::int64_t> starts;
        job_log_moments(&job, img, job.log.end_us + 500000, &starts);
        for (std::size_t i = 0; i < starts.size() && i < 4; ++i)
            if (job_log_show(&job, img, starts[i], "log", &messages, nullptr) != JOB_DONE)
                __builtin_trap(); // the whole log replayed once already
        replay_status_t status{};
        job_log_show(&job, img, -1, "log", &messages, &status);
        lcdimg_paint(img);
        static const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        const animout_request_t request{"/dev/null", null_fd, format, 500000, 0, 1};
        std::string message;
        animout_write(&request, img, &job.log, &message);
    }
    job_log_free(&job);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static lcdimg_t* narrow =
        open_image("CHCNT_X 16\nCHCNT_Y 4\nROW_ADDRESSES 0x00 0x40 0x10\nPIXSIZ_X 1\n"
                   "PIXSIZ_Y 1\nPIXGAP_X 0\nPIXGAP_Y 0\nCHOFS_X 0\nCHOFS_Y 0\n");
    static lcdimg_t* wide = open_image("CHCNT_X 40\nCHCNT_Y 4\nPIXSIZ_X 1\nPIXSIZ_Y 1\n"
                                       "PIXGAP_X 0\nPIXGAP_Y 0\nCHOFS_X 0\nCHOFS_Y 0\n");
    replay_on(narrow, ANIMATE_GIF, data, size);
    replay_on(wide, ANIMATE_APNG, data, size);
    return 0;
}
