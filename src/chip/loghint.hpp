// Why a log that replays without a fault may still leave a blank screen: a warning line for
// the firmware developer, who otherwise sees nothing to go on.
#pragma once

namespace vimbra {

struct cmdlog_t;

inline constexpr int LOGHINT_MESSAGE_CAPACITY = 160;

// True when the replayed log deserves a warning, written to `message` (one line, no line
// end): i2c bytes of which none gave E a falling edge, else a display that no event left
// switched on (`display_seen_on` false). The first explains the second, so one line at most.
bool loghint_warning(const cmdlog_t* log, bool display_seen_on, char* message, int capacity);

} // namespace vimbra
