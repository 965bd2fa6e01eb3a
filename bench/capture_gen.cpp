// Writes a capture of a 16 x 2 module's 4-bit bus as a logic analyser samples it, every
// 500 ns (2 MHz): power-on, the reset by instruction, set-up, then both lines rewritten with a
// count, over and over, every wait the chip's. Channels: rs, rw, e, d4..d7 as bits 0 to 6.
// Usage: capture_gen raw MEGASAMPLES > samples.bin       (one byte a sample, for sigrok-cli)
//        capture_gen saleae MEGASAMPLES FOLDER           (Logic 2's binary export)
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int E = 2;
constexpr std::uint64_t PER_US = 2; // samples

struct out_t {
    std::uint64_t limit; // samples to write
    std::uint64_t now = 0;
    unsigned level = 0;
    // raw
    std::FILE* raw = nullptr;
    std::vector<unsigned char> buffer;
    // saleae: one file per channel, the transition count patched in at the end
    std::array<std::FILE*, 7> files{};
    std::array<std::uint64_t, 7> transitions{};
    unsigned initial = 0;
};

// Holds the current levels for `samples` samples.
void hold(out_t* o, std::uint64_t samples) {
    if (o->now + samples > o->limit) {
        samples = o->limit - o->now;
    }
    if (o->raw != nullptr) {
        o->buffer.insert(o->buffer.end(), samples, static_cast<unsigned char>(o->level));
        if (o->buffer.size() > (1u << 20)) {
            std::fwrite(o->buffer.data(), 1, o->buffer.size(), o->raw);
            o->buffer.clear();
        }
    }
    o->now += samples;
}

void set(out_t* o, unsigned level) {
    const unsigned changed = level ^ o->level;
    for (int c = 0; c < 7 && o->files[0] != nullptr; ++c) {
        if (((changed >> c) & 1) != 0) {
            const double t = static_cast<double>(o->now) / 2e6;
            std::fwrite(&t, 8, 1, o->files[static_cast<std::size_t>(c)]);
            ++o->transitions[static_cast<std::size_t>(c)];
        }
    }
    o->level = level;
}

// One nibble: RS and data set, 1 us later E high for 1 us, then 1 us low.
void nibble(out_t* o, bool rs, unsigned value) {
    set(o, (rs ? 1u : 0u) | ((value & 15) << 3));
    hold(o, PER_US);
    set(o, o->level | (1u << E));
    hold(o, PER_US);
    set(o, o->level & ~(1u << E));
    hold(o, PER_US);
}

void byte(out_t* o, bool rs, unsigned value, std::uint64_t wait_us) {
    nibble(o, rs, value >> 4);
    nibble(o, rs, value & 15);
    hold(o, wait_us * PER_US);
}

void run(out_t* o) {
    hold(o, 50000 * PER_US); // power-on
    for (unsigned v : {3u, 3u, 3u, 2u}) {
        nibble(o, false, v);
        hold(o, 5000 * PER_US);
    }
    for (unsigned b : {0x28u, 0x0Cu, 0x06u}) {
        byte(o, false, b, 50);
    }
    byte(o, false, 0x01, 2000);
    for (std::uint64_t count = 0; o->now < o->limit; ++count) {
        for (unsigned row : {0x80u, 0xC0u}) {
            byte(o, false, row, 50);
            char text[24];
            std::snprintf(text, sizeof text, "%016llu", static_cast<unsigned long long>(count));
            for (int i = 0; i < 16 && o->now < o->limit; ++i) {
                byte(o, true, static_cast<unsigned char>(text[i]), 50);
            }
        }
    }
}

void put_header(std::FILE* f, unsigned initial, double end, std::uint64_t count) {
    std::fwrite("<SALEAE>", 1, 8, f);
    const std::int32_t version = 0;
    const std::int32_t type = 0;
    const double begin = 0;
    std::fwrite(&version, 4, 1, f);
    std::fwrite(&type, 4, 1, f);
    std::fwrite(&initial, 4, 1, f);
    std::fwrite(&begin, 8, 1, f);
    std::fwrite(&end, 8, 1, f);
    std::fwrite(&count, 8, 1, f);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || (std::strcmp(argv[1], "saleae") == 0 && argc < 4)) {
        std::fprintf(stderr, "usage: capture_gen raw|saleae MEGASAMPLES [FOLDER]\n");
        return 2;
    }
    out_t o;
    o.limit = std::strtoull(argv[2], nullptr, 10) * 1000000;
    if (std::strcmp(argv[1], "raw") == 0) {
        o.raw = stdout;
        run(&o);
        std::fwrite(o.buffer.data(), 1, o.buffer.size(), o.raw);
        return 0;
    }
    for (int c = 0; c < 7; ++c) {
        const std::string path = std::string(argv[3]) + "/digital_" + std::to_string(c) + ".bin";
        o.files[static_cast<std::size_t>(c)] = std::fopen(path.c_str(), "wb");
        if (o.files[static_cast<std::size_t>(c)] == nullptr) {
            std::perror(path.c_str());
            return 1;
        }
        put_header(o.files[static_cast<std::size_t>(c)], 0, 0, 0);
    }
    run(&o);
    for (int c = 0; c < 7; ++c) {
        std::FILE* f = o.files[static_cast<std::size_t>(c)];
        std::fseek(f, 0, SEEK_SET);
        put_header(f, 0, static_cast<double>(o.limit) / 2e6,
                   o.transitions[static_cast<std::size_t>(c)]);
        std::fclose(f);
    }
    return 0;
}
