#include "base/console.hpp"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <new>

namespace vimbra {

namespace {

int stream_write(const char* bytes, std::size_t count, void* ctx) {
    auto* out = static_cast<std::FILE*>(ctx);
    if (out == nullptr) {
        return -1; // a stream that could not be opened loses what it is given
    }
    if (count == 0) {
        return std::fflush(out) == 0 ? 0 : -1;
    }
    return std::fwrite(bytes, 1, count, out) == count ? 0 : -1;
}

int stream_read(void* ctx) {
    if (ctx == nullptr) {
        return -1;
    }
    const int c = std::getc(static_cast<std::FILE*>(ctx));
    return c == EOF ? -1 : c;
}

int standard_write(const char* bytes, std::size_t count, void* /*ctx*/) {
    return stream_write(bytes, count, stdout);
}

int standard_read(void* /*ctx*/) {
    return stream_read(stdin);
}

// A null console, or a null function in one, stands for the standard stream.
console_write_func_t writer(const console_t* console, void** ctx) {
    if (console == nullptr || console->write == nullptr) {
        *ctx = nullptr;
        return standard_write;
    }
    *ctx = console->write_ctx;
    return console->write;
}

} // namespace

console_t console_standard() {
    return {standard_write, nullptr, standard_read, nullptr};
}

console_t console_on(std::FILE* out, std::FILE* in) {
    return {stream_write, out, stream_read, in};
}

int console_write(const console_t* console, const char* bytes, std::size_t count) {
    if (count == 0) {
        return 0;
    }
    void* ctx = nullptr;
    return writer(console, &ctx)(bytes, count, ctx);
}

int console_puts(const console_t* console, const char* text) {
    std::size_t length = 0;
    while (text[length] != '\0') {
        ++length;
    }
    const int first = console_write(console, text, length);
    return console_write(console, "\n", 1) == 0 && first == 0 ? 0 : -1;
}

int console_printf(const console_t* console, const char* format, ...) {
    // Most lines fit here; a longer one (a whole 8 KiB setting) gets a buffer of its size.
    std::array<char, 512> small{};
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(small.data(), small.size(), format, args);
    va_end(args);
    int result = -1;
    if (length >= 0 && static_cast<std::size_t>(length) < small.size()) {
        result = console_write(console, small.data(), static_cast<std::size_t>(length));
    } else if (length >= 0) {
        const std::size_t size = static_cast<std::size_t>(length) + 1;
        const std::unique_ptr<char[]> large(new (std::nothrow) char[size]);
        if (large != nullptr) {
            std::vsnprintf(large.get(), size, format, again);
            result = console_write(console, large.get(), static_cast<std::size_t>(length));
        }
    }
    va_end(again);
    return result;
}

int console_flush(const console_t* console) {
    void* ctx = nullptr;
    return writer(console, &ctx)(nullptr, 0, ctx);
}

int console_getc(const console_t* console) {
    const int byte = console == nullptr || console->read == nullptr
                         ? standard_read(nullptr)
                         : console->read(console->read_ctx);
    return byte >= 0 && byte <= 255 ? byte : -1;
}

} // namespace vimbra
