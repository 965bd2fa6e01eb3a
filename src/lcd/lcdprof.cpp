#include "lcd/lcdprof.hpp"

#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/console.hpp"
#include "base/linesrc.hpp"
#include "base/util.hpp"
#include "lcd/lcdimg.hpp"

namespace vimbra {

namespace {

using text_field_t = std::array<char, LCDIMG_TEXT_CAPACITY> lcdimg_t::*;
using int_field_t = int lcdimg_t::*;
using colour_field_t = lcdimg_rgb_t lcdimg_t::*;
using component_t = int lcdimg_rgb_t::*;

enum class setting_kind { text, number, colour };

// One profile key and the record field it sets; only the members of its kind are used.
struct setting_t {
    const char* key;
    setting_kind kind;
    text_field_t text;
    int_field_t number;
    colour_field_t colour;
    component_t component;
};

constexpr setting_t text_setting(const char* key, text_field_t field) {
    return {key, setting_kind::text, field, nullptr, nullptr, nullptr};
}

constexpr setting_t number_setting(const char* key, int_field_t field) {
    return {key, setting_kind::number, nullptr, field, nullptr, nullptr};
}

constexpr setting_t colour_setting(const char* key, colour_field_t field, component_t part) {
    return {key, setting_kind::colour, nullptr, nullptr, field, part};
}

// Same order as the fields of lcdimg_t and as the keys in docs/formats.md.
constexpr std::array<setting_t, 28> SETTINGS{{
    text_setting("LCD_VENDOR", &lcdimg_t::lcd_vendor),
    text_setting("LCD_MODEL", &lcdimg_t::lcd_model),
    number_setting("CHCNT_X", &lcdimg_t::chcnt_x),
    number_setting("CHCNT_Y", &lcdimg_t::chcnt_y),
    number_setting("CHOFS_X", &lcdimg_t::chofs_x),
    number_setting("CHOFS_Y", &lcdimg_t::chofs_y),
    number_setting("CHGAP_X", &lcdimg_t::chgap_x),
    number_setting("CHGAP_Y", &lcdimg_t::chgap_y),
    number_setting("PIXSIZ_X", &lcdimg_t::pixsiz_x),
    number_setting("PIXSIZ_Y", &lcdimg_t::pixsiz_y),
    number_setting("PIXGAP_X", &lcdimg_t::pixgap_x),
    number_setting("PIXGAP_Y", &lcdimg_t::pixgap_y),
    number_setting("FRAME_X", &lcdimg_t::frame_x),
    number_setting("FRAME_Y", &lcdimg_t::frame_y),
    colour_setting("FRCOL.R", &lcdimg_t::frcol, &lcdimg_rgb_t::r),
    colour_setting("FRCOL.G", &lcdimg_t::frcol, &lcdimg_rgb_t::g),
    colour_setting("FRCOL.B", &lcdimg_t::frcol, &lcdimg_rgb_t::b),
    colour_setting("FGCOL.R", &lcdimg_t::fgcol, &lcdimg_rgb_t::r),
    colour_setting("FGCOL.G", &lcdimg_t::fgcol, &lcdimg_rgb_t::g),
    colour_setting("FGCOL.B", &lcdimg_t::fgcol, &lcdimg_rgb_t::b),
    colour_setting("BGCOL.R", &lcdimg_t::bgcol, &lcdimg_rgb_t::r),
    colour_setting("BGCOL.G", &lcdimg_t::bgcol, &lcdimg_rgb_t::g),
    colour_setting("BGCOL.B", &lcdimg_t::bgcol, &lcdimg_rgb_t::b),
    number_setting("CONTRAST", &lcdimg_t::contrast),
    number_setting("SHADOW_DEPTH", &lcdimg_t::shadow_depth),
    number_setting("SHADOW_CURVE", &lcdimg_t::shadow_curve),
    text_setting("SCRIPT", &lcdimg_t::script_path),
    text_setting("CHARSET", &lcdimg_t::charset_name),
}};
static_assert(SETTINGS.size() == 28, "one entry per profile key");

constexpr std::size_t LINE_CAPACITY = 8192; // line, copy and word buffers, terminator included

using line_buffer_t = std::array<char, LINE_CAPACITY>;

// White space as isspace gives it in the C locale, whatever locale the process runs in.
bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// atoi's grammar, but saturating at INT_MIN..INT_MAX where atoi would be undefined.
int parse_int(const char* text) {
    while (is_c_space(*text)) {
        ++text;
    }
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') {
        ++text;
    }
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT_MIN) : INT_MAX;
    std::int64_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        magnitude = magnitude * 10 + (*text - '0');
        if (magnitude > limit) {
            magnitude = limit; // stays at the limit; further digits cannot lower it
        }
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

// Copies at most LINE_CAPACITY - 1 characters of `line`, with every '=' turned into a blank.
void copy_without_equals(const char* line, line_buffer_t& copy) {
    std::size_t i = 0;
    for (; i + 1 < copy.size() && line[i] != '\0'; ++i) {
        copy[i] = line[i] == '=' ? ' ' : line[i];
    }
    copy[i] = '\0';
}

const setting_t* find_setting(const char* key) {
    for (const setting_t& setting : SETTINGS) {
        if (std::strcmp(setting.key, key) == 0) {
            return &setting;
        }
    }
    return nullptr;
}

void store_setting(lcdimg_t& img, const setting_t& setting, const char* value) {
    switch (setting.kind) {
    case setting_kind::text:
        std::strcpy((img.*setting.text).data(), value); // a word is at most 8191 characters
        break;
    case setting_kind::number:
        img.*setting.number = parse_int(value);
        break;
    case setting_kind::colour:
        (img.*setting.colour).*setting.component = parse_int(value);
        break;
    }
}

// A start address of ROW_ADDRESSES: 0x and hexadecimal digits (0X too, digits in either
// case) or decimal digits, 0x00..0x7F. -1 for anything else.
int parse_row_address(const char* word, std::size_t length) {
    int base = 10;
    std::size_t i = 0;
    if (length > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i == length) {
        return -1;
    }
    int value = 0;
    for (; i < length; ++i) {
        const int digit = base == 16 ? get_hexval(word[i])
                                     : (word[i] >= '0' && word[i] <= '9' ? word[i] - '0' : -1);
        if (digit < 0) {
            return -1;
        }
        value = value * base + digit;
        if (value > 0x7F) {
            return -1;
        }
    }
    return value;
}

// ROW_ADDRESSES takes every word after the key, not only the first: the text keeps them
// (joined by one blank) for the listing and the refusal, the count is -1 when one of them is
// malformed or there are too many.
void store_row_addresses(lcdimg_t& img, const char* rest) {
    img.row_addresses.fill(0);
    img.row_address_count = 0;
    std::size_t used = 0;
    bool malformed = false;
    while (true) {
        while (is_c_space(*rest)) {
            ++rest;
        }
        if (*rest == '\0') {
            break;
        }
        std::size_t length = 0;
        while (rest[length] != '\0' && !is_c_space(rest[length])) {
            ++length;
        }
        // The copy of a line is shorter than the text field, so the joined words always fit.
        if (used > 0) {
            img.row_addresses_text[used++] = ' ';
        }
        std::memcpy(img.row_addresses_text.data() + used, rest, length);
        used += length;
        const int value = parse_row_address(rest, length);
        if (value < 0 || img.row_address_count == LCDIMG_MAX_ROW_ADDRESSES) {
            malformed = true;
        } else {
            img.row_addresses[static_cast<std::size_t>(img.row_address_count++)] =
                static_cast<unsigned char>(value);
        }
        rest += length;
    }
    img.row_addresses_text[used] = '\0';
    if (malformed) {
        img.row_address_count = -1;
    }
}

void print_texts_and_geometry(const lcdimg_t& img) {
    console_printf(&img.console, "LCD_VENDOR   = %s\n", img.lcd_vendor.data());
    console_printf(&img.console, "LCD_MODEL    = %s\n", img.lcd_model.data());
    console_printf(&img.console, "CHCNT_X      = %d\n", img.chcnt_x);
    console_printf(&img.console, "CHCNT_Y      = %d\n", img.chcnt_y);
    console_printf(&img.console, "CHOFS_X      = %d\n", img.chofs_x);
    console_printf(&img.console, "CHOFS_Y      = %d\n", img.chofs_y);
    console_printf(&img.console, "CHGAP_X      = %d\n", img.chgap_x);
    console_printf(&img.console, "CHGAP_Y      = %d\n", img.chgap_y);
    console_printf(&img.console, "PIXSIZ_X     = %d\n", img.pixsiz_x);
    console_printf(&img.console, "PIXSIZ_Y     = %d\n", img.pixsiz_y);
    console_printf(&img.console, "PIXGAP_X     = %d\n", img.pixgap_x);
    console_printf(&img.console, "PIXGAP_Y     = %d\n", img.pixgap_y);
    console_printf(&img.console, "FRAME_X      = %d\n", img.frame_x);
    console_printf(&img.console, "FRAME_Y      = %d\n", img.frame_y);
}

void print_colours_and_rest(const lcdimg_t& img) {
    console_printf(&img.console, "FRCOL        = %3d, %3d, %3d\n", img.frcol.r, img.frcol.g,
                   img.frcol.b);
    console_printf(&img.console, "FGCOL        = %3d, %3d, %3d\n", img.fgcol.r, img.fgcol.g,
                   img.fgcol.b);
    console_printf(&img.console, "BGCOL        = %3d, %3d, %3d\n", img.bgcol.r, img.bgcol.g,
                   img.bgcol.b);
    console_printf(&img.console, "CONTRAST     = %d\n", img.contrast);
    console_printf(&img.console, "SHADOW_DEPTH = %d\n", img.shadow_depth);
    console_printf(&img.console, "SHADOW_CURVE = %d\n", img.shadow_curve);
    console_printf(&img.console, "SCRIPT       = %s\n", img.script_path.data());
    if (img.charset_name[0] != '\0') { // a line only where one is set: older listings stay
        console_printf(&img.console, "CHARSET      = %s\n", img.charset_name.data());
    }
    if (img.row_addresses_text[0] != '\0') {
        console_printf(&img.console, "ROW_ADDRESSES = %s\n", img.row_addresses_text.data());
    }
}

// Feeds every line piece of `src` to pickup_value. Returns -1 when the very first read
// failed with an error (a folder opens but cannot be read), else 0.
int read_settings(linesrc_t* src, lcdimg_t* img) {
    line_buffer_t line{};
    bool any_line = false;
    while (linesrc_next(src, line.data(), static_cast<int>(line.size()))) {
        any_line = true;
        util_remove_comment(line.data());
        pickup_value(img, line.data());
    }
    return !any_line && linesrc_failed(src) ? -1 : 0;
}

int read_and_list(linesrc_t* src, lcdimg_t* img, int listing) {
    const int result = read_settings(src, img);
    if (result == 0 && listing != 0) {
        print_value(img);
    }
    return result;
}

} // namespace

