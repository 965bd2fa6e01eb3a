#include "chip/cmdlog.hpp"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "base/util.hpp"
#include "chip/charset.hpp"

namespace vimbra {

namespace {

constexpr std::size_t FIRST_CAPACITY = 256; // times; doubled whenever full
constexpr int DEFINE_ROWS = 8;
constexpr int DEFINE_COLUMNS = 5;
constexpr unsigned NUMBER_CEILING = 0x10000; // numbers saturate here: all limits are below

// A piece of the log text: not terminated, may hold any byte.
struct span_t {
    const char* p;
    std::size_t n;
};

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

bool equals(span_t word, std::string_view text) {
    return word.n == text.size() && std::memcmp(word.p, text.data(), text.size()) == 0;
}

// The rest of one line, read word by word; a '#' ends it.
struct words_t {
    const char* p;
    const char* end;
};

bool next_word(words_t* words, span_t* word) {
    while (words->p < words->end && is_blank(*words->p)) {
        ++words->p;
    }
    if (words->p == words->end || *words->p == '#') {
        words->p = words->end;
        return false;
    }
    const char* start = words->p;
    while (words->p < words->end && !is_blank(*words->p) && *words->p != '#') {
        ++words->p;
    }
    *word = {start, static_cast<std::size_t>(words->p - start)};
    return true;
}

// A word as a message shows it: printable ASCII as is, other bytes as \xHH, cut after 24
// characters so that a huge word cannot fill the message.
void quote_word(span_t word, char* out, std::size_t capacity) {
    constexpr std::size_t shown = 24;
    std::size_t used = 0;
    for (std::size_t i = 0; i < word.n && i < shown && used + 8 < capacity; ++i) {
        const auto c = static_cast<unsigned char>(word.p[i]);
        if (c >= 0x20 && c < 0x7F) {
            out[used++] = static_cast<char>(c);
        } else {
            used +=
                static_cast<std::size_t>(std::snprintf(out + used, capacity - used, "\\x%02X", c));
        }
    }
    if (word.n > shown && used + 4 < capacity) {
        std::memcpy(out + used, "...", 3);
        used += 3;
    }
    out[used] = '\0';
}

// "0x" or "0X" and hexadecimal digits in either case, or decimal digits. Large values
// saturate at NUMBER_CEILING. False when the word is not a number.
bool parse_number(span_t word, unsigned* value) {
    unsigned base = 10;
    std::size_t i = 0;
    if (word.n > 2 && word.p[0] == '0' && (word.p[1] == 'x' || word.p[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i == word.n) {
        return false;
    }
    unsigned result = 0;
    for (; i < word.n; ++i) {
        const char c = word.p[i];
        const int digit = base == 16 ? get_hexval(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (digit < 0) {
            return false;
        }
        result = std::min(result * base + static_cast<unsigned>(digit), NUMBER_CEILING);
    }
    *value = result;
    return true;
}

// Which expander pin carries each line, in the order the wiring line names them.
enum wire : int { WIRE_RS, WIRE_RW, WIRE_E, WIRE_BL, WIRE_D4, WIRE_D5, WIRE_D6, WIRE_D7 };
constexpr std::array<unsigned char, 8> DEFAULT_WIRING{{0, 1, 2, 3, 4, 5, 6, 7}};

constexpr unsigned char DISPLAY_ON = 0x04; // the D, C and B bits of display on/off control
constexpr unsigned char CURSOR_ON = 0x02;
constexpr unsigned char BLINK_ON = 0x01;

struct reader_t {
    const cmdlog_module_t* module;
    // The log being read the first time, which keeps marks, backlight changes and counts;
    // null while a cursor replays it.
    cmdlog_t* log;
    cmdlog_sink_t sink; // takes each event as it is lowered
    void* sink_ctx;
    char* message;
    int message_capacity;
    std::int64_t time_us = 0;
    std::uint32_t line = 0;
    int chip = 0; // where raw events go: `controller` and `goto` choose
    // i2c: E's level after the last expander byte, and the byte that last held E high.
    bool e_high = false;
    unsigned char e_high_byte = 0;
    std::array<unsigned char, 8> wiring = DEFAULT_WIRING;
    // The D, C and B bits each chip was last given, as a firmware library keeps them.
    std::array<unsigned char, CMDLOG_MAX_CHIPS> display_bits{};
    // A define waiting for its dot rows: the code (-1 for none), its line, the rows so far.
    int define_code = -1;
    std::uint32_t define_line = 0;
    int define_rows = 0;
    std::array<unsigned char, DEFINE_ROWS> define_dots{};
    // Scratch of `print`, grown as needed and reused by every line.
    char* text = nullptr;
    unsigned char* codes = nullptr;
    std::size_t scratch_capacity = 0;
    bool no_memory = false;
};

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
int refuse(reader_t* reader, const char* format, ...) {
    if (reader->message == nullptr || reader->message_capacity <= 0) {
        return -1;
    }
    const auto capacity = static_cast<std::size_t>(reader->message_capacity);
    const int used =
        std::snprintf(reader->message, capacity, "line %u: ", static_cast<unsigned>(reader->line));
    if (used >= 0 && static_cast<std::size_t>(used) < capacity) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(reader->message + used, capacity - static_cast<std::size_t>(used), format,
                       args);
        va_end(args);
    }
    return -1;
}

int out_of_memory(reader_t* reader) {
    reader->no_memory = true;
    if (reader->message != nullptr && reader->message_capacity > 0) {
        std::snprintf(reader->message, static_cast<std::size_t>(reader->message_capacity), "%s",
                      "Memory Allocation Error.");
    }
    return -1;
}

int emit(reader_t* reader, chip_event_kind kind, unsigned char value, int chip,
         unsigned char flags) {
    const chip_event_t event{chip_ps_of_us(reader->time_us),   reader->line, kind, value,
                             static_cast<unsigned char>(chip), flags};
    return reader->sink(&event, reader->sink_ctx) == 0 ? 0 : -1;
}

// An event for the selected chip, or for every chip of the module.
int emit_selected(reader_t* reader, chip_event_kind kind, unsigned char value) {
    return emit(reader, kind, value, reader->chip, 0);
}

int emit_all(reader_t* reader, chip_event_kind kind, unsigned char value) {
    for (int chip = 0; chip < reader->module->chip_count; ++chip) {
        if (emit(reader, kind, value, chip, 0) != 0) {
            return -1;
        }
    }
    return 0;
}

int expect_end(reader_t* reader, words_t* words, const char* keyword) {
    span_t extra{};
    if (!next_word(words, &extra)) {
        return 0;
    }
    std::array<char, 128> shown{};
    quote_word(extra, shown.data(), shown.size());
    return refuse(reader, "unexpected '%s' after %s", shown.data(), keyword);
}

// A number no larger than `maximum`; `what` names it in the refusal.
int take_number(reader_t* reader, span_t word, unsigned maximum, const char* what,
                unsigned* value) {
    const bool number = parse_number(word, value);
    if (number && *value <= maximum) {
        return 0;
    }
    std::array<char, 128> shown{};
    quote_word(word, shown.data(), shown.size());
    if (!number) {
        return refuse(reader, "not a number: '%s'", shown.data());
    }
    return refuse(reader, "%s out of range: %s", what, shown.data());
}

// One of two words, such as on and off: true for the first.
int take_choice(reader_t* reader, words_t* words, const char* keyword, const char* first,
                const char* second, bool* is_first) {
    span_t word{};
    if (!next_word(words, &word) || !(equals(word, first) || equals(word, second))) {
        return refuse(reader, "%s needs %s or %s", keyword, first, second);
    }
    *is_first = equals(word, first);
    return expect_end(reader, words, keyword);
}

// cmd and data: one or more bytes.
int read_bytes(reader_t* reader, words_t* words, chip_event_kind kind, const char* keyword) {
    span_t word{};
    int count = 0;
    while (next_word(words, &word)) {
        unsigned value = 0;
        if (take_number(reader, word, 0xFF, "byte", &value) != 0) {
            return -1;
        }
        const auto byte = static_cast<unsigned char>(value);
        if (kind == CHIP_INSTRUCTION && (byte & 0xF8) == 0x08) {
            reader->display_bits[static_cast<std::size_t>(reader->chip)] = byte & 0x07;
        }
        if (emit_selected(reader, kind, byte) != 0) {
            return -1;
        }
        ++count;
    }
    return count > 0 ? 0 : refuse(reader, "%s needs at least one byte", keyword);
}

int read_cmd(reader_t* reader, words_t* words) {
    return read_bytes(reader, words, CHIP_INSTRUCTION, "cmd");
}

int read_data(reader_t* reader, words_t* words) {
    return read_bytes(reader, words, CHIP_DATA, "data");
}

int read_read(reader_t* reader, words_t* words) {
    bool busy = false;
    if (take_choice(reader, words, "read", "busy", "data", &busy) != 0) {
        return -1;
    }
    return emit_selected(reader, busy ? CHIP_READ_BUSY : CHIP_READ_DATA, 0);
}

int read_wait(reader_t* reader, words_t* words) {
    span_t word{};
    std::array<char, 64> text{};
    std::int64_t wait_us = 0;
    if (!next_word(words, &word) || word.n >= text.size() ||
        std::memchr(word.p, '\0', word.n) != nullptr) {
        return refuse(reader, "wait needs a time such as 250ms, 1.5s or 100us");
    }
    std::memcpy(text.data(), word.p, word.n);
    if (cmdlog_parse_time(text.data(), &wait_us) != 0) {
        std::array<char, 128> shown{};
        quote_word(word, shown.data(), shown.size());
        return refuse(reader, "not a time: '%s' (a number and s, ms or us, whole microseconds)",
                      shown.data());
    }
    if (wait_us > CMDLOG_MAX_TIME_US - reader->time_us) {
        return refuse(reader, "the log runs past %lld us",
                      static_cast<long long>(CMDLOG_MAX_TIME_US));
    }
    reader->time_us += wait_us;
    return expect_end(reader, words, "wait");
}

bool pin_level(const reader_t* reader, unsigned char byte, wire line) {
    return ((byte >> reader->wiring[line]) & 1) != 0;
}

// One byte on the expander's pins: a falling edge of E latches what the pins held while E
// was high (a correct firmware keeps them steady across the edge).
int take_expander_byte(reader_t* reader, unsigned char byte) {
    const bool e = pin_level(reader, byte, WIRE_E);
    if (reader->log != nullptr) {
        ++reader->log->expander_bytes;
    }
    if (reader->e_high && !e) {
        if (reader->log != nullptr) {
            ++reader->log->expander_edges;
        }
        const unsigned char held = reader->e_high_byte;
        unsigned data = 0;
        for (int bit = 0; bit < 4; ++bit) {
            if (pin_level(reader, held, static_cast<wire>(WIRE_D4 + bit))) {
                data |= 1U << (4 + bit);
            }
        }
        const unsigned char flags =
            static_cast<unsigned char>((pin_level(reader, held, WIRE_RS) ? CHIP_FLAG_RS : 0) |
                                       (pin_level(reader, held, WIRE_RW) ? CHIP_FLAG_RW : 0));
        if (emit(reader, CHIP_BUS, static_cast<unsigned char>(data), reader->chip, flags) != 0) {
            return -1;
        }
    }
    reader->e_high = e;
    if (e) {
        reader->e_high_byte = byte;
    }
    return 0;
}

int note_backlight(reader_t* reader, bool on);

int read_i2c(reader_t* reader, words_t* words) {
    span_t word{};
    unsigned value = 0;
    if (!next_word(words, &word)) {
        return refuse(reader, "i2c needs an address and at least one byte");
    }
    if (take_number(reader, word, 0x7F, "i2c address", &value) != 0) {
        return -1;
    }
    int count = 0;
    while (next_word(words, &word)) {
        if (take_number(reader, word, 0xFF, "byte", &value) != 0 ||
            take_expander_byte(reader, static_cast<unsigned char>(value)) != 0 ||
            note_backlight(reader, pin_level(reader, static_cast<unsigned char>(value), WIRE_BL)) !=
                0) {
            return -1;
        }
        ++count;
    }
    return count > 0 ? 0 : refuse(reader, "i2c needs an address and at least one byte");
}

int read_wiring(reader_t* reader, words_t* words) {
    std::array<unsigned char, 8> pins{};
    unsigned used = 0; // one bit per pin already named
    span_t word{};
    for (unsigned char& pin : pins) {
        unsigned value = 0;
        if (!next_word(words, &word) || !parse_number(word, &value) || value > 7 ||
            (used & (1U << value)) != 0) {
            return refuse(reader, "wiring needs eight different pin numbers 0 to 7 "
                                  "(RS RW E BL D4 D5 D6 D7)");
        }
        used |= 1U << value;
        pin = static_cast<unsigned char>(value);
    }
    if (expect_end(reader, words, "wiring") != 0) {
        return -1;
    }
    reader->wiring = pins;
    return 0;
}

int read_controller(reader_t* reader, words_t* words) {
    span_t word{};
    unsigned value = 0;
    if (!next_word(words, &word) || !parse_number(word, &value) || value < 1 || value > 2) {
        return refuse(reader, "controller needs 1 or 2");
    }
    if (reader->module->chip_count < 2) {
        return refuse(reader, "controller %u: this module has one controller", value);
    }
    reader->chip = static_cast<int>(value) - 1;
    return expect_end(reader, words, "controller");
}

int read_init(reader_t* reader, words_t* words) {
    if (expect_end(reader, words, "init") != 0) {
        return -1;
    }
    const unsigned char function_set = reader->module->rows > 1 ? 0x38 : 0x30;
    for (const unsigned char byte :
         {function_set, static_cast<unsigned char>(0x0C), static_cast<unsigned char>(0x01),
          static_cast<unsigned char>(0x06)}) {
        if (emit_all(reader, CHIP_INSTRUCTION, byte) != 0) {
            return -1;
        }
    }
    reader->display_bits.fill(DISPLAY_ON);
    return 0;
}

int read_clear(reader_t* reader, words_t* words) {
    if (expect_end(reader, words, "clear") != 0) {
        return -1;
    }
    return emit_all(reader, CHIP_INSTRUCTION, 0x01);
}

int read_home(reader_t* reader, words_t* words) {
    if (expect_end(reader, words, "home") != 0) {
        return -1;
    }
    return emit_all(reader, CHIP_INSTRUCTION, 0x02);
}

int read_goto(reader_t* reader, words_t* words) {
    span_t column_word{};
    span_t row_word{};
    unsigned column = 0;
    unsigned row = 0;
    if (!next_word(words, &column_word) || !next_word(words, &row_word) ||
        !parse_number(column_word, &column) || !parse_number(row_word, &row)) {
        return refuse(reader, "goto needs a column and a row, counted from 0");
    }
    const cmdlog_module_t* module = reader->module;
    if (column >= static_cast<unsigned>(module->columns) ||
        row >= static_cast<unsigned>(module->rows)) {
        return refuse(reader, "goto %u %u is outside the %d x %d module", column, row,
                      module->columns, module->rows);
    }
    int chip = 0;
    int line = 0;
    int position = 0;
    if (!cmdlog_row_start(module, static_cast<int>(row), &chip, &line, &position)) {
        return refuse(reader, "goto %u %u: row %u is not driven", column, row, row);
    }
    if (expect_end(reader, words, "goto") != 0) {
        return -1;
    }
    reader->chip = chip;
    const int address = line * CHIP_LINE2_BASE + position + static_cast<int>(column);
    return emit_selected(reader, CHIP_INSTRUCTION,
                         static_cast<unsigned char>(0x80 | (address & 0x7F)));
}

int grow_scratch(reader_t* reader, std::size_t bytes) {
    if (bytes <= reader->scratch_capacity) {
        return 0;
    }
    const std::size_t capacity = std::max(bytes, 2 * reader->scratch_capacity);
    void* text = std::realloc(reader->text, capacity);
    if (text == nullptr) {
        return out_of_memory(reader);
    }
    reader->text = static_cast<char*>(text);
    void* codes = std::realloc(reader->codes, capacity);
    if (codes == nullptr) {
        return out_of_memory(reader);
    }
    reader->codes = static_cast<unsigned char*>(codes);
    reader->scratch_capacity = capacity;
    return 0;
}

// The decoder names a row ("Row 1, column 3: ..."); a log line has one text, so only the
// column and the reason are kept.
const char* decoder_reason(const char* message) {
    if (std::strncmp(message, "Row ", 4) == 0) {
        const char* comma = std::strstr(message, ", ");
        if (comma != nullptr) {
            return comma + 2;
        }
    }
    return message;
}

int decode_and_print(reader_t* reader, const char* text, std::size_t length) {
    if (length >= static_cast<std::size_t>(INT_MAX)) {
        return refuse(reader, "print text too long");
    }
    // A code never takes less than one byte of text, so the codes fit in length + 1.
    if (grow_scratch(reader, length + 1) != 0) {
        return -1;
    }
    std::memcpy(reader->text, text, length);
    reader->text[length] = '\0';
    std::array<char, CHARSET_MESSAGE_CAPACITY> reason{};
    int count = 0;
    const int capacity = static_cast<int>(length + 1);
    const charset_t* set = reader->module->charset;
    const int decoded = set != nullptr
                            ? charset_decode(set, reader->text, 0, reader->codes, capacity, &count,
                                             reason.data(), static_cast<int>(reason.size()))
                            : util_format(reader->text, reader->codes, capacity, &count);
    if (decoded != 0) {
        if (reason[0] == '\0') {
            return refuse(reader, "malformed escape in the print text (\\xHH with two "
                                  "hexadecimal digits, or \\\\)");
        }
        return refuse(reader, "%s", decoder_reason(reason.data()));
    }
    for (int i = 0; i < count; ++i) {
        if (emit_selected(reader, CHIP_DATA, reader->codes[i]) != 0) {
            return -1;
        }
    }
    return 0;
}

// print "text": the text runs to the next double quote; a comment may follow it.
int read_print(reader_t* reader, words_t* words) {
    const char* p = words->p;
    while (p < words->end && is_blank(*p)) {
        ++p;
    }
    if (p == words->end || *p != '"') {
        return refuse(reader, "print needs a text in double quotes");
    }
    ++p;
    const auto* close =
        static_cast<const char*>(std::memchr(p, '"', static_cast<std::size_t>(words->end - p)));
    if (close == nullptr) {
        return refuse(reader, "print text has no closing double quote");
    }
    const auto length = static_cast<std::size_t>(close - p);
    if (std::memchr(p, '\0', length) != nullptr) {
        return refuse(reader, "print text holds a NUL byte");
    }
    words->p = close + 1;
    if (expect_end(reader, words, "the print text") != 0) {
        return -1;
    }
    return decode_and_print(reader, p, length);
}

// cursor, blink and display: the display on/off control with one bit changed.
int read_display_bit(reader_t* reader, words_t* words, const char* keyword, unsigned char bit) {
    bool on = false;
    if (take_choice(reader, words, keyword, "on", "off", &on) != 0) {
        return -1;
    }
    // The display goes on and off as a whole; a cursor is the selected chip's own.
    const int first = bit == DISPLAY_ON ? 0 : reader->chip;
    const int last = bit == DISPLAY_ON ? reader->module->chip_count - 1 : reader->chip;
    for (int chip = first; chip <= last; ++chip) {
        unsigned char& bits = reader->display_bits[static_cast<std::size_t>(chip)];
        bits = static_cast<unsigned char>(on ? (bits | bit) : (bits & ~bit));
        if (emit(reader, CHIP_INSTRUCTION, static_cast<unsigned char>(0x08 | bits), chip, 0) != 0) {
            return -1;
        }
    }
    return 0;
}

int read_cursor(reader_t* reader, words_t* words) {
    return read_display_bit(reader, words, "cursor", CURSOR_ON);
}

int read_blink(reader_t* reader, words_t* words) {
    return read_display_bit(reader, words, "blink", BLINK_ON);
}

int read_display(reader_t* reader, words_t* words) {
    return read_display_bit(reader, words, "display", DISPLAY_ON);
}

int read_shift(reader_t* reader, words_t* words) {
    bool left = false;
    if (take_choice(reader, words, "shift", "left", "right", &left) != 0) {
        return -1;
    }
    return emit_all(reader, CHIP_INSTRUCTION, left ? 0x18 : 0x1C);
}

int read_define(reader_t* reader, words_t* words) {
    span_t word{};
    unsigned code = 0;
    if (!next_word(words, &word) || !parse_number(word, &code) || code > 0x0F) {
        return refuse(reader, "define needs a code 0x00 to 0x0F");
    }
    if (expect_end(reader, words, "define") != 0) {
        return -1;
    }
    reader->define_code = static_cast<int>(code);
    reader->define_line = reader->line;
    reader->define_rows = 0;
    return 0;
}

int refuse_define(reader_t* reader) {
    reader->line = reader->define_line;
    return refuse(reader, "define 0x%02X needs eight dot rows, found %d",
                  static_cast<unsigned>(reader->define_code), reader->define_rows);
}

bool is_keyword(span_t word);

// A dot row of a define: five characters between optional blanks, '.' unlit and any other
// lit, as in font files. Blank and comment lines in between are skipped.
int read_define_row(reader_t* reader, const char* p, const char* end) {
    const auto* hash =
        static_cast<const char*>(std::memchr(p, '#', static_cast<std::size_t>(end - p)));
    if (hash != nullptr) {
        end = hash;
    }
    while (p < end && is_blank(*p)) {
        ++p;
    }
    while (end > p && is_blank(end[-1])) {
        --end;
    }
    if (p == end) {
        return 0;
    }
    if (end - p != DEFINE_COLUMNS) {
        words_t words{p, end};
        span_t first{};
        if (next_word(&words, &first) && is_keyword(first)) {
            return refuse_define(reader); // rows left out, not a row mistyped
        }
        return refuse(reader,
                      "a dot row has five characters, found %zu (row %d of define 0x%02X "
                      "on line %u)",
                      static_cast<std::size_t>(end - p), reader->define_rows + 1,
                      static_cast<unsigned>(reader->define_code),
                      static_cast<unsigned>(reader->define_line));
    }
    unsigned char dots = 0;
    for (int column = 0; column < DEFINE_COLUMNS; ++column) {
        if (p[column] != '.') {
            dots = static_cast<unsigned char>(dots | (0x10 >> column)); // bit 4 leftmost
        }
    }
    reader->define_dots[static_cast<std::size_t>(reader->define_rows++)] = dots;
    if (reader->define_rows < DEFINE_ROWS) {
        return 0;
    }
    // The glyph goes to every chip, so that it shows on every row; the counter stays in CGRAM.
    const auto address = static_cast<unsigned char>(0x40 | (reader->define_code & 7) << 3);
    reader->define_code = -1;
    if (emit_all(reader, CHIP_INSTRUCTION, address) != 0) {
        return -1;
    }
    for (int chip = 0; chip < reader->module->chip_count; ++chip) {
        for (const unsigned char row : reader->define_dots) {
            if (emit(reader, CHIP_DATA, row, chip, 0) != 0) {
                return -1;
            }
        }
    }
    return 0;
}

// One more item at the end of an owned array, doubling it when full.
template <typename T>
int append_item(reader_t* reader, T** items, std::size_t* count, std::size_t* capacity,
                const T& item) {
    if (*count == *capacity) {
        const std::size_t grown_capacity = *capacity == 0 ? 8 : 2 * *capacity;
        if (grown_capacity > SIZE_MAX / sizeof(T)) {
            return out_of_memory(reader);
        }
        void* grown = std::realloc(*items, grown_capacity * sizeof(T));
        if (grown == nullptr) {
            return out_of_memory(reader);
        }
        *items = static_cast<T*>(grown);
        *capacity = grown_capacity;
    }
    (*items)[(*count)++] = item;
    return 0;
}

// The backlight at the reader's time; only a change is kept, so that the BL pin of every
// i2c byte costs nothing while it stays.
int note_backlight(reader_t* reader, bool on) {
    cmdlog_t* log = reader->log;
    if (log == nullptr) {
        return 0;
    }
    const bool was_on = log->backlight_count == 0 || log->backlight[log->backlight_count - 1].on;
    if (on == was_on) {
        return 0;
    }
    return append_item(reader, &log->backlight, &log->backlight_count, &log->backlight_capacity,
                       cmdlog_backlight_t{reader->time_us, on});
}

int read_backlight(reader_t* reader, words_t* words) {
    bool on = false;
    if (take_choice(reader, words, "backlight", "on", "off", &on) != 0) {
        return -1;
    }
    return note_backlight(reader, on);
}

bool is_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.';
}

// mark NAME: a repeated name keeps its first moment (firmware may mark in every loop).
int read_mark(reader_t* reader, words_t* words) {
    span_t word{};
    if (!next_word(words, &word)) {
        return refuse(reader, "mark needs a name");
    }
    bool valid = word.n >= 1 && word.n <= static_cast<std::size_t>(CMDLOG_MARK_NAME_MAX);
    for (std::size_t i = 0; valid && i < word.n; ++i) {
        valid = is_name_char(word.p[i]);
    }
    if (!valid) {
        std::array<char, 128> shown{};
        quote_word(word, shown.data(), shown.size());
        return refuse(reader, "not a mark name: '%s' (1 to %d letters, digits, '_', '-' and '.')",
                      shown.data(), CMDLOG_MARK_NAME_MAX);
    }
    if (expect_end(reader, words, "mark") != 0) {
        return -1;
    }
    cmdlog_t* log = reader->log;
    if (log == nullptr) {
        return 0;
    }
    for (std::size_t i = 0; i < log->mark_count; ++i) {
        if (equals(word, log->marks[i].name.data())) {
            return 0;
        }
    }
    cmdlog_mark_t mark{reader->time_us, reader->line, {}};
    std::memcpy(mark.name.data(), word.p, word.n);
    return append_item(reader, &log->marks, &log->mark_count, &log->mark_capacity, mark);
}

// COLSxROWS within the limits of a module line; false for anything else.
bool parse_geometry(span_t word, int* columns, int* rows) {
    const auto* x = static_cast<const char*>(std::memchr(word.p, 'x', word.n));
    if (x == nullptr) {
        return false;
    }
    const span_t left{word.p, static_cast<std::size_t>(x - word.p)};
    const span_t right{x + 1, word.n - left.n - 1};
    unsigned c = 0;
    unsigned r = 0;
    // Decimal only: "0x10" is no geometry.
    if (left.n == 0 || right.n == 0 || left.p[0] == '0' || right.p[0] == '0' ||
        !parse_number(left, &c) || !parse_number(right, &r) ||
        std::memchr(right.p, 'x', right.n) != nullptr) {
        return false;
    }
    if (c > static_cast<unsigned>(CMDLOG_MODULE_MAX_COLUMNS) ||
        r > static_cast<unsigned>(CMDLOG_MODULE_MAX_ROWS) ||
        c * r > static_cast<unsigned>(CMDLOG_MODULE_MAX_CELLS)) {
        return false;
    }
    *columns = static_cast<int>(c);
    *rows = static_cast<int>(r);
    return true;
}

// module COLSxROWS: recorded for the front end, which chose the module before reading.
int read_module(reader_t* reader, words_t* words) {
    span_t word{};
    int columns = 0;
    int rows = 0;
    if (!next_word(words, &word) || !parse_geometry(word, &columns, &rows)) {
        return refuse(reader,
                      "module needs columns x rows such as 20x4 (at most %d columns, %d rows "
                      "and %d cells)",
                      CMDLOG_MODULE_MAX_COLUMNS, CMDLOG_MODULE_MAX_ROWS, CMDLOG_MODULE_MAX_CELLS);
    }
    if (expect_end(reader, words, "module") != 0) {
        return -1;
    }
    cmdlog_t* log = reader->log;
    if (log == nullptr) {
        return 0;
    }
    if (log->module_line == 0) {
        log->module_columns = columns;
        log->module_rows = rows;
        log->module_line = reader->line;
        return 0;
    }
    if (columns != log->module_columns || rows != log->module_rows) {
        return refuse(reader, "module %dx%d, but line %u gave %dx%d", columns, rows,
                      static_cast<unsigned>(log->module_line), log->module_columns,
                      log->module_rows);
    }
    return 0;
}

using keyword_reader_t = int (*)(reader_t*, words_t*);

struct keyword_t {
    std::string_view name;
    keyword_reader_t read;
};

constexpr std::array<keyword_t, 20> KEYWORDS{{
    {"cmd", read_cmd},       {"data", read_data},           {"wait", read_wait},
    {"print", read_print},   {"goto", read_goto},           {"i2c", read_i2c},
    {"read", read_read},     {"wiring", read_wiring},       {"controller", read_controller},
    {"init", read_init},     {"clear", read_clear},         {"home", read_home},
    {"cursor", read_cursor}, {"blink", read_blink},         {"display", read_display},
    {"shift", read_shift},   {"define", read_define},       {"mark", read_mark},
    {"module", read_module}, {"backlight", read_backlight},
}};

bool is_keyword(span_t word) {
    return std::any_of(KEYWORDS.begin(), KEYWORDS.end(),
                       [word](const keyword_t& entry) { return equals(word, entry.name); });
}

int read_line(reader_t* reader, const char* p, const char* end) {
    if (reader->define_code >= 0) {
        return read_define_row(reader, p, end);
    }
    words_t words{p, end};
    span_t keyword{};
    if (!next_word(&words, &keyword)) {
        return 0;
    }
    for (const keyword_t& entry : KEYWORDS) {
        if (equals(keyword, entry.name)) {
            return entry.read(reader, &words);
        }
    }
    std::array<char, 128> shown{};
    quote_word(keyword, shown.data(), shown.size());
    return refuse(reader, "unknown keyword '%s'", shown.data());
}

// The end of the line that starts at `p`: LF, CR LF and CR alone each end a line. `*next`
// gets the start of the next line (`end` after the last).
const char* line_break(const char* p, const char* end, const char** next) {
    const auto* newline =
        static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    const char* line_end = newline != nullptr ? newline : end;
    const auto* cr =
        static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(line_end - p)));
    if (cr != nullptr) {
        *next = cr + 1 == newline ? newline + 1 : cr + 1;
        return cr;
    }
    *next = newline != nullptr ? newline + 1 : end;
    return line_end;
}

// Reads the line that starts at `*offset` and moves past it.
int read_next_line(reader_t* reader, const char* text, std::size_t length, std::size_t* offset) {
    const char* p = text + *offset;
    const char* next = nullptr;
    const char* line_end = line_break(p, text + length, &next);
    if (reader->line < UINT32_MAX) {
        ++reader->line;
    }
    *offset = static_cast<std::size_t>(next - text);
    return read_line(reader, p, line_end);
}

int read_lines(reader_t* reader, const char* text, std::size_t length) {
    std::size_t offset = 0;
    while (offset < length) {
        if (read_next_line(reader, text, length, &offset) != 0) {
            return -1;
        }
    }
    return reader->define_code >= 0 ? refuse_define(reader) : 0;
}

// The first reading: counts the events and notes each time at which some happen.
struct reading_t {
    cmdlog_t* log;
    bool no_memory;
    const std::int64_t* time_us; // the reader's time, which the event's picoseconds may cut
};

int note_event(const chip_event_t* /*event*/, void* ctx) {
    auto* reading = static_cast<reading_t*>(ctx);
    cmdlog_t* log = reading->log;
    const std::int64_t time_us = *reading->time_us;
    ++log->count;
    if (log->time_count > 0 && log->times[log->time_count - 1] == time_us) {
        return 0;
    }
    if (log->time_count == log->time_capacity) {
        const std::size_t capacity =
            log->time_capacity == 0 ? FIRST_CAPACITY : 2 * log->time_capacity;
        void* grown = capacity > SIZE_MAX / sizeof(std::int64_t)
                          ? nullptr
                          : std::realloc(log->times, capacity * sizeof(std::int64_t));
        if (grown == nullptr) {
            reading->no_memory = true;
            return -1;
        }
        log->times = static_cast<std::int64_t*>(grown);
        log->time_capacity = capacity;
    }
    log->times[log->time_count++] = time_us;
    return 0;
}

// A replay's reader between lines, kept in a cursor: no scratch, no message.
static_assert(std::is_trivially_copyable_v<reader_t>, "a cursor keeps the reader as bytes");
static_assert(sizeof(reader_t) <= CMDLOG_CURSOR_STATE_BYTES, "the cursor holds the reader");
static_assert(alignof(reader_t) <= 8, "the cursor holds the reader");

// A sink's stop, told from the reader's own failure (memory for `print`).
struct delivery_t {
    cmdlog_sink_t sink;
    void* ctx;
    int stop; // the sink's nonzero result
};

int deliver(const chip_event_t* event, void* ctx) {
    auto* delivery = static_cast<delivery_t*>(ctx);
    delivery->stop = delivery->sink(event, delivery->ctx);
    return delivery->stop;
}

} // namespace

