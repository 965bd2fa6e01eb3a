#include "lcd/lcdimg.hpp"

#include <sys/mman.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include "base/console.hpp"
#include "chip/charset.hpp"
#include "lcd/lcdfont.hpp"
#include "lcd/lcdprof.hpp"

namespace vimbra {

namespace {

constexpr int FIRST_PRINTABLE = 0x21;
constexpr int PRINTABLE_COUNT = 0x7F - FIRST_PRINTABLE + 1;

// Column bytes of codes 0x21..0x7F, five per code, bit 0 the top dot row.
constexpr std::array<unsigned char, PRINTABLE_COUNT * LCDIMG_GLYPH_BYTES> PRINTABLE_GLYPHS{{
    0x00, 0x00, 0x5F, 0x00, 0x00, // 0x21 !
    0x00, 0x07, 0x00, 0x07, 0x00, // 0x22 "
    0x14, 0x7F, 0x14, 0x7F, 0x14, // 0x23 #
    0x24, 0x2A, 0x7F, 0x2A, 0x12, // 0x24 $
    0x23, 0x13, 0x08, 0x64, 0x62, // 0x25 %
    0x36, 0x49, 0x55, 0x22, 0x50, // 0x26 &
    0x00, 0x05, 0x03, 0x00, 0x00, // 0x27 '
    0x00, 0x1C, 0x22, 0x41, 0x00, // 0x28 (
    0x00, 0x41, 0x22, 0x1C, 0x00, // 0x29 )
    0x08, 0x2A, 0x1C, 0x2A, 0x08, // 0x2A *
    0x08, 0x08, 0x3E, 0x08, 0x08, // 0x2B +
    0x00, 0x50, 0x30, 0x00, 0x00, // 0x2C ,
    0x08, 0x08, 0x08, 0x08, 0x08, // 0x2D -
    0x00, 0x60, 0x60, 0x00, 0x00, // 0x2E .
    0x20, 0x10, 0x08, 0x04, 0x02, // 0x2F /
    0x3E, 0x51, 0x49, 0x45, 0x3E, // 0x30 0
    0x00, 0x42, 0x7F, 0x40, 0x00, // 0x31 1
    0x42, 0x61, 0x51, 0x49, 0x46, // 0x32 2
    0x21, 0x41, 0x45, 0x4B, 0x31, // 0x33 3
    0x18, 0x14, 0x12, 0x7F, 0x10, // 0x34 4
    0x27, 0x45, 0x45, 0x45, 0x39, // 0x35 5
    0x3C, 0x4A, 0x49, 0x49, 0x30, // 0x36 6
    0x01, 0x71, 0x09, 0x05, 0x03, // 0x37 7
    0x36, 0x49, 0x49, 0x49, 0x36, // 0x38 8
    0x06, 0x49, 0x49, 0x29, 0x1E, // 0x39 9
    0x00, 0x36, 0x36, 0x00, 0x00, // 0x3A :
    0x00, 0x56, 0x36, 0x00, 0x00, // 0x3B ;
    0x00, 0x08, 0x14, 0x22, 0x41, // 0x3C <
    0x14, 0x14, 0x14, 0x14, 0x14, // 0x3D =
    0x41, 0x22, 0x14, 0x08, 0x00, // 0x3E >
    0x02, 0x01, 0x51, 0x09, 0x06, // 0x3F ?
    0x32, 0x49, 0x79, 0x41, 0x3E, // 0x40 @
    0x7E, 0x11, 0x11, 0x11, 0x7E, // 0x41 A
    0x7F, 0x49, 0x49, 0x49, 0x36, // 0x42 B
    0x3E, 0x41, 0x41, 0x41, 0x22, // 0x43 C
    0x7F, 0x41, 0x41, 0x22, 0x1C, // 0x44 D
    0x7F, 0x49, 0x49, 0x49, 0x41, // 0x45 E
    0x7F, 0x09, 0x09, 0x09, 0x01, // 0x46 F
    0x3E, 0x41, 0x41, 0x51, 0x32, // 0x47 G
    0x7F, 0x08, 0x08, 0x08, 0x7F, // 0x48 H
    0x00, 0x41, 0x7F, 0x41, 0x00, // 0x49 I
    0x20, 0x40, 0x41, 0x3F, 0x01, // 0x4A J
    0x7F, 0x08, 0x14, 0x22, 0x41, // 0x4B K
    0x7F, 0x40, 0x40, 0x40, 0x40, // 0x4C L
    0x7F, 0x02, 0x04, 0x02, 0x7F, // 0x4D M
    0x7F, 0x04, 0x08, 0x10, 0x7F, // 0x4E N
    0x3E, 0x41, 0x41, 0x41, 0x3E, // 0x4F O
    0x7F, 0x09, 0x09, 0x09, 0x06, // 0x50 P
    0x3E, 0x41, 0x51, 0x21, 0x5E, // 0x51 Q
    0x7F, 0x09, 0x19, 0x29, 0x46, // 0x52 R
    0x46, 0x49, 0x49, 0x49, 0x31, // 0x53 S
    0x01, 0x01, 0x7F, 0x01, 0x01, // 0x54 T
    0x3F, 0x40, 0x40, 0x40, 0x3F, // 0x55 U
    0x1F, 0x20, 0x40, 0x20, 0x1F, // 0x56 V
    0x7F, 0x20, 0x18, 0x20, 0x7F, // 0x57 W
    0x63, 0x14, 0x08, 0x14, 0x63, // 0x58 X
    0x03, 0x04, 0x78, 0x04, 0x03, // 0x59 Y
    0x61, 0x51, 0x49, 0x45, 0x43, // 0x5A Z
    0x00, 0x00, 0x7F, 0x41, 0x41, // 0x5B [
    0x02, 0x04, 0x08, 0x10, 0x20, // 0x5C backslash
    0x41, 0x41, 0x7F, 0x00, 0x00, // 0x5D ]
    0x04, 0x02, 0x01, 0x02, 0x04, // 0x5E ^
    0x40, 0x40, 0x40, 0x40, 0x40, // 0x5F _
    0x00, 0x01, 0x02, 0x04, 0x00, // 0x60 `
    0x20, 0x54, 0x54, 0x54, 0x78, // 0x61 a
    0x7F, 0x48, 0x44, 0x44, 0x38, // 0x62 b
    0x38, 0x44, 0x44, 0x44, 0x20, // 0x63 c
    0x38, 0x44, 0x44, 0x48, 0x7F, // 0x64 d
    0x38, 0x54, 0x54, 0x54, 0x18, // 0x65 e
    0x08, 0x7E, 0x09, 0x01, 0x02, // 0x66 f
    0x08, 0x14, 0x54, 0x54, 0x3C, // 0x67 g
    0x7F, 0x08, 0x04, 0x04, 0x78, // 0x68 h
    0x00, 0x44, 0x7D, 0x40, 0x00, // 0x69 i
    0x20, 0x40, 0x44, 0x3D, 0x00, // 0x6A j
    0x00, 0x7F, 0x10, 0x28, 0x44, // 0x6B k
    0x00, 0x41, 0x7F, 0x40, 0x00, // 0x6C l
    0x7C, 0x04, 0x18, 0x04, 0x78, // 0x6D m
    0x7C, 0x08, 0x04, 0x04, 0x78, // 0x6E n
    0x38, 0x44, 0x44, 0x44, 0x38, // 0x6F o
    0x7C, 0x14, 0x14, 0x14, 0x08, // 0x70 p
    0x08, 0x14, 0x14, 0x18, 0x7C, // 0x71 q
    0x7C, 0x08, 0x04, 0x04, 0x08, // 0x72 r
    0x48, 0x54, 0x54, 0x54, 0x20, // 0x73 s
    0x04, 0x3F, 0x44, 0x40, 0x20, // 0x74 t
    0x3C, 0x40, 0x40, 0x20, 0x7C, // 0x75 u
    0x1C, 0x20, 0x40, 0x20, 0x1C, // 0x76 v
    0x3C, 0x40, 0x30, 0x40, 0x3C, // 0x77 w
    0x44, 0x28, 0x10, 0x28, 0x44, // 0x78 x
    0x0C, 0x50, 0x50, 0x50, 0x3C, // 0x79 y
    0x44, 0x64, 0x54, 0x4C, 0x44, // 0x7A z
    0x00, 0x08, 0x36, 0x41, 0x00, // 0x7B {
    0x00, 0x00, 0x7F, 0x00, 0x00, // 0x7C |
    0x00, 0x41, 0x36, 0x08, 0x00, // 0x7D }
    0x08, 0x08, 0x2A, 0x1C, 0x08, // 0x7E right arrow
    0x08, 0x1C, 0x2A, 0x08, 0x08, // 0x7F left arrow
}};
static_assert(PRINTABLE_GLYPHS.size() == 95 * 5, "codes 0x21..0x7F, five columns each");

constexpr lcdimg_font_t make_master_font() {
    lcdimg_font_t font{};
    for (std::size_t i = 0; i < PRINTABLE_GLYPHS.size(); ++i) {
        font[FIRST_PRINTABLE * LCDIMG_GLYPH_BYTES + i] = PRINTABLE_GLYPHS[i];
    }
    return font;
}

// The lower bound of one geometry setting.
struct setting_floor_t {
    const char* key;
    int lcdimg_t::*field;
    int minimum;
};

// Same order as the twelve geometry fields of lcdimg_t.
constexpr std::array<setting_floor_t, 12> GEOMETRY_FLOORS{{
    {"CHCNT_X", &lcdimg_t::chcnt_x, 1},
    {"CHCNT_Y", &lcdimg_t::chcnt_y, 1},
    {"CHOFS_X", &lcdimg_t::chofs_x, 0},
    {"CHOFS_Y", &lcdimg_t::chofs_y, 0},
    {"CHGAP_X", &lcdimg_t::chgap_x, 0},
    {"CHGAP_Y", &lcdimg_t::chgap_y, 0},
    {"PIXSIZ_X", &lcdimg_t::pixsiz_x, 1},
    {"PIXSIZ_Y", &lcdimg_t::pixsiz_y, 1},
    {"PIXGAP_X", &lcdimg_t::pixgap_x, 0},
    {"PIXGAP_Y", &lcdimg_t::pixgap_y, 0},
    {"FRAME_X", &lcdimg_t::frame_x, 0},
    {"FRAME_Y", &lcdimg_t::frame_y, 0},
}};
static_assert(GEOMETRY_FLOORS.size() == 12, "one entry per geometry setting");

// Sizes beyond this are reported as "over" it; they are far past every limit anyway, and two
// of them still add up without overflow.
constexpr std::int64_t SIZE_CEILING = INT64_C(1) << 61;

// Saturating arithmetic on non-negative sizes, so absurd settings cannot overflow.
std::int64_t size_mul(std::int64_t a, std::int64_t b) {
    if (a != 0 && b > SIZE_CEILING / a) {
        return SIZE_CEILING;
    }
    return a * b;
}

std::int64_t size_add(std::int64_t a, std::int64_t b) {
    return a + b < SIZE_CEILING ? a + b : SIZE_CEILING;
}

// One side of the picture, exact up to SIZE_CEILING; all settings are non-negative here.
std::int64_t side_length(int frame, int offset, int count, int dots, int size, int pixgap,
                         int chgap) {
    const std::int64_t cell = size_add(size_mul(dots, size), size_mul(dots - 1, pixgap));
    const std::int64_t cells = size_add(size_mul(count, cell), size_mul(count - 1, chgap));
    return size_add(size_add(size_mul(2, frame), size_mul(2, offset)), cells);
}

void format_side(std::int64_t side, std::array<char, 32>* text) {
    if (side >= SIZE_CEILING) {
        std::snprintf(text->data(), text->size(), "over %" PRId64, SIZE_CEILING);
    } else {
        std::snprintf(text->data(), text->size(), "%" PRId64, side);
    }
}

// The checks below put their one line, without a line end, into `message`.
int check_floors(const lcdimg_t* img, char* message, std::size_t capacity) {
    for (const setting_floor_t& floor : GEOMETRY_FLOORS) {
        const int value = img->*(floor.field);
        if (value < floor.minimum) {
            std::snprintf(message, capacity, "Illegal setting: %s = %d (must be %d or more).",
                          floor.key, value, floor.minimum);
            return -1;
        }
    }
    return 0;
}

int check_picture_size(const lcdimg_t* img, char* message, std::size_t capacity) {
    const std::int64_t width =
        side_length(img->frame_x, img->chofs_x, img->chcnt_x, LCDIMG_DOT_COLUMNS, img->pixsiz_x,
                    img->pixgap_x, img->chgap_x);
    const std::int64_t height =
        side_length(img->frame_y, img->chofs_y, img->chcnt_y, LCDIMG_DOT_ROWS, img->pixsiz_y,
                    img->pixgap_y, img->chgap_y);
    if (width <= LCDIMG_MAX_SIDE && height <= LCDIMG_MAX_SIDE) {
        const std::int64_t stride = (3 * width + 3) / 4 * 4;
        if (54 + stride * height <= LCDIMG_MAX_FILE_BYTES) {
            return 0;
        }
    }
    std::array<char, 32> width_text{};
    std::array<char, 32> height_text{};
    format_side(width, &width_text);
    format_side(height, &height_text);
    std::snprintf(message, capacity,
                  "Picture too large: %s x %s pixels (at most %" PRId64 " x %" PRId64
                  " and 2 GiB).",
                  width_text.data(), height_text.data(), LCDIMG_MAX_SIDE, LCDIMG_MAX_SIDE);
    return -1;
}

int check_charset(const lcdimg_t* img, char* message, std::size_t capacity) {
    if (img->charset_name[0] == '\0' || charset_find(img->charset_name.data()) != nullptr) {
        return 0;
    }
    std::snprintf(message, capacity, "Illegal setting: CHARSET = %s (must be A00 or A02).",
                  img->charset_name.data());
    return -1;
}

int check_row_addresses(const lcdimg_t* img, char* message, std::size_t capacity) {
    if (img->row_address_count >= 0) {
        return 0;
    }
    std::snprintf(message, capacity,
                  "Illegal setting: ROW_ADDRESSES = %s (each must be 0x00 to 0x7F, at most %d).",
                  img->row_addresses_text.data(), LCDIMG_MAX_ROW_ADDRESSES);
    return -1;
}

} // namespace

void lcdimg_set_defaults(lcdimg_t* img) {
    img->lcd_vendor.fill('\0');
    img->lcd_model.fill('\0');
    img->chcnt_x = 16;
    img->chcnt_y = 2;
    img->chofs_x = 16;
    img->chofs_y = 16;
    img->chgap_x = 2;
    img->chgap_y = 2;
    img->pixsiz_x = 4;
    img->pixsiz_y = 4;
    img->pixgap_x = 1;
    img->pixgap_y = 1;
    img->frame_x = 0;
    img->frame_y = 0;
    img->frcol = {0, 0, 0};
    img->fgcol = {8, 8, 8};
    img->bgcol = {255, 190, 66};
    img->contrast = 96;
    img->shadow_depth = 4;
    img->shadow_curve = 4;
    img->script_path.fill('\0');
    img->charset_name.fill('\0');
    img->row_addresses_text.fill('\0');
    img->row_addresses.fill(0);
    img->row_address_count = 0;
}

namespace {

// The readers keep their texts terminated; this keeps a faulty one from being read past.
void terminate_texts(lcdimg_t* img) {
    img->lcd_vendor.back() = '\0';
    img->lcd_model.back() = '\0';
    img->script_path.back() = '\0';
    img->charset_name.back() = '\0';
    img->row_addresses_text.back() = '\0';
}

const char* printable_path(const char* path) {
    return path != nullptr ? path : "";
}

// Buffers of this size and more are laid on 2 MiB pages where the system offers them: a
// large picture then costs a few hundred times fewer page faults and TLB misses.
constexpr std::size_t HUGE_PAGE_BYTES = std::size_t{2} << 20;

// A pixel buffer for free(); nullptr when memory is short.
unsigned char* allocate_pixels(std::size_t bytes) {
    if (bytes < HUGE_PAGE_BYTES) {
        return static_cast<unsigned char*>(std::malloc(bytes));
    }
    const std::size_t rounded = (bytes + HUGE_PAGE_BYTES - 1) / HUGE_PAGE_BYTES * HUGE_PAGE_BYTES;
    void* pixels = std::aligned_alloc(HUGE_PAGE_BYTES, rounded);
    if (pixels != nullptr) {
        (void)::madvise(pixels, rounded, MADV_HUGEPAGE); // only a hint: refused, nothing changes
    }
    return static_cast<unsigned char*>(pixels);
}

// Text grid, picture size, pixel buffer and canvas. Nothing is kept on failure: -1 when the
// text grid cannot be had, -2 when the pixel buffer cannot.
int allocate_buffers(lcdimg_t* img) {
    const std::size_t cells =
        static_cast<std::size_t>(img->chcnt_x) * static_cast<std::size_t>(img->chcnt_y);
    img->text_grid = static_cast<unsigned char*>(std::malloc(cells));
    if (img->text_grid == nullptr) {
        return -1;
    }
    std::memset(img->text_grid, 0x20, cells);
    calc_canvas_size(img, &img->canvas_width, &img->canvas_height);
    const std::size_t bytes = static_cast<std::size_t>(img->canvas_width) *
                              static_cast<std::size_t>(img->canvas_height) * 3;
    img->pixels = allocate_pixels(bytes);
    if (img->pixels == nullptr) {
        std::free(img->text_grid);
        img->text_grid = nullptr;
        return -2;
    }
    bmpimg_open(&img->canvas, img->canvas_width, img->canvas_height, canvas_pixel_writer, img,
                canvas_pixel_reader, img);
    return 0;
}

} // namespace

constexpr lcdimg_font_t font5x8_master = make_master_font();
static_assert(std::is_same_v<lcdimg_font_t, charset_glyphs_t>, "a set's glyphs are a glyph table");

namespace {

// What lcdimg_open and lcdimg_open_checked share once the settings are read: the checks, the
// buffers and the starting glyph table. `message` gets the refusal, without a line end.
int finish_opening(lcdimg_t* img, char* message, std::size_t capacity) {
    terminate_texts(img);
    if (lcdimg_check_settings_message(img, message, static_cast<int>(capacity)) != 0) {
        return LCDIMG_OPEN_BAD_SETTING;
    }
    const int allocated = allocate_buffers(img);
    if (allocated != 0) {
        // Only a missing pixel buffer was ever reported; the tool's output stays as it was.
        std::snprintf(message, capacity, "%s", allocated == -2 ? "Memory Allocation Error." : "");
        return LCDIMG_OPEN_NO_MEMORY;
    }
    img->charset = charset_find(img->charset_name.data());
    img->font = img->charset != nullptr ? charset_glyphs(img->charset) : font5x8_master;
    img->draw_color = LCDIMG_DEFAULT_DRAW_COLOR;
    return LCDIMG_OPENED;
}

// Glyphs 0..255 after the font, or the built-in ones when no font is named.
void apply_font_quietly(lcdimg_t* img, const lcdimg_source_t* font, int* status) {
    if (font == nullptr) {
        return;
    }
    const int read = font->path != nullptr
                         ? lcdfont_read(font->path, lcdfont_read_callback, img)
                         : lcdfont_read_text(font->text, font->length, lcdfont_read_callback, img);
    if (read != 0) {
        *status = LCDIMG_OPEN_FONT_UNREADABLE;
    }
}

int read_profile(const lcdimg_source_t* profile, lcdimg_t* img) {
    return profile->path != nullptr ? lcdprof_read(profile->path, img, 0)
                                    : lcdprof_read_text(profile->text, profile->length, img, 0);
}

lcdimg_source_t file_source(const char* path) {
    return {path, nullptr, 0};
}

} // namespace

lcdimg_t* lcdimg_open(const char* profile_path, const char* font_path) {
    return lcdimg_open_to(profile_path, font_path, nullptr);
}

lcdimg_t* lcdimg_open_to(const char* profile_path, const char* font_path,
                         const console_t* console) {
    auto* img = new (std::nothrow) lcdimg_t{};
    if (img == nullptr) {
        return nullptr;
    }
    lcdimg_set_defaults(img);
    if (console != nullptr) {
        img->console = *console;
    }
    if (lcdprof_read(profile_path, img, 0) != 0) {
        console_printf(&img->console,
                       "[Warning]: LCD prof reading was failed. The default prof was used. (%s)\n",
                       printable_path(profile_path));
    }
    std::array<char, LCDIMG_SETTING_MESSAGE_CAPACITY> message{};
    if (finish_opening(img, message.data(), message.size()) != LCDIMG_OPENED) {
        if (message[0] != '\0') {
            console_printf(&img->console, "%s\n", message.data());
        }
        delete img;
        return nullptr;
    }
    if (lcdfont_read(font_path, lcdfont_read_callback, img) != 0) {
        console_printf(&img->console,
                       "[Warning]: LCD font reading was failed. The default font was used. (%s)\n",
                       printable_path(font_path));
    }
    calc_dot_colors(img);
    return img;
}

int lcdimg_open_checked(const char* profile_path, const char* font_path, lcdimg_t** out,
                        char* message, int message_capacity) {
    const lcdimg_source_t profile = file_source(profile_path);
    const lcdimg_source_t font = file_source(font_path);
    return lcdimg_open_from(profile_path != nullptr ? &profile : nullptr,
                            font_path != nullptr ? &font : nullptr, out, message, message_capacity);
}

int lcdimg_open_from(const lcdimg_source_t* profile, const lcdimg_source_t* font, lcdimg_t** out,
                     char* message, int message_capacity) {
    *out = nullptr;
    std::array<char, LCDIMG_SETTING_MESSAGE_CAPACITY> text{};
    auto* img = new (std::nothrow) lcdimg_t{};
    int status = img == nullptr ? LCDIMG_OPEN_NO_MEMORY : LCDIMG_OPENED;
    if (img != nullptr) {
        lcdimg_set_defaults(img);
        if (profile != nullptr && read_profile(profile, img) != 0) {
            status = LCDIMG_OPEN_PROFILE_UNREADABLE;
        } else {
            status = finish_opening(img, text.data(), text.size());
        }
    }
    if (status == LCDIMG_OPENED) {
        apply_font_quietly(img, font, &status);
    }
    if (status == LCDIMG_OPEN_NO_MEMORY) {
        std::snprintf(text.data(), text.size(), "Memory Allocation Error.");
    }
    if (message != nullptr && message_capacity > 0) {
        std::snprintf(message, static_cast<std::size_t>(message_capacity), "%s", text.data());
    }
    if (status != LCDIMG_OPENED) {
        const int error = errno; // why a file could not be read, for the caller's message
        lcdimg_close(img);
        errno = error;
        return status;
    }
    calc_dot_colors(img);
    *out = img;
    return LCDIMG_OPENED;
}

int lcdimg_use_charset(lcdimg_t* img, const charset_t* set, const char* font_path) {
    const lcdimg_source_t font = file_source(font_path);
    return lcdimg_use_charset_from(img, set, font_path != nullptr ? &font : nullptr);
}

int lcdimg_use_charset_from(lcdimg_t* img, const charset_t* set, const lcdimg_source_t* font) {
    if (img == nullptr || set == nullptr) {
        return -1;
    }
    img->charset = set;
    img->font = charset_glyphs(set);
    int status = LCDIMG_OPENED;
    apply_font_quietly(img, font, &status);
    return status == LCDIMG_OPENED ? 0 : -1;
}

int lcdimg_set_text(lcdimg_t* img, int x, int y, unsigned char code) {
    if (img == nullptr || img->text_grid == nullptr || x < 0 || y < 0 || x >= img->chcnt_x ||
        y >= img->chcnt_y) {
        return -1;
    }
    img->text_grid[static_cast<std::size_t>(y) * static_cast<std::size_t>(img->chcnt_x) +
                   static_cast<std::size_t>(x)] = code;
    return 0;
}

int lcdimg_use_cell_glyphs(lcdimg_t* img) {
    if (img == nullptr || img->chcnt_x < 1 || img->chcnt_y < 1) {
        return -1;
    }
    if (img->cell_glyphs == nullptr) {
        const std::size_t cells =
            static_cast<std::size_t>(img->chcnt_x) * static_cast<std::size_t>(img->chcnt_y);
        img->cell_glyphs = static_cast<unsigned char*>(std::calloc(cells, LCDIMG_GLYPH_BYTES));
    }
    return img->cell_glyphs != nullptr ? 0 : -1;
}

int lcdimg_set_grid(lcdimg_t* img, int columns, int rows, char* message, int message_capacity) {
    if (img == nullptr || message == nullptr || message_capacity < 1) {
        return LCDIMG_OPEN_NO_MEMORY;
    }
    message[0] = '\0';
    const int old_columns = img->chcnt_x;
    const int old_rows = img->chcnt_y;
    img->chcnt_x = columns;
    img->chcnt_y = rows;
    if (lcdimg_check_settings_message(img, message, message_capacity) != 0) {
        img->chcnt_x = old_columns;
        img->chcnt_y = old_rows;
        return LCDIMG_OPEN_BAD_SETTING;
    }
    bmpimg_close(&img->canvas);
    std::free(img->pixels);
    std::free(img->text_grid);
    std::free(img->cell_glyphs);
    img->pixels = nullptr;
    img->text_grid = nullptr;
    img->cell_glyphs = nullptr;
    if (allocate_buffers(img) != 0) {
        std::snprintf(message, static_cast<std::size_t>(message_capacity), "%s",
                      "Memory Allocation Error.");
        return LCDIMG_OPEN_NO_MEMORY;
    }
    return LCDIMG_OPENED;
}

int lcdimg_close(lcdimg_t* img) {
    if (img == nullptr) {
        return 0;
    }
    bmpimg_close(&img->canvas);
    std::free(img->pixels);
    std::free(img->text_grid);
    std::free(img->cell_glyphs);
    delete img;
    return 0;
}

int lcdimg_check_settings_message(const lcdimg_t* img, char* message, int capacity) {
    if (message == nullptr || capacity < 1) {
        return -1;
    }
    const auto size = static_cast<std::size_t>(capacity);
    message[0] = '\0';
    if (check_floors(img, message, size) != 0 || check_picture_size(img, message, size) != 0 ||
        check_charset(img, message, size) != 0) {
        return -1;
    }
    return check_row_addresses(img, message, size);
}

int lcdimg_check_settings(const lcdimg_t* img) {
    std::array<char, LCDIMG_SETTING_MESSAGE_CAPACITY> message{};
    if (lcdimg_check_settings_message(img, message.data(), static_cast<int>(message.size())) != 0) {
        console_printf(&img->console, "%s\n", message.data());
        return -1;
    }
    return 0;
}

void lcdimg_cell_size(const lcdimg_t* img, int* width, int* height) {
    *width = wrap32_add(wrap32_mul(LCDIMG_DOT_COLUMNS, img->pixsiz_x),
                        wrap32_mul(LCDIMG_DOT_COLUMNS - 1, img->pixgap_x));
    *height = wrap32_add(wrap32_mul(LCDIMG_DOT_ROWS, img->pixsiz_y),
                         wrap32_mul(LCDIMG_DOT_ROWS - 1, img->pixgap_y));
}

void calc_canvas_size(const lcdimg_t* img, int* width, int* height) {
    int cell_w = 0;
    int cell_h = 0;
    lcdimg_cell_size(img, &cell_w, &cell_h);
    std::int32_t w = wrap32_add(wrap32_mul(2, img->frame_x), wrap32_mul(2, img->chofs_x));
    w = wrap32_add(w, wrap32_mul(img->chcnt_x, cell_w));
    w = wrap32_add(w, wrap32_mul(wrap32_sub(img->chcnt_x, 1), img->chgap_x));
    std::int32_t h = wrap32_add(wrap32_mul(2, img->frame_y), wrap32_mul(2, img->chofs_y));
    h = wrap32_add(h, wrap32_mul(img->chcnt_y, cell_h));
    h = wrap32_add(h, wrap32_mul(wrap32_sub(img->chcnt_y, 1), img->chgap_y));
    *width = w;
    *height = h;
}

} // namespace vimbra
