// Snapshots, as the command line and the C++ API both take them: the switch that updates a
// reference picture, and the message for a mark that a log does not have.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vimbra {

struct cmdlog_mark_t;

// The name of the environment variable whose value "1" turns updating on wherever a
// comparison is made.
inline constexpr const char* SNAPSHOT_UPDATE_VARIABLE = "VIMBRA_UPDATE";

// Whether a comparison writes the reference when it is missing or differs: when `asked`, or
// when the environment says VIMBRA_UPDATE=1 (exactly "1").
bool snapshot_update_asked(bool asked);

// The marks listed in a missing mark's message; the rest are counted.
inline constexpr std::size_t SNAPSHOT_MARKS_LISTED = 20;

// "no mark 'NAME' in WHERE (its marks: a, b and 3 more)", or "(it has no marks)": no line
// end, NAME escaped and shortened as a message shows names. 0, or -1 when memory is short.
int snapshot_missing_mark(const cmdlog_mark_t* marks, std::size_t count, std::string_view name,
                          const std::string& where, std::string* message);

} // namespace vimbra
