// Row decoding on any bytes: the escapes alone, and UTF-8 text in each character set.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/util.hpp"
#include "chip/charset.hpp"
#include "lcd/rowtext.hpp"

using namespace vimbra;

namespace {

bool known_charset_status(int status) {
    return (status >= 0 && status <= 9) ||
           (status >= CHARSET_NOT_IN_SET && status <= CHARSET_NOT_UTF8);
}

// A refusal says one line; success says nothing.
bool message_fits(int status, const std::array<char, CHARSET_MESSAGE_CAPACITY>& message) {
    const std::size_t length = strnlen(message.data(), message.size());
    if (length == message.size() || std::memchr(message.data(), '\n', length) != nullptr) {
        return false;
    }
    return status == 0 ? length == 0 : length > 0;
}

} // namespace

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

        for (const char* name : {"A00", "A02"}) {
            std::array<char, CHARSET_MESSAGE_CAPACITY> message{};
            message.fill('?');
            count = -1;
            status = rowtext_decode(charset_find(name), src.c_str(), 3, dst.data(), cap, &count,
                                    message.data(), CHARSET_MESSAGE_CAPACITY);
            if (count < 0 || count > cap - 1 || dst[static_cast<std::size_t>(count)] != 0)
                __builtin_trap();
            if (!known_charset_status(status) || !message_fits(status, message)) __builtin_trap();
        }
    }
    return 0;
}
