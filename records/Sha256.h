#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zembra {

struct FileVersion;

// SHA-256 of a regular file as 64 lower-case hexadecimal digits; empty when the file cannot
// be read. With expected, also empty unless the file read was that version from before the
// first byte to after the last (the digest is then that of the version's bytes).
std::string Sha256OfFile(const std::string& path, const FileVersion* expected = nullptr);

// SHA-256 of bytes in memory.
std::string Sha256OfBytes(const std::uint8_t* bytes, std::size_t count);

}  // namespace zembra
