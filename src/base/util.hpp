// Small text helpers of the command line and the configuration readers.
#pragma once

namespace vimbra {

// Statuses of util_format.
enum util_format_status : int {
    UTIL_FORMAT_OK = 0,
    UTIL_FORMAT_END_AFTER_BACKSLASH = 1,
    UTIL_FORMAT_END_AFTER_X = 2,
    UTIL_FORMAT_BAD_FIRST_DIGIT = 3,
    UTIL_FORMAT_END_AFTER_FIRST_DIGIT = 5,
    UTIL_FORMAT_BAD_SECOND_DIGIT = 6,
    UTIL_FORMAT_BAD_ESCAPE = 8,
};

// Decodes the `\\` and `\xHH` escapes of one display row into codes. Always stores the
// number of codes in *count and terminates dst; never writes more than `capacity` bytes.
// A row longer than capacity - 1 codes is cut there (its escapes are still checked).
int util_format(const char* src, unsigned char* dst, int capacity, int* count);
// Decodes the one escape whose backslash is at src[0]: on UTIL_FORMAT_OK stores its code and
// the number of characters it takes (2 or 4); otherwise returns the util_format status.
int util_decode_escape(const char* src, unsigned char* code, int* length);
// Value 0..15 of a hexadecimal digit, -1 for any other character. Usable at compile time.
constexpr int get_hexval(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}
// Cuts a line at its first '#', in place. Returns 0.
int util_remove_comment(char* line);

} // namespace vimbra
