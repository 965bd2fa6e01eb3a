#include "job/screen.hpp"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "chip/charset.hpp"
#include "chip/replay.hpp"
#include "lcd/lcdimg.hpp"

namespace vimbra {

namespace {

constexpr std::array<unsigned char, 3> MAGENTA{255, 0, 255};

std::size_t pixel_index(int x, int y, int width) {
    return (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
            static_cast<std::size_t>(x)) *
           3;
}

// The index 0..count-1 of the cell whose dots cover `at` along one axis, or -1.
int cell_along(std::int64_t at, std::int64_t first, std::int64_t extent, std::int64_t pitch,
               int count) {
    const std::int64_t from_first = at - first;
    if (from_first < 0 || pitch <= 0 || from_first % pitch >= extent) {
        return -1;
    }
    const std::int64_t index = from_first / pitch;
    return index < count ? static_cast<int>(index) : -1;
}

void tint(unsigned char* pixel) {
    for (std::size_t i = 0; i < 3; ++i) {
        pixel[i] = static_cast<unsigned char>((pixel[i] + MAGENTA[i]) / 2);
    }
}

void append_escape(std::string* out, unsigned char code) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "\\x%02X", code);
    out->append(text.data());
}

// The spelling of one code through `set`, or "" when only an escape places it.
const char* set_spelling(const charset_t* set, unsigned char code) {
    const char* text = charset_spell(set, code);
    // A backslash in the text would read as an escape: only the backslash code itself may
    // use one, written as the escape that places it.
    return text != nullptr && std::strchr(text, '\\') == nullptr ? text : "";
}

std::string spell_with(const charset_t* set, const unsigned char* codes, int count,
                       bool escape_all) {
    std::string out;
    for (int i = 0; i < count; ++i) {
        const unsigned char code = codes[i];
        const char* text = set != nullptr && !escape_all ? set_spelling(set, code) : "";
        if (text[0] != '\0') {
            out.append(text);
        } else if (code == 0x5C) { // the escape places the raw code, whatever the set
            out.append("\\\\");
        } else if (set == nullptr && !escape_all && code >= 0x20 && code <= 0x7E) {
            out.push_back(static_cast<char>(code));
        } else {
            append_escape(&out, code);
        }
    }
    return out;
}

// True when `text` decodes through `set` to exactly `codes`.
bool reads_back(const charset_t* set, const std::string& text, const unsigned char* codes,
                int count) {
    const std::size_t capacity = text.size() + 1;
    auto* decoded = new (std::nothrow) unsigned char[capacity];
    if (decoded == nullptr) {
        return false;
    }
    int decoded_count = 0;
    std::array<char, CHARSET_MESSAGE_CAPACITY> message{};
    const int status =
        charset_decode(set, text.c_str(), 0, decoded, static_cast<int>(capacity), &decoded_count,
                       message.data(), static_cast<int>(message.size()));
    const bool same = status == 0 && decoded_count == count &&
                      std::memcmp(decoded, codes, static_cast<std::size_t>(count)) == 0;
    delete[] decoded;
    return same;
}

} // namespace

void screen_layout_of(const lcdimg_t* img, int scale, screen_layout_t* layout) {
    int cell_w = 0;
    int cell_h = 0;
    lcdimg_cell_size(img, &cell_w, &cell_h);
    // A cell's first dot sits one dot gap left of and above the cell's origin (draw_char).
    layout->left = static_cast<std::int64_t>(img->frame_x) + img->chofs_x - img->pixgap_x;
    layout->top = static_cast<std::int64_t>(img->frame_y) + img->chofs_y - img->pixgap_y;
    layout->cell_width = cell_w;
    layout->cell_height = cell_h;
    layout->pitch_x = static_cast<std::int64_t>(cell_w) + img->chgap_x;
    layout->pitch_y = static_cast<std::int64_t>(cell_h) + img->chgap_y;
    layout->columns = img->chcnt_x;
    layout->rows = img->chcnt_y;
    layout->scale = scale;
}

