#include "bmp/animframes.hpp"

#include <cstring>
#include <new>
#include <vector>

namespace vimbra {

namespace {

std::size_t row_bytes(const animframes_t* f) {
    return static_cast<std::size_t>(f->width) * 3;
}

const unsigned char* pixel_at(const animframes_t* f, const unsigned char* rgb, int x, int y) {
    return rgb + static_cast<std::size_t>(y) * row_bytes(f) + static_cast<std::size_t>(x) * 3;
}

// The nearest tick to a time, halves rounded up; times are never negative.
std::int64_t ticks_at(const animframes_t* f, std::int64_t time_us) {
    return (time_us + f->tick_us / 2) / f->tick_us;
}

struct rect_t {
    int x0;
    int y0;
    int x1; // exclusive
    int y1;
};

// The smallest rectangle holding every pixel where `a` and `b` differ; empty (x0 == x1) when
// they are equal.
rect_t changed_rect(const animframes_t* f, const unsigned char* a, const unsigned char* b) {
    const std::size_t stride = row_bytes(f);
    rect_t r{0, 0, 0, 0};
    int y0 = 0;
    while (y0 < f->height && std::memcmp(a + y0 * stride, b + y0 * stride, stride) == 0) {
        ++y0;
    }
    if (y0 == f->height) {
        return r;
    }
    int y1 = f->height;
    while (std::memcmp(a + (y1 - 1) * stride, b + (y1 - 1) * stride, stride) == 0) {
        --y1;
    }
    int x0 = f->width;
    int x1 = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = 0; x < x0; ++x) {
            if (std::memcmp(pixel_at(f, a, x, y), pixel_at(f, b, x, y), 3) != 0) {
                x0 = x;
                break;
            }
        }
        for (int x = f->width; x > x1; --x) {
            if (std::memcmp(pixel_at(f, a, x - 1, y), pixel_at(f, b, x - 1, y), 3) != 0) {
                x1 = x;
                break;
            }
        }
    }
    return rect_t{x0, y0, x1, y1};
}

bool store(animframes_t* f, const unsigned char* rgb, rect_t r, std::int64_t ticks) {
    const std::size_t offset = f->pixels.size();
    const std::size_t width_bytes = static_cast<std::size_t>(r.x1 - r.x0) * 3;
    // The limit is on the file's frames: the stored ones times the scale's square.
    const auto area = static_cast<std::size_t>(f->scale) * static_cast<std::size_t>(f->scale);
    if (width_bytes * static_cast<std::size_t>(r.y1 - r.y0) * area >
        ANIMFRAMES_MAX_BYTES - offset * area) {
        return false;
    }
    for (int y = r.y0; y < r.y1; ++y) {
        const unsigned char* row = pixel_at(f, rgb, r.x0, y);
        f->pixels.insert(f->pixels.end(), row, row + width_bytes);
    }
    f->frames.push_back({r.x0, r.y0, r.x1 - r.x0, r.y1 - r.y0, ticks, offset});
    for (int y = r.y0; y < r.y1; ++y) { // the rest of `last` is equal already
        std::memcpy(f->last.data() + (pixel_at(f, rgb, r.x0, y) - rgb), pixel_at(f, rgb, r.x0, y),
                    width_bytes);
    }
    return true;
}

// Every frame enlarged to the file's size, each pixel a block of scale x scale.
void enlarge(animframes_t* f) {
    const int s = f->scale;
    const auto n = static_cast<std::size_t>(s);
    std::size_t total = 0;
    for (const animframes_frame_t& fr : f->frames) {
        total += static_cast<std::size_t>(fr.width) * static_cast<std::size_t>(fr.height) * 3;
    }
    std::vector<unsigned char> pixels(total * n * n);
    unsigned char* dst = pixels.data();
    for (animframes_frame_t& fr : f->frames) {
        const unsigned char* src = f->pixels.data() + fr.offset;
        const auto offset = static_cast<std::size_t>(dst - pixels.data());
        const std::size_t row = static_cast<std::size_t>(fr.width) * 3 * n;
        for (int y = 0; y < fr.height; ++y) {
            unsigned char* first = dst;
            for (int x = 0; x < fr.width; ++x, src += 3) {
                for (int i = 0; i < s; ++i, dst += 3) {
                    std::memcpy(dst, src, 3);
                }
            }
            for (int i = 1; i < s; ++i, dst += row) { // the other rows of the block repeat it
                std::memcpy(dst, first, row);
            }
        }
        fr = animframes_frame_t{fr.x * s, fr.y * s, fr.width * s, fr.height * s, fr.ticks, offset};
    }
    f->pixels.swap(pixels);
    f->width *= s;
    f->height *= s;
    f->scale = 1;
    f->last.clear();
    f->last.shrink_to_fit();
    f->latest.assign(static_cast<std::size_t>(f->width) * static_cast<std::size_t>(f->height) * 3,
                     0);
}

} // namespace

