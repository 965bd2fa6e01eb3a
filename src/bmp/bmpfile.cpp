#include "bmp/bmpfile.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

#include "bmp/bmplowio.hpp"

namespace vimbra {

namespace {

constexpr std::uint16_t BMP_MAGIC = 0x4D42; // "BM"
constexpr std::uint32_t INFO_HEADER_BYTES = 40;
constexpr std::uint16_t FILE_BIT_COUNT = 24;
constexpr int PALETTE_CAPACITY = 256; // 2^8, the largest palette
// Rows are handed on in chunks of at least this many bytes, so that a buffered byte sink of
// this size (outfile's) passes them straight to the file instead of copying them.
constexpr std::size_t CHUNK_BYTES = 64 * 1024;

// Sits between the reader and the caller's stream and remembers the first failure, so
// that reading stops there instead of decoding from bytes that never came.
struct read_guard_t {
    bmpfile_read_func_t func;
    void* ctx;
    bool failed;
};

int guarded_read(void* data, std::uint32_t size, void* ctx) {
    auto* guard = static_cast<read_guard_t*>(ctx);
    if (guard->failed) {
        return 0;
    }
    if (guard->func(data, size, guard->ctx) == 0) {
        guard->failed = true;
        return 0;
    }
    return 1;
}

// Swaps the red and blue bytes of `width` pixels: a picture row (RGB) into a file row (BGR),
// or a file row back into a picture row.
void make_bgr_row(const unsigned char* rgb, int width, unsigned char* row) {
    for (int x = 0; x < width; ++x) {
        row[0] = rgb[2];
        row[1] = rgb[1];
        row[2] = rgb[0];
        rgb += 3;
        row += 3;
    }
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VIMBRA_BGR_SHUFFLE 1
// make_bgr_row five pixels at a time with SSSE3's byte shuffle, where the processor has it:
// as fast as copying, so that rows need no comparing to be skipped. Each 16-byte load and
// store stays inside the row while a sixth pixel follows; the byte stored past the fifth
// is the next pixel's, written again by the next step or the tail.
[[gnu::target("ssse3")]] void make_bgr_row_shuffled(const unsigned char* rgb, int width,
                                                    unsigned char* row) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    int x = 0;
    for (; x + 6 <= width; x += 5) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row), _mm_shuffle_epi8(pixels, order));
        rgb += 15;
        row += 15;
    }
    make_bgr_row(rgb, width - x, row);
}

bool have_shuffle() {
    static const bool have = __builtin_cpu_supports("ssse3") != 0;
    return have;
}
#endif

} // namespace

std::int64_t bmpfile_size(int width, int height) {
    if (width < 0 || height < 0) {
        return -1;
    }
    const int image_bytes = bmplowio_calc_framebytesize(FILE_BIT_COUNT, width, height);
    return image_bytes < 0 ? -1 : std::int64_t{image_bytes} + BMP_HEADER_BYTES;
}

void bmpfile_make_headers(int width, int height, bmp_file_header_t* fh, bmp_info_header_t* ih) {
    // -1 (too large) goes into the size fields as it is; callers keep pictures smaller.
    const std::int64_t image_bytes = bmplowio_calc_framebytesize(FILE_BIT_COUNT, width, height);
    bmplowio_header_init(fh, ih);
    fh->bfType = BMP_MAGIC;
    fh->bfSize = static_cast<std::uint32_t>(image_bytes + BMP_HEADER_BYTES);
    fh->bfOffBits = BMP_HEADER_BYTES;
    ih->biSize = INFO_HEADER_BYTES;
    ih->biWidth = width;
    ih->biHeight = height;
    ih->biPlanes = 1;
    ih->biBitCount = FILE_BIT_COUNT;
    ih->biSizeImage = static_cast<std::uint32_t>(image_bytes);
}

int bmpfile_write(int width, int height, bmpfile_write_func_t func, void* ctx,
                  bmpimg_pixel_reader_t reader, void* reader_ctx) {
    return bmpfile_write_with(width, height, bmplowio_byte_sink_t{func, ctx},
                              bmplowio_pixel_source_t{reader, reader_ctx});
}

