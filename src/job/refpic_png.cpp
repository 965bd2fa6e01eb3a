// The PNG half of the reference reader. libpng decodes a stream of the file: nothing but
// the header, the palette, the transparency and the image data is kept, and the samples are
// compared as stored, with no gamma or colour correction.
#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "job/refpic.hpp"

namespace vimbra {

namespace {

// Chunks a comparison has no use for: skipped unread, however many or large (a compressed
// text chunk is never inflated). The list is libpng's form, 4 letters and a NUL each.
constexpr png_byte IGNORED_CHUNKS[] = "tEXt\0zTXt\0iTXt\0iCCP\0sPLT\0eXIf\0gAMA\0cHRM\0sRGB\0"
                                      "bKGD\0hIST\0pHYs\0oFFs\0pCAL\0sCAL\0sBIT\0tIME";
constexpr int IGNORED_CHUNK_COUNT = 17;
constexpr png_alloc_size_t CHUNK_MALLOC_MAX = 8u << 20; // a chunk libpng may hold
constexpr png_uint_32 CHUNK_CACHE_MAX = 16;             // chunks libpng may keep
constexpr png_uint_32 SIDE_LIMIT = 1000000;

struct stream_t {
    refpic_read_func_t read;
    void* ctx;
    char* message;
    int capacity;
    bool no_memory;
};

[[noreturn]] void on_error(png_structp png, png_const_charp text) {
    auto* s = static_cast<stream_t*>(png_get_error_ptr(png));
    std::snprintf(s->message, static_cast<std::size_t>(s->capacity), "bad PNG file: %s", text);
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

// A 16-bit sample to 8 bits, rounded to the nearest: v * 255 / 65535, so that 257 * k gives
// exactly k.
unsigned to_8(std::uint32_t v, int depth) {
    return depth == 16 ? (v * 255 + 32767) / 65535 : v;
}

// One decoded row (RGB or RGBA, 8 or 16 bits a sample, big-endian) to RGB, a transparent
// pixel seen over black: each colour sample times alpha, rounded, in the stored depth.
void row_to_rgb(const png_byte* in, int width, int channels, int depth, unsigned char* out) {
    const int bytes = depth / 8;
    const std::uint32_t max = depth == 16 ? 65535 : 255;
    for (int x = 0; x < width; ++x) {
        std::uint32_t sample[4] = {0, 0, 0, max};
        for (int c = 0; c < channels; ++c) {
            sample[c] = bytes == 2 ? static_cast<std::uint32_t>(in[0] << 8 | in[1]) : in[0];
            in += bytes;
        }
        for (int c = 0; c < 3; ++c) {
            const std::uint64_t v =
                (std::uint64_t{sample[c]} * sample[3] + max / 2) / max; // over black
            *out++ = static_cast<unsigned char>(to_8(static_cast<std::uint32_t>(v), depth));
        }
    }
}

// What the progressive reader's callbacks share.
struct decoding_t {
    stream_t* stream;
    refpic_t* pic;
    int want_width;
    int want_height;
    bool sized; // the header is read and the size is not the one wanted: nothing decoded
    bool done;  // every row is in
    bool interlaced;
    int channels;
    int depth;
    std::size_t row_bytes;
    png_bytep rows; // an interlaced picture's rows as decoded so far
};

decoding_t* decoding_of(png_structp png) {
    return static_cast<decoding_t*>(png_get_progressive_ptr(png));
}

// The header: a picture of another size is never decoded, however large it claims to be.
void on_info(png_structp png, png_infop info) {
    decoding_t* d = decoding_of(png);
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int depth = 0;
    int color = 0;
    int interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &color, &interlace, nullptr, nullptr);
    d->pic->width = static_cast<int>(width);
    d->pic->height = static_cast<int>(height);
    if (width != static_cast<png_uint_32>(d->want_width) ||
        height != static_cast<png_uint_32>(d->want_height)) {
        d->sized = true;
        png_longjmp(png, 1);
    }
    if (color == PNG_COLOR_TYPE_PALETTE) {
        png_set_palette_to_rgb(png);
    }
    if (color == PNG_COLOR_TYPE_GRAY && depth < 8) {
        png_set_expand_gray_1_2_4_to_8(png);
    }
    if (png_get_valid(png, info, PNG_INFO_tRNS) != 0) {
        png_set_tRNS_to_alpha(png);
    }
    if ((color & PNG_COLOR_MASK_COLOR) == 0) {
        png_set_gray_to_rgb(png);
    }
    d->interlaced = png_set_interlace_handling(png) > 1;
    png_read_update_info(png, info);
    d->channels = png_get_channels(png, info);
    d->depth = png_get_bit_depth(png, info);
    d->row_bytes = png_get_rowbytes(png, info);
    d->pic->rgb = static_cast<unsigned char*>(std::malloc(std::size_t{width} * height * 3));
    if (d->interlaced) {
        d->rows = static_cast<png_bytep>(std::calloc(height, d->row_bytes));
    }
    if (d->pic->rgb == nullptr || (d->interlaced && d->rows == nullptr) ||
        (d->channels != 3 && d->channels != 4)) {
        d->stream->no_memory = d->channels == 3 || d->channels == 4;
        png_error(png, "unexpected sample layout");
    }
}

// A row as it is decoded. Once the last row is in, decoding stops there: whatever follows in
// the image data is never inflated.
void on_row(png_structp png, png_bytep row, png_uint_32 y, int pass) {
    decoding_t* d = decoding_of(png);
    const auto height = static_cast<png_uint_32>(d->want_height);
    if (row == nullptr || y >= height) {
        return;
    }
    const std::size_t rgb_row = static_cast<std::size_t>(d->want_width) * 3;
    if (!d->interlaced) {
        row_to_rgb(row, d->want_width, d->channels, d->depth, d->pic->rgb + rgb_row * y);
        if (y + 1 == height) {
            d->done = true;
            png_longjmp(png, 1);
        }
        return;
    }
    png_progressive_combine_row(png, d->rows + d->row_bytes * y, row);
    (void)pass;
}

// The image data ended: whole only when libpng is past the last pass (a picture that is not
// interlaced has stopped at its last row already).
void on_end(png_structp png, png_infop) {
    decoding_t* d = decoding_of(png);
    if (!d->interlaced || png_get_current_pass_number(png) < 7) {
        png_error(png, "Not enough image data");
    }
    d->done = true;
    png_longjmp(png, 1);
}

// An interlaced picture is whole only after its last pass.
void finish_interlaced(decoding_t* d) {
    const std::size_t rgb_row = static_cast<std::size_t>(d->want_width) * 3;
    for (int y = 0; y < d->want_height; ++y) {
        row_to_rgb(d->rows + d->row_bytes * static_cast<std::size_t>(y), d->want_width, d->channels,
                   d->depth, d->pic->rgb + rgb_row * static_cast<std::size_t>(y));
    }
}

constexpr std::size_t FEED_BYTES = 16 * 1024;

// Feeds the file to the progressive reader behind a jump buffer, where no object with a
// destructor lives; the callbacks jump back when the size is wrong or the rows are in.
int feed(png_structp png, png_infop info, decoding_t* d, png_bytep buffer) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return d->sized || d->done    ? REFPIC_OK
               : d->stream->no_memory ? REFPIC_NO_MEMORY
                                      : REFPIC_REFUSED;
    }
    for (;;) {
        const std::size_t n = d->stream->read(buffer, FEED_BYTES, d->stream->ctx);
        if (n == 0) {
            // All of an interlaced picture's passes are in when libpng is past the last.
            if (d->interlaced && png_get_current_pass_number(png) >= 7) {
                d->done = true;
                return REFPIC_OK;
            }
            png_error(png, "read beyond end of data");
        }
        png_process_data(png, info, buffer, n);
    }
}

