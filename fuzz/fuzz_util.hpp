// Small helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace fuzz {

// A scratch file that lives for the whole fuzzing process and is rewritten per input.
inline std::string scratch_path(const char* tag) {
    return std::string("/tmp/vimbra-fuzz-") + tag + "-" + std::to_string(getpid());
}

inline bool write_file(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// Splits bytes into lines the way fgets with an 8192-byte buffer does and hands each
// piece to `sink` (a NUL-terminated copy).
template <class Sink> void for_each_line(const std::uint8_t* data, std::size_t size, Sink&& sink) {
    constexpr std::size_t capacity = 8192;
    static char line[capacity];
    std::size_t start = 0;
    while (start < size) {
        std::size_t end = start;
        while (end < size && end - start < capacity - 1 && data[end] != '\n')
            ++end;
        if (end < size && data[end] == '\n' && end - start < capacity - 1) ++end;
        std::memcpy(line, data + start, end - start);
        line[end - start] = '\0';
        sink(line);
        start = end;
    }
}

// The tool prints warnings and script output; keep the fuzzer's console readable.
inline void silence_stdout() {
    static bool done = [] { return std::freopen("/dev/null", "w", stdout) != nullptr; }();
    (void)done;
}

} // namespace fuzz
