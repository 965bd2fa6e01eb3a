// Row escape decoding on any bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "lcd/util.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string src(reinterpret_cast<const char*>(data), size);
    // Also exercise small capacities, where the cut happens.
    int capacity = size > 0 ? 1 + data[0] % 16 : 1;
    for (int cap : {8192, capacity}) {
        std::array<unsigned char, 8192> dst{};
        int count = -1;
        int status = util_format(src.c_str(), dst.data(), cap, &count);
        if (count < 0 || count > cap - 1 || dst[static_cast<std::size_t>(count)] != 0)
            __builtin_trap();
        if (status < 0 || status > 9) __builtin_trap();
    }
    return 0;
}
