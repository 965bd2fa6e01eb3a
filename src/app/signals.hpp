// The command line's signals: a write to a closed pipe or past the file size limit is a
// failed write, and a signal that ends the process removes the temporary file being written.
#pragma once

namespace vimbra {

// For main, once: SIGPIPE and SIGXFSZ are ignored, and every signal whose default action
// ends the process (SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGALRM, the real-time ones, ...; not
// those a fault raises), unless ignored or handled already, removes the output step's
// temporary files before the process ends as the signal says. The handlers are installed
// when the first temporary file is made, so that a run that writes none makes no such call.
void signals_guard_outputs();

} // namespace vimbra