int bmpfile_write_rgb(const unsigned char* rgb, int width, int height, bmpfile_write_func_t func,
                      void* ctx) {
    bmp_file_header_t fh{};
    bmp_info_header_t ih{};
    bmpfile_make_headers(width, height, &fh, &ih);
    const bool has_rows = bmplowio_rows_move_bytes(&ih);
    const std::size_t pixel_bytes = has_rows ? static_cast<std::size_t>(width) * 3 : 0;
    const std::size_t stride =
        pixel_bytes +
        (has_rows ? static_cast<std::size_t>(bmplowio_row_padding(FILE_BIT_COUNT, width)) : 0);
    // The headers and rows gather here and leave in chunks of at least CHUNK_BYTES.
    const std::size_t capacity = CHUNK_BYTES + BMP_HEADER_BYTES + stride;
    auto* chunk = static_cast<unsigned char*>(std::malloc(capacity));
    if (chunk == nullptr) {
        return BMP_NO_MEMORY;
    }
    std::size_t fill = 0;
    bool failed = false;
    const auto flush = [&]() {
        failed = failed || (fill > 0 && func(chunk, static_cast<std::uint32_t>(fill), ctx) == 0);
        fill = 0;
    };
    auto append = [&](const void* data, std::uint32_t size) {
        std::memcpy(chunk + fill, data, size);
        fill += size;
        return 1;
    };
    bmplowio_header_write_with(&fh, &ih, append);
#ifdef VIMBRA_BGR_SHUFFLE
    const bool shuffle = have_shuffle();
#else
    const bool shuffle = false;
#endif
    const unsigned char* previous = nullptr; // the last row's file bytes, still in the chunk
    for (int y = has_rows ? height - 1 : -1; y >= 0 && !failed; --y) { // bottom row first
        const unsigned char* src = rgb + static_cast<std::size_t>(y) * pixel_bytes;
        unsigned char* row = chunk + fill;
        // Pictures of tall dots repeat rows: without the shuffle, comparing costs less than
        // converting.
        if (shuffle) {
#ifdef VIMBRA_BGR_SHUFFLE
            make_bgr_row_shuffled(src, width, row);
#endif
        } else if (previous != nullptr &&
                   std::memcmp(src, src + pixel_bytes, pixel_bytes) == 0) {
            std::memmove(row, previous, pixel_bytes); // may overlap after a flush
        } else {
            make_bgr_row(src, width, row);
        }
        std::memset(row + pixel_bytes, 0, stride - pixel_bytes);
        previous = row;
        fill += stride;
        if (fill >= CHUNK_BYTES) {
            flush();
        }
    }
    flush();
    std::free(chunk);
    return failed ? -1 : 0;
}

int bmpfile_read_rgb(bmpfile_read_func_t func, void* ctx, int width, int height,
                     unsigned char* rgb) {
    if (width < 1 || height < 1) {
        return 0;
    }
    const std::size_t pixel_bytes = static_cast<std::size_t>(width) * 3;
    const std::size_t stride =
        pixel_bytes + static_cast<std::size_t>(bmplowio_row_padding(FILE_BIT_COUNT, width));
    auto* row = static_cast<unsigned char*>(std::malloc(stride));
    if (row == nullptr) {
        return BMP_NO_MEMORY;
    }
    int status = 0;
    for (int y = height - 1; y >= 0; --y) { // bottom row first
        if (func(row, static_cast<std::uint32_t>(stride), ctx) == 0) {
            status = -1;
            break;
        }
        make_bgr_row(row, width, rgb + static_cast<std::size_t>(y) * pixel_bytes); // swaps back
    }
    std::free(row);
    return status;
}

// The headers start zeroed and reading ends at the first failed read; nothing is
// allocated from header values.
int bmpfile_read(bmpfile_read_func_t func, void* ctx, bmpimg_pixel_writer_t writer,
                 void* writer_ctx) {
    read_guard_t guard{func, ctx, false};
    bmp_file_header_t fh{};
    bmp_info_header_t ih{};
    bmplowio_header_init(&fh, &ih);
    bmplowio_header_read(guarded_read, &guard, &fh, &ih);
    if (guard.failed) {
        return 0;
    }
    if (bmplowio_have_palette(ih.biBitCount) != 0) {
        std::array<bmp_rgbquad_t, PALETTE_CAPACITY> palette{}; // read past, never used
        bmplowio_palette_read(guarded_read, &guard, palette.data(), 1 << ih.biBitCount);
        if (guard.failed) {
            return 0;
        }
    }
    bmplowio_image_read(guarded_read, &guard, &fh, &ih, writer, writer_ctx);
    return 0;
}

} // namespace vimbra
