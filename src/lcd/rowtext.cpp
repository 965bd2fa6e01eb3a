#include "lcd/rowtext.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <new>

#include "base/console.hpp"
#include "base/util.hpp"
#include "chip/charset.hpp"
#include "lcd/lcdimg.hpp"

namespace vimbra {

int rowtext_decode(const charset_t* set, const char* src, int row, unsigned char* dst, int capacity,
                   int* count, char* message, int message_capacity) {
    if (set != nullptr) {
        return charset_decode(set, src, row, dst, capacity, count, message, message_capacity);
    }
    if (message != nullptr && message_capacity > 0) {
        message[0] = '\0'; // a malformed escape has no line of its own without a set
    }
    return util_format(src, dst, capacity, count);
}

int rowtext_place_rows(lcdimg_t* img, const char* const* rows, int count) {
    // A row holds as many codes as the grid is wide: the rest would be dropped anyway, and
    // is still decoded, so that a fault further on refuses the row.
    const int width = std::clamp(img->chcnt_x, 0, INT_MAX - 1); // room for the terminator
    const std::unique_ptr<unsigned char[]> codes(
        new (std::nothrow) unsigned char[static_cast<std::size_t>(width) + 1]);
    if (codes == nullptr) {
        return -2;
    }
    std::array<char, CHARSET_MESSAGE_CAPACITY> message{};
    for (int k = 0; k < count; ++k) {
        int length = 0;
        if (rowtext_decode(img->charset, rows[k], k, codes.get(), width + 1, &length,
                           message.data(), CHARSET_MESSAGE_CAPACITY) != 0) {
            if (message[0] != '\0') {
                console_puts(&img->console, message.data());
            }
            return -1;
        }
        for (int c = 0; c < length; ++c) {
            lcdimg_set_text(img, c, k, codes[static_cast<std::size_t>(c)]);
        }
    }
    return 0;
}

} // namespace vimbra
