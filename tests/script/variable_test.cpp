#include "script/variable.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

using namespace vimbra;

namespace {

std::string var_name(int i) {
    std::string name = "v";
    name += std::to_string(i);
    return name;
}

class VariableTest : public ::testing::Test {
  protected:
    void SetUp() override { variable_init(&store); }

    std::int32_t get(const char* name, int expected_rc = 0) {
        std::int32_t v = 12345;
        EXPECT_EQ(variable_get(&store, name, &v), expected_rc) << name;
        return v;
    }

    std::string slot_name(int i) const { return store[static_cast<unsigned>(i)].name.data(); }

    variable_store_t store{};
};

TEST_F(VariableTest, DeclaredVariableStartsAtZeroAndKeepsItsValue) {
    ASSERT_EQ(variable_dimension(&store, "x"), 0);
    EXPECT_EQ(get("x"), 0);
    ASSERT_EQ(variable_set(&store, "x", -7), 0);
    EXPECT_EQ(get("x"), -7);
}

TEST_F(VariableTest, UndeclaredNameFailsAndIsNotCreated) {
    EXPECT_EQ(variable_set(&store, "x", 5), -1);
    EXPECT_EQ(get("x", -1), 0);
    EXPECT_EQ(variable_dimension(&store, "x"), 0); // set did not declare it
}

TEST_F(VariableTest, RedeclarationFailsAndKeepsValue) {
    ASSERT_EQ(variable_dimension(&store, "n"), 0);
    ASSERT_EQ(variable_set(&store, "n", 9), 0);
    EXPECT_EQ(variable_dimension(&store, "n"), -1);
    EXPECT_EQ(get("n"), 9);
}

TEST_F(VariableTest, HomeSlotIsByteSumModulo32) {
    // 'a' = 97 -> 1; "ab" = 195 -> 3, "ba" collides and probes on to 4.
    ASSERT_EQ(variable_dimension(&store, "a"), 0);
    ASSERT_EQ(variable_dimension(&store, "ab"), 0);
    ASSERT_EQ(variable_dimension(&store, "ba"), 0);
    EXPECT_EQ(slot_name(1), "a");
    EXPECT_EQ(slot_name(3), "ab");
    EXPECT_EQ(slot_name(4), "ba");
    ASSERT_EQ(variable_set(&store, "ab", 1), 0);
    ASSERT_EQ(variable_set(&store, "ba", 2), 0);
    EXPECT_EQ(get("ab"), 1);
    EXPECT_EQ(get("ba"), 2);
}

TEST_F(VariableTest, ProbingWrapsFromLastSlotToFirst) {
    // '?' = 63 and '_' = 95 both hash to 31.
    ASSERT_EQ(variable_dimension(&store, "?"), 0);
    ASSERT_EQ(variable_dimension(&store, "_"), 0);
    EXPECT_EQ(slot_name(31), "?");
    EXPECT_EQ(slot_name(0), "_");
    ASSERT_EQ(variable_set(&store, "_", 44), 0);
    EXPECT_EQ(get("_"), 44);
}

TEST_F(VariableTest, SearchDoesNotStopAtEmptySlots) {
    // "zz" = 244 -> home 20; placed two slots further with 20 and 21 empty.
    store[22].name = {'z', 'z', 0};
    store[22].value = 77;
    EXPECT_EQ(get("zz"), 77);
    EXPECT_EQ(variable_dimension(&store, "zz"), -1);
}

TEST_F(VariableTest, ThirtyThirdVariableFails) {
    for (int i = 0; i < VARIABLE_SLOTS; ++i) {
        const std::string name = var_name(i);
        ASSERT_EQ(variable_dimension(&store, name.c_str()), 0) << name;
        ASSERT_EQ(variable_set(&store, name.c_str(), i * 10), 0);
    }
    EXPECT_EQ(variable_dimension(&store, "extra"), -1);
    EXPECT_EQ(get("extra", -1), 0);
    for (int i = 0; i < VARIABLE_SLOTS; ++i) {
        EXPECT_EQ(get(var_name(i).c_str()), i * 10);
    }
}

TEST_F(VariableTest, NamesOfEightCharactersFailEverywhere) {
    EXPECT_EQ(variable_dimension(&store, "abcdefg"), 0);
    EXPECT_EQ(variable_set(&store, "abcdefg", 3), 0);
    EXPECT_EQ(get("abcdefg"), 3);

    // Its first seven characters are declared, yet the long name is refused.
    EXPECT_EQ(variable_dimension(&store, "abcdefgh"), -1);
    EXPECT_EQ(variable_set(&store, "abcdefgh", 4), -1);
    EXPECT_EQ(get("abcdefgh", -1), 0);
    EXPECT_EQ(get("abcdefg"), 3);
}

// A remembered slot is only taken when it holds the name; anything else searches as
// variable_get does.
TEST_F(VariableTest, HintedIndexTakesOnlyAHintThatHoldsTheName) {
    // "a" lives in slot 1, "ab" in 3 and "ba" probes on to 4 (see HomeSlotIsByteSumModulo32).
    ASSERT_EQ(variable_dimension(&store, "a"), 0);
    ASSERT_EQ(variable_dimension(&store, "ab"), 0);
    ASSERT_EQ(variable_dimension(&store, "ba"), 0);
    using name8 = std::array<char, VARIABLE_NAME_MAX + 1>;
    struct Case {
        name8 name;
        int hint;
        bool holds; // variable_holds(hint)
        int index;  // variable_index_hinted
    };
    const Case cases[] = {
        {{'a', 'b'}, 3, true, 3},
        {{'a', 'b'}, 4, false, 3}, // slot 4 holds "ba"
        {{'b', 'a'}, 4, true, 4},
        {{'b', 'a'}, 3, false, 4},
        {{'a', 'b'}, -1, false, 3},
        {{'a', 'b'}, 32, false, 3},
        {{'a', 'b'}, 127, false, 3},
        {{'z', 'z'}, 1, false, -1},                               // undeclared
        {{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'}, 3, false, -1}, // 8 characters
        {{}, 0, false, 0}, // the empty name matches the first empty slot ...
        {{}, 2, false, 0}, // ... even when the hint is another empty slot
    };
    for (const Case& c : cases) {
        const std::string label =
            std::string(c.name.begin(), c.name.end()) + " hint " + std::to_string(c.hint);
        EXPECT_EQ(variable_holds(&store, c.hint, c.name), c.holds) << label;
        EXPECT_EQ(variable_index_hinted(&store, c.name, c.hint), c.index) << label;
    }
    EXPECT_EQ(variable_index(&store, "a"), 1);
    EXPECT_EQ(variable_index(&store, "abcdefgh"), -1);
    EXPECT_EQ(variable_index(&store, "q"), -1);
}

TEST_F(VariableTest, InitEmptiesEverySlot) {
    ASSERT_EQ(variable_dimension(&store, "q"), 0);
    ASSERT_EQ(variable_set(&store, "q", 8), 0);
    variable_init(&store);
    EXPECT_EQ(get("q", -1), 0);
    for (const variable_t& slot : store) {
        EXPECT_EQ(slot.name[0], 0);
        EXPECT_EQ(slot.value, 0);
    }
}

} // namespace
