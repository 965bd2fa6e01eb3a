#include "lcd/lcdfont.hpp"

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "base/linesrc.hpp"
#include "base/util.hpp"
#include "lcd/lcdimg.hpp"

namespace vimbra {

namespace {

constexpr std::size_t LINE_CAPACITY = 8192; // line, copy and word buffers, terminator included
constexpr int DOT_COLUMNS = 5;
constexpr int DOT_ROWS = 8;
constexpr std::size_t MIN_ROW_LENGTH = 6; // five dots and at least one more character
constexpr int NO_CODE = -1;

using line_buffer_t = std::array<char, LINE_CAPACITY>;

// State of one read: the glyph being defined and the row counter, which runs across the
// whole file and is never reset by a header.
struct reader_state_t {
    int code = NO_CODE;
    int row = 0;
};

void copy_without_equals(const char* line, line_buffer_t& copy) {
    std::size_t i = 0;
    for (; i + 1 < copy.size() && line[i] != '\0'; ++i) {
        copy[i] = line[i] == '=' ? ' ' : line[i];
    }
    copy[i] = '\0';
}

// Where the reader's rows go: dots one by one, whole rows with their place, or both.
struct reader_sink_t {
    lcdfont_dot_callback_t dot;
    lcdfont_row_callback_t row;
    void* ctx;
};

// A line as fgets gave it: its comment-free text and where it lay in the file.
struct read_line_t {
    const char* text;
    long offset;
    long length;
};

void report_row(const reader_state_t& state, const read_line_t& line, const reader_sink_t& sink) {
    if (state.code != NO_CODE && sink.dot != nullptr) {
        for (int column = 0; column < DOT_COLUMNS; ++column) {
            sink.dot(state.code, column, state.row, line.text[column] != '.' ? 1 : 0, sink.ctx);
        }
    }
    if (sink.row != nullptr) {
        int dots = 0;
        for (int column = 0; column < DOT_COLUMNS; ++column) {
            dots |= line.text[column] != '.' ? 1 << column : 0;
        }
        sink.row({state.code, state.row, dots, line.offset, line.length}, sink.ctx);
    }
}

// Takes one comment-free line: a header, a dot row, or nothing.
void take_line(reader_state_t& state, const read_line_t& line, const reader_sink_t& sink) {
    const int code = pickup_code(line.text);
    if (code >= 0) {
        state.code = code;
        return;
    }
    if (std::strlen(line.text) < MIN_ROW_LENGTH) {
        return;
    }
    report_row(state, line, sink);
    if (++state.row == DOT_ROWS) {
        state.row = 0;
        state.code = NO_CODE;
    }
}

// Returns -1 when the very first read failed with an error (a folder opens but cannot be
// read), else 0. The file position is asked for only when rows are reported whole.
int read_glyphs(linesrc_t* src, const reader_sink_t& sink) {
    line_buffer_t line{};
    reader_state_t state;
    bool any_line = false;
    long offset = 0;
    while (linesrc_next(src, line.data(), static_cast<int>(line.size()))) {
        any_line = true;
        const long next = sink.row != nullptr ? linesrc_tell(src) : 0;
        util_remove_comment(line.data());
        take_line(state, {line.data(), offset, next - offset}, sink);
        offset = next;
    }
    return !any_line && linesrc_failed(src) ? -1 : 0;
}

int read_font(const char* path, const reader_sink_t& sink) {
    if (path == nullptr || path[0] == '\0') {
        return -1;
    }
    std::FILE* fp = std::fopen(path, "r");
    if (fp == nullptr) {
        return -1;
    }
    linesrc_t src = linesrc_file(fp);
    const int result = read_glyphs(&src, sink);
    std::fclose(fp);
    return result;
}

// The code of a header's second word, read as the format "0x%02x" reads it: "0x", then at
// most two characters holding an optional sign and hexadecimal digits. Done by hand, since a
// minus sign would leave the scanf conversion out of range. A negative value wraps past 255,
// so only "-0" still names a glyph. -1 when no digit follows.
int parse_code(const char* word) {
    if (word[0] != '0' || word[1] != 'x') {
        return -1;
    }
    const char* p = word + 2;
    int width = 2;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') {
        ++p;
        --width;
    }
    int value = 0;
    int digits = 0;
    for (; digits < width && get_hexval(p[digits]) >= 0; ++digits) {
        value = value * 16 + get_hexval(p[digits]);
    }
    if (digits == 0) {
        return -1;
    }
    return negative && value != 0 ? -1 : value;
}

} // namespace

int lcdfont_read(const char* path, lcdfont_dot_callback_t callback, void* ctx) {
    return read_font(path, {callback, nullptr, ctx});
}

int lcdfont_read_rows(const char* path, lcdfont_row_callback_t callback, void* ctx) {
    return read_font(path, {nullptr, callback, ctx});
}

int lcdfont_read_text(const char* text, std::size_t length, lcdfont_dot_callback_t callback,
                      void* ctx) {
    linesrc_t src = linesrc_text(text, length);
    return read_glyphs(&src, {callback, nullptr, ctx});
}

int lcdfont_read_rows_text(const char* text, std::size_t length, lcdfont_row_callback_t callback,
                           void* ctx) {
    linesrc_t src = linesrc_text(text, length);
    return read_glyphs(&src, {nullptr, callback, ctx});
}

void lcdfont_read_callback(int code, int column, int row, int on, void* ctx) {
    if (code < 0 || code >= LCDIMG_GLYPH_COUNT || column < 0 || column >= LCDIMG_GLYPH_BYTES ||
        row < 0 || row > 7) {
        return;
    }
    auto* img = static_cast<lcdimg_t*>(ctx);
    unsigned char& column_bits =
        img->font[static_cast<std::size_t>(code * LCDIMG_GLYPH_BYTES + column)];
    const auto bit = static_cast<unsigned char>(1U << row);
    column_bits = static_cast<unsigned char>(on != 0 ? (column_bits | bit) : (column_bits & ~bit));
}

int pickup_code(const char* line) {
    if (line == nullptr) {
        return -1;
    }
    line_buffer_t copy{};
    copy_without_equals(line, copy);
    line_buffer_t first{};
    line_buffer_t second{};
    if (std::sscanf(copy.data(), "%s %s", first.data(), second.data()) != 2) {
        return -1;
    }
    if (std::strcmp(first.data(), "CODE") != 0) {
        return -1;
    }
    return parse_code(second.data());
}

} // namespace vimbra
