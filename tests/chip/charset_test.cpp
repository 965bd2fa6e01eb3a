#include "chip/charset.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "base/util.hpp"
#include "lcd/lcdfont.hpp"
#include "support/param_name.hpp"

using namespace vimbra;

namespace {

// Column bytes worked out by hand from the charts, bit 0 the top dot row.
struct glyph_case_t {
    const char* set;
    int code;
    std::array<unsigned char, 5> columns;
};

TEST(CharsetTest, HandWorkedGlyphs) {
    const glyph_case_t cases[] = {
        {"A00", 0xDF, {0x07, 0x05, 0x07, 0x00, 0x00}}, // degree sign
        {"A00", 0x5C, {0x15, 0x16, 0x7C, 0x16, 0x15}}, // yen sign
        {"A00", 0xB1, {0x01, 0x41, 0x3D, 0x09, 0x07}}, // katakana a
        {"A00", 0xE7, {0x38, 0x44, 0x44, 0x44, 0xFC}}, // g whose descender reaches row 7
        {"A02", 0x82, {0xEE, 0x10, 0xFE, 0x10, 0xEE}}, // Cyrillic zhe
        {"A02", 0x10, {0x00, 0xFE, 0x7C, 0x38, 0x10}}, // right-pointing triangle
        {"A02", 0xB0, {0x0E, 0x11, 0x11, 0x0E, 0x00}}, // degree sign
        {"A02", 0x41, {0xF8, 0x24, 0x22, 0x24, 0xF8}}, // A, one row lower than A00's
        {"A02", 0x01, {0x00, 0x00, 0x00, 0x00, 0x00}}, // user-defined: blank
    };
    for (const glyph_case_t& c : cases) {
        const charset_t* set = charset_find(c.set);
        ASSERT_NE(set, nullptr);
        for (int column = 0; column < 5; ++column) {
            EXPECT_EQ(charset_glyphs(set)[static_cast<std::size_t>(c.code * 5 + column)],
                      c.columns[static_cast<std::size_t>(column)])
                << c.set << " code " << c.code << " column " << column;
        }
    }
}

void set_dot(int code, int column, int row, int on, void* ctx) {
    auto& glyphs = *static_cast<charset_glyphs_t*>(ctx);
    auto& bits = glyphs[static_cast<std::size_t>(code * 5 + column)];
    bits = static_cast<unsigned char>(on != 0 ? bits | 1U << row : bits & ~(1U << row));
}

// The compiled-in tables come from the same files through a parser of their own; the font
// reader must see the same glyphs in them, so that a copy of a set is a working font file.
TEST(CharsetTest, CompiledGlyphsAreWhatTheFontReaderReadsFromTheSetFiles) {
    for (const char* name : {"a00", "a02"}) {
        charset_glyphs_t read{};
        const std::string path = std::string(VIMBRA_SOURCE_DIR) + "/fonts/" + name + ".fnt";
        ASSERT_EQ(lcdfont_read(path.c_str(), set_dot, &read), 0) << path;
        EXPECT_TRUE(read == charset_glyphs(charset_find(name))) << path;
    }
}

TEST(CharsetTest, FindsSetsByNameInEitherCase) {
    EXPECT_STREQ(charset_find("A00")->name, "A00");
    EXPECT_STREQ(charset_find("a02")->name, "A02");
    for (const char* name : {"A01", "", "A0", "A000", "a00 ", "B00"}) {
        EXPECT_EQ(charset_find(name), nullptr) << name;
    }
    EXPECT_EQ(charset_find(nullptr), nullptr);
}

struct decode_case_t {
    const char* set;
    const char* src;
    int status;
    std::string codes;   // the codes stored, in order
    std::string message; // for row index 1
};

// The test log names a case by its input, not by its bytes.
void PrintTo(const decode_case_t& c, std::ostream* os) {
    *os << c.set << " " << testing::PrintToString(std::string(c.src));
}

class CharsetDecodeTable : public ::testing::TestWithParam<decode_case_t> {};

TEST_P(CharsetDecodeTable, CodesStatusAndMessage) {
    const decode_case_t& c = GetParam();
    std::array<unsigned char, 64> dst{};
    dst.fill(0xEE);
    std::array<char, CHARSET_MESSAGE_CAPACITY> message{};
    message.fill('?');
    int count = -1;
    EXPECT_EQ(charset_decode(charset_find(c.set), c.src, 1, dst.data(), 64, &count, message.data(),
                             CHARSET_MESSAGE_CAPACITY),
              c.status);
    ASSERT_EQ(count, static_cast<int>(c.codes.size()));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(dst.data()), c.codes.size()), c.codes);
    EXPECT_EQ(dst[c.codes.size()], 0) << "terminated after the last code";
    EXPECT_EQ(std::string(message.data()), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Mapping, CharsetDecodeTable,
    ::testing::Values(
        decode_case_t{"A00", "Temp 21.5°C", 0,
                      "Temp 21.5\xDF"
                      "C",
                      ""},
        decode_case_t{"A00", "¥→←ｱαµμ", 0, "\x5C\x7E\x7F\xB1\xE0\xE4\xE4", ""},
        decode_case_t{"A00", "アあ・", 0, "\xB1\xB1\xA5", ""},
        decode_case_t{"A00", "ガパがぱヴ", 0, "\xB6\xDE\xCA\xDF\xB6\xDE\xCA\xDF\xB3\xDE", ""},
        decode_case_t{"A00", "カ\xE3\x82\x99ﾊﾟ", 0, "\xB6\xDE\xCA\xDF", ""}, // combining mark
        decode_case_t{"A00", "x̄xy⁻¹g", 0, "\xF8xy\xE9g", ""},
        decode_case_t{"A02", "éüñЖ", 0, "\xE9\xFC\xF1\x82", ""},
        decode_case_t{"A02", "~\\\\°→¥Ω", 0, "~\\\xB0\x1A\xA5\x9A", ""},
        decode_case_t{"A02", "\\x01é\\x00", 0, std::string("\x01\xE9\x00", 3), ""},
        // Letters written decomposed, a letter and then its combining mark.
        decode_case_t{"A02",
                      "e\xCC\x81N\xCC\x83"
                      "c\xCC\xA7y\xCC\x88",
                      0, "\xE9\xD1\xE7\xFF", ""},
        decode_case_t{"A02", "\xD0\x98\xCC\x86", 0, "\x85", ""},
        decode_case_t{"A00", "a\xCC\x88o\xCC\x88", 0, "\xE1\xEF", ""}),
    [](const ::testing::TestParamInfo<CharsetDecodeTable::ParamType>& case_info) {
        return param_name(case_info.index, case_info.param.src);
    });

