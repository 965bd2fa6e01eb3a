#include "script/kestbasic.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "script/core.hpp"
#include "script/script_harness.hpp"
#include "script/statement.hpp"

using namespace vimbra;

namespace {

using script_test::run_program;

struct ProgramCase {
    const char* name;
    const char* program; // as the program store holds it: numbered lines ended by LF
    const char* out;     // expected console output
    int rc;              // expected final result
    const char* message; // expected error message, "" after a normal end
};

// The test log names a case by its name, not by its bytes.
void PrintTo(const ProgramCase& c, std::ostream* os) {
    *os << c.name;
}

class KestbasicTest : public ::testing::TestWithParam<ProgramCase> {};

TEST_P(KestbasicTest, Runs) {
    const ProgramCase& c = GetParam();
    const auto r = run_program(c.program);
    EXPECT_EQ(r.out, c.out) << "program " << c.name << ":\n" << c.program;
    EXPECT_EQ(r.rc, c.rc) << "program " << c.name << ":\n" << c.program;
    EXPECT_EQ(r.message, c.message) << "program " << c.name << ":\n" << c.program;
    // Replaying remembered tokens must not change anything.
    const auto fresh = run_program(c.program, nullptr, nullptr, 10000000, false);
    EXPECT_EQ(fresh.out, r.out) << "program " << c.name;
    EXPECT_EQ(fresh.rc, r.rc) << "program " << c.name;
    EXPECT_EQ(fresh.message, r.message) << "program " << c.name;
}

const ProgramCase kPrograms[] = {
    // the end rule
    {"Empty", "", "", RC_END, ""},
    {"NoEnd", "10 print 1\n", "1\r\n", RC_END, ""},
    {"EndMidProgram", "10 print 1\n20 end\n30 print 2\n", "1\r\n", RC_END, ""},
    {"EndAfterAssignment", "10 dim x\n20 x = 5 end\n30 print x\n", "", RC_END, ""},
    {"EndAfterThen", "10 if 1 = 1 then end\n20 print 2\n", "", RC_END, ""},
    {"RemSkipsLine", "10 rem print 1\n20 print 2\n", "2\r\n", RC_END, ""},
    {"StrayTokensSkipped", "10 print 1\n20 then to + 5 \"s\"\n30 print 2\n", "1\r\n2\r\n", RC_END,
     ""},
    {"UnreadableCharacter", "10 print 1\n20 ?\n30 print 2\n", "1\r\n", RC_SYNTAX,
     "syntax error(Line:2)"},
    {"UnterminatedString", "10 print \"abc\n", "", RC_PAREN, "unbalanced parentheses(Line:1)"},
    // assignment and dim
    {"DimList", "10 dim a, b, c\n20 a = 1\n30 b = 2\n40 c = a + b\n50 print c\n", "3\r\n", RC_END,
     ""},
    {"DimStartsAtZero", "10 dim x\n20 print x\n", "0\r\n", RC_END, ""},
    {"DimTrailingComma", "10 dim a,\n20 print a\n", "0\r\n", RC_END, ""},
    {"DimIgnoresWhatFollows", "10 dim a b\n20 print a\n", "0\r\n", RC_END, ""},
    {"DimTwice", "10 dim x\n20 dim x\n", "", RC_VAR_ASSIGN, "variable assignment error(Line:2)"},
    {"DimNumber", "10 dim 5\n", "", RC_NOT_VAR, "not a variable(Line:1)"},
    {"DimKeyword", "10 dim print\n", "", RC_NOT_VAR, "not a variable(Line:1)"},
    {"DimTooLong", "10 dim abcdefgh\n", "", RC_VAR_ASSIGN, "variable assignment error(Line:1)"},
    {"AssignUndeclared", "10 x = 5\n", "", RC_VAR_ASSIGN, "variable assignment error(Line:1)"},
    {"AssignWithoutEquals", "10 dim x\n20 x 5\n", "", RC_EQUALS, "equals sign expected(Line:2)"},
    {"AssignCaseFolded", "10 dim Abc\n20 ABC = 7\n30 print abc\n", "7\r\n", RC_END, ""},
    // an error met on reading a line end reports the following line
    {"ErrorAfterLineEnd", "10 print 1 +\n20 print 2\n", "", RC_SYNTAX, "syntax error(Line:2)"},
    {"DivisionByZero", "10 print 1/0;\n", "", RC_DIV_ZERO, "division by zero(Line:1)"},
    // goto and gosub
    {"Goto", "10 goto 30\n20 print 1\n30 print 2\n", "2\r\n", RC_END, ""},
    {"PrintBeforeUnreadableCharacter", "10 goto 30\n20 end\n30 print 3 : print 4\n", "3", RC_SYNTAX,
     "syntax error(Line:3)"},
    {"GotoUndefined", "10 goto 99\n", "", RC_LABEL_UNDEF, "undefined label(Line:1)"},
    {"GotoLabelIsText", "10 goto 010\n", "", RC_LABEL_UNDEF, "undefined label(Line:1)"},
    {"Gosub", "10 gosub 100\n20 print 2\n30 end\n100 print 1\n110 return\n", "1\r\n2\r\n", RC_END,
     ""},
    {"GosubReturnsBehindLabel", "10 gosub 100 print 5\n20 end\n100 return\n", "5\r\n", RC_END, ""},
    {"GosubUndefined", "10 gosub 5\n", "", RC_LABEL_UNDEF, "undefined label(Line:1)"},
    {"ReturnWithoutGosub", "10 print 1\n20 return\n", "1\r\n", RC_RETURN,
     "RETURN without GOSUB(Line:2)"},
    {"DuplicateLabel", "10 print 1\n10 print 2\n", "", RC_LABEL_DUP, "duplicate label(Line:2)"},
    // if
    {"IfForms",
     "10 if 1 = 1 then print 1\n20 if 1 = 2 then print 2\n30 if 2 > 1 then print 3\n"
     "40 if 1 < 2 then print 4\n50 if 2 < 1 then print 5\n60 if -1 < 0 then print 6\n",
     "1\r\n3\r\n4\r\n6\r\n", RC_END, ""},
    {"IfFalseSkipsWithoutThen", "10 if 1 = 2 print 1\n20 print 2\n", "2\r\n", RC_END, ""},
    {"IfTrueWithoutThen", "10 if 1 = 1 print 1\n", "", RC_THEN, "THEN expected(Line:1)"},
    {"IfTwoCharacterOperator", "10 if 1 <> 2 then print 1\n", "", RC_SYNTAX,
     "syntax error(Line:1)"},
    {"IfNoOperator", "10 if 1 then print 1\n", "", RC_SYNTAX, "syntax error(Line:1)"},
    {"IfThenNumberDoesNotJump", "10 if 1 = 1 then 30\n20 print 2\n30 print 3\n", "2\r\n3\r\n",
     RC_END, ""},
    {"IfExpressions", "10 dim x\n20 x = 6\n30 if x * 2 = 12 then print x\n", "6\r\n", RC_END, ""},
    // for and next
    {"ForRunsThreeTimes", "10 dim i\n20 for i = 1 to 3\n30 print i\n40 next\n50 print i\n",
     "1\r\n2\r\n3\r\n4\r\n", RC_END, ""},
    {"ForRunsOnce", "10 dim i\n20 for i = 2 to 2\n30 print i\n40 next\n", "2\r\n", RC_END, ""},
    {"ForDoesNotRun", "10 dim i\n20 for i = 3 to 1\n30 print 0\n40 next\n50 print i\n", "3\r\n",
     RC_END, ""},
    {"ForDoesNotRunNoNext", "10 dim i\n20 for i = 3 to 1\n30 print 0\n", "", RC_END, ""},
    {"ForSkipTakesFirstNext",
     "10 dim i, j\n20 for i = 3 to 1\n30 for j = 1 to 2\n40 next\n50 print 7\n60 next\n", "7\r\n",
     RC_NEXT, "NEXT without FOR(Line:6)"},
    {"ForSkipStopsAtUnreadable", "10 dim i\n20 for i = 2 to 1\n30 ?\n40 next\n", "", RC_SYNTAX,
     "syntax error(Line:3)"},
    {"ForSkipPassesStringError", "10 dim i\n20 for i = 2 to 1\n30 print \"x\n40 next\n", "",
     RC_PAREN, "unbalanced parentheses(Line:3)"},
    {"ForBodyOnSameLine", "10 dim i\n20 for i = 1 to 3 print i;\n30 next\n40 print\n",
     "1       2       3       \r\n", RC_END, ""},
    {"ForNested",
     "10 dim i, j\n20 for i = 1 to 2\n30 for j = 1 to 2\n40 print i, j\n50 next\n60 next\n",
     "11\r\n12\r\n21\r\n22\r\n", RC_END, ""},
    {"ForNegativeRange", "10 dim i\n20 for i = -2 to 0\n30 print i;\n40 next\n",
     "-2      -1      0       ", RC_END, ""},
    // a step past the largest integer ends the loop; the variable keeps the largest value
    {"ForEndsAtLargestInteger",
     "10 dim i, n\n20 for i = 2147483646 to 2147483647\n30 n = n + 1\n40 next\n50 print n; i\n",
     "2       2147483647\r\n", RC_END, ""},
    {"ForEndsWhenBodyReachesLargest",
     "10 dim i, n\n20 for i = -3 to 5\n30 i = 2147483647\n40 n = n + 1\n50 next\n60 print n; i\n",
     "1       2147483647\r\n", RC_END, ""},
    {"ForFromSmallestInteger",
     "10 dim i\n20 for i = -2147483647 - 1 to -2147483647\n30 print i;\n40 next\n",
     "-2147483648     -2147483647     ", RC_END, ""},
    {"ForUndeclared", "10 for i = 1 to 2\n", "", RC_VAR_ASSIGN,
     "variable assignment error(Line:1)"},
    {"ForNameTooLong", "10 for abcdefgh = 1 to 2\n", "", RC_VAR_ASSIGN,
     "variable assignment error(Line:1)"},
    {"ForNoVariable", "10 for 1 = 1 to 2\n", "", RC_NOT_VAR, "not a variable(Line:1)"},
    {"ForNoEquals", "10 dim i\n20 for i 1 to 2\n", "", RC_EQUALS, "equals sign expected(Line:2)"},
    {"ForNoTo", "10 dim i\n20 for i = 1 2\n", "", RC_TO, "TO expected(Line:2)"},
    {"NextWithoutFor", "10 next\n", "", RC_NEXT, "NEXT without FOR(Line:1)"},
    {"NextWithVariable", "10 dim i\n20 for i = 1 to 2\n30 next i\n", "", RC_EQUALS,
     "equals sign expected(Line:4)"},
    // which check comes first when two could fail
    {"AssignNameLengthBeforeEquals", "10 abcdefgh 5\n", "", RC_VAR_ASSIGN,
     "variable assignment error(Line:1)"},
    {"ForEqualsBeforeNameLength", "10 for abcdefgh 1 to 2\n", "", RC_EQUALS,
     "equals sign expected(Line:1)"},
    {"ForInitialValueBeforeNameLength", "10 for abcdefgh = (1 to 2\n", "", RC_PAREN,
     "unbalanced parentheses(Line:1)"},
    // 16 calls are open when line 120 runs: the missing label is found first
    {"UndefinedLabelBeforeFullGosubStack",
     "10 dim d\n20 gosub 100\n30 end\n100 d = d + 1\n110 if d < 16 then gosub 100\n"
     "120 gosub 999\n",
     "", RC_LABEL_UNDEF, "undefined label(Line:6)"},
    // what the interpreter remembers per position: variable slots, labels, numbers, line ends
    {"CollidingNamesKeepTheirSlots",
     "10 dim ab, ba\n20 for ab = 1 to 3\n30 ba = ba + ab\n40 next\n50 print ab; ba\n",
     "4       6\r\n", RC_END, ""},
    {"SameGotoAndGosubAgain",
     "10 dim i, n\n20 for i = 1 to 3\n30 goto 50\n40 print 0\n50 gosub 100\n60 next\n70 print n\n"
     "80 end\n100 n = n + i * 10\n110 return\n",
     "60\r\n", RC_END, ""},
    {"SkippedLinesInALoop",
     "10 dim i, s\n20 for i = 1 to 4\n30 if i = 2 then s = s + 10\n40 rem s = s + 100\n"
     "50 s = s + 1\n60 next\n70 print s\n",
     "14\r\n", RC_END, ""},
    {"UndeclaredInALaterRound", "10 dim i\n20 for i = 1 to 2\n30 if i = 2 then print q\n40 next\n",
     "", RC_VAR_ASSIGN, "variable assignment error(Line:3)"},
    // 16 loops left open by goto; a loop that does not run needs no room on the stack
    {"SkippedLoopNeedsNoStackRoom",
     "10 dim i, n\n20 n = n + 1\n30 for i = 1 to 2\n40 if n < 16 then goto 20\n"
     "50 for n = 2 to 1\n60 print 5\n70 next\n80 print n\n",
     "2\r\n", RC_END, ""},
};

INSTANTIATE_TEST_SUITE_P(Programs, KestbasicTest, ::testing::ValuesIn(kPrograms),
                         [](const ::testing::TestParamInfo<ProgramCase>& param_info) {
                             return std::string(param_info.param.name);
                         });

// `depth` nested loops, each running once, around one print.
std::string nested_fors(int depth) {
    std::string program = "1 dim ";
    for (int i = 0; i < depth; ++i) {
        program += (i == 0 ? "v" : ", v") + std::to_string(i);
    }
    program += "\n";
    int line = 2;
    for (int i = 0; i < depth; ++i) {
        program += std::to_string(line++) + " for v" + std::to_string(i) + " = 1 to 1\n";
    }
    program += std::to_string(line++) + " print 9\n";
    for (int i = 0; i < depth; ++i) {
        program += std::to_string(line++) + " next\n";
    }
    return program;
}

TEST(KestbasicNestingTest, SixteenForLoopsNestAndTheSeventeenthFails) {
    const auto ok = run_program(nested_fors(16));
    EXPECT_EQ(ok.rc, RC_END);
    EXPECT_EQ(ok.out, "9\r\n");
    const auto bad = run_program(nested_fors(17));
    EXPECT_EQ(bad.rc, RC_FOR_NEST);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.message, "too many nested FOR loops(Line:18)"); // line 1 is the dim
}

