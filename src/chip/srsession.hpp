// A sigrok session (.sr, version 2), as PulseView saves a capture: a zip archive of a
// `version` file, an INI-style `metadata` (sample rate, unit size, probe names) and the
// samples in chunks `logic-1-1`, `logic-1-2`, ... of `unitsize` bytes a sample, channel N
// at bit N-1. Read through zlib's minizip, chunk by chunk: memory never grows with the
// capture.
#pragma once

#include <array>
#include <cstdint>

#include "chip/capture.hpp"

namespace vimbra {

inline constexpr int SRSESSION_MAX_UNITSIZE = 8;       // 64 logic channels
inline constexpr int SRSESSION_MAX_CHUNKS = 1 << 20;   // chunk files of one capture
inline constexpr int SRSESSION_MAX_METADATA = 1 << 20; // bytes

struct srsession_t;

// Opens the archive in `in` (kept open by the caller until srsession_close) and reads its
// version and metadata. Null with `*status` (CAPTURE_MALFORMED: `message` says what) when it
// is no session this reader takes.
srsession_t* srsession_open(capin_t* in, int* status, char* message, int capacity);
void srsession_close(srsession_t* session);
// The logic channels, named as the metadata's probeN.
int srsession_channel_count(const srsession_t* session);
const char* srsession_channel_name(const srsession_t* session, int channel);
std::int64_t srsession_rate_hz(const srsession_t* session);
// Streams the samples: one step wherever a channel of `channel_of_role` (-1: not used)
// changed, at sample k / samplerate. A capture_status; the message says why it ended.
int srsession_run(srsession_t* session, const std::array<int, BUS_ROLES>& channel_of_role,
                  capture_emit_t* emit, char* message, int capacity);
// The time of the last sample read.
std::int64_t srsession_end_ps(const srsession_t* session);

} // namespace vimbra
