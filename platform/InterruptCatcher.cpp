#include "platform/InterruptCatcher.h"

#include <unistd.h>

namespace zembra {

namespace {

volatile sig_atomic_t g_stops = 0;
volatile sig_atomic_t g_interrupts = 0;
volatile sig_atomic_t g_pipeClosed = 0;

void OnStopSignal(int signal) {
    g_stops = g_stops + 1;
    if (signal == SIGPIPE) g_pipeClosed = 1;
    if (signal != SIGINT) return;
    g_interrupts = g_interrupts + 1;
    if (g_interrupts >= 3) _exit(EXIT_INTERRUPTED);
}

}  // namespace

InterruptCatcher::InterruptCatcher() {
    g_stops = 0;
    g_interrupts = 0;
    g_pipeClosed = 0;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 4; ++i) sigaction(kSignals[i], &action, &previous_[i]);
}

InterruptCatcher::~InterruptCatcher() {
    for (int i = 0; i < 4; ++i) {
        if (kSignals[i] == SIGPIPE && g_pipeClosed) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            sigemptyset(&ignore.sa_mask);
            sigaction(SIGPIPE, &ignore, nullptr);
            continue;
        }
        sigaction(kSignals[i], &previous_[i], nullptr);
    }
}

int InterruptCatcher::count() const {
    return g_stops;
}

}  // namespace zembra