int screen_cell_at(const screen_layout_t* layout, int x, int y) {
    const int column = cell_along(x / layout->scale, layout->left, layout->cell_width,
                                  layout->pitch_x, layout->columns);
    const int row = cell_along(y / layout->scale, layout->top, layout->cell_height, layout->pitch_y,
                               layout->rows);
    return column < 0 || row < 0 ? -1 : row * layout->columns + column;
}

bool screen_scale_fits(int width, int height, int scale) {
    const std::int64_t out_width = static_cast<std::int64_t>(width) * scale;
    const std::int64_t out_height = static_cast<std::int64_t>(height) * scale;
    if (scale < 1 || width < 1 || height < 1 || out_width > LCDIMG_MAX_SIDE ||
        out_height > LCDIMG_MAX_SIDE) {
        return false;
    }
    const std::int64_t stride = (3 * out_width + 3) / 4 * 4;
    return 54 + stride * out_height <= LCDIMG_MAX_FILE_BYTES;
}

unsigned char* screen_scale(const unsigned char* rgb, int width, int height, int scale) {
    if (!screen_scale_fits(width, height, scale)) {
        return nullptr;
    }
    const std::int64_t out_width = static_cast<std::int64_t>(width) * scale;
    const std::int64_t out_height = static_cast<std::int64_t>(height) * scale;
    const auto row_bytes = static_cast<std::size_t>(out_width) * 3;
    auto* out =
        static_cast<unsigned char*>(std::malloc(row_bytes * static_cast<std::size_t>(out_height)));
    if (out == nullptr) {
        return nullptr;
    }
    for (int y = 0; y < height; ++y) {
        unsigned char* first =
            out + row_bytes * static_cast<std::size_t>(y) * static_cast<std::size_t>(scale);
        const unsigned char* src = rgb + pixel_index(0, y, width);
        unsigned char* dst = first;
        for (int x = 0; x < width; ++x, src += 3) {
            for (int i = 0; i < scale; ++i, dst += 3) {
                std::memcpy(dst, src, 3);
            }
        }
        for (int i = 1; i < scale; ++i) { // the other rows of the block repeat the first
            std::memcpy(first + row_bytes * static_cast<std::size_t>(i), first, row_bytes);
        }
    }
    return out;
}

int screen_compare(const screen_layout_t* layout, const unsigned char* rgb,
                   const unsigned char* ref, int width, int height, screen_diff_t* diff) {
    *diff = screen_diff_t{};
    const std::size_t cells =
        static_cast<std::size_t>(layout->columns) * static_cast<std::size_t>(layout->rows);
    diff->cells = static_cast<unsigned char*>(std::calloc(cells, 1));
    if (diff->cells == nullptr) {
        return -1;
    }
    const std::size_t row_bytes = static_cast<std::size_t>(width) * 3;
    for (int y = 0; y < height; ++y) {
        // Equal rows, nearly all of them, take one memcmp; only the others are looked into.
        const std::size_t row = pixel_index(0, y, width);
        if (std::memcmp(rgb + row, ref + row, row_bytes) == 0) {
            continue;
        }
        for (int x = 0; x < width; ++x) {
            const std::size_t at = pixel_index(x, y, width);
            if (std::memcmp(rgb + at, ref + at, 3) == 0) {
                continue;
            }
            const int cell = screen_cell_at(layout, x, y);
            if (cell < 0) {
                diff->outside = true;
            } else if (diff->cells[cell] == 0) {
                diff->cells[cell] = 1;
                ++diff->cell_count;
            }
        }
    }
    return 0;
}

void screen_diff_free(screen_diff_t* diff) {
    std::free(diff->cells);
    *diff = screen_diff_t{};
}

