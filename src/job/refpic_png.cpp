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

void on_read(png_structp png, png_bytep data, std::size_t size) {
    auto* s = static_cast<stream_t*>(png_get_io_ptr(png));
    while (size > 0) {
        const std::size_t n = s->read(data, size, s->ctx);
        if (n == 0) {
            png_error(png, "read beyond end of data");
        }
        data += n;
        size -= n;
    }
}

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

// The decoding behind a jump buffer: no object with a destructor lives here.
int decode(png_structp png, png_infop info, stream_t* s, int want_width, int want_height,
           refpic_t* pic) {
    png_bytep volatile rows = nullptr;
    png_bytepp volatile pointers = nullptr;
    if (setjmp(png_jmpbuf(png)) != 0) {
        std::free(rows);
        std::free(pointers);
        std::free(pic->rgb);
        pic->rgb = nullptr;
        return s->no_memory ? REFPIC_NO_MEMORY : REFPIC_REFUSED;
    }
    png_read_info(png, info);
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int depth = 0;
    int color = 0;
    int interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &color, &interlace, nullptr, nullptr);
    pic->width = static_cast<int>(width);
    pic->height = static_cast<int>(height);
    if (width != static_cast<png_uint_32>(want_width) ||
        height != static_cast<png_uint_32>(want_height)) {
        return REFPIC_OK; // never decoded, however large it claims to be
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
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const int channels = png_get_channels(png, info);
    const int out_depth = png_get_bit_depth(png, info);
    const std::size_t row_bytes = png_get_rowbytes(png, info);
    const std::size_t picture_rows = passes > 1 ? height : 1;
    rows = static_cast<png_bytep>(std::malloc(row_bytes * picture_rows));
    pic->rgb = static_cast<unsigned char*>(std::malloc(std::size_t{width} * height * 3));
    if (rows == nullptr || pic->rgb == nullptr || (channels != 3 && channels != 4)) {
        s->no_memory = rows == nullptr || pic->rgb == nullptr;
        png_error(png, "unexpected sample layout");
    }
    const std::size_t rgb_row = std::size_t{width} * 3;
    if (passes > 1) { // an interlaced picture is whole only after its last pass
        pointers = static_cast<png_bytepp>(std::malloc(sizeof(png_bytep) * height));
        if (pointers == nullptr) {
            s->no_memory = true;
            png_error(png, "out of memory");
        }
        for (png_uint_32 y = 0; y < height; ++y) {
            pointers[y] = rows + row_bytes * y;
        }
        png_read_image(png, pointers);
        for (png_uint_32 y = 0; y < height; ++y) {
            row_to_rgb(pointers[y], static_cast<int>(width), channels, out_depth,
                       pic->rgb + rgb_row * y);
        }
    } else {
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(png, rows, nullptr);
            row_to_rgb(rows, static_cast<int>(width), channels, out_depth, pic->rgb + rgb_row * y);
        }
    }
    std::free(rows);
    std::free(pointers);
    return REFPIC_OK;
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
    png_set_read_fn(png, &stream, on_read);
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
