#include "script/core.hpp"

#include <algorithm>
#include <cstddef>

#include "script/kestlibc.hpp"

namespace vimbra {

namespace {

struct keyword_t {
    const char* text; // at most 15 characters
    token_code_t code;
};

// Searched in this order; the empty entry ends the table and its code is never returned.
constexpr std::array<keyword_t, 22> table = {{
    {"print", TC_PRINT},   {"input", TC_INPUT},   {"if", TC_IF},     {"then", TC_THEN},
    {"goto", TC_GOTO},     {"for", TC_FOR},       {"next", TC_NEXT}, {"to", TC_TO},
    {"gosub", TC_GOSUB},   {"return", TC_RETURN}, {"rem", TC_REM},   {"read", TC_READ},
    {"write", TC_WRITE},   {"dim", TC_DIM},       {"end", TC_END},   {"color", TC_COLOR},
    {"plot", TC_PLOT},     {"line", TC_LINE},     {"box", TC_BOX},   {"fillbox", TC_FILLBOX},
    {"circle", TC_CIRCLE}, {"", TC_END},
}};
static_assert(table.size() == 22, "21 keywords and the end marker");

constexpr bool keyword_texts_fit() {
    for (const keyword_t& k : table) {
        int n = 0;
        while (k.text[n] != 0)
            ++n;
        if (n > 15) return false;
    }
    return table.back().text[0] == 0;
}
static_assert(keyword_texts_fit(), "keyword texts fit their 16-character field; last is empty");

// Indexed by result code: keeps the order of result_code_t in core.hpp.
constexpr std::array<const char*, 20> errmsg = {
    "no error",
    "end of the program",
    "syntax error",
    "unbalanced parentheses",
    "no expression present",
    "equals sign expected",
    "not a variable",
    "variable assignment error",
    "Label table full",
    "duplicate label",
    "undefined label",
    "THEN expected",
    "TO expected",
    "too many nested FOR loops",
    "NEXT without FOR",
    "too many nested GOSUBs",
    "RETURN without GOSUB",
    "division by zero",
    "label too long",
    "step limit reached",
};
static_assert(errmsg.size() == RC_STEP_LIMIT + 1, "one message per result code");

constexpr int token_max = CORE_TOKEN_SIZE - 1;

constexpr int head_size = 8; // token_memo_t::head
static_assert(head_size == VARIABLE_NAME_MAX + 1, "a short token is a whole variable name");

// Everything a fresh read found, in a form that can be stored as a memo entry.
struct scan_t {
    const char* text = nullptr; // where the token text starts in the program
    int length = 0;             // characters kept in `token`
    bool folded = false;        // upper-case letters were folded
    bool paren = false;         // unterminated string
};

bool iswhite(char c) {
    return c == ' ' || c == '\t';
}

bool isdelim(char c) {
    return c == 0 || c == '\t' || c == '\n' || c == '\r' ||
           kestlibc_strchr(" ;,+-<>/*%^=()", c) != nullptr;
}

token_code_t look_up(const char* word) {
    for (const keyword_t& k : table) {
        if (k.text[0] == 0) break;
        if (kestlibc_strcmp(k.text, word) == 0) return k.code;
    }
    return TC_NONE;
}

void set_token(kestbasic_t* kb, token_type_t type, token_code_t code) {
    kb->token_type = type;
    kb->token_code = code;
}

// Copies up to the next word terminator, keeping at most 79 characters; the cursor
// moves past the whole word.
void copy_word(kestbasic_t* kb, scan_t* s) {
    const char* p = kb->cursor;
    s->text = p;
    int n = 0;
    for (; !isdelim(*p); ++p) {
        if (n < token_max) kb->token[static_cast<std::size_t>(n++)] = *p;
    }
    kb->token[static_cast<std::size_t>(n)] = 0;
    s->length = n;
    kb->cursor = p;
}

void read_word(kestbasic_t* kb, scan_t* s) {
    copy_word(kb, s);
    for (int i = 0; i < s->length; ++i) {
        char& c = kb->token[static_cast<std::size_t>(i)];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(kestlibc_tolower(c));
            s->folded = true;
        }
    }
    const token_code_t code = look_up(kb->token.data());
    set_token(kb, code != TC_NONE ? TT_KEYWORD : TT_VARIABLE, code);
}

// The text between quotes; ends at the closing quote, or fails at CR, LF or the
// terminator with the cursor left on that character.
int read_string(kestbasic_t* kb, scan_t* s) {
    const char* p = kb->cursor + 1;
    s->text = p;
    int n = 0;
    for (; *p != '"'; ++p) {
        if (*p == '\r' || *p == '\n' || *p == 0) {
            kb->token[static_cast<std::size_t>(n)] = 0;
            s->length = n;
            s->paren = true;
            kb->cursor = p;
            return RC_PAREN;
        }
        if (n < token_max) kb->token[static_cast<std::size_t>(n++)] = *p;
    }
    kb->token[static_cast<std::size_t>(n)] = 0;
    s->length = n;
    kb->cursor = p + 1;
    set_token(kb, TT_STRING, TC_NONE);
    return RC_OK;
}

// A token of the characters [text, text + length) that the cursor has passed.
void take_text(kestbasic_t* kb, scan_t* s, const char* text, int length) {
    for (int i = 0; i < length; ++i)
        kb->token[static_cast<std::size_t>(i)] = text[i];
    kb->token[static_cast<std::size_t>(length)] = 0;
    s->text = text;
    s->length = length;
}

void read_crlf(kestbasic_t* kb, scan_t* s) {
    kb->token[0] = '\r';
    kb->token[1] = '\n';
    kb->token[2] = 0;
    s->text = kb->cursor;
    s->length = 2;
    // A lone CR at the very end consumes only itself.
    kb->cursor += kb->cursor[1] != 0 ? 2 : 1;
    set_token(kb, TT_DELIMITER, TC_EOL);
}

void end_of_program(kestbasic_t* kb, scan_t* s) {
    take_text(kb, s, kb->cursor, 0);
    set_token(kb, TT_DELIMITER, TC_EOP);
}

// Reads a token from the text itself; fills `s` for the memo.
int scan_token(kestbasic_t* kb, scan_t* s) {
    set_token(kb, TT_NONE, TC_NONE);
    if (*kb->cursor == 0) {
        end_of_program(kb, s);
        return RC_OK;
    }
    while (iswhite(*kb->cursor))
        ++kb->cursor;
    const char c = *kb->cursor;
    if (c == '\n') {
        take_text(kb, s, kb->cursor++, 1);
        set_token(kb, TT_DELIMITER, TC_EOL);
    } else if (c == '\r') {
        read_crlf(kb, s);
    } else if (kestlibc_iscntrl(c) != 0) {
        end_of_program(kb, s);
    } else if (kestlibc_strchr("+-*^/%=;(),><", c) != nullptr) {
        take_text(kb, s, kb->cursor++, 1);
        set_token(kb, TT_DELIMITER, TC_NONE);
    } else if (c == '"') {
        return read_string(kb, s);
    } else if (kestlibc_isdigit(c) != 0) {
        copy_word(kb, s);
        set_token(kb, TT_NUMBER, TC_NONE);
    } else if (kestlibc_isalpha(c) != 0) {
        read_word(kb, s);
    } else {
        take_text(kb, s, kb->cursor, 0);
    }
    return RC_OK;
}

// Flags of the entry for what a read found; short texts replay inline.
std::uint8_t memo_flags(const scan_t& s) {
    std::uint8_t flags = CORE_MEMO_FILLED;
    if (s.length >= head_size) {
        flags |= CORE_MEMO_LONG;
        if (s.folded) flags |= CORE_MEMO_FOLD;
    }
    if (s.paren) flags |= CORE_MEMO_PAREN;
    return flags;
}

// Writes a memo entry when the read ended within reach of 16-bit offsets; true if written.
bool remember(kestbasic_t* kb, token_memo_t* m, const scan_t& s) {
    const std::ptrdiff_t next = kb->cursor - kb->program;
    if (next > 0xFFFF) return false;
    for (int i = 0; i < head_size; ++i) {
        m->head[static_cast<std::size_t>(i)] =
            i < s.length ? kb->token[static_cast<std::size_t>(i)] : 0;
    }
    m->next = static_cast<std::uint16_t>(next);
    m->text = static_cast<std::uint16_t>(s.text - kb->program);
    m->length = static_cast<std::uint8_t>(s.length);
    m->type = static_cast<std::uint8_t>(kb->token_type);
    m->code = static_cast<std::uint8_t>(kb->token_code);
    m->number = kb->token_type == TT_NUMBER ? kestlibc_atoi(kb->token.data()) : 0;
    m->label = 0;
    m->slot = -1;
    m->flags = memo_flags(s);
    return true;
}

// A token text too long for the memo's head is copied from the program again.
void replay_long(kestbasic_t* kb, const token_memo_t& m) {
    char* out = kb->token.data();
    const char* src = kb->program + m.text;
    for (int i = 0; i < m.length; ++i)
        out[i] = src[i];
    if ((m.flags & CORE_MEMO_FOLD) != 0) {
        for (int i = 0; i < m.length; ++i)
            out[i] = static_cast<char>(kestlibc_tolower(out[i]));
    }
    out[m.length] = 0;
}

// The entries that core_get_token does not replay inline: long texts and failed strings.
int replay(kestbasic_t* kb, token_memo_t* m) {
    if ((m->flags & CORE_MEMO_LONG) != 0) {
        replay_long(kb, *m);
    } else {
        std::copy_n(m->head.data(), head_size, kb->token.data());
    }
    set_token(kb, static_cast<token_type_t>(m->type), static_cast<token_code_t>(m->code));
    kb->token_length = m->length;
    kb->token_entry = static_cast<std::int32_t>(m - kb->memo.data());
    kb->cursor = kb->program + m->next;
    return (m->flags & CORE_MEMO_PAREN) != 0 ? RC_PAREN : RC_OK;
}

int read_fresh(kestbasic_t* kb) {
    scan_t s;
    const int rc = scan_token(kb, &s);
    kb->token_length = s.length;
    kb->token_entry = -1;
    return rc;
}

int read_and_remember(kestbasic_t* kb, token_memo_t* m) {
    scan_t s;
    const int rc = scan_token(kb, &s);
    kb->token_length = s.length;
    kb->token_entry = remember(kb, m, s) ? static_cast<std::int32_t>(m - kb->memo.data()) : -1;
    return rc;
}

// Empties every memo entry and every remembered line end.
void forget_memo(kestbasic_t* kb) {
    for (token_memo_t& m : kb->memo)
        m.flags = 0;
    kb->line_ends.fill(0);
}

// Where core_find_eol leads from `p`.
const char* scan_line_end(const char* p) {
    while (*p != '\n' && *p != 0)
        ++p;
    return *p == '\n' ? p + 1 : p;
}

// First free entry for `name`; RC_LABEL_DUP when an earlier entry has that name,
// RC_LABEL_FULL when no entry is free.
int get_label_position(const kestbasic_t* kb, const char* name, int* slot) {
    for (int i = 0; i < CORE_LABEL_COUNT; ++i) {
        const label_t& entry = kb->labels[static_cast<std::size_t>(i)];
        if (entry.name[0] == 0) {
            *slot = i;
            return RC_OK;
        }
        if (kestlibc_strcmp(entry.name.data(), name) == 0) return RC_LABEL_DUP;
    }
    return RC_LABEL_FULL;
}

// Registers the number token just read as a label behind the cursor.
int add_label(kestbasic_t* kb) {
    if (kestlibc_strlen(kb->token.data()) >= CORE_LABEL_NAME) return RC_LABEL_LONG;
    int slot = 0;
    const int rc = get_label_position(kb, kb->token.data(), &slot);
    if (rc != RC_OK) return rc;
    label_t& entry = kb->labels[static_cast<std::size_t>(slot)];
    kestlibc_strcpy(entry.name.data(), kb->token.data());
    entry.position = kb->cursor;
    return RC_OK;
}

// The label of a line is its first token when that is a number.
int scan_labels(kestbasic_t* kb) {
    for (label_t& entry : kb->labels) {
        entry.name.fill(0);
        entry.position = nullptr;
    }
    const char* saved = kb->cursor;
    do {
        core_get_token(kb); // an unterminated string just skips its line
        if (kb->token_type == TT_NUMBER) {
            const int rc = add_label(kb);
            if (rc != RC_OK) return rc;
        }
        if (kb->token_code != TC_EOL) core_find_eol(kb);
    } while (kb->token_code != TC_EOP);
    kb->cursor = saved;
    return RC_OK;
}

} // namespace

