#pragma once

#include <signal.h>
#ifdef _WIN32
#include "platform/win/PosixCompat.h"  // sigaction, SIGHUP and SIGPIPE
#endif

namespace zembra {

// The signals that end a download like the operator's stop: while it lives, Ctrl-C (SIGINT),
// SIGTERM, SIGHUP (the terminal went away) and SIGPIPE (the reader of the output went away,
// as with "| head -1") are counted instead of ending the program, and the caller asks for
// the stop. A third Ctrl-C ends the program at once with 130. Once SIGPIPE has been seen it
// stays ignored (the output is gone; a later line must not kill the program); the other
// signals get their previous handlers back when it goes away. One at a time, on the main
// thread.
class InterruptCatcher {
  public:
    InterruptCatcher();
    ~InterruptCatcher();
    InterruptCatcher(const InterruptCatcher&) = delete;
    InterruptCatcher& operator=(const InterruptCatcher&) = delete;

    // The stop signals seen since it was made.
    int count() const;

  private:
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
    struct sigaction previous_[4]{};
};

// Exit status after a third Ctrl-C.
inline constexpr int EXIT_INTERRUPTED = 128 + SIGINT;

}  // namespace zembra
