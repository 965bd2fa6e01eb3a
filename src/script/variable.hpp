// The script's variables: 32 named 32-bit integers in an open-addressed table.
#pragma once

#include <array>
#include <cstdint>

inline constexpr int VARIABLE_SLOTS = 32;
inline constexpr int VARIABLE_NAME_MAX = 7; // characters, terminator not counted

struct variable_t {
    std::array<char, VARIABLE_NAME_MAX + 1> name; // empty slot: name[0] == 0
    std::int32_t value;
};

using variable_store_t = std::array<variable_t, VARIABLE_SLOTS>;

// Empties every slot. Returns 0.
int variable_init(variable_store_t* store);
// Declares a new variable with value 0; -1 when too long, already declared or full.
int variable_dimension(variable_store_t* store, const char* name);
// Sets an existing variable; -1 when too long or undeclared.
int variable_set(variable_store_t* store, const char* name, std::int32_t value);
// Reads an existing variable; -1 (and 0 delivered) when too long or undeclared.
int variable_get(const variable_store_t* store, const char* name, std::int32_t* value);
