#include "script/textedit.hpp"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

using namespace vimbra;

namespace {

class TexteditTest : public ::testing::Test {
  protected:
    void SetUp() override { textedit_init(te.get()); }

    void load(const std::string& text) {
        te->text.fill(0);
        text.copy(te->text.data(), text.size());
    }
    std::string text() const { return te->text.data(); }

    std::unique_ptr<textedit_t> te = std::make_unique<textedit_t>();
};

TEST_F(TexteditTest, InitSetsMarkAndClearsEveryByte) {
    te->text.fill('x');
    te->magic = 0;
    textedit_init(te.get());
    EXPECT_EQ(te->magic, 0x6329);
    for (char c : te->text)
        EXPECT_EQ(c, 0);
}

TEST_F(TexteditTest, InsertAtLineStarts) {
    struct Case {
        const char* before;
        int index;
        const char* chars;
        int rc;
        const char* after;
    };
    const Case cases[] = {
        {"", 0, "a\n", 0, "a\n"},
        {"", 1, "a\n", 0, "a\n"},
        {"", 2, "a\n", -1, ""},
        {"b\nc\n", 0, "a\n", 0, "a\nb\nc\n"},
        {"b\nc\n", 1, "a\n", 0, "b\na\nc\n"},
        {"b\nc\n", 2, "a\n", 0, "b\nc\na\n"},
        {"b\nc\n", 3, "a\n", 0, "b\nc\na\n"},
        {"b\nc\n", 4, "a\n", -1, "b\nc\n"},
        {"b\nc\n", -1, "a\n", -1, "b\nc\n"},
        {"abc", 0, "x", 0, "xabc"},
        {"abc", 1, "x", 0, "abcx"},
        {"abc", 2, "x", -1, "abc"},
        {"b\n", 0, "", 0, "b\n"},
    };
    for (const auto& c : cases) {
        load(c.before);
        EXPECT_EQ(textedit_insert(te.get(), c.index, c.chars), c.rc) << c.before << " @" << c.index;
        EXPECT_EQ(text(), c.after) << c.before << " @" << c.index;
    }
}

TEST_F(TexteditTest, InsertLeavesRoomForTerminator) {
    const std::string almost(4093, 'x');
    load(almost);
    EXPECT_EQ(textedit_insert(te.get(), 0, "ab\n"), -1); // 4096 characters
    EXPECT_EQ(text(), almost);
    EXPECT_EQ(textedit_insert(te.get(), 0, "a\n"), 0); // 4095 characters
    EXPECT_EQ(text().size(), 4095u);
    EXPECT_EQ(text().substr(0, 3), "a\nx");
    EXPECT_EQ(te->text[4095], 0);
}

TEST_F(TexteditTest, DeleteByLineIndex) {
    struct Case {
        const char* before;
        int index;
        int rc;
        const char* after;
    };
    const Case cases[] = {
        {"a\nb\nc\n", 0, 0, "b\nc\n"},
        {"a\nb\nc\n", 1, 0, "a\nc\n"},
        {"a\nb\nc\n", 2, 0, "a\nb\n"},
        {"a\nb\nc\n", 3, 0, "a\nb\nc\n"}, // the terminator's line start
        {"a\nb\nc\n", 4, -1, "a\nb\nc\n"},
        {"a\nb\nc\n", -1, -1, "a\nb\nc\n"},
        {"a\nbc", 1, 0, "a\n"},
        {"", 0, 0, ""},
        {"", 1, -1, ""},
    };
    for (const auto& c : cases) {
        load(c.before);
        EXPECT_EQ(textedit_delete(te.get(), c.index), c.rc) << c.before << " @" << c.index;
        EXPECT_EQ(text(), c.after) << c.before << " @" << c.index;
    }
}

TEST_F(TexteditTest, FetchOnlyLinesEndedByLineFeed) {
    struct Case {
        const char* text;
        int index;
        int capacity;
        int rc;
        const char* out;
    };
    const Case cases[] = {
        {"ab\ncd\n", 0, 80, 0, "ab"},
        {"ab\ncd\n", 1, 80, 0, "cd"},
        {"ab\ncd\n", 2, 80, -1, ""},
        {"ab\ncd\n", -1, 80, -1, ""},
        {"", 0, 80, -1, ""},
        {"ab\ncd", 1, 80, -1, "cd"},
        {"abcdef\nxy\n", 0, 4, 0, "abc"},
        {"abcdef\nxy\n", 1, 4, 0, "xy"}, // a cut line does not shift the next
        {"abc\n", 0, 1, 0, ""},
        {"\n\n", 1, 80, 0, ""},
    };
    for (const auto& c : cases) {
        load(c.text);
        std::array<char, 80> out{};
        out.fill('#');
        EXPECT_EQ(textedit_fetch(te.get(), c.index, out.data(), c.capacity), c.rc)
            << c.text << " @" << c.index;
        EXPECT_STREQ(out.data(), c.out) << c.text << " @" << c.index;
    }
}

TEST_F(TexteditTest, InfoCountsLineFeeds) {
    int count = -1;
    load("a\n\nb\nc");
    ASSERT_EQ(textedit_info(te.get(), &count), 0);
    EXPECT_EQ(count, 3);
    load("");
    ASSERT_EQ(textedit_info(te.get(), &count), 0);
    EXPECT_EQ(count, 0);
}

TEST_F(TexteditTest, WrongMarkFailsEverywhereAndChangesNothing) {
    load("a\nb\n");
    te->magic = 0x6328;
    std::array<char, 8> out{'#'};
    int count = 99;
    EXPECT_EQ(textedit_clear(te.get()), -1);
    EXPECT_EQ(textedit_insert(te.get(), 0, "x\n"), -1);
    EXPECT_EQ(textedit_delete(te.get(), 0), -1);
    EXPECT_EQ(textedit_fetch(te.get(), 0, out.data(), 8), -1);
    EXPECT_EQ(textedit_info(te.get(), &count), -1);
    EXPECT_EQ(text(), "a\nb\n");
    EXPECT_EQ(count, 99);
    te->magic = TEXTEDIT_MAGIC;
    EXPECT_EQ(textedit_clear(te.get()), 0);
    EXPECT_EQ(text(), "");
}

TEST_F(TexteditTest, TextWithoutTerminatorIsNeverOverrun) {
    te->text.fill('\n');
    std::array<char, 80> out{};
    int count = 0;
    EXPECT_EQ(textedit_insert(te.get(), 0, "x"), -1);
    EXPECT_EQ(textedit_delete(te.get(), 0), -1);
    EXPECT_EQ(textedit_fetch(te.get(), 5000, out.data(), 80), -1);
    EXPECT_EQ(textedit_fetch(te.get(), 4094, out.data(), 80), 0);
    EXPECT_EQ(textedit_info(te.get(), &count), 0);
    EXPECT_EQ(count, 4096);
}

} // namespace
