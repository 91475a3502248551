#include "cli/InterruptCatcher.h"

#include <unistd.h>

namespace zembra {

namespace {

volatile sig_atomic_t g_interrupts = 0;

void OnInterrupt(int) {
    g_interrupts = g_interrupts + 1;
    if (g_interrupts >= 3) _exit(128 + SIGINT);
}

}  // namespace

InterruptCatcher::InterruptCatcher() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous_);
    g_interrupts = 0;
}

InterruptCatcher::~InterruptCatcher() {
    sigaction(SIGINT, &previous_, nullptr);
}

int InterruptCatcher::count() const {
    return g_interrupts;
}

}  // namespace zembra
