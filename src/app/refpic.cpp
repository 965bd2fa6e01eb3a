#include "app/refpic.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bmp/bmpfile.hpp"
#include "bmp/bmplowio.hpp"

namespace {

constexpr std::array<unsigned char, 8> PNG_SIGNATURE{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::uint16_t BMP_MAGIC = 0x4D42; // "BM"
constexpr std::int64_t MAX_SIDE = 65535;

// A whole file in memory.
struct file_bytes_t {
    unsigned char* data;
    std::size_t size;
};

// Reads at most `limit` bytes of the file (a FIFO or a device may never end); a longer file
// is cut there, which a picture of the wanted size never is. -1 with errno on failure.
int read_file(const char* path, std::size_t limit, file_bytes_t* file) {
    *file = file_bytes_t{};
    std::FILE* fp = std::fopen(path, "rb");
    if (fp == nullptr) {
        return -1;
    }
    std::size_t capacity = 0;
    int status = 0;
    while (file->size < limit) {
        if (file->size == capacity) {
            capacity = std::min(limit, std::max<std::size_t>(64 * 1024, capacity * 2));
            auto* grown = static_cast<unsigned char*>(std::realloc(file->data, capacity));
            if (grown == nullptr) {
                errno = ENOMEM;
                status = -1;
                break;
            }
            file->data = grown;
        }
        const std::size_t n = std::fread(file->data + file->size, 1, capacity - file->size, fp);
        file->size += n;
        if (n == 0) {
            if (std::ferror(fp)) { // a folder opens, then its first read fails
                status = -1;
            }
            break;
        }
    }
    const int error = errno;
    std::fclose(fp);
    errno = error;
    return status;
}

// The stream over the file's bytes that the BMP reader pulls from.
struct memory_reader_t {
    const unsigned char* data;
    std::size_t size;
    std::size_t at;
};

int memory_read(void* data, std::uint32_t size, void* ctx) {
    auto* reader = static_cast<memory_reader_t*>(ctx);
    if (size > reader->size - reader->at) {
        return 0;
    }
    std::memcpy(data, reader->data + reader->at, size);
    reader->at += size;
    return 1;
}

void store_pixel(int x, int y, unsigned char r, unsigned char g, unsigned char b, void* ctx) {
    auto* pic = static_cast<refpic_t*>(ctx);
    if (x < 0 || y < 0 || x >= pic->width || y >= pic->height) {
        return;
    }
    unsigned char* pixel =
        pic->rgb + (static_cast<std::size_t>(y) * static_cast<std::size_t>(pic->width) +
                    static_cast<std::size_t>(x)) *
                       3;
    pixel[0] = r;
    pixel[1] = g;
    pixel[2] = b;
}

int refuse(char* message, int capacity, const char* text) {
    std::snprintf(message, static_cast<std::size_t>(capacity), "%s", text);
    return REFPIC_REFUSED;
}

// The library's reader takes what it writes: an uncompressed 24-bit file of bottom-up rows
// right after the 54 header bytes. Anything else is refused rather than misread.
int read_bmp(const file_bytes_t& file, int want_width, int want_height, refpic_t* pic,
             char* message, int capacity) {
    memory_reader_t reader{file.data, file.size, 0};
    bmp_file_header_t fh{};
    bmp_info_header_t ih{};
    bmplowio_header_init(&fh, &ih);
    bmplowio_header_read(memory_read, &reader, &fh, &ih);
    if (file.size < BMP_HEADER_BYTES) {
        return refuse(message, capacity, "truncated BMP file");
    }
    if (fh.bfType != BMP_MAGIC || ih.biSize != 40 || fh.bfOffBits != BMP_HEADER_BYTES ||
        ih.biBitCount != 24 || ih.biCompression != 0 || ih.biWidth < 1 || ih.biHeight < 1 ||
        ih.biWidth > MAX_SIDE || ih.biHeight > MAX_SIDE) {
        return refuse(message, capacity,
                      "a BMP file other than uncompressed 24-bit bottom-up rows");
    }
    const std::int64_t stride = (3 * static_cast<std::int64_t>(ih.biWidth) + 3) / 4 * 4;
    if (static_cast<std::int64_t>(file.size) < BMP_HEADER_BYTES + stride * ih.biHeight) {
        return refuse(message, capacity, "truncated BMP file");
    }
    pic->width = ih.biWidth;
    pic->height = ih.biHeight;
    if (pic->width != want_width || pic->height != want_height) {
        return REFPIC_OK;
    }
    pic->rgb = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(pic->width) *
                                                       static_cast<std::size_t>(pic->height) * 3));
    if (pic->rgb == nullptr) {
        return REFPIC_NO_MEMORY;
    }
    reader.at = 0;
    bmpfile_read(memory_read, &reader, store_pixel, pic);
    return REFPIC_OK;
}

} // namespace

int refpic_read(const char* path, int want_width, int want_height, refpic_t* pic, char* message,
                int message_capacity) {
    *pic = refpic_t{};
    if (message_capacity > 0) {
        message[0] = '\0';
    }
    // Room for the wanted picture in either format, raw rows and all, and ample metadata.
    const auto raw = static_cast<std::size_t>(std::max(want_width, 0)) * 3 + 4;
    const std::size_t limit =
        raw * static_cast<std::size_t>(std::max(want_height, 0)) * 2 + (std::size_t{16} << 20);
    file_bytes_t file{};
    if (read_file(path, limit, &file) != 0) {
        const int error = errno;
        std::free(file.data);
        errno = error;
        return error == ENOMEM ? REFPIC_NO_MEMORY : REFPIC_UNREADABLE;
    }
    int status = REFPIC_REFUSED;
    if (file.size >= PNG_SIGNATURE.size() &&
        std::memcmp(file.data, PNG_SIGNATURE.data(), PNG_SIGNATURE.size()) == 0) {
        status = refpic_read_png(file.data, file.size, want_width, want_height, pic, message,
                                 message_capacity);
    } else if (file.size >= 2 && file.data[0] == 'B' && file.data[1] == 'M') {
        status = read_bmp(file, want_width, want_height, pic, message, message_capacity);
    } else {
        status = refuse(message, message_capacity, "not a PNG or BMP picture");
    }
    std::free(file.data);
    return status;
}

void refpic_free(refpic_t* pic) {
    std::free(pic->rgb);
    *pic = refpic_t{};
}

#ifdef __EMSCRIPTEN__
// The page compares no pictures, and its build carries no libpng.
int refpic_read_png(const unsigned char*, std::size_t, int, int, refpic_t*, char* message,
                    int message_capacity) {
    return refuse(message, message_capacity, "PNG pictures cannot be compared in this build");
}
#endif