bool cmdlog_row_start(const cmdlog_module_t* module, int row, int* chip, int* line, int* position) {
    if (module == nullptr || row < 0 || row >= module->rows || module->columns < 1) {
        return false;
    }
    int own_chip = 0;
    int own_row = row;
    const int upper_rows = (module->rows + 1) / 2;
    if (module->chip_count > 1 && row >= upper_rows) {
        own_chip = 1;
        own_row = row - upper_rows;
    }
    int start_line = 0;
    std::int64_t start = 0;
    if (module->row_address_count > 0) {
        if (row >= module->row_address_count || row >= CMDLOG_MAX_ROW_ADDRESSES) {
            return false;
        }
        const int address = module->row_addresses[static_cast<std::size_t>(row)] & 0x7F;
        start_line = address >= CHIP_LINE2_BASE ? 1 : 0;
        start = address - start_line * CHIP_LINE2_BASE;
    } else {
        start_line = own_row % 2;
        start = static_cast<std::int64_t>(own_row / 2) * module->columns;
    }
    *chip = own_chip;
    *line = start_line;
    *position = static_cast<int>(std::min<std::int64_t>(start, INT_MAX / 2)); // far past any ring
    return true;
}

void cmdlog_module_make(int columns, int rows, const unsigned char* row_addresses,
                        int row_address_count, const charset_t* charset, cmdlog_module_t* module) {
    module->columns = columns;
    module->rows = rows;
    const std::int64_t cells = static_cast<std::int64_t>(columns) * rows;
    module->chip_count = cells > CHIP_ONE_LINE_LENGTH ? 2 : 1;
    module->row_address_count =
        row_addresses != nullptr ? std::clamp(row_address_count, 0, CMDLOG_MAX_ROW_ADDRESSES) : 0;
    module->row_addresses.fill(0);
    for (int i = 0; i < module->row_address_count; ++i) {
        module->row_addresses[static_cast<std::size_t>(i)] = row_addresses[i];
    }
    module->charset = charset != nullptr ? charset : charset_find("A00");
}

