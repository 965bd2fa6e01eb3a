#include "job/refpic.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>

#include "bmp/bmpfile.hpp"
#include "bmp/bmplowio.hpp"

namespace vimbra {

namespace {

constexpr std::array<unsigned char, 8> PNG_SIGNATURE{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::uint16_t BMP_MAGIC = 0x4D42; // "BM"
constexpr std::int64_t MAX_SIDE = 65535;

int refuse(char* message, int capacity, const char* text) {
    std::snprintf(message, static_cast<std::size_t>(capacity), "%s", text);
    return REFPIC_REFUSED;
}

// Bytes of an open file through a 64 KiB buffer, for the BMP reader's small reads.
struct chunk_reader_t {
    std::FILE* file;
    std::array<unsigned char, 64 * 1024> buffer;
    std::size_t fill;
    std::size_t at;
    bool failed; // a read error, not the end of the file
};

bool chunk_take(chunk_reader_t* reader, unsigned char* data, std::uint32_t size) {
    while (size > 0) {
        if (reader->at == reader->fill) {
            reader->fill =
                std::fread(reader->buffer.data(), 1, reader->buffer.size(), reader->file);
            reader->at = 0;
            if (reader->fill == 0) {
                reader->failed = std::ferror(reader->file) != 0;
                return false;
            }
        }
        const std::size_t n = std::min<std::size_t>(size, reader->fill - reader->at);
        std::memcpy(data, reader->buffer.data() + reader->at, n);
        reader->at += n;
        data += n;
        size -= static_cast<std::uint32_t>(n);
    }
    return true;
}

int chunk_read(void* data, std::uint32_t size, void* ctx) {
    return chunk_take(static_cast<chunk_reader_t*>(ctx), static_cast<unsigned char*>(data), size)
               ? 1
               : 0;
}

// The library's reader takes what it writes: an uncompressed 24-bit file of bottom-up rows
// right after the 54 header bytes. Anything else is refused rather than misread. The rows are
// streamed from the file, so a reference as large as the picture costs about what writing
// the picture does.
int read_bmp(chunk_reader_t* reader, int want_width, int want_height, refpic_t* pic, char* message,
             int capacity) {
    bmp_file_header_t fh{};
    bmp_info_header_t ih{};
    bmplowio_header_init(&fh, &ih);
    const std::size_t start = reader->at;
    bmplowio_header_read(chunk_read, reader, &fh, &ih);
    if (reader->at - start < BMP_HEADER_BYTES && reader->fill - start < BMP_HEADER_BYTES) {
        return reader->failed ? REFPIC_UNREADABLE : refuse(message, capacity, "truncated BMP file");
    }
    if (fh.bfType != BMP_MAGIC || ih.biSize != 40 || fh.bfOffBits != BMP_HEADER_BYTES ||
        ih.biBitCount != 24 || ih.biCompression != 0 || ih.biWidth < 1 || ih.biHeight < 1 ||
        ih.biWidth > MAX_SIDE || ih.biHeight > MAX_SIDE) {
        return refuse(message, capacity,
                      "a BMP file other than uncompressed 24-bit bottom-up rows");
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
    const int read = bmpfile_read_rgb(chunk_read, reader, pic->width, pic->height, pic->rgb);
    if (read != 0) {
        refpic_free(pic);
        pic->width = ih.biWidth;
        pic->height = ih.biHeight;
        if (read == BMP_NO_MEMORY) {
            return REFPIC_NO_MEMORY;
        }
        return reader->failed ? REFPIC_UNREADABLE : refuse(message, capacity, "truncated BMP file");
    }
    return REFPIC_OK;
}

// Bytes for the PNG decoder: what is buffered, then the file.
std::size_t png_take(unsigned char* data, std::size_t size, void* ctx) {
    auto* reader = static_cast<chunk_reader_t*>(ctx);
    if (reader->at < reader->fill) {
        const std::size_t n = std::min(size, reader->fill - reader->at);
        std::memcpy(data, reader->buffer.data() + reader->at, n);
        reader->at += n;
        return n;
    }
    const std::size_t n = std::fread(data, 1, size, reader->file);
    if (n == 0) {
        reader->failed = std::ferror(reader->file) != 0;
    }
    return n;
}

// A PNG streams through the decoder: a FIFO or a device that never ends is read only as far
// as the picture goes.
int read_png(chunk_reader_t* reader, int want_width, int want_height, refpic_t* pic, char* message,
             int capacity) {
    const int status =
        refpic_read_png(png_take, reader, want_width, want_height, pic, message, capacity);
    return status == REFPIC_REFUSED && reader->failed ? REFPIC_UNREADABLE : status;
}

} // namespace

int refpic_read(const char* path, int want_width, int want_height, refpic_t* pic, char* message,
                int message_capacity) {
    *pic = refpic_t{};
    if (message_capacity > 0) {
        message[0] = '\0';
    }
    auto* reader = static_cast<chunk_reader_t*>(std::calloc(1, sizeof(chunk_reader_t)));
    if (reader == nullptr) {
        return REFPIC_NO_MEMORY;
    }
    reader->file = std::fopen(path, "rb");
    if (reader->file == nullptr) {
        std::free(reader);
        return REFPIC_UNREADABLE;
    }
    // The first chunk tells the format; a folder opens, then its first read fails.
    reader->fill = std::fread(reader->buffer.data(), 1, reader->buffer.size(), reader->file);
    int status = REFPIC_REFUSED;
    const unsigned char* head = reader->buffer.data();
    if (std::ferror(reader->file) != 0) {
        status = REFPIC_UNREADABLE;
    } else if (reader->fill >= PNG_SIGNATURE.size() &&
               std::memcmp(head, PNG_SIGNATURE.data(), PNG_SIGNATURE.size()) == 0) {
        status = read_png(reader, want_width, want_height, pic, message, message_capacity);
    } else if (reader->fill >= 2 && head[0] == 'B' && head[1] == 'M') {
        status = read_bmp(reader, want_width, want_height, pic, message, message_capacity);
    } else {
        status = refuse(message, message_capacity, "not a PNG or BMP picture");
    }
    const int error = errno;
    std::fclose(reader->file);
    std::free(reader);
    errno = error;
    return status;
}

void refpic_free(refpic_t* pic) {
    std::free(pic->rgb);
    *pic = refpic_t{};
}

#ifdef __EMSCRIPTEN__
// The page compares no pictures, and its build carries no libpng.
int refpic_read_png(refpic_read_func_t, void*, int, int, refpic_t*, char* message,
                    int message_capacity) {
    return refuse(message, message_capacity, "PNG pictures cannot be compared in this build");
}
#endif

} // namespace vimbra
