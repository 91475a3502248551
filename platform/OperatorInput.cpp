#include "platform/OperatorInput.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace zembra {

OperatorKey WaitForOperatorKey(int timeoutMs) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&input, 1, timeoutMs);
    if (ready <= 0) return ready < 0 && errno != EINTR ? OperatorKey::Closed : OperatorKey::None;
    char bytes[256];
    const ssize_t n = read(STDIN_FILENO, bytes, sizeof bytes);
    if (n < 0) return errno == EINTR || errno == EAGAIN ? OperatorKey::None : OperatorKey::Closed;
    if (n == 0) return OperatorKey::Closed;
    for (ssize_t i = 0; i < n; ++i)
        if (bytes[i] == '\n' || bytes[i] == '\r' || bytes[i] == 0x1B) return OperatorKey::Skip;
    return OperatorKey::None;
}

}  // namespace zembra