int lcdprof_read(const char* path, lcdimg_t* img, int listing) {
    if (path == nullptr || path[0] == '\0' || img == nullptr) {
        return -1;
    }
    std::FILE* fp = std::fopen(path, "r");
    if (fp == nullptr) {
        return -1;
    }
    linesrc_t src = linesrc_file(fp);
    const int result = read_and_list(&src, img, listing);
    std::fclose(fp);
    return result;
}

int lcdprof_read_text(const char* text, std::size_t length, lcdimg_t* img, int listing) {
    if (img == nullptr) {
        return -1;
    }
    linesrc_t src = linesrc_text(text, length);
    return read_and_list(&src, img, listing);
}

int pickup_value(lcdimg_t* img, const char* line) {
    if (img == nullptr || line == nullptr) {
        return -1;
    }
    line_buffer_t copy{};
    copy_without_equals(line, copy);
    line_buffer_t key{};
    line_buffer_t value{};
    if (std::sscanf(copy.data(), "%s %s", key.data(), value.data()) != 2) {
        return -1;
    }
    if (std::strcmp(key.data(), "ROW_ADDRESSES") == 0) {
        const char* rest = std::strstr(copy.data(), "ROW_ADDRESSES") + std::strlen("ROW_ADDRESSES");
        store_row_addresses(*img, rest);
        return 0;
    }
    const setting_t* setting = find_setting(key.data());
    if (setting == nullptr) {
        return -1;
    }
    store_setting(*img, *setting, value.data());
    return 0;
}

void print_value(const lcdimg_t* img) {
    if (img == nullptr) {
        return;
    }
    print_texts_and_geometry(*img);
    print_colours_and_rest(*img);
}

} // namespace vimbra
