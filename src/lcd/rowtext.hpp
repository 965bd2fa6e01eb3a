// Row text: the `\\` and `\xHH` escapes and, with a character set, UTF-8 mapped to its codes.
// Used by the row arguments and by the command log's `print`.
#pragma once

namespace vimbra {

struct charset_t;
struct lcdimg_t;

// Decodes one row text into codes. Without a set every byte is a code (util_format); with
// one, text is UTF-8 mapped through it. Stores the count and terminates dst, also on refusal;
// never writes more than `capacity` bytes. On refusal (nonzero) `message` gets one line
// without a line end naming row `row` + 1, the column and the problem, when there is one to
// say (without a set a malformed escape leaves it empty).
int rowtext_decode(const charset_t* set, const char* src, int row, unsigned char* dst, int capacity,
                   int* count, char* message, int message_capacity);
// Decodes row texts 0, 1, ... in order into the image's text grid, column by column; cells
// beyond the grid are dropped. 0, or -1 at the first malformed row (the rows before it are
// stored), after printing the row's problem when there is a line to say; -2 when memory is
// short.
int rowtext_place_rows(lcdimg_t* img, const char* const* rows, int count);

} // namespace vimbra
