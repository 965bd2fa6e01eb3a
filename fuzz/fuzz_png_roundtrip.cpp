// The PNG writer against libpng: a picture made from the input is encoded, decoded by libpng
// and compared pixel by pixel; the colour type, the bit depth and the palette's size must be
// the ones the writer promises for the picture's number of colours.
//
// Input layout, read byte by byte (past its end a generator seeded from the input goes on,
// so that short inputs still fill whole pictures): a mode byte, then either
//   - a palette picture: width, height, 1 to 300 colours (distinct, or raw bytes that may
//     repeat), then per row a control byte: copy the row above, runs of one colour, or one
//     colour index per pixel; or
//   - an LCD picture: the profile's sizes and colours, the cells' codes, and a small script
//     of drawing statements, one of which may be a loop that sets up to 300 colours.
#include <png.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bmp/pngfile.hpp"
#include "fuzz_util.hpp"
#include "lcd/lcdimg.hpp"
#include "script/script.hpp"

using namespace vimbra;

namespace {

constexpr int kMaxWidth = 600; // indexed rows of 512 bytes and more are filtered
constexpr int kMaxHeight = 48;
constexpr int kMaxPixels = 8192;
constexpr int kMaxColors = 300;     // past 256 the writer turns to truecolour
constexpr int kScriptSteps = 20000; // the generated scripts need at most about 1300

struct reader_t {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
    std::uint32_t state;