// The decoding: REFPIC_OK with the pixels, or with the size alone when it is not the one
// wanted; the pixels are released on any failure.
int decode(png_structp png, png_infop info, stream_t* s, int want_width, int want_height,
           refpic_t* pic) {
    decoding_t d{s, pic, want_width, want_height, false, false, false, 0, 0, 0, nullptr};
    png_set_progressive_read_fn(png, &d, on_info, on_row, on_end);
    auto* buffer = static_cast<png_bytep>(std::malloc(FEED_BYTES));
    int status = buffer != nullptr ? feed(png, info, &d, buffer) : REFPIC_NO_MEMORY;
    if (status == REFPIC_OK && d.done && d.interlaced) {
        finish_interlaced(&d);
    }
    if (status != REFPIC_OK || d.sized) {
        std::free(pic->rgb);
        pic->rgb = nullptr;
    }
    std::free(d.rows);
    std::free(buffer);
    return status;
}

} // namespace

int refpic_read_png(refpic_read_func_t read, void* ctx, int want_width, int want_height,
                    refpic_t* pic, char* message, int message_capacity) {
    stream_t stream{read, ctx, message, message_capacity, false};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &stream, on_error, on_warning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return REFPIC_NO_MEMORY;
    }
    const auto side = [](int want) {
        return want > 0 && static_cast<png_uint_32>(want) > SIDE_LIMIT
                   ? static_cast<png_uint_32>(want)
                   : SIDE_LIMIT;
    };
    png_set_user_limits(png, side(want_width), side(want_height));
    png_set_chunk_malloc_max(png, CHUNK_MALLOC_MAX);
    png_set_chunk_cache_max(png, CHUNK_CACHE_MAX);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, IGNORED_CHUNKS, IGNORED_CHUNK_COUNT);
    const int status = decode(png, info, &stream, want_width, want_height, pic);
    png_destroy_read_struct(&png, &info, nullptr);
    return status;
}

} // namespace vimbra
