#include "base/linesrc.hpp"

namespace vimbra {

linesrc_t linesrc_file(std::FILE* file) {
    return {file, nullptr, 0, 0};
}

linesrc_t linesrc_text(const char* text, std::size_t length) {
    return {nullptr, text, text != nullptr ? length : 0, 0};
}

bool linesrc_next(linesrc_t* src, char* buffer, int capacity) {
    if (src->file != nullptr) {
        return std::fgets(buffer, capacity, src->file) != nullptr;
    }
    if (capacity < 2 || src->position >= src->length) {
        return false;
    }
    std::size_t n = 0;
    const auto room = static_cast<std::size_t>(capacity - 1);
    while (n < room && src->position < src->length) {
        const char c = src->text[src->position++];
        buffer[n++] = c;
        if (c == '\n') {
            break;
        }
    }
    buffer[n] = '\0';
    return true;
}

bool linesrc_failed(const linesrc_t* src) {
    return src->file != nullptr && std::ferror(src->file) != 0;
}

long linesrc_tell(const linesrc_t* src) {
    return src->file != nullptr ? std::ftell(src->file) : static_cast<long>(src->position);
}

} // namespace vimbra
