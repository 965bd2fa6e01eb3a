// The run of a host Arduino sketch, which the main() of Arduino.h calls. Only that reference
// brings this file (and its references to setup() and loop()) into a program: the library
// itself defines no main(), so programs that link it with a main() of their own, from any
// library, keep theirs.
#define VIMBRA_ARDUINO_NO_MAIN
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "arduino/arduhost.hpp"
#include "vimbra/arduino/Arduino.h"

namespace {

// One pass of loop() also costs the board's main loop its own few microseconds.
constexpr std::uint64_t LOOP_PASS_US = 4;

struct run_t {
    std::FILE* log = nullptr;
    bool own_log = false; // a file to close, not standard output
    const char* name = "sketch";
};
constinit run_t run;

// The run ends at the time limit: the log gets its last wait, and the status says whether
// every line was written.
[[noreturn]] void end_run() {
    bool ok = arduhost_end_log();
    if (run.own_log && std::fclose(run.log) != 0) {
        ok = false;
    }
    if (!ok) {
        std::fprintf(stderr, "%s: the command log could not be written in full\n", run.name);
    }
    std::exit(ok ? 0 : 1);
}

} // namespace

int vimbra::arduino::run_sketch(int argc, char** argv) {
    if (argc > 0 && argv[0] != nullptr) {
        const char* slash = std::strrchr(argv[0], '/');
        run.name = slash != nullptr ? slash + 1 : argv[0];
    }
    arduhost_options_t options;
    std::string message;
    if (arduhost_parse(argc, argv, std::getenv("VIMBRA_RUN"), &options, &message) != 0) {
        std::fprintf(stderr, "%s: %s\n", run.name, message.c_str());
        return 2;
    }
    if (options.help) {
        std::printf("Usage: %s [--run TIME] [--log FILE] [--analog PIN=N] [--digital PIN=L]\n%s",
                    run.name, arduhost_usage());
        return 0;
    }
    run.log = stdout;
    if (!options.log_path.empty() && options.log_path != "-") {
        run.log = std::fopen(options.log_path.c_str(), "wb");
        if (run.log == nullptr) {
            std::fprintf(stderr, "%s: cannot write %s: %s\n", run.name, options.log_path.c_str(),
                         std::strerror(errno));
            return 1;
        }
        run.own_log = true;
    }
    arduhost_start(options, run.log, &end_run);
    setup();
    for (;;) {
        loop();
        arduhost_spend(LOOP_PASS_US);
    }
}
