#pragma once

#include <cstdint>

namespace zembra {

// The output rate in bit/s set on a terminal (for a pseudo-terminal master: the rate the
// tool set on the slave side), read through the kernel's arbitrary-rate interface so that
// rates without a classic constant (256,000) read correctly. 0 when it cannot be read.
std::uint32_t ReadLineRate(int fd);

}  // namespace zembra
