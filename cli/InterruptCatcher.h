#pragma once

#include <signal.h>

namespace zembra {

// Ctrl-C during a download: while it lives, SIGINT is counted instead of ending the program
// (the caller asks for the stop), and a third one ends the program at once. The previous
// handler comes back when it goes away. One at a time, on the main thread.
class InterruptCatcher {
  public:
    InterruptCatcher();
    ~InterruptCatcher();
    InterruptCatcher(const InterruptCatcher&) = delete;
    InterruptCatcher& operator=(const InterruptCatcher&) = delete;

    // The Ctrl-Cs seen since it was made.
    int count() const;

  private:
    struct sigaction previous_ {};
};

}  // namespace zembra
