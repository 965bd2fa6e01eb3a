// The designer's entry points into the library, called from its Web Worker. The worker
// writes the texts into the in-memory file system; a render then runs the command line's
// steps over them and leaves the image open so that the page can read its pixels.
#include <emscripten/emscripten.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lcd/lcdimg.hpp"
#include "lcd/rowtext.hpp"

namespace {

constexpr const char* PROFILE_PATH = "/designer/profile.prof";
constexpr const char* FONT_PATH = "/designer/font.fnt";
constexpr const char* SCRIPT_PATH = "/designer/script.bas";
constexpr const char* ROWS_PATH = "/designer/rows"; // row texts, each ended by a NUL byte
constexpr const char* STDIN_PATH = "/designer/stdin.txt";
constexpr const char* MESSAGES_PATH = "/designer/messages.txt";

// Statuses, as the command line's exit statuses.
enum designer_status : int {
    DESIGNER_DONE = 0,
    DESIGNER_BAD_CONFIGURATION = 1,
    DESIGNER_BAD_FORMAT = 2,
    DESIGNER_OUTPUT_FAILED = 3,
};

// The whole file, or an empty text when it cannot be read.
std::string read_file(const char* path) {
    std::string text;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return text;
    }
    std::array<char, 4096> chunk{};
    std::size_t n = 0;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), file)) > 0) {
        text.append(chunk.data(), n);
    }
    std::fclose(file);
    return text;
}

bool file_is_empty(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return true;
    }
    const bool empty = std::fgetc(file) == EOF;
    std::fclose(file);
    return empty;
}

// Splits the rows file at its NUL bytes: one text per display row, like argv's.
std::vector<std::string> read_rows() {
    std::vector<std::string> rows;
    const std::string all = read_file(ROWS_PATH);
    std::size_t start = 0;
    while (start < all.size()) {
        const std::size_t end = all.find('\0', start);
        if (end == std::string::npos) {
            rows.push_back(all.substr(start));
            break;
        }
        rows.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return rows;
}

// The script pane stands for the profile's script: when it holds text it is run as if
// SCRIPT named it, and the profile's own SCRIPT path is never read.
void use_script_pane(lcdimg_t* img) {
    img->script_path.fill('\0');
    if (!file_is_empty(SCRIPT_PATH)) {
        std::strncpy(img->script_path.data(), SCRIPT_PATH, img->script_path.size() - 1);
    }
}

} // namespace

extern "C" {

// Renders the texts in /designer to `output_path` (.bmp, or another name the library
// knows) with the command line's messages going to MESSAGES_PATH and the script's input
// read from STDIN_PATH, both fresh for every run. A positive `step_limit` bounds the script.
// *status gets the command line's exit status; the image is returned open (null when it
// could not be made) and must be given to designer_close.
EMSCRIPTEN_KEEPALIVE lcdimg_t* designer_render(const char* output_path, double step_limit,
                                               int* status) {
    std::freopen(MESSAGES_PATH, "w", stdout);
    std::freopen(STDIN_PATH, "r", stdin);
    lcdimg_t* img = lcdimg_open(PROFILE_PATH, FONT_PATH);
    if (img == nullptr) {
        std::puts("Illegal configuration found.");
        *status = DESIGNER_BAD_CONFIGURATION;
    } else {
        use_script_pane(img);
        img->script_step_limit = static_cast<std::int64_t>(step_limit);
        const std::vector<std::string> texts = read_rows();
        std::vector<const char*> rows;
        for (const std::string& text : texts) {
            rows.push_back(text.c_str());
        }
        *status = DESIGNER_DONE;
        const int placed = rowtext_place_rows(img, rows.data(), static_cast<int>(rows.size()));
        if (placed == -2) {
            std::puts("Memory Allocation Error.");
            *status = DESIGNER_BAD_CONFIGURATION;
        } else if (placed != 0) {
            std::puts("Illegal format string found.");
            *status = DESIGNER_BAD_FORMAT;
        } else if (lcdimg_write_file(img, output_path) != 0) {
            std::printf("Output file could not be written. (%s)\n", output_path);
            *status = DESIGNER_OUTPUT_FAILED;
        }
    }
    std::fflush(stdout);
    return img;
}

// The picture's pixels, RGB, top row first, as the last render left them.
EMSCRIPTEN_KEEPALIVE unsigned char* designer_pixels(lcdimg_t* img) {
    return img->pixels;
}

// Fills out[0..13] with width, height and the twelve geometry settings in their order.
EMSCRIPTEN_KEEPALIVE void designer_geometry(const lcdimg_t* img, int* out) {
    const std::array<int, 14> values = {
        img->canvas_width, img->canvas_height, img->chcnt_x, img->chcnt_y,  img->chofs_x,
        img->chofs_y,      img->chgap_x,       img->chgap_y, img->pixsiz_x, img->pixsiz_y,
        img->pixgap_x,     img->pixgap_y,      img->frame_x, img->frame_y};
    std::memcpy(out, values.data(), sizeof(int) * values.size());
}

// The glyph table (256 glyphs of 5 column bytes, bit 0 the top dot) after the font file.
EMSCRIPTEN_KEEPALIVE const unsigned char* designer_font(const lcdimg_t* img) {
    return img->font.data();
}

// The text grid's codes, CHCNT_X per row, rows top first.
EMSCRIPTEN_KEEPALIVE const unsigned char* designer_text(const lcdimg_t* img) {
    return img->text_grid;
}

EMSCRIPTEN_KEEPALIVE void designer_close(lcdimg_t* img) {
    lcdimg_close(img);
}

} // extern "C"
