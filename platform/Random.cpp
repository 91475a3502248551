#include "platform/Random.h"

#include <sys/random.h>

#include <cerrno>

namespace zembra {

bool SystemRandomBytes(std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t got = ::getrandom(bytes, count, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += got;
        count -= static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace zembra