INSTANTIATE_TEST_SUITE_P(
    Refusals, CharsetDecodeTable,
    ::testing::Values(
        decode_case_t{"A00", "Caf\xC3\xA9", CHARSET_NOT_IN_SET, "Caf",
                      "Row 2, column 4: U+00E9 'é' is not in character set A00."},
        decode_case_t{"A00", "ガ~", CHARSET_NOT_IN_SET, "\xB6\xDE",
                      "Row 2, column 3: U+007E '~' is not in character set A00."},
        decode_case_t{"A00", "⁻", CHARSET_NOT_IN_SET, "",
                      "Row 2, column 1: U+207B '⁻' is not in character set A00."},
        decode_case_t{"A02", "a\tb", CHARSET_NOT_IN_SET, "a",
                      "Row 2, column 2: U+0009 is not in character set A02."},
        decode_case_t{"A02", "\xF0\x9F\x98\x80", CHARSET_NOT_IN_SET, "",
                      "Row 2, column 1: U+1F600 '\xF0\x9F\x98\x80' is not in character set A02."},
        decode_case_t{"A02", "\x9F", CHARSET_STRAY_CONTINUATION, "",
                      "Row 2, column 1: invalid UTF-8 (stray continuation byte): 0x9F."},
        decode_case_t{"A02", "ab\xE2\x82", CHARSET_TRUNCATED, "ab",
                      "Row 2, column 3: invalid UTF-8 (truncated sequence): 0xE2 0x82."},
        decode_case_t{"A02", "\xC3z", CHARSET_TRUNCATED, "",
                      "Row 2, column 1: invalid UTF-8 (truncated sequence): 0xC3."},
        decode_case_t{"A02", "\xC0\xAF", CHARSET_OVERLONG, "",
                      "Row 2, column 1: invalid UTF-8 (overlong form): 0xC0 0xAF."},
        decode_case_t{"A02", "\xE0\x80\xAF", CHARSET_OVERLONG, "",
                      "Row 2, column 1: invalid UTF-8 (overlong form): 0xE0 0x80 0xAF."},
        decode_case_t{"A02", "\xED\xA0\x80", CHARSET_SURROGATE, "",
                      "Row 2, column 1: invalid UTF-8 (surrogate): 0xED 0xA0 0x80."},
        decode_case_t{"A02", "\xF4\x90\x80\x80", CHARSET_ABOVE_MAX, "",
                      "Row 2, column 1: invalid UTF-8 (above U+10FFFF): 0xF4 0x90 0x80 0x80."},
        decode_case_t{"A02", "\xFF", CHARSET_NOT_UTF8, "",
                      "Row 2, column 1: invalid UTF-8 (byte never used in UTF-8): 0xFF."},
        decode_case_t{"A00", "xe\xCC\x81", CHARSET_NOT_IN_SET, "x",
                      "Row 2, column 2: U+0065 U+0301 'e\xCC\x81' is not in character set A00."},
        decode_case_t{"A02", "a\xCC\xA3", CHARSET_NOT_IN_SET, "",
                      "Row 2, column 1: U+0061 U+0323 'a\xCC\xA3' is not in character set A02."},
        decode_case_t{"A02", "\xE0\x80\x41", CHARSET_OVERLONG, "",
                      "Row 2, column 1: invalid UTF-8 (overlong form): 0xE0 0x80."},
        decode_case_t{"A02", "\xF0\x8F", CHARSET_OVERLONG, "",
                      "Row 2, column 1: invalid UTF-8 (overlong form): 0xF0 0x8F."},
        decode_case_t{"A02", "\xED\xA0z", CHARSET_SURROGATE, "",
                      "Row 2, column 1: invalid UTF-8 (surrogate): 0xED 0xA0."},
        decode_case_t{"A02", "\xF4\x90\x80", CHARSET_ABOVE_MAX, "",
                      "Row 2, column 1: invalid UTF-8 (above U+10FFFF): 0xF4 0x90 0x80."},
        decode_case_t{"A02", "\xC1!", CHARSET_OVERLONG, "",
                      "Row 2, column 1: invalid UTF-8 (overlong form): 0xC1."},
        decode_case_t{"A02", "\xF5\x80", CHARSET_ABOVE_MAX, "",
                      "Row 2, column 1: invalid UTF-8 (above U+10FFFF): 0xF5 0x80."},
        decode_case_t{"A02", "\xE1\x80z", CHARSET_TRUNCATED, "",
                      "Row 2, column 1: invalid UTF-8 (truncated sequence): 0xE1 0x80."},
        // Characters that show nothing between quotes are named by number alone.
        decode_case_t{"A02", "\xEE\x80\x80", CHARSET_NOT_IN_SET, "",
                      "Row 2, column 1: U+E000 is not in character set A02."},
        decode_case_t{"A02", "\xE2\xA0\x80", CHARSET_NOT_IN_SET, "",
                      "Row 2, column 1: U+2800 is not in character set A02."},
        decode_case_t{"A02", "\xE3\x85\xA4", CHARSET_NOT_IN_SET, "",
                      "Row 2, column 1: U+3164 is not in character set A02."},
        decode_case_t{"A00", "\xC2\xA0", CHARSET_NOT_IN_SET, "",
                      "Row 2, column 1: U+00A0 is not in character set A00."},
        decode_case_t{"A00", "a\\x4g", UTIL_FORMAT_BAD_SECOND_DIGIT, "a",
                      "Row 2, column 2: malformed escape (\\xHH with two hexadecimal digits, or "
                      "\\\\)."}),
    [](const ::testing::TestParamInfo<CharsetDecodeTable::ParamType>& case_info) {
        return param_name(case_info.index, case_info.param.src);
    });

