// Captures as analysers save them: what kind a file is (told by its content), the bytes a
// reader takes them from, and one handle over the readers of sigrok sessions and Saleae Logic
// 2 exports that gives named channels and, for the channels a client uses, one bus step per
// instant at which any of them changed. Memory never grows with the length of a capture.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "chip/parbus.hpp"

namespace vimbra {

inline constexpr int CAPTURE_MESSAGE_CAPACITY = 320;
inline constexpr int CAPTURE_MAX_CHANNELS = 64;
inline constexpr int CAPTURE_BATCH = 256; // the most steps a run's callback is given at once
inline constexpr std::int64_t CAPTURE_MAX_RATE_HZ = 1000000000000; // 1 THz: a picosecond

enum capture_status : int {
    CAPTURE_OK = 0,
    CAPTURE_MALFORMED = -1, // the message says what, in one line
    CAPTURE_NO_MEMORY = -2,
    CAPTURE_STOPPED = -3,    // a callback asked to stop
    CAPTURE_UNREADABLE = -4, // reading failed (errno)
};

// What a file is, by its first bytes.
enum capture_kind : int {
    CAPTURE_TEXT = 0,          // none of the others, text: a command log
    CAPTURE_VCD = 1,           // perhaps after stray lines (capture_sniff_t::stray_lines)
    CAPTURE_SESSION = 2,       // a zip archive: a sigrok session
    CAPTURE_SALEAE_BINARY = 3, // one channel of a Saleae binary export
    CAPTURE_SALEAE_CSV = 4,
    CAPTURE_UNKNOWN = 5, // binary, and none of the above
};

struct capture_sniff_t {
    capture_kind kind;
    int stray_lines;         // VCD: lines before its first $ keyword
    std::size_t stray_bytes; // their bytes
    std::int64_t rate_hz;    // VCD: the sample rate it says it was taken at; 0: none
};

// Looks at the first bytes of a file (as many as there are, up to 64 KiB or so).
capture_sniff_t capture_sniff(const char* head, std::size_t length);
// The skipped lines of a VCD, named for a warning: "line 1 ('META samplerate: 500000')".
void capture_stray_text(const char* head, const capture_sniff_t* sniff, char* out, int capacity);
// A sample rate as sigrok writes it ("4 MHz", "500 kHz", "1.5 GHz", "24000000"): a whole number
// of hertz from 1 Hz to 1 THz. False for anything else.
bool capture_parse_rate(const char* text, std::size_t length, std::int64_t* hz);

// Bytes to read: memory, an open file (a session's must be seekable), or memory read first
// and then the file (a pipe whose first bytes were read already). Not owned.
struct capin_t {
    std::FILE* fp;
    const unsigned char* data;
    std::size_t size;
    std::size_t pos;
    bool failed; // a read or seek of the file failed (errno)
};
capin_t capin_file(std::FILE* fp);
capin_t capin_memory(const void* data, std::size_t size);
// Up to `length` bytes; fewer only at the end or on failure.
std::size_t capin_read(capin_t* in, void* out, std::size_t length);
// 0, or -1 when the position cannot be reached.
int capin_seek(capin_t* in, std::uint64_t offset, int whence);
std::uint64_t capin_tell(capin_t* in);

// The instants of the used lines, in runs; nonzero stops the run.
using capture_steps_fn = int (*)(const bus_step_t* steps, std::size_t count, void* ctx);

// For the readers: steps gathered into runs for a client's callback.
struct capture_emit_t {
    std::array<bus_step_t, CAPTURE_BATCH> batch;
    std::size_t count;
    capture_steps_fn steps;
    void* ctx;
    bool stopped; // the client asked to stop
};
// Passes the steps gathered on; false once the client asked to stop.
bool capture_flush(capture_emit_t* emit);
inline bool capture_emit(capture_emit_t* emit, const bus_step_t& step) {
    emit->batch[emit->count++] = step;
    return emit->count < emit->batch.size() || capture_flush(emit);
}
// Text from a file shown in a message: printable ASCII as it is, other bytes as \xHH, at most
// `shown` bytes and then "...".
void capture_quote(const char* text, std::size_t length, std::size_t shown, char* out,
                   int capacity);
// Seconds as a decimal number ("-0.000001250", "1.25e-06") in whole picoseconds, rounded.
// False when it is not a number or lies beyond about 106 days either way.
bool capture_parse_seconds(const char* text, std::size_t length, std::int64_t* ps);

struct capture_t;

// A sigrok session (a zip archive, version 2) in `in`, which must stay open until
// capture_close. Null with the reason in `message` and `*status`.
capture_t* capture_open_session(capin_t* in, int* status, char* message, int capacity);
// A Saleae Logic 2 binary export: one file per channel, `names[i]` the name its file gives
// (a file digital_N.bin is "Channel N"). Files that hold analog data are left out.
capture_t* capture_open_saleae(capin_t* files, const char* const* names, int count, int* status,
                               char* message, int capacity);
// A Saleae Logic 2 CSV export; its header is read at once.
capture_t* capture_open_csv(capin_t* in, int* status, char* message, int capacity);
void capture_close(capture_t* capture);

int capture_channel_count(const capture_t* capture);
const char* capture_channel_name(const capture_t* capture, int channel);
// The channel so named, or -1.
int capture_find(const capture_t* capture, const char* name);
// Reports channel `channel` as line `role` (bus_role) of each step. 0, or -1.
int capture_watch(capture_t* capture, int channel, int role);
// The sample rate the capture states; 0 when its files state none.
std::int64_t capture_rate_hz(const capture_t* capture);
// Reads the whole capture: every instant at which a watched channel changed (the first with
// every watched line fresh). CAPTURE_OK or the status that ended it (message: one line).
int capture_run(capture_t* capture, capture_steps_fn steps, void* ctx);
const char* capture_message(const capture_t* capture);
// The time of the capture's end (its last sample or stated end), in picoseconds.
std::int64_t capture_end_ps(const capture_t* capture);

} // namespace vimbra
