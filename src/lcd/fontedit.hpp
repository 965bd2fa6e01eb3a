// Editing a font text one dot at a time, as the library's reader reads that text.
#pragma once

#include <string>

namespace vimbra {

// Toggles dot (`row`, `column`) of glyph `code` in the font `text`: the line that last sets
// the row is rewritten, or, when none does, the whole glyph is added at the end. `glyph`
// holds the glyph's five column bytes as shown, for the rows the text leaves unset, and gets
// them as they are afterwards. The new text is read back before it replaces the old one;
// 0 when it did, -1 (text and glyph untouched) when the arguments are out of range, memory
// is short or the new text would not read so.
int fontedit_toggle(std::string* text, int code, int row, int column, unsigned char* glyph);

} // namespace vimbra
