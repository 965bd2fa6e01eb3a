// The interpreter's public face: set up once, then step until the program ends or fails.
#pragma once

namespace vimbra {

struct kestbasic_t;
struct lcdimg_t;

// 0, RC_LABEL_FULL, RC_LABEL_DUP or RC_LABEL_LONG.
int kestbasic_setup(kestbasic_t* kb, const char* program, lcdimg_t* lcd_image);
// Runs one step: 0 to go on, RC_END at the normal end, or an error code.
int kestbasic_execute(kestbasic_t* kb);
// Message of `code` with the line of the cursor; 0 or -1.
int kestbasic_get_error_message(const kestbasic_t* kb, int code, char* buffer, int size);

} // namespace vimbra
