#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zembra {

// SHA-256 of a file as 64 lower-case hexadecimal digits; empty when the file cannot be read
// (or the system cannot make the digest).
std::string Sha256OfFile(const std::string& path);

// SHA-256 of bytes in memory.
std::string Sha256OfBytes(const std::uint8_t* bytes, std::size_t count);

}  // namespace zembra
