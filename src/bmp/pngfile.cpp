#include "bmp/pngfile.hpp"

#include <zlib.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace vimbra {

namespace {

constexpr std::array<unsigned char, 8> SIGNATURE{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr int MAX_PALETTE = PNGFILE_MAX_PALETTE;
constexpr unsigned char COLOR_TYPE_RGB = 2;
constexpr unsigned char COLOR_TYPE_PALETTE = 3;
constexpr std::size_t IDAT_BYTES = 64 * 1024; // deflated bytes per IDAT chunk

enum filter_t : unsigned char {
    FILTER_NONE = 0,
    FILTER_SUB = 1,
    FILTER_UP = 2,
    FILTER_AVERAGE = 3,
    FILTER_PAETH = 4,
};

enum filter_mode_t { FILTER_MODE_NONE, FILTER_MODE_ADAPTIVE };

// zlib settings, chosen by measurement against optipng -o2 on the shipped examples and the
// benchmark pictures: the strongest level, the default window and memory.
constexpr int ZLIB_LEVEL = 9;
constexpr int ZLIB_WINDOW_BITS = 15;
constexpr int ZLIB_MEM_LEVEL = 8;
// Indexed rows of this many bytes and more are filtered adaptively (see choose_mode).
constexpr std::size_t ADAPTIVE_ROW_BYTES = 512;

// PNG numbers are big-endian: the only place where they are split into bytes.
std::array<unsigned char, 4> put_be32(std::uint32_t value) {
    return {static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
            static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
}

std::uint32_t color_key(const unsigned char* pixel) {
    return static_cast<std::uint32_t>(pixel[0]) << 16 | static_cast<std::uint32_t>(pixel[1]) << 8 |
           pixel[2];
}

std::size_t slot_of(std::uint32_t key) {
    return (key * 2654435761U >> 16) & (pngfile_palette_t::SLOTS - 1);
}

// The palette index of a colour, adding it when new; -1 once past 256 colours.
int palette_index(pngfile_palette_t* p, std::uint32_t key) {
    std::size_t slot = slot_of(key);
    while (p->keys[slot] != 0) {
        if (p->keys[slot] == key + 1) {
            return p->index[slot];
        }
        slot = (slot + 1) & (pngfile_palette_t::SLOTS - 1);
    }
    if (p->count >= MAX_PALETTE) {
        p->count = MAX_PALETTE + 1;
        return -1;
    }
    p->keys[slot] = key + 1;
    p->index[slot] = static_cast<unsigned char>(p->count);
    p->colors[static_cast<std::size_t>(p->count)] = key;
    return p->count++;
}

// Gathers the colours; stops early past 256. A row equal to the one above adds nothing,
// and neither does a pixel equal to its left neighbour, so an LCD picture costs little.
void count_colors(const unsigned char* rgb, int width, int height, pngfile_palette_t* p) {
    const std::size_t row_bytes = static_cast<std::size_t>(width) * 3;
    for (int y = 0; y < height && p->count <= MAX_PALETTE; ++y) {
        const unsigned char* row = rgb + static_cast<std::size_t>(y) * row_bytes;
        if (y > 0 && std::memcmp(row, row - row_bytes, row_bytes) == 0) {
            continue;
        }
        std::uint32_t last = color_key(row) + 1; // differs from the first pixel's key
        for (int x = 0; x < width; ++x) {
            const std::uint32_t key = color_key(row + 3 * static_cast<std::size_t>(x));
            if (key != last && palette_index(p, key) < 0) {
                return;
            }
            last = key;
        }
    }
}

int bit_depth_for(int colors) {
    if (colors <= 2) {
        return 1;
    }
    if (colors <= 4) {
        return 2;
    }
    return colors <= 16 ? 4 : 8;
}

// Everything one file needs while its rows are made and deflated.
struct encoder_t {
    bmpfile_write_func_t func;
    void* ctx;
    bool failed;
    bool no_memory; // set with failed when zlib could not have its memory
    const unsigned char* rgb;
    int width;
    int height;
    pngfile_palette_t* palette; // nullptr for truecolour
    int depth;                  // bits per palette index, or 8 for truecolour
    std::size_t row_bytes;      // packed bytes of one row, filter byte not counted
    std::size_t bpp;            // bytes to the left neighbour used by the filters: 1 or 3
    unsigned char* rows;        // four rows of 1 + row_bytes: previous, current, two filtered
    unsigned char* out;         // IDAT_BYTES of deflated data
    std::uint32_t* sequence;    // animation frames: fdAT chunks, numbered from *sequence on
    z_stream zs;
};

void emit(encoder_t* e, const void* data, std::size_t size) {
    if (!e->failed && size > 0 && e->func(data, static_cast<std::uint32_t>(size), e->ctx) == 0) {
        e->failed = true;
    }
}

// A chunk whose data is `prefix_size` bytes of `prefix` and then `size` bytes of `data`.
void emit_chunk(encoder_t* e, const char* type, const unsigned char* prefix,
                std::size_t prefix_size, const unsigned char* data, std::size_t size) {
    const auto* type_bytes = reinterpret_cast<const unsigned char*>(type);
    uLong crc = crc32(0L, type_bytes, 4);
    // crc32 given no data returns its starting value, not crc
    if (prefix_size > 0) {
        crc = crc32(crc, prefix, static_cast<uInt>(prefix_size));
    }
    if (size > 0) {
        crc = crc32(crc, data, static_cast<uInt>(size));
    }
    emit(e, put_be32(static_cast<std::uint32_t>(prefix_size + size)).data(), 4);
    emit(e, type_bytes, 4);
    emit(e, prefix, prefix_size);
    emit(e, data, size);
    emit(e, put_be32(static_cast<std::uint32_t>(crc)).data(), 4);
}

void emit_chunk(encoder_t* e, const char* type, const unsigned char* data, std::size_t size) {
    emit_chunk(e, type, nullptr, 0, data, size);
}

// Image data: IDAT, or for an animation frame fdAT led by the next sequence number.
void emit_data_chunk(encoder_t* e, const unsigned char* data, std::size_t size) {
    if (e->sequence == nullptr) {
        emit_chunk(e, "IDAT", data, size);
        return;
    }
    const auto number = put_be32((*e->sequence)++);
    emit_chunk(e, "fdAT", number.data(), number.size(), data, size);
}

void emit_header(encoder_t* e) {
    emit(e, SIGNATURE.data(), SIGNATURE.size());
    std::array<unsigned char, 13> ihdr{};
    const auto w = put_be32(static_cast<std::uint32_t>(e->width));
    const auto h = put_be32(static_cast<std::uint32_t>(e->height));
    std::memcpy(&ihdr[0], w.data(), 4);
    std::memcpy(&ihdr[4], h.data(), 4);
    ihdr[8] = static_cast<unsigned char>(e->depth);
    ihdr[9] = e->palette != nullptr ? COLOR_TYPE_PALETTE : COLOR_TYPE_RGB;
    // compression 0 (deflate), filter method 0, interlace 0 (none)
    emit_chunk(e, "IHDR", ihdr.data(), ihdr.size());
    if (e->palette != nullptr) {
        std::array<unsigned char, 3 * MAX_PALETTE> plte{};
        const pngfile_palette_t& p = *e->palette;
        for (int i = 0; i < p.count; ++i) {
            const std::uint32_t c = p.colors[static_cast<std::size_t>(i)];
            plte[3 * static_cast<std::size_t>(i)] = static_cast<unsigned char>(c >> 16);
            plte[3 * static_cast<std::size_t>(i) + 1] = static_cast<unsigned char>(c >> 8);
            plte[3 * static_cast<std::size_t>(i) + 2] = static_cast<unsigned char>(c);
        }
        emit_chunk(e, "PLTE", plte.data(), 3 * static_cast<std::size_t>(p.count));
    }
}

// Packs picture row y into `packed`: palette indices, most significant bits first, the last
// byte's unused bits zero; or the RGB bytes as they are.
void pack_row(const encoder_t* e, int y, unsigned char* packed) {
    const unsigned char* src = e->rgb + static_cast<std::size_t>(y) * e->width * 3;
    if (e->palette == nullptr) {
        std::memcpy(packed, src, e->row_bytes);
        return;
    }
    pngfile_palette_t* p = e->palette;
    const int depth = e->depth;
    const int per_byte = 8 / depth;
    std::uint32_t last_key = color_key(src) + 1;
    unsigned last_index = 0;
    unsigned acc = 0;
    int in_acc = 0;
    for (int x = 0; x < e->width; ++x) {
        const std::uint32_t key = color_key(src + 3 * static_cast<std::size_t>(x));
        if (key != last_key) {
            last_key = key;
            last_index = static_cast<unsigned>(palette_index(p, key));
        }
        acc = acc << depth | last_index;
        if (++in_acc == per_byte) {
            *packed++ = static_cast<unsigned char>(acc);
            acc = 0;
            in_acc = 0;
        }
    }
    if (in_acc > 0) {
        *packed = static_cast<unsigned char>(acc << (depth * (per_byte - in_acc)));
    }
}

// Feeds bytes to deflate; every full output buffer becomes an IDAT chunk.
void deflate_bytes(encoder_t* e, const unsigned char* data, std::size_t size, int flush) {
    e->zs.next_in = const_cast<Bytef*>(data); // zlib's interface is not const, it only reads
    e->zs.avail_in = static_cast<uInt>(size);
    for (;;) {
        const int status = deflate(&e->zs, flush);
        if (status == Z_STREAM_ERROR) {
            e->failed = true;
            return;
        }
        if (e->zs.avail_out == 0) {
            emit_data_chunk(e, e->out, IDAT_BYTES);
            e->zs.next_out = e->out;
            e->zs.avail_out = IDAT_BYTES;
            continue;
        }
        if (flush == Z_FINISH ? status == Z_STREAM_END : e->zs.avail_in == 0) {
            return;
        }
    }
}

unsigned char paeth(unsigned char a, unsigned char b, unsigned char c) {
    const int p = a + b - c;
    const int pa = p > a ? p - a : a - p;
    const int pb = p > b ? p - b : b - p;
    const int pc = p > c ? p - c : c - p;
    if (pa <= pb && pa <= pc) {
        return a;
    }
    return pb <= pc ? b : c;
}

// Row `cur` (filter byte at 0, then n bytes) filtered with `type` against `prev` into `out`;
// bpp is the distance to the left neighbour in bytes. Returns the sum of the filtered bytes
// read as signed, the usual guess at which filter compresses best.
std::uint32_t filter_row(filter_t type, const unsigned char* prev, const unsigned char* cur,
                         std::size_t n, std::size_t bpp, unsigned char* out) {
    out[0] = type;
    std::uint32_t sum = 0;
    for (std::size_t i = 1; i <= n; ++i) {
        const unsigned char a = i > bpp ? cur[i - bpp] : 0;
        const unsigned char b = prev[i];
        const unsigned char c = i > bpp ? prev[i - bpp] : 0;
        unsigned char predicted = 0;
        switch (type) {
        case FILTER_NONE:
            break;
        case FILTER_SUB:
            predicted = a;
            break;
        case FILTER_UP:
            predicted = b;
            break;
        case FILTER_AVERAGE:
            predicted = static_cast<unsigned char>((a + b) / 2);
            break;
        case FILTER_PAETH:
            predicted = paeth(a, b, c);
            break;
        }
        const auto v = static_cast<unsigned char>(cur[i] - predicted);
        out[i] = v;
        sum += v < 128 ? v : 256U - v;
    }
    return sum;
}

// The filtered row to deflate: with FILTER_MODE_NONE the row as it is; adaptively, the filter
// whose output has the smallest signed sum. A row equal to the one above takes "up" (all
// zeros) without trying the others.
const unsigned char* choose_filter(encoder_t* e, filter_mode_t mode, bool same_as_above,
                                   const unsigned char* prev, unsigned char* cur,
                                   unsigned char* scratch) {
    const std::size_t n = e->row_bytes;
    const std::size_t stride = 1 + n;
    if (mode == FILTER_MODE_NONE) {
        cur[0] = FILTER_NONE;
        return cur;
    }
    if (same_as_above) {
        std::memset(scratch, 0, stride);
        scratch[0] = FILTER_UP;
        return scratch;
    }
    unsigned char* best = scratch;
    unsigned char* trial = scratch + stride;
    std::uint32_t best_sum = filter_row(FILTER_NONE, prev, cur, n, e->bpp, best);
    for (filter_t type : {FILTER_SUB, FILTER_UP, FILTER_AVERAGE, FILTER_PAETH}) {
        const std::uint32_t sum = filter_row(type, prev, cur, n, e->bpp, trial);
        if (sum < best_sum) {
            best_sum = sum;
            std::swap(best, trial);
        }
    }
    return best;
}

// Packs, filters and deflates every row, then finishes the deflate stream.
void deflate_rows(encoder_t* e, filter_mode_t mode) {
    const std::size_t stride = 1 + e->row_bytes;
    unsigned char* prev = e->rows;
    unsigned char* cur = e->rows + stride;
    unsigned char* scratch = e->rows + 2 * stride; // two rows
    std::memset(prev, 0, stride);
    const std::size_t src_bytes = static_cast<std::size_t>(e->width) * 3;
    for (int y = 0; y < e->height && !e->failed; ++y) {
        const unsigned char* src = e->rgb + static_cast<std::size_t>(y) * src_bytes;
        const bool same = y > 0 && std::memcmp(src, src - src_bytes, src_bytes) == 0;
        if (same) {
            std::memcpy(cur, prev, stride);
        } else {
            pack_row(e, y, cur + 1);
        }
        const unsigned char* filtered = choose_filter(e, mode, same, prev, cur, scratch);
        deflate_bytes(e, filtered, stride, Z_NO_FLUSH);
        std::swap(prev, cur);
    }
    deflate_bytes(e, nullptr, 0, Z_FINISH);
    const std::size_t tail = IDAT_BYTES - e->zs.avail_out;
    if (tail > 0) {
        emit_data_chunk(e, e->out, tail);
    }
}

bool deflate_start(encoder_t* e) {
    e->zs = z_stream{};
    const int status = deflateInit2(&e->zs, ZLIB_LEVEL, Z_DEFLATED, ZLIB_WINDOW_BITS,
                                    ZLIB_MEM_LEVEL, Z_DEFAULT_STRATEGY);
    if (status != Z_OK) {
        e->no_memory = status == Z_MEM_ERROR;
        return false;
    }
    e->zs.next_out = e->out;
    e->zs.avail_out = IDAT_BYTES;
    return true;
}

// Filters by measurement against optipng -o2 on LCD pictures of many sizes: unfiltered rows
// make the smallest files of short indexed rows, adaptive filters of long ones (a row
// repeated costs far-distance matches unless "up" turns it into zeros; the two cross near
// 1000 pixels at 4 bits) and of truecolour.
filter_mode_t choose_mode(const encoder_t* e) {
    if (e->palette != nullptr && e->row_bytes < ADAPTIVE_ROW_BYTES) {
        return FILTER_MODE_NONE;
    }
    return FILTER_MODE_ADAPTIVE;
}

void emit_image_data(encoder_t* e) {
    if (!deflate_start(e)) {
        e->failed = true;
        return;
    }
    deflate_rows(e, choose_mode(e));
    deflateEnd(&e->zs);
}

// Sets the encoder's format for a picture of `width` pixels a row: indexed at the smallest
// depth that holds the palette, or truecolour when there is none or it overflowed.
void set_format(encoder_t* e, pngfile_palette_t* palette, int width) {
    if (palette != nullptr && palette->count <= MAX_PALETTE) {
        e->palette = palette;
        e->depth = bit_depth_for(palette->count);
        e->bpp = 1;
        e->row_bytes =
            (static_cast<std::size_t>(width) * static_cast<std::size_t>(e->depth) + 7) / 8;
    } else {
        e->depth = 8;
        e->bpp = 3;
        e->row_bytes = static_cast<std::size_t>(width) * 3;
    }
}

// Runs `body` with the row and output buffers; 0, or -1 when memory was short or a byte
// was refused.
template <typename body_t> int with_buffers(encoder_t* e, body_t body) {
    const std::size_t stride = 1 + e->row_bytes;
    e->rows = static_cast<unsigned char*>(std::malloc(4 * stride));
    e->out = static_cast<unsigned char*>(std::malloc(IDAT_BYTES));
    const bool ready = e->rows != nullptr && e->out != nullptr;
    if (ready) {
        body();
    }
    std::free(e->rows);
    std::free(e->out);
    if (!ready || e->no_memory) {
        return BMP_NO_MEMORY;
    }
    return e->failed ? -1 : 0;
}

} // namespace

void pngfile_palette_gather(pngfile_palette_t* palette, const unsigned char* rgb, int width,
                            int height) {
    count_colors(rgb, width, height, palette);
}

int pngfile_palette_index(pngfile_palette_t* palette, const unsigned char* pixel) {
    return palette_index(palette, color_key(pixel));
}

int pngfile_write_head(int width, int height, pngfile_palette_t* palette, bmpfile_write_func_t func,
                       void* ctx) {
    encoder_t e{};
    e.func = func;
    e.ctx = ctx;
    e.width = width;
    e.height = height;
    set_format(&e, palette, width);
    emit_header(&e);
    return e.failed ? -1 : 0;
}

int pngfile_write_chunk(const char* type, const unsigned char* data, std::size_t size,
                        bmpfile_write_func_t func, void* ctx) {
    encoder_t e{};
    e.func = func;
    e.ctx = ctx;
    emit_chunk(&e, type, data, size);
    return e.failed ? -1 : 0;
}

namespace {

// An encoder over `rgb` whose output format follows `palette` (see set_format).
encoder_t start_encoder(const unsigned char* rgb, int width, int height, pngfile_palette_t* palette,
                        bmpfile_write_func_t func, void* ctx) {
    encoder_t e{};
    e.func = func;
    e.ctx = ctx;
    e.rgb = rgb;
    e.width = width;
    e.height = height;
    set_format(&e, palette, width);
    return e;
}

} // namespace

int pngfile_write_pixels(const unsigned char* rgb, int width, int height,
                         pngfile_palette_t* palette, std::uint32_t* sequence,
                         bmpfile_write_func_t func, void* ctx) {
    encoder_t e = start_encoder(rgb, width, height, palette, func, ctx);
    e.sequence = sequence;
    return with_buffers(&e, [&e] { emit_image_data(&e); });
}

int pngfile_write_rgb(const unsigned char* rgb, int width, int height, bmpfile_write_func_t func,
                      void* ctx) {
    if (rgb == nullptr || width < 1 || height < 1) {
        return -1;
    }
    auto* palette = static_cast<pngfile_palette_t*>(std::calloc(1, sizeof(pngfile_palette_t)));
    if (palette == nullptr) {
        return BMP_NO_MEMORY;
    }
    count_colors(rgb, width, height, palette);
    encoder_t e = start_encoder(rgb, width, height, palette, func, ctx);
    const int status = with_buffers(&e, [&e] {
        emit_header(&e);
        emit_image_data(&e);
        emit_chunk(&e, "IEND", nullptr, 0);
    });
    std::free(palette);
    return status;
}

} // namespace vimbra