// Loops left by goto keep their records: after 16 such exits a further `for` fails.
TEST(KestbasicNestingTest, LoopsLeftByGotoStayOpen) {
    const auto r = run_program("10 dim i, n\n20 n = n + 1\n30 for i = 1 to 2\n40 if n < 17 then "
                               "goto 20\n50 next\n");
    EXPECT_EQ(r.rc, RC_FOR_NEST);
    EXPECT_EQ(r.message, "too many nested FOR loops(Line:3)");
}

// The step past the largest value would wrap to the smallest, which stays <= the target:
// the loop ends there instead of running for ever.
TEST(KestbasicNestingTest, LoopToLargestValueEnds) {
    const auto r =
        run_program("10 dim i\n20 for i = 2147483646 to 2147483647\n30 print i\n40 next\n", nullptr,
                    nullptr, 30);
    EXPECT_EQ(r.rc, RC_END);
    EXPECT_EQ(r.out, "2147483646\r\n2147483647\r\n");
}

// A subroutine that calls itself until d reaches `limit`.
std::string recursive_gosub(int limit) {
    return "10 dim d\n20 gosub 100\n30 print d\n40 end\n100 d = d + 1\n110 if d < " +
           std::to_string(limit) + " then gosub 100\n120 return\n";
}

TEST(KestbasicNestingTest, SixteenGosubsNestAndTheSeventeenthFails) {
    const auto ok = run_program(recursive_gosub(16));
    EXPECT_EQ(ok.rc, RC_END);
    EXPECT_EQ(ok.out, "16\r\n");
    const auto bad = run_program(recursive_gosub(17));
    EXPECT_EQ(bad.rc, RC_GOSUB_NEST);
    EXPECT_EQ(bad.message, "too many nested GOSUBs(Line:6)");
}

