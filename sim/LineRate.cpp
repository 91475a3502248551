#include "sim/LineRate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace zembra {

std::uint32_t ReadLineRate(int fd) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return 0;
    return t.c_ospeed;
}

}  // namespace zembra
