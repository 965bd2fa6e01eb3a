// The interpreter context, the tokenizer, line labels and result messages.
#pragma once

#include <array>
#include <cstdint>

#include "script/hal.hpp"
#include "script/variable.hpp"

struct lcdimg_t;

inline constexpr int CORE_LABEL_COUNT = 200;
inline constexpr int CORE_LABEL_NAME = 8;   // 7 characters and the terminator
inline constexpr int CORE_TOKEN_SIZE = 80;  // 79 characters and the terminator
inline constexpr int CORE_STACK_DEPTH = 16; // FOR and GOSUB nesting

enum token_type_t : std::int32_t {
    TT_NONE = 0,
    TT_DELIMITER = 1,
    TT_VARIABLE = 2,
    TT_NUMBER = 3,
    TT_KEYWORD = 4,
    TT_WORD = 5, // transient, while a word is read
    TT_STRING = 6,
};

enum token_code_t : std::int32_t {
    TC_NONE = 0,
    TC_PRINT = 1,
    TC_INPUT = 2,
    TC_IF = 3,
    TC_THEN = 4,
    TC_FOR = 5,
    TC_NEXT = 6,
    TC_TO = 7,
    TC_GOTO = 8,
    TC_EOL = 9,
    TC_EOP = 10,
    TC_GOSUB = 11,
    TC_RETURN = 12,
    TC_REM = 13,
    TC_READ = 14,
    TC_WRITE = 15,
    TC_DIM = 16,
    TC_END = 17,
    TC_COLOR = 18,
    TC_PLOT = 19,
    TC_LINE = 20,
    TC_BOX = 21,
    TC_FILLBOX = 22,
    TC_CIRCLE = 23,
};

// Result codes; the message table in core.cpp keeps this order.
enum result_code_t : std::int32_t {
    RC_OK = 0,
    RC_END = 1,
    RC_SYNTAX = 2,
    RC_PAREN = 3,
    RC_NO_EXPR = 4,
    RC_EQUALS = 5,
    RC_NOT_VAR = 6,
    RC_VAR_ASSIGN = 7,
    RC_LABEL_FULL = 8,
    RC_LABEL_DUP = 9,
    RC_LABEL_UNDEF = 10,
    RC_THEN = 11,
    RC_TO = 12,
    RC_FOR_NEST = 13,
    RC_NEXT = 14,
    RC_GOSUB_NEST = 15,
    RC_RETURN = 16,
    RC_DIV_ZERO = 17,   // "division by zero"
    RC_LABEL_LONG = 18, // "label too long": a line number of 8 or more characters
};

struct label_t {
    std::array<char, CORE_LABEL_NAME> name; // empty entry: name[0] == 0
    const char* position;                   // just behind the label token
};

struct for_record_t {
    std::array<char, CORE_LABEL_NAME> name; // loop variable
    std::int32_t target;
    const char* body;
};

inline constexpr int CORE_MEMO_SIZE = 4096; // one entry per offset of a stored program

// What a token read starting at one offset of the program yields. The text never
// changes during a run, so each offset is worked out once and then replayed.
struct token_memo_t {
    std::array<char, 8> head; // the token text when it has at most 7 characters, NUL-padded
    std::uint16_t next;       // offset where the following read starts
    std::uint16_t text;       // offset of a longer token text in the program
    std::uint8_t length;      // characters of the token text
    std::uint8_t type;        // token_type_t
    std::uint8_t code;        // token_code_t
    std::uint8_t flags;       // filled, fold a longer text to lower case, unterminated string
};

struct kestbasic_t {
    const char* program;
    const char* cursor;
    std::array<label_t, CORE_LABEL_COUNT> labels;
    std::array<char, CORE_TOKEN_SIZE> token;
    token_type_t token_type;
    token_code_t token_code;
    variable_store_t variables;
    std::array<for_record_t, CORE_STACK_DEPTH> for_stack;
    std::array<const char*, CORE_STACK_DEPTH> gosub_stack;
    std::int32_t for_depth;
    std::int32_t gosub_depth;
    hal_t hal;
    std::array<token_memo_t, CORE_MEMO_SIZE> memo; // reset by core_setup, filled lazily
    bool memo_enabled;                             // on after core_setup
};

// Prepares a context on a NUL-terminated program text; 0, RC_LABEL_FULL, RC_LABEL_DUP
// or RC_LABEL_LONG. The cursor is left behind the offending label on failure.
int core_setup(kestbasic_t* kb, const char* program, lcdimg_t* lcd_image);
// Reads the next token; 0, or RC_PAREN for an unterminated string.
int core_get_token(kestbasic_t* kb);
// Moves the cursor back by the length of the current token's text.
void core_putback(kestbasic_t* kb);
// Moves the cursor past the next line feed, or onto the terminator.
void core_find_eol(kestbasic_t* kb);
// Position behind the label named `text`, or nullptr.
const char* core_find_label(const kestbasic_t* kb, const char* text);
// Message of `code` with "(Line:N)" for the cursor's line; 0, or -1 when it does not fit
// (buffer then empty or holding the bare message) or the code is unknown (buffer empty).
int core_error_message(const kestbasic_t* kb, int code, char* buffer, int size);
// Turns the per-offset token memo on or off; tokens read either way are identical.
void core_use_memo(kestbasic_t* kb, bool enabled);
