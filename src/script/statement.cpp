// The statements. Every token read may fail (an unterminated string); that code
// is returned at once, as is any failure of an expression.
#include "script/statement.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

#include "script/core.hpp"
#include "script/expression.hpp"
#include "script/hal.hpp"
#include "script/kestlibc.hpp"
#include "script/variable.hpp"

namespace vimbra {

namespace {

constexpr int INPUT_CAPACITY = 80; // characters of one console line
constexpr int TAB_WIDTH = 8;

using name_t = std::array<char, CORE_LABEL_NAME>;

bool is_line_end(const kestbasic_t* kb) {
    return kb->token_code == TC_EOL || kb->token_code == TC_EOP;
}

// Copies the current token into `name`, NUL-padded; false when it is longer than a name
// may be.
bool take_name(const kestbasic_t* kb, name_t* name) {
    name->fill('\0');
    if (kb->token_length > VARIABLE_NAME_MAX) {
        return false;
    }
    std::copy_n(kb->token.data(), kb->token_length, name->data());
    return true;
}

// Reads a token and requires a comma; RC_SYNTAX otherwise.
int expect_comma(kestbasic_t* kb) {
    if (int rc = core_get_token(kb); rc != RC_OK) {
        return rc;
    }
    return kb->token[0] == ',' ? RC_OK : RC_SYNTAX;
}

// A port or value of `read`/`write`: a number token, else the variable it names.
int simple_value(kestbasic_t* kb, std::int32_t* value) {
    if (int rc = core_get_token(kb); rc != RC_OK) {
        return rc;
    }
    if (kb->token_type == TT_NUMBER) {
        *value = core_token_number(kb);
        return RC_OK;
    }
    return variable_get(&kb->variables, kb->token.data(), value) == 0 ? RC_OK : RC_VAR_ASSIGN;
}

// Writes a value in decimal; the number of characters written.
int print_integer(kestbasic_t* kb, std::int32_t value) {
    std::array<char, 12> digits{}; // ten digits and the terminator
    auto magnitude = static_cast<std::uint32_t>(value);
    int count = 0;
    if (value < 0) {
        hal_puts(&kb->hal, "-");
        magnitude = 0U - magnitude;
        count = 1;
    }
    kestlibc_utoa(magnitude, digits.data(), 10);
    hal_puts(&kb->hal, digits.data());
    return count + kestlibc_strlen(digits.data());
}

// Only the column modulo 8 matters; unsigned wrap-around keeps it (2^32 is a multiple
// of 8) where a huge text handed in directly could overflow a signed count.
using column_t = std::uint32_t;

// Writes spaces up to the next tab stop; the number written (1 to 8).
int tab_to_stop(kestbasic_t* kb, column_t column) {
    static constexpr const char* spaces = "        ";
    const int count = TAB_WIDTH - static_cast<int>(column % TAB_WIDTH);
    hal_puts(&kb->hal, spaces + (TAB_WIDTH - count));
    return count;
}

// One `print` item whose first token is current; leaves the token behind it read.
int print_item(kestbasic_t* kb, column_t* column) {
    if (kb->token_type == TT_STRING) {
        hal_puts(&kb->hal, kb->token.data());
        *column += static_cast<column_t>(kb->token_length);
        return core_get_token(kb);
    }
    core_putback(kb);
    std::int32_t value = 0;
    if (int rc = expression_entry(kb, &value); rc != RC_OK) {
        return rc;
    }
    if (int rc = core_get_token(kb); rc != RC_OK) {
        return rc;
    }
    *column += static_cast<column_t>(print_integer(kb, value));
    return RC_OK;
}

// Reads `count` comma-separated arguments; a leading number token is the whole argument.
int graphics_args(kestbasic_t* kb, std::int32_t* args, int count) {
    for (int i = 0; i < count; ++i) {
        if (int rc = core_get_token(kb); rc != RC_OK) {
            return rc;
        }
        if (kb->token_type == TT_NUMBER) {
            args[i] = core_token_number(kb);
        } else {
            core_putback(kb);
            if (int rc = expression_entry(kb, &args[i]); rc != RC_OK) {
                return rc;
            }
        }
        if (i + 1 < count) {
            if (int rc = expect_comma(kb); rc != RC_OK) {
                return rc;
            }
        }
    }
    return RC_OK;
}

// Skips tokens up to and including the first `next`; stops at the end of the text
// (the step then ends the program) and at a character that cannot be read.
int skip_to_next(kestbasic_t* kb) {
    for (;;) {
        if (int rc = core_get_token(kb); rc != RC_OK) {
            return rc;
        }
        if (kb->token_code == TC_NEXT || kb->token_code == TC_EOP) {
            return RC_OK;
        }
        if (kb->token_type == TT_NONE) {
            return RC_SYNTAX;
        }
    }
}

// `for` up to its target: the loop variable is named, set and the target evaluated.
int for_header(kestbasic_t* kb, for_record_t* record, std::int32_t* initial) {
    if (int rc = core_get_token(kb); rc != RC_OK) {
        return rc;
    }
    if (kestlibc_isalpha(kb->token[0]) == 0) {
        return RC_NOT_VAR;
    }
    // Looked up before the initial value is evaluated, which changes no variable.
    const int slot = take_name(kb, &record->name) ? core_token_slot(kb) : -1;
    if (int rc = core_get_token(kb); rc != RC_OK) {
        return rc;
    }
    if (kb->token[0] != '=') {
        return RC_EQUALS;
    }
    if (int rc = expression_entry(kb, initial); rc != RC_OK) {
        return rc;
    }
    if (slot < 0) {
        return RC_VAR_ASSIGN;
    }
    kb->variables[static_cast<std::size_t>(slot)].value = *initial;
    record->slot = static_cast<std::int8_t>(slot);
    if (int rc = core_get_token(kb); rc != RC_OK) {
        return rc;
    }
    if (kb->token_code != TC_TO) {
        return RC_TO;
    }
    return expression_entry(kb, &record->target);
}

// Compares by one of the operators "=<>".
bool compare(char op, std::int32_t left, std::int32_t right) {
    switch (op) {
    case '=':
        return left == right;
    case '<':
        return left < right;
    default:
        return left > right;
    }
}

} // namespace

int assignment(kestbasic_t* kb) {
    if (int rc = core_get_token(kb); rc != RC_OK) {
        return rc;
    }
    return assignment_from_token(kb);
}

int assignment_from_token(kestbasic_t* kb) {
    if (kestlibc_isalpha(kb->token[0]) == 0) {
        return RC_NOT_VAR;
    }
    if (kb->token_length > VARIABLE_NAME_MAX) {
        return RC_VAR_ASSIGN;
    }
    // Looked up before the value is evaluated, which changes no variable.
    const int slot = core_token_slot(kb);
    if (int rc = core_get_token(kb); rc != RC_OK) {
        return rc;
    }
    if (kb->token[0] != '=') {
        return RC_EQUALS;
    }
    std::int32_t value = 0;
    if (int rc = expression_entry(kb, &value); rc != RC_OK) {
        return rc;
    }
    if (slot < 0) {
        return RC_VAR_ASSIGN;
    }
    kb->variables[static_cast<std::size_t>(slot)].value = value;
    return RC_OK;
}

int statement_goto(kestbasic_t* kb) {
    if (int rc = core_get_token(kb); rc != RC_OK) {
        return rc;
    }
    const char* target = core_token_label(kb);
    if (target == nullptr) {
        return RC_LABEL_UNDEF;
    }
    kb->cursor = target;
    return RC_OK;
}

int statement_gosub(kestbasic_t* kb) {
    if (int rc = core_get_token(kb); rc != RC_OK) {
        return rc;
    }
    const char* target = core_token_label(kb);
    if (target == nullptr) {
        return RC_LABEL_UNDEF;
    }
    if (int rc = gosub_push(kb, kb->cursor); rc != RC_OK) {
        return rc;
    }
    kb->cursor = target;
    return RC_OK;
}

int statement_return(kestbasic_t* kb) {
    const char* position = nullptr;
    if (int rc = gosub_pop(kb, &position); rc != RC_OK) {
        return rc;
    }
    kb->cursor = position;
    return RC_OK;
}

int statement_rem(kestbasic_t* kb) {
    core_find_eol(kb);
    return RC_OK;
}

int statement_dim(kestbasic_t* kb) {
    for (;;) {
        if (int rc = core_get_token(kb); rc != RC_OK) {
            return rc;
        }
        if (is_line_end(kb)) {
            return RC_OK;
        }
        if (kb->token_type != TT_VARIABLE) {
            return RC_NOT_VAR;
        }
        if (variable_dimension(&kb->variables, kb->token.data()) != 0) {
            return RC_VAR_ASSIGN;
        }
        if (int rc = core_get_token(kb); rc != RC_OK) {
            return rc;
        }
        if (kb->token[0] != ',') {
            return RC_OK;
        }
    }
}

int statement_if(kestbasic_t* kb) {
    std::int32_t left = 0;
    std::int32_t right = 0;
    if (int rc = expression_entry(kb, &left); rc != RC_OK) {
        return rc;
    }
    if (int rc = core_get_token(kb); rc != RC_OK) {
        return rc;
    }
    const char op = kb->token[0];
    if (op != '=' && op != '<' && op != '>') {
        return RC_SYNTAX;
    }
    if (int rc = expression_entry(kb, &right); rc != RC_OK) {
        return rc;
    }
    if (!compare(op, left, right)) {
        core_find_eol(kb);
        return RC_OK;
    }
    if (int rc = core_get_token(kb); rc != RC_OK) {
        return rc;
    }
    return kb->token_code == TC_THEN ? RC_OK : RC_THEN;
}

int statement_for(kestbasic_t* kb) {
    for_record_t record{};
    std::int32_t initial = 0;
    if (int rc = for_header(kb, &record, &initial); rc != RC_OK) {
        return rc;
    }
    if (initial > record.target) {
        return skip_to_next(kb);
    }
    record.body = kb->cursor;
    return for_stack_push(kb, &record);
}

// Works on the top record in place: the same as popping it and pushing it back. Reading
// and storing the loop variable share one look-up, since both find the same slot.
int statement_next(kestbasic_t* kb) {
    if (kb->for_depth <= 0 || kb->for_depth > CORE_STACK_DEPTH) {
        return RC_NEXT;
    }
    for_record_t& top = kb->for_stack[static_cast<std::size_t>(kb->for_depth - 1)];
    const int slot = variable_index_hinted(&kb->variables, top.name, top.slot);
    if (slot < 0) {
        --kb->for_depth;
        return RC_VAR_ASSIGN;
    }
    top.slot = static_cast<std::int8_t>(slot);
    std::int32_t& variable = kb->variables[static_cast<std::size_t>(slot)].value;
    // A step past the largest integer would wrap to the smallest, which is never above the
    // target: the loop ends there as if it had passed its limit, the variable kept as it is.
    if (variable == INT32_MAX) {
        --kb->for_depth;
        return RC_OK;
    }
    const std::int32_t value = variable + 1;
    variable = value;
    if (value <= top.target) {
        kb->cursor = top.body;
    } else {
        --kb->for_depth;
    }
    return RC_OK;
}

int statement_print(kestbasic_t* kb) {
    column_t column = 0;
    char separator = '\0';
    for (;;) {
        if (int rc = core_get_token(kb); rc != RC_OK) {
            return rc;
        }
        if (is_line_end(kb)) {
            break;
        }
        if (int rc = print_item(kb, &column); rc != RC_OK) {
            return rc;
        }
        separator = kb->token[0];
        if (separator == ';') {
            column += static_cast<column_t>(tab_to_stop(kb, column));
        } else if (separator != ',') {
            if (is_line_end(kb)) {
                break;
            }
            return RC_SYNTAX;
        }
    }
    if (separator != ';' && separator != ',') {
        hal_puts(&kb->hal, "\r\n");
    }
    return RC_OK;
}

int statement_input(kestbasic_t* kb) {
    if (int rc = core_get_token(kb); rc != RC_OK) {
        return rc;
    }
    if (kb->token_type == TT_STRING) {
        hal_puts(&kb->hal, kb->token.data());
        if (int rc = core_get_token(kb); rc != RC_OK) {
            return rc;
        }
        if (kb->token[0] != ',') {
            return RC_PAREN;
        }
        if (int rc = core_get_token(kb); rc != RC_OK) {
            return rc;
        }
    } else if (kb->token_type == TT_VARIABLE) {
        hal_puts(&kb->hal, kb->token.data());
        hal_puts(&kb->hal, "? ");
    } else {
        return RC_SYNTAX;
    }
    std::array<char, INPUT_CAPACITY + 1> line{};
    hal_gets(&kb->hal, line.data(), INPUT_CAPACITY);
    const std::int32_t value = kestlibc_atoi(line.data());
    return variable_set(&kb->variables, kb->token.data(), value) == 0 ? RC_OK : RC_VAR_ASSIGN;
}

int statement_read(kestbasic_t* kb) {
    std::int32_t port = 0;
    if (int rc = simple_value(kb, &port); rc != RC_OK) {
        return rc;
    }
    if (int rc = expect_comma(kb); rc != RC_OK) {
        return rc;
    }
    if (int rc = core_get_token(kb); rc != RC_OK) {
        return rc;
    }
    std::int32_t value = 0;
    hal_read(&kb->hal, port, &value);
    if (variable_set(&kb->variables, kb->token.data(), value) != 0) {
        return RC_VAR_ASSIGN;
    }
    core_find_eol(kb);
    return RC_OK;
}

int statement_write(kestbasic_t* kb) {
    std::int32_t port = 0;
    std::int32_t value = 0;
    if (int rc = simple_value(kb, &port); rc != RC_OK) {
        return rc;
    }
    if (int rc = expect_comma(kb); rc != RC_OK) {
        return rc;
    }
    if (int rc = simple_value(kb, &value); rc != RC_OK) {
        return rc;
    }
    hal_write(&kb->hal, port, value);
    core_find_eol(kb);
    return RC_OK;
}

int statement_color(kestbasic_t* kb) {
    std::array<std::int32_t, 3> a{};
    if (int rc = graphics_args(kb, a.data(), 3); rc != RC_OK) {
        return rc;
    }
    hal_color(&kb->hal, a[0], a[1], a[2]);
    return RC_OK;
}

int statement_plot(kestbasic_t* kb) {
    std::array<std::int32_t, 2> a{};
    if (int rc = graphics_args(kb, a.data(), 2); rc != RC_OK) {
        return rc;
    }
    hal_plot(&kb->hal, a[0], a[1]);
    return RC_OK;
}

int statement_line(kestbasic_t* kb) {
    std::array<std::int32_t, 4> a{};
    if (int rc = graphics_args(kb, a.data(), 4); rc != RC_OK) {
        return rc;
    }
    hal_line(&kb->hal, a[0], a[1], a[2], a[3]);
    return RC_OK;
}

int statement_box(kestbasic_t* kb) {
    std::array<std::int32_t, 4> a{};
    if (int rc = graphics_args(kb, a.data(), 4); rc != RC_OK) {
        return rc;
    }
    hal_box(&kb->hal, a[0], a[1], a[2], a[3]);
    return RC_OK;
}

int statement_fillbox(kestbasic_t* kb) {
    std::array<std::int32_t, 4> a{};
    if (int rc = graphics_args(kb, a.data(), 4); rc != RC_OK) {
        return rc;
    }
    hal_fillbox(&kb->hal, a[0], a[1], a[2], a[3]);
    return RC_OK;
}

int statement_circle(kestbasic_t* kb) {
    std::array<std::int32_t, 3> a{};
    if (int rc = graphics_args(kb, a.data(), 3); rc != RC_OK) {
        return rc;
    }
    hal_circle(&kb->hal, a[0], a[1], a[2]);
    return RC_OK;
}

int for_stack_push(kestbasic_t* kb, const for_record_t* record) {
    if (kb->for_depth < 0 || kb->for_depth >= CORE_STACK_DEPTH) {
        return RC_FOR_NEST;
    }
    kb->for_stack[static_cast<std::size_t>(kb->for_depth)] = *record;
    ++kb->for_depth;
    return RC_OK;
}

int for_stack_pop(kestbasic_t* kb, for_record_t* record) {
    if (kb->for_depth <= 0 || kb->for_depth > CORE_STACK_DEPTH) {
        return RC_NEXT;
    }
    --kb->for_depth;
    *record = kb->for_stack[static_cast<std::size_t>(kb->for_depth)];
    return RC_OK;
}

int gosub_push(kestbasic_t* kb, const char* position) {
    if (kb->gosub_depth < 0 || kb->gosub_depth >= CORE_STACK_DEPTH) {
        return RC_GOSUB_NEST;
    }
    kb->gosub_stack[static_cast<std::size_t>(kb->gosub_depth)] = position;
    ++kb->gosub_depth;
    return RC_OK;
}

int gosub_pop(kestbasic_t* kb, const char** position) {
    if (kb->gosub_depth <= 0 || kb->gosub_depth > CORE_STACK_DEPTH) {
        return RC_RETURN;
    }
    --kb->gosub_depth;
    *position = kb->gosub_stack[static_cast<std::size_t>(kb->gosub_depth)];
    return RC_OK;
}

} // namespace vimbra
