// Small helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

// The tool prints warnings and script output; keep the fuzzer's console readable.
inline void silence_stdout() {
    static bool done = [] { return std::freopen("/dev/null", "w", stdout) != nullptr; }();
    (void)done;
}

} // namespace fuzz