// Text handed in directly, not through the program store, must not crash either.
TEST(KestbasicRobustnessTest, UnusualTextsEndCleanly) {
    const char* texts[] = {
        "10 print 1",                   // no final line feed
        "\x01 print 1\n",               // control character: end of program
        "10 print \"abc",               // string running into the terminator
        "10 print 1 \x07\n",            // unreadable character after an item
        "10 for",                       // statement cut short at the end
        "10 dim i\n20 for i = 1 to 0",  // skipping loop with nothing after it
        "10 print 1\r\n20 print 2\r\n", // CR LF line ends
    };
    for (const char* text : texts) {
        const auto r = run_program(text, nullptr, nullptr, 1000);
        EXPECT_NE(r.rc, RC_OK) << "text: " << text;
    }
}

// A name longer than a token holds (79 characters) is put back by the 79 it kept, into the
// middle of the word, and read again from there; shorter names are read again whole.
TEST(KestbasicRobustnessTest, OverlongNamesAreReadAgainFromWhereTheyArePutBack) {
    struct Case {
        std::string name;
        int rc;
        const char* message;
    };
    const Case cases[] = {
        {std::string(78, 'a'), RC_VAR_ASSIGN, "variable assignment error(Line:1)"},
        {std::string(79, 'a'), RC_VAR_ASSIGN, "variable assignment error(Line:1)"},
        {std::string(100, 'a'), RC_VAR_ASSIGN, "variable assignment error(Line:1)"},
        // read again from its 22nd character: a number, which is no variable
        {std::string(21, 'a') + std::string(79, '1'), RC_NOT_VAR, "not a variable(Line:1)"},
    };
    for (const Case& c : cases) {
        for (const bool memo : {true, false}) {
            const auto r = run_program("10 " + c.name + " = 5\n", nullptr, nullptr, 100, memo);
            EXPECT_EQ(r.rc, c.rc) << c.name.size() << " memo " << memo;
            EXPECT_EQ(r.message, c.message) << c.name.size() << " memo " << memo;
        }
    }
}

