#pragma once

#include <cstddef>
#include <cstdint>

namespace zembra {

// Fills bytes with random bits from the system's generator (getrandom on Linux, the
// preferred CNG generator on Windows), good for identities that must never meet by chance.
// False when the system gave none (the bytes are then not to be used).
bool SystemRandomBytes(std::uint8_t* bytes, std::size_t count);

}  // namespace zembra