    std::uint8_t byte() {
        if (pos < size) return data[pos++];
        state = state * 1103515245U + 12345U;
        return static_cast<std::uint8_t>(state >> 16);
    }
    // Multi-byte values read their bytes in separate statements: the operands of | are not
    // sequenced, and the same input must give the same picture with every compiler.
    int u16() {
        const int high = byte();
        return high << 8 | byte();
    }
    std::uint32_t u24() {
        const auto high = static_cast<std::uint32_t>(u16());
        return high << 8 | byte();
    }
    // An integer from lo to hi.
    int in(int lo, int hi) { return lo + u16() % (hi - lo + 1); }
};

reader_t make_reader(const std::uint8_t* data, std::size_t size) {
    std::uint32_t hash = 2166136261U; // FNV-1a
    for (std::size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619U;
    return {data, size, 0, hash};
}

struct picture_t {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb; // top row first
};

void put(picture_t* p, std::size_t at, std::uint32_t color) {
    p->rgb[at] = static_cast<unsigned char>(color >> 16);
    p->rgb[at + 1] = static_cast<unsigned char>(color >> 8);
    p->rgb[at + 2] = static_cast<unsigned char>(color);
}

picture_t palette_picture(reader_t* in, bool raw_colors) {
    picture_t p;
    p.width = in->in(1, kMaxWidth);
    p.height = std::min(in->in(1, kMaxHeight), std::max(1, kMaxPixels / p.width));
    const int count = in->in(1, kMaxColors);
    std::vector<std::uint32_t> colors(static_cast<std::size_t>(count));
    const std::uint32_t base = in->u24();
    const std::uint32_t step = in->u24() | 1; // odd: distinct for fewer than 2^24 colours
    for (int k = 0; k < count; ++k)
        colors[static_cast<std::size_t>(k)] =
            raw_colors ? in->u24() : (base + static_cast<std::uint32_t>(k) * step) & 0xFFFFFF;
    auto index = [&] { return colors[static_cast<std::size_t>(in->u16() % count)]; };

    const std::size_t row_bytes = static_cast<std::size_t>(p.width) * 3;
    p.rgb.resize(row_bytes * static_cast<std::size_t>(p.height));
    for (int y = 0; y < p.height; ++y) {
        const std::size_t row = row_bytes * static_cast<std::size_t>(y);
        const int control = in->byte() % 4;
        if (y > 0 && control == 0) {
            std::memcpy(&p.rgb[row], &p.rgb[row - row_bytes], row_bytes);
        } else if (control == 1) {
            for (int x = 0; x < p.width;) {
                const int run = std::min(p.width - x, 1 + in->byte() % 32);
                const std::uint32_t color = index();
                for (int i = 0; i < run; ++i, ++x)
                    put(&p, row + 3 * static_cast<std::size_t>(x), color);
            }
        } else {
            for (int x = 0; x < p.width; ++x)
                put(&p, row + 3 * static_cast<std::size_t>(x), index());
        }
    }
    return p;
}

std::string lcd_profile(reader_t* in) {
    static constexpr std::array<const char*, 12> geometry{
        "CHCNT_X",  "CHCNT_Y",  "CHOFS_X",  "CHOFS_Y",  "CHGAP_X", "CHGAP_Y",
        "PIXSIZ_X", "PIXSIZ_Y", "PIXGAP_X", "PIXGAP_Y", "FRAME_X", "FRAME_Y"};
    static constexpr std::array<int, 12> low{1, 1, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0};
    static constexpr std::array<int, 12> high{8, 3, 6, 6, 3, 3, 3, 3, 1, 1, 4, 4};
    std::string text;
    for (std::size_t i = 0; i < geometry.size(); ++i)
        text += std::string(geometry[i]) + " " + std::to_string(in->in(low[i], high[i])) + "\n";
    for (const char* key : {"FRCOL", "FGCOL", "BGCOL"})
        for (const char* channel : {".R", ".G", ".B"})
            text += std::string(key) + channel + " " + std::to_string(in->byte()) + "\n";
    text += "CONTRAST " + std::to_string(in->in(0, 100)) + "\n";
    text += "SHADOW_DEPTH " + std::to_string(in->in(0, 8)) + "\n";
    text += "SHADOW_CURVE " + std::to_string(in->in(0, 30)) + "\n";
    return text;
}

// Drawing statements at places in and around a picture of w x h pixels.
std::string lcd_script(reader_t* in, int w, int h) {
    static constexpr std::array<const char*, 6> shapes{"color", "plot",    "line",
                                                       "box",   "fillbox", "circle"};
    std::string text = "10 dim i\n";
    const int statements = in->in(0, 12);
    for (int n = 1; n <= statements; ++n) {
        text += std::to_string(10 + 10 * n) + " ";
        const int shape = in->byte() % 7;
        if (shape == 6) { // a colour per pixel, up to 300 of them, row by row from the top left
            const int last = in->in(0, kMaxColors - 1);
            const int divisor = in->in(1, 4);
            const int blue = in->byte();
            text += "for i = 0 to " + std::to_string(last) + " color i, i / " +
                    std::to_string(divisor) + ", " + std::to_string(blue) + " plot i % " +
                    std::to_string(w) + ", i / " + std::to_string(w) + " next\n";
            continue;
        }
        // Arguments in order: colour bytes, or points (x, y) and for a circle its radius.
        static constexpr std::array<int, 6> arguments{3, 2, 4, 4, 4, 3};
        text += shapes[static_cast<std::size_t>(shape)];
        for (int a = 0; a < arguments[static_cast<std::size_t>(shape)]; ++a) {
            int value = 0;
            if (shape == 0) {
                value = in->byte();
            } else if (shape == 5 && a == 2) {
                value = in->in(0, 40);
            } else {
                value = a % 2 == 0 ? in->in(-8, w + 8) : in->in(-8, h + 8);
            }
            text += (a == 0 ? " " : ", ") + std::to_string(value);
        }
        text += "\n";
    }
    return text;
}

// An LCD picture with a script drawn on it, as the tool makes it; false when the profile is
// refused (it never should be) or memory is short.
bool lcd_picture(reader_t* in, picture_t* p) {
    const std::string profile = lcd_profile(in);
    const lcdimg_source_t source{nullptr, profile.data(), profile.size()};
    lcdimg_t* img = nullptr;
    if (lcdimg_open_from(&source, nullptr, &img, nullptr, 0) != LCDIMG_OPENED) return false;
    for (int row = 0; row < img->chcnt_y; ++row)
        for (int col = 0; col < img->chcnt_x; ++col)
            lcdimg_set_text(img, col, row, in->byte());
    lcdimg_paint(img);
    const std::string script = lcd_script(in, img->canvas_width, img->canvas_height);
    const script_limits_t limits{kScriptSteps, nullptr, nullptr};
    const script_run_t run{img, 0, &limits, fuzz::quiet_console(), "", ""};
    script_execute_text(script.data(), script.size(), &run);
    p->width = img->canvas_width;
    p->height = img->canvas_height;
    p->rgb.assign(img->pixels, img->pixels + static_cast<std::size_t>(p->width) * p->height * 3);
    lcdimg_close(img);
    return true;
}

int collect(const void* data, std::uint32_t size, void* ctx) {
    auto* bytes = static_cast<std::vector<unsigned char>*>(ctx);
    const auto* p = static_cast<const unsigned char*>(data);
    bytes->insert(bytes->end(), p, p + size);
    return 1;
}

std::uint32_t be32(const std::vector<unsigned char>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) << 24 | static_cast<std::uint32_t>(b[at + 1]) << 16 |
           static_cast<std::uint32_t>(b[at + 2]) << 8 | b[at + 3];
}

std::size_t distinct_colors(const picture_t& p) {
    std::vector<std::uint32_t> keys;
    keys.reserve(p.rgb.size() / 3);
    for (std::size_t i = 0; i < p.rgb.size(); i += 3)
        keys.push_back(static_cast<std::uint32_t>(p.rgb[i]) << 16 |
                       static_cast<std::uint32_t>(p.rgb[i + 1]) << 8 | p.rgb[i + 2]);
    std::sort(keys.begin(), keys.end());
    return static_cast<std::size_t>(std::unique(keys.begin(), keys.end()) - keys.begin());
}

// The file must decode to exactly the picture, in the form the writer's header promises.
void check(const picture_t& p) {
    std::vector<unsigned char> file;
    if (pngfile_write_rgb(p.rgb.data(), p.width, p.height, collect, &file) != 0) __builtin_trap();

    // Signature, IHDR, then PLTE when indexed; the file ends with the empty IEND chunk.
    static constexpr std::array<unsigned char, 16> head{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n',
                                                        0,    0,   0,   13,  'I',  'H',  'D',  'R'};
    static constexpr std::array<unsigned char, 12> tail{0,   0,   0,    0,    'I',  'E',
                                                        'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    if (file.size() < 57 || !std::equal(head.begin(), head.end(), file.begin()) ||
        !std::equal(tail.begin(), tail.end(), file.end() - 12))
        __builtin_trap();
    const std::size_t colors = distinct_colors(p);
    const int depth = file[24];
    const int type = file[25];
    if (colors > 256) {
        if (type != 2 || depth != 8) __builtin_trap();
    } else {
        const int want = colors <= 2 ? 1 : colors <= 4 ? 2 : colors <= 16 ? 4 : 8;
        if (type != 3 || depth != want) __builtin_trap();
        if (std::memcmp(&file[37], "PLTE", 4) != 0 || be32(file, 33) != 3 * colors)
            __builtin_trap();
    }

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, file.data(), file.size()) == 0) __builtin_trap();
    if (static_cast<int>(image.width) != p.width || static_cast<int>(image.height) != p.height)
        __builtin_trap();
    image.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> decoded(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, decoded.data(), 0, nullptr) == 0) __builtin_trap();
    if (decoded != p.rgb) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    reader_t in = make_reader(data, size);
    const std::uint8_t mode = in.byte();
    picture_t p;
    if (mode % 2 == 0) {
        p = palette_picture(&in, (mode & 2) != 0);
    } else if (!lcd_picture(&in, &p)) {
        __builtin_trap(); // every derived profile is within the accepted sizes
    }
    check(p);
    return 0;
}
