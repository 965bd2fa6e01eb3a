#include "script/progedit.hpp"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

using namespace vimbra;

namespace {

struct StoreCase {
    const char* name;
    std::vector<std::string> lines; // inserted in order
    std::vector<int> results;       // of each insert
    const char* stored;
};

class ProgeditTest : public ::testing::Test {
  protected:
    void SetUp() override { progedit_init(store.get()); }
    std::string text() const { return store->text.data(); }

    std::unique_ptr<progedit_t> store = std::make_unique<progedit_t>();
};

TEST_F(ProgeditTest, InsertKeepsLinesInNumberOrder) {
    const std::vector<StoreCase> cases = {
        {"ordering", {"20 b\n", "10 a\n", "30 c\n"}, {0, 0, 0}, "10 a\n20 b\n30 c\n"},
        {"replace in place",
         {"10 a\n", "20 b\n", "30 c\n", "20 bb\n"},
         {0, 0, 0, 0},
         "10 a\n20 bb\n30 c\n"},
        {"number alone deletes",
         {"10 a\n", "20 b\n", "30 c\n", "20\n"},
         {0, 0, 0, 0},
         "10 a\n30 c\n"},
        {"number alone for no line", {"10 a\n", "15\n"}, {0, 0}, "10 a\n"},
        {"no blank is dropped", {"10 a\n", "20print\n"}, {0, 0}, "10 a\n"},
        {"unnumbered replace each other", {"print 1\n", "print 2\n"}, {0, 0}, "print 2\n"},
        {"unnumbered before numbers", {"10 a\n", "x y\n"}, {0, 0}, "x y\n10 a\n"},
        {"leading blank is number 0", {"0 zero\n", " lead\n"}, {0, 0}, " lead\n"},
        {"numbers compare as values", {"010 a\n", "10 b\n", "9 c\n"}, {0, 0, 0}, "9 c\n10 b\n"},
        {"sign counts", {"+5 p\n", "-5 m\n", "5 q\n"}, {0, -1, 0}, "5 q\n"},
        {"empty lines store nothing", {"\n", "", "\r\n", "\r"}, {0, 0, 0, 0}, ""},
        {"CR LF becomes LF", {"10 a\r\n"}, {0}, "10 a\n"},
        {"CR cuts the line", {"10 a\rb c\n"}, {0}, "10 a\n"},
        {"no line end gets one", {"10 a"}, {0}, "10 a\n"},
        {"tab is not a blank", {"10\tx\n"}, {0}, ""},
        {"text after LF ignored", {"10 a\n20 b\n"}, {0}, "10 a\n"},
    };
    for (const auto& c : cases) {
        progedit_init(store.get());
        for (std::size_t i = 0; i < c.lines.size(); ++i) {
            EXPECT_EQ(progedit_insert(store.get(), c.lines[i].c_str()), c.results[i])
                << c.name << ": line " << i;
        }
        EXPECT_EQ(text(), c.stored) << c.name;
    }
}

TEST_F(ProgeditTest, LineLengthLimit) {
    struct Case {
        std::string line;
        int rc;
        std::size_t stored; // characters stored, line feed included
    };
    const std::string body77 = "1 " + std::string(75, 'x'); // 77 characters
    const Case cases[] = {
        {body77 + "y\n", 0, 79},   // 78 characters and a line feed
        {body77 + "yz\n", -1, 0},  // 79 and a line feed: 80 in all
        {body77 + "yz", 0, 80},    // 79 without a line feed
        {body77 + "yza", -1, 0},   // 80
        {body77 + "y\r\n", -1, 0}, // the carriage return counts too
        {std::string(200, '7'), -1, 0},
    };
    for (const auto& c : cases) {
        progedit_init(store.get());
        EXPECT_EQ(progedit_insert(store.get(), c.line.c_str()), c.rc) << c.line.size();
        EXPECT_EQ(text().size(), c.stored) << c.line.size();
        if (c.stored > 0) {
            EXPECT_EQ(text().back(), '\n');
        }
    }
}

// Fills the store with lines numbered 1, 2, ... of 79 characters and a line feed;
// 51 of them take 4080 bytes.
void fill(progedit_t* store) {
    for (int n = 1; n <= 51; ++n) {
        std::string line = std::to_string(n);
        line += ' ';
        line.append(79 - line.size(), 'x');
        ASSERT_EQ(progedit_insert(store, line.c_str()), 0) << n;
    }
    ASSERT_EQ(std::string(store->text.data()).size(), 4080u);
}

TEST_F(ProgeditTest, FullStoreRefusesAndKeepsText) {
    fill(store.get());
    const std::string before = text();
    EXPECT_EQ(progedit_insert(store.get(), "60 abcdefghijkl\n"), -1); // 4080 + 16 = 4096
    EXPECT_EQ(text(), before);
    EXPECT_EQ(progedit_insert(store.get(), "60 abcdefghijk\n"), 0); // 4095
    EXPECT_EQ(text().size(), 4095u);
    EXPECT_EQ(store->text[4095], 0);
}

TEST_F(ProgeditTest, FullStoreReplacementLosesOldLine) {
    fill(store.get());
    std::string same_size = "51 ";
    same_size.append(76, 'y');
    EXPECT_EQ(progedit_insert(store.get(), same_size.c_str()), 0);
    EXPECT_EQ(text().substr(4000), same_size + "\n");

    ASSERT_EQ(progedit_insert(store.get(), "1 a\n"), 0); // 4004 bytes
    std::string filler = "60 ";
    filler.append(76, 'f');
    ASSERT_EQ(progedit_insert(store.get(), filler.c_str()), 0); // 4084
    ASSERT_EQ(progedit_insert(store.get(), "61 abcdefg\n"), 0); // 4095
    EXPECT_EQ(progedit_insert(store.get(), "1 ab\n"), -1);      // 4091 + 5
    EXPECT_EQ(text().size(), 4091u);
    EXPECT_EQ(text().substr(0, 3), "2 x"); // the old line 1 is gone
}

TEST_F(ProgeditTest, FetchBounds) {
    std::array<char, 80> out{};
    EXPECT_EQ(progedit_fetch(store.get(), 0, out.data(), 80), -1);
    ASSERT_EQ(progedit_insert(store.get(), "10 a\n"), 0);
    ASSERT_EQ(progedit_insert(store.get(), "20 b\n"), 0);
    EXPECT_EQ(progedit_fetch(store.get(), 1, out.data(), 80), 0);
    EXPECT_STREQ(out.data(), "20 b");
    EXPECT_EQ(progedit_fetch(store.get(), 2, out.data(), 80), -1);
    EXPECT_EQ(progedit_fetch(store.get(), -1, out.data(), 80), -1);
}

TEST_F(ProgeditTest, ClearEmptiesAndWrongMarkFails) {
    ASSERT_EQ(progedit_insert(store.get(), "10 a\n"), 0);
    EXPECT_EQ(progedit_clear(store.get()), 0);
    EXPECT_EQ(text(), "");
    store->magic = 1;
    EXPECT_EQ(progedit_insert(store.get(), "10 a\n"), -1);
    EXPECT_EQ(progedit_clear(store.get()), -1);
    EXPECT_EQ(text(), "");
}

} // namespace
