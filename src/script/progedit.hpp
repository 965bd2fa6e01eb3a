// The program store: numbered lines kept in line-number order.
#pragma once

#include "script/textedit.hpp"

namespace vimbra {

inline constexpr int PROGEDIT_LINE_MAX = 79; // characters before the line feed

using progedit_t = textedit_t;

int progedit_init(progedit_t* store);
int progedit_clear(progedit_t* store);
// Adds, replaces or (number alone) deletes a numbered line; 0 or -1.
int progedit_insert(progedit_t* store, const char* line);
int progedit_fetch(const progedit_t* store, int index, char* out, int capacity);

} // namespace vimbra
