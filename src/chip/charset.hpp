// The character sets of the real controllers' ROMs (A00, A02): their glyph tables, and row
// text read as UTF-8 and mapped to their codes.
#pragma once

#include <array>
#include <cstddef>

namespace vimbra {

inline constexpr int CHARSET_GLYPH_COUNT = 256;
inline constexpr int CHARSET_GLYPH_BYTES = 5;        // one byte per dot column, bit 0 = top dot row
inline constexpr int CHARSET_MESSAGE_CAPACITY = 256; // enough for every refusal message

using charset_glyphs_t = std::array<unsigned char, CHARSET_GLYPH_COUNT * CHARSET_GLYPH_BYTES>;

// One character of a set: one code point, or two (second is 0 when there is one), and the
// one or two codes that show it.
struct charset_entry_t {
    char32_t first;
    char32_t second;
    std::array<unsigned char, 2> codes;
    unsigned char code_count;
};

struct charset_t {
    const char* name; // "A00" or "A02"
    const charset_glyphs_t* glyphs;
    const charset_entry_t* entries; // sorted by first, then second code point
    std::size_t entry_count;
    // The code of each ASCII character that maps on its own; -1 for the others (not in the
    // set, or the start of a two-code-point character), which take the full lookup.
    const std::array<short, 128>* ascii;
};

// Statuses of charset_decode beyond util_format's (whose values it shares for escapes).
enum charset_status : int {
    CHARSET_NOT_IN_SET = 16,
    CHARSET_STRAY_CONTINUATION = 17,
    CHARSET_TRUNCATED = 18,
    CHARSET_OVERLONG = 19,
    CHARSET_SURROGATE = 20,
    CHARSET_ABOVE_MAX = 21, // a code point above U+10FFFF
    CHARSET_NOT_UTF8 = 22,  // 0xF8 to 0xFF, bytes that never occur in UTF-8
};

// The set named `name` ("A00" or "A02", either case); nullptr for any other name.
const charset_t* charset_find(const char* name);
// The set's 256 glyphs, five column bytes each.
const charset_glyphs_t& charset_glyphs(const charset_t* set);

// Decodes one row argument into codes of `set`: `\\` and `\xHH` place raw codes exactly as
// util_format does (same statuses), everything else is read as UTF-8 and mapped through the
// set. Stores the count and terminates dst like util_format, also on refusal. On refusal
// (a nonzero status) `message` gets one line without a line end naming the row (`row` is
// the 0-based row index; the message counts from 1), the display column and the offending
// character or bytes; it is empty on success. Prints nothing.
int charset_decode(const charset_t* set, const char* src, int row, unsigned char* dst, int capacity,
                   int* count, char* message, int message_capacity);
// The UTF-8 text of the usual character that `code` stands for in `set`, chosen so that
// charset_decode reads it back as exactly that one code; "" when there is none (a user
// glyph, or a code only an escape places).
const char* charset_spell(const charset_t* set, unsigned char code);

} // namespace vimbra
