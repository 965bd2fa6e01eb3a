#include "job/job.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "bmp/bmpfile.hpp"
#include "bmp/outfile.hpp"
#include "bmp/pngfile.hpp"
#include "chip/charset.hpp"
#include "chip/loghint.hpp"
#include "job/animate.hpp"
#include "lcd/lcdimg.hpp"
#include "lcd/rowtext.hpp"

namespace vimbra {

namespace {

constexpr const char* NO_MEMORY_LINE = "Memory Allocation Error.";

void say(const job_messages_t* messages, const std::string& line) {
    if (messages != nullptr && messages->say != nullptr) {
        messages->say(line.c_str(), messages->ctx);
    }
}

job_status_t no_memory(const job_messages_t* messages) {
    say(messages, NO_MEMORY_LINE);
    return JOB_NO_MEMORY;
}

std::string prefixed(const std::string& name, const char* message) {
    return name.empty() ? std::string(message) : name + ": " + message;
}

struct picture_t {
    job_format_t format;
    const unsigned char* rgb;
    int width;
    int height;
};

int encode(const picture_t& picture, bmpfile_write_func_t write, void* ctx) {
    return picture.format == JOB_FORMAT_PNG
               ? pngfile_write_rgb(picture.rgb, picture.width, picture.height, write, ctx)
               : bmpfile_write_rgb(picture.rgb, picture.width, picture.height, write, ctx);
}

// An outfile producer: 0, OUTFILE_NO_MEMORY, or -1 with errno from the failed write.
int produce_picture(int fd, void* ctx) {
    const auto* picture = static_cast<const picture_t*>(ctx);
    outfile_sink_t sink{};
    // The BMP writer hands over chunks of 64 KiB or more: they need no buffer of their own.
    if (picture->format == JOB_FORMAT_BMP) {
        outfile_sink_open_direct(&sink, fd);
    } else if (outfile_sink_open(&sink, fd) != 0) {
        return OUTFILE_NO_MEMORY;
    }
    const int status = encode(*picture, outfile_sink_write, &sink);
    const int closed = outfile_sink_close(&sink);
    if (status == BMP_NO_MEMORY) {
        return OUTFILE_NO_MEMORY;
    }
    if (status == 0 && closed == 0) {
        return 0;
    }
    errno = sink.error != 0 ? sink.error : EIO;
    return -1;
}

int append_bytes(const void* data, std::uint32_t size, void* ctx) {
    try {
        static_cast<std::string*>(ctx)->append(static_cast<const char*>(data), size);
    } catch (...) {
        return 0;
    }
    return 1;
}

} // namespace

int job_exit_status(job_status_t status) {
    switch (status) {
    case JOB_DONE:
        return 0;
    case JOB_NO_MEMORY:
    case JOB_BAD_INPUT:
    case JOB_BAD_SETTING:
        return 1;
    case JOB_BAD_ROWS:
    case JOB_BAD_LOG:
    case JOB_NO_MARK:
    case JOB_USAGE:
        return 2;
    case JOB_WRITE_FAILED:
        return 3;
    case JOB_DIFFERENT:
        return 4;
    case JOB_TIMING_FAULTS:
        return 5;
    case JOB_TOO_COARSE:
        return 6;
    }
    return 1;
}

job_status_t job_place_rows(lcdimg_t* img, const char* const* rows, int count,
                            const job_messages_t* messages) {
    const int placed = rowtext_place_rows(img, rows, count);
    if (placed == -2) {
        return no_memory(messages);
    }
    if (placed != 0) {
        say(messages, "Illegal format string found.");
        return JOB_BAD_ROWS;
    }
    return JOB_DONE;
}

job_status_t job_log_prepare(lcdimg_t* img, const lcdimg_source_t* font, const char* profile,
                             const char* text, std::size_t size, const std::string& name,
                             const job_messages_t* messages) {
    // Every controller has a character ROM: without a CHARSET, the log shows A00.
    if (img->charset == nullptr && lcdimg_use_charset_from(img, charset_find("A00"), font) != 0) {
        say(messages, std::string(font->path) + ": cannot read the font: " +
                          (errno != 0 ? std::strerror(errno) : "unknown error"));
        return JOB_BAD_INPUT;
    }
    int columns = 0;
    int rows = 0;
    if (!cmdlog_scan_module(text, size, &columns, &rows) ||
        (columns == img->chcnt_x && rows == img->chcnt_y)) {
        return JOB_DONE;
    }
    if (profile != nullptr) {
        say(messages, "[Warning]: " + prefixed(name, "the log's module is ") +
                          std::to_string(columns) + "x" + std::to_string(rows) +
                          ", the profile's " + std::to_string(img->chcnt_x) + "x" +
                          std::to_string(img->chcnt_y) +
                          (profile[0] != '\0' ? std::string(" (") + profile + ")" : ""));
        return JOB_DONE;
    }
    std::array<char, LCDIMG_SETTING_MESSAGE_CAPACITY> message{};
    if (lcdimg_set_grid(img, columns, rows, message.data(), static_cast<int>(message.size())) !=
        LCDIMG_OPENED) {
        say(messages, message.data());
        return JOB_BAD_SETTING;
    }
    return JOB_DONE;
}

job_status_t job_log_load(job_log_t* job, lcdimg_t* img, const lcdimg_source_t* font,
                          const char* profile, const char* text, std::size_t size, bool hints,
                          const std::string& name, const job_messages_t* messages) {
    if (const job_status_t ready = job_log_prepare(img, font, profile, text, size, name, messages);
        ready != JOB_DONE) {
        return ready;
    }
    auto* owned = static_cast<char*>(std::malloc(size == 0 ? 1 : size));
    if (owned == nullptr) {
        return no_memory(messages);
    }
    std::memcpy(owned, text, size);
    const job_status_t read = job_log_read(job, img, owned, size, name, messages);
    return read != JOB_DONE ? read : job_log_check(job, img, hints, name, messages);
}

job_status_t job_log_moments(job_log_t* job, lcdimg_t* img, std::int64_t until_us,
                             std::vector<std::int64_t>* starts) {
    const auto take = [](const replay_t*, std::int64_t start_us, std::int64_t, void* ctx) {
        auto* list = static_cast<std::vector<std::int64_t>*>(ctx);
        if (static_cast<std::int64_t>(list->size()) >= ANIMATE_MAX_MOMENTS) {
            return static_cast<int>(ANIMATE_REFUSED);
        }
        try {
            list->push_back(start_us);
        } catch (const std::bad_alloc&) {
            return static_cast<int>(ANIMATE_NO_MEMORY);
        }
        return static_cast<int>(ANIMATE_OK);
    };
    std::array<char, CMDLOG_MESSAGE_CAPACITY> message{};
    if (animate_each_moment(&job->replay, &job->module, img, &job->log, until_us, take, starts,
                            message.data(), static_cast<int>(message.size())) != ANIMATE_OK) {
        starts->clear();
        return JOB_BAD_LOG;
    }
    return JOB_DONE;
}

job_status_t job_log_read(job_log_t* job, const lcdimg_t* img, char* text, std::size_t size,
                          const std::string& name, const job_messages_t* messages) {
    lcdimg_module_of(img, &job->module);
    std::array<char, CMDLOG_MESSAGE_CAPACITY> message{};
    const int read = cmdlog_read_owned(text, size, &job->module, &job->log, message.data(),
                                       static_cast<int>(message.size()));
    if (read == CMDLOG_NO_MEMORY) {
        return no_memory(messages);
    }
    if (read != 0) {
        say(messages, prefixed(name, message.data()));
        return JOB_BAD_LOG;
    }
    return JOB_DONE;
}

job_status_t job_log_check(job_log_t* job, const lcdimg_t* img, bool hints, const std::string& name,
                           const job_messages_t* messages) {
    std::array<char, CMDLOG_MESSAGE_CAPACITY> message{};
    const int capacity = static_cast<int>(message.size());
    job_replay_start(&job->replay, &job->module, img, &job->log);
    if (replay_advance(&job->replay, job->log.end_us, message.data(), capacity) != 0) {
        say(messages, prefixed(name, message.data()));
        return JOB_BAD_LOG;
    }
    if (hints &&
        loghint_warning(&job->log, job->replay.display_seen_on, message.data(), capacity)) {
        say(messages, prefixed(name, message.data()));
    }
    return JOB_DONE;
}

job_status_t job_log_mark(const job_log_t* job, const char* mark, std::int64_t* at_us) {
    const cmdlog_mark_t* found = cmdlog_find_mark(&job->log, mark);
    if (found == nullptr) {
        return JOB_NO_MARK;
    }
    *at_us = found->time_us;
    return JOB_DONE;
}

job_status_t job_log_show(job_log_t* job, lcdimg_t* img, std::int64_t at_us,
                          const std::string& name, const job_messages_t* messages,
                          replay_status_t* status) {
    const std::int64_t at = at_us < 0 ? job->log.end_us : at_us;
    std::array<char, CMDLOG_MESSAGE_CAPACITY> message{};
    if (at < job->replay.now_us) {
        job_replay_start(&job->replay, &job->module, img, &job->log);
    }
    if (replay_advance(&job->replay, at, message.data(), static_cast<int>(message.size())) != 0) {
        say(messages, prefixed(name, message.data()));
        return JOB_BAD_LOG;
    }
    if (job_replay_show(&job->replay, img, at) != 0) {
        return no_memory(messages);
    }
    if (status != nullptr) {
        replay_status(&job->replay, status);
    }
    return JOB_DONE;
}

void job_replay_start(replay_t* replay, const cmdlog_module_t* module, const lcdimg_t* img,
                      const cmdlog_t* log, const chip_config_t* config) {
    std::array<unsigned char, CHIP_CGRAM_BYTES> cgram{};
    if (img != nullptr) {
        lcdimg_cgram_of(img, cgram.data());
    }
    replay_start(replay, module, img != nullptr ? cgram.data() : nullptr, log, config);
}

int job_replay_show(const replay_t* replay, lcdimg_t* img, std::int64_t time_us) {
    screen_state_t screen{};
    replay_screen(replay, time_us, &screen);
    return lcdimg_show_screen(img, &screen);
}

void job_log_free(job_log_t* job) {
    cmdlog_free(&job->log);
}

job_format_t job_format_of_name(const std::string& path) {
    if (path.size() < 4) {
        return JOB_FORMAT_BMP;
    }
    std::string ext = path.substr(path.size() - 4);
    for (char& c : ext) {
        c = static_cast<char>(c | 0x20);
    }
    return ext == ".png" ? JOB_FORMAT_PNG : JOB_FORMAT_BMP;
}

job_status_t job_encode(job_format_t format, const unsigned char* rgb, int width, int height,
                        std::string* out) {
    const picture_t picture{format, rgb, width, height};
    out->clear();
    const int status = encode(picture, append_bytes, out);
    if (status == BMP_NO_MEMORY) {
        return JOB_NO_MEMORY;
    }
    return status == 0 ? JOB_DONE : JOB_WRITE_FAILED;
}

job_status_t job_write_picture(job_format_t format, const unsigned char* rgb, int width, int height,
                               const char* path, int fd) {
    picture_t picture{format, rgb, width, height};
    errno = 0;
    // A BMP's length is known from its header: its room is taken before a byte is written.
    const std::int64_t size = format == JOB_FORMAT_BMP ? bmpfile_size(width, height) : -1;
    if (format == JOB_FORMAT_BMP && size < 0) {
        errno = EFBIG;
        return JOB_WRITE_FAILED;
    }
    const int status = fd >= 0 ? produce_picture(fd, &picture)
                               : outfile_write_sized(path, size, produce_picture, &picture);
    if (status == OUTFILE_NO_MEMORY) {
        return JOB_NO_MEMORY;
    }
    return status == 0 ? JOB_DONE : JOB_WRITE_FAILED;
}

void job_budget_start(job_budget_t* budget, double budget_ms) {
    budget->start = job_budget_t::clock::now();
    budget->last = budget->start;
    budget->budget_ms = budget_ms;
    budget->stride = 1;
    budget->countdown = 1;
    budget->spent = false;
}

bool job_budget_is_spent(void* ctx) {
    auto* budget = static_cast<job_budget_t*>(ctx);
    if (budget->spent) {
        return true;
    }
    if (--budget->countdown > 0) {
        return false;
    }
    const job_budget_t::clock::time_point now = job_budget_t::clock::now();
    if (std::chrono::duration<double, std::milli>(now - budget->start).count() >
        budget->budget_ms) {
        budget->spent = true;
        return true;
    }
    const bool quick = now - budget->last < std::chrono::milliseconds(1);
    budget->stride = quick ? std::min<std::int64_t>(budget->stride * 2, 256)
                           : std::max<std::int64_t>(budget->stride / 2, 1);
    budget->last = now;
    budget->countdown = budget->stride;
    return false;
}

void job_budget_limit(lcdimg_t* img, job_budget_t* budget, double budget_ms) {
    job_budget_start(budget, budget_ms);
    img->script_should_stop = job_budget_is_spent;
    img->script_stop_ctx = budget;
}

} // namespace vimbra
