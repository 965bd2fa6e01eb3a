#include "script/progedit.hpp"

#include <array>
#include <cstddef>

#include "script/kestlibc.hpp"

namespace vimbra {

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

// Start of the line after the one at `pos`, or -1 when the run at `pos` ends at the
// terminator: only runs ended by a line feed are lines that can be fetched.
int next_line(const progedit_t* store, int pos) {
    for (int i = pos; i < TEXTEDIT_CAPACITY; ++i) {
        const char c = store->text[static_cast<std::size_t>(i)];
        if (c == '\n') return i + 1;
        if (c == 0) return -1;
    }
    return -1;
}

// The line at `pos` as a fetch with capacity 80 gives it: at most 79 characters.
void copy_line(const progedit_t* store, int pos, line_buffer_t* out) {
    int n = 0;
    for (; n < fetch_capacity - 1; ++n) {
        const char c = store->text[static_cast<std::size_t>(pos + n)];
        if (c == '\n' || c == 0) break;
        (*out)[static_cast<std::size_t>(n)] = c;
    }
    (*out)[static_cast<std::size_t>(n)] = 0;
}

// The walks below visit the lines in one pass over the text rather than fetching each
// index from the start again: the same lines in the same order, but a script of
// thousands of lines loads in linear time instead of stalling the run.

// Lines without a blank cannot hold a statement behind their number: drop them.
int cleanup_blank_line(progedit_t* store) {
    line_buffer_t line{};
    int index = 0;
    for (int pos = 0;;) {
        const int next = next_line(store, pos);
        if (next < 0) break;
        copy_line(store, pos, &line);
        if (kestlibc_strchr(line.data(), ' ') != nullptr) {
            ++index;
            pos = next;
        } else if (textedit_delete(store, index) != 0) {
            break; // the following line has moved up to pos
        }
    }
    return 0;
}

// Index where a line numbered `number` belongs; a stored line of that number is
// deleted first. -1 when that delete fails.
int place_for(progedit_t* store, int number) {
    line_buffer_t stored{};
    int index = 0;
    for (int pos = 0;;) {
        const int next = next_line(store, pos);
        if (next < 0) break;
        copy_line(store, pos, &stored);
        const int current = get_line_number(stored.data());
        if (current > number) break;
        if (current == number) return textedit_delete(store, index) == 0 ? index : -1;
        ++index;
        pos = next;
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

} // namespace vimbra