TEST(CharsetTest, CutsAtCapacityButChecksTheWholeRow) {
    const charset_t* a00 = charset_find("A00");
    std::array<unsigned char, 4> dst{};
    std::array<char, CHARSET_MESSAGE_CAPACITY> message{};
    int count = -1;
    EXPECT_EQ(charset_decode(a00, "aガ", 0, dst.data(), 3, &count, message.data(), 256), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(dst[1], 0xB6);
    EXPECT_EQ(dst[2], 0);
    EXPECT_EQ(charset_decode(a00, "aaaé", 0, dst.data(), 3, &count, message.data(), 256),
              CHARSET_NOT_IN_SET);
    EXPECT_STREQ(message.data(), "Row 1, column 4: U+00E9 'é' is not in character set A00.");
    EXPECT_EQ(charset_decode(a00, "aaaé", 0, dst.data(), 3, &count, message.data(), 12),
              CHARSET_NOT_IN_SET);
    EXPECT_STREQ(message.data(), "Row 1, colu") << "cut to the buffer";
}

struct spell_case_t {
    const char* set;
    int code;
    const char* text;
};

// The first character each set file lists, by hand; "" where text cannot place the code.
TEST(CharsetTest, SpellsTheUsualCharacter) {
    const spell_case_t cases[] = {
        {"A00", 0x41, "A"}, {"A00", 0x20, " "},  {"A00", 0x5C, "¥"}, {"A00", 0xB6, "ｶ"},
        {"A00", 0xDF, "°"}, {"A00", 0xE9, "⁻¹"}, {"A00", 0xF4, "Ω"}, {"A00", 0xFF, "█"},
        {"A00", 0x03, ""},  {"A00", 0x10, ""},   {"A00", 0x80, ""},  {"A00", 0xE7, ""},
        {"A02", 0x5C, ""},  {"A02", 0x7E, "~"},  {"A02", 0x85, "Й"}, {"A00", 0xF8, "x̄"},
        {"A02", 0x10, "▶"}, {"A02", 0x0F, ""},
    };
    for (const spell_case_t& c : cases) {
        EXPECT_STREQ(charset_spell(charset_find(c.set), static_cast<unsigned char>(c.code)), c.text)
            << c.set << " code " << c.code;
    }
    EXPECT_STREQ(charset_spell(nullptr, 0x41), "");
}

// Every spelling reads back as its one code; the counts are the codes with a character in
// each set file (A00: 185; A02: 240, less the backslash).
TEST(CharsetTest, EverySpellingDecodesToItsCode) {
    for (const auto& [name, spelled] : {std::pair{"A00", 185}, std::pair{"A02", 239}}) {
        const charset_t* set = charset_find(name);
        int nonempty = 0;
        for (int code = 0; code < 256; ++code) {
            const char* text = charset_spell(set, static_cast<unsigned char>(code));
            if (text[0] == '\0') {
                continue;
            }
            ++nonempty;
            std::array<unsigned char, 4> dst{};
            int count = -1;
            EXPECT_EQ(charset_decode(set, text, 0, dst.data(), 4, &count, nullptr, 0), 0);
            EXPECT_EQ(count, 1) << name << " code " << code;
            EXPECT_EQ(dst[0], code) << name << " " << text;
        }
        EXPECT_EQ(nonempty, spelled) << name;
    }
}

TEST(CharsetTest, WithoutASetEveryByteIsACode) {
    std::array<unsigned char, 8> dst{};
    std::array<char, 8> message{};
    message.fill('?');
    int count = -1;
    EXPECT_EQ(charset_decode(nullptr, "é\\x01", 0, dst.data(), 8, &count, message.data(), 8), 0);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(dst[0], 0xC3);
    EXPECT_EQ(dst[2], 0x01);
    EXPECT_EQ(charset_decode(nullptr, "\\q", 0, dst.data(), 8, &count, message.data(), 8),
              UTIL_FORMAT_BAD_ESCAPE);
    EXPECT_EQ(message[0], '\0') << "no message: as without a set before";
}

} // namespace
