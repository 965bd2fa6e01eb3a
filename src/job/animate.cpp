#include "job/animate.hpp"

#include <cstdio>
#include <cstring>

#include "bmp/animframes.hpp"
#include "bmp/apngfile.hpp"
#include "bmp/giffile.hpp"
#include "chip/cmdlog.hpp"
#include "chip/replay.hpp"
#include "job/job.hpp"
#include "lcd/lcdimg.hpp"

namespace vimbra {

namespace {

// One of the two writers behind one face.
struct writer_t {
    animate_format_t format;
    giffile_t gif;
    apngfile_t apng;
    bool begun;
};

// The pictures are compared and kept at their drawn size; the writer enlarges them to
// `scale` only as it writes the file.
int writer_begin(writer_t* w, int width, int height, int scale, int plays,
                 bmpfile_write_func_t func, void* ctx) {
    w->begun = true;
    const int status = w->format == ANIMATE_GIF
                           ? giffile_begin(&w->gif, width, height, plays, func, ctx)
                           : apngfile_begin(&w->apng, width, height, plays, func, ctx);
    if (status != ANIMFRAMES_OK || scale <= 1) {
        return status;
    }
    return animframes_set_scale(w->format == ANIMATE_GIF ? &w->gif.frames : &w->apng.frames, scale);
}

int writer_add(writer_t* w, const unsigned char* rgb, std::int64_t duration_us) {
    return w->format == ANIMATE_GIF ? giffile_add_frame(&w->gif, rgb, duration_us)
                                    : apngfile_add_frame(&w->apng, rgb, duration_us);
}

int writer_end(writer_t* w) {
    w->begun = false;
    return w->format == ANIMATE_GIF ? giffile_end(&w->gif) : apngfile_end(&w->apng);
}

void writer_discard(writer_t* w) {
    if (w->begun) {
        giffile_discard(&w->gif);
        apngfile_discard(&w->apng);
    }
}

struct run_t {
    lcdimg_t* img;
    const animate_options_t* options;
    writer_t writer;
    bmpfile_write_func_t func;
    void* ctx;
    char* message;
    int capacity;
};

int say(const run_t* run, int result, const char* text) {
    std::snprintf(run->message, static_cast<std::size_t>(run->capacity), "%s", text);
    return result;
}

// The result and message for a writer's failure.
int writer_failure(const run_t* run, int status) {
    switch (status) {
    case ANIMFRAMES_WRITE_ERROR:
        return ANIMATE_WRITE_ERROR;
    case ANIMFRAMES_TOO_MANY_COLORS:
        return say(run, ANIMATE_REFUSED,
                   "The animation has more than 256 colours, more than a GIF can hold.");
    case ANIMFRAMES_BAD_SIZE:
        return say(run, ANIMATE_REFUSED, "The picture is too large for an animation.");
    case ANIMFRAMES_TOO_LARGE:
        std::snprintf(run->message, static_cast<std::size_t>(run->capacity),
                      "The animation changes too much of the picture too often: its frames "
                      "would take more than %zu MiB.",
                      ANIMFRAMES_MAX_BYTES >> 20);
        return ANIMATE_REFUSED;
    default:
        return say(run, ANIMATE_NO_MEMORY, "Memory Allocation Error.");
    }
}

// Draws the image as it stands (script included) and adds it as a frame of `duration_us`;
// the first frame also starts the writer, now that the picture's size is known.
int add_moment(run_t* run, std::int64_t duration_us) {
    lcdimg_render(run->img);
    const unsigned char* rgb = run->img->pixels;
    int width = run->img->canvas_width;
    int height = run->img->canvas_height;
    if (run->options->filter != nullptr) {
        rgb = run->options->filter(rgb, width, height, &width, &height, run->options->filter_ctx);
        if (rgb == nullptr) {
            return say(run, ANIMATE_NO_MEMORY, "Memory Allocation Error.");
        }
    }
    int status = ANIMFRAMES_OK;
    if (!run->writer.begun) {
        status = writer_begin(&run->writer, width, height, run->options->scale, run->options->plays,
                              run->func, run->ctx);
    }
    if (status == ANIMFRAMES_OK) {
        status = writer_add(&run->writer, rgb, duration_us);
    }
    return status == ANIMFRAMES_OK ? ANIMATE_OK : writer_failure(run, status);
}

// Counts the moments before `end_us`, up to one past the limit, replaying without drawing,
// so that a log of too many is refused before the work starts. -1 when the replay refuses
// an event (`message` says which).
std::int64_t count_moments(run_t* run, replay_t* replay, std::int64_t end_us) {
    std::int64_t count = 0;
    for (std::int64_t t = 0; t < end_us && count <= ANIMATE_MAX_MOMENTS; ++count) {
        if (replay_advance(replay, t, run->message, run->capacity) != 0) {
            return -1;
        }
        t = replay_next_change(replay, t);
    }
    return count;
}

// One moment of the log: the display after the events at or before its start, in its
// blink phase, shown until the next moment.
int add_replayed(const replay_t* replay, std::int64_t start_us, std::int64_t end_us, void* ctx) {
    auto* run = static_cast<run_t*>(ctx);
    if (job_replay_show(replay, run->img, start_us) != 0) {
        return say(run, ANIMATE_NO_MEMORY, "Memory Allocation Error.");
    }
    return add_moment(run, end_us - start_us);
}

// Every moment from 0 to the log's end plus the hold.
int replay_moments(run_t* run, const cmdlog_module_t* module, const cmdlog_t* log) {
    const std::int64_t hold = run->options->hold_us;
    if (hold < 0 || hold > ANIMATE_MAX_US || log->end_us > ANIMATE_MAX_US - hold) {
        char line[128];
        std::snprintf(line, sizeof line,
                      "The animation would last %.3f s, longer than the %lld s it may.",
                      (static_cast<double>(log->end_us) + static_cast<double>(hold)) / 1e6,
                      static_cast<long long>(ANIMATE_MAX_US / 1000000));
        return say(run, ANIMATE_REFUSED, line);
    }
    const std::int64_t end = log->end_us + hold;
    replay_t replay{};
    job_replay_start(&replay, module, run->img, log);
    const std::int64_t moments = count_moments(run, &replay, end);
    if (moments < 0) {
        return ANIMATE_REFUSED;
    }
    if (moments > ANIMATE_MAX_MOMENTS) {
        char line[128];
        std::snprintf(line, sizeof line, ANIMATE_TOO_MANY_MOMENTS,
                      static_cast<long long>(ANIMATE_MAX_MOMENTS));
        return say(run, ANIMATE_REFUSED, line);
    }
    return animate_each_moment(&replay, module, run->img, log, end, add_replayed, run, run->message,
                               run->capacity);
}

bool ends_with(const char* path, const char* ext) {
    const std::size_t length = std::strlen(path);
    const std::size_t n = std::strlen(ext);
    if (length < n) {
        return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if ((path[length - n + i] | 0x20) != ext[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

int animate_write(lcdimg_t* img, const cmdlog_module_t* module, const cmdlog_t* log,
                  const animate_options_t* options, bmpfile_write_func_t func, void* ctx,
                  char* message, int message_capacity) {
    run_t run{img,     options,         writer_t{options->format, {}, {}, false}, func, ctx,
              message, message_capacity};
    const int status = log != nullptr ? replay_moments(&run, module, log) : add_moment(&run, 0);
    if (status != ANIMATE_OK) {
        writer_discard(&run.writer);
        return status;
    }
    const int written = writer_end(&run.writer);
    return written == ANIMFRAMES_OK ? ANIMATE_OK : writer_failure(&run, written);
}

int animate_each_moment(replay_t* replay, const cmdlog_module_t* module, const lcdimg_t* img,
                        const cmdlog_t* log, std::int64_t end_us, animate_moment_func_t func,
                        void* ctx, char* message, int message_capacity) {
    job_replay_start(replay, module, img, log);
    std::int64_t t = 0;
    do {
        if (replay_advance(replay, t, message, message_capacity) != 0) {
            return ANIMATE_REFUSED;
        }
        std::int64_t next = replay_next_change(replay, t);
        next = next < end_us ? next : end_us;
        const int status = func(replay, t, next, ctx);
        if (status != ANIMATE_OK) {
            return status;
        }
        t = next;
    } while (t < end_us);
    return ANIMATE_OK;
}

int animate_format_of(const char* path, animate_format_t* format) {
    if (ends_with(path, ".gif")) {
        *format = ANIMATE_GIF;
        return 1;
    }
    if (ends_with(path, ".apng")) {
        *format = ANIMATE_APNG;
        return 1;
    }
    return 0;
}

} // namespace vimbra
