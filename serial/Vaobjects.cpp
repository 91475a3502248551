#include "serial/Vaobjects.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace zembra {

TVaHandleObject::~TVaHandleObject() {
    if (handle_ >= 0) close(handle_);
}

TVaEvent::TVaEvent(bool manualReset, bool initialState) : manualReset_(manualReset) {
    handle_ = eventfd(initialState ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (handle_ < 0) lastError_ = errno;
}

bool TVaEvent::SetEvent() {
    if (handle_ < 0) return false;
    // The counter only ever holds 0 or 1: add 1 only while not signalled.
    pollfd p{handle_, POLLIN, 0};
    if (poll(&p, 1, 0) == 1 && (p.revents & POLLIN)) return true;
    const uint64_t one = 1;
    if (write(handle_, &one, sizeof one) != sizeof one) {
        lastError_ = errno;
        return false;
    }
    return true;
}

bool TVaEvent::ResetEvent() {
    if (handle_ < 0) return false;
    uint64_t value;
    if (read(handle_, &value, sizeof value) < 0 && errno != EAGAIN) {
        lastError_ = errno;
        return false;
    }
    return true;
}

int TVaEvent::WaitFor(uint32_t ms) {
    if (handle_ < 0) {
        lastError_ = EBADF;
        return wrError;
    }
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
        pollfd p{handle_, POLLIN, 0};
        const int n = poll(&p, 1, timeout);
        if (n < 0) {
            if (errno == EINTR) continue;
            lastError_ = errno;
            return wrError;
        }
        if (n == 0) return wrTimeout;
        if (!manualReset_) {
            uint64_t value;
            if (read(handle_, &value, sizeof value) < 0) {
                if (errno == EAGAIN) continue;  // another waiter took it
                lastError_ = errno;
                return wrError;
            }
        }
        return wrSignaled;
    }
}

}  // namespace zembra
