// The script's variables: 32 named 32-bit integers in an open-addressed table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vimbra {

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
// Slot of an existing variable, the one variable_set and variable_get would use; -1 when
// too long or undeclared.
int variable_index(const variable_store_t* store, const char* name);
// True when slot `slot` holds `name`, given NUL-padded to 8 bytes: a slot with the same 8
// name bytes is the one variable_index finds, since no name is declared twice and slots are
// never emptied. Never true for the empty name, which matches the first empty slot.
inline bool variable_holds(const variable_store_t* store, int slot,
                           const std::array<char, VARIABLE_NAME_MAX + 1>& name) {
    return name[0] != 0 && slot >= 0 && slot < VARIABLE_SLOTS &&
           std::memcmp((*store)[static_cast<std::size_t>(slot)].name.data(), name.data(),
                       name.size()) == 0;
}
// variable_index for a name NUL-padded to 8 bytes, trying slot `hint` first.
inline int variable_index_hinted(const variable_store_t* store,
                                 const std::array<char, VARIABLE_NAME_MAX + 1>& name, int hint) {
    return variable_holds(store, hint, name) ? hint : variable_index(store, name.data());
}

} // namespace vimbra
