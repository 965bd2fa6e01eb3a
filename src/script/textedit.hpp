// A fixed 4096-byte text of lines ended by line feeds, edited by line index.
#pragma once

#include <array>
#include <cstdint>

namespace vimbra {

inline constexpr std::int32_t TEXTEDIT_MAGIC = 0x6329;
inline constexpr int TEXTEDIT_CAPACITY = 4096; // text and terminator

struct textedit_t {
    std::int32_t magic;
    std::array<char, TEXTEDIT_CAPACITY> text;
};

// Sets the mark and clears the text. Returns 0.
int textedit_init(textedit_t* te);
// Clears the text; -1 when the mark is wrong.
int textedit_clear(textedit_t* te);
// Inserts `chars` (without their terminator) at line start `index`; 0 or -1.
int textedit_insert(textedit_t* te, int index, const char* chars);
// Removes line `index` with its line feed; 0 or -1.
int textedit_delete(textedit_t* te, int index);
// Copies line `index` without its line feed into out (at most capacity - 1 chars); 0 or -1.
int textedit_fetch(const textedit_t* te, int index, char* out, int capacity);
// Stores the number of line feeds in the text; 0 or -1.
int textedit_info(const textedit_t* te, int* line_count);

} // namespace vimbra
