#include "script/expression.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "script/core.hpp"
#include "script/variable.hpp"
#include "support/param_name.hpp"

using namespace vimbra;

namespace {

constexpr std::int32_t INT_MIN32 = -2147483647 - 1;

struct ExprCase {
    const char* text; // evaluated from the start of the program text
    int rc;
    std::int32_t value; // checked when rc is 0
};

// The test log names a case by its input, not by its bytes.
void PrintTo(const ExprCase& c, std::ostream* os) {
    *os << testing::PrintToString(std::string(c.text));
}

// x is declared with 41, y with -1 before each case.
class ExpressionTest : public ::testing::TestWithParam<ExprCase> {
  protected:
    std::unique_ptr<kestbasic_t> kb = std::make_unique<kestbasic_t>();
    std::string program;

    int evaluate(const std::string& text, std::int32_t* value) {
        // A line number first, so that a leading number of the expression is no label.
        program = "0 " + text;
        EXPECT_EQ(core_setup(kb.get(), program.c_str(), nullptr), 0);
        EXPECT_EQ(core_get_token(kb.get()), 0);
        variable_dimension(&kb->variables, "x");
        variable_set(&kb->variables, "x", 41);
        variable_dimension(&kb->variables, "y");
        variable_set(&kb->variables, "y", -1);
        return expression_entry(kb.get(), value);
    }

    // Evaluates the same text again from its start: with the memo on, every token, number
    // and variable slot now comes from what the first evaluation remembered.
    int evaluate_again(bool memo, std::int32_t* value) {
        core_use_memo(kb.get(), memo);
        kb->cursor = kb->program;
        EXPECT_EQ(core_get_token(kb.get()), 0);
        return expression_entry(kb.get(), value);
    }
};

TEST_P(ExpressionTest, Evaluates) {
    const ExprCase& c = GetParam();
    std::int32_t value = 12345;
    ASSERT_EQ(evaluate(c.text, &value), c.rc) << "expression: " << c.text;
    if (c.rc == 0) {
        EXPECT_EQ(value, c.value) << "expression: " << c.text;
    }
    const long end = kb->cursor - kb->program;
    for (const bool memo : {true, false}) {
        value = 12345;
        ASSERT_EQ(evaluate_again(memo, &value), c.rc) << "memo " << memo << ": " << c.text;
        if (c.rc == 0) {
            EXPECT_EQ(value, c.value) << "memo " << memo << ": " << c.text;
        }
        EXPECT_EQ(kb->cursor - kb->program, end) << "memo " << memo << ": " << c.text;
    }
}

const ExprCase kCases[] = {
    // precedence and associativity
    {"2+3*4\n", 0, 14},
    {"(2+3)*4\n", 0, 20},
    {"10-4-3\n", 0, 3},
    {"100/10/5\n", 0, 2},
    {"2^3^2\n", 0, 512},
    {"2*3^2\n", 0, 18},
    {"((7))\n", 0, 7},
    {"x+1\n", 0, 42},
    {"x*y\n", 0, -41},
    // the sign binds tighter than the power, at most one per operand
    {"-2^2\n", 0, 4},
    {"2^-1\n", 0, 2},
    {"-(3)\n", 0, -3},
    {"+5\n", 0, 5},
    {"2*-3\n", 0, -6},
    {"2--3\n", 0, 5},
    {"--1\n", RC_SYNTAX, 0},
    {"-+1\n", RC_SYNTAX, 0},
    // power by repeated multiplication, wrapping
    {"5^0\n", 0, 1},
    {"0^0\n", 0, 1},
    {"3^4\n", 0, 81},
    {"7^-3\n", 0, 7},
    {"2^31\n", 0, INT_MIN32},
    {"2^32\n", 0, 0},
    {"(-2)^31\n", 0, INT_MIN32},
    {"y^2147483647\n", 0, -1},
    {"2^2147483647\n", 0, 0},
    // 3^(2^31 - 1) mod 2^32 is 3^-1 mod 2^32 = 0xAAAAAAAB, worked out as a modular inverse
    {"3^2147483647\n", 0, -1431655765},
    // wrap-around of + - *
    {"2147483647+1\n", 0, INT_MIN32},
    {"-2147483647-2\n", 0, 2147483647},
    {"65536*32768\n", 0, INT_MIN32},
    {"65536*65536\n", 0, 0},
    {"-2147483648\n", 0, INT_MIN32},
    // truncating division, remainder takes the sign of the left operand
    {"7/2\n", 0, 3},
    {"-7/2\n", 0, -3},
    {"7/-2\n", 0, -3},
    {"-7%2\n", 0, -1},
    {"7%-2\n", 0, 1},
    {"-7%-2\n", 0, -1},
    {"(-2147483647-1)/y\n", 0, INT_MIN32},
    {"(-2147483647-1)%y\n", 0, 0},
    {"1/0\n", RC_DIV_ZERO, 0},
    {"5%0\n", RC_DIV_ZERO, 0},
    {"1/(x-41)\n", RC_DIV_ZERO, 0},
    // numbers are their leading digits
    {"1.5\n", 0, 1},
    {"12ab+1\n", 0, 13},
    // where the expression stops
    {"1 2\n", 0, 1},
    {"3)\n", 0, 3},
    {"4,5\n", 0, 4},
    {"6 then\n", 0, 6},
    // operators are found by the first character of any token, strings included
    {"1 \"+\" 2\n", 0, 3},
    // failures
    {"(1+2\n", RC_PAREN, 0},
    {"\n", RC_SYNTAX, 0},
    {"", RC_NO_EXPR, 0},
    {"1+\n", RC_SYNTAX, 0},
    {"1*\n", RC_SYNTAX, 0},
    {"print\n", RC_SYNTAX, 0},
    {"\"s\"\n", RC_SYNTAX, 0},
    {"z\n", RC_VAR_ASSIGN, 0},
    {"abcdefgh\n", RC_VAR_ASSIGN, 0},
    {"1+\"abc\n", RC_PAREN, 0},
    {"1\"+\"2\n", RC_PAREN, 0}, // the number runs on to the '+', leaving "2 unterminated
};

INSTANTIATE_TEST_SUITE_P(Table, ExpressionTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ExpressionTest::ParamType>& case_info) {
                             return param_name(case_info.index, case_info.param.text);
                         });

