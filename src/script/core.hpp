// The interpreter context, the tokenizer, line labels and result messages.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "script/hal.hpp"
#include "script/kestlibc.hpp"
#include "script/variable.hpp"

namespace vimbra {

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
    RC_STEP_LIMIT = 19, // "step limit reached": only the runner's optional budget gives it
};

struct label_t {
    std::array<char, CORE_LABEL_NAME> name; // empty entry: name[0] == 0
    const char* position;                   // just behind the label token
};

struct for_record_t {
    std::array<char, CORE_LABEL_NAME> name; // loop variable
    std::int32_t target;
    const char* body;
    std::int8_t slot; // where the loop variable was last found: tried first, never trusted
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
    std::uint8_t flags;       // CORE_MEMO_* below; 0: not filled
    std::int32_t number;      // kestlibc_atoi of the text, for a number token
    std::uint16_t label;      // 1 + offset of the position of the label this text names; 0: unknown
    std::int8_t slot;         // variable slot this name was last found in; -1: none yet
};

// Entry flags; only an entry whose flags are exactly CORE_MEMO_SHORT is replayed inline.
inline constexpr std::uint8_t CORE_MEMO_FILLED = 1;
inline constexpr std::uint8_t CORE_MEMO_FOLD = 2;  // long text: fold it again on replay
inline constexpr std::uint8_t CORE_MEMO_PAREN = 4; // unterminated string
inline constexpr std::uint8_t CORE_MEMO_LONG = 8;  // text of 8 or more characters
inline constexpr std::uint8_t CORE_MEMO_SHORT = CORE_MEMO_FILLED;

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
    std::int32_t token_length; // characters of `token`, kept so that nothing scans for its end
    std::int32_t token_entry;  // memo index the current token came from or went to; -1: none
    // 1 + the offset core_find_eol reaches from each offset; 0: not yet known. Part of the
    // memo: emptied with it, used while it is on.
    std::array<std::uint16_t, CORE_MEMO_SIZE> line_ends;
};

// Prepares a context on a NUL-terminated program text; 0, RC_LABEL_FULL, RC_LABEL_DUP
// or RC_LABEL_LONG. The cursor is left behind the offending label on failure.
int core_setup(kestbasic_t* kb, const char* program, lcdimg_t* lcd_image);
// Reads the next token; 0, or RC_PAREN for an unterminated string. Defined below: a
// remembered short token is replayed inline, everything else goes to core_read_token.
inline int core_get_token(kestbasic_t* kb);
// core_get_token's way for tokens not replayed inline: reads the text (filling the memo
// entry when the memo is on) or replays a long or failed token.
int core_read_token(kestbasic_t* kb);
// Moves the cursor back by the length of the current token's text.
inline void core_putback(kestbasic_t* kb);
// Moves the cursor past the next line feed, or onto the terminator.
void core_find_eol(kestbasic_t* kb);
// Position behind the label named `text`, or nullptr.
const char* core_find_label(const kestbasic_t* kb, const char* text);
// Message of `code` with "(Line:N)" for the cursor's line; 0, or -1 when it does not fit
// (buffer then empty or holding the bare message) or the code is unknown (buffer empty).
int core_error_message(const kestbasic_t* kb, int code, char* buffer, int size);
// Turns the per-offset token memo on or off; tokens read either way are identical. Turning
// it off forgets everything remembered.
void core_use_memo(kestbasic_t* kb, bool enabled);
// Value of the leading digits of the current token (kestlibc_atoi), for a number token.
inline std::int32_t core_token_number(const kestbasic_t* kb);
// Position behind the label named by the current token, or nullptr (core_find_label),
// remembered in the token's memo entry.
const char* core_token_label(kestbasic_t* kb);
// Slot of the variable named by the current token; -1 when it is undeclared or longer
// than 7 characters (variable_get would fail). The slot is remembered in the token's memo
// entry and tried first next time.
inline int core_token_slot(kestbasic_t* kb);
// core_token_slot's search when the remembered slot does not hold the name.
int core_find_token_slot(kestbasic_t* kb);

inline int core_get_token(kestbasic_t* kb) {
    const auto start = static_cast<std::size_t>(kb->cursor - kb->program);
    // Entries are only filled while the memo is on, and emptied when it is turned off.
    if (start < static_cast<std::size_t>(CORE_MEMO_SIZE)) {
        token_memo_t& m = kb->memo[start];
        if (m.flags == CORE_MEMO_SHORT) {
            // The head is NUL-padded, so copying all of it also terminates the text.
            std::memcpy(kb->token.data(), m.head.data(), m.head.size());
            kb->token_type = static_cast<token_type_t>(m.type);
            kb->token_code = static_cast<token_code_t>(m.code);
            kb->token_length = m.length;
            kb->token_entry = static_cast<std::int32_t>(start);
            kb->cursor = kb->program + m.next;
            return RC_OK;
        }
    }
    return core_read_token(kb);
}

inline std::int32_t core_token_number(const kestbasic_t* kb) {
    return kb->token_entry >= 0 ? kb->memo[static_cast<std::size_t>(kb->token_entry)].number
                                : kestlibc_atoi(kb->token.data());
}

inline int core_token_slot(kestbasic_t* kb) {
    if (kb->token_entry >= 0 && kb->token_length <= VARIABLE_NAME_MAX) {
        // A short token's head is its whole text, NUL-padded like a stored name.
        const token_memo_t& m = kb->memo[static_cast<std::size_t>(kb->token_entry)];
        if (variable_holds(&kb->variables, m.slot, m.head)) return m.slot;
    }
    return core_find_token_slot(kb);
}

inline void core_putback(kestbasic_t* kb) {
    const std::ptrdiff_t length = kb->token_length;
    kb->cursor = kb->cursor - kb->program < length ? kb->program : kb->cursor - length;
}

} // namespace vimbra