int core_setup(kestbasic_t* kb, const char* program, lcdimg_t* lcd_image) {
    variable_init(&kb->variables);
    kb->program = program;
    kb->cursor = program;
    kb->for_depth = 0;
    kb->gosub_depth = 0;
    hal_init(&kb->hal, lcd_image);
    forget_memo(kb);
    kb->memo_enabled = true;
    kb->token_length = 0;
    kb->token_entry = -1;
    return scan_labels(kb);
}

int core_read_token(kestbasic_t* kb) {
    const auto start = static_cast<std::size_t>(kb->cursor - kb->program);
    if (!kb->memo_enabled || start >= kb->memo.size()) return read_fresh(kb);
    token_memo_t* m = &kb->memo[start];
    return m->flags != 0 ? replay(kb, m) : read_and_remember(kb, m);
}

void core_find_eol(kestbasic_t* kb) {
    const auto start = static_cast<std::size_t>(kb->cursor - kb->program);
    if (!kb->memo_enabled || start >= kb->line_ends.size()) {
        kb->cursor = scan_line_end(kb->cursor);
        return;
    }
    std::uint16_t& known = kb->line_ends[start];
    if (known == 0) {
        const std::ptrdiff_t end = scan_line_end(kb->cursor) - kb->program;
        if (end >= 0xFFFF) {
            kb->cursor = kb->program + end;
            return;
        }
        known = static_cast<std::uint16_t>(end + 1);
    }
    kb->cursor = kb->program + (known - 1);
}

