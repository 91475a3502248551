#include "platform/WaitEvent.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace zembra {

// The eventfd counter only ever holds 0 or 1; it is readable exactly while signalled.

int CreateWaitEvent(bool, bool signalled) {
    return eventfd(signalled ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
}

bool SignalWaitEvent(int handle) {
    pollfd p{handle, POLLIN, 0};
    if (poll(&p, 1, 0) == 1 && (p.revents & POLLIN)) return true;
    const uint64_t one = 1;
    return write(handle, &one, sizeof one) == sizeof one;
}

bool ResetWaitEvent(int handle) {
    uint64_t value;
    return read(handle, &value, sizeof value) >= 0 || errno == EAGAIN;
}

void CloseWaitEvent(int handle) {
    if (handle >= 0) close(handle);
}

WaitEventResult WaitForWaitEvent(int handle, bool manualReset, uint32_t ms) {
    using Clock = std::chrono::steady_clock;
    const bool forever = ms == 0xFFFFFFFFu;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int timeout = -1;
        if (!forever) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            timeout = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        pollfd p{handle, POLLIN, 0};
        const int n = poll(&p, 1, timeout);
        if (n < 0) {
            if (errno == EINTR) continue;
            return WaitEventResult::Error;
        }
        if (n == 0) return WaitEventResult::Timeout;
        if (!manualReset) {
            uint64_t value;
            if (read(handle, &value, sizeof value) < 0) {
                if (errno == EAGAIN) continue;  // another waiter took it
                return WaitEventResult::Error;
            }
        }
        return WaitEventResult::Signalled;
    }
}

void WaitSocketReady(int socket, bool forWrite, int ms) {
    pollfd fd{socket, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    if (fd.fd >= 0) ::poll(&fd, 1, ms);
}

}  // namespace zembra