int animframes_set_scale(animframes_t* frames, int scale) {
    if (scale < 1 || frames->width > frames->max_side / scale ||
        frames->height > frames->max_side / scale) {
        return ANIMFRAMES_BAD_SIZE;
    }
    frames->scale = scale;
    return ANIMFRAMES_OK;
}

int animframes_begin(animframes_t* frames, int width, int height, int max_side,
                     std::int64_t tick_us) {
    animframes_free(frames);
    if (width < 1 || height < 1 || width > max_side || height > max_side || tick_us < 1) {
        return ANIMFRAMES_BAD_SIZE;
    }
    frames->width = width;
    frames->height = height;
    frames->max_side = max_side;
    frames->tick_us = tick_us;
    try {
        const std::size_t bytes =
            static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
        frames->last.assign(bytes, 0);
        frames->latest.assign(bytes, 0);
    } catch (const std::bad_alloc&) {
        animframes_free(frames);
        return ANIMFRAMES_NO_MEMORY;
    }
    return ANIMFRAMES_OK;
}

int animframes_add(animframes_t* frames, const unsigned char* rgb, std::int64_t duration_us) {
    animframes_t* f = frames;
    if (duration_us < 0 || duration_us > ANIMFRAMES_MAX_TIME_US - f->elapsed_us) {
        return ANIMFRAMES_BAD_SIZE;
    }
    const std::int64_t start = f->elapsed_us;
    f->elapsed_us += duration_us;
    const std::int64_t ticks = ticks_at(f, f->elapsed_us) - ticks_at(f, start);
    if (f->frames.empty() && ticks == 0) { // kept for animframes_finish
        std::memcpy(f->latest.data(), rgb, f->latest.size());
    }
    bool stored = true;
    try {
        if (f->frames.empty()) {
            if (ticks > 0) {
                stored = store(f, rgb, rect_t{0, 0, f->width, f->height}, ticks);
            }
        } else {
            const rect_t r = changed_rect(f, f->last.data(), rgb);
            if (r.x0 == r.x1) {
                f->frames.back().ticks += ticks;
            } else if (ticks > 0) {
                stored = store(f, rgb, r, ticks);
            }
        }
    } catch (const std::bad_alloc&) {
        return ANIMFRAMES_NO_MEMORY;
    }
    return stored ? ANIMFRAMES_OK : ANIMFRAMES_TOO_LARGE;
}

int animframes_finish(animframes_t* frames) {
    try {
        if (frames->frames.empty() &&
            !store(frames, frames->latest.data(), rect_t{0, 0, frames->width, frames->height}, 0)) {
            return ANIMFRAMES_TOO_LARGE;
        }
        if (frames->scale > 1) {
            enlarge(frames);
        }
    } catch (const std::bad_alloc&) {
        return ANIMFRAMES_NO_MEMORY;
    }
    return ANIMFRAMES_OK;
}

void animframes_free(animframes_t* frames) {
    *frames = animframes_t{};
}

void animframes_compose(const animframes_t* frames, std::size_t index, unsigned char* canvas) {
    const animframes_frame_t& fr = frames->frames[index];
    const std::size_t width_bytes = static_cast<std::size_t>(fr.width) * 3;
    const unsigned char* src = frames->pixels.data() + fr.offset;
    for (int y = 0; y < fr.height; ++y) {
        std::memcpy(canvas + static_cast<std::size_t>(fr.y + y) * row_bytes(frames) +
                        static_cast<std::size_t>(fr.x) * 3,
                    src + static_cast<std::size_t>(y) * width_bytes, width_bytes);
    }
}

} // namespace vimbra
