// Writes one sequence of frames (PNG files, each shown for the same time) as GIF and APNG
// with vimbra's writers, and times vimbra's GIF writer against the same frames written with
// giflib (EGifPutLine): the same palette and changed rectangles, only the LZW coder and the
// container code differ; vimbra also tries each frame with unchanged pixels transparent.
// Prints each one's median time and file size. Built and run by bench/run.sh only.
// Usage: gif_libs OUT.gif OUT.apng FRAME_MS FRAME.png...
#include <gif_lib.h>
#include <png.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bmp/animframes.hpp"
#include "bmp/apngfile.hpp"
#include "bmp/giffile.hpp"
#include "bmp/pngfile.hpp"

using namespace vimbra;

namespace {

using bytes_t = std::vector<unsigned char>;

struct frames_t {
    int width = 0;
    int height = 0;
    std::vector<bytes_t> rgb;
};

bool read_png(const char* path, frames_t* frames) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path) == 0) {
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    bytes_t rgb(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) == 0) {
        return false;
    }
    frames->width = static_cast<int>(image.width);
    frames->height = static_cast<int>(image.height);
    frames->rgb.push_back(std::move(rgb));
    return true;
}

int collect(const void* data, std::uint32_t size, void* ctx) {
    auto* out = static_cast<bytes_t*>(ctx);
    out->insert(out->end(), static_cast<const unsigned char*>(data),
                static_cast<const unsigned char*>(data) + size);
    return 1;
}

bytes_t vimbra_gif(const frames_t& f, std::int64_t frame_us) {
    bytes_t out;
    giffile_t gif{};
    giffile_begin(&gif, f.width, f.height, 0, collect, &out);
    for (const bytes_t& rgb : f.rgb) {
        giffile_add_frame(&gif, rgb.data(), frame_us);
    }
    return giffile_end(&gif) == 0 ? out : bytes_t{};
}

bytes_t vimbra_apng(const frames_t& f, std::int64_t frame_us) {
    bytes_t out;
    apngfile_t apng{};
    apngfile_begin(&apng, f.width, f.height, 0, collect, &out);
    for (const bytes_t& rgb : f.rgb) {
        apngfile_add_frame(&apng, rgb.data(), frame_us);
    }
    return apngfile_end(&apng) == 0 ? out : bytes_t{};
}

int gif_out(GifFileType* gif, const GifByteType* data, int size) {
    collect(data, static_cast<std::uint32_t>(size), gif->UserData);
    return size;
}

// The same frames through giflib: rectangles from the same frame store, every pixel
// mapped through the same palette, one EGifPutLine per row.
bytes_t giflib_gif(const frames_t& f, std::int64_t frame_us) {
    bytes_t out;
    animframes_t frames{};
    animframes_begin(&frames, f.width, f.height, 65535, 10000);
    for (const bytes_t& rgb : f.rgb) {
        animframes_add(&frames, rgb.data(), frame_us);
    }
    animframes_finish(&frames);
    auto* palette = static_cast<pngfile_palette_t*>(std::calloc(1, sizeof(pngfile_palette_t)));
    for (const animframes_frame_t& fr : frames.frames) {
        pngfile_palette_gather(palette, frames.pixels.data() + fr.offset, fr.width, fr.height);
    }
    int bits = 1;
    while ((1 << bits) < palette->count) {
        ++bits;
    }
    ColorMapObject* map = GifMakeMapObject(1 << bits, nullptr);
    for (int i = 0; i < palette->count; ++i) {
        const std::uint32_t c = palette->colors[static_cast<std::size_t>(i)];
        map->Colors[i] = {static_cast<GifByteType>(c >> 16), static_cast<GifByteType>(c >> 8),
                          static_cast<GifByteType>(c)};
    }
    int error = 0;
    GifFileType* gif = EGifOpen(&out, gif_out, &error);
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, f.width, f.height, bits, 0, map);
    const GifByteType loop[3] = {1, 0, 0};
    EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE);
    EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0");
    EGifPutExtensionBlock(gif, 3, loop);
    EGifPutExtensionTrailer(gif);
    std::vector<GifPixelType> line;
    for (const animframes_frame_t& fr : frames.frames) {
        GraphicsControlBlock gcb{DISPOSE_DO_NOT, false, static_cast<int>(fr.ticks),
                                 NO_TRANSPARENT_COLOR};
        GifByteType ext[4];
        EGifGCBToExtension(&gcb, ext);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext);
        EGifPutImageDesc(gif, fr.x, fr.y, fr.width, fr.height, false, nullptr);
        line.resize(static_cast<std::size_t>(fr.width));
        for (int y = 0; y < fr.height; ++y) {
            const unsigned char* row =
                frames.pixels.data() + fr.offset + static_cast<std::size_t>(y) * fr.width * 3;
            for (int x = 0; x < fr.width; ++x) {
                line[static_cast<std::size_t>(x)] =
                    static_cast<GifPixelType>(pngfile_palette_index(palette, row + 3 * x));
            }
            EGifPutLine(gif, line.data(), fr.width);
        }
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    std::free(palette);
    animframes_free(&frames);
    return out;
}

template <typename fn_t> double median_ms(fn_t fn, int runs) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        fn();
        const auto t1 = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

bool save(const char* path, const bytes_t& bytes) {
    std::FILE* f = std::fopen(path, "wb");
    const bool ok = f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return f != nullptr && std::fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: gif_libs OUT.gif OUT.apng FRAME_MS FRAME.png...\n");
        return 2;
    }
    frames_t frames;
    for (int i = 4; i < argc; ++i) {
        if (!read_png(argv[i], &frames)) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
    }
    const std::int64_t frame_us = std::atoll(argv[3]) * 1000;
    const bytes_t gif = vimbra_gif(frames, frame_us);
    const bytes_t apng = vimbra_apng(frames, frame_us);
    const bytes_t lib = giflib_gif(frames, frame_us);
    if (gif.empty() || apng.empty() || !save(argv[1], gif) || !save(argv[2], apng)) {
        std::fprintf(stderr, "cannot write the animations\n");
        return 1;
    }
    const int runs = 9;
    const double ours = median_ms([&] { (void)vimbra_gif(frames, frame_us); }, runs);
    const double theirs = median_ms([&] { (void)giflib_gif(frames, frame_us); }, runs);
    std::printf("  GIF writer, %zu frames of %dx%d: vimbra %.2f ms, %zu bytes; giflib %.2f ms, "
                "%zu bytes: time ratio %.2f, size ratio %.2f\n",
                frames.rgb.size(), frames.width, frames.height, ours, gif.size(), theirs,
                lib.size(), ours / theirs,
                static_cast<double>(gif.size()) / static_cast<double>(lib.size()));
    return 0;
}
