#include "base/util.hpp"

#include <cstddef>

namespace vimbra {

namespace {

constexpr char BACKSLASH = '\\';

// Where decoded codes go: stores while there is room, counts what it stored.
struct code_sink_t {
    unsigned char* dst;
    int room; // codes that still fit before the terminator
    int count;
};

void put_code(code_sink_t* sink, unsigned char code) {
    if (sink->count < sink->room) {
        sink->dst[sink->count] = code;
        ++sink->count;
    }
}

} // namespace

int util_decode_escape(const char* src, unsigned char* code, int* length) {
    const char kind = src[1];
    if (kind == '\0') {
        return UTIL_FORMAT_END_AFTER_BACKSLASH;
    }
    if (kind == BACKSLASH) {
        *code = static_cast<unsigned char>(BACKSLASH);
        *length = 2;
        return UTIL_FORMAT_OK;
    }
    if (kind != 'x') {
        return UTIL_FORMAT_BAD_ESCAPE;
    }
    if (src[2] == '\0') {
        return UTIL_FORMAT_END_AFTER_X;
    }
    const int high = get_hexval(src[2]);
    if (high < 0) {
        return UTIL_FORMAT_BAD_FIRST_DIGIT;
    }
    if (src[3] == '\0') {
        return UTIL_FORMAT_END_AFTER_FIRST_DIGIT;
    }
    const int low = get_hexval(src[3]);
    if (low < 0) {
        return UTIL_FORMAT_BAD_SECOND_DIGIT;
    }
    *code = static_cast<unsigned char>(high * 16 + low);
    *length = 4;
    return UTIL_FORMAT_OK;
}

int util_format(const char* src, unsigned char* dst, int capacity, int* count) {
    const bool usable = dst != nullptr && capacity > 0;
    code_sink_t sink{dst, usable ? capacity - 1 : 0, 0};
    int status = UTIL_FORMAT_OK;
    std::size_t pos = 0;
    while (src != nullptr && src[pos] != '\0' && status == UTIL_FORMAT_OK) {
        if (src[pos] == BACKSLASH) {
            unsigned char code = 0;
            int length = 0;
            status = util_decode_escape(src + pos, &code, &length);
            if (status == UTIL_FORMAT_OK) {
                put_code(&sink, code);
                pos += static_cast<std::size_t>(length);
            }
        } else {
            put_code(&sink, static_cast<unsigned char>(src[pos]));
            ++pos;
        }
    }
    if (usable) {
        dst[sink.count] = 0;
    }
    if (count != nullptr) {
        *count = sink.count;
    }
    return status;
}

int util_remove_comment(char* line) {
    if (line == nullptr) {
        return 0;
    }
    for (char* p = line; *p != '\0'; ++p) {
        if (*p == '#') {
            *p = '\0';
            break;
        }
    }
    return 0;
}

} // namespace vimbra
