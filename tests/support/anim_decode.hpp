// Independent readers of the tool's animations: giflib's DGifSlurp for GIF, and for APNG a
// chunk walker that checks CRCs and sequence numbers and hands each frame, rewrapped as a
// still PNG, to libpng. Both compose the frames as a viewer does (frames left in place).
#pragma once

#include <gif_lib.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>


struct anim_frame_t {
    std::vector<unsigned char> rgb; // the whole picture once this frame is composed
    int delay;                      // hundredths (GIF) or milliseconds (APNG)
};

struct anim_t {
    bool ok = false;
    std::string error;
    int width = 0;
    int height = 0;
    int plays = -1;           // -1: no loop extension (GIF); 0: forever
    bool any_control = false; // a GIF graphic control extension was seen
    std::vector<anim_frame_t> frames;
};

namespace anim_detail {

struct source_t {
    const std::vector<unsigned char>* bytes;
    std::size_t at;
};

inline int read_gif(GifFileType* gif, GifByteType* out, int size) {
    auto* s = static_cast<source_t*>(gif->UserData);
    const std::size_t n = std::min(static_cast<std::size_t>(size), s->bytes->size() - s->at);
    std::memcpy(out, s->bytes->data() + s->at, n);
    s->at += n;
    return static_cast<int>(n);
}

inline std::uint32_t be32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

inline void append_chunk(std::vector<unsigned char>* png, const char* type,
                         const unsigned char* data, std::size_t size) {
    const unsigned char len[4] = {
        static_cast<unsigned char>(size >> 24), static_cast<unsigned char>(size >> 16),
        static_cast<unsigned char>(size >> 8), static_cast<unsigned char>(size)};
    png->insert(png->end(), len, len + 4);
    const std::size_t start = png->size();
    png->insert(png->end(), type, type + 4);
    png->insert(png->end(), data, data + size);
    const uLong crc = crc32(0L, png->data() + start, static_cast<uInt>(4 + size));
    const unsigned char c[4] = {
        static_cast<unsigned char>(crc >> 24), static_cast<unsigned char>(crc >> 16),
        static_cast<unsigned char>(crc >> 8), static_cast<unsigned char>(crc)};
    png->insert(png->end(), c, c + 4);
}

} // namespace anim_detail

inline anim_t decode_gif(const std::vector<unsigned char>& bytes) {
    anim_t a;
    anim_detail::source_t source{&bytes, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&source, anim_detail::read_gif, &error);
    if (gif == nullptr || DGifSlurp(gif) != GIF_OK) {
        a.error = "giflib cannot read it";
        if (gif != nullptr) {
            DGifCloseFile(gif, &error);
        }
        return a;
    }
    a.width = gif->SWidth;
    a.height = gif->SHeight;
    std::vector<unsigned char> canvas(static_cast<std::size_t>(a.width * a.height) * 3, 0);
    const ColorMapObject* map = gif->SColorMap;
    a.ok = map != nullptr;
    for (int i = 0; i < gif->ImageCount && a.ok; ++i) {
        const SavedImage& image = gif->SavedImages[i];
        for (int k = 0; k + 1 < image.ExtensionBlockCount; ++k) {
            const ExtensionBlock& b = image.ExtensionBlocks[k];
            if (b.Function == APPLICATION_EXT_FUNC_CODE && b.ByteCount == 11 &&
                std::memcmp(b.Bytes, "NETSCAPE2.0", 11) == 0) {
                const ExtensionBlock& sub = image.ExtensionBlocks[k + 1];
                a.plays = sub.ByteCount == 3 ? sub.Bytes[1] | sub.Bytes[2] << 8 : -2;
            }
        }
        GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
        if (DGifSavedExtensionToGCB(gif, i, &gcb) == GIF_OK) {
            a.any_control = true;
        }
        const GifImageDesc& d = image.ImageDesc;
        if (d.Left + d.Width > a.width || d.Top + d.Height > a.height || d.ColorMap != nullptr ||
            (gcb.DisposalMode != DISPOSAL_UNSPECIFIED && gcb.DisposalMode != DISPOSE_DO_NOT)) {
            a.ok = false;
            a.error = "frame outside the screen, local table or disposal that loses pixels";
            break;
        }
        for (int y = 0; y < d.Height; ++y) {
            for (int x = 0; x < d.Width; ++x) {
                const int index = image.RasterBits[y * d.Width + x];
                if (index == gcb.TransparentColor) {
                    continue;
                }
                if (index >= map->ColorCount) {
                    a.ok = false;
                }
                const GifColorType c = map->Colors[index < map->ColorCount ? index : 0];
                unsigned char* p = canvas.data() +
                                   (static_cast<std::size_t>(d.Top + y) * a.width + d.Left + x) * 3;
                p[0] = c.Red;
                p[1] = c.Green;
                p[2] = c.Blue;
            }
        }
        a.frames.push_back({canvas, gcb.DelayTime});
    }
    DGifCloseFile(gif, &error);
    return a;
}