int cmdlog_read(const char* text, std::size_t length, const cmdlog_module_t* module, cmdlog_t* log,
                char* message, int message_capacity) {
    char* copy = static_cast<char*>(std::malloc(length > 0 ? length : 1));
    if (copy == nullptr) {
        if (message != nullptr && message_capacity > 0) {
            std::snprintf(message, static_cast<std::size_t>(message_capacity), "%s",
                          "Memory Allocation Error.");
        }
        if (log != nullptr) {
            *log = cmdlog_t{};
        }
        return CMDLOG_NO_MEMORY;
    }
    if (length > 0 && text != nullptr) {
        std::memcpy(copy, text, length);
    }
    if (text == nullptr && length > 0) {
        std::free(copy);
        copy = nullptr;
    }
    return cmdlog_read_owned(copy, length, module, log, message, message_capacity);
}

int cmdlog_read_owned(char* text, std::size_t length, const cmdlog_module_t* module, cmdlog_t* log,
                      char* message, int message_capacity) {
    if (message != nullptr && message_capacity > 0) {
        message[0] = '\0';
    }
    if (log == nullptr) {
        std::free(text);
        return -1;
    }
    *log = cmdlog_t{};
    if (module == nullptr || module->chip_count < 1 || module->chip_count > CMDLOG_MAX_CHIPS ||
        (text == nullptr && length > 0)) {
        std::free(text);
        return -1;
    }
    // Some editors begin a UTF-8 file with a byte-order mark.
    if (length >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) {
        std::memmove(text, text + 3, length - 3);
        length -= 3;
    }
    log->text = text;
    log->length = length;
    log->module = *module;
    reader_t reader{};
    reading_t reading{log, false, &reader.time_us};
    reader.module = &log->module;
    reader.log = log;
    reader.sink = note_event;
    reader.sink_ctx = &reading;
    reader.message = message;
    reader.message_capacity = message_capacity;
    const int result = read_lines(&reader, text, length);
    std::free(reader.text);
    std::free(reader.codes);
    if (result != 0) {
        if (reading.no_memory) {
            out_of_memory(&reader);
        }
        cmdlog_free(log);
        return reader.no_memory ? CMDLOG_NO_MEMORY : -1;
    }
    log->end_us = reader.time_us;
    return 0;
}