// The token that ended the expression is read again by the caller.
TEST_F(ExpressionTest, PutsBackTheTerminatingToken) {
    std::int32_t value = 0;
    ASSERT_EQ(evaluate("1+2, 9\n", &value), 0);
    EXPECT_EQ(value, 3);
    ASSERT_EQ(core_get_token(kb.get()), 0);
    EXPECT_STREQ(kb->token.data(), ",");
    ASSERT_EQ(expression_entry(kb.get(), &value), 0);
    EXPECT_EQ(value, 9);
    ASSERT_EQ(core_get_token(kb.get()), 0);
    EXPECT_EQ(kb->token_code, TC_EOL);
}

// Nesting far beyond what a stored line can hold fails cleanly instead of exhausting the stack.
TEST_F(ExpressionTest, DeepNestingFailsWithoutCrashing) {
    std::int32_t value = 0;
    const std::string open(200000, '(');
    EXPECT_EQ(evaluate(open + "1\n", &value), RC_SYNTAX);
    std::string powers;
    for (int i = 0; i < 100000; ++i) {
        powers += "1^";
    }
    EXPECT_EQ(evaluate(powers + "1\n", &value), RC_SYNTAX);
}

// The deepest nesting a 79-character line allows still evaluates.
TEST_F(ExpressionTest, NestingOfAStoredLineEvaluates) {
    std::int32_t value = 0;
    ASSERT_EQ(evaluate(std::string(38, '(') + "5" + std::string(38, ')') + "\n", &value), 0);
    EXPECT_EQ(value, 5);
}

} // namespace
