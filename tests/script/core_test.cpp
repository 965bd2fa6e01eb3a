#include "script/core.hpp"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

using namespace vimbra;

namespace {

struct Tok {
    int rc;
    int type;
    int code;
    std::string text;
    long cursor; // offset after the read

    bool operator==(const Tok& o) const {
        return rc == o.rc && type == o.type && code == o.code && text == o.text &&
               cursor == o.cursor;
    }
};

std::ostream& operator<<(std::ostream& os, const Tok& t) {
    return os << "{rc " << t.rc << ", type " << t.type << ", code " << t.code << ", \"" << t.text
              << "\", at " << t.cursor << "}";
}

class CoreTest : public ::testing::Test {
  protected:
    int setup(const std::string& text) {
        program = text;
        return core_setup(kb.get(), program.c_str(), nullptr);
    }

    Tok read() {
        const int rc = core_get_token(kb.get());
        return {rc, kb->token_type, kb->token_code, kb->token.data(), offset()};
    }

    // Reads until the end-of-program token, which is included, or an error.
    std::vector<Tok> read_all() {
        std::vector<Tok> out;
        for (int guard = 0; guard < 1000; ++guard) {
            out.push_back(read());
            if (out.back().code == TC_EOP || out.back().rc != 0 || out.back().type == TT_NONE)
                break;
        }
        return out;
    }

    long offset() const { return kb->cursor - kb->program; }
    void seek(long at) { kb->cursor = kb->program + at; }

    std::string message(int code, int size = 8192) {
        std::vector<char> buf(static_cast<std::size_t>(size) + 1, '#');
        buf.back() = 0;
        last_rc = core_error_message(kb.get(), code, buf.data(), size);
        return buf.data();
    }