void cmdlog_free(cmdlog_t* log) {
    if (log == nullptr) {
        return;
    }
    std::free(log->text);
    std::free(log->times);
    std::free(log->marks);
    std::free(log->backlight);
    *log = cmdlog_t{};
}

bool cmdlog_is_mark_name(const char* name) {
    if (name == nullptr) {
        return false;
    }
    const std::size_t length = std::strlen(name);
    bool valid = length >= 1 && length <= static_cast<std::size_t>(CMDLOG_MARK_NAME_MAX);
    for (std::size_t i = 0; valid && i < length; ++i) {
        valid = is_name_char(name[i]);
    }
    return valid;
}

const cmdlog_mark_t* cmdlog_find_mark(const cmdlog_t* log, const char* name) {
    if (log == nullptr || name == nullptr) {
        return nullptr;
    }
    for (std::size_t i = 0; i < log->mark_count; ++i) {
        if (std::strcmp(log->marks[i].name.data(), name) == 0) {
            return &log->marks[i];
        }
    }
    return nullptr;
}

bool cmdlog_backlight_at(const cmdlog_t* log, std::int64_t time_us) {
    bool on = true;
    for (std::size_t i = 0; log != nullptr && i < log->backlight_count; ++i) {
        if (log->backlight[i].time_us > time_us) {
            break;
        }
        on = log->backlight[i].on;
    }
    return on;
}

