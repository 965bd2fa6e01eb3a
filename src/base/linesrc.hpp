// Lines for the readers, from an open file or from a text in memory, cut exactly as fgets
// cuts them: so a profile, a font or a script read from text gives what its file gives.
#pragma once

#include <cstddef>
#include <cstdio>

namespace vimbra {

struct linesrc_t {
    std::FILE* file;  // read when not null
    const char* text; // else these bytes
    std::size_t length;
    std::size_t position; // bytes of `text` given so far
};

linesrc_t linesrc_file(std::FILE* file);
// A null text is an empty one.
linesrc_t linesrc_text(const char* text, std::size_t length);
// The next piece, as fgets gives it: at most capacity - 1 bytes, up to and including the
// first line feed, terminated (bytes past an embedded NUL are still consumed). False at the
// end, with nothing stored.
bool linesrc_next(linesrc_t* src, char* buffer, int capacity);
// True when a file read failed (never for a text).
bool linesrc_failed(const linesrc_t* src);
// Bytes given so far.
long linesrc_tell(const linesrc_t* src);

} // namespace vimbra
