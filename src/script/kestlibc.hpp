// The interpreter's own string, character-class and number routines.
// Characters compare as signed chars: bytes 0x80..0xFF sort below 0x00..0x7F.
#pragma once

#include <cstdint>

namespace vimbra {

int kestlibc_strlen(const char* s);
char* kestlibc_strcpy(char* dst, const char* src);
char* kestlibc_strcat(char* dst, const char* src);
// -1, 0 or 1.
int kestlibc_strcmp(const char* a, const char* b);
// -1, 0 or 1, looking at no more than n characters.
int kestlibc_strncmp(const char* a, const char* b, int n);
// The character classes are inline: the tokenizer and the evaluator test every character.
inline int kestlibc_isdigit(int c) {
    return c >= '0' && c <= '9' ? 1 : 0;
}
inline int kestlibc_isalpha(int c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ? 1 : 0;
}
// 1 for 0x00..0x06 and 0x0E..0x1F.
inline int kestlibc_iscntrl(int c) {
    return (c >= 0x00 && c <= 0x06) || (c >= 0x0E && c <= 0x1F) ? 1 : 0;
}
inline int kestlibc_toupper(int c) {
    return c >= 'a' && c <= 'z' ? c - 32 : c;
}
inline int kestlibc_tolower(int c) {
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
}
// Two passes: spaces and signs are counted over the whole text, digits read from that index.
// Wraps around at 32 bits.
int kestlibc_atoi(const char* s);
// First byte equal to c (as a signed char), never the NUL; nullptr when none.
const char* kestlibc_strchr(const char* s, int c);
// Digits of `value` in `base` (2..36, lower-case letters); buf needs 33 bytes for base 2.
char* kestlibc_utoa(std::uint32_t value, char* buf, std::uint32_t base);

} // namespace vimbra