// `next` finds its loop variable by name, whatever slot the record remembers.
TEST(KestbasicNestingTest, NextIgnoresARememberedSlotThatHoldsAnotherName) {
    auto kb = std::make_unique<kestbasic_t>();
    const std::string program = "10 rem\n";
    ASSERT_EQ(kestbasic_setup(kb.get(), program.c_str(), nullptr), 0);
    ASSERT_EQ(variable_dimension(&kb->variables, "ab"), 0); // slot 3
    ASSERT_EQ(variable_dimension(&kb->variables, "ba"), 0); // slot 4
    for_record_t record{{'b', 'a'}, 5, kb->program, 3};
    ASSERT_EQ(for_stack_push(kb.get(), &record), 0);
    ASSERT_EQ(statement_next(kb.get()), 0);
    ASSERT_EQ(statement_next(kb.get()), 0);
    std::int32_t ab = -1;
    std::int32_t ba = -1;
    ASSERT_EQ(variable_get(&kb->variables, "ab", &ab), 0);
    ASSERT_EQ(variable_get(&kb->variables, "ba", &ba), 0);
    EXPECT_EQ(ab, 0);
    EXPECT_EQ(ba, 2);
    EXPECT_EQ(kb->for_depth, 1);
}

// A text handed in directly may be far longer than a stored program, with lines of any
// length: jumps between its start and offsets beyond 65535 work with or without the memo.
TEST(KestbasicRobustnessTest, LongTextRunsAlike) {
    std::string text = "1 dim x, i\n2 goto 20\n3 x = x * 2\n4 return\n";
    for (int n = 0; n < 800; ++n) {
        text += "rem " + std::string(90, 'r') + "\n";
    }
    text += "20 for i = 1 to 3\n30 x = x +" + std::string(200, ' ') + "i\n35 gosub 3\n40 next\n";
    text += "50 print x;" + std::string(100, ' ') + "x\n";
    ASSERT_GT(text.size(), 70000U);
    // x: 1, 2; 4, 8; 11, 22
    for (const bool memo : {true, false}) {
        const auto r = run_program(text, nullptr, nullptr, 100000, memo);
        EXPECT_EQ(r.rc, RC_END) << "memo " << memo;
        EXPECT_EQ(r.out, "22      22\r\n") << "memo " << memo;
    }
}

} // namespace
