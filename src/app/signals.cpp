#include "app/signals.hpp"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstring>

#include "bmp/outfile.hpp"

namespace vimbra {

namespace {

// Every signal whose default action ends the process, but for those a fault raises (a
// sanitizer or a debugger owns them) and the real-time ones, which are added where the
// set is made.
constexpr std::array<int, 13> CLEANUP_SIGNALS{SIGHUP,  SIGINT,    SIGQUIT,   SIGTERM, SIGUSR1,
                                              SIGUSR2, SIGALRM,   SIGVTALRM, SIGPROF, SIGXCPU,
                                              SIGIO,   SIGSTKFLT, SIGPWR};
// Temporary files at once: a picture and the decoded log, with room to spare.
constexpr std::size_t PENDING_CAPACITY = 4;

// A signal handler sees nothing but statics, so the paths wait here; they change only with
// the cleanup signals blocked.
std::array<outfile_path_t, PENDING_CAPACITY> pending{};
std::array<volatile std::sig_atomic_t, PENDING_CAPACITY> pending_valid{};
sigset_t cleanup_set;
sigset_t held_mask; // the mask to restore on release
bool installed = false;

void on_cleanup_signal(int sig) {
    for (std::size_t i = 0; i < PENDING_CAPACITY; ++i) {
        if (pending_valid[i] != 0) {
            ::unlink(pending[i].data());
        }
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig); // delivered, with the default action, as the handler returns
}

// One call a signal: the handler goes in, and comes out again where the signal was ignored
// or handled before (nohup, a background job).
void install_handlers() {
    struct sigaction action {};
    action.sa_handler = on_cleanup_signal;
    action.sa_mask = cleanup_set;
    for (int sig = 1; sig <= SIGRTMAX; ++sig) {
        struct sigaction old {};
        if (sigismember(&cleanup_set, sig) == 1 && ::sigaction(sig, &action, &old) == 0 &&
            old.sa_handler != SIG_DFL) {
            ::sigaction(sig, &old, nullptr);
        }
    }
    installed = true;
}

void hold(void*) {
    pthread_sigmask(SIG_BLOCK, &cleanup_set, &held_mask);
    if (!installed) {
        install_handlers();
    }
}

void release(const char* made, const char* gone, void*) {
    for (std::size_t i = 0; i < PENDING_CAPACITY; ++i) {
        if (gone != nullptr && pending_valid[i] != 0 && std::strcmp(pending[i].data(), gone) == 0) {
            pending_valid[i] = 0;
            gone = nullptr;
        }
    }
    for (std::size_t i = 0; i < PENDING_CAPACITY && made != nullptr; ++i) {
        if (pending_valid[i] == 0 && std::strlen(made) < pending[i].size()) {
            std::strcpy(pending[i].data(), made);
            pending_valid[i] = 1;
            made = nullptr;
        }
    }
    pthread_sigmask(SIG_SETMASK, &held_mask, nullptr);
}

} // namespace

void signals_guard_outputs() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN); // past the file size limit, a write fails with EFBIG
    sigemptyset(&cleanup_set);
    for (const int sig : CLEANUP_SIGNALS) {
        sigaddset(&cleanup_set, sig);
    }
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) {
        sigaddset(&cleanup_set, sig);
    }
    const outfile_watch_t watch{hold, release, nullptr};
    outfile_watch_temps(&watch);
}

} // namespace vimbra
