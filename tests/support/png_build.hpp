// PNG files built chunk by chunk for tests, so that each holds exactly what it tests.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>


namespace png_build {

using bytes_t = std::string;

inline void put32(bytes_t* out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out->push_back(static_cast<char>((v >> shift) & 0xFF));
    }
}

inline bytes_t chunk(const char* type, const bytes_t& data) {
    bytes_t out;
    put32(&out, static_cast<std::uint32_t>(data.size()));
    const bytes_t body = std::string(type, 4) + data;
    out += body;
    put32(&out, static_cast<std::uint32_t>(
                    crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
    return out;
}

inline bytes_t deflated(const bytes_t& raw) {
    uLongf size = compressBound(raw.size());
    bytes_t out(size, '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &size,
             reinterpret_cast<const Bytef*>(raw.data()), raw.size());
    out.resize(size);
    return out;
}

// A PNG of one row per entry of `rows` (filter byte 0 added), `extra` chunks before IDAT.
inline bytes_t png(int width, int depth, int color, const std::vector<bytes_t>& rows,
                   const bytes_t& extra = "") {
    bytes_t ihdr;
    put32(&ihdr, static_cast<std::uint32_t>(width));
    put32(&ihdr, static_cast<std::uint32_t>(rows.size()));
    ihdr += {static_cast<char>(depth), static_cast<char>(color), 0, 0, 0};
    bytes_t raw;
    for (const bytes_t& row : rows) {
        raw += '\0' + row;
    }
    return "\x89PNG\r\n\x1a\n" + chunk("IHDR", ihdr) + extra + chunk("IDAT", deflated(raw)) +
           chunk("IEND", "");
}

// A PNG of the given header whose image data is `raw` (filter bytes and all) deflated, as
// one IDAT chunk: raw data of another length than the rows need, or Adam7 passes.
inline bytes_t png_raw(int width, int height, int depth, int color, bool interlaced,
                       const bytes_t& raw) {
    bytes_t ihdr;
    put32(&ihdr, static_cast<std::uint32_t>(width));
    put32(&ihdr, static_cast<std::uint32_t>(height));
    ihdr += {static_cast<char>(depth), static_cast<char>(color), 0, 0,
             static_cast<char>(interlaced ? 1 : 0)};
    return "\x89PNG\r\n\x1a\n" + chunk("IHDR", ihdr) + chunk("IDAT", deflated(raw)) +
           chunk("IEND", "");
}

inline bytes_t b(std::initializer_list<int> values) {
    bytes_t out;
    for (const int v : values) {
        out.push_back(static_cast<char>(v));
    }
    return out;
}

// A compressed text chunk that inflates to `size` bytes.
inline bytes_t ztxt(std::size_t size) {
    return chunk("zTXt", bytes_t("Comment") + '\0' + '\0' + deflated(bytes_t(size, 'a')));
}

} // namespace png_build