    std::unique_ptr<kestbasic_t> kb = std::make_unique<kestbasic_t>();
    std::string program;
    int last_rc = 0;
};

constexpr int D = TT_DELIMITER;
constexpr int V = TT_VARIABLE;
constexpr int N = TT_NUMBER;
constexpr int K = TT_KEYWORD;
constexpr int S = TT_STRING;

struct TokenCase {
    const char* name;
    std::string text;
    std::vector<Tok> expected;
};

TEST_F(CoreTest, TokenSequences) {
    const std::string long_word(100, 'w');
    std::string long_string(102, 's');
    long_string.front() = '"';
    long_string.back() = '"';
    const std::vector<TokenCase> cases = {
        {"empty", "", {{0, D, TC_EOP, "", 0}}},
        {"assignment",
         "x=1",
         {{0, V, 0, "x", 1}, {0, D, 0, "=", 2}, {0, N, 0, "1", 3}, {0, D, TC_EOP, "", 3}}},
        {"words run on",
         "print1 a.b x$ 12ab 1.5\n",
         {{0, V, 0, "print1", 6},
          {0, V, 0, "a.b", 10},
          {0, V, 0, "x$", 13},
          {0, N, 0, "12ab", 18},
          {0, N, 0, "1.5", 22},
          {0, D, TC_EOL, "\n", 23},
          {0, D, TC_EOP, "", 23}}},
        {"keywords fold",
         "PRINT Print\tgoTo",
         {{0, K, TC_PRINT, "print", 5},
          {0, K, TC_PRINT, "print", 11},
          {0, K, TC_GOTO, "goto", 16},
          {0, D, TC_EOP, "", 16}}},
        {"variables fold", "Abc", {{0, V, 0, "abc", 3}, {0, D, TC_EOP, "", 3}}},
        {"string keeps case",
         "\"Hi, There\";",
         {{0, S, 0, "Hi, There", 11}, {0, D, 0, ";", 12}, {0, D, TC_EOP, "", 12}}},
        {"empty string", "\"\"", {{0, S, 0, "", 2}, {0, D, TC_EOP, "", 2}}},
        {"number up to terminator",
         "12\"x\"+3",
         {{0, N, 0, "12\"x\"", 5}, {0, D, 0, "+", 6}, {0, N, 0, "3", 7}, {0, D, TC_EOP, "", 7}}},
        {"CR LF",
         "a\r\nb",
         {{0, V, 0, "a", 1}, {0, D, TC_EOL, "\r\n", 3}, {0, V, 0, "b", 4}, {0, D, TC_EOP, "", 4}}},
        {"CR takes any next char", "\rx", {{0, D, TC_EOL, "\r\n", 2}, {0, D, TC_EOP, "", 2}}},
        {"lone CR at end",
         "a\r",
         {{0, V, 0, "a", 1}, {0, D, TC_EOL, "\r\n", 2}, {0, D, TC_EOP, "", 2}}},
        {"control 1 ends program", "a \x01 b", {{0, V, 0, "a", 1}, {0, D, TC_EOP, "", 2}}},
        {"control 0x1F", "\x1f", {{0, D, TC_EOP, "", 0}}},
        {"bell is unknown", "a \x07", {{0, V, 0, "a", 1}, {0, TT_NONE, 0, "", 2}}},
        {"backspace is unknown", "\x08", {{0, TT_NONE, 0, "", 0}}},
        {"VT is unknown", "\x0b", {{0, TT_NONE, 0, "", 0}}},
        {"FF is unknown", "\x0c", {{0, TT_NONE, 0, "", 0}}},
        {"high byte is unknown", "\xC1x", {{0, TT_NONE, 0, "", 0}}},
        {"high byte inside a word",
         "a\xC1"
         "b c",
         {{0, V, 0,
           "a\xC1"
           "b",
           3},
          {0, V, 0, "c", 5},
          {0, D, TC_EOP, "", 5}}},
        {"dot is unknown", ".5", {{0, TT_NONE, 0, "", 0}}},
        {"trailing blanks", "x  \t", {{0, V, 0, "x", 1}, {0, D, TC_EOP, "", 4}}},
        {"unterminated at LF", "\"abc\nx", {{3, TT_NONE, 0, "abc", 4}}},
        {"unterminated at CR", "\"ab\r\n", {{3, TT_NONE, 0, "ab", 3}}},
        {"unterminated at end", "\"abc", {{3, TT_NONE, 0, "abc", 4}}},
        {"long word kept to 79",
         long_word + " y",
         {{0, V, 0, std::string(79, 'w'), 100}, {0, V, 0, "y", 102}, {0, D, TC_EOP, "", 102}}},
        {"long string kept to 79",
         long_string,
         {{0, S, 0, std::string(79, 's'), 102}, {0, D, TC_EOP, "", 102}}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(setup(c.text), 0) << c.name;
        EXPECT_EQ(read_all(), c.expected) << c.name;
    }
}

TEST_F(CoreTest, OneCharacterDelimiters) {
    const std::string ops = "+-*^/%=;(),><";
    ASSERT_EQ(setup(ops), 0);
    for (std::size_t i = 0; i < ops.size(); ++i) {
        EXPECT_EQ(read(), (Tok{0, D, 0, std::string(1, ops[i]), static_cast<long>(i + 1)}));
    }
}

TEST_F(CoreTest, EveryKeywordHasItsCode) {
    const std::vector<std::pair<std::string, int>> keywords = {
        {"print", 1},  {"input", 2},    {"if", 3},      {"then", 4},    {"goto", 8},  {"for", 5},
        {"next", 6},   {"to", 7},       {"gosub", 11},  {"return", 12}, {"rem", 13},  {"read", 14},
        {"write", 15}, {"dim", 16},     {"end", 17},    {"color", 18},  {"plot", 19}, {"line", 20},
        {"box", 21},   {"fillbox", 22}, {"circle", 23},
    };
    for (const auto& [word, code] : keywords) {
        ASSERT_EQ(setup(word), 0);
        EXPECT_EQ(read(), (Tok{0, K, code, word, static_cast<long>(word.size())})) << word;
    }
    for (const char* word : {"then1", "gotox", "ends", "fill", "colour", "x"}) {
        ASSERT_EQ(setup(word), 0);
        EXPECT_EQ(read().type, V) << word;
    }
}

TEST_F(CoreTest, UnknownCharacterIsNotConsumed) {
    ASSERT_EQ(setup("\x07rest"), 0);
    EXPECT_EQ(read(), (Tok{0, TT_NONE, 0, "", 0}));
    EXPECT_EQ(read(), (Tok{0, TT_NONE, 0, "", 0}));
    ASSERT_EQ(setup(" \x01"), 0);
    EXPECT_EQ(read(), (Tok{0, D, TC_EOP, "", 1}));
    EXPECT_EQ(read(), (Tok{0, D, TC_EOP, "", 1}));
}

TEST_F(CoreTest, PutbackMovesBackByTokenText) {
    struct Case {
        const char* text;
        long after_putback;
    };
    // Strings lose their quotes, and skipped blanks stay skipped.
    const Case cases[] = {
        {"\"ab\" x", 2}, {"\"a\" x", 2}, {"\"\" x", 2}, {"   abc", 3},
        {"12ab", 0},     {"\n", 0},      {"\r\n", 0},   {"", 0},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(setup(c.text), 0);
        read();
        core_putback(kb.get());
        EXPECT_EQ(offset(), c.after_putback) << c.text;
    }
}

TEST_F(CoreTest, PutbackNeverMovesBeforeProgram) {
    ASSERT_EQ(setup("\r"), 0);
    EXPECT_EQ(read(), (Tok{0, D, TC_EOL, "\r\n", 1}));
    core_putback(kb.get());
    EXPECT_EQ(offset(), 0);
}

TEST_F(CoreTest, FindEolStepsPastLineFeedOrStopsOnTerminator) {
    ASSERT_EQ(setup("ab\ncd"), 0);
    core_find_eol(kb.get());
    EXPECT_EQ(offset(), 3);
    core_find_eol(kb.get());
    EXPECT_EQ(offset(), 5);
    core_find_eol(kb.get());
    EXPECT_EQ(offset(), 5);
    seek(2);
    core_find_eol(kb.get());
    EXPECT_EQ(offset(), 3);
}

TEST_F(CoreTest, LabelsAreLeadingNumbers) {
    ASSERT_EQ(setup("10 print\n  \n20 goto 10\nx 30\n\"open\n40 end\n0100 rem\n"), 0);
    EXPECT_EQ(offset(), 0); // cursor restored after the scan
    struct Case {
        const char* name;
        long position; // -1: not found
    };
    const Case cases[] = {
        {"10", 2},  {"20", 14}, {"40", 36},  {"0100", 45}, {"100", -1},
        {"30", -1}, {"", -1},   {"010", -1}, {"1", -1},
    };
    for (const auto& c : cases) {
        const char* p = core_find_label(kb.get(), c.name);
        if (c.position < 0) {
            EXPECT_EQ(p, nullptr) << c.name;
        } else {
            EXPECT_EQ(p, kb->program + c.position) << c.name;
        }
    }
}

TEST_F(CoreTest, LabelScanStopsAtControlCharacterLine) {
    ASSERT_EQ(setup("10 a\n\x01\n20 b\n"), 0);
    EXPECT_NE(core_find_label(kb.get(), "10"), nullptr);
    EXPECT_EQ(core_find_label(kb.get(), "20"), nullptr);
}

TEST_F(CoreTest, EmptyProgramHasEmptyLabelTable) {
    ASSERT_EQ(setup(""), 0);
    for (const label_t& entry : kb->labels)
        EXPECT_EQ(entry.name[0], 0);
}

TEST_F(CoreTest, LabelErrorsLeaveCursorBehindOffendingLabel) {
    struct Case {
        const char* name;
        std::string text;
        int rc;
        long cursor;
        const char* message;
    };
    std::string full;
    for (int i = 0; i < CORE_LABEL_COUNT; ++i)
        full += std::to_string(i + 1) + " x\n";
    const long full_length = static_cast<long>(full.size());
    const std::vector<Case> cases = {
        {"duplicate", "10 a\n20 b\n10 c\n", 9, 12, "duplicate label(Line:3)"},
        {"duplicate text only", "10 a\n010 b\n10 c\n", 9, 13, "duplicate label(Line:3)"},
        {"201st label", full + "999 y\n", 8, full_length + 3, "Label table full(Line:201)"},
        {"8 digits", "1234567 a\n12345678 b\n", 18, 18, "label too long(Line:2)"},
        {"8 characters", "1234567x a\n", 18, 8, "label too long(Line:1)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(setup(c.text), c.rc) << c.name;
        EXPECT_EQ(offset(), c.cursor) << c.name;
        EXPECT_EQ(message(c.rc), c.message) << c.name;
    }
    ASSERT_EQ(setup(full), 0);
    EXPECT_EQ(core_find_label(kb.get(), "200"), kb->program + full_length - 3);
}

TEST_F(CoreTest, SetupResetsContext) {
    ASSERT_EQ(setup("10 a\n"), 0);
    kb->for_depth = 5;
    kb->gosub_depth = 3;
    ASSERT_EQ(variable_dimension(&kb->variables, "a"), 0);
    auto* image = reinterpret_cast<lcdimg_t*>(kb.get()); // any handle: only stored
    ASSERT_EQ(core_setup(kb.get(), program.c_str(), image), 0);
    EXPECT_EQ(kb->for_depth, 0);
    EXPECT_EQ(kb->gosub_depth, 0);
    EXPECT_EQ(kb->hal.lcd_image, image);
    std::int32_t v = 0;
    EXPECT_EQ(variable_get(&kb->variables, "a", &v), -1);
    EXPECT_EQ(kb->cursor, kb->program);
}

TEST_F(CoreTest, MessagesCarryLineOfCursor) {
    ASSERT_EQ(setup("10 a\n20 b\n30 c\n"), 0);
    struct Case {
        int code;
        long at;
        const char* expected;
    };
    const Case cases[] = {
        {0, 0, "no error(Line:1)"},
        {1, 4, "end of the program(Line:1)"}, // on the first line feed
        {2, 10, "syntax error(Line:3)"},
        {3, 5, "unbalanced parentheses(Line:2)"},
        {4, 15, "no expression present(Line:4)"},
        {5, 0, "equals sign expected(Line:1)"},
        {6, 0, "not a variable(Line:1)"},
        {7, 0, "variable assignment error(Line:1)"},
        {8, 0, "Label table full(Line:1)"},
        {9, 0, "duplicate label(Line:1)"},
        {10, 0, "undefined label(Line:1)"},
        {11, 0, "THEN expected(Line:1)"},
        {12, 0, "TO expected(Line:1)"},
        {13, 0, "too many nested FOR loops(Line:1)"},
        {14, 0, "NEXT without FOR(Line:1)"},
        {15, 0, "too many nested GOSUBs(Line:1)"},
        {16, 0, "RETURN without GOSUB(Line:1)"},
        {17, 0, "division by zero(Line:1)"},
        {18, 0, "label too long(Line:1)"},
    };
    for (const auto& c : cases) {
        seek(c.at);
        EXPECT_EQ(message(c.code), c.expected) << c.code;
        EXPECT_EQ(last_rc, 0) << c.code;
    }
}

TEST_F(CoreTest, MessageBufferTooSmall) {
    ASSERT_EQ(setup(std::string(11, '\n')), 0);
    seek(11); // line 12: "syntax error(Line:12)" has 21 characters
    struct Case {
        int size;
        int rc;
        const char* expected;
    };
    const Case cases[] = {
        {1, -1, ""},
        {12, -1, ""},
        {13, -1, "syntax error"},
        {21, -1, "syntax error"},
        {22, 0, "syntax error(Line:12)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(message(RC_SYNTAX, c.size), c.expected) << c.size;
        EXPECT_EQ(last_rc, c.rc) << c.size;
    }
}

TEST_F(CoreTest, UnknownCodesGiveEmptyBuffer) {
    ASSERT_EQ(setup(""), 0);
    for (int code : {-1, RC_STEP_LIMIT + 1, 1000}) {
        EXPECT_EQ(message(code), "") << code;
        EXPECT_EQ(last_rc, -1) << code;
    }
    std::array<char, 1> none{'#'};
    EXPECT_EQ(core_error_message(kb.get(), RC_SYNTAX, none.data(), 0), -1);
    EXPECT_EQ(none[0], '#');
}

// What a read at one offset leaves behind, beyond the token: where putting it back and
// skipping to the line end lead, and the value of a number.
struct After {
    Tok tok;
    long length;   // token_length
    long putback;  // cursor offset after core_putback
    long line_end; // cursor offset after core_find_eol from the read's start
    int number;    // core_token_number, for a number token

    bool operator==(const After& o) const {
        return tok == o.tok && length == o.length && putback == o.putback &&
               line_end == o.line_end && number == o.number;
    }
};

std::ostream& operator<<(std::ostream& os, const After& a) {
    return os << a.tok << " length " << a.length << " putback " << a.putback << " line end "
              << a.line_end << " number " << a.number;
}

// Reads at every offset of each program with the memo off, then on (filling),
// then on again (replaying); all three must agree.
TEST_F(CoreTest, MemoAgreesWithFreshReadsAtEveryOffset) {
    const std::vector<std::string> programs = {
        "10 dim i, x\n20 for i = 1 to 10\n30 x = x + I * 2\n40 next\n50 print \"Sum\"; x\n",
        "10 if a = 1 then PRINT \"ab\" , 3\n20 \"open\n30 goto 10\n\x07\x01\n",
        "a\r\nb\r" + std::string(90, 'q') + " \"" + std::string(85, 'S') + "\"\n\xC1\xFF x$ 12ab",
        "\"never closed",
        "1 99999999999 007 1.5 " + std::string(100, '7') + " x 12\"3\"\n" + std::string(81, 'W') +
            "\n",
    };
    const auto after = [this](long at) {
        seek(at);
        After a{read(), kb->token_length, 0, 0, 0};
        a.number = a.tok.type == N ? core_token_number(kb.get()) : 0;
        core_putback(kb.get());
        a.putback = offset();
        seek(at);
        core_find_eol(kb.get());
        a.line_end = offset();
        return a;
    };
    for (const auto& text : programs) {
        ASSERT_EQ(setup(text), 0);
        for (long at = 0; at <= static_cast<long>(text.size()); ++at) {
            core_use_memo(kb.get(), false);
            const After fresh = after(at);
            core_use_memo(kb.get(), true);
            const After filled = after(at);
            const After replayed = after(at);
            EXPECT_EQ(fresh.length, static_cast<long>(fresh.tok.text.size())) << "offset " << at;
            EXPECT_EQ(filled, fresh) << "offset " << at << " of " << text;
            EXPECT_EQ(replayed, fresh) << "offset " << at << " of " << text;
        }
    }
}

// The length kept with each token and the value of number tokens, whichever way they were
// read. Numbers are their leading digits, wrapping at 32 bits.
TEST_F(CoreTest, TokenLengthAndNumber) {
    struct Case {
        std::string text;
        long length;
        int number; // checked for number tokens
    };
    const std::vector<Case> cases = {
        {"12ab", 4, 12},
        {"1.5", 3, 1},
        {"007", 3, 7},
        {"2147483648", 10, -2147483647 - 1},
        {"99999999999", 11, 1215752191},      // 99999999999 - 23 * 2^32
        {std::string(100, '0') + "5", 79, 0}, // only the first 79 characters are kept
        {"\"abc\" x", 3, 0},
        {"\"\"", 0, 0},
        {"\r\n", 2, 0},
        {"\n", 1, 0},
        {"", 0, 0},
        {"\x07", 0, 0},
        {"  Abc1", 4, 0},
        {std::string(100, 'w'), 79, 0},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(setup("x " + c.text), 0); // a leading number would be a label
        for (const bool memo : {false, true, true}) {
            core_use_memo(kb.get(), memo);
            seek(1);
            read();
            EXPECT_EQ(kb->token_length, c.length) << c.text << " memo " << memo;
            if (kb->token_type == N) {
                EXPECT_EQ(core_token_number(kb.get()), c.number) << c.text << " memo " << memo;
            }
        }
    }
}

// A label named by a token is looked up once and then remembered with the token.
TEST_F(CoreTest, TokenLabelIsFoundAndRemembered) {
    ASSERT_EQ(setup("10 x 20 99 010 10\n20 y\n"), 0);
    const struct {
        const char* text;
        long position; // -1: no such label
    } expected[] = {{"10", 2}, {"x", -1}, {"20", 20}, {"99", -1}, {"010", -1}, {"10", 2}};
    for (const bool memo : {true, true, false}) {
        core_use_memo(kb.get(), memo);
        seek(0);
        for (const auto& e : expected) {
            ASSERT_EQ(read().text, e.text);
            const char* p = core_token_label(kb.get());
            EXPECT_EQ(p == nullptr ? -1 : p - kb->program, e.position)
                << e.text << " memo " << memo;
        }
    }
}

TEST_F(CoreTest, MemoIsResetBySetup) {
    std::array<char, 16> text{};
    const std::string first = "abc def\n";
    const std::string second = "print 1\n";
    first.copy(text.data(), first.size());
    ASSERT_EQ(core_setup(kb.get(), text.data(), nullptr), 0);
    EXPECT_EQ(read(), (Tok{0, V, 0, "abc", 3}));
    second.copy(text.data(), second.size());
    ASSERT_EQ(core_setup(kb.get(), text.data(), nullptr), 0);
    EXPECT_EQ(read(), (Tok{0, K, TC_PRINT, "print", 5}));
}

} // namespace
