// The LCD profile: key and value lines that set the image's settings.
#pragma once

struct lcdimg_t;

// Reads the profile at `path` into `img`; prints the listing when `listing` is nonzero.
// Returns 0 when the file was read, -1 when the path is empty or the file unreadable.
int lcdprof_read(const char* path, lcdimg_t* img, int listing);
// Stores the setting of one comment-free line; -1 when it is not a setting.
int pickup_value(lcdimg_t* img, const char* line);
// Prints the 21-line listing of the settings.
void print_value(const lcdimg_t* img);