bool cmdlog_scan_module(const char* text, std::size_t length, int* columns, int* rows) {
    const char* p = text;
    const char* end = text == nullptr ? text : text + length;
    while (p < end) {
        const char* next = nullptr;
        const char* line_end = line_break(p, end, &next);
        words_t words{p, line_end};
        span_t keyword{};
        span_t geometry{};
        span_t extra{};
        if (next_word(&words, &keyword) && equals(keyword, "module") &&
            next_word(&words, &geometry) && !next_word(&words, &extra) &&
            parse_geometry(geometry, columns, rows)) {
            return true;
        }
        p = next;
    }
    return false;
}

void cmdlog_cursor_start(const cmdlog_t* log, cmdlog_cursor_t* cursor) {
    *cursor = cmdlog_cursor_t{};
    reader_t reader{};
    reader.module = log != nullptr ? &log->module : nullptr;
    std::memcpy(cursor->state.data(), &reader, sizeof reader);
}

int cmdlog_cursor_advance(const cmdlog_t* log, cmdlog_cursor_t* cursor, std::int64_t time_us,
                          cmdlog_sink_t sink, void* ctx) {
    if (log == nullptr || cursor->stopped) {
        return 0;
    }
    reader_t reader{};
    std::memcpy(&reader, cursor->state.data(), sizeof reader);
    delivery_t delivery{sink, ctx, 0};
    reader.module = &log->module;
    reader.sink = deliver;
    reader.sink_ctx = &delivery;
    reader.message = nullptr;
    reader.message_capacity = 0;
    int result = 0;
    // A line's events all happen at the reader's time, which only `wait` moves on.
    while (cursor->offset < log->length && reader.time_us <= time_us) {
        if (read_next_line(&reader, log->text, log->length, &cursor->offset) != 0) {
            // The log was read whole before: the sink stopped, or memory ran short.
            cursor->stopped = true;
            result = delivery.stop != 0 ? delivery.stop : -1;
            break;
        }
    }
    std::free(reader.text);
    std::free(reader.codes);
    reader.text = nullptr;
    reader.codes = nullptr;
    reader.scratch_capacity = 0;
    std::memcpy(cursor->state.data(), &reader, sizeof reader);
    return result;
}

