#include "platform/win/PosixCompat.h"

#include <atomic>

namespace {
std::atomic<void (*)(int)> g_interruptHandler{SIG_DFL};
}  // namespace

extern "C" {

// Files open in binary mode unless text mode is asked for, as on Linux (no CR added before
// LF). Every program of the Windows build links this (-Wl,-u,zembra_binary_files).
int zembra_binary_files = [] {
    *__p__fmode() = _O_BINARY;
    return 1;
}();

void zembra_sigaction_trampoline(int signalNumber) {
    // The C runtime has put SIG_DFL back before calling: catch the next one too.
    signal(signalNumber, zembra_sigaction_trampoline);
    if (void (*handler)(int) = g_interruptHandler.load(); handler != SIG_DFL && handler != SIG_IGN)
        handler(signalNumber);
}

int sigaction(int signalNumber, const struct sigaction* action, struct sigaction* previous) {
    if (signalNumber != SIGINT) {
        errno = EINVAL;
        return -1;
    }
    if (previous) *previous = {g_interruptHandler.load(), 0, 0};
    if (action) {
        void (*handler)(int) = action->sa_handler;
        g_interruptHandler = handler;
        const bool own = handler != SIG_DFL && handler != SIG_IGN;
        if (signal(SIGINT, own ? zembra_sigaction_trampoline : handler) == SIG_ERR) return -1;
    }
    return 0;
}

}  // extern "C"