const char* core_find_label(const kestbasic_t* kb, const char* text) {
    for (const label_t& entry : kb->labels) {
        if (entry.name[0] == 0) break;
        // The first character settles most mismatches without a call.
        if (entry.name[0] != text[0]) continue;
        if (kestlibc_strcmp(entry.name.data(), text) == 0) return entry.position;
    }
    return nullptr;
}

int core_error_message(const kestbasic_t* kb, int code, char* buffer, int size) {
    if (size <= 0) return -1;
    buffer[0] = 0;
    if (code < 0 || code >= static_cast<int>(errmsg.size())) return -1;
    const char* message = errmsg[static_cast<std::size_t>(code)];
    const int length = kestlibc_strlen(message);
    if (length >= size) return -1;
    kestlibc_strcpy(buffer, message);
    std::uint32_t line = 1;
    for (const char* p = kb->program; p < kb->cursor && *p != 0; ++p) {
        if (*p == '\n') ++line;
    }
    std::array<char, 24> suffix{};
    kestlibc_strcpy(suffix.data(), "(Line:");
    kestlibc_utoa(line, suffix.data() + 6, 10);
    kestlibc_strcat(suffix.data(), ")");
    if (length + kestlibc_strlen(suffix.data()) >= size) return -1;
    kestlibc_strcat(buffer, suffix.data());
    return 0;
}

void core_use_memo(kestbasic_t* kb, bool enabled) {
    kb->memo_enabled = enabled;
    // core_get_token replays filled entries without asking whether the memo is on.
    if (!enabled) forget_memo(kb);
}

const char* core_token_label(kestbasic_t* kb) {
    token_memo_t* m =
        kb->token_entry >= 0 ? &kb->memo[static_cast<std::size_t>(kb->token_entry)] : nullptr;
    if (m != nullptr && m->label != 0) return kb->program + (m->label - 1);
    const char* position = core_find_label(kb, kb->token.data());
    // Labels are fixed after setup, so a label found once stays found.
    if (m != nullptr && position != nullptr && position - kb->program < 0xFFFF)
        m->label = static_cast<std::uint16_t>(position - kb->program + 1);
    return position;
}

int core_find_token_slot(kestbasic_t* kb) {
    if (kb->token_length > VARIABLE_NAME_MAX) return -1;
    if (kb->token_entry < 0) return variable_index(&kb->variables, kb->token.data());
    token_memo_t& m = kb->memo[static_cast<std::size_t>(kb->token_entry)];
    const int slot = variable_index(&kb->variables, m.head.data());
    m.slot = static_cast<std::int8_t>(slot);
    return slot;
}

} // namespace vimbra
