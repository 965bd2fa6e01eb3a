// The LCD profile: key and value lines that set the image's settings.
#pragma once

#include <cstddef>

namespace vimbra {

struct lcdimg_t;

// Reads the profile at `path` into `img`; prints the listing when `listing` is nonzero.
// Returns 0 when the file was read, -1 when the path is empty or the file unreadable
// (a folder, for one: it opens but its first read fails). A read error after some lines
// keeps what was read and returns 0. Lines longer than 8191 characters arrive in pieces,
// each taken as a line of its own.
int lcdprof_read(const char* path, lcdimg_t* img, int listing);
// Reads a profile from `length` bytes of text (null: none), line by line as lcdprof_read
// reads its file. Returns 0, or -1 without an image.
int lcdprof_read_text(const char* text, std::size_t length, lcdimg_t* img, int listing);
// Stores the setting of one comment-free line; -1 when it is not a setting.
// Only the first 8191 characters of `line` are looked at. Numbers follow atoi's grammar
// but saturate at INT_MIN / INT_MAX instead of overflowing.
int pickup_value(lcdimg_t* img, const char* line);
// Prints, to the image's console, the 21-line listing of the settings, and a CHARSET and a
// ROW_ADDRESSES line when they are set.
void print_value(const lcdimg_t* img);

} // namespace vimbra
