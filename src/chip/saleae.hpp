// Saleae Logic 2 exports. The binary export is one file per channel: the 8 bytes
// "<SALEAE>", version (int32, 0), type (int32, 0 = digital), the initial state (uint32), the
// begin and end times (float64 seconds), the number of transitions (uint64) and one float64
// time per transition; the channels are merged in time order, a few values of each read at
// a time. The CSV export is a header "Time [s],Channel 0,..." and one row per change. Times
// become whole picoseconds; a capture that starts before 0 s (a trigger's pre-roll) is moved
// to start at 0.
#pragma once

#include <array>
#include <cstdint>

#include "chip/capture.hpp"

namespace vimbra {

inline constexpr int SALEAE_HEADER_BYTES = 44;
inline constexpr int SALEAE_MAX_LINE = 65536; // bytes of a CSV row

struct saleae_t;

// The binary export's channel files (`names[i]` the channel name of `files[i]`), read in
// step by step; the files stay the caller's. Analog files are left out. Null with `*status`.
saleae_t* saleae_open_binary(capin_t* files, const char* const* names, int count, int* status,
                             char* message, int capacity);
// The CSV export in `in`; its header is read here, the rows by saleae_run.
saleae_t* saleae_open_csv(capin_t* in, int* status, char* message, int capacity);
void saleae_close(saleae_t* saleae);
int saleae_channel_count(const saleae_t* saleae);
const char* saleae_channel_name(const saleae_t* saleae, int channel);
// A binary export's channel by its file's name ("digital_0.bin"), or -1.
int saleae_find_file(const saleae_t* saleae, const char* file);
// Streams the transitions of the channels in `channel_of_role` (-1: not used). A
// capture_status; the message says why it ended.
int saleae_run(saleae_t* saleae, const std::array<int, BUS_ROLES>& channel_of_role,
               capture_emit_t* emit, char* message, int capacity);
std::int64_t saleae_end_ps(const saleae_t* saleae);

} // namespace vimbra
