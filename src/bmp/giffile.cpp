#include "bmp/giffile.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "bmp/pngfile.hpp"

namespace vimbra {

namespace {

constexpr std::int64_t TICK_US = 10000; // hundredths of a second
constexpr std::int64_t MAX_DELAY = 65535;
constexpr int MAX_CODES = 4096; // 12-bit LZW codes
constexpr std::size_t SUB_BLOCK = 255;

struct writer_t {
    bmpfile_write_func_t func;
    void* ctx;
    bool failed;
};

void put_bytes(writer_t* w, const void* data, std::size_t size) {
    if (!w->failed && size > 0 && w->func(data, static_cast<std::uint32_t>(size), w->ctx) == 0) {
        w->failed = true;
    }
}

void put_u8(writer_t* w, unsigned value) {
    const auto byte = static_cast<unsigned char>(value);
    put_bytes(w, &byte, 1);
}

// GIF numbers are little-endian 16-bit: the only place where they are split into bytes.
void put_u16(writer_t* w, unsigned value) {
    const std::array<unsigned char, 2> bytes{static_cast<unsigned char>(value),
                                             static_cast<unsigned char>(value >> 8)};
    put_bytes(w, bytes.data(), bytes.size());
}

// Bits for a table of `colors` entries: 1..8.
int table_bits(int colors) {
    int bits = 1;
    while ((1 << bits) < colors) {
        ++bits;
    }
    return bits;
}

// LZW with variable code widths, least significant bit first, as GIF has it: a clear code
// first, a clear code again whenever all 4096 codes are taken, the end code last. The
// dictionary is a table of (code, index) -> code: with the few colours of these pictures it
// is small, and a lookup is one read.
struct lzw_t {
    int min_bits;
    std::size_t alphabet;             // 1 << min_bits
    std::vector<std::uint16_t> child; // MAX_CODES * alphabet; 0: no entry (no code is 0 there)
    std::size_t dirty;                // rows that may hold entries
    std::vector<unsigned char>* out;
    int bits;
    int next;
    std::uint32_t acc;
    int held;
};

void lzw_start(lzw_t* z, int min_bits) {
    z->min_bits = min_bits;
    z->alphabet = std::size_t{1} << min_bits;
    z->child.assign(MAX_CODES * z->alphabet, 0);
    z->dirty = 0;
}

void lzw_reset(lzw_t* z) {
    std::fill_n(z->child.begin(), z->dirty * z->alphabet, std::uint16_t{0});
    z->dirty = 0;
    z->bits = z->min_bits + 1;
    z->next = (1 << z->min_bits) + 2;
}

void lzw_put(lzw_t* z, int code) {
    z->acc |= static_cast<std::uint32_t>(code) << z->held;
    z->held += z->bits;
    while (z->held >= 8) {
        z->out->push_back(static_cast<unsigned char>(z->acc));
        z->acc >>= 8;
        z->held -= 8;
    }
}

// Codes `count` palette indices (each below the alphabet) into `out`.
void lzw_encode(lzw_t* z, const unsigned char* indices, std::size_t count,
                std::vector<unsigned char>* out) {
    const int clear = 1 << z->min_bits;
    z->out = out;
    z->acc = 0;
    z->held = 0;
    lzw_reset(z);
    lzw_put(z, clear);
    std::size_t prefix = indices[0];
    for (std::size_t i = 1; i < count; ++i) {
        const unsigned char c = indices[i];
        std::uint16_t& entry = z->child[prefix * z->alphabet + c];
        if (entry != 0) {
            prefix = entry;
            continue;
        }
        lzw_put(z, static_cast<int>(prefix));
        if (z->next == MAX_CODES) {
            lzw_put(z, clear);
            lzw_reset(z);
        } else {
            entry = static_cast<std::uint16_t>(z->next);
            z->dirty = prefix + 1 > z->dirty ? prefix + 1 : z->dirty;
            if (z->next == 1 << z->bits) { // the decoder widens its codes here too
                ++z->bits;
            }
            ++z->next;
        }
        prefix = c;
    }
    lzw_put(z, static_cast<int>(prefix));
    lzw_put(z, clear + 1);
    if (z->held > 0) {
        out->push_back(static_cast<unsigned char>(z->acc));
    }
}

// Everything one file needs while it is written.
struct encoder_t {
    writer_t w;
    const animframes_t* frames;
    pngfile_palette_t* palette;
    int min_bits; // LZW's starting code width less one: 2..8
    bool animated;
    std::vector<unsigned char> canvas;  // the frames composed so far, RGB
    std::vector<unsigned char> indices; // one frame's rectangle
    std::vector<unsigned char> changed; // 1 where it differs from the canvas
    std::vector<unsigned char> plain;   // its LZW codes
    std::vector<unsigned char> keyed;   // its LZW codes with unchanged pixels transparent
    lzw_t lzw;
};

void put_header(encoder_t* e, int plays) {
    const int bits = table_bits(e->palette->count);
    put_bytes(&e->w, "GIF89a", 6);
    put_u16(&e->w, static_cast<unsigned>(e->frames->width));
    put_u16(&e->w, static_cast<unsigned>(e->frames->height));
    // global table present, colour resolution and table size as bits - 1, unsorted
    put_u8(&e->w, 0x80U | static_cast<unsigned>(bits - 1) << 4 | static_cast<unsigned>(bits - 1));
    put_u8(&e->w, 0); // background colour index
    put_u8(&e->w, 0); // no pixel aspect ratio
    std::array<unsigned char, 3 * 256> table{};
    for (int i = 0; i < e->palette->count; ++i) {
        const std::uint32_t c = e->palette->colors[static_cast<std::size_t>(i)];
        table[3 * static_cast<std::size_t>(i)] = static_cast<unsigned char>(c >> 16);
        table[3 * static_cast<std::size_t>(i) + 1] = static_cast<unsigned char>(c >> 8);
        table[3 * static_cast<std::size_t>(i) + 2] = static_cast<unsigned char>(c);
    }
    put_bytes(&e->w, table.data(), 3 * (std::size_t{1} << bits));
    // The loop field counts the plays after the first; one play needs no extension.
    if (e->animated && plays != 1) {
        put_bytes(&e->w, "\x21\xFF\x0BNETSCAPE2.0\x03\x01", 16);
        put_u16(&e->w, plays == 0 ? 0U : static_cast<unsigned>(plays - 1));
        put_u8(&e->w, 0);
    }
}

// The graphic control extension; `transparent` is the index for "unchanged", or -1.
void put_control(encoder_t* e, std::int64_t delay, int transparent) {
    if (!e->animated) {
        return;
    }
    put_bytes(&e->w, "\x21\xF9\x04", 3);
    put_u8(&e->w, 1U << 2 | (transparent >= 0 ? 1U : 0U)); // disposal 1: leave in place
    put_u16(&e->w, static_cast<unsigned>(delay));
    put_u8(&e->w, transparent >= 0 ? static_cast<unsigned>(transparent) : 0U);
    put_u8(&e->w, 0);
}

void put_image(encoder_t* e, int x, int y, int width, int height,
               const std::vector<unsigned char>& codes) {
    put_u8(&e->w, 0x2C);
    put_u16(&e->w, static_cast<unsigned>(x));
    put_u16(&e->w, static_cast<unsigned>(y));
    put_u16(&e->w, static_cast<unsigned>(width));
    put_u16(&e->w, static_cast<unsigned>(height));
    put_u8(&e->w, 0); // no local table, not interlaced
    put_u8(&e->w, static_cast<unsigned>(e->min_bits));
    for (std::size_t at = 0; at < codes.size(); at += SUB_BLOCK) {
        const std::size_t n = codes.size() - at < SUB_BLOCK ? codes.size() - at : SUB_BLOCK;
        put_u8(&e->w, static_cast<unsigned>(n));
        put_bytes(&e->w, codes.data() + at, n);
    }
    put_u8(&e->w, 0);
}

// Maps the frame's pixels to palette indices, marks which differ from the canvas, and
// returns the index that can stand for "unchanged": the first index of the table that no
// changed pixel uses, or -1 when they use every one.
int map_frame(encoder_t* e, const animframes_frame_t& f, const unsigned char* rgb) {
    const std::size_t stride = static_cast<std::size_t>(e->frames->width) * 3;
    std::array<bool, PNGFILE_MAX_PALETTE> used{};
    std::uint32_t last = 0xFFFFFFFFU; // no colour: the first pixel looks its index up
    unsigned char last_index = 0;
    std::size_t i = 0;
    for (int y = 0; y < f.height; ++y) {
        const unsigned char* old =
            e->canvas.data() + static_cast<std::size_t>(f.y + y) * stride + f.x * std::size_t{3};
        for (int x = 0; x < f.width; ++x, ++i, old += 3) {
            const unsigned char* now = rgb + 3 * i;
            const std::uint32_t key = static_cast<std::uint32_t>(now[0]) << 16 |
                                      static_cast<std::uint32_t>(now[1]) << 8 | now[2];
            if (key != last) {
                last = key;
                last_index = static_cast<unsigned char>(pngfile_palette_index(e->palette, now));
            }
            e->indices[i] = last_index;
            const bool changed = old[0] != now[0] || old[1] != now[1] || old[2] != now[2];
            e->changed[i] = changed;
            used[last_index] = used[last_index] || changed;
        }
    }
    const int table = 1 << table_bits(e->palette->count);
    for (int k = 0; k < table; ++k) {
        if (!used[static_cast<std::size_t>(k)]) {
            return k;
        }
    }
    return -1;
}

// One frame: its rectangle past the first frame with unchanged pixels transparent, and
// coded plainly too when most pixels changed; the smaller is written. A delay beyond the field's
// range continues in frames of one unchanged pixel.
void put_frame(encoder_t* e, std::size_t index) {
    const animframes_frame_t& f = e->frames->frames[index];
    const std::size_t count =
        static_cast<std::size_t>(f.width) * static_cast<std::size_t>(f.height);
    const unsigned char* rgb = e->frames->pixels.data() + f.offset;
    e->indices.resize(count);
    e->changed.resize(count);
    const int found = map_frame(e, f, rgb);
    const int key = index > 0 ? found : -1; // the first frame covers a blank canvas
    std::size_t unchanged = 0;
    if (key >= 0) {
        for (std::size_t i = 0; i < count; ++i) {
            unchanged += e->changed[i] == 0 ? 1 : 0;
        }
    }
    // With unchanged pixels in the majority, transparent ones code smaller; otherwise both
    // are tried.
    const bool try_plain = key < 0 || 2 * unchanged <= count;
    e->plain.clear();
    if (try_plain) {
        lzw_encode(&e->lzw, e->indices.data(), count, &e->plain);
    }
    int transparent = -1;
    if (key >= 0) {
        for (std::size_t i = 0; i < count; ++i) {
            if (e->changed[i] == 0) {
                e->indices[i] = static_cast<unsigned char>(key);
            }
        }
        e->keyed.clear();
        lzw_encode(&e->lzw, e->indices.data(), count, &e->keyed);
        transparent = !try_plain || e->keyed.size() < e->plain.size() ? key : -1;
    }
    std::int64_t left = f.ticks;
    const std::int64_t first = left < MAX_DELAY ? left : MAX_DELAY;
    put_control(e, first, transparent);
    put_image(e, f.x, f.y, f.width, f.height, transparent >= 0 ? e->keyed : e->plain);
    animframes_compose(e->frames, index, e->canvas.data());
    left -= first;
    while (left > 0) {
        const std::int64_t part = left < MAX_DELAY ? left : MAX_DELAY;
        const auto same =
            static_cast<unsigned char>(pngfile_palette_index(e->palette, e->canvas.data()));
        e->plain.clear();
        lzw_encode(&e->lzw, &same, 1, &e->plain);
        put_control(e, part, -1);
        put_image(e, 0, 0, 1, 1, e->plain);
        left -= part;
    }
}

int write_file(giffile_t* gif, encoder_t* e) {
    const animframes_t& frames = gif->frames;
    for (const animframes_frame_t& f : frames.frames) {
        pngfile_palette_gather(e->palette, frames.pixels.data() + f.offset, f.width, f.height);
    }
    const int colors = e->palette->count;
    if (colors > PNGFILE_MAX_PALETTE) {
        return ANIMFRAMES_TOO_MANY_COLORS;
    }
    const int bits = table_bits(colors);
    e->min_bits = bits < 2 ? 2 : bits;
    lzw_start(&e->lzw, e->min_bits);
    e->animated = frames.frames.size() > 1 || frames.frames[0].ticks > 0;
    e->canvas.assign(frames.latest.size(), 0);
    put_header(e, gif->plays);
    for (std::size_t i = 0; i < frames.frames.size(); ++i) {
        put_frame(e, i);
    }
    put_u8(&e->w, 0x3B);
    return e->w.failed ? ANIMFRAMES_WRITE_ERROR : ANIMFRAMES_OK;
}

} // namespace

int giffile_begin(giffile_t* gif, int width, int height, int plays, bmpfile_write_func_t func,
                  void* ctx) {
    gif->plays = plays < 0 || plays > GIFFILE_MAX_PLAYS ? 0 : plays;
    gif->func = func;
    gif->ctx = ctx;
    return animframes_begin(&gif->frames, width, height, GIFFILE_MAX_SIDE, TICK_US);
}

int giffile_add_frame(giffile_t* gif, const unsigned char* rgb, std::int64_t duration_us) {
    return animframes_add(&gif->frames, rgb, duration_us);
}

int giffile_end(giffile_t* gif) {
    int status = animframes_finish(&gif->frames);
    auto* palette = static_cast<pngfile_palette_t*>(std::calloc(1, sizeof(pngfile_palette_t)));
    if (status == ANIMFRAMES_OK && palette == nullptr) {
        status = ANIMFRAMES_NO_MEMORY;
    }
    if (status == ANIMFRAMES_OK) {
        try {
            encoder_t e{};
            e.w = writer_t{gif->func, gif->ctx, false};
            e.frames = &gif->frames;
            e.palette = palette;
            status = write_file(gif, &e);
        } catch (const std::bad_alloc&) {
            status = ANIMFRAMES_NO_MEMORY;
        }
    }
    std::free(palette);
    giffile_discard(gif);
    return status;
}

void giffile_discard(giffile_t* gif) {
    animframes_free(&gif->frames);
}

} // namespace vimbra
