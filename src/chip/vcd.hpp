// A value change dump (VCD) read as a stream: the header's signals first, then, for the bits
// a client watches, one step per instant at which any of them changed. Memory depends on the
// header alone, never on the length of the trace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vimbra {

inline constexpr int VCD_MAX_LINE = 65536; // bytes; a longer line refuses the trace
inline constexpr int VCD_SLOTS = 32;       // watched bits, each given one bit of a step's masks
inline constexpr int VCD_MESSAGE_CAPACITY = 256;
inline constexpr int VCD_BATCH = 256; // the most steps vcd_batch's callback is given at once
// The header's bounds: beyond them a dump is refused, so that its memory stays bounded.
inline constexpr int VCD_MAX_SCOPE_DEPTH = 1000;
inline constexpr int VCD_MAX_SIGNALS = 250000;
inline constexpr std::size_t VCD_MAX_HEADER_BYTES = std::size_t{16} << 20; // its words
inline constexpr int VCD_FIND_AMBIGUOUS = -2; // vcd_find: two signals of one name

enum vcd_status : int {
    VCD_OK = 0,
    VCD_MALFORMED = -1, // the message says where: "line N: what"
    VCD_NO_MEMORY = -2,
    VCD_STOPPED = -3, // a callback asked to stop
};

// One instant: which watched slots changed and the level of every slot after the instant.
// `fresh` marks slots given their first value here (not an edge: nothing came before).
// `before` is every slot's level before the instant, which tells a client that is given only
// some instants (vcd_report) what held until then.
struct vcd_step_t {
    std::int64_t time_ps;
    std::uint32_t line; // the line of the instant's time stamp
    std::uint32_t changed;
    std::uint32_t levels;
    std::uint32_t fresh;
    std::uint32_t before;
};

struct vcd_reader_t;

struct vcd_callbacks_t {
    // The header is complete: the client looks its signals up and watches bits. Nonzero stops.
    int (*header)(vcd_reader_t* reader, void* ctx);
    // One instant, once all its changes are read. Nonzero stops.
    int (*step)(const vcd_step_t* step, void* ctx);
    void* ctx;
};

// A reader; nullptr when memory is short.
vcd_reader_t* vcd_open(const vcd_callbacks_t* callbacks);
void vcd_close(vcd_reader_t* reader);
// Reads the next bytes of the trace, in any pieces. VCD_OK or the status that ended reading;
// after a failure every later call returns it again.
int vcd_feed(vcd_reader_t* reader, const char* data, std::size_t length);
// The end of the trace: the last instant's step, or a refusal of a truncated trace.
int vcd_finish(vcd_reader_t* reader);
// Why reading ended: one line, no line end.
const char* vcd_message(const vcd_reader_t* reader);

// Signals in the order of the header. A name is the signal's last part when that is unique,
// otherwise its dotted path; the view lasts until the next call.
int vcd_signal_count(const vcd_reader_t* reader);
std::string_view vcd_signal_name(vcd_reader_t* reader, int signal);
// The length of that name, without making it.
std::size_t vcd_signal_name_size(const vcd_reader_t* reader, int signal);
// The identifier code of the signal's value, as the dump writes it.
std::string vcd_signal_code(const vcd_reader_t* reader, int signal);
// Finds one bit by name: a signal's name or dotted path, or a vector's bit as "data[2]".
// 0 and the signal and bit (the bit as the header numbers it), -1 when there is none, or
// VCD_FIND_AMBIGUOUS when two signals of that name carry different identifier codes: the
// first is `signal`, the second `other` (when not null). Signals of one code are one.
int vcd_find(const vcd_reader_t* reader, const char* name, int* signal, int* bit,
             int* other = nullptr);
// Reports the bit's level in slot 0..VCD_SLOTS-1 of each step. 0, or -1 when the signal,
// bit or slot does not exist or memory is short.
int vcd_watch(vcd_reader_t* reader, int signal, int bit, int slot);
// Steps in runs, in order, to `steps` with the callbacks' context instead of one by one to
// `step`: fewer calls for a trace with many. Every step of the bytes fed is given before
// vcd_feed returns (the last instant's in vcd_finish), and before a refusal. Nonzero stops:
// the client ignores the run's later steps itself.
using vcd_steps_fn = int (*)(const vcd_step_t* steps, std::size_t count, void* ctx);
void vcd_batch(vcd_reader_t* reader, vcd_steps_fn steps);
// Steps only for the instants at which a slot of `rises` went from low to high or one of
// `falls` from high to low, fresh or not; the rest are read and checked all the same. By
// default every instant at which a watched bit changed or got its first value is a step.
void vcd_report(vcd_reader_t* reader, std::uint32_t rises, std::uint32_t falls);
// The last time stamp read, in picoseconds (0 before any).
std::int64_t vcd_end_time(const vcd_reader_t* reader);
// How many x and z values the watched bits were given (they read as low).
std::uint64_t vcd_unknown_count(const vcd_reader_t* reader);
// Whether the text starts like a VCD header: its first word is a $ keyword.
bool vcd_sniff(const char* data, std::size_t length);

} // namespace vimbra
