// Encodes one picture's pixels as PNG with libpng, libspng and vimbra's own writer (over
// zlib) and prints each one's median time and file size, with ratios against vimbra's.
// libpng and libspng get the picture already reduced to its palette and packed at the same
// bit depth, both at zlib level 9 with all five filters tried per row; vimbra's time
// includes finding the palette. Built and run by bench/run.sh only.
// Usage: png_libs NAME PROFILE FONT ROW...
#include <png.h>
#include <spng.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "base/util.hpp"
#include "bmp/pngfile.hpp"
#include "lcd/lcdimg.hpp"

using namespace vimbra;

namespace {

using bytes_t = std::vector<unsigned char>;

struct indexed_t {
    int width;
    int height;
    int depth;
    std::vector<unsigned char> palette; // r, g, b per entry
    bytes_t rows;                       // packed, row_bytes each
    std::size_t row_bytes;
};

indexed_t to_indexed(const unsigned char* rgb, int width, int height) {
    indexed_t out{width, height, 8, {}, {}, 0};
    std::map<std::uint32_t, int> index;
    std::vector<int> pixels;
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i) {
        const std::uint32_t key = rgb[3 * i] << 16 | rgb[3 * i + 1] << 8 | rgb[3 * i + 2];
        auto [it, added] = index.emplace(key, static_cast<int>(index.size()));
        if (added) {
            out.palette.insert(out.palette.end(), {rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]});
        }
        pixels.push_back(it->second);
    }
    const int colors = static_cast<int>(index.size());
    out.depth = colors <= 2 ? 1 : colors <= 4 ? 2 : colors <= 16 ? 4 : 8;
    out.row_bytes = (static_cast<std::size_t>(width) * out.depth + 7) / 8;
    out.rows.assign(out.row_bytes * height, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int bit = x * out.depth;
            const int shift = 8 - out.depth - bit % 8;
            out.rows[y * out.row_bytes + bit / 8] |= static_cast<unsigned char>(
                pixels[static_cast<std::size_t>(y) * width + x] << shift);
        }
    }
    return out;
}

void png_append(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<bytes_t*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

bytes_t with_libpng(const indexed_t& img) {
    bytes_t out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, png_append, nullptr);
    png_set_IHDR(png, info, img.width, img.height, img.depth, PNG_COLOR_TYPE_PALETTE,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> plte;
    for (std::size_t i = 0; i < img.palette.size(); i += 3) {
        plte.push_back({img.palette[i], img.palette[i + 1], img.palette[i + 2]});
    }
    png_set_PLTE(png, info, plte.data(), static_cast<int>(plte.size()));
    png_set_compression_level(png, 9);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
    png_write_info(png, info);
    for (int y = 0; y < img.height; ++y) {
        png_write_row(png, img.rows.data() + static_cast<std::size_t>(y) * img.row_bytes);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

bytes_t with_libspng(const indexed_t& img) {
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, 9);
    spng_set_option(ctx, SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_ALL);
    spng_ihdr ihdr{};
    ihdr.width = static_cast<std::uint32_t>(img.width);
    ihdr.height = static_cast<std::uint32_t>(img.height);
    ihdr.bit_depth = static_cast<std::uint8_t>(img.depth);
    ihdr.color_type = SPNG_COLOR_TYPE_INDEXED;
    spng_set_ihdr(ctx, &ihdr);
    spng_plte plte{};
    plte.n_entries = static_cast<std::uint32_t>(img.palette.size() / 3);
    for (std::size_t i = 0; i < plte.n_entries; ++i) {
        plte.entries[i] = {img.palette[3 * i], img.palette[3 * i + 1], img.palette[3 * i + 2], 0};
    }
    spng_set_plte(ctx, &plte);
    bytes_t out;
    if (spng_encode_image(ctx, img.rows.data(), img.rows.size(), SPNG_FMT_PNG,
                          SPNG_ENCODE_FINALIZE) == 0) {
        std::size_t size = 0;
        int error = 0;
        auto* buffer = static_cast<unsigned char*>(spng_get_png_buffer(ctx, &size, &error));
        if (buffer != nullptr) {
            out.assign(buffer, buffer + size);
            std::free(buffer);
        }
    }
    spng_ctx_free(ctx);
    return out;
}

int collect(const void* data, std::uint32_t size, void* ctx) {
    auto* out = static_cast<bytes_t*>(ctx);
    const auto* p = static_cast<const unsigned char*>(data);
    out->insert(out->end(), p, p + size);
    return 1;
}

// Median seconds of `runs` calls of encode, and the bytes of the last one.
template <class Encode> double median_seconds(int runs, Encode encode, bytes_t* result) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        *result = encode();
        times.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: png_libs NAME PROFILE FONT ROW...\n");
        return 2;
    }
    lcdimg_t* img = lcdimg_open(argv[2], argv[3]);
    if (img == nullptr) {
        return 1;
    }
    for (int r = 4; r < argc; ++r) {
        std::vector<unsigned char> codes(8192);
        int count = 0;
        util_format(argv[r], codes.data(), static_cast<int>(codes.size()), &count);
        for (int c = 0; c < count; ++c) {
            lcdimg_set_text(img, c, r - 4, codes[static_cast<std::size_t>(c)]);
        }
    }
    lcdimg_paint(img);
    const int w = img->canvas_width;
    const int h = img->canvas_height;
    const indexed_t indexed = to_indexed(img->pixels, w, h);
    const int runs = static_cast<long>(w) * h > 1000000 ? 11 : 101;
    bytes_t ours;
    bytes_t libpng;
    bytes_t libspng;
    const double t_ours = median_seconds(
        runs,
        [&] {
            bytes_t out;
            pngfile_write_rgb(img->pixels, w, h, collect, &out);
            return out;
        },
        &ours);
    const double t_png = median_seconds(
        runs, [&] { return with_libpng(indexed); }, &libpng);
    const double t_spng = median_seconds(
        runs, [&] { return with_libspng(indexed); }, &libspng);
    std::printf("  %s %dx%d, %d-bit palette (median of %d encodes in memory):\n", argv[1], w, h,
                indexed.depth, runs);
    std::printf("    vimbra (zlib)  %8.2f ms %7zu bytes\n", t_ours * 1000, ours.size());
    std::printf("    libpng         %8.2f ms %7zu bytes   time %.2f x vimbra, size %.3f x\n",
                t_png * 1000, libpng.size(), t_png / t_ours,
                static_cast<double>(libpng.size()) / static_cast<double>(ours.size()));
    std::printf("    libspng        %8.2f ms %7zu bytes   time %.2f x vimbra, size %.3f x\n",
                t_spng * 1000, libspng.size(), t_spng / t_ours,
                static_cast<double>(libspng.size()) / static_cast<double>(ours.size()));
    lcdimg_close(img);
    return 0;
}
