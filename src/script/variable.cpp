#include "script/variable.hpp"

#include "script/kestlibc.hpp"

namespace vimbra {

namespace {

constexpr int slot_mask = VARIABLE_SLOTS - 1;
static_assert((VARIABLE_SLOTS & slot_mask) == 0, "the hash keeps the low bits of the sum");

// Home slot of the name (its byte sum modulo the slot count) in one pass that also
// checks the length; -1 when the name is longer than 7 characters. Never reads
// further than needed to tell that.
int hashed_index(const char* name) {
    unsigned sum = 0;
    int n = 0;
    for (; name[n] != 0; ++n) {
        if (n == VARIABLE_NAME_MAX) return -1;
        sum += static_cast<unsigned char>(name[n]);
    }
    return static_cast<int>(sum & slot_mask);
}

// Compares a slot's 8-byte field with a name of at most 7 characters, never
// reading past the field.
bool same_name(const variable_t& slot, const char* name) {
    for (int i = 0; i <= VARIABLE_NAME_MAX; ++i) {
        if (slot.name[static_cast<unsigned>(i)] != name[i]) return false;
        if (name[i] == 0) return true;
    }
    return false;
}

// Probes all slots from the home slot; -1 when the name is not declared. An empty
// name matches the first empty slot, as a plain text comparison does.
int find_slot(const variable_store_t& store, const char* name, int home) {
    for (int k = 0; k < VARIABLE_SLOTS; ++k) {
        const int i = (home + k) & slot_mask;
        if (same_name(store[static_cast<unsigned>(i)], name)) return i;
    }
    return -1;
}

} // namespace

int variable_init(variable_store_t* store) {
    for (auto& slot : *store) {
        slot.name.fill(0);
        slot.value = 0;
    }
    return 0;
}

int variable_dimension(variable_store_t* store, const char* name) {
    const int home = hashed_index(name);
    if (home < 0 || find_slot(*store, name, home) >= 0) return -1;
    for (int k = 0; k < VARIABLE_SLOTS; ++k) {
        variable_t& slot = (*store)[static_cast<unsigned>((home + k) & slot_mask)];
        if (slot.name[0] == 0) {
            kestlibc_strcpy(slot.name.data(), name);
            slot.value = 0;
            return 0;
        }
    }
    return -1;
}

int variable_set(variable_store_t* store, const char* name, std::int32_t value) {
    const int i = variable_index(store, name);
    if (i < 0) return -1;
    (*store)[static_cast<unsigned>(i)].value = value;
    return 0;
}

int variable_get(const variable_store_t* store, const char* name, std::int32_t* value) {
    const int i = variable_index(store, name);
    *value = i < 0 ? 0 : (*store)[static_cast<unsigned>(i)].value;
    return i < 0 ? -1 : 0;
}

int variable_index(const variable_store_t* store, const char* name) {
    const int home = hashed_index(name);
    return home < 0 ? -1 : find_slot(*store, name, home);
}

} // namespace vimbra
