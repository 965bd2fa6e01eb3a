// Captures written by the tests as analysers write them: zip archives (for sigrok sessions),
// sessions of samples, Saleae binary channel files and CSV exports, each from a list of
// changes of the lines.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace capture_build {

struct zip_entry_t {
    std::string name;
    std::string data;
    bool deflate = true;
    bool encrypted = false; // only flagged so: the data stays as it is
};

inline void put16(std::string* out, unsigned v) {
    out->push_back(static_cast<char>(v & 0xFF));
    out->push_back(static_cast<char>((v >> 8) & 0xFF));
}

inline void put32(std::string* out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

inline void put64(std::string* out, std::uint64_t v) {
    put32(out, static_cast<std::uint32_t>(v));
    put32(out, static_cast<std::uint32_t>(v >> 32));
}

inline std::string raw_deflate(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// A zip archive of the entries, stored or deflated, as the zip format lays them out.
inline std::string zip(const std::vector<zip_entry_t>& entries) {
    std::string out;
    std::string directory;
    for (const zip_entry_t& e : entries) {
        const std::string body = e.deflate ? raw_deflate(e.data) : e.data;
        const auto crc = static_cast<std::uint32_t>(crc32(
            0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
        const auto offset = static_cast<std::uint32_t>(out.size());
        const unsigned method = e.deflate ? 8 : 0;
        put32(&out, 0x04034b50); // local file header
        put16(&out, 20);
        put16(&out, e.encrypted ? 1 : 0);
        put16(&out, method);
        put32(&out, 0); // time and date
        put32(&out, crc);
        put32(&out, static_cast<std::uint32_t>(body.size()));
        put32(&out, static_cast<std::uint32_t>(e.data.size()));
        put16(&out, static_cast<unsigned>(e.name.size()));
        put16(&out, 0);
        out += e.name + body;
        put32(&directory, 0x02014b50); // central directory entry
        put16(&directory, 20);
        put16(&directory, 20);
        put16(&directory, e.encrypted ? 1 : 0);
        put16(&directory, method);
        put32(&directory, 0);
        put32(&directory, crc);
        put32(&directory, static_cast<std::uint32_t>(body.size()));
        put32(&directory, static_cast<std::uint32_t>(e.data.size()));
        put16(&directory, static_cast<unsigned>(e.name.size()));
        put32(&directory, 0); // extra and comment lengths
        put32(&directory, 0); // disk number, internal attributes
        put32(&directory, 0); // external attributes
        put32(&directory, offset);
        directory += e.name;
    }
    const auto at = static_cast<std::uint32_t>(out.size());
    out += directory;
    put32(&out, 0x06054b50); // end of central directory
    put32(&out, 0);
    put16(&out, static_cast<unsigned>(entries.size()));
    put16(&out, static_cast<unsigned>(entries.size()));
    put32(&out, static_cast<std::uint32_t>(directory.size()));
    put32(&out, at);
    put16(&out, 0);
    return out;
}

// One change of the lines: from `ps` on, channel i is bit i of `levels`.
using change_t = std::pair<std::int64_t, std::uint64_t>;

// Samples at `rate_hz` (k / rate seconds each) of `unit` bytes, little-endian, up to `end_ps`.
// A sample shows the levels that hold at its moment.
inline std::string samples(const std::vector<change_t>& changes, std::int64_t rate_hz,
                           std::int64_t end_ps, int unit) {
    std::string out;
    std::size_t next = 0;
    std::uint64_t levels = 0;
    for (std::int64_t k = 0;; ++k) {
        const auto t = static_cast<std::int64_t>(static_cast<long double>(k) * 1e12L /
                                                 static_cast<long double>(rate_hz));
        if (t > end_ps) {
            break;
        }
        while (next < changes.size() && changes[next].first <= t) {
            levels = changes[next++].second;
        }
        for (int b = 0; b < unit; ++b) {
            out.push_back(static_cast<char>((levels >> (8 * b)) & 0xFF));
        }
    }
    return out;
}

// A sigrok session: version 2, the metadata as sigrok writes it, the samples in chunks of
// `chunk` bytes. `metadata` replaces the one written when not empty.
inline std::string session(const std::string& rate, int unit,
                           const std::vector<std::string>& probes, const std::string& data,
                           std::size_t chunk = 1 << 20, const std::string& metadata = "") {
    std::string meta = "[global]\nsigrok version=0.5.2\n\n[device 1]\ncapturefile=logic-1\n"
                       "total probes=" +
                       std::to_string(probes.size()) + "\nsamplerate=" + rate +
                       "\ntotal analog=0\n";
    for (std::size_t i = 0; i < probes.size(); ++i) {
        meta += "probe" + std::to_string(i + 1) + "=" + probes[i] + "\n";
    }
    meta += "unitsize=" + std::to_string(unit) + "\n";
    std::vector<zip_entry_t> entries = {{"version", "2", false},
                                        {"metadata", metadata.empty() ? meta : metadata, true}};
    for (std::size_t at = 0, n = 1; at < data.size(); at += chunk, ++n) {
        entries.push_back({"logic-1-" + std::to_string(n), data.substr(at, chunk), true});
    }
    return zip(entries);
}

// One channel file of a Saleae binary export.
inline std::string saleae(unsigned initial, double begin, double end,
                          const std::vector<double>& times, int version = 0, int type = 0) {
    std::string out = "<SALEAE>";
    put32(&out, static_cast<std::uint32_t>(version));
    put32(&out, static_cast<std::uint32_t>(type));
    put32(&out, initial);
    std::uint64_t bits = 0;
    for (double v : {begin, end}) {
        std::memcpy(&bits, &v, 8);
        put64(&out, bits);
    }
    put64(&out, times.size());
    for (double v : times) {
        std::memcpy(&bits, &v, 8);
        put64(&out, bits);
    }
    return out;
}

// Seconds as Logic 2 prints them in a CSV export.
inline std::string seconds(std::int64_t ps) {
    char text[48];
    std::snprintf(text, sizeof text, "%s%lld.%012lld", ps < 0 ? "-" : "",
                  static_cast<long long>((ps < 0 ? -ps : ps) / 1000000000000),
                  static_cast<long long>((ps < 0 ? -ps : ps) % 1000000000000));
    return text;
}

// A CSV export of `count` channels, one row per change.
inline std::string csv(const std::vector<change_t>& changes, int count,
                       const std::vector<std::string>& names = {}) {
    std::string out = "Time [s]";
    for (int i = 0; i < count; ++i) {
        out += "," + (names.empty() ? "Channel " + std::to_string(i)
                                    : names[static_cast<std::size_t>(i)]);
    }
    out += "\n";
    for (const auto& [ps, levels] : changes) {
        out += seconds(ps);
        for (int i = 0; i < count; ++i) {
            out += ((levels >> i) & 1) != 0 ? ",1" : ",0";
        }
        out += "\n";
    }
    return out;
}

} // namespace capture_build
