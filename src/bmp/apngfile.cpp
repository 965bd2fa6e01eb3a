#include "bmp/apngfile.hpp"

#include <array>
#include <cstddef>
#include <cstdlib>
#include <new>

#include "bmp/pngfile.hpp"

namespace vimbra {

namespace {

constexpr std::int64_t TICK_US = 1000; // delays are counted in milliseconds
constexpr unsigned DELAY_DENOMINATOR = 1000;
constexpr std::int64_t MAX_DELAY = 65535;
constexpr int MAX_SIDE = 0x7FFFFFFF;
constexpr unsigned char DISPOSE_NONE = 0;
constexpr unsigned char BLEND_SOURCE = 0;

// PNG numbers are big-endian.
void put_be32(unsigned char* at, std::uint32_t value) {
    at[0] = static_cast<unsigned char>(value >> 24);
    at[1] = static_cast<unsigned char>(value >> 16);
    at[2] = static_cast<unsigned char>(value >> 8);
    at[3] = static_cast<unsigned char>(value);
}

void put_be16(unsigned char* at, unsigned value) {
    at[0] = static_cast<unsigned char>(value >> 8);
    at[1] = static_cast<unsigned char>(value);
}

// Frames written for one stored frame: a delay beyond the field's range continues in
// frames of one unchanged pixel.
std::int64_t parts_of(std::int64_t ticks) {
    return ticks == 0 ? 1 : (ticks + MAX_DELAY - 1) / MAX_DELAY;
}

struct encoder_t {
    const apngfile_t* apng;
    pngfile_palette_t* palette;
    std::uint32_t sequence; // fcTL and fdAT share one numbering from 0
    bool failed;
    bool no_memory; // set with failed
};

void put_control(encoder_t* e, int x, int y, int width, int height, std::int64_t delay) {
    std::array<unsigned char, 26> c{};
    put_be32(&c[0], e->sequence++);
    put_be32(&c[4], static_cast<std::uint32_t>(width));
    put_be32(&c[8], static_cast<std::uint32_t>(height));
    put_be32(&c[12], static_cast<std::uint32_t>(x));
    put_be32(&c[16], static_cast<std::uint32_t>(y));
    put_be16(&c[20], static_cast<unsigned>(delay));
    put_be16(&c[22], DELAY_DENOMINATOR);
    c[24] = DISPOSE_NONE;
    c[25] = BLEND_SOURCE;
    if (pngfile_write_chunk("fcTL", c.data(), c.size(), e->apng->func, e->apng->ctx) != 0) {
        e->failed = true;
    }
}

void put_pixels(encoder_t* e, const unsigned char* rgb, int width, int height, bool first) {
    const int status =
        pngfile_write_pixels(rgb, width, height, e->palette, first ? nullptr : &e->sequence,
                             e->apng->func, e->apng->ctx);
    e->failed = e->failed || status != 0;
    e->no_memory = e->no_memory || status == BMP_NO_MEMORY;
}

int write_file(encoder_t* e) {
    const animframes_t& frames = e->apng->frames;
    std::int64_t count = 0;
    for (const animframes_frame_t& f : frames.frames) {
        pngfile_palette_gather(e->palette, frames.pixels.data() + f.offset, f.width, f.height);
        count += parts_of(f.ticks);
    }
    if (count > 0x7FFFFFFF) {
        return ANIMFRAMES_BAD_SIZE;
    }
    if (pngfile_write_head(frames.width, frames.height, e->palette, e->apng->func, e->apng->ctx) !=
        0) {
        return ANIMFRAMES_WRITE_ERROR;
    }
    std::array<unsigned char, 8> actl{};
    put_be32(&actl[0], static_cast<std::uint32_t>(count));
    put_be32(&actl[4], static_cast<std::uint32_t>(e->apng->plays));
    e->failed =
        pngfile_write_chunk("acTL", actl.data(), actl.size(), e->apng->func, e->apng->ctx) != 0;
    std::array<unsigned char, 3> corner{}; // the top left pixel as the frames leave it
    for (std::size_t i = 0; i < frames.frames.size() && !e->failed; ++i) {
        const animframes_frame_t& f = frames.frames[i];
        std::int64_t left = f.ticks;
        const std::int64_t first = left < MAX_DELAY ? left : MAX_DELAY;
        const unsigned char* rgb = frames.pixels.data() + f.offset;
        put_control(e, f.x, f.y, f.width, f.height, first);
        put_pixels(e, rgb, f.width, f.height, i == 0);
        if (f.x == 0 && f.y == 0) {
            corner = {rgb[0], rgb[1], rgb[2]};
        }
        for (left -= first; left > 0 && !e->failed; left -= MAX_DELAY) {
            put_control(e, 0, 0, 1, 1, left < MAX_DELAY ? left : MAX_DELAY);
            put_pixels(e, corner.data(), 1, 1, false);
        }
    }
    if (!e->failed && pngfile_write_chunk("IEND", nullptr, 0, e->apng->func, e->apng->ctx) != 0) {
        e->failed = true;
    }
    if (e->no_memory) {
        return ANIMFRAMES_NO_MEMORY;
    }
    return e->failed ? ANIMFRAMES_WRITE_ERROR : ANIMFRAMES_OK;
}

} // namespace

int apngfile_begin(apngfile_t* apng, int width, int height, int plays, bmpfile_write_func_t func,
                   void* ctx) {
    apng->plays = plays < 0 ? 0 : plays;
    apng->func = func;
    apng->ctx = ctx;
    return animframes_begin(&apng->frames, width, height, MAX_SIDE, TICK_US);
}

int apngfile_add_frame(apngfile_t* apng, const unsigned char* rgb, std::int64_t duration_us) {
    return animframes_add(&apng->frames, rgb, duration_us);
}

int apngfile_end(apngfile_t* apng) {
    int status = animframes_finish(&apng->frames);
    auto* palette = static_cast<pngfile_palette_t*>(std::calloc(1, sizeof(pngfile_palette_t)));
    if (status == ANIMFRAMES_OK && palette == nullptr) {
        status = ANIMFRAMES_NO_MEMORY;
    }
    if (status == ANIMFRAMES_OK) {
        encoder_t e{apng, palette, 0, false, false};
        status = write_file(&e);
    }
    std::free(palette);
    apngfile_discard(apng);
    return status;
}

void apngfile_discard(apngfile_t* apng) {
    animframes_free(&apng->frames);
}

} // namespace vimbra
