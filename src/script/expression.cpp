// Recursive descent over the token stream, one function per precedence level.
// Each level is entered with the first token of its operand already read and
// returns with the first token after its operand read.
#include "script/expression.hpp"

#include <cstdint>

#include "script/core.hpp"
#include "script/kestlibc.hpp"
#include "script/variable.hpp"

namespace vimbra {

namespace {

// Deeper nesting than any stored line (79 characters) can hold; only a program
// text handed in directly can reach it, and it must not exhaust the stack.
constexpr int MAX_DEPTH = 256;

using value_t = std::int32_t;

// Wrap-around: compute in uint32_t, where overflow is defined, then convert back.
value_t wrap_add(value_t a, value_t b) {
    return static_cast<value_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

value_t wrap_sub(value_t a, value_t b) {
    return static_cast<value_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

value_t wrap_mul(value_t a, value_t b) {
    return static_cast<value_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

value_t wrap_neg(value_t a) {
    return static_cast<value_t>(0U - static_cast<std::uint32_t>(a));
}

// Power as repeated multiplication: exponent 0 gives 1, a negative exponent leaves
// the base. Squaring in uint32_t gives the same wrapped product in log2(n) steps.
value_t wrap_pow(value_t base, value_t exponent) {
    if (exponent == 0) {
        return 1;
    }
    if (exponent < 0) {
        return base;
    }
    std::uint32_t result = 1;
    std::uint32_t square = static_cast<std::uint32_t>(base);
    for (auto n = static_cast<std::uint32_t>(exponent); n != 0; n >>= 1U) {
        if ((n & 1U) != 0) {
            result *= square;
        }
        square *= square;
    }
    return static_cast<value_t>(result);
}

// Division by zero stops the script (RC_DIV_ZERO) rather than trapping; the one
// overflowing quotient, INT32_MIN / -1, wraps to INT32_MIN with remainder 0.
int wrap_divide(value_t a, value_t b, bool remainder, value_t* out) {
    if (b == 0) {
        return RC_DIV_ZERO;
    }
    if (b == -1) {
        *out = remainder ? 0 : wrap_neg(a);
        return RC_OK;
    }
    *out = remainder ? a % b : a / b;
    return RC_OK;
}

// Applies the infix operator `op` to *left and right, leaving the result in *left.
int arith(char op, value_t* left, value_t right) {
    switch (op) {
    case '+':
        *left = wrap_add(*left, right);
        return RC_OK;
    case '-':
        *left = wrap_sub(*left, right);
        return RC_OK;
    case '*':
        *left = wrap_mul(*left, right);
        return RC_OK;
    case '/':
        return wrap_divide(*left, right, false, left);
    case '%':
        return wrap_divide(*left, right, true, left);
    case '^':
        *left = wrap_pow(*left, right);
        return RC_OK;
    default:
        return RC_SYNTAX;
    }
}

// Applies a unary sign.
value_t unary(char op, value_t value) {
    return op == '-' ? wrap_neg(value) : value;
}

// Value of the variable named by the current token.
int find_var(kestbasic_t* kb, value_t* value) {
    if (kestlibc_isalpha(kb->token[0]) == 0) {
        return RC_NOT_VAR;
    }
    const int slot = core_token_slot(kb);
    if (slot < 0) {
        *value = 0;
        return RC_VAR_ASSIGN;
    }
    *value = kb->variables[static_cast<std::size_t>(slot)].value;
    return RC_OK;
}

// A number or a variable; anything else is a syntax error. Levels 3 and 4 and this are
// inlined into level 2, so that a plain operand costs no call of its own.
[[gnu::always_inline]] inline int primitive(kestbasic_t* kb, value_t* value) {
    int rc = RC_OK;
    switch (kb->token_type) {
    case TT_VARIABLE:
        rc = find_var(kb, value);
        break;
    case TT_NUMBER:
        *value = core_token_number(kb);
        break;
    default:
        return RC_SYNTAX;
    }
    if (rc != RC_OK) {
        return rc;
    }
    return core_get_token(kb);
}

bool is_delimiter(const kestbasic_t* kb, char c) {
    return kb->token_type == TT_DELIMITER && kb->token[0] == c;
}

int expression_level2(kestbasic_t* kb, value_t* value, int depth);

// Parentheses.
int expression_level6(kestbasic_t* kb, value_t* value, int depth) {
    if (!is_delimiter(kb, '(')) {
        return primitive(kb, value);
    }
    if (depth >= MAX_DEPTH) {
        return RC_SYNTAX;
    }
    int rc = core_get_token(kb);
    if (rc == RC_OK) {
        rc = expression_level2(kb, value, depth + 1);
    }
    if (rc != RC_OK) {
        return rc;
    }
    if (kb->token[0] != ')') {
        return RC_PAREN;
    }
    return core_get_token(kb);
}

// Unary sign, at most one per operand.
int expression_level5(kestbasic_t* kb, value_t* value, int depth) {
    char op = 0;
    if (is_delimiter(kb, '+') || is_delimiter(kb, '-')) {
        op = kb->token[0];
        if (int rc = core_get_token(kb); rc != RC_OK) {
            return rc;
        }
    }
    if (int rc = expression_level6(kb, value, depth); rc != RC_OK) {
        return rc;
    }
    *value = unary(op, *value);
    return RC_OK;
}

inline int expression_level4(kestbasic_t* kb, value_t* value, int depth);

// The right operand of `^` and the power: the recursion that makes `^` right-associative,
// kept apart so that the common operand without `^` stays short.
int power(kestbasic_t* kb, value_t* value, int depth) {
    if (depth >= MAX_DEPTH) {
        return RC_SYNTAX;
    }
    value_t right = 0;
    int rc = core_get_token(kb);
    if (rc == RC_OK) {
        rc = expression_level4(kb, &right, depth + 1);
    }
    return rc != RC_OK ? rc : arith('^', value, right);
}

// Power, right-associative. A number or a variable, which carries no sign and opens no
// group, goes straight to the primitive.
[[gnu::always_inline]] inline int expression_level4(kestbasic_t* kb, value_t* value, int depth) {
    const bool plain = kb->token_type == TT_NUMBER || kb->token_type == TT_VARIABLE;
    if (int rc = plain ? primitive(kb, value) : expression_level5(kb, value, depth); rc != RC_OK) {
        return rc;
    }
    return kb->token[0] == '^' ? power(kb, value, depth) : RC_OK;
}

bool is_product_op(char c) {
    return c == '*' || c == '/' || c == '%';
}

// Multiply, divide, remainder; left-associative.
[[gnu::always_inline]] inline int expression_level3(kestbasic_t* kb, value_t* value, int depth) {
    int rc = expression_level4(kb, value, depth);
    while (rc == RC_OK && is_product_op(kb->token[0])) {
        const char op = kb->token[0];
        value_t right = 0;
        rc = core_get_token(kb);
        if (rc == RC_OK) {
            rc = expression_level4(kb, &right, depth);
        }
        if (rc == RC_OK) {
            rc = arith(op, value, right);
        }
    }
    return rc;
}

// Infix plus and minus; left-associative.
int expression_level2(kestbasic_t* kb, value_t* value, int depth) {
    int rc = expression_level3(kb, value, depth);
    while (rc == RC_OK && (kb->token[0] == '+' || kb->token[0] == '-')) {
        const char op = kb->token[0];
        value_t right = 0;
        rc = core_get_token(kb);
        if (rc == RC_OK) {
            rc = expression_level3(kb, &right, depth);
        }
        if (rc == RC_OK) {
            rc = arith(op, value, right);
        }
    }
    return rc;
}

} // namespace

int expression_entry(kestbasic_t* kb, std::int32_t* value) {
    if (int rc = core_get_token(kb); rc != RC_OK) {
        return rc;
    }
    if (kb->token[0] == '\0') {
        return RC_NO_EXPR;
    }
    if (int rc = expression_level2(kb, value, 0); rc != RC_OK) {
        return rc;
    }
    core_putback(kb);
    return RC_OK;
}

} // namespace vimbra
