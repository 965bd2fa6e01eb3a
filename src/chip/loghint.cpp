#include "chip/loghint.hpp"

#include <cstdio>

#include "chip/cmdlog.hpp"

namespace vimbra {

bool loghint_warning(const cmdlog_t* log, bool display_seen_on, char* message, int capacity) {
    if (log == nullptr || message == nullptr || capacity <= 0) {
        return false;
    }
    const auto size = static_cast<std::size_t>(capacity);
    if (log->expander_bytes > 0 && log->expander_edges == 0) {
        std::snprintf(message, size,
                      "warning: no E pulse in %llu i2c bytes (E never fell: check the wiring line)",
                      static_cast<unsigned long long>(log->expander_bytes));
        return true;
    }
    if (!display_seen_on) {
        std::snprintf(message, size,
                      "warning: the display was never switched on (display on, or cmd 0x0C)");
        return true;
    }
    message[0] = '\0';
    return false;
}

} // namespace vimbra