inline anim_t decode_apng(const std::vector<unsigned char>& bytes) {
    using anim_detail::be32;
    anim_t a;
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes.size() < 8 || std::memcmp(bytes.data(), signature, 8) != 0) {
        a.error = "no PNG signature";
        return a;
    }
    std::vector<unsigned char> ihdr;
    std::vector<unsigned char> head; // PLTE and tRNS chunks, whole
    std::vector<unsigned char> control;
    std::vector<unsigned char> data;
    std::vector<unsigned char> canvas;
    std::uint32_t next_sequence = 0;
    std::uint32_t frame_count = 0;
    bool ended = false;
    // Composes the frame whose fcTL is `control` and whose image data is `data`.
    auto finish_frame = [&]() -> bool {
        if (control.empty()) {
            return data.empty(); // a default image that is not a frame is not made here
        }
        const std::uint32_t w = be32(&control[4]), h = be32(&control[8]);
        const std::uint32_t x = be32(&control[12]), y = be32(&control[16]);
        const unsigned num = control[20] << 8 | control[21], den = control[22] << 8 | control[23];
        // The tool leaves frames in place and replaces their rectangle: anything else would
        // need composing rules this reader has not.
        if (x + w > static_cast<std::uint32_t>(a.width) ||
            y + h > static_cast<std::uint32_t>(a.height) || control[24] != 0 || control[25] != 0) {
            return false;
        }
        std::vector<unsigned char> png(signature, signature + 8);
        std::vector<unsigned char> header = ihdr;
        std::memcpy(header.data(), &control[4], 8);
        anim_detail::append_chunk(&png, "IHDR", header.data(), header.size());
        png.insert(png.end(), head.begin(), head.end());
        anim_detail::append_chunk(&png, "IDAT", data.data(), data.size());
        anim_detail::append_chunk(&png, "IEND", nullptr, 0);
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (png_image_begin_read_from_memory(&image, png.data(), png.size()) == 0) {
            return false;
        }
        image.format = PNG_FORMAT_RGB;
        std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
        if (png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) == 0) {
            return false;
        }
        for (std::uint32_t r = 0; r < h; ++r) {
            std::memcpy(&canvas[((y + r) * a.width + x) * 3], &rgb[r * w * 3], w * 3);
        }
        a.frames.push_back({canvas, static_cast<int>(num * 1000 / (den == 0 ? 100 : den))});
        control.clear();
        data.clear();
        return true;
    };
    for (std::size_t at = 8; at + 12 <= bytes.size() && !ended;) {
        const std::uint32_t size = be32(&bytes[at]);
        if (size > bytes.size() - at - 12) {
            a.error = "chunk past the end";
            return a;
        }
        const unsigned char* type = &bytes[at + 4];
        const unsigned char* body = &bytes[at + 8];
        const std::string name(reinterpret_cast<const char*>(type), 4);
        if (crc32(crc32(0L, type, 4), body, size) != be32(body + size)) {
            a.error = "bad CRC in " + name;
            return a;
        }
        const bool numbered = name == "fcTL" || name == "fdAT";
        if (numbered && (size < 4 || be32(body) != next_sequence++)) {
            a.error = "sequence out of order at " + name;
            return a;
        }
        if (name == "IHDR") {
            ihdr.assign(body, body + size);
            a.width = static_cast<int>(be32(body));
            a.height = static_cast<int>(be32(body + 4));
            canvas.assign(static_cast<std::size_t>(a.width * a.height) * 3, 0);
        } else if (name == "PLTE" || name == "tRNS") {
            head.insert(head.end(), bytes.begin() + static_cast<long>(at),
                        bytes.begin() + static_cast<long>(at + 12 + size));
        } else if (name == "acTL" && size == 8) {
            frame_count = be32(body);
            a.plays = static_cast<int>(be32(body + 4));
        } else if (name == "fcTL" || name == "IEND") {
            if (!finish_frame()) {
                a.error = "frame cannot be composed";
                return a;
            }
            if (name == "fcTL") {
                control.assign(body, body + size);
            }
            ended = name == "IEND";
        } else if (name == "IDAT" || name == "fdAT") {
            const std::size_t skip = name == "fdAT" ? 4 : 0;
            data.insert(data.end(), body + skip, body + size);
        }
        at += 12 + size;
    }
    a.ok = ended && frame_count == a.frames.size();
    if (!a.ok) {
        a.error = "no IEND, or acTL's frame count differs from the frames";
    }
    return a;
}