int cmdlog_each_event(const cmdlog_t* log, cmdlog_sink_t sink, void* ctx) {
    cmdlog_cursor_t cursor{};
    cmdlog_cursor_start(log, &cursor);
    return cmdlog_cursor_advance(log, &cursor, INT64_MAX, sink, ctx);
}

int cmdlog_parse_time(const char* text, std::int64_t* time_us) {
    if (text == nullptr || time_us == nullptr) {
        return -1;
    }
    const char* p = text;
    std::int64_t whole = 0;
    const char* digits = p;
    for (; *p >= '0' && *p <= '9'; ++p) {
        whole = std::min<std::int64_t>(whole * 10 + (*p - '0'), CMDLOG_MAX_TIME_US + 1);
    }
    if (p == digits) {
        return -1;
    }
    const char* fraction = p;
    std::size_t fraction_digits = 0;
    if (*p == '.') {
        fraction = ++p;
        for (; *p >= '0' && *p <= '9'; ++p) {
            ++fraction_digits;
        }
        if (fraction_digits == 0) {
            return -1;
        }
    }
    if (*p == '\0' && whole == 0 && std::strspn(fraction, "0") == fraction_digits) {
        *time_us = 0; // zero needs no unit
        return 0;
    }
    std::int64_t scale = 0;
    std::size_t places = 0; // decimal places that are still whole microseconds
    if (std::strcmp(p, "s") == 0) {
        scale = 1000000;
        places = 6;
    } else if (std::strcmp(p, "ms") == 0) {
        scale = 1000;
        places = 3;
    } else if (std::strcmp(p, "us") == 0) {
        scale = 1;
        places = 0;
    } else {
        return -1;
    }
    if (whole > CMDLOG_MAX_TIME_US / scale) {
        return -1;
    }
    std::int64_t part = 0;
    for (std::size_t i = 0; i < places; ++i) {
        part = part * 10 + (i < fraction_digits ? fraction[i] - '0' : 0);
    }
    for (std::size_t i = places; i < fraction_digits; ++i) {
        if (fraction[i] != '0') {
            return -1; // a fraction of a microsecond
        }
    }
    const std::int64_t total = whole * scale + part;
    if (total > CMDLOG_MAX_TIME_US) {
        return -1;
    }
    *time_us = total;
    return 0;
}

} // namespace vimbra
