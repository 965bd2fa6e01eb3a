#include "script/textedit.hpp"

#include <cstddef>

#include "script/kestlibc.hpp"

namespace vimbra {

namespace {

constexpr int none = -1; // no further line start

bool marked(const textedit_t* te) {
    return te->magic == TEXTEDIT_MAGIC;
}

char at(const textedit_t* te, int pos) {
    return te->text[static_cast<std::size_t>(pos)];
}

int is_delim(char c) {
    return c == '\n' || c == 0 ? 1 : 0;
}

// Characters before the next delimiter. The last byte of the buffer counts as a
// delimiter so that a record whose text lost its terminator is never overrun.
int get_linelength(const textedit_t* te, int pos) {
    int n = 0;
    while (pos + n < TEXTEDIT_CAPACITY - 1 && is_delim(at(te, pos + n)) == 0)
        ++n;
    return n;
}

// The line start after the delimiter at or after `pos`; none when that delimiter
// is the terminator.
int get_linenext(const textedit_t* te, int pos) {
    const int end = pos + get_linelength(te, pos);
    return end < TEXTEDIT_CAPACITY - 1 && at(te, end) == '\n' ? end + 1 : none;
}

// Copies one line (at most capacity - 1 characters) and gives the next line start,
// or none when the line ran to the terminator.
int get_linetext(const textedit_t* te, int pos, char* out, int capacity) {
    const int length = get_linelength(te, pos);
    const int kept = length < capacity - 1 ? length : capacity - 1;
    for (int i = 0; i < kept; ++i)
        out[i] = at(te, pos + i);
    out[kept] = 0;
    return get_linenext(te, pos);
}

// Length of the stored text; the capacity when the terminator is missing.
int text_length(const textedit_t* te) {
    int n = 0;
    while (n < TEXTEDIT_CAPACITY && at(te, n) != 0)
        ++n;
    return n;
}

// Position of line start `index`, or none when the text has fewer line starts.
int line_start(const textedit_t* te, int index) {
    if (index < 0) return none;
    int pos = 0;
    for (int k = 0; k < index && pos != none; ++k)
        pos = get_linenext(te, pos);
    return pos;
}

// Opens a gap of `width` bytes at `pos`, terminator included in the move.
void open_gap(textedit_t* te, int pos, int length, int width) {
    for (int i = length; i >= pos; --i) {
        te->text[static_cast<std::size_t>(i + width)] = at(te, i);
    }
}

} // namespace

int textedit_init(textedit_t* te) {
    te->magic = TEXTEDIT_MAGIC;
    te->text.fill(0);
    return 0;
}

int textedit_clear(textedit_t* te) {
    if (!marked(te)) return -1;
    te->text.fill(0);
    return 0;
}

int textedit_insert(textedit_t* te, int index, const char* chars) {
    if (!marked(te)) return -1;
    const int length = text_length(te);
    int width = 0;
    while (chars[width] != 0 && length + width < TEXTEDIT_CAPACITY)
        ++width;
    if (length + width >= TEXTEDIT_CAPACITY) return -1;
    int pos = line_start(te, index);
    if (pos == none) {
        // One past the last line start appends as well.
        if (index < 1 || line_start(te, index - 1) == none) return -1;
        pos = length;
    }
    open_gap(te, pos, length, width);
    for (int i = 0; i < width; ++i)
        te->text[static_cast<std::size_t>(pos + i)] = chars[i];
    return 0;
}

int textedit_delete(textedit_t* te, int index) {
    if (!marked(te)) return -1;
    const int pos = line_start(te, index);
    if (pos == none) return -1;
    const int length = text_length(te);
    if (length >= TEXTEDIT_CAPACITY) return -1; // the terminator is missing
    const int after = pos + get_linelength(te, pos) + 1;
    if (after >= length) {
        te->text[static_cast<std::size_t>(pos)] = 0;
        return 0;
    }
    for (int i = after; i <= length; ++i) {
        te->text[static_cast<std::size_t>(pos + i - after)] = at(te, i);
    }
    return 0;
}

int textedit_fetch(const textedit_t* te, int index, char* out, int capacity) {
    if (!marked(te) || capacity < 1) return -1;
    int pos = 0;
    for (int k = 0; pos != none; ++k) {
        const int next = get_linetext(te, pos, out, capacity);
        if (k == index) return next == none ? -1 : 0;
        out[0] = 0;
        pos = next;
    }
    return -1;
}

int textedit_info(const textedit_t* te, int* line_count) {
    if (!marked(te)) return -1;
    int count = 0;
    for (int i = 0; i < TEXTEDIT_CAPACITY && at(te, i) != 0; ++i) {
        if (at(te, i) == '\n') ++count;
    }
    *line_count = count;
    return 0;
}

} // namespace vimbra
