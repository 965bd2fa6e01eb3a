// The designer's entry points into the library, called from its Web Worker. The worker
// writes the texts into the in-memory file system; a render then runs the command line's
// steps over them and leaves the image open so that the page can read its pixels.
#include <emscripten/emscripten.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "bmp/outfile.hpp"
#include "lcd/lcdfont.hpp"
#include "lcd/lcdimg.hpp"
#include "lcd/lcdprof.hpp"
#include "lcd/rowtext.hpp"
#include "lcd/util.hpp"
#include "script/core.hpp"
#include "script/kestbasic.hpp"
#include "script/script.hpp"

namespace {

constexpr const char* PROFILE_PATH = "/designer/profile.prof";
constexpr const char* FONT_PATH = "/designer/font.fnt";
constexpr const char* SCRIPT_PATH = "/designer/script.bas";
constexpr const char* ROWS_PATH = "/designer/rows"; // row texts, each ended by a NUL byte
constexpr const char* STDIN_PATH = "/designer/stdin.txt";
constexpr const char* MESSAGES_PATH = "/designer/messages.txt";

// The most pixels the page draws, 4096 x 4096: its three copies of a picture (RGB, RGBA and
// the canvas's) stay within a few hundred megabytes and a render within about a second.
constexpr std::int64_t PAGE_PIXEL_LIMIT = std::int64_t{1} << 24;

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

struct picture_size_t {
    int width;
    int height;
};

// Reads the profile into a scratch record, with lcdimg_open's check run silently (lcdimg_open
// prints its refusal itself), and copies CHARSET as written into `charset`
// (LCDIMG_TEXT_CAPACITY bytes). The picture's size when the settings are sound, else 0 x 0.
picture_size_t probe_profile(char* charset) {
    charset[0] = '\0';
    picture_size_t size{0, 0};
    auto* probe = new (std::nothrow) lcdimg_t{};
    if (probe == nullptr) {
        return size; // lcdimg_open meets the same shortage and reports it
    }
    lcdimg_set_defaults(probe);
    (void)lcdprof_read(PROFILE_PATH, probe, 0);
    probe->charset_name.back() = '\0';
    std::memcpy(charset, probe->charset_name.data(), probe->charset_name.size());
    std::freopen("/dev/null", "w", stdout);
    if (check_settings(probe) == 0) {
        calc_canvas_size(probe, &size.width, &size.height);
    }
    delete probe;
    return size;
}

// The command line's script run (script_execute) with a clock for its budget, since a step
// may be a jump or a fill of the whole picture: a script still running after `budget_ms`
// stops with the step-limit error. The clock is read every `stride` steps, the stride
// doubling up to 4096 while reads come less than a millisecond apart and halving otherwise.
void run_script(lcdimg_t* img, double budget_ms) {
    progedit_t store;
    progedit_init(&store);
    if (load_program(&store, img->script_path.data()) < 0) {
        std::puts("Script read failed.");
        return;
    }
    using clock = std::chrono::steady_clock;
    const clock::time_point start = clock::now();
    const auto budget = std::chrono::duration<double, std::milli>(budget_ms);
    clock::time_point last = start;
    std::int64_t stride = 1;
    std::int64_t next_check = 1;
    kestbasic_t kb;
    int rc = kestbasic_setup(&kb, store.text.data(), img);
    for (std::int64_t steps = 1; rc == RC_OK; ++steps) {
        rc = kestbasic_execute(&kb);
        if (rc != RC_OK || steps < next_check) {
            continue;
        }
        const clock::time_point now = clock::now();
        if (now - start > budget) {
            rc = RC_STEP_LIMIT;
            break;
        }
        const bool quick = now - last < std::chrono::milliseconds(1);
        stride = quick ? std::min<std::int64_t>(stride * 2, 4096)
                       : std::max<std::int64_t>(stride / 2, 1);
        last = now;
        next_check = steps + stride;
    }
    if (rc != RC_END) {
        std::array<char, 8192> message{};
        kestbasic_get_error_message(&kb, rc, message.data(), static_cast<int>(message.size()));
        std::printf("Script error: %s\n", message.data());
    }
    if (rc == RC_STEP_LIMIT) {
        std::printf("The page gives a script %g s; vimbracli runs it to its end.\n",
                    budget_ms / 1000);
    }
}

// lcdimg_write_file's steps with the page's script budget; the file only when `path` names
// one, since a preview is read from the pixels. 0, or -1 when the file was not written.
int draw_picture(lcdimg_t* img, const char* path, double budget_ms) {
    paint_picture(img);
    if (img->script_path[0] != '\0') {
        img->script_path.back() = '\0';
        run_script(img, budget_ms);
    }
    if (path[0] == '\0') {
        return 0;
    }
    return outfile_write_picture(path, img->pixels, img->canvas_width, img->canvas_height);
}

// ---- The glyph editor: one dot of a font text, through the library's reader -------------

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

bool write_text(const char* path, const std::string& text) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

// True when the text at `path` sets every dot as `before` did except the glyph's, which
// reads as `glyph` (rows it leaves unset keep the caller's).
bool reads_as(const char* path, const font_dots_t& before, const glyph_lines_t& glyph,
              const std::array<unsigned char, LCDIMG_GLYPH_BYTES>& base) {
    font_dots_t after;
    if (lcdfont_read(path, take_dot, &after) != 0) {
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

extern "C" {

// Renders the texts in /designer with the command line's messages going to MESSAGES_PATH
// and the script's input read from STDIN_PATH, both fresh for every run; a script gets
// `budget_ms` of time. The picture is written to `output_path` (.bmp, or another name the
// library knows) when that is not empty. A picture above PAGE_PIXEL_LIMIT is refused before
// anything is drawn. *status gets the command line's exit status and `charset`
// (LCDIMG_TEXT_CAPACITY bytes) the profile's CHARSET as written; the image is returned
// open (null when it could not be made) and must be given to designer_close.
EMSCRIPTEN_KEEPALIVE lcdimg_t* designer_render(const char* output_path, double budget_ms,
                                               int* status, char* charset) {
    const picture_size_t size = probe_profile(charset);
    std::freopen(MESSAGES_PATH, "w", stdout);
    std::freopen(STDIN_PATH, "r", stdin);
    const bool too_large = std::int64_t{size.width} * size.height > PAGE_PIXEL_LIMIT;
    lcdimg_t* img = too_large ? nullptr : lcdimg_open(PROFILE_PATH, FONT_PATH);
    if (too_large) {
        std::printf("Picture too large for the page: %d x %d pixels, more than its %lld; "
                    "vimbracli draws it from the same files.\n",
                    size.width, size.height, static_cast<long long>(PAGE_PIXEL_LIMIT));
        *status = DESIGNER_BAD_CONFIGURATION;
    } else if (img == nullptr) {
        std::puts("Illegal configuration found.");
        *status = DESIGNER_BAD_CONFIGURATION;
    } else {
        use_script_pane(img);
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
        } else if (draw_picture(img, output_path, budget_ms) != 0) {
            std::printf("Output file could not be written. (%s)\n", output_path);
            *status = DESIGNER_OUTPUT_FAILED;
        }
    }
    std::fflush(stdout);
    return img;
}

// The picture as RGBA, top row first, for the page's canvas: a buffer to be given to free,
// or null when memory is short.
EMSCRIPTEN_KEEPALIVE unsigned char* designer_rgba(const lcdimg_t* img) {
    const std::size_t count =
        static_cast<std::size_t>(img->canvas_width) * static_cast<std::size_t>(img->canvas_height);
    auto* rgba = static_cast<unsigned char*>(std::malloc(count * 4));
    if (rgba == nullptr) {
        return nullptr;
    }
    const unsigned char* rgb = img->pixels;
    for (std::size_t i = 0; i < count; ++i) {
        rgba[4 * i] = rgb[3 * i];
        rgba[4 * i + 1] = rgb[3 * i + 1];
        rgba[4 * i + 2] = rgb[3 * i + 2];
        rgba[4 * i + 3] = 255;
    }
    return rgba;
}

// Toggles dot (`row`, `column`) of glyph `code` in the font text at `path`, as the library's
// reader reads that text: the line that last sets the row is rewritten, or, when none does,
// the whole glyph is added at the end. `glyph` holds the glyph's five column bytes as shown,
// for the rows the text leaves unset, and gets them as they are afterwards. The new text
// is read back before it replaces the old one; 0 when it did, -1 (the file untouched)
// when the arguments are out of range or the text could not be written to read so.
EMSCRIPTEN_KEEPALIVE int designer_glyph_toggle(const char* path, int code, int row, int column,
                                               unsigned char* glyph) {
    if (code < 0 || code >= LCDIMG_GLYPH_COUNT || row < 0 || row >= LCDIMG_DOT_ROWS || column < 0 ||
        column >= LCDIMG_DOT_COLUMNS) {
        return -1;
    }
    std::array<unsigned char, LCDIMG_GLYPH_BYTES> base{};
    std::memcpy(base.data(), glyph, base.size());
    glyph_lines_t lines{code, base, {}, 0};
    lines.line_at.fill(-1);
    font_dots_t before;
    if (lcdfont_read(path, take_dot, &before) != 0 ||
        lcdfont_read_rows(path, take_glyph_row, &lines) != 0) {
        return -1;
    }
    lines.columns[static_cast<std::size_t>(column)] ^= static_cast<unsigned char>(1U << row);
    std::string text = read_file(path);
    const long at = lines.line_at[static_cast<std::size_t>(row)];
    if (at >= 0) {
        rewrite_row(text, static_cast<std::size_t>(at), column, lines, row);
    } else {
        append_glyph(text, lines);
    }
    const std::string next = std::string(path) + ".next";
    if (!write_text(next.c_str(), text) || !reads_as(next.c_str(), before, lines, base) ||
        std::rename(next.c_str(), path) != 0) {
        std::remove(next.c_str());
        return -1;
    }
    std::memcpy(glyph, lines.columns.data(), lines.columns.size());
    return 0;
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
