#include "job/snapshot.hpp"

#include <cstdlib>
#include <cstring>
#include <new>

#include "base/shown.hpp"
#include "chip/cmdlog.hpp"

namespace vimbra {

bool snapshot_update_asked(bool asked) {
    const char* env = std::getenv(SNAPSHOT_UPDATE_VARIABLE);
    return asked || (env != nullptr && std::strcmp(env, "1") == 0);
}

int snapshot_missing_mark(const cmdlog_mark_t* marks, std::size_t count, std::string_view name,
                          const std::string& where, std::string* message) {
    try {
        std::string listed;
        for (std::size_t i = 0; marks != nullptr && i < count && i < SNAPSHOT_MARKS_LISTED; ++i) {
            listed += (i > 0 ? ", " : "") + std::string(marks[i].name.data());
        }
        if (marks != nullptr && count > SNAPSHOT_MARKS_LISTED) {
            listed += " and " + std::to_string(count - SNAPSHOT_MARKS_LISTED) + " more";
        }
        *message =
            "no mark '" + shown_text(name, CMDLOG_MARK_NAME_MAX) + "' in " + where +
            (listed.empty() ? std::string(" (it has no marks)") : " (its marks: " + listed + ")");
        return 0;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

} // namespace vimbra
