#include "lcd/fontedit.hpp"

#include <array>
#include <cstdio>
#include <cstring>

#include "base/util.hpp"
#include "lcd/lcdfont.hpp"
#include "lcd/lcdimg.hpp"

namespace vimbra {

namespace {

// Every dot a font text sets, and which ones it sets at all.
struct font_dots_t {
    std::array<unsigned char, LCDIMG_GLYPH_COUNT * LCDIMG_GLYPH_BYTES> value{};
    std::array<unsigned char, LCDIMG_GLYPH_COUNT * LCDIMG_GLYPH_BYTES> set{};
};

// `column` with the dot of `row` lit or not.
unsigned char with_dot(unsigned char column, int row, bool lit) {
    const unsigned bit = 1U << row;
    return static_cast<unsigned char>(lit ? column | bit : column & ~bit);
}

void take_dot(int code, int column, int row, int on, void* ctx) {
    auto* dots = static_cast<font_dots_t*>(ctx);
    const auto at = static_cast<std::size_t>(code * LCDIMG_GLYPH_BYTES + column);
    dots->set[at] = with_dot(dots->set[at], row, true);
    dots->value[at] = with_dot(dots->value[at], row, on != 0);
}

// One glyph as the reader makes it of a text, and the lines that make it.
struct glyph_lines_t {
    int code;
    std::array<unsigned char, LCDIMG_GLYPH_BYTES> columns; // the caller's, then the text's rows
    std::array<long, LCDIMG_DOT_ROWS> line_at;             // last line setting each row; -1
    int next_row; // the row the reader would give a dot row added at the end
};

void take_glyph_row(const lcdfont_row_t& row, void* ctx) {
    auto* glyph = static_cast<glyph_lines_t*>(ctx);
    glyph->next_row = (row.row + 1) % LCDIMG_DOT_ROWS;
    if (row.code != glyph->code) {
        return;
    }
    glyph->line_at[static_cast<std::size_t>(row.row)] = row.offset;
    for (std::size_t c = 0; c < glyph->columns.size(); ++c) {
        glyph->columns[c] = with_dot(glyph->columns[c], row.row, ((row.dots >> c) & 1) != 0);
    }
}

std::string dot_line(const glyph_lines_t& glyph, int row) {
    std::string line;
    for (const unsigned char column : glyph.columns) {
        line += ((column >> row) & 1) != 0 ? 'o' : '.';
    }
    return line + '\n';
}

bool is_ascii(char c) {
    return (static_cast<unsigned char>(c) & 0x80) == 0;
}

bool is_continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Rewrites the row line at `at` to the glyph's dots of `row`: one byte when its five dots are
// ASCII; otherwise all five, with the rest of a character cut by them, and a blank when
// nothing else would keep the line six characters long, as a row must be.
void rewrite_row(std::string& text, std::size_t at, int column, const glyph_lines_t& glyph,
                 int row) {
    const std::string dots = dot_line(glyph, row).substr(0, LCDIMG_DOT_COLUMNS);
    bool ascii = true;
    for (std::size_t i = at; i < at + LCDIMG_DOT_COLUMNS; ++i) {
        ascii = ascii && is_ascii(text[i]);
    }
    if (ascii) {
        text[at + static_cast<std::size_t>(column)] = dots[static_cast<std::size_t>(column)];
        return;
    }
    std::size_t end = at + LCDIMG_DOT_COLUMNS;
    while (end < text.size() && is_continuation(text[end])) {
        ++end;
    }
    const bool ends_row = end == text.size() || text[end] == '#' || text[end] == '\0';
    text.replace(at, end - at, ends_row ? dots + ' ' : dots);
}

// Appends the whole glyph as a block. The reader's row count runs across the file, so a block
// after one cut short starts at that count: its rows from there to 7 come first, then a
// second header and the rest. A last line without its end gets one, and a '#' before it
// when a line end would make a row of it.
void append_glyph(std::string& text, const glyph_lines_t& glyph) {
    if (!text.empty() && text.back() != '\n') {
        const std::size_t end = text.rfind('\n');
        std::string last = text.substr(end == std::string::npos ? 0 : end + 1);
        util_remove_comment(last.data());
        text += std::strlen(last.c_str()) == LCDIMG_DOT_COLUMNS ? "#\n" : "\n";
    }
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\n\n") != 0) {
        text += '\n';
    }
    std::array<char, 16> header{};
    std::snprintf(header.data(), header.size(), "CODE 0x%02X\n", static_cast<unsigned>(glyph.code));
    text += header.data();
    for (int row = glyph.next_row; row < LCDIMG_DOT_ROWS; ++row) {
        text += dot_line(glyph, row);
    }
    if (glyph.next_row != 0) {
        text += header.data();
        for (int row = 0; row < glyph.next_row; ++row) {
            text += dot_line(glyph, row);
        }
    }
}

// True when `text` sets every dot as `before` did except the glyph's, which
// reads as `glyph` (rows it leaves unset keep the caller's).
bool reads_as(const std::string& text, const font_dots_t& before, const glyph_lines_t& glyph,
              const std::array<unsigned char, LCDIMG_GLYPH_BYTES>& base) {
    font_dots_t after;
    if (lcdfont_read_text(text.data(), text.size(), take_dot, &after) != 0) {
        return false;
    }
    for (std::size_t at = 0; at < after.value.size(); ++at) {
        const auto code = static_cast<int>(at) / LCDIMG_GLYPH_BYTES;
        if (code != glyph.code) {
            if (after.value[at] != before.value[at] || after.set[at] != before.set[at]) {
                return false;
            }
            continue;
        }
        const std::size_t c = at % LCDIMG_GLYPH_BYTES;
        const auto shown = static_cast<unsigned char>((after.value[at] & after.set[at]) |
                                                      (base[c] & ~after.set[at]));
        if (shown != glyph.columns[c]) {
            return false;
        }
    }
    return true;
}

} // namespace

int fontedit_toggle(std::string* text, int code, int row, int column, unsigned char* glyph) {
    if (code < 0 || code >= LCDIMG_GLYPH_COUNT || row < 0 || row >= LCDIMG_DOT_ROWS || column < 0 ||
        column >= LCDIMG_DOT_COLUMNS) {
        return -1;
    }
    std::array<unsigned char, LCDIMG_GLYPH_BYTES> base{};
    std::memcpy(base.data(), glyph, base.size());
    glyph_lines_t lines{code, base, {}, 0};
    lines.line_at.fill(-1);
    font_dots_t before;
    try {
        std::string next = *text;
        if (lcdfont_read_text(next.data(), next.size(), take_dot, &before) != 0 ||
            lcdfont_read_rows_text(next.data(), next.size(), take_glyph_row, &lines) != 0) {
            return -1;
        }
        lines.columns[static_cast<std::size_t>(column)] ^= static_cast<unsigned char>(1U << row);
        const long at = lines.line_at[static_cast<std::size_t>(row)];
        if (at >= 0) {
            rewrite_row(next, static_cast<std::size_t>(at), column, lines, row);
        } else {
            append_glyph(next, lines);
        }
        if (!reads_as(next, before, lines, base)) {
            return -1;
        }
        text->swap(next);
    } catch (...) {
        return -1;
    }
    std::memcpy(glyph, lines.columns.data(), lines.columns.size());
    return 0;
}

} // namespace vimbra