int screen_diff_report(const screen_layout_t* layout, const screen_diff_t* diff, int list_limit,
                       std::string* report) try {
    std::string& out = *report;
    out.clear();
    if (diff->cell_count > 0) {
        out = std::to_string(diff->cell_count) +
              (diff->cell_count == 1 ? " cell differs: " : " cells differ: ");
        int named = 0;
        const int cells = layout->columns * layout->rows;
        for (int cell = 0; cell < cells && named < list_limit; ++cell) {
            if (diff->cells[cell] != 0) {
                out += (named > 0 ? ", row " : "row ") +
                       std::to_string(cell / layout->columns + 1) + " column " +
                       std::to_string(cell % layout->columns + 1);
                ++named;
            }
        }
        if (diff->cell_count > named) {
            out += " and " + std::to_string(diff->cell_count - named) + " more";
        }
        if (diff->outside) {
            out += "; pixels outside the cells differ too";
        }
    } else if (diff->outside) {
        out = "pixels outside the cells differ";
    }
    return 0;
} catch (const std::bad_alloc&) {
    return -1;
}

void screen_mark(const screen_layout_t* layout, const screen_diff_t* diff, unsigned char* rgb,
                 const unsigned char* ref, int width, int height) {
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::size_t at = pixel_index(x, y, width);
            const int cell = screen_cell_at(layout, x, y);
            if (cell >= 0 && diff->cells[cell] != 0) {
                tint(rgb + at);
            } else if (cell < 0 && std::memcmp(rgb + at, ref + at, 3) != 0) {
                std::memcpy(rgb + at, MAGENTA.data(), 3);
            }
        }
    }
}

unsigned char* screen_panels(const unsigned char* left, const unsigned char* middle,
                             const unsigned char* right, int width, int height) {
    if (width < 1 || height < 1) {
        return nullptr;
    }
    const std::size_t panel_row = static_cast<std::size_t>(width) * 3;
    const std::size_t gap = static_cast<std::size_t>(SCREEN_PANEL_GAP) * 3;
    const std::size_t row_bytes = 3 * panel_row + 2 * gap;
    auto* out =
        static_cast<unsigned char*>(std::malloc(row_bytes * static_cast<std::size_t>(height)));
    if (out == nullptr) {
        return nullptr;
    }
    std::memset(out, SCREEN_PANEL_GAP_GREY, row_bytes * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        unsigned char* row = out + row_bytes * static_cast<std::size_t>(y);
        const std::size_t from = panel_row * static_cast<std::size_t>(y);
        std::memcpy(row, left + from, panel_row);
        std::memcpy(row + panel_row + gap, middle + from, panel_row);
        std::memcpy(row + 2 * (panel_row + gap), right + from, panel_row);
    }
    return out;
}

int screen_spell_row(const charset_t* set, const unsigned char* codes, int count,
                     std::string* text) try {
    *text = spell_with(set, codes, count, false);
    // Two spellings side by side may read as one character of the set (a kana and its
    // voicing mark): escapes alone then read back for certain.
    if (set != nullptr && !reads_back(set, *text, codes, count)) {
        *text = spell_with(set, codes, count, true);
    }
    return 0;
} catch (const std::bad_alloc&) {
    return -1;
}

int screen_text(const lcdimg_t* img, const replay_status_t* status, std::string* text) try {
    text->clear();
    std::string line;
    for (int r = 0; r < img->chcnt_y; ++r) {
        const unsigned char* codes =
            img->text_grid + static_cast<std::size_t>(r) * static_cast<std::size_t>(img->chcnt_x);
        if (screen_spell_row(img->charset, codes, img->chcnt_x, &line) != 0) {
            return -1;
        }
        *text += line + "\n";
    }
    // Typed rows show no cursor on a display that is on.
    const replay_status_t typed{-1, -1, true, false, false};
    const replay_status_t& s = status != nullptr ? *status : typed;
    const auto on_off = [](bool on) { return on ? "on" : "off"; };
    *text += s.cursor_row < 0 ? std::string("no cursor")
                              : "cursor row " + std::to_string(s.cursor_row + 1) + " column " +
                                    std::to_string(s.cursor_column + 1);
    *text += std::string(", display ") + on_off(s.display_on) + ", cursor " + on_off(s.cursor_on) +
             ", blink " + on_off(s.blink_on) + "\n";
    return 0;
} catch (const std::bad_alloc&) {
    return -1;
}

} // namespace vimbra
