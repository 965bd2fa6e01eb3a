#include "script/kestlibc.hpp"

namespace vimbra {

namespace {

// Bytes are compared as signed chars, so 0x80..0xFF sort below the NUL.
int signed_at(const char* s, int i) {
    return static_cast<signed char>(s[i]);
}

// Compares at most `limit` positions; a negative limit means no limit.
int compare(const char* a, const char* b, int limit) {
    for (int i = 0; a[i] != 0 || b[i] != 0; ++i) {
        if (limit >= 0 && i >= limit) return 0;
        const int ca = signed_at(a, i);
        const int cb = signed_at(b, i);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return 0;
}

constexpr char digit_table[] = "0123456789abcdefghijklmnopqrstuvwxyz";
static_assert(sizeof(digit_table) == 37, "36 digits and the terminator");

} // namespace

int kestlibc_strlen(const char* s) {
    int n = 0;
    while (s[n] != 0)
        ++n;
    return n;
}

char* kestlibc_strcpy(char* dst, const char* src) {
    int i = 0;
    for (; src[i] != 0; ++i)
        dst[i] = src[i];
    dst[i] = 0;
    return dst;
}

char* kestlibc_strcat(char* dst, const char* src) {
    kestlibc_strcpy(dst + kestlibc_strlen(dst), src);
    return dst;
}

int kestlibc_strcmp(const char* a, const char* b) {
    return compare(a, b, -1);
}

int kestlibc_strncmp(const char* a, const char* b, int n) {
    if (n <= 0) return 0;
    return compare(a, b, n);
}

int kestlibc_atoi(const char* s) {
    int skip = 0;
    bool negative = false;
    bool signed_seen = false;
    for (int i = 0; s[i] != 0; ++i) {
        const char c = s[i];
        if (c == ' ') {
            ++skip;
        } else if (c == '+' || c == '-') {
            if (signed_seen) return 0;
            signed_seen = true;
            negative = c == '-';
            ++skip;
        }
    }
    // Digits wrap at 32 bits; unsigned arithmetic keeps that defined.
    std::uint32_t value = 0;
    for (int i = skip; kestlibc_isdigit(s[i]) != 0; ++i) {
        value = value * 10u + static_cast<std::uint32_t>(s[i] - '0');
    }
    if (negative) value = 0u - value;
    return static_cast<int>(value);
}

const char* kestlibc_strchr(const char* s, int c) {
    for (int i = 0; s[i] != 0; ++i) {
        if (signed_at(s, i) == c) return s + i;
    }
    return nullptr;
}

char* kestlibc_utoa(std::uint32_t value, char* buf, std::uint32_t base) {
    // Out-of-range bases would index past the digit table or divide by zero.
    if (base < 2 || base > 36) base = 10;
    int n = 0;
    do {
        buf[n++] = digit_table[value % base];
        value /= base;
    } while (value != 0);
    buf[n] = 0;
    for (int i = 0, j = n - 1; i < j; ++i, --j) {
        const char t = buf[i];
        buf[i] = buf[j];
        buf[j] = t;
    }
    return buf;
}

} // namespace vimbra
