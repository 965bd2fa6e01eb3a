// Integer expressions, evaluated while they are parsed.
#pragma once

#include <cstdint>

namespace vimbra {

struct kestbasic_t;

// Evaluates the expression at the next token; 0 with *value, or a result code.
// On success the token that ended the expression has been read and put back.
int expression_entry(kestbasic_t* kb, std::int32_t* value);

} // namespace vimbra
