#include "script/progedit.hpp"

#include <array>

#include "script/kestlibc.hpp"

namespace {

constexpr int fetch_capacity = PROGEDIT_LINE_MAX + 1;

// 79 characters, the line feed and the terminator.
using line_buffer_t = std::array<char, PROGEDIT_LINE_MAX + 2>;

// The number given by the line's first word; 0 when it does not start with digits.
int get_line_number(const char* line) {
    line_buffer_t copy{};
    int n = 0;
    for (; line[n] != 0 && line[n] != ' ' && n < PROGEDIT_LINE_MAX + 1; ++n) {
        copy[static_cast<std::size_t>(n)] = line[n];
    }
    copy[static_cast<std::size_t>(n)] = 0;
    return kestlibc_atoi(copy.data());
}

// Lines without a blank cannot hold a statement behind their number: drop them.
int cleanup_blank_line(progedit_t* store) {
    line_buffer_t line{};
    int index = 0;
    while (textedit_fetch(store, index, line.data(), fetch_capacity) == 0) {
        if (kestlibc_strchr(line.data(), ' ') != nullptr) {
            ++index;
        } else if (textedit_delete(store, index) != 0) {
            break;
        }
    }
    return 0;
}

// Index where a line numbered `number` belongs; a stored line of that number is
// deleted first. -1 when that delete fails.
int place_for(progedit_t* store, int number) {
    line_buffer_t stored{};
    int index = 0;
    while (textedit_fetch(store, index, stored.data(), fetch_capacity) == 0) {
        const int current = get_line_number(stored.data());
        if (current > number) break;
        if (current == number) return textedit_delete(store, index) == 0 ? index : -1;
        ++index;
    }
    return index;
}

} // namespace

int progedit_init(progedit_t* store) {
    return textedit_init(store);
}

int progedit_clear(progedit_t* store) {
    return textedit_clear(store);
}

int progedit_insert(progedit_t* store, const char* line) {
    int length = 0;
    while (line[length] != 0 && length <= PROGEDIT_LINE_MAX)
        ++length;
    if (length > PROGEDIT_LINE_MAX) return -1;
    line_buffer_t copy{};
    kestlibc_strcpy(copy.data(), line);
    for (char& c : copy) {
        if (c == '\r' || c == '\n') c = 0;
    }
    kestlibc_strcat(copy.data(), "\n");
    if (kestlibc_strlen(copy.data()) <= 1) return 0;
    const int number = get_line_number(copy.data());
    if (number < 0) return -1;
    const int index = place_for(store, number);
    if (index < 0) return -1;
    if (textedit_insert(store, index, copy.data()) != 0) return -1;
    return cleanup_blank_line(store);
}

int progedit_fetch(const progedit_t* store, int index, char* out, int capacity) {
    return textedit_fetch(store, index, out, capacity);
}
