// Names and words from inputs as one line of a message shows them: never a line end, a NUL
// or another control byte raw, and never so long that the message drowns in it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vimbra {

inline constexpr std::size_t SHOWN_WORD = 40;  // a word of an input: a code, a value, a name
inline constexpr std::size_t SHOWN_NAME = 256; // a file's name

// `text` with a line feed, carriage return and tab as \n, \r and \t, every other control
// byte (0x00-0x1F, 0x7F) as \xHH; other bytes, UTF-8 included, as they are. Beyond `limit`
// bytes of `text` it is cut (at a character's start) and "..." follows, or, keeping its end
// (the last part of a dotted path), "..." comes first.
std::string shown_text(std::string_view text, std::size_t limit = SHOWN_WORD,
                       bool keep_end = false);

} // namespace vimbra
