// The console of a run: where its messages and a script's output go, and where a script's
// input comes from. Modules below the front ends print and read only through one of these,
// so that a front end can keep, collect or discard what a run says.
#pragma once

#include <cstddef>
#include <cstdio>

namespace vimbra {

// Takes `count` bytes; 0 when they were taken, -1 when they were lost. A call with no bytes
// asks the sink to pass on what it holds (a flush).
using console_write_func_t = int (*)(const char* bytes, std::size_t count, void* ctx);
// The next input byte 0..255, or -1 at the end of the input.
using console_read_func_t = int (*)(void* ctx);

// A zeroed console, like a null pointer to one, is the standard one: a record that never
// set its console behaves as the tool always has.
struct console_t {
    console_write_func_t write; // nullptr: standard output
    void* write_ctx;
    console_read_func_t read; // nullptr: standard input
    void* read_ctx;
};

// The process's standard output and standard input, through the C library's buffers, so
// that what the console writes stays in order with the rest of the process's output.
console_t console_standard();
// C streams: the run's output to `out`, its input from `in` (neither closed here; a null
// one loses the output, or has no input).
console_t console_on(std::FILE* out, std::FILE* in);
// Writes `count` bytes; 0, or -1 when they were lost. A null console is the standard one.
int console_write(const console_t* console, const char* bytes, std::size_t count);
// Writes a text and a line end, as puts does.
int console_puts(const console_t* console, const char* text);
// Formats as printf does and writes the result; 0, or -1.
int console_printf(const console_t* console, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// Passes on what the sink holds.
int console_flush(const console_t* console);
// The next input byte 0..255, or -1 at the end of the input.
int console_getc(const console_t* console);

} // namespace vimbra
